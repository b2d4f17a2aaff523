#include "base/sysapi.h"

#include <imm.h>
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
    g_sys.immInstallIMEW = ImmInstallIMEW;
    g_sys.getKeyboardLayout = GetKeyboardLayout;
    g_sys.immGetDescriptionA = ImmGetDescriptionA;
    g_sys.regSetValueExA = RegSetValueExA;
    g_sys.regSetValueExW = RegSetValueExW;
    g_sys.getKeyboardLayoutList = GetKeyboardLayoutList;
    g_sys.activateKeyboardLayout = ActivateKeyboardLayout;
    g_sys.getFileAttributesA = GetFileAttributesA;
}

namespace {
struct SysApiInit {
    SysApiInit() { ResetSysApi(); }
} g_sysApiInit;
}  // namespace
