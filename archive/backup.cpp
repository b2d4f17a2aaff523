#include "archive/backup.h"

#include <cstdlib>
#include <cstring>

#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/text.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/names.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
const char kPhraseTwin[] = "mofacyzk.bak";
const char kRestoreCount[] = "成功恢复了%d个原有数据文件！";
// Why the install stops when the earlier data cannot be kept (%s: where).
const char kCannotRead[] =
    "　　不能读取以前的数据文件%s，无法保存你以前的词组等数据。为了不丢失这些数据，安装没有进行，原有文件都没有改动。"
    "请关闭使用该文件的程序后重新安装！";
const char kNoRoom[] =
    "　　%s所在的磁盘空间不足，无法保存你以前的词组等数据。为了不丢失这些数据，安装没有进行，原有文件都没有改动。"
    "请腾出磁盘空间后重新安装！";
const char kCannotWrite[] =
    "　　不能写入%s，无法保存你以前的词组等数据。为了不丢失这些数据，安装没有进行，原有文件都没有改动。";
// The verification report of the restore and its empty tolerance list.
const uint32_t kRestoreReportSize = 4096;
// previousInstallDir (255) and a 12-byte name.
const size_t kPathSize = 300;
// A user file beyond this is not a data file of the input method; refusing
// it keeps the sizes below far from overflowing.
const uint32_t kMaxUserFile = 0x10000000;

// A row is kept from its ".mfh" file under its ".bak" twin's name, or from
// the file of its own name.
enum RowKind { kCopied, kItself };

struct BackupRow {
    const char* stored;
    const char* source;  // the ".mfh" file a copied row is taken from
    RowKind kind;
};

const BackupRow kRows[kBackupRowCount] = {
    {"mofacyzk.bak", "mofacyzk.mfh", kCopied}, {"mfszsj43.bak", "mfszsj43.mfh", kCopied},
    {"cfontset.bak", "cfontset.mfh", kCopied}, {"cwbzlcz1.bak", "cwbzlcz1.mfh", kCopied},
    {"mfwbcmxz.bak", "mfwbcmxz.mfh", kCopied}, {"mfdhzcm.bak", "mfdhzcm.mfh", kCopied},
    {"mofadhz.bak", "mofadhz.mfh", kCopied},   {"mfgbkhz.bak", "mfgbkhz.mfh", kCopied},
    {"mfszsj43.mfh", nullptr, kItself},        {"mofadwdw.txt", nullptr, kItself},
    {"mofazdym.mfh", nullptr, kItself},        {"mfpyzdym.mfh", nullptr, kItself},
    {"mfwbpy.txt", nullptr, kItself},          {"mofaynhz.txt", nullptr, kItself},
    {"mofazdfh.mfh", nullptr, kItself},        {"userck.txt", nullptr, kItself},
    {"delck.txt", nullptr, kItself},           {"ftmfzdym.txt", nullptr, kItself},
    {"ftpyzdym.txt", nullptr, kItself},        {"cwb.ov1", nullptr, kItself},
    {"mofapymb.ov1", nullptr, kItself},        {"mfgbkbh.mfh", nullptr, kItself},
    {"mfszsj05.mfh", nullptr, kItself},        {"mfszsj06.mfh", nullptr, kItself},
};

// Why the last backup failed, for the message that stops the install.
struct BackupFailure {
    bool reading;  // a user file could not be read (else: the backup not written)
    FailureKind why;
    char where[kPathSize];
} g_failure;

