// A stand-in of the system's input.dll for the end-to-end tests (wine has
// none), placed in the prefix's system directories: its InstallLayoutOrTip
// adds a "<language>:<layout>" to the user's list of input methods, or takes
// it out (ILOT_UNINSTALL, 1), where Windows 8 and later keep that list
// (HKCU\Control Panel\International\User Profile, a value per input method
// under its language), and notes each call in C:\windows\temp\inputdll.log:
//   InstallLayoutOrTip 0804:E0200804 0x0 64-bit -> 1
// With MOFA_INPUTDLL_ANSWER=0 in the environment it changes nothing and
// answers FALSE; with MOFA_INPUTDLL_PAUSE_MS=N it first waits N ms (a moment
// after the install's commit for a test to end it at). Built for both
// bitnesses (inputdll.dll, inputdll32.dll).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

extern "C" __declspec(dllexport) BOOL WINAPI InstallLayoutOrTip(LPCWSTR text, DWORD flags) {
    char refuse[4], pause[12];
    if (GetEnvironmentVariableA("MOFA_INPUTDLL_PAUSE_MS", pause, sizeof pause) > 0) Sleep(std::strtoul(pause, nullptr, 10));
    BOOL answer = !(GetEnvironmentVariableA("MOFA_INPUTDLL_ANSWER", refuse, sizeof refuse) == 1 && refuse[0] == '0');
    HKEY list = nullptr;
    if (answer && RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International\\User Profile\\zh-Hans-CN", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &list, nullptr) == ERROR_SUCCESS) {
        DWORD order = 1;
        if (flags & 1)
            RegDeleteValueW(list, text);
        else
            RegSetValueExW(list, text, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&order), sizeof order);
        RegCloseKey(list);
    }
    if (FILE* log = std::fopen("C:\\windows\\temp\\inputdll.log", "a")) {
        std::fprintf(log, "InstallLayoutOrTip %ls 0x%lx %d-bit -> %d\n", text, static_cast<unsigned long>(flags),
                     static_cast<int>(sizeof(void*) * 8), answer);
        std::fclose(log);
    }
    return answer;
}
