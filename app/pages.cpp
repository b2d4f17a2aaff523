// The page painters. Every painter repaints its whole page, background
// included, on each call.
#include "app/pages.h"

#include <cstdio>
#include <cstring>

#include "app/context.h"
#include "app/strbuf.h"

namespace {
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kGrey = RGB(128, 128, 128);
const COLORREF kCaptionColour = RGB(255, 128, 128);
const COLORREF kVersionColour = RGB(0, 0, 192);
const COLORREF kEditionColour = RGB(33, 205, 173);
const COLORREF kHighlight = RGB(255, 187, 187);

HWND Window() { return static_cast<HWND>(g_ctx.mainWindow); }

void TextW(HDC hdc, int x, int y, const wchar_t* text) { TextOutW(hdc, x, y, text, static_cast<int>(wcslen(text))); }
void TextA(HDC hdc, int x, int y, const char* text) { TextOutA(hdc, x, y, text, static_cast<int>(strlen(text))); }

void SelectFont(HDC hdc, void* font) {
    if (font != nullptr) SelectObject(hdc, static_cast<HGDIOBJ>(font));
}

// 310 rows, one pen per row.
void PaintBackground(HDC hdc, bool splash) {
    for (int y = 0; y < 310; ++y) {
        COLORREF colour = splash ? RGB(0, (2 * y - 112) & 0xFF, 250 - (140 * y) / 310)
                                 : RGB((150 * y) / 310, (255 * y) / 310, 250 - (150 * y) / 310);
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ old = SelectObject(hdc, pen);
        MoveToEx(hdc, 0, y, nullptr);
        LineTo(hdc, 400, y);
        SelectObject(hdc, old);
        DeleteObject(pen);
    }
}

void ExtrudedW(HDC hdc, int x, int y, const wchar_t* text) {
    SetTextColor(hdc, kBlack);
    TextW(hdc, x, y, text);
    SetTextColor(hdc, kGrey);
    TextW(hdc, x + 8, y + 8, text);
    TextW(hdc, x + 9, y + 9, text);
    TextW(hdc, x + 10, y + 10, text);
    SetTextColor(hdc, kWhite);
    TextW(hdc, x + 11, y + 11, text);
}

void ExtrudedA(HDC hdc, int x, int y, const char* text) {
    SetTextColor(hdc, kBlack);
    TextA(hdc, x, y, text);
    SetTextColor(hdc, kGrey);
    TextA(hdc, x + 8, y + 8, text);
    TextA(hdc, x + 9, y + 9, text);
    TextA(hdc, x + 10, y + 10, text);
    SetTextColor(hdc, kWhite);
    TextA(hdc, x + 11, y + 11, text);
}

void Frame(HDC hdc, const PageRect& r);

void Button(HDC hdc, const PageRect& r, const wchar_t* caption) {
    Frame(hdc, r);
    SetTextColor(hdc, kCaptionColour);
    TextW(hdc, r.left + 5, r.top + 2, caption);
}

void Buttons(HDC hdc, const wchar_t* okCaption) {
    Button(hdc, g_ctx.okButtonRect, okCaption);
    Button(hdc, g_ctx.exitButtonRect, L"放 弃 退 出");
}

void Frame(HDC hdc, const PageRect& r) {
    SelectObject(hdc, GetStockObject(BLACK_PEN));
    MoveToEx(hdc, r.left, r.bottom, nullptr);
    LineTo(hdc, r.right, r.bottom);
    LineTo(hdc, r.right, r.top);
    SelectObject(hdc, GetStockObject(WHITE_PEN));
    MoveToEx(hdc, r.right, r.top, nullptr);
    LineTo(hdc, r.left, r.top);
    LineTo(hdc, r.left, r.bottom);
}

void SavedThenTextFont(HDC hdc) {
    SelectFont(hdc, g_ctx.savedFont);
    SelectFont(hdc, g_ctx.textFont);
}
}  // namespace

void PaintSplashPage(HDC hdc) {
    DWORD n = GetCurrentDirectoryA(sizeof g_ctx.currentDirectory, g_ctx.currentDirectory);
    if (n == 0 || n >= sizeof g_ctx.currentDirectory) g_ctx.currentDirectory[0] = '\0';
    if (std::strlen(g_ctx.currentDirectory) == 3) g_ctx.currentDirectory[2] = '\0';  // "X:\" -> "X:"
    g_ctx.oemCodePage = static_cast<int32_t>(GetOEMCP());

    PaintBackground(hdc, true);
    TextW(hdc, 50, 150, L"安装程序正在载入文件，请等待……");
    SetBkMode(hdc, TRANSPARENT);
    HGDIOBJ previous = SelectObject(hdc, static_cast<HGDIOBJ>(g_ctx.textFont));
    if (g_ctx.textFont != nullptr) g_ctx.savedFont = previous;
    SetTextColor(hdc, kWhite);
    TextW(hdc, 10, 165, L"您尝试过墨筏语句提示输入吗？");
    TextW(hdc, 50, 195, L"墨筏语句将给你带来新的输入体验……");
    SetTextColor(hdc, kVersionColour);
    TextW(hdc, 220, 100, L"7.9 版");
    SetTextColor(hdc, kBlack);
    Buttons(hdc, L"确 定 安 装");
}

