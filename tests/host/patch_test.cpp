// The version text inside module files.
#include <gtest/gtest.h>

#include <string>

#include "install/patch.h"

namespace {
// UTF-16LE bytes of an ASCII or BMP text.
std::string Utf16(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string Module(const std::u16string& version) {
    return std::string(37, '\x90') + Utf16(u"智能墨筏输入平台" + version) + std::string(11, '\0');
}

uint32_t Patch(std::string& bytes) {
    return PatchVersionText(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<uint32_t>(bytes.size()));
}

TEST(PatchVersion, FirstModulesAndCompanionBecome79) {
    for (const std::u16string old : {u"  6.3", u"  6.7"}) {
        std::string bytes = Module(old);
        EXPECT_EQ(Patch(bytes), 1u);
        EXPECT_EQ(bytes, Module(u"  7.9"));
    }
}

TEST(PatchVersion, OnlyTheFirstBlankIsTested) {
    std::string bytes = Module(u" x6.3");
    EXPECT_EQ(Patch(bytes), 1u);
    EXPECT_EQ(bytes, Module(u" x7.9"));
}

TEST(PatchVersion, OtherVersionsAndOtherFilesStayUnchanged) {
    for (const std::u16string other : {u"  7.9", u"  6.4", u"  5.3", u"x 6.3", u"  6,3"}) {
        std::string bytes = Module(other);
        const std::string before = bytes;
        EXPECT_EQ(Patch(bytes), 0u);
        EXPECT_EQ(bytes, before);
    }
    std::string plain(4096, 'a');
    const std::string before = plain;
    EXPECT_EQ(Patch(plain), 0u);
    EXPECT_EQ(plain, before);
}

TEST(PatchVersion, EveryOccurrenceAndNothingPastTheEnd) {
    std::string bytes = Module(u"  6.3") + Module(u"  6.7");
    EXPECT_EQ(Patch(bytes), 2u);
    EXPECT_EQ(bytes, Module(u"  7.9") + Module(u"  7.9"));

    // The product text right at the end, its version cut off: untouched.
    std::string cut = std::string(3, 'z') + Utf16(u"智能墨筏输入平台  6");
    const std::string before = cut;
    EXPECT_EQ(Patch(cut), 0u);
    EXPECT_EQ(cut, before);
}
}  // namespace
