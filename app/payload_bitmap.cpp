#include "app/payload_bitmap.h"

#include <cstring>

#include "archive/mfz.h"
#include "base/context.h"

namespace {
uint32_t Le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t Le32(const unsigned char* p) { return Le16(p) | Le16(p + 2) << 16; }

int Min(int a, int b) { return a < b ? a : b; }

// The entry's name field holds name exactly, NUL-terminated inside the field.
// (A field without its NUL names nothing: comparing it as a C string would
// read into the digest or the data that follow it.)
bool EntryNamed(const ArchiveEntry& entry, const char* name) {
    size_t length = std::strlen(name);
    if (length >= entry.nameFieldSize) return false;
    return std::memcmp(entry.nameField, name, length) == 0 && entry.nameField[length] == '\0';
}

enum : uint32_t { kBiRgb = 0, kBiBitfields = 3 };
}  // namespace

uint32_t LoadPayloadEntry(const char* name) {
    if (g_ctx.payloadData == nullptr || g_ctx.workBuffer == nullptr || name == nullptr) return 0;
    unsigned char* out = g_ctx.workBuffer + kPayloadEntryOffset;
    out[0] = 0;
    out[1] = 0;
    // The walk ends at the first entry whose marker is missing or whose header
    // or data would run past the end of the payload.
    ArchiveWalk walk;
    if (!BeginArchiveWalk(&walk, g_ctx.payloadData, g_ctx.payloadSize)) return 0;
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        if (!EntryNamed(entry, name) || entry.dataSize == 0) continue;
        // The inflater writes no more than the room it is given and reports in
        // outLength how much came out, even when the stream is damaged or
        // longer than the room: only those bytes are ever looked at.
        uint32_t outLength = 0;
        ZlibInflate(entry.data, entry.dataSize, out, kWorkBufferSize - kPayloadEntryOffset, &outLength);
        return outLength;
    }
    return 0;
}

int CheckBitmapFile(const unsigned char* file, uint32_t length, BitmapFileLayout* layout) {
    if (file == nullptr || length < kBitmapFileHeaderSize + kBitmapInfoHeaderSize) return 0;
    if (file[0] != 'B' || file[1] != 'M') return 0;
    const unsigned char* info = file + kBitmapFileHeaderSize;
    // 64-bit sums: no header value, however large, can wrap a check.
    uint64_t infoSize = Le32(info);
    uint64_t pixelOffset = Le32(file + 10);
    int32_t width = static_cast<int32_t>(Le32(info + 4));
    int32_t height = static_cast<int32_t>(Le32(info + 8));
    uint32_t bitCount = Le16(info + 14);
    uint32_t compression = Le32(info + 16);
    uint32_t coloursUsed = Le32(info + 32);

    // Smaller (core) headers keep width and height elsewhere.
    if (infoSize < kBitmapInfoHeaderSize || kBitmapFileHeaderSize + infoSize > length) return 0;
    if (width <= 0 || height == 0) return 0;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return 0;
    if (compression != kBiRgb && !(compression == kBiBitfields && (bitCount == 16 || bitCount == 32))) return 0;

    // What Windows reads behind the header: three colour masks when a plain
    // 40-byte header asks for bit fields, and the colour table.
    // Every entry the header announces must be there, even beyond what the
    // bit count can use.
    uint64_t extra = 0;
    if (compression == kBiBitfields && infoSize == kBitmapInfoHeaderSize) extra += 12;
    uint64_t entries = coloursUsed != 0 ? coloursUsed : (bitCount <= 8 ? 1u << bitCount : 0);
    extra += entries * 4;
    if (kBitmapFileHeaderSize + infoSize + extra > length) return 0;

    uint64_t rows = height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height)) : static_cast<uint64_t>(height);
    uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
    if (pixelOffset > length || rows * stride > length - pixelOffset) return 0;

    layout->infoOffset = kBitmapFileHeaderSize;
    layout->pixelOffset = static_cast<uint32_t>(pixelOffset);
    layout->width = Le16(file + 18);
    layout->height = Le16(file + 22);
    return 1;
}

BitmapClip ClipPayloadBitmap(int maxRight, int maxBottom, int w, int h, int xDest, int yDest, int wDest, int hDest,
                             int xSrc, int ySrc, int wSrc, int hSrc) {
    BitmapClip c;
    int right = Min(maxRight, xDest + w);
    int bottom = Min(maxBottom, yDest + h);
    c.sx = Min(xSrc, w);
    c.sy = Min(ySrc, h);
    c.sw = Min(wSrc, w - c.sx);
    c.sh = Min(hSrc, h - c.sy);
    c.dx = Min(xDest, right);
    c.dy = Min(yDest, bottom);
    c.dw = c.dx < right ? wDest : 0;
    c.dh = c.dy < bottom ? hDest : 0;
    return c;
}
