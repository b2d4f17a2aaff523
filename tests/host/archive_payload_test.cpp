// The payload the build packs, and the packer's command line.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "archive_support.h"

using namespace archive_test;

namespace {
std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = &out[0];
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    EXPECT_NE(rc, static_cast<size_t>(-1)) << utf8;
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<std::string> ManifestNames() {
    std::vector<std::string> names;
    std::string text = ReadAll(MOFA_PAYLOAD_MANIFEST), line;
    for (char c : text) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty() && line[0] != '#') names.push_back(Gbk(line));
        line.clear();
    }
    return names;
}

struct Inflated {
    std::string name;
    std::string data;
    bool digestVariant;
};

std::vector<Inflated> InflateAll(const std::string& image) {
    std::vector<Inflated> out;
    ArchiveWalk walk;
    BeginArchiveWalk(&walk, reinterpret_cast<const unsigned char*>(image.data()), static_cast<uint32_t>(image.size()));
    std::vector<unsigned char> buffer(kMaxEntryDataSize);
    ArchiveEntry entry;
    while (NextArchiveEntry(&walk, &entry)) {
        char name[20];
        CopyEntryName(&entry, name, sizeof name);
        uint32_t produced = 0;
        EXPECT_EQ(InflateEntry(&entry, buffer.data(), kMaxEntryDataSize, &produced), 1) << name;
        std::string data(reinterpret_cast<char*>(buffer.data()), produced);
        if (entry.digestText != nullptr) {
            char digest[34];
            Md5Hex(data.data(), produced, digest);
            EXPECT_STREQ(digest, entry.digestText) << name;
        }
        out.push_back({name, data, walk.digestVariant != 0});
    }
    EXPECT_EQ(walk.end, kWalkComplete);
    return out;
}

uint32_t U32At(const std::string& s, size_t at) {
    uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

class PayloadTest : public ArchiveFixture {};

TEST_F(PayloadTest, HoldsTheManifestInOrderWithMatchingDigests) {
    std::string image = ReadAll(MOFA_BUILT_PAYLOAD);
    ASSERT_EQ(image.substr(0, 2), "C0");
    std::vector<Inflated> entries = InflateAll(image);
    std::vector<std::string> names;
    std::set<std::string> distinct;
    size_t largest = 0;
    for (const Inflated& e : entries) {
        names.push_back(e.name);
        distinct.insert(e.data);
        largest = std::max(largest, e.data.size());
    }
    EXPECT_EQ(names, ManifestNames());
    EXPECT_EQ(names.size(), 91u);
    EXPECT_EQ(distinct.size(), 91u) << "every file distinguishable";
    EXPECT_EQ(largest, 1833364u);

    // The whole payload through the 2 MB work buffer, then the check the
    // skin step makes with its tolerance list (the phrase file is sealed).
    ASSERT_EQ(Extract(image), 1);
    EXPECT_TRUE(shown_.empty());
    char report[4096];
    const char* tolerated = "mofa320.ime mofa321.ime mofa640.ime mofa641.ime mfszsj43.mfh setupw64.exe "
                            "mofacyzk.bak mofatyrk.exe mofatyr6.exe ";
    EXPECT_EQ(VerifyExtractedFiles(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()),
                                   static_cast<uint32_t>(image.size()), report, sizeof report, tolerated),
              91);
    EXPECT_STREQ(report, "");
}

