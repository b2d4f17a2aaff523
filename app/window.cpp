// The wizard window: its resources, the page number and the clicks on the
// two painted buttons that move the pages on. The install itself is the
// plan of install/plan.h, which reaches this window through the table of
// callbacks set up at creation.
#include <windows.h>

#include <cstring>

#include "app/entry.h"
#include "app/pages.h"
#include "app/skin_dialog.h"
#include "app/wizard.h"
#include "base/context.h"
#include "base/machine.h"
#include "base/ui.h"
#include "install/plan.h"
#include "settings/settings.h"

WizardWindow g_window;

namespace {
const UINT_PTR kTryItTimer = 2;
const UINT kTryItDelayMs = 1600;

// While the plan runs, clicks and keys on the wizard do nothing and it
// cannot be closed (the try-it page aside).
bool g_installing = false;
// Set when the user leaves the try-it page.
bool g_tryItLeft = false;
// The exit code of the run: until an install ends otherwise, the user ended
// it before installing (set so as the window is made).
int g_exitCode;

HWND Window() { return static_cast<HWND>(g_ctx.mainWindow); }
HWND TryItEdit() { return static_cast<HWND>(g_window.tryItEdit); }
HWND SiteEdit() { return static_cast<HWND>(g_window.siteEdit); }

void Invalidate() { InvalidateRect(Window(), nullptr, TRUE); }

void HideAndShow(HWND control) {
    ShowWindow(control, SW_HIDE);
    ShowWindow(control, SW_SHOW);
}

// ---- What the install plan shows through this window ----

void RepaintPage() {
    Invalidate();
    UpdateWindow(Window());
}

// Drops the queued messages of window (null: of every window of this
// thread) from first to last.
void DropQueued(HWND window, UINT first, UINT last) {
    MSG msg;
    while (PeekMessageA(&msg, window, first, last, PM_REMOVE)) {
    }
}

// 64-bit Windows: the try-it page 1.6 s after the install, until the user
// leaves it. Messages are handled here meanwhile; 0 when the run ended.
int TryIt() {
    // The install has run its course: leaving now ends the run with its code.
    g_exitCode = ExitCodeOf(kPlanDone);
    if (!DetectWow64()) return 1;
    // Clicks made while the install ran are not the page's.
    DropQueued(Window(), WM_LBUTTONDOWN, WM_MBUTTONDBLCLK);
    g_installing = false;
    g_tryItLeft = false;
    Invalidate();
    SetTimer(Window(), kTryItTimer, kTryItDelayMs, nullptr);
    if (HandleMessages(&g_tryItLeft) >= 0) return 0;
    // The plan goes on to its report: the wizard waits for it again.
    g_installing = true;
    return 1;
}

// The boxes the table held before the window's part went in (Windows', or a
// test's recorder).
int (*g_boxW)(const char16_t*, const char16_t*, unsigned);
int (*g_boxA)(const char*, const char*, unsigned);

// The plan runs on a thread of its own, so that the window repaints and
// answers throughout: one step may take seconds (a scanner holding a new
// file, the backup of a large dictionary, the flushes of the commit).
// What it shows with a window of its own is made on the window's thread, the
// plan waiting for it: boxes, the skin dialog, the try-it page. A repaint
// and the bar need not wait: Windows sends the paint to the window's thread,
// and the bar is drawn on a device context of the plan's own. While the plan
// runs, the window's thread only paints the progress page (which draws
// nothing out of the work buffer) and turns clicks and closing away.
const UINT kCallHere = WM_APP;       // lParam: the WindowCall to make
const UINT kPlanEnded = WM_APP + 1;  // wParam: the plan's outcome
HANDLE g_plan;

enum CallKind { kCallBoxW, kCallBoxA, kCallSkin, kCallTryIt };
struct WindowCall {
    CallKind kind;
    const void* text;
    const void* caption;
    unsigned buttons;
};

int MakeCall(const WindowCall& c) {
    if (c.kind == kCallSkin) {
        ChooseSkinByDialog();
        return 0;
    }
    if (c.kind == kCallTryIt) return TryIt();
    // Keys pressed before a box shows are not its answer: a key meant for one
    // box that is still queued would otherwise answer the next.
    DropQueued(nullptr, WM_KEYFIRST, WM_KEYLAST);
    return c.kind == kCallBoxW
               ? g_boxW(static_cast<const char16_t*>(c.text), static_cast<const char16_t*>(c.caption), c.buttons)
               : g_boxA(static_cast<const char*>(c.text), static_cast<const char*>(c.caption), c.buttons);
}

// Made on the window's thread (directly when that is this one); once the
// window has gone, here.
int OnWindowThread(CallKind kind, const void* text = nullptr, const void* caption = nullptr, unsigned buttons = 0) {
    WindowCall call = {kind, text, caption, buttons};
    HWND window = Window();
    return window != nullptr ? static_cast<int>(SendMessageA(window, kCallHere, 0, reinterpret_cast<LPARAM>(&call)))
                             : MakeCall(call);
}

int CallBoxW(const char16_t* text, const char16_t* caption, unsigned buttons) {
    return OnWindowThread(kCallBoxW, text, caption, buttons);
}
int CallBoxA(const char* text, const char* caption, unsigned buttons) {
    return OnWindowThread(kCallBoxA, text, caption, buttons);
}
void CallSkin() { OnWindowThread(kCallSkin); }
int CallTryIt() { return OnWindowThread(kCallTryIt); }

// The window's part of the table; messages keep the boxes (or a test's
// recorder) already in it, behind the window's own handling of keys.
void UseWindowUi() {
    if (g_ui.showW != CallBoxW) {
        g_boxW = g_ui.showW;
        g_boxA = g_ui.showA;
        g_ui.showW = CallBoxW;
        g_ui.showA = CallBoxA;
    }
    g_ui.repaint = RepaintPage;
    g_ui.progressBar = DrawProgressBar;
    g_ui.chooseSkin = CallSkin;
    g_ui.tryIt = CallTryIt;
}

// ---- The window's own messages ----

void OnCreate(HWND window) {
    g_ctx.mainWindow = window;
    g_exitCode = kExitUserEnded;
    UseWindowUi();
    if (g_ctx.oemCodePage == 950) SetWindowTextW(window, L"智能墨筏系統安裝");
    g_window.textFont = CreateFontA(22, 7, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "宋体");
    g_window.titleFont = CreateFontA(40, 20, 0, 0, 0, 0, 0, 0, 134, 0, 0, 0, 0, "楷体");
    g_window.redBrush = CreateSolidBrush(RGB(255, 0, 0));
    static const PageRect kRects[] = {{40, 245, 140, 270}, {260, 245, 360, 270}, {30, 192, 365, 217}};
    g_window.okButtonRect = kRects[0];
    g_window.exitButtonRect = kRects[1];
    g_window.siteRowRect = kRects[2];
    g_window.progressRect[0] = 30;
    g_window.progressRect[1] = 188;
    g_window.progressRect[2] = 340;
    g_window.progressRect[3] = 30;
    if (!LoadPayloadAndWorkBuffer()) return;
    // Resolved afresh here as before the install, whatever an earlier step
    // left in installDir.
    ResolveInstallDirAfresh();
}

void OnDestroy() {
    // Boxes shown after the window has gone have no owner.
    g_ctx.mainWindow = nullptr;
    ReleasePayloadAndWorkBuffer();
    if (g_window.textFont != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_window.textFont));
    if (g_window.titleFont != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_window.titleFont));
    if (g_window.redBrush != nullptr) DeleteObject(static_cast<HGDIOBJ>(g_window.redBrush));
    g_window.textFont = g_window.titleFont = g_window.redBrush = nullptr;
    PostQuitMessage(g_exitCode);
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

