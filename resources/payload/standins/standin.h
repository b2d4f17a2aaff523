// What every stand-in program of the sample payload shares: the product text
// with its version, where setup's version patch finds it, and the marker file
// %WINDIR%\Temp\mofa-standin.log, to which each appends one line when Windows
// runs or loads it. Built without the C runtime: only kernel32 is called.
#pragma once

#include <windows.h>

#define MOFA_TEXT_(x) #x
#define MOFA_TEXT(x) MOFA_TEXT_(x)

// "智能墨筏输入平台  6.3" as UTF-16LE, with the two version digits given by the
// build (MOFA_VERSION 63, 67 or 79). Writable data, read through a volatile
// pointer: the version is read from the file as setup patched it, never
// folded into the code by the compiler.
WCHAR g_productText[] = {0x667A, 0x80FD, 0x58A8, 0x7B4F, 0x8F93, 0x5165, 0x5E73, 0x53F0, L' ', L' ',
                         L'0' + MOFA_VERSION / 10, L'.', L'0' + MOFA_VERSION % 10, 0};

// The name this file has in the payload: copies under other names still tell
// which one they are.
static const char kBuiltAs[] = MOFA_TEXT(MOFA_STANDIN_NAME);

typedef struct {
    char text[1800];
    int length;
} Line;

static void Add(Line* line, const char* text) {
    while (*text != '\0' && line->length < (int)sizeof line->text - 2) line->text[line->length++] = *text++;
}

// The stand-in's own traits: "<bits> <version> <name in the payload>".
static void AddTraits(Line* line) {
    const volatile WCHAR* version = g_productText + 10;
    char digits[4] = {(char)version[0], (char)version[1], (char)version[2], 0};
    Add(line, sizeof(void*) == 8 ? " 64 " : " 32 ");
    Add(line, digits);
    Add(line, " ");
    Add(line, kBuiltAs);
}

static void AddModulePath(Line* line, HMODULE module) {
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    path[n < MAX_PATH ? n : 0] = '\0';
    Add(line, path);
}

// Appends the line and a line break to the marker file; several processes may
// append at once, each write lands whole at the end.
static void AppendMarker(Line* line) {
    char path[MAX_PATH + 32];
    UINT n = GetWindowsDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatA(path, "\\Temp");
    CreateDirectoryA(path, NULL);
    lstrcatA(path, "\\mofa-standin.log");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    line->text[line->length++] = '\r';
    line->text[line->length++] = '\n';
    DWORD written;
    WriteFile(file, line->text, (DWORD)line->length, &written, NULL);
    CloseHandle(file);
}
