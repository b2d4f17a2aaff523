// The UTF-16 texts of the in-use check: one line per window of the input
// method, and the message that lists them. Every text stays inside the
// capacity it is given (in char16_t units, NUL included).
#pragma once
#include <cstddef>

// out = "　　<number>：<title>\r\n". 1 when it fits.
int FormatWindowLine(char16_t* out, size_t cap, int number, const char16_t* title);

// Appends a whole line to list, or nothing when the line does not fit, so the
// list always ends at a line end. 1 when appended.
int AppendWholeLine(char16_t* list, size_t cap, const char16_t* line);

// out = heading with count, the list, and the closing request. When the whole
// list does not fit, it is cut after the last line that does, and the closing
// request still follows. 1 when the whole list fitted; 0 when it was cut (or
// even the heading and closing request alone do not fit: out is then empty).
int BuildInUseMessage(char16_t* out, size_t cap, int count, const char16_t* list);
