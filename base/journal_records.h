// The records of the journal file ("<Windows directory>\mofabak\mofajrnl.mfh",
// see base/journal.h): how a run writes them and how the next run reads them
// back. This is the format's one definition, free of Windows headers, so that
// the host tests and fuzzers read a journal exactly as recovery does.
//
// A record: its whole length (4 bytes), the entry, each saved value (then its
// bytes when the value was present), the security descriptor's bytes when
// the entry has one, then a sum of all before it. A record cut short by a
// power loss fails its sum and reads as absent: its change was never made
// (each record is flushed before its change).
//
// Every field is little-endian, and the layout is the same for programs of
// 32 and of 64 bits (the 32-bit program's structs lie so in memory, which the
// asserts below hold; elsewhere each field is written and read by itself):
//   entry, 624 bytes: kind (4) · path (300) · other (300) · root (4: the
//     registry root, a predefined key's handle value) · mark (4: kJournalMark
//     in the records of this version; no meaning in those of earlier ones,
//     which are read the same) · valueCount (4) · security (4: not 0 when a
//     descriptor follows) · securityParts (4)
//   saved value, 728 bytes: sub (200) · name (256 UTF-16 units) · marker (1)
//     · present (1) · 2 unused · type (4) · size (4) · 4 unused (0)
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
    kNotedAhead,     // in memory only (its record is a kCreatedFile one): path is to be made by this
                     // run and has not been yet
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

enum : uint32_t {
    kJournalEntryBytes = 624,
    kJournalValueBytes = 728,
    kJournalMark = 0x314A464D,  // "MFJ1"
};

// The 32-bit program's structs are the records' layout.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define MOFA_JOURNAL_RECORDS_AS_STRUCTS 1
static_assert(sizeof(JournalValue) == kJournalValueBytes && offsetof(JournalValue, name) == 200 &&
                  offsetof(JournalValue, marker) == 712 && offsetof(JournalValue, type) == 716 &&
                  offsetof(JournalValue, size) == 720 && offsetof(JournalValue, data) == 724,
              "the journal's saved value as on the disk");
static_assert(sizeof(JournalEntry) == kJournalEntryBytes && offsetof(JournalEntry, path) == 4 &&
                  offsetof(JournalEntry, other) == 304 && offsetof(JournalEntry, root) == 604 &&
                  offsetof(JournalEntry, values) == 608 && offsetof(JournalEntry, valueCount) == 612 &&
                  offsetof(JournalEntry, security) == 616 && offsetof(JournalEntry, securityParts) == 620,
              "the journal's entry as on the disk");
#endif

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
    JournalEntry entry;           // values meaningless; security not null when it has one
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
