// Windows calls that decide where setup installs and which Windows it runs
// on: in the test build behind function pointers, so that tests can stand in
// a Program Files folder, a drive layout, a Windows version or a Windows
// directory; the shipped program makes them directly.
#pragma once
#include <windows.h>
#include <imm.h>
#include <shlobj.h>

// The calls, each as its name in the table, the Windows function, its result,
// its parameters and its arguments.
#define MOFA_SYSTEM_CALLS(X)                                                                         \
    X(getSpecialFolderPathA, SHGetSpecialFolderPathA, BOOL, (HWND w, LPSTR p, int f, BOOL c), (w, p, f, c)) \
    X(getDriveTypeA, GetDriveTypeA, UINT, (LPCSTR p), (p))                                            \
    X(getVersionExA, GetVersionExA, BOOL, (LPOSVERSIONINFOA v), (v))                                  \
    X(getVersion, GetVersion, DWORD, (), ())                                                          \
    X(getWindowsDirectoryA, GetWindowsDirectoryA, UINT, (LPSTR p, UINT n), (p, n))                    \
    X(getSystemDirectoryA, GetSystemDirectoryA, UINT, (LPSTR p, UINT n), (p, n))                      \
    X(getSystemDirectoryW, GetSystemDirectoryW, UINT, (LPWSTR p, UINT n), (p, n))                     \
    /* The input-method manager and the active input method. */                                      \
    X(immInstallIMEW, ImmInstallIMEW, HKL, (LPCWSTR file, LPCWSTR text), (file, text))                \
    X(getKeyboardLayout, GetKeyboardLayout, HKL, (DWORD thread), (thread))                            \
    X(immGetDescriptionA, ImmGetDescriptionA, UINT, (HKL l, LPSTR p, UINT n), (l, p, n))              \
    X(getKeyboardLayoutList, GetKeyboardLayoutList, int, (int n, HKL* l), (n, l))                     \
    X(activateKeyboardLayout, ActivateKeyboardLayout, HKL, (HKL l, UINT f), (l, f))                   \
    /* Registry value writes: Windows quietly stores a NUL the caller left */                        \
    /* out of the byte count, so only a stand-in sees the count itself. */                           \
    X(regSetValueExA, RegSetValueExA, LONG, (HKEY k, LPCSTR n, DWORD r, DWORD t, const BYTE* d, DWORD s), \
      (k, n, r, t, d, s))                                                                             \
    X(regSetValueExW, RegSetValueExW, LONG, (HKEY k, LPCWSTR n, DWORD r, DWORD t, const BYTE* d, DWORD s), \
      (k, n, r, t, d, s))                                                                             \
    /* Attributes of the install directory: wine keeps no read-only or */                            \
    /* archive bit on a directory, so only a stand-in shows them. */                                 \
    X(getFileAttributesA, GetFileAttributesA, DWORD, (LPCSTR p), (p))                                 \
    /* What a file opened in a folder others can write is: its attributes */                         \
    /* and number of names (and, below, the final path of what opened). */                           \
    /* Wine reports no Unix symbolic link as a reparse point, so only a */                           \
    /* stand-in shows one. */                                                                        \
    X(getFileInformationByHandle, FileAttributesAndLinks, BOOL, (HANDLE h, LPBY_HANDLE_FILE_INFORMATION i), \
      (h, i))                                                                                         \
    /* Programs setup starts (icacls, the 64-bit companion program): the */                          \
    /* command line and the show command; TRUE when started. And the */                              \
    /* pauses of the deployment. */                                                                  \
    X(startProgram, StartProgramNoWait, BOOL, (LPCSTR command, UINT show), (command, show))          \
    X(sleep, Sleep, void, (DWORD ms), (ms))                                                           \
    /* The writes of the files setup leaves in place and of its journal, */                          \
    /* and their flushes to the disk: what a power cut would lose is what */                         \
    /* was written and not flushed since, which a stand-in can model. */                             \
    X(writeFile, WriteFile, BOOL, (HANDLE h, LPCVOID d, DWORD n, LPDWORD done, LPOVERLAPPED o), (h, d, n, done, o)) \
    X(flushFileBuffers, FlushFileBuffers, BOOL, (HANDLE h), (h))

