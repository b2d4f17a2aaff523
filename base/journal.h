// The journal of a run: what setup changes on the machine is recorded before
// it happens, with what it replaced, so that a run that fails, or dies, puts
// everything back as it was, and a run that succeeds then drops what it kept.
//
// Files: a file that is replaced or deleted is first copied beside itself
// ("<name>.mfold"); files and folders setup creates, and renames, are
// noted. Registry: the earlier value (or its absence) of every value written
// or deleted, keys created, the values of keys deleted, and the whole of the
// keys that another writer (the input-method manager) is about to change.
// The file and registry operations of base/ do the recording themselves
// while the journal is open; everything here is Windows'.
//
// Each record is also written to the journal file of the run folder,
// "<Windows directory>\mofabak\mofajrnl.mfh", and flushed to the disk before
// the change it describes is made; the backup of the user's data lies beside
// it. The folder is made only where administrators alone can write. A run
// that died (a kill, a power loss) leaves the file behind, and the next run
// completes it first: RecoverEarlierJournal.
//
// What the journal holds to, whatever moment a kill or a power cut falls on
// (the kill, failure and power-cut sweeps of the tests rest on these):
//  1. A change is made only after its record is on the disk (written and
//     flushed); a change the journal cannot record is not made at all.
//  2. A record cut short fails its sum and reads as absent, with every record
//     after it: its change was never made.
//  3. A file is replaced or deleted only once a whole copy of it is kept: its
//     record is written before the copy is begun and again once the copy is
//     on the disk; a copy never marked whole is deleted, never put back.
//  4. Every undo may run again (a kill may cut a recovery short) and finds a
//     change recorded but never made: what is back already, or never left,
//     is left alone.
//  5. Each undo done is recorded too, so a later recovery takes up where the
//     last one ended and undoes nothing twice; only a file put back from its
//     kept copy stays to be checked, since a power cut may lose the rename
//     and keep that record.
//  6. The commit record follows the flush of every file the run wrote and of
//     the hives; after it, the clean-up only drops what was kept.
//  7. A run that finds an earlier journal completes it before it changes
//     anything; a run that cannot complete it changes nothing.
//  8. The journal and the backup live where only administrators can write,
//     and an undo never moves, deletes or puts rights on anything through a
//     junction swapped in for a folder (it waits for the next run).
#pragma once
#include <windows.h>

#include "base/failure.h"
#include "base/sysapi.h"

// Opens the journal and its file: from now on changes are recorded. Done
// when open; a failure when the journal file cannot be made (an earlier
// journal is still there, or the run folder cannot be written): nothing may
// change then.
Outcome OpenJournal();
// 1 while the journal records.
int JournalOpen();
// The run folder, made when absent: out gets "<Windows directory>\mofabak\".
// 1/0 (0 also when a link stands at its name).
int RunFolder(char* out, size_t cap);

// The run succeeded: the journal is marked committed on the disk, then the
// kept earlier files are deleted (at the next restart when a program holds
// one), moved-aside files too, and the run folder with the journal and the
// backup goes. 0 when the mark could not be written: the journal stays open
// (nothing was deleted) and the caller rolls back.
int CommitJournal();
// The run failed: every recorded change is undone, newest first, each step
// in the log. 1 when everything came back (the run folder then goes); else
// the journal file stays for the next run to complete. The journal closes.
int RollBackJournal();

// Complete what earlier runs left, before this run changes anything, one
// after the other: the journal file an earlier run left is rolled back (or,
// when committed, its clean-up done; the run folder then goes), then every
// "<Windows directory>\mofabak*" folder that holds a backup of an earlier run
// is handed to restoreBackup (its archive's path; 1 when its files are back)
// and removed. Each: 1 when all is complete; 0 when something could not be
// (the rest is left for the next run, and this one must change nothing).
int RecoverEarlierJournal();
int RestoreEarlierBackups(int (*restoreBackup)(const char* archivePath));

// ---- What the file and registry operations record (journal open) ----

// 1 when changes at path are recorded.
int JournalCovers(const char* path);
// Keeps a whole copy of the existing file at path, on the disk, under a name
// no file has yet; the file stays where it is. The entry's number (for
// DropKept), or -1 when no copy could be kept (the change is not made). A
// file this run made is not copied (the entry is its note's).
int KeepFileCopy(const char* path);
// Forgets a kept file whose change did not happen after all (-1: none).
void DropKept(int entry);
// Each Note... and Keep... returns 1 when the change may be made, 0 when it
// could not be recorded (no memory, the journal file not written): the
// change is then not made. A change recorded but then not made is harmless:
// its undo finds nothing to do.
int NoteCreatedFile(const char* path);
// Files a run is about to make, noted ahead with one flush for them all
// (each would otherwise take one of its own): between these two, only
// NoteCreatedAhead. A note made ahead serves NoteCreatedFile of its path
// later; where a file turns out to be there already, the note is void before
// that file changes. Where the flush fails, each is noted again as it is made.
// (A file another program makes at a noted name after the note, which this
// run never reaches before a kill, is still deleted by the recovery: the
// window a single note leaves between its flush and the file's creation, as
// long as the notes wait for their files.)
void BeginNotingAhead();
void NoteCreatedAhead(const char* path);
void EndNotingAhead();
int NoteCreatedFolder(const char* path);
int NoteRenamed(const char* from, const char* to);
// A file to delete once the run has succeeded (now, or at the next restart).
int NoteDeleteLater(const char* path);
// Before a fresh file is made beside path (once per folder): a run that dies
// before renaming it into place leaves it, and the rollback or clean-up
// removes it.
int NoteFreshBeside(const char* path);

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

// Before each change of a file or the registry: 1 when it must not be made
// (its last error set): the journal has no room to record it, or, in a test
// build, it is the change a test makes fail ("access denied"), or a kill the
// test made has ended the run. A note made ahead for what (a path) whose file
// is there is voided first (1 when that cannot be recorded).
int ChangeRefused(const char* what);

