#include "base/text.h"

namespace {
bool SameFolded(char hay, char want) {
    if (hay == want) return true;
    char lowered = (hay >= 'A' && hay <= 'Z') ? static_cast<char>(hay - 'A' + 'a') : hay;
    return lowered == want;
}
}  // namespace

int ContainsText(const char* haystack, const char* needle) {
    for (const char* start = haystack; *start != '\0'; ++start) {
        const char* h = start;
        const char* n = needle;
        while (*n != '\0' && *h != '\0' && SameFolded(*h, *n)) {
            ++h;
            ++n;
        }
        if (*n == '\0') return 1;
    }
    return 0;
}