void ConfirmSitePages() {
    SiteUrl2()[0] = '\0';
    HDC hdc = GetDC(Window());
    PaintSitePage(hdc);
    ReleaseDC(Window(), hdc);
    HideAndShow(SiteEdit());
    SetFocus(SiteEdit());  // typing goes to the field without a click
    if (g_ctx.currentPage == kPageSplash) FillSiteField(SiteEdit());
    ResolveInstallDir();

    GetWindowTextA(SiteEdit(), SiteUrl2(), kSiteUrlSize);
    ++g_ctx.currentPage;
    if (g_ctx.currentPage > kPageSite) {
        DestroyWindow(SiteEdit());
        g_window.siteEdit = nullptr;
        SetFocus(Window());  // the keys stay with the wizard
        g_ctx.currentPage = kPageLeavingSite;
        HideAndShow(TryItEdit());
        RefreshSystemDir();
        ResolveInstallDir();
        Invalidate();
        WriteSettingsFiles();
        g_ctx.currentPage = kPageConfirm;
    }
    Invalidate();
}

void PlanEnded(PlanOutcome outcome) {
    WaitForInstall();
    g_installing = false;
    if (outcome == kPlanBackToConfirm) {
        // Nothing was installed: the user may close those programs and
        // confirm again.
        g_ctx.currentPage = kPageConfirm;
        return;
    }
    g_exitCode = ExitCodeOf(outcome);
    EndRun();
}

// The plan's thread types as the wizard's does: the checks ask which input
// method is active for it.
DWORD WINAPI RunPlan(void* layout) {
    ActivateKeyboardLayout(static_cast<HKL>(layout), 0);
    PostMessageA(Window(), kPlanEnded, RunInstallPlan(), 0);
    return 0;
}

