#include "base/strbuf.h"

#include <cstdio>
#include <cstring>

size_t StrLenBounded(const char* s, size_t cap) {
    size_t n = 0;
    while (n < cap && s[n] != '\0') ++n;
    return n;
}

int StrCopy(char* dst, size_t cap, const char* src) {
    if (cap == 0) return 0;
    size_t n = StrLenBounded(src, cap);
    if (n >= cap) return 0;
    std::memmove(dst, src, n + 1);
    return 1;
}

int StrAppend(char* dst, size_t cap, const char* src) {
    size_t have = StrLenBounded(dst, cap);
    if (have >= cap) return 0;
    size_t add = StrLenBounded(src, cap);
    if (have + add >= cap) return 0;
    std::memmove(dst + have, src, add + 1);
    return 1;
}

int StrFormatV(char* dst, size_t cap, const char* fmt, va_list ap) {
    if (cap == 0) return 0;
    int n = std::vsnprintf(dst, cap, fmt, ap);
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        dst[0] = '\0';
        return 0;
    }
    return 1;
}

int StrFormat(char* dst, size_t cap, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int ok = StrFormatV(dst, cap, fmt, ap);
    va_end(ap);
    return ok;
}

void StrCopyCut(char* dst, size_t cap, const char* src) {
    if (cap == 0) return;
    size_t n = StrLenBounded(src, cap - 1);
    std::memmove(dst, src, n);
    dst[n] = '\0';
}

size_t U16Len(const char16_t* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

int U16Copy(char16_t* dst, size_t cap, const char16_t* src) {
    size_t n = U16Len(src);
    if (n >= cap) return 0;
    std::memmove(dst, src, (n + 1) * sizeof(char16_t));
    return 1;
}

int U16Append(char16_t* dst, size_t cap, const char16_t* src) {
    size_t have = 0;
    while (have < cap && dst[have] != 0) ++have;
    size_t add = U16Len(src);
    if (have >= cap || have + add >= cap) return 0;
    std::memmove(dst + have, src, (add + 1) * sizeof(char16_t));
    return 1;
}
