#include "install/plan.h"

#include <cstring>

#include "archive/backup.h"
#include "archive/mfz.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/strbuf.h"
#include "base/ui.h"
#include "ime/checks.h"
#include "ime/enable.h"
#include "ime/register.h"
#include "install/deploy.h"
#include "install/report.h"
#include "install/sequence.h"
#include "install/skins.h"
#include "install/sysops.h"
#include "settings/settings.h"

namespace {
StepResult Result(int ok) { return ok ? kStepDone : kStepFailed; }

// ---- The steps ----

// The three checks made before anything is written. A No, or a change the
// user agreed to (the input method made non-default), ends the run as the
// user's; a check that cannot be passed ends it as a failure.
StepResult PreInstallChecks() {
    g_ctx.checkResult = CheckDefaultInputMethod();
    if (g_ctx.checkResult == 0) return g_ctx.userDeclined ? kStepDeclined : kStepRefused;
    g_ctx.checkResult = CheckImeWindowsInUse();
    if (g_ctx.checkResult > 0) {
        // Without a work buffer the windows are counted but no text is built.
        const char16_t* text = g_ctx.workBuffer != nullptr ? reinterpret_cast<const char16_t*>(g_ctx.workBuffer) : u"";
        ShowMessageW(text, kCaptionW);
        return kStepBackToConfirm;
    }
    g_ctx.checkResult = CheckImeSharedMemory();
    if (g_ctx.checkResult > 0) ShowMessageW(u"检测到内存中有智能墨筏数据没有退出，请安装后重新启动机器再使用！", kCaptionW);
    return kStepDone;
}

// Every entry of the payload inflates and matches its digest before the
// first write: a damaged setup program changes nothing.
StepResult CheckPayload() {
    if (CheckPayloadWhole()) return kStepDone;
    ShowMessageA("文件解压不完整，请到智能墨筏网站" MOFA_VENDOR_SITE "重新下载安装。", kCopyCaptionA);
    return kStepFailed;
}

// The earlier installation's user files go into the backup archive.
StepResult BackUpEarlierData() {
    g_ctx.userDataState = kNoEarlierData;
    int kept = BackupUserData();
    if (kept < 0) {
        ShowBackupFailure();
        NoteFailure("", "back up the earlier data", g_ctx.previousInstallDir, 0);
        return kStepFailed;
    }
    // A silent run has nobody to ask: it keeps the data.
    if (kept > 0) g_ctx.userDataState = IsSilentRun() ? kUserKeepsData : kEarlierDataKept;
    Log("backup: %s (earlier installation: %s)", kept > 0 ? g_ctx.backupArchivePath : "nothing to keep",
        g_ctx.previousInstallDir[0] != '\0' ? g_ctx.previousInstallDir : "none");
    return kStepDone;
}

// The install directory is made before anything goes into it: without it
// every file would fail on its own.
StepResult MakeInstallDir() {
    // The folders above it first: one chosen on the command line may lie in
    // folders not made yet.
    char folder[sizeof g_ctx.installDir];
    StrCopy(folder, g_ctx.installDir);
    for (char* at = folder + 3; (at = std::strchr(at, '\\')) != nullptr; *at++ = '\\') {
        *at = '\0';
        MakeDirectory(folder);
    }
    Outcome made = MakeDirectory(g_ctx.installDir);
    if (made) return kStepDone;
    NoteFailure("", "create the install folder", g_ctx.installDir, made.error);
    char text[400];
    if (StrFormat(text, sizeof text, "　　不能创建安装目录%s，安装没有进行。", g_ctx.installDir))
        ShowMessageA(text, kSetupCaptionA);
    return kStepFailed;
}

StepResult CheckRoom() { return Result(CheckRoomForPayload()); }
StepResult InstallFolders() { return Result(PrepareInstallFolders()); }
StepResult EarlierModule() { return Result(RemoveEarlierModuleIfRegistered()); }
StepResult FirstPass() { return Result(DeployFiles(0)); }
StepResult Registration() { return Result(RegisterInputMethod()); }
StepResult FinalPass() { return Result(DeployFiles(1)); }
StepResult SystemSettings() { return Result(WriteSystemSettings()); }
StepResult SignInEntry() { return Result(WriteSignInEntry()); }

StepResult Skins() {
    InstallSkins();
    Log("skins: mode %d, skin %d", g_ctx.statusWindowMode, g_ctx.skinChoice);
    ReportRepaint();  // where the dialog was
    return kStepDone;
}

StepResult RecordAndStamp() {
    UpdateImeConfigRecord();
    WriteInstallStamp();
    return kStepDone;
}

StepResult Restore() {
    if (g_ctx.userDataState != kUserKeepsData) return kStepDone;
    return Result(RestoreUserData());
}

// What the install kept to put back, and the backup, went with the commit;
// only then is the companion program started, whose work cannot be undone.
StepResult Companion() { return Result(StartCompanionProgram()); }

// The user's own list of input methods is the user's: the input method is
// added to it only once the install stands. Its answer is logged, and a
// refusal told after the closing message.
StepResult EnableForUser() {
    EnableForInstallingUser();
    return kStepDone;
}

// Measured once the install folder holds only what stays there: the kept
// earlier files are gone with the commit, so a reinstall measures what one
// install does.
StepResult EstimatedSize() { return Result(WriteEstimatedSize()); }

StepResult TryIt() { return g_ui.tryIt() ? kStepDone : kStepRunLeft; }

StepResult Report() {
    if (CheckInstallation() != 0) {
        NoteFailure("", "check the installed files", g_ctx.installDir, 0);
        return kStepFailed;
    }
    ShowClosingMessage();
    if (g_ctx.enableAnswer == kEnableRefused)
        ShowMessageW(u"如果输入法列表中没有智能墨筏，请在语言设置中为中文添加它。",
                     kCaptionW);
    return kStepDone;
}

// The plan. A silent run has nobody to ask or show a report to: it runs no
// checks, skin choice, record or report, and keeps the earlier data.
const PlanStep kSteps[] = {
    {"pre-install checks", kInWizard, kStopBeforeChange, PreInstallChecks},
    {"payload check", kInEveryRun, kStopBeforeChange, CheckPayload},
    {"backup of the earlier data", kInEveryRun, kStopBeforeChange, BackUpEarlierData},
    {"install directory", kInEveryRun, kStopBeforeChange, MakeInstallDir},
    {"room for the payload", kInEveryRun, kStopBeforeChange, CheckRoom},
    {"install folders and settings files", kInEveryRun, kUndoEverything, InstallFolders},
    {"earlier module", kInEveryRun, kUndoEverything, EarlierModule},
    {"deployment pass 0", kInEveryRun, kUndoEverything, FirstPass},
    {"registration", kInEveryRun, kUndoEverything, Registration},
    {"deployment pass 1", kInEveryRun, kUndoEverything, FinalPass},
    {"autostart and browser token", kInEveryRun, kUndoEverything, SystemSettings},
    {"sign-in entry", kInEveryRun, kCarryOnAndLog, SignInEntry},
    {"skins", kInWizard, kCarryOnAndLog, Skins},
    {"configuration record and install stamp", kInWizard, kCarryOnAndLog, RecordAndStamp},
    {"restore of the earlier data", kInEveryRun, kUndoEverything, Restore},
    {"estimated size", kInEveryRun, kCarryOnAndLog, EstimatedSize},
    {"commit", kInEveryRun, kCommitHere, nullptr},
    {"the user's input list", kInEveryRun, kCarryOnAndLog, EnableForUser},
    {"companion program", kInEveryRun, kKeepAndFail, Companion},
    {"try-it page", kInWizard, kCarryOnAndLog, TryIt},
    {"report", kInWizard, kKeepAndFail, Report},
};

// ---- The runner's own work ----

// Kept files lie in the system directories too: both reach them natively.
int CommitChanges() {
    NativeSystemDirAccess native;
    return CommitJournal();
}

int RollBack() {
    NativeSystemDirAccess native;
    return RollBackJournal();
}

// The failure as the user reads it: why, and what to do about it, by its
// kind (base/failure.h).
struct ErrorWords {
    const char* meaning;
    const char* advice;
};
const ErrorWords kErrorWords[] = {
    {"", "请重新启动计算机后再次安装！"},  // any other failure, a planted link's too
    {"（没有写入权限）", "请确认以管理员身份运行安装程序后重新安装！"},
    {"（文件正在被其他程序使用）", "请关闭正在使用它的程序，或者重新启动计算机后重新安装！"},
    {"（磁盘空间不足）", "请腾出磁盘空间后重新安装！"},
};

const ErrorWords& WordsFor(unsigned long error) {
    unsigned kind = KindOfError(error);
    return kErrorWords[kind < sizeof kErrorWords / sizeof kErrorWords[0] ? kind : 0u];
}

// Everything the install changed is put back, and the user gets one message:
// the cause, and what was done about it.
void UndoAndTell() {
    // The backup goes with the journal once all is back, else both stay for
    // the next run to complete.
    int whole = RollBack();
    ReportRepaint();
    const FailureCause& cause = FirstFailure();
    const char* log = LogPath()[0] != '\0' ? LogPath() : "mofasetup.log";
    const ErrorWords& words = WordsFor(cause.error);
    char text[1200];
    bool fits = StrFormat(text, sizeof text, "　　智能墨筏没有安装成功%s%s%s。%s%s详细情况记录在%s中。",
                          cause.userText[0] != '\0' ? "：" : "", cause.userText, words.meaning,
                          whole ? "原来的版本和你的数据都已恢复原样。" : "有些改动没有能够恢复。",
                          whole && cause.error == 0 ? "" : words.advice, log);
    if (fits) ShowMessageA(text, kSetupCaptionA);
}

// The log's last word on a failed run: the first failure, whole.
void LogFailureSummary(const char* step) {
    const FailureCause& cause = FirstFailure();
    char error[300] = "";
    if (cause.error != 0) {
        char meaning[256];
        SystemErrorText(cause.error, meaning, sizeof meaning);
        StrFormat(error, sizeof error, ": error %lu (%s)", cause.error, meaning);
    }
    Log("failure: step %s%s%s %s%s", step, cause.set ? ": could not " : "", cause.operation, cause.path, error);
}

PlanOutcome Stopped(const PlanStep& step) {
    if (step.onFailure == kUndoEverything || step.onFailure == kCommitHere) {
        Log("step %s: failed; what the install changed is put back", step.name);
        UndoAndTell();
    } else {
        Log("step %s: failed; the install stops before changing anything", step.name);
        RollBack();
    }
    LogFailureSummary(step.name);
    return kPlanFailed;
}

// A run ended by a check or the user: what the user agreed to stays.
PlanOutcome Ended(const PlanStep& step, StepResult result) {
    Log("step %s: the install does not go on", step.name);
    CommitChanges();
    if (result == kStepDeclined) return kPlanDeclined;
    return result == kStepBackToConfirm ? kPlanBackToConfirm : kPlanRefused;
}
}  // namespace

