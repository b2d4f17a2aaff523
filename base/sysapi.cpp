#include "base/sysapi.h"

#include <imm.h>
#include <shlobj.h>

#include "base/log.h"

SysApi g_sys;

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
    g_sys.winExec = WinExec;
    g_sys.sleep = Sleep;
    g_sys.operations = 0;
    g_sys.failAt = 0;
}

int InjectedFault(const char* what) {
    ++g_sys.operations;
    if (g_sys.failAt == 0 || g_sys.operations != g_sys.failAt) return 0;
    Log("fault made for a test: operation %lu (%s) fails", g_sys.operations, what);
    SetLastError(ERROR_ACCESS_DENIED);
    return 1;
}

namespace {
struct SysApiInit {
    SysApiInit() { ResetSysApi(); }
} g_sysApiInit;
}  // namespace
