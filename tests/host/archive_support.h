// Helpers of the archive tests: archives built by hand (also malformed ones),
// a scratch install folder and a recording message seam.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/mfz.h"
#include "base/failure.h"
#include "base/context.h"
#include "base/ui.h"

namespace archive_test {

struct Shown {
    std::string text, caption;
    unsigned buttons;
};
inline std::vector<Shown>* g_shown = nullptr;
inline int RecordA(const char* text, const char* caption, unsigned buttons) {
    g_shown->push_back({text, caption, buttons});
    return kIdOk;
}
inline int RecordW(const char16_t*, const char16_t*, unsigned buttons) {
    g_shown->push_back({"(wide)", "", buttons});
    return kIdOk;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

inline void RemoveTree(const std::string& dir) {
    for (const std::string& name : ListDir(dir)) {
        std::string path = dir + "/" + name;
        if (unlink(path.c_str()) != 0) RemoveTree(path);
    }
    rmdir(dir.c_str());
}

inline std::string Le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

// An archive built with the writer under test.
inline std::string Pack(bool digestVariant, const std::vector<std::pair<std::string, std::string>>& files) {
    uint32_t bound = kArchiveHeaderSize;
    for (const auto& f : files) bound += ArchiveEntryBound(static_cast<uint32_t>(f.second.size()));
    std::string image(bound, '\0');
    ArchiveWriter writer;
    unsigned char* buffer = reinterpret_cast<unsigned char*>(&image[0]);
    EXPECT_EQ(BeginArchive(&writer, buffer, bound, digestVariant), 1);
    for (const auto& f : files)
        EXPECT_EQ(AppendArchiveEntry(&writer, f.first.c_str(), f.second.data(), static_cast<uint32_t>(f.second.size()), 9),
                  1)
            << f.first;
    image.resize(writer.size);
    return image;
}

// One digest-variant entry assembled byte by byte: any name field (cut or
// padded to 16 bytes), any digest text, any stored length.
inline std::string RawEntry(const std::string& nameField, const std::string& digest, const std::string& data,
                            uint32_t storedLength) {
    std::string name = nameField;
    name.resize(kDigestNameFieldSize, '\0');
    std::string text = digest;
    text.resize(kDigestTextSize, '\0');
    return "CF" + name + text + Le32(storedLength) + data;
}

inline std::string Header(bool digestVariant, uint32_t count) {
    return std::string(digestVariant ? "C0" : "MF") + Le32(0) + Le32(count);
}

// The scratch install folder and the message recorder of every archive test.
class ArchiveFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ClearFailure();
        char pattern[] = "/tmp/mofa-archive-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::string install = dir_ + "/install/";
        ASSERT_EQ(mkdir(install.c_str(), 0755), 0);
        std::snprintf(g_ctx.installDir, sizeof g_ctx.installDir, "%s", install.c_str());
        saved_ = g_ui;
        g_shown = &shown_;
        g_ui.showW = RecordW;
        g_ui.showA = RecordA;
        work_.assign(kWorkBufferSize, 0);
    }
    void TearDown() override {
        g_ui = saved_;
        g_shown = nullptr;
        RemoveTree(dir_);
    }
    int Extract(const std::string& image) {
        ClearFailure();
        return ExtractArchive(g_ctx.installDir, reinterpret_cast<const unsigned char*>(image.data()), static_cast<uint32_t>(image.size()),
                              work_.data(), static_cast<uint32_t>(work_.size()));
    }
    std::string Installed(const std::string& name) { return ReadAll(std::string(g_ctx.installDir) + name); }
    std::vector<std::string> InstalledNames() { return ListDir(dir_ + "/install"); }
    // The entry the extraction stopped at: it shows nothing itself, and the
    // caller tells the user.
    std::vector<std::string> FailedNames() {
        EXPECT_TRUE(shown_.empty());
        if (!FirstFailure().set) return {};
        return {FirstFailure().path};
    }

    std::string dir_;
    std::vector<Shown> shown_;
    std::vector<unsigned char> work_;
    SetupUi saved_;
};

}  // namespace archive_test
