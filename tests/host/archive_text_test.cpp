// Digests and the sealing of the phrase file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/mfz.h"
#include "archive_support.h"

using namespace archive_test;

namespace {
// GBK characters and the sums of their two bytes.
const std::string kZhong = "\xD6\xD0";  // 422
const std::string kGuo = "\xB9\xFA";    // 435
const std::string kRen = "\xC8\xCB";    // 403
const std::string kMin = "\xC3\xF1";    // 436

struct Sealed {
    uint32_t length;
    std::string buffer;  // the whole buffer after sealing
};

// Seals text in a buffer with 12 bytes of room and 8 guard bytes behind.
Sealed Seal(const std::string& text) {
    std::string buffer = text + std::string(20, '\x7E');
    uint32_t length = SealPhraseFile(reinterpret_cast<unsigned char*>(&buffer[0]), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(buffer.substr(text.size() + 12), std::string(8, '\x7E')) << "wrote past length + 12";
    return {length, buffer};
}

std::string Trailer(uint32_t sum, uint32_t count) { return "MOFA" + Le32(sum) + Le32(count); }

TEST(SealPhraseFileTest, WellFormedWordsAreKeptAndCounted) {
    const std::string words = kZhong + kGuo + "; " + kRen + kMin + kGuo + "; ";
    Sealed s = Seal(words);
    ASSERT_EQ(s.length, words.size());
    EXPECT_EQ(s.buffer.substr(0, s.length + 12), words + Trailer(422 + 435 + 403 + 436 + 435, 2));

    Sealed empty = Seal("");
    EXPECT_EQ(empty.length, 0u);
    EXPECT_EQ(empty.buffer.substr(0, 12), Trailer(0, 0));
}

TEST(SealPhraseFileTest, AlreadySealedFileIsLeftAsItIs) {
    const std::string sealed = kZhong + kGuo + "; " + Trailer(857, 1);
    Sealed s = Seal(sealed);
    EXPECT_EQ(s.length, sealed.size() - 12);
    EXPECT_EQ(s.buffer.substr(0, sealed.size()), sealed);
    // "MOFA" anywhere but 12 bytes from the end is ordinary content.
    Sealed t = Seal("MOFA; " + kZhong + kGuo + "; " + kRen + kMin + "; ");
    EXPECT_EQ(t.buffer.substr(0, t.length + 12), "; " + kZhong + kGuo + "; " + kRen + kMin + "; " + Trailer(1696, 2));
}

TEST(SealPhraseFileTest, MalformedWordsAreDroppedButTheirCharactersSummed) {
    // A one-character word, then a word, then a last word without "; ".
    Sealed s = Seal(kZhong + "; " + kZhong + kGuo + "; " + kRen + kMin);
    ASSERT_EQ(s.length, 8u);
    EXPECT_EQ(s.buffer.substr(0, 20), "; " + kZhong + kGuo + "; " + Trailer(422 + 422 + 435 + 403 + 436, 1));

    // ASCII is skipped up to its separator, whose two bytes stay.
    Sealed a = Seal("ab; " + kZhong + kGuo + "; x");
    ASSERT_EQ(a.length, 8u);
    EXPECT_EQ(a.buffer.substr(0, 20), "; " + kZhong + kGuo + "; " + Trailer(857, 1));

    // A word followed by ";" without the space is not a word.
    Sealed b = Seal(kZhong + kGuo + ";x");
    EXPECT_EQ(b.buffer.substr(0, b.length + 12), ";x" + Trailer(857, 0));
    // A lone lead byte at the end is not a character.
    Sealed c = Seal(kZhong + kGuo + "; \xB0");
    EXPECT_EQ(c.buffer.substr(0, c.length + 12), kZhong + kGuo + "; " + Trailer(857, 1));
}

struct Vector {
    const char* text;
    const char* digest;
};
// RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "D41D8CD98F00B204E9800998ECF8427E"},
    {"a", "0CC175B9C0F1B6A831C399E269772661"},
    {"abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57EDF4A22BE3C955AC49DA2E2107B67A"},
};

TEST(DigestTest, Md5HexGivesTheRfcVectorsAsUppercaseTextWithTwoNuls) {
    for (const Vector& v : kRfc1321) {
        char out[40];
        std::memset(out, 0x7E, sizeof out);
        Md5Hex(v.text, static_cast<uint32_t>(std::strlen(v.text)), out);
        EXPECT_EQ(std::string(out, 34), std::string(v.digest) + '\0' + '\0') << v.text;
        EXPECT_EQ(std::string(out + 34, 6), std::string(6, '\x7E'));
    }
}

TEST(DigestTest, FileMd5HexReturnsTheBytesRead) {
    char path[] = "/tmp/mofa-md5-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    WriteAll(path, "message digest");
    char out[34];
    EXPECT_EQ(FileMd5Hex(path, out), 14u);
    EXPECT_STREQ(out, "F96B697D7CB7938D525A2F31AAF161D0");
    unlink(path);
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(FileMd5Hex(path, out), 0u);
    EXPECT_EQ(std::string(out, 34), std::string(34, '\0'));
}
}  // namespace
