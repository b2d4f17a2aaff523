#include "app/cmdline.h"

#include <cstring>

#include "base/context.h"
#include "base/strbuf.h"
#include "base/text.h"

namespace {
// The argument at text (blank-separated, quotes removed) into arg, cut to
// cap; returns the text behind it.
const char* NextArgument(const char* text, char* arg, size_t cap) {
    size_t n = 0;
    bool quoted = false;
    for (; *text != '\0' && (quoted || (*text != ' ' && *text != '\t')); ++text) {
        if (*text == '"')
            quoted = !quoted;
        else if (n + 1 < cap)
            arg[n++] = *text;
    }
    arg[n] = '\0';
    return text;
}

// Copies text without its quotes and trailing blanks into out (cut).
// Backslashes before a quote stand doubled, as programs quote an argument
// that ends in one ("C:\My Apps\\"): half of them are the text's.
void CopyUnquoted(char* out, size_t cap, const char* text) {
    size_t n = 0;
    for (; *text != '\0' && n + 1 < cap; ++text) {
        if (*text != '"') {
            out[n++] = *text;
            continue;
        }
        size_t run = 0;
        while (run < n && out[n - 1 - run] == '\\') ++run;
        n -= run / 2;
    }
    while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t')) --n;
    out[n] = '\0';
}
const char kRegisterWord[] = "regmf32=";

// The text after "regmf32=" when the first argument begins with it (quoted
// or not), or null. The companion program hands the directory over
// unquoted, blanks and all: it is the rest of the line.
const char* RegisterArgument(const char* commandLine) {
    while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
    if (*commandLine == '"') ++commandLine;
    if (std::strncmp(commandLine, kRegisterWord, sizeof kRegisterWord - 1) != 0) return nullptr;
    return commandLine + sizeof kRegisterWord - 1;
}

// 1 when an argument is "/D=..." (or "-D="): the rest of the line is its path.
bool TakesRestOfLine(const char* arg) { return (arg[0] == '/' || arg[0] == '-') && BeginsWithText(arg + 1, "d="); }
}  // namespace

void ReadRunMode(const char* commandLine) {
    g_ctx.registerOnly = 0;
    if (RegisterArgument(commandLine) != nullptr) {
        g_ctx.registerOnly = kRegisterOnly;
        return;
    }
    // "setmfsrf32" as an argument of its own, in any case; never a part of a
    // path or value.
    char arg[16];
    for (const char* at = commandLine; *at != '\0';) {
        while (*at == ' ' || *at == '\t') ++at;
        at = NextArgument(at, arg, sizeof arg);
        if (TakesRestOfLine(arg)) return;
        if (BeginsWithText(arg, "setmfsrf32") && arg[10] == '\0') g_ctx.runMode = kRunSilent;
    }
}

int HasRegisterArgument(const char* commandLine) { return RegisterArgument(commandLine) != nullptr ? 1 : 0; }

int ParseRegisterArgument(const char* commandLine, char* out, size_t cap) {
    const char* directory = RegisterArgument(commandLine);
    if (directory == nullptr || std::strlen(directory) >= cap) return 0;
    CopyUnquoted(out, cap, directory);
    return 1;
}

