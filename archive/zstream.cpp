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

// Fills the bit buffer to at least 56 bits, or with what is left of the
// input. Eight bytes at a time while eight remain: a word is loaded whole
// and only the bytes that fit are counted as read.
inline void Refill(BitReader& r) {
    if (r.length - r.pos >= 8) {
        uint64_t word = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(&word, r.in + r.pos, 8);
#else
        for (int i = 7; i >= 0; --i) word = word << 8 | r.in[r.pos + i];
#endif
        r.bits |= word << r.count;
        r.pos += static_cast<uint32_t>(63 - r.count) >> 3;
        r.count |= 56;
        return;
    }
    while (r.count <= 56 && r.pos < r.length) {
        r.bits |= static_cast<uint64_t>(r.in[r.pos++]) << r.count;
        r.count += 8;
    }
}

inline void Drop(BitReader& r, int n) {
    r.bits >>= n;
    r.count -= n;
}

// 1 with the next n bits (n <= 16) in *value; 0 when the input has ended.
int Take(BitReader& r, int n, uint32_t* value) {
    if (r.count < n) Refill(r);
    if (r.count < n) return 0;
    *value = static_cast<uint32_t>(r.bits & ((1u << n) - 1));
    Drop(r, n);
    return 1;
}

// A decoding table entry, as found by the next bits of the input (lowest
// first): what the code means and how many bits it takes. Codes longer than
// the table's root bits go through a second table that the root entry links
// to (its val the second table's offset, its op the second table's bits).
struct Code {
    uint8_t op;
    uint8_t bits;
    uint16_t val;
};
enum : uint8_t {
    kOpLiteral = 0,    // val: the byte (or a code length of the code-length code)
    kOpBase = 16,      // | extra bits: val the base of a length or distance
    kOpEnd = 32,       // end of block
    kOpInvalid = 64,   // a code no valid stream uses, or one the set leaves unassigned
    kOpLink = 128,     // | the second table's bits
};

enum CodeKind { kCodeLengths, kLiterals, kDistances };

// Room for the largest tables any set of code lengths can make with these
// root bits (the bound zlib's enough program computes for 286 symbols and 9
// root bits, and for 30 symbols and 6 root bits).
const int kLiteralRoot = 9, kDistanceRoot = 6, kCodeLengthRoot = 7;
const int kLiteralRoom = 852, kDistanceRoom = 592, kCodeLengthRoom = 128;

Code Meaning(CodeKind kind, uint32_t symbol, int bits) {
    Code c = {kOpLiteral, static_cast<uint8_t>(bits), static_cast<uint16_t>(symbol)};
    if (kind == kCodeLengths || (kind == kLiterals && symbol < 256)) return c;
    if (kind == kLiterals && symbol == 256) {
        c.op = kOpEnd;
    } else if (kind == kLiterals && symbol < 286) {
        c.op = static_cast<uint8_t>(kOpBase | kLengthExtra[symbol - 257]);
        c.val = kLengthBase[symbol - 257];
    } else if (kind == kDistances && symbol < 30) {
        c.op = static_cast<uint8_t>(kOpBase | kDistanceExtra[symbol]);
        c.val = kDistanceBase[symbol];
    } else {
        c.op = kOpInvalid;
    }
    return c;
}

