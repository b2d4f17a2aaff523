// mfzpack: builds, lists, extracts and verifies payload archives on the
// build host. Names are GBK inside an archive and UTF-8 on the host; the
// extraction and the check go through the same code as setup itself.
//
//   mfzpack create [--plain] [--level N | --zopfli] ARCHIVE FILE...
//   mfzpack list ARCHIVE
//   mfzpack extract ARCHIVE DIR
//   mfzpack verify [--tolerate NAMES] ARCHIVE DIR
#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <limits.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zopfli/zopfli.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "base/failure.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
typedef std::vector<unsigned char> Bytes;

int Fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int Fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::fputs("mfzpack: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    return 1;
}

int Usage() {
    std::fputs(
        "usage: mfzpack create [--plain] [--level N | --zopfli] ARCHIVE FILE...\n"
        "       mfzpack list ARCHIVE\n"
        "       mfzpack extract ARCHIVE DIR\n"
        "       mfzpack verify [--tolerate NAMES] ARCHIVE DIR\n",
        stderr);
    return 2;
}

// Converts between character sets; false when the text has no form in the
// target set.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (ok) out->assign(buffer.data(), buffer.size() - dstLeft);
    return ok;
}

std::string ToUtf8(const std::string& gbk) {
    std::string out;
    return Convert("UTF-8", "GBK", gbk, &out) ? out : gbk;
}

// Messages of the extraction code, printed as UTF-8 one-liners.
int PrintAnsi(const char* text, const char*, unsigned buttons) {
    std::string line = ToUtf8(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::fprintf(stderr, "mfzpack: %s\n", line.c_str());
    return (buttons & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

int PrintWide(const char16_t* text, const char16_t*, unsigned buttons) {
    std::string in(reinterpret_cast<const char*>(text), U16Len(text) * 2), out;
    std::fprintf(stderr, "mfzpack: %s\n", Convert("UTF-8", "UTF-16LE", in, &out) ? out.c_str() : "(message)");
    return (buttons & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

bool ReadWhole(const std::string& path, Bytes* out, std::string* why) {
    out->clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        *why = "not a regular file";
        return false;
    }
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        out->insert(out->end(), chunk, chunk + n);
        if (out->size() > UINT32_MAX) break;
    }
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) *why = "read error";
    if (out->size() > UINT32_MAX) {
        ok = false;
        *why = "larger than 4 GiB";
    }
    return ok;
}

// Writes under a temporary name in the same folder, then renames: the
// archive is either complete or absent.
bool WriteAtomically(const std::string& path, const unsigned char* data, size_t size, std::string* why) {
    std::string temp = path + ".tmpXXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bool ok = done == size && fchmod(fd, 0644) == 0;
    if (!ok) *why = std::strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        *why = std::strerror(errno);
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        *why = std::strerror(errno);
    }
    if (!ok) unlink(temp.c_str());
    return ok;
}

// Windows folds the case of ASCII letters in names, not of the bytes of
// double-byte characters.
bool SameNameFolded(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 0x81 && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1]) return false;
            ++i;
            continue;
        }
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

const char* WalkEndText(int end) {
    switch (end) {
    case kWalkNoHeader: return "shorter than an archive header";
    case kWalkMissingMarker: return "an entry lacks its \"CF\" marker";
    case kWalkTruncated: return "an entry runs past the end of the file";
    default: return "";
    }
}

// Reads an archive and walks it once: every entry header and its data must
// lie inside the file.
bool LoadArchive(const std::string& path, Bytes* image, ArchiveWalk* walk, std::vector<ArchiveEntry>* entries) {
    std::string why;
    if (!ReadWhole(path, image, &why)) {
        Fail("cannot read %s: %s", path.c_str(), why.c_str());
        return false;
    }
    entries->clear();
    BeginArchiveWalk(walk, image->data(), static_cast<uint32_t>(image->size()));
    ArchiveEntry entry;
    while (NextArchiveEntry(walk, &entry)) entries->push_back(entry);
    if (walk->end != kWalkComplete) {
        Fail("%s is truncated or corrupt: %s (entry %zu of %u)", path.c_str(), WalkEndText(walk->end),
             entries->size() + 1, walk->count);
        return false;
    }
    return true;
}

std::string EntryName(const ArchiveEntry& entry) {
    char name[kDigestNameFieldSize + 1];
    CopyEntryName(&entry, name, sizeof name);
    return name;
}

bool SetInstallDir(const std::string& dir) {
    std::string withSlash = dir + "/";
    if (!StrCopy(g_ctx.installDir, withSlash.c_str())) {
        Fail("folder name too long: %s", dir.c_str());
        return false;
    }
    return true;
}

