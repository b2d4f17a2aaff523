// Where setup installs: the install directory rules, the path files, the
// Windows version and the administrator probe, with the Windows answers
// stood in through g_sys and the Windows directory moved to a scratch folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/entry.h"
#include "base/context.h"
#include "base/machine.h"
#include "base/sysapi.h"
#include "support/winsupport.h"

namespace {
std::string g_programFiles;  // what the stand-in shell answers
bool g_shellFails = false;
DWORD g_major = 6;
std::string g_fixedDrives;   // letters whose drive type is DRIVE_FIXED
std::string g_drivesAsked;

BOOL WINAPI FakeSpecialFolder(HWND, LPSTR out, int, BOOL) {
    if (g_shellFails) return FALSE;
    std::strcpy(out, g_programFiles.c_str());
    return TRUE;
}
BOOL WINAPI FakeVersion(LPOSVERSIONINFOA info) {
    if (info->dwOSVersionInfoSize != 156) return FALSE;  // the EX size is what setup passes
    info->dwMajorVersion = g_major;
    info->dwMinorVersion = 1;
    return TRUE;
}
UINT WINAPI FakeDriveType(LPCSTR root) {
    g_drivesAsked += root[0];
    return g_fixedDrives.find(root[0]) != std::string::npos ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

class LocationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        ResetSysApi();
        scratch_ = ScratchDir("locations");
        UseStandInWindows(scratch_ + "windows");
        g_programFiles = "C:\\Program Files";
        g_shellFails = false;
        g_major = 6;
        g_fixedDrives = "c";
        g_drivesAsked.clear();
        g_sys.getSpecialFolderPathA = FakeSpecialFolder;
        g_sys.getVersionExA = FakeVersion;  // also checks the size setup passes
        g_sys.getDriveTypeA = FakeDriveType;
        DeleteFileA(kDrivePathFile);
    }
    void TearDown() override {
        ResetSysApi();
        DeleteFileA(kDrivePathFile);
    }
    std::string PathFile() const { return g_standIn.windows + "\\mofapath.mfh"; }
    static constexpr const char* kDrivePathFile = "c:\\mofahu\\mofapath.mfh";
    std::string scratch_;
};

TEST_F(LocationsTest, ProgramFilesX86IsCutToTheNativeFolder) {
    g_programFiles = "C:\\Program Files (x86)";
    EXPECT_STREQ(ResolveInstallDir(), "C:\\Program Files\\mofahu\\");

    // Spaces before the "(" go too.
    std::string apps = scratch_ + "Apps";
    CreateDirectoryA(apps.c_str(), nullptr);
    ResetSetupContext();
    g_programFiles = apps + "   (x86)";
    EXPECT_EQ(std::string(ResolveInstallDir()), apps + "\\mofahu\\");
}

TEST_F(LocationsTest, FallsBackToCProgramFiles) {
    g_shellFails = true;
    EXPECT_STREQ(ResolveInstallDir(), "c:\\Program Files\\mofahu\\");

    ResetSetupContext();
    g_shellFails = false;
    g_programFiles = scratch_ + "no such folder";
    EXPECT_STREQ(ResolveInstallDir(), "c:\\Program Files\\mofahu\\");

    // An answer too long for installDir is refused, not cut.
    ResetSetupContext();
    std::string deep = scratch_ + std::string(190, 'd');
    CreateDirectoryA(deep.c_str(), nullptr);
    g_programFiles = deep;
    EXPECT_STREQ(ResolveInstallDir(), "c:\\Program Files\\mofahu\\");
}

TEST_F(LocationsTest, ResolvedDirectoryIsKeptUnlessItLacksTheDriveForm) {
    char* first = ResolveInstallDir();
    g_programFiles = "C:\\windows";
    char* second = ResolveInstallDir();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, g_ctx.installDir);
    EXPECT_STREQ(second, "C:\\Program Files\\mofahu\\");

    std::strcpy(g_ctx.installDir, "E:\\Tools\\mofahu\\");
    EXPECT_STREQ(ResolveInstallDir(), "E:\\Tools\\mofahu\\");

    std::strcpy(g_ctx.installDir, "\\\\server\\share\\mofahu\\");
    g_programFiles = "C:\\Program Files";
    EXPECT_STREQ(ResolveInstallDir(), "C:\\Program Files\\mofahu\\");
}

