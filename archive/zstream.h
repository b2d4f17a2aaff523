// zlib streams (RFC 1950 around RFC 1951 deflate data), as the archive
// stores each file: a compact inflater that reads every valid stream, and a
// compressor (LZ77 with the fixed Huffman codes, stored blocks where that is
// smaller). Both are setup's own, so that the program carries no general
// compression library; the packer on the build host may write its streams
// with any zlib-compatible compressor.
#pragma once
#include <cstdint>

enum ZStatus : int {
    kZDone = 0,    // the whole stream was read and its checksum matches
    kZBadData,     // not a zlib stream, damaged, or cut short
    kZNoRoom,      // the data goes on beyond the room given
};

// Decompresses the stream in[0..inLength) into out (room for outCap bytes).
// *produced is always the number of bytes written, also when the stream is
// damaged or too long. With out null only the bytes are counted (up to
// outCap). Bytes after the end of the stream are ignored.
ZStatus ZlibInflate(const unsigned char* in, uint32_t inLength, unsigned char* out, uint32_t outCap,
                    uint32_t* produced);

// The most room ZlibDeflate needs for length bytes.
uint32_t ZlibBound(uint32_t length);

// Compresses in[0..length) into out (room for cap >= ZlibBound(length)
// bytes). Level 0 stores the bytes as they are; any other level looks for
// repeats. 1 with *packed, 0 when cap is too small.
int ZlibDeflate(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t cap, uint32_t* packed, int level);
