// The ordered steps of one installation.
#pragma once

// Runs the install sequence once; the outcome is left in restartRequired and
// in what the steps showed the user.
void RunInstallSequence();

// Gets an earlier version's module out of the system directories (deleted,
// or moved aside when a running program holds it). Sets restartRequired when
// the old module stays loaded. Returns 0, after telling the user, when one
// can be neither deleted nor moved aside.
int RemoveEarlierModule();
