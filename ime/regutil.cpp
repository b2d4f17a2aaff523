#include "ime/regutil.h"

#include <cstring>

#include "app/context.h"
#include "install/sysapi.h"

HKEY OpenKeyRead(HKEY parent, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

HKEY OpenKeyFull(HKEY parent, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

HKEY CreateKeyFull(HKEY parent, const char* path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void CloseKey(HKEY key) {
    if (key != nullptr) RegCloseKey(key);
}

int ReadRegText(HKEY key, const char* name, char* buf, DWORD cap) {
    // Read into a scratch buffer first: a refused read may leave partial
    // data behind, and the caller's slot must keep what it held.
    char scratch[256];
    if (cap == 0 || cap > sizeof scratch) return 0;
    DWORD size = cap;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(scratch), &size) != ERROR_SUCCESS)
        return 0;
    if (size > cap) return 0;
    if (size == 0 || scratch[size - 1] != '\0') {
        // Stored without a NUL: it fits only if there is room to add one.
        if (size >= cap) return 0;
        scratch[size] = '\0';
    }
    std::memcpy(buf, scratch, std::strlen(scratch) + 1);
    return 1;
}

int WriteRegText(HKEY key, const char* name, const char* text) {
    DWORD bytes = static_cast<DWORD>(std::strlen(text));
    LONG rc = g_sys.regSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

void RefreshWindowsVersionWord() { g_ctx.windowsVersionWord = g_sys.getVersion(); }

bool IsWin9xFamily() { return (g_ctx.windowsVersionWord & 0x80000000u) != 0; }
