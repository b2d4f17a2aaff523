#include "app/skin_dialog.h"

#include "base/context.h"
#include "base/machine.h"

namespace {
const int kModeButtons[] = {kModeDoubleLine, kModeSingleLine, kModeDual, kModeWindowsStyle};
const int kSkinButtons[] = {kSkinCool, kSkinPink, kSkinAngel};

// The buttons of each group that the dialog shows checked.
// Set as the dialog opens.
int g_modeButton;
int g_skinButton;

// The radio buttons carry no group marks, so Windows treats all seven as
// one group: every change sets all seven again.
void ShowChecks(HWND dialog) {
    for (int id : kModeButtons) CheckDlgButton(dialog, id, id == g_modeButton ? BST_CHECKED : BST_UNCHECKED);
    for (int id : kSkinButtons) CheckDlgButton(dialog, id, id == g_skinButton ? BST_CHECKED : BST_UNCHECKED);
}

template <size_t N> int FirstChecked(HWND dialog, const int (&ids)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (IsDlgButtonChecked(dialog, ids[i]) == BST_CHECKED) return static_cast<int>(i) + 1;
    return 1;
}

template <size_t N> bool InGroup(int id, const int (&ids)[N]) {
    for (int member : ids)
        if (member == id) return true;
    return false;
}
}  // namespace

void ChooseSkinByDialog() {
    HINSTANCE module = g_ctx.instanceHandle != nullptr ? static_cast<HINSTANCE>(g_ctx.instanceHandle)
                                                       : GetModuleHandleA(nullptr);
    // The wide dialog: its texts read the same whatever the system's code
    // page. Windows 95, 98 and Me have only the ANSI one.
    HWND owner = static_cast<HWND>(g_ctx.mainWindow);
    bool traditional = g_ctx.oemCodePage == 950;
    if (IsWin9xFamily())
        DialogBoxParamA(module, traditional ? "PYKEYB" : "PYKEY", owner, SkinDialogProc, 0);
    else
        DialogBoxParamW(module, traditional ? L"PYKEYB" : L"PYKEY", owner, SkinDialogProc, 0);
}

INT_PTR CALLBACK SkinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        RECT main;
        if (g_ctx.mainWindow != nullptr && GetWindowRect(static_cast<HWND>(g_ctx.mainWindow), &main))
            SetWindowPos(dialog, nullptr, main.left, main.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        g_modeButton = kModeDoubleLine;
        g_skinButton = kSkinCool;
        ShowChecks(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam);
    if (InGroup(id, kModeButtons)) {
        g_modeButton = id;
        ShowChecks(dialog);
    } else if (InGroup(id, kSkinButtons)) {
        g_skinButton = id;
        ShowChecks(dialog);
    } else if (id == kSkinOkButton) {
        g_ctx.statusWindowMode = static_cast<uint8_t>(FirstChecked(dialog, kModeButtons));
        g_ctx.skinChoice = static_cast<uint8_t>(FirstChecked(dialog, kSkinButtons));
        EndDialog(dialog, kSkinOkButton);
    }
    // Cancel, Esc and the close box do nothing: the choice is always made.
    return TRUE;
}
