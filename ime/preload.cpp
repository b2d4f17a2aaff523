#include "ime/preload.h"

#include <windows.h>

#include "base/context.h"
#include "base/machine.h"
#include "base/registry.h"
#include "base/strbuf.h"
#include "ime/layoutid.h"

LayoutTables g_layouts;

namespace {
const char kUserLayoutKey[] = "keyboard layout";
const char kDefaultUserLayoutKey[] = ".DEFAULT\\keyboard layout";

struct PreloadWrite {
    int number;  // preload number, 1..49
    const char* id;
};

void PreloadName(char (&name)[4], int number) { StrFormat(name, sizeof name, "%d", number); }

// NT: values "<number>" of <hive>\<base>\preload. false when <base> does not
// open, which stops the whole operation; a preload key that does not open
// only skips this hive.
bool WriteNtPreload(HKEY hive, const char* base, const PreloadWrite* writes, int count) {
    HKEY layout = OpenKeyRead(hive, base);
    if (layout == nullptr) return false;
    HKEY preload = OpenKeyFull(layout, "preload");
    for (int i = 0; preload != nullptr && i < count; ++i) {
        char name[4];
        PreloadName(name, writes[i].number);
        WriteRegText(preload, name, writes[i].id);  // preload writes fail silently
    }
    CloseKey(preload);
    CloseKey(layout);
    return true;
}

// 9x: default values of the sub-keys "<number>" of the user's preload key;
// sub-keys that do not open are skipped.
void Write9xPreload(const PreloadWrite* writes, int count) {
    HKEY layout = OpenKeyRead(HKEY_CURRENT_USER, kUserLayoutKey);
    if (layout == nullptr) return;
    HKEY preload = OpenKeyRead(layout, "preload");
    for (int i = 0; preload != nullptr && i < count; ++i) {
        char name[4];
        PreloadName(name, writes[i].number);
        HKEY sub = OpenKeyFull(preload, name);
        if (sub == nullptr) continue;
        WriteRegText(sub, nullptr, writes[i].id);
        CloseKey(sub);
    }
    CloseKey(preload);
    CloseKey(layout);
}

// Writes to the user's list and, on NT, the same entries to the default
// user's list.
void WritePreload(const PreloadWrite* writes, int count) {
    if (IsWin9xFamily()) {
        Write9xPreload(writes, count);
        return;
    }
    if (!WriteNtPreload(HKEY_CURRENT_USER, kUserLayoutKey, writes, count)) return;
    WriteNtPreload(HKEY_USERS, kDefaultUserLayoutKey, writes, count);
}

// Reads ids into preloadIds. NT: until the first value that is missing or
// does not fit its 10-byte slot. 9x: until the first numbered sub-key that
// does not open; a sub-key whose value cannot be read leaves its slot empty.
// Returns the count, or -1 when the user's keyboard-layout key does not open.
int ReadPreloadIds() {
    int count = 0;
    if (IsWin9xFamily()) {
        HKEY preload = OpenKeyRead(HKEY_CURRENT_USER, "keyboard layout\\preload");
        if (preload == nullptr) return -1;
        for (; count < static_cast<int>(kPreloadSlots); ++count) {
            char name[4];
            PreloadName(name, count + 1);
            HKEY sub = OpenKeyRead(preload, name);
            if (sub == nullptr) break;
            if (!ReadRegText(sub, nullptr, g_layouts.preloadIds[count], kPreloadIdSize)) g_layouts.preloadIds[count][0] = '\0';
            CloseKey(sub);
        }
        CloseKey(preload);
        return count;
    }
    HKEY layout = OpenKeyRead(HKEY_CURRENT_USER, kUserLayoutKey);
    if (layout == nullptr) return -1;
    HKEY preload = OpenKeyRead(layout, "preload");
    for (; preload != nullptr && count < static_cast<int>(kPreloadSlots); ++count) {
        char name[4];
        PreloadName(name, count + 1);
        if (!ReadRegText(preload, name, g_layouts.preloadIds[count], kPreloadIdSize)) break;
    }
    CloseKey(preload);
    CloseKey(layout);
    return count;
}
}  // namespace

int ReadPreloadList() {
    RefreshWindowsVersionWord();
    int count = ReadPreloadIds();
    if (count <= 0) return 0;

    HKEY layouts = OpenKeyRead(HKEY_LOCAL_MACHINE, kLayoutsKey);
    if (layouts == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        // A layout whose key or text does not read keeps the slot's text; an
        // empty id names no layout (and would open the layouts key itself).
        if (g_layouts.preloadIds[i][0] == '\0') {
            g_layouts.preloadTexts[i][0] = '\0';
            continue;
        }
        HKEY sub = OpenKeyRead(layouts, g_layouts.preloadIds[i]);
        if (sub == nullptr) continue;
        ReadRegText(sub, "layout text", g_layouts.preloadTexts[i], kLayoutTextSize);
        CloseKey(sub);
    }
    CloseKey(layouts);
    g_ctx.preloadCount = count;
    return count;
}

int FindProductInPreload() {
    g_ctx.productInPreload = kProductNotInPreload;
    g_ctx.productPreloadPosition = 0;
    g_ctx.preloadCount = 0;
    int count = ReadPreloadList();
    for (int i = 0; i < count; ++i) {
        if (IsProductPreloadText(g_layouts.preloadTexts[i])) {
            g_ctx.productPreloadPosition = i + 1;
            g_ctx.productInPreload = kProductInPreload;
            return 1;
        }
    }
    return 0;
}

void PromotePreloadEntry() {
    if (g_ctx.productInPreload != kProductInPreload || g_ctx.preloadCount < 3 || g_ctx.productPreloadPosition < 3 ||
        g_ctx.windowsMajorVersion > 5)
        return;
    RefreshWindowsVersionWord();
    if (!PromoteListEntry(g_layouts.preloadIds, g_ctx.preloadCount, g_ctx.productPreloadPosition)) return;

    PreloadWrite writes[kPreloadSlots];
    int count = 0;
    for (int number = 2; number <= g_ctx.preloadCount; ++number)
        writes[count++] = PreloadWrite{number, g_layouts.preloadIds[number - 1]};
    WritePreload(writes, count);
}

void SwapFirstPreloadEntries() {
    RefreshWindowsVersionWord();
    // With fewer than two entries the swap would write an empty id as the
    // user's first input language.
    if (g_ctx.preloadCount < 2) return;
    const char* first = g_layouts.preloadIds[0];
    const char* second = g_layouts.preloadIds[1];
    if (IsWin9xFamily()) {
        const PreloadWrite writes[] = {{2, first}, {1, second}};
        WritePreload(writes, 2);
    } else {
        const PreloadWrite writes[] = {{1, second}, {2, first}};
        WritePreload(writes, 2);
    }
}
