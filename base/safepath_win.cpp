#include "base/safepath.h"

#include <cstring>
#include <cwchar>

#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
char g_trusted[300];  // the folder setup made for its backup

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool StartsWith(const wchar_t* text, const wchar_t* start) {
    while (*start != 0 && *text == *start) ++text, ++start;
    return *start == 0;
}

// Length of dir without its trailing separators.
size_t Trimmed(const char* dir) {
    size_t n = StrLenBounded(dir, 300);
    while (n > 0 && IsSeparator(dir[n - 1])) --n;
    return n;
}

// 1 when the first length bytes of path name dir (case aside).
bool NamesFolder(const char* path, size_t length, const char* dir) {
    size_t n = Trimmed(dir);
    return n > 0 && n == length && _strnicmp(path, dir, n) == 0;
}

// Where the folders of path begin: behind "X:\" or "\\server\share\".
size_t RootLength(const char* path) {
    if (path[0] != '\0' && path[1] == ':') return IsSeparator(path[2]) ? 3 : 2;
    if (!(IsSeparator(path[0]) && IsSeparator(path[1]))) return 0;
    size_t i = 2;
    for (int parts = 0; path[i] != '\0' && parts < 2; ++i)
        if (IsSeparator(path[i])) ++parts;
    return i;
}

// Path as Windows names it, as UTF-16 (its long names when longNames is set:
// that asks the disk for each folder of it); 0 when it cannot be told.
int FullPath(const char* path, wchar_t* out, DWORD cap, bool longNames) {
    wchar_t wide[300];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 300) <= 0) return 0;
    // A folder's final path has no trailing separator.
    for (size_t n = wcslen(wide); n > 3 && (wide[n - 1] == L'\\' || wide[n - 1] == L'/'); --n) wide[n - 1] = 0;
    DWORD n = GetFullPathNameW(wide, cap, out, nullptr);
    if (n == 0 || n >= cap) return 0;
    if (!longNames) return 1;
    wchar_t longer[600];
    if (g_sys.getLongPathNameW != nullptr && (n = g_sys.getLongPathNameW(out, longer, 600)) > 0 && n < 600 && n < cap)
        for (DWORD i = 0; i <= n; ++i) out[i] = longer[i];
    return 1;
}

// 1 when what h opened lies at path: the final path Windows gives for the
// handle (Vista and later) against the full form of path, and, when that
// differs, its long form (a short name in it, "PROGRA~1"). A junction or
// mount point swapped in after the folders were checked shows here.
bool OpenedAtPath(HANDLE h, const char* path) {
    if (g_sys.getFinalPathNameByHandleW == nullptr) return true;  // Windows 2000 and XP cannot tell
    wchar_t final[600], intended[600];
    DWORD n = g_sys.getFinalPathNameByHandleW(h, final, 600, 0);
    if (n == 0 || n >= 600) return false;
    const wchar_t* at = final;
    if (StartsWith(at, L"\\\\?\\UNC\\")) {
        at += 6;
        final[6] = L'\\';  // "\\?\UNC\server" as "\\server"
    } else if (StartsWith(at, L"\\\\?\\")) {
        at += 4;
    }
    for (int longNames = 0; longNames < 2; ++longNames)
        if (FullPath(path, intended, 600, longNames != 0) && lstrcmpiW(at, intended) == 0) return true;
    return false;
}

// The unpredictable part of a fresh name: the performance counter, the
// time, the process and a count, mixed.
void Unpredictable(char (&hex)[20]) {
    static unsigned long long count;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long x = static_cast<unsigned long long>(now.QuadPart) ^
                           (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^ GetTickCount() ^
                           (++count * 0x9E3779B97F4A7C15ull) ^ reinterpret_cast<uintptr_t>(&now);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    StrFormat(hex, sizeof hex, "%08lx%08lx", static_cast<unsigned long>(x >> 32), static_cast<unsigned long>(x));
}

// The verdict on an open handle of path.
PathVerdict CheckHandle(HANDLE h, const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    // What cannot be examined is not trusted.
    if (!g_sys.getFileInformationByHandle(h, &info)) return kPathLinkedFile;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kPathLinkedFile;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks != 1) return kPathLinkedFile;
    return OpenedAtPath(h, path) ? kPathPlain : kPathElsewhere;
}
}  // namespace

