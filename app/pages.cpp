// The page painters. Every painter repaints its whole page, background
// included, on each call. Texts kept as GBK bytes are drawn with TextOutA,
// the others with TextOutW.
#include "app/pages.h"

#include <cstdint>
#include <cstring>

#include <imm.h>

#include "app/payload_bitmap.h"
#include "app/wizard.h"
#include "base/context.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
const int kPageWidth = 400;
const int kPageHeight = 310;

const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kGrey = RGB(128, 128, 128);
const COLORREF kCaptionColour = RGB(255, 128, 128);
const COLORREF kVersionColour = RGB(0, 0, 192);
const COLORREF kEditionColour = RGB(33, 205, 173);
const COLORREF kHighlight = RGB(255, 187, 187);

// The description the product's input method registers, as GBK bytes.
const char kProductDescription[] = "智能墨筏输入平台";
const size_t kDescriptionCompared = 16;
static_assert(sizeof kProductDescription == kDescriptionCompared + 1, "the description is 16 GBK bytes");

HWND Window() { return static_cast<HWND>(g_ctx.mainWindow); }
HWND TryItEdit() { return static_cast<HWND>(g_window.tryItEdit); }

void TextW(HDC hdc, int x, int y, const wchar_t* text) { TextOutW(hdc, x, y, text, static_cast<int>(wcslen(text))); }
void TextA(HDC hdc, int x, int y, const char* text) { TextOutA(hdc, x, y, text, static_cast<int>(std::strlen(text))); }

void SelectFont(HDC hdc, void* font) {
    if (font != nullptr) SelectObject(hdc, static_cast<HGDIOBJ>(font));
}

// The font the splash page found in its paint context, then the text font.
void SavedThenTextFont(HDC hdc) {
    SelectFont(hdc, g_window.savedFont);
    SelectFont(hdc, g_window.textFont);
}

// 310 rows, one pen per row, integer division throughout. The splash green
// wraps around: 144 at row 0, 254 at row 55, 0 at row 56.
void PaintBackground(HDC hdc, bool splash) {
    for (int y = 0; y < kPageHeight; ++y) {
        COLORREF colour = splash ? RGB(0, (2 * y - 112) & 0xFF, 250 - (140 * y) / 310)
                                 : RGB((150 * y) / 310, (255 * y) / 310, 250 - (150 * y) / 310);
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        if (pen == nullptr) continue;
        HGDIOBJ old = SelectObject(hdc, pen);
        MoveToEx(hdc, 0, y, nullptr);
        LineTo(hdc, kPageWidth, y);
        if (old != nullptr) SelectObject(hdc, old);
        DeleteObject(pen);
    }
}

// Text at (x, y) in the current colour, UTF-16 or ANSI.
typedef void (*TextAt)(HDC, int, int, const void*);
void WideAt(HDC hdc, int x, int y, const void* text) { TextW(hdc, x, y, static_cast<const wchar_t*>(text)); }
void AnsiAt(HDC hdc, int x, int y, const void* text) { TextA(hdc, x, y, static_cast<const char*>(text)); }

// Black at (x, y), grey one step 8, 9 and 10 pixels down and right, white at 11.
void Extruded(HDC hdc, int x, int y, const void* text, TextAt draw) {
    SetTextColor(hdc, kBlack);
    draw(hdc, x, y, text);
    SetTextColor(hdc, kGrey);
    for (int step = 8; step <= 10; ++step) draw(hdc, x + step, y + step, text);
    SetTextColor(hdc, kWhite);
    draw(hdc, x + 11, y + 11, text);
}
void ExtrudedW(HDC hdc, int x, int y, const wchar_t* text) { Extruded(hdc, x, y, text, WideAt); }
void ExtrudedA(HDC hdc, int x, int y, const char* text) { Extruded(hdc, x, y, text, AnsiAt); }