namespace {
// Where "/log=" begins in text, capitals of text matching its letters.
const char* FindLogWord(const char* text) {
    for (const char* at = text; *at != '\0'; ++at)
        if (BeginsWithText(at, "/log=")) return at;
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

namespace {
enum SwitchKind : int { kSilentSwitch, kKnownSwitch, kHelpSwitch, kDirSwitch, kNsisDirSwitch, kSignInSwitch, kNoSwitch };

// The switch words after their lead, one group of words per kind, each
// group ended by an empty word. A word ending in "=" takes a value.
const char kSwitchWords[] =
    "s\0silent\0verysilent\0q\0quiet\0qn\0\0"
    "suppressmsgboxes\0norestart\0nocancel\0sp-\0log=\0\0"
    "?\0h\0help\0-help\0\0"
    "dir=\0\0"
    "d=\0\0"
    "signin=\0\0";

// The kind of the switch word arg (after its lead).
SwitchKind FindSwitch(const char* arg) {
    int kind = kSilentSwitch;
    for (const char* word = kSwitchWords; kind < kNoSwitch; word += std::strlen(word) + 1) {
        size_t n = std::strlen(word);
        if (n == 0)
            ++kind;
        else if (BeginsWithText(arg, word) && (word[n - 1] == '=' || arg[n] == '\0'))
            break;
    }
    return static_cast<SwitchKind>(kind);
}

}  // namespace

void ReadSwitches(const char* commandLine, Switches* out) {
    std::memset(out, 0, sizeof *out);
    char arg[sizeof out->dir];
    for (const char* at = commandLine; *at != '\0';) {
        while (*at == ' ' || *at == '\t') ++at;
        const char* start = at;
        at = NextArgument(at, arg, sizeof arg);
        if (arg[0] != '/' && arg[0] != '-') continue;
        SwitchKind kind = FindSwitch(arg + 1);
        if (kind == kNoSwitch) {
            if (out->unknown[0] == '\0') StrCopyCut(out->unknown, arg);
        } else if (kind == kSilentSwitch) {
            out->silent = true;
        } else if (kind == kHelpSwitch) {
            out->help = true;
        } else if (kind == kDirSwitch) {
            StrCopyCut(out->dir, arg + 5);
        } else if (kind == kSignInSwitch) {
            StrCopyCut(out->signIn, arg + 8);
        } else if (kind == kNsisDirSwitch) {
            // The last switch: the rest of the line is the path. A switch
            // behind it (no name holds a "/") means it was not last.
            const char* path = std::strchr(start, '=') + 1;
            CopyUnquoted(out->dir, sizeof out->dir, path);
            for (const char* p = path; *p != '\0'; ++p)
                if ((*p == ' ' || *p == '\t') && (p[1] == '/' || (p[1] == '-' && FindSwitch(p + 2) != kNoSwitch)))
                    out->dirNotLast = true;
            break;
        }
    }
}

DirVerdict NormalizeInstallDir(const char* dir, char* out, size_t cap) {
    if (std::strchr(dir, kNotInCodePage) != nullptr) return kDirNotInCodePage;
    char c = static_cast<char>(dir[0] | 0x20);
    if (c < 'a' || c > 'z' || dir[1] != ':' || (dir[2] != '\\' && dir[2] != '/')) return kDirNotAbsolute;
    size_t n = 0;
    for (const char* at = dir; *at != '\0'; ++at, ++n) {
        if (n + 2 >= cap) return kDirTooLong;  // with a final backslash and the NUL
        char ch = *at == '/' ? '\\' : *at;
        // A "." or ".." folder, or a character no name holds.
        if ((ch == '.' && out[n - 1] == '\\' && (at[1] == '\0' || at[1] == '\\' || at[1] == '/' ||
                                                   (at[1] == '.' && (at[2] == '\0' || at[2] == '\\' || at[2] == '/')))) ||
            (n > 1 && std::strchr(":*?\"<>|", ch) != nullptr) || static_cast<unsigned char>(ch) < ' ')
            return kDirNotAbsolute;
        // Windows strips a blank or a dot that ends a folder's name: the
        // folder made would not be the one named.
        if (ch == '\\' && (out[n - 1] == ' ' || out[n - 1] == '.'))
            return kDirBadFolderEnd;
        out[n] = ch;
    }
    if (n <= 3) return kDirNotAbsolute;  // a drive's root is no folder of its own
    if (out[n - 1] == ' ' || out[n - 1] == '.') return kDirBadFolderEnd;
    if (out[n - 1] != '\\') out[n++] = '\\';
    out[n] = '\0';
    return kDirUsable;
}
