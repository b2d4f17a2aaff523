// Links planted in a folder that programs without administrator rights can
// write: every file operation and the log, against a file that is a second
// name of a file elsewhere (a real hard link), a reparse point, a file in a
// folder that is a reparse point, and a file whose handle shows it opened
// elsewhere. Wine reports no Unix symbolic link as a reparse point, so those
// three stand in through the system-call seam; a plain file shows that the
// checks refuse nothing else.
#include <gtest/gtest.h>

#include <string>

#include "base/failure.h"
#include "base/fileops.h"
#include "base/log.h"
#include "base/sysapi.h"
#include "install/sysops.h"
#include "support/winsupport.h"

namespace {
enum Plant { kPlain, kHardLink, kReparseFile, kReparseFolder, kOpenedElsewhere };

const std::string kPlantedBytes = "bytes of a file that only administrators may read or change";

// What the stand-ins of the seam know: the planted file (by its identity)
// and the folder that is a reparse point.
struct Planted {
    Plant plant;
    DWORD volume, indexHigh, indexLow;
    std::string folder;  // without its trailing backslash
    DWORD(WINAPI* realFinalPath)(HANDLE, LPWSTR, DWORD, DWORD);
} g_planted;

bool IsPlanted(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(h, &info) && info.dwVolumeSerialNumber == g_planted.volume &&
           info.nFileIndexHigh == g_planted.indexHigh && info.nFileIndexLow == g_planted.indexLow;
}

BOOL WINAPI InfoWithReparse(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    if (!FileAttributesAndLinks(h, info)) return FALSE;
    // A symbolic link stands in as a hard link to the target reported as a
    // reparse point of one name: its target stays to be looked at.
    if (g_planted.plant == kReparseFile && IsPlanted(h)) {
        info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        info->nNumberOfLinks = 1;
    }
    return TRUE;
}

// A junction swapped in after the folders were checked: the handle's final
// path names a file in the Windows directory.
DWORD WINAPI FinalPathElsewhere(HANDLE h, LPWSTR out, DWORD cap, DWORD flags) {
    if (g_planted.plant != kOpenedElsewhere || !IsPlanted(h)) return g_planted.realFinalPath(h, out, cap, flags);
    const wchar_t elsewhere[] = L"\\\\?\\C:\\windows\\win.ini";
    if (cap < sizeof elsewhere / sizeof elsewhere[0]) return sizeof elsewhere / sizeof elsewhere[0];
    for (size_t i = 0; i < sizeof elsewhere / sizeof elsewhere[0]; ++i) out[i] = elsewhere[i];
    return sizeof elsewhere / sizeof elsewhere[0] - 1;
}

DWORD WINAPI AttributesWithReparseFolder(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    if (g_planted.plant == kReparseFolder && attributes != INVALID_FILE_ATTRIBUTES &&
        _stricmp(path, g_planted.folder.c_str()) == 0)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

class PlantedLinkTest : public ::testing::TestWithParam<Plant> {
protected:
    void SetUp() override {
        ResetSysApi();
        if (GetParam() == kOpenedElsewhere && g_sys.getFinalPathNameByHandleW == nullptr)
            GTEST_SKIP() << "this Windows cannot tell the final path of a handle";
        g_planted = {};
        g_planted.plant = GetParam();
        g_planted.realFinalPath = g_sys.getFinalPathNameByHandleW;
        g_sys.getFileInformationByHandle = InfoWithReparse;
        g_sys.getFileAttributesA = AttributesWithReparseFolder;
        if (g_planted.realFinalPath != nullptr) g_sys.getFinalPathNameByHandleW = FinalPathElsewhere;
        dir_ = ScratchDir("planted");
        folder_ = dir_ + "linked\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        g_planted.folder = folder_.substr(0, folder_.size() - 1);
        target_ = ScratchDir("planted_target") + "target.ini";
        ASSERT_TRUE(WriteBytes(target_, kPlantedBytes));
    }
    void TearDown() override {
        CloseLog();
        ResetSysApi();
        SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    // A file planted in the folder as the case makes it.
    std::string Plant(const char* name) {
        std::string path = folder_ + name;
        if (GetParam() == kHardLink || GetParam() == kReparseFile)
            EXPECT_TRUE(CreateHardLinkA(path.c_str(), target_.c_str(), nullptr)) << GetLastError();
        else
            EXPECT_TRUE(WriteBytes(path, kPlantedBytes));
        HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        BY_HANDLE_FILE_INFORMATION info = {};
        EXPECT_TRUE(GetFileInformationByHandle(h, &info));
        CloseHandle(h);
        if (GetParam() == kHardLink) {
            EXPECT_GE(info.nNumberOfLinks, 2u);  // wine reports a hard link's names
        }
        g_planted.volume = info.dwVolumeSerialNumber;
        g_planted.indexHigh = info.nFileIndexHigh;
        g_planted.indexLow = info.nFileIndexLow;
        return path;
    }
    bool Refused() const { return GetParam() != kPlain; }
    // Refused as a whole: the path itself leads elsewhere.
    bool PathRefused() const { return GetParam() == kReparseFolder || GetParam() == kOpenedElsewhere; }
    void ExpectTargetUntouched(const char* after) {
        EXPECT_EQ(ReadBytes(target_), kPlantedBytes) << after;
    }

    std::string dir_, folder_, target_;
};

TEST_P(PlantedLinkTest, NothingIsReadWrittenOrDeletedThroughIt) {
    std::string path = Plant("read.mfh");
    char bytes[128];
    uint32_t got = 0;
    EXPECT_EQ(ReadFilePrefix(path.c_str(), bytes, sizeof bytes, &got), Refused() ? 0 : 1);
    EXPECT_EQ(got, Refused() ? 0u : kPlantedBytes.size());
    EXPECT_EQ(FileSizeOf(path.c_str()), Refused() ? -1 : static_cast<int64_t>(kPlantedBytes.size()));
    if (Refused()) {
        EXPECT_EQ(KindOfError(LastSystemError()), PathRefused() ? kFailedLinkedFolder : kFailedLinkedFile);
    }

    // Written whole: the link's name gets a fresh file; written in place: refused.
    path = Plant("whole.mfh");
    EXPECT_EQ(static_cast<bool>(WriteWholeFile(path.c_str(), "fresh", 5)), !PathRefused());
    EXPECT_EQ(ReadBytes(path), PathRefused() ? kPlantedBytes : "fresh");
    ExpectTargetUntouched("a whole write");
    path = Plant("inplace.mfh");
    EXPECT_EQ(static_cast<bool>(WriteFileAt(path.c_str(), 0, "XX", 2)), !Refused());
    EXPECT_EQ(ReadBytes(path), Refused() ? kPlantedBytes : "XX" + kPlantedBytes.substr(2));
    ExpectTargetUntouched("a write in place");

    // Copied from: nothing; copied over: a fresh file in the link's place.
    path = Plant("source.mfh");
    std::string copy = dir_ + "copy.mfh";
    EXPECT_EQ(static_cast<bool>(CopyFileOver(path.c_str(), copy.c_str())), !Refused());
    EXPECT_EQ(ReadBytes(copy), Refused() ? "" : kPlantedBytes);
    ASSERT_TRUE(WriteBytes(copy, "copied"));
    path = Plant("over.mfh");
    EXPECT_EQ(static_cast<bool>(CopyFileOver(copy.c_str(), path.c_str())), !PathRefused());
    EXPECT_EQ(ReadBytes(path), PathRefused() ? kPlantedBytes : "copied");
    ExpectTargetUntouched("a copy");
    // Kept (the copy a rollback puts back): never read through it.
    path = Plant("kept.mfh");
    std::string kept = dir_ + "kept.mfh.mfold";
    EXPECT_EQ(CopyToNewFile(path.c_str(), kept.c_str()), Refused() ? 0 : 1);
    EXPECT_EQ(ReadBytes(kept), Refused() ? "" : kPlantedBytes);
    EXPECT_EQ(CopyToNewFile(path.c_str(), kept.c_str()), 0);  // never over a file there

    // Attributes belong to the file the link leads to: not changed.
    path = Plant("readonly.mfh");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    SetArchiveAttribute(path.c_str());
    EXPECT_EQ((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY) != 0, Refused());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Never moved to a name setup uses; deleted: the link's name only.
    path = Plant("from.mfh");
    std::string to = folder_ + "to.mfh";
    EXPECT_EQ(static_cast<bool>(RenameFile(path.c_str(), to.c_str())), !Refused());
    EXPECT_EQ(FileExists(to), !Refused());
    path = Plant("delete.mfh");
    EXPECT_EQ(static_cast<bool>(ForceDeleteFile(path.c_str())), !PathRefused());
    EXPECT_EQ(FileExists(path), PathRefused());
    ExpectTargetUntouched("a delete");
    // A folder that is a junction gets no folder made in it, and no rights.
    EXPECT_EQ(static_cast<bool>(MakeDirectory((folder_ + "sub\\").c_str())), GetParam() != kReparseFolder);
    EXPECT_EQ(GrantUserFullControl(folder_.c_str()), GetParam() == kReparseFolder ? 0 : 1);
}

// The log: a fresh file beside a linked name, whose first line says why;
// where the path itself leads elsewhere, the default place, which says why.
TEST_P(PlantedLinkTest, TheLogIsNotWrittenThroughIt) {
    std::string path = Plant("setup.log");
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string fallback = std::string(temp) + "mofasetup.log";
    DeleteFileA(fallback.c_str());
    int opened = OpenLog(path.c_str());
    Log("a line of the run");
    std::string written = LogPath();
    CloseLog();
    EXPECT_EQ(opened, 1);
    if (!Refused()) {
        EXPECT_EQ(written, path);
        EXPECT_NE(ReadBytes(path).find(" a line of the run\r\n"), std::string::npos);
        return;
    }
    EXPECT_EQ(ReadBytes(path), kPlantedBytes);
    ExpectTargetUntouched("the log");
    if (PathRefused()) {
        EXPECT_EQ(written, fallback);
        std::string text = ReadBytes(fallback);
        EXPECT_NE(text.substr(0, text.find("\r\n")).find("log opened here, not at " + path + ": error "),
                  std::string::npos)
            << text;
        return;
    }
    ASSERT_EQ(written.rfind(path + ".", 0), 0u) << written;
    std::string text = ReadBytes(written);
    size_t firstLineEnd = text.find("\r\n");
    EXPECT_NE(text.substr(0, firstLineEnd).find("not at " + path + ": it is a link"), std::string::npos) << text;
    EXPECT_NE(text.find(" a line of the run\r\n"), std::string::npos) << text;
}

std::string PlantName(const ::testing::TestParamInfo<Plant>& info) {
    static const char* const kNames[] = {"Plain", "HardLink", "ReparseFile", "ReparseFolder", "OpenedElsewhere"};
    return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Plants, PlantedLinkTest,
                         ::testing::Values(kPlain, kHardLink, kReparseFile, kReparseFolder, kOpenedElsewhere),
                         PlantName);

// What a handle opened, as the checks ask it (Vista and later without the
// volume's serial number, else as Windows 2000 and XP tell it): a file's
// names, a folder.
TEST(HandleQuestions, NamesAndAttributesAreToldTheSameEitherWay) {
    ResetSysApi();
    std::string dir = ScratchDir("handle_questions");
    std::string file = dir + "one.ini", second = dir + "two.ini";
    ASSERT_TRUE(WriteBytes(file, "x"));
    auto names = [](const std::string& path, DWORD* attributes) {
        HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        BY_HANDLE_FILE_INFORMATION info = {};
        EXPECT_TRUE(FileAttributesAndLinks(h, &info)) << path;
        CloseHandle(h);
        *attributes = info.dwFileAttributes;
        return info.nNumberOfLinks;
    };
    for (int older = 0; older < 2; ++older) {
        SCOPED_TRACE(older ? "as Windows 2000 and XP tell it" : "as Vista and later tell it");
        if (older) g_sys.getFileInformationByHandleEx = nullptr;
        DeleteFileA(second.c_str());
        DWORD attributes = 0;
        EXPECT_EQ(names(file, &attributes), 1u);
        EXPECT_EQ(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0u);
        ASSERT_TRUE(CreateHardLinkA(second.c_str(), file.c_str(), nullptr));
        EXPECT_EQ(names(file, &attributes), 2u);
        names(dir.substr(0, dir.size() - 1), &attributes);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    ResetSysApi();
}

// A folder named by its short name is where its long name is: a file
// written there is not taken for one opened elsewhere.
TEST(HandleQuestions, AShortNameOnThePathLeadsWhereItsLongNameDoes) {
    ResetSysApi();
    if (g_sys.getFinalPathNameByHandleW == nullptr) GTEST_SKIP() << "this Windows cannot tell the final path";
    std::string dir = ScratchDir("handle_short") + "A Folder With A Long Name";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    char shortName[MAX_PATH];
    DWORD n = GetShortPathNameA(dir.c_str(), shortName, sizeof shortName);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof shortName);
    ASSERT_NE(std::string(shortName), dir) << "no short name here";
    std::string path = std::string(shortName) + "\\written.ini";
    EXPECT_TRUE(WriteWholeFile(path.c_str(), "fresh", 5));
    EXPECT_EQ(ReadBytes(dir + "\\written.ini"), "fresh");
}
}  // namespace
