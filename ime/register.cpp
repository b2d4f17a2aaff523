#include "ime/register.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/captions.h"
#include "base/context.h"
#include "base/text.h"
#include "base/failure.h"
#include "base/journal.h"
#include "base/machine.h"
#include "base/names.h"
#include "base/path.h"
#include "base/registry.h"
#include "base/strbuf.h"
#include "base/sysapi.h"
#include "base/ui.h"
#include "ime/layoutid.h"
#include "ime/preload.h"

namespace {
const char kAdminText[] = "在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！";
const char kUserKeyText[] = "Software open error2003";

// A failure of the registry fallback: recorded as the run's cause, for the
// one message the user gets. Returns 0.
int RegistrationFailed(const char* text, const char* key) {
    NoteFailure(text, "open the registry key", key, 0);
    return 0;
}
const UINT kSystemDirChars = 100;

// Fills layoutKeyNames with the sub-key names of the layouts key, highest
// index first. Names beyond the table's 250 slots are left out. Returns the
// number stored.
int EnumerateLayoutKeys(HKEY layouts) {
    std::memset(g_layouts.layoutKeyNames, 0, sizeof g_layouts.layoutKeyNames);
    DWORD subKeys = CountSubKeys(layouts);
    int stored = 0;
    // Index subKeys itself yields no name: the enumeration starts one past
    // the last key.
    for (DWORD index = subKeys + 1; index-- > 0 && stored < static_cast<int>(kLayoutNameSlots);)
        if (SubKeyName(layouts, index, g_layouts.layoutKeyNames[stored], kLayoutNameSize)) ++stored;
    return stored;
}

// Scans the names in table order for the product's key. Returns its index,
// or -1 with *highest raised to the highest id among keys that carry a
// readable "layout text".
int FindProductLayoutKey(HKEY layouts, int names, uint32_t* highest) {
    for (int i = 0; i < names; ++i) {
        const char* name = g_layouts.layoutKeyNames[i];
        HKEY sub = OpenKeyRead(layouts, name);
        if (sub == nullptr) continue;
        char text[kLayoutTextSize] = {0};
        int readable = ReadRegText(sub, "layout text", text, sizeof text);
        CloseKey(sub);
        if (!readable) continue;
        if (IsProductLayoutText(text, g_ctx.oemCodePage)) return i;
        uint32_t id = ParseLayoutId(name);
        if (id > *highest) *highest = id;
    }
    return -1;
}

void WriteLayoutValues(HKEY key) {
    // Failures here are silent: the preload entry still follows.
    WriteRegText(key, "IME file", "MOFAHU4.IME");
    WriteRegText(key, "layout file", IsWin9xFamily() ? "kbdus.kbd" : "kbdus.dll");
    WriteRegText(key, "layout text", ProductLayoutText(g_ctx.oemCodePage));
}

// NT: values "1".."49" of the user's preload key.
void AddPreloadValue(HKEY preload, const char* id) {
    for (int k = 1; k <= static_cast<int>(kPreloadSlots); ++k) {
        char name[4];
        StrFormat(name, sizeof name, "%d", k);
        char stored[kLayoutTextSize] = {0};
        if (!ReadRegText(preload, name, stored, sizeof stored)) {
            WriteRegText(preload, name, id);
            return;
        }
        PreloadMatch match = ComparePreloadEntry(stored, sizeof stored, id);
        if (match == kPreloadPresent) return;
        if (match == kPreloadSameEntry) {
            WriteRegText(preload, name, id);
            return;
        }
    }
    WriteRegText(preload, "49", id);
}

// 9x: the default values of sub-keys "1".."49" of the user's preload key.
void AddPreloadSubKey(HKEY preload, const char* id) {
    for (int k = 1; k <= static_cast<int>(kPreloadSlots); ++k) {
        char name[4];
        StrFormat(name, sizeof name, "%d", k);
        HKEY sub = OpenKeyFull(preload, name);
        if (sub == nullptr) {
            sub = CreateKeyFull(preload, name);
            if (sub != nullptr) WriteRegText(sub, nullptr, id);
            CloseKey(sub);
            return;
        }
        char stored[kLayoutTextSize] = {0};
        PreloadMatch match = kPreloadOther;
        if (ReadRegText(sub, nullptr, stored, sizeof stored)) match = ComparePreloadEntry(stored, sizeof stored, id);
        if (match == kPreloadSameEntry) WriteRegText(sub, nullptr, id);
        CloseKey(sub);
        if (match != kPreloadOther) return;
    }
    HKEY last = CreateKeyFull(preload, "49");
    if (last != nullptr) WriteRegText(last, nullptr, id);
    CloseKey(last);
}

}  // namespace

