#include "base/registry.h"

#include <cstring>

#include "base/journal.h"
#include "base/log.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
// The keys open now, for the log and the journal: a handle carries no name.
// Each is known by its hive (root) and its path below it.
struct KeyName {
    HKEY key;
    HKEY root;
    char path[320];
};
KeyName g_names[48];

const char* HiveName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKLM";
    if (root == HKEY_CURRENT_USER) return "HKCU";
    if (root == HKEY_USERS) return "HKU";
    if (root == HKEY_CLASSES_ROOT) return "HKCR";
    return "?";
}

const KeyName* Find(HKEY key) {
    for (const KeyName& n : g_names)
        if (n.key == key && key != nullptr) return &n;
    return nullptr;
}

// The hive and path of key (a hive itself has an empty path).
HKEY RootOf(HKEY key, const char** path) {
    const KeyName* n = Find(key);
    *path = n != nullptr ? n->path : "";
    return n != nullptr ? n->root : key;
}

// "HKLM\Software\..." of key, for the log.
const char* NameOf(HKEY key) {
    static char text[400];
    const char* path = "";
    HKEY root = RootOf(key, &path);
    if (path[0] == '\0') return HiveName(root);
    StrFormat(text, sizeof text, "%s\\%s", HiveName(root), path);
    return text;
}

// root\path of the sub-key sub of parent, into out.
HKEY SubKeyPath(HKEY parent, const char* sub, char* out, size_t cap) {
    const char* path = "";
    HKEY root = RootOf(parent, &path);
    if (path[0] == '\0')
        StrCopyCut(out, cap, sub);
    else if (!StrFormat(out, cap, "%s\\%s", path, sub))
        out[0] = '\0';
    return root;
}

HKEY Named(HKEY key, HKEY parent, const char* path) {
    if (key == nullptr) return nullptr;
    for (KeyName& n : g_names) {
        if (n.key != nullptr) continue;
        n.key = key;
        n.root = SubKeyPath(parent, path, n.path, sizeof n.path);
        break;
    }
    return key;
}

void Narrow(const wchar_t* wide, char* out, int cap) {
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, out, cap, nullptr, nullptr) <= 0) out[0] = '\0';
}

HKEY NamedW(HKEY key, HKEY parent, const wchar_t* path) {
    char narrow[256];
    Narrow(path, narrow, sizeof narrow);
    return Named(key, parent, narrow);
}

// Before a value of key changes: counted (under the key's name), and its
// present state recorded.
int BeforeValueChange(HKEY key, const char* name) {
    if (ChangeRefused(NameOf(key))) return 0;
    const char* path = "";
    HKEY root = RootOf(key, &path);
    return KeepRegistryValue(root, path, name);
}

int LoggedValue(LONG rc, HKEY key, const char* name, const char* type, DWORD bytes) {
    if (rc == ERROR_SUCCESS)
        Log("registry value written: %s\\%s (%s, %lu bytes)", NameOf(key), name != nullptr ? name : "(default)", type,
            bytes);
    else
        Log("registry value not written (error %ld): %s\\%s", rc, NameOf(key), name != nullptr ? name : "(default)");
    return rc == ERROR_SUCCESS ? 1 : 0;
}
}  // namespace

namespace {
// Before parent\path is created: recorded when it does not exist yet, so that
// an undo removes it. 0 when it could not be recorded (it is not created).
__attribute__((noinline, noclone)) int BeforeKeyCreate(HKEY parent, const char* path) {
    HKEY existing = nullptr;
    if (RegOpenKeyExA(parent, path, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        return 1;
    }
    char full[400];
    HKEY root = SubKeyPath(parent, path, full, sizeof full);
    return NoteCreatedKey(root, full);
}

void NoteNewKey(HKEY key) { Log("registry key created: %s", NameOf(key)); }

HKEY OpenKeyWith(HKEY parent, const char* path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return Named(key, parent, path);
}
}  // namespace

HKEY OpenKeyRead(HKEY parent, const char* path) { return OpenKeyWith(parent, path, KEY_READ); }
HKEY OpenKeyFull(HKEY parent, const char* path) { return OpenKeyWith(parent, path, KEY_ALL_ACCESS); }

HKEY CreateKeyFull(HKEY parent, const char* path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (ChangeRefused(NameOf(parent)) || !BeforeKeyCreate(parent, path) || RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                               nullptr, &key, &disposition) != ERROR_SUCCESS)
        return nullptr;
    Named(key, parent, path);
    if (disposition == REG_CREATED_NEW_KEY) NoteNewKey(key);
    return key;
}

HKEY OpenKeyReadW(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return NamedW(key, parent, path);
}

HKEY CreateKeyFullW(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    char narrow[256];
    Narrow(path, narrow, sizeof narrow);
    if (ChangeRefused(NameOf(parent)) || !BeforeKeyCreate(parent, narrow) ||
        RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    NamedW(key, parent, path);
    if (disposition == REG_CREATED_NEW_KEY) NoteNewKey(key);
    return key;
}

void CloseKey(HKEY key) {
    if (key == nullptr) return;
    for (KeyName& n : g_names)
        if (n.key == key) n.key = nullptr;
    RegCloseKey(key);
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

int DeleteRegKey(HKEY parent, const char* name) {
    char path[400];
    HKEY root = SubKeyPath(parent, name, path, sizeof path);
    if (ChangeRefused(path)) return 0;
    if (!KeepDeletedKey(root, path)) return 0;
    LONG rc = RegDeleteKeyA(parent, name);
    if (rc == ERROR_SUCCESS) Log("registry key deleted: %s\\%s", NameOf(parent), name);
    return rc == ERROR_SUCCESS ? 1 : 0;
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
    if (!BeforeValueChange(key, name)) return LoggedValue(ERROR_ACCESS_DENIED, key, name, "REG_SZ", bytes);
    LONG rc = g_sys.regSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    return LoggedValue(rc, key, name, "REG_SZ", bytes);
}

int WriteRegTextW(HKEY key, const wchar_t* name, const char16_t* text) {
    DWORD bytes = static_cast<DWORD>(U16Len(text) * sizeof(char16_t));
    char narrow[128];
    Narrow(name, narrow, sizeof narrow);
    if (!BeforeValueChange(key, narrow)) return LoggedValue(ERROR_ACCESS_DENIED, key, narrow, "REG_SZ", bytes);
    LONG rc = g_sys.regSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    return LoggedValue(rc, key, narrow, "REG_SZ", bytes);
}

int WriteRegDword(HKEY key, const char* name, DWORD value) {
    if (!BeforeValueChange(key, name)) return LoggedValue(ERROR_ACCESS_DENIED, key, name, "REG_DWORD", sizeof value);
    LONG rc = g_sys.regSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    return LoggedValue(rc, key, name, "REG_DWORD", sizeof value);
}

int DeleteRegValue(HKEY key, const char* name) {
    // Nothing to delete (the usual case) is no change to count or record.
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return 1;
    if (!BeforeValueChange(key, name)) return 0;
    LONG rc = RegDeleteValueA(key, name);
    if (rc == ERROR_SUCCESS) Log("registry value deleted: %s\\%s", NameOf(key), name);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 1 : 0;
}
