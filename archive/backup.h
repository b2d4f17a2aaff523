#pragma once

// Packs the earlier installation's user files into "mofaback.mfz". 1 when the
// backup is complete.
int BackupUserData();

// Extracts the backup over the freshly installed files and reports.
void RestoreUserData();
