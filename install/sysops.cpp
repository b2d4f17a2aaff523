#include "install/sysops.h"

#include <windows.h>
#include <aclapi.h>

#include <cstring>

#include "base/context.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/registry.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/ui.h"

namespace {
// One mandatory label ACE in an access list, laid out by hand since
// AddMandatoryAce came only with Vista.
struct LabelList {
    ACL acl;
    ACE_HEADER header;
    DWORD mask;
    BYTE revision, subAuthorityCount, authority[6];
    DWORD subAuthority;
};
LabelList g_lowLabel;
}  // namespace

const ACL* LowIntegrityLabel() {
    LabelList& label = g_lowLabel;
    label.acl.AclRevision = ACL_REVISION;
    label.acl.AclSize = sizeof label;
    label.acl.AceCount = 1;
    label.header.AceType = 0x11;  // SYSTEM_MANDATORY_LABEL_ACE_TYPE
    label.header.AceSize = sizeof label - sizeof label.acl;
    label.mask = 1;  // SYSTEM_MANDATORY_LABEL_NO_WRITE_UP
    label.revision = SID_REVISION;
    label.subAuthorityCount = 1;
    label.authority[5] = 16;      // SECURITY_MANDATORY_LABEL_AUTHORITY
    label.subAuthority = 0x1000;  // SECURITY_MANDATORY_LOW_RID
    return &label.acl;
}

void SetLowIntegrity() {
    const SECURITY_INFORMATION kLabelSecurity = 0x00000010L;  // LABEL_SECURITY_INFORMATION
    // Set through a handle opened without following a link, and checked: the
    // label of a folder a planted junction leads to is never lowered. What
    // the label was is kept first, for a rollback to put back.
    PathVerdict verdict = kPathPlain;
    HANDLE folder = KeepSecurity(g_ctx.installDir) ? OpenFolderChecked(g_ctx.installDir, READ_CONTROL | WRITE_OWNER, &verdict)
                                                   : INVALID_HANDLE_VALUE;
    if (folder == INVALID_HANDLE_VALUE) {
        Log("integrity level not lowered: %s (%s)", g_ctx.installDir,
            verdict != kPathPlain ? VerdictText(verdict) : "cannot be opened");
        return;
    }
    DWORD rc = SetSecurityInfo(folder, SE_FILE_OBJECT, kLabelSecurity, nullptr, nullptr, nullptr,
                               const_cast<PACL>(LowIntegrityLabel()));
    CloseHandle(folder);
    if (rc == ERROR_SUCCESS)
        Log("integrity level lowered: %s", g_ctx.installDir);
    else
        Log("integrity level not lowered: %s (error %lu)", g_ctx.installDir, rc);
}

int GrantUserFullControl(const char* directory) {
    char user[198];
    DWORD userSize = sizeof user;
    if (!GetUserNameA(user, &userSize)) return 0;

    // The rights are changed through a handle of the folder opened without
    // following a link and checked: the user's full control never reaches
    // a folder a junction planted there leads to.
    PathVerdict verdict;
    HANDLE folder = OpenFolderChecked(directory, READ_CONTROL | WRITE_DAC, &verdict);
    if (folder == INVALID_HANDLE_VALUE) {
        if (verdict != kPathPlain) Log("full control not granted: %s (%s)", directory, VerdictText(verdict));
        return 0;
    }
    PACL oldAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    int result = 0;
    // What the rights were is kept first, for a rollback to put back.
    if (KeepSecurity(directory) &&
        GetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        EXPLICIT_ACCESSA access;
        std::memset(&access, 0, sizeof access);
        BuildExplicitAccessWithNameA(&access, user, GENERIC_ALL, GRANT_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
        PACL newAcl = nullptr;
        if (SetEntriesInAclA(1, &access, oldAcl, &newAcl) == ERROR_SUCCESS) {
            result = SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl,
                                     nullptr) == ERROR_SUCCESS
                         ? 1
                         : 0;
            LocalFree(newAcl);
        }
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    CloseHandle(folder);
    return result;
}

void WriteAutostartValue(const char* command) {
    HKEY parent = nullptr;
    HKEY run = OpenWritableSubKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "Run", &parent);
    if (run == nullptr) return;
    DeleteRegValue(run, "mfmxsjgl");
    WriteRegText(run, "mfmxsjgl", command);
    CloseKey(run);
    CloseKey(parent);
}

void WriteUserAgentToken() {
    HKEY parent = nullptr;
    HKEY post = OpenWritableSubKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent",
                                   "Post Platform", &parent);
    if (post == nullptr) return;
    // Tokens of earlier versions, "tyrk6300" to "tyrk6800" and "tyrk7000" to "tyrk7900".
    char name[16];
    for (char d = '3'; d <= '8'; ++d) {
        StrFormat(name, sizeof name, "tyrk6%c00", d);
        DeleteRegValue(post, name);
    }
    for (char d = '0'; d <= '9'; ++d) {
        StrFormat(name, sizeof name, "tyrk7%c00", d);
        DeleteRegValue(post, name);
    }
    WriteRegText(post, "tyrk7900", "");
    CloseKey(post);
    CloseKey(parent);
}

namespace {
struct RedirectionToken {
    PVOID oldValue;
    bool off;   // the system's redirection was turned off
    bool open;  // a span has begun and not ended
};
RedirectionToken g_redirection;
}  // namespace

void* BeginNativeSystemDirAccess() {
    // One span at a time: one begun inside another would take the state the
    // outer one puts back, and its end would end the outer one too.
    if (g_redirection.open || !DetectWow64()) return nullptr;
    typedef BOOL(WINAPI * DisableFn)(PVOID*);
    auto disable = Kernel32Function<DisableFn>("Wow64DisableWow64FsRedirection");
    g_redirection.off = disable != nullptr && disable(&g_redirection.oldValue);
    g_redirection.open = true;
    return &g_redirection;
}

void EndNativeSystemDirAccess(void* token) {
    if (token == nullptr) return;
    typedef BOOL(WINAPI * RevertFn)(PVOID);
    auto revert = Kernel32Function<RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert != nullptr && g_redirection.off) revert(g_redirection.oldValue);
    g_redirection.off = g_redirection.open = false;
}

int InNativeSystemDirAccess() { return g_redirection.open ? 1 : 0; }
