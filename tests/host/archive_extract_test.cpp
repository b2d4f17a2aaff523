// Extraction and verification of payload archives: what lands in the install
// folder, what is refused, and which messages are shown.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cctype>
#include <csignal>
#include <cstring>

#include "archive/mfz.h"
#include "archive_support.h"
#include "base/failure.h"
#include "base/fileops.h"

using namespace archive_test;

namespace {
const std::string kSkin = "冷色瓷面.mfz";  // GBK bytes: 12 of them

// Bytes that do not compress.
std::string Binary(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        s[i] = static_cast<char>(seed >> 24);
    }
    return s;
}

class ExtractTest : public ArchiveFixture {};

TEST_F(ExtractTest, BothVariantsRoundTripByteForByte) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"mofahu4.ime", Binary(70000, 1)}, {kSkin, Binary(3000, 2)}, {"a", "x"}};
    for (bool digest : {true, false}) {
        std::string image = Pack(digest, files);
        EXPECT_EQ(image.substr(0, 2), digest ? "C0" : "MF");
        EXPECT_EQ(image.substr(2, 4), Le32(static_cast<uint32_t>(image.size())));
        EXPECT_EQ(image.substr(6, 4), Le32(3));
        // The entry header sizes of the two variants: the name starts at 12
        // and the first data length sits at 10 + 52 or 10 + 16.
        EXPECT_EQ(image.substr(10, 2), "CF");
        EXPECT_EQ(image.substr(12, 12), std::string("mofahu4.ime\0", 12));

        ASSERT_EQ(Extract(image), 1);
        for (const auto& f : files) EXPECT_EQ(Installed(f.first), f.second) << f.first;
        EXPECT_TRUE(shown_.empty());
        EXPECT_EQ(InstalledNames().size(), 3u);
    }
}

TEST_F(ExtractTest, StoredDigestIsUppercaseMd5OfTheContents) {
    std::string image = Pack(true, {{"abc.txt", "abc"}});
    EXPECT_EQ(image.substr(10 + 18, 34), std::string("900150983CD24FB0D6963F7D28E17F72") + '\0' + '\0');
}

TEST_F(ExtractTest, EmptyAndMissingArchives) {
    EXPECT_EQ(Extract(Header(true, 0)), 1);
    EXPECT_EQ(ExtractArchive(g_ctx.installDir, nullptr, 0, work_.data(), kWorkBufferSize), 0);
    EXPECT_EQ(Extract("C0\x0a\0\0"), 0);  // shorter than a header
    EXPECT_TRUE(InstalledNames().empty());
    EXPECT_TRUE(shown_.empty());
}

TEST_F(ExtractTest, TheFirstFailingEntryEndsTheExtractionAndNamesItself) {
    std::string good1 = Pack(true, {{"first.txt", "first"}});
    std::string big = Pack(true, {{"big.txt", std::string(kMaxEntryDataSize + 1, 'z')}});
    std::string lower = Pack(true, {{"lower.txt", "abc"}});
    std::string corrupt = Pack(true, {{"corrupt.txt", Binary(500, 3)}});
    std::string good2 = Pack(true, {{"last.txt", "last"}});
    // Stored digests are uppercase; the comparison is exact.
    for (size_t i = 28; i < 28 + 32; ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
    corrupt[10 + 56 + 40] ^= 0x55;

    const std::string tails[] = {big.substr(10), lower.substr(10), corrupt.substr(10)};
    const char* names[] = {"big.txt", "lower.txt", "corrupt.txt"};
    for (int bad = 0; bad < 3; ++bad) {
        std::string image = Header(true, 3) + good1.substr(10) + tails[bad] + good2.substr(10);
        ClearFailure();
        EXPECT_EQ(Extract(image), 0);
        EXPECT_EQ(Installed("first.txt"), "first");
        EXPECT_EQ(InstalledNames().size(), 1u) << names[bad];  // nothing after the failure
        EXPECT_TRUE(shown_.empty());  // the caller tells the user, once
        EXPECT_EQ(FirstFailure().userText, std::string("没有成功解压复制") + names[bad] + "文件");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(work_.data())), names[bad]);  // the name slot
    }
}