TEST_F(PayloadTest, StandInsCarryWhatSetupLooksFor) {
    std::map<std::string, Inflated> byName;
    for (Inflated& e : InflateAll(ReadAll(MOFA_BUILT_PAYLOAD))) byName[e.name] = e;

    // Real programs of the right kind and bitness, as small as they come, with
    // their payload name and the product text with the version setup patches.
    const struct {
        const char* name;
        uint16_t machine;  // 0x14C i386, 0x8664 x86-64
        bool module;       // a DLL (the IME modules)
        const char* version;
    } programs[] = {
        {"mofa320.ime", 0x14C, true, "6.3"},   {"mofa321.ime", 0x14C, true, "6.3"},
        {"mofa640.ime", 0x8664, true, "6.3"},  {"mofa641.ime", 0x8664, true, "6.3"},
        {"mofahu4.ime", 0x14C, true, "7.9"},   {"mofahu64.ime", 0x8664, true, "7.9"},
        {"setupw64.exe", 0x8664, false, "6.7"}, {"mofadel.exe", 0x14C, false, "7.9"},
        {"mfxdel64.exe", 0x8664, false, "7.9"}, {"mofatyr6.exe", 0x14C, false, "7.9"},
        {"mofatyrk.exe", 0x14C, false, "7.9"},
    };
    const std::u16string product = u"智能墨筏输入平台  ";
    for (const auto& p : programs) {
        const std::string& data = byName[p.name].data;
        ASSERT_GE(data.size(), 0x40u) << p.name;
        EXPECT_EQ(data.substr(0, 2), "MZ") << p.name;
        uint32_t pe = U32At(data, 0x3C);
        ASSERT_LT(pe + 24, data.size()) << p.name;
        EXPECT_EQ(data.substr(pe, 4), std::string("PE\0\0", 4)) << p.name;
        EXPECT_EQ(static_cast<unsigned char>(data[pe + 4]) | static_cast<unsigned char>(data[pe + 5]) << 8, p.machine)
            << p.name;
        EXPECT_EQ((static_cast<unsigned char>(data[pe + 23]) & 0x20) != 0, p.module) << p.name;  // IMAGE_FILE_DLL
        EXPECT_LE(data.size(), 8192u) << p.name;
        EXPECT_NE(data.find(p.name), std::string::npos) << p.name;
        std::u16string text = product + std::u16string(p.version, p.version + 3);
        std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        size_t at = data.find(bytes);
        EXPECT_NE(at, std::string::npos) << p.name;
        EXPECT_LT(at, 131072u) << p.name;
    }

    const std::string& splash = byName["tyrk1.bmp"].data;
    ASSERT_GE(splash.size(), 54u);
    EXPECT_EQ(splash.substr(0, 2), "BM");
    EXPECT_EQ(U32At(splash, 18), 401u);
    EXPECT_EQ(U32At(splash, 22), 310u);
    EXPECT_EQ(splash[28], 24);
    EXPECT_EQ(splash.size(), 54u + 1204u * 310u);

    std::string record(200, '\0');
    record[0x08] = 0x36;
    for (int at : {0x09, 0x0A, 0x0C, 0x0F, 0x13, 0x16, 0x18, 0x24, 0x29, 0x2B, 0x36, 0x3A}) record[at] = 1;
    EXPECT_EQ(byName["mfszsj43.mfh"].data, record);

    // The shipped word lists lose nothing when sealed.
    for (const char* list : {"mofacyzk.bak", "mofapyck.bak"}) {
        std::string words = byName[list].data;
        size_t separators = 0;
        for (size_t at = words.find("; "); at != std::string::npos; at = words.find("; ", at + 2)) ++separators;
        uint32_t length = static_cast<uint32_t>(words.size());
        words.resize(length + 12);
        EXPECT_EQ(SealPhraseFile(reinterpret_cast<unsigned char*>(&words[0]), length), length) << list;
        EXPECT_EQ(U32At(words, length + 8), separators) << list;
        EXPECT_GT(separators, 100u);
    }

    const struct {
        const char* name;
        bool plain;
    } skins[] = {{"冷色瓷面.mfz", true}, {"粉色瓷面.mfz", true}, {"小天使.mfz", true}, {"简短白.mfz", false},
                 {"qxfc.mfz", false}};
    const std::vector<std::string> parts = {"mfbmp8.mfh",   "mfbmpsx1.bmp", "mfbmpsx2.bmp", "mfbmpsx3.bmp",
                                            "mfbmpsx4.bmp", "mfbmpsx5.bmp", "mfbmpsx6.bmp", "mfbmpsx7.bmp"};
    for (const auto& skin : skins) {
        const std::string& archive = byName[skin.name].data;
        EXPECT_LT(archive.size(), 131072u) << skin.name;
        EXPECT_EQ(archive.substr(0, 2), skin.plain ? "MF" : "C0") << skin.name;
        std::vector<std::string> names;
        for (const Inflated& part : InflateAll(archive)) names.push_back(part.name);
        EXPECT_EQ(names, parts) << skin.name;
    }
}

// ---- The packer's command line ----

struct PackerRun {
    int status;
    std::string output;  // standard output and error
};

