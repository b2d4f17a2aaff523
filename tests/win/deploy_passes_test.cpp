// The two deployment passes on a small payload, with the Windows and system
// directories stood in by scratch folders: which module lands where on 64-bit
// and 32-bit Windows, for the simplified and the traditional code page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/sysapi.h"
#include "install/deploy.h"
#include "install/patch.h"
#include "support/winsupport.h"

namespace {
std::string Utf16(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// A module stand-in: its own name, then the product text and a version.
std::string Module(const std::string& name, const std::u16string& version) {
    return "MZ" + name + std::string(30, '\0') + Utf16(u"智能墨筏输入平台" + version) + std::string(8, '\0');
}

const char* const kModules[] = {"mofa320.ime", "mofa321.ime", "mofa640.ime", "mofa641.ime"};

class DeployPassesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ResetSysApi();
        std::string root = ScratchDir("deploy");
        UseStandInWindows(root + "windows");
        install_ = root + "mofahu\\";
        std::strcpy(g_ctx.installDir, install_.c_str());
        g_ctx.runMode = kRunSilent;
        g_ctx.oemCodePage = 936;
        g_ctx.windowsMajorVersion = 6;
        work_.assign(kWorkBufferSize, 0);
        g_ctx.workBuffer = work_.data();

        for (const char* name : kModules) files_.push_back({name, Module(name, u"  6.3")});
        files_.push_back({"mofahu4.ime", Module("mofahu4.ime", u"  7.9")});
        files_.push_back({"mofahu64.ime", Module("mofahu64.ime", u"  7.9")});
        files_.push_back({"mofadel.exe", "uninstaller 32"});
        files_.push_back({"mfxdel64.exe", "uninstaller 64"});
        files_.push_back({"mofatyrk.exe", "manager for XP"});
        files_.push_back({"mofatyr6.exe", "manager for Vista"});
        files_.push_back({"setupw64.exe", Module("setupw64.exe", u"  6.7")});
        files_.push_back({"mofapyck.bak", "拼音; 词库; "});
        files_.push_back({"mofacyzk.bak", "词组; "});
        image_.assign(1 << 16, 0);
        ArchiveWriter writer;
        ASSERT_EQ(BeginArchive(&writer, image_.data(), static_cast<uint32_t>(image_.size()), 1), 1);
        for (const auto& f : files_)
            ASSERT_EQ(AppendArchiveEntry(&writer, f.first.c_str(), f.second.data(), static_cast<uint32_t>(f.second.size()), 9), 1);
        g_ctx.payloadData = image_.data();
        g_ctx.payloadSize = writer.size;

        // The uninstall entry goes to a scratch registry.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\mofatest\\deploy");
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\mofatest\\deploy", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hklm_, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, hklm_);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(hklm_);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\mofatest\\deploy");
        ResetSysApi();
        g_ctx.workBuffer = nullptr;
        g_ctx.payloadData = nullptr;
    }
    std::string Payload(const std::string& name) const {
        for (const auto& f : files_)
            if (f.first == name) return f.second;
        return {};
    }
    std::string Patched(const std::string& name) const {
        std::string bytes = Payload(name);
        for (const char* old : {"6.3", "6.7"}) {
            std::string from = Utf16(u"  ") + Utf16(std::u16string(old, old + 3));
            size_t at = bytes.find(from);
            if (at != std::string::npos) bytes.replace(at, from.size(), Utf16(u"  7.9"));
        }
        return bytes;
    }
    void Use64BitWindows() { CreateDirectoryA((g_standIn.windows + "\\syswow64").c_str(), nullptr); }
    std::string Wow64(const char* name) const { return ReadBytes(g_standIn.windows + "\\syswow64\\" + name); }
    std::string System(const char* name) const { return ReadBytes(g_standIn.system + "\\" + name); }
    std::string Installed(const char* name) const { return ReadBytes(install_ + name); }

    std::string install_;
    std::vector<unsigned char> work_;
    std::vector<unsigned char> image_;
    std::vector<std::pair<std::string, std::string>> files_;
    HKEY hklm_ = nullptr;
};

TEST_F(DeployPassesTest, SixtyFourBitWindowsGetsBothModulesFromDifferentSources) {
    Use64BitWindows();
    MessageRecorder messages;
    DeployFiles(0);
    EXPECT_EQ(Wow64("mofahu4.ime"), Patched("mofa320.ime"));
    EXPECT_EQ(System("mofahu4.ime"), Patched("mofa640.ime"));
    EXPECT_EQ(System("mofadel.exe"), "uninstaller 64");
    EXPECT_EQ(Installed("mofatyrk.exe"), "manager for Vista");
    EXPECT_FALSE(FileExists(install_ + "mofatyr6.exe"));
    EXPECT_EQ(Installed("setupw64.exe"), Patched("setupw64.exe"));
    EXPECT_EQ(Installed("mofahu32.ime"), Payload("mofahu4.ime"));
    EXPECT_EQ(Installed("mofapyck.dat"), Payload("mofapyck.bak"));

    DeployFiles(1);
    EXPECT_EQ(Wow64("mofahu4.ime"), Payload("mofahu4.ime"));
    EXPECT_EQ(System("mofahu4.ime"), Payload("mofahu64.ime"));
    for (const char* name : kModules) EXPECT_FALSE(FileExists(install_ + name)) << name;
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DeployPassesTest, TraditionalCodePageCopiesTheTraditionalFirstModules) {
    Use64BitWindows();
    g_ctx.oemCodePage = 950;
    DeployFiles(0);
    EXPECT_EQ(Wow64("mofahu4.ime"), Patched("mofa321.ime"));
    EXPECT_EQ(System("mofahu4.ime"), Patched("mofa641.ime"));
    // The simplified ones are extracted but never patched.
    EXPECT_EQ(Installed("mofa320.ime"), Payload("mofa320.ime"));
}

