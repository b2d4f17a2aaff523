// The ground of the file layer: what changes nothing the journal records
// (reads, sizes, the checked copy, the archive attribute), which the journal
// itself uses to keep and put back copies, and the pieces the changing
// operations of base/fileops.h are made of. The same rules hold: in folders
// others can write, no link planted there is followed (base/safepath.h).
#pragma once
#include <cstdint>

// Reads at most cap bytes from the start of path into buf. Returns 1 when the
// file could be opened (even if it is empty), 0 otherwise; *got = bytes read.
int ReadFilePrefix(const char* path, void* buf, uint32_t cap, uint32_t* got);

// Size of the file in bytes, or -1 when it cannot be opened.
int64_t FileSizeOf(const char* path);

// Sets the archive attribute only (clears read-only, hidden, system).
void SetArchiveAttribute(const char* path);

// Copies src, read through a checked handle (a link planted there is not
// followed), to dst, which must not exist yet, and flushes the copy to the
// disk. 1/0; on failure nothing of dst is left.
int CopyToNewFile(const char* src, const char* dst);

#ifdef _WIN32
#include <windows.h>

#include "base/failure.h"
#include "base/safepath.h"

// For the file layer's own sources.
// The result of an operation that changes a file, in the log: done, or the
// failure of the call just made.
Outcome Logged(int ok, const char* what, const char* path);
// 1 when the verdict lets the operation go on; else the refusal is logged
// with its reason and left as the last error.
int Allowed(PathVerdict verdict, const char* what, const char* path);
bool Exists(const char* path);
// Opens an existing file to read or write it, refusing a planted link.
HANDLE OpenExisting(const char* path, DWORD access, DWORD share, const char* what);
// Writes and closes h; 1 when every byte is on the disk. Flushed before the
// file is put in place, and so before the journal's commit record: a power
// cut after the commit cannot leave a file setup wrote holding zeros.
int WriteAndClose(HANDLE h, const void* data, uint32_t len);
// Removes a file setup made that will not be kept (a fresh file, a copy or a
// new file cut short), keeping the last error. (A run ended for a test
// leaves it, as a kill would.)
void DropFresh(const char* fresh);
// Copies what in holds to out, flushes it to the disk (see WriteAndClose),
// then closes both; the copy keeps the time of the last write. 1 when every
// byte went across.
int CopyAndClose(HANDLE in, HANDLE out);
// What a copy or a comparison reads a file into, a piece at a time.
extern char g_readBuffer[65536];
#endif