// The payload is checked whole before anything is written: a damaged or
// missing entry anywhere in it fails the check and names itself.
TEST_F(ExtractTest, TheWholeArchiveIsCheckedBeforeTheFirstWrite) {
    std::string good = Pack(true, {{"first.txt", "first"}, {"last.txt", "last"}});
    const auto check = [this](const std::string& image) {
        ClearFailure();
        return CheckArchiveWhole(reinterpret_cast<const unsigned char*>(image.data()),
                                 static_cast<uint32_t>(image.size()), work_.data(), kWorkBufferSize);
    };
    EXPECT_EQ(check(good), 1);
    std::string damaged = good;
    damaged[damaged.size() - 8] ^= 0x55;  // the last entry's stream
    EXPECT_EQ(check(damaged), 0);
    EXPECT_EQ(FirstFailure().path, std::string("last.txt"));
    std::string shortCount = good;
    shortCount[6] = 3;  // a third entry announced that is not there
    EXPECT_EQ(check(shortCount), 0);
    EXPECT_EQ(check(Pack(false, {{"plain.txt", "no digest"}})), 0);
    EXPECT_TRUE(InstalledNames().empty());

    // What each entry inflates to is kept for the room check, for as many
    // entries as there is room.
    std::string three = Pack(true, {{"a.txt", "1"}, {"b.txt", std::string(70000, 'b')}, {"c.txt", "333"}});
    uint32_t sizes[3] = {7, 7, 7};
    const unsigned char* image = reinterpret_cast<const unsigned char*>(three.data());
    EXPECT_EQ(CheckArchiveWhole(image, static_cast<uint32_t>(three.size()), work_.data(), kWorkBufferSize, sizes, 2), 1);
    EXPECT_EQ(std::vector<uint32_t>(sizes, sizes + 3), (std::vector<uint32_t>{1, 70000, 7}));
}

TEST_F(ExtractTest, WalkStopsAtAMissingMarkerOrAnEntryPastTheEnd) {
    std::string one = Pack(true, {{"one.txt", "1"}}).substr(10);
    std::string two = Pack(true, {{"two.txt", "2"}}).substr(10);

    std::string noMarker = two;
    noMarker[0] = 'X';
    EXPECT_EQ(Extract(Header(true, 2) + one + noMarker), 0);
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{"one.txt"});

    // The second entry's data cut short, its header cut short, its length
    // pointing far past the end, and a count far beyond the entries present.
    std::string huge = two;
    huge.replace(52, 4, Le32(0xFFFFFFF0u));
    for (const std::string& image : {Header(true, 2) + one + two.substr(0, two.size() - 1),
                                     Header(true, 2) + one + two.substr(0, 30), Header(true, 2) + one + huge,
                                     Header(true, 0x7FFFFFFF) + one + two}) {
        ASSERT_EQ(unlink((std::string(g_ctx.installDir) + "one.txt").c_str()), 0);
        EXPECT_EQ(Extract(image), 0);
        EXPECT_EQ(Installed("one.txt"), "1");
    }
    EXPECT_EQ(Installed("two.txt"), "2");  // only from the last image, where it is whole
    EXPECT_TRUE(shown_.empty());            // entries not walked show nothing
}

TEST_F(ExtractTest, NamesThatLeaveTheInstallFolderAreRefused) {
    const std::string outside = dir_ + "/evil.txt";
    const std::vector<std::string> bad = {
        "../evil.txt", "..\\evil.txt", "sub/evil.txt", "c:evil.txt", "..", ".", "CON", "con.txt", "Lpt9.log",
        "nul", "COM1 .x", "aux.", "x.txt.", std::string("\x81\x5C" "evil.txt"),  // trail byte 0x5C
        std::string("\xB0", 1),  // lead byte without trail
        "abcdefghijklmnop",  // fills the 16-byte field: no NUL inside it
    };
    std::string image = Header(true, static_cast<uint32_t>(bad.size()));
    std::string body = Pack(true, {{"x.txt", "payload"}}).substr(10 + 56);
    for (const std::string& name : bad) {
        std::string digest = Pack(true, {{"x.txt", "payload"}}).substr(28, 34);
        image += RawEntry(name, digest, body, static_cast<uint32_t>(body.size()));
        EXPECT_EQ(IsPlainEntryName(name.c_str(), kDigestNameFieldSize), 0) << name;
    }
    ClearFailure();
    EXPECT_EQ(Extract(image), 0);
    EXPECT_TRUE(InstalledNames().empty());
    EXPECT_EQ(ListDir(dir_), std::vector<std::string>{"install"});
    EXPECT_TRUE(shown_.empty());
    EXPECT_EQ(FirstFailure().path, bad[0]);  // the first ends the extraction

    for (const char* good : {"mofahu4.ime", "a", ".hidden", "CONFIG.SYS", "com10.txt", "lpt.txt", "冷色瓷面.mfz"})
        EXPECT_EQ(IsPlainEntryName(good, kDigestNameFieldSize), 1) << good;
    EXPECT_EQ(IsPlainEntryName("冷色瓷面.mfz", kPlainNameFieldSize), 1);  // 12 bytes + NUL fit 14
    EXPECT_EQ(IsPlainEntryName("abcdefghijklm", kPlainNameFieldSize), 1);
    EXPECT_EQ(IsPlainEntryName("abcdefghijklmn", kPlainNameFieldSize), 0);
}

