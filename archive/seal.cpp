#include "archive/seal.h"

#include <cstring>

namespace {
// The byte at i, or 0 past the end: bytes beyond the content are neither a
// separator nor part of a double-byte character.
unsigned ByteAt(const unsigned char* data, uint32_t length, uint32_t i) { return i < length ? data[i] : 0u; }

void PutLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
}  // namespace

uint32_t SealPhraseFile(unsigned char* data, uint32_t length) {
    if (length >= 12 && std::memcmp(data + length - 12, "MOFA", 4) == 0) return length - 12;

    // The write index never passes the read index, so the content is
    // compacted in place and the trailer ends at most 12 bytes past length.
    uint32_t r = 0, w = 0, sum = 0, count = 0;
    while (r < length) {
        uint32_t runStart = w, chars = 0;
        while (ByteAt(data, length, r) > 0x80 && ByteAt(data, length, r + 1) > 0x3F) {
            // Every character met counts in the sum, also those of runs
            // dropped below: sealed files have always been summed this way.
            sum += data[r] + data[r + 1];
            data[w] = data[r];
            data[w + 1] = data[r + 1];
            w += 2;
            r += 2;
            ++chars;
        }
        if (chars >= 2 && ByteAt(data, length, r) == ';' && ByteAt(data, length, r + 1) == ' ') {
            ++count;
            data[w++] = ';';
            data[w++] = ' ';
            r += 2;
            continue;
        }
        // Not a word: drop the run and skip to the next separator, whose two
        // bytes are kept (only those inside the content).
        w = runStart;
        while (r < length && ByteAt(data, length, r) != ';' && ByteAt(data, length, r + 1) != ' ') ++r;
        for (int k = 0; k < 2 && r < length; ++k) data[w++] = data[r++];
    }
    std::memcpy(data + w, "MOFA", 4);
    PutLe32(data + w + 4, sum);
    PutLe32(data + w + 8, count);
    return w;
}
