#include <windows.h>

#include "app/entry.h"

// The program's entry point, in place of the C runtime's start-up code: it
// needs none of what that code sets up (arguments, environment, threads'
// storage, floating-point modes, exit handlers), and leaving it out keeps the
// program about 10 KB smaller. The C library's functions it calls work
// without it (the library initialises itself when Windows loads it).

extern "C" void (*__CTOR_LIST__[])(void);

namespace {

// Runs the constructors of the program's static objects, last first, as the
// C runtime would.
void RunConstructors() {
    void (**last)(void) = __CTOR_LIST__ + 1;
    while (*last) ++last;
    while (--last > __CTOR_LIST__) (*last)();
}

}  // namespace

extern "C" void __stdcall SetupStart(void) {
    RunConstructors();
    STARTUPINFOA startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    int code = SetupMain(GetModuleHandleA(nullptr), nullptr, CommandLineArguments(), show);
    // Static objects are never torn down: the process ends here.
    ExitProcess(static_cast<UINT>(code));
}