int AddToPreloadList(const char* layoutId) {
    char id[kLayoutNameSize];
    StrCopyCut(id, layoutId);
    // New entries are lower case on NT and upper case on 9x.
    FoldLayoutId(id, 0);
    if (IsWin9xFamily()) FoldLayoutId(id, 1);

    if (IsWin9xFamily()) {
        HKEY preload = OpenKeyRead(HKEY_CURRENT_USER, "keyboard layout\\preload");
        if (preload == nullptr) return RegistrationFailed(kUserKeyText, "keyboard layout\\preload");
        AddPreloadSubKey(preload, id);
        CloseKey(preload);
        return 1;
    }
    HKEY layout = OpenKeyRead(HKEY_CURRENT_USER, "keyboard layout");
    if (layout == nullptr) return RegistrationFailed(kUserKeyText, "keyboard layout");
    HKEY preload = OpenKeyFull(layout, "preload");
    if (preload != nullptr) AddPreloadValue(preload, id);
    CloseKey(preload);
    CloseKey(layout);
    return 1;
}

int InstallImeModule() {
    wchar_t systemDir[kSystemDirChars] = {0};
    UINT n = g_sys.getSystemDirectoryW(systemDir, kSystemDirChars);
    if (n == 0 || n >= kSystemDirChars) return 0;
    char16_t path[kSystemDirChars + 16] = {0};
    if (!U16Copy(path, sizeof path / sizeof path[0], reinterpret_cast<const char16_t*>(systemDir)) ||
        !U16Append(path, sizeof path / sizeof path[0], u"\\mofahu4.ime"))
        return 0;
    // The input-method manager writes the keyboard layouts (and may write the
    // user's preload list) itself: both are kept whole first, so that a run
    // that fails can put them back.
    if (!KeepRegistryTree(HKEY_LOCAL_MACHINE, kLayoutsKey) ||
        !KeepRegistryTree(HKEY_CURRENT_USER, "keyboard layout\\preload"))
        return 0;
    HKL layout = nullptr;
    if (!ChangeRefused("the input-method manager's registration"))
        layout = g_sys.immInstallIMEW(reinterpret_cast<const wchar_t*>(path),
                                      reinterpret_cast<const wchar_t*>(u"智能墨筏输入平台  7.9"));
    g_ctx.imeLayoutHandle = layout;
    // The layout id is the handle's value.
    g_ctx.layoutId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(layout));
    return layout != nullptr ? 1 : 0;
}

