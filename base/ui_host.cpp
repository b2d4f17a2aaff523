// Host builds (tools, host tests) have no message box: the text goes to
// standard error as one line and a question is answered No.
#include <cstdio>

#include "base/ui.h"

namespace {
int Answer(unsigned buttons) { return (buttons & 0xF) == kMbYesNo ? kIdNo : kIdOk; }

int ShowWide(const char16_t*, const char16_t*, unsigned buttons) {
    std::fputs("message (UTF-16 text)\n", stderr);
    return Answer(buttons);
}
int ShowAnsi(const char* text, const char*, unsigned buttons) {
    std::fprintf(stderr, "%s\n", text);
    return Answer(buttons);
}
void Nothing() {}
void NoBar(int, int) {}
int NoTryIt() { return 1; }
}  // namespace

constexpr SetupUi kPlainUi = {ShowWide, ShowAnsi, Nothing, NoBar, Nothing, NoTryIt, kShowNormal};
SetupUi g_ui = kPlainUi;
