// Benchmark of the payload archive (not a test; `make bench`):
//  1. ExtractArchive of the built payload against the bound of the same run:
//     uncompress + MD5 + write of the same entries with no archive logic;
//     into an empty folder (a first install), then over the files there.
//  2. The inflater alone against zlib's, in memory, on the same entries.
//  3. The packer's output size against gzip -9 of the same files.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "archive/zstream.h"
#include "base/context.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
// Enough paired rounds that a burst of other work on the machine (the disk
// writing back what a build just linked) moves the medians little.
const int kRounds = 31;

std::vector<unsigned char> ReadAll(const char* path) {
    std::vector<unsigned char> out;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return out;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    std::fclose(f);
    return out;
}

void EmptyFolder(const std::string& dir) {
    std::string command = "find '" + dir + "' -mindepth 1 -delete";
    if (std::system(command.c_str()) != 0) std::perror("find");
}

double Millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Job {
    const unsigned char* data;
    uint32_t size;
    std::string path;
};

// The bound: the same entries, decompressed, digested and written, with no
// walk, name checks, digest comparison or removal of earlier files.
bool Bound(const std::vector<Job>& jobs, std::vector<unsigned char>& buffer) {
    for (const Job& job : jobs) {
        uLongf produced = buffer.size();
        if (uncompress(buffer.data(), &produced, job.data, job.size) != Z_OK) return false;
        unsigned char digest[16];
        Md5Bytes(buffer.data(), static_cast<uint32_t>(produced), digest);
        int fd = open(job.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return false;
        bool ok = write(fd, buffer.data(), produced) == static_cast<ssize_t>(produced);
        if (close(fd) != 0 || !ok) return false;
    }
    return true;
}

// Every entry inflated into buffer by setup's inflater (ours) or zlib's.
bool InflateAll(const std::vector<Job>& jobs, std::vector<unsigned char>& buffer, bool ours) {
    for (const Job& job : jobs) {
        if (ours) {
            uint32_t produced = 0;
            if (ZlibInflate(job.data, job.size, buffer.data(), static_cast<uint32_t>(buffer.size()), &produced) !=
                kZDone)
                return false;
        } else {
            uLongf produced = buffer.size();
            if (uncompress(buffer.data(), &produced, job.data, job.size) != Z_OK) return false;
        }
    }
    return true;
}

struct Paired {
    double a, b, ratio;  // medians
    bool ok;
};

// Times a and b in kRounds pairs, each pair in the other order than the one
// before, with before() untimed ahead of each: a burst of other work on the
// machine then lands on both sides alike, and the median of the pairs'
// ratios leaves it out.
template <class A, class B, class Before>
Paired TimePaired(A a, B b, Before before) {
    std::vector<double> as, bs, ratios;
    auto timed = [&](auto run, std::vector<double>& into) {
        before();
        auto start = std::chrono::steady_clock::now();
        bool ok = run();
        into.push_back(Millis(std::chrono::steady_clock::now() - start));
        return ok;
    };
    for (int round = 0; round < kRounds; ++round) {
        bool ok = round % 2 == 0 ? timed(a, as) && timed(b, bs) : timed(b, bs) && timed(a, as);
        if (!ok) return {0, 0, 0, false};
        ratios.push_back(as.back() / bs.back());
    }
    return {Median(as), Median(bs), Median(ratios), true};
}

long GzipSize(const std::string& path) {
    std::string command = "gzip -9 -n -c '" + path + "' | wc -c";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    long size = -1;
    if (std::fscanf(pipe, "%ld", &size) != 1) size = -1;
    pclose(pipe);
    return size;
}

int Quiet(const char* text, const char*, unsigned) {
    std::fprintf(stderr, "bench: extraction reported a failing entry\n");
    (void)text;
    return kIdOk;
}
}  // namespace

