#include <windows.h>

#include <cstring>

#include "base/fileops.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/names.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
// Before a file takes path's place: a link planted there loses its name
// (what it leads to is neither opened nor changed) and is not kept to be put
// back, since it is no file of the user's. 1 when path may be written.
int ClearPlanted(const char* path, const char* what) {
    PathVerdict verdict = ExaminePath(path);
    if (verdict != kPathLinkedFile) return Allowed(verdict, what, path);
    if (!DeleteFileA(path)) {
        Log("%s refused: %s (%s; the link cannot be removed, error %lu)", what, path, VerdictText(verdict),
            GetLastError());
        SetLastError(kErrorLinkedFile);
        return 0;
    }
    Log("link removed, its name only: %s (%s)", path, VerdictText(verdict));
    return 1;
}

// A new file beside path (see CreateFresh) holding len bytes; fresh gets its
// name. 1/0; on failure nothing of it is left.
int WriteFresh(const char* path, char (&fresh)[300], const void* data, uint32_t len) {
    PathVerdict verdict;
    if (!NoteFreshBeside(path)) return 0;
    HANDLE h = CreateFresh(path, kFreshSuffix, fresh, sizeof fresh, &verdict);
    if (h == INVALID_HANDLE_VALUE) {
        Allowed(verdict, "file write", path);
        return 0;
    }
    if (WriteAndClose(h, data, len)) return 1;
    DropFresh(fresh);
    return 0;
}

// Puts the whole new file fresh in path's place in one rename. While the
// journal records, a copy of the earlier file is kept first.
// On failure fresh is gone and path holds what it held.
int SwapIn(const char* fresh, const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);  // a read-only file is replaced all the same
    int kept = -1, ok = 1;
    if (JournalCovers(path)) ok = Exists(path) ? (kept = KeepFileCopy(path)) >= 0 : NoteCreatedFile(path);
    // One rename over the old name: the name always holds a whole file.
    // (Windows 95 to Me lack MoveFileEx, but setup needs Windows 2000.)
    if (!ok || !MoveFileExA(fresh, path, MOVEFILE_REPLACE_EXISTING)) {
        DropKept(kept);
        DropFresh(fresh);
        return 0;
    }
    return 1;
}
}  // namespace

Outcome ForceDeleteFile(const char* path) {
    PathVerdict verdict = ExaminePath(path);
    if (verdict == kPathLinkedFile) return ClearPlanted(path, "file delete") ? kDone : LastCallFailed();
    if (!Allowed(verdict, "file delete", path)) return LastCallFailed();
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    // Existence is taken from the attributes, not from a trial open: a file
    // that another program holds without read sharing still exists, and
    // treating it as absent would make the caller write over a locked file.
    if (!Exists(path)) return kDone;
    // Recorded: a copy is kept to put back, and goes when the delete does not.
    int kept = -1;
    if (ChangeRefused(path) || (JournalCovers(path) && (kept = KeepFileCopy(path)) < 0))
        return Logged(0, "file delete", path);
    Outcome deleted = Logged(DeleteFileA(path), "file deleted", path);
    if (!deleted) DropKept(kept);
    return deleted;
}

Outcome WriteWholeFile(const char* path, const void* data, uint32_t len) { return ReplaceFileWith(path, data, len); }

