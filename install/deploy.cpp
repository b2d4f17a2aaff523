#include "install/deploy.h"

#include <windows.h>

#include <cstring>

#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/journal.h"
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

// 1 when the copy to target was done; a copy that failed is the cause of the
// run's failure, told by its error.
int Copied(Outcome copied, const char* target) {
    if (copied) return 1;
    NoteFailure("没有成功复制%s文件", "copy", target, copied.error);
    return 0;
}

// Copies to the native system directory (see NativeSystemDirAccess).
int CopyToSystemDir(const char* source, const char* target, bool retry) {
    Outcome copied;
    {
        NativeSystemDirAccess native;
        copied = CopyOver(source, target);
        if (!copied && retry) {
            MoveLockedFileAside(target);
            copied = CopyOver(source, target);
        }
    }
    return Copied(copied, target);
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
    Outcome replaced = ForceDeleteFile(older);
    if (replaced) replaced = RenameFile(vista, older);
    if (replaced) return 1;
    NoteFailure("不能替换文件%s", "replace", older, replaced.error);
    return 0;
}

void AskToKeepEarlierData() {
    const char16_t* question = std::strcmp(g_ctx.installDir, g_ctx.previousInstallDir) == 0
                                   ? u"检测到安装目录下有智能墨筏以前的词组等数据文件，是否保留？"
                                   : u"检测到有智能墨筏以前的词组等数据文件，是否保留？";
    if (ShowMessageW(question, kSetupCaptionW, kMbYesNo) == kIdYes) g_ctx.userDataState = kUserKeepsData;
}

int ExtractPayload() {
    PathText path;
    SetArchiveAttribute(InInstallDir(path, "mofatyr6.exe"));
    ForceDeleteFile(path);
    SetArchiveAttribute(InInstallDir(path, "mofatyrk.exe"));
    ForceDeleteFile(path);
    // The extraction names the entry it could not write.
    int whole = ExtractArchive(g_ctx.installDir, g_ctx.payloadData, g_ctx.payloadSize, g_ctx.workBuffer,
                               g_ctx.workBuffer != nullptr ? uint32_t{kWorkBufferSize} : 0u);
    // The question is asked only of an install that goes on: a failed one
    // puts the user's files back as they were.
    if (whole && g_ctx.userDataState == kEarlierDataKept) AskToKeepEarlierData();
    return whole;
}

int DeployOn64BitWindows(int pass) {
    PathText source, target;
    // The 32-bit module goes to SysWOW64.
    if (pass == 0)
        PatchedFirstModule(source, "mofa320.ime", "mofa321.ime");
    else
        InInstallDir(source, "mofahu32.ime");
    if (!CopyWithRetry(source, Joined(target, g_ctx.sysWow64Dir, "mofahu4.ime"))) return 0;

    // The 64-bit module and uninstaller go to the native system directory.
    RefreshSystemDir();
    if (pass == 0)
        PatchedFirstModule(source, "mofa640.ime", "mofa641.ime");
    else
        InInstallDir(source, "mofahu64.ime");
    if (!CopyToSystemDir(source, Joined(target, g_ctx.systemDir, "mofahu4.ime"), true)) return 0;
    if (pass != 0) return 1;
    if (!CopyToSystemDir(InInstallDir(source, "mfxdel64.exe"), Joined(target, g_ctx.systemDir, "mofadel.exe"), false))
        return 0;
    SetArchiveAttribute(InInstallDir(source, "mofatyrk.exe"));
    return UseVistaManagementProgram();
}

int DeployOn32BitWindows(int pass) {
    PathText source, target;
    RefreshSystemDir();
    if (pass == 0) {
        if (g_ctx.windowsMajorVersion > 5 && !UseVistaManagementProgram()) return 0;
        PatchedFirstModule(source, "mofa320.ime", "mofa321.ime");
    } else {
        InInstallDir(source, g_ctx.windowsMajorVersion > 5 ? "mofahu32.ime" : "mofahu4.ime");
    }
    if (!CopyWithRetry(source, Joined(target, g_ctx.systemDir, "mofahu4.ime"))) return 0;
    if (pass == 0 && !Copied(CopyOver(InInstallDir(source, "mofadel.exe"), Joined(target, g_ctx.systemDir, "mofadel.exe")), target))
        return 0;
    return 1;
}

// The sizes of what the install folder holds, read by one scan of it: an
// open of each file would cost a round of link checks each. (Only an
// estimate is made of them: a link planted there counts as its own size, and
// the file it stands for is never opened.)
struct FolderFile {
    char name[kDigestNameFieldSize + 1];
    uint64_t size;
};
FolderFile g_folderFiles[256];
int g_folderFileCount;

