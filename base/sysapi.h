// Windows calls that decide where setup installs and which Windows it runs
// on, behind function pointers so that tests can stand in a Program Files
// folder, a drive layout, a Windows version or a Windows directory.
#pragma once
#include <windows.h>

struct SysApi {
    BOOL(WINAPI* getSpecialFolderPathA)(HWND, LPSTR, int, BOOL);
    UINT(WINAPI* getDriveTypeA)(LPCSTR);
    BOOL(WINAPI* getVersionExA)(LPOSVERSIONINFOA);
    DWORD(WINAPI* getVersion)(void);
    UINT(WINAPI* getWindowsDirectoryA)(LPSTR, UINT);
    UINT(WINAPI* getSystemDirectoryA)(LPSTR, UINT);
    UINT(WINAPI* getSystemDirectoryW)(LPWSTR, UINT);
    // The input-method manager and the active input method.
    HKL(WINAPI* immInstallIMEW)(LPCWSTR, LPCWSTR);
    HKL(WINAPI* getKeyboardLayout)(DWORD);
    UINT(WINAPI* immGetDescriptionA)(HKL, LPSTR, UINT);
    int(WINAPI* getKeyboardLayoutList)(int, HKL*);
    HKL(WINAPI* activateKeyboardLayout)(HKL, UINT);
    // Registry value writes: Windows quietly stores a NUL the caller left out
    // of the byte count, so only a stand-in sees the count itself.
    LONG(WINAPI* regSetValueExA)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
    LONG(WINAPI* regSetValueExW)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
    // Attributes of the install directory: wine keeps no read-only or
    // archive bit on a directory, so only a stand-in shows them.
    DWORD(WINAPI* getFileAttributesA)(LPCSTR);
    // What a file opened in a folder others can write is: its attributes and
    // number of names, and (Vista and later, looked up at run time: null
    // before) the final path of what opened. Wine reports no Unix symbolic
    // link as a reparse point, so only a stand-in shows one.
    BOOL(WINAPI* getFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    DWORD(WINAPI* getFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
    // Programs setup starts (icacls, the 64-bit companion program): the
    // command line and the show command; TRUE when started. Setup does
    // not wait for them (WinExec would, until the program is idle or 30 s
    // pass). And the pauses of the deployment.
    BOOL(WINAPI* startProgram)(LPCSTR, UINT);
    void(WINAPI* sleep)(DWORD);
    // The writes of the files setup leaves in place and of its journal, and
    // their flushes to the disk: what a power cut would lose is what was
    // written and not flushed since, which a stand-in can model.
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* flushFileBuffers)(HANDLE);
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
#endif
};

extern SysApi g_sys;

// The real functions, for tests that restore the seam; the count restarts.
void ResetSysApi();

// Before each operation that changes a file or the registry: 1 when it must
// not be made (its last error set): the journal has no room to record it,
// or, in a test build, it is the one a test makes fail ("access denied").
int InjectedFault(const char* what);

#ifdef MOFA_TEST_HOOKS
// Counts one moment (see crashAt): 1 when the run has been abandoned.
int Abandoned();
// 1 once a test has ended the run as a kill would.
inline int RunAbandoned() { return g_sys.abandoned; }
#else
// The shipped program: no test ends a run.
inline int Abandoned() { return 0; }
inline int RunAbandoned() { return 0; }
#endif
