#include "ime/winlist.h"

#include "base/strbuf.h"

namespace {
const char16_t kHeadingStart[] = u"智能墨筏安装软件检测到有下列 ";
const char16_t kHeadingEnd[] = u" 个软件在使用智能墨筏输入法:\r\n\r\n";
const char16_t kClosing[] = u"\r\n\r\n请关闭上述软件后再继续安装！\r\n如无法关闭，则请重新启动机器后立即安装！";

// Decimal digits of value (which may be negative) into out (at least 12).
void FormatInt(char16_t* out, int value) {
    char16_t digits[12];
    int n = 0;
    bool negative = value < 0;
    unsigned v = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v > 0);
    int at = 0;
    if (negative) out[at++] = u'-';
    while (n > 0) out[at++] = digits[--n];
    out[at] = 0;
}

// Length of the longest prefix of list, at most room characters, that ends
// at a line end ("\r\n").
size_t WholeLinesWithin(const char16_t* list, size_t room) {
    size_t cut = 0;
    for (size_t i = 0; list[i] != 0 && i + 2 <= room; ++i) {
        if (list[i] == u'\r' && list[i + 1] == u'\n') cut = i + 2;
    }
    return cut;
}
}  // namespace

int FormatWindowLine(char16_t* out, size_t cap, int number, const char16_t* title) {
    char16_t digits[12];
    FormatInt(digits, number);
    if (cap == 0) return 0;
    out[0] = 0;
    if (U16Append(out, cap, u"　　") && U16Append(out, cap, digits) && U16Append(out, cap, u"：") &&
        U16Append(out, cap, title) && U16Append(out, cap, u"\r\n"))
        return 1;
    out[0] = 0;
    return 0;
}

int AppendWholeLine(char16_t* list, size_t cap, const char16_t* line) { return U16Append(list, cap, line); }

int BuildInUseMessage(char16_t* out, size_t cap, int count, const char16_t* list) {
    if (cap == 0) return 0;
    char16_t digits[12];
    FormatInt(digits, count);
    out[0] = 0;
    if (!U16Append(out, cap, kHeadingStart) || !U16Append(out, cap, digits) || !U16Append(out, cap, kHeadingEnd)) {
        out[0] = 0;
        return 0;
    }
    size_t used = U16Len(out);
    size_t closing = U16Len(kClosing);
    if (used + closing >= cap) {
        out[0] = 0;
        return 0;
    }
    size_t room = cap - 1 - used - closing;
    size_t listLength = U16Len(list);
    size_t take = listLength <= room ? listLength : WholeLinesWithin(list, room);
    for (size_t i = 0; i < take; ++i) out[used + i] = list[i];
    out[used + take] = 0;
    U16Append(out, cap, kClosing);  // fits: room was kept for it
    return take == listLength ? 1 : 0;
}
