#include "archive/zstream.h"

#include <cstdlib>
#include <cstring>

namespace {
const uint32_t kWindowSize = 32768;
const uint32_t kStoredMax = 65535;  // bytes of one stored block

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

uint32_t Adler32(uint32_t adler, const unsigned char* data, uint32_t length) {
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length > 0) {
        uint32_t n = length < 5552 ? length : 5552;  // no overflow of b before the modulo
        length -= n;
        while (n-- > 0) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

uint32_t Reversed(uint32_t code, int length) {
    uint32_t out = 0;
    for (int i = 0; i < length; ++i, code >>= 1) out = out << 1 | (code & 1);
    return out;
}

// ---- Reading ----

struct BitReader {
    const unsigned char* in;
    uint32_t length;
    uint32_t pos;
    uint64_t bits;  // the next bits, first in the lowest
    int count;
};

void Refill(BitReader& r) {
    while (r.count <= 56 && r.pos < r.length) {
        r.bits |= static_cast<uint64_t>(r.in[r.pos++]) << r.count;
        r.count += 8;
    }
}

// 1 with the next n bits (n <= 16) in *value; 0 when the input has ended.
int Take(BitReader& r, int n, uint32_t* value) {
    if (r.count < n) Refill(r);
    if (r.count < n) return 0;
    *value = static_cast<uint32_t>(r.bits & ((1u << n) - 1));
    r.bits >>= n;
    r.count -= n;
    return 1;
}

// A canonical Huffman code: codes of up to 9 bits found in one look, longer
// ones counted out bit by bit.
const int kFastBits = 9;
struct Huffman {
    uint32_t fast[1 << kFastBits];  // symbol | length << 16 by the next 9 bits; 0: a longer code
    uint16_t count[16];             // codes of each length
    uint16_t symbol[288];           // the symbols in code order
    int longest;
};

// Builds the code of the lengths of n symbols. Returns the unused part of the
// code space: 0 complete, above 0 incomplete, below 0 over-subscribed.
int BuildHuffman(Huffman& h, const uint8_t* lengths, int n) {
    std::memset(h.count, 0, sizeof h.count);
    std::memset(h.fast, 0, sizeof h.fast);
    for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
    h.longest = 0;
    int left = 1;
    for (int len = 1; len <= 15; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0) return left;
        if (h.count[len] != 0) h.longest = len;
    }
    uint16_t offset[16] = {0};
    for (int len = 1; len < 15; ++len) offset[len + 1] = static_cast<uint16_t>(offset[len] + h.count[len]);
    for (int i = 0; i < n; ++i)
        if (lengths[i] != 0) h.symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 15; ++len, code <<= 1) {
        for (int i = 0; i < h.count[len]; ++i, ++code, ++k) {
            if (len > kFastBits) continue;
            for (uint32_t fill = Reversed(code, len); fill < (1u << kFastBits); fill += 1u << len)
                h.fast[fill] = h.symbol[k] | static_cast<uint32_t>(len) << 16;
        }
    }
    return left;
}

// A code of literals/lengths or distances may be incomplete only when it has
// a single code of one bit (as zlib accepts); over-subscribed never.
bool Usable(const Huffman& h, int left) { return left == 0 || (left > 0 && h.longest <= 1); }

