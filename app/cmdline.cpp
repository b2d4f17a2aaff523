#include "app/cmdline.h"

#include <cstring>

#include "base/context.h"
#include "base/strbuf.h"
#include "base/text.h"

void ReadRunMode(const char* commandLine) {
    g_ctx.registerOnly = 0;
    if (ContainsText(commandLine, "regmf32"))
        g_ctx.registerOnly = kRegisterOnly;
    else if (ContainsText(commandLine, "setmfsrf32"))
        g_ctx.runMode = kRunSilent;
}

namespace {
const char kRegisterWord[] = "regmf32=";

// The text after "regmf32=" at the first "r", or null.
const char* RegisterArgument(const char* commandLine) {
    const char* r = std::strchr(commandLine, 'r');
    if (r == nullptr || std::strncmp(r, kRegisterWord, sizeof kRegisterWord - 1) != 0) return nullptr;
    return r + sizeof kRegisterWord - 1;
}
}  // namespace

int HasRegisterArgument(const char* commandLine) { return RegisterArgument(commandLine) != nullptr ? 1 : 0; }

int ParseRegisterArgument(const char* commandLine) {
    const char* directory = RegisterArgument(commandLine);
    return directory != nullptr ? StrCopy(g_ctx.installDir, directory) : 0;
}

namespace {
// Where "/log=" begins in text, capitals of text matching its letters.
const char* FindLogWord(const char* text) {
    static const char kWord[] = "/log=";
    for (const char* at = text; *at != '\0'; ++at) {
        size_t i = 0;
        while (kWord[i] != '\0') {
            char c = at[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != kWord[i]) break;
            ++i;
        }
        if (kWord[i] == '\0') return at;
    }
    return nullptr;
}
}  // namespace

int LogArgument(const char* commandLine, char* out, size_t cap) {
    const char* word = FindLogWord(commandLine);
    if (word == nullptr || cap == 0) return 0;
    const char* from = word + 5;
    // Quoted as a whole word, or its path quoted: up to the closing quote.
    char end = ' ';
    if (word > commandLine && word[-1] == '"') {
        end = '"';
    } else if (*from == '"') {
        end = '"';
        ++from;
    }
    size_t length = 0;
    while (from[length] != '\0' && from[length] != end) ++length;
    if (length == 0 || length >= cap) return 0;
    std::memcpy(out, from, length);
    out[length] = '\0';
    return 1;
}
