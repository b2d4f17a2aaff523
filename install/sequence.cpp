// The ordered steps of one installation, run once: by the window when the
// user confirms, or directly in a silent run. It is not transactional: what
// was written before an early return stays.
#include "install/sequence.h"

#include <windows.h>

#include "base/captions.h"
#include "base/context.h"
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
void ShowModuleInUse() {
    ShowMessageW(u"　　你以前安装的墨筏五笔正在使用，请关闭使用墨筏五笔的所有窗口，或者重新启动机器后，才能安装新版本的墨筏五笔！",
                 kSetupCaptionW);
}

}  // namespace

int RemoveEarlierModule() {
    char path[260];
    RefreshSystemDir();
    if (DetectWow64()) {
        SetLowIntegrity();
        BuildSysWow64Dir(g_ctx.sysWow64Dir);
        if (JoinPath(path, g_ctx.sysWow64Dir, "mofahu4.ime") && ForceDeleteFile(path) == -1) {
            // The old 32-bit module is loaded somewhere: even once moved
            // aside, Windows keeps using it until a restart.
            g_ctx.restartRequired = 1;
            if (MoveLockedFileAside(path) == -1) {
                ShowModuleInUse();
                return 0;
            }
        }
    }
    if (!JoinPath(path, g_ctx.systemDir, "mofahu4.ime")) return 1;
    void* token = BeginNativeSystemDirAccess();
    int stuck = ForceDeleteFile(path) == -1 && MoveLockedFileAside(path) == -1;
    EndNativeSystemDirAccess(token);
    if (stuck) {
        g_ctx.restartRequired = 1;
        ShowModuleInUse();
        return 0;
    }
    return 1;
}

namespace {
void RegisterInputMethod() {
    g_ctx.imeInstallResult = InstallImeModule();
    Log("input method %s by the input-method manager", g_ctx.imeInstallResult ? "registered" : "not registered");
    // The registry fallback returns 1 only after its failure message.
    if (g_ctx.imeInstallResult == 0 && RegisterKeyboardLayout() == 1) {
        Log("input method not registered in the registry either");
        g_ctx.installFailed = 1;
    }
    if (g_ctx.windowsMajorVersion <= 5) {
        FindProductInPreload();
        PromotePreloadEntry();
    }
}

// Earlier modules moved aside by an earlier install ("mofahu2.ime" and the
// like) go now, or, while a program still holds them, at the next restart.
void RemoveLeftoverModules() {
    static const char* const kAsideNames[] = {"mofahu2.ime", "mofahu1.ime", "mofahu0.ime"};
    const char* dirs[] = {g_ctx.systemDir, DetectWow64() ? g_ctx.sysWow64Dir : ""};
    void* token = BeginNativeSystemDirAccess();
    for (const char* dir : dirs) {
        for (const char* name : kAsideNames) {
            char path[260];
            if (JoinPath(path, dir, name) && ForceDeleteFile(path) == -1) DeleteAtRestart(path);
        }
    }
    EndNativeSystemDirAccess(token);
}
}  // namespace

int RunInstallSequence() {
    char text[460];
    ResolveInstallDir();
    RefreshSystemDir();
    // Where the input method finds its data, and the folders it needs: an
    // install without them would not work.
    if (!PersistInstallDir() || !MakeDirectory(g_ctx.installDir)) return 0;
    GrantUserFullControl(g_ctx.installDir);
    if (InInstallDir(text, "filer\\")[0] == '\0' || !MakeDirectory(text)) return 0;
    if (!IsSilentRun()) DetectWow64();
    WriteSettingsFiles();
    FindProductInPreload();
    g_ctx.restartRequired = 0;
    RemoveLeftoverModules();
    if (g_ctx.productInPreload == 4 && !RemoveEarlierModule()) return 0;

    // Each step goes on only when the one before succeeded: what failed is
    // put back, not built upon.
    DeployFiles(0);
    if (g_ctx.installFailed) return 0;
    RegisterInputMethod();
    if (g_ctx.installFailed) return 0;
    DeployFiles(1);
    if (g_ctx.installFailed) return 0;
    WriteUserAgentToken();
    if (QuotedCommand(text, g_ctx.installDir, "mofatyrk.exe", "mf")) WriteAutostartValue(text);
    return 1;
}

void StartCompanionProgram() {
    // 64-bit Windows: the companion program registers the 64-bit side and
    // hands the directory back to this setup's 32-bit registration mode.
    char text[460], words[16 + sizeof g_ctx.installDir];
    if (DetectWow64() && StrFormat(words, sizeof words, "regmf32=%s", g_ctx.installDir) &&
        QuotedCommand(text, g_ctx.installDir, "setupw64.exe", words)) {
        bool started = g_sys.startProgram(text, static_cast<UINT>(g_ui.programShow));
        Log("%s %s", started ? "started" : "could not start", text);
        // Without it 64-bit programs have no input method: the install stays
        // (it cannot be undone now) but the run ends as failed (1603).
        if (!started) g_ctx.installFailed = 1;
    }
}
