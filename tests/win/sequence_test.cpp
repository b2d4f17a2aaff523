// Getting an earlier version's module out of the system directories, with
// the Windows and system directories stood in by scratch folders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/context.h"
#include "base/failure.h"
#include "base/sysapi.h"
#include "install/plan.h"
#include "install/sequence.h"
#include "support/winsupport.h"

namespace {
class EarlierModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ResetSysApi();
        std::string root = ScratchDir("earlier");
        UseStandInWindows(root + "windows");
        std::strcpy(g_ctx.installDir, (root + "mofahu\\").c_str());
    }
    void TearDown() override {
        for (HANDLE h : held_) CloseHandle(h);
        ResetSysApi();
    }
    void Use64BitWindows() { CreateDirectoryA(Wow64().c_str(), nullptr); }
    std::string Wow64() const { return g_standIn.windows + "\\syswow64"; }
    void Hold(const std::string& path) {
        HANDLE h = HoldAsLoadedModule(path);
        ASSERT_NE(h, nullptr) << path;
        held_.push_back(h);
    }
    std::vector<HANDLE> held_;
};

const std::string kInUse =
    "你以前安装的墨筏五笔正在使用，请关闭使用墨筏五笔的所有窗口，或者重新启动机器后，才能安装新版本的墨筏五笔";

TEST_F(EarlierModuleTest, UnusedModulesAreDeletedWithoutARestart) {
    Use64BitWindows();
    WriteBytes(Wow64() + "\\mofahu4.ime", "old 32");
    WriteBytes(g_standIn.system + "\\mofahu4.ime", "old 64");
    MessageRecorder messages;
    EXPECT_EQ(RemoveEarlierModule(), 1);
    EXPECT_FALSE(FileExists(Wow64() + "\\mofahu4.ime"));
    EXPECT_FALSE(FileExists(g_standIn.system + "\\mofahu4.ime"));
    EXPECT_EQ(g_ctx.restartRequired, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EarlierModuleTest, HeldSysWow64ModuleIsMovedAsideAndNeedsARestart) {
    Use64BitWindows();
    Hold(Wow64() + "\\mofahu4.ime");
    MessageRecorder messages;
    EXPECT_EQ(RemoveEarlierModule(), 1);
    EXPECT_FALSE(FileExists(Wow64() + "\\mofahu4.ime"));
    EXPECT_TRUE(FileExists(Wow64() + "\\mofahu2.ime"));
    EXPECT_EQ(g_ctx.restartRequired, 1);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EarlierModuleTest, HeldSystemModuleMovedAsideNeedsNoRestartOn32BitWindows) {
    Hold(g_standIn.system + "\\mofahu4.ime");
    MessageRecorder messages;
    EXPECT_EQ(RemoveEarlierModule(), 1);
    EXPECT_TRUE(FileExists(g_standIn.system + "\\mofahu2.ime"));
    EXPECT_FALSE(FileExists(g_standIn.system + "\\mofahu4.ime"));
    EXPECT_EQ(g_ctx.restartRequired, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EarlierModuleTest, AModuleThatCannotMoveStopsTheInstall) {
    // Both names it could be moved to are held too.
    Hold(g_standIn.system + "\\mofahu2.ime");
    Hold(g_standIn.system + "\\mofahu1.ime");
    Hold(g_standIn.system + "\\mofahu4.ime");
    MessageRecorder messages;
    ClearFailure();
    EXPECT_EQ(RemoveEarlierModule(), 0);
    EXPECT_TRUE(FileExists(g_standIn.system + "\\mofahu4.ime"));
    EXPECT_EQ(g_ctx.restartRequired, 1);
    // The install's one failure message names it.
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(FirstFailure().userText, kInUse);
    EXPECT_EQ(FirstFailure().path, g_standIn.system + "\\mofahu4.ime");

    // The same in SysWOW64 on 64-bit Windows.
    g_ctx.restartRequired = 0;
    Use64BitWindows();
    Hold(Wow64() + "\\mofahu2.ime");
    Hold(Wow64() + "\\mofahu1.ime");
    Hold(Wow64() + "\\mofahu4.ime");
    ClearFailure();
    EXPECT_EQ(RemoveEarlierModule(), 0);
    EXPECT_EQ(g_ctx.restartRequired, 1);
    EXPECT_EQ(FirstFailure().path, Wow64() + "\\mofahu4.ime");
}
std::vector<std::string> g_started;
BOOL g_startAnswer = TRUE;
// What the started program inherits: the silent run's hand-over variable.
std::string InheritedSilence() {
    char value[8] = "";
    return GetEnvironmentVariableA(kSilentHandOverVariable, value, sizeof value) > 0 ? value : "unset";
}
BOOL WINAPI RecordStart(LPCSTR command, UINT) {
    g_started.push_back(std::string(command) + " | " + InheritedSilence());
    return g_startAnswer;
}

TEST_F(EarlierModuleTest, CompanionGetsTheInstallDirAndARunWithoutItFails) {
    g_sys.startProgram = RecordStart;
    g_started.clear();
    const std::string dir = g_ctx.installDir;

    g_startAnswer = TRUE;
    EXPECT_EQ(StartCompanionProgram(), 1);  // 32-bit Windows: no companion
    EXPECT_TRUE(g_started.empty());

    // A silent run tells the companion's hand-back to be silent too; the
    // wizard's does not.
    Use64BitWindows();
    g_ctx.runMode = kRunSilent;
    EXPECT_EQ(StartCompanionProgram(), 1);
    g_ctx.runMode = kRunInteractive;
    EXPECT_EQ(StartCompanionProgram(), 1);
    ASSERT_EQ(g_started.size(), 2u);
    EXPECT_EQ(g_started[0], "\"" + dir + "setupw64.exe\" regmf32=" + dir + " | 1");
    EXPECT_EQ(g_started[1], "\"" + dir + "setupw64.exe\" regmf32=" + dir + " | unset");

    // The plan keeps the install and ends the run as failed (its step's
    // policy, which the plan's table test reads).
    g_startAnswer = FALSE;
    ClearFailure();
    EXPECT_EQ(StartCompanionProgram(), 0);
    EXPECT_EQ(g_started.size(), 3u);
    EXPECT_EQ(FirstFailure().operation, std::string("start the companion program"));
}
}  // namespace
