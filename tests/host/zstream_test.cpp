// The program's own zlib streams against zlib itself: every stream zlib
// writes inflates to its bytes, every stream of ours inflates with zlib, and
// damaged or cut streams never pass for data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/zstream.h"
#include "base/strbuf.h"

namespace {
typedef std::vector<unsigned char> Bytes;

// Text that repeats itself (as dictionaries do), noise, and both mixed.
Bytes Sample(size_t n, int kind) {
    Bytes out(n);
    uint32_t seed = 12345u + static_cast<uint32_t>(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        unsigned char noise = static_cast<unsigned char>(seed >> 16);
        unsigned char text = static_cast<unsigned char>("\xD6\xD0\xB9\xFA; mofa "[(i * 7 / 5) % 12]);
        out[i] = kind == 0 ? text : kind == 1 ? noise : ((i / 300) % 2 ? text : noise);
    }
    return out;
}

Bytes ZlibPacked(const Bytes& data, int level) {
    uLongf size = compressBound(data.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), level), Z_OK);
    out.resize(size);
    return out;
}

TEST(ZStream, ReadsZlibsStreamsAndWritesStreamsZlibReads) {
    for (size_t n : {0u, 1u, 257u, 4096u, 70000u, 300000u}) {
        for (int kind = 0; kind < 3; ++kind) {
            const Bytes data = Sample(n, kind);
            for (int level : {0, 1, 6, 9}) {
                const Bytes packed = ZlibPacked(data, level);
                Bytes out(n + 1);
                uint32_t produced = 0;
                ASSERT_EQ(ZlibInflate(packed.data(), static_cast<uint32_t>(packed.size()), out.data(),
                                      static_cast<uint32_t>(out.size()), &produced), kZDone)
                    << n << " " << kind << " " << level;
                out.resize(produced);
                EXPECT_TRUE(out == data) << n << " " << kind << " " << level;
                // Counted only, without a buffer.
                EXPECT_EQ(ZlibInflate(packed.data(), static_cast<uint32_t>(packed.size()), nullptr, n, &produced), kZDone);
                EXPECT_EQ(produced, n);
            }
            for (int level : {0, 6}) {
                Bytes ours(ZlibBound(static_cast<uint32_t>(n)));
                uint32_t packed = 0;
                ASSERT_EQ(ZlibDeflate(data.data(), static_cast<uint32_t>(n), ours.data(), static_cast<uint32_t>(ours.size()),
                                      &packed, level), 1);
                Bytes back(n + 1);
                uLongf size = back.size();
                ASSERT_EQ(uncompress(back.data(), &size, ours.data(), packed), Z_OK) << n << " " << kind << " " << level;
                back.resize(size);
                EXPECT_TRUE(back == data) << n << " " << kind << " " << level;
                // Repeats are found; noise is stored, never much larger.
                if (kind == 0 && level != 0 && n >= 4096) {
                    EXPECT_LT(packed, n / 4);
                }
                EXPECT_LE(packed, n + 5 * (n / 65535 + 1) + 6);
            }
        }
    }
    // An empty file in 8 bytes, as zlib writes it.
    unsigned char empty[16];
    uint32_t packed = 0;
    ASSERT_EQ(ZlibDeflate(nullptr, 0, empty, sizeof empty, &packed, 6), 1);
    EXPECT_EQ(packed, 8u);
}