LayoutRegistration RegisterKeyboardLayout() {
    RefreshWindowsVersionWord();
    LayoutRegistration result = kLayoutRegistered;
    const int codePage = g_ctx.oemCodePage;

    HKEY layouts = OpenKeyRead(HKEY_LOCAL_MACHINE, kLayoutsKey);
    if (layouts == nullptr) {
        RegistrationFailed(IsWin9xFamily() ? "Software open error1003" : kAdminText, kLayoutsKey);
        return kLayoutFailed;
    }

    int names = EnumerateLayoutKeys(layouts);
    uint32_t highest = 0;
    int found = FindProductLayoutKey(layouts, names, &highest);

    char id[kLayoutNameSize] = {0};
    HKEY target = nullptr;
    if (found >= 0) {
        StrCopyCut(id, g_layouts.layoutKeyNames[found]);
        if (HasExpectedSuffix(id, codePage)) {
            target = OpenKeyFull(layouts, id);
        } else {
            // An earlier key of the other language: it goes, and its number
            // is reused with the expected suffix. A failed delete leaves the
            // old key beside the new one; the registration goes on.
            DeleteRegKey(layouts, id);
            ForceExpectedSuffix(id, sizeof id, codePage);
            result = kLayoutSuffixForced;
            target = CreateKeyFull(layouts, id);
        }
    } else {
        if (MakeNewLayoutId(highest, codePage, id, sizeof id) == 0) result = kLayoutSuffixForced;
        target = CreateKeyFull(layouts, id);
    }
    if (target == nullptr) {
        CloseKey(layouts);
        RegistrationFailed(IsWin9xFamily() ? "Software open error1004" : kAdminText, id);
        return kLayoutFailed;
    }
    WriteLayoutValues(target);
    CloseKey(target);
    CloseKey(layouts);
    g_ctx.layoutId = ParseLayoutId(id);

    return AddToPreloadList(id) ? result : kLayoutFailed;
}

namespace {
// KB of the files in dir (not its sub-folders), rounded up. The copies the
// run keeps until it commits ("*.mfold") are not counted.
DWORD InstalledKilobytes(const char* dir) {
    char pattern[300];
    if (!JoinPath(pattern, dir, "*.*")) return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    uint64_t bytes = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !ContainsText(found.cFileName, kKeptSuffix))
            bytes += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return static_cast<DWORD>((bytes + 1023) / 1024);
}
}  // namespace

int WriteEstimatedSize() {
    HKEY entry = OpenKeyFull(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb");
    if (entry == nullptr) return 0;
    int ok = WriteRegDword(entry, "EstimatedSize", InstalledKilobytes(g_ctx.installDir));
    CloseKey(entry);
    return ok;
}

void WriteUninstallEntry() {
    HKEY uninstall = OpenKeyReadW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    if (uninstall == nullptr) return;
    HKEY entry = CreateKeyFullW(uninstall, L"mofaxwb");
    if (entry == nullptr) {
        CloseKey(uninstall);
        return;
    }
    // Value writes fail silently: the entry is a convenience for the user.
    WriteRegTextW(entry, L"DisplayName", u"墨筏五笔");

    // Without the system directory there is no uninstaller path to record.
    wchar_t systemDir[kSystemDirChars] = {0};
    UINT n = g_sys.getSystemDirectoryW(systemDir, kSystemDirChars);
    char16_t command[kSystemDirChars + 16] = {0};
    if (n > 0 && n < kSystemDirChars &&
        U16Copy(command, sizeof command / sizeof command[0], reinterpret_cast<const char16_t*>(systemDir)) &&
        U16Append(command, sizeof command / sizeof command[0], u"\\mofadel.exe"))
        WriteRegTextW(entry, L"UninstallString", command);

    // What the list of installed programs shows beside the name.
    char icon[sizeof g_ctx.installDir + 16];
    WriteRegText(entry, "DisplayVersion", "7.9");
    WriteRegTextW(entry, L"Publisher", u"" MOFA_VENDOR_NAME);
    if (InInstallDir(icon, "mofatyrk.exe")[0] != '\0') WriteRegText(entry, "DisplayIcon", icon);
    if (g_ctx.installDir[0] != '\0') WriteRegText(entry, "InstallLocation", g_ctx.installDir);
    WriteRegText(entry, "URLInfoAbout", MOFA_VENDOR_SITE);
    WriteRegDword(entry, "NoModify", 1);
    WriteRegDword(entry, "NoRepair", 1);
    CloseKey(entry);
    CloseKey(uninstall);
}