// Counts the codes of each length and sorts the symbols by code length
// (then by value, as the codes are assigned). 1 for a usable code, 0 for
// one that oversubscribes or leaves codes unused where that is not allowed,
// -1 when no symbol has a code.
int SortCodes(const uint8_t* lengths, int n, CodeKind kind, uint16_t* count, uint16_t* sorted, int* longest,
              int* shortest) {
    uint16_t offset[16];
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    *longest = 15;
    while (*longest > 0 && count[*longest] == 0) --*longest;
    if (*longest == 0) return -1;
    *shortest = 1;
    while (count[*shortest] == 0) ++*shortest;
    int left = 1;
    for (int len = 1; len <= 15; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return 0;
    }
    if (left > 0 && (kind == kCodeLengths || *longest != 1)) return 0;
    offset[1] = 0;
    for (int len = 1; len < 15; ++len) offset[len + 1] = static_cast<uint16_t>(offset[len] + count[len]);
    for (int i = 0; i < n; ++i)
        if (lengths[i] != 0) sorted[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    return 1;
}

// Builds the decoding table of a canonical code from its n code lengths
// into table (room for `room` entries); *root gets the root bits used.
// 0 when the lengths make no usable code: an over-subscribed set, or an
// incomplete one other than a literal or distance code of a single one-bit
// code (which zlib accepts too). A set with no codes at all decodes nothing.
int BuildTable(Code* table, int room, int* root, const uint8_t* lengths, int n, CodeKind kind) {
    uint16_t count[16] = {0}, sorted[288];
    int longest, shortest;
    int usable = SortCodes(lengths, n, kind, count, sorted, &longest, &shortest);
    if (usable < 0) {
        table[0] = table[1] = Code{kOpInvalid, 1, 0};
        *root = 1;
        return 1;
    }
    if (usable == 0) return 0;

    int rootBits = *root;
    if (rootBits > longest) rootBits = longest;
    if (rootBits < shortest) rootBits = shortest;
    *root = rootBits;
    const uint32_t mask = (1u << rootBits) - 1;
    uint32_t code = 0;              // the current code, its bits reversed
    uint32_t low = ~0u;             // the root index of the second table being filled
    int used = 1 << rootBits, drop = 0, current = rootBits;
    Code* next = table;             // the table being filled
    int len = shortest;
    for (int k = 0;; ++k) {
        Code here = Meaning(kind, sorted[k], len - drop);
        // Every index whose low bits are this code.
        for (uint32_t fill = code >> drop; fill < (1u << current); fill += 1u << (len - drop)) next[fill] = here;
        // The next code in bit-reversed order.
        uint32_t step = 1u << (len - 1);
        while (code & step) step >>= 1;
        code = step != 0 ? (code & (step - 1)) + step : 0;
        if (--count[len] == 0) {
            if (len == longest) break;
            len = lengths[sorted[k + 1]];
        }
        if (len <= rootBits || (code & mask) == low) continue;
        // A new second table for the codes that begin with these root bits:
        // as many bits as the rest of the codes sharing them need.
        if (drop == 0) drop = rootBits;
        next += 1 << current;
        current = len - drop;
        int free = 1 << current;
        while (current + drop < longest) {
            free -= count[current + drop];
            if (free <= 0) break;
            ++current;
            free <<= 1;
        }
        used += 1 << current;
        if (used > room) return 0;
        low = code & mask;
        table[low] = Code{static_cast<uint8_t>(kOpLink | current), static_cast<uint8_t>(rootBits),
                          static_cast<uint16_t>(next - table)};
    }
    // An incomplete code (one code of one bit) leaves the other entry unset.
    if (code != 0) next[code] = Code{kOpInvalid, static_cast<uint8_t>(len - drop), 0};
    return 1;
}

// The entry of the next code, its bits dropped; kOpInvalid also when the
// input has ended inside it.
inline Code Decode(BitReader& r, const Code* table, int root) {
    if (r.count < 15) Refill(r);
    Code here = table[r.bits & ((1u << root) - 1)];
    if (here.op & kOpLink) {
        if (here.bits > r.count) return Code{kOpInvalid, 0, 0};
        Drop(r, here.bits);
        here = table[here.val + (r.bits & ((1u << (here.op & 15)) - 1))];
    }
    if (here.bits > r.count) return Code{kOpInvalid, 0, 0};
    Drop(r, here.bits);
    return here;
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

// Copies length bytes from distance back; what fits when the room ends.
inline ZStatus Repeat(Output& o, uint32_t distance, uint32_t length) {
    if (distance > o.pos || distance > kWindowSize) return kZBadData;
    if (o.buffer == nullptr) {
        for (uint32_t i = 0; i < length; ++i)
            if (!Put(o, o.window[(o.pos - distance) & (kWindowSize - 1)])) return kZNoRoom;
        return kZDone;
    }
    uint32_t n = o.cap - o.pos < length ? o.cap - o.pos : length;
    ZStatus status = n == length ? kZDone : kZNoRoom;
    unsigned char* to = o.buffer + o.pos;
    const unsigned char* from = to - distance;
    o.pos += n;
    // Eight bytes at a time where the source lies wholly before them; a
    // closer repeat overlaps the bytes it produces and goes byte by byte.
    if (distance >= 8)
        for (; n >= 8; n -= 8, to += 8, from += 8) std::memcpy(to, from, 8);
    for (; n > 0; --n) *to++ = *from++;
    return status;
}

// The symbols of one block up to its end code. Every code, length and
// distance is checked as it is read: a code the set leaves unassigned, input
// that ends inside a code, a repeat from before the output's start or more
// than 32 KB back.
ZStatus InflateCodes(BitReader& reader, Output& output, const Code* literals, int literalRoot,
                     const Code* distances, int distanceRoot) {
    // Working copies that the compiler can keep in registers: no byte
    // written to the output can alias them.
    BitReader r = reader;
    Output o = output;
    ZStatus status = kZDone;
    for (;;) {
        Code here = Decode(r, literals, literalRoot);
        if (here.op == kOpLiteral) {
            if (o.buffer != nullptr && o.pos < o.cap)
                o.buffer[o.pos++] = static_cast<unsigned char>(here.val);
            else if (!Put(o, static_cast<unsigned char>(here.val)))
                status = kZNoRoom;
            if (status != kZDone) break;
            continue;
        }
        if (here.op == kOpEnd) break;
        uint32_t extra = 0;
        status = kZBadData;
        if (!(here.op & kOpBase) || !Take(r, here.op & 15, &extra)) break;
        uint32_t length = here.val + extra;
        // A distance code and its extra bits take at most 28 bits.
        if (r.count < 28) Refill(r);
        here = Decode(r, distances, distanceRoot);
        if (!(here.op & kOpBase) || !Take(r, here.op & 15, &extra)) break;
        status = Repeat(o, here.val + extra, length);
        if (status != kZDone) break;
    }
    reader = r;
    output = o;
    return status;
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
    // Bits above the count may hold a copy of the next input byte, which the
    // bytes below now consume straight from the input.
    if (r.count == 0) r.bits = 0;
    if (length > r.length - r.pos) return kZBadData;
    if (o.buffer != nullptr && length <= o.cap - o.pos) {
        std::memcpy(o.buffer + o.pos, r.in + r.pos, length);
        o.pos += length;
        r.pos += length;
        return kZDone;
    }
    for (; length > 0; --length)
        if (!Put(o, r.in[r.pos++])) return kZNoRoom;
    return kZDone;
}

ZStatus InflateFixed(BitReader& r, Output& o) {
    static Code literals[512], distances[32];
    static int literalRoot, distanceRoot;  // zero until built: no initialised data
    static bool built = false;
    if (!built) {
        literalRoot = kLiteralRoot;
        distanceRoot = kDistanceRoot;
        uint8_t lengths[288];
        for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        BuildTable(literals, 512, &literalRoot, lengths, 288, kLiterals);
        // 32 distance codes, of which 30 and 31 are invalid.
        for (int i = 0; i < 32; ++i) lengths[i] = 5;
        BuildTable(distances, 32, &distanceRoot, lengths, 32, kDistances);
        built = true;
    }
    return InflateCodes(r, o, literals, literalRoot, distances, distanceRoot);
}

// Reads the code lengths of a dynamic block's literal/length and distance
// codes (total of them) through the code-length code.
int ReadCodeLengths(BitReader& r, const Code* table, int root, uint8_t* lengths, uint32_t total) {
    uint32_t index = 0;
    while (index < total) {
        Code here = Decode(r, table, root);
        if (here.op != kOpLiteral) return 0;
        if (here.val < 16) {
            lengths[index++] = static_cast<uint8_t>(here.val);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (here.val == 16) {
            if (index == 0 || !Take(r, 2, &repeat)) return 0;
            value = lengths[index - 1];
            repeat += 3;
        } else if (here.val == 17) {
            if (!Take(r, 3, &repeat)) return 0;
            repeat += 3;
        } else {
            if (!Take(r, 7, &repeat)) return 0;
            repeat += 11;
        }
        if (index + repeat > total) return 0;
        while (repeat-- > 0) lengths[index++] = value;
    }
    return 1;
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
    const int room = kCodeLengthRoom + kLiteralRoom + kDistanceRoom;
    Code* tables = static_cast<Code*>(std::malloc(room * sizeof(Code)));
    if (tables == nullptr) return kZBadData;
    Code* literals = tables + kCodeLengthRoom;
    Code* distances = literals + kLiteralRoom;
    int lengthRoot = kCodeLengthRoot, literalRoot = kLiteralRoot, distanceRoot = kDistanceRoot;
    ZStatus status = kZBadData;
    // The code-length code must be complete; a block without its
    // end-of-block code could never end.
    if (BuildTable(tables, kCodeLengthRoom, &lengthRoot, lengths, 19, kCodeLengths)) {
        std::memset(lengths, 0, sizeof lengths);
        if (ReadCodeLengths(r, tables, lengthRoot, lengths, literalCount + distanceCount) && lengths[256] != 0 &&
            BuildTable(literals, kLiteralRoom, &literalRoot, lengths, static_cast<int>(literalCount), kLiterals) &&
            BuildTable(distances, kDistanceRoom, &distanceRoot, lengths + literalCount, static_cast<int>(distanceCount),
                       kDistances))
            status = InflateCodes(r, o, literals, literalRoot, distances, distanceRoot);
    }
    std::free(tables);
    return status;
}

// ---- Writing ----

struct BitWriter {
    unsigned char* out;
    uint32_t cap;
    uint32_t pos;
    uint32_t bits;  // fewer than 8 waiting, and at most 16 put at a time
    int count;
    bool full;
};

void PutBits(BitWriter& w, uint32_t value, int n) {
    if (w.full) return;  // the room has run out: nothing more goes out
    w.bits |= value << w.count;
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
