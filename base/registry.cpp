#include "base/registry.h"

#include <cstring>

#include "base/strbuf.h"
#include "base/sysapi.h"

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

HKEY OpenKeyReadW(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

HKEY CreateKeyFullW(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void CloseKey(HKEY key) {
    if (key != nullptr) RegCloseKey(key);
}

HKEY OpenWritableSubKey(HKEY hive, const char* parent, const char* sub, HKEY* parentKey) {
    *parentKey = OpenKeyRead(hive, parent);
    if (*parentKey == nullptr) return nullptr;
    HKEY key = CreateKeyFull(*parentKey, sub);
    if (key == nullptr) {
        CloseKey(*parentKey);
        *parentKey = nullptr;
    }
    return key;
}

DWORD CountSubKeys(HKEY key) {
    DWORD subKeys = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return 0;
    return subKeys;
}

int SubKeyName(HKEY key, DWORD index, char* name, DWORD cap) {
    char scratch[256] = {0};
    DWORD length = cap < sizeof scratch ? cap : sizeof scratch;
    LONG rc = RegEnumKeyExA(key, index, scratch, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return 0;
    // A name that did not fit comes back cut and maybe unterminated.
    scratch[sizeof scratch - 1] = '\0';
    StrCopyCut(name, cap, scratch);
    return 1;
}

int DeleteRegKey(HKEY parent, const char* name) { return RegDeleteKeyA(parent, name) == ERROR_SUCCESS ? 1 : 0; }

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

int WriteRegTextW(HKEY key, const wchar_t* name, const char16_t* text) {
    DWORD bytes = static_cast<DWORD>(U16Len(text) * sizeof(char16_t));
    LONG rc = g_sys.regSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegValue(HKEY key, const char* name) {
    LONG rc = RegDeleteValueA(key, name);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 1 : 0;
}
