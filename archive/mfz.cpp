#include "archive/mfz.h"

#include <cstdlib>
#include <cstring>

#include "base/captions.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
const char kEntryFailed[] = "没有成功解压复制%s文件";
const char kArchiveIncomplete[] = "文件解压不完整";
const char kReportClosing[] = "有文件没有成功解压，请重新下载安装！\r\n";
const char kPhraseFileName[] = "mofacyzk.bak";
const char kNameMarkers[] = "....";
// Paths are installDir (200 bytes) plus a name of at most 15 bytes.
const size_t kPathSize = 260;

uint32_t GetLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t NameFieldSize(int digestVariant) { return digestVariant ? kDigestNameFieldSize : kPlainNameFieldSize; }

// The stored digest text must be NUL-terminated inside its field; an empty
// computed text (no MD5 available) never matches, not even an empty field.
bool DigestMatches(const char* computed, const char* storedField) {
    if (computed[0] == '\0') return false;
    if (StrLenBounded(storedField, kDigestTextSize) >= kDigestTextSize) return false;
    return std::strcmp(computed, storedField) == 0;
}

bool IsDeviceName(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    // Windows looks at the part before the first dot, without trailing
    // spaces: "con.txt" and "COM1 .log" are devices too.
    size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    char upper[8];
    if (stem == 0 || stem >= sizeof upper) return false;
    for (size_t i = 0; i < stem; ++i) {
        char c = name[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    upper[stem] = '\0';
    for (const char* device : kDevices)
        if (std::strcmp(upper, device) == 0) return true;
    if (stem == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0))
        return upper[3] >= '1' && upper[3] <= '9';
    return false;
}

const uint32_t kWorkReserved = kWorkNameSlotSize + kWorkDigestGap + kDigestTextSize;

uint32_t WorkCapacity(uint32_t workAreaSize, uint32_t maxEntrySize) {
    if (workAreaSize <= kWorkReserved) return 0;
    uint32_t room = workAreaSize - kWorkReserved;
    return room < maxEntrySize ? room : maxEntrySize;
}

bool BuildTargetPath(char* path, const char* dir, const char* name) {
    return JoinPath(path, kPathSize, dir, name);
}

// An entry that inflates to no bytes is an empty file only when its digest
// says so: the backup stores empty user files, which must come back empty.
// The plain variant carries no digest to prove it and keeps failing.
bool InflateForWrite(const ArchiveEntry& entry, unsigned char* out, uint32_t cap, uint32_t* produced) {
    if (InflateEntry(&entry, out, cap, produced)) return true;
    if (entry.digestText == nullptr) return false;
    uint32_t produced0 = 0;
    return ZlibInflate(entry.data, entry.dataSize, out, cap, &produced0) == kZDone && produced0 == 0;
}

// Decompresses, checks and writes one entry; the caller reports a failure:
// a damaged entry, or the error of the write.
Outcome WriteEntry(const char* dir, const ArchiveEntry& entry, const char* name, unsigned char* workArea,
                   uint32_t workAreaSize, uint32_t maxEntrySize) {
    const Outcome damaged = FailedWith(kErrorDamagedData);
    if (!IsPlainEntryName(entry.nameField, entry.nameFieldSize)) return damaged;
    char target[kPathSize];
    if (!BuildTargetPath(target, dir, name)) return damaged;
    uint32_t capacity = WorkCapacity(workAreaSize, maxEntrySize);
    if (workArea == nullptr || capacity == 0) return damaged;

    unsigned char* data = workArea + kWorkNameSlotSize;
    uint32_t produced = 0;
    if (!InflateForWrite(entry, data, capacity, &produced)) return damaged;
    if (entry.digestText != nullptr) {
        char* digest = reinterpret_cast<char*>(data + produced + kWorkDigestGap);
        Md5Hex(data, produced, digest);
        if (!DigestMatches(digest, entry.digestText)) {
            Log("entry %s: its digest does not match", name);
            return damaged;
        }
    }
    Log("entry %s: %u bytes, digest %s", name, produced, entry.digestText != nullptr ? "verified" : "not stored");

    uint32_t length = produced;
    // The capacity leaves the digest gap and text behind the data: room for
    // the 12-byte trailer.
    if (std::strcmp(name, kPhraseFileName) == 0) length = SealPhraseFile(data, produced) + 12;
    // The file there is replaced only by a whole new one: a write that fails
    // (a full disk) leaves it as it was.
    Outcome written = ReplaceFileWith(target, data, length);
    if (written || !FilePresent(target)) return written;
    // A target that cannot be replaced in place (a module in use) is moved
    // aside first; if even that fails (a full disk), the entry is reported
    // by the error of its write, and the file moved aside for nothing takes
    // its name again.
    char aside[kPathSize];
    if (!MoveLockedFileAside(target, aside, sizeof aside)) return written;
    written = ReplaceFileWith(target, data, length);
    if (!written) RenameFile(aside, target);
    return written;
}


// Appends name and "...." while the closing line still fits behind it.
void AppendReportName(char* report, uint32_t reportCap, const char* name) {
    if (report == nullptr || reportCap == 0) return;
    size_t have = StrLenBounded(report, reportCap);
    size_t need = have + std::strlen(name) + std::strlen(kNameMarkers) + std::strlen(kReportClosing) + 1;
    if (need > reportCap) return;
    StrAppend(report, reportCap, name);
    StrAppend(report, reportCap, kNameMarkers);
}
}  // namespace

