#include "install/skins.h"

#include "app/context.h"
#include "app/msgbox.h"
#include "app/strbuf.h"
#include "archive/mfz.h"
#include "install/fileops.h"

namespace {
const char kCaption[] = "智能墨筏";
const char kReportGap[] = "\r\n\r\n";
const char kPayloadIncomplete[] = "上述文件没有成功复制，请重新下载安装！\r\n";
const char kSkinIncomplete[] = "皮肤文件没有成功复制，请重新安装皮肤文件！\r\n";
// Files whose installed contents may differ from the payload: setup patches,
// renames or rewrites them.
const char kTolerated[] =
    "mofa320.ime mofa321.ime mofa640.ime mofa641.ime mfszsj43.mfh setupw64.exe mofacyzk.bak mofatyrk.exe "
    "mofatyr6.exe ";
// Work buffer: the tolerance list, then the payload report; a skin archive
// is read into the start, its work area (or report) lies behind.
const uint32_t kPayloadReportOffset = 4096;
const uint32_t kSkinImageMax = 131072;

const int kModeButtons[] = {kModeDoubleLine, kModeSingleLine, kModeDual, kModeWindowsStyle};
const int kSkinButtons[] = {kSkinCool, kSkinPink, kSkinAngel};

// The buttons of each group that the dialog shows checked.
int g_modeButton = kModeDoubleLine;
int g_skinButton = kSkinCool;

// The radio buttons carry no group marks, so Windows treats all seven as
// one group: every change sets all seven again.
void ShowChecks(HWND dialog) {
    for (int id : kModeButtons) CheckDlgButton(dialog, id, id == g_modeButton ? BST_CHECKED : BST_UNCHECKED);
    for (int id : kSkinButtons) CheckDlgButton(dialog, id, id == g_skinButton ? BST_CHECKED : BST_UNCHECKED);
}

template <size_t N> int FirstChecked(HWND dialog, const int (&ids)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (IsDlgButtonChecked(dialog, ids[i]) == BST_CHECKED) return static_cast<int>(i) + 1;
    return 1;
}

template <size_t N> bool InGroup(int id, const int (&ids)[N]) {
    for (int member : ids)
        if (member == id) return true;
    return false;
}

const char* SkinArchiveName(int skin) {
    if (skin == 2) return "粉色瓷面.mfz";
    if (skin == 3) return "小天使.mfz";
    return "冷色瓷面.mfz";
}

// Appends the closing lines to a verification report and shows it.
void ShowReport(char* report, uint32_t cap, const char* closing) {
    StrAppend(report, cap, kReportGap);
    StrAppend(report, cap, closing);
    ShowMessageA(report, kCaption);
}

void VerifyPayload(unsigned char* work) {
    char* tolerance = reinterpret_cast<char*>(work);
    StrCopy(tolerance, kPayloadReportOffset, kTolerated);
    char* report = reinterpret_cast<char*>(work + kPayloadReportOffset);
    const uint32_t cap = kWorkBufferSize - kPayloadReportOffset;
    VerifyExtractedFiles(g_ctx.payloadData, g_ctx.payloadSize, report,
                         cap - sizeof kReportGap - sizeof kPayloadIncomplete, tolerance);
    if (report[0] != '\0') ShowReport(report, cap, kPayloadIncomplete);
}

void VerifySkin(const char* path, unsigned char* work) {
    uint32_t got = 0;
    if (!ReadFilePrefix(path, work, kSkinImageMax, &got)) {
        ShowMessageA(kSkinIncomplete, kCaption);
        return;
    }
    char* report = reinterpret_cast<char*>(work + kSkinImageMax);
    const uint32_t cap = kWorkBufferSize - kSkinImageMax;
    VerifyExtractedFiles(work, got, report, cap - sizeof kReportGap - sizeof kSkinIncomplete, "");
    if (report[0] != '\0') ShowReport(report, cap, kSkinIncomplete);
}
}  // namespace

INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        RECT main;
        if (g_ctx.mainWindow != nullptr && GetWindowRect(static_cast<HWND>(g_ctx.mainWindow), &main))
            SetWindowPos(dialog, nullptr, main.left, main.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        g_modeButton = kModeDoubleLine;
        g_skinButton = kSkinCool;
        ShowChecks(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam);
    if (InGroup(id, kModeButtons)) {
        g_modeButton = id;
        ShowChecks(dialog);
    } else if (InGroup(id, kSkinButtons)) {
        g_skinButton = id;
        ShowChecks(dialog);
    } else if (id == kSkinOkButton) {
        g_ctx.statusWindowMode = static_cast<uint8_t>(FirstChecked(dialog, kModeButtons));
        g_ctx.skinChoice = static_cast<uint8_t>(FirstChecked(dialog, kSkinButtons));
        EndDialog(dialog, kSkinOkButton);
    }
    // Cancel, Esc and the close box do nothing: the choice is always made.
    return TRUE;
}

int SkinFilesPresent() {
    for (int i = 0; i <= 7; ++i) {
        char path[sizeof g_ctx.installDir + 16];
        int fits = i == 0 ? StrFormat(path, sizeof path, "%smfbmp8.mfh", g_ctx.installDir)
                          : StrFormat(path, sizeof path, "%smfbmpsx%d.bmp", g_ctx.installDir, i);
        if (!fits || FileSizeOf(path) < 0) return 0;
    }
    return 1;
}

int ExtractArchiveFile(const char* path) {
    unsigned char* work = g_ctx.workBuffer;
    uint32_t got = 0;
    if (work == nullptr || !ReadFilePrefix(path, work, kSkinImageMax, &got)) return 0;
    return ExtractArchive(work, got, work + kSkinImageMax, kWorkBufferSize - kSkinImageMax);
}

void InstallSkins() {
    unsigned char* work = g_ctx.workBuffer;
    if (work == nullptr) return;
    VerifyPayload(work);
    // The earlier data is kept: so is the earlier skin, when it is whole.
    if (g_ctx.userDataState == 2 && SkinFilesPresent()) return;

    g_ctx.statusWindowMode = 1;
    g_ctx.skinChoice = 1;
    HINSTANCE module = g_ctx.instanceHandle != nullptr ? static_cast<HINSTANCE>(g_ctx.instanceHandle)
                                                       : GetModuleHandleA(nullptr);
    // A dialog that cannot be shown leaves the defaults.
    DialogBoxParamA(module, g_ctx.oemCodePage == 950 ? "PYKEYB" : "PYKEY", static_cast<HWND>(g_ctx.mainWindow),
                    SkinDialogProc, 0);

    char path[sizeof g_ctx.installDir + 16];
    if (!StrFormat(path, sizeof path, "%s%s", g_ctx.installDir, SkinArchiveName(g_ctx.skinChoice))) {
        ShowMessageA(kSkinIncomplete, kCaption);
        return;
    }
    ExtractArchiveFile(path);
    VerifySkin(path, work);
}
