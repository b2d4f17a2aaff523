// The look of the input method: the status-window mode and the skin, chosen
// by the user after the install, and the chosen skin's files.
#pragma once

// Verifies the extracted payload, lets the user choose the status-window mode
// and the skin, and extracts the chosen skin.
void InstallSkins();

// 1 when "mfbmp8.mfh" and "mfbmpsx1.bmp" to "mfbmpsx7.bmp" can all be opened
// in installDir.
int SkinFilesPresent();

// Reads an archive file (at most 131,072 bytes) into the work buffer and
// extracts it into installDir; 0 when it cannot be read or an entry failed.
int ExtractArchiveFile(const char* path);