void RemoveTree(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                unlink((dir + "/" + e->d_name).c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

// The zlib stream of data: zopfli's (smallest, slow), or zlib's at level.
bool Pack(const Bytes& data, bool zopfli, int level, Bytes* out) {
    if (zopfli) {
        ZopfliOptions options;
        ZopfliInitOptions(&options);
        unsigned char* packed = nullptr;
        size_t size = 0;
        ZopfliCompress(&options, ZOPFLI_FORMAT_ZLIB, data.data(), data.size(), &packed, &size);
        if (packed == nullptr) return false;
        out->assign(packed, packed + size);
        std::free(packed);
        return true;
    }
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    out->resize(size);
    if (compress2(out->data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) return false;
    out->resize(size);
    return true;
}

int Create(int argc, char** argv) {
    int digestVariant = 1, level = 9, i = 0;
    bool zopfli = false;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0) {
            digestVariant = 0;
        } else if (std::strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 0 || v > 9) return Fail("--level takes 0 to 9, not %s", argv[i]);
            level = static_cast<int>(v);
        } else if (std::strcmp(argv[i], "--zopfli") == 0) {
            zopfli = true;
        } else {
            return Usage();
        }
    }
    if (argc - i < 2) return Usage();
    std::string archive = argv[i++];
    uint32_t field = digestVariant ? kDigestNameFieldSize : kPlainNameFieldSize;

    std::vector<Bytes> contents;
    std::vector<std::string> names;
    uint64_t bound = kArchiveHeaderSize;
    for (; i < argc; ++i) {
        std::string path = argv[i], why, gbk;
        Bytes data;
        if (!ReadWhole(path, &data, &why)) return Fail("cannot read %s: %s", path.c_str(), why.c_str());
        if (data.empty()) return Fail("%s is empty: extraction refuses an entry of 0 bytes", path.c_str());
        if (data.size() > kMaxEntryDataSize)
            return Fail("%s has %zu bytes: extraction holds at most %u per entry", path.c_str(), data.size(),
                        static_cast<unsigned>(kMaxEntryDataSize));
        std::string name = BaseName(path.c_str());
        if (!Convert("GBK", "UTF-8", name, &gbk)) return Fail("the name %s cannot be written in GBK", name.c_str());
        if (gbk.size() >= field)
            return Fail("the name %s takes %zu bytes in GBK; the name field holds at most %u", name.c_str(),
                        gbk.size(), field - 1);
        if (!IsPlainEntryName(gbk.c_str(), field))
            return Fail("the name %s is refused: no separators, \":\", \"..\", device names or trailing dots",
                        name.c_str());
        for (const std::string& other : names)
            if (SameNameFolded(other, gbk)) return Fail("the name %s is given twice", name.c_str());
        bound += ArchiveEntryBound(static_cast<uint32_t>(data.size()));
        names.push_back(gbk);
        contents.push_back(std::move(data));
    }
    if (bound > UINT32_MAX) return Fail("the files are too large for one archive");

    Bytes buffer(static_cast<size_t>(bound));
    ArchiveWriter writer;
    BeginArchive(&writer, buffer.data(), static_cast<uint32_t>(buffer.size()), digestVariant);
    for (size_t k = 0; k < names.size(); ++k) {
        Bytes packed;
        if (!Pack(contents[k], zopfli, level, &packed) ||
            !AppendPackedEntry(&writer, names[k].c_str(), contents[k].data(), static_cast<uint32_t>(contents[k].size()),
                               packed.data(), static_cast<uint32_t>(packed.size())))
            return Fail("cannot pack %s", ToUtf8(names[k]).c_str());
    }
    std::string why;
    if (!WriteAtomically(archive, buffer.data(), writer.size, &why))
        return Fail("cannot write %s: %s", archive.c_str(), why.c_str());
    return 0;
}

int List(int argc, char** argv) {
    if (argc != 1) return Usage();
    Bytes image;
    ArchiveWalk walk;
    std::vector<ArchiveEntry> entries;
    if (!LoadArchive(argv[0], &image, &walk, &entries)) return 1;
    Bytes out(kMaxEntryDataSize);
    int status = 0;
    std::printf("%s: %s variant, %u entries\n", argv[0], walk.digestVariant ? "digest" : "plain", walk.count);
    for (const ArchiveEntry& entry : entries) {
        uint32_t produced = 0;
        char size[16] = "?";
        if (InflateEntry(&entry, out.data(), static_cast<uint32_t>(out.size()), &produced))
            std::snprintf(size, sizeof size, "%u", produced);
        else
            status = 1;
        std::string digest = "-";
        if (entry.digestText != nullptr) digest.assign(entry.digestText, StrLenBounded(entry.digestText, kDigestTextSize));
        std::printf("%-16s %9u %9s %s\n", ToUtf8(EntryName(entry)).c_str(), entry.dataSize, size, digest.c_str());
    }
    if (status != 0) Fail("%s: some entries do not decompress (marked \"?\")", argv[0]);
    return status;
}

