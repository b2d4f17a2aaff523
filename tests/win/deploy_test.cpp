// File and system operations of the install: deleting and moving aside files
// that a running program holds, copying with retry, the version patch on
// files, and the registry values of the install.
//
// "Held by a running program": see HoldAsLoadedModule.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "base/context.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "install/deploy.h"
#include "install/patch.h"
#include "install/sysops.h"
#include "support/winsupport.h"

namespace {
class FileOpsTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = ScratchDir("fileops"); }
    void TearDown() override {
        for (HANDLE h : held_) CloseHandle(h);
    }
    std::string Held(const std::string& name) {
        std::string path = dir_ + name;
        HANDLE h = HoldAsLoadedModule(path);
        EXPECT_NE(h, nullptr) << path;
        held_.push_back(h);
        return path;
    }
    std::string dir_;
    std::vector<HANDLE> held_;
};

TEST_F(FileOpsTest, ForceDeleteFileTellsAbsentGoneAndStuckApart) {
    EXPECT_TRUE(ForceDeleteFile((dir_ + "absent.ime").c_str()));

    std::string plain = dir_ + "plain.ime";
    WriteBytes(plain, "x");
    SetFileAttributesA(plain.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(ForceDeleteFile(plain.c_str()));
    EXPECT_FALSE(FileExists(plain));

    std::string held = Held("mofahu4.ime");
    EXPECT_FALSE(ForceDeleteFile(held.c_str()));
    EXPECT_TRUE(FileExists(held));
}

TEST_F(FileOpsTest, MoveLockedFileAsideTriesTheTwoThenTheOneName) {
    std::string held = Held("mofahu4.ime");
    const std::string module = ReadBytes(held);
    EXPECT_TRUE(MoveLockedFileAside(held.c_str()));
    EXPECT_FALSE(FileExists(held));
    EXPECT_EQ(ReadBytes(dir_ + "mofahu2.ime"), module);

    // The "2" name is itself held: the "1" name is used.
    std::string again = Held("mofahu4.ime");
    EXPECT_TRUE(MoveLockedFileAside(again.c_str()));
    EXPECT_FALSE(FileExists(again));
    EXPECT_TRUE(FileExists(dir_ + "mofahu1.ime"));

    // Both aside names are held by now: the file stays where it is.
    std::string stuck = Held("mofahu4.ime");
    EXPECT_FALSE(MoveLockedFileAside(stuck.c_str()));
    EXPECT_TRUE(FileExists(stuck));
}

TEST_F(FileOpsTest, MoveLockedFileAsideNeverReusesTheOriginalName) {
    // "mofa321.ime" already carries a "1" where the mark goes: with the "2"
    // name held, the second try must not be the file itself.
    std::string held = Held("mofa321.ime");
    Held("mofa322.ime");
    const std::string module = ReadBytes(held);
    EXPECT_TRUE(MoveLockedFileAside(held.c_str()));
    EXPECT_FALSE(FileExists(held));
    EXPECT_EQ(ReadBytes(dir_ + "mofa320.ime"), module);

    // Names too short for the rule, or too long for its buffer, are refused.
    EXPECT_FALSE(MoveLockedFileAside("a.b"));
    std::string longName = dir_ + std::string(200, 'n') + ".ime";
    EXPECT_FALSE(MoveLockedFileAside(longName.c_str()));
}

TEST_F(FileOpsTest, CopyWithRetryMovesAHeldTargetAside) {
    MessageRecorder messages;
    std::string source = dir_ + "new.ime";
    WriteBytes(source, "new module");
    std::string target = Held("mofahu4.ime");
    const std::string old = ReadBytes(target);

    EXPECT_EQ(CopyWithRetry(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(ReadBytes(target), "new module");
    EXPECT_EQ(ReadBytes(dir_ + "mofahu2.ime"), old);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FileOpsTest, CopyWithRetryReportsATargetItCannotWrite) {
    MessageRecorder messages;
    std::string source = dir_ + "new.ime";
    WriteBytes(source, "new module");
    std::string target = dir_ + "no such folder\\mofahu4.ime";
    ClearFailure();
    EXPECT_EQ(CopyWithRetry(source.c_str(), target.c_str()), 0);
    // The cause, with the system's error, for the install's one message.
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(FirstFailure().userText, "没有成功复制" + target + "文件");
    EXPECT_EQ(FirstFailure().path, target);
    EXPECT_EQ(FirstFailure().error, static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));

    // A read-only target is no obstacle: its attributes are cleared first.
    std::string readOnly = dir_ + "ro.ime";
    WriteBytes(readOnly, "old");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(CopyOver(source.c_str(), readOnly.c_str()));
    EXPECT_EQ(ReadBytes(readOnly), "new module");
}

std::string Utf16(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(FileOpsTest, PatchVersionStringRewritesOnlyFilesItCanReadWhole) {
    std::vector<unsigned char> buffer(kWorkBufferSize);
    g_ctx.workBuffer = buffer.data();
    const std::string old = "MZ" + Utf16(u"智能墨筏输入平台  6.7") + std::string(100, '\0');
    const std::string patched = "MZ" + Utf16(u"智能墨筏输入平台  7.9") + std::string(100, '\0');

    std::string small = dir_ + "setupw64.exe";
    WriteBytes(small, old);
    PatchVersionString(small.c_str());
    EXPECT_EQ(ReadBytes(small), patched);

    // Larger than the 128 KiB the patch reads: left whole and untouched.
    std::string large = dir_ + "large.exe";
    const std::string big = old + std::string(kPatchLimit, 'x');
    WriteBytes(large, big);
    PatchVersionString(large.c_str());
    EXPECT_EQ(ReadBytes(large), big);

    // Held open without read sharing: never truncated.
    std::string locked = dir_ + "locked.exe";
    WriteBytes(locked, old);
    HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PatchVersionString(locked.c_str());
    CloseHandle(h);
    EXPECT_EQ(ReadBytes(locked), old);

    // Without the work buffer nothing happens.
    g_ctx.workBuffer = nullptr;
    WriteBytes(small, old);
    PatchVersionString(small.c_str());
    EXPECT_EQ(ReadBytes(small), old);
}

// The registry values of the install, with HKEY_LOCAL_MACHINE redirected to
// a scratch key.
class InstallRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch_,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(scratch_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    }
    void CreateKey(const char* path) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(scratch_, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void SetValue(const char* path, const char* name, const char* data) {
        RegSetKeyValueA(scratch_, path, name, REG_SZ, data, static_cast<DWORD>(std::strlen(data) + 1));
    }
    // Returns false when the value is missing.
    bool GetValue(const char* path, const char* name, std::string* data, DWORD* type = nullptr) {
        char buffer[512];
        DWORD size = sizeof buffer;
        DWORD t = 0;
        if (RegGetValueA(scratch_, path, name, RRF_RT_ANY | RRF_NOEXPAND, &t, buffer, &size) != ERROR_SUCCESS)
            return false;
        if (type) *type = t;
        *data = std::string(buffer, size > 0 && buffer[size - 1] == '\0' ? size - 1 : size);
        return true;
    }
    static constexpr const char* kScratch = "Software\\mofatest\\hklm";
    HKEY scratch_ = nullptr;
};

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kPost =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform";

TEST_F(InstallRegistryTest, AutostartValueReplacesAnEarlierOne) {
    CreateKey("Software\\Microsoft\\Windows\\CurrentVersion");
    WriteAutostartValue("C:\\Program Files\\mofahu\\mofatyrk.exe mf");
    std::string data;
    DWORD type = 0;
    ASSERT_TRUE(GetValue(kRun, "mfmxsjgl", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, "C:\\Program Files\\mofahu\\mofatyrk.exe mf");

    SetValue(kRun, "mfmxsjgl", "D:\\old\\mofatyrk.exe mf and more");
    WriteAutostartValue("E:\\x\\mofatyrk.exe mf");
    ASSERT_TRUE(GetValue(kRun, "mfmxsjgl", &data));
    EXPECT_EQ(data, "E:\\x\\mofatyrk.exe mf");
}

TEST_F(InstallRegistryTest, AutostartNeedsTheParentKey) {
    WriteAutostartValue("x");
    std::string data;
    EXPECT_FALSE(GetValue(kRun, "mfmxsjgl", &data));
}

TEST_F(InstallRegistryTest, BrowserTokenReplacesEveryEarlierToken) {
    CreateKey(kPost);
    const char* earlier[] = {"tyrk6300", "tyrk6400", "tyrk6500", "tyrk6600", "tyrk6700", "tyrk6800",
                             "tyrk7000", "tyrk7100", "tyrk7200", "tyrk7300", "tyrk7400", "tyrk7500",
                             "tyrk7600", "tyrk7700", "tyrk7800", "tyrk7900"};
    for (const char* name : earlier) SetValue(kPost, name, "old");
    const char* others[] = {"tyrk6200", "tyrk6900", "tyrk8000", "tyrk6310", "SV1"};
    for (const char* name : others) SetValue(kPost, name, "keep");

    WriteUserAgentToken();

    std::string data;
    DWORD type = 0;
    for (const char* name : earlier) {
        if (std::strcmp(name, "tyrk7900") == 0) continue;
        EXPECT_FALSE(GetValue(kPost, name, &data)) << name;
    }
    for (const char* name : others) {
        ASSERT_TRUE(GetValue(kPost, name, &data)) << name;
        EXPECT_EQ(data, "keep");
    }
    ASSERT_TRUE(GetValue(kPost, "tyrk7900", &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, "");
}

TEST(GrantUserFullControlTest, GrantsOnAFolderAndFailsOnAMissingOne) {
    std::string dir = ScratchDir("grant");
    EXPECT_EQ(GrantUserFullControl(dir.c_str()), 1);
    EXPECT_EQ(GrantUserFullControl((dir + "missing").c_str()), 0);
}

BOOL WINAPI NoStart(LPCSTR, UINT) {
    ADD_FAILURE() << "a program was started";
    return FALSE;
}

// The install folder's label is set at once, with no program started for
// it; the label is the low level with the "no write up" policy. (Wine takes
// a file's label but keeps none to read back: the list is checked as built.)
TEST(GrantUserFullControlTest, TheInstallFolderGetsTheLowLabelWithoutAProgram) {
    std::string dir = ScratchDir("label");
    g_sys.startProgram = NoStart;
    ASSERT_TRUE(StrCopy(g_ctx.installDir, dir.c_str()));
    SetLowIntegrity();
    ASSERT_TRUE(StrCopy(g_ctx.installDir, (dir + "missing\\").c_str()));
    SetLowIntegrity();
    EXPECT_EQ(GetFileAttributesA(g_ctx.installDir), INVALID_FILE_ATTRIBUTES);
    ResetSysApi();

    PACL sacl = const_cast<PACL>(LowIntegrityLabel());
    ASSERT_TRUE(IsValidAcl(sacl));
    ASSERT_EQ(sacl->AceCount, 1);
    ACE_HEADER* ace = nullptr;
    ASSERT_TRUE(GetAce(sacl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    EXPECT_TRUE(IsValidSid(&label->SidStart));
    char* sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(&label->SidStart, &sid));
    EXPECT_STREQ(sid, "S-1-16-4096");
    LocalFree(sid);
}
}  // namespace
