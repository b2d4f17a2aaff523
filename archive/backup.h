// The user's earlier data across an upgrade: packed into "mofaback.mfz" in
// the earlier installation's directory when the wizard opens, and extracted
// over the fresh install when the user keeps it. Portable: file access only.
#pragma once
#include <cstdint>

// Packs the earlier installation's user files into "mofaback.mfz". 1 when the
// backup is complete.
int BackupUserData();

// Extracts the backup over the freshly installed files and reports.
void RestoreUserData();

// Appends the file to the digest-variant archive at archivePath (created,
// header only, when absent) under its base name. 1 when appended; 0 for an
// empty path, a base name over 12 characters, a name already stored, an
// unreadable file or an archive that is not a whole digest archive.
int AddFileToArchive(const char* archivePath, const char* filePath);

// Gives a phrase file whose last word lacks its "; " the separator, so that
// sealing keeps that word; trailing line ends and blanks go. A file that
// already carries its trailer is left alone. data has room for length + 2
// bytes; returns the new length.
uint32_t EndLastPhrase(unsigned char* data, uint32_t length);

enum : uint32_t {
    kBackupRowCount = 24,
    kBackupNameMax = 12,  // longest base name AddFileToArchive stores
};
