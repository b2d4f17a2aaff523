#include "app/entry.h"

#include <cstring>

#include "app/cmdline.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/ui.h"
#include "ime/enable.h"
#include "ime/register.h"
#include "install/plan.h"

namespace {
// The command line after the program's own name (which may be quoted in
// parts), as Windows hands it to WinMain.
const char* ArgumentsOf(const char* line) {
    bool quoted = false;
    while (*line > ' ' || (*line && quoted)) {
        if (*line == '"') quoted = !quoted;
        ++line;
    }
    while (*line && *line <= ' ') ++line;
    return line;
}

// The command line as typed, program and all, as Windows keeps it (UTF-16).
// (The program needs Windows 2000 or later: the 9x family, whose UTF-16
// command line is empty, does not start it.)
const wchar_t* TypedCommandLine() { return GetCommandLineW(); }

int AnswerQuietlyW(const char16_t*, const char16_t*, unsigned buttons) { return DefaultAnswer(buttons); }
int AnswerQuietlyA(const char*, const char*, unsigned buttons) { return DefaultAnswer(buttons); }
}  // namespace

const char* CommandLineArguments() {
    // Each character the code page cannot hold stands as kNotInCodePage,
    // never as the "?" or look-alike letter Windows would put there, so that
    // a path is refused for what it is instead of being taken for another.
    static char converted[32768 * 2];
    static const char kLost[] = {kNotInCodePage, '\0'};
    // (The UTF-8 code page holds every character, and refuses the flag and
    // the stand-in.)
    bool utf8 = GetACP() == CP_UTF8;
    if (WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, TypedCommandLine(), -1, converted, sizeof converted,
                            utf8 ? nullptr : kLost, nullptr) <= 0)
        converted[0] = '\0';
    return ArgumentsOf(converted);
}

void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Older Windows: at least keep the current directory out of the search.
    // Looked up too: Windows 2000 and XP before SP1 lack it, and a program
    // importing it would not start there at all.
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    auto setDllDirectory = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryA");
    if (setDllDirectory != nullptr) setDllDirectory("");
}

bool CheckAdminRights() {
    ReadPathFile();
    DetectWow64();
    if (g_ctx.windowsMajorVersion < 6) return true;

    // A fresh file in the Windows directory, under a name no other program
    // predicts, and removed at once: without administrator rights it cannot
    // be made, and either way nothing is left behind.
    char windowsDir[200], fresh[260];
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir || !StrAppend(windowsDir, "\\mofasetup")) return false;
    PathVerdict verdict;
    HANDLE probe = CreateFresh(windowsDir, ".tmp", fresh, sizeof fresh, &verdict);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
    DeleteFileA(fresh);
    return true;
}

int LoadPayloadAndWorkBuffer() {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, "TYRKMFZ", "MFZ");
    if (found != nullptr) {
        HGLOBAL loaded = LoadResource(self, found);
        if (loaded != nullptr) {
            g_ctx.payloadResource = loaded;
            g_ctx.payloadData = static_cast<const unsigned char*>(LockResource(loaded));
            g_ctx.payloadSize = g_ctx.payloadData != nullptr ? SizeofResource(self, found) : 0;
        }
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kWorkBufferSize);
    if (block == nullptr) return 0;
    g_ctx.workBuffer = static_cast<unsigned char*>(GlobalLock(block));
    if (g_ctx.workBuffer == nullptr) {
        GlobalFree(block);
        return 0;
    }
    g_ctx.workBufferHandle = block;
    return 1;
}

void ReleasePayloadAndWorkBuffer() {
    if (g_ctx.workBufferHandle != nullptr) {
        GlobalUnlock(g_ctx.workBufferHandle);
        GlobalFree(g_ctx.workBufferHandle);
    }
    g_ctx.workBufferHandle = nullptr;
    g_ctx.workBuffer = nullptr;
    if (g_ctx.payloadResource != nullptr) FreeResource(g_ctx.payloadResource);
    g_ctx.payloadResource = nullptr;
    g_ctx.payloadData = nullptr;
    g_ctx.payloadSize = 0;
}

