// The journal file's records as recovery reads them: journals the Windows
// build wrote read whole, a record cut short or damaged ends the reading, and
// no field of a record that passes its sum can lead the reader outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/journal_records.h"

namespace {
// A folder's access list allowing everyone everything, self-relative.
const unsigned char kDescriptor[] = {
    1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,  // header: the list at 20
    2, 0, 28, 0, 1, 0, 0, 0,                                           // the list: 28 bytes, one entry
    0, 0, 20, 0, 0xff, 0x01, 0x1f, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};  // allow, S-1-1-0

std::string Descriptor() { return std::string(kDescriptor, kDescriptor + sizeof kDescriptor); }

JournalEntry Entry(const char* path, const char* other = "") {
    JournalEntry e = {};
    std::strcpy(e.path, path);
    std::strcpy(e.other, other);
    return e;
}

std::string Record(JournalEntry e, JournalKind kind, const std::string& security = "") {
    e.security = security.empty() ? nullptr : const_cast<char*>(security.data());
    std::string out(JournalRecordSize(e, static_cast<uint32_t>(security.size())), '\0');
    PutJournalRecord(e, kind, static_cast<uint32_t>(security.size()), reinterpret_cast<unsigned char*>(&out[0]));
    return out;
}

// A registry value record: an earlier REG_SZ value "Name" and an absent one.
std::string ValueRecord() {
    static unsigned char text[] = {'e', 0, 'a', 0, 'r', 0, 0, 0};
    JournalValue values[2] = {};
    std::u16string name = u"Name";
    std::memcpy(values[0].name, name.c_str(), (name.size() + 1) * 2);
    values[0].present = 1;
    values[0].type = 1;
    values[0].size = sizeof text;
    values[0].data = text;
    values[1].name[0] = u'X';
    JournalEntry e = Entry("Software\\mofa");
    e.values = values;
    e.valueCount = 2;
    return Record(e, kValue);
}

// The sum that ends a record, computed anew after a test changed a field.
void Reseal(std::string& record) {
    uint32_t sum = JournalRecordSum(reinterpret_cast<const unsigned char*>(record.data()),
                                    static_cast<uint32_t>(record.size()));
    std::memcpy(&record[record.size() - 4], &sum, 4);
}

template <typename T> void Set(std::string& record, size_t at, T value) {
    std::memcpy(&record[at], &value, sizeof value);
}

struct Reading {
    std::vector<JournalRecord> records;
    uint32_t end = 0;  // where the reading stopped
};

Reading Read(const std::string& image) {
    Reading r;
    JournalRecord record;
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    while (NextJournalRecord(bytes, static_cast<uint32_t>(image.size()), &r.end, &record)) r.records.push_back(record);
    return r;
}

std::string Seed(const char* name) {
    std::ifstream in(std::string(MOFA_FUZZ_SEEDS) + "/" + name, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.empty() ? all : all.substr(1);  // the fuzzer's reader byte first
}

TEST(JournalRecords, JournalsTheWindowsBuildWroteReadWhole) {
    // Journals an upgrade left when killed, and the same records as the
    // 32-bit program wrote them before they carried their version's mark
    // (tests/fuzz/journal_layouts.py): read the same.
    for (const char* seed : {"journal_kinds", "journal_kinds_earlier32"}) {
        SCOPED_TRACE(seed);
        std::string kinds = Seed(seed);
        Reading r = Read(kinds);
        ASSERT_EQ(r.end, kinds.size());
        std::vector<JournalKind> seen;
        for (const JournalRecord& record : r.records) seen.push_back(record.entry.kind);
        EXPECT_EQ(seen, (std::vector<JournalKind>{kCreatedFile, kKeeping, kKeptFile, kSecurity, kCreatedFolder,
                                                  kRenamed, kValue, kTree}));
        const JournalRecord& value = r.records[6];
        JournalValue v;
        const unsigned char* at = value.values;
        ASSERT_TRUE(ReadJournalValue(&at, value.security, &v));
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(v.name)), u"DisplayName");
        std::u16string data(v.size / 2, u'\0');
        std::memcpy(&data[0], v.data, v.size);
        EXPECT_EQ(data, std::u16string(u"earlier", 8));
        EXPECT_EQ(r.records[3].securitySize, 104u);
        EXPECT_NE(r.records[3].entry.security, nullptr);
        EXPECT_EQ(r.records[0].entry.security, nullptr);
        EXPECT_EQ(r.records[7].entry.valueCount, 6);
        // HKEY_LOCAL_MACHINE, as this build holds its handle.
        EXPECT_EQ(reinterpret_cast<intptr_t>(r.records[6].entry.root),
                  static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));
    }
    Reading committed = Read(Seed("journal_committed"));
    ASSERT_EQ(committed.records.size(), 5u);
    EXPECT_EQ(committed.records[4].entry.kind, kCommitted);

    // What this build writes reads back field for field, in the one layout
    // and with its version's mark.
    const std::string kept = Record(Entry("C:\\a.txt", "C:\\a.txt.mfold"), kKeptFile);
    ASSERT_EQ(kept.size(), 4u + kJournalEntryBytes + 4);
    uint32_t mark;
    std::memcpy(&mark, &kept[4 + 608], 4);
    EXPECT_EQ(mark, uint32_t{kJournalMark});
    EXPECT_EQ(kept.substr(4 + 304, 14), "C:\\a.txt.mfold");
    EXPECT_EQ(ValueRecord().size(), 4u + kJournalEntryBytes + 2 * kJournalValueBytes + 8 + 4);
    std::string image = kept + ValueRecord() + Record(Entry("C:\\mofahu"), kSecurity, Descriptor());
    Reading r = Read(image);
    ASSERT_EQ(r.records.size(), 3u);
    EXPECT_STREQ(r.records[0].entry.other, "C:\\a.txt.mfold");
    JournalValue v;
    const unsigned char* at = r.records[1].values;
    ASSERT_TRUE(ReadJournalValue(&at, r.records[1].security, &v));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v.data), v.size), std::string("e\0a\0r\0\0\0", 8));
    ASSERT_TRUE(ReadJournalValue(&at, r.records[1].security, &v));
    EXPECT_EQ(v.data, nullptr);
    EXPECT_EQ(at, r.records[1].security);
    EXPECT_EQ(std::memcmp(r.records[2].security, kDescriptor, sizeof kDescriptor), 0);
}

