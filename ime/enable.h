// The input method enabled for the people who type with it. From Vista on a
// user's list of input methods (the language bar, Win+Space, Settings) is
// kept by the system's input.dll, whose InstallLayoutOrTip adds a layout to
// it; Windows 2000 and XP read the preload list instead, which the
// registration writes. Setup enables it for the user who installs, unless
// that is a service account (a deployment run as LocalSystem), and leaves a
// sign-in entry ("Active Setup") that enables it for every other account the
// first time that account signs in after the install.
#pragma once
#include <cstdint>

// What InstallLayoutOrTip answered.
enum EnableAnswer : int32_t {
    kEnableNotAsked = 0,  // not called (a service account, or no layout)
    kEnableTaken,         // TRUE
    kEnableRefused,       // FALSE: the user adds it by hand
    kEnableNoExport,      // Windows 2000/XP: no such function; the preload list serves
};

// The flags of InstallLayoutOrTip setup uses. (Never ILOT_CLEANINSTALL,
// 0x40, which takes every other input method out of the user's list.)
enum : uint32_t { kIlotEnable = 0, kIlotUninstall = 1 };

// Calls input.dll's InstallLayoutOrTip, loaded from the system directory by
// its full path, with the text of layoutId and flags; the call, its text,
// flags and answer go to the log.
EnableAnswer CallInstallLayoutOrTip(uint32_t layoutId, uint32_t flags);

// Part of the install (the journal records it): the program the sign-in
// entry runs, a copy of this setup program in the system directory where
// only administrators write, and the entry itself under HKLM, naming the
// layout the registration made. 1/0 (the cause logged).
int WriteSignInEntry();

// After the commit: the layout enabled for the user who installs (not for a
// service account). Its answer is kept in g_ctx.enableAnswer.
void EnableForInstallingUser();

// The sign-in mode (the switch the entry's command gives): enables the
// layout named by layoutText for the user signing in, or, when the product
// is no longer installed (no layout key of it), takes it out of that user's
// list. No window. The exit code.
int EnableAtSignIn(const char* layoutText);
