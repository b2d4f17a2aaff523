#include "install/plan.h"

#include <cstring>

#include "archive/backup.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/machine.h"
#include "base/ui.h"
#include "ime/checks.h"
#include "install/report.h"
#include "install/sequence.h"
#include "install/skins.h"
#include "settings/settings.h"

namespace {
// The steps a run mode takes beyond the install sequence itself, which every
// mode runs.
struct PlanSteps {
    bool checks;   // the pre-install checks, which may ask the user
    bool backup;   // the earlier installation's user data packed aside first
    bool skins;    // verification of the payload and the skin choice
    bool record;   // configuration record and install stamp
    bool restore;  // the kept data brought back when the user chose so
    bool report;   // the integrity report and the closing message
};

// The wizard takes every step. A silent run has nobody to ask or to show a
// report to, and makes no backup: it runs the install sequence only.
const PlanSteps kWizardSteps = {true, true, true, true, true, true};
const PlanSteps kSilentSteps = {false, false, false, false, false, false};

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

// The earlier installation's user files go into the backup archive (not
// without a work buffer, which the restore would need); the backup reads the
// earlier directory, so the install directory is resolved afresh behind it.
void BackUpEarlierData() {
    g_ctx.userDataState = 0;
    if (BackupUserData() != 0) g_ctx.userDataState = 1;
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    ResolveInstallDir();
}
}  // namespace

PlanOutcome RunInstallPlan() {
    const PlanSteps& steps = IsSilentRun() ? kSilentSteps : kWizardSteps;
    if (steps.checks) {
        PlanOutcome checked = RunPreInstallChecks();
        if (checked != kPlanDone) return checked;
    }
    ReportRepaint();
    if (steps.backup && g_ctx.workBuffer != nullptr) BackUpEarlierData();
    RunInstallSequence();
    if (steps.skins) {
        InstallSkins();
        ReportRepaint();  // where the dialog was
    }
    if (steps.record) {
        UpdateImeConfigRecord();
        WriteInstallStamp();
    }
    if (steps.restore && g_ctx.userDataState == 2) RestoreUserData();
    // The try-it page (64-bit Windows) comes before the report; a run ended
    // meanwhile ends without it.
    if (!g_ui.tryIt()) return kPlanDone;
    if (steps.report && CheckInstallation() == 0) ShowClosingMessage();
    return kPlanDone;
}

void ShowClosingMessage() {
    ShowMessageW(g_ctx.restartRequired == 1 ? u"安装完毕，请立即重新启动计算机！" : u"安装完毕，如不能使用，请重新启动计算机！",
                 kCaptionW);
}
