// The user-data backup on the host: the archive AddFileToArchive grows, the
// rows BackupUserData packs, and what RestoreUserData brings back and says.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "base/failure.h"
#include "archive/mfz.h"
#include "archive_support.h"

using namespace archive_test;

namespace {
const char kPhrase[] = "\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1; \xB5\xE7\xC4\xD4\xC8\xED\xBC\xFE";  // last word bare
const std::vector<std::string> kRequired = {"mfszsj43.mfh", "mofadwdw.txt", "mofazdym.mfh", "mfpyzdym.mfh",
                                            "mfwbpy.txt",   "mofaynhz.txt", "mofazdfh.mfh"};
const std::vector<std::string> kCopiedStems = {"mofacyzk", "mfszsj43", "cfontset", "cwbzlcz1",
                                               "mfwbcmxz", "mfdhzcm",  "mofadhz",  "mfgbkhz"};

std::string Noise(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

uint32_t U32(const std::string& s, size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8 |
           static_cast<unsigned char>(s[at + 2]) << 16 | static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// Names and stored lengths of a digest archive, walked by hand.
std::vector<std::pair<std::string, uint32_t>> Entries(const std::string& image) {
    std::vector<std::pair<std::string, uint32_t>> entries;
    size_t at = 10;
    for (uint32_t i = 0; i < U32(image, 6) && at + 56 <= image.size(); ++i) {
        uint32_t length = U32(image, at + 52);
        entries.emplace_back(std::string(image.c_str() + at + 2), length);
        at += 56 + length;
    }
    return entries;
}

std::string Sealed(const std::string& content) {
    std::vector<unsigned char> buffer(content.begin(), content.end());
    buffer.resize(content.size() + 14);
    uint32_t length = EndLastPhrase(buffer.data(), static_cast<uint32_t>(content.size()));
    uint32_t kept = SealPhraseFile(buffer.data(), length);
    return std::string(buffer.begin(), buffer.begin() + kept + 12);
}

class BackupTest : public ArchiveFixture {
protected:
    void SetUp() override {
        ArchiveFixture::SetUp();
        earlier_ = dir_ + "/earlier/";
        ASSERT_EQ(mkdir(earlier_.c_str(), 0755), 0);
        std::snprintf(g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir, "%s", earlier_.c_str());
        g_ctx.workBuffer = work_.data();
    }
    void TearDown() override {
        DiscardBackup();
        g_ctx.workBuffer = nullptr;
        ArchiveFixture::TearDown();
    }
    // An earlier installation with every copied and required file, each with
    // its own bytes; the phrase file without its trailer.
    void SeedEarlier() {
        WriteAll(earlier_ + "mofacyzk.mfh", kPhrase);
        for (size_t i = 1; i < kCopiedStems.size(); ++i)
            WriteAll(earlier_ + kCopiedStems[i] + ".mfh", "copied " + kCopiedStems[i]);
        for (const std::string& name : kRequired) WriteAll(earlier_ + name, "mine " + name + Noise(300, 7));
    }
    std::string Archive() { return ReadAll(earlier_ + "mofaback.mfz"); }
    int Add(const std::string& archive, const std::string& file) {
        return AddFileToArchive(archive.c_str(), file.c_str());
    }
    std::string earlier_;
};

TEST_F(BackupTest, AppendsKeepTheHeaderCurrentAndRefuseWhatCannotBeStored) {
    const std::string archive = dir_ + "/a.mfz";
    const std::string incompressible = Noise(100 * 1024, 3);
    WriteAll(dir_ + "/one.txt", "first file");
    WriteAll(dir_ + "/empty.txt", "");
    WriteAll(dir_ + "/noise.bin", incompressible);
    WriteAll(dir_ + "/thirteen.char", "x");

    // Absent archive and absent file: the archive is made, header only.
    EXPECT_EQ(Add(archive, dir_ + "/missing.txt"), 0);
    EXPECT_EQ(ReadAll(archive), Header(true, 0).replace(2, 4, Le32(10)));

    size_t count = 0;
    for (const char* name : {"one.txt", "empty.txt", "noise.bin"}) {
        ASSERT_EQ(Add(archive, dir_ + "/" + name), 1) << name;
        std::string image = ReadAll(archive);
        EXPECT_EQ(image.substr(0, 2), "C0");
        EXPECT_EQ(U32(image, 2), image.size()) << name;
        EXPECT_EQ(U32(image, 6), ++count) << name;
    }
    const std::string before = ReadAll(archive);
    auto entries = Entries(before);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1], std::make_pair(std::string("empty.txt"), 8u));
    EXPECT_GT(entries[2].second, incompressible.size());  // stored although it grew

    EXPECT_EQ(Add(archive, dir_ + "/one.txt"), 0);         // the same name again
    EXPECT_EQ(Add(archive, dir_ + "/thirteen.char"), 0);   // 13 characters
    EXPECT_EQ(Add(archive, ""), 0);
    EXPECT_EQ(ReadAll(archive), before);

    // The stored files come back byte for byte, the empty one empty.
    ASSERT_EQ(Extract(before), 1);
    EXPECT_EQ(Installed("one.txt"), "first file");
    EXPECT_EQ(Installed("noise.bin"), incompressible);
    struct stat st;
    ASSERT_EQ(stat((std::string(g_ctx.installDir) + "empty.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_TRUE(shown_.empty());

    // A damaged archive is not appended to: its entries would be overwritten.
    WriteAll(archive, before.substr(0, before.size() - 1));
    WriteAll(dir_ + "/late.txt", "late");
    EXPECT_EQ(Add(archive, dir_ + "/late.txt"), 0);
    EXPECT_EQ(ReadAll(archive), before.substr(0, before.size() - 1));
}

TEST_F(BackupTest, PacksEveryRowThatExistsAwayFromTheEarlierDirectory) {
    SeedEarlier();
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", (dir_ + "/install/").c_str());
    ASSERT_EQ(BackupUserData(), 1);  // rows 16 to 24 are all missing
    EXPECT_EQ(std::string(g_ctx.installDir), dir_ + "/install/");  // the backup only reads the earlier one
    // Built in a folder of its own, and copied beside the earlier files.
    const std::string built = g_ctx.backupArchivePath;
    EXPECT_EQ(built.find(earlier_), std::string::npos) << built;
    EXPECT_EQ(ReadAll(built), Archive());

    std::vector<std::string> names;
    for (const auto& e : Entries(Archive())) names.push_back(e.first);
    std::vector<std::string> expected;
    for (const std::string& stem : kCopiedStems) expected.push_back(stem + ".bak");
    expected.insert(expected.end(), kRequired.begin(), kRequired.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(ReadAll(earlier_ + "cfontset.bak"), "copied cfontset");  // the twin is a copy
    EXPECT_EQ(ReadAll(earlier_ + "mofacyzk.bak"), Sealed(kPhrase));    // the phrase twin is sealed
    EXPECT_EQ(ReadAll(earlier_ + "mofacyzk.mfh"), kPhrase);            // the user's own file is not

    // Optional rows are stored when present; a later run starts afresh.
    WriteAll(earlier_ + "userck.txt", "u");
    WriteAll(earlier_ + "mfszsj06.mfh", "6");
    DiscardBackup();  // the run before is done with its backup
    ASSERT_EQ(BackupUserData(), 1);
    auto entries = Entries(ReadAll(g_ctx.backupArchivePath));
    ASSERT_EQ(entries.size(), 17u);
    EXPECT_EQ(entries[15].first, "userck.txt");
    EXPECT_EQ(entries[16].first, "mfszsj06.mfh");

    // A file the user never had is no reason to keep nothing: every other
    // row is still kept, whatever its kind.
    ASSERT_EQ(unlink((earlier_ + "mfwbpy.txt").c_str()), 0);
    DiscardBackup();  // the run before is done with its backup
    ASSERT_EQ(BackupUserData(), 1);
    EXPECT_EQ(Entries(ReadAll(g_ctx.backupArchivePath)).size(), 16u);
    ASSERT_EQ(unlink((earlier_ + "mfdhzcm.mfh").c_str()), 0);
    ASSERT_EQ(unlink((earlier_ + "mfdhzcm.bak").c_str()), 0);
    DiscardBackup();  // the run before is done with its backup
    ASSERT_EQ(BackupUserData(), 1);
    EXPECT_EQ(Entries(ReadAll(g_ctx.backupArchivePath)).size(), 15u);
}

TEST_F(BackupTest, AFileThatCannotBeKeptStopsWithItsReasonAndLeavesNoBackup) {
    SeedEarlier();
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", (dir_ + "/install/").c_str());
    // A user file that is there but cannot be read.
    ASSERT_EQ(unlink((earlier_ + "mofazdfh.mfh").c_str()), 0);
    ASSERT_EQ(mkdir((earlier_ + "mofazdfh.mfh").c_str(), 0755), 0);
    EXPECT_EQ(BackupUserData(), -1);
    EXPECT_STREQ(g_ctx.backupArchivePath, "");
    ShowBackupFailure();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "　　不能读取以前的数据文件" + earlier_ +
                                  "mofazdfh.mfh，无法保存你以前的词组等数据。为了不丢失这些数据，安装没有进行，"
                                  "原有文件都没有改动。请关闭使用该文件的程序后重新安装！");
    EXPECT_EQ(shown_[0].caption, "智能墨筏安装");

    // No folder for the archive can be made.
    ASSERT_EQ(rmdir((earlier_ + "mofazdfh.mfh").c_str()), 0);
    const std::string nowhere = dir_ + "/nowhere";
    setenv("TMPDIR", nowhere.c_str(), 1);
    EXPECT_EQ(BackupUserData(), -1);
    unsetenv("TMPDIR");
    shown_.clear();
    ShowBackupFailure();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "　　不能写入" + nowhere +
                                  "，无法保存你以前的词组等数据。为了不丢失这些数据，安装没有进行，原有文件都没有改动。");
}

TEST_F(BackupTest, TheEarlierInstallationIsFoundWithoutItsBackslashOrInTheInstallDirectory) {
    SeedEarlier();
    // Recorded without its final separator, and with a line end.
    std::string recorded = earlier_.substr(0, earlier_.size() - 1) + "\r\n";
    std::snprintf(g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir, "%s", recorded.c_str());
    ASSERT_EQ(BackupUserData(), 1);
    EXPECT_EQ(std::string(g_ctx.previousInstallDir), earlier_);
    EXPECT_EQ(Entries(ReadAll(g_ctx.backupArchivePath)).size(), 15u);

    // No path file: the install directory holds the data.
    g_ctx.previousInstallDir[0] = '\0';
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", earlier_.c_str());
    DiscardBackup();  // the run before is done with its backup
    ASSERT_EQ(BackupUserData(), 1);
    EXPECT_EQ(std::string(g_ctx.previousInstallDir), earlier_);
    // A recorded directory without any of it does not hide the install
    // directory's data.
    const std::string empty = dir_ + "/empty/";
    ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
    std::snprintf(g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir, "%s", empty.c_str());
    DiscardBackup();  // the run before is done with its backup
    ASSERT_EQ(BackupUserData(), 1);
    EXPECT_EQ(std::string(g_ctx.previousInstallDir), earlier_);
}

TEST_F(BackupTest, WithoutAnEarlierDirectoryNothingIsTouched) {
    const std::string here = dir_ + "/cwd";
    ASSERT_EQ(mkdir(here.c_str(), 0755), 0);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    WriteAll(here + "/mofazdym.mfh", "a file a relative name would reach");
    for (const char* earlier : {"", "mofaisadmin\\", "earlier/", "C:mofahu\\", "C:\\no-separator-at-the-end"}) {
        std::snprintf(g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir, "%s", earlier);
        std::strcpy(g_ctx.installDir, "C:\\Program Files\\mofahu\\");
        EXPECT_EQ(BackupUserData(), 0) << earlier;
        EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\mofahu\\");
    }
    EXPECT_EQ(ListDir(here), std::vector<std::string>{"mofazdym.mfh"});
    ASSERT_EQ(chdir(saved), 0);
}

TEST_F(BackupTest, RestoreBringsTheBytesBackAndCountsThem) {
    SeedEarlier();
    WriteAll(earlier_ + "delck.txt", "");  // an empty user file
    ASSERT_EQ(BackupUserData(), 1);

    // Into a different install directory: the archive is copied first.
    const std::string install = dir_ + "/install/";
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", install.c_str());
    for (const std::string& name : kRequired) WriteAll(install + name, "fresh");
    EXPECT_EQ(RestoreUserData(), 1);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "成功恢复了16个原有数据文件！");
    EXPECT_EQ(shown_[0].caption, "智能墨筏");
    EXPECT_EQ(shown_[0].buttons, kMbOk);
    EXPECT_EQ(ReadAll(install + "mofaback.mfz"), Archive());
    for (const std::string& name : kRequired) EXPECT_EQ(Installed(name), ReadAll(earlier_ + name)) << name;
    for (size_t i = 1; i < kCopiedStems.size(); ++i)
        EXPECT_EQ(Installed(kCopiedStems[i] + ".bak"), ReadAll(earlier_ + kCopiedStems[i] + ".mfh"));
    EXPECT_EQ(Installed("delck.txt"), "");
    EXPECT_EQ(access((install + "delck.txt").c_str(), F_OK), 0);

    // Every word of the user's phrase file is kept, the bare last one too,
    // and the sealed file is not reported as a failure.
    const std::string phrase = Installed("mofacyzk.bak");
    EXPECT_EQ(phrase.substr(0, phrase.size() - 12), std::string(kPhrase) + "; ");
    EXPECT_EQ(phrase.substr(phrase.size() - 12, 4), "MOFA");
    EXPECT_EQ(U32(phrase, phrase.size() - 4), 3u);

    // A backup cut short fails the restore (its cause recorded for the
    // install's one message); one that is gone is nothing to restore.
    shown_.clear();
    const std::string archive = ReadAll(install + "mofaback.mfz");
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", earlier_.c_str());
    for (size_t cut : {99, 5}) {  // a header cut short too: no archive at all
        WriteAll(g_ctx.backupArchivePath, archive.substr(0, cut));
        ClearFailure();
        EXPECT_EQ(RestoreUserData(), 0) << cut;
        EXPECT_TRUE(FirstFailure().set) << cut;
    }
    DiscardBackup();
    EXPECT_EQ(RestoreUserData(), 1);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(BackupTest, DictionariesLargerThanTheWorkBufferComeBackWhole) {
    SeedEarlier();
    // A user dictionary grown past the 2 MB work buffer, and one that does
    // not compress at all.
    const std::string grown = Noise(3 * 1024 * 1024 + 17, 11);
    WriteAll(earlier_ + "mofazdym.mfh", grown);
    ASSERT_EQ(BackupUserData(), 1);

    // The install writes the fresh files over the earlier ones, then restores.
    std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", earlier_.c_str());
    WriteAll(earlier_ + "mofazdym.mfh", "fresh");
    RestoreUserData();
    EXPECT_TRUE(ReadAll(earlier_ + "mofazdym.mfh") == grown) << "the grown dictionary did not come back whole";
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "成功恢复了15个原有数据文件！");
}

TEST(PhraseEnding, OnlyABareLastWordGetsItsSeparator) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1", "\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1; "},
        {"\xD6\xD0\xB9\xFA;", "\xD6\xD0\xB9\xFA; "},
        {"\xD6\xD0\xB9\xFA\r\n", "\xD6\xD0\xB9\xFA; "},
        {"\xD6\xD0\xB9\xFA; \r\n", "\xD6\xD0\xB9\xFA; \r\n"},  // nothing is missing
        {"\xD6\xD0\xB9\xFA; ab", "\xD6\xD0\xB9\xFA; ab"},      // not a word: left to the sealing
        {"\xD6\xD0", "\xD6\xD0"},                              // one character is no word
        {"", ""},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buffer(c.in.begin(), c.in.end());
        buffer.resize(c.in.size() + 2, 0xEE);
        uint32_t length = EndLastPhrase(buffer.data(), static_cast<uint32_t>(c.in.size()));
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), c.out) << c.in;
    }
    // A sealed file is never touched, even if its last word is bare.
    std::string sealed = std::string("\xD6\xD0\xB9\xFA") + "MOFA" + Le32(0) + Le32(0);
    std::vector<unsigned char> buffer(sealed.begin(), sealed.end());
    buffer.resize(sealed.size() + 2);
    EXPECT_EQ(EndLastPhrase(buffer.data(), static_cast<uint32_t>(sealed.size())), sealed.size());
}
}  // namespace