// The shadowed line of the progress and try-it pages: grey at 88-90, then the
// highlight twice, one pixel apart, for a bolder face.
void ShadowedA(HDC hdc, const char* text) {
    SetTextColor(hdc, kGrey);
    for (int step = 88; step <= 90; ++step) TextA(hdc, step, step, text);
    SetTextColor(hdc, kHighlight);
    TextA(hdc, 91, 91, text);
    TextA(hdc, 92, 91, text);
}

void Frame(HDC hdc, const PageRect& r) { DrawRaisedFrame(hdc, r.left, r.top, r.right, r.bottom); }

void Button(HDC hdc, const PageRect& r, const wchar_t* caption) {
    Frame(hdc, r);
    SetTextColor(hdc, kCaptionColour);
    TextW(hdc, r.left + 5, r.top + 2, caption);
}

void Buttons(HDC hdc, const wchar_t* okCaption) {
    Button(hdc, g_window.okButtonRect, okCaption);
    Button(hdc, g_window.exitButtonRect, L"放 弃 退 出");
}

// The first 16 bytes of the layout's description are the product's.
bool IsProductLayout(HKL layout, UINT bufferSize) {
    char description[80];
    std::memset(description, 0, sizeof description);
    if (bufferSize > sizeof description) bufferSize = sizeof description;
    if (g_sys.immGetDescriptionA(layout, description, bufferSize) == 0) return false;
    return std::memcmp(description, kProductDescription, kDescriptionCompared) == 0;
}

void PaintPage(HDC hdc) {
    int page = g_ctx.currentPage;
    if (page == kPageSplash)
        PaintSplashPage(hdc);
    else if (page <= kPageSiteLast)
        PaintSitePage(hdc);
    else if (page <= kPageConfirm)
        PaintConfirmPage(hdc);
    else if (page == kPageProgress)
        PaintProgressPage(hdc);
    else
        PaintTryItPage(hdc);
}

// Runs paint on an off-screen copy of hdc and copies the whole page across
// at once; paints directly when no off-screen bitmap is available.
void PaintOffScreen(HDC hdc, void (*paint)(HDC)) {
    HDC memory = CreateCompatibleDC(hdc);
    HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(hdc, kPageWidth, kPageHeight) : nullptr;
    HGDIOBJ old = bitmap != nullptr ? SelectObject(memory, bitmap) : nullptr;
    if (old == nullptr) {
        paint(hdc);
    } else {
        paint(memory);
        if (!BitBlt(hdc, 0, 0, kPageWidth, kPageHeight, memory, 0, 0, SRCCOPY)) paint(hdc);
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
}
}  // namespace

void DrawRaisedFrame(HDC hdc, int left, int top, int right, int bottom) {
    SelectObject(hdc, GetStockObject(BLACK_PEN));
    MoveToEx(hdc, left, bottom, nullptr);
    LineTo(hdc, right, bottom);
    LineTo(hdc, right, top);
    SelectObject(hdc, GetStockObject(WHITE_PEN));
    MoveToEx(hdc, right, top, nullptr);
    LineTo(hdc, left, top);
    LineTo(hdc, left, bottom);
}