TEST(ZStream, DeflateIntoTooLittleRoomFailsWithinIt) {
    // Noise is stored: 70,016 bytes with the header, two blocks and the checksum.
    const Bytes data = Sample(70000, 1);
    for (uint32_t cap : {0u, 1u, 2u, 100u, 65540u, 70015u}) {
        Bytes out(cap + 16, 0xA5);
        uint32_t packed = 7;
        EXPECT_EQ(ZlibDeflate(data.data(), 70000, out.data(), cap, &packed, 6), 0) << cap;
        EXPECT_EQ(packed, 0u) << cap;
        for (size_t i = cap; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << cap << " " << i;
    }
    Bytes out(70016);
    uint32_t packed = 0;
    ASSERT_EQ(ZlibDeflate(data.data(), 70000, out.data(), 70016, &packed, 6), 1);
    EXPECT_EQ(packed, 70016u);
}

TEST(ZStream, DamagedCutOrTooLongStreamsNeverPassForData) {
    const Bytes data = Sample(50000, 2);
    const Bytes packed = ZlibPacked(data, 9);
    Bytes out(data.size());
    uint32_t produced = 0;
    // Every byte cut off, and a flipped bit in every 97th byte.
    for (size_t cut = 0; cut < packed.size(); cut += 13)
        EXPECT_EQ(ZlibInflate(packed.data(), static_cast<uint32_t>(cut), out.data(), 50000, &produced), kZBadData) << cut;
    for (size_t at = 0; at < packed.size(); at += 97) {
        Bytes bad = packed;
        bad[at] ^= 0x10;
        ZStatus status = ZlibInflate(bad.data(), static_cast<uint32_t>(bad.size()), out.data(), 50000, &produced);
        EXPECT_TRUE(status != kZDone || (produced == data.size() && Bytes(out.begin(), out.begin() + produced) == data))
            << at;
    }
    // Too little room: what fits is written, and said so.
    ASSERT_EQ(ZlibInflate(packed.data(), static_cast<uint32_t>(packed.size()), out.data(), 1000, &produced), kZNoRoom);
    EXPECT_EQ(produced, 1000u);
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + 1000) == Bytes(data.begin(), data.begin() + 1000));
    EXPECT_EQ(ZlibInflate(packed.data(), static_cast<uint32_t>(packed.size()), nullptr, 49999, &produced), kZNoRoom);
    // Not deflate, a preset dictionary, a header that does not add up.
    for (const char* header : {"\x79\x9C", "\x78\xBB", "\x78\x9D"}) {
        Bytes bad = packed;
        bad[0] = static_cast<unsigned char>(header[0]);
        bad[1] = static_cast<unsigned char>(header[1]);
        EXPECT_EQ(ZlibInflate(bad.data(), static_cast<uint32_t>(bad.size()), out.data(), 50000, &produced), kZBadData);
    }
}

