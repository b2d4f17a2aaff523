#include <windows.h>

#include "base/context.h"
#include "base/ui.h"
#include "base/widetext.h"

namespace {
// While the wizard is open its boxes are owned by it: the wizard takes no
// clicks and cannot be closed until the box is answered.
HWND Owner() { return static_cast<HWND>(g_ctx.mainWindow); }

int ShowWide(const char16_t* text, const char16_t* caption, unsigned buttons) {
    return MessageBoxW(Owner(), reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), buttons);
}
// The GBK texts as UTF-16 on the NT family; Windows 95, 98 and Me take
// them as they are, and so does a text too long for the buffer.
int ShowAnsi(const char* text, const char* caption, unsigned buttons) {
    static wchar_t wide[4096], wideCaption[64];
    return !(GetVersion() & 0x80000000u) && WidenText(text, wide, 4096) > 0 && WidenText(caption, wideCaption, 64) > 0
               ? MessageBoxW(Owner(), wide, wideCaption, buttons)
               : MessageBoxA(Owner(), text, caption, buttons);
}
void Nothing() {}
void NoBar(int, int) {}
int NoTryIt() { return 1; }
}  // namespace

constexpr SetupUi kPlainUi = {ShowWide, ShowAnsi, Nothing, NoBar, Nothing, NoTryIt, kShowNormal};

SetupUi g_ui;

namespace {
// Set as the program starts, not as initialised data: the program then
// carries no data section of its own.
struct PlainUi {
    PlainUi() { g_ui = kPlainUi; }
} g_plainUi;
}  // namespace
