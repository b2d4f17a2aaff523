#include <windows.h>

#include "app/msgbox.h"

namespace {
int ShowWide(const char16_t* text, const char16_t* caption, unsigned buttons) {
    return MessageBoxW(nullptr, reinterpret_cast<LPCWSTR>(text), reinterpret_cast<LPCWSTR>(caption), buttons);
}
int ShowAnsi(const char* text, const char* caption, unsigned buttons) {
    return MessageBoxA(nullptr, text, caption, buttons);
}
}  // namespace

MessageSeam g_messageSeam = {ShowWide, ShowAnsi};
