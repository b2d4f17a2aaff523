// Files in folders that programs without administrator rights can write: the
// install folder (setup grants the user full control of it), the earlier
// install folder, "C:\mofahu\" (any user may create it first) and the log's
// folder. Setup runs with administrator rights, so a link planted there (a
// junction or mount point on a folder of the path, a symbolic link or a
// second name of a hard link at the file) would turn each of its reads,
// writes and deletes into one on a file the planter could not reach. Every
// file operation of base/ asks here first: nothing is followed out of such a
// folder. Files in the Windows, system and SysWOW64 directories, and in the
// folder setup makes for its backup, are exempt: only administrators can
// write there.
#pragma once
#include <windows.h>

#include <cstddef>

enum PathVerdict {
    kPathPlain = 0,     // nothing there, or a plain file with one name (or an exempt folder)
    kPathLinkedFile,    // the file is a reparse point or has more than one name
    kPathLinkedFolder,  // a folder on its path is a reparse point
    kPathElsewhere,     // what opened is not at the path asked for (a link swapped in)
};

// Why a verdict refuses, for the log (empty for kPathPlain).
const char* VerdictText(PathVerdict verdict);

// 1 when path's folder is one only administrators can write: no check then.
int InAdminFolder(const char* path);
// A folder setup made that only administrators can write; one at a time.
void TrustFolder(const char* folder);

// The folders on path (path itself too when it ends in a separator): a
// reparse point among them gives kPathLinkedFolder.
PathVerdict CheckFolders(const char* path);

// Opens path (CreateFileA's access, share and disposition; a folder when it
// ends in a separator) without following
// a link at its name, and checks what opened: neither it nor a folder on its
// path a reparse point, exactly one name, and (from Windows Vista on) its
// final path the one asked for. INVALID_HANDLE_VALUE when it cannot be opened
// (*verdict kPathPlain, the error Windows') or when refused (*verdict why).
HANDLE OpenChecked(const char* path, DWORD access, DWORD share, DWORD disposition, PathVerdict* verdict);
// The existing folder at path (its final separator may be missing), opened
// as OpenChecked opens it, sharing everything: for a change of its rights.
HANDLE OpenFolderChecked(const char* path, DWORD access, PathVerdict* verdict);

// What exists at path, opened only to be examined: kPathPlain when nothing
// does, or a plain file or folder.
PathVerdict ExaminePath(const char* path);

// Creates a new file beside path, named path + "." + 16 hex digits no other
// program can predict + suffix, with CREATE_NEW: a name taken first is never
// written into but passed over. fresh gets its name. INVALID_HANDLE_VALUE
// when it could not be made, or was made elsewhere than beside path (then it
// is gone again and *verdict says why).
HANDLE CreateFresh(const char* path, const char* suffix, char* fresh, size_t cap, PathVerdict* verdict);