TEST(JournalRecords, ATornOrDamagedRecordEndsTheReading) {
    const std::string first = Record(Entry("C:\\one"), kCreatedFile), value = ValueRecord();
    const std::string last = Record(Entry("C:\\two"), kCreatedFolder);
    // Cut anywhere, the last record is not read: its change was never made.
    std::string whole = first + value;
    for (size_t cut = 1; cut < value.size(); ++cut) {
        Reading r = Read(whole.substr(0, whole.size() - cut));
        ASSERT_EQ(r.records.size(), 1u) << cut;
        EXPECT_EQ(r.end, first.size()) << cut;
    }
    // A byte changed anywhere in the middle record ends the reading there,
    // though the record after it is whole.
    for (size_t at = 0; at < value.size(); at += 7) {
        std::string damaged = first + value + last;
        damaged[first.size() + at] ^= 0x20;
        Reading r = Read(damaged);
        ASSERT_EQ(r.records.size(), 1u) << at;
        EXPECT_EQ(r.end, first.size()) << at;
    }
    // Only a whole commit mark commits.
    std::string mark = Record(JournalEntry{}, kCommitted);
    for (size_t cut = 1; cut < mark.size(); cut += 13) EXPECT_EQ(Read(first + mark.substr(0, cut)).records.size(), 1u);
    std::string damaged = mark;
    damaged[100] ^= 1;
    EXPECT_EQ(Read(first + damaged).records.size(), 1u);
    Reading r = Read(first + mark);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1].entry.kind, kCommitted);
}

