#include "install/skins.h"

#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
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

const char* SkinArchiveName(int skin) {
    if (skin == 2) return "粉色瓷面.mfz";
    if (skin == 3) return "小天使.mfz";
    return "冷色瓷面.mfz";
}

// Appends the closing lines to a verification report and shows it.
void ShowReport(char* report, uint32_t cap, const char* closing) {
    StrAppend(report, cap, kReportGap);
    StrAppend(report, cap, closing);
    ShowMessageA(report, kCaptionA);
}

void VerifyPayload(unsigned char* work) {
    char* tolerance = reinterpret_cast<char*>(work);
    StrCopy(tolerance, kPayloadReportOffset, kTolerated);
    char* report = reinterpret_cast<char*>(work + kPayloadReportOffset);
    const uint32_t cap = kWorkBufferSize - kPayloadReportOffset;
    VerifyExtractedFiles(g_ctx.installDir, g_ctx.payloadData, g_ctx.payloadSize, report,
                         cap - sizeof kReportGap - sizeof kPayloadIncomplete, tolerance);
    if (report[0] != '\0') ShowReport(report, cap, kPayloadIncomplete);
}

void VerifySkin(const char* path, unsigned char* work) {
    uint32_t got = 0;
    if (!ReadFilePrefix(path, work, kSkinImageMax, &got)) {
        ShowMessageA(kSkinIncomplete, kCaptionA);
        return;
    }
    char* report = reinterpret_cast<char*>(work + kSkinImageMax);
    const uint32_t cap = kWorkBufferSize - kSkinImageMax;
    VerifyExtractedFiles(g_ctx.installDir, work, got, report, cap - sizeof kReportGap - sizeof kSkinIncomplete, "");
    if (report[0] != '\0') ShowReport(report, cap, kSkinIncomplete);
}
}  // namespace

int SkinFilesPresent() {
    for (int i = 0; i <= 7; ++i) {
        char path[sizeof g_ctx.installDir + 16];
        char name[16];
        if (i == 0)
            StrCopy(name, "mfbmp8.mfh");
        else
            StrFormat(name, sizeof name, "mfbmpsx%d.bmp", i);
        if (InInstallDir(path, name)[0] == '\0' || FileSizeOf(path) < 0) return 0;
    }
    return 1;
}

int ExtractArchiveFile(const char* path) {
    unsigned char* work = g_ctx.workBuffer;
    uint32_t got = 0;
    if (work == nullptr || !ReadFilePrefix(path, work, kSkinImageMax, &got)) return 0;
    return ExtractArchive(g_ctx.installDir, work, got, work + kSkinImageMax, kWorkBufferSize - kSkinImageMax);
}

void InstallSkins() {
    unsigned char* work = g_ctx.workBuffer;
    if (work == nullptr) return;
    VerifyPayload(work);
    // The earlier data is kept: so is the earlier skin, when it is whole.
    if (g_ctx.userDataState == kUserKeepsData && SkinFilesPresent()) return;

    g_ctx.statusWindowMode = 1;
    g_ctx.skinChoice = 1;
    // Nobody to ask, or a dialog that cannot be shown: the defaults stand.
    g_ui.chooseSkin();

    char path[sizeof g_ctx.installDir + 16];
    if (InInstallDir(path, SkinArchiveName(g_ctx.skinChoice))[0] == '\0') {
        ShowMessageA(kSkinIncomplete, kCaptionA);
        return;
    }
    ExtractArchiveFile(path);
    VerifySkin(path, work);
}