namespace {
Switches g_switches;

// The switches and the exit codes, for whoever asks.
const char kHelpText[] =
    "/S /SILENT /VERYSILENT /Q /QUIET /QN\t静默安装\n"
    "/D=目录（最后一项）  /DIR=\"目录\"\t安装目录\n"
    "/LOG=文件\t安装日志\n"
    "/SIGNIN=布局\t为登录的用户启用输入法（登录时自动运行）\n"
    "/SUPPRESSMSGBOXES /NORESTART /NOCANCEL /SP-\t可用\n\n"
    "退出码：0 成功，3010 需重新启动，1602 用户取消，1603 失败，1618 另一安装程序在运行，5 需管理员权限，87 参数错误";

// Why a directory of the command line is refused, by DirVerdict.
const char* const kDirRefusals[] = {"",
                                    "不是本机硬盘上的完整路径",
                                    "太长",
                                    "是一个文件",
                                    "在Windows目录中",
                                    "中有以空格或句点结尾的文件夹名",
                                    "中有本机代码页不能表示的字符",
                                    "后面还有其他参数（/D=必须是最后一项）",
                                    "中没有本产品的输入法模块"};

// dir as an install directory in chosen (cap bytes): its text, then a fixed
// drive, not a file, and not in the Windows folder, which the install would
// open to every user.
DirVerdict JudgeInstallDir(const char* dir, char* chosen, size_t cap) {
    DirVerdict verdict = NormalizeInstallDir(dir, chosen, cap);
    if (verdict != kDirUsable) return verdict;
    char root[4] = {chosen[0], ':', '\\', '\0'};
    if (g_sys.getDriveTypeA(root) != DRIVE_FIXED) return kDirNotAbsolute;
    DWORD attributes = g_sys.getFileAttributesA(chosen);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return kDirIsFile;
    return InWindowsDir(chosen) ? kDirInWindows : kDirUsable;
}

// Tells why dir is refused: in a box, or in a silent run the log.
void ExplainRefusal(const char* dir, DirVerdict verdict) {
    char shown[sizeof g_switches.dir], text[500];
    StrCopyCut(shown, dir);
    for (char* at = shown; *at != '\0'; ++at)
        if (*at == kNotInCodePage) *at = '?';
    if (StrFormat(text, sizeof text, "　　命令行指定的安装目录%s%s，安装没有进行。", shown, kDirRefusals[verdict]))
        ShowMessageA(text, kSetupCaptionA);
}

// Help, a switch not known and an install directory that cannot be used
// end the run before anything is written: its exit code, or -1 when the run
// goes on (with the directory chosen, if one was given).
int RefuseSwitches() {
    if (g_switches.help || g_switches.unknown[0] != '\0') {
        if (g_switches.unknown[0] != '\0') Log("unknown switch %s: nothing is installed", g_switches.unknown);
        if (!IsSilentRun()) ShowMessageA(kHelpText, kSetupCaptionA);
        return g_switches.help ? kExitInstalled : kExitBadArgument;
    }
    if (g_switches.dir[0] == '\0') return -1;
    DirVerdict verdict = g_switches.dirNotLast
                             ? kDirNotLast
                             : JudgeInstallDir(g_switches.dir, g_ctx.chosenInstallDir, sizeof g_ctx.chosenInstallDir);
    if (verdict == kDirUsable) return -1;
    g_ctx.chosenInstallDir[0] = '\0';
    ExplainRefusal(g_switches.dir, verdict);
    return kExitBadArgument;
}

// The directory the companion program hands over, checked as /D= is and
// holding the product's modules, before anything is written: -1 when the
// run goes on with it chosen, else the exit code (the path files untouched).
int RefuseHandedDirectory(const char* commandLine) {
    char* chosen = g_ctx.chosenInstallDir;
    char handed[sizeof g_ctx.installDir] = "";
    DirVerdict verdict = ParseRegisterArgument(commandLine, handed, sizeof handed)
                             ? JudgeInstallDir(handed, chosen, sizeof g_ctx.chosenInstallDir)
                             : kDirTooLong;
    static const char* const kModules[] = {"mofahu4.ime", "mofahu64.ime"};
    char module[MAX_PATH];
    for (const char* name : kModules)
        if (verdict == kDirUsable && (!JoinPath(module, chosen, name) || !FilePresent(module))) verdict = kDirNoProduct;
    if (verdict == kDirUsable) return -1;
    Log("the directory handed over is refused: %s%s", handed, kDirRefusals[verdict]);
    chosen[0] = '\0';
    return kExitFailed;
}

const char16_t kNeedsAdmin[] =
    u"本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，"
    u"在弹出菜单中点击“以管理员身份运行”）";

// A silent run has nobody to see a message or answer a question: each one
// goes to the log only, with its default button, and programs that setup
// starts are started hidden.
void UseSilentUi() {
    g_ui.showW = AnswerQuietlyW;
    g_ui.showA = AnswerQuietlyA;
    g_ui.programShow = kShowHidden;
}

const char* RunModeName(bool registration) {
    if (registration) return "32-bit registration";
    if (g_switches.signIn[0] != '\0') return "sign-in";
    return IsSilentRun() ? "silent" : "wizard";
}

void LogMachine(bool registration) {
    // The command line as typed, whatever the code page could hold of it.
    char head[100];
    StrFormat(head, sizeof head, "mofasetup %s, %s run; command line: ", kVersionText, RunModeName(registration));
    LogW(head, reinterpret_cast<const char16_t*>(TypedCommandLine()));
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    RefreshWindowsVersionWord();
    Log("Windows %lu.%lu build %lu (%s family), %s, OEM code page %d, ANSI code page %u", version.dwMajorVersion,
        version.dwMinorVersion, version.dwBuildNumber, IsWin9xFamily() ? "9x" : "NT",
        DetectWow64() ? "64-bit" : "32-bit", g_ctx.oemCodePage, GetACP());
}

// One setup of this product at a time: the mutex is held until the process
// ends. 0 when another setup holds it.
int TakeSetupMutex() {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Global\\mofasetup-tyrk");
    // A mutex of another user's setup cannot even be opened.
    if (mutex == nullptr) return GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1;
    return GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
}

// The 64-bit companion program hands the install directory back to this
// 32-bit setup to register the 32-bit module.
int RegisterForCompanion() {
    PersistInstallDir();
    if (!InstallImeModule()) {
        Log("the input-method manager did not take %s", g_ctx.installDir);
        return kExitFailed;
    }
    ShowMessageW(u"智能墨筏已安装成功，如不能使用，请重新启动计算机！", kCaptionW);
    return kExitInstalled;
}

int RunWizard(HINSTANCE instance, HINSTANCE previous, int showCommand) {
    g_ctx.instanceHandle = instance;
    if (previous != nullptr) return kExitAlreadyRunning;
    if (RegisterSetupWindowClass(instance) == 0 || !CreateSetupWindow(instance, showCommand)) return kExitFailed;
    // (The program has no accelerator table: the wizard's keys are its own.)
    int code = HandleMessages(nullptr);
    WaitForInstall();
    return code;
}

int Run(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
    bool registration = DetectWow64() && g_ctx.registerOnly == kRegisterOnly;
    LogMachine(registration);
    int refused = registration ? RefuseHandedDirectory(commandLine) : RefuseSwitches();
    if (refused >= 0) return refused;
    // Run by Windows as each user signs in: that user's list only.
    if (g_switches.signIn[0] != '\0') return EnableAtSignIn(g_switches.signIn);
    // The registration is started by this setup's own install, which still
    // holds the mutex.
    if (!registration && !TakeSetupMutex()) {
        if (!IsSilentRun()) ShowMessageW(u"另一个智能墨筏安装程序正在运行，请等它结束后再运行本程序！", kCaptionW);
        else Log("another setup of this product is running");
        return kExitAlreadyRunning;
    }
    ResolveInstallDir();
    if (!CheckAdminRights()) {
        ShowMessageW(kNeedsAdmin, kCaptionW);
        return kExitAccessDenied;
    }
    // The registration mode runs while its own setup holds the mutex: that
    // setup's journal is its own business.
    if ((!registration || TakeSetupMutex()) && !RecoverEarlierRun()) return kExitFailed;
    Log("install directory: %s; earlier installation recorded: %s", g_ctx.installDir,
        g_ctx.previousInstallDir[0] != '\0' ? g_ctx.previousInstallDir : "none");
    if (registration) return RegisterForCompanion();
    if (IsSilentRun()) {
        // No window: set up what it would own, so that deployment can extract.
        int code = LoadPayloadAndWorkBuffer() ? ExitCodeOf(RunInstallPlan()) : kExitFailed;
        ReleasePayloadAndWorkBuffer();
        return code;
    }
    return RunWizard(instance, previous, showCommand);
}
}  // namespace

int SetupMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
    RestrictDllSearch();
    if (commandLine == nullptr) commandLine = "";
    g_ctx.currentPage = 0;
    g_ctx.oemCodePage = static_cast<int32_t>(GetOEMCP());
    g_ctx.runMode = kRunInteractive;
    // The run mode first: a silent run shows nothing at all.
    ReadRunMode(commandLine);
    if (g_ctx.registerOnly != kRegisterOnly) ReadSwitches(commandLine, &g_switches);
    char handedOver[4];
    if (g_ctx.registerOnly == kRegisterOnly &&
        GetEnvironmentVariableA(kSilentHandOverVariable, handedOver, sizeof handedOver) == 1 && handedOver[0] == '1')
        g_ctx.runMode = kRunSilent;
    if (g_switches.silent || g_switches.signIn[0] != '\0') g_ctx.runMode = kRunSilent;
    if (IsSilentRun()) UseSilentUi();
    char logPath[MAX_PATH + 1];
    OpenLog(LogArgument(commandLine, logPath, sizeof logPath) ? logPath : nullptr);
    int code = Run(instance, previous, commandLine, showCommand);
    Log("exit code %d", code);
    CloseLog();
    return code;
}
