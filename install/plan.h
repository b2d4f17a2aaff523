// The one plan of an installation: a table of named steps, each with the run
// modes that take it and what its failure means, walked by one runner. The
// wizard runs it when the user confirms the install, a silent run at once.
// The runner alone opens, commits and rolls back the journal of changes;
// each step returns its result, and the first failure ends the work and
// names itself. The person at the screen is reached only through the table
// of base/ui.h.
#pragma once

// What one step reports to the runner.
enum StepResult : int {
    kStepDone = 0,
    kStepFailed,          // the cause is recorded (base/failure.h)
    kStepDeclined,        // the user's No, or a change the user agreed to, ends the run: that change stays
    kStepRefused,         // a check that cannot be passed ends the run: nothing installed
    kStepBackToConfirm,   // programs still use the input method: nothing installed
    kStepRunLeft,         // the wizard was closed meanwhile: the remaining steps are not taken
};

// The run modes a step is taken in.
enum StepModes : unsigned { kInWizard = 1, kInSilentRun = 2, kInEveryRun = 3 };

// What a failure of the step means for the run.
enum FailurePolicy : int {
    kStopBeforeChange,  // nothing has been changed yet: the run ends, the step told the user why
    kUndoEverything,    // every change is put back; the runner tells the user once
    kCarryOnAndLog,     // the install does not depend on it: logged, the run goes on
    kKeepAndFail,       // after the commit: the install stays, the run ends as failed
    kCommitHere,        // not a step: the runner commits the journal here
};

struct PlanStep {
    const char* name;
    unsigned modes;
    FailurePolicy onFailure;
    StepResult (*run)();
};

// The plan's table and its length, for the runner and for tests.
const PlanStep* InstallPlanSteps(int* count);

enum PlanOutcome : int {
    kPlanDone = 0,       // every step ran
    kPlanDeclined,       // the user's No (or a change the user consented to) ended it: nothing installed
    kPlanRefused,        // a pre-install check ended the run: nothing installed
    kPlanBackToConfirm,  // programs still use the input method: nothing installed
    kPlanFailed,         // the install failed, after telling the user why
};

// Before anything else of a run changes the machine (every run mode): what
// earlier runs left unfinished is completed (base/journal.h: an unfinished
// install undone, a finished one cleaned up, a backup no run restored put
// back), and the earlier installation is looked up again. 1 when complete;
// 0 when not: the run must then change nothing and end as failed.
int RecoverEarlierRun();
// Runs the plan for g_ctx.runMode. The payload and the work buffer are set
// up by the caller.
PlanOutcome RunInstallPlan();

// The exit code of a run that ended with outcome: 0 installed, 3010 installed
// but Windows must restart, 1602 ended by the user before installing, 1603
// failed.
int ExitCodeOf(PlanOutcome outcome);

// The closing message of a finished install.
void ShowClosingMessage();
