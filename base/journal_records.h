// The records of the journal file ("<Windows directory>\mofabak\mofajrnl.mfh",
// see base/journal.h): how a run writes them and how the next run reads them
// back. This is the format's one definition, free of Windows headers, so that
// the host tests and fuzzers read a journal exactly as recovery does.
//
// A record: its whole length (4 bytes), the entry as it lies in memory (its
// pointers meaningless on the disk), each saved value (the struct, then its
// bytes when the value was present), the security descriptor's bytes when the
// entry has one, then a sum of all before it. A record cut short by a power
// loss fails its sum and reads as absent: its change was never made (each
// record is flushed before its change).
#pragma once
#include <cstddef>
#include <cstdint>

// The Windows types of the fields, of the same sizes elsewhere.
#ifdef _WIN32
typedef wchar_t JournalWchar;
typedef unsigned long JournalDword;
#else
typedef char16_t JournalWchar;
typedef uint32_t JournalDword;
#endif
static_assert(sizeof(JournalWchar) == 2 && sizeof(JournalDword) == 4, "the sizes of Windows' types");

enum JournalKind : int32_t {
    kKeptFile,       // path's earlier bytes are at other
    kKeeping,        // other is being made a copy of path: whole once a kKeptFile record follows
    kCreatedFile,    // path did not exist
    kCreatedFolder,  // path did not exist
    kRenamed,        // path was renamed to other
    kDeleteLater,    // path goes once the run has succeeded
    kValue,          // values[0]: the earlier state of a value of root\path
    kCreatedKey,     // root\path did not exist
    kDeletedKey,     // values: root\path's values before it was deleted
    kTree,           // values: root\path and its sub-keys as they were
    kSecurity,       // security: path's access list (and integrity label) as they were
    kDropped,        // nothing to do
    kCommitted,      // a record of the journal file only: the run succeeded, clean-up remains
    kFreshIn,        // folder path may hold fresh files ("<name>.<16 hex digits>.mfnew") not yet in place
    kUndone,         // a record of the journal file only: the entry whose latest record is number
                     // securityParts (from 1, in the file's order) is undone
};

// A registry value as it was; a marker entry names a sub-key that existed.
struct JournalValue {
    char sub[200];  // sub-key of the entry's key ("" for the key itself)
    JournalWchar name[256];
    uint8_t marker;   // 0 or 1
    uint8_t present;  // 0 or 1: the value existed (its size bytes follow on the disk)
    JournalDword type;
    JournalDword size;
    unsigned char* data;
};

struct JournalEntry {
    JournalKind kind;
    char path[300];
    char other[300];
    void* root;  // the registry root key (HKEY)
    JournalValue* values;
    int32_t valueCount;
    void* security;  // kSecurity: a self-relative security descriptor (Windows': LocalAlloc'd)
    JournalDword securityParts;
};

// The layout journals on the disk have, for programs of 32 and of 64 bits.
static_assert(sizeof(JournalValue) == (sizeof(void*) == 4 ? 728 : 736) && offsetof(JournalValue, name) == 200 &&
                  offsetof(JournalValue, marker) == 712 && offsetof(JournalValue, type) == 716 &&
                  offsetof(JournalValue, size) == 720,
              "the journal's saved value as on the disk");
static_assert(sizeof(JournalEntry) == (sizeof(void*) == 4 ? 624 : 648) && offsetof(JournalEntry, path) == 4 &&
                  offsetof(JournalEntry, other) == 304 &&
                  offsetof(JournalEntry, valueCount) == (sizeof(void*) == 4 ? 612 : 624) &&
                  offsetof(JournalEntry, security) == (sizeof(void*) == 4 ? 616 : 632) &&
                  offsetof(JournalEntry, securityParts) == (sizeof(void*) == 4 ? 620 : 640),
              "the journal's entry as on the disk");

// The sum that ends a record of length bytes: that of all bytes before it.
uint32_t JournalRecordSum(const unsigned char* record, uint32_t length);

// ---- Writing ----

// The bytes of e's record with a security descriptor of securitySize bytes.
uint32_t JournalRecordSize(const JournalEntry& e, uint32_t securitySize);
// e's record, as a record of the given kind, into out (JournalRecordSize
// bytes); the descriptor's bytes are e.security's.
void PutJournalRecord(const JournalEntry& e, JournalKind kind, uint32_t securitySize, unsigned char* out);

// ---- Reading ----

// One record of a journal image, read where it lies.
struct JournalRecord {
    JournalEntry entry;           // its pointers are the disk's: meaningless
    const unsigned char* values;  // its first saved value, for ReadJournalValue
    // Where its values end: the security descriptor's bytes, securitySize of
    // them (0 when the entry has none).
    const unsigned char* security;
    uint32_t securitySize;
};

// Reads the record at *pos of an image of size bytes into r and moves *pos
// past it: 1. 0 where no whole record is: cut short, its sum wrong, or fields
// that do not fit it (a kind no run writes, a text without its end, values
// or a descriptor that overrun it); nothing after that is to be read.
int NextJournalRecord(const unsigned char* image, uint32_t size, uint32_t* pos, JournalRecord* r);

// The saved value at *at (a record's values, then where the call before
// left *at) into v, with v->data pointing at its bytes in the image (v->size
// of them; null when the value was absent, and never to be written through),
// and *at moved past them: 1. 0 when the value does not fit before end (a
// record's security) or a text of it lacks its end.
int ReadJournalValue(const unsigned char** at, const unsigned char* end, JournalValue* v);
