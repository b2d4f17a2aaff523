#pragma once

// Hands the installed module to the input-method manager. 1 when Windows
// accepted it.
int InstallImeModule();

// The registry registration used when the input-method manager refused the
// module.
int RegisterKeyboardLayout();

// The uninstall entry "mofaxwb".
void WriteUninstallEntry();
