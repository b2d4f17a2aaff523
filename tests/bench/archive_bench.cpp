// Benchmark of the payload archive (not a test; `make bench`):
//  1. ExtractArchive of the built payload against the bound of the same run:
//     uncompress + MD5 + write of the same entries with no archive logic.
//  2. The packer's output size against gzip -9 of the same files.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "base/context.h"
#include "base/strbuf.h"
#include "base/ui.h"

namespace {
const int kRounds = 11;

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
    char pattern[] = "/tmp/mofa-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
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

    // Paired rounds: each extraction beside a bound run, medians of both.
    std::vector<double> extracts, bounds;
    for (int round = 0; round < kRounds; ++round) {
        EmptyFolder(dir);
        auto start = std::chrono::steady_clock::now();
        int ok = ExtractArchive(image.data(), static_cast<uint32_t>(image.size()), work.data(), kWorkBufferSize);
        double t = Millis(std::chrono::steady_clock::now() - start);
        if (!ok) return 1;
        extracts.push_back(t);

        EmptyFolder(dir);
        start = std::chrono::steady_clock::now();
        if (!Bound(jobs, work)) return 1;
        bounds.push_back(Millis(std::chrono::steady_clock::now() - start));
    }
    EmptyFolder(dir);
    rmdir(dir.c_str());
    const double extract = Median(extracts), bound = Median(bounds);

    std::printf("payload: %zu entries, %llu bytes unpacked, %zu bytes packed\n", jobs.size(),
                static_cast<unsigned long long>(unpacked), image.size());
    std::printf("extraction (ExtractArchive):          %8.2f ms (median of %d)\n", extract, kRounds);
    std::printf("bound (uncompress + MD5 + write):     %8.2f ms (median of %d)\n", bound, kRounds);
    std::printf("extraction / bound:                   %8.3f (goal: at most 1.05)\n", extract / bound);

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
