// The integrity test at the end of an interactive run: the install directory
// rated and counted, and the three files the input method cannot do without.
#pragma once

// The integrity test at the end of an interactive run: 0 when every test
// passed (nothing shown), 1 when the report was shown.
int CheckInstallation();

// Fills installDirState (1 when the directory lists anything, +10 when it can
// be entered, +3 when it is a directory) and the three file counters (".txt",
// ".mfh", others; each stops at 255). Leaves the current directory there.
void ScanInstallDir();

// installDir + name: bytes read (at most 20) * 256 + the error of the read;
// 0x1400 when 20 bytes were read. The open's error code when it cannot be
// opened.
int ProbeInstalledFile(const char* name);

enum : int { kProbeComplete = 0x1400 };
