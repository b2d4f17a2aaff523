#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/failure.h"
#include "base/log.h"
#include "base/names.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/strbuf.h"
#include "base/widetext.h"

namespace {
char g_path[MAX_PATH + 1];
bool g_moved;               // the log left a planted link for a fresh name
const int kLineMax = 2048;  // characters of one line; a longer one is cut
typedef char LineBytes[kLineMax * 3 + 64];

// The file is opened, checked, once and kept open: each line goes to the
// system as it is logged (nothing waits in a buffer of ours), and a name
// swapped afterwards cannot turn the writes elsewhere. Its folder may be one
// that other programs write (the user's temporary folder): a link planted in
// the log's place, or on its path, is neither followed nor written through
// (see base/safepath.h).
HANDLE g_file = nullptr;  // null: not open

void CloseLogFile() {
    if (g_file != nullptr) CloseHandle(g_file);
    g_file = nullptr;
}

HANDLE OpenLogFile(DWORD access, DWORD disposition, PathVerdict* verdict) {
    return OpenChecked(g_path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, verdict);
}

// Past the limit, the older half goes: the lines from the first line end
// behind the middle on go to a fresh file, which then takes the log's place.
void KeepNewerHalf() {
    PathVerdict verdict;
    HANDLE file = OpenLogFile(GENERIC_READ, OPEN_EXISTING, &verdict);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= static_cast<LONGLONG>(kLogLimit) ||
        size.QuadPart > 4 * static_cast<LONGLONG>(kLogLimit)) {
        CloseHandle(file);
        return;
    }
    DWORD length = static_cast<DWORD>(size.QuadPart);
    char* text = static_cast<char*>(std::malloc(length));
    DWORD got = 0;
    BOOL read = text != nullptr && ReadFile(file, text, length, &got, nullptr) && got == length;
    CloseHandle(file);
    char fresh[MAX_PATH + 40];
    if (read && (file = CreateFresh(g_path, kFreshSuffix, fresh, sizeof fresh, &verdict)) != INVALID_HANDLE_VALUE) {
        DWORD from = length / 2;
        while (from < length && text[from - 1] != '\n') ++from;
        DWORD written = 0;
        BOOL whole = WriteFile(file, text + from, length - from, &written, nullptr) && written == length - from;
        CloseHandle(file);
        if (!whole || !MoveFileExA(fresh, g_path, MOVEFILE_REPLACE_EXISTING)) DeleteFileA(fresh);
    }
    std::free(text);
}

// The time, the UTF-16 text as UTF-8 and a line end; its length, 0 when the
// text cannot be converted.
int FormatLine(const wchar_t* text, LineBytes& line) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    StrFormat(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
    int at = static_cast<int>(std::strlen(line));
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, line + at, static_cast<int>(sizeof line) - at - 3, nullptr,
                                nullptr);
    if (n <= 0) return 0;
    at += n - 1;  // without its NUL
    line[at++] = '\r';
    line[at++] = '\n';
    return at;
}

// A text of setup's (GBK) as UTF-16, empty when longer than a line.
void Widen(const char* text, wchar_t (&wide)[kLineMax + 1]) {
    if (WidenText(text, wide, kLineMax) <= 0) wide[0] = 0;
}

// The log's name is a link planted by another program (or has other names):
// the log goes on in a fresh file beside it, once, whose first line says
// why; the link is left alone. Anything else planted, or a second time: no
// log. The open fresh file, or INVALID_HANDLE_VALUE.
HANDLE MoveLog(PathVerdict verdict) {
    char planted[MAX_PATH + 1];
    StrCopyCut(planted, g_path);
    g_path[0] = '\0';
    if (verdict != kPathLinkedFile || g_moved) return INVALID_HANDLE_VALUE;
    g_moved = true;
    char fresh[MAX_PATH + 40];
    HANDLE file = CreateFresh(planted, ".log", fresh, sizeof fresh, &verdict);
    if (file == INVALID_HANDLE_VALUE || !StrCopy(g_path, fresh)) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    char note[2 * MAX_PATH + 200];
    wchar_t wide[kLineMax + 1];
    LineBytes line;
    DWORD written = 0;
    int length = 0;
    if (StrFormat(note, sizeof note, "---- this log is written here, not at %s: %s", planted,
                  VerdictText(kPathLinkedFile))) {
        Widen(note, wide);
        length = FormatLine(wide, line);
    }
    if (length > 0) WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    return file;
}

// The last line's text: the same line again is not written again.
wchar_t g_last[kLineMax + 1];