TEST_F(ExtractTest, DecompressionStaysInsideTheWorkArea) {
    // Room for the name slot, 1000 data bytes and the digest behind them.
    const uint32_t area = kWorkNameSlotSize + 1000 + kWorkDigestGap + kDigestTextSize;
    std::string image = Pack(true, {{"fits.txt", std::string(1000, 'f')}, {"over.txt", std::string(1001, 'o')}});
    std::vector<unsigned char> guarded(area + 64, 0xEE);
    EXPECT_EQ(ExtractArchive(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()),
                             static_cast<uint32_t>(image.size()), guarded.data(), area),
              0);
    EXPECT_EQ(Installed("fits.txt"), std::string(1000, 'f'));
    EXPECT_EQ(FailedNames(), std::vector<std::string>{"over.txt"});
    for (uint32_t i = area; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xEE) << i;
}

TEST_F(ExtractTest, PhraseFileIsSealedOnceOnExtraction) {
    const std::string words = "\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1; ";  // two words
    const std::string sealed = words + "MOFA" + Le32(422 + 435 + 403 + 436) + Le32(2);
    ASSERT_EQ(Extract(Pack(true, {{"mofacyzk.bak", words}, {"mofapyck.bak", words}})), 1);
    EXPECT_EQ(Installed("mofacyzk.bak"), sealed);
    EXPECT_EQ(Installed("mofapyck.bak"), words);  // only the phrase file is sealed
    ASSERT_EQ(Extract(Pack(true, {{"mofacyzk.bak", sealed}})), 1);
    EXPECT_EQ(Installed("mofacyzk.bak"), sealed);
}

TEST_F(ExtractTest, ExistingTargetsAreReplaced) {
    WriteAll(std::string(g_ctx.installDir) + "mofahu4.ime", std::string(5000, 'o'));
    ASSERT_EQ(Extract(Pack(true, {{"mofahu4.ime", "new"}})), 1);
    EXPECT_EQ(Installed("mofahu4.ime"), "new");
    EXPECT_EQ(InstalledNames().size(), 1u);
}

TEST_F(ExtractTest, AWriteTheDiskCutsShortLeavesNoPartOfANewFileAndTheEarlierFileWhole) {
    WriteAll(std::string(g_ctx.installDir) + "mofahu4.ime", "the earlier module");
    // Files may grow to 4 KB only, as on a disk that fills up midway.
    struct rlimit limit, earlier;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &earlier), 0);
    limit = earlier;
    limit.rlim_cur = 4096;
    auto action = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    int fresh = Extract(Pack(true, {{"mofadict.dat", Binary(10000, 4)}}));
    int over = Extract(Pack(true, {{"mofahu4.ime", Binary(10000, 5)}}));
    setrlimit(RLIMIT_FSIZE, &earlier);
    signal(SIGXFSZ, action);
    EXPECT_EQ(fresh, 0);
    EXPECT_EQ(over, 0);
    EXPECT_EQ(Installed("mofahu4.ime"), "the earlier module");
    EXPECT_EQ(InstalledNames(), std::vector<std::string>{"mofahu4.ime"});  // no part of the new file, no fresh one
}

TEST_F(ExtractTest, MovingAsideNeverLeavesTheFilesFolder) {
    // In a short name the fifth character from the end is in the folder
    // part: ".../install/x" would become ".../inst2ll/x", another folder.
    ASSERT_EQ(mkdir((dir_ + "/inst2ll").c_str(), 0755), 0);
    std::string path = std::string(g_ctx.installDir) + "x";
    WriteAll(path, "held");
    EXPECT_FALSE(MoveLockedFileAside(path.c_str()));
    EXPECT_EQ(ReadAll(path), "held");
    EXPECT_TRUE(ListDir(dir_ + "/inst2ll").empty());

    std::string module = std::string(g_ctx.installDir) + "mofahu4.ime";
    WriteAll(module, "old");
    EXPECT_TRUE(MoveLockedFileAside(module.c_str()));
    EXPECT_EQ(Installed("mofahu2.ime"), "old");
}