// Records that pass their sum but could not have been written by setup: each
// is refused, never read past.
TEST(JournalRecords, FieldsThatOverrunTheirRecordAreRefused) {
    const std::string first = Record(Entry("C:\\one"), kCreatedFile);
    // The fields' places in a record (base/journal_records.h).
    const size_t entry = 4, values = 4 + kJournalEntryBytes, value2 = values + kJournalValueBytes + 8;
    const size_t security = 4 + kJournalEntryBytes, valueCount = 612, hasSecurity = 616, size = 720, present = 713;
    auto refused = [&](std::string record, const std::function<void(std::string&)>& change, const char* what) {
        change(record);
        Reseal(record);
        Reading r = Read(first + record);
        EXPECT_EQ(r.records.size(), 1u) << what;
        EXPECT_EQ(r.end, first.size()) << what;
    };
    std::string value = ValueRecord(), folder = Record(Entry("C:\\mofahu"), kSecurity, Descriptor());
    // The record's own length.
    refused(value, [](std::string& r) { Set<uint32_t>(r, 0, r.size() + 1); }, "length past the end");
    refused(value, [](std::string& r) { Set<uint32_t>(r, 0, 0xffffffffu); }, "length far past the end");
    refused(value, [](std::string& r) { Set<uint32_t>(r, 0, 8); }, "length shorter than an entry");
    // The entry's fields.
    refused(value, [&](std::string& r) { Set<int32_t>(r, entry, kUndone + 1); }, "a kind no run writes");
    refused(value, [&](std::string& r) { Set<int32_t>(r, entry, -1); }, "a negative kind");
    refused(value, [&](std::string& r) { std::memset(&r[entry + 4], 'a', 300); }, "a path without its end");
    refused(value, [&](std::string& r) { std::memset(&r[entry + 304], 'a', 300); }, "an other path without its end");
    refused(value, [&](std::string& r) { Set<int32_t>(r, entry + valueCount, 3); },
            "more values than the record holds");
    refused(Record(Entry("C:\\two"), kCreatedFolder),
            [&](std::string& r) { Set<int32_t>(r, entry + valueCount, -1); },
            "a negative count of values");
    // A saved value's fields.
    refused(value, [&](std::string& r) { Set<uint32_t>(r, values + size, 0x7fffffff); },
            "value bytes past the record");
    refused(value,
            [&](std::string& r) {
                r[value2 + present] = 1;
                Set<uint32_t>(r, value2 + size, 16);
            },
            "bytes of an absent value");
    refused(value, [&](std::string& r) { std::memset(&r[values], 'a', 200); }, "a sub-key without its end");
    refused(value, [&](std::string& r) { std::memset(&r[values + 200], 'a', 512); }, "a name without its end");
    // The security descriptor: its lists and their entries must lie inside.
    refused(value, [&](std::string& r) { Set<uint32_t>(r, entry + hasSecurity, 1); },
            "a descriptor of no bytes");
    refused(folder, [&](std::string& r) { Set<uint32_t>(r, entry + hasSecurity, 0); },
            "descriptor bytes of an entry without one");
    refused(folder, [&](std::string& r) { r[security + 3] = 0; }, "a descriptor that is not self-relative");
    refused(folder, [&](std::string& r) { r[security + 16] = 44; }, "an access list past the descriptor");
    refused(folder, [&](std::string& r) { r[security + 22] = 29; }, "an access list longer than the descriptor");
    refused(folder, [&](std::string& r) { r[security + 22] = 4; }, "an access list shorter than its header");
    refused(folder, [&](std::string& r) { r[security + 24] = 2; }, "more list entries than the list holds");
    refused(folder, [&](std::string& r) { r[security + 30] = 0; }, "a list entry of no bytes");
    refused(folder, [&](std::string& r) { r[security + 12] = 41; }, "an audit list past the descriptor");
    // Unchanged, both read.
    EXPECT_EQ(Read(first + value + folder).records.size(), 3u);
}
}  // namespace
