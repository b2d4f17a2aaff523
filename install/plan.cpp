#include "install/plan.h"

#include <cstring>

#include "archive/backup.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/strbuf.h"
#include "base/ui.h"
#include "ime/checks.h"
#include "install/deploy.h"
#include "install/report.h"
#include "install/sequence.h"
#include "install/skins.h"
#include "install/sysops.h"
#include "settings/settings.h"

namespace {
// The steps a run mode takes beyond the install sequence itself, which every
// mode runs.
struct PlanSteps {
    bool checks;     // the pre-install checks, which may ask the user
    bool askToKeep;  // the user is asked whether to keep the earlier data
    bool skins;      // verification of the payload and the skin choice
    bool record;     // configuration record and install stamp
    bool report;     // the integrity report and the closing message
};

// The wizard takes every step. A silent run has nobody to ask or to show a
// report to: it keeps the earlier data (the answer Yes), and runs no checks,
// skin choice, record or report. Both back up and restore the user's data.
const PlanSteps kWizardSteps = {true, true, true, true, true};
const PlanSteps kSilentSteps = {false, false, false, false, false};

PlanOutcome Stopped(const char* step) {
    Log("step %s: failed; the install stops", step);
    return kPlanFailed;
}

// The install failed once it had begun to change the machine: every change
// is put back (the earlier modules, registration, user files and path
// files), and the user is told. The backup stays unless all came back.
PlanOutcome Undone(const char* step) {
    Log("step %s: failed; what the install changed is put back", step);
    g_ctx.installFailed = 1;
    void* token = BeginNativeSystemDirAccess();
    int whole = RollBackJournal();
    EndNativeSystemDirAccess(token);
    if (whole && g_ctx.userDataState != 2) DiscardBackup();
    ReportRepaint();
    char text[600];
    const char* log = LogPath()[0] != '\0' ? LogPath() : "mofasetup.log";
    if (StrFormat(text, sizeof text,
                  whole ? "　　智能墨筏没有安装成功，原来的版本和你的数据都已恢复原样。详细情况记录在%s中。"
                        : "　　智能墨筏没有安装成功，有些改动没有能够恢复，详细情况记录在%s中。请重新启动计算机后再次安装！",
                  log))
        ShowMessageA(text, kSetupCaptionA);
    return kPlanFailed;
}

// The install directory is made before anything goes into it: without it
// every file would fail on its own.
int MakeInstallDir() {
    if (MakeDirectory(g_ctx.installDir)) return 1;
    char text[400];
    if (StrFormat(text, sizeof text, "　　不能创建安装目录%s，安装没有进行。", g_ctx.installDir))
        ShowMessageA(text, kSetupCaptionA);
    return 0;
}

// The three checks made before anything is written.
PlanOutcome RunPreInstallChecks() {
    g_ctx.checkResult = CheckDefaultInputMethod();
    if (g_ctx.checkResult == 0) return kPlanEnded;
    g_ctx.checkResult = CheckImeWindowsInUse();
    if (g_ctx.checkResult > 0) {
        // Without a work buffer the windows are counted but no text is built.
        const char16_t* text = g_ctx.workBuffer != nullptr ? reinterpret_cast<const char16_t*>(g_ctx.workBuffer) : u"";
        ShowMessageW(text, kCaptionW);
        return kPlanBackToConfirm;
    }
    g_ctx.checkResult = CheckImeSharedMemory();
    if (g_ctx.checkResult > 0) ShowMessageW(u"检测到内存中有智能墨筏数据没有退出，请安装后重新启动机器再使用！", kCaptionW);
    return kPlanDone;
}

// The earlier installation's user files go into the backup archive; the
// backup reads the earlier directory, so the install directory is resolved
// afresh behind it. 0 when files that exist could not be kept.
int BackUpEarlierData(const PlanSteps& steps) {
    g_ctx.userDataState = 0;
    int kept = BackupUserData();
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    ResolveInstallDir();
    if (kept < 0) {
        ShowBackupFailure();
        return 0;
    }
    if (kept > 0) g_ctx.userDataState = steps.askToKeep ? 1 : 2;
    Log("step backup: %s (earlier installation: %s)", kept > 0 ? g_ctx.backupArchivePath : "nothing to keep",
        g_ctx.previousInstallDir[0] != '\0' ? g_ctx.previousInstallDir : "none");
    return 1;
}
}  // namespace

PlanOutcome RunInstallPlan() {
    const PlanSteps& steps = IsSilentRun() ? kSilentSteps : kWizardSteps;
    Log("plan: the %s install begins", IsSilentRun() ? "silent" : "wizard's");
    if (steps.checks) {
        PlanOutcome checked = RunPreInstallChecks();
        Log("step pre-install checks: %s", checked == kPlanDone ? "passed" : "the install does not go on");
        if (checked != kPlanDone) return checked;
    }
    ReportRepaint();
    // Nothing is written before the user's data is safe, the install
    // directory is there and the payload has room in it.
    if (!BackUpEarlierData(steps)) return Stopped("backup of the earlier data");
    if (!MakeInstallDir()) return Stopped("install directory");
    if (!CheckRoomForPayload()) return Stopped("room for the payload");
    if (!RunInstallSequence()) return Undone("install sequence");
    Log("step install sequence: done");
    if (steps.skins) {
        InstallSkins();
        Log("step skins: mode %d, skin %d", g_ctx.statusWindowMode, g_ctx.skinChoice);
        ReportRepaint();  // where the dialog was
    }
    if (steps.record) {
        UpdateImeConfigRecord();
        WriteInstallStamp();
        Log("step configuration record and install stamp: written");
    }
    if (g_ctx.userDataState == 2) {
        if (!RestoreUserData()) return Undone("restore of the earlier data");
        Log("step restore: the earlier data is back");
    }
    // The install has succeeded: what it kept to put back, and the backup,
    // go; only now is the companion program started, whose work cannot be
    // undone.
    void* token = BeginNativeSystemDirAccess();  // kept files lie in the system directories too
    CommitJournal();
    EndNativeSystemDirAccess(token);
    DiscardBackup();
    StartCompanionProgram();
    // The try-it page (64-bit Windows) comes before the report; a run ended
    // meanwhile ends without it.
    if (!g_ui.tryIt()) return kPlanDone;
    if (steps.report) {
        bool whole = CheckInstallation() == 0;
        Log("step report: %s", whole ? "the install is whole" : "the report was shown");
        if (whole) ShowClosingMessage();
    }
    return kPlanDone;
}

int ExitCodeOf(PlanOutcome outcome) {
    switch (outcome) {
        case kPlanDone:
            if (g_ctx.installFailed) return kExitFailed;
            return g_ctx.restartRequired == 1 ? kExitRestartNeeded : kExitInstalled;
        case kPlanEnded:
            return g_ctx.userDeclined ? kExitUserEnded : kExitFailed;
        case kPlanBackToConfirm:
            return kExitUserEnded;
        default:
            return kExitFailed;
    }
}

void ShowClosingMessage() {
    ShowMessageW(g_ctx.restartRequired == 1 ? u"安装完毕，请立即重新启动计算机！" : u"安装完毕，如不能使用，请重新启动计算机！",
                 kCaptionW);
}
