#include "base/machine.h"

#include <shlobj.h>
#include <windows.h>

#include <cstring>

#include "base/context.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
const char kDefaultProgramFiles[] = "c:\\Program Files";
const char kInstallSubdir[] = "mofahu\\";
const char kPathFileName[] = "mofapath.mfh";

// "<Windows directory>\mofapath.mfh"; 0 when it does not fit.
int PathFileInWindowsDir(char (&out)[224]) {
    char windowsDir[200] = {0};
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir) return 0;
    return JoinPath(out, windowsDir, kPathFileName);
}

void AppendBackslash(char* text, size_t cap) {
    size_t len = StrLenBounded(text, cap);
    if (len == 0 || text[len - 1] != '\\') StrAppend(text, cap, "\\");
}
}  // namespace

char* ResolveInstallDir() {
    char* dir = g_ctx.installDir;
    if (dir[1] == ':' && dir[2] == '\\') return dir;
    std::memset(dir, 0, sizeof g_ctx.installDir);
    if (g_ctx.chosenInstallDir[0] != '\0') {
        StrCopy(g_ctx.installDir, g_ctx.chosenInstallDir);
        return dir;
    }

    // The shell may write up to MAX_PATH characters.
    char folder[MAX_PATH + 1] = {0};
    if (!g_sys.getSpecialFolderPathA(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) StrCopy(folder, kDefaultProgramFiles);
    folder[MAX_PATH] = '\0';

    // "C:\Program Files (x86)" -> "C:\Program Files": the 32-bit setup
    // installs under the native Program Files folder.
    if (char* paren = std::strchr(folder, '(')) *paren = '\0';
    size_t len = std::strlen(folder);
    while (len > 0 && folder[len - 1] == ' ') folder[--len] = '\0';

    if (!PathExists(folder)) StrCopy(folder, kDefaultProgramFiles);

    // A folder too long for installDir is refused, not cut.
    if (!JoinPath(dir, sizeof g_ctx.installDir, folder, kInstallSubdir))
        JoinPath(dir, sizeof g_ctx.installDir, kDefaultProgramFiles, kInstallSubdir);
    return dir;
}

char* ResolveInstallDirAfresh() {
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    return ResolveInstallDir();
}

void ReadPathFile() {
    char path[224];
    std::memset(g_ctx.previousInstallDir, 0, sizeof g_ctx.previousInstallDir);
    if (PathFileInWindowsDir(path)) ReadPathFileAt(path, g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir);
}

const char* FindFixedDriveDir() {
    static char result[200];
    result[0] = '\0';
    char root[4] = "g:\\";
    for (int i = 0; i < 5; ++i, --root[0]) {
        if (g_sys.getDriveTypeA(root) == DRIVE_FIXED) {
            JoinPath(result, root, kInstallSubdir);
            break;
        }
    }
    return result;
}

Outcome PersistInstallDir() {
    char path[224];
    AppendBackslash(g_ctx.installDir, sizeof g_ctx.installDir);
    uint32_t len = static_cast<uint32_t>(StrLenBounded(g_ctx.installDir, sizeof g_ctx.installDir));
    const Outcome written =
        PathFileInWindowsDir(path) ? WriteWholeFile(path, g_ctx.installDir, len) : FailedWith(kErrorNoCause);
    RefreshSystemDir();
    if (g_ctx.windowsMajorVersion < 6) return written;

    // The second copy sits beside a fixed drive's "mofahu\" folder. With no
    // fixed drive among G: to C: it is skipped rather than written under a
    // bare name in whatever the current directory is.
    const char* driveDir = FindFixedDriveDir();
    if (driveDir[0] == '\0') return written;
    // Any user may make that folder first. One that is not a plain folder
    // (a file, or a junction or mount point leading elsewhere) is not
    // written into; the path file in the Windows directory stands alone.
    char folder[200];
    StrCopyCut(folder, driveDir);
    folder[StrLenBounded(folder, sizeof folder) - 1] = '\0';  // "c:\mofahu": a file of that name shows so
    DWORD attributes = g_sys.getFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        Log("second path file not written: %s is not a plain folder (attributes 0x%lx)", driveDir,
            static_cast<unsigned long>(attributes));
        return written;
    }
    // The second copy is a convenience for the input method: one that cannot
    // be written is logged, and the install does not depend on it.
    if (!MakeDirectory(driveDir) || !JoinPath(path, driveDir, kPathFileName) ||
        !WriteWholeFile(path, g_ctx.installDir, len))
        Log("the second path file could not be written in %s (error %lu); the install goes on", driveDir,
            GetLastError());
    return written;
}

int DetectWow64() {
    g_ctx.windowsMajorVersion = 0;
    OSVERSIONINFOEXA info;  // 156 bytes, the size Windows 2000 and later accept
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (g_sys.getVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
        g_ctx.windowsMajorVersion = static_cast<int32_t>(info.dwMajorVersion);
    if (g_ctx.windowsMajorVersion <= 5) return 0;
    BuildSysWow64Dir(g_ctx.sysWow64Dir);
    return g_ctx.sysWow64Dir[0] != '\0' && PathExists(g_ctx.sysWow64Dir) ? 1 : 0;
}

int PathExists(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(h);
    return 1;
}

int InWindowsDir(const char* path) {
    char windowsDir[200];
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    return n > 0 && n < sizeof windowsDir && _strnicmp(path, windowsDir, n) == 0 && path[n] == '\\';
}

void BuildSysWow64Dir(char* out) {
    char windowsDir[200] = {0};
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir || !JoinPath(out, 224, windowsDir, "syswow64")) out[0] = '\0';
}

void RefreshSystemDir() {
    UINT n = g_sys.getSystemDirectoryA(g_ctx.systemDir, sizeof g_ctx.systemDir);
    if (n == 0 || n >= sizeof g_ctx.systemDir) g_ctx.systemDir[0] = '\0';
}

void RefreshWindowsVersionWord() { g_ctx.windowsVersionWord = g_sys.getVersion(); }

bool IsWin9xFamily() { return (g_ctx.windowsVersionWord & 0x80000000u) != 0; }
