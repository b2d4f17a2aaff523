#include "ime/layoutid.h"

#include <cstdio>
#include <cstring>

#include "base/strbuf.h"

namespace {
// GBK: the compiler stores narrow literals in the GBK code page.
const char kMatchTextGbk[] = "智能墨筏输入平台";
const char kLayoutTextGbk[] = "智能墨筏输入平台  7.9";
// Big5 bytes of the traditional form, spelt out: narrow literals are GBK.
#define MOFA_BIG5_PRODUCT "\xb4\xbc\xaf\xe0\xbe\xa5\xb5\xad\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78"
const char kMatchTextBig5[] = MOFA_BIG5_PRODUCT;
const char kLayoutTextBig5[] = MOFA_BIG5_PRODUCT "  7.9";
#undef MOFA_BIG5_PRODUCT
const char kPreloadDetectText[] = "智能墨筏输入";

static_assert(sizeof kMatchTextGbk - 1 == kProductMatchBytes, "match text is 16 bytes");
static_assert(sizeof kMatchTextBig5 - 1 == kProductMatchBytes, "match text is 16 bytes");
static_assert(sizeof kPreloadDetectText - 1 == kPreloadDetectBytes, "detection text is 12 bytes");

char FoldChar(char c, int upper) {
    if (upper && c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c;
}
}  // namespace

const char* ExpectedLayoutSuffix(int codePage) { return codePage == kTraditionalCodePage ? "404" : "804"; }

const char* ProductMatchText(int codePage) {
    return codePage == kTraditionalCodePage ? kMatchTextBig5 : kMatchTextGbk;
}

const char* ProductLayoutText(int codePage) {
    return codePage == kTraditionalCodePage ? kLayoutTextBig5 : kLayoutTextGbk;
}

int IsProductLayoutText(const char* text, int codePage) {
    // strncmp stops at a shorter text's NUL, which never equals a byte of
    // the match text.
    return std::strncmp(text, ProductMatchText(codePage), kProductMatchBytes) == 0 ? 1 : 0;
}

int IsProductPreloadText(const char* text) {
    return std::strncmp(text, kPreloadDetectText, kPreloadDetectBytes) == 0 ? 1 : 0;
}

int HasExpectedSuffix(const char* id, int codePage) {
    size_t n = std::strlen(id);
    return n >= 3 && std::strcmp(id + n - 3, ExpectedLayoutSuffix(codePage)) == 0 ? 1 : 0;
}

int ForceExpectedSuffix(char* id, size_t cap, int codePage) {
    if (HasExpectedSuffix(id, codePage)) return 0;
    size_t n = StrLenBounded(id, cap);
    size_t at = n >= 3 ? n - 3 : 0;
    if (at + 4 > cap) return 0;  // no room for the suffix and its NUL
    std::memcpy(id + at, ExpectedLayoutSuffix(codePage), 4);
    return 1;
}

int MakeNewLayoutId(uint32_t highest, int codePage, char* out, size_t cap) {
    uint32_t floor = codePage == kTraditionalCodePage ? 0xE0000404u : 0xE0000804u;
    if (highest < floor) highest = floor;
    uint32_t id = highest + 0x10000u;  // next language-independent slot
    if (!StrFormat(out, cap, "%lx", static_cast<unsigned long>(id))) return 2;
    FoldLayoutId(out, 1);
    return ForceExpectedSuffix(out, cap, codePage) ? 0 : 2;
}

uint32_t ParseLayoutId(const char* name) {
    const char* c = name;
    while (*c == ' ' || *c == '\t') ++c;
    if (c[0] == '0' && (c[1] == 'x' || c[1] == 'X')) c += 2;
    uint64_t value = 0;
    for (;; ++c) {
        int digit;
        if (*c >= '0' && *c <= '9') digit = *c - '0';
        else if (*c >= 'a' && *c <= 'f') digit = *c - 'a' + 10;
        else if (*c >= 'A' && *c <= 'F') digit = *c - 'A' + 10;
        else break;
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

void FoldLayoutId(char* s, int upper) {
    for (; *s != '\0'; ++s) *s = FoldChar(*s, upper);
}

PreloadMatch ComparePreloadEntry(const char* stored, size_t storedCap, const char* p) {
    // p is all one case; its first letter (if any) tells which.
    int upper = 0;
    for (const char* c = p; *c != '\0'; ++c) {
        if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z')) {
            upper = *c <= 'Z';
            break;
        }
    }
    long length = static_cast<long>(std::strlen(p));
    long matched = 0;
    bool everyMatches = true;
    for (size_t i = 0; i < storedCap && stored[i] != '\0'; ++i) {
        if (FoldChar(stored[i], upper) != p[i]) {  // p[i] is NUL past p's end
            everyMatches = false;
            break;
        }
        ++matched;
    }
    if (everyMatches && matched >= length) return kPreloadPresent;
    if (matched > length - 4) return kPreloadSameEntry;
    return kPreloadOther;
}

int PromoteListEntry(char (*ids)[kPreloadIdSize], int count, int position) {
    if (count < 3 || position < 3 || position > count) return 0;
    char moved[kPreloadIdSize];
    std::memcpy(moved, ids[position - 1], kPreloadIdSize);
    std::memmove(ids[2], ids[1], static_cast<size_t>(position - 2) * kPreloadIdSize);
    std::memcpy(ids[1], moved, kPreloadIdSize);
    return 1;
}

int LayoutOrTipText(uint32_t layoutId, char* out, size_t cap) {
    return StrFormat(out, cap, "%04X:%08X", static_cast<unsigned>(layoutId & 0xFFFFu), static_cast<unsigned>(layoutId));
}