// The attributes and the number of names of what h opened, in those two
// fields of info (the others are left as they are on Vista and later, which
// tell them without asking the volume for its serial number: a round trip
// for each file, some half a millisecond under wine).
BOOL WINAPI FileAttributesAndLinks(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info);

// A function of kernel32 looked up by name, as F: null where this Windows
// lacks it (a program importing it would not start there at all).
template <typename F> F Kernel32Function(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != nullptr ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

// Starts a program and does not wait for it (WinExec would, until the
// program is idle or 30 s pass): TRUE when started.
BOOL WINAPI StartProgramNoWait(LPCSTR command, UINT show);

#ifdef MOFA_TEST_HOOKS
#define MOFA_SYSTEM_CALL(name, real, result, params, args) result(WINAPI* name) params;
#else
// The shipped program makes the calls directly: the table is the tests'.
#define MOFA_SYSTEM_CALL(name, real, result, params, args) \
    static result name params { return real args; }
#endif

struct SysApi {
    MOFA_SYSTEM_CALLS(MOFA_SYSTEM_CALL)
    // Looked up at run time: a path's long names, and (Vista and later: null
    // before) the final path of a file opened and what a handle opened.
    DWORD(WINAPI* getLongPathNameW)(LPCWSTR, LPWSTR, DWORD);
    DWORD(WINAPI* getFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
    BOOL(WINAPI* getFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
#ifdef MOFA_TEST_HOOKS
    // Test builds only. The operations that change a file or the registry,
    // counted; a test may make the failAt-th of a run fail (0: none fails).
    unsigned long operations;
    unsigned long failAt;
    // The moments a kill could fall between: each operation above and each
    // record the journal writes. A test may end the run at the crashAt-th
    // (0: never) as a kill would: from then on nothing on the disk or in the
    // registry changes (abandoned), nothing is undone or cleaned up.
    unsigned long moments;
    unsigned long crashAt;
    int abandoned;
    // The program a run copies as its sign-in program (null: the running
    // one). Left as it is by ResetSysApi.
    const char* programPath;
    // The tests' stand-ins of a kill and of a failing change, which keep the
    // counts above (tests/win/support; null in a build without it): moment
    // counts one moment, 1 when the run has been ended; refuse counts one
    // operation, 1 when it must not be made (its last error set). Left as
    // they are by ResetSysApi.
    int (*moment)();
    int (*refuse)(const char* what);
#endif
};
#undef MOFA_SYSTEM_CALL

extern SysApi g_sys;

// The real functions, for tests that restore the seam; the count restarts.
void ResetSysApi();

// 1 once a test has ended the run as a kill would; Abandoned counts one
// moment a kill could fall on first; RefusedForTest: 1 when the change is
// one a test makes fail or a kill has ended the run. The path of the running
// program (as GetModuleFileNameA gives it, or the one a test stands in).
// The shipped program: no test ends a run or refuses a change.
#ifdef MOFA_TEST_HOOKS
inline int RunAbandoned() { return g_sys.abandoned; }
inline int Abandoned() { return g_sys.moment != nullptr && g_sys.moment(); }
inline int RefusedForTest(const char* what) { return g_sys.refuse != nullptr && g_sys.refuse(what); }
DWORD ThisProgramPath(char* out, DWORD cap);
#else
inline int RunAbandoned() { return 0; }
inline int Abandoned() { return 0; }
inline int RefusedForTest(const char*) { return 0; }
inline DWORD ThisProgramPath(char* out, DWORD cap) { return GetModuleFileNameA(nullptr, out, cap); }
#endif
