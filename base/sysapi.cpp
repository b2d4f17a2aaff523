#include "base/sysapi.h"

#include <imm.h>
#include <shlobj.h>

#include "base/journal.h"
#include "base/log.h"
#include "base/strbuf.h"

SysApi g_sys;

namespace {
BOOL WINAPI StartProgram(LPCSTR command, UINT show) {
    char line[1024];
    // A copy, as CreateProcess may write into its command line.
    if (!StrCopy(line, command)) return FALSE;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION started = {};
    // A silent run's programs get no console window either.
    DWORD flags = show == SW_HIDE ? CREATE_NO_WINDOW : 0;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &started))
        return FALSE;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return TRUE;
}
}  // namespace

void ResetSysApi() {
    g_sys.getSpecialFolderPathA = SHGetSpecialFolderPathA;
    g_sys.getDriveTypeA = GetDriveTypeA;
    g_sys.getVersionExA = GetVersionExA;
    g_sys.getVersion = GetVersion;
    g_sys.getWindowsDirectoryA = GetWindowsDirectoryA;
    g_sys.getSystemDirectoryA = GetSystemDirectoryA;
    g_sys.getSystemDirectoryW = GetSystemDirectoryW;
    g_sys.immInstallIMEW = ImmInstallIMEW;
    g_sys.getKeyboardLayout = GetKeyboardLayout;
    g_sys.immGetDescriptionA = ImmGetDescriptionA;
    g_sys.regSetValueExA = RegSetValueExA;
    g_sys.regSetValueExW = RegSetValueExW;
    g_sys.getKeyboardLayoutList = GetKeyboardLayoutList;
    g_sys.activateKeyboardLayout = ActivateKeyboardLayout;
    g_sys.getFileAttributesA = GetFileAttributesA;
    g_sys.getFileInformationByHandle = GetFileInformationByHandle;
    g_sys.getFinalPathNameByHandleW = reinterpret_cast<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
    g_sys.startProgram = StartProgram;
    g_sys.sleep = Sleep;
    g_sys.writeFile = WriteFile;
    g_sys.flushFileBuffers = FlushFileBuffers;
#ifdef MOFA_TEST_HOOKS
    g_sys.operations = 0;
    g_sys.failAt = 0;
    g_sys.moments = 0;
    g_sys.crashAt = 0;
    g_sys.abandoned = 0;
#endif
}

#ifdef MOFA_TEST_HOOKS
int Abandoned() {
    if (++g_sys.moments == g_sys.crashAt) {
        Log("killed at %lu", g_sys.moments);
        g_sys.abandoned = 1;
    }
    return g_sys.abandoned;
}

#endif

int InjectedFault(const char* what) {
#ifdef MOFA_TEST_HOOKS
    ++g_sys.operations;
    if (Abandoned()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 1;
    }
#endif
    // A change the journal could not record is not made at all.
    if (!JournalHasRoom()) {
        Log("the journal has no room to record a change: %s is not made", what);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
#ifdef MOFA_TEST_HOOKS
    if (g_sys.failAt != 0 && g_sys.operations == g_sys.failAt) {
        Log("fault made for a test: operation %lu (%s) fails", g_sys.operations, what);
        SetLastError(ERROR_ACCESS_DENIED);
        return 1;
    }
#endif
    return 0;
}

namespace {
struct SysApiInit {
    SysApiInit() { ResetSysApi(); }
} g_sysApiInit;
}  // namespace
