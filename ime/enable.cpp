#include "ime/enable.h"

#include <windows.h>
#include <shlobj.h>

#include "base/context.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/registry.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/text.h"
#include "ime/layoutid.h"
#include "ime/register.h"

namespace {
// The sign-in entry of the product (under the key of every Windows since
// 98, which is not made), and the program it runs.
const char kSignInEntries[] = "Software\\Microsoft\\Active Setup\\Installed Components";
const char kSignInEntry[] = "{F3951D3A-9E0F-4286-B337-2F0115AACDC9}";
const char kSignInProgram[] = "mofauser.exe";
}  // namespace

EnableAnswer CallInstallLayoutOrTip(uint32_t layoutId, uint32_t flags) {
    char path[MAX_PATH], text[16];
    wchar_t wide[16];
    LayoutOrTipText(layoutId, text, sizeof text);
    for (int i = 0; i < 16; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    // The system directory's own input.dll, by its full path, never one a
    // folder searched before it holds.
    HMODULE dll = JoinPath(path, g_ctx.systemDir, "input.dll") ? LoadLibraryA(path) : nullptr;
    typedef BOOL(WINAPI * InstallLayoutOrTipFn)(LPCWSTR, DWORD);
    auto install = dll != nullptr ? reinterpret_cast<InstallLayoutOrTipFn>(
                                        reinterpret_cast<void*>(GetProcAddress(dll, "InstallLayoutOrTip")))
                                  : nullptr;
    EnableAnswer answer = kEnableNoExport;
    const char* said = "not called: no such function in the system's input.dll";
    if (install != nullptr) {
        answer = install(wide, flags) ? kEnableTaken : kEnableRefused;
        said = answer == kEnableTaken ? "TRUE" : "FALSE";
    }
    Log("InstallLayoutOrTip(\"%s\", %lu): %s", text, static_cast<unsigned long>(flags), said);
    return answer;
}

int WriteSignInEntry() {
    // A copy of this program, where only administrators write: the entry
    // runs it in every account that signs in. 32-bit on 64-bit Windows, it
    // goes to SysWOW64, which the 64-bit shell that runs it names so too.
    char self[MAX_PATH], program[MAX_PATH], command[MAX_PATH + 24];
    DWORD n = ThisProgramPath(self, sizeof self);
    if (n == 0 || n >= sizeof self ||
        !JoinPath(program, DetectWow64() ? g_ctx.sysWow64Dir : g_ctx.systemDir, kSignInProgram) ||
        !StrFormat(command, sizeof command, "\"%s\" /SIGNIN=%08X", program, static_cast<unsigned>(g_ctx.layoutId)) ||
        !CopyFileOver(self, program))
        return 0;
    HKEY entries = nullptr;
    HKEY entry = OpenWritableSubKey(HKEY_LOCAL_MACHINE, kSignInEntries, kSignInEntry, &entries);
    // Its version last: a version without a command would mark every user as
    // served without running anything.
    int ok = entry != nullptr && WriteRegText(entry, "StubPath", command) && WriteRegDword(entry, "IsInstalled", 1) &&
             WriteRegTextW(entry, nullptr, u"智能墨筏输入平台") && WriteRegText(entry, "Version", "7,9,0,0");
    CloseKey(entry);
    CloseKey(entries);
    return ok;
}

void EnableForInstallingUser() {
    // A service account (a deployment run as LocalSystem) has its profile
    // inside the Windows directory, and nobody types in it.
    char profile[MAX_PATH];
    if (g_sys.getSpecialFolderPathA(nullptr, profile, CSIDL_PROFILE, FALSE) && InWindowsDir(profile)) {
        Log("not enabled for %s, a service account's: each user gets it at the next sign-in", profile);
        return;
    }
    g_ctx.enableAnswer = CallInstallLayoutOrTip(g_ctx.layoutId, kIlotEnable);
}

int EnableAtSignIn(const char* layoutText) {
    char path[120], file[256];
    RefreshSystemDir();
    // Installed while its layout key names the product's module (by its
    // name, or its path in the system directory).
    HKEY key = JoinPath(path, kLayoutsKey, layoutText)
                   ? OpenKeyRead(HKEY_LOCAL_MACHINE, path)
                   : nullptr;
    int present = key != nullptr;
    int installed = present && ReadRegText(key, "IME file", file, sizeof file) && ContainsText(file, "mofahu4.ime");
    CloseKey(key);
    // A layout of another product under that number is that product's.
    if (present && !installed) return kExitInstalled;
    EnableAnswer answer = CallInstallLayoutOrTip(ParseLayoutId(layoutText), installed ? kIlotEnable : kIlotUninstall);
    if (!installed) return kExitInstalled;
    // Windows 2000 and XP: the user's preload list.
    if (answer == kEnableNoExport) return AddToPreloadList(layoutText) ? kExitInstalled : kExitFailed;
    return answer == kEnableTaken ? kExitInstalled : kExitFailed;
}
