#include "install/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "base/captions.h"
#include "base/context.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/text.h"
#include "base/ui.h"

namespace {
const char kHeading[] = "智能墨筏汉字输入系统7.9版安装情况报告。\r\n\r\n安装出现错误！错误为：";
const char kAdvice[] = "\r\n\r\n请到主页" MOFA_VENDOR_SITE "重新下载安装！并解除杀毒软件对安装过程的拦截！\r\n\r\n";
// One movable block: the report, and 2,000 bytes in the diagnostic codes.
const SIZE_T kBlockSize = 69376;
const size_t kCodesOffset = 2000;
const int kHealthyDirState = 14;
const int kMinimumFiles = 74;
const DWORD kProbeLength = 20;

void CountUpTo255(uint8_t& counter) {
    if (counter < 255) ++counter;
}

// Appends one formatted code; a code that does not fit is left out.
void AppendCode(char* codes, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void AppendCode(char* codes, const char* fmt, ...) {
    char code[300];
    va_list ap;
    va_start(ap, fmt);
    int ok = StrFormatV(code, sizeof code, fmt, ap);
    va_end(ap);
    if (ok) StrAppend(codes, kBlockSize - kCodesOffset, code);
}

// The first of "<stem>.mfh", ".bak", ".dat" that reads whole decides; the
// code of the last one probed goes to the diagnostic text.
bool DictionaryPresent(const char* stem, const char* label, char* codes) {
    static const char* const kExtensions[] = {".mfh", ".bak", ".dat"};
    int code = 0;
    for (const char* extension : kExtensions) {
        char name[32];
        if (!StrFormat(name, sizeof name, "%s%s", stem, extension)) continue;
        code = ProbeInstalledFile(name);
        if (code == kProbeComplete) break;
    }
    AppendCode(codes, "%s--%x;", label, static_cast<unsigned>(code));
    return code == kProbeComplete;
}

// The one finding of the report, or null when every test passed.
const char* FirstFinding(char* codes) {
    ScanInstallDir();
    AppendCode(codes, "path--%s--%d;", g_ctx.installDir, g_ctx.installDirState);
    if (g_ctx.installDirState < kHealthyDirState) return "检测不到安装路径！";
    int files = g_ctx.otherFileCount + g_ctx.dataFileCount + g_ctx.txtFileCount;
    AppendCode(codes, "F--%d;", files);
    if (files < kMinimumFiles) return "文件不完整！";
    if (!DictionaryPresent("mofacyzk", "FR1", codes)) return "无五笔词库文件！";
    if (!DictionaryPresent("mofapyck", "FR2", codes)) return "无拼音词库文件！";
    int module = ProbeInstalledFile("mofahu4.ime");
    AppendCode(codes, "FR3--%x;", static_cast<unsigned>(module));
    if (module != kProbeComplete) return "缺少文件！";
    return nullptr;
}
}  // namespace

void ScanInstallDir() {
    g_ctx.installDirState = 0;
    g_ctx.txtFileCount = 0;
    g_ctx.dataFileCount = 0;
    g_ctx.otherFileCount = 0;
    char* dir = g_ctx.installDir;
    size_t length = StrLenBounded(dir, sizeof g_ctx.installDir);
    // An empty directory would become the root of the current drive.
    if (length == 0) return;
    if (dir[length - 1] != '\\' && !StrAppend(dir, sizeof g_ctx.installDir, "\\")) return;

    char pattern[sizeof g_ctx.installDir + 4];
    if (!JoinPath(pattern, dir, "*.*")) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            g_ctx.installDirState = 1;
            const char* name = found.cFileName;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            // Directories by their attribute: entering each one to find out
            // would move the current directory about.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (ContainsText(name, ".txt"))
                CountUpTo255(g_ctx.txtFileCount);
            else if (ContainsText(name, ".mfh"))
                CountUpTo255(g_ctx.dataFileCount);
            else
                CountUpTo255(g_ctx.otherFileCount);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }

    if (SetCurrentDirectoryA(dir)) g_ctx.installDirState += 10;
    // The directory bit, not the whole attribute word: a directory marked
    // archive or read-only is a directory all the same.
    DWORD attributes = g_sys.getFileAttributesA(dir);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) g_ctx.installDirState += 3;
}

int ProbeInstalledFile(const char* name) {
    char path[sizeof g_ctx.installDir + 32];
    if (InInstallDir(path, name)[0] == '\0') return ERROR_FILENAME_EXCED_RANGE;
    // Not read through a link planted in the install folder: such a file
    // counts as one that cannot be read.
    PathVerdict verdict;
    HANDLE file = OpenChecked(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, &verdict);
    if (file == INVALID_HANDLE_VALUE) return verdict != kPathPlain ? ERROR_ACCESS_DENIED : static_cast<int>(GetLastError());
    char bytes[kProbeLength];
    DWORD got = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = ReadFile(file, bytes, kProbeLength, &got, nullptr);
    DWORD error = ok && got == kProbeLength ? 0 : GetLastError();
    CloseHandle(file);
    if (!ok) got = 0;
    return static_cast<int>(got * 256 + error);
}

int CheckInstallation() {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kBlockSize);
    if (block == nullptr) return 0;
    char* report = static_cast<char*>(GlobalLock(block));
    if (report == nullptr) {
        GlobalFree(block);
        return 0;
    }
    char* codes = report + kCodesOffset;
    StrCopy(report, kCodesOffset, kHeading);

    const char* finding = FirstFinding(codes);
    if (finding != nullptr) {
        StrAppend(report, kCodesOffset, finding);
        StrAppend(report, kCodesOffset, kAdvice);
        ShowMessageA(report, kCaptionA);
    }
    // The codes never reach the user; a debugger sees them.
    OutputDebugStringA(codes);

    GlobalUnlock(block);
    GlobalFree(block);
    return finding != nullptr ? 1 : 0;
}
