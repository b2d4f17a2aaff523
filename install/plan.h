// The one plan of an installation: every step in its order, for every run
// mode. The wizard runs it when the user confirms the install, a silent run
// at once. Where the run modes differ (no window, no questions), this plan
// says so, in one place; the person at the screen is reached only through
// the table of base/ui.h.
#pragma once

enum PlanOutcome : int {
    kPlanDone = 0,         // every step ran
    kPlanEnded,            // a pre-install check ended the run: nothing installed
    kPlanBackToConfirm,    // programs still use the input method: nothing installed
    kPlanFailed,           // the install stopped, after telling the user why
};

// Runs the plan for g_ctx.runMode. The payload and the work buffer are set
// up by the caller.
PlanOutcome RunInstallPlan();

// The exit code of a run that ended with outcome: 0 installed, 3010 installed
// but Windows must restart, 1602 ended by the user before installing, 1603
// failed.
int ExitCodeOf(PlanOutcome outcome);

// The closing message of a finished install.
void ShowClosingMessage();
