#include "base/text.h"

int BeginsWithText(const char* text, const char* word) {
    for (; *word != '\0'; ++text, ++word) {
        char c = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (*text != *word && c != *word) return 0;
    }
    return 1;
}

const char* FindText(const char* haystack, const char* needle) {
    for (const char* start = haystack; *start != '\0'; ++start)
        if (BeginsWithText(start, needle)) return start;
    return nullptr;
}
