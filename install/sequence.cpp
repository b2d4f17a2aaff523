// The steps of one installation that change the machine. The plan runs them
// in order under its journal: a step that fails returns 0 at once, and what
// was changed before it is put back.
#include "install/sequence.h"

#include <windows.h>

#include "base/captions.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/ui.h"
#include "ime/preload.h"
#include "ime/register.h"
#include "install/deploy.h"
#include "install/sysops.h"
#include "settings/settings.h"

namespace {
// An earlier module that stays where it is: the cause of the run's failure.
int ModuleInUse(const char* path, Outcome moved) {
    NoteFailure("你以前安装的墨筏五笔正在使用，请关闭使用墨筏五笔的所有窗口，或者重新启动机器后，才能安装新版本的墨筏五笔",
                "move the earlier module out of the way", path, moved.error);
    return 0;
}
}  // namespace

int RemoveEarlierModule() {
    char path[260];
    RefreshSystemDir();
    if (DetectWow64()) {
        SetLowIntegrity();
        if (JoinPath(path, g_ctx.sysWow64Dir, "mofahu4.ime") && !ForceDeleteFile(path)) {
            // The old 32-bit module is loaded somewhere: even once moved
            // aside, Windows keeps using it until a restart.
            g_ctx.restartRequired = 1;
            Outcome moved = MoveLockedFileAside(path);
            if (!moved) return ModuleInUse(path, moved);
        }
    }
    if (!JoinPath(path, g_ctx.systemDir, "mofahu4.ime")) return 1;
    Outcome gone;
    {
        NativeSystemDirAccess native;
        gone = ForceDeleteFile(path);
        if (!gone) gone = MoveLockedFileAside(path);
    }
    if (!gone) {
        g_ctx.restartRequired = 1;
        return ModuleInUse(path, gone);
    }
    return 1;
}

int RegisterInputMethod() {
    g_ctx.imeInstallResult = InstallImeModule();
    Log("input method %s by the input-method manager", g_ctx.imeInstallResult ? "registered" : "not registered");
    if (g_ctx.imeInstallResult == 0 && RegisterKeyboardLayout() == kLayoutFailed) {
        Log("input method not registered in the registry either");
        return 0;
    }
    if (g_ctx.windowsMajorVersion <= 5) {
        FindProductInPreload();
        PromotePreloadEntry();
    }
    return 1;
}

namespace {
// Earlier modules moved aside by an earlier install ("mofahu2.ime" and the
// like) go now, or, while a program still holds them, at the next restart.
void RemoveLeftoverModules() {
    static const char* const kAsideNames[] = {"mofahu2.ime", "mofahu1.ime", "mofahu0.ime"};
    const char* dirs[] = {g_ctx.systemDir, DetectWow64() ? g_ctx.sysWow64Dir : ""};
    NativeSystemDirAccess native;
    for (const char* dir : dirs) {
        for (const char* name : kAsideNames) {
            char path[260];
            if (JoinPath(path, dir, name) && !ForceDeleteFile(path)) DeleteAtRestart(path);
        }
    }
}

// 1 when the folder is there; one that cannot be made is the cause of the
// run's failure.
int FolderMade(const char* path) {
    Outcome made = MakeDirectory(path);
    if (!made) NoteFailure("不能创建目录%s", "create the folder", path, made.error);
    return made ? 1 : 0;
}
}  // namespace

int PrepareInstallFolders() {
    char text[260];
    ResolveInstallDir();
    RefreshSystemDir();
    // Where the input method finds its data, and the folders it needs: an
    // install without them would not work.
    Outcome persisted = PersistInstallDir();
    if (!persisted) {
        NoteFailure("不能写入文件%s", "write the path file", "mofapath.mfh", persisted.error);
        return 0;
    }
    if (!FolderMade(g_ctx.installDir)) return 0;
    GrantUserFullControl(g_ctx.installDir);
    if (!FolderMade(InInstallDir(text, "filer\\"))) return 0;
    if (!IsSilentRun()) DetectWow64();
    WriteSettingsFiles();
    FindProductInPreload();
    g_ctx.restartRequired = 0;
    RemoveLeftoverModules();
    return 1;
}

int RemoveEarlierModuleIfRegistered() {
    return g_ctx.productInPreload != kProductInPreload || RemoveEarlierModule();
}

int WriteSystemSettings() {
    char text[460];
    WriteUserAgentToken();
    if (QuotedCommand(text, g_ctx.installDir, "mofatyrk.exe", "mf")) WriteAutostartValue(text);
    return 1;
}

int StartCompanionProgram() {
    // 64-bit Windows: the companion program registers the 64-bit side and
    // hands the directory back to this setup's 32-bit registration mode.
    char text[460], words[16 + sizeof g_ctx.installDir];
    if (!DetectWow64() || !StrFormat(words, sizeof words, "regmf32=%s", g_ctx.installDir) ||
        !QuotedCommand(text, g_ctx.installDir, "setupw64.exe", words))
        return 1;
    // Nobody is there to answer the registration mode's message either.
    SetEnvironmentVariableA(kSilentHandOverVariable, IsSilentRun() ? "1" : nullptr);
    bool started = g_sys.startProgram(text, static_cast<UINT>(g_ui.programShow));
    const unsigned long error = started ? 0 : LastSystemError();
    Log("%s %s", started ? "started" : "could not start", text);
    if (!started) NoteFailure("", "start the companion program", text, error);
    return started ? 1 : 0;
}
