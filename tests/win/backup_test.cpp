// The user-data backup on Windows: an earlier installation found through the
// path file of a stood-in Windows directory, restored into the same and into
// another install directory, and a hostile "mofaback.mfz" planted by a user.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "archive/mfz.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/machine.h"
#include "base/sysapi.h"
#include "support/winsupport.h"

namespace {
std::string g_windowsDir;

UINT WINAPI FakeWindowsDir(LPSTR out, UINT cap) {
    if (g_windowsDir.size() >= cap) return static_cast<UINT>(g_windowsDir.size() + 1);
    std::strcpy(out, g_windowsDir.c_str());
    return static_cast<UINT>(g_windowsDir.size());
}

const char* const kUserFiles[] = {"mofacyzk.mfh", "mfszsj43.mfh", "cfontset.mfh", "cwbzlcz1.mfh", "mfwbcmxz.mfh",
                                  "mfdhzcm.mfh",  "mofadhz.mfh",  "mfgbkhz.mfh",  "mofadwdw.txt", "mofazdym.mfh",
                                  "mfpyzdym.mfh", "mfwbpy.txt",   "mofaynhz.txt", "mofazdfh.mfh", "cwb.ov1"};
const char kPhrase[] = "\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1; ";

std::string Le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

// A list of a folder's names and sizes, to see that nothing else changed.
std::string Listing(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name + ":" + std::to_string(found.nFileSizeLow));
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) out += name + " ";
    return out;
}

// A digest entry of the archive writer, renamed byte by byte afterwards.
std::string EntryNamed(const std::string& name, const std::string& body) {
    std::vector<unsigned char> buffer(kArchiveHeaderSize + ArchiveEntryBound(static_cast<uint32_t>(body.size())));
    ArchiveWriter writer;
    EXPECT_EQ(BeginArchive(&writer, buffer.data(), static_cast<uint32_t>(buffer.size()), 1), 1);
    EXPECT_EQ(AppendArchiveEntry(&writer, "placeholder", body.data(), static_cast<uint32_t>(body.size()), 9), 1);
    std::string entry(buffer.begin() + kArchiveHeaderSize, buffer.begin() + writer.size);
    std::string field = name;
    field.resize(kDigestNameFieldSize, '\0');
    return entry.replace(2, kDigestNameFieldSize, field);
}

class BackupWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ResetSysApi();
        root_ = ScratchDir("backup");
        g_windowsDir = root_ + "windows";
        earlier_ = root_ + "earlier\\";
        ASSERT_TRUE(CreateDirectoryA(g_windowsDir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(earlier_.c_str(), nullptr));
        g_sys.getWindowsDirectoryA = FakeWindowsDir;
        work_.assign(kWorkBufferSize, 0);
        g_ctx.workBuffer = work_.data();
    }
    void TearDown() override {
        g_ctx.workBuffer = nullptr;
        ResetSysApi();
    }
    // The earlier installation as setup found it at start: the path file read
    // into previousInstallDir.
    void RecordEarlier() {
        ASSERT_TRUE(WriteBytes(g_windowsDir + "\\mofapath.mfh", earlier_));
        ReadPathFile();
        ASSERT_EQ(std::string(g_ctx.previousInstallDir), earlier_);
    }
    void SeedUserFiles() {
        for (const char* name : kUserFiles) ASSERT_TRUE(WriteBytes(earlier_ + name, std::string("user ") + name));
        ASSERT_TRUE(WriteBytes(earlier_ + "mofacyzk.mfh", kPhrase));
    }
    std::string root_, earlier_;
    std::vector<unsigned char> work_;
};