// Records why a row could not be kept (the error of the failed call);
// returns -1, the row's result.
int Failed(bool reading, const char* where, unsigned long error) {
    g_failure.reading = reading;
    g_failure.why = KindOfError(error);
    StrCopyCut(g_failure.where, where);
    return -1;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// An earlier directory the backup may read: rooted ("X:\", "\\server\" or
// "/"), ending with a separator and short enough for installDir. Anything
// else would make the names below relative to the current folder.
bool IsUsableEarlierDir(const char* dir) {
    size_t length = StrLenBounded(dir, sizeof g_ctx.previousInstallDir);
    if (length == 0 || length >= sizeof g_ctx.installDir) return false;
    if (!IsSeparator(dir[length - 1])) return false;
    bool drive = ((dir[0] >= 'A' && dir[0] <= 'Z') || (dir[0] >= 'a' && dir[0] <= 'z')) && dir[1] == ':' &&
                 IsSeparator(dir[2]);
    return drive || IsSeparator(dir[0]);
}

// A recorded directory as a directory: line ends and blanks after it go, and
// a missing final backslash is added ("C:\x" names the folder C:\x\).
void AsDirectory(char* dir, size_t cap) {
    size_t length = StrLenBounded(dir, cap);
    while (length > 0 && (dir[length - 1] == '\r' || dir[length - 1] == '\n' || dir[length - 1] == ' ' ||
                          dir[length - 1] == '\t'))
        dir[--length] = '\0';
    // The separator the text already uses ("/" only on the build host).
    bool slashes = std::strchr(dir, '/') != nullptr && std::strchr(dir, '\\') == nullptr;
    if (length > 0 && !IsSeparator(dir[length - 1])) StrAppend(dir, cap, slashes ? "/" : "\\");
}

// 1 when dir holds any file of the backup table.
bool HoldsUserData(const char* dir) {
    char path[kPathSize];
    for (const BackupRow& row : kRows) {
        if (JoinPath(path, dir, row.stored) && FilePresent(path)) return true;
        if (row.source != nullptr && JoinPath(path, dir, row.source) && FilePresent(path)) return true;
    }
    return false;
}

// The earlier installation: the recorded directory when it holds user data,
// else the install directory itself when it does. previousInstallDir names
// the one found; false when there is none.
bool FindEarlierInstallation() {
    char recorded[sizeof g_ctx.previousInstallDir];
    StrCopyCut(recorded, g_ctx.previousInstallDir);
    AsDirectory(recorded, sizeof recorded);
    if (IsUsableEarlierDir(recorded) && HoldsUserData(recorded)) return StrCopy(g_ctx.previousInstallDir, recorded);
    if (IsUsableEarlierDir(g_ctx.installDir) && HoldsUserData(g_ctx.installDir))
        return StrCopy(g_ctx.previousInstallDir, g_ctx.installDir);
    return false;
}

// Reads a file, at most limit bytes of it, into a fresh block with extra
// zero bytes behind; null when it cannot be read. *size = the bytes read.
unsigned char* ReadWholeFile(const char* path, uint32_t limit, uint32_t extra, uint32_t* size) {
    *size = 0;
    int64_t length = FileSizeOf(path);
    if (length < 0) return nullptr;
    uint32_t want = length > static_cast<int64_t>(limit) ? limit : static_cast<uint32_t>(length);
    unsigned char* block = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(want) + extra, 1));
    if (block == nullptr) return nullptr;
    if (!ReadFilePrefix(path, block, want, size)) {
        std::free(block);
        return nullptr;
    }
    return block;
}

// Walks the archive: 1 when it is a whole digest archive without an entry
// named name; *end is the offset behind its last entry, *count its entries.
int FindAppendPoint(const char* archivePath, const char* name, uint32_t* end, uint32_t* count) {
    uint32_t size = 0;
    unsigned char* image = ReadWholeFile(archivePath, kMaxUserFile, 0, &size);
    if (image == nullptr) return 0;
    ArchiveWalk walk;
    int ok = BeginArchiveWalk(&walk, image, size) && walk.digestVariant && image[0] == 'C';
    ArchiveEntry entry;
    while (ok && NextArchiveEntry(&walk, &entry)) {
        char stored[kDigestNameFieldSize + 1];
        CopyEntryName(&entry, stored, sizeof stored);
        if (std::strcmp(stored, name) == 0) ok = 0;
    }
    // Appending to a damaged archive would write over entries it still holds.
    if (walk.end != kWalkComplete) ok = 0;
    *end = walk.position;
    *count = walk.count;
    std::free(image);
    return ok;
}

