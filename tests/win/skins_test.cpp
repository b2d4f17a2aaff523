// The skin step: the payload verified, the dialog shown or skipped, the chosen
// skin extracted and verified.
//
// The dialog is driven by real messages with no display: as in the in-use
// checks, a child process of this program puts its windows on a private
// desktop that wine gives its null driver (the DISABLED_ suite below, started
// by SkinDialog.CasesRunInAFreshProcess). The dialog resources come from the
// program built beside this test, loaded as a data file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/skin_dialog.h"
#include "archive/mfz.h"
#include "base/context.h"
#include "install/skins.h"
#include "support/winsupport.h"

namespace {
const char kSkinFailed[] = "皮肤文件没有成功复制，请重新安装皮肤文件！\r\n";
const char kClosing[] = "有文件没有成功解压，请重新下载安装！\r\n";
const char kCool[] = "冷色瓷面.mfz";
const char kPink[] = "粉色瓷面.mfz";

typedef std::vector<std::pair<std::string, std::string>> Files;

std::string Pack(bool digest, const Files& files) {
    uint32_t bound = kArchiveHeaderSize;
    for (const auto& f : files) bound += ArchiveEntryBound(static_cast<uint32_t>(f.second.size()));
    std::string image(bound, '\0');
    ArchiveWriter writer;
    BeginArchive(&writer, reinterpret_cast<unsigned char*>(&image[0]), bound, digest ? 1 : 0);
    for (const auto& f : files)
        EXPECT_EQ(AppendArchiveEntry(&writer, f.first.c_str(), f.second.data(), static_cast<uint32_t>(f.second.size()), 9),
                  1);
    image.resize(writer.size);
    return image;
}

// The eight files of a skin, each marked with the skin's tag.
Files SkinFiles(const std::string& tag) {
    // Each file larger than its compressed form: a plain archive is verified
    // by size against the stored length.
    Files files = {{"mfbmp8.mfh", tag + " settings" + std::string(200, 's')}};
    for (int i = 1; i <= 7; ++i)
        files.push_back({"mfbmpsx" + std::to_string(i) + ".bmp", tag + " bitmap " + std::to_string(i) + std::string(300, 'b')});
    return files;
}

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        dir_ = ScratchDir("skins");
        std::strcpy(g_ctx.installDir, dir_.c_str());
        work_.assign(kWorkBufferSize, 0);
        g_ctx.workBuffer = work_.data();
        // A payload that the folder matches.
        payload_ = Pack(true, {{"a.txt", "a"}});
        ASSERT_TRUE(WriteBytes(dir_ + "a.txt", "a"));
        UsePayload();
        // This test program holds no dialog resource: a dialog asked for
        // fails at once and the defaults stand.
        g_ctx.instanceHandle = GetModuleHandleA(nullptr);
    }
    void TearDown() override { g_ctx.workBuffer = nullptr; }
    void UsePayload() {
        g_ctx.payloadData = reinterpret_cast<const unsigned char*>(payload_.data());
        g_ctx.payloadSize = static_cast<uint32_t>(payload_.size());
    }
    void PutSkinArchive(const char* name, const std::string& tag) {
        ASSERT_TRUE(WriteBytes(dir_ + name, Pack(false, SkinFiles(tag))));
    }
    // 1 when the folder holds the skin tagged tag.
    bool HasSkin(const std::string& tag) {
        for (const auto& f : SkinFiles(tag))
            if (ReadBytes(dir_ + f.first) != f.second) return false;
        return true;
    }
    std::string dir_, payload_;
    std::vector<unsigned char> work_;
};

TEST_F(SkinTest, KeptDataWithAWholeSkinSkipsTheDialogAndTheSkin) {
    PutSkinArchive(kCool, "cool");
    for (const auto& f : SkinFiles("mine")) ASSERT_TRUE(WriteBytes(dir_ + f.first, f.second));
    g_ctx.userDataState = kUserKeepsData;
    g_ctx.statusWindowMode = 4;
    MessageRecorder recorder;
    InstallSkins();
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_TRUE(HasSkin("mine"));
    EXPECT_EQ(g_ctx.statusWindowMode, 4);

    // One bitmap missing: the choice is made again and the skin extracted.
    ASSERT_TRUE(DeleteFileA((dir_ + "mfbmpsx7.bmp").c_str()));
    EXPECT_EQ(SkinFilesPresent(), 0);
    InstallSkins();
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_TRUE(HasSkin("cool"));
    EXPECT_EQ(SkinFilesPresent(), 1);
    EXPECT_EQ(g_ctx.statusWindowMode, 1);
    EXPECT_EQ(g_ctx.skinChoice, 1);
}

