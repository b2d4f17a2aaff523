#include "base/filebase.h"

#include <cstring>

#include "base/log.h"
#include "base/sysapi.h"

Outcome Logged(int ok, const char* what, const char* path) {
    Outcome outcome = ok ? kDone : LastCallFailed();
    if (ok)
        Log("%s: %s", what, path);
    else
        Log("%s failed (error %lu): %s", what, outcome.error, path);
    return outcome;
}

int Allowed(PathVerdict verdict, const char* what, const char* path) {
    if (verdict == kPathPlain) return 1;
    Log("%s refused: %s (%s)", what, path, VerdictText(verdict));
    SetLastError(verdict == kPathLinkedFile ? kErrorLinkedFile : kErrorLinkedFolder);
    return 0;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

HANDLE OpenExisting(const char* path, DWORD access, DWORD share, const char* what) {
    PathVerdict verdict;
    HANDLE h = OpenChecked(path, access, share, OPEN_EXISTING, &verdict);
    if (h == INVALID_HANDLE_VALUE) Allowed(verdict, what, path);
    return h;
}

int WriteAndClose(HANDLE h, const void* data, uint32_t len) {
    DWORD written = 0;
    BOOL ok = (len == 0 || g_sys.writeFile(h, data, len, &written, nullptr)) && g_sys.flushFileBuffers(h);
    DWORD error = GetLastError();
    BOOL closed = CloseHandle(h);
    SetLastError(error);
    return ok && closed && written == len ? 1 : 0;
}

void DropFresh(const char* fresh) {
    if (RunAbandoned()) return;
    DWORD error = GetLastError();
    DeleteFileA(fresh);
    SetLastError(error);
}

char g_readBuffer[65536];

int CopyAndClose(HANDLE in, HANDLE out) {
    char* buffer = g_readBuffer;
    int ok = 1;
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(in, buffer, sizeof g_readBuffer, &got, nullptr)) ok = 0;
        if (!ok || got == 0) break;
        if (!g_sys.writeFile(out, buffer, got, &written, nullptr) || written != got) {
            ok = 0;
            break;
        }
    }
    FILETIME written;
    if (ok && GetFileTime(in, nullptr, nullptr, &written)) SetFileTime(out, nullptr, nullptr, &written);
    if (ok && !g_sys.flushFileBuffers(out)) ok = 0;
    DWORD error = GetLastError();
    CloseHandle(in);
    if (!CloseHandle(out)) ok = 0;
    if (!ok) SetLastError(error);
    return ok;
}

int CopyToNewFile(const char* src, const char* dst) {
    HANDLE in = OpenExisting(src, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, "file keep");
    if (in == INVALID_HANDLE_VALUE) return 0;
    HANDLE out = CreateFileA(dst, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return 0;
    }
    if (CopyAndClose(in, out)) return 1;
    DropFresh(dst);
    return 0;
}

int ReadFilePrefix(const char* path, void* buf, uint32_t cap, uint32_t* got) {
    *got = 0;
    HANDLE h = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, "file read");
    if (h == INVALID_HANDLE_VALUE) return 0;
    uint32_t total = 0;
    while (total < cap) {
        DWORD n = 0;
        if (!ReadFile(h, static_cast<char*>(buf) + total, cap - total, &n, nullptr) || n == 0) break;
        total += n;
    }
    CloseHandle(h);
    *got = total;
    return 1;
}

int64_t FileSizeOf(const char* path) {
    HANDLE h = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, "file read");
    if (h == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    BOOL ok = GetFileSizeEx(h, &size);
    CloseHandle(h);
    return ok ? size.QuadPart : -1;
}

void SetArchiveAttribute(const char* path) {
    // The attributes belong to the file, not to the name: through a second
    // name they would change a file elsewhere.
    if (Allowed(ExaminePath(path), "attribute change", path)) SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
}
