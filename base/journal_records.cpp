#include "base/journal_records.h"

#include <cstring>

namespace {
// The least a record holds: its length, the entry and its sum.
const uint32_t kLeastRecord = 4 + kJournalEntryBytes + 4;

unsigned char* Put(unsigned char* out, const void* data, uint32_t n) {
    std::memcpy(out, data, n);
    return out + n;
}

// The fields as they lie: every program that reads or writes journals runs
// on a little-endian processor.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the journal's fields are little-endian");

uint32_t U16(const unsigned char* p) {
    uint16_t n;
    std::memcpy(&n, p, 2);
    return n;
}

[[maybe_unused]] uint32_t U32(const unsigned char* p) {
    uint32_t n;
    std::memcpy(&n, p, 4);
    return n;
}

void PutU32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The entry's 624 bytes, as a record of the given kind.
unsigned char* PutEntry(unsigned char* at, const JournalEntry& e, JournalKind kind, uint32_t securitySize) {
#ifdef MOFA_JOURNAL_RECORDS_AS_STRUCTS
    std::memcpy(at, &e, kJournalEntryBytes);
#else
    std::memset(at, 0, kJournalEntryBytes);
    std::memcpy(at + 4, e.path, sizeof e.path);
    std::memcpy(at + 304, e.other, sizeof e.other);
    PutU32(at + 604, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e.root)));
    PutU32(at + 612, static_cast<uint32_t>(e.valueCount));
    PutU32(at + 620, e.securityParts);
#endif
    PutU32(at, static_cast<uint32_t>(kind));
    PutU32(at + 608, kJournalMark);
    PutU32(at + 616, securitySize != 0 ? 1 : 0);
    return at + kJournalEntryBytes;
}

unsigned char* PutValue(unsigned char* at, const JournalValue& v) {
#ifdef MOFA_JOURNAL_RECORDS_AS_STRUCTS
    std::memcpy(at, &v, kJournalValueBytes);
#else
    std::memset(at, 0, kJournalValueBytes);
    std::memcpy(at, v.sub, sizeof v.sub);
    std::memcpy(at + 200, v.name, sizeof v.name);
    at[712] = v.marker;
    at[713] = v.present;
    PutU32(at + 716, v.type);
    PutU32(at + 720, v.size);
#endif
    PutU32(at + 724, 0);
    return at + kJournalValueBytes;
}

void GetEntry(const unsigned char* at, JournalEntry* e) {
#ifdef MOFA_JOURNAL_RECORDS_AS_STRUCTS
    std::memcpy(e, at, kJournalEntryBytes);
#else
    *e = JournalEntry();
    e->kind = static_cast<JournalKind>(U32(at));
    std::memcpy(e->path, at + 4, sizeof e->path);
    std::memcpy(e->other, at + 304, sizeof e->other);
    // A predefined key's handle, as a 64-bit program holds it (sign-extended).
    e->root = reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int32_t>(U32(at + 604))));
    e->valueCount = static_cast<int32_t>(U32(at + 612));
    e->security = U32(at + 616) != 0 ? const_cast<unsigned char*>(at) : nullptr;
    e->securityParts = U32(at + 620);
#endif
}

void GetValue(const unsigned char* at, JournalValue* v) {
#ifdef MOFA_JOURNAL_RECORDS_AS_STRUCTS
    std::memcpy(v, at, kJournalValueBytes);
#else
    std::memcpy(v->sub, at, sizeof v->sub);
    std::memcpy(v->name, at + 200, sizeof v->name);
    v->marker = at[712];
    v->present = at[713];
    v->type = U32(at + 716);
    v->size = U32(at + 720);
#endif
}

// Whether a text of n characters of unit bytes each ends inside them.
bool Ends(const void* text, uint32_t n, uint32_t unit) {
    for (const unsigned char* p = static_cast<const unsigned char*>(text); n > 0; --n, p += unit)
        if (p[0] == 0 && p[unit - 1] == 0) return true;
    return false;
}

