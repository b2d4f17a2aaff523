#include "archive/backup.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
const char kBackupName[] = "mofaback.mfz";
const char kPhraseTwin[] = "mofacyzk.bak";
const char kRestoreFailed[] = "原有数据文件没有成功复制，原有数据不能使用！\r\n";
const char kRestoreCount[] = "成功恢复了%d个原有数据文件！";
const char kReportGap[] = "\r\n\r\n";
// The verification report of the restore and its empty tolerance list.
const uint32_t kRestoreReportSize = 4096;
// previousInstallDir (255) and a 12-byte name.
const size_t kPathSize = 300;
// A user file beyond this is not a data file of the input method; refusing
// it keeps the sizes below far from overflowing.
const uint32_t kMaxUserFile = 0x10000000;

enum RowKind { kCopied, kRequired, kOptional };

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
    {"mfszsj43.mfh", nullptr, kRequired},      {"mofadwdw.txt", nullptr, kRequired},
    {"mofazdym.mfh", nullptr, kRequired},      {"mfpyzdym.mfh", nullptr, kRequired},
    {"mfwbpy.txt", nullptr, kRequired},        {"mofaynhz.txt", nullptr, kRequired},
    {"mofazdfh.mfh", nullptr, kRequired},      {"userck.txt", nullptr, kOptional},
    {"delck.txt", nullptr, kOptional},         {"ftmfzdym.txt", nullptr, kOptional},
    {"ftpyzdym.txt", nullptr, kOptional},      {"cwb.ov1", nullptr, kOptional},
    {"mofapymb.ov1", nullptr, kOptional},      {"mfgbkbh.mfh", nullptr, kOptional},
    {"mfszsj05.mfh", nullptr, kOptional},      {"mfszsj06.mfh", nullptr, kOptional},
};

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
void SealPhraseTwin(const char* path) {
    // A file too large to back up is left whole rather than cut to a part.
    int64_t fileSize = FileSizeOf(path);
    if (fileSize < 0 || fileSize > kMaxUserFile) return;
    uint32_t size = 0;
    unsigned char* block = ReadWholeFile(path, kMaxUserFile, 14, &size);
    if (block == nullptr) return;
    uint32_t length = EndLastPhrase(block, size);
    uint32_t kept = SealPhraseFile(block, length);
    if (length != size || kept + 12 != size) WriteWholeFile(path, block, kept + 12);
    std::free(block);
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

    if (FileSizeOf(archivePath) < 0) {
        unsigned char header[kArchiveHeaderSize];
        PutArchiveHeader(header, 1, kArchiveHeaderSize, 0);
        if (!WriteWholeFile(archivePath, header, sizeof header)) return 0;
    }
    uint32_t end = 0, count = 0;
    if (!FindAppendPoint(archivePath, name, &end, &count)) return 0;

    int64_t fileSize = FileSizeOf(filePath);
    if (fileSize < 0 || fileSize > kMaxUserFile) return 0;
    uint32_t n = static_cast<uint32_t>(fileSize);
    // Room for what zlib may need for data that does not compress: a
    // dictionary that compresses badly is stored all the same.
    uint32_t bound = static_cast<uint32_t>(compressBound(n));
    unsigned char* block = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(n) + kDigestEntryHeaderSize + bound, 1));
    if (block == nullptr) return 0;
    uint32_t got = 0;
    int result = 0;
    unsigned char* entry = block + n;
    char digest[kDigestTextSize];
    uLongf packed = bound;
    if (ReadFilePrefix(filePath, block, n, &got)) {
        Md5Hex(block, got, digest);
        // An entry without a digest could never be restored.
        result = digest[0] != '\0' &&
                 compress(entry + kDigestEntryHeaderSize, &packed, block, got) == Z_OK && packed > 0 &&
                 PutEntryHeader(entry, 1, name, digest, static_cast<uint32_t>(packed));
    }
    if (result) {
        uint32_t entrySize = kDigestEntryHeaderSize + static_cast<uint32_t>(packed);
        unsigned char header[kArchiveHeaderSize];
        PutArchiveHeader(header, 1, end + entrySize, count + 1);
        // The entry first, then the header that counts it: an archive cut
        // short in between still reads as the entries before.
        result = WriteFileAt(archivePath, end, entry, entrySize) && WriteFileAt(archivePath, 0, header, sizeof header);
    }
    std::free(block);
    return result;
}

