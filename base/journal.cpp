#include "base/journal.h"

#include <aclapi.h>

#include <cstdlib>
#include <cstring>

#include "base/filebase.h"
#include "base/journal_records.h"
#include "base/log.h"
#include "base/names.h"
#include "base/path.h"
#include "base/safepath.h"
#include "base/strbuf.h"
#include "base/sysapi.h"

namespace {
// The journal's entries are its records (base/journal_records.h) in memory.
using Kind = JournalKind;
using SavedValue = JournalValue;
using Entry = JournalEntry;

HKEY RootOf(const Entry& e) { return static_cast<HKEY>(e.root); }

Entry* g_entries = nullptr;
uint32_t* g_recordOf = nullptr;  // each entry's latest record in the journal file (0: none)
int g_count = 0, g_capacity = 0;
bool g_open = false;
char g_ignored[300];  // the run folder: setup's own, not recorded
HANDLE g_file;  // INVALID_HANDLE_VALUE when none is open, from the start on
struct NoFile {
    NoFile() { g_file = INVALID_HANDLE_VALUE; }
} g_noFile;
uint32_t g_records = 0;  // the records of the journal file so far
// While records are noted ahead (flushed together, by EndNotingAhead): one
// more than the first entry noted; 0 otherwise (zero-initialised: the
// program carries no data section).
int g_aheadFrom;
const char kJournalName[] = "mofajrnl.mfh";

bool Reserve(int more);
int NoteUndone(int index);

Entry* Add(Kind kind, const char* path, const char* other) {
    if (!Reserve(1)) return nullptr;
    g_recordOf[g_count] = 0;
    Entry* e = &g_entries[g_count++];
    std::memset(e, 0, sizeof *e);
    e->kind = kind;
    StrCopyCut(e->path, path);
    StrCopyCut(e->other, other != nullptr ? other : "");
    return e;
}

// The newest entry of the given kind for path, or -1.
int Noted(Kind kind, const char* path) {
    for (int i = g_count; i-- > 0;)
        if (g_entries[i].kind == kind && _stricmp(g_entries[i].path, path) == 0) return i;
    return -1;
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
    uint32_t* numbers = static_cast<uint32_t*>(std::realloc(g_recordOf, static_cast<size_t>(capacity) * sizeof(uint32_t)));
    if (numbers == nullptr) return false;
    g_recordOf = numbers;
    g_capacity = capacity;
    return true;
}

// The kept name of path: "<path>.mfold", or with a number when a file has
// that name already (a copy kept earlier: never overwritten).
bool KeptName(const char* path, char* out, size_t cap) {
    for (int i = 0; i < 100; ++i) {
        if (!StrFormat(out, cap, i == 0 ? "%s%s" : "%s%s%d", path, kKeptSuffix, i)) return false;
        if (!Exists(out)) return true;
    }
    return false;
}

// True when path may be acted on by name: no folder on its path is a reparse
// point. In a folder that others can write, a junction swapped in for a
// folder would send the change elsewhere; the change is then left for a
// later run, and the log says why.
bool ByName(const char* path) {
    PathVerdict verdict = CheckFolders(path);
    if (verdict == kPathPlain) return true;
    Log("journal: %s left as it is (%s)", path, VerdictText(verdict));
    return false;
}

// Deletes path, or has Windows delete it at the next restart while a program
// holds it. True when it is gone now. Windows acts at the restart by name,
// following whatever link has been planted on the path by then: that is
// asked only where others cannot write.
bool DeleteNowOrAtRestart(const char* path) {
    if (!ByName(path)) return false;
    SetArchiveAttribute(path);
    if (!Exists(path) || DeleteFileA(path)) return true;
    if (InAdminFolder(path) && MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        Log("file deleted at the next restart: %s", path);
    else
        Log("file could not be deleted (error %lu): %s", GetLastError(), path);
    return false;
}

// Puts the file at from in path's place, replacing what is there. A file
// that Windows holds there is moved out of the way first; if even that
// fails, the move happens at the next restart (where only administrators
// can write).
bool PutInPlace(const char* from, const char* path) {
    if (!ByName(from) || !ByName(path)) return false;
    SetArchiveAttribute(path);
    if (MoveFileExA(from, path, MOVEFILE_REPLACE_EXISTING)) return true;
    char held[320];
    if (StrFormat(held, sizeof held, "%s.mfheld", path) && MoveFileA(path, held) && MoveFileA(from, path)) {
        DeleteNowOrAtRestart(held);
        return true;
    }
    if (InAdminFolder(path) && MoveFileExA(from, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
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

// root\path opened for access, or null; *rc (when asked) says why not, a
// path that cannot be converted counting as absent.
HKEY OpenRaw(HKEY root, const char* path, REGSAM access, LONG* rc = nullptr) {
    wchar_t wide[300];
    HKEY key = nullptr;
    LONG result = Wide(path, wide, 300) ? RegOpenKeyExW(root, wide, 0, access, &key) : ERROR_FILE_NOT_FOUND;
    if (rc != nullptr) *rc = result;
    return result == ERROR_SUCCESS ? key : nullptr;
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

// The name of key's index-th sub-key in the ANSI code page into name (cap
// bytes): 1; 0 when there is no such sub-key; -1 when the name does not
// convert into name.
int SubKeyName(HKEY key, DWORD index, char* name, int cap) {
    wchar_t wide[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, wide, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return 0;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, name, cap, nullptr, nullptr) > 0 ? 1 : -1;
}

// The name of key's index-th value into name (256 characters); false when
// there is no such value.
bool ValueName(HKEY key, DWORD index, wchar_t* name) {
    DWORD length = 256;
    return RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
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
    if (!StrFormat(full, sizeof full, "%s%s%s", path, sub[0] != '\0' ? "\\" : "", sub)) return false;
    HKEY key = OpenRaw(root, full, KEY_READ);
    if (key == nullptr) return true;
    SavedValue marker = {};
    StrCopyCut(marker.sub, sub);
    marker.marker = true;
    bool whole = Append(e, marker);
    for (DWORD index = 0; whole; ++index) {
        SavedValue v = {};
        StrCopyCut(v.sub, sub);
        if (!ValueName(key, index, v.name)) break;
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
    if (!StrFormat(full, sizeof full, "%s%s%s", e.path, sub[0] != '\0' ? "\\" : "", sub)) return false;
    HKEY key = CreateRaw(root, full);
    if (key == nullptr) return false;
    bool ok = true;
    wchar_t name[256];
    for (DWORD index = 0;;) {
        if (!ValueName(key, index, name)) break;
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
        char narrow[256], full[600];
        while (SubKeyName(key, 0, narrow, sizeof narrow) > 0 && StrFormat(full, sizeof full, "%s\\%s", path, narrow) &&
               DeleteKeyTree(root, full)) {
        }
        RegCloseKey(key);
    }
    wchar_t wide[300];
    if (!Wide(path, wide, 300)) return false;
    LONG rc = RegDeleteKeyW(root, wide);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool RestoreTree(const Entry& e) {
    HKEY root = RootOf(e);
    bool ok = RestoreKey(e, root, "");
    // Sub-keys that were not there go; those that were come back whole.
    HKEY key = OpenRaw(root, e.path, KEY_READ);
    if (key != nullptr) {
        char narrow[256], full[600];
        for (DWORD index = 0;;) {
            int found = SubKeyName(key, index, narrow, sizeof narrow);
            if (found == 0) break;
            // (A name that does not convert is left alone.)
            if (found > 0 && !Saved(e, narrow, nullptr) && StrFormat(full, sizeof full, "%s\\%s", e.path, narrow) &&
                DeleteKeyTree(root, full)) {
                Log("undo: registry key removed: %s", full);
                continue;
            }
            ++index;
        }
        RegCloseKey(key);
    }
    for (int i = 0; i < e.valueCount; ++i)
        if (e.values[i].marker && e.values[i].sub[0] != '\0') ok = RestoreKey(e, root, e.values[i].sub) && ok;
    return ok;
}

// ---- Security: the access list and the integrity label of a folder ----

const SECURITY_INFORMATION kLabelSecurity = 0x00000010L;  // LABEL_SECURITY_INFORMATION, Vista and later

// Through a checked handle: a junction swapped in for the folder would
// otherwise carry the earlier rights to the folder it leads to.
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
    PathVerdict verdict;
    HANDLE h = OpenFolderChecked(e.path, READ_CONTROL | WRITE_DAC | (sacl != nullptr ? WRITE_OWNER : 0), &verdict);
    if (h == INVALID_HANDLE_VALUE) {
        if (verdict != kPathPlain) Log("journal: %s left as it is (%s)", e.path, VerdictText(verdict));
        return false;
    }
    DWORD rc = SetSecurityInfo(h, SE_FILE_OBJECT, parts, nullptr, nullptr, dacl, sacl);
    CloseHandle(h);
    return rc == ERROR_SUCCESS;
}

// A fresh file's name: "<name>.<16 hex digits>.mfnew" (see CreateFresh).
bool FreshName(const char* name) {
    size_t n = std::strlen(name);
    if (n < 24 || _stricmp(name + n - 6, kFreshSuffix) != 0 || name[n - 23] != '.') return false;
    for (size_t i = n - 22; i < n - 6; ++i)
        if (!std::strchr("0123456789abcdef", name[i])) return false;
    return true;
}

// Removes the fresh files that a run cut short between writing one and
// renaming it into place left in folder: they are setup's alone (their
// names are unpredictable), and never in use.
bool DropFreshFiles(const char* folder) {
    char pattern[320], path[320];
    if (!StrFormat(pattern, sizeof pattern, "%s\\*%s", folder, kFreshSuffix)) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool ok = true;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !FreshName(found.cFileName) ||
            !StrFormat(path, sizeof path, "%s\\%s", folder, found.cFileName))
            continue;
        Log("unfinished file removed: %s", path);
        ok = DeleteNowOrAtRestart(path) && ok;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return ok;
}

// Undoes one entry; true when it came back. Each undo may run again after a
// kill cut the first short, and finds a change that was recorded but never
// made: what is already back (or never left) is left alone.
bool Undo(const Entry& e) {
    switch (e.kind) {
        case kKeptFile:
            if (!Exists(e.other)) return true;  // put back already, or dropped
            Log("undo: file put back: %s", e.path);
            return PutInPlace(e.other, e.path);
        case kKeeping:  // a copy that was never whole; the file itself was not touched
            return DeleteNowOrAtRestart(e.other);
        case kCreatedFile:
            Log("undo: file removed: %s", e.path);
            return DeleteNowOrAtRestart(e.path);
        case kSecurity:
            Log("undo: access list%s put back: %s",
                (e.securityParts & kLabelSecurity) != 0 ? " and integrity label" : "", e.path);
            return PutSecurityBack(e);
        case kCreatedFolder:
            Log("undo: folder removed: %s", e.path);
            return ByName(e.path) && (RemoveDirectoryA(e.path) || !Exists(e.path));
        case kRenamed:
            // Only while the file is under its new name alone.
            if (Exists(e.path) || !Exists(e.other)) return true;
            Log("undo: file renamed back: %s -> %s", e.other, e.path);
            return PutInPlace(e.other, e.path);
        case kValue:
        case kDeletedKey: {
            HKEY key = CreateRaw(RootOf(e), e.path);
            bool ok = key != nullptr;
            for (int i = 0; ok && i < e.valueCount; ++i) ok = SetValue(key, e.values[i]);
            if (key != nullptr) RegCloseKey(key);
            Log("undo: registry %s restored: %s", e.kind == kValue ? "value" : "key", e.path);
            return ok;
        }
        case kCreatedKey:
            Log("undo: registry key removed: %s", e.path);
            return DeleteKeyTree(RootOf(e), e.path);
        case kTree:
            Log("undo: registry key restored with its sub-keys: %s", e.path);
            return RestoreTree(e);
        case kFreshIn:
            return DropFreshFiles(e.path);
        default:
            return true;
    }
}

// What a committed run leaves to do: its kept copies and the files it
// replaced while they were held go.
void CleanUp(const Entry& e) {
    if (e.kind == kKeptFile || e.kind == kKeeping) DeleteNowOrAtRestart(e.other);
    if (e.kind == kDeleteLater) DeleteNowOrAtRestart(e.path);
    if (e.kind == kFreshIn) DropFreshFiles(e.path);
}

// Undoes every entry, newest first; the number that could not be undone (a
// run ended for a test counts as one: the rest is left as a kill leaves it).
int UndoAll() {
    int failed = 0;
    for (int i = g_count - 1; i >= 0; --i) {
        if (Abandoned()) return failed + 1;
        if (!Undo(g_entries[i])) {
            ++failed;
            Log("undo failed (error %lu): %s", GetLastError(), g_entries[i].path);
        } else {
            NoteUndone(i);
        }
    }
    return failed;
}

void Close() {
    for (int i = 0; i < g_count; ++i) {
        for (int k = 0; k < g_entries[i].valueCount; ++k) std::free(g_entries[i].values[k].data);
        std::free(g_entries[i].values);
        if (g_entries[i].security != nullptr) LocalFree(g_entries[i].security);
    }
    std::free(g_entries);
    std::free(g_recordOf);
    g_entries = nullptr;
    g_recordOf = nullptr;
    g_count = g_capacity = 0;
    g_open = false;
    g_ignored[0] = '\0';
    if (g_file != INVALID_HANDLE_VALUE) CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
    g_records = 0;
}

// ---- The journal file ----

// Writes e as a record of the given kind to the journal file and flushes it
// to the disk. True when it is there; *number (when asked) gets its number
// in the file (from 1).
bool WriteRecord(const Entry& e, Kind kind, uint32_t* number) {
    uint32_t securitySize = e.security != nullptr ? GetSecurityDescriptorLength(e.security) : 0;
    uint32_t size = JournalRecordSize(e, securitySize);
    unsigned char* record = static_cast<unsigned char*>(std::malloc(size));
    DWORD written = 0;
    bool ok = record != nullptr;
    if (ok) {
        PutJournalRecord(e, kind, securitySize, record);
        ok = g_sys.writeFile(g_file, record, size, &written, nullptr) && written == size &&
             (g_aheadFrom != 0 || g_sys.flushFileBuffers(g_file));
    }
    std::free(record);
    // (A record that could not be written is logged with its operation.)
    if (ok) ++g_records;
    if (ok && number != nullptr) *number = g_records;
    return ok;
}

// A record of a change about to be made, e being entry index (or -1); true
// too when the journal does not record. A run ended for a test writes
// nothing more.
bool Persist(const Entry& e, Kind kind, int index = -1) {
    if (!g_open) return true;
    if (Abandoned()) return false;
    return WriteRecord(e, kind, index >= 0 ? &g_recordOf[index] : nullptr);
}

// After the undo of entry index: a later recovery does not undo it again.
// Undoing twice could undo what an older entry put back (a file created
// where an older entry brings the earlier one back would be deleted again).
// 1 when that is on the disk (or there is nothing to record).
int NoteUndone(int index) {
    Entry mark = {};
    mark.securityParts = g_recordOf[index];
    if (g_file == INVALID_HANDLE_VALUE || g_recordOf[index] == 0 || WriteRecord(mark, kUndone, nullptr)) return 1;
    Log("journal: the undo of %s could not be recorded", g_entries[index].path);
    return 0;
}

// Records e on the disk: 1, or 0 with e dropped (the change is not made).
int Persisted(Entry* e) {
    if (Persist(*e, e->kind, static_cast<int>(e - g_entries))) return 1;
    e->kind = kDropped;
    return 0;
}

// Reads the records of a journal file into the entries. False when one
// cannot be taken in (no memory); the first record that is not whole (cut
// short, its sum wrong, its fields overrunning it) ends it, and *whole gets
// the length of the records before it. The folder is one only
// administrators can write: a whole record is one this program wrote.
bool Load(const unsigned char* image, uint32_t size, bool* committed, uint32_t* whole) {
    JournalRecord r;
    SavedValue v;
    *whole = 0;
    for (uint32_t pos = 0; NextJournalRecord(image, size, &pos, &r); *whole = pos) {
        ++g_records;
        const Kind kind = r.entry.kind;
        if (kind == kCommitted) *committed = true;
        // An undone change is not undone again; but a file put back from its
        // kept copy stays to be checked: where a power cut lost the rename
        // and not the record, the copy is still there and goes back again.
        for (int i = g_count - 1; kind == kUndone && i >= 0; --i)
            if (g_recordOf[i] == r.entry.securityParts && g_entries[i].kind != kKeptFile) g_entries[i].kind = kDropped;
        if (kind == kDropped || kind == kCommitted || kind == kUndone) continue;
        if (!Reserve(1)) return false;
        g_recordOf[g_count] = g_records;
        Entry* e = &g_entries[g_count++];
        *e = r.entry;
        e->values = nullptr;
        e->valueCount = 0;
        e->security = nullptr;
        const unsigned char* at = r.values;
        for (int i = 0; i < r.entry.valueCount && ReadJournalValue(&at, r.security, &v); ++i) {
            // The value's bytes go to a block of their own (v.data points
            // into the image until then).
            const unsigned char* bytes = v.data;
            if (bytes != nullptr && (v.data = static_cast<unsigned char*>(std::malloc(v.size + 2))) == nullptr)
                return false;
            if (!Append(e, v)) return false;
            if (bytes != nullptr) std::memcpy(v.data, bytes, v.size);
        }
        if (r.securitySize != 0) {
            if ((e->security = LocalAlloc(LMEM_FIXED, r.securitySize)) == nullptr) return false;
            std::memcpy(e->security, r.security, r.securitySize);
        }
    }
    return true;
}

// "<Windows directory>\mofabak\" (with name behind it) into out.
bool RunFolderName(char* out, size_t cap, const char* name) {
    char windowsDir[200] = {0};
    UINT n = g_sys.getWindowsDirectoryA(windowsDir, sizeof windowsDir);
    return n > 0 && n < sizeof windowsDir && StrFormat(out, cap, "%s\\mofabak\\%s", windowsDir, name);
}

// Deletes what a run folder holds, the backup first and the journal last
// (until then the folder is still the journal's), and the folder. True when
// it is gone.
bool RemoveRunFolder(const char* folder) {
    char path[320];
    static const char* const kHeld[] = {kBackupName, kJournalName};
    for (const char* name : kHeld)
        if (StrFormat(path, sizeof path, "%s%s", folder, name)) DeleteNowOrAtRestart(path);
    return RemoveDirectoryA(folder) != 0;
}

// The journal file is done with: closed, and with the run folder removed.
void Finish() {
    CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
    RemoveRunFolder(g_ignored);
}

}  // namespace

int RecoverEarlierJournal() {
    char path[320];
    if (!RunFolderName(path, sizeof path, kJournalName) || !Exists(path)) return 1;
    int64_t size = FileSizeOf(path);
    uint32_t got = 0;
    unsigned char* image =
        size >= 0 && size < (1 << 30) ? static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 1)) : nullptr;
    bool read = image != nullptr && ReadFilePrefix(path, image, static_cast<uint32_t>(size), &got) && got == size;
    Close();
    bool committed = false;
    uint32_t whole = 0;
    int failed = read && Load(image, got, &committed, &whole) ? 0 : -1;
    std::free(image);
    Log("recovery: %s: %d changes, committed %d", path, g_count, committed);
    if (failed == 0 && committed) {
        for (int i = 0; i < g_count; ++i) CleanUp(g_entries[i]);
    } else if (failed == 0) {
        // Each undo is recorded after the whole records (a record cut short
        // goes), so that a recovery cut short is taken up where it ended.
        g_file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        LARGE_INTEGER at;
        at.QuadPart = whole;
        if (g_file != INVALID_HANDLE_VALUE && (!SetFilePointerEx(g_file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(g_file))) {
            CloseHandle(g_file);
            g_file = INVALID_HANDLE_VALUE;
        }
        failed = UndoAll();
    }
    Close();
    if (failed != 0) return 0;  // the journal stays for the next run
    *const_cast<char*>(BaseName(path)) = '\0';
    RemoveRunFolder(path);
    return 1;
}

Outcome OpenJournal() {
    Close();
    char folder[300], path[320];
    if (!RunFolder(folder, sizeof folder) || !StrFormat(path, sizeof path, "%s%s", folder, kJournalName))
        return LastCallFailed();
    // Never over a journal no run has completed.
    g_file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_file == INVALID_HANDLE_VALUE) {
        Outcome failed = LastCallFailed();
        Log("journal error %lu", failed.error);
        return failed;
    }
    StrCopyCut(g_ignored, folder);
    g_open = true;
    Log("journal opened: %s", path);
    return kDone;
}

int JournalOpen() { return g_open ? 1 : 0; }

int RunFolder(char* out, size_t cap) {
    if (!RunFolderName(out, cap, "")) return 0;
    // Only administrators can make a folder in the Windows directory. One
    // that is a link is not written through.
    DWORD attributes = GetFileAttributesA(out);
    if (attributes == INVALID_FILE_ATTRIBUTES ? !CreateDirectoryA(out, nullptr)
                                              : (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                                                    FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    TrustFolder(out);
    return 1;
}

int JournalCovers(const char* path) {
    if (!g_open || path == nullptr) return 0;
    size_t n = std::strlen(g_ignored);
    return n == 0 || _strnicmp(path, g_ignored, n) != 0 ? 1 : 0;
}

int KeepFileCopy(const char* path) {
    // A file this run made needs no copy: the undo of its making deletes
    // whatever is there then, which brings back the state the note found.
    int made = Noted(kCreatedFile, path);
    if (made >= 0) return made;
    char kept[320];
    if (!KeptName(path, kept, sizeof kept)) return -1;
    // Recorded before the copy is begun, and again once it is whole on the
    // disk: a copy a kill cut short is deleted, never put back.
    Entry* e = Add(kKeeping, path, kept);
    if (e == nullptr || !Persisted(e)) return -1;
    int entry = g_count - 1;
    bool whole = CopyToNewFile(path, kept);
    e = &g_entries[entry];
    e->kind = kKeptFile;
    if (whole && Persist(*e, kKeptFile, entry)) return entry;
    DropKept(entry);
    return -1;
}

void DropKept(int entry) {
    if (entry < 0 || entry >= g_count || g_entries[entry].kind != kKeptFile) return;
    // Its record may stay: an undo finds no copy and leaves the file alone.
    // The error stays the one that stopped the change.
    DWORD error = GetLastError();
    DeleteFileA(g_entries[entry].other);
    SetLastError(error);
    g_entries[entry].kind = kDropped;
}

int JournalHasRoom() { return !g_open || Reserve(2) ? 1 : 0; }

namespace {
// Before a change at path: where a note made ahead said this run would make
// the file and a file is there already, that file is none of this run's, and
// the note is void (on the disk) before anything there changes: no undo may
// delete it. 1 when the change may go on.
int ForgetNotedAhead(const char* path) {
    int ahead = Noted(kNotedAhead, path);
    if (ahead < 0 || !Exists(path)) return 1;
    g_entries[ahead].kind = kDropped;
    return NoteUndone(ahead);
}
}  // namespace

int ChangeRefused(const char* what) {
    if (RefusedForTest(what)) return 1;
    // A change the journal could not record is not made at all.
    if (!JournalHasRoom()) {
        Log("the journal has no room to record a change: %s is not made", what);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }
    return ForgetNotedAhead(what) ? 0 : 1;
}

namespace {
int Note(Kind kind, const char* path, const char* other, HKEY root = nullptr) {
    if (!g_open) return 1;
    Entry* e = Add(kind, path, other);
    if (e == nullptr) return 0;
    e->root = root;
    return Persisted(e);
}
}  // namespace

int NoteCreatedFile(const char* path) {
    int ahead = Noted(kNotedAhead, path);
    if (ahead < 0) return Note(kCreatedFile, path, nullptr);
    g_entries[ahead].kind = kCreatedFile;  // its record is on the disk
    return 1;
}

void BeginNotingAhead() { g_aheadFrom = g_count + 1; }

void NoteCreatedAhead(const char* path) {
    if (JournalCovers(path) && Note(kCreatedFile, path, nullptr)) g_entries[g_count - 1].kind = kNotedAhead;
}

void EndNotingAhead() {
    const int from = g_aheadFrom - 1;
    g_aheadFrom = 0;
    // Not known to be on the disk: each file is noted again as it is made.
    // (A run a test has ended flushes nothing more, as a kill would not.)
    if (g_open && (RunAbandoned() || !g_sys.flushFileBuffers(g_file))) g_count = from;
}
int NoteCreatedFolder(const char* path) { return Note(kCreatedFolder, path, nullptr); }
int NoteRenamed(const char* from, const char* to) { return Note(kRenamed, from, to); }
int NoteDeleteLater(const char* path) { return Note(kDeleteLater, path, nullptr); }

int NoteFreshBeside(const char* path) {
    if (!JournalCovers(path)) return 1;
    char folder[300];
    char* name = StrCopy(folder, path) ? const_cast<char*>(BaseName(folder)) : folder;
    if (name == folder || name[-1] != '\\') return 0;
    name[-1] = '\0';
    return Noted(kFreshIn, folder) >= 0 ? 1 : Note(kFreshIn, folder, nullptr);  // once a folder
}

namespace {
// An entry whose earlier state could not be kept whole: the rollback leaves
// its key alone. 0 tells the caller not to make the change.
int NotKept(Entry* e, const char* what) {
    Log("journal cannot keep %s %s: change not made", what, e->path);
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
    LONG rc;
    HKEY key = OpenRaw(root, keyPath, KEY_READ, &rc);
    bool known = (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) && ReadValue(key, v);
    if (key != nullptr) RegCloseKey(key);
    if (!known) {
        // What was there cannot be told: a rollback would delete or change
        // what it never saw. The value is left alone by the rollback.
        std::free(v.data);
        e->kind = kDropped;
        Log("registry value %s\\%s unreadable: a rollback leaves it alone", keyPath,
            name != nullptr ? name : "(default)");
        return 1;
    }
    return Append(e, v) ? Persisted(e) : NotKept(e, "the registry value");
}

int NoteCreatedKey(HKEY root, const char* keyPath) { return Note(kCreatedKey, keyPath, nullptr, root); }

int KeepDeletedKey(HKEY root, const char* keyPath) {
    if (!g_open) return 1;
    Entry* e = Add(kDeletedKey, keyPath, nullptr);
    if (e == nullptr) return 0;
    e->root = root;
    return SaveKey(e, root, keyPath, "") ? Persisted(e) : NotKept(e, "the registry key");
}

int KeepRegistryTree(HKEY root, const char* path) {
    if (!g_open) return 1;
    Entry* e = Add(kTree, path, nullptr);
    if (e == nullptr) return 0;
    e->root = root;
    if (!SaveKey(e, root, path, "")) return NotKept(e, "the registry key");
    HKEY key = OpenRaw(root, path, KEY_READ);
    bool whole = true;
    char narrow[200];
    for (DWORD index = 0; whole && key != nullptr; ++index) {
        int found = SubKeyName(key, index, narrow, sizeof narrow);
        if (found == 0) break;
        whole = found > 0 && SaveKey(e, root, path, narrow);
    }
    if (key != nullptr) RegCloseKey(key);
    return whole ? Persisted(e) : NotKept(e, "the registry key");
}

int KeepSecurity(const char* folder) {
    if (RunAbandoned()) return 0;
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
    DWORD rc;
    for (;;) {
        rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, parts, nullptr, nullptr, &dacl, &sacl, &e->security);
        if (rc == ERROR_SUCCESS || parts == DACL_SECURITY_INFORMATION) break;
        parts = DACL_SECURITY_INFORMATION;
    }
    if (rc != ERROR_SUCCESS) {
        e->security = nullptr;
        return NotKept(e, "the access list of");
    }
    e->securityParts = parts;
    return Persisted(e);
}

int CommitJournal() {
    if (!g_open) return 1;
    // What the commit promises is on the disk before its record is: the
    // files were flushed as they were written; the hives the run changed
    // are flushed now.
    static const HKEY kHives[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS};
    for (HKEY hive : kHives) RegFlushKey(hive);
    Entry mark = {};
    if (!Persist(mark, kCommitted)) return 0;
    g_open = false;
    Log("journal committed: %d changes kept", g_count);
    // A run ended for a test during the clean-up leaves it as a kill would:
    // the next run's recovery completes it.
    if (!Abandoned())
        for (int i = 0; i < g_count; ++i) CleanUp(g_entries[i]);
    if (!Abandoned()) Finish();
    Close();
    return 1;
}

int RollBackJournal() {
    if (!g_open) return 1;
    g_open = false;  // the undo steps record nothing
    // A run ended for a test leaves everything as a kill would.
    int failed = RunAbandoned() ? 1 : UndoAll();
    if (failed == 0) {
        Log("rollback: all %d changes undone", g_count);
        Finish();
    } else {
        Log("rollback: %d of %d changes could not be undone", failed, g_count);
    }
    Close();
    return failed == 0 ? 1 : 0;
}

int RestoreEarlierBackups(int (*restoreBackup)(const char* archivePath)) {
    // Folders of earlier runs: those that lost their journal, and those of
    // setups that kept no journal, named by process ("mofabak<id>.<n>").
    // Their backup may be the only copy of the user's files.
    char windowsDir[300], folder[300], path[320];
    WIN32_FIND_DATAA found;
    if (!RunFolderName(windowsDir, sizeof windowsDir, "")) return 1;
    size_t length = std::strlen(windowsDir);
    windowsDir[length - 1] = '*';  // "<Windows directory>\mofabak*"
    HANDLE h = FindFirstFileA(windowsDir, &found);
    if (h == INVALID_HANDLE_VALUE) return 1;
    *const_cast<char*>(BaseName(windowsDir)) = '\0';
    int complete = 1;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            !StrFormat(folder, sizeof folder, "%s%s\\", windowsDir, found.cFileName))
            continue;
        // A link there loses its name only; nothing it leads to is read.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            RemoveDirectoryA(folder);
            continue;
        }
        // (A folder without a backup is nothing to restore.)
        if (StrFormat(path, sizeof path, "%s%s", folder, kBackupName)) {
            if (!restoreBackup(path)) {
                complete = 0;
                continue;
            }
        }
        RemoveRunFolder(folder);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return complete;
}
