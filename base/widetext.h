// Setup's own narrow texts are GBK bytes. Handed to Windows as UTF-16 they
// read the same whatever the system's code page; the ANSI calls would show
// them through that code page, garbled anywhere but on Simplified Chinese
// Windows.
#pragma once
#include <windows.h>

// text as UTF-16 into out (cap characters; with cap 0 nothing is written):
// the characters with the NUL, 0 when it does not fit. A text that is not
// GBK, or a Windows without code page 936, takes the ANSI code page instead.
int WidenText(const char* text, wchar_t* out, int cap);

