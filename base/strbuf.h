// Bounded text helpers for the fixed buffers of SetupContext. Nothing here
// ever writes past the capacity it is given: a text that does not fit is
// refused (the helpers return 0 and leave the buffer as documented) rather
// than cut, unless the name says Cut.
#pragma once
#include <cstdarg>
#include <cstddef>

// Length of s, looking at no more than cap bytes.
size_t StrLenBounded(const char* s, size_t cap);

// dst = src when src fits with its NUL; otherwise dst is left unchanged. 1/0.
int StrCopy(char* dst, size_t cap, const char* src);
// dst += src when the whole result fits; otherwise dst is left unchanged. 1/0.
int StrAppend(char* dst, size_t cap, const char* src);
// dst = formatted text when it fits; otherwise dst becomes empty. 1/0. The
// conversions are printf's %s %c %d %i %u %x %X and %%, with a '0' flag, a
// width and the length 'l'; any other conversion is refused like a text that
// does not fit.
int StrFormat(char* dst, size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int StrFormatV(char* dst, size_t cap, const char* fmt, va_list ap);
// dst = as much of src as fits, always NUL-terminated (cap > 0).
void StrCopyCut(char* dst, size_t cap, const char* src);

template <size_t N> inline int StrCopy(char (&dst)[N], const char* src) { return StrCopy(dst, N, src); }
template <size_t N> inline int StrAppend(char (&dst)[N], const char* src) { return StrAppend(dst, N, src); }
template <size_t N> inline void StrCopyCut(char (&dst)[N], const char* src) { StrCopyCut(dst, N, src); }

// UTF-16 texts (message texts, wide registry values).
size_t U16Len(const char16_t* s);
int U16Copy(char16_t* dst, size_t cap, const char16_t* src);
int U16Append(char16_t* dst, size_t cap, const char16_t* src);
