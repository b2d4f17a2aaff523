#include "install/deploy.h"

#include <windows.h>

#include <cstring>

#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/ui.h"
#include "ime/register.h"
#include "install/patch.h"
#include "install/sysops.h"

namespace {

typedef char PathText[260];
// Room kept free beyond the payload's files: the module and dictionary copies
// and the chosen skin.
const uint64_t kSpareRoom = 1u << 20;
const char kPayloadNoRoom[] =
    "　　安装目录%s所在的磁盘空间不足，还需要%lu KB。安装没有进行，原有文件都没有改动。请腾出磁盘空间后重新安装！";

void ReportCopyFailure(const char* target) {
    char text[400];
    StrFormat(text, sizeof text, "没有成功复制%s文件，请退出安装程序并手动删除该文件后重新安装！", target);
    ShowMessageA(text, kCopyCaptionA);
}

// A step the install cannot do without: its failure fails the install.
void Need(int ok) {
    if (!ok) g_ctx.installFailed = 1;
}

// Copies to the native system directory (see BeginNativeSystemDirAccess).
int CopyToSystemDir(const char* source, const char* target, bool retry) {
    void* token = BeginNativeSystemDirAccess();
    int ok = CopyOver(source, target);
    if (!ok && retry) {
        MoveLockedFileAside(target);
        ok = CopyOver(source, target);
    }
    EndNativeSystemDirAccess(token);
    if (!ok) ReportCopyFailure(target);
    return ok;
}

// The first module to copy: simplified or traditional, version patched.
const char* PatchedFirstModule(PathText& path, const char* simplified, const char* traditional) {
    InInstallDir(path, g_ctx.oemCodePage == 950 ? traditional : simplified);
    PatchVersionString(path);
    return path;
}

// From Windows Vista on, the data-management program for Vista replaces the
// one for older Windows.
int UseVistaManagementProgram() {
    PathText older, vista;
    InInstallDir(older, "mofatyrk.exe");
    InInstallDir(vista, "mofatyr6.exe");
    return ForceDeleteFile(older) == 0 && RenameFile(vista, older);
}

void AskToKeepEarlierData() {
    const char16_t* question = std::strcmp(g_ctx.installDir, g_ctx.previousInstallDir) == 0
                                   ? u"检测到安装目录下有智能墨筏以前的词组等数据文件，是否保留？"
                                   : u"检测到有智能墨筏以前的词组等数据文件，是否保留？";
    if (ShowMessageW(question, kSetupCaptionW, kMbYesNo) == kIdYes) g_ctx.userDataState = 2;
}

void ExtractPayload() {
    PathText path;
    SetArchiveAttribute(InInstallDir(path, "mofatyr6.exe"));
    ForceDeleteFile(path);
    SetArchiveAttribute(InInstallDir(path, "mofatyrk.exe"));
    ForceDeleteFile(path);

    if (!ExtractArchive(g_ctx.payloadData, g_ctx.payloadSize, g_ctx.workBuffer,
                        g_ctx.workBuffer != nullptr ? uint32_t{kWorkBufferSize} : 0u)) {
        g_ctx.installFailed = 1;
        ShowMessageA("文件解压不完整，请到智能墨筏网站" MOFA_VENDOR_SITE "重新下载安装。", kCopyCaptionA);
    }
    // The user's earlier data does not depend on the payload: the question is
    // asked even when some payload file could not be written, so that an
    // incomplete extraction never costs the user the dictionaries kept aside.
    if (g_ctx.userDataState == 1) AskToKeepEarlierData();
}

void DeployOn64BitWindows(int pass) {
    PathText source, target;
    // The 32-bit module goes to SysWOW64.
    if (pass == 0)
        PatchedFirstModule(source, "mofa320.ime", "mofa321.ime");
    else
        InInstallDir(source, "mofahu32.ime");
    Need(CopyWithRetry(source, Joined(target, g_ctx.sysWow64Dir, "mofahu4.ime")));

    // The 64-bit module and uninstaller go to the native system directory.
    RefreshSystemDir();
    if (pass == 0)
        PatchedFirstModule(source, "mofa640.ime", "mofa641.ime");
    else
        InInstallDir(source, "mofahu64.ime");
    Need(CopyToSystemDir(source, Joined(target, g_ctx.systemDir, "mofahu4.ime"), true));

    if (pass == 0) {
        Need(CopyToSystemDir(InInstallDir(source, "mfxdel64.exe"), Joined(target, g_ctx.systemDir, "mofadel.exe"), false));
        SetArchiveAttribute(InInstallDir(source, "mofatyrk.exe"));
        Need(UseVistaManagementProgram());
    }
}

void DeployOn32BitWindows(int pass) {
    PathText source, target;
    RefreshSystemDir();
    if (pass == 0) {
        if (g_ctx.windowsMajorVersion > 5) Need(UseVistaManagementProgram());
        PatchedFirstModule(source, "mofa320.ime", "mofa321.ime");
    } else {
        InInstallDir(source, g_ctx.windowsMajorVersion > 5 ? "mofahu32.ime" : "mofahu4.ime");
    }
    Need(CopyWithRetry(source, Joined(target, g_ctx.systemDir, "mofahu4.ime")));
    if (pass == 0 && !CopyOver(InInstallDir(source, "mofadel.exe"), Joined(target, g_ctx.systemDir, "mofadel.exe"))) {
        g_ctx.installFailed = 1;
        ReportCopyFailure(target);
    }
}
}  // namespace

