// Registration of the input method with Windows: the input-method manager's
// installer call, the keyboard-layout key written by hand when that call
// fails, the user's preload entry and the uninstall entry.
#pragma once

// Hands the installed module to the input-method manager. 1 when Windows
// accepted it (imeLayoutHandle then holds the new layout).
int InstallImeModule();

enum LayoutRegistration : int {
    kLayoutFailed = 0,        // the cause is recorded (base/failure.h)
    kLayoutRegistered,        // key reused or created with the expected language suffix
    kLayoutSuffixForced,      // registered; the suffix had to be forced
};

// Finds or creates the product's key under the system keyboard layouts,
// writes its values and adds it to the current user's preload list.
LayoutRegistration RegisterKeyboardLayout();

// Adds the layout id (8 hexadecimal digits) to the current user's preload
// list. 1 when added; 0, with the cause recorded, when the user's key is
// missing.
int AddToPreloadList(const char* layoutId);

// The uninstall entry "mofaxwb" (display name and the uninstaller in the
// system directory). Silent on failure.
void WriteUninstallEntry();
// The entry's EstimatedSize: the KB of the files in the install folder, to
// be measured once it holds only what stays there. 1/0.
int WriteEstimatedSize();