// ---- The walk ----

int BeginArchiveWalk(ArchiveWalk* walk, const unsigned char* image, uint32_t imageSize) {
    std::memset(walk, 0, sizeof *walk);
    walk->image = image;
    walk->imageSize = imageSize;
    if (image == nullptr || imageSize < kArchiveHeaderSize) {
        walk->end = kWalkNoHeader;
        return 0;
    }
    walk->digestVariant = image[1] == '0' ? 1 : 0;
    walk->count = GetLe32(image + 6);
    walk->position = kArchiveHeaderSize;
    walk->end = walk->count == 0 ? kWalkComplete : kWalkGoing;
    return 1;
}

int NextArchiveEntry(ArchiveWalk* walk, ArchiveEntry* entry) {
    if (walk->end != kWalkGoing) return 0;
    if (walk->index >= walk->count) {
        walk->end = kWalkComplete;
        return 0;
    }
    // position never passes imageSize, so the subtractions cannot wrap.
    const unsigned char* p = walk->image + walk->position;
    uint32_t remaining = walk->imageSize - walk->position;
    uint32_t header = ArchiveEntryHeaderSize(walk->digestVariant);
    if (remaining >= 2 && (p[0] != 'C' || p[1] != 'F')) {
        walk->end = kWalkMissingMarker;
        return 0;
    }
    if (remaining < header) {
        walk->end = kWalkTruncated;
        return 0;
    }
    uint32_t dataSize = GetLe32(p + header - 4);
    if (dataSize > remaining - header) {
        walk->end = kWalkTruncated;
        return 0;
    }
    entry->nameField = reinterpret_cast<const char*>(p + 2);
    entry->nameFieldSize = NameFieldSize(walk->digestVariant);
    entry->digestText = walk->digestVariant ? reinterpret_cast<const char*>(p + 2 + kDigestNameFieldSize) : nullptr;
    entry->data = p + header;
    entry->dataSize = dataSize;
    entry->offset = walk->position;
    walk->position += header + dataSize;
    ++walk->index;
    return 1;
}

void CopyEntryName(const ArchiveEntry* entry, char* out, uint32_t cap) {
    if (cap == 0) return;
    size_t n = StrLenBounded(entry->nameField, entry->nameFieldSize);
    if (n > cap - 1) n = cap - 1;
    std::memcpy(out, entry->nameField, n);
    out[n] = '\0';
}