// The confirm page's OK: the whole install, on the progress page.
void Install() {
    g_ctx.currentPage = kPageProgress;
    g_installing = true;
    g_plan = CreateThread(nullptr, 0, RunPlan, GetKeyboardLayout(0), 0, nullptr);
    // Where no thread can be made, on this one as the window waits.
    if (g_plan == nullptr) PlanEnded(RunInstallPlan());
}

void OnOkButton() {
    int page = g_ctx.currentPage;
    if (page <= kPageSiteLast) {
        ConfirmSitePages();
    } else if (page == kPageLeavingSite) {
        HideAndShow(TryItEdit());
        RefreshSystemDir();
        ResolveInstallDir();
        g_ctx.currentPage = kPageConfirm;
    } else if (page == kPageConfirm) {
        Install();
    } else if (page == kPageProgress) {
        Invalidate();
    } else if (page == kPageTryIt) {
        g_ctx.currentPage = kPageTryItTyped;
        Invalidate();
    } else {
        g_tryItLeft = true;
    }
}

void OnExitButton() {
    // After the install (pages 8 and 9) the plan goes on to its report.
    if (g_ctx.currentPage == kPageTryIt || g_ctx.currentPage == kPageTryItTyped)
        g_tryItLeft = true;
    else
        EndRun();
}

void OnClick(LPARAM lParam) {
    if (g_installing) return;
    unsigned x = LOWORD(lParam);
    unsigned y = HIWORD(lParam);
    if (PointInPageRect(g_window.exitButtonRect, x, y))
        OnExitButton();
    else if (PointInPageRect(g_window.okButtonRect, x, y))
        OnOkButton();
}
}  // namespace

void WaitForInstall() {
    if (g_plan == nullptr) return;
    WaitForSingleObject(g_plan, INFINITE);
    CloseHandle(g_plan);
    g_plan = nullptr;
}

int HandleMessages(const bool* done) {
    MSG msg;
    while (done == nullptr || !*done) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
            // The quit is for the loop outside this one too.
            if (done != nullptr) PostQuitMessage(static_cast<int>(msg.wParam));
            return static_cast<int>(msg.wParam);
        }
        if (TranslateWizardKey(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return -1;
}

int TranslateWizardKey(const MSG* msg) {
    if (msg->message != WM_KEYDOWN || (msg->wParam != VK_RETURN && msg->wParam != VK_ESCAPE)) return 0;
    HWND window = Window();
    if (window == nullptr || (msg->hwnd != window && !IsChild(window, msg->hwnd))) return 0;
    // While the plan runs the keys do nothing, as clicks do.
    if (g_installing) return 1;
    if (msg->wParam == VK_RETURN)
        OnOkButton();
    else
        OnExitButton();
    return 1;
}

int PointInPageRect(const PageRect& rect, unsigned x, unsigned y) {
    return static_cast<int>(x) >= rect.left && static_cast<int>(x) <= rect.right && static_cast<int>(y) >= rect.top &&
                   static_cast<int>(y) <= rect.bottom
               ? 1
               : 0;
}

// A window of the wide kind: its title reaches Windows as UTF-16 and reads
// the same whatever the system's code page.
ATOM RegisterSetupWindowClass(HINSTANCE instance) {
    WNDCLASSW wc;
    std::memset(&wc, 0, sizeof wc);
    wc.style = 0;
    wc.lpfnWndProc = SetupWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "mofahu");
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = L"install";  // no such menu resource: the window has none
    wc.lpszClassName = L"installWClass";
    return RegisterClassW(&wc);
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
    g_window.tryItEdit = CreateWindowExA(0, "EDIT", " ", WS_CHILD | WS_SYSMENU, 120, 195, 230, 20, window, nullptr,
                                      instance, nullptr);
    g_window.siteEdit = CreateWindowExA(0, "EDIT", " ", WS_CHILD | WS_SYSMENU, 130, 195, 230, 20, window, nullptr,
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
        case WM_CLOSE:
            // The close box and Alt+F4 wait while the plan runs: the payload
            // and the work buffer it uses go with the window.
            if (!g_installing) DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_MOUSEMOVE:
            return 0;
        case WM_SETFOCUS:
            // The field of the page: the site field while the site page shows.
            SetFocus(g_window.siteEdit != nullptr && g_ctx.currentPage >= kPageSite && g_ctx.currentPage <= kPageSiteLast ? SiteEdit()
                                                                                                   : TryItEdit());
            return 0;
        case WM_ERASEBKGND:
            // Every page paints the whole client area: erasing it first would
            // only show white until the page is painted over it.
            return 1;
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case kCallHere:
            return MakeCall(*reinterpret_cast<const WindowCall*>(lParam));
        case kPlanEnded:
            PlanEnded(static_cast<PlanOutcome>(wParam));
            return 0;
        case WM_TIMER:
            KillTimer(window, kTryItTimer);
            g_ctx.currentPage = kPageTryIt;
            SetWindowTextA(TryItEdit(), "");
            SetFocus(TryItEdit());
            Invalidate();
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            OnClick(lParam);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
