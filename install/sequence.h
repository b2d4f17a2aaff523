// The steps of one installation that change the machine, in the order the
// install plan (install/plan.cpp) takes them. Each returns 1 when it did its
// work and 0, with the cause recorded (base/failure.h), at its first failure;
// the plan's journal puts back what was changed before.
#pragma once

// Records the install directory in the path files, makes it and its "filer"
// folder, gives the user full control of it and writes the settings files.
int PrepareInstallFolders();

// When the product is in the preload list, gets the earlier version's module
// out of the system directories (RemoveEarlierModule).
int RemoveEarlierModuleIfRegistered();

// Gets an earlier version's module out of the system directories (deleted,
// or moved aside when a running program holds it). Sets restartRequired when
// the old module stays loaded. 0 when one can be neither deleted nor moved
// aside.
int RemoveEarlierModule();

// Registers the input method: the input-method manager, or the registry
// written by hand when it refuses; on Windows 2000 and XP the product's
// preload entry goes to second place.
int RegisterInputMethod();

// The browser token and the autostart value.
int WriteSystemSettings();

// On 64-bit Windows, starts the 64-bit companion program, which registers
// the 64-bit module. What it does cannot be undone: it is started once the
// install has succeeded. 0 when it could not be started: without it 64-bit
// programs have no input method, and the run ends as failed (1603) with the
// install kept, since it cannot be undone now.
int StartCompanionProgram();
