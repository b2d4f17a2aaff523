// The journal of a run: what setup changes on the machine is recorded as it
// happens, with what it replaced, so that a run that fails puts everything
// back as it was, and a run that succeeds then drops what it kept.
//
// Files: a file that is replaced or deleted is first kept beside itself
// ("<name>.mfold"); files and folders setup creates, and renames, are
// noted. Registry: the earlier value (or its absence) of every value written
// or deleted, keys created, the values of keys deleted, and the whole of the
// keys that another writer (the input-method manager) is about to change.
// The file and registry operations of base/ do the recording themselves
// while the journal is open; everything here is Windows'.
#pragma once
#include <windows.h>

// Opens the journal: from now on changes are recorded.
void OpenJournal();
// 1 while the journal records.
int JournalOpen();
// Changes in folder (and below) are setup's own scratch: not recorded.
void JournalIgnore(const char* folder);

// The run succeeded: the kept earlier files are deleted (at the next restart
// when a program holds one), moved-aside files too, and the journal closes.
void CommitJournal();
// The run failed: every recorded change is undone, newest first, each step
// in the log. 1 when everything came back; the journal closes.
int RollBackJournal();

// ---- What the file and registry operations record (journal open) ----

// 1 when changes at path are recorded.
int JournalCovers(const char* path);
// Keeps the existing file at path by renaming it to its kept name, so that
// its place is free. 1 when kept; 0 when it could not be (nothing changed).
int KeepFileAside(const char* path);
// Keeps a copy of the existing file at path; it stays where it is. The
// entry's number (for DropKept), or -1 when no copy could be made.
int KeepFileCopy(const char* path);
// Forgets a kept file whose change did not happen after all.
void DropKept(int entry);
// Puts a file kept aside back at once (the change that followed failed).
void PutBackAside(const char* path);
void NoteCreatedFile(const char* path);
void NoteCreatedFolder(const char* path);
void NoteRenamed(const char* from, const char* to);
// A file to delete once the run has succeeded (now, or at the next restart).
void NoteDeleteLater(const char* path);

// Each Keep... returns 1 when the change may be made, 0 when what it would
// replace could not be kept (no memory): the change is then not made.

// Before a value of root\keyPath is written or deleted: its present state.
// A state that cannot be read is left alone by a rollback.
int KeepRegistryValue(HKEY root, const char* keyPath, const char* name);
int NoteCreatedKey(HKEY root, const char* keyPath);
// Before root\keyPath (without sub-keys) is deleted: its values.
int KeepDeletedKey(HKEY root, const char* keyPath);
// Before another program changes root\path: its values and those of its
// sub-keys, so that the key comes back whole.
int KeepRegistryTree(HKEY root, const char* path);
// Before the access list or integrity label of the folder at path changes:
// both as they are (once per path).
int KeepSecurity(const char* path);

// 1 when the journal can record one more change (always while it is
// closed); the operations ask before each change.
int JournalHasRoom();