namespace {
// Writes len bytes into a file made at path, where nothing was, while the
// journal records: the journal notes the name first, so whatever a kill
// leaves there (a part of the bytes) the recovery deletes, and no fresh file
// and rename are needed. The file is made as CreateFresh makes one (never
// through a link, never elsewhere than at path); a failed write deletes it.
int WriteCreated(const char* path, const void* data, uint32_t len) {
    if (!NoteCreatedFile(path)) return 0;
    PathVerdict verdict;
    HANDLE h = OpenChecked(path, GENERIC_WRITE, 0, CREATE_NEW, &verdict);
    if (h == INVALID_HANDLE_VALUE) {
        // Made where a link swapped in on its path led: it goes again.
        if (verdict == kPathElsewhere) DeleteFileA(path);
        Allowed(verdict, "file write", path);
        return 0;
    }
    // A run a test ends here, as a kill before the last byte would end it,
    // leaves the first half on the disk for the recovery to find.
    if (Abandoned()) {
        WriteAndClose(h, data, len / 2);
        return 0;
    }
    if (WriteAndClose(h, data, len)) return 1;
    DropFresh(path);
    return 0;
}

// 1 when the file at path holds exactly the len bytes of data already, with
// no attribute but the archive bit (or none): a repair leaves it as it is
// (nothing to keep, write, flush or put back). Read through a checked handle,
// shared for reading only: a file another program writes is never taken as
// the same.
int HoldsAlready(const char* path, DWORD attributes, const void* data, uint32_t len) {
    char* buffer = g_readBuffer;
    if ((attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)) != 0) return 0;
    HANDLE h = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ, "file read");
    if (h == INVALID_HANDLE_VALUE) return 0;
    const char* at = static_cast<const char*>(data);
    uint32_t left = len;
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof g_readBuffer, &got, nullptr) && got != 0 && got <= left &&
           std::memcmp(buffer, at, got) == 0) {
        at += got;
        left -= got;
    }
    CloseHandle(h);
    return got == 0 && left == 0;
}
}  // namespace

Outcome ReplaceFileWith(const char* path, const void* data, uint32_t len) {
    if (ChangeRefused(path)) return Logged(0, "file write", path);
    // Where nothing is, nothing was planted to clear (the folders on the path
    // are checked as the file is made, and a name taken meanwhile fails it);
    // a file that holds the bytes already was opened through a check that
    // showed it plain.
    const DWORD attributes = GetFileAttributesA(path);
    const bool absent = attributes == INVALID_FILE_ATTRIBUTES;
    if (!absent && HoldsAlready(path, attributes, data, len)) {
        Log("file unchanged: %s (%u bytes)", path, len);
        return kDone;
    }
    if (!absent && !ClearPlanted(path, "file write")) return Logged(0, "file write", path);
    // A new name is written in place; a file there is replaced by a fresh
    // one beside it (so that the rename stays on one disk).
    char fresh[300];
    bool created = JournalCovers(path) && absent;
    if (created ? !WriteCreated(path, data, len) : (!WriteFresh(path, fresh, data, len) || !SwapIn(fresh, path)))
        return Logged(0, "file write", path);
    Log("file written: %s (%u bytes)", path, len);
    return kDone;
}

Outcome WriteFileAt(const char* path, uint32_t offset, const void* data, uint32_t len) {
    if (ChangeRefused(path)) return Logged(0, "file write", path);
    // Written in place only through a handle that was checked; the copy kept
    // for the journal may read it meanwhile.
    HANDLE h = OpenExisting(path, GENERIC_WRITE, FILE_SHARE_READ, "file write");
    if (h == INVALID_HANDLE_VALUE) return Logged(0, "file write", path);
    if (JournalCovers(path) && KeepFileCopy(path) < 0) {
        CloseHandle(h);
        return Logged(0, "file write (no copy could be kept)", path);
    }
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) {
        CloseHandle(h);
        return Logged(0, "file write", path);
    }
    if (!WriteAndClose(h, data, len)) return Logged(0, "file write", path);
    Log("file written: %s (%u bytes at %u)", path, len, offset);
    return kDone;
}

Outcome CopyFileOver(const char* src, const char* dst) {
    char fresh[300];
    if (ChangeRefused(dst) || !ClearPlanted(dst, "file copy")) return Logged(0, "file copy", dst);
    // Read through a checked handle: a link planted at src is not followed.
    HANDLE in = OpenExisting(src, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, "file copy");
    if (in == INVALID_HANDLE_VALUE) return Logged(0, "file copy", dst);
    PathVerdict verdict = kPathPlain;
    HANDLE out = NoteFreshBeside(dst) ? CreateFresh(dst, kFreshSuffix, fresh, sizeof fresh, &verdict) : INVALID_HANDLE_VALUE;
    if (out == INVALID_HANDLE_VALUE) {
        Allowed(verdict, "file copy", dst);
        CloseHandle(in);
        return Logged(0, "file copy", dst);
    }
    if (!CopyAndClose(in, out)) {
        DropFresh(fresh);
        return Logged(0, "file copy", dst);
    }
    if (!SwapIn(fresh, dst)) return Logged(0, "file copy", dst);
    Log("file copied: %s -> %s", src, dst);
    return kDone;
}