int Extract(int argc, char** argv) {
    if (argc != 2) return Usage();
    std::string archive = argv[0], dir = argv[1];
    Bytes image;
    ArchiveWalk walk;
    std::vector<ArchiveEntry> entries;
    if (!LoadArchive(archive, &image, &walk, &entries)) return 1;
    std::vector<std::string> hostNames;
    for (const ArchiveEntry& entry : entries) {
        std::string name = EntryName(entry), utf8;
        if (!Convert("UTF-8", "GBK", name, &utf8)) return Fail("%s: an entry name is not GBK text", archive.c_str());
        hostNames.push_back(utf8);
    }
    if (!MakeDirectory(dir.c_str())) return Fail("cannot create %s: %s", dir.c_str(), std::strerror(errno));

    // Everything lands in a fresh folder inside DIR first, and moves into
    // DIR only when the whole archive extracted.
    std::string staging = dir + "/.mfzpack-XXXXXX";
    if (mkdtemp(&staging[0]) == nullptr) return Fail("cannot write into %s: %s", dir.c_str(), std::strerror(errno));
    Bytes work(kWorkBufferSize);
    int extracted = SetInstallDir(staging) &&
                    ExtractArchive(g_ctx.installDir, image.data(), static_cast<uint32_t>(image.size()), work.data(),
                                   static_cast<uint32_t>(work.size()));
    int status = 0;
    if (!extracted) {
        // The entry the extraction stopped at, in the program's own words.
        if (FirstFailure().set) ShowMessageA(FirstFailure().userText, "", kMbOk);
        status = Fail("%s: not every entry could be extracted; nothing written to %s", archive.c_str(), dir.c_str());
    } else {
        for (size_t k = 0; k < entries.size() && status == 0; ++k) {
            std::string from = staging + "/" + EntryName(entries[k]), to = dir + "/" + hostNames[k];
            if (access(from.c_str(), F_OK) == 0 && rename(from.c_str(), to.c_str()) != 0)
                status = Fail("cannot write %s: %s", to.c_str(), std::strerror(errno));
        }
    }
    RemoveTree(staging);
    return status;
}

// The file's bytes are those extraction writes for the entry: the digest
// variant by digest (the phrase file as extraction seals it), the plain
// variant by size, as setup's own check does.
bool Matches(const ArchiveEntry& entry, const std::string& name, const std::string& path) {
    char digest[kDigestTextSize];
    uint32_t got = FileMd5Hex(path.c_str(), digest);
    if (FileSizeOf(path.c_str()) < 0) return false;
    if (entry.digestText == nullptr) return got >= entry.dataSize;
    if (digest[0] != '\0' && std::strncmp(digest, entry.digestText, kDigestTextSize) == 0) return true;
    if (name != "mofacyzk.bak") return false;
    Bytes data(kMaxEntryDataSize + 12);
    uint32_t produced = 0;
    if (!InflateEntry(&entry, data.data(), kMaxEntryDataSize, &produced)) return false;
    char sealed[kDigestTextSize];
    Md5Hex(data.data(), SealPhraseFile(data.data(), produced) + 12, sealed);
    return sealed[0] != '\0' && std::strncmp(digest, sealed, kDigestTextSize) == 0;
}

int Verify(int argc, char** argv) {
    // Names tolerated whole, separated by blanks.
    std::vector<std::string> tolerated;
    if (argc >= 2 && std::strcmp(argv[0], "--tolerate") == 0) {
        std::string list = argv[1];
        for (size_t at = 0; at < list.size();) {
            size_t blank = list.find(' ', at);
            if (blank == std::string::npos) blank = list.size();
            if (blank > at) tolerated.push_back(list.substr(at, blank - at));
            at = blank + 1;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc != 2) return Usage();
    std::string archive = argv[0], dir = argv[1];
    Bytes image;
    ArchiveWalk walk;
    std::vector<ArchiveEntry> entries;
    if (!LoadArchive(archive, &image, &walk, &entries)) return 1;
    uint32_t good = 0;
    for (const ArchiveEntry& entry : entries) {
        std::string name = EntryName(entry), utf8;
        // A name extraction refuses was never written: it does not match,
        // and no tolerance can make it.
        bool plain = IsPlainEntryName(entry.nameField, entry.nameFieldSize) && Convert("UTF-8", "GBK", name, &utf8);
        bool ok = plain && Matches(entry, name, dir + "/" + utf8);
        for (const std::string& t : tolerated) ok = ok || (plain && entry.digestText != nullptr && t == utf8);
        if (ok)
            ++good;
        else
            std::printf("%s: %s does not match\n", dir.c_str(), ToUtf8(name).c_str());
    }
    std::printf("%u of %u entries match\n", good, walk.count);
    return good == walk.count ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    g_ui.showA = PrintAnsi;
    g_ui.showW = PrintWide;
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "create") return Create(argc - 2, argv + 2);
    if (command == "list") return List(argc - 2, argv + 2);
    if (command == "extract") return Extract(argc - 2, argv + 2);
    if (command == "verify") return Verify(argc - 2, argv + 2);
    return Usage();
}