// Decompressed size of the largest entry of a backup (entries beyond the
// user-file limit, or broken, count as 0: they fail as they would anyway).
uint32_t LargestEntry(const unsigned char* image, uint32_t size) {
    ArchiveWalk walk;
    uint32_t largest = 0;
    if (!BeginArchiveWalk(&walk, image, size)) return 0;
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        uint32_t entrySize = 0;
        if (MeasureEntry(&entry, kMaxUserFile, &entrySize) && entrySize > largest) largest = entrySize;
    }
    return largest;
}

// The phrase twin is sealed in the backup itself: extraction then writes it
// byte for byte and the restore's verification sees the file it stored.
// block has room for 14 bytes behind size; returns the sealed length.
uint32_t SealPhraseTwin(unsigned char* block, uint32_t size) {
    uint32_t length = EndLastPhrase(block, size);
    return SealPhraseFile(block, length) + 12;
}

// A new archive is its 10-byte header; done when the archive exists.
Outcome EnsureArchive(const char* archivePath) {
    if (FileSizeOf(archivePath) >= 0) return kDone;
    unsigned char header[kArchiveHeaderSize];
    PutArchiveHeader(header, 1, kArchiveHeaderSize, 0);
    return WriteWholeFile(archivePath, header, sizeof header);
}

// Appends data to the archive under name (see AddFileToArchive).
Outcome AddBytesToArchive(const char* archivePath, const char* name, const unsigned char* data, uint32_t length) {
    if (std::strlen(name) == 0 || std::strlen(name) > kBackupNameMax) return FailedWith(kErrorNoCause);
    Outcome added = EnsureArchive(archivePath);
    if (!added) return added;
    uint32_t end = 0, count = 0;
    if (!FindAppendPoint(archivePath, name, &end, &count)) return FailedWith(kErrorDamagedData);

    // Room for data that does not compress: a dictionary that compresses
    // badly is stored all the same.
    uint32_t bound = ZlibBound(length);
    unsigned char* entry = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(kDigestEntryHeaderSize) + bound, 1));
    if (entry == nullptr) return FailedWith(kErrorNoCause);
    char digest[kDigestTextSize];
    uint32_t packed = 0;
    Md5Hex(data, length, digest);
    // An entry without a digest could never be restored.
    if (digest[0] == '\0' || !ZlibDeflate(data, length, entry + kDigestEntryHeaderSize, bound, &packed, 6) ||
        !PutEntryHeader(entry, 1, name, digest, packed))
        added = FailedWith(kErrorNoCause);
    if (added) {
        uint32_t entrySize = kDigestEntryHeaderSize + static_cast<uint32_t>(packed);
        unsigned char header[kArchiveHeaderSize];
        PutArchiveHeader(header, 1, end + entrySize, count + 1);
        // The entry first, then the header that counts it: an archive cut
        // short in between still reads as the entries before.
        added = WriteFileAt(archivePath, end, entry, entrySize);
        if (added) added = WriteFileAt(archivePath, 0, header, sizeof header);
    }
    std::free(entry);
    return added;
}

// 1 when the file at path holds exactly the payload's file name: what setup
// installs, not the user's.
bool IsPayloadDefault(const char* name, const char* path) {
    ArchiveWalk walk;
    ArchiveEntry entry;
    char digest[kDigestTextSize], stored[kDigestNameFieldSize + 1];
    if (!BeginArchiveWalk(&walk, g_ctx.payloadData, g_ctx.payloadSize) || !walk.digestVariant ||
        FileMd5Hex(path, digest) == 0)
        return false;
    while (NextArchiveEntry(&walk, &entry)) {
        CopyEntryName(&entry, stored, sizeof stored);
        if (std::strcmp(stored, name) == 0) return std::strncmp(entry.digestText, digest, 32) == 0;
    }
    return false;
}

