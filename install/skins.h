// The look of the input method: the status-window mode and the skin, chosen
// in a small dialog after the install, and the chosen skin's files.
#pragma once
#include <windows.h>

// Verifies the extracted payload, lets the user choose the status-window mode
// and the skin, and extracts the chosen skin.
void InstallSkins();

// The procedure of the dialogs "PYKEY" and "PYKEYB": each group of radio
// buttons kept exclusive here; only the OK button (105) leaves.
INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// 1 when "mfbmp8.mfh" and "mfbmpsx1.bmp" to "mfbmpsx7.bmp" can all be opened
// in installDir.
int SkinFilesPresent();

// Reads an archive file (at most 131,072 bytes) into the work buffer and
// extracts it into installDir; 0 when it cannot be read or an entry failed.
int ExtractArchiveFile(const char* path);

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
