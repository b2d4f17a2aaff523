// Helpers for the Windows-side tests: the message recorder, scratch folders
// and a clean SetupContext per test.
#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/ui.h"

struct ShownMessage {
    bool wide;
    std::u16string text;     // wide messages
    std::u16string caption;
    std::string textA;       // ANSI messages (GBK bytes)
    std::string captionA;
    unsigned buttons;
    bool nativeAccess;  // shown while the system's redirection may be off (InNativeSystemDirAccess)
};

// Takes the messages of the UI table for its lifetime: records every message and answers
// from `answers` (then OK, or No for questions).
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    std::vector<ShownMessage> shown;
    std::deque<int> answers;
    static MessageRecorder* current;

private:
    SetupUi saved_;
};

// A fresh empty folder C:\mofatest\<name>\ (with the trailing backslash).
std::string ScratchDir(const std::string& name);
// Writes a whole file; true on success.
bool WriteBytes(const std::string& path, const std::string& bytes);
// The path of a file built beside this test program (inputdll.dll, the
// stand-in of the system's input.dll: tests/win/inputdll.cpp).
std::string BesideTestProgram(const char* name);
// Reads a whole file; empty when missing.
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// Copies a real DLL to path and maps it as an image, the way Windows holds a
// loaded input-method module: Windows (and wine64) then refuse to delete the
// file but allow it to be renamed. (A plain handle without delete sharing
// would block the rename too, and loading the same DLL twice under wine
// returns the first module without mapping the second file.) Close the
// returned handle to let go; null on failure.
HANDLE HoldAsLoadedModule(const std::string& path);

// Stands in the Windows directory, the system directory (its "system32") and
// the Windows major version of g_sys; ResetSysApi() restores the real ones.
// Creates both folders. 64-bit Windows needs a "syswow64" folder too.
struct StandInWindows {
    std::string windows;
    std::string system;
    DWORD major;
};
extern StandInWindows g_standIn;
void UseStandInWindows(const std::string& windowsDir, DWORD major = 6);

// Runs this test program again in a fresh process with the given gtest
// filter (disabled tests included) and returns what it printed; *exitCode is
// its exit code. For cases that need a process of their own, e.g. one whose
// windows live on wine's null display driver.
std::string RunTestsInFreshProcess(const std::string& filter, DWORD* exitCode);

// A private desktop whose windows live on wine's null display driver: without
// X, wine creates no windows at all unless the desktop uses the null driver,
// which it reads from the user's "Graphics" setting when it makes its first
// window. The constructor sets "null" (keeping the earlier value) and makes or
// opens the desktop `name`; the value goes back after the first Run, or when
// this object goes. On Windows the setting means nothing and the desktop only
// keeps other windows apart.
class NullDriverDesktop {
public:
    explicit NullDriverDesktop(const char* name);
    ~NullDriverDesktop();
    NullDriverDesktop(const NullDriverDesktop&) = delete;
    NullDriverDesktop& operator=(const NullDriverDesktop&) = delete;
    HDESK handle() const { return desktop_; }
    // Runs body on a fresh thread attached to the desktop (a thread that
    // already has windows cannot switch desktops), waits for it and puts the
    // driver setting back. False when the thread could not run on the desktop.
    bool Run(const std::function<void()>& body);
    void RestoreDriverSetting();

private:
    std::string name_;
    HDESK desktop_ = nullptr;
    bool changed_ = false;
    bool hadValue_ = false;
    char saved_[64] = {};
};

// A power cut, modelled through the system-call seam for its lifetime: the
// writes setup makes through g_sys.writeFile are remembered until the file
// is flushed (g_sys.flushFileBuffers); Cut() then loses every write not
// flushed, as a power cut loses what the disk had not taken: the range reads
// back its earlier bytes where the file had them, zeros past them. Names
// (files made, renamed, deleted) stay as they are, as NTFS's metadata log
// keeps them; a file renamed since its write is found again by its identity
// under `root`.
class PowerCutModel {
public:
    explicit PowerCutModel(const std::string& root);
    ~PowerCutModel();
    PowerCutModel(const PowerCutModel&) = delete;
    PowerCutModel& operator=(const PowerCutModel&) = delete;
    void Forget() { pending_.clear(); }
    // Loses the writes not flushed; returns how many ranges it set back.
    int Cut();
    size_t Pending() const { return pending_.size(); }

    struct Write {
        DWORD volume, indexHigh, indexLow;
        std::wstring path;    // where it was written
        LONGLONG offset;
        DWORD length;
        std::string earlier;  // the bytes the range held, as far as the file had them
    };

private:
    static BOOL WINAPI WriteThrough(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static BOOL WINAPI FlushThrough(HANDLE);
    std::wstring Find(const Write& w, const std::wstring& folder) const;
    std::wstring root_;
    std::vector<Write> pending_;
    static PowerCutModel* current_;
};