class VerifyTest : public ArchiveFixture {
protected:
    int Verify(const std::string& image, const char* tolerance, uint32_t cap = sizeof report_) {
        return VerifyExtractedFiles(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()),
                                    static_cast<uint32_t>(image.size()), report_, cap, tolerance);
    }
    char report_[512];
};

const char kClosing[] = "有文件没有成功解压，请重新下载安装！\r\n";

TEST_F(VerifyTest, DigestVariantReportsChangedAndMissingFiles) {
    std::string image = Pack(true, {{"mofa320.ime", "a"}, {"b.txt", "b"}, {"c.txt", "c"}, {"d.txt", "d"}});
    ASSERT_EQ(Extract(image), 1);
    EXPECT_EQ(Verify(image, ""), 4);
    EXPECT_STREQ(report_, "");

    WriteAll(std::string(g_ctx.installDir) + "mofa320.ime", "patched");
    WriteAll(std::string(g_ctx.installDir) + "b.txt", "B");
    unlink((std::string(g_ctx.installDir) + "c.txt").c_str());
    EXPECT_EQ(Verify(image, ""), 1);
    EXPECT_EQ(std::string(report_), std::string("mofa320.ime....b.txt....c.txt....") + kClosing);

    // Tolerance is a substring test with one-sided folding: a list in
    // capitals tolerates small names, small names in the list do not
    // tolerate capitals.
    EXPECT_EQ(Verify(image, "x MOFA320.IME B.TXT.. "), 3);
    EXPECT_EQ(std::string(report_), std::string("c.txt....") + kClosing);
    std::string caps = Pack(true, {{"MOFA320.IME", "a"}});
    EXPECT_EQ(Verify(caps, "mofa320.ime"), 0);
}

TEST_F(VerifyTest, PlainVariantChecksOnlyTheSize) {
    std::string image = Pack(false, {{"x.bmp", std::string(4000, 'x')}});
    uint32_t stored = static_cast<uint32_t>(image.size()) - 10 - 20;
    WriteAll(std::string(g_ctx.installDir) + "x.bmp", std::string(stored, 'q'));
    EXPECT_EQ(Verify(image, ""), 1);
    WriteAll(std::string(g_ctx.installDir) + "x.bmp", std::string(stored - 1, 'q'));
    EXPECT_EQ(Verify(image, "x.bmp"), 0);  // the tolerance list is for digests only
    EXPECT_EQ(std::string(report_), std::string("x.bmp....") + kClosing);
}

TEST_F(VerifyTest, ReportNeverOverrunsAndBrokenArchivesAreReported) {
    std::string image = Pack(true, {{"aaaaaaaa.txt", "a"}, {"bbbbbbbb.txt", "b"}});
    std::memset(report_, 0x7E, sizeof report_);
    EXPECT_EQ(Verify(image, "", 60), 0);
    // The closing line is kept: the second name no longer fits before it.
    EXPECT_EQ(std::string(report_), std::string("aaaaaaaa.txt....") + kClosing);
    EXPECT_EQ(Verify(image, "", 20), 0);
    EXPECT_STREQ(report_, "");
    for (size_t i = 60; i < sizeof report_; ++i) ASSERT_EQ(report_[i], 0x7E);

    // The second entry runs past the end: it counts as not done.
    ASSERT_EQ(Extract(image), 1);
    EXPECT_EQ(Verify(image.substr(0, image.size() - 1), ""), 1);
    EXPECT_EQ(std::string(report_), kClosing);
    EXPECT_EQ(VerifyExtractedFiles(g_ctx.installDir, nullptr, 0, report_, sizeof report_, ""), 0);
    EXPECT_EQ(std::string(report_), kClosing);
}

TEST_F(VerifyTest, NamesOutsideTheInstallFolderAreNeverOpened) {
    WriteAll(dir_ + "/secret.txt", "s");
    std::string good = Pack(true, {{"secret.txt", "s"}});
    std::string image = Header(true, 1) + RawEntry("../secret.txt", good.substr(28, 34), good.substr(66), 
                                                  static_cast<uint32_t>(good.size() - 66));
    EXPECT_EQ(Verify(image, ""), 0);
    EXPECT_EQ(std::string(report_), std::string("../secret.txt....") + kClosing);
}
}  // namespace
