// The ordered steps of one installation.
#pragma once

// Runs the install sequence once. 0 when it stopped before deploying (an
// earlier module in use could not be moved, after telling the user); 1 when
// it ran to its end, with restartRequired and installFailed telling how.
int RunInstallSequence();

// On 64-bit Windows, starts the 64-bit companion program, which registers
// the 64-bit module. What it does cannot be undone: it is started once the
// install has succeeded. A companion that cannot be started sets
// installFailed: the run's exit code is then 1603.
void StartCompanionProgram();

// Gets an earlier version's module out of the system directories (deleted,
// or moved aside when a running program holds it). Sets restartRequired when
// the old module stays loaded. Returns 0, after telling the user, when one
// can be neither deleted nor moved aside.
int RemoveEarlierModule();
