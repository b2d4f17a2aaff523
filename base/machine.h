// What every part of setup asks of the machine: which Windows it is (version,
// family, 32 or 64 bits), its system and SysWOW64 directories, and where
// setup installs (the install directory and the path files that record it).
#pragma once
#include "base/failure.h"

// Fills installDir with the directory chosen on the command line, or else the
// default "<Program Files>\mofahu\", unless it already holds a resolved
// "X:\..." directory. Returns installDir itself. Only base/machine.cpp
// writes installDir.
char* ResolveInstallDir();
// ResolveInstallDir for a choice that may have changed: whatever installDir
// held is not kept.
char* ResolveInstallDirAfresh();

// Reads the path file in the Windows directory into previousInstallDir: the
// earlier installation as that file records it now (none without the file).
void ReadPathFile();

// "X:\mofahu\" for the first fixed drive from G: down to C:, or "".
const char* FindFixedDriveDir();

// Writes installDir (backslash appended when missing) to the path file in
// the Windows directory and, on Windows 6 and later, beside the fixed drive's
// "mofahu\" folder too (best effort: its failure is logged). Refreshes
// systemDir. Done when the path file in the Windows directory was written.
Outcome PersistInstallDir();

// 1 on 64-bit Windows of major version 6 or later, else 0. Records
// windowsMajorVersion and sysWow64Dir.
int DetectWow64();

// 1 when the file or directory can be opened for reading.
int PathExists(const char* path);

// 1 when path lies inside the Windows directory (not the directory itself).
int InWindowsDir(const char* path);

// out (224 bytes) = the Windows directory followed by "\syswow64".
void BuildSysWow64Dir(char* out);

// systemDir = the system directory as Windows reports it.
void RefreshSystemDir();

// windowsVersionWord = GetVersion(); its high bit marks the 95/98/Me family.
void RefreshWindowsVersionWord();
// True when the last version word read is of the 95/98/Me family.
bool IsWin9xFamily();
