#include "base/journal.h"

#include <aclapi.h>

#include <cstdlib>
#include <cstring>

#include "base/fileops.h"
#include "base/log.h"
#include "base/strbuf.h"

namespace {
enum Kind {
    kKeptFile,       // path's earlier bytes are at other
    kCreatedFile,    // path did not exist
    kCreatedFolder,  // path did not exist
    kRenamed,        // path was renamed to other
    kDeleteLater,    // path goes once the run has succeeded
    kValue,          // values[0]: the earlier state of a value of root\path
    kCreatedKey,     // root\path did not exist
    kDeletedKey,     // values: root\path's values before it was deleted
    kTree,           // values: root\path and its sub-keys as they were
    kSecurity,       // security: path's access list (and integrity label) as they were
    kStranded,       // path's earlier bytes are at other, and could not be put back: never deleted
    kDropped,        // nothing to do
};

// A registry value as it was; a marker entry names a sub-key that existed.
struct SavedValue {
    char sub[200];  // sub-key of the entry's key ("" for the key itself)
    wchar_t name[256];
    bool marker;
    bool present;
    DWORD type;
    DWORD size;
    unsigned char* data;
};

struct Entry {
    Kind kind;
    char path[300];
    char other[300];
    HKEY root;
    SavedValue* values;
    int valueCount;
    PSECURITY_DESCRIPTOR security;  // kSecurity: self-relative, LocalAlloc'd
    SECURITY_INFORMATION securityParts;
};

Entry* g_entries = nullptr;
int g_count = 0, g_capacity = 0;
bool g_open = false;
char g_ignored[300];

bool Reserve(int more);

Entry* Add(Kind kind, const char* path, const char* other) {
    if (!Reserve(1)) return nullptr;
    Entry* e = &g_entries[g_count++];
    std::memset(e, 0, sizeof *e);
    e->kind = kind;
    StrCopyCut(e->path, path);
    StrCopyCut(e->other, other != nullptr ? other : "");
    return e;
}

// Room for the records of one more change (what it replaces and what it
// creates), so that a change is never made that could not be recorded.
bool Reserve(int more) {
    if (g_count + more <= g_capacity) return true;
    int capacity = g_capacity == 0 ? 64 : g_capacity * 2;
    while (capacity < g_count + more) capacity *= 2;
    Entry* grown = static_cast<Entry*>(std::realloc(g_entries, static_cast<size_t>(capacity) * sizeof(Entry)));
    if (grown == nullptr) return false;
    g_entries = grown;
    g_capacity = capacity;
    return true;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool KeptByUs(const char* name) {
    for (int i = 0; i < g_count; ++i)
        if (g_entries[i].kind == kKeptFile && _stricmp(g_entries[i].other, name) == 0) return true;
    return false;
}

// The kept name of path: "<path>.mfold", or with a number when that name
// holds an earlier keep of this run, or a leftover that cannot go.
bool KeptName(const char* path, char* out, size_t cap) {
    for (int i = 0; i < 100; ++i) {
        if (!StrFormat(out, cap, i == 0 ? "%s.mfold" : "%s.mfold%d", path, i)) return false;
        if (KeptByUs(out)) continue;
        SetArchiveAttribute(out);
        if (!Exists(out) || DeleteFileA(out)) return true;
    }
    return false;
}

// Deletes path, or has Windows delete it at the next restart while a program
// holds it. True when it is gone now.
bool DeleteNowOrAtRestart(const char* path) {
    SetArchiveAttribute(path);
    if (!Exists(path) || DeleteFileA(path)) return true;
    if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        Log("file deleted at the next restart: %s", path);
    else
        Log("file could not be deleted (error %lu): %s", GetLastError(), path);
    return false;
}

// Puts the file at from in path's place, replacing what is there. A file
// that Windows holds there is moved out of the way first; if even that
// fails, the move happens at the next restart.
bool PutInPlace(const char* from, const char* path) {
    SetArchiveAttribute(path);
    if (MoveFileExA(from, path, MOVEFILE_REPLACE_EXISTING)) return true;
    char held[320];
    if (StrFormat(held, sizeof held, "%s.mfheld", path) && MoveFileA(path, held) && MoveFileA(from, path)) {
        DeleteNowOrAtRestart(held);
        return true;
    }
    if (MoveFileExA(from, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Log("undo: %s goes back in place at the next restart", path);
        return true;
    }
    return false;
}

// ---- Registry states ----

int Wide(const char* text, wchar_t* out, int cap) {
    if (text == nullptr) text = "";
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, cap);
    if (n <= 0) out[0] = 0;
    return n > 0;
}

HKEY OpenRaw(HKEY root, const char* path, REGSAM access) {
    wchar_t wide[300];
    HKEY key = nullptr;
    if (!Wide(path, wide, 300) || RegOpenKeyExW(root, wide, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

HKEY CreateRaw(HKEY root, const char* path) {
    wchar_t wide[300];
    HKEY key = nullptr;
    if (!Wide(path, wide, 300) ||
        RegCreateKeyExW(root, wide, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool Append(Entry* e, const SavedValue& v) {
    SavedValue* grown =
        static_cast<SavedValue*>(std::realloc(e->values, static_cast<size_t>(e->valueCount + 1) * sizeof(SavedValue)));
    if (grown == nullptr) {
        std::free(v.data);
        return false;
    }
    e->values = grown;
    e->values[e->valueCount++] = v;
    return true;
}

// Reads one value of key into v (name set); v.present says whether it was
// there. False when its state could not be told (an error other than its
// absence, or no memory for its bytes).
bool ReadValue(HKEY key, SavedValue& v) {
    v.present = false;
    v.data = nullptr;
    DWORD size = 0;
    if (key == nullptr) return true;
    LONG rc = RegQueryValueExW(key, v.name, nullptr, &v.type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return true;
    if (rc != ERROR_SUCCESS) return false;
    v.data = static_cast<unsigned char*>(std::malloc(size + 2));
    if (v.data == nullptr) return false;
    v.size = size;
    v.present = RegQueryValueExW(key, v.name, nullptr, &v.type, v.data, &v.size) == ERROR_SUCCESS;
    return v.present;
}

// Every value of root\path\sub into e. False when some could not be kept:
// a key restored from part of its values would lose the rest.
bool SaveKey(Entry* e, HKEY root, const char* path, const char* sub) {
    char full[520];
    if (sub[0] == '\0')
        StrCopyCut(full, path);
    else if (!StrFormat(full, sizeof full, "%s\\%s", path, sub))
        return false;
    HKEY key = OpenRaw(root, full, KEY_READ);
    if (key == nullptr) return true;
    SavedValue marker = {};
    StrCopyCut(marker.sub, sub);
    marker.marker = true;
    bool whole = Append(e, marker);
    for (DWORD index = 0; whole; ++index) {
        SavedValue v = {};
        StrCopyCut(v.sub, sub);
        DWORD nameLength = 256;
        if (RegEnumValueW(key, index, v.name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        whole = ReadValue(key, v) && (!v.present || Append(e, v));
    }
    RegCloseKey(key);
    return whole;
}

bool SetValue(HKEY key, const SavedValue& v) {
    if (!v.present) {
        LONG rc = RegDeleteValueW(key, v.name);
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key, v.name, 0, v.type, v.data, v.size) == ERROR_SUCCESS;
}

bool Saved(const Entry& e, const char* sub, const wchar_t* name) {
    for (int i = 0; i < e.valueCount; ++i) {
        const SavedValue& v = e.values[i];
        if (_stricmp(v.sub, sub) != 0) continue;
        if (name == nullptr ? v.marker : (!v.marker && lstrcmpiW(v.name, name) == 0)) return true;
    }
    return false;
}

// Brings root\path\sub back to the values saved: what was added goes, what
// was changed or removed comes back.
bool RestoreKey(const Entry& e, HKEY root, const char* sub) {
    char full[520];
    if (sub[0] == '\0')
        StrCopyCut(full, e.path);
    else if (!StrFormat(full, sizeof full, "%s\\%s", e.path, sub))
        return false;
    HKEY key = CreateRaw(root, full);
    if (key == nullptr) return false;
    bool ok = true;
    wchar_t name[256];
    for (DWORD index = 0;;) {
        DWORD nameLength = 256;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (!Saved(e, sub, name) && RegDeleteValueW(key, name) == ERROR_SUCCESS) continue;
        ++index;
    }
    for (int i = 0; i < e.valueCount; ++i)
        if (!e.values[i].marker && _stricmp(e.values[i].sub, sub) == 0) ok = SetValue(key, e.values[i]) && ok;
    RegCloseKey(key);
    return ok;
}

// Deletes root\path\sub and whatever values and sub-keys it holds.
bool DeleteKeyTree(HKEY root, const char* path) {
    HKEY key = OpenRaw(root, path, KEY_ALL_ACCESS);
    if (key != nullptr) {
        wchar_t sub[256];
        for (;;) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, 0, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            char narrow[256], full[600];
            if (WideCharToMultiByte(CP_ACP, 0, sub, -1, narrow, sizeof narrow, nullptr, nullptr) <= 0 ||
                !StrFormat(full, sizeof full, "%s\\%s", path, narrow) || !DeleteKeyTree(root, full))
                break;
        }
        RegCloseKey(key);
    }
    wchar_t wide[300];
    if (!Wide(path, wide, 300)) return false;
    LONG rc = RegDeleteKeyW(root, wide);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool RestoreTree(const Entry& e) {
    bool ok = RestoreKey(e, e.root, "");
    // Sub-keys that were not there go; those that were come back whole.
    HKEY key = OpenRaw(e.root, e.path, KEY_READ);
    if (key != nullptr) {
        wchar_t sub[256];
        for (DWORD index = 0;;) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, index, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            char narrow[256], full[600];
            WideCharToMultiByte(CP_ACP, 0, sub, -1, narrow, sizeof narrow, nullptr, nullptr);
            if (!Saved(e, narrow, nullptr) && StrFormat(full, sizeof full, "%s\\%s", e.path, narrow) &&
                DeleteKeyTree(e.root, full)) {
                Log("undo: registry key removed: %s", full);
                continue;
            }
            ++index;
        }
        RegCloseKey(key);
    }
    for (int i = 0; i < e.valueCount; ++i)
        if (e.values[i].marker && e.values[i].sub[0] != '\0') ok = RestoreKey(e, e.root, e.values[i].sub) && ok;
    return ok;
}

// ---- Security: the access list and the integrity label of a folder ----

const SECURITY_INFORMATION kLabelSecurity = 0x00000010L;  // LABEL_SECURITY_INFORMATION, Vista and later

bool PutSecurityBack(const Entry& e) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr, sacl = nullptr;
    if (!GetSecurityDescriptorDacl(e.security, &present, &dacl, &defaulted)) return false;
    SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
    // The label goes back only where there was one to keep.
    if ((e.securityParts & kLabelSecurity) != 0 && GetSecurityDescriptorSacl(e.security, &present, &sacl, &defaulted) &&
        present && sacl != nullptr)
        parts |= kLabelSecurity;
    else
        sacl = nullptr;
    return SetNamedSecurityInfoA(const_cast<char*>(e.path), SE_FILE_OBJECT, parts, nullptr, nullptr, dacl, sacl) ==
           ERROR_SUCCESS;
}

// Undoes one entry; true when it came back.
bool Undo(const Entry& e) {
    switch (e.kind) {
        case kKeptFile:
        case kStranded:
            Log("undo: file put back: %s", e.path);
            return PutInPlace(e.other, e.path);
        case kCreatedFile:
            Log("undo: file removed: %s", e.path);
            return DeleteNowOrAtRestart(e.path);
        case kSecurity:
            Log("undo: access list%s put back: %s",
                (e.securityParts & kLabelSecurity) != 0 ? " and integrity label" : "", e.path);
            return PutSecurityBack(e);
        case kCreatedFolder:
            Log("undo: folder removed: %s", e.path);
            return RemoveDirectoryA(e.path) || !Exists(e.path);
        case kRenamed:
            Log("undo: file renamed back: %s -> %s", e.other, e.path);
            return PutInPlace(e.other, e.path);
        case kValue:
        case kDeletedKey: {
            HKEY key = CreateRaw(e.root, e.path);
            bool ok = key != nullptr;
            for (int i = 0; ok && i < e.valueCount; ++i) ok = SetValue(key, e.values[i]);
            if (key != nullptr) RegCloseKey(key);
            Log("undo: registry %s restored: %s", e.kind == kValue ? "value" : "key", e.path);
            return ok;
        }
        case kCreatedKey:
            Log("undo: registry key removed: %s", e.path);
            return DeleteKeyTree(e.root, e.path);
        case kTree:
            Log("undo: registry key restored with its sub-keys: %s", e.path);
            return RestoreTree(e);
        default:
            return true;
    }
}

void Close() {
    for (int i = 0; i < g_count; ++i) {
        for (int k = 0; k < g_entries[i].valueCount; ++k) std::free(g_entries[i].values[k].data);
        std::free(g_entries[i].values);
        if (g_entries[i].security != nullptr) LocalFree(g_entries[i].security);
    }
    std::free(g_entries);
    g_entries = nullptr;
    g_count = g_capacity = 0;
    g_open = false;
    g_ignored[0] = '\0';
}
}  // namespace

void OpenJournal() {
    Close();
    g_open = true;
    Log("journal opened: changes are recorded until the run ends");
}

int JournalOpen() { return g_open ? 1 : 0; }

void JournalIgnore(const char* folder) { StrCopyCut(g_ignored, folder); }

int JournalCovers(const char* path) {
    if (!g_open || path == nullptr) return 0;
    size_t n = std::strlen(g_ignored);
    return n == 0 || _strnicmp(path, g_ignored, n) != 0 ? 1 : 0;
}

int KeepFileAside(const char* path) {
    char kept[320];
    if (!KeptName(path, kept, sizeof kept)) return 0;
    SetArchiveAttribute(path);
    if (!MoveFileA(path, kept)) return 0;
    if (Add(kKeptFile, path, kept) == nullptr) {
        MoveFileA(kept, path);
        return 0;
    }
    return 1;
}

int KeepFileCopy(const char* path) {
    char kept[320];
    if (!KeptName(path, kept, sizeof kept) || !CopyFileA(path, kept, TRUE)) return -1;
    if (Add(kKeptFile, path, kept) == nullptr) {
        DeleteFileA(kept);
        return -1;
    }
    return g_count - 1;
}

void DropKept(int entry) {
    if (entry < 0 || entry >= g_count || g_entries[entry].kind != kKeptFile) return;
    DeleteFileA(g_entries[entry].other);
    g_entries[entry].kind = kDropped;
}

void PutBackAside(const char* path) {
    for (int i = g_count - 1; i >= 0; --i) {
        Entry& e = g_entries[i];
        if (e.kind == kKeptFile && std::strcmp(e.path, path) == 0) {
            if (MoveFileA(e.other, e.path)) {
                e.kind = kDropped;
            } else {
                // The earlier file lives on only under its kept name: it is
                // put back by a rollback, and a commit never deletes it.
                e.kind = kStranded;
                Log("kept file could not be put back (error %lu): %s stays as %s", GetLastError(), e.path, e.other);
            }
            return;
        }
    }
}

int JournalHasRoom() { return !g_open || Reserve(2) ? 1 : 0; }

void NoteCreatedFile(const char* path) { Add(kCreatedFile, path, nullptr); }
void NoteCreatedFolder(const char* path) { Add(kCreatedFolder, path, nullptr); }
void NoteRenamed(const char* from, const char* to) { Add(kRenamed, from, to); }
void NoteDeleteLater(const char* path) { Add(kDeleteLater, path, nullptr); }

namespace {
// An entry whose earlier state could not be kept whole: the rollback leaves
// its key alone. 0 tells the caller not to make the change.
int NotKept(Entry* e, const char* what) {
    Log("the journal could not keep %s %s: the change is not made", what, e->path);
    e->kind = kDropped;
    return 0;
}
}  // namespace

int KeepRegistryValue(HKEY root, const char* keyPath, const char* name) {
    if (!g_open) return 1;
    Entry* e = Add(kValue, keyPath, nullptr);
    if (e == nullptr) return 0;
    e->root = root;
    SavedValue v = {};
    Wide(name, v.name, 256);
    HKEY key = nullptr;
    LONG rc = ERROR_FILE_NOT_FOUND;
    wchar_t wide[300];
    if (Wide(keyPath, wide, 300)) rc = RegOpenKeyExW(root, wide, 0, KEY_READ, &key);
    bool known = (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) && ReadValue(key, v);
    if (key != nullptr) RegCloseKey(key);
    if (!known) {
        // What was there cannot be told: a rollback would delete or change
        // what it never saw. The value is left alone by the rollback.
        std::free(v.data);
        e->kind = kDropped;
        Log("the earlier state of registry value %s\\%s cannot be read: a rollback leaves it alone", keyPath,
            name != nullptr ? name : "(default)");
        return 1;
    }
    return Append(e, v) ? 1 : NotKept(e, "the registry value");
}

int NoteCreatedKey(HKEY root, const char* keyPath) {
    if (!g_open) return 1;
    Entry* e = Add(kCreatedKey, keyPath, nullptr);
    if (e != nullptr) e->root = root;
    return e != nullptr ? 1 : 0;
}

int KeepDeletedKey(HKEY root, const char* keyPath) {
    if (!g_open) return 1;
    Entry* e = Add(kDeletedKey, keyPath, nullptr);
    if (e == nullptr) return 0;
    e->root = root;
    return SaveKey(e, root, keyPath, "") ? 1 : NotKept(e, "the registry key");
}

int KeepRegistryTree(HKEY root, const char* path) {
    if (!g_open) return 1;
    Entry* e = Add(kTree, path, nullptr);
    if (e == nullptr) return 0;
    e->root = root;
    if (!SaveKey(e, root, path, "")) return NotKept(e, "the registry key");
    HKEY key = OpenRaw(root, path, KEY_READ);
    if (key == nullptr) return 1;
    wchar_t sub[256];
    bool whole = true;
    for (DWORD index = 0; whole; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char narrow[200];
        whole = WideCharToMultiByte(CP_ACP, 0, sub, -1, narrow, sizeof narrow, nullptr, nullptr) > 0 &&
                SaveKey(e, root, path, narrow);
    }
    RegCloseKey(key);
    return whole ? 1 : NotKept(e, "the registry key");
}

int KeepSecurity(const char* folder) {
    // One entry per folder, with or without its trailing backslash.
    char path[300];
    StrCopyCut(path, folder);
    size_t length = std::strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = '\0';
    if (!JournalCovers(path)) return 1;
    for (int i = 0; i < g_count; ++i)
        if (g_entries[i].kind == kSecurity && _stricmp(g_entries[i].path, path) == 0) return 1;  // kept already
    Entry* e = Add(kSecurity, path, nullptr);
    if (e == nullptr) return 0;
    // The integrity label exists from Vista on; earlier Windows refuses the
    // request for it, and only the access list is kept.
    PACL dacl = nullptr, sacl = nullptr;
    SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | kLabelSecurity;
    DWORD rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, parts, nullptr, nullptr, &dacl, &sacl, &e->security);
    if (rc != ERROR_SUCCESS) {
        parts = DACL_SECURITY_INFORMATION;
        rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, parts, nullptr, nullptr, &dacl, nullptr, &e->security);
    }
    if (rc != ERROR_SUCCESS) {
        e->security = nullptr;
        return NotKept(e, "the access list of");
    }
    e->securityParts = parts;
    return 1;
}

void CommitJournal() {
    if (!g_open) return;
    for (int i = 0; i < g_count; ++i) {
        const Entry& e = g_entries[i];
        if (e.kind == kKeptFile) DeleteNowOrAtRestart(e.other);
        if (e.kind == kDeleteLater) DeleteNowOrAtRestart(e.path);
        if (e.kind == kStranded) Log("the earlier file of %s stays as %s", e.path, e.other);
    }
    Log("journal committed: %d changes kept", g_count);
    Close();
}

int RollBackJournal() {
    if (!g_open) return 1;
    g_open = false;  // the undo steps record nothing
    int failed = 0;
    for (int i = g_count - 1; i >= 0; --i) {
        if (!Undo(g_entries[i])) {
            ++failed;
            Log("undo failed (error %lu): %s", GetLastError(), g_entries[i].path);
        }
    }
    if (failed == 0)
        Log("rollback: all %d changes undone", g_count);
    else
        Log("rollback: %d of %d changes could not be undone", failed, g_count);
    Close();
    return failed == 0 ? 1 : 0;
}