void PaintSplashPage(HDC hdc) {
    DWORD n = GetCurrentDirectoryA(sizeof g_window.currentDirectory, g_window.currentDirectory);
    if (n == 0 || n >= sizeof g_window.currentDirectory) g_window.currentDirectory[0] = '\0';
    if (std::strlen(g_window.currentDirectory) == 3) g_window.currentDirectory[2] = '\0';  // "X:\" -> "X:"
    g_ctx.oemCodePage = static_cast<int32_t>(GetOEMCP());

    PaintBackground(hdc, true);
    // Default font and colours, opaque: the picture covers it once drawn.
    TextW(hdc, 50, 150, L"安装程序正在载入文件，请等待……");
    SetBkMode(hdc, TRANSPARENT);
    DrawPayloadBitmap(400, 190, hdc, "tyrk1.bmp", 0, 0, 400, 190, 0, 0, 400, 190);

    HGDIOBJ previous = g_window.textFont != nullptr ? SelectObject(hdc, static_cast<HGDIOBJ>(g_window.textFont)) : nullptr;
    if (previous != nullptr) g_window.savedFont = previous;
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
    SelectFont(hdc, g_window.textFont);
    TextW(hdc, 30, 10, L"智能墨筏输入平台  系统安装");
    SetTextColor(hdc, kWhite);
    TextW(hdc, 39, 19, L"智能墨筏输入平台  系统安装");
    SetTextColor(hdc, kEditionColour);
    TextW(hdc, 250, 19, L"墨筏五笔专版");
    SetTextColor(hdc, kWhite);
    TextW(hdc, 20, 70, L"请输入你所在单位网站或你所在地政府网站的网址，");
    TextW(hdc, 20, 90, L"智能墨筏就可每天自动从所输入网站上下载相关文章，");
    TextW(hdc, 20, 110, L"组建或增加系统文章库，以方便你的快速输入。");
    Frame(hdc, g_window.okButtonRect);
    Frame(hdc, g_window.exitButtonRect);
    Frame(hdc, g_window.siteRowRect);
    SetTextColor(hdc, kWhite);
    TextW(hdc, 35, 196, L"所在单位网址：");
    Buttons(hdc, L"确 定 安 装");
}

void PaintConfirmPage(HDC hdc) {
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_window.titleFont);
    ExtrudedW(hdc, 30, 20, L"智能墨筏输入平台");
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_window.textFont);
    ExtrudedW(hdc, 100, 80, L"墨筏五笔 7.9 版  系统安装");
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
    TextW(hdc, 50, 130, L"本版本适用于：WINDOWS NT、WIN2000、");
    TextW(hdc, 30, 155, L"WINDOWS XP、VISTA及WIN7中文系统。");
    Frame(hdc, g_window.okButtonRect);
    Frame(hdc, g_window.exitButtonRect);
    Frame(hdc, g_window.siteRowRect);
    if (TryItEdit() != nullptr) ShowWindow(TryItEdit(), SW_HIDE);
    // "安装路径：" (10 bytes) and installDir (under 200) always fit.
    char line[16 + sizeof g_ctx.installDir];
    StrFormat(line, sizeof line, "安装路径：%s", g_ctx.installDir);
    SetTextColor(hdc, kWhite);
    TextA(hdc, 35, 196, line);
    Buttons(hdc, L"确 定 安 装");
}

void PaintProgressPage(HDC hdc) {
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_window.titleFont);
    ExtrudedA(hdc, 30, 20, "智能墨筏7.9版安装");
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_window.textFont);
    const char busy[] = "智能墨筏正在处理有关数据……";
    TextA(hdc, 80, 80, busy);
    ShadowedA(hdc, busy);
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
}

int PaintTryItPage(HDC hdc) {
    if (TryItEdit() != nullptr) ShowWindow(TryItEdit(), SW_SHOW);
    PaintBackground(hdc, false);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, kBlack);
    SelectFont(hdc, g_window.titleFont);
    ExtrudedA(hdc, 30, 20, "欢迎使用墨筏系统");
    SelectFont(hdc, g_window.textFont);
    ShadowedA(hdc, "欢迎使用墨筏输入系统");  // no black copy on this page
    SavedThenTextFont(hdc);
    SetTextColor(hdc, kWhite);
    TextA(hdc, 50, 130, "智能墨筏已经安装在你的系统中!");
    TextA(hdc, 50, 155, "请在下面的框中试着用墨筏系统输入你的姓名。");
    TextA(hdc, 10, 190, "请输入你的姓名：");
    Buttons(hdc, L"确 定 退 出");
    return ActivateProductIme();
}

void PaintCurrentPage(HDC hdc) { PaintOffScreen(hdc, PaintPage); }

