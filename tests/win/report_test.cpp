// The integrity report at the end of the wizard: the install directory rated
// and counted, the dictionaries and the module probed, one finding shown.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "base/context.h"
#include "base/sysapi.h"
#include "install/report.h"
#include "support/winsupport.h"

namespace {
const std::string kHeading = "智能墨筏汉字输入系统7.9版安装情况报告。\r\n\r\n安装出现错误！错误为：";
const std::string kAdvice =
    "\r\n\r\n请到主页" MOFA_VENDOR_SITE "重新下载安装！并解除杀毒软件对安装过程的拦截！\r\n\r\n";
const std::string kWhole(20, 'w');

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ASSERT_GT(GetCurrentDirectoryA(sizeof saved_, saved_), 0u);
        dir_ = ScratchDir("report");
        std::strcpy(g_ctx.installDir, dir_.c_str());
    }
    void TearDown() override {
        SetCurrentDirectoryA(saved_);
        ResetSysApi();
    }
    void Put(const std::string& name, const std::string& bytes = "x") { ASSERT_TRUE(WriteBytes(dir_ + name, bytes)); }
    void Remove(const std::string& name) { ASSERT_TRUE(DeleteFileA((dir_ + name).c_str())); }
    // 74 files: the three the report probes and 71 others of every kind.
    void CompleteInstall() {
        Put("mofacyzk.mfh", kWhole);
        Put("mofapyck.bak", kWhole + "more");
        Put("mofahu4.ime", kWhole);
        for (int i = 0; i < 20; ++i) Put("t" + std::to_string(i) + ".TXT");
        for (int i = 0; i < 20; ++i) Put("d" + std::to_string(i) + ".mfh");
        for (int i = 0; i < 31; ++i) Put("o" + std::to_string(i) + ".bmp");
        ASSERT_TRUE(CreateDirectoryA((dir_ + "sub.txt").c_str(), nullptr));  // not counted
    }
    // The one message the report shows, or "" when none was shown.
    std::string Finding() {
        MessageRecorder recorder;
        int result = CheckInstallation();
        EXPECT_EQ(result, recorder.shown.empty() ? 0 : 1);
        if (recorder.shown.empty()) return "";
        EXPECT_EQ(recorder.shown.size(), 1u);
        const ShownMessage& shown = recorder.shown[0];
        EXPECT_FALSE(shown.wide);
        EXPECT_EQ(shown.captionA, "智能墨筏");
        EXPECT_EQ(shown.buttons, kMbOk);
        const std::string& text = shown.textA;
        bool framed = text.size() > kHeading.size() + kAdvice.size() && text.compare(0, kHeading.size(), kHeading) == 0 &&
                      text.compare(text.size() - kAdvice.size(), kAdvice.size(), kAdvice) == 0;
        EXPECT_TRUE(framed) << text;
        return framed ? text.substr(kHeading.size(), text.size() - kHeading.size() - kAdvice.size()) : text;
    }
    std::string dir_;
    char saved_[MAX_PATH];
};

TEST_F(ReportTest, ACompleteInstallShowsNothing) {
    CompleteInstall();
    EXPECT_EQ(Finding(), "");
    EXPECT_EQ(g_ctx.installDirState, 14);
    EXPECT_EQ(g_ctx.txtFileCount, 20);
    EXPECT_EQ(g_ctx.dataFileCount, 21);
    EXPECT_EQ(g_ctx.otherFileCount, 33);
    // The scan leaves the current directory in the install directory.
    char now[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(sizeof now, now), 0u);
    EXPECT_EQ(std::string(now) + "\\", dir_);
}

TEST_F(ReportTest, TheFirstFailingTestIsTheOneFinding) {
    CompleteInstall();
    Put("mofahu4.ime", "short");
    EXPECT_EQ(Finding(), "缺少文件！");
    Put("mofahu4.ime", kWhole);

    // The pinyin dictionary: ".mfh", ".bak" and ".dat" are each enough.
    Remove("mofapyck.bak");
    Put("extra.bmp");
    EXPECT_EQ(Finding(), "无拼音词库文件！");
    Put("mofapyck.dat", kWhole);
    EXPECT_EQ(Finding(), "");

    // Both dictionaries missing: only the first finding. A file shorter than
    // 20 bytes counts as missing.
    Remove("mofapyck.dat");
    Put("mofacyzk.mfh", std::string(19, 'c'));
    EXPECT_EQ(Finding(), "无五笔词库文件！");
    Put("mofacyzk.bak", kWhole);
    EXPECT_EQ(Finding(), "无拼音词库文件！");

    Remove("extra.bmp");
    Remove("mofacyzk.bak");
    Remove("o0.bmp");
    EXPECT_EQ(Finding(), "文件不完整！");  // 72 files; the dictionaries are not looked at

    std::strcpy(g_ctx.installDir, (dir_ + "absent\\").c_str());
    EXPECT_EQ(Finding(), "检测不到安装路径！");
    EXPECT_EQ(g_ctx.installDirState, 0);
}

DWORD g_extraAttributes = 0;
DWORD WINAPI AttributesWithExtra(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ? attributes : attributes | g_extraAttributes;
}

TEST_F(ReportTest, ADirectoryWithMoreAttributesStillRates14) {
    // Windows keeps these bits on a directory; wine does not, so the
    // attribute call is stood in.
    g_sys.getFileAttributesA = AttributesWithExtra;
    for (DWORD extra : {DWORD{0}, DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_ARCHIVE}}) {
        g_extraAttributes = extra;
        // Without its backslash too: the scan adds it.
        std::strcpy(g_ctx.installDir, dir_.substr(0, dir_.size() - 1).c_str());
        ScanInstallDir();
        EXPECT_EQ(g_ctx.installDirState, 14) << extra;
        EXPECT_EQ(std::string(g_ctx.installDir), dir_);
    }
    // A file where the directory should be is no directory.
    g_extraAttributes = 0;
    Put("plain");
    std::strcpy(g_ctx.installDir, (dir_ + "plain\\").c_str());
    ScanInstallDir();
    EXPECT_LT(g_ctx.installDirState, 14);
    ResetSysApi();
}

TEST_F(ReportTest, ProbeCodesAndCountersThatStopAt255) {
    Put("whole.bin", kWhole + "tail");
    Put("short.bin", std::string(19, 's'));
    Put("empty.bin", "");
    EXPECT_EQ(ProbeInstalledFile("whole.bin"), kProbeComplete);
    EXPECT_EQ(ProbeInstalledFile("short.bin"), 19 * 256);
    EXPECT_EQ(ProbeInstalledFile("empty.bin"), 0);
    EXPECT_EQ(ProbeInstalledFile("absent.bin"), ERROR_FILE_NOT_FOUND);

    // 300 files of one kind do not wrap the 8-bit counter round to 44 and
    // so look like an incomplete install.
    for (int i = 0; i < 297; ++i) Put("n" + std::to_string(i) + ".dat");
    ScanInstallDir();
    EXPECT_EQ(g_ctx.otherFileCount, 255);
    EXPECT_EQ(g_ctx.installDirState, 14);
}
}  // namespace
