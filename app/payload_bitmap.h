// A picture taken straight out of the payload: one entry decompressed into
// the work buffer, its bitmap header checked against the bytes that really
// came out, and the clipping of the source and destination rectangles.
// Portable code: no Windows header; app/pages.cpp does the drawing.
#pragma once
#include <cstdint>

enum : uint32_t {
    kPayloadEntryOffset = 100,  // where LoadPayloadEntry puts the file in workBuffer
    kBitmapFileHeaderSize = 14,
    kBitmapInfoHeaderSize = 40,
};

// Decompresses the first payload entry called name (exact bytes, compared
// inside its name field) with data into g_ctx.workBuffer from byte 100 on.
// Returns the number of bytes produced: 0 when there is no payload, no work
// buffer or no such entry. Bytes 100 and 101 are cleared first, so a missing
// entry never leaves an earlier file looking like a picture.
uint32_t LoadPayloadEntry(const char* name);

// Where the parts of a bitmap file lie; every offset is relative to the file
// start and all of them stay inside the length that was checked.
struct BitmapFileLayout {
    uint32_t infoOffset;   // the bitmap information header (always 14)
    uint32_t pixelOffset;  // first byte of the pixel rows
    uint32_t width;        // the low 16 bits of the width, as the clipping uses
    uint32_t height;       // the low 16 bits of the height
};

// 1 when file[0..length) is a "BM" picture that can be drawn without reading
// past length: the information header (14 + its size), its colour masks and
// colour table, the pixel offset and rows x stride for its bit count all lie
// inside. Only uncompressed pictures (BI_RGB, BI_BITFIELDS) of 1, 4, 8, 16,
// 24 or 32 bits per pixel pass.
int CheckBitmapFile(const unsigned char* file, uint32_t length, BitmapFileLayout* layout);

// The source and destination rectangles of one picture after clipping.
struct BitmapClip {
    int sx, sy, sw, sh;
    int dx, dy, dw, dh;
};

// Clips a picture of width w and height h: the source rectangle is cut to the
// picture, and the destination gets width (height) 0 when it starts at or
// beyond min(maxRight, xDest + w) (min(maxBottom, yDest + h)).
BitmapClip ClipPayloadBitmap(int maxRight, int maxBottom, int w, int h, int xDest, int yDest, int wDest, int hDest,
                             int xSrc, int ySrc, int wSrc, int hSrc);