TEST_F(LocationsTest, PersistWritesBothPathFilesFromVersionSix) {
    std::strcpy(g_ctx.installDir, "C:\\x");
    g_ctx.windowsMajorVersion = 6;
    PersistInstallDir();
    EXPECT_STREQ(g_ctx.installDir, "C:\\x\\");
    EXPECT_EQ(ReadBytes(PathFile()), "C:\\x\\");  // no NUL, no line end
    EXPECT_EQ(ReadBytes(kDrivePathFile), "C:\\x\\");
    EXPECT_NE(g_ctx.systemDir[0], '\0');

    DeleteFileA(kDrivePathFile);
    g_ctx.windowsMajorVersion = 5;
    g_ctx.installDir[0] = '\0';
    PersistInstallDir();
    EXPECT_EQ(ReadBytes(PathFile()), "\\");
    EXPECT_FALSE(FileExists(kDrivePathFile));
}

// "C:\mofahu\" is a folder any user may make first: made a junction (wine
// shows none, so the seam does) or a file, nothing is written into it, and
// the path file in the Windows directory alone decides the result.
DWORD WINAPI DriveDirIsJunction(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    if (_stricmp(path, "c:\\mofahu\\") == 0 || _stricmp(path, "c:\\mofahu") == 0)
        attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

TEST_F(LocationsTest, ADriveFolderThatIsNoPlainFolderGetsNoPathFile) {
    std::strcpy(g_ctx.installDir, "C:\\x\\");
    g_ctx.windowsMajorVersion = 6;
    CreateDirectoryA("c:\\mofahu", nullptr);
    g_sys.getFileAttributesA = DriveDirIsJunction;
    EXPECT_TRUE(PersistInstallDir());
    EXPECT_EQ(ReadBytes(PathFile()), "C:\\x\\");
    EXPECT_FALSE(FileExists(kDrivePathFile));

    ResetSysApi();
    UseStandInWindows(scratch_ + "windows");
    g_sys.getDriveTypeA = FakeDriveType;
    RemoveDirectoryA("c:\\mofahu");
    ASSERT_TRUE(WriteBytes("c:\\mofahu", "a file in the folder's place"));
    EXPECT_TRUE(PersistInstallDir());
    EXPECT_EQ(ReadBytes("c:\\mofahu"), "a file in the folder's place");
    DeleteFileA("c:\\mofahu");
}

TEST_F(LocationsTest, NoFixedDriveSkipsTheSecondPathFile) {
    g_fixedDrives = "";
    EXPECT_STREQ(FindFixedDriveDir(), "");
    EXPECT_EQ(g_drivesAsked, "gfedc");
    std::strcpy(g_ctx.installDir, "C:\\x\\");
    g_ctx.windowsMajorVersion = 6;
    PersistInstallDir();
    EXPECT_EQ(ReadBytes(PathFile()), "C:\\x\\");
    EXPECT_FALSE(FileExists("mofapath.mfh"));
}

TEST_F(LocationsTest, FixedDriveSearchGoesFromGDown) {
    g_fixedDrives = "cd";
    EXPECT_STREQ(FindFixedDriveDir(), "d:\\mofahu\\");
    EXPECT_EQ(g_drivesAsked, "gfed");
    g_fixedDrives = "cdefg";
    EXPECT_STREQ(FindFixedDriveDir(), "g:\\mofahu\\");
}

TEST_F(LocationsTest, ReadPathFileFillsTheEarlierInstallationOnly) {
    WriteBytes(PathFile(), "D:\\earlier\\mofahu\\");
    ReadPathFile();
    EXPECT_STREQ(g_ctx.previousInstallDir, "D:\\earlier\\mofahu\\");
    EXPECT_STREQ(g_ctx.installDir, "");

    // A shorter file after a longer text leaves no tail of the old one.
    WriteBytes(PathFile(), "E:\\m\\");
    ReadPathFile();
    EXPECT_STREQ(g_ctx.previousInstallDir, "E:\\m\\");

    // An overlong file is read only as far as the field holds.
    WriteBytes(PathFile(), std::string(600, 'p'));
    ReadPathFile();
    EXPECT_EQ(std::strlen(g_ctx.previousInstallDir), sizeof g_ctx.previousInstallDir - 1);
    EXPECT_STREQ(g_ctx.installDir, "");

    // No file: no earlier installation, whatever was read before.
    DeleteFileA(PathFile().c_str());
    std::strcpy(g_ctx.previousInstallDir, "read before");
    ReadPathFile();
    EXPECT_STREQ(g_ctx.previousInstallDir, "");
}

TEST_F(LocationsTest, Wow64NeedsVersionSixAndASysWow64Folder) {
    g_major = 6;
    EXPECT_EQ(DetectWow64(), 0);  // the scratch Windows directory has no syswow64
    EXPECT_EQ(g_ctx.windowsMajorVersion, 6);
    EXPECT_EQ(std::string(g_ctx.sysWow64Dir), g_standIn.windows + "\\syswow64");

    CreateDirectoryA((g_standIn.windows + "\\syswow64").c_str(), nullptr);
    EXPECT_EQ(DetectWow64(), 1);

    // 64-bit XP and 2003 count as 32-bit.
    g_major = 5;
    EXPECT_EQ(DetectWow64(), 0);
    EXPECT_EQ(g_ctx.windowsMajorVersion, 5);
}

TEST_F(LocationsTest, PathExistsOpensFilesAndFoldersButNotOnesHeldForWriting) {
    EXPECT_EQ(PathExists(g_standIn.windows.c_str()), 1);
    std::string file = scratch_ + "held.txt";
    WriteBytes(file, "x");
    EXPECT_EQ(PathExists(file.c_str()), 1);
    EXPECT_EQ(PathExists((scratch_ + "absent").c_str()), 0);

    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(PathExists(file.c_str()), 0);  // the probe does not share write access
    CloseHandle(h);
}

// Every name in a folder, ";" after each.
std::string Listing(const std::string& folder) {
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
            names += std::string(found.cFileName) + ";";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The probe leaves nothing behind, whether it passes or not: no path file,
// no folder on the fixed drive, no probe file.
TEST_F(LocationsTest, AdminProbeWritesNothing) {
    std::string before = Listing(g_standIn.windows);
    ResolveInstallDir();
    EXPECT_TRUE(CheckAdminRights());
    EXPECT_EQ(Listing(g_standIn.windows), before);
    EXPECT_FALSE(FileExists(kDrivePathFile));
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\mofahu\\");

    // The earlier installation's directory is read first, and its path file
    // stays as it was.
    ResetSetupContext();
    WriteBytes(PathFile(), "D:\\old\\");
    ResolveInstallDir();
    EXPECT_TRUE(CheckAdminRights());
    EXPECT_STREQ(g_ctx.previousInstallDir, "D:\\old\\");
    EXPECT_EQ(ReadBytes(PathFile()), "D:\\old\\");
    EXPECT_FALSE(FileExists(kDrivePathFile));
}

TEST_F(LocationsTest, AdminProbeFailsWhereTheWindowsDirectoryCannotBeWritten) {
    g_standIn.windows = scratch_ + "missing";  // writes there fail, as without rights
    ResolveInstallDir();
    EXPECT_FALSE(CheckAdminRights());
    EXPECT_FALSE(FileExists(kDrivePathFile));
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\mofahu\\");
}

TEST_F(LocationsTest, NoAdminProbeBeforeVersionSix) {
    g_major = 5;
    ResolveInstallDir();
    g_standIn.windows = scratch_ + "missing";
    EXPECT_TRUE(CheckAdminRights());
    EXPECT_FALSE(FileExists(kDrivePathFile));
}

// A directory chosen on the command line is the install directory wherever
// it is resolved afresh.
TEST_F(LocationsTest, ChosenDirectoryWinsOverTheDefault) {
    std::strcpy(g_ctx.chosenInstallDir, "D:\\Apps\\Mofa\\");
    EXPECT_STREQ(ResolveInstallDir(), "D:\\Apps\\Mofa\\");
    std::memset(g_ctx.installDir, 0, sizeof g_ctx.installDir);
    EXPECT_STREQ(ResolveInstallDir(), "D:\\Apps\\Mofa\\");
}

TEST(HitTest, ButtonEdgesCount) {
    PageRect ok = {40, 245, 140, 270};
    EXPECT_EQ(PointInPageRect(ok, 40, 245), 1);
    EXPECT_EQ(PointInPageRect(ok, 140, 270), 1);
    EXPECT_EQ(PointInPageRect(ok, 141, 270), 0);
    EXPECT_EQ(PointInPageRect(ok, 140, 271), 0);
    EXPECT_EQ(PointInPageRect(ok, 39, 250), 0);
    // lParam coordinates are unsigned 16-bit halves: never negative.
    EXPECT_EQ(PointInPageRect(ok, 0xFFFF, 250), 0);
}
}  // namespace
