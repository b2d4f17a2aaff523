#include "install/sysapi.h"

#include <shlobj.h>

SysApi g_sys;

void ResetSysApi() {
    g_sys.getSpecialFolderPathA = SHGetSpecialFolderPathA;
    g_sys.getDriveTypeA = GetDriveTypeA;
    g_sys.getVersionExA = GetVersionExA;
    g_sys.getVersion = GetVersion;
    g_sys.getWindowsDirectoryA = GetWindowsDirectoryA;
    g_sys.getSystemDirectoryA = GetSystemDirectoryA;
    g_sys.getSystemDirectoryW = GetSystemDirectoryW;
}

namespace {
struct SysApiInit {
    SysApiInit() { ResetSysApi(); }
} g_sysApiInit;
}  // namespace
