#include "app/entry.h"

#include <cstring>

#include "app/cmdline.h"
#include "base/captions.h"
#include "base/context.h"
#include "base/machine.h"
#include "base/strbuf.h"
#include "base/ui.h"
#include "ime/register.h"
#include "install/plan.h"

namespace {
const char kProbeText[] = "mofaisadmin";

int AnswerQuietlyW(const char16_t*, const char16_t*, unsigned buttons) { return DefaultAnswer(buttons); }
int AnswerQuietlyA(const char*, const char*, unsigned buttons) { return DefaultAnswer(buttons); }
}  // namespace

void RestrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    auto setDefault =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Older Windows: at least keep the current directory out of the search.
    SetDllDirectoryA("");
}

int CheckAdminRights() {
    ReadPathFile(1);
    DetectWow64();
    if (g_ctx.windowsMajorVersion < 6) return 0;

    // Write a probe text into the path file in the Windows directory and read
    // it back: without administrator rights the write fails and the old
    // contents (or nothing) come back. Then record the real directory again.
    char saved[sizeof g_ctx.installDir];
    std::memcpy(saved, g_ctx.installDir, sizeof saved);
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    StrCopy(g_ctx.installDir, kProbeText);
    PersistInstallDir();
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    ReadPathFile(0);
    char probe[sizeof g_ctx.installDir];
    std::memcpy(probe, g_ctx.installDir, sizeof probe);
    std::memcpy(g_ctx.installDir, saved, sizeof saved);
    PersistInstallDir();

    size_t len = StrLenBounded(probe, sizeof probe);
    if (len > 0 && probe[len - 1] == '\\') probe[len - 1] = '\0';
    return std::strcmp(probe, kProbeText) != 0 ? 1 : 0;
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

int SetupMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand) {
    RestrictDllSearch();
    if (commandLine == nullptr) commandLine = "";
    g_ctx.currentPage = 0;
    g_ctx.oemCodePage = static_cast<int32_t>(GetOEMCP());
    g_ctx.runMode = kRunInteractive;
    ResolveInstallDir();

    if (CheckAdminRights() != 0) {
        ShowMessageW(u"本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，"
                     u"在弹出菜单中点击“以管理员身份运行”）",
                     kCaptionW);
        return 0;
    }

    ReadRunMode(commandLine);

    // The 64-bit companion program hands the install directory back to this
    // 32-bit setup to register the 32-bit module.
    if (DetectWow64() && g_ctx.registerOnly == kRegisterOnly) {
        // A directory handed over that does not fit or does not exist is
        // refused: nothing is recorded or registered for it.
        if (HasRegisterArgument(commandLine) && (!ParseRegisterArgument(commandLine) || !PathExists(g_ctx.installDir)))
            return 0;
        PersistInstallDir();
        InstallImeModule();
        ShowMessageW(u"智能墨筏已安装成功，如不能使用，请重新启动计算机！", kCaptionW);
        return 0;
    }

    if (IsSilentRun()) {
        // Nobody to see a message or answer a question: every one takes its
        // default button.
        g_ui.showW = AnswerQuietlyW;
        g_ui.showA = AnswerQuietlyA;
        // No window: set up what it would own, so that deployment can extract.
        if (LoadPayloadAndWorkBuffer()) RunInstallPlan();
        ReleasePayloadAndWorkBuffer();
        return 0;
    }

    g_ctx.instanceHandle = instance;
    if (previous != nullptr) return 0;
    if (RegisterSetupWindowClass(instance) == 0) return 0;
    if (!CreateSetupWindow(instance, showCommand)) return 0;
    // "MOFAPL" is not among the resources: no accelerators act.
    HACCEL accelerators = LoadAcceleratorsA(instance, "MOFAPL");
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (accelerators != nullptr && TranslateAcceleratorA(static_cast<HWND>(g_ctx.mainWindow), accelerators, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