const char* VerdictText(PathVerdict verdict) {
    switch (verdict) {
        case kPathLinkedFile:
            return "it is a link or has other names: what it leads to is not touched";
        case kPathLinkedFolder:
            return "a folder on its path is a link (junction or mount point)";
        case kPathElsewhere:
            return "it opened as another file than its path names: a link on its path";
        default:
            return "";
    }
}

void TrustFolder(const char* folder) { StrCopyCut(g_trusted, folder); }

int InAdminFolder(const char* path) {
    const char* name = path + StrLenBounded(path, 300);
    while (name > path && !IsSeparator(name[-1])) --name;
    if (name == path) return 0;
    size_t folder = static_cast<size_t>(name - 1 - path);
    size_t trusted = Trimmed(g_trusted);
    if (trusted > 0 && folder >= trusted && _strnicmp(path, g_trusted, trusted) == 0 &&
        (folder == trusted || IsSeparator(path[trusted])))
        return 1;
    char windowsDir[200] = {0}, systemDir[200] = {0}, wow64Dir[224];
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir) windowsDir[0] = '\0';
    n = g_sys.getSystemDirectoryA(systemDir, sizeof systemDir);
    if (n == 0 || n >= sizeof systemDir) systemDir[0] = '\0';
    if (!StrFormat(wow64Dir, sizeof wow64Dir, "%s\\syswow64", windowsDir)) wow64Dir[0] = '\0';
    return NamesFolder(path, folder, windowsDir) || NamesFolder(path, folder, systemDir) ||
           (windowsDir[0] != '\0' && NamesFolder(path, folder, wow64Dir));
}

PathVerdict CheckFolders(const char* path) {
    if (InAdminFolder(path)) return kPathPlain;
    char folder[300];
    if (!StrCopy(folder, path)) return kPathLinkedFolder;  // nothing that long is setup's
    for (size_t i = RootLength(folder); folder[i] != '\0'; ++i) {
        if (!IsSeparator(folder[i])) continue;
        folder[i] = '\0';
        DWORD attributes = g_sys.getFileAttributesA(folder);
        folder[i] = '\\';
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return kPathLinkedFolder;
    }
    return kPathPlain;
}

HANDLE OpenFolderChecked(const char* path, DWORD access, PathVerdict* verdict) {
    *verdict = kPathPlain;
    char folder[304];
    size_t length = StrLenBounded(path, sizeof folder);
    if (!StrCopy(folder, path) || (length > 0 && path[length - 1] != '\\' && !StrAppend(folder, "\\")))
        return INVALID_HANDLE_VALUE;
    return OpenChecked(folder, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, verdict);
}

HANDLE OpenChecked(const char* path, DWORD access, DWORD share, DWORD disposition, PathVerdict* verdict) {
    *verdict = kPathPlain;
    if (InAdminFolder(path))
        return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if ((*verdict = CheckFolders(path)) != kPathPlain) return INVALID_HANDLE_VALUE;
    // A path ending in a separator names a folder, which opens only with
    // backup semantics.
    size_t length = StrLenBounded(path, 300);
    DWORD folder = length > 0 && IsSeparator(path[length - 1]) ? FILE_FLAG_BACKUP_SEMANTICS : 0;
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | folder, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS tells OPEN_ALWAYS found the file
    if ((*verdict = CheckHandle(h, path)) != kPathPlain) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(error);
    return h;
}

PathVerdict ExaminePath(const char* path) {
    PathVerdict verdict = CheckFolders(path);
    if (verdict != kPathPlain || InAdminFolder(path)) return verdict;
    // Opened for its attributes only: even a file another program holds
    // without sharing opens so.
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kPathPlain;
    verdict = CheckHandle(h, path);
    CloseHandle(h);
    return verdict;
}

HANDLE CreateFresh(const char* path, const char* suffix, char* fresh, size_t cap, PathVerdict* verdict) {
    *verdict = CheckFolders(path);
    if (*verdict != kPathPlain) return INVALID_HANDLE_VALUE;
    bool check = !InAdminFolder(path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        char hex[20];
        Unpredictable(hex);
        if (!StrFormat(fresh, cap, "%s.%s%s", path, hex, suffix)) return INVALID_HANDLE_VALUE;
        HANDLE h = CreateFileA(fresh, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return h;
        }
        if (check && (*verdict = CheckHandle(h, fresh)) != kPathPlain) {
            CloseHandle(h);
            DeleteFileA(fresh);  // made where a swapped-in link led: it goes again
            return INVALID_HANDLE_VALUE;
        }
        return h;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}
