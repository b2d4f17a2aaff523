// The settings files as written into the install directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/context.h"
#include "settings/settings.h"
#include "settings/settings_text.h"
#include "support/winsupport.h"

namespace {
class SettingsFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        dir_ = ScratchDir("settings");
        std::strcpy(g_ctx.installDir, dir_.c_str());
    }
    std::string File(const char* name) { return ReadBytes(dir_ + name); }
    std::string dir_;
};

TEST_F(SettingsFilesTest, BlockCarriesTheTextOfThePreviousCall) {
    const std::string empty =
        "MFNETURL1=\r\nMFNETURL2=\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\nMFSJOFF=0\r\nMFNETTIME0=0\r\n"
        "MFBJTIME0=0\r\nMFNEONE=1\r\n";
    // The site page's confirm: an address typed.
    std::strcpy(SiteUrl2(), "www.example.gov.cn");
    WriteSettingsFiles();
    EXPECT_EQ(File("wbpybz.mfh"), std::string("MFWBPYBZ=0\0", 11));
    // The block goes out before its text is built: only the site is in it.
    std::string firstBlock(1000, '\0');
    firstBlock.replace(200, 18, "www.example.gov.cn");
    EXPECT_EQ(File("mofadat.dat"), firstBlock);
    const std::string typed =
        "MFNETURL1=\r\nMFNETURL2=www.example.gov.cn\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\nMFSJOFF=0\r\n"
        "MFNETTIME0=0\r\nMFBJTIME0=0\r\nMFNEONE=1\r\n";
    EXPECT_EQ(File("mfnetsj.dat"), typed);

    // The install sequence's call: the block now holds the first text.
    WriteSettingsFiles();
    std::string block = File("mofadat.dat");
    ASSERT_EQ(block.size(), 1000u);
    EXPECT_EQ(block.substr(0, 200), std::string(200, '\0'));
    EXPECT_EQ(block.substr(200, 19), std::string("www.example.gov.cn\0", 19));
    EXPECT_EQ(block.substr(300, typed.size() + 1), typed + '\0');
    EXPECT_EQ(block.substr(300 + typed.size()), std::string(700 - typed.size(), '\0'));
    EXPECT_NE(typed, empty);
}

TEST_F(SettingsFilesTest, ConfigRecordFromDefaultsOrFromTheFile) {
    g_ctx.statusWindowMode = 3;
    UpdateImeConfigRecord();
    std::string record = File("mfszsj43.mfh");
    ASSERT_EQ(record.size(), 200u);
    EXPECT_EQ(record[0x00], 4);
    EXPECT_EQ(record[0x15], 1);
    EXPECT_EQ(record[0x08], 0x36);
    EXPECT_EQ(record[0x36], 0);  // default 1, set to 0 by setup
    EXPECT_EQ(record[0x3A], 1);

    // An existing record keeps the bytes setup does not own.
    std::string earlier(200, '\x07');
    WriteBytes(dir_ + "mfszsj43.mfh", earlier);
    g_ctx.statusWindowMode = 4;
    g_ctx.oemCodePage = 950;
    UpdateImeConfigRecord();
    record = File("mfszsj43.mfh");
    EXPECT_EQ(record[0x00], 3);
    EXPECT_EQ(record[0x0F], 1);
    EXPECT_EQ(record[0x40], 7);
    EXPECT_EQ(record[0xC7], 7);

    // A short file: the rest comes from the defaults.
    WriteBytes(dir_ + "mfszsj43.mfh", std::string(10, '\x09'));
    UpdateImeConfigRecord();
    record = File("mfszsj43.mfh");
    ASSERT_EQ(record.size(), 200u);
    EXPECT_EQ(record[0x09], 9);
    EXPECT_EQ(record[0x0A], 1);
}

TEST_F(SettingsFilesTest, KeptDataLeavesTheRestoredRecordAlone) {
    std::string restored(200, '\x05');
    WriteBytes(dir_ + "mfszsj43.mfh", restored);
    g_ctx.userDataState = kUserKeepsData;
    g_ctx.statusWindowMode = 3;
    UpdateImeConfigRecord();
    EXPECT_EQ(File("mfszsj43.mfh"), restored);
}

TEST_F(SettingsFilesTest, InstallStampIsTheTickCountInDecimal) {
    DWORD before = GetTickCount();
    WriteInstallStamp();
    DWORD after = GetTickCount();
    std::string stamp = File("install.mfh");
    ASSERT_FALSE(stamp.empty());
    EXPECT_EQ(stamp.find_first_not_of("-0123456789"), std::string::npos) << stamp;
    DWORD value = static_cast<DWORD>(std::stol(stamp));
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
}

}  // namespace
