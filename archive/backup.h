// The user's earlier data across an upgrade: packed into "mofaback.mfz" in
// the earlier installation's directory when the wizard opens, and extracted
// over the fresh install when the user keeps it. Portable: file access only.
#pragma once
#include <cstdint>

// Finds the earlier installation (the recorded directory, or the install
// directory itself, holding any of the user's data files; previousInstallDir
// then names it) and packs every user file of it that exists into
// "mofaback.mfz", built in a fresh folder that only administrators can write
// (backupArchivePath); a copy is left in the earlier directory. 1 when files
// were kept, 0 when there is nothing to keep, -1 when a file that exists
// could not be kept (nothing is left of the backup then).
int BackupUserData();

// The message that stops the install after a backup returned -1: which file
// could not be read, or where the backup could not be written and why.
void ShowBackupFailure();

// Extracts the backup over the freshly installed files and reports. 1 when
// every kept file came back whole.
int RestoreUserData();

// Puts the files of a backup an earlier run made, and never restored or
// discarded (it died), back into the earlier installation
// (previousInstallDir). 1 when they are back, or when there is no earlier
// installation to put them into.
int RestoreBackupOf(const char* archivePath);

// Removes the backup archive and its folder (the copy in the earlier
// directory stays).
void DiscardBackup();

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
