// Registration of the input method with Windows: the input-method manager's
// installer call, the keyboard-layout key written by hand when that call
// fails, the user's preload entry and the uninstall entry.
#pragma once

// Hands the installed module to the input-method manager. 1 when Windows
// accepted it (imeLayoutHandle then holds the new layout).
int InstallImeModule();

// Finds or creates the product's key under the system keyboard layouts,
// writes its values and adds it to the current user's preload list.
// 2: key reused or created with the expected language suffix; 0: the suffix
// had to be forced; 1: after a failure message.
int RegisterKeyboardLayout();

// The uninstall entry "mofaxwb" (display name and the uninstaller in the
// system directory). Silent on failure.
void WriteUninstallEntry();
