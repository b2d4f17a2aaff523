#include <windows.h>

#include "base/fileops.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
int WriteNew(const char* path, const void* data, uint32_t len) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    BOOL ok = len == 0 ? TRUE : WriteFile(h, data, len, &written, nullptr);
    DWORD error = GetLastError();
    BOOL closed = CloseHandle(h);
    SetLastError(error);
    return ok && closed && written == len ? 1 : 0;
}

// The result of an operation that changes a file, in the log.
int Logged(int ok, const char* what, const char* path) {
    if (ok)
        Log("%s: %s", what, path);
    else
        Log("%s failed (error %lu): %s", what, GetLastError(), path);
    return ok;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The name a new file is written under before it takes its place.
bool FreshName(const char* path, char (&fresh)[300]) {
    if (!StrCopy(fresh, path) || !StrAppend(fresh, ".mfnew")) return false;
    SetFileAttributesA(fresh, FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(fresh);
    return true;
}

// Puts the whole new file fresh in path's place in one rename. While the
// journal records, the earlier file is kept aside instead of replaced.
// On failure fresh is gone and path holds what it held.
int SwapIn(const char* fresh, const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);  // a read-only file is replaced all the same
    int ok;
    if (JournalCovers(path)) {
        bool existed = Exists(path);
        ok = (!existed || KeepFileAside(path)) && MoveFileA(fresh, path);
        if (ok && !existed) NoteCreatedFile(path);
        if (!ok && existed) PutBackAside(path);
    } else {
        ok = MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING);
    }
    if (!ok) {
        DWORD error = GetLastError();
        DeleteFileA(fresh);
        SetLastError(error);
    }
    return ok;
}
}  // namespace

int ForceDeleteFile(const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    // Existence is taken from the attributes, not from a trial open: a file
    // that another program holds without read sharing still exists, and
    // treating it as absent would make the caller write over a locked file.
    if (!Exists(path)) return 0;
    // Recorded: a copy is kept to put back, and goes when the delete does not.
    int kept = -1;
    if (InjectedFault(path) || (JournalCovers(path) && (kept = KeepFileCopy(path)) < 0)) {
        Logged(0, "file delete", path);
        return -1;
    }
    if (Logged(DeleteFileA(path), "file deleted", path)) return 0;
    DropKept(kept);
    return -1;
}

int WriteWholeFile(const char* path, const void* data, uint32_t len) { return ReplaceFileWith(path, data, len); }

int ReplaceFileWith(const char* path, const void* data, uint32_t len) {
    // The fresh file lies beside path, so that the rename stays on one disk.
    char fresh[300];
    if (InjectedFault(path) || !FreshName(path, fresh)) return Logged(0, "file write", path);
    if (!WriteNew(fresh, data, len)) {
        DWORD error = GetLastError();
        DeleteFileA(fresh);
        SetLastError(error);
        return Logged(0, "file write", path);
    }
    if (!SwapIn(fresh, path)) return Logged(0, "file write", path);
    Log("file written: %s (%u bytes)", path, len);
    return 1;
}

int WriteFileAt(const char* path, uint32_t offset, const void* data, uint32_t len) {
    if (InjectedFault(path)) return Logged(0, "file write", path);
    if (JournalCovers(path) && KeepFileCopy(path) < 0) return Logged(0, "file write (no copy could be kept)", path);
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Logged(0, "file write", path);
    DWORD written = 0;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    BOOL ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && (len == 0 || WriteFile(h, data, len, &written, nullptr));
    DWORD error = GetLastError();
    BOOL closed = CloseHandle(h);
    SetLastError(error);
    if (!(ok && closed && written == len)) return Logged(0, "file write", path);
    Log("file written: %s (%u bytes at %u)", path, len, offset);
    return 1;
}

int ReadFilePrefix(const char* path, void* buf, uint32_t cap, uint32_t* got) {
    *got = 0;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
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
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size;
    BOOL ok = GetFileSizeEx(h, &size);
    CloseHandle(h);
    return ok ? size.QuadPart : -1;
}

void SetArchiveAttribute(const char* path) { SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE); }

int CopyFileOver(const char* src, const char* dst) {
    char fresh[300];
    if (InjectedFault(dst) || !FreshName(dst, fresh)) return Logged(0, "file copy", dst);
    if (!CopyFileA(src, fresh, FALSE) || !SwapIn(fresh, dst)) {
        DWORD error = GetLastError();
        DeleteFileA(fresh);
        SetLastError(error);
        return Logged(0, "file copy", dst);
    }
    Log("file copied: %s -> %s", src, dst);
    return 1;
}

int RenameFile(const char* src, const char* dst) {
    if (InjectedFault(src) || !MoveFileA(src, dst)) return Logged(0, "file rename", src);
    if (JournalCovers(src) || JournalCovers(dst)) NoteRenamed(src, dst);
    Log("file renamed: %s -> %s", src, dst);
    return 1;
}

int RenameOver(const char* src, const char* dst) {
    if (InjectedFault(src)) return Logged(0, "file rename", src);
    bool kept = JournalCovers(dst) && Exists(dst);
    if (kept && !KeepFileAside(dst)) return Logged(0, "file rename (no copy could be kept)", src);
    if (!MoveFileExA(src, dst, MOVEFILE_REPLACE_EXISTING)) {
        if (kept) PutBackAside(dst);
        return Logged(0, "file rename", src);
    }
    if (JournalCovers(dst)) NoteRenamed(src, dst);
    Log("file renamed: %s -> %s", src, dst);
    return 1;
}

int DeleteAtRestart(const char* path) {
    if (InjectedFault(path)) return Logged(0, "file delete at the next restart", path);
    // While the journal records, the file goes only once the run succeeded.
    if (JournalCovers(path)) {
        NoteDeleteLater(path);
        return 1;
    }
    return Logged(MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), "file deleted at the next restart", path);
}

int MakeDirectory(const char* path) {
    if (InjectedFault(path)) return Logged(0, "folder create", path);
    if (CreateDirectoryA(path, nullptr)) {
        if (JournalCovers(path)) NoteCreatedFolder(path);
        return Logged(1, "folder created", path);
    }
    DWORD attrs = GetFileAttributesA(path);
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int RemoveFolder(const char* path) {
    if (InjectedFault(path)) return Logged(0, "folder remove", path);
    return Logged(RemoveDirectoryA(path), "folder removed", path);
}

int FilePresent(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0; }

int MakePrivateFolder(char* out, size_t cap) {
    // Under the Windows directory, where only administrators may create
    // anything; a name no earlier run left behind.
    char windowsDir[200] = {0};
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir) windowsDir[0] = '\0';
    DWORD id = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 100 && !InjectedFault("a folder for the backup"); ++attempt) {
        char name[32];
        StrFormat(name, sizeof name, "mofabak%lu.%u\\", static_cast<unsigned long>(id), attempt);
        if (!JoinPath(out, cap, windowsDir, name)) break;
        if (CreateDirectoryA(out, nullptr)) {
            // Setup's own scratch: nothing in it is recorded or put back.
            JournalIgnore(out);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    StrCopyCut(out, cap, windowsDir);
    return 0;
}

int64_t FreeSpaceAt(const char* dir) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(dir, &available, nullptr, nullptr)) return -1;
    return static_cast<int64_t>(available.QuadPart);
}

FileFailure LastFileFailure() {
    switch (GetLastError()) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return kFileDiskFull;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return kFileAccessDenied;
        default:
            return kFileFailedOther;
    }
}
