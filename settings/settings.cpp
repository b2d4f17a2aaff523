// The settings files setup writes into the install directory for the
// installed input method. Write failures are silent: a file that cannot be
// created is skipped.
#include "settings/settings.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/context.h"
#include "base/fileops.h"
#include "base/machine.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "settings/settings_text.h"

namespace {
void WriteInInstallDir(const char* name, const void* data, uint32_t length) {
    char path[260];
    if (InInstallDir(path, name)[0] != '\0') WriteWholeFile(path, data, length);
}
}  // namespace

void WriteSettingsFiles() {
    ResolveInstallDir();
    WriteInInstallDir("wbpybz.mfh", kEditionMarker, sizeof kEditionMarker);
    // The block goes out before its text is rebuilt: "mofadat.dat" carries the
    // text of the previous call.
    WriteInInstallDir("mofadat.dat", g_ctx.settingsBlock, kSettingsBlockSize);
    uint32_t length = BuildSettingsText(g_ctx.settingsBlock);
    WriteInInstallDir("mfnetsj.dat", g_ctx.settingsBlock + kSettingsTextOffset, length);
}

void FillSiteField(void* siteEdit) {
    HWND field = static_cast<HWND>(siteEdit);
    char path[260];
    char text[1000];
    uint32_t got = 0;
    if (InInstallDir(path, "mfnetsj.dat")[0] == '\0' || !ReadFilePrefix(path, text, sizeof text, &got)) {
        SetWindowTextA(field, "");
        return;
    }
    char value[kKeyValueMax + 1];
    FindKeyValue(text, got, "MFNETURL1=", value);
    // siteUrl2 holds 100 bytes; a longer value is cut to fit.
    StrCopyCut(SiteUrl2(), kSiteUrlSize, value);
    SetWindowTextA(field, SiteUrl2());
}

void UpdateImeConfigRecord() {
    if (g_ctx.userDataState == kUserKeepsData) return;  // the restored record is the user's
    unsigned char record[kConfigRecordSize];
    DefaultConfigRecord(record);
    char path[260];
    if (InInstallDir(path, "mfszsj43.mfh")[0] == '\0') return;
    uint32_t got = 0;
    ReadFilePrefix(path, record, sizeof record, &got);
    ApplyConfigRecordChoices(record, g_ctx.oemCodePage, g_ctx.statusWindowMode);
    WriteWholeFile(path, record, sizeof record);
}

void WriteInstallStamp() {
    DWORD ticks = GetTickCount();
    char text[16];
    StrFormat(text, sizeof text, "%d", static_cast<int>(ticks));
    WriteInInstallDir("install.mfh", text, static_cast<uint32_t>(std::strlen(text)));
}