int BackupUserData() {
    // The backup reads the earlier installation's directory, whatever the
    // current one is. With none recorded nothing is touched.
    if (!IsUsableEarlierDir(g_ctx.previousInstallDir)) return 0;
    if (!StrCopy(g_ctx.installDir, g_ctx.previousInstallDir)) return 0;
    const char* dir = g_ctx.installDir;
    if (!JoinPath(g_ctx.backupArchivePath, dir, kBackupName)) return 0;
    // An archive that cannot be removed is not ours to append to.
    if (ForceDeleteFile(g_ctx.backupArchivePath) != 0) return 0;

    for (const BackupRow& row : kRows) {
        char path[kPathSize];
        if (!JoinPath(path, dir, row.stored)) return 0;
        if (row.kind == kCopied) {
            char source[kPathSize];
            // As before: a missing ".mfh" leaves an earlier twin to be stored.
            if (JoinPath(source, dir, row.source)) CopyFileOver(source, path);
            if (std::strcmp(row.stored, kPhraseTwin) == 0) SealPhraseTwin(path);
        }
        if (!AddFileToArchive(g_ctx.backupArchivePath, path) && row.kind != kOptional) return 0;
    }
    return 1;
}

void RestoreUserData() {
    char archive[kPathSize];
    if (g_ctx.workBuffer == nullptr || g_ctx.previousInstallDir[0] == '\0') return;
    if (!JoinPath(archive, g_ctx.installDir, kBackupName)) return;
    if (std::strcmp(g_ctx.installDir, g_ctx.previousInstallDir) != 0) {
        char earlier[kPathSize];
        if (JoinPath(earlier, g_ctx.previousInstallDir, kBackupName)) CopyFileOver(earlier, archive);
    }

    // No more is read than the backup can hold of the user's files. A longer
    // file is read in part, and what lies beyond counts as not restored.
    const uint32_t limit = kMaxUserFile;
    uint32_t size = 0;
    unsigned char* image = ReadWholeFile(archive, limit, 200, &size);
    if (image == nullptr) return;
    if (size < 100) {
        std::free(image);
        return;
    }
    // The backup never stores more than its 24 rows; a larger count is not
    // ours and would cost the user one message per entry.
    if (image[7] != 0 || image[8] != 0 || image[9] != 0 || image[6] > kBackupRowCount) {
        image[6] = kBackupRowCount;
        image[7] = image[8] = image[9] = 0;
    }

    // The user's files may have grown past the 2 MB of the work buffer (the
    // backup stores them whole): such a backup is extracted through a work
    // area as large as its largest entry, so that no dictionary is kept in
    // the archive only.
    uint32_t largest = LargestEntry(image, size);
    unsigned char* own = nullptr;
    if (largest > kMaxEntryDataSize)
        own = static_cast<unsigned char*>(std::calloc(WorkAreaSizeFor(largest), 1));
    if (own != nullptr)
        ExtractArchiveUpTo(image, size, own, WorkAreaSizeFor(largest), largest);
    else
        ExtractArchive(image, size, g_ctx.workBuffer, kWorkBufferSize);
    std::free(own);

    unsigned char* work = g_ctx.workBuffer;

    char* report = reinterpret_cast<char*>(work);
    char* tolerance = reinterpret_cast<char*>(work + kRestoreReportSize);
    tolerance[0] = '\0';
    // The report leaves room for the lines appended below.
    const uint32_t reportCap = kRestoreReportSize - sizeof kReportGap - sizeof kRestoreFailed;
    int good = VerifyExtractedFiles(image, size, report, reportCap, tolerance);
    if (report[0] != '\0') {
        StrAppend(report, kRestoreReportSize, kReportGap);
        StrAppend(report, kRestoreReportSize, kRestoreFailed);
        ShowMessageA(report, kCaptionA);
    } else {
        char text[64];
        if (StrFormat(text, sizeof text, kRestoreCount, good)) ShowMessageA(text, kCaptionA);
    }
    std::free(image);
}
