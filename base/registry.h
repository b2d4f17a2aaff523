// Every registry access of setup: keys opened, created and closed, text
// values read into fixed buffers and written with byte counts that leave out
// the NUL. Value writes go through the system-call seam (g_sys), so that
// tests see the byte counts themselves; every change is written to the log
// with the key's name, which this module remembers for each open key.
#pragma once
#include <windows.h>

// Parent keys are opened for reading only; keys written, created or deleted
// under them get full access.
HKEY OpenKeyRead(HKEY parent, const char* path);
HKEY OpenKeyFull(HKEY parent, const char* path);
// Creates (or opens) a non-volatile key with no class, full access.
HKEY CreateKeyFull(HKEY parent, const char* path);
// The wide forms, for keys and values whose names are UTF-16.
HKEY OpenKeyReadW(HKEY parent, const wchar_t* path);
HKEY CreateKeyFullW(HKEY parent, const wchar_t* path);
void CloseKey(HKEY key);

// Opens hive\parent for reading and creates or opens its sub-key with full
// access: the key, with *parentKey to close after it; null (nothing left
// open) when either fails.
HKEY OpenWritableSubKey(HKEY hive, const char* parent, const char* sub, HKEY* parentKey);

// The number of sub-keys of key; 0 when it cannot be read.
DWORD CountSubKeys(HKEY key);
// The name of the sub-key at index into name (cap bytes, always
// NUL-terminated; a longer name comes back cut). 1 when there is one.
int SubKeyName(HKEY key, DWORD index, char* name, DWORD cap);
// Deletes the sub-key `name` (which has no sub-keys of its own). 1/0.
int DeleteRegKey(HKEY parent, const char* name);

// Reads the value `name` (nullptr: the key's default value) as text into buf
// of cap bytes (cap <= 256). 1 only when the whole value fits with a
// terminating NUL; buf then holds it NUL-terminated even if the stored data
// carried none. On failure buf keeps its earlier content.
int ReadRegText(HKEY key, const char* name, char* buf, DWORD cap);
// Writes text as REG_SZ with a byte count of its length (no NUL). 1/0.
int WriteRegText(HKEY key, const char* name, const char* text);
// The same for a UTF-16 text: twice its length in characters.
int WriteRegTextW(HKEY key, const wchar_t* name, const char16_t* text);
// Writes a REG_DWORD value. 1/0.
int WriteRegDword(HKEY key, const char* name, DWORD value);
// Removes a value; 1 when it is gone (or was absent).
int DeleteRegValue(HKEY key, const char* name);
