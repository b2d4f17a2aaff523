// The ordered steps of one installation.
#pragma once

// Runs the install sequence once; the outcome is left in restartRequired and
// in what the steps showed the user.
void RunInstallSequence();
