// libFuzzer target over the archive code: the entry walk, extraction into a
// scratch folder (with work areas of many sizes), verification with a small
// report and the sealing of the phrase file. Besides the sanitizers it checks
// that extraction never creates anything outside the install folder.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
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

bool Setup() {
    char pattern[] = "/tmp/mofa-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    g_sandbox = pattern;
    g_install = g_sandbox + "/install/";
    if (mkdir(g_install.c_str(), 0755) != 0) abort();
    ResetSetupContext();
    if (!StrCopy(g_ctx.installDir, g_install.c_str())) abort();
    g_ui.showW = QuietW;
    g_ui.showA = Quiet;
    atexit(RemoveSandbox);
    return true;
}

// Empties the install folder; aborts when anything appeared beside it or a
// folder appeared inside it.
void CheckAndClean() {
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
    d = opendir(g_install.c_str());
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
        ExtractArchive(image.data(), imageSize, fullArea.data(), kWorkBufferSize);
    } else {
        uint32_t areaSize = static_cast<uint32_t>(choice) * 23u;
        std::vector<unsigned char> area(areaSize);
        ExtractArchive(image.data(), imageSize, areaSize != 0 ? area.data() : nullptr, areaSize);
    }
    std::vector<char> report(choice % 97 + 1);
    VerifyExtractedFiles(image.data(), imageSize, report.data(), static_cast<uint32_t>(report.size()),
                         "mofa320.ime MOFACYZK.BAK");
    CheckAndClean();

    std::vector<unsigned char> phrase(data, data + size);
    phrase.resize(size + 12);
    if (SealPhraseFile(phrase.data(), static_cast<uint32_t>(size)) > size) abort();
    g_sink = touched;
    return 0;
}