void ScanFolderSizes() {
    g_folderFileCount = 0;
    PathText pattern;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(InInstallDir(pattern, "*.*"), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        FolderFile& f = g_folderFiles[g_folderFileCount];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && StrCopy(f.name, found.cFileName)) {
            f.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            ++g_folderFileCount;
        }
    } while (g_folderFileCount < 256 && FindNextFileA(search, &found));
    FindClose(search);
}

const FolderFile* InFolder(const char* name) {
    for (int i = 0; i < g_folderFileCount; ++i)
        if (_stricmp(g_folderFiles[i].name, name) == 0) return &g_folderFiles[i];
    return nullptr;
}
}  // namespace

namespace {
// The sizes of the payload's first entries, as its check inflated them (the
// plan checks the payload first in every run mode).
const uint32_t kSizedEntries = 256;
uint32_t g_entrySizes[kSizedEntries];
}  // namespace

int CheckPayloadWhole() {
    // (Without a work buffer the check fails.)
    return CheckArchiveWhole(g_ctx.payloadData, g_ctx.payloadSize, g_ctx.workBuffer, kWorkBufferSize, g_entrySizes,
                             kSizedEntries);
}

int CheckRoomForPayload() {
    ArchiveWalk walk;
    if (!BeginArchiveWalk(&walk, g_ctx.payloadData, g_ctx.payloadSize)) return 1;  // extraction reports it
    // Each file is written beside the one it replaces before that goes, and
    // the copies and the skin after the extraction take a little more.
    uint64_t need = kSpareRoom, largest = 0;
    ArchiveEntry entry;
    ScanFolderSizes();
    // The same look tells which of the payload's files are new: they are
    // noted as this run's with one flush for them all, where each would take
    // one of its own as it is made. (Noted, not made: one that is there after
    // all is found so before anything there changes. The payload check found
    // every name plain, and the install directory leaves room for each.)
    BeginNotingAhead();
    while (NextArchiveEntry(&walk, &entry)) {
        uint32_t size = 0;
        char name[kDigestNameFieldSize + 1];
        PathText path;
        CopyEntryName(&entry, name, sizeof name);
        if (walk.index <= kSizedEntries)
            size = g_entrySizes[walk.index - 1];
        else if (!MeasureEntry(&entry, kMaxEntryDataSize, &size))
            continue;
        uint64_t had = 0;
        if (const FolderFile* old = InFolder(name))
            had = old->size;
        else
            NoteCreatedAhead(InInstallDir(path, name));
        if (had < size) need += size - had;
        if (size > largest) largest = size;
    }
    EndNotingAhead();
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
    NoteFailure("", "find room for the payload in", g_ctx.installDir, 112);  // ERROR_DISK_FULL
    return 0;
}

Outcome CopyOver(const char* source, const char* target) {
    if (source[0] == '\0' || target[0] == '\0') return FailedWith(kErrorNoCause);
    SetArchiveAttribute(target);
    return CopyFileOver(source, target);
}

int CopyWithRetry(const char* source, const char* target) {
    Outcome copied = CopyOver(source, target);
    if (!copied) {
        MoveLockedFileAside(target);
        copied = CopyOver(source, target);
    }
    return Copied(copied, target);
}

namespace {
// A pause for the screen to show the wizard's progress: a silent run has no
// screen to wait for.
void PauseForTheScreen() {
    if (!IsSilentRun()) g_sys.sleep(50);
}
}  // namespace

int DeployFiles(int pass) {
    MakeDirectory(g_ctx.installDir);
    if (g_ctx.windowsMajorVersion > 5) SetLowIntegrity();
    ReportRepaint();
    PauseForTheScreen();

    if (pass == 0 && !ExtractPayload()) return 0;

    ReportRepaint();
    PathText source, target;
    static const char* const kCopies[][2] = {
        {"mofahu4.ime", "mofahu32.ime"}, {"mofacyzk.bak", "mofacyzk.dat"}, {"mofapyck.bak", "mofapyck.dat"}};
    for (const auto& copy : kCopies)
        if (!Copied(CopyOver(InInstallDir(source, copy[0]), InInstallDir(target, copy[1])), target)) return 0;
    PauseForTheScreen();
    ReportProgressBar(0, 64);

    if (!(DetectWow64() ? DeployOn64BitWindows(pass) : DeployOn32BitWindows(pass))) return 0;

    if (pass == 0) {
        PatchVersionString(InInstallDir(source, "setupw64.exe"));
        WriteUninstallEntry();
    } else {
        static const char* const kInterim[] = {"mofa320.ime", "mofa321.ime", "mofa640.ime", "mofa641.ime"};
        for (const char* interim : kInterim) ForceDeleteFile(InInstallDir(source, interim));
    }
    return 1;
}
