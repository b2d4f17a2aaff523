// The payload archive on Windows: MD5 through advapi32, extraction into a
// folder with GBK names, a module in use moved aside, and the per-entry
// message.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/mfz.h"
#include "base/context.h"
#include "base/failure.h"
#include "support/winsupport.h"

namespace {
std::string Pack(const std::vector<std::pair<std::string, std::string>>& files) {
    uint32_t bound = kArchiveHeaderSize;
    for (const auto& f : files) bound += ArchiveEntryBound(static_cast<uint32_t>(f.second.size()));
    std::string image(bound, '\0');
    ArchiveWriter writer;
    BeginArchive(&writer, reinterpret_cast<unsigned char*>(&image[0]), bound, 1);
    for (const auto& f : files)
        EXPECT_EQ(AppendArchiveEntry(&writer, f.first.c_str(), f.second.data(), static_cast<uint32_t>(f.second.size()), 9),
                  1);
    image.resize(writer.size);
    return image;
}

class ArchiveWinTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSetupContext(); }
    void UseFolder(const std::string& name) {
        dir_ = ScratchDir(name);
        ASSERT_LT(dir_.size(), sizeof g_ctx.installDir);
        std::strcpy(g_ctx.installDir, dir_.c_str());
    }
    int Extract(const std::string& image) {
        return ExtractArchive(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()), static_cast<uint32_t>(image.size()),
                              work_.data(), static_cast<uint32_t>(work_.size()));
    }
    std::string dir_;
    std::vector<unsigned char> work_ = std::vector<unsigned char>(kWorkBufferSize);
};

TEST_F(ArchiveWinTest, Md5ThroughAdvapi32GivesTheRfcVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& v : vectors) {
        char out[34];
        Md5Hex(v.first, static_cast<uint32_t>(std::strlen(v.first)), out);
        EXPECT_EQ(std::string(out, 34), std::string(v.second) + '\0' + '\0') << v.first;
    }
}

TEST_F(ArchiveWinTest, ExtractsIntoTheFolderUnderGbkNames) {
    UseFolder("archive_extract");
    MessageRecorder recorder;
    const std::string skin(3000, 's'), module(70000, 'm');
    ASSERT_EQ(Extract(Pack({{"冷色瓷面.mfz", skin}, {"mofahu4.ime", module}})), 1);
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(ReadBytes(dir_ + "mofahu4.ime"), module);
    // The GBK name is the name Windows shows.
    std::u16string wide(dir_.begin(), dir_.end());
    wide += u"冷色瓷面.mfz";
    EXPECT_NE(GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str())), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadBytes(dir_ + "冷色瓷面.mfz"), skin);

    char report[256];
    std::string image = Pack({{"冷色瓷面.mfz", skin}});
    EXPECT_EQ(VerifyExtractedFiles(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()),
                                   static_cast<uint32_t>(image.size()), report, sizeof report, ""),
              1);
    EXPECT_STREQ(report, "");
}

// A module in use: on Windows, and likewise on wine64, a file mapped as an
// image (a loaded DLL, a running program) refuses DeleteFile with
// ERROR_ACCESS_DENIED while MoveFile still renames it. An open handle without
// delete sharing is no stand-in: it refuses the rename too.
TEST_F(ArchiveWinTest, ModuleInUseIsMovedAsideAndTheNewOneWritten) {
    UseFolder("archive_inuse");
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const std::string target = dir_ + "mofahu4.ime", aside2 = dir_ + "mofahu2.ime", aside1 = dir_ + "mofahu1.ime";
    ASSERT_TRUE(CopyFileA(self, target.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(self, aside2.c_str(), FALSE));
    HMODULE held = LoadLibraryExA(target.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    HMODULE heldAside = LoadLibraryExA(aside2.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(held, nullptr);
    ASSERT_NE(heldAside, nullptr);
    ASSERT_FALSE(DeleteFileA(target.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    MessageRecorder recorder;
    // The "2" name is in use as well: the old module goes to the "1" name.
    ASSERT_EQ(Extract(Pack({{"mofahu4.ime", "new module"}})), 1);
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(ReadBytes(target), "new module");
    EXPECT_EQ(ReadBytes(aside1).size(), ReadBytes(self).size());
    EXPECT_EQ(ReadBytes(aside2).size(), ReadBytes(self).size());
    FreeLibrary(held);
    FreeLibrary(heldAside);
}

// The first entry that cannot be written ends the extraction and names
// itself, with the system's error; nothing after it is written, and the
// caller tells the user once.
TEST_F(ArchiveWinTest, AnEntryThatCannotBeWrittenEndsTheExtractionAndNamesItself) {
    UseFolder("archive_fail");
    // Held open without any sharing: neither deleted, moved nor rewritten.
    ASSERT_TRUE(WriteBytes(dir_ + "held.txt", "old"));
    HANDLE h = CreateFileA((dir_ + "held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    MessageRecorder recorder;
    ClearFailure();
    EXPECT_EQ(Extract(Pack({{"first.txt", "one"}, {"held.txt", "new"}, {"good.txt", "fine"}})), 0);
    CloseHandle(h);
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(FirstFailure().path, std::string("held.txt"));
    EXPECT_NE(FirstFailure().error, 0u);
    EXPECT_EQ(ReadBytes(dir_ + "first.txt"), "one");
    EXPECT_EQ(ReadBytes(dir_ + "held.txt"), "old");
    EXPECT_FALSE(FileExists(dir_ + "good.txt"));

    // A digest that does not match: the entry is not written.
    std::string image = Pack({{"bad.txt", "contents"}, {"good.txt", "fine"}});
    image[10 + 18] = image[10 + 18] == 'A' ? 'B' : 'A';
    ClearFailure();
    EXPECT_EQ(Extract(image), 0);
    EXPECT_EQ(FirstFailure().userText, std::string("没有成功解压复制bad.txt文件"));
    EXPECT_FALSE(FileExists(dir_ + "bad.txt"));
    EXPECT_TRUE(recorder.shown.empty());
}
}  // namespace
