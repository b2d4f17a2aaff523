#include "ime/checks.h"

#include <windows.h>

#include <cstring>

#include "base/captions.h"
#include "base/context.h"
#include "base/machine.h"
#include "base/sysapi.h"
#include "base/ui.h"
#include "ime/layoutid.h"
#include "ime/preload.h"
#include "ime/winlist.h"

namespace {
const char16_t kOnlyInputMethod[] = u"　　你以前安装的智能墨筏为系统默认输入法，并且是系统安装的唯一输入法，请通过微软的输入法管理器增加英文输入法，并将智能墨筏输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的智能墨筏！";
const char16_t kDefaultInputMethod[] = u"　　你以前安装的智能墨筏为系统默认输入法，请设置为系统非默认输入法后，重新启动机器才能安装新版本的智能墨筏！";
const char16_t kAskNonDefault[] = u"是否设置智能墨筏为系统非默认输入法？";
const char16_t kRestartFirst[] = u"请重新启动机器后安装智能墨筏！";
const char16_t kActiveInputMethod[] = u"　　你以前安装的墨筏五笔为系统默认输入法，请通过微软的输入法管理器将墨筏五笔输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的墨筏五笔！";

// Byte offsets inside workBuffer: the message at its start, a scratch line,
// and the window list, which may use the rest of the buffer.
const size_t kMessageOffset = 0;
const size_t kScratchOffset = 0x40000;
const size_t kListOffset = 0x44200;
const int kMaxAncestors = 256;  // owner chains are short; this only stops a cycle

struct WindowScan {
    char16_t* list;
    size_t listCap;
    char16_t* scratch;
    size_t scratchCap;
    int count;
    bool listFull;  // once a line did not fit, later ones are left out too
};

BOOL CALLBACK CountImeWindow(HWND window, LPARAM param) {
    WindowScan* scan = reinterpret_cast<WindowScan*>(param);
    char className[100] = {0};
    if (GetClassNameA(window, className, sizeof className) == 0) return TRUE;
    if (std::strcmp(className, "UITYRK") != 0) return TRUE;
    ++scan->count;

    // A window of the input method's interface is owned by the program that
    // uses it; the line names that program's topmost window.
    HWND ancestor = GetParent(window);
    if (ancestor == nullptr || scan->list == nullptr || scan->listFull) return TRUE;
    for (int i = 0; i < kMaxAncestors; ++i) {
        HWND up = GetParent(ancestor);
        if (up == nullptr) break;
        ancestor = up;
    }
    wchar_t title[200] = {0};
    if (GetWindowTextW(ancestor, title, 200) <= 0) title[0] = 0;
    if (!FormatWindowLine(scan->scratch, scan->scratchCap, scan->count, reinterpret_cast<const char16_t*>(title)) ||
        !AppendWholeLine(scan->list, scan->listCap, scan->scratch))
        scan->listFull = true;
    return TRUE;
}
}  // namespace

int CheckDefaultInputMethod() {
    FindProductInPreload();
    if (g_ctx.productInPreload == kProductInPreload && g_ctx.productPreloadPosition == 1) {
        if (g_ctx.preloadCount < 2) {
            ShowMessageW(kOnlyInputMethod, kSetupCaptionW);
            return 0;
        }
        ShowMessageW(kDefaultInputMethod, kSetupCaptionW);
        if (DetectWow64()) return 0;
        if (ShowMessageW(kAskNonDefault, kSetupCaptionW, kMbYesNo) != kIdYes) {
            g_ctx.userDeclined = 1;
            return 0;
        }
        // The change the user agreed to stays: the run ends as the user's,
        // not as a failure whose undo would refuse the user again forever.
        SwapFirstPreloadEntries();
        g_ctx.userDeclined = 1;
        ShowMessageW(kRestartFirst, kSetupCaptionW);
        return 0;
    }

    // The input method active for this thread: its description names it.
    HKL layout = g_sys.getKeyboardLayout(0);
    char text[50] = {0};
    if (!GetKeyboardLayoutNameA(text)) text[0] = '\0';
    // A layout that is no input method has no description and never matches.
    if (g_sys.immGetDescriptionA(layout, text, sizeof text) == 0) return 1;
    text[sizeof text - 1] = '\0';
    // The input method reports its description in GBK under every code page.
    if (IsProductLayoutText(text, kSimplifiedCodePage)) {
        ShowMessageW(kActiveInputMethod, kSetupCaptionW);
        return 0;
    }
    return 1;
}

int CheckImeWindowsInUse() {
    WindowScan scan = {};
    unsigned char* buffer = g_ctx.workBuffer;
    if (buffer != nullptr) {
        scan.list = reinterpret_cast<char16_t*>(buffer + kListOffset);
        scan.listCap = (kWorkBufferSize - kListOffset) / sizeof(char16_t);
        scan.scratch = reinterpret_cast<char16_t*>(buffer + kScratchOffset);
        scan.scratchCap = (kListOffset - kScratchOffset) / sizeof(char16_t);
        scan.list[0] = 0;
    }
    // EnumWindows reports failure when the callback stops it, which ours
    // never does; whatever was counted stands.
    EnumWindows(CountImeWindow, reinterpret_cast<LPARAM>(&scan));
    if (scan.count > 0 && buffer != nullptr) {
        BuildInUseMessage(reinterpret_cast<char16_t*>(buffer + kMessageOffset),
                          (kScratchOffset - kMessageOffset) / sizeof(char16_t), scan.count, scan.list);
    }
    return scan.count;
}

int CheckImeSharedMemory() {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, "mofahutyrk");
    if (mapping == nullptr) return 0;
    CloseHandle(mapping);
    return 1;
}