Outcome RenameFile(const char* src, const char* dst) {
    // A planted link is not moved to a name setup uses; the target name
    // must not exist (a link planted there included).
    if (ChangeRefused(src) || !Allowed(ExaminePath(src), "file rename", src) ||
        !Allowed(CheckFolders(dst), "file rename", dst) || Exists(dst) ||
        ((JournalCovers(src) || JournalCovers(dst)) && !NoteRenamed(src, dst)) || !MoveFileA(src, dst))
        return Logged(0, "file rename", src);
    Log("file renamed: %s -> %s", src, dst);
    return kDone;
}

int DeleteAtRestart(const char* path) {
    if (ChangeRefused(path)) {
        Logged(0, "file delete at the next restart", path);
        return 0;
    }
    // While the journal records, the file goes only once the run succeeded.
    if (JournalCovers(path)) return NoteDeleteLater(path);
    // Windows deletes by name while it starts, following whatever link has
    // been planted on the path by then: only where others cannot write.
    if (!InAdminFolder(path)) {
        Log("file left for the next install: %s (a delete at the next restart could follow a link planted "
            "before then)", path);
        return 0;
    }
    return Logged(MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), "file deleted at the next restart", path) ? 1 : 0;
}

Outcome MakeDirectory(const char* path) {
    if (ChangeRefused(path)) return Logged(0, "folder create", path);
    // The folder itself is checked too, whether it was there or is made now:
    // nothing is written into a junction or mount point.
    char folder[300];
    size_t length = StrLenBounded(path, sizeof folder);
    bool separated = length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/');
    if (!StrCopy(folder, path) || (!separated && !StrAppend(folder, "\\")) ||
        !Allowed(CheckFolders(folder), "folder create", path))
        return LastCallFailed();
    // Recorded before it is made: a folder made is removed by an undo.
    if (!Exists(path) && JournalCovers(path) && !NoteCreatedFolder(path)) return LastCallFailed();
    if (CreateDirectoryA(path, nullptr))
        return Allowed(CheckFolders(folder), "folder create", path) ? Logged(1, "folder created", path) : LastCallFailed();
    // A folder already there is what was asked for; else the creation's own
    // error, not the question's after it.
    Outcome made = LastCallFailed();
    DWORD attrs = GetFileAttributesA(path);
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) ? kDone : made;
}

int RemoveFolder(const char* path) {
    if (ChangeRefused(path)) {
        Logged(0, "folder remove", path);
        return 0;
    }
    return Logged(RemoveDirectoryA(path), "folder removed", path) ? 1 : 0;
}

int FilePresent(const char* path) {
    // A question only: the error the caller reads next stays that of its
    // own failed call (a write to a full disk is not told as a missing file).
    DWORD error = GetLastError();
    int present = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
    SetLastError(error);
    return present;
}

void ReleasePrivateFolder(const char* folder) {
    if (!JournalOpen()) RemoveFolder(folder);
}

int MakePrivateFolder(char* out, size_t cap) {
    // The run folder of the journal, under the Windows directory, where only
    // administrators may create anything.
    if (!ChangeRefused("the backup folder") && RunFolder(out, cap)) return 1;
    char windowsDir[200] = {0};
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    StrCopyCut(out, cap, n < sizeof windowsDir ? windowsDir : "");
    return 0;
}

int64_t FreeSpaceAt(const char* dir) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(dir, &available, nullptr, nullptr)) return -1;
    return static_cast<int64_t>(available.QuadPart);
}
