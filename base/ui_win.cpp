#include <windows.h>

#include "base/ui.h"

namespace {
int ShowWide(const char16_t* text, const char16_t* caption, unsigned buttons) {
    return MessageBoxW(nullptr, reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), buttons);
}
int ShowAnsi(const char* text, const char* caption, unsigned buttons) {
    return MessageBoxA(nullptr, text, caption, buttons);
}
void Nothing() {}
void NoBar(int, int) {}
int NoTryIt() { return 1; }
}  // namespace

constexpr SetupUi kPlainUi = {ShowWide, ShowAnsi, Nothing, NoBar, Nothing, NoTryIt, kShowNormal};
SetupUi g_ui = kPlainUi;