namespace {
// The journal's recovery reaches the kept files in the system directories
// natively; the restore of a backup an earlier setup left reaches only the
// earlier installation, and loads a library and may show a message, which
// must never happen with the system's redirection off: it comes after.
int RecoverJournalNatively() {
    NativeSystemDirAccess native;
    return RecoverEarlierJournal();
}
}  // namespace

int RecoverEarlierRun() {
    int complete = RecoverJournalNatively() && RestoreEarlierBackups(RestoreBackupOf);
    // The path file may have come back: the earlier installation as it is now.
    ReadPathFile();
    return complete;
}

const PlanStep* InstallPlanSteps(int* count) {
    *count = static_cast<int>(sizeof kSteps / sizeof kSteps[0]);
    return kSteps;
}

PlanOutcome RunInstallPlan() {
    const unsigned mode = IsSilentRun() ? kInSilentRun : kInWizard;
    Log("plan: the %s install begins", IsSilentRun() ? "silent" : "wizard's");
    ClearFailure();
    Outcome opened = OpenJournal();
    if (!opened) {
        // Without its journal the install could not be put back: it is not
        // begun, and the user is told why.
        static const PlanStep kJournalStep = {"journal", kInEveryRun, kUndoEverything, nullptr};
        NoteFailure("", "open the journal", "", opened.error);
        return Stopped(kJournalStep);
    }
    const char* failedStep = nullptr;
    for (const PlanStep& step : kSteps) {
        if ((step.modes & mode) == 0) continue;
        if (step.onFailure == kCommitHere) {
            if (!CommitChanges()) return Stopped(step);
            continue;
        }
        ReportRepaint();
        StepResult result = step.run();
        if (result == kStepDone) {
            Log("step %s: done", step.name);
        } else if (result == kStepRunLeft) {
            Log("step %s: the wizard was closed; the run ends", step.name);
            break;
        } else if (result != kStepFailed) {
            return Ended(step, result);
        } else if (step.onFailure == kStopBeforeChange || step.onFailure == kUndoEverything) {
            return Stopped(step);
        } else {
            Log("step %s: failed; %s", step.name,
                step.onFailure == kCarryOnAndLog ? "the install goes on" : "the install stays, the run has failed");
            if (step.onFailure == kKeepAndFail && failedStep == nullptr) failedStep = step.name;
            if (step.onFailure == kCarryOnAndLog) ClearFailure();
        }
    }
    CommitChanges();  // a run ended before the commit step kept what it did
    if (failedStep == nullptr) return kPlanDone;
    LogFailureSummary(failedStep);
    return kPlanFailed;
}

int ExitCodeOf(PlanOutcome outcome) {
    switch (outcome) {
        case kPlanDone:
            return g_ctx.restartRequired == 1 ? kExitRestartNeeded : kExitInstalled;
        case kPlanDeclined:
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