// Keeps one row of the table from dir: 1 when stored, 0 when the row has no
// file there, -1 when a file that is there could not be kept (the reason in
// g_failure).
int KeepRow(const BackupRow& row, const char* dir) {
    char path[kPathSize], twin[kPathSize];
    if (!JoinPath(twin, dir, row.stored)) return 0;
    // A copied row is its ".mfh" file, or, without one, the twin already
    // there; also when the ".mfh" file is the default an earlier upgrade
    // installed over it, and the twin (which that upgrade restored) is the
    // user's.
    bool fromSource = row.source != nullptr && JoinPath(path, dir, row.source) && FilePresent(path) &&
                      !(FilePresent(twin) && IsPayloadDefault(row.source, path));
    if (!fromSource) StrCopy(path, twin);
    if (!FilePresent(path)) return 0;

    uint32_t size = 0;
    int64_t fileSize = FileSizeOf(path);
    FailureKind why = fileSize < 0 ? KindOfError(LastSystemError()) : kFailedOther;
    unsigned char* block = fileSize >= 0 && fileSize <= kMaxUserFile ? ReadWholeFile(path, kMaxUserFile, 14, &size) : nullptr;
    if (block == nullptr || size != static_cast<uint64_t>(fileSize)) {
        std::free(block);
        // A link planted in the folder others can write is no file of the
        // user's: never read through, so not kept. A linked folder on the
        // path stops the install.
        if (why == kFailedLinkedFile) {
            Log("user file not kept: %s is a link or has other names, planted by another program", path);
            return 0;
        }
        return Failed(true, path, 0);
    }
    // A file just as this setup brings it is none of the user's: the install
    // writes it again, and a reinstall of the same version keeps nothing.
    // The phrase file is compared without the trailer its seal adds.
    bool phrases = std::strcmp(row.stored, kPhraseTwin) == 0;
    uint32_t content = phrases && size >= 12 && std::memcmp(block + size - 12, "MOFA", 4) == 0 ? size - 12 : size;
    if (ArchiveHoldsFile(g_ctx.payloadData, g_ctx.payloadSize, BaseName(path), block, content)) {
        std::free(block);
        return 0;
    }
    uint32_t length = size;
    if (phrases) length = SealPhraseTwin(block, size);
    Outcome stored = AddBytesToArchive(g_ctx.backupArchivePath, row.stored, block, length);
    if (!stored) Failed(false, g_ctx.backupArchivePath, stored.error);
    // The twin beside the user's file, as the input method keeps it: written
    // whole or not at all, and nothing depends on it, since the backup
    // holds the same bytes.
    if (stored && row.kind == kCopied && (fromSource || length != size)) ReplaceFileWith(twin, block, length);
    std::free(block);
    return stored ? 1 : -1;
}

// The archive's folder (it holds the archive only).
void FolderOfArchive(char* folder, size_t cap) {
    StrCopyCut(folder, cap, g_ctx.backupArchivePath);
    char* name = const_cast<char*>(BaseName(folder));
    *name = '\0';
}
}  // namespace

uint32_t EndLastPhrase(unsigned char* data, uint32_t length) {
    if (length >= 12 && std::memcmp(data + length - 12, "MOFA", 4) == 0) return length;
    uint32_t n = length;
    while (n > 0 && (data[n - 1] == '\r' || data[n - 1] == '\n' || data[n - 1] == ' ' || data[n - 1] == '\t' ||
                     data[n - 1] == '\0'))
        --n;
    uint32_t end = n;
    if (end > 0 && data[end - 1] == ';') {
        if (end < length && data[end] == ' ') return length;  // the separator is whole
        --end;
    }
    // The last segment: behind the last "; " (no trail byte of a double-byte
    // character is ";" or " ").
    uint32_t start = end;
    while (start >= 2 && !(data[start - 2] == ';' && data[start - 1] == ' ')) --start;
    if (start < 2) start = 0;
    // Only a word the sealing would drop for want of its separator is mended.
    uint32_t chars = 0;
    for (uint32_t i = start; i < end; i += 2, ++chars)
        if (i + 1 >= end || data[i] <= 0x80 || data[i + 1] <= 0x3F) return length;
    if (chars < 2) return length;
    data[end] = ';';
    data[end + 1] = ' ';
    return end + 2;
}

