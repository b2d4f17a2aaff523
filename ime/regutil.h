// Registry helpers of the input-method registration: bounded reads of text
// values into fixed buffers, writes whose byte count leaves out the NUL, and
// the Windows family from the version word.
#pragma once
#include <windows.h>

// Parent keys are opened for reading only; keys written, created or deleted
// under them get full access.
HKEY OpenKeyRead(HKEY parent, const char* path);
HKEY OpenKeyFull(HKEY parent, const char* path);
// Creates (or opens) a non-volatile key with no class, full access.
HKEY CreateKeyFull(HKEY parent, const char* path);
void CloseKey(HKEY key);

// Reads the value `name` (nullptr: the key's default value) as text into buf
// of cap bytes (cap <= 256). 1 only when the whole value fits with a
// terminating NUL; buf then holds it NUL-terminated even if the stored data
// carried none. On failure buf keeps its earlier content.
int ReadRegText(HKEY key, const char* name, char* buf, DWORD cap);
// Writes text as REG_SZ with a byte count of its length (no NUL). 1/0.
int WriteRegText(HKEY key, const char* name, const char* text);

// windowsVersionWord = GetVersion(); the high bit marks the 95/98/Me family.
void RefreshWindowsVersionWord();
bool IsWin9xFamily();
