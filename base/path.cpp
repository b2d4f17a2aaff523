#include "base/path.h"

#include <cstring>

#include "base/strbuf.h"

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A name stays inside its directory: not rooted, no drive, no ".." step.
bool StaysInside(const char* name) {
    if (name[0] == '\0' || IsSeparator(name[0]) || std::strchr(name, ':') != nullptr) return false;
    for (const char* step = name; *step != '\0';) {
        size_t length = 0;
        while (step[length] != '\0' && !IsSeparator(step[length])) ++length;
        if (length == 2 && step[0] == '.' && step[1] == '.') return false;
        step += length;
        if (*step != '\0') ++step;
    }
    return true;
}
}  // namespace

int JoinPath(char* out, size_t cap, const char* dir, const char* name) {
    if (cap == 0) return 0;
    out[0] = '\0';
    size_t dirLength = StrLenBounded(dir, cap);
    if (dirLength == 0 || dirLength >= cap || !StaysInside(name)) return 0;
    const char* between = IsSeparator(dir[dirLength - 1]) ? "" : "\\";
    if (!StrCopy(out, cap, dir) || !StrAppend(out, cap, between) || !StrAppend(out, cap, name)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int QuotedCommand(char* out, size_t cap, const char* dir, const char* program, const char* words) {
    if (cap < 2) return 0;
    out[0] = '"';
    if (!JoinPath(out + 1, cap - 1, dir, program) || !StrAppend(out, cap, "\"") ||
        (words[0] != '\0' && (!StrAppend(out, cap, " ") || !StrAppend(out, cap, words)))) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (IsSeparator(*p) || *p == ':') base = p + 1;
    return base;
}