TEST_F(DeployPassesTest, ThirtyTwoBitWindowsUsesTheSystemDirectoryOnly) {
    DeployFiles(0);
    EXPECT_EQ(System("mofahu4.ime"), Patched("mofa320.ime"));
    EXPECT_EQ(System("mofadel.exe"), "uninstaller 32");
    EXPECT_FALSE(FileExists(g_standIn.windows + "\\syswow64"));
    EXPECT_EQ(Installed("mofatyrk.exe"), "manager for Vista");
    DeployFiles(1);
    EXPECT_EQ(System("mofahu4.ime"), Payload("mofahu4.ime"));  // from mofahu32.ime
}

TEST_F(DeployPassesTest, BeforeVistaTheManagerForXpStays) {
    g_standIn.major = 5;
    g_ctx.windowsMajorVersion = 5;
    g_ctx.oemCodePage = 950;
    Use64BitWindows();  // 64-bit XP counts as 32-bit Windows
    DeployFiles(0);
    EXPECT_EQ(System("mofahu4.ime"), Patched("mofa321.ime"));
    EXPECT_EQ(Installed("mofatyrk.exe"), "manager for XP");
    EXPECT_EQ(Installed("mofatyr6.exe"), "manager for Vista");
    DeployFiles(1);
    EXPECT_EQ(System("mofahu4.ime"), Payload("mofahu4.ime"));
}

TEST_F(DeployPassesTest, KeepDataQuestionFollowsTheBackup) {
    g_ctx.userDataState = kEarlierDataKept;
    std::strcpy(g_ctx.previousInstallDir, install_.c_str());
    {
        MessageRecorder messages;
        messages.answers.push_back(kIdYes);
        DeployFiles(0);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, u"检测到安装目录下有智能墨筏以前的词组等数据文件，是否保留？");
        EXPECT_EQ(messages.shown[0].caption, u"智能墨筏安装");
        EXPECT_EQ(messages.shown[0].buttons, static_cast<unsigned>(kMbYesNo));
        EXPECT_EQ(g_ctx.userDataState, kUserKeepsData);
    }
    g_ctx.userDataState = kEarlierDataKept;
    std::strcpy(g_ctx.previousInstallDir, "D:\\elsewhere\\");
    {
        MessageRecorder messages;
        messages.answers.push_back(kIdNo);
        DeployFiles(0);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].text, u"检测到有智能墨筏以前的词组等数据文件，是否保留？");
        EXPECT_EQ(g_ctx.userDataState, kEarlierDataKept);
    }
}

// A payload file that cannot be written ends the pass at once, naming it:
// nothing is built on it, and no question is asked of an install that is
// about to be undone.
TEST_F(DeployPassesTest, AFileThatCannotBeWrittenEndsThePassAndNamesItself) {
    g_ctx.userDataState = kEarlierDataKept;
    // A file that can be neither replaced nor moved aside.
    CreateDirectoryA(install_.c_str(), nullptr);
    WriteBytes(install_ + "mofadel.exe", "locked");
    HANDLE lock = CreateFileA((install_ + "mofadel.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    MessageRecorder messages;
    ClearFailure();
    EXPECT_EQ(DeployFiles(0), 0);
    CloseHandle(lock);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(FirstFailure().userText, std::string("没有成功解压复制mofadel.exe文件"));
    EXPECT_NE(FirstFailure().error, 0u);
    EXPECT_EQ(g_ctx.userDataState, kEarlierDataKept);
    // Nothing after it: no module reached the system directory.
    EXPECT_FALSE(FileExists(g_standIn.system + "\\mofahu4.ime"));
}
}  // namespace

namespace {
// The sample payload's first 64-bit module, a real IME of this build, once
// patched as the first pass patches it: Windows still loads it, and it
// tells the patched version when asked what it is (ImeInquire).
TEST(PatchedModule, StillLoadsAndTellsThePatchedVersion) {
    const std::string built = std::string(MOFA_STANDIN_DIR) + "\\mofa640.ime";
    std::string bytes = ReadBytes(built);
    if (bytes.find("mofa-standin") == std::string::npos)
        GTEST_SKIP() << built << " is no stand-in of this build (a vendor's payload)";
    ASSERT_GT(PatchVersionText(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<uint32_t>(bytes.size())), 0u);
    const std::string patched = ScratchDir("patched") + "mofa640.ime";
    ASSERT_TRUE(WriteBytes(patched, bytes));

    char windowsDir[MAX_PATH];
    GetWindowsDirectoryA(windowsDir, MAX_PATH);
    const std::string marker = std::string(windowsDir) + "\\temp\\mofa-standin.log";
    DeleteFileA(marker.c_str());
    HMODULE module = LoadLibraryA(patched.c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    typedef BOOL(WINAPI * Inquire)(void*, wchar_t*, DWORD);
    Inquire inquire = reinterpret_cast<Inquire>(GetProcAddress(module, "ImeInquire"));
    ASSERT_NE(inquire, nullptr);
    DWORD info[8] = {0};
    wchar_t uiClass[64] = {0};
    EXPECT_TRUE(inquire(info, uiClass, 0));
    FreeLibrary(module);
    EXPECT_STREQ(uiClass, L"UITYRK");
    const std::string line = ReadBytes(marker);
    EXPECT_NE(line.find(" 64 7.9 mofa640.ime"), std::string::npos) << line;
}
}  // namespace
