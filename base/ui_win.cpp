#include <windows.h>

#include "base/context.h"
#include "base/ui.h"

namespace {
// While the wizard is open its boxes are owned by it: the wizard takes no
// clicks and cannot be closed until the box is answered.
HWND Owner() { return static_cast<HWND>(g_ctx.mainWindow); }

int ShowWide(const char16_t* text, const char16_t* caption, unsigned buttons) {
    return MessageBoxW(Owner(), reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), buttons);
}
int ShowAnsi(const char* text, const char* caption, unsigned buttons) {
    return MessageBoxA(Owner(), text, caption, buttons);
}
void Nothing() {}
void NoBar(int, int) {}
int NoTryIt() { return 1; }
}  // namespace

constexpr SetupUi kPlainUi = {ShowWide, ShowAnsi, Nothing, NoBar, Nothing, NoTryIt, kShowNormal};
SetupUi g_ui = kPlainUi;