PackerRun Packer(const std::string& args) {
    std::string command = std::string(MOFA_MFZPACK) + " " + args + " 2>&1";
    PackerRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

size_t Lines(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

class PackerTest : public ArchiveFixture {
protected:
    void SetUp() override {
        ArchiveFixture::SetUp();
        src_ = dir_ + "/src/";
        mkdir(src_.c_str(), 0755);
        WriteAll(src_ + u8"冷色瓷面.mfz", std::string(5000, 's'));
        WriteAll(src_ + "b.txt", "bee");
    }
    std::string src_;
};

TEST_F(PackerTest, NamesAreGbkInsideAndUtf8Outside) {
    std::string archive = dir_ + "/a.mfz", out = dir_ + "/out";
    PackerRun create = Packer("create " + archive + " " + src_ + u8"冷色瓷面.mfz " + src_ + "b.txt");
    ASSERT_EQ(create.status, 0) << create.output;
    std::string image = ReadAll(archive);
    EXPECT_EQ(image.substr(12, 13), std::string("冷色瓷面.mfz") + '\0');  // 12 GBK bytes

    PackerRun list = Packer("list " + archive);
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.output.find(u8"冷色瓷面.mfz"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("5000"), std::string::npos);

    ASSERT_EQ(Packer("extract " + archive + " " + out).status, 0);
    EXPECT_EQ(ReadAll(out + u8"/冷色瓷面.mfz"), std::string(5000, 's'));
    EXPECT_EQ(ListDir(out).size(), 2u);  // no staging folder left behind
    EXPECT_EQ(Packer("verify " + archive + " " + out).status, 0);

    WriteAll(out + u8"/冷色瓷面.mfz", "changed");
    PackerRun verify = Packer("verify " + archive + " " + out);
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.output.find(u8"冷色瓷面.mfz does not match"), std::string::npos) << verify.output;
    EXPECT_EQ(Packer("verify --tolerate " + std::string(u8"冷色瓷面.mfz ") + archive + " " + out).status, 0);
    // Names are tolerated whole, not as a part of another name.
    EXPECT_EQ(Packer("verify --tolerate " + std::string(u8"x冷色瓷面.mfzx ") + archive + " " + out).status, 1);

    // The phrase file is written sealed; a fresh extraction verifies as it is.
    WriteAll(src_ + "mofacyzk.bak", "\xD6\xD0\xB9\xFA; \xC8\xCB\xC3\xF1; ");
    ASSERT_EQ(Packer("create " + archive + " " + src_ + "mofacyzk.bak " + src_ + "b.txt").status, 0);
    const std::string sealed = out + "/sealed";
    ASSERT_EQ(Packer("extract " + archive + " " + sealed).status, 0);
    EXPECT_NE(ReadAll(sealed + "/mofacyzk.bak"), ReadAll(src_ + "mofacyzk.bak"));
    PackerRun fresh = Packer("verify " + archive + " " + sealed);
    EXPECT_EQ(fresh.status, 0) << fresh.output;

    ASSERT_EQ(Packer("create --plain --level 1 " + archive + " " + src_ + "b.txt").status, 0);
    image = ReadAll(archive);
    EXPECT_EQ(image.substr(0, 2), "MF");
    EXPECT_EQ(U32At(image, 2), image.size());
    EXPECT_EQ(U32At(image, 10 + 16), image.size() - 10 - 20);
}

TEST_F(PackerTest, BadInputGivesOneLineAndWritesNothing) {
    std::string archive = dir_ + "/a.mfz";
    WriteAll(archive, "earlier");
    WriteAll(src_ + u8"一二三四五六七八.txt", "x");  // 20 bytes in GBK
    WriteAll(src_ + "empty.txt", "");
    for (const std::string& args : {"create " + archive + " " + src_ + "b.txt " + src_ + "missing.txt",
                                    "create " + archive + " " + src_ + u8"一二三四五六七八.txt",
                                    "create " + archive + " " + src_ + "empty.txt",
                                    "create " + archive + " " + src_ + "b.txt " + src_ + "b.txt",
                                    "create --level 12 " + archive + " " + src_ + "b.txt"}) {
        PackerRun run = Packer(args);
        EXPECT_NE(run.status, 0) << args;
        EXPECT_EQ(Lines(run.output), 1u) << run.output;
        EXPECT_EQ(run.output.compare(0, 9, "mfzpack: "), 0) << run.output;
    }
    EXPECT_EQ(ReadAll(archive), "earlier");
    EXPECT_EQ(ListDir(dir_).size(), 3u) << "no temporary file left";  // install, src, a.mfz
}

TEST_F(PackerTest, DamagedArchivesAreRefusedWithoutHalfWrittenFolders) {
    std::string archive = dir_ + "/a.mfz", out = dir_ + "/out";
    ASSERT_EQ(Packer("create " + archive + " " + src_ + "b.txt " + src_ + u8"冷色瓷面.mfz").status, 0);
    std::string image = ReadAll(archive);

    WriteAll(archive, image.substr(0, image.size() - 3));
    for (const char* command : {"list ", "extract ", "verify "}) {
        PackerRun run = Packer(command + archive + " " + (std::string(command) == "list " ? "" : out));
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.output.find("truncated or corrupt"), std::string::npos) << run.output;
    }
    EXPECT_TRUE(ListDir(out).empty());

    // A digest mismatch in the second entry: its message, and nothing of
    // the first entry either.
    std::string damaged = image;
    size_t second = 10 + 56 + U32At(image, 10 + 52);
    damaged[second + 18] = damaged[second + 18] == 'A' ? 'B' : 'A';
    WriteAll(archive, damaged);
    PackerRun run = Packer("extract " + archive + " " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(u8"mfzpack: 没有成功解压复制冷色瓷面.mfz文件\n"), std::string::npos)
        << run.output;
    EXPECT_TRUE(ListDir(out).empty());
}
}  // namespace