TEST_F(SkinTest, ChangedPayloadFilesAreReportedUnlessTolerated) {
    payload_ = Pack(true, {{"mofa320.ime", "module"},
                           {"mofacyzk.bak", "phrases"},
                           {"b.txt", "b"},
                           {"c.txt", "c"},
                           {"d.txt", "d"}});
    UsePayload();
    ASSERT_TRUE(WriteBytes(dir_ + "mofa320.ime", "patched module"));
    ASSERT_TRUE(WriteBytes(dir_ + "mofacyzk.bak", "phrases, sealed"));
    ASSERT_TRUE(WriteBytes(dir_ + "b.txt", "B"));
    ASSERT_TRUE(WriteBytes(dir_ + "d.txt", "d"));
    MessageRecorder recorder;
    InstallSkins();  // and no skin archive in the folder
    ASSERT_EQ(recorder.shown.size(), 2u);
    EXPECT_EQ(recorder.shown[0].textA, std::string("b.txt....c.txt....") + kClosing +
                                           "\r\n\r\n上述文件没有成功复制，请重新下载安装！\r\n");
    EXPECT_EQ(recorder.shown[0].captionA, "智能墨筏");
    EXPECT_EQ(recorder.shown[1].textA, kSkinFailed);
    EXPECT_EQ(recorder.shown[1].captionA, "智能墨筏");
}

TEST_F(SkinTest, ADamagedSkinEntryStopsItsExtractionAndTheReportNamesWhatIsMissing) {
    std::string image = Pack(false, SkinFiles("cool"));
    // The data of the fourth entry (mfbmpsx3.bmp) is damaged.
    uint32_t at = kArchiveHeaderSize;
    for (int i = 0; i < 3; ++i)
        at += kPlainEntryHeaderSize + static_cast<unsigned char>(image[at + 16]) +
              (static_cast<unsigned char>(image[at + 17]) << 8);
    image[at + kPlainEntryHeaderSize + 6] ^= 0x77;
    ASSERT_TRUE(WriteBytes(dir_ + kCool, image));
    MessageRecorder recorder;
    InstallSkins();
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].textA, std::string("mfbmpsx3.bmp....mfbmpsx4.bmp....mfbmpsx5.bmp....mfbmpsx6.bmp...."
                                                   "mfbmpsx7.bmp....") +
                                           kClosing + "\r\n\r\n" + kSkinFailed);
    EXPECT_EQ(ReadBytes(dir_ + "mfbmpsx2.bmp"), SkinFiles("cool")[2].second);
    EXPECT_FALSE(FileExists(dir_ + "mfbmpsx7.bmp"));
}

// ---- The dialog, in a child process on a desktop with wine's null driver ----