int InflateEntry(const ArchiveEntry* entry, unsigned char* out, uint32_t cap, uint32_t* produced) {
    *produced = 0;
    if (cap == 0) return 0;
    // Never more is written than the capacity given; a larger output fails.
    uint32_t outLength = 0;
    if (ZlibInflate(entry->data, entry->dataSize, out, cap, &outLength) != kZDone || outLength == 0) return 0;
    *produced = outLength;
    return 1;
}

int MeasureEntry(const ArchiveEntry* entry, uint32_t limit, uint32_t* size) {
    *size = 0;
    uint32_t total = 0;
    if (ZlibInflate(entry->data, entry->dataSize, nullptr, limit, &total) != kZDone) return 0;
    *size = total;
    return 1;
}

// ---- Names ----

int IsPlainEntryName(const char* field, uint32_t fieldSize) {
    if (field == nullptr || fieldSize == 0) return 0;
    size_t length = StrLenBounded(field, fieldSize);
    if (length == 0 || length >= fieldSize) return 0;  // empty, or not terminated inside its field
    const unsigned char* s = reinterpret_cast<const unsigned char*>(field);
    // Separators are refused as any byte, even as the trail byte of a
    // double-byte character: a name is judged on the byte string as Windows
    // sees it, and no trail byte is ever taken for granted.
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = s[i];
        if (c >= 0x81 && c <= 0xFE) {
            if (i + 1 >= length) return 0;  // lead byte without its trail byte
            unsigned char trail = s[i + 1];
            if (trail < 0x40 || trail == 0x5C || trail == 0x7F || trail == 0xFF) return 0;
            ++i;
            continue;
        }
        if (c < 0x20 || c >= 0x7F) return 0;
        if (std::strchr("\\/:*?\"<>|", c) != nullptr || (c == '.' && s[i + 1] == '.')) return 0;
    }
    // Windows drops trailing dots and spaces: the file written would not
    // carry the entry's name (and "." is the directory itself).
    if (s[length - 1] == '.' || s[length - 1] == ' ') return 0;
    return IsDeviceName(field) ? 0 : 1;
}

// ---- Digests ----

void Md5Hex(const void* data, uint32_t length, char* digestOut) {
    static const char kHex[] = "0123456789ABCDEF";
    std::memset(digestOut, 0, kDigestTextSize);
    unsigned char digest[16];
    if (!Md5Bytes(data, length, digest)) return;
    for (int i = 0; i < 16; ++i) {
        digestOut[2 * i] = kHex[digest[i] >> 4];
        digestOut[2 * i + 1] = kHex[digest[i] & 0xF];
    }
}

uint32_t FileMd5Hex(const char* path, char* digestOut) {
    std::memset(digestOut, 0, kDigestTextSize);
    int64_t size = FileSizeOf(path);
    if (size < 0 || size > static_cast<int64_t>(UINT32_MAX - 500)) return 0;
    uint32_t fileSize = static_cast<uint32_t>(size);
    unsigned char* block = static_cast<unsigned char*>(std::calloc(fileSize + 500u, 1));
    if (block == nullptr) return 0;
    uint32_t got = 0;
    // Up to 100 bytes more than the size taken: a file that grew meanwhile
    // still digests as what was read.
    if (!ReadFilePrefix(path, block, fileSize + 100u, &got)) {
        std::free(block);
        return 0;
    }
    Md5Hex(block, got, digestOut);
    std::free(block);
    return got;
}

// ---- Extraction and verification ----

int ExtractArchive(const char* dir, const unsigned char* image, uint32_t imageSize, unsigned char* workArea,
                   uint32_t workAreaSize) {
    return ExtractArchiveUpTo(dir, image, imageSize, workArea, workAreaSize, kMaxEntryDataSize);
}

uint32_t WorkAreaSizeFor(uint32_t dataSize) {
    return dataSize > UINT32_MAX - kWorkReserved ? UINT32_MAX : dataSize + kWorkReserved;
}

