// File operations of the install engine, shared by the portable archive code.
// Two implementations: Windows (kernel32) and POSIX (host tools and tests).
// Paths are ANSI texts (GBK on Windows, UTF-8 on the host). On Windows every
// operation that changes a file or folder is written to the install log.
//
// On Windows, in folders that programs without administrator rights can
// write (base/safepath.h), no operation follows a link planted there: a
// file that is a link or has other names is never read (reads fail, the
// last error kErrorLinkedFile of base/failure.h), written in place, copied
// from, renamed or given attributes; where a file is to be written or
// deleted, only the link's name goes and a fresh file takes its place. A
// folder on the path that is a junction or mount point refuses every
// operation (kErrorLinkedFolder). Each refusal is logged with its reason.
//
// The operations that change a file or folder return an Outcome
// (base/failure.h): done, or the error of the call that failed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/failure.h"

// Reads, sizes, the checked copy and the archive attribute: the file layer's
// ground, which the journal uses too.
#include "base/filebase.h"

// Removes a file. Done when it is gone or was absent; a failure only when it
// exists and cannot be deleted (for example because a running program holds
// it).
Outcome ForceDeleteFile(const char* path);

// Renames a file that cannot be deleted out of the way: the last character of
// the name before a three-letter extension becomes "2" ("mofahu4.ime" ->
// "mofahu2.ime"), or on failure "1"; the moved file is deleted when Windows
// next starts. Done when moved (moved, when given, gets the new name).
Outcome MoveLockedFileAside(const char* path, char* moved = nullptr, size_t movedCap = 0);

// Creates or truncates path and writes len bytes. Done only when the file was
// created and every byte written.
Outcome WriteWholeFile(const char* path, const void* data, uint32_t len);

// Writes len bytes to path so that path is never seen half-written: the
// bytes go to a fresh file beside it first ("<path>.<unpredictable>.mfnew",
// created new), which then
// replaces path in one rename. When anything fails, path keeps what it held
// and the fresh file is gone.
Outcome ReplaceFileWith(const char* path, const void* data, uint32_t len);

// Writes len bytes at offset into an existing file, keeping the rest of it.
// Done only when every byte was written.
Outcome WriteFileAt(const char* path, uint32_t offset, const void* data, uint32_t len);

// Copies src over dst (dst replaced when present).
Outcome CopyFileOver(const char* src, const char* dst);

// Renames src to dst (dst must not exist).
Outcome RenameFile(const char* src, const char* dst);
// Has Windows delete path when it next starts (the file is held now). 1/0.
int DeleteAtRestart(const char* path);

// Creates a directory; done when created or already present.
Outcome MakeDirectory(const char* path);
// Removes an empty directory; 1 when it is gone.
int RemoveFolder(const char* path);

// 1 when something exists at path, even a file that cannot be opened now
// (held by another program): existence is not judged by a trial open.
// (It leaves the system's last error as it was.)
int FilePresent(const char* path);

// The folder for the backup that only administrators (on the host: only this
// user) can write: on Windows the run folder of the journal (base/journal.h),
// on the host a new one. out gets its path with a trailing separator. 1/0;
// on failure out names where it was to be made.
int MakePrivateFolder(char* out, size_t cap);
// The folder MakePrivateFolder made, done with: removed, unless it is the
// run folder of a journal still open, which removes it with itself.
void ReleasePrivateFolder(const char* folder);

// Bytes free for this user on the disk that holds dir (an existing
// directory), or -1 when that cannot be told.
int64_t FreeSpaceAt(const char* dir);

// Reads a path file (the install directory as an earlier setup recorded it)
// into out: at most cap - 1 bytes, and its NUL. A missing file changes
// nothing.
void ReadPathFileAt(const char* path, char* out, uint32_t cap);