int main() {
    std::vector<unsigned char> image = ReadAll(MOFA_BENCH_PAYLOAD);
    if (image.empty()) {
        std::fprintf(stderr, "bench: cannot read %s\n", MOFA_BENCH_PAYLOAD);
        return 1;
    }
    g_ui.showA = Quiet;
    // On a memory file system where there is one: the disk's write-back of
    // other work (a build just linked) then moves neither side, and the
    // writes cost least, which leaves the archive code's own cost plainest.
    char pattern[] = "/dev/shm/mofa-bench-XXXXXX";
    char onDisk[] = "/tmp/mofa-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr && mkdtemp(std::strcpy(pattern, onDisk)) == nullptr) return 1;
    std::string dir = pattern;
    StrCopy(g_ctx.installDir, (dir + "/").c_str());

    std::vector<Job> jobs;
    ArchiveWalk walk;
    ArchiveEntry entry;
    BeginArchiveWalk(&walk, image.data(), static_cast<uint32_t>(image.size()));
    uint64_t unpacked = 0;
    std::vector<unsigned char> work(kWorkBufferSize);
    while (NextArchiveEntry(&walk, &entry)) {
        char name[20];
        CopyEntryName(&entry, name, sizeof name);
        jobs.push_back({entry.data, entry.dataSize, dir + "/" + name});
        uint32_t produced = 0;
        InflateEntry(&entry, work.data(), kMaxEntryDataSize, &produced);
        unpacked += produced;
    }

    // What earlier work left to write back goes to the disk before timing.
    sync();
    auto extract = [&] {
        return ExtractArchive(g_ctx.installDir, image.data(), static_cast<uint32_t>(image.size()), work.data(), kWorkBufferSize) != 0;
    };
    auto bound = [&] { return Bound(jobs, work); };
    auto empty = [&] { EmptyFolder(dir); };
    auto keep = [] {};
    Paired first = TimePaired(extract, bound, empty);
    // The same over the files the last round left: each is then replaced by
    // a whole new file renamed over it (the bound truncates and writes).
    Paired over = TimePaired(extract, bound, keep);
    EmptyFolder(dir);
    rmdir(dir.c_str());
    Paired inflaters = TimePaired([&] { return InflateAll(jobs, work, true); },
                                  [&] { return InflateAll(jobs, work, false); }, keep);
    if (!first.ok || !over.ok || !inflaters.ok) {
        std::fprintf(stderr, "bench: an extraction or an inflate failed\n");
        return 1;
    }

    std::printf("payload: %zu entries, %llu bytes unpacked, %zu bytes packed; written under %s\n", jobs.size(),
                static_cast<unsigned long long>(unpacked), image.size(),
                std::strncmp(pattern, "/dev/shm/", 9) == 0 ? "/dev/shm (memory)" : "/tmp");
    std::printf("(%d paired rounds each, in turn first and second; ratios are medians of each round's)\n", kRounds);
    std::printf("extraction (ExtractArchive):          %8.2f ms (median)\n", first.a);
    std::printf("bound (uncompress + MD5 + write):     %8.2f ms (median)\n", first.b);
    std::printf("extraction / bound:                   %8.3f (goal: at most 1.05)\n", first.ratio);
    std::printf("over the same files (rename / write): %8.3f (%.2f ms / %.2f ms)\n", over.ratio, over.a, over.b);
    std::printf("inflate alone, setup's / zlib's:      %8.3f (%.2f ms / %.2f ms)\n", inflaters.ratio, inflaters.a,
                inflaters.b);

    // The packer against gzip -9, file by file as the archive compresses.
    long gzip = 0;
    std::vector<unsigned char> text = ReadAll(MOFA_BENCH_MANIFEST);
    std::string line;
    size_t files = 0;
    for (unsigned char c : text) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line[0] != '#') {
            long size = GzipSize(std::string(MOFA_BENCH_FILES) + "/" + line);
            if (size < 0) return 1;
            gzip += size;
            ++files;
        }
        line.clear();
    }
    std::printf("packer output:                        %8zu bytes\n", image.size());
    std::printf("gzip -9 of the same %zu files:         %8ld bytes\n", files, gzip);
    std::printf("packer / gzip -9:                     %8.3f\n", static_cast<double>(image.size()) / gzip);
    return 0;
}