int ExtractArchiveUpTo(const char* dir, const unsigned char* image, uint32_t imageSize, unsigned char* workArea,
                       uint32_t workAreaSize, uint32_t maxEntrySize) {
    ArchiveWalk walk;
    if (!BeginArchiveWalk(&walk, image, imageSize)) return 0;
    uint32_t written = 0;
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        char name[kDigestNameFieldSize + 1];
        CopyEntryName(&entry, name, sizeof name);
        if (workArea != nullptr && workAreaSize >= kWorkNameSlotSize)
            StrCopyCut(reinterpret_cast<char*>(workArea), kWorkNameSlotSize, name);
        // The first entry that cannot be written ends the extraction and
        // names itself; the caller tells the user.
        Outcome entryWritten = WriteEntry(dir, entry, name, workArea, workAreaSize, maxEntrySize);
        if (!entryWritten) {
            NoteFailure(kEntryFailed, "extract", name, entryWritten.error);
            return 0;
        }
        ++written;
    }
    if (written != walk.count) NoteFailure(kArchiveIncomplete, "read the archive", "", 0);
    return written == walk.count ? 1 : 0;
}

int CheckArchiveWhole(const unsigned char* image, uint32_t imageSize, unsigned char* workArea, uint32_t workAreaSize,
                      uint32_t* sizes, uint32_t sizeCount) {
    ArchiveWalk walk;
    if (!BeginArchiveWalk(&walk, image, imageSize) || workArea == nullptr) {
        NoteFailure(kArchiveIncomplete, "read the payload", "", 0);
        return 0;
    }
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        char name[kDigestNameFieldSize + 1];
        CopyEntryName(&entry, name, sizeof name);
        uint32_t produced = 0;
        char digest[kDigestTextSize];
        bool whole = IsPlainEntryName(entry.nameField, entry.nameFieldSize) && entry.digestText != nullptr &&
                     InflateForWrite(entry, workArea, workAreaSize, &produced);
        if (whole) Md5Hex(workArea, produced, digest);
        if (!whole || !DigestMatches(digest, entry.digestText)) {
            Log("payload entry %s is damaged", name);
            NoteFailure(kEntryFailed, "verify the payload entry", name, 0);
            return 0;
        }
        if (walk.index <= sizeCount) sizes[walk.index - 1] = produced;
    }
    if (walk.index == walk.count) return 1;
    Log("the payload holds %u of its %u entries", walk.index, walk.count);
    NoteFailure(kArchiveIncomplete, "read the payload", "", 0);
    return 0;
}

int VerifyExtractedFiles(const char* dir, const unsigned char* image, uint32_t imageSize, char* report,
                         uint32_t reportCap, const char* toleranceList) {
    if (report != nullptr && reportCap > 0) report[0] = '\0';
    ArchiveWalk walk;
    bool readable = BeginArchiveWalk(&walk, image, imageSize) != 0;
    uint32_t good = 0;
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        char name[kDigestNameFieldSize + 1];
        CopyEntryName(&entry, name, sizeof name);
        bool pass = false;
        char path[kPathSize];
        // A name that does not stay inside the install directory is never
        // opened: it cannot have been extracted.
        if (IsPlainEntryName(entry.nameField, entry.nameFieldSize) && BuildTargetPath(path, dir, name)) {
            char digest[kDigestTextSize];
            uint32_t got = FileMd5Hex(path, digest);
            pass = entry.digestText != nullptr ? DigestMatches(digest, entry.digestText) : got >= entry.dataSize;
        }
        if (!pass && entry.digestText != nullptr && toleranceList != nullptr && ContainsText(toleranceList, name))
            pass = true;
        if (pass)
            ++good;
        else
            AppendReportName(report, reportCap, name);
    }
    if ((!readable || good < walk.count) && report != nullptr && reportCap > 0)
        StrAppend(report, reportCap, kReportClosing);
    return static_cast<int>(good);
}

// ---- Writing ----

uint32_t ArchiveEntryHeaderSize(int digestVariant) {
    return digestVariant ? kDigestEntryHeaderSize : kPlainEntryHeaderSize;
}

uint32_t ArchiveEntryBound(uint32_t dataSize) {
    return kDigestEntryHeaderSize + ZlibBound(dataSize);
}

