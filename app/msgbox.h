// The one seam through which every message box and question of setup goes.
// By default it shows a real message box (no owner window); tests replace the
// two functions with a recorder that keeps what was shown and answers from a
// script.
#pragma once

enum : unsigned { kMbOk = 0x0, kMbYesNo = 0x4 };
enum : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };

struct MessageSeam {
    // UTF-16 text and caption: the wide message box.
    int (*showW)(const char16_t* text, const char16_t* caption, unsigned buttons);
    // Text and caption in the ANSI code page (GBK bytes): the ANSI message box.
    int (*showA)(const char* text, const char* caption, unsigned buttons);
};

extern MessageSeam g_messageSeam;

inline int ShowMessageW(const char16_t* text, const char16_t* caption, unsigned buttons = kMbOk) {
    return g_messageSeam.showW(text, caption, buttons);
}
inline int ShowMessageA(const char* text, const char* caption, unsigned buttons = kMbOk) {
    return g_messageSeam.showA(text, caption, buttons);
}