int CheckRoomForPayload() {
    ArchiveWalk walk;
    if (!BeginArchiveWalk(&walk, g_ctx.payloadData, g_ctx.payloadSize)) return 1;  // extraction reports it
    // Each file is written beside the one it replaces before that goes, and
    // the copies and the skin after the extraction take a little more.
    uint64_t need = kSpareRoom, largest = 0;
    ArchiveEntry entry;
    PathText target;
    while (NextArchiveEntry(&walk, &entry)) {
        uint32_t size = 0;
        char name[kDigestNameFieldSize + 1];
        CopyEntryName(&entry, name, sizeof name);
        if (!MeasureEntry(&entry, kMaxEntryDataSize, &size)) continue;
        int64_t old = FileSizeOf(InInstallDir(target, name));
        if (old < size) need += size - (old > 0 ? static_cast<uint64_t>(old) : 0);
        if (size > largest) largest = size;
    }
    need += largest;
    // The disk of the install directory, or of its drive while it does not
    // exist yet.
    char at[sizeof g_ctx.installDir];
    StrCopyCut(at, g_ctx.installDir);
    if (!PathExists(at) && at[1] == ':') at[3] = '\0';
    int64_t available = FreeSpaceAt(at);
    if (available < 0 || static_cast<uint64_t>(available) >= need) return 1;
    char text[500];
    uint64_t missingKb = (need - static_cast<uint64_t>(available) + 1023) / 1024;
    if (StrFormat(text, sizeof text, kPayloadNoRoom, g_ctx.installDir, static_cast<unsigned long>(missingKb)))
        ShowMessageA(text, kSetupCaptionA);
    return 0;
}

int CopyOver(const char* source, const char* target) {
    if (source[0] == '\0' || target[0] == '\0') return 0;
    SetArchiveAttribute(target);
    return CopyFileOver(source, target);
}

int CopyWithRetry(const char* source, const char* target) {
    if (CopyOver(source, target)) return 1;
    MoveLockedFileAside(target);
    if (CopyOver(source, target)) return 1;
    ReportCopyFailure(target);
    return 0;
}

void DeployFiles(int pass) {
    MakeDirectory(g_ctx.installDir);
    if (g_ctx.windowsMajorVersion > 5) SetLowIntegrity();
    ReportRepaint();
    g_sys.sleep(50);

    if (pass == 0) ExtractPayload();

    ReportRepaint();
    PathText source, target;
    Need(CopyOver(InInstallDir(source, "mofahu4.ime"), InInstallDir(target, "mofahu32.ime")));
    Need(CopyOver(InInstallDir(source, "mofacyzk.bak"), InInstallDir(target, "mofacyzk.dat")));
    Need(CopyOver(InInstallDir(source, "mofapyck.bak"), InInstallDir(target, "mofapyck.dat")));
    g_sys.sleep(50);
    ReportProgressBar(0, 64);

    if (DetectWow64())
        DeployOn64BitWindows(pass);
    else
        DeployOn32BitWindows(pass);

    if (pass == 0) {
        PatchVersionString(InInstallDir(source, "setupw64.exe"));
        WriteUninstallEntry();
    } else {
        ForceDeleteFile(InInstallDir(source, "mofa320.ime"));
        ForceDeleteFile(InInstallDir(source, "mofa321.ime"));
        ForceDeleteFile(InInstallDir(source, "mofa640.ime"));
        ForceDeleteFile(InInstallDir(source, "mofa641.ime"));
    }
}
