#include "base/strbuf.h"

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

namespace {
// The text being formatted: it stops growing at the capacity, and says so.
struct Sink {
    char* dst;
    size_t cap;
    size_t at;
    bool overflow;
    void Put(char c) {
        if (at + 1 < cap)
            dst[at++] = c;
        else
            overflow = true;
    }
};

// An unsigned number in base 10 or 16, at least width digits (filled with
// '0' or blanks). The widest conversion is 'l': an unsigned long holds every
// value, and on Windows (32 bits) no 64-bit division routine is needed.
void PutNumber(Sink& out, unsigned long value, bool negative, unsigned base, bool upper, int width, bool zeros) {
    char digits[24];
    int n = 0;
    do {
        unsigned d = static_cast<unsigned>(value % base);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
        value /= base;
    } while (value != 0);
    int length = n + (negative ? 1 : 0);
    if (negative && zeros) out.Put('-');
    for (; length < width; ++length) out.Put(zeros ? '0' : ' ');
    if (negative && !zeros) out.Put('-');
    while (n > 0) out.Put(digits[--n]);
}
}  // namespace

// The conversions setup uses, and no more: %s %c %d %i %u %x %X %%, with an
// optional '0' flag, a width and the length 'l'. Anything else is refused.
int StrFormatV(char* dst, size_t cap, const char* fmt, va_list ap) {
    if (cap == 0) return 0;
    Sink out = {dst, cap, 0, false};
    bool bad = false;
    for (const char* f = fmt; *f != '\0' && !bad; ++f) {
        if (*f != '%') {
            out.Put(*f);
            continue;
        }
        ++f;
        bool zeros = *f == '0';
        int width = 0;
        while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
        bool isLong = *f == 'l';
        if (isLong) ++f;
        switch (*f) {
            case '%':
                out.Put('%');
                break;
            case 'c':
                out.Put(static_cast<char>(va_arg(ap, int)));
                break;
            case 's': {
                const char* text = va_arg(ap, const char*);
                if (text == nullptr) text = "(null)";
                size_t length = std::strlen(text);
                for (size_t pad = length; pad < static_cast<size_t>(width); ++pad) out.Put(' ');
                while (*text != '\0') out.Put(*text++);
                break;
            }
            case 'd':
            case 'i': {
                long v = isLong ? va_arg(ap, long) : va_arg(ap, int);
                unsigned long magnitude = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
                PutNumber(out, magnitude, v < 0, 10, false, width, zeros);
                break;
            }
            case 'u':
            case 'x':
            case 'X': {
                unsigned long v = isLong ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
                PutNumber(out, v, false, *f == 'u' ? 10 : 16, *f == 'X', width, zeros);
                break;
            }
            default:
                bad = true;
        }
    }
    if (bad || out.overflow) {
        dst[0] = '\0';
        return 0;
    }
    dst[out.at] = '\0';
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
