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
