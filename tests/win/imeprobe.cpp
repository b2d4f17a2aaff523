// imeprobe: what a program does that the user types into. It finds the
// keyboard layout whose "Ime File" names mofahu4.ime, makes it this thread's
// input language and opens an input context on a window of its own, so that
// the input-method manager loads the layout's module into this process (the
// module then appends its line to the marker file). Built 64-bit and 32-bit.
// Prints what it found and did; exits 0 when the layout was activated and the
// window had an input context, 2 when no layout names the module, 3 when the
// layout could not be activated, 4 when no input context came.
#include <windows.h>
#include <imm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char kLayouts[] = "System\\CurrentControlSet\\Control\\Keyboard Layouts";

// "C:\\WINDOWS\\system32\\MOFAHU4.IME" and "MOFAHU4.IME" both name the module.
bool NamesModule(const char* file) {
    const char* base = std::strrchr(file, '\\');
    return lstrcmpiA(base != nullptr ? base + 1 : file, "mofahu4.ime") == 0;
}

// The first layout whose "Ime File" names the module: its id in `id`.
bool FindLayout(char* id, DWORD size) {
    HKEY layouts;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLayouts, 0, KEY_READ, &layouts) != ERROR_SUCCESS) return false;
    bool found = false;
    for (DWORD i = 0; !found; ++i) {
        DWORD length = size;
        if (RegEnumKeyExA(layouts, i, id, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char file[MAX_PATH] = "";
        DWORD bytes = sizeof file - 1;
        HKEY layout;
        if (RegOpenKeyExA(layouts, id, 0, KEY_READ, &layout) != ERROR_SUCCESS) continue;
        found = RegQueryValueExA(layout, "Ime File", nullptr, nullptr, reinterpret_cast<BYTE*>(file), &bytes) ==
                    ERROR_SUCCESS &&
                NamesModule(file);
        RegCloseKey(layout);
    }
    RegCloseKey(layouts);
    return found;
}


// The layout's handle: the one Windows loads for the id, else the one of the
// id among the layouts the system knows (wine's LoadKeyboardLayout answers
// with the default layout whatever it is asked), else the id itself.
HKL LayoutHandle(const char* id) {
    DWORD want = static_cast<DWORD>(std::strtoul(id, nullptr, 16));
    HKL loaded = LoadKeyboardLayoutA(id, KLF_ACTIVATE);
    if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(loaded)) == want) return loaded;
    HKL layouts[64];
    int count = GetKeyboardLayoutList(64, layouts);
    for (int i = 0; i < count && i < 64; ++i) {
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(layouts[i])) == want) return layouts[i];
    }
    return reinterpret_cast<HKL>(static_cast<ULONG_PTR>(want));
}
}  // namespace

int main() {
    char id[64];
    if (!FindLayout(id, sizeof id)) {
        std::printf("no keyboard layout names mofahu4.ime\n");
        return 2;
    }
    // Before any window: the thread's input context is made for the layout
    // active when it is first needed.
    HKL layout = LayoutHandle(id);
    HKL previous = ActivateKeyboardLayout(layout, 0);
    HKL active = GetKeyboardLayout(0);
    std::printf("layout %s: handle %p, activated (before %p), active %p\n", id, static_cast<void*>(layout),
                static_cast<void*>(previous), static_cast<void*>(active));
    if (previous == nullptr || active != layout) return 3;

    HWND window = CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 60, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    HIMC context = window != nullptr ? ImmGetContext(window) : nullptr;
    HWND imeWindow = window != nullptr ? ImmGetDefaultIMEWnd(window) : nullptr;
    std::printf("window %p, input context %p, IME window %p\n", static_cast<void*>(window),
                static_cast<void*>(context), static_cast<void*>(imeWindow));
    if (context != nullptr) ImmReleaseContext(window, context);
    if (window != nullptr) DestroyWindow(window);
    return context != nullptr ? 0 : 4;
}
