#include "base/sysapi.h"

#include <cstring>

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
    g_sys.getLongPathNameW = Kernel32Function<decltype(g_sys.getLongPathNameW)>("GetLongPathNameW");
    g_sys.getFinalPathNameByHandleW =
        Kernel32Function<decltype(g_sys.getFinalPathNameByHandleW)>("GetFinalPathNameByHandleW");
    g_sys.getFileInformationByHandleEx =
        Kernel32Function<decltype(g_sys.getFileInformationByHandleEx)>("GetFileInformationByHandleEx");
}

#ifdef MOFA_TEST_HOOKS
DWORD ThisProgramPath(char* out, DWORD cap) {
    if (g_sys.programPath == nullptr) return GetModuleFileNameA(nullptr, out, cap);
    return StrCopy(out, cap, g_sys.programPath) ? static_cast<DWORD>(std::strlen(out)) : 0;
}
#endif

BOOL WINAPI FileAttributesAndLinks(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    auto query = g_sys.getFileInformationByHandleEx;
    if (query == nullptr) return GetFileInformationByHandle(h, info);
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!query(h, FileBasicInfo, &basic, sizeof basic) || !query(h, FileStandardInfo, &standard, sizeof standard))
        return FALSE;
    info->dwFileAttributes = basic.FileAttributes;
    info->nNumberOfLinks = standard.NumberOfLinks;
    return TRUE;
}

namespace {
struct SysApiInit {
    SysApiInit() { ResetSysApi(); }
} g_sysApiInit;
}  // namespace
