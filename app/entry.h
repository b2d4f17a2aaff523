// Program entry, run modes and the wizard window.
#pragma once
#include <windows.h>

// The whole run: returns the process exit code.
int SetupMain(HINSTANCE instance, HINSTANCE previous, const char* commandLine, int showCommand);

// The command line after the program's own name, in the code page setup
// reads, each character the code page cannot hold as kNotInCodePage.
const char* CommandLineArguments();

// Records the earlier installation's directory, then true when setup may
// write into the Windows directory (tested on Windows 6 and later only;
// earlier ones always pass). Writes nothing that stays.
bool CheckAdminRights();

// Only DLLs of the system directory are loaded by name from now on, so that
// DLLs planted beside a downloaded setup program are never picked up.
void RestrictDllSearch();

ATOM RegisterSetupWindowClass(HINSTANCE instance);
int CreateSetupWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Waits for the install the wizard runs on a thread of its own, if one
// runs: the program ends only once its plan has.
void WaitForInstall();

// The payload resource and the 2 MB work buffer, which the window owns and a
// silent run sets up itself. LoadPayloadAndWorkBuffer returns 0 when the work
// buffer cannot be allocated (a missing payload only leaves payloadData null).
int LoadPayloadAndWorkBuffer();
void ReleasePayloadAndWorkBuffer();

// Handles the thread's messages, the wizard's keys first, until *done (with
// done null, until the quit): -1. At the quit, its exit code, and the quit
// posted again for the loop outside when done is not null.
int HandleMessages(const bool* done);

// The wizard's keys, taken before they reach a control: Enter acts as the OK
// button, Esc as the exit button. 1 when msg was such a key.
int TranslateWizardKey(const MSG* msg);

// 1 when (x, y) lies inside rect, edges included.
int PointInPageRect(const struct PageRect& rect, unsigned x, unsigned y);