void PutArchiveHeader(unsigned char* out, int digestVariant, uint32_t totalLength, uint32_t count) {
    out[0] = digestVariant ? 'C' : 'M';
    out[1] = digestVariant ? '0' : 'F';
    PutLe32(out + 2, totalLength);
    PutLe32(out + 6, count);
}

int PutEntryHeader(unsigned char* out, int digestVariant, const char* name, const char* digestText,
                   uint32_t compressedLength) {
    uint32_t field = NameFieldSize(digestVariant);
    if (!IsPlainEntryName(name, field)) return 0;
    uint32_t header = ArchiveEntryHeaderSize(digestVariant);
    std::memset(out, 0, header);
    out[0] = 'C';
    out[1] = 'F';
    std::memcpy(out + 2, name, std::strlen(name));
    if (digestVariant && !StrCopy(reinterpret_cast<char*>(out + 2 + field), kDigestTextSize, digestText)) return 0;
    PutLe32(out + header - 4, compressedLength);
    return 1;
}

int BeginArchive(ArchiveWriter* writer, unsigned char* buffer, uint32_t capacity, int digestVariant) {
    std::memset(writer, 0, sizeof *writer);
    if (buffer == nullptr || capacity < kArchiveHeaderSize) return 0;
    writer->buffer = buffer;
    writer->capacity = capacity;
    writer->digestVariant = digestVariant ? 1 : 0;
    writer->size = kArchiveHeaderSize;
    PutArchiveHeader(buffer, writer->digestVariant, writer->size, 0);
    return 1;
}

int AppendPackedEntry(ArchiveWriter* writer, const char* name, const void* data, uint32_t length,
                      const unsigned char* packed, uint32_t packedLength) {
    if (writer->buffer == nullptr || packedLength == 0) return 0;
    int digestVariant = writer->digestVariant;
    uint32_t header = ArchiveEntryHeaderSize(digestVariant);
    if (!IsPlainEntryName(name, NameFieldSize(digestVariant))) return 0;
    if (writer->capacity - writer->size < header || writer->capacity - writer->size - header < packedLength) return 0;
    char digest[kDigestTextSize] = {};
    if (digestVariant) {
        Md5Hex(data, length, digest);
        if (digest[0] == '\0') return 0;
    }
    unsigned char* entry = writer->buffer + writer->size;
    std::memmove(entry + header, packed, packedLength);
    if (!PutEntryHeader(entry, digestVariant, name, digest, packedLength)) return 0;
    writer->size += header + packedLength;
    ++writer->count;
    PutArchiveHeader(writer->buffer, digestVariant, writer->size, writer->count);
    return 1;
}

int AppendArchiveEntry(ArchiveWriter* writer, const char* name, const void* data, uint32_t length, int level) {
    if (writer->buffer == nullptr) return 0;
    uint32_t header = ArchiveEntryHeaderSize(writer->digestVariant);
    if (writer->capacity - writer->size <= header) return 0;
    // Compressed in place, where the entry's data goes.
    unsigned char* at = writer->buffer + writer->size + header;
    uint32_t packed = 0;
    if (!ZlibDeflate(static_cast<const unsigned char*>(data), length, at, writer->capacity - writer->size - header,
                     &packed, level))
        return 0;
    return AppendPackedEntry(writer, name, data, length, at, packed);
}

int ArchiveHoldsFile(const unsigned char* image, uint32_t imageSize, const char* name, const void* data,
                     uint32_t length) {
    ArchiveWalk walk;
    ArchiveEntry entry;
    char stored[kDigestNameFieldSize + 1], digest[kDigestTextSize];
    if (image == nullptr || !BeginArchiveWalk(&walk, image, imageSize)) return 0;
    Md5Hex(data, length, digest);
    while (NextArchiveEntry(&walk, &entry)) {
        CopyEntryName(&entry, stored, sizeof stored);
        if (std::strcmp(stored, name) == 0) return entry.digestText != nullptr && DigestMatches(digest, entry.digestText);
    }
    return 0;
}
