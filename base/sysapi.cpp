#include "base/sysapi.h"

#include "base/journal.h"
#include "base/log.h"
#include "base/strbuf.h"

SysApi g_sys;

BOOL WINAPI StartProgramNoWait(LPCSTR command, UINT show) {
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

void ResetSysApi() {
#ifdef MOFA_TEST_HOOKS
#define MOFA_REAL_CALL(name, real, result, params, args) g_sys.name = real;
    MOFA_SYSTEM_CALLS(MOFA_REAL_CALL)
#undef MOFA_REAL_CALL
    g_sys.operations = 0;
    g_sys.failAt = 0;
    g_sys.moments = 0;
    g_sys.crashAt = 0;
    g_sys.abandoned = 0;
#endif
    g_sys.getFinalPathNameByHandleW = reinterpret_cast<DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
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
