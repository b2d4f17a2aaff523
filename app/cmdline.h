// The command-line words that select setup's run modes.
#pragma once
#include <cstddef>

// Sets registerOnly (5 for "regmf32") or, failing that, runMode 3 for
// "setmfsrf32". "regmf32" wins when both are present.
void ReadRunMode(const char* commandLine);

// 1 when the command line hands over a directory: its first "r" begins
// "regmf32=".
int HasRegisterArgument(const char* commandLine);

// Copies the directory after "regmf32=" into installDir. Only the first "r"
// of the command line is tried; a directory that does not fit installDir is
// refused and installDir stays unchanged. Returns 1 when copied.
int ParseRegisterArgument(const char* commandLine);

// The file "/log=PATH" names (the word anywhere, in any case of its letters;
// a PATH with blanks is quoted, as "/log=C:\my logs\a.log" or
// /log="C:\my logs\a.log"). 1 with the path in out (cap bytes), 0 when the
// word is absent or its path does not fit.
int LogArgument(const char* commandLine, char* out, size_t cap);
