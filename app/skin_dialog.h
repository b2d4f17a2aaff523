// The dialog in which the user chooses the status-window mode and the skin
// after the install ("PYKEY", or "PYKEYB" for code page 950).
#pragma once
#include <windows.h>

// Shows the dialog, owned by the wizard window, and leaves the choice in
// statusWindowMode and skinChoice. A dialog that cannot be shown leaves them
// as they are.
void ChooseSkinByDialog();

// The procedure of both dialogs: each group of radio buttons kept exclusive
// here; only the OK button (105) leaves.
INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Control ids of the dialog.
enum : int {
    kSkinOkButton = 105,
    kModeDoubleLine = 101,
    kModeSingleLine = 102,
    kModeDual = 106,
    kModeWindowsStyle = 107,
    kSkinCool = 110,
    kSkinPink = 111,
    kSkinAngel = 112,
};