void DrawProgressBarOn(HDC hdc, int done, int total) {
    int x = g_window.progressRect[0];
    int length = g_window.progressRect[2];
    if (done >= 1) {
        // The share done, cut as integer division cuts it. The product is
        // taken in doubles, where a large done cannot overflow and, with a
        // bar far shorter than 2^22 pixels, is exact: no 64-bit division
        // routine is needed.
        int fill = total == 0 ? 0
                   : total < done ? length
                                  : static_cast<int>(static_cast<double>(done) * length / total);
        HGDIOBJ old = SelectObject(hdc, static_cast<HGDIOBJ>(g_window.redBrush));
        Rectangle(hdc, x, 191, x + fill, 218);
        if (old != nullptr) SelectObject(hdc, old);
    } else {
        HGDIOBJ old = SelectObject(hdc, GetStockObject(WHITE_BRUSH));
        Rectangle(hdc, x, 191, x + length, 218);
        if (old != nullptr) SelectObject(hdc, old);
    }
}

void DrawProgressBar(int done, int total) {
    if (IsSilentRun()) return;
    HDC hdc = GetDC(Window());
    if (hdc == nullptr) return;
    DrawProgressBarOn(hdc, done, total);
    ReleaseDC(Window(), hdc);
}

void DrawPayloadBitmap(int maxRight, int maxBottom, HDC hdc, const char* name, int xDest, int yDest, int wDest,
                       int hDest, int xSrc, int ySrc, int wSrc, int hSrc) {
    // Only the bytes uncompress produced are looked at: a header, colour
    // table or pixel rows beyond them mean no picture.
    uint32_t produced = LoadPayloadEntry(name);
    if (produced == 0) return;
    const unsigned char* file = g_ctx.workBuffer + kPayloadEntryOffset;
    BitmapFileLayout layout;
    if (!CheckBitmapFile(file, produced, &layout)) return;
    BitmapClip c = ClipPayloadBitmap(maxRight, maxBottom, static_cast<int>(layout.width),
                                     static_cast<int>(layout.height), xDest, yDest, wDest, hDest, xSrc, ySrc, wSrc,
                                     hSrc);
    if (c.dw <= 0 || c.dh <= 0) return;  // the destination lies beyond the clipping edge

    const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(file + layout.infoOffset);
    HBITMAP bitmap = CreateDIBitmap(hdc, &info->bmiHeader, CBM_INIT, file + layout.pixelOffset, info, DIB_RGB_COLORS);
    if (bitmap == nullptr) return;
    HDC memory = CreateCompatibleDC(hdc);
    if (memory != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (old != nullptr) {
            StretchBlt(hdc, c.dx, c.dy, c.dw, c.dh, memory, c.sx, c.sy, c.sw, c.sh, SRCCOPY);
            SelectObject(memory, old);
        }
        DeleteDC(memory);
    }
    DeleteObject(bitmap);
}

namespace {
// The field's input method is opened (its Chinese input on), so that the
// user types a name with it at once; this also has the input-method manager
// load the module for the field's input context now.
void OpenFieldInputMethod() {
    HWND field = TryItEdit();
    HIMC context = field != nullptr ? ImmGetContext(field) : nullptr;
    if (context == nullptr) return;
    ImmSetOpenStatus(context, TRUE);
    ImmReleaseContext(field, context);
}
}  // namespace

int ActivateProductIme() {
    if (g_ctx.currentPage < kPageProgress) return 0;
    HKL current = g_sys.getKeyboardLayout(0);
    if (current != nullptr && IsProductLayout(current, 50)) return 0;
    if (g_ctx.imeLayoutHandle == nullptr) {
        HKL layouts[50];
        int count = g_sys.getKeyboardLayoutList(50, layouts);
        if (count > 50) count = 50;
        for (int i = 0; i < count; ++i) {
            if (IsProductLayout(layouts[i], 80)) {
                g_ctx.imeLayoutHandle = layouts[i];
                break;
            }
        }
    }
    // Windows 9x knows no activation for the whole process (nor does wine):
    // then for the wizard's one thread, the thread of the field.
    HKL layout = static_cast<HKL>(g_ctx.imeLayoutHandle);
    if (layout == nullptr) return 1;
    if (g_sys.activateKeyboardLayout(layout, KLF_SETFORPROCESS) == nullptr) g_sys.activateKeyboardLayout(layout, 0);
    OpenFieldInputMethod();
    return 1;
}