// A dynamic block written bit by bit, with the code lengths a test chooses:
// codes longer than any table's first look, incomplete and over-subscribed
// sets, codes no set assigns.
struct BitSink {
    Bytes out;
    uint32_t acc = 0;
    int n = 0;
    void Put(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i, value >>= 1) {
            acc |= (value & 1) << n;
            if (++n == 8) {
                out.push_back(static_cast<unsigned char>(acc));
                acc = 0;
                n = 0;
            }
        }
    }
    // Huffman codes go out from their first (highest) bit.
    void PutCode(uint32_t code, int bits) {
        for (int i = bits - 1; i >= 0; --i) Put(code >> i & 1, 1);
    }
};

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    uint32_t count[16] = {0}, next[16] = {0};
    for (int len : lengths) ++count[len];
    count[0] = 0;
    for (int len = 1; len < 16; ++len) next[len] = (next[len - 1] + count[len - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
    return codes;
}

// One final dynamic block: literal/length and distance code lengths (each
// at most 15), then the symbols: {0, literal or length symbol}, {1, distance
// symbol}, or {2, a raw bit}. Codes for the code lengths: 0..15 all of 4
// bits. The stream ends with an Adler-32 of expected.
Bytes DynamicStream(const std::vector<int>& literals, const std::vector<int>& distances,
                    const std::vector<std::pair<int, int>>& symbols, const Bytes& expected) {
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    BitSink bits;
    bits.Put(0x78, 8);
    bits.Put(0x01, 8);
    bits.Put(1, 1);
    bits.Put(2, 2);
    bits.Put(static_cast<uint32_t>(literals.size() - 257), 5);
    bits.Put(static_cast<uint32_t>(distances.size() - 1), 5);
    bits.Put(19 - 4, 4);
    for (int symbol : kOrder) bits.Put(symbol < 16 ? 4 : 0, 3);
    for (int len : literals) bits.PutCode(static_cast<uint32_t>(len), 4);
    for (int len : distances) bits.PutCode(static_cast<uint32_t>(len), 4);
    const std::vector<uint32_t> literalCodes = CanonicalCodes(literals), distanceCodes = CanonicalCodes(distances);
    for (const auto& s : symbols) {
        if (s.first == 0) bits.PutCode(literalCodes[s.second], literals[s.second]);
        if (s.first == 1) bits.PutCode(distanceCodes[s.second], distances[s.second]);
        if (s.first == 2) bits.Put(static_cast<uint32_t>(s.second), 1);
    }
    if (bits.n > 0) bits.Put(0, 8 - bits.n);
    uLong adler = adler32(1, expected.data(), static_cast<uInt>(expected.size()));
    for (int shift = 24; shift >= 0; shift -= 8) bits.Put(static_cast<uint32_t>(adler >> shift & 0xFF), 8);
    return bits.out;
}

ZStatus Inflated(const Bytes& stream, Bytes* out) {
    out->assign(4096, 0);
    uint32_t produced = 0, counted = 0;
    ZStatus status = ZlibInflate(stream.data(), static_cast<uint32_t>(stream.size()), out->data(), 4096, &produced);
    out->resize(produced);
    // Counting only comes to the same.
    EXPECT_EQ(ZlibInflate(stream.data(), static_cast<uint32_t>(stream.size()), nullptr, 4096, &counted), status);
    if (status == kZDone) {
        EXPECT_EQ(counted, produced);
    }
    return status;
}

bool ZlibAccepts(const Bytes& stream) {
    Bytes out(4096);
    uLongf size = out.size();
    return uncompress(out.data(), &size, stream.data(), stream.size()) == Z_OK;
}

TEST(ZStream, CodesOfEveryLengthAndBrokenCodeSetsAsZlibJudgesThem) {
    // Literals a..n with codes of 1 to 14 bits, the end and the length-3
    // code of 15 bits (beyond the first look of the table); one distance
    // code of one bit (an incomplete set zlib accepts).
    std::vector<int> literals(258, 0), distances(1, 1);
    for (int i = 0; i < 14; ++i) literals['a' + i] = i + 1;
    literals[256] = literals[257] = 15;
    std::vector<std::pair<int, int>> symbols;
    for (int i = 0; i < 14; ++i) symbols.push_back({0, 'a' + i});
    symbols.insert(symbols.end(), {{0, 257}, {1, 0}, {0, 'a'}, {0, 256}});
    const std::string text = "abcdefghijklmnnnna";
    const Bytes expected(text.begin(), text.end());
    Bytes stream = DynamicStream(literals, distances, symbols, expected), out;
    ASSERT_TRUE(ZlibAccepts(stream));
    ASSERT_EQ(Inflated(stream, &out), kZDone);
    EXPECT_TRUE(out == expected);
    // Cut inside any code, the 15-bit ones included: never data.
    for (size_t cut = 2; cut < stream.size(); ++cut)
        EXPECT_EQ(Inflated(Bytes(stream.begin(), stream.begin() + cut), &out), kZBadData) << cut;

    // The distance code that one-bit set leaves unassigned.
    std::vector<std::pair<int, int>> unassigned = symbols;
    unassigned[15] = {2, 1};
    Bytes bad = DynamicStream(literals, distances, unassigned, expected);
    EXPECT_FALSE(ZlibAccepts(bad));
    EXPECT_EQ(Inflated(bad, &out), kZBadData);

    // Incomplete (a 15-bit code missing) and over-subscribed literal sets,
    // an incomplete distance set of more than one code.
    std::vector<int> incomplete = literals, over = literals, twoOfThree = {2, 2};
    incomplete[257] = 0;
    over['z'] = 3;
    for (const auto& lengths : {incomplete, over}) {
        bad = DynamicStream(lengths, distances, {{0, 'a'}, {0, 256}}, Bytes{'a'});
        EXPECT_FALSE(ZlibAccepts(bad));
        EXPECT_EQ(Inflated(bad, &out), kZBadData);
    }
    bad = DynamicStream(literals, twoOfThree, {{0, 'a'}, {0, 256}}, Bytes{'a'});
    EXPECT_FALSE(ZlibAccepts(bad));
    EXPECT_EQ(Inflated(bad, &out), kZBadData);

    // A repeat from before the first byte: distance 2 after one byte.
    bad = DynamicStream(literals, {1, 1}, {{0, 'a'}, {0, 257}, {1, 1}, {0, 256}}, Bytes{'a', 'a', 'a', 'a'});
    EXPECT_FALSE(ZlibAccepts(bad));
    EXPECT_EQ(Inflated(bad, &out), kZBadData);
    // The same repeat a byte later is whole.
    Bytes good = DynamicStream(literals, {1, 1}, {{0, 'a'}, {0, 'b'}, {0, 257}, {1, 1}, {0, 256}},
                               Bytes{'a', 'b', 'a', 'b', 'a'});
    ASSERT_EQ(Inflated(good, &out), kZDone);
    EXPECT_TRUE(out == (Bytes{'a', 'b', 'a', 'b', 'a'}));
}

TEST(StrFormat, TheConversionsSetupUsesAndNoOthers) {
    char text[64];
    ASSERT_EQ(StrFormat(text, sizeof text, "%s|%d|%05d|%u|%lu|%x|%lX|%c|%%|%3d", "a", -7, -42, 4294967295u,
                        4294967295ul, 255u, 0xABCDul, 'z', 5),
              1);
    EXPECT_STREQ(text, "a|-7|-0042|4294967295|4294967295|ff|ABCD|z|%|  5");
    EXPECT_EQ(StrFormat(text, 8, "%s", "12345678"), 0);  // does not fit: refused, empty
    EXPECT_STREQ(text, "");
    EXPECT_EQ(StrFormat(text, sizeof text, "%.2f", 1.5), 0);  // not a conversion setup uses
}
}  // namespace