// A self-relative security descriptor of size bytes whose access lists lie
// inside it, with each of their entries: Windows reads them where the
// descriptor's offsets say, for as many bytes as their own sizes say. (Its
// owner and group are never read: only the lists are put back.)
bool DescriptorWhole(const unsigned char* sd, uint32_t size) {
    if (size < 20 || sd[0] != 1 || (sd[3] & 0x80) == 0) return false;  // revision 1, self-relative
    for (const unsigned char* part = sd + 12; part < sd + 20; part += 4) {  // the audit list, then the access list
        uint32_t at;
        std::memcpy(&at, part, 4);
        if (at == 0) continue;
        if (at > size - 8) return false;
        const unsigned char* acl = sd + at;
        uint32_t length = U16(acl + 2), ace = 8;
        if (length < 8 || length > size - at) return false;
        for (uint32_t n = U16(acl + 4); n > 0; --n) {
            uint32_t step = length - ace < 4 ? 0 : U16(acl + ace + 2);
            if (step < 4 || step > length - ace) return false;
            ace += step;
        }
    }
    return true;
}
}  // namespace

uint32_t JournalRecordSum(const unsigned char* record, uint32_t length) {
    uint32_t sum = 0x6d6f6661;
    for (uint32_t i = 0; i + 4 < length; ++i) sum = ((sum << 5) | (sum >> 27)) ^ record[i];
    return sum;
}

uint32_t JournalRecordSize(const JournalEntry& e, uint32_t securitySize) {
    uint32_t size = kLeastRecord + securitySize;
    for (int i = 0; i < e.valueCount; ++i) size += kJournalValueBytes + (e.values[i].present ? e.values[i].size : 0);
    return size;
}

void PutJournalRecord(const JournalEntry& e, JournalKind kind, uint32_t securitySize, unsigned char* out) {
    // The entry, with the record's kind in place of its own.
    unsigned char* at = PutEntry(out + 4, e, kind, securitySize);
    for (int i = 0; i < e.valueCount; ++i) {
        const JournalValue& v = e.values[i];
        at = PutValue(at, v);
        if (v.present) at = Put(at, v.data, v.size);
    }
    if (securitySize != 0) at = Put(at, e.security, securitySize);
    uint32_t size = static_cast<uint32_t>(at + 4 - out);
    std::memcpy(out, &size, 4);
    uint32_t sum = JournalRecordSum(out, size);
    std::memcpy(at, &sum, 4);
}

int NextJournalRecord(const unsigned char* image, uint32_t size, uint32_t* pos, JournalRecord* r) {
    uint32_t start = *pos, length, sum;
    if (start > size || size - start < kLeastRecord) return 0;
    const unsigned char* at = image + start;
    std::memcpy(&length, at, 4);
    if (length < kLeastRecord || length > size - start) return 0;
    std::memcpy(&sum, at + length - 4, 4);
    if (sum != JournalRecordSum(at, length)) return 0;
    const unsigned char* end = at + length - 4;
    JournalEntry& e = r->entry;
    GetEntry(at + 4, &e);
    at += 4 + kJournalEntryBytes;
    if (static_cast<uint32_t>(e.kind) > kUndone || !Ends(e.path, sizeof e.path, 1) ||
        !Ends(e.other, sizeof e.other, 1) || e.valueCount < 0)
        return 0;
    r->values = at;
    JournalValue v;
    for (int32_t i = 0; i < e.valueCount; ++i)
        if (!ReadJournalValue(&at, end, &v)) return 0;
    // What remains before the sum is the security descriptor's, when the
    // entry had one.
    r->security = at;
    r->securitySize = static_cast<uint32_t>(end - at);
    if (e.security != nullptr ? !DescriptorWhole(at, r->securitySize) : r->securitySize != 0) return 0;
    *pos = start + length;
    return 1;
}

int ReadJournalValue(const unsigned char** at, const unsigned char* end, JournalValue* v) {
    if (static_cast<size_t>(end - *at) < kJournalValueBytes) return 0;
    GetValue(*at, v);
    *at += kJournalValueBytes;
    uint32_t bytes = v->present ? v->size : 0;
    v->data = v->present ? const_cast<unsigned char*>(*at) : nullptr;
    if (!Ends(v->sub, sizeof v->sub, 1) || !Ends(v->name, sizeof v->name / 2, 2) ||
        bytes > static_cast<size_t>(end - *at))
        return 0;
    *at += bytes;
    return 1;
}
