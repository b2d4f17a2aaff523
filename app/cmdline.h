// The command-line words that select setup's run modes, and the switches
// deployment tools pass to installers.
#pragma once
#include <cstddef>

// Sets registerOnly (5) when the first argument begins "regmf32=" or, failing
// that, runMode 3 when an argument is "setmfsrf32" (any case). The words are
// whole arguments: a path or value that holds them is a path or value.
void ReadRunMode(const char* commandLine);

// 1 when the command line hands over a directory: its first argument begins
// "regmf32=".
int HasRegisterArgument(const char* commandLine);

// Copies the directory after "regmf32=" (the rest of the line, quotes and
// trailing blanks left out) into out; a directory that does not fit cap
// bytes is refused and out stays unchanged. Returns 1 when copied.
int ParseRegisterArgument(const char* commandLine, char* out, size_t cap);

// The file "/log=PATH" names (the word anywhere, in any case of its letters;
// a PATH with blanks is quoted, as "/log=C:\my logs\a.log" or
// /log="C:\my logs\a.log"). 1 with the path in out (cap bytes), 0 when the
// word is absent or its path does not fit.
int LogArgument(const char* commandLine, char* out, size_t cap);

// The switches: arguments led by "/" or "-", their letters in any case.
struct Switches {
    bool silent;        // /S /SILENT /VERYSILENT /Q /QUIET /QN: as "setmfsrf32"
    bool help;          // /? /H /HELP --help
    char unknown[64];   // the first switch that is none of these (cut); empty when none
    char dir[260];      // the install directory of /D=PATH or /DIR="PATH" (cut); empty when none
    bool dirNotLast;    // another switch follows /D=PATH
    char signIn[12];    // the layout id of /SIGNIN=ID, the sign-in mode's (cut); empty when none
};

// Reads the switches of commandLine. /D= takes the rest of the line, blanks
// included, as NSIS does; /SUPPRESSMSGBOXES, /NORESTART, /NOCANCEL, /SP- and
// /LOG= are known and change nothing here. Words without a lead are left to
// ReadRunMode.
void ReadSwitches(const char* commandLine, Switches* out);

// Why a directory given on the command line cannot be the install directory,
// judged by its text alone.
// (kDirIsFile and kDirInWindows are for the caller, who asks Windows.)
enum DirVerdict : int {
    kDirUsable = 0,
    kDirNotAbsolute,
    kDirTooLong,
    kDirIsFile,
    kDirInWindows,
    kDirBadFolderEnd,   // a folder's name ends in a blank or a dot
    kDirNotInCodePage,  // a character the code page cannot hold (kNotInCodePage)
    kDirNotLast,        // /D= is followed by another switch
    kDirNoProduct,      // the product's modules are not there (registration mode)
};

// Stands in a command line, read as UTF-16 and converted to the code page,
// for each character the code page cannot hold: no name holds it.
const char kNotInCodePage = '\x01';

// dir as an install directory in out (cap bytes): "X:\..." with a final
// backslash, "/" read as "\". Not usable: a path without a drive letter, or
// with "." or ".." folders or characters no name may hold; a folder name
// ending in a blank or a dot; one that does not fit cap.
DirVerdict NormalizeInstallDir(const char* dir, char* out, size_t cap);
