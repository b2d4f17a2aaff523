#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "base/fileops.h"
#include "base/names.h"
#include "base/strbuf.h"

namespace {
// Done, or the failure errno tells of.
Outcome Made(int ok) { return ok ? kDone : LastCallFailed(); }

// Writes all of data at offset, then closes fd. 1 when every byte went out.
int WriteAllAndClose(int fd, off_t offset, const void* data, uint32_t len) {
    uint32_t done = 0;
    while (done < len) {
        ssize_t n = pwrite(fd, static_cast<const char*>(data) + done, len - done, offset + done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    int closed = close(fd) == 0;
    return closed && done == len ? 1 : 0;
}
}  // namespace

Outcome ForceDeleteFile(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return kDone;
    return Made(unlink(path) == 0);
}

Outcome WriteWholeFile(const char* path, const void* data, uint32_t len) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return Made(fd >= 0 && WriteAllAndClose(fd, 0, data, len));
}

Outcome WriteFileAt(const char* path, uint32_t offset, const void* data, uint32_t len) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    return Made(fd >= 0 && WriteAllAndClose(fd, static_cast<off_t>(offset), data, len));
}

int ReadFilePrefix(const char* path, void* buf, uint32_t cap, uint32_t* got) {
    *got = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    uint32_t total = 0;
    while (total < cap) {
        ssize_t n = read(fd, static_cast<char*>(buf) + total, cap - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<uint32_t>(n);
    }
    close(fd);
    *got = total;
    return 1;
}

int64_t FileSizeOf(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

void SetArchiveAttribute(const char* path) { chmod(path, 0644); }

Outcome CopyFileOver(const char* src, const char* dst) {
    int in = open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) return LastCallFailed();
    int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        Outcome failed = LastCallFailed();
        close(in);
        return failed;
    }
    char buf[65536];
    int ok = 1;
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = 0;
        if (n <= 0) break;
        if (write(out, buf, static_cast<size_t>(n)) != n) {
            ok = 0;
            break;
        }
    }
    Outcome copied = Made(ok);
    close(in);
    if (close(out) != 0 && copied) copied = LastCallFailed();
    return copied;
}

Outcome RenameFile(const char* src, const char* dst) {
    struct stat st;
    if (lstat(dst, &st) == 0) return FailedWith(EEXIST);  // like MoveFileA: never replaces
    return Made(rename(src, dst) == 0);
}


// Nothing holds a file on the host the way Windows holds a loaded module.
int DeleteAtRestart(const char*) { return 0; }

Outcome ReplaceFileWith(const char* path, const void* data, uint32_t len) {
    // A name where nothing is yet is written in place, as setup writes one
    // its journal has noted (a failed write removes what it made); a file
    // (or link) already there is replaced by a whole new one in one rename.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (WriteAllAndClose(fd, 0, data, len)) return kDone;
        Outcome failed = LastCallFailed();
        unlink(path);
        return failed;
    }
    if (errno != EEXIST) return LastCallFailed();
    char fresh[300];
    if (!StrCopy(fresh, path) || !StrAppend(fresh, kFreshSuffix)) return FailedWith(ENAMETOOLONG);
    unlink(fresh);
    Outcome written = WriteWholeFile(fresh, data, len);
    if (written && rename(fresh, path) != 0) written = LastCallFailed();
    if (!written) unlink(fresh);
    return written;
}

Outcome MakeDirectory(const char* path) {
    if (mkdir(path, 0755) == 0) return kDone;
    Outcome made = LastCallFailed();
    struct stat st;
    return made.error == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? kDone : made;
}

int RemoveFolder(const char* path) { return rmdir(path) == 0 ? 1 : 0; }

int FilePresent(const char* path) {
    struct stat st;
    int error = errno;  // a question only: the caller's error stays
    int present = lstat(path, &st) == 0 ? 1 : 0;
    errno = error;
    return present;
}

void ReleasePrivateFolder(const char* folder) { rmdir(folder); }

int MakePrivateFolder(char* out, size_t cap) {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp == nullptr || tmp[0] == '\0') tmp = "/tmp";
    char pattern[256];
    // mkdtemp makes the folder with mode 0700: only this user can write it.
    if (StrFormat(pattern, sizeof pattern, "%s/mofabak-XXXXXX", tmp) && mkdtemp(pattern) != nullptr) {
        if (StrFormat(out, cap, "%s/", pattern)) return 1;
        rmdir(pattern);
    }
    StrCopyCut(out, cap, tmp);
    return 0;
}

int64_t FreeSpaceAt(const char* dir) {
    struct statvfs fs;
    if (statvfs(dir, &fs) != 0) return -1;
    return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}
