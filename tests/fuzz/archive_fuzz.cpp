// libFuzzer target over the archive code: the entry walk, extraction into a
// scratch folder (with work areas of many sizes), verification with a small
// report and the sealing of the phrase file. Besides the sanitizers it checks
// that extraction never creates anything outside the install folder.
#include <dirent.h>
#include <linux/magic.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "base/context.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
std::string g_sandbox;  // holds only "install"
volatile uint32_t g_sink;   // keeps the reads of the walk
std::string g_install;
bool g_onTmpfs;            // the sandbox lies on a tmpfs
off_t g_emptySize;         // the size of the empty install folder there
struct timespec g_sandboxTime;  // the sandbox's last seen modification time

int Quiet(const char*, const char*, unsigned) { return kIdOk; }
int QuietW(const char16_t*, const char16_t*, unsigned) { return kIdOk; }

void RemoveSandbox() {
    if (DIR* d = opendir(g_install.c_str())) {
        while (dirent* e = readdir(d)) unlink((g_install + e->d_name).c_str());
        closedir(d);
    }
    rmdir(g_install.c_str());
    rmdir(g_sandbox.c_str());
}

// On a tmpfs when there is one: extraction writes real files, and on a disk
// the file system's own work took most of each run.
bool Setup() {
    char pattern[] = "/dev/shm/mofa-fuzz-XXXXXX";
    char fallback[] = "/tmp/mofa-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    if (made == nullptr) abort();
    g_sandbox = made;
    g_install = g_sandbox + "/install/";
    if (mkdir(g_install.c_str(), 0755) != 0) abort();
    struct statfs fs;
    struct stat st;
    g_onTmpfs = statfs(g_sandbox.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    if (stat(g_install.c_str(), &st) != 0) abort();
    g_emptySize = st.st_size;
    if (stat(g_sandbox.c_str(), &st) != 0) abort();
    g_sandboxTime = st.st_mtim;
    ResetSetupContext();
    if (!StrCopy(g_ctx.installDir, g_install.c_str())) abort();
    g_ui.showW = QuietW;
    g_ui.showA = Quiet;
    atexit(RemoveSandbox);
    return true;
}

// Empties the install folder by listing it; aborts on a folder inside it.
void EmptyInstallFolder() {
    DIR* d = opendir(g_install.c_str());
    if (d == nullptr) abort();
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (unlink((g_install + name).c_str()) != 0) {
            std::fprintf(stderr, "not a plain file in the install folder: %s\n", name.c_str());
            abort();
        }
    }
    closedir(d);
}

// Empties the install folder; aborts when anything appeared beside it or a
// folder appeared inside it. Listing both folders on every run took most of
// the harness's time: now the files the archive names go by name, the
// sandbox is listed only when its modification time says that an entry was
// made or removed in it, and the install folder only when it is not empty
// (on a tmpfs a folder's size counts its entries; elsewhere it is always
// listed).
void CheckAndClean(const unsigned char* image, uint32_t imageSize) {
    ArchiveWalk walk;
    ArchiveEntry entry;
    BeginArchiveWalk(&walk, image, imageSize);
    while (NextArchiveEntry(&walk, &entry)) {
        char name[20];
        CopyEntryName(&entry, name, sizeof name);
        if (name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, "..") != 0 &&
            std::strcmp(name, ".") != 0)
            unlink((g_install + name).c_str());
    }
    struct stat st;
    if (stat(g_install.c_str(), &st) != 0) abort();
    if (!g_onTmpfs || st.st_size != g_emptySize) EmptyInstallFolder();
    if (stat(g_sandbox.c_str(), &st) != 0) abort();
    if (st.st_mtim.tv_sec != g_sandboxTime.tv_sec || st.st_mtim.tv_nsec != g_sandboxTime.tv_nsec) {
        DIR* d = opendir(g_sandbox.c_str());
        if (d == nullptr) abort();
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && name != "install") {
                std::fprintf(stderr, "written outside the install folder: %s\n", name.c_str());
                abort();
            }
        }
        closedir(d);
        g_sandboxTime = st.st_mtim;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = Setup();
    (void)ready;
    static std::vector<unsigned char> fullArea(kWorkBufferSize);
    if (size < 1 || size > (1u << 20)) return 0;

    // The first byte picks the work area; the image is the rest, in a block
    // of its exact size so that any read past it is caught.
    const uint8_t choice = data[0];
    std::vector<unsigned char> image(data + 1, data + size);
    const uint32_t imageSize = static_cast<uint32_t>(image.size());

    ArchiveWalk walk;
    ArchiveEntry entry;
    BeginArchiveWalk(&walk, image.data(), imageSize);
    uint32_t touched = 0;
    while (NextArchiveEntry(&walk, &entry)) {
        if (entry.data + entry.dataSize > image.data() + imageSize) abort();
        if (entry.dataSize > 0) touched += entry.data[entry.dataSize - 1];
        char name[20];
        CopyEntryName(&entry, name, sizeof name);
        IsPlainEntryName(entry.nameField, entry.nameFieldSize);
    }
    if (walk.end == kWalkGoing) abort();

    // With the low bit of the choice set, digest-variant entries get their
    // true digests, so that the writing and sealing paths are reached too.
    if ((choice & 1) != 0 && BeginArchiveWalk(&walk, image.data(), imageSize) && walk.digestVariant) {
        static std::vector<unsigned char> plain(kMaxEntryDataSize);
        while (NextArchiveEntry(&walk, &entry)) {
            uint32_t produced = 0;
            if (!InflateEntry(&entry, plain.data(), kMaxEntryDataSize, &produced)) continue;
            char* digest = const_cast<char*>(entry.digestText);
            Md5Hex(plain.data(), produced, digest);
        }
    }

    if (choice >= 0xF0) {
        ExtractArchive(g_ctx.installDir, image.data(), imageSize, fullArea.data(), kWorkBufferSize);
    } else {
        uint32_t areaSize = static_cast<uint32_t>(choice) * 23u;
        std::vector<unsigned char> area(areaSize);
        ExtractArchive(g_ctx.installDir, image.data(), imageSize, areaSize != 0 ? area.data() : nullptr, areaSize);
    }
    std::vector<char> report(choice % 97 + 1);
    VerifyExtractedFiles(g_ctx.installDir, image.data(), imageSize, report.data(), static_cast<uint32_t>(report.size()),
                         "mofa320.ime MOFACYZK.BAK");
    CheckAndClean(image.data(), imageSize);

    std::vector<unsigned char> phrase(data, data + size);
    phrase.resize(size + 12);
    if (SealPhraseFile(phrase.data(), static_cast<uint32_t>(size)) > size) abort();
    g_sink = touched;
    return 0;
}
