// The small files the installed input method reads from the install directory.
#pragma once

// Writes "wbpybz.mfh", "mofadat.dat" and "mfnetsj.dat".
void WriteSettingsFiles();
// Pre-fills the site field from an existing "mfnetsj.dat".
void FillSiteField(void* siteEdit);
// Updates the input method's configuration record "mfszsj43.mfh".
void UpdateImeConfigRecord();
// Writes the install stamp "install.mfh".
void WriteInstallStamp();
