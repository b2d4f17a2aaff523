// The wizard window: its resources, the page number and the clicks on the
// two painted buttons that move the pages on.
#include <windows.h>

#include <cstring>

#include "app/context.h"
#include "app/entry.h"
#include "app/msgbox.h"
#include "app/pages.h"
#include "archive/backup.h"
#include "archive/report.h"
#include "ime/checks.h"
#include "install/locations.h"
#include "install/sequence.h"
#include "install/skins.h"
#include "settings/settings.h"

namespace {
const char16_t kCaption[] = u"智能墨筏";
const UINT_PTR kTryItTimer = 2;
const UINT kTryItDelayMs = 1600;

HWND Window() { return static_cast<HWND>(g_ctx.mainWindow); }
HWND TryItEdit() { return static_cast<HWND>(g_ctx.tryItEdit); }
HWND SiteEdit() { return static_cast<HWND>(g_ctx.siteEdit); }

void Invalidate() { InvalidateRect(Window(), nullptr, TRUE); }

void HideAndShow(HWND control) {
    ShowWindow(control, SW_HIDE);
    ShowWindow(control, SW_SHOW);
}

void OnCreate(HWND window) {
    g_ctx.mainWindow = window;
    if (g_ctx.oemCodePage == 950) SetWindowTextW(window, L"智能墨筏系統安裝");
    g_ctx.textFont = CreateFontA(22, 7, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "宋体");
    g_ctx.titleFont = CreateFontA(40, 20, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "楷体");
    g_ctx.redBrush = CreateSolidBrush(RGB(255, 0, 0));
    g_ctx.okButtonRect = {40, 245, 140, 270};
    g_ctx.exitButtonRect = {260, 245, 360, 270};
    g_ctx.siteRowRect = {30, 192, 365, 217};
    g_ctx.progressRect[0] = 30;
    g_ctx.progressRect[1] = 188;
    g_ctx.progressRect[2] = 340;
    g_ctx.progressRect[3] = 30;
    if (!LoadPayloadAndWorkBuffer()) return;
    g_ctx.userDataState = 0;
    if (BackupUserData() != 0) g_ctx.userDataState = 1;
    // The backup reads the earlier installation's directory: resolve afresh.
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    ResolveInstallDir();
}

void OnDestroy() {
    ReleasePayloadAndWorkBuffer();
    if (g_ctx.textFont != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_ctx.textFont));
    if (g_ctx.titleFont != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_ctx.titleFont));
    if (g_ctx.redBrush != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_ctx.redBrush));
    g_ctx.textFont = g_ctx.titleFont = g_ctx.redBrush = nullptr;
    PostQuitMessage(0);
}

void OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(window, &ps);
    TEXTMETRICA metrics;
    GetTextMetricsA(hdc, &metrics);
    PaintCurrentPage(hdc);
    EndPaint(window, &ps);
}

void EndRun() { PostMessageA(Window(), WM_DESTROY, 0, 0); }

// After the install (pages 8 and 9) the integrity report comes first.
void FinishAfterTryIt() {
    if (CheckInstallation() == 0) ShowClosingMessage();
    EndRun();
}

void ConfirmSitePages() {
    SiteUrl2()[0] = '\0';
    HDC hdc = GetDC(Window());
    PaintSitePage(hdc);
    ReleaseDC(Window(), hdc);
    HideAndShow(SiteEdit());
    if (g_ctx.currentPage == 0) FillSiteField();
    ResolveInstallDir();

    GetWindowTextA(SiteEdit(), SiteUrl2(), kSiteUrlSize);
    ++g_ctx.currentPage;
    if (g_ctx.currentPage > 1) {
        DestroyWindow(SiteEdit());
        g_ctx.siteEdit = nullptr;
        g_ctx.currentPage = 5;
        HideAndShow(TryItEdit());
        RefreshSystemDir();
        ResolveInstallDir();
        Invalidate();
        WriteSettingsFiles();
        g_ctx.currentPage = 6;
    }
    Invalidate();
}