bool RepeatsLastLine(const wchar_t* text) {
    bool same = true;
    int i = 0;
    for (; i < kLineMax && text[i] != 0; ++i) {
        same = same && text[i] == g_last[i];
        g_last[i] = text[i];
    }
    same = same && g_last[i] == 0;
    g_last[i] = 0;
    return same;
}

// Appends a line to the log.
int AppendLine(const wchar_t* text) {
    if (g_path[0] == '\0') return 0;
    if (RepeatsLastLine(text)) return 1;
    LineBytes line;
    int at = FormatLine(text, line);
    if (at <= 0) return 0;
    if (g_file == nullptr) {
        PathVerdict verdict;
        HANDLE file = OpenLogFile(FILE_APPEND_DATA, OPEN_ALWAYS, &verdict);
        if (file == INVALID_HANDLE_VALUE && verdict != kPathPlain) file = MoveLog(verdict);
        if (file == INVALID_HANDLE_VALUE) return 0;
        g_file = file;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(g_file, line, static_cast<DWORD>(at), &written, nullptr);
    LARGE_INTEGER size;
    if (GetFileSizeEx(g_file, &size) && size.QuadPart > static_cast<LONGLONG>(kLogLimit)) {
        CloseLogFile();  // the newer half takes the name of the file
        KeepNewerHalf();
    }
    return ok && written == static_cast<DWORD>(at) ? 1 : 0;
}

}  // namespace

namespace {
// The log's default place, the user's temporary folder, in g_path.
bool UseDefaultPlace() {
    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp || !JoinPath(g_path, temp, "mofasetup.log")) {
        g_path[0] = '\0';
        return false;
    }
    return true;
}
}  // namespace

int OpenLog(const char* path) {
    g_path[0] = '\0';
    g_last[0] = 0;
    g_moved = false;
    CloseLogFile();
    if (path == nullptr || path[0] == '\0') return UseDefaultPlace() && AppendLine(L"---- log opened");
    StrCopyCut(g_path, path);
    if (AppendLine(L"---- log opened")) return 1;
    // The place named cannot take a log (a folder that does not exist, a
    // directory of that name): the default place does, and says why first.
    DWORD error = GetLastError();
    char why[200], note[2 * MAX_PATH + 300];
    SystemErrorText(error, why, sizeof why);
    if (!UseDefaultPlace() ||
        !StrFormat(note, sizeof note, "---- log opened here, not at %s: error %lu (%s)", path, error, why))
        return 0;
    wchar_t wide[kLineMax + 1];
    Widen(note, wide);
    return AppendLine(wide);
}

void CloseLog() {
    CloseLogFile();
    g_path[0] = '\0';
}

const char* LogPath() { return g_path; }

void Log(const char* fmt, ...) {
    if (g_path[0] == '\0') return;
    // Logging never changes the error that the caller reads next.
    DWORD error = GetLastError();
    char text[kLineMax];
    va_list ap;
    va_start(ap, fmt);
    int fits = StrFormatV(text, sizeof text, fmt, ap);
    va_end(ap);
    if (!fits) StrCopyCut(text, "(a line too long for the log)");
    wchar_t wide[kLineMax + 1];
    Widen(text, wide);
    AppendLine(wide);
    SetLastError(error);
}

void LogW(const char* prefix, const char16_t* text) {
    if (g_path[0] == '\0') return;
    wchar_t wide[kLineMax + 1];
    Widen(prefix, wide);
    size_t at = wcslen(wide);
    for (size_t i = 0; text[i] != 0 && at < kLineMax; ++i) wide[at++] = static_cast<wchar_t>(text[i]);
    wide[at] = 0;
    DWORD error = GetLastError();
    AppendLine(wide);
    SetLastError(error);
}

unsigned long LastSystemError() { return GetLastError(); }

void SystemErrorText(unsigned long error, char* out, unsigned cap) {
    if (cap == 0) return;
    out[0] = '\0';
    // Kept as setup keeps its own texts (GBK, see base/widetext.h), so that
    // the log reads it whatever the system's code page.
    wchar_t wide[256];
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, wide, 256,
                       nullptr) == 0 ||
        (WideCharToMultiByte(936, 0, wide, -1, out, cap, nullptr, nullptr) <= 0 &&
         WideCharToMultiByte(CP_ACP, 0, wide, -1, out, cap, nullptr, nullptr) <= 0)) {
        out[0] = '\0';
        return;
    }
    // One line: the system's text ends with a line end and often a full stop.
    DWORD n = static_cast<DWORD>(std::strlen(out));
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ' || out[n - 1] == '.')) --n;
    out[n] = '\0';
    for (DWORD i = 0; i < n; ++i)
        if (out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}