TEST_F(BackupWinTest, BacksUpTheEarlierInstallationAndRestoresItTwice) {
    SeedUserFiles();
    RecordEarlier();
    std::strcpy(g_ctx.installDir, "C:\\Program Files\\mofahu\\");
    ASSERT_EQ(BackupUserData(), 1);
    const std::string archive = ReadBytes(earlier_ + "mofaback.mfz");
    ASSERT_GT(archive.size(), 100u);
    EXPECT_EQ(archive.substr(6, 4), Le32(16));  // 8 twins, 7 required files, cwb.ov1
    EXPECT_EQ(ReadBytes(earlier_ + "mofadhz.bak"), "user mofadhz.mfh");

    // Into a different directory: the archive follows, every file lands.
    const std::string install = ScratchDir("backup_new");
    std::strcpy(g_ctx.installDir, install.c_str());
    {
        MessageRecorder recorder;
        RestoreUserData();
        ASSERT_EQ(recorder.shown.size(), 1u);
        EXPECT_FALSE(recorder.shown[0].wide);
        EXPECT_EQ(recorder.shown[0].textA, "成功恢复了16个原有数据文件！");
        EXPECT_EQ(recorder.shown[0].captionA, "智能墨筏");
        EXPECT_EQ(recorder.shown[0].buttons, kMbOk);
    }
    EXPECT_EQ(ReadBytes(install + "mofaback.mfz"), archive);
    for (size_t i = 0; i < sizeof kUserFiles / sizeof kUserFiles[0]; ++i) {
        std::string name = kUserFiles[i];
        if (i == 0) continue;  // the phrase file, below
        // The first eight come back as their ".bak" twins; mfszsj43.mfh as
        // itself too.
        if (i >= 8 || name == "mfszsj43.mfh") {
            EXPECT_EQ(ReadBytes(install + name), ReadBytes(earlier_ + name)) << name;
        }
        if (i < 8) {
            EXPECT_EQ(ReadBytes(install + name.substr(0, name.size() - 3) + "bak"), ReadBytes(earlier_ + name)) << name;
        }
    }
    // The phrase file comes back sealed: its two words, counted.
    const std::string phrase = ReadBytes(install + "mofacyzk.bak");
    ASSERT_EQ(phrase.size(), sizeof kPhrase - 1 + 12);
    EXPECT_EQ(phrase.substr(0, sizeof kPhrase - 1), kPhrase);
    EXPECT_EQ(phrase.substr(sizeof kPhrase - 1, 4), "MOFA");
    EXPECT_EQ(phrase.substr(phrase.size() - 4), Le32(2));

    // Into the same directory, over what the install put there.
    std::strcpy(g_ctx.installDir, earlier_.c_str());
    ASSERT_TRUE(WriteBytes(earlier_ + "mofazdym.mfh", "fresh"));
    MessageRecorder recorder;
    RestoreUserData();
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].textA, "成功恢复了16个原有数据文件！");
    EXPECT_EQ(ReadBytes(earlier_ + "mofazdym.mfh"), "user mofazdym.mfh");
}

// The restore, run with administrator rights, writes only plain names into
// the install directory and believes no length or count of the archive,
// should its bytes ever be another's.
TEST_F(BackupWinTest, HostileArchiveChangesNothingOutsideTheInstallDirectory) {
    const std::string install = earlier_;
    std::strcpy(g_ctx.previousInstallDir, install.c_str());
    std::strcpy(g_ctx.installDir, install.c_str());
    ASSERT_TRUE(CreateDirectoryA((root_ + "private").c_str(), nullptr));
    const std::string archivePath = root_ + "private\\mofaback.mfz";
    std::strcpy(g_ctx.backupArchivePath, archivePath.c_str());
    ASSERT_TRUE(WriteBytes(root_ + "victim.txt", "untouched"));
    const std::string outsideBefore = Listing(root_);
    const std::string rootBefore = Listing("C:\\");

    // Real entries with hostile names.
    std::vector<std::string> names = {"..\\victim.txt", "C:\\evil.txt", "c:evil.txt", "..\\..\\evil.txt",
                                      "good.txt",        "x/../y.txt",  "nul"};
    std::string image = std::string("C0") + Le32(0) + Le32(0);
    for (const std::string& name : names) image += EntryNamed(name, "hostile " + name);
    // Then an entry whose length runs far past the end, and a count that
    // promises millions of entries.
    image += "CF" + std::string("late.txt").append(8, '\0') + std::string(34, 'A') + Le32(0xFFFFFF00u) + "zz";
    image.replace(6, 4, Le32(0x7FFFFFFFu));
    ASSERT_TRUE(WriteBytes(archivePath, image));

    MessageRecorder recorder;
    ClearFailure();
    EXPECT_EQ(RestoreUserData(), 0);  // the install is then undone

    EXPECT_EQ(ReadBytes(root_ + "victim.txt"), "untouched");
    EXPECT_EQ(Listing(root_), outsideBefore);
    EXPECT_EQ(Listing("C:\\"), rootBefore);
    EXPECT_FALSE(FileExists("C:\\evil.txt"));
    // The first refused entry ends the restore and is its cause; nothing
    // after it is walked or written, and no message is shown for it: the
    // install's one failure message names it.
    EXPECT_EQ(Listing(install), "");
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(FirstFailure().path, std::string("..\\victim.txt"));

    // A file of many refused names cannot bury the user under messages.
    image = std::string("C0") + Le32(0) + Le32(300);
    for (int i = 0; i < 300; ++i) image += EntryNamed("..\\e" + std::to_string(i), "x");
    ASSERT_TRUE(WriteBytes(archivePath, image));
    EXPECT_EQ(RestoreUserData(), 0);
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(Listing(root_), outsideBefore);
}
}  // namespace