void Install() {
    g_ctx.currentPage = 7;
    g_ctx.checkResult = CheckDefaultInputMethod();
    if (g_ctx.checkResult == 0) {
        EndRun();
        return;
    }
    g_ctx.checkResult = CheckImeWindowsInUse();
    if (g_ctx.checkResult > 0) {
        // Without a work buffer the windows are counted but no text is built.
        const char16_t* text = g_ctx.workBuffer != nullptr ? reinterpret_cast<const char16_t*>(g_ctx.workBuffer) : u"";
        ShowMessageW(text, kCaption);
        g_ctx.currentPage = 6;
        return;
    }
    g_ctx.checkResult = CheckImeSharedMemory();
    if (g_ctx.checkResult > 0) ShowMessageW(u"检测到内存中有智能墨筏数据没有退出，请安装后重新启动机器再使用！", kCaption);

    RunInstallSequence();
    InstallSkins();
    UpdateImeConfigRecord();
    WriteInstallStamp();
    if (g_ctx.userDataState == 2) RestoreUserData();

    if (DetectWow64()) {
        // 64-bit Windows: the try-it page follows after a moment.
        Invalidate();
        SetTimer(Window(), kTryItTimer, kTryItDelayMs, nullptr);
        return;
    }
    if (CheckInstallation() == 0) ShowClosingMessage();
    EndRun();
}

void OnOkButton() {
    int page = g_ctx.currentPage;
    if (page <= 4) {
        ConfirmSitePages();
    } else if (page == 5) {
        HideAndShow(TryItEdit());
        RefreshSystemDir();
        ResolveInstallDir();
        g_ctx.currentPage = 6;
    } else if (page == 6) {
        Install();
    } else if (page == 7) {
        Invalidate();
    } else if (page == 8) {
        g_ctx.currentPage = 9;
        Invalidate();
    } else {
        FinishAfterTryIt();
    }
}

void OnClick(LPARAM lParam) {
    unsigned x = LOWORD(lParam);
    unsigned y = HIWORD(lParam);
    if (PointInPageRect(g_ctx.exitButtonRect, x, y)) {
        if (g_ctx.currentPage == 8 || g_ctx.currentPage == 9)
            FinishAfterTryIt();
        else
            EndRun();
    } else if (PointInPageRect(g_ctx.okButtonRect, x, y)) {
        OnOkButton();
    }
}
}  // namespace

int PointInPageRect(const PageRect& rect, unsigned x, unsigned y) {
    return static_cast<int>(x) >= rect.left && static_cast<int>(x) <= rect.right && static_cast<int>(y) >= rect.top &&
                   static_cast<int>(y) <= rect.bottom
               ? 1
               : 0;
}

void ShowClosingMessage() {
    ShowMessageW(g_ctx.restartRequired == 1 ? u"安装完毕，请立即重新启动计算机！" : u"安装完毕，如不能使用，请重新启动计算机！",
                 kCaption);
}

ATOM RegisterSetupWindowClass(HINSTANCE instance) {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.style = 0;
    wc.lpfnWndProc = SetupWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "mofahu");
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = "install";  // no such menu resource: the window has none
    wc.lpszClassName = "installWClass";
    return RegisterClassA(&wc);
}

int CreateSetupWindow(HINSTANCE instance, int showCommand) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const wchar_t* title = DetectWow64() ? L"智能墨筏系统安装3264" : L"智能墨筏系统安装32";
    // Centred with a height of 300 although the window is 310 high.
    HWND window = CreateWindowExW(0, L"installWClass", title, WS_SYSMENU, (screenWidth - 400) / 2,
                                  (screenHeight - 300) / 2, 400, 310, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;
    g_ctx.mainWindow = window;
    g_ctx.tryItEdit = CreateWindowExA(0, "EDIT", " ", WS_CHILD | WS_SYSMENU, 120, 195, 230, 20, window, nullptr,
                                      instance, nullptr);
    g_ctx.siteEdit = CreateWindowExA(0, "EDIT", " ", WS_CHILD | WS_SYSMENU, 130, 195, 230, 20, window, nullptr,
                                     instance, nullptr);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_MOUSEMOVE:
            return 0;
        case WM_SETFOCUS:
            SetFocus(TryItEdit());
            return 0;
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_TIMER:
            KillTimer(window, kTryItTimer);
            g_ctx.currentPage = 8;
            SetWindowTextA(TryItEdit(), "");
            Invalidate();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            OnClick(lParam);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