void PaintSitePage(HDC hdc) {
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_ctx.textFont);
    TextW(hdc, 30, 10, L"智能墨筏输入平台  系统安装");
    SetTextColor(hdc, kWhite);
    TextW(hdc, 39, 19, L"智能墨筏输入平台  系统安装");
    SetTextColor(hdc, kEditionColour);
    TextW(hdc, 250, 19, L"墨筏五笔专版");
    SetTextColor(hdc, kWhite);
    TextW(hdc, 20, 70, L"请输入你所在单位网站或你所在地政府网站的网址，");
    TextW(hdc, 20, 90, L"智能墨筏就可每天自动从所输入网站上下载相关文章，");
    TextW(hdc, 20, 110, L"组建或增加系统文章库，以方便你的快速输入。");
    Frame(hdc, g_ctx.okButtonRect);
    Frame(hdc, g_ctx.exitButtonRect);
    Frame(hdc, g_ctx.siteRowRect);
    SetTextColor(hdc, kWhite);
    TextW(hdc, 35, 196, L"所在单位网址：");
    Buttons(hdc, L"确 定 安 装");
}

void PaintConfirmPage(HDC hdc) {
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_ctx.titleFont);
    ExtrudedW(hdc, 30, 20, L"智能墨筏输入平台");
    SelectFont(hdc, g_ctx.textFont);
    ExtrudedW(hdc, 100, 80, L"墨筏五笔 7.9 版  系统安装");
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
    TextW(hdc, 50, 130, L"本版本适用于：WINDOWS NT、WIN2000、");
    TextW(hdc, 30, 155, L"WINDOWS XP、VISTA及WIN7中文系统。");
    Frame(hdc, g_ctx.okButtonRect);
    Frame(hdc, g_ctx.exitButtonRect);
    Frame(hdc, g_ctx.siteRowRect);
    ShowWindow(static_cast<HWND>(g_ctx.tryItEdit), SW_HIDE);
    char line[256];
    StrFormat(line, sizeof line, "安装路径：%s", g_ctx.installDir);
    SetTextColor(hdc, kWhite);
    TextA(hdc, 35, 196, line);
    Buttons(hdc, L"确 定 安 装");
}

void PaintProgressPage(HDC hdc) {
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_ctx.titleFont);
    ExtrudedA(hdc, 30, 20, "智能墨筏7.9版安装");
    SelectFont(hdc, g_ctx.textFont);
    const char* busy = "智能墨筏正在处理有关数据……";
    SetTextColor(hdc, kBlack);
    TextA(hdc, 80, 80, busy);
    SetTextColor(hdc, kGrey);
    TextA(hdc, 88, 88, busy);
    TextA(hdc, 89, 89, busy);
    TextA(hdc, 90, 90, busy);
    SetTextColor(hdc, kHighlight);
    TextA(hdc, 91, 91, busy);
    TextA(hdc, 92, 91, busy);
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
}

int PaintTryItPage(HDC hdc) {
    ShowWindow(static_cast<HWND>(g_ctx.tryItEdit), SW_SHOW);
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_ctx.titleFont);
    ExtrudedA(hdc, 30, 20, "欢迎使用墨筏系统");
    SelectFont(hdc, g_ctx.textFont);
    const char* welcome = "欢迎使用墨筏输入系统";
    SetTextColor(hdc, kGrey);
    TextA(hdc, 88, 88, welcome);
    TextA(hdc, 89, 89, welcome);
    TextA(hdc, 90, 90, welcome);
    SetTextColor(hdc, kHighlight);
    TextA(hdc, 91, 91, welcome);
    TextA(hdc, 92, 91, welcome);
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
    TextA(hdc, 50, 130, "智能墨筏已经安装在你的系统中!");
    TextA(hdc, 50, 155, "请在下面的框中试着用墨筏系统输入你的姓名。");
    TextA(hdc, 10, 190, "请输入你的姓名：");
    Buttons(hdc, L"确 定 退 出");
    return 0;
}

void RepaintConfirmPage() {
    HDC hdc = GetDC(Window());
    PaintConfirmPage(hdc);
    ReleaseDC(Window(), hdc);
}

void DrawProgressBar(int done, int total) {
    if (IsSilentRun()) return;
    HDC hdc = GetDC(Window());
    int x = g_ctx.progressRect[0];
    int length = g_ctx.progressRect[2];
    int fill = total == 0 ? 0 : (total < done ? length : done * length / total);
    if (done >= 1) {
        HGDIOBJ old = SelectObject(hdc, static_cast<HGDIOBJ>(g_ctx.redBrush));
        Rectangle(hdc, x, 191, x + fill, 218);
        SelectObject(hdc, old);
    } else {
        HGDIOBJ old = SelectObject(hdc, GetStockObject(WHITE_BRUSH));
        Rectangle(hdc, x, 191, x + length, 218);
        SelectObject(hdc, old);
    }
    ReleaseDC(Window(), hdc);
}
