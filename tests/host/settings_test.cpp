// The settings files' bytes: the key=value text, its finder, the settings
// block and the input method's configuration record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/context.h"
#include "settings/settings_text.h"

namespace {
std::string Text(const unsigned char* block) {
    return reinterpret_cast<const char*>(block + kSettingsTextOffset);
}

TEST(SettingsText, EmptySiteGivesNineLinesWithEmptyUrls) {
    unsigned char block[kSettingsBlockSize] = {};
    uint32_t length = BuildSettingsText(block);
    const std::string expected =
        "MFNETURL1=\r\nMFNETURL2=\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\nMFSJOFF=0\r\nMFNETTIME0=0\r\n"
        "MFBJTIME0=0\r\nMFNEONE=1\r\n";
    EXPECT_EQ(Text(block), expected);
    EXPECT_EQ(length, expected.size());
    // Nothing outside the text area was touched.
    for (uint32_t i = 0; i < kSettingsTextOffset; ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST(SettingsText, TypedSiteIsKeptAsTypedUnderKeyTwo) {
    unsigned char block[kSettingsBlockSize] = {};
    std::strcpy(reinterpret_cast<char*>(block + kSiteUrl2Offset), "www.gov.cn/a b");
    BuildSettingsText(block);
    EXPECT_EQ(Text(block).substr(0, 40), "MFNETURL1=\r\nMFNETURL2=www.gov.cn/a b\r\nMF");

    // An unterminated site slot is read only as far as its 100 bytes.
    std::memset(block + kSiteUrl2Offset, 'w', kSiteUrlSize);
    uint32_t length = BuildSettingsText(block);
    EXPECT_LT(length, kSettingsTextSize);
    EXPECT_NE(Text(block).find("MFNETURL2=" + std::string(99, 'w') + "\r\n"), std::string::npos);
}

TEST(FindKeyValueTest, FindsKeysAnywhereAndStopsAtControlBytes) {
    char value[kKeyValueMax + 1];
    std::string text = "xxMFNETURL1=www.a.cn/x y\r\nMFNETURL2=b\r\n";
    uint32_t end = FindKeyValue(text.data(), text.size(), "MFNETURL1=", value);
    EXPECT_STREQ(value, "www.a.cn/x");
    EXPECT_EQ(end, text.find(' '));

    end = FindKeyValue(text.data(), text.size(), "MFNETURL2=", value);
    EXPECT_STREQ(value, "b");
    EXPECT_EQ(text[end], '\r');

    // Case-sensitive; an absent key gives the length and an empty value.
    std::strcpy(value, "stale");
    EXPECT_EQ(FindKeyValue(text.data(), text.size(), "mfneturl1=", value), text.size());
    EXPECT_STREQ(value, "");
    EXPECT_EQ(FindKeyValue(text.data(), 0, "MFNETURL1=", value), 0u);

    // A key cut off by the end of the text is not found.
    std::string cut = "MFNETURL";
    EXPECT_EQ(FindKeyValue(cut.data(), cut.size(), "MFNETURL1=", value), cut.size());
}

TEST(FindKeyValueTest, ValueIsCappedAt250AndEndsAtTheTextLength) {
    char value[kKeyValueMax + 1 + 8];
    std::memset(value, 0x7F, sizeof value);
    std::string text = "K=" + std::string(400, 'v');
    uint32_t end = FindKeyValue(text.data(), text.size(), "K=", value);
    EXPECT_EQ(std::strlen(value), 250u);
    EXPECT_EQ(end, 252u);
    EXPECT_EQ(static_cast<unsigned char>(value[251]), 0x7F);  // nothing written past the NUL

    // The length bounds the scan even without a terminating byte.
    std::string noEnd = "K=abc";
    EXPECT_EQ(FindKeyValue(noEnd.data(), 4, "K=", value), 4u);
    EXPECT_STREQ(value, "ab");
}

class ConfigRecordTest : public ::testing::Test {
protected:
    void SetUp() override { DefaultConfigRecord(record); }
    unsigned char record[kConfigRecordSize];
};

TEST_F(ConfigRecordTest, DefaultsAreTheInputMethodsOwn) {
    int ones = 0;
    for (uint32_t i = 0; i < kConfigRecordSize; ++i) {
        if (i == 0x08) {
            EXPECT_EQ(record[i], 0x36);
            continue;
        }
        ones += record[i] == 1;
        EXPECT_TRUE(record[i] == 0 || record[i] == 1) << i;
    }
    EXPECT_EQ(ones, 12);
    EXPECT_EQ(record[0x3A], 1);
}

TEST_F(ConfigRecordTest, StatusWindowModesSetBytesZeroAnd0x15) {
    const struct {
        int mode;
        unsigned char byte0, byte15;
    } cases[] = {{1, 0, 0}, {2, 1, 0}, {3, 4, 1}, {4, 3, 1}, {0, 0, 0}, {9, 0, 0}};
    for (const auto& c : cases) {
        DefaultConfigRecord(record);
        record[0x15] = 7;
        ApplyConfigRecordChoices(record, 936, c.mode);
        EXPECT_EQ(record[0x00], c.byte0) << "mode " << c.mode;
        EXPECT_EQ(record[0x15], c.byte15) << "mode " << c.mode;
    }
}

TEST_F(ConfigRecordTest, SetupsBytesAndTheTraditionalFlag) {
    unsigned char before[kConfigRecordSize];
    std::memset(record, 0x55, sizeof record);
    std::memcpy(before, record, sizeof record);
    ApplyConfigRecordChoices(record, 936, 1);
    EXPECT_EQ(record[0x3E], 0);
    EXPECT_EQ(record[0x3F], 0);
    EXPECT_EQ(record[0x01], 1);
    EXPECT_EQ(record[0x2B], 1);
    EXPECT_EQ(record[0x36], 0);
    EXPECT_EQ(record[0x24], 1);
    EXPECT_EQ(record[0x0F], 0x55);  // untouched outside code page 950
    int changed = 0;
    for (uint32_t i = 0; i < kConfigRecordSize; ++i) changed += record[i] != before[i];
    EXPECT_EQ(changed, 8);  // the six bytes above, byte 0 and byte 0x15

    ApplyConfigRecordChoices(record, 950, 1);
    EXPECT_EQ(record[0x0F], 1);
}

TEST(EditionMarker, IsElevenBytesWithItsNul) {
    EXPECT_EQ(sizeof kEditionMarker, 11u);
    EXPECT_EQ(std::string(kEditionMarker, 11), std::string("MFWBPYBZ=0\0", 11));
}
}  // namespace
