#include "base/widetext.h"

int WidenText(const char* text, wchar_t* out, int cap) {
    int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text, -1, out, cap);
    return n > 0 ? n : MultiByteToWideChar(CP_ACP, 0, text, -1, out, cap);
}
