// The sample payload's input-method modules: a minimal IMM32 input method that
// converts nothing. When the input-method manager loads it and asks what it
// is (ImeInquire), it appends "ime <its path> <bits> <version> <name> process
// <the program's path>" to the marker file. Its user-interface window class
// is the product's, "UITYRK", registered while the module is loaded.
#include "standin.h"

#include <imm.h>

// What ImeInquire fills in (the layout Windows expects of every IME).
typedef struct {
    DWORD dwPrivateDataSize;
    DWORD fdwProperty;
    DWORD fdwConversionCaps;
    DWORD fdwSentenceCaps;
    DWORD fdwUICaps;
    DWORD fdwSCSCaps;
    DWORD fdwSelectCaps;
} ImeInfo;

#define EXPORT __declspec(dllexport)

static const WCHAR kUiClass[] = L"UITYRK";
static HINSTANCE g_module;

static LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The IME messages are all answered "nothing to do": no composition, no
    // candidates, no status window.
    if (message >= WM_IME_STARTCOMPOSITION && message <= WM_IME_KEYLAST) return 0;
    if (message >= WM_IME_SETCONTEXT && message <= WM_IME_KEYUP) return 0;
    return DefWindowProcW(window, message, wparam, lparam);
}

static void RegisterUiClass(void) {
    WNDCLASSEXW cls;
    BYTE* bytes = (BYTE*)&cls;
    for (unsigned i = 0; i < sizeof cls; ++i) bytes[i] = 0;
    cls.cbSize = sizeof cls;
    cls.style = CS_IME;
    cls.lpfnWndProc = UiWindowProc;
    // The two pointers every IME window keeps: its input context and its own data.
    cls.cbWndExtra = 2 * sizeof(LONG_PTR);
    cls.hInstance = g_module;
    cls.lpszClassName = kUiClass;
    RegisterClassExW(&cls);
}

BOOL WINAPI DllEntry(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        RegisterUiClass();
    } else if (reason == DLL_PROCESS_DETACH) {
        UnregisterClassW(kUiClass, g_module);
    }
    return TRUE;
}

// The file the module was mapped from, where Windows can tell (kernel32 of
// Windows 7 and later): a 32-bit process on 64-bit Windows is told that its
// modules lie in the system directory even when they come from SysWOW64.
static void AddMappedFile(Line* line) {
    typedef DWORD(WINAPI * MappedFileNameFn)(HANDLE, LPVOID, LPSTR, DWORD);
    MappedFileNameFn mappedFileName =
        (MappedFileNameFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetMappedFileNameA");
    char path[MAX_PATH + 1];
    if (mappedFileName == NULL) return;
    DWORD n = mappedFileName(GetCurrentProcess(), (LPVOID)g_module, path, MAX_PATH);
    path[n < MAX_PATH ? n : 0] = '\0';
    Add(line, " file ");
    Add(line, path);
}

EXPORT BOOL WINAPI ImeInquire(ImeInfo* info, WCHAR* uiClass, DWORD systemInfoFlags) {
    info->dwPrivateDataSize = 0;
    info->fdwProperty = IME_PROP_UNICODE | IME_PROP_AT_CARET;
    info->fdwConversionCaps = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE;
    info->fdwSentenceCaps = 0;
    info->fdwUICaps = 0;
    info->fdwSCSCaps = 0;
    info->fdwSelectCaps = SELECT_CAP_CONVERSION;
    lstrcpyW(uiClass, kUiClass);

    Line line;
    line.length = 0;
    Add(&line, "ime ");
    AddModulePath(&line, g_module);
    AddTraits(&line);
    AddMappedFile(&line);
    Add(&line, " process ");
    AddModulePath(&line, NULL);
    AppendMarker(&line);
    return TRUE;
}

EXPORT BOOL WINAPI ImeConfigure(HKL layout, HWND window, DWORD mode, LPVOID data) { return FALSE; }
EXPORT DWORD WINAPI ImeConversionList(HIMC context, LPCWSTR source, LPVOID list, DWORD size, UINT flag) { return 0; }
EXPORT BOOL WINAPI ImeDestroy(UINT reserved) { return TRUE; }
EXPORT LRESULT WINAPI ImeEscape(HIMC context, UINT escape, LPVOID data) { return 0; }
EXPORT BOOL WINAPI ImeProcessKey(HIMC context, UINT key, LPARAM data, const BYTE* keyState) { return FALSE; }
EXPORT BOOL WINAPI ImeSelect(HIMC context, BOOL select) { return TRUE; }
EXPORT BOOL WINAPI ImeSetActiveContext(HIMC context, BOOL active) { return TRUE; }
EXPORT UINT WINAPI ImeToAsciiEx(UINT key, UINT scanCode, const BYTE* keyState, LPVOID messages, UINT state,
                                HIMC context) {
    return 0;
}
EXPORT BOOL WINAPI NotifyIME(HIMC context, DWORD action, DWORD index, DWORD value) { return FALSE; }
EXPORT BOOL WINAPI ImeRegisterWord(LPCWSTR reading, DWORD style, LPCWSTR word) { return FALSE; }
EXPORT BOOL WINAPI ImeUnregisterWord(LPCWSTR reading, DWORD style, LPCWSTR word) { return FALSE; }
EXPORT UINT WINAPI ImeGetRegisterWordStyle(UINT count, LPVOID styles) { return 0; }
EXPORT UINT WINAPI ImeEnumRegisterWord(LPVOID callback, LPCWSTR reading, DWORD style, LPCWSTR word, LPVOID data) {
    return 0;
}
// Asked for by newer input-method managers, which load no IME without it.
EXPORT DWORD WINAPI ImeGetImeMenuItems(HIMC context, DWORD flags, DWORD type, LPVOID parent, LPVOID items,
                                       DWORD size) {
    return 0;
}
EXPORT BOOL WINAPI ImeSetCompositionString(HIMC context, DWORD index, LPCVOID composition, DWORD compositionSize,
                                           LPCVOID reading, DWORD readingSize) {
    return FALSE;
}