// The program built beside this test, whose resources hold the dialogs.
HMODULE DialogResources() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return nullptr;
    std::string dir = path;
    for (int up = 0; up < 3; ++up) dir = dir.substr(0, dir.rfind('\\'));
    return LoadLibraryExA((dir + "\\mofasetup.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

const int kAllButtons[] = {kModeDoubleLine, kModeSingleLine, kModeDual, kModeWindowsStyle,
                           kSkinCool,       kSkinPink,       kSkinAngel};

// The seven check states as a text of 0s and 1s, in the order above.
std::string Checks(HWND dialog) {
    std::string out;
    for (int id : kAllButtons) out += IsDlgButtonChecked(dialog, id) == BST_CHECKED ? '1' : '0';
    return out;
}

// What a script saw of the dialog while it was open.
struct DialogLog {
    std::u16string title;
    RECT rect = {};
    std::vector<std::string> checks;
    bool openAfterCancel = false;
    int ticks = 0;
};

DialogLog* g_log = nullptr;
std::vector<int> g_clicks;  // buttons to click at the first tick

BOOL CALLBACK FindDialog(HWND window, LPARAM out) {
    char cls[16];
    if (GetClassNameA(window, cls, sizeof cls) && std::strcmp(cls, "#32770") == 0) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

// The script, one step a tick of a thread timer that the dialog's own modal
// loop dispatches: look, click, press Esc and close, then OK.
void CALLBACK ScriptTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || ++g_log->ticks > 50) return;
    if (g_log->checks.empty()) {
        wchar_t title[64] = {};
        GetWindowTextW(dialog, title, 64);
        g_log->title = reinterpret_cast<const char16_t*>(title);
        GetWindowRect(dialog, &g_log->rect);
        g_log->checks.push_back(Checks(dialog));
        for (int id : g_clicks) {
            SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
            g_log->checks.push_back(Checks(dialog));
        }
        // Esc to the focused control, then the close box: neither may end it.
        PostMessageA(GetDlgItem(dialog, kSkinOkButton), WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(GetDlgItem(dialog, kSkinOkButton), WM_KEYUP, VK_ESCAPE, 0);
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    g_log->openAfterCancel = IsWindow(dialog) && IsWindowVisible(dialog);
    SendMessageA(GetDlgItem(dialog, kSkinOkButton), BM_CLICK, 0, 0);
}

// InstallSkins with the dialog driven by the script; the dialog is owned by a
// window at (37, 41).
DialogLog RunWithDialog(const std::vector<int>& clicks) {
    DialogLog log;
    NullDriverDesktop desktop("mofaskintest");  // a desktop, and the driver setting, for each dialog
    bool ran = desktop.Run([&] {
        HMODULE resources = DialogResources();
        ASSERT_NE(resources, nullptr) << "mofasetup.exe is built beside the tests";
        g_ctx.instanceHandle = resources;
        HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 37, 41, 400, 310, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner, nullptr);
        g_ctx.mainWindow = owner;
        g_log = &log;
        g_clicks = clicks;
        UINT_PTR timer = SetTimer(nullptr, 0, 30, ScriptTick);
        g_ui.chooseSkin = ChooseSkinByDialog;  // the wizard's choice
        InstallSkins();
        g_ui.chooseSkin = kPlainUi.chooseSkin;
        KillTimer(nullptr, timer);
        g_log = nullptr;
        DestroyWindow(owner);
        g_ctx.mainWindow = nullptr;
        FreeLibrary(resources);
    });
    EXPECT_TRUE(ran);
    return log;
}

TEST_F(SkinTest, DISABLED_DialogChoosesModeAndSkinAndLeavesOnlyByOk) {
    PutSkinArchive(kCool, "cool");
    PutSkinArchive(kPink, "pink");
    MessageRecorder recorder;
    DialogLog log = RunWithDialog({kModeDual, kSkinPink, kModeWindowsStyle, kModeDual});
    EXPECT_EQ(log.title, u"智能墨筏皮肤及窗口模式选择");
    EXPECT_EQ(log.rect.left, 37);
    EXPECT_EQ(log.rect.top, 41);
    // Each group stays exclusive, and a click in one leaves the other alone.
    EXPECT_EQ(log.checks, (std::vector<std::string>{"1000100", "0010100", "0010010", "0001010", "0010010"}));
    EXPECT_TRUE(log.openAfterCancel);
    EXPECT_EQ(g_ctx.statusWindowMode, 3);
    EXPECT_EQ(g_ctx.skinChoice, 2);
    EXPECT_TRUE(HasSkin("pink"));
    EXPECT_TRUE(recorder.shown.empty());
}

TEST_F(SkinTest, DISABLED_TraditionalDialogWithCodePage950) {
    g_ctx.oemCodePage = 950;
    PutSkinArchive(kCool, "cool");
    MessageRecorder recorder;
    DialogLog log = RunWithDialog({});
    EXPECT_EQ(log.title, u"智能墨筏皮膚及窗口模式選擇");
    EXPECT_EQ(log.checks, std::vector<std::string>{"1000100"});
    EXPECT_EQ(g_ctx.statusWindowMode, 1);
    EXPECT_EQ(g_ctx.skinChoice, 1);
    EXPECT_TRUE(HasSkin("cool"));
    EXPECT_TRUE(recorder.shown.empty());
}

TEST(SkinDialog, CasesRunInAFreshProcess) {
    DWORD exitCode = 1;
    std::string output = RunTestsInFreshProcess("SkinTest.DISABLED_*", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_NE(output.find("[  PASSED  ] 2 tests."), std::string::npos) << output;
}
}  // namespace