// The next symbol, or -1 for a code that is not in the table or input that
// has ended.
int Decode(BitReader& r, const Huffman& h) {
    if (r.count < 15) Refill(r);
    uint32_t entry = h.fast[r.bits & ((1u << kFastBits) - 1)];
    if (entry != 0 && static_cast<int>(entry >> 16) <= r.count) {
        r.bits >>= entry >> 16;
        r.count -= static_cast<int>(entry >> 16);
        return static_cast<int>(entry & 0xFFFF);
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15 && len <= r.count; ++len) {
        code |= static_cast<int>((r.bits >> (len - 1)) & 1);
        int count = h.count[len];
        if (code - first < count) {
            r.bits >>= len;
            r.count -= len;
            return h.symbol[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// Where the bytes go: the caller's buffer, or (counting only) a window of the
// last 32 KB that the repeats read from.
struct Output {
    unsigned char* buffer;
    uint32_t cap;
    uint32_t pos;
    unsigned char* window;
    uint32_t adler;  // counting only: the checksum as the bytes go by
};

inline int Put(Output& o, unsigned char c) {
    if (o.pos >= o.cap) return 0;
    if (o.buffer != nullptr) {
        o.buffer[o.pos] = c;
    } else {
        o.window[o.pos & (kWindowSize - 1)] = c;
        o.adler = Adler32(o.adler, &c, 1);
    }
    ++o.pos;
    return 1;
}

ZStatus Repeat(Output& o, uint32_t distance, uint32_t length) {
    if (distance > o.pos || distance > kWindowSize) return kZBadData;
    if (o.buffer != nullptr) {
        // Byte by byte: a repeat may overlap the bytes it produces.
        uint32_t n = o.cap - o.pos < length ? o.cap - o.pos : length;
        unsigned char* to = o.buffer + o.pos;
        const unsigned char* from = to - distance;
        for (uint32_t i = 0; i < n; ++i) to[i] = from[i];
        o.pos += n;
        return n == length ? kZDone : kZNoRoom;
    }
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t from = o.pos - distance;
        unsigned char c = o.buffer != nullptr ? o.buffer[from] : o.window[from & (kWindowSize - 1)];
        if (!Put(o, c)) return kZNoRoom;
    }
    return kZDone;
}

ZStatus InflateCodes(BitReader& r, Output& o, const Huffman& literals, const Huffman& distances) {
    for (;;) {
        int symbol = Decode(r, literals);
        if (symbol < 0) return kZBadData;
        if (symbol < 256) {
            if (o.buffer != nullptr && o.pos < o.cap)
                o.buffer[o.pos++] = static_cast<unsigned char>(symbol);
            else if (!Put(o, static_cast<unsigned char>(symbol)))
                return kZNoRoom;
            continue;
        }
        if (symbol == 256) return kZDone;
        symbol -= 257;
        uint32_t extra = 0, length, distance;
        if (symbol >= 29 || !Take(r, kLengthExtra[symbol], &extra)) return kZBadData;
        length = kLengthBase[symbol] + extra;
        symbol = Decode(r, distances);
        if (symbol < 0 || symbol >= 30 || !Take(r, kDistanceExtra[symbol], &extra)) return kZBadData;
        distance = kDistanceBase[symbol] + extra;
        ZStatus repeated = Repeat(o, distance, length);
        if (repeated != kZDone) return repeated;
    }
}

ZStatus InflateStored(BitReader& r, Output& o) {
    uint32_t skip, length, complement;
    if (!Take(r, r.count % 8, &skip) || !Take(r, 16, &length) || !Take(r, 16, &complement)) return kZBadData;
    if (length != (~complement & 0xFFFF)) return kZBadData;
    // The whole bytes already read, then straight from the input.
    while (length > 0 && r.count >= 8) {
        uint32_t byte = 0;
        Take(r, 8, &byte);
        if (!Put(o, static_cast<unsigned char>(byte))) return kZNoRoom;
        --length;
    }
    if (length > r.length - r.pos) return kZBadData;
    for (; length > 0; --length)
        if (!Put(o, r.in[r.pos++])) return kZNoRoom;
    return kZDone;
}

ZStatus InflateFixed(BitReader& r, Output& o) {
    static Huffman literals, distances;
    static bool built = false;
    if (!built) {
        uint8_t lengths[288];
        for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        BuildHuffman(literals, lengths, 288);
        for (int i = 0; i < 30; ++i) lengths[i] = 5;
        BuildHuffman(distances, lengths, 30);
        built = true;
    }
    return InflateCodes(r, o, literals, distances);
}

ZStatus InflateDynamic(BitReader& r, Output& o) {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint32_t literalCount, distanceCount, codeCount;
    if (!Take(r, 5, &literalCount) || !Take(r, 5, &distanceCount) || !Take(r, 4, &codeCount)) return kZBadData;
    literalCount += 257;
    distanceCount += 1;
    codeCount += 4;
    if (literalCount > 286 || distanceCount > 30) return kZBadData;

    uint8_t lengths[320] = {0};
    for (uint32_t i = 0; i < codeCount; ++i) {
        uint32_t length = 0;
        if (!Take(r, 3, &length)) return kZBadData;
        lengths[kOrder[i]] = static_cast<uint8_t>(length);
    }
    Huffman* codes = static_cast<Huffman*>(std::malloc(3 * sizeof(Huffman)));
    if (codes == nullptr) return kZBadData;
    Huffman& lengthCode = codes[0];
    Huffman& literals = codes[1];
    Huffman& distances = codes[2];
    ZStatus status = kZBadData;
    uint32_t total = literalCount + distanceCount, index = 0;
    if (BuildHuffman(lengthCode, lengths, 19) != 0) goto done;  // must be complete
    std::memset(lengths, 0, sizeof lengths);
    while (index < total) {
        int symbol = Decode(r, lengthCode);
        if (symbol < 0) goto done;
        if (symbol < 16) {
            lengths[index++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (index == 0 || !Take(r, 2, &repeat)) goto done;
            value = lengths[index - 1];
            repeat += 3;
        } else if (symbol == 17) {
            if (!Take(r, 3, &repeat)) goto done;
            repeat += 3;
        } else {
            if (!Take(r, 7, &repeat)) goto done;
            repeat += 11;
        }
        if (index + repeat > total) goto done;
        while (repeat-- > 0) lengths[index++] = value;
    }
    // A block without its end-of-block code could never end.
    if (lengths[256] == 0) goto done;
    if (!Usable(literals, BuildHuffman(literals, lengths, static_cast<int>(literalCount)))) goto done;
    if (!Usable(distances, BuildHuffman(distances, lengths + literalCount, static_cast<int>(distanceCount)))) goto done;
    status = InflateCodes(r, o, literals, distances);
done:
    std::free(codes);
    return status;
}

// ---- Writing ----

struct BitWriter {
    unsigned char* out;
    uint32_t cap;
    uint32_t pos;
    uint64_t bits;
    int count;
    bool full;
};

void PutBits(BitWriter& w, uint32_t value, int n) {
    w.bits |= static_cast<uint64_t>(value) << w.count;
    w.count += n;
    while (w.count >= 8) {
        if (w.pos >= w.cap) {
            w.full = true;
            return;
        }
        w.out[w.pos++] = static_cast<unsigned char>(w.bits);
        w.bits >>= 8;
        w.count -= 8;
    }
}

void FlushBits(BitWriter& w) {
    if (w.count > 0) PutBits(w, 0, 8 - w.count);
}

// A symbol of the fixed literal/length code (RFC 1951, 3.2.6).
void PutFixedSymbol(BitWriter& w, uint32_t symbol) {
    if (symbol < 144)
        PutBits(w, Reversed(0x30 + symbol, 8), 8);
    else if (symbol < 256)
        PutBits(w, Reversed(0x190 + symbol - 144, 9), 9);
    else if (symbol < 280)
        PutBits(w, Reversed(symbol - 256, 7), 7);
    else
        PutBits(w, Reversed(0xC0 + symbol - 280, 8), 8);
}

void PutRepeat(BitWriter& w, uint32_t length, uint32_t distance) {
    int l = 28;
    while (kLengthBase[l] > length) --l;
    PutFixedSymbol(w, 257 + static_cast<uint32_t>(l));
    PutBits(w, length - kLengthBase[l], kLengthExtra[l]);
    int d = 29;
    while (kDistanceBase[d] > distance) --d;
    PutBits(w, Reversed(static_cast<uint32_t>(d), 5), 5);
    PutBits(w, distance - kDistanceBase[d], kDistanceExtra[d]);
}

// One block with the fixed codes, repeats found through chains of 3-byte
// hashes. 0 when the room ran out (or the tables could not be had).
int DeflateFixed(const unsigned char* in, uint32_t length, BitWriter& w) {
    const uint32_t kHashSize = 1u << 15, kChain = 32, kLongest = 258;
    int32_t* head = static_cast<int32_t*>(std::malloc(kHashSize * sizeof(int32_t)));
    int32_t* previous = static_cast<int32_t*>(std::malloc(kWindowSize * sizeof(int32_t)));
    if (head == nullptr || previous == nullptr) {
        std::free(head);
        std::free(previous);
        return 0;
    }
    for (uint32_t i = 0; i < kHashSize; ++i) head[i] = -1;
    auto hash = [in](uint32_t p) { return (in[p] << 10 ^ in[p + 1] << 5 ^ in[p + 2]) & 0x7FFF; };
    auto insert = [&](uint32_t p) {
        uint32_t h = hash(p);
        previous[p & (kWindowSize - 1)] = head[h];
        head[h] = static_cast<int32_t>(p);
    };
    PutBits(w, 1, 1);  // the final block
    PutBits(w, 1, 2);  // fixed codes
    uint32_t i = 0;
    while (i < length && !w.full) {
        uint32_t best = 0, bestDistance = 0;
        if (i + 3 <= length) {
            uint32_t most = length - i < kLongest ? length - i : kLongest;
            int32_t candidate = head[hash(i)];
            for (uint32_t chain = 0; chain < kChain && candidate >= 0; ++chain) {
                uint32_t c = static_cast<uint32_t>(candidate);
                if (c >= i || i - c > kWindowSize) break;
                uint32_t n = 0;
                while (n < most && in[c + n] == in[i + n]) ++n;
                if (n > best) {
                    best = n;
                    bestDistance = i - c;
                    if (n == most) break;
                }
                candidate = previous[c & (kWindowSize - 1)];
            }
            insert(i);
        }
        if (best >= 3) {
            PutRepeat(w, best, bestDistance);
            for (uint32_t k = 1; k < best; ++k)
                if (i + k + 3 <= length) insert(i + k);
            i += best;
        } else {
            PutFixedSymbol(w, in[i]);
            ++i;
        }
    }
    PutFixedSymbol(w, 256);
    FlushBits(w);
    std::free(head);
    std::free(previous);
    return w.full ? 0 : 1;
}

// Stored blocks, at least one.
void DeflateStored(const unsigned char* in, uint32_t length, BitWriter& w) {
    uint32_t done = 0;
    do {
        uint32_t n = length - done < kStoredMax ? length - done : kStoredMax;
        PutBits(w, done + n == length ? 1 : 0, 8);  // final flag, type 0, filled to the byte
        PutBits(w, n, 16);
        PutBits(w, ~n & 0xFFFF, 16);
        for (uint32_t k = 0; k < n; ++k) PutBits(w, in[done + k], 8);
        done += n;
    } while (done < length);
}

uint32_t StoredSize(uint32_t length) {
    uint32_t blocks = length == 0 ? 1 : (length + kStoredMax - 1) / kStoredMax;
    return 2 + 5 * blocks + length + 4;
}
}  // namespace

ZStatus ZlibInflate(const unsigned char* in, uint32_t inLength, unsigned char* out, uint32_t outCap,
                    uint32_t* produced) {
    *produced = 0;
    if (in == nullptr || inLength < 2) return kZBadData;
    uint32_t header = static_cast<uint32_t>(in[0]) << 8 | in[1];
    // Deflate with a window of at most 32 KB, a header checksum that adds
    // up, and no preset dictionary.
    if ((in[0] & 0x0F) != 8 || (in[0] >> 4) > 7 || header % 31 != 0 || (in[1] & 0x20) != 0) return kZBadData;

    unsigned char* window = nullptr;
    if (out == nullptr) {
        window = static_cast<unsigned char*>(std::malloc(kWindowSize));
        if (window == nullptr) return kZBadData;
    }
    Output o = {out, outCap, 0, window, 1};
    BitReader r = {in, inLength, 2, 0, 0};
    ZStatus status = kZDone;
    uint32_t last = 0, type = 0;
    do {
        if (!Take(r, 1, &last) || !Take(r, 2, &type)) {
            status = kZBadData;
        } else if (type == 0) {
            status = InflateStored(r, o);
        } else if (type == 1) {
            status = InflateFixed(r, o);
        } else if (type == 2) {
            status = InflateDynamic(r, o);
        } else {
            status = kZBadData;
        }
    } while (status == kZDone && !last);

    if (status == kZDone) {
        // The Adler-32 of the data, most significant byte first.
        uint32_t skip, checksum = 0;
        status = kZBadData;
        if (Take(r, r.count % 8, &skip)) {
            int whole = 1;
            for (int i = 0; i < 4 && whole; ++i) {
                uint32_t byte = 0;
                whole = Take(r, 8, &byte);
                checksum = checksum << 8 | byte;
            }
            uint32_t adler = out != nullptr ? Adler32(1, out, o.pos) : o.adler;
            if (whole && checksum == adler) status = kZDone;
        }
    }
    std::free(window);
    *produced = o.pos;
    return status;
}

uint32_t ZlibBound(uint32_t length) { return length + (length >> 12) + (length >> 14) + (length >> 25) + 13; }

int ZlibDeflate(const unsigned char* in, uint32_t length, unsigned char* out, uint32_t cap, uint32_t* packed,
                int level) {
    *packed = 0;
    // The fixed codes are kept only when they come out smaller than storing
    // (the checksum's four bytes follow either).
    uint32_t stored = StoredSize(length) - 4;
    BitWriter w = {out, cap < stored ? cap : stored, 2, 0, 0, false};
    if (level == 0 || !DeflateFixed(in, length, w)) {
        w = BitWriter{out, cap, 2, 0, 0, false};
        DeflateStored(in, length, w);
    }
    w.cap = cap;
    uint32_t adler = Adler32(1, in, length);
    for (int shift = 24; shift >= 0; shift -= 8) PutBits(w, adler >> shift & 0xFF, 8);
    if (w.full || cap < 2) return 0;
    out[0] = 0x78;
    out[1] = level == 0 ? 0x01 : 0x9C;
    *packed = w.pos;
    return 1;
}
