#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "base/failure.h"
#include "base/log.h"
#include "base/path.h"
#include "base/strbuf.h"

namespace {
char g_path[MAX_PATH + 1];
const int kLineMax = 2048;  // characters of one line; a longer one is cut

// The file is opened for each line and closed behind it: nothing waits in
// a buffer. A link planted in the log's place is not followed.
HANDLE OpenLogFile(DWORD access, DWORD disposition) {
    return CreateFileA(g_path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Past the limit, the older half goes: the file keeps its lines from the
// first line end behind the middle on.
void KeepNewerHalf() {
    HANDLE file = OpenLogFile(GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= static_cast<LONGLONG>(kLogLimit) ||
        size.QuadPart > 4 * static_cast<LONGLONG>(kLogLimit)) {
        CloseHandle(file);
        return;
    }
    DWORD length = static_cast<DWORD>(size.QuadPart);
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length));
    DWORD got = 0;
    BOOL read = text != nullptr && ReadFile(file, text, length, &got, nullptr) && got == length;
    CloseHandle(file);
    if (read) {
        DWORD from = length / 2;
        while (from < length && text[from - 1] != '\n') ++from;
        file = OpenLogFile(GENERIC_WRITE, CREATE_ALWAYS);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text + from, length - from, &written, nullptr);
            CloseHandle(file);
        }
    }
    if (text != nullptr) HeapFree(GetProcessHeap(), 0, text);
}

// Appends the time, the UTF-16 text as UTF-8 and a line end.
int AppendLine(const wchar_t* text) {
    if (g_path[0] == '\0') return 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kLineMax * 3 + 64];
    int at = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds);
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, line + at, static_cast<int>(sizeof line) - at - 3, nullptr,
                                nullptr);
    if (n <= 0) return 0;
    at += n - 1;  // without its NUL
    line[at++] = '\r';
    line[at++] = '\n';
    HANDLE file = OpenLogFile(FILE_APPEND_DATA, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, static_cast<DWORD>(at), &written, nullptr);
    LARGE_INTEGER size;
    bool over = GetFileSizeEx(file, &size) && size.QuadPart > static_cast<LONGLONG>(kLogLimit);
    CloseHandle(file);
    if (over) KeepNewerHalf();
    return ok && written == static_cast<DWORD>(at) ? 1 : 0;
}

void AppendAnsi(const char* prefix, const char* text) {
    wchar_t wide[kLineMax + 1];
    int n = MultiByteToWideChar(CP_ACP, 0, prefix, -1, wide, kLineMax);
    if (n <= 0) return;
    int m = MultiByteToWideChar(CP_ACP, 0, text, -1, wide + n - 1, kLineMax - (n - 1));
    if (m <= 0) wide[n - 1] = 0;
    wide[kLineMax] = 0;
    AppendLine(wide);
}
}  // namespace

int OpenLog(const char* path) {
    g_path[0] = '\0';
    if (path != nullptr && path[0] != '\0') {
        StrCopyCut(g_path, path);
    } else {
        char temp[MAX_PATH + 1];
        DWORD n = GetTempPathA(sizeof temp, temp);
        if (n == 0 || n >= sizeof temp || !JoinPath(g_path, temp, "mofasetup.log")) return 0;
    }
    return AppendLine(L"---- log opened");
}

void CloseLog() { g_path[0] = '\0'; }

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
    AppendAnsi("", text);
    SetLastError(error);
}

void LogW(const char* prefix, const char16_t* text) {
    if (g_path[0] == '\0') return;
    wchar_t wide[kLineMax + 1];
    int n = MultiByteToWideChar(CP_ACP, 0, prefix, -1, wide, kLineMax);
    if (n <= 0) return;
    size_t at = static_cast<size_t>(n - 1);
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
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, out, cap,
                             nullptr);
    if (n == 0 || n >= cap) {
        out[0] = '\0';
        return;
    }
    // One line: the system's text ends with a line end and often a full stop.
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ' || out[n - 1] == '.')) --n;
    out[n] = '\0';
    for (DWORD i = 0; i < n; ++i)
        if (out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}