int AddFileToArchive(const char* archivePath, const char* filePath) {
    if (archivePath == nullptr || filePath == nullptr || filePath[0] == '\0') return 0;
    const char* name = BaseName(filePath);
    size_t nameLength = std::strlen(name);
    if (nameLength == 0 || nameLength > kBackupNameMax) return 0;
    // The archive exists, header only, even when the file does not.
    if (!EnsureArchive(archivePath)) return 0;
    int64_t fileSize = FileSizeOf(filePath);
    if (fileSize < 0 || fileSize > kMaxUserFile) return 0;
    uint32_t got = 0;
    unsigned char* block = ReadWholeFile(filePath, kMaxUserFile, 0, &got);
    if (block == nullptr) return 0;
    int result = AddBytesToArchive(archivePath, name, block, got) ? 1 : 0;
    std::free(block);
    return result;
}

int BackupUserData() {
    std::memset(&g_failure, 0, sizeof g_failure);
    g_ctx.backupArchivePath[0] = '\0';
    if (!FindEarlierInstallation()) return 0;
    // The backup reads the earlier installation's directory, whatever the
    // current one is.
    const char* dir = g_ctx.previousInstallDir;

    // The archive is built, and later read back, in a folder of this run
    // that only administrators can write: nothing a user planted in the
    // install folder (which is open to the user's programs) is ever read.
    char folder[kPathSize];
    if (!MakePrivateFolder(folder, sizeof folder) || !JoinPath(g_ctx.backupArchivePath, folder, kBackupName)) {
        g_ctx.backupArchivePath[0] = '\0';
        return Failed(false, folder, LastSystemError());
    }
    int kept = 0;
    for (const BackupRow& row : kRows) {
        int result = KeepRow(row, dir);
        if (result < 0) {
            DiscardBackup();
            return -1;
        }
        kept += result;
    }
    if (kept == 0) {
        DiscardBackup();
        return 0;
    }
    // For whatever looks for it there, a copy in the earlier directory too;
    // one that cannot be replaced there is left as it is.
    uint32_t size = 0;
    unsigned char* image = ReadWholeFile(g_ctx.backupArchivePath, kMaxUserFile, 0, &size);
    char copy[kPathSize];
    if (image != nullptr && JoinPath(copy, dir, kBackupName)) ReplaceFileWith(copy, image, size);
    std::free(image);
    return 1;
}

void DiscardBackup() {
    if (g_ctx.backupArchivePath[0] == '\0') return;
    char folder[kPathSize];
    FolderOfArchive(folder, sizeof folder);
    ForceDeleteFile(g_ctx.backupArchivePath);
    ReleasePrivateFolder(folder);
    g_ctx.backupArchivePath[0] = '\0';
}

void ShowBackupFailure() {
    char text[600];
    const char* where = g_failure.where;
    int fits;
    if (g_failure.reading)
        fits = StrFormat(text, sizeof text, kCannotRead, where);
    else if (g_failure.why == kFailedDiskFull)
        fits = StrFormat(text, sizeof text, kNoRoom, where);
    else
        fits = StrFormat(text, sizeof text, kCannotWrite, where);
    if (fits) ShowMessageA(text, kSetupCaptionA);
}

