// The payload archive: one container format for the embedded payload, the
// skin archives inside it and the user-data backup. Little-endian, no
// alignment:
//
//   header (10): signature (2; second byte "0" = digest variant), total
//                length (4, kept by writers, ignored by readers), count (4)
//   digest entry (56 + n): "CF", name (16), digest text (34), length (4), data
//   plain entry  (20 + n): "CF", name (14), length (4), data
//
// Each entry's data is a zlib stream of one whole file. Portable code: no
// Windows header; MD5 comes from md5_win.cpp or md5_host.cpp.
#pragma once
#include <cstdint>

#include "archive/seal.h"
#include "archive/zstream.h"
#include "base/text.h"

enum : uint32_t {
    kArchiveHeaderSize = 10,
    kDigestEntryHeaderSize = 56,
    kPlainEntryHeaderSize = 20,
    kDigestNameFieldSize = 16,
    kPlainNameFieldSize = 14,
    kDigestTextSize = 34,
    // Work area of ExtractArchive: name slot, then the data, then after a
    // gap the digest text of the data.
    kWorkNameSlotSize = 100,
    kWorkDigestGap = 10,
    kMaxEntryDataSize = 0x200000,  // 2,097,152 bytes
};

// Writes every entry of the archive into the directory dir. 1 when every
// entry counted in the header was written; 0 at the first entry that could
// not be, with the cause recorded (base/failure.h), or when the archive
// holds fewer entries than it counts. image may be null (no payload): returns 0. A digest-
// variant entry whose digest is that of no bytes is written as an empty file.
int ExtractArchive(const char* dir, const unsigned char* image, uint32_t imageSize, unsigned char* workArea,
                   uint32_t workAreaSize);

// ExtractArchive with another bound on one entry's decompressed size than the
// 2,097,152 bytes of the work buffer: the restore of the user's own files,
// which may have grown past it. The work area must hold maxEntrySize bytes
// behind its name slot, and the digest gap and text behind them.
int ExtractArchiveUpTo(const char* dir, const unsigned char* image, uint32_t imageSize, unsigned char* workArea,
                       uint32_t workAreaSize, uint32_t maxEntrySize);

// 1 when every entry the header counts is there, has a plain name, inflates
// into workArea (at most workAreaSize bytes) and matches its stored digest:
// the whole payload checked before anything is written. 0 with the cause
// recorded otherwise; a plain-variant archive carries no digests and fails.
// The size each of the first sizeCount entries inflates to goes to sizes.
int CheckArchiveWhole(const unsigned char* image, uint32_t imageSize, unsigned char* workArea, uint32_t workAreaSize,
                      uint32_t* sizes = nullptr, uint32_t sizeCount = 0);

// Work-area size ExtractArchiveUpTo needs for entries of up to dataSize bytes.
uint32_t WorkAreaSizeFor(uint32_t dataSize);

// Checks the files in the directory dir against the archive. Returns the good
// count; the names of the others (each followed by "....") and, when any
// failed, a closing line are built in report (capacity reportCap, never
// overrun). Names found in toleranceList (ContainsText) pass.
int VerifyExtractedFiles(const char* dir, const unsigned char* image, uint32_t imageSize, char* report,
                         uint32_t reportCap, const char* toleranceList);

// MD5 of the bytes as 32 uppercase hex digits and two NULs (34 bytes); an
// empty text when no digest could be computed.
void Md5Hex(const void* data, uint32_t length, char* digestOut);
// Digest text of a whole file; returns the number of bytes read (0 when the
// file cannot be opened or no memory is available).
uint32_t FileMd5Hex(const char* path, char* digestOut);
// The platform's MD5: 16 bytes into digest, 1 on success, 0 when no MD5 is
// available.
int Md5Bytes(const void* data, uint32_t length, unsigned char* digest);
// 1 when the digest archive image holds an entry named name whose stored
// digest is that of the length bytes at data.
int ArchiveHoldsFile(const unsigned char* image, uint32_t imageSize, const char* name, const void* data,
                     uint32_t length);

// 1 when the NUL-terminated name inside a field of fieldSize bytes is a plain
// base name that names a file directly inside the install directory.
int IsPlainEntryName(const char* field, uint32_t fieldSize);

// ---- Reading: the entry walk, bounded by the image size ----

enum : int {
    kWalkGoing = 0,
    kWalkComplete,       // every counted entry was read
    kWalkNoHeader,       // no image, or shorter than the header
    kWalkMissingMarker,  // an entry without its "CF" marker
    kWalkTruncated,      // an entry header or its data runs past the image
};

struct ArchiveEntry {
    const char* nameField;      // not necessarily NUL-terminated
    uint32_t nameFieldSize;     // 16 or 14
    const char* digestText;     // the 34-byte field; null in the plain variant
    const unsigned char* data;  // the zlib stream
    uint32_t dataSize;
    uint32_t offset;  // of the entry header in the image
};

struct ArchiveWalk {
    const unsigned char* image;
    uint32_t imageSize;
    uint32_t position;
    uint32_t count;  // entries announced by the header
    uint32_t index;  // entries yielded so far
    int digestVariant;
    int end;  // kWalk*
};

// Starts a walk; 1 when the image has a header (count may still be 0).
int BeginArchiveWalk(ArchiveWalk* walk, const unsigned char* image, uint32_t imageSize);
// 1 with the next entry, 0 when the walk has ended (walk->end says why).
int NextArchiveEntry(ArchiveWalk* walk, ArchiveEntry* entry);
// The entry's name, cut to fit and NUL-terminated (for messages and lists).
void CopyEntryName(const ArchiveEntry* entry, char* out, uint32_t cap);
// Decompresses an entry into out (capacity cap): 1 with *produced when zlib
// reports success and at least one byte came out.
int InflateEntry(const ArchiveEntry* entry, unsigned char* out, uint32_t cap, uint32_t* produced);

// Decompressed size of an entry, counted without keeping the data: 1 with
// *size when the stream is whole and yields at most limit bytes, else 0.
int MeasureEntry(const ArchiveEntry* entry, uint32_t limit, uint32_t* size);

// ---- Writing ----

uint32_t ArchiveEntryHeaderSize(int digestVariant);
// Largest size an entry of dataSize bytes can take (header included).
uint32_t ArchiveEntryBound(uint32_t dataSize);
void PutArchiveHeader(unsigned char* out, int digestVariant, uint32_t totalLength, uint32_t count);
// Fills a zeroed entry header; digestText is used by the digest variant only.
// 0 when the name is not a plain name or does not fit its field.
int PutEntryHeader(unsigned char* out, int digestVariant, const char* name, const char* digestText,
                   uint32_t compressedLength);

// Builds an archive in a caller's buffer; after every append the buffer's
// first `size` bytes are a complete archive.
struct ArchiveWriter {
    unsigned char* buffer;
    uint32_t capacity;
    uint32_t size;
    uint32_t count;
    int digestVariant;
};

// 0 when the buffer cannot hold the header.
int BeginArchive(ArchiveWriter* writer, unsigned char* buffer, uint32_t capacity, int digestVariant);
// Compresses data (level 0 stores it) and appends it as an entry named name.
// 1 on success; 0 leaves the archive as it was (bad name, no room).
int AppendArchiveEntry(ArchiveWriter* writer, const char* name, const void* data, uint32_t length, int level);
// Appends an entry whose zlib stream of data was made elsewhere (packed).
int AppendPackedEntry(ArchiveWriter* writer, const char* name, const void* data, uint32_t length,
                      const unsigned char* packed, uint32_t packedLength);