namespace {
// The cause the user is told when the restore fails, with the file's name.
const char kRestoreFailed[] = "没有成功恢复原有数据文件%s";

// One restore: the backup at archive into the directory dir, through work
// (kWorkBufferSize bytes); carried: the archive goes along into dir.
struct Restore {
    const char* archive;
    const char* dir;
    unsigned char* work;
    bool carried;
};

// The user's files may have grown past the 2 MB of the work buffer (the
// backup stores them whole): such a backup is extracted through a work area
// as large as its largest entry, so that no dictionary is kept in the
// archive only.
void ExtractBackup(const Restore& job, const unsigned char* image, uint32_t size) {
    uint32_t largest = LargestEntry(image, size);
    unsigned char* own = nullptr;
    if (largest > kMaxEntryDataSize)
        own = static_cast<unsigned char*>(std::calloc(WorkAreaSizeFor(largest), 1));
    if (own != nullptr)
        ExtractArchiveUpTo(job.dir, image, size, own, WorkAreaSizeFor(largest), largest);
    else
        ExtractArchive(job.dir, image, size, job.work, kWorkBufferSize);
    std::free(own);
}

// Checks what the restore wrote against the backup: the user is told how
// many files came back, or the first that did not is recorded as the cause
// (the install is then undone and the user told once). 1 when all came back.
int VerifyRestored(const Restore& job, const unsigned char* image, uint32_t size) {
    char* report = reinterpret_cast<char*>(job.work);
    char* tolerance = reinterpret_cast<char*>(job.work + kRestoreReportSize);
    tolerance[0] = '\0';
    int good = VerifyExtractedFiles(job.dir, image, size, report, kRestoreReportSize, tolerance);
    if (report[0] != '\0') {
        const char* markers = FindText(report, "....");
        if (markers != nullptr) report[markers - report] = '\0';
        NoteFailure(kRestoreFailed, "restore", report, 0);
        return 0;
    }
    char text[64];
    if (StrFormat(text, sizeof text, kRestoreCount, good)) ShowMessageA(text, kCaptionA);
    return 1;
}

// No more is read than the backup can hold of the user's files. A backup
// that is gone or holds no entry is nothing to restore; one of any size with
// an entry is restored. One that is there but cannot be read, or is no
// archive, fails the restore: the install is undone, and the user's files
// come back from the copies it kept.
int RestoreFrom(const Restore& job) {
    uint32_t size = 0;
    unsigned char* image = ReadWholeFile(job.archive, kMaxUserFile, 200, &size);
    const unsigned long readError = image == nullptr ? LastSystemError() : kErrorDamagedData;
    ArchiveWalk walk;
    bool readable = image != nullptr && BeginArchiveWalk(&walk, image, size);
    if ((readable && walk.count == 0) || (image == nullptr && !FilePresent(job.archive))) {
        Log("restore: %s holds no file to restore", job.archive);
        std::free(image);
        return 1;
    }
    if (!readable) {
        NoteFailure(kRestoreFailed, "restore", job.archive, readError);
        std::free(image);
        return 0;
    }
    char copy[kPathSize];
    if (job.carried && Joined(copy, job.dir, kBackupName)[0] != '\0') ReplaceFileWith(copy, image, size);
    // The backup never stores more than its 24 rows; a larger count is not
    // ours and would cost the user one message per entry.
    if (image[7] != 0 || image[8] != 0 || image[9] != 0 || image[6] > kBackupRowCount) {
        image[6] = kBackupRowCount;
        image[7] = image[8] = image[9] = 0;
    }

    ExtractBackup(job, image, size);
    int whole = VerifyRestored(job, image, size);
    std::free(image);
    return whole;
}
}  // namespace

int RestoreUserData() {
    if (g_ctx.backupArchivePath[0] == '\0') return 1;  // nothing was kept
    if (g_ctx.workBuffer == nullptr) return 0;
    // Restored into another directory than the earlier one: the archive goes
    // along, as the copy beside the earlier files does.
    return RestoreFrom({g_ctx.backupArchivePath, g_ctx.installDir, g_ctx.workBuffer,
                        std::strcmp(g_ctx.installDir, g_ctx.previousInstallDir) != 0});
}

int RestoreBackupOf(const char* archivePath) {
    char dir[sizeof g_ctx.installDir];
    StrCopyCut(dir, g_ctx.previousInstallDir);
    AsDirectory(dir, sizeof dir);
    if (!IsUsableEarlierDir(dir) || !FilePresent(dir)) return 1;
    // The restore of an install, into the earlier directory itself, through
    // a work buffer of its own: the run has none yet.
    unsigned char* own = static_cast<unsigned char*>(std::calloc(kWorkBufferSize, 1));
    int whole = own != nullptr && RestoreFrom({archivePath, dir, own, false});
    std::free(own);
    return whole;
}
