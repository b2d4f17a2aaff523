// A failed upgrade leaves the earlier version as it was. A silent upgrade
// over a prepared earlier installation (modules in both system directories,
// its layout registered and in the preload list, user files, path file) runs
// once cleanly, counting the operations that change a file or the registry,
// then once for each k with the k-th of them made to fail. After each run
// either the new version is installed (0 or 3010), or the run reports 1603
// and every file and registry value is as before.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "app/entry.h"
#include "archive/backup.h"
#include "archive/mfz.h"
#include "base/context.h"
#include "base/failure.h"
#include "base/fileops.h"
#include "base/journal.h"
#include "base/journal_records.h"
#include "base/log.h"
#include "base/machine.h"
#include "base/sysapi.h"
#include "install/plan.h"
#include "install/sysops.h"
#include "base/ui.h"
#include "support/winsupport.h"

namespace {
const char kScratchKey[] = "Software\\mofatest_rollback";
const char kLayouts[] = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const char kSignInEntries[] = "Software\\Microsoft\\Active Setup\\Installed Components";
std::string g_programFiles;

BOOL WINAPI StandInProgramFiles(HWND, LPSTR out, int, BOOL) {
    std::strcpy(out, g_programFiles.c_str());
    return TRUE;
}
UINT WINAPI NoFixedDrive(LPCSTR) { return DRIVE_NO_ROOT_DIR; }
// A fixed drive F: that is not there: the second path file cannot be written.
UINT WINAPI MissingFixedDriveF(LPCSTR root) { return (root[0] | 0x20) == 'f' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR; }
BOOL WINAPI NoProgramStarted(LPCSTR, UINT) { return TRUE; }
void WINAPI NoPause(DWORD) {}

void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

// The input-method manager as Windows has it: the product's layout key gets
// its values, written straight to the registry.
HKL WINAPI InstallIme(LPCWSTR, LPCWSTR) {
    SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "Ime File", "MOFAHU4.IME");
    SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "Layout Text", "智能墨筏输入平台  7.9");
    return reinterpret_cast<HKL>(static_cast<uintptr_t>(0xE0200804u));
}

// Every key, value, type and byte below key, one line each.
void Dump(HKEY key, const std::string& path, std::string& out) {
    char name[256];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        out += path + "|" + name + "|" + std::to_string(type) + "|" + std::string(reinterpret_cast<char*>(data), size) + "\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY sub = nullptr;
        out += path + "\\" + name + "\n";
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
        Dump(sub, path + "\\" + name, out);
        RegCloseKey(sub);
    }
}

// Every file below dir with its bytes; the backups a failed run keeps (in
// folders of their own under the Windows directory) left out.
void Files(const std::string& dir, std::string& out) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == ".." || name.compare(0, 7, "mofabak") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out += dir + name + "\\\n";
            Files(dir + name + "\\", out);
        } else {
            out += dir + name + "=" + ReadBytes(dir + name) + "\n";
        }
    } while (FindNextFileA(h, &found));
    FindClose(h);
}

class RollbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* files[][2] = {{"mofa320.ime", "first 32"},      {"mofa321.ime", "first 32 b5"},
                                  {"mofa640.ime", "first 64"},      {"mofa641.ime", "first 64 b5"},
                                  {"mofahu4.ime", "new module 32"}, {"mofahu64.ime", "new module 64"},
                                  {"mofadel.exe", "uninstaller"},   {"mfxdel64.exe", "uninstaller 64"},
                                  {"mofatyrk.exe", "manager"},      {"mofatyr6.exe", "manager 6"},
                                  {"setupw64.exe", "companion"},    {"mofacyzk.bak", "\xD6\xD0\xB9\xFA; "},
                                  {"mofapyck.bak", "pinyin"},       {"mofadwdw.txt", "shipped list"},
                                  {"mfszsj43.mfh", "shipped record"}};
        payload_.assign(1 << 16, 0);
        ArchiveWriter writer;
        ASSERT_EQ(BeginArchive(&writer, payload_.data(), static_cast<uint32_t>(payload_.size()), 1), 1);
        for (const auto& f : files) {
            ASSERT_EQ(AppendArchiveEntry(&writer, f[0], f[1], static_cast<uint32_t>(std::strlen(f[1])), 9), 1);
            contents_[f[0]] = f[1];
        }
        payloadSize_ = writer.size;
        work_.assign(kWorkBufferSize, 0);
    }

    void TearDown() override {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_USERS, nullptr);
        for (HKEY key : scratch_) RegCloseKey(key);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchKey);
        ResetSysApi();
    }

    // The earlier installation, afresh: its files, modules, path file and
    // registration, in stood-in folders and a scratch registry; with
    // earlier false, a machine that never had the product.
    void PrepareEarlier(bool earlier = true) {
        for (HKEY key : scratch_) RegCloseKey(key);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_USERS, nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchKey);
        const char* names[3] = {"hklm", "hkcu", "hku"};
        for (int i = 0; i < 3; ++i)
            RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kScratchKey) + "\\" + names[i]).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &scratch_[i], nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_[0]);
        RegOverridePredefKey(HKEY_CURRENT_USER, scratch_[1]);
        RegOverridePredefKey(HKEY_USERS, scratch_[2]);
        SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\00000804", "layout text", "Chinese");
        if (earlier) {
            SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "layout text", "智能墨筏输入平台  6.3");
            SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "IME file", "MOFAHU4.IME");
        }
        SetText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "other", "x.exe");
        // Every Windows has sign-in entries of its own components.
        SetText(HKEY_LOCAL_MACHINE, std::string(kSignInEntries) + "\\{other}", "Version", "1,0");
        if (earlier) {
            SetText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb",
                    "DisplayName", "earlier");
            // An earlier install's sign-in entry (no version yet) and program:
            // a failed run puts both back.
            SetText(HKEY_LOCAL_MACHINE, std::string(kSignInEntries) + "\\{F3951D3A-9E0F-4286-B337-2F0115AACDC9}",
                    "StubPath", "earlier command");
        }
        SetText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform",
                "tyrk6300", "");
        SetText(HKEY_CURRENT_USER, "keyboard layout\\preload", "1", "00000804");
        if (earlier) SetText(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "e0200804");
        SetText(HKEY_USERS, ".DEFAULT\\keyboard layout\\preload", "1", "00000804");

        root_ = ScratchDir("rollback");
        UseStandInWindows(root_ + "windows", 6);
        // The system's input.dll, whose list of the user's input methods
        // (the scratch HKCU's) a run changes only once it has committed.
        // (Loaded by the first run, it stays through the next ones.)
        CopyFileA(BesideTestProgram("inputdll.dll").c_str(), (root_ + "windows\\system32\\input.dll").c_str(), TRUE);
        CreateDirectoryA((root_ + "windows\\syswow64").c_str(), nullptr);
        g_programFiles = root_ + "Program Files";
        CreateDirectoryA(g_programFiles.c_str(), nullptr);
        install_ = g_programFiles + "\\mofahu\\";
        if (earlier) {
            CreateDirectoryA(install_.c_str(), nullptr);
            WriteBytes(root_ + "windows\\mofapath.mfh", install_);
            WriteBytes(root_ + "windows\\system32\\mofahu4.ime", "earlier module 64");
            WriteBytes(root_ + "windows\\syswow64\\mofahu4.ime", "earlier module 32");
            WriteBytes(root_ + "windows\\syswow64\\mofauser.exe", "earlier sign-in program");
            for (const char* name : {"mofadwdw.txt", "mfszsj43.mfh", "mofacyzk.mfh", "userck.txt", "mofatyrk.exe"})
                WriteBytes(install_ + name, std::string("the user's ") + name);
        }
        g_sys.getSpecialFolderPathA = StandInProgramFiles;
        g_sys.getDriveTypeA = NoFixedDrive;
        g_sys.startProgram = NoProgramStarted;
        g_sys.sleep = NoPause;
        g_sys.immInstallIMEW = InstallIme;
    }

    std::string Snapshot() {
        std::string out;
        for (HKEY key : scratch_) Dump(key, "", out);
        Files(root_, out);
        return out;
    }

    // A silent upgrade (or a wizard's, the window's steps left out) with the
    // failAt-th operation failing, or the run ended at moment crashAt as a
    // kill would end it; its exit code. What an earlier run left is
    // completed first, as the entry does.
    // A run's context as the entry sets it: mode, code page, the payload and
    // the work buffer, the earlier installation and the install directory.
    void BeginRun(int runMode) {
        ResetSetupContext();
        g_ctx.runMode = runMode;
        g_ctx.oemCodePage = 936;
        g_ctx.payloadData = payload_.data();
        g_ctx.payloadSize = payloadSize_;
        g_ctx.workBuffer = work_.data();
        ReadPathFile();
        ResolveInstallDir();
    }

    int Upgrade(unsigned long failAt, int runMode = kRunSilent, unsigned long crashAt = 0) {
        g_sys.operations = g_sys.moments = 0;
        g_sys.failAt = failAt;
        g_sys.crashAt = crashAt;
        g_sys.abandoned = 0;
        if (failAt == 27) OpenLog("C:\\mofatest\\k27.log");
        BeginRun(runMode);
        int code = RecoverEarlierRun() ? ExitCodeOf(RunInstallPlan()) : kExitFailed;
        EXPECT_FALSE(JournalOpen());  // the plan settles its journal
        g_ctx.workBuffer = nullptr;
        CloseLog();
        return code;
    }

    // signInWhole: the run's sign-in entry may have failed (an install goes
    // on without it), but never so that it would mark users as served
    // without running its program.
    void ExpectInstalled(unsigned long k, bool signInWhole = true) {
        EXPECT_EQ(ReadBytes(root_ + "windows\\system32\\mofahu4.ime"), contents_["mofahu64.ime"]) << k;
        EXPECT_EQ(ReadBytes(root_ + "windows\\syswow64\\mofahu4.ime"), contents_["mofahu4.ime"]) << k;
        EXPECT_EQ(ReadBytes(root_ + "windows\\mofapath.mfh"), install_) << k;
        EXPECT_EQ(ReadBytes(install_ + "mofadwdw.txt"), "the user's mofadwdw.txt") << k;
        EXPECT_EQ(ReadBytes(install_ + "userck.txt"), "the user's userck.txt") << k;
        std::string all = Snapshot();
        EXPECT_EQ(all.find(".mfold"), std::string::npos) << k;
        EXPECT_EQ(all.find(".mfnew"), std::string::npos) << k;
        EXPECT_NE(all.find("E0200804|layout text|1|智能墨筏输入平台  7.9"), std::string::npos) << k;
        // The sign-in entry runs the copy of setup where only administrators write.
        EXPECT_NE(all.find("\\Control Panel\\International\\User Profile\\zh-Hans-CN|0804:E0200804|4|"),
                  std::string::npos)
            << k;
        const std::string entry = kSignInEntries + std::string("\\{F3951D3A-9E0F-4286-B337-2F0115AACDC9}|");
        bool command = all.find(entry + "StubPath|1|\"" + root_ + "windows\\syswow64\\mofauser.exe\" /SIGNIN=E0200804") !=
                       std::string::npos;
        bool version = all.find(entry + "Version|1|7,9,0,0") != std::string::npos;
        EXPECT_TRUE(command || !version) << k;
        if (signInWhole) {
            EXPECT_TRUE(command && version) << k;
            EXPECT_NE(all.find(entry + "IsInstalled|4|"), std::string::npos) << k;
        }
        if (command) {
            EXPECT_EQ(ReadBytes(root_ + "windows\\syswow64\\mofauser.exe"), "MZ a stand-in of setup") << k;
        }
    }

    std::vector<unsigned char> payload_, work_;
    uint32_t payloadSize_ = 0;
    std::map<std::string, std::string> contents_;
    HKEY scratch_[3] = {};
    std::string root_, install_;
};

TEST_F(RollbackTest, EveryOperationOfAnUpgradeFailingLeavesTheEarlierVersion) {
    MessageRecorder messages;  // a silent run answers with the default buttons
    PrepareEarlier();
    const std::string before = Snapshot();
    ASSERT_EQ(Upgrade(0), kExitInstalled);
    const unsigned long operations = g_sys.operations;
    ExpectInstalled(0);
    ASSERT_GT(operations, 20u);

    int failed = 0, installed = 0;
    for (unsigned long k = 1; k <= operations; ++k) {
        PrepareEarlier();
        int code = Upgrade(k);
        if (code == kExitFailed) {
            ++failed;
            EXPECT_EQ(Snapshot(), before) << "operation " << k << " of " << operations << " failed";
        } else {
            ++installed;
            ASSERT_TRUE(code == kExitInstalled || code == kExitRestartNeeded) << code;
            ExpectInstalled(k, false);
        }
    }
    std::printf("a clean upgrade makes %lu operations; each was made to fail once: %d runs failed and put "
                "everything back, %d installed regardless\n",
                operations, failed, installed);
    EXPECT_GT(failed, 0);
}

// A journal an earlier version of setup left (its records as the 32-bit
// program wrote them before they carried their version's mark: its
// pointers' values in the mark's, the descriptor's and each value's slots)
// is recovered as one of this version's is: killed midway and before its
// commit, the upgrade is put back whole.
TEST_F(RollbackTest, AJournalAnEarlierVersionLeftIsRecovered) {
    MessageRecorder messages;
    PrepareEarlier();
    const std::string before = Snapshot();
    ASSERT_EQ(Upgrade(0), kExitInstalled);
    const unsigned long moments = g_sys.moments;
    PrepareEarlier();
    Upgrade(0, kRunSilent, moments / 2);
    ResetSetupContext();
    g_sys.crashAt = g_sys.abandoned = 0;
    const std::string journal = root_ + "windows\\mofabak\\mofajrnl.mfh";
    std::string image = ReadBytes(journal);
    ASSERT_FALSE(image.empty());
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&image[0]);
    uint32_t pos = 0, start = 0, earlier = 0;
    JournalRecord r;
    for (; NextJournalRecord(bytes, static_cast<uint32_t>(image.size()), &pos, &r); start = pos, ++earlier) {
        const uint32_t pointer = 0x00A51000 + 0x40 * earlier;
        std::memcpy(bytes + start + 4 + 608, &pointer, 4);
        if (r.securitySize != 0) std::memcpy(bytes + start + 4 + 616, &pointer, 4);
        const unsigned char* at = r.values;
        JournalValue v;
        for (int i = 0; i < r.entry.valueCount && ReadJournalValue(&at, r.security, &v); ++i)
            if (v.present) std::memcpy(bytes + (at - bytes) - v.size - 4, &pointer, 4);
        const uint32_t sum = JournalRecordSum(bytes + start, pos - start);
        std::memcpy(bytes + pos - 4, &sum, 4);
    }
    ASSERT_GT(earlier, 10u);
    ASSERT_EQ(pos, image.size());
    ASSERT_TRUE(WriteBytes(journal, image));
    ASSERT_EQ(RecoverEarlierRun(), 1);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_FALSE(FileExists(root_ + "windows\\mofabak"));
}

// A kill (or power loss) at any moment of an upgrade, then one complete run
// of setup: the machine as one clean upgrade leaves it (the user's files byte
// for byte, both modules whole, the registration, the path files), nothing
// left over, exit 0 and the same messages (a true count of files restored).
// For every moment the recovery that begins the next run is checked on its
// own: it leaves the machine exactly as it was before the upgrade, or, once
// the kill came after the commit, exactly as the clean upgrade left it; the
// rest of that run is then an upgrade from one of those two, and runs whole
// for every sixteenth moment. Then the completing run is killed too (its
// recovery included), before a last complete run.
TEST_F(RollbackTest, AKillAtAnyMomentThenOneCompleteRunLeavesTheUpgradeWhole) {
    MessageRecorder messages;
    PrepareEarlier();
    const std::string before = Snapshot();
    ASSERT_EQ(Upgrade(0), kExitInstalled);
    const unsigned long moments = g_sys.moments, operations = g_sys.operations;
    const std::string installed = Snapshot();
    ASSERT_NE(installed, before);
    auto texts = [&] {
        std::string all;
        for (const ShownMessage& m : messages.shown) all += m.textA + "|";
        messages.shown.clear();
        return all;
    };
    const std::string told = texts();
    ASSERT_NE(told.find("成功恢复了5个原有数据文件！"), std::string::npos) << told;
    // An upgrade over the new version itself: the uninstall entry's size
    // counts the files that version left.
    ASSERT_EQ(Upgrade(0), kExitInstalled);
    ASSERT_EQ(texts(), told);
    const std::string reinstalled = Snapshot();
    auto expectNothingLeft = [&](const std::string& what) {
        EXPECT_FALSE(FileExists(root_ + "windows\\mofabak")) << what;
        EXPECT_EQ(ReadBytes(root_ + "windows\\mofapath.mfh"), install_) << what;
    };
    auto expectWhole = [&](const std::string& what, bool overNewVersion) {
        EXPECT_EQ(Upgrade(0), kExitInstalled) << what;
        EXPECT_EQ(texts(), told) << what;
        EXPECT_EQ(Snapshot(), overNewVersion ? reinstalled : installed) << what;
        expectNothingLeft(what);
    };
    int runs = 0, undone = 0;
    unsigned long commitMoment = moments;
    bool committed = false;
    for (unsigned long k = 1; k <= moments; ++k) {
        const std::string what = "killed at moment " + std::to_string(k);
        PrepareEarlier();
        Upgrade(0, kRunSilent, k);
        texts();
        ResetSetupContext();
        g_sys.crashAt = g_sys.abandoned = 0;
        ASSERT_EQ(RecoverEarlierRun(), 1) << what;
        const std::string recovered = Snapshot();
        if (!committed && recovered == installed) commitMoment = k - 1;
        committed = committed || recovered == installed;
        EXPECT_EQ(recovered, committed ? installed : before) << what;
        expectNothingLeft(what);
        undone += committed ? 0 : 1;
        runs += 2;
        if (k % 16 == 0 || k == moments) {
            expectWhole(what, committed);
            ++runs;
        }
    }
    EXPECT_TRUE(committed);
    for (unsigned long k : {moments / 4, moments / 2, commitMoment + 1})
        for (unsigned long j : {2, 9, 40}) {
            PrepareEarlier();
            Upgrade(0, kRunSilent, k);
            Upgrade(0, kRunSilent, j);
            texts();
            expectWhole("killed at moment " + std::to_string(k) + ", then at " + std::to_string(j), k > commitMoment);
            runs += 3;
        }
    std::printf("a clean upgrade makes %lu operations and %lu moments a kill can fall between: after %d of them "
                "the next run puts the earlier version back, after %lu it finishes the new one; %d runs\n",
                operations, moments, undone, moments - undone, runs);
}

// The model of a power cut itself: a file written and not flushed reads back
// its earlier bytes (zeros where it had none), wherever it went since; what
// was flushed stays.
TEST(PowerCut, WritesNotFlushedAreLostWhereverTheFileWent) {
    const std::string dir = ScratchDir("powercut");
    ASSERT_TRUE(WriteBytes(dir + "old.txt", "earlier bytes"));
    PowerCutModel model(dir);
    DWORD n = 0;
    // A new file, written, not flushed, renamed.
    HANDLE h = CreateFileA((dir + "a.new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(g_sys.writeFile(h, "fresh", 5, &n, nullptr));
    CloseHandle(h);
    ASSERT_TRUE(MoveFileA((dir + "a.new").c_str(), (dir + "a.txt").c_str()));
    // A file written in place: its first write flushed, its second not (one
    // byte past its earlier end).
    h = CreateFileA((dir + "old.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(g_sys.writeFile(h, "EARLIER", 7, &n, nullptr));
    ASSERT_TRUE(g_sys.flushFileBuffers(h));
    ASSERT_TRUE(g_sys.writeFile(h, " BYTES!", 7, &n, nullptr));
    CloseHandle(h);
    // A file written, not flushed, and deleted: nothing to read back.
    h = CreateFileA((dir + "gone.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_TRUE(g_sys.writeFile(h, "gone", 4, &n, nullptr));
    CloseHandle(h);
    ASSERT_TRUE(DeleteFileA((dir + "gone.txt").c_str()));
    ASSERT_EQ(ReadBytes(dir + "old.txt"), "EARLIER BYTES!");
    EXPECT_EQ(model.Pending(), 3u);
    EXPECT_EQ(model.Cut(), 2);
    EXPECT_EQ(ReadBytes(dir + "a.txt"), std::string(5, '\0'));
    EXPECT_EQ(ReadBytes(dir + "old.txt"), std::string("EARLIER bytes") + '\0');
    EXPECT_FALSE(FileExists(dir + "a.new"));
    EXPECT_FALSE(FileExists(dir + "gone.txt"));
}

// A power cut at moments spread over an upgrade with the user's data, and
// over a fresh install: every write not flushed by then is lost (the model
// above), every name change stays. The next run's recovery leaves the
// machine exactly as before the run or, once the commit was made, exactly as
// the run left it: never a user file of zeros, never half an install taken
// for a whole one; from before, a complete run then installs whole.
TEST_F(RollbackTest, APowerCutAtAnyMomentLosesNothingTheCommitPromised) {
    MessageRecorder messages;
    for (bool earlier : {true, false}) {
        const char* kind = earlier ? "upgrade" : "fresh install";
        PrepareEarlier(earlier);
        PowerCutModel model(root_);
        const std::string before = Snapshot();
        ASSERT_EQ(Upgrade(0), kExitInstalled) << kind;
        const unsigned long moments = g_sys.moments;
        const std::string installed = Snapshot();
        int cuts = 0, lost = 0, undone = 0, completed = 0;
        // Every fifth moment, and each of the last eight (the commit and its
        // clean-up).
        for (unsigned long k = 1; k <= moments; k += k + 8 >= moments ? 1 : 5) {
            const std::string what = std::string(kind) + " cut at moment " + std::to_string(k);
            PrepareEarlier(earlier);
            model.Forget();
            Upgrade(0, kRunSilent, k);
            lost += model.Cut();
            ResetSetupContext();
            g_sys.crashAt = g_sys.abandoned = 0;
            ASSERT_EQ(RecoverEarlierRun(), 1) << what;
            const std::string recovered = Snapshot();
            EXPECT_TRUE(recovered == before || recovered == installed) << what;
            ++cuts;
            if (recovered != before) continue;
            ++undone;
            if (k % 20 == 1) {
                EXPECT_EQ(Upgrade(0), kExitInstalled) << what;
                EXPECT_EQ(Snapshot(), installed) << what;
                ++completed;
            }
        }
        std::printf("%s: %lu moments; cut at %d of them, losing %d writes not flushed: %d recovered to the earlier "
                    "state, %d to the committed one; %d completed afterwards\n",
                    kind, moments, cuts, lost, undone, cuts - undone, completed);
        EXPECT_GT(cuts - undone, 0) << kind;
        messages.shown.clear();
    }
}

// The payload's new files are noted ahead, in journal records written one
// after another and flushed once. The seam watches the journal's writes:
// the longest run of records before a flush, the moment its first was
// written, and the moment and operation count of its flush. At that flush
// another program may make a file at one of the names noted (plantAt).
// Setup's writes to files of the planted name (its kept copy, its fresh
// file) are counted, and the moment of the first kept.
struct AheadWatch {
    unsigned long unflushed, runFirst, records, first, flushed, plantedWrites, plantedMoment, plantedOperation;
    std::string plantAt;
    std::wstring plantedName;  // "\\<its name>"
} g_ahead;

std::wstring FinalPath(HANDLE h) {
    wchar_t path[MAX_PATH + 1] = L"";
    GetFinalPathNameByHandleW(h, path, MAX_PATH, 0);
    return path;
}

bool IsJournal(HANDLE h) { return FinalPath(h).find(L"mofajrnl") != std::wstring::npos; }

BOOL WINAPI WatchedWrite(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    if (IsJournal(h) && g_ahead.unflushed++ == 0) g_ahead.runFirst = g_sys.moments;
    if (!g_ahead.plantAt.empty() && FinalPath(h).find(g_ahead.plantedName) != std::wstring::npos &&
        g_ahead.plantedWrites++ == 0) {
        g_ahead.plantedMoment = g_sys.moments;
        g_ahead.plantedOperation = g_sys.operations;
    }
    return WriteFile(h, data, length, written, overlapped);
}

BOOL WINAPI WatchedFlush(HANDLE h) {
    if (IsJournal(h) && g_ahead.unflushed > 1) {
        if (g_ahead.unflushed > g_ahead.records)
            g_ahead = {0, 0, g_ahead.unflushed, g_ahead.runFirst, g_sys.moments, 0, 0, 0, g_ahead.plantAt,
                       g_ahead.plantedName};
        if (!g_ahead.plantAt.empty()) WriteBytes(g_ahead.plantAt, "another program's file");
    }
    if (IsJournal(h)) g_ahead.unflushed = 0;
    return FlushFileBuffers(h);
}

void WatchAhead(const std::string& plantAt = "") {
    g_ahead = {};
    g_ahead.plantAt = plantAt;
    const size_t slash = plantAt.find_last_of('\\');
    if (slash != std::string::npos) g_ahead.plantedName.assign(plantAt.begin() + slash, plantAt.end());
    g_sys.writeFile = WatchedWrite;
    g_sys.flushFileBuffers = WatchedFlush;
}

// A fresh install killed, with or without a power cut, before the notes made
// ahead, amid them, at the last, between their flush and the first change,
// and amid the files they name: the recovery leaves the machine as it was,
// and one complete run then installs whole.
TEST_F(RollbackTest, ANoteMadeAheadHoldsThroughAKillOrAPowerCut) {
    MessageRecorder messages;
    PrepareEarlier(false);
    const std::string before = Snapshot();
    WatchAhead();
    ASSERT_EQ(Upgrade(0), kExitInstalled);
    const std::string installed = Snapshot();
    // Every file of the payload, in one flush.
    ASSERT_EQ(g_ahead.records, contents_.size());
    const unsigned long first = g_ahead.first, flushed = g_ahead.flushed, n = g_ahead.records;
    ASSERT_EQ(flushed, first + n - 1);
    for (unsigned long k : {first, first + n / 2, flushed, flushed + 1, flushed + n})
        for (bool cut : {false, true}) {
            const std::string what = "killed at moment " + std::to_string(k) + (cut ? ", the power cut" : "");
            PrepareEarlier(false);
            PowerCutModel model(root_);
            Upgrade(0, kRunSilent, k);
            const int lost = cut ? model.Cut() : 0;
            // The notes written so far were not flushed yet: the cut loses them.
            if (cut && k > first && k <= flushed) EXPECT_GT(lost, 0) << what;
            ResetSetupContext();
            g_sys.crashAt = g_sys.abandoned = 0;
            ASSERT_EQ(RecoverEarlierRun(), 1) << what;
            EXPECT_EQ(Snapshot(), before) << what;
            EXPECT_EQ(Upgrade(0), kExitInstalled) << what;
            EXPECT_EQ(Snapshot(), installed) << what;
        }
}

// Where a file another program made takes a name noted ahead before setup
// writes there, the note is void: the file is replaced as any file there is,
// and a failed run puts it back, as does the recovery after a kill, instead
// of deleting it as one setup made.
TEST_F(RollbackTest, AFileAnotherProgramMakesWhereANoteMadeAheadNamesOneIsPutBack) {
    MessageRecorder messages;
    for (bool killed : {false, true}) {
        const char* what = killed ? "killed" : "failed";
        PrepareEarlier();
        const std::string planted = install_ + "mofapyck.bak";
        WatchAhead(planted);
        ASSERT_EQ(Upgrade(0), kExitInstalled) << what;
        ASSERT_GT(g_ahead.records, 5u) << what;
        const unsigned long flushed = g_ahead.flushed, moment = g_ahead.plantedMoment;
        const unsigned long operation = g_ahead.plantedOperation;
        EXPECT_EQ(ReadBytes(planted), contents_["mofapyck.bak"]) << what;
        // Just after the planted file was replaced; a failure the extraction
        // gets past (it moves a file aside and writes again) does not end it.
        int failed = 0;
        for (unsigned long k = 1; k <= (killed ? 1 : 12); ++k) {
            PrepareEarlier();
            WatchAhead(planted);
            const int code = killed ? Upgrade(0, kRunSilent, moment + 3) : Upgrade(operation + k);
            EXPECT_EQ(g_ahead.flushed, flushed) << what;
            if (code != kExitFailed) continue;
            ++failed;
            // Its copy kept, and the payload's bytes written to take its place.
            EXPECT_GE(g_ahead.plantedWrites, 2u) << what << k;
            if (killed) {
                EXPECT_EQ(ReadBytes(planted), contents_["mofapyck.bak"]) << what;
                ResetSetupContext();
                g_sys.crashAt = g_sys.abandoned = 0;
                ASSERT_EQ(RecoverEarlierRun(), 1) << what;
            }
            EXPECT_EQ(ReadBytes(planted), "another program's file") << what << k;
        }
        EXPECT_GT(failed, 0) << what;
    }
}

// A file of the payload that cannot be written, as a full disk and then
// missing rights refuse it: the one message gives that cause and its
// advice, and the failure the log ends with is that error, not a missing
// file; everything is put back. A new file fails at once; one that is there
// is moved aside, written again in vain and moved back first; the path file
// is written before the folders are made.
DWORD g_writeError;
const wchar_t* g_refusedName;
BOOL WINAPI RefusedWrite(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    if (FinalPath(h).find(g_refusedName) == std::wstring::npos) return WriteFile(h, data, length, written, overlapped);
    SetLastError(g_writeError);
    return FALSE;
}

TEST_F(RollbackTest, AFileThatCannotBeWrittenIsToldByItsOwnError) {
    const struct {
        DWORD error;
        const char* meaning;
        const char* advice;
    } kCases[] = {{ERROR_DISK_FULL, "（磁盘空间不足）", "请腾出磁盘空间后重新安装！"},
                  {ERROR_ACCESS_DENIED, "（没有写入权限）", "请确认以管理员身份运行安装程序后重新安装！"}};
    const struct {
        const char* name;
        const wchar_t* wide;
        bool earlier;  // there already: an earlier installation's
    } kFiles[] = {{"mofadel.exe", L"\\mofahu\\mofadel.exe", false},
                  {"mofatyrk.exe", L"\\mofahu\\mofatyrk.exe", true},
                  {"mofapath.mfh", L"\\windows\\mofapath.mfh", false}};
    for (const auto& f : kFiles) {
        for (const auto& c : kCases) {
            MessageRecorder messages;
            PrepareEarlier(f.earlier);
            const std::string before = Snapshot();
            g_writeError = c.error;
            g_refusedName = f.wide;
            g_sys.writeFile = RefusedWrite;
            EXPECT_EQ(Upgrade(0), kExitFailed) << c.error << f.name;
            g_sys.writeFile = WriteFile;
            EXPECT_EQ(FirstFailure().error, c.error) << f.name;
            EXPECT_EQ(std::string(FirstFailure().path), f.name);
            ASSERT_EQ(messages.shown.size(), 1u) << c.error << f.name;
            const std::string& text = messages.shown[0].textA;
            EXPECT_NE(text.find(std::string(c.meaning) + "。"), std::string::npos) << text;
            EXPECT_NE(text.find(c.advice), std::string::npos) << text;
            EXPECT_EQ(Snapshot(), before) << c.error << f.name;
        }
    }
}

// A journal that cannot be opened (here a folder has its name, as an earlier
// journal the recovery could not delete would): the install is not begun,
// the user is told so in one message, the run ends 1603, nothing changes.
TEST_F(RollbackTest, AJournalThatCannotBeOpenedIsToldAndChangesNothing) {
    MessageRecorder messages;
    PrepareEarlier();
    ASSERT_TRUE(CreateDirectoryA((root_ + "windows\\mofabak").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root_ + "windows\\mofabak\\mofajrnl.mfh").c_str(), nullptr));
    const std::string before = Snapshot();
    BeginRun(kRunInteractive);
    EXPECT_EQ(ExitCodeOf(RunInstallPlan()), kExitFailed);
    g_ctx.workBuffer = nullptr;
    EXPECT_EQ(std::string(FirstFailure().operation), "open the journal");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].textA.find("智能墨筏没有安装成功"), std::string::npos) << messages.shown[0].textA;
    EXPECT_EQ(Snapshot(), before);
}

// The backup a setup that kept no journal left (in "mofabak<id>.<n>") is
// restored into the earlier installation by the next run's recovery, on
// 64-bit Windows outside the span in which the system's redirection is off:
// its message is shown, and its library looked up, with redirection on.
TEST_F(RollbackTest, ABackupAnEarlierSetupLeftIsRestoredWithRedirectionOn) {
    MessageRecorder messages;
    PrepareEarlier();
    BeginRun(kRunSilent);
    ASSERT_EQ(BackupUserData(), 1);
    ASSERT_TRUE(MoveFileA((root_ + "windows\\mofabak").c_str(), (root_ + "windows\\mofabak77.1").c_str()));
    ASSERT_TRUE(WriteBytes(install_ + "mofadwdw.txt", "damaged by the run that died"));
    BeginRun(kRunSilent);
    ASSERT_TRUE(DetectWow64());
    ASSERT_EQ(RecoverEarlierRun(), 1);
    EXPECT_FALSE(InNativeSystemDirAccess());
    EXPECT_EQ(ReadBytes(install_ + "mofadwdw.txt"), "the user's mofadwdw.txt");
    EXPECT_FALSE(FileExists(root_ + "windows\\mofabak77.1"));
    ASSERT_FALSE(messages.shown.empty());
    for (const ShownMessage& m : messages.shown) EXPECT_FALSE(m.nativeAccess) << m.textA;
}

// A span of native access begun inside another changes nothing: the outer
// one's end alone ends it.
TEST_F(RollbackTest, ANativeAccessSpanIsNeverNested) {
    BeginRun(kRunSilent);
    ASSERT_TRUE(DetectWow64());
    void* outer = BeginNativeSystemDirAccess();
    ASSERT_NE(outer, nullptr);
    void* inner = BeginNativeSystemDirAccess();
    EXPECT_EQ(inner, nullptr);
    EndNativeSystemDirAccess(inner);
    EXPECT_TRUE(InNativeSystemDirAccess());
    EndNativeSystemDirAccess(outer);
    EXPECT_FALSE(InNativeSystemDirAccess());
}

// A rollback that put a user's file back from its kept copy and recorded it,
// then lost the rename (as a power cut may lose a name change the disk had
// not taken, but not the record flushed after it): the next recovery finds
// the kept copy still there and puts it back again.
TEST(JournalRecovery, APutBackWhoseRenameWasLostIsPutBackAgain) {
    const std::string dir = ScratchDir("lostrename");
    UseStandInWindows(dir + "windows", 6);
    const std::string file = dir + "mofacyzk.mfh", kept = file + ".mfold";
    bool found = false;
    for (unsigned long j = 1; j < 40 && !found; ++j) {
        ASSERT_TRUE(WriteBytes(file, "the user's words"));
        ASSERT_TRUE(OpenJournal());
        ASSERT_TRUE(ReplaceFileWith(file.c_str(), "shipped words", 13));
        g_sys.abandoned = 0;
        g_sys.crashAt = g_sys.moments + j;
        RollBackJournal();
        g_sys.crashAt = g_sys.abandoned = 0;
        const bool left = FileExists(dir + "windows\\mofabak\\mofajrnl.mfh");
        ASSERT_TRUE(left) << "the rollback ended before the put-back was recorded (moment " << j << ")";
        if (ReadBytes(file) == "the user's words" && !FileExists(kept)) {
            ASSERT_TRUE(MoveFileExA(file.c_str(), kept.c_str(), 0));
            ASSERT_TRUE(WriteBytes(file, "shipped words"));
            found = true;
        }
        ASSERT_EQ(RecoverEarlierJournal(), 1) << j;
        EXPECT_EQ(ReadBytes(file), "the user's words") << "killed at the rollback's moment " << j;
        EXPECT_FALSE(FileExists(kept)) << j;
    }
    EXPECT_TRUE(found);
    ResetSysApi();
}

// The install folder, as a junction swapped in for it shows (the system-call
// seam stands in: wine makes no junction).
std::string g_junction;
DWORD WINAPI JunctionAttributes(LPCSTR path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && _stricmp(path, g_junction.c_str()) == 0)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

// A run killed halfway, then a junction swapped in for the install folder
// (which its user may replace): the next run moves, deletes and puts rights
// on nothing through it, and changes nothing else; once the junction is gone,
// the run after puts everything back.
TEST_F(RollbackTest, AJunctionForTheInstallFolderHoldsTheRecoveryUntilItIsGone) {
    MessageRecorder messages;
    PrepareEarlier();
    const std::string before = Snapshot();
    std::string earlierFiles, killedFiles, heldFiles;
    Files(install_, earlierFiles);
    Upgrade(0, kRunSilent, 120);
    Files(install_, killedFiles);
    ASSERT_NE(killedFiles, earlierFiles);  // there is something to put back
    ResetSetupContext();
    g_sys.crashAt = g_sys.abandoned = 0;
    g_junction = install_.substr(0, install_.size() - 1);
    g_sys.getFileAttributesA = JunctionAttributes;
    EXPECT_EQ(RecoverEarlierRun(), 0);
    Files(install_, heldFiles);
    EXPECT_EQ(heldFiles, killedFiles);
    EXPECT_TRUE(FileExists(root_ + "windows\\mofabak\\mofajrnl.mfh"));  // left for the next run

    g_sys.getFileAttributesA = GetFileAttributesA;
    ResetSetupContext();
    EXPECT_EQ(RecoverEarlierRun(), 1);
    EXPECT_EQ(Snapshot(), before);
}

// A copy refused for want of rights (the faults the tests make fail as
// access denied): the wizard's one message names the file and that reason,
// and asks for administrator rights.
TEST_F(RollbackTest, ARefusedCopyIsToldAsMissingRights) {
    MessageRecorder messages;
    std::string told;
    for (unsigned long k = 1; k < 200 && told.empty(); ++k) {
        PrepareEarlier();
        messages.shown.clear();
        if (Upgrade(k, kRunInteractive) != kExitFailed) continue;
        for (const ShownMessage& m : messages.shown)
            if (m.textA.find("没有成功复制") != std::string::npos && m.textA.find("恢复原样") != std::string::npos)
                told = m.textA;
    }
    ASSERT_FALSE(told.empty()) << "no failed copy among the first operations";
    EXPECT_NE(told.find("文件（没有写入权限）"), std::string::npos) << told;
    EXPECT_NE(told.find("请确认以管理员身份运行安装程序后重新安装！"), std::string::npos) << told;
}

// The payload the tests damage: the stream of its last entry.
void Damage(std::vector<unsigned char>& payload, uint32_t size) { payload[size - 8] ^= 0x55; }


// A module that can be neither replaced nor moved aside fails the install
// once: one message names the file and the reason and says all is back.
TEST_F(RollbackTest, AFailedSystemCopyGivesOneMessageAndPutsEverythingBack) {
    PrepareEarlier();
    // Not in the preload list: the earlier module is not removed first, the
    // copy of the new one meets it.
    HKEY preload = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "keyboard layout\\preload", 0, KEY_ALL_ACCESS, &preload);
    RegDeleteValueA(preload, "2");
    RegCloseKey(preload);
    const std::string before = Snapshot();
    // Held without sharing: it can be neither replaced nor renamed.
    const std::string module = root_ + "windows\\syswow64\\mofahu4.ime";
    HANDLE held = CreateFileA(module.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    MessageRecorder messages;
    EXPECT_EQ(Upgrade(0), kExitFailed);
    CloseHandle(held);
    ASSERT_EQ(messages.shown.size(), 1u);
    const std::string& text = messages.shown[0].textA;
    EXPECT_NE(text.find("没有成功复制" + module + "文件（文件正在被其他程序使用）"), std::string::npos) << text;
    EXPECT_NE(text.find("原来的版本和你的数据都已恢复原样"), std::string::npos) << text;
    EXPECT_EQ(text.find("手动删除"), std::string::npos) << text;
    EXPECT_EQ(Snapshot(), before);
}

// A damaged setup program changes nothing, in either run mode.
TEST_F(RollbackTest, ADamagedPayloadChangesNothing) {
    Damage(payload_, payloadSize_);
    for (int mode : {kRunSilent, kRunInteractive}) {
        PrepareEarlier();
        const std::string before = Snapshot();
        MessageRecorder messages;
        EXPECT_EQ(Upgrade(0, mode), kExitFailed);
        ASSERT_EQ(messages.shown.size(), 1u) << mode;
        EXPECT_EQ(messages.shown[0].textA, std::string("文件解压不完整，请到智能墨筏网站") + MOFA_VENDOR_SITE + "重新下载安装。");
        EXPECT_EQ(Snapshot(), before) << mode;
    }
    // A fresh install: no install folder, path file or registry value.
    PrepareEarlier();
    DeleteFileA((root_ + "windows\\mofapath.mfh").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb");
    for (const char* name : {"mofadwdw.txt", "mfszsj43.mfh", "mofacyzk.mfh", "userck.txt", "mofatyrk.exe"})
        DeleteFileA((install_ + name).c_str());
    RemoveDirectoryA(install_.c_str());
    const std::string before = Snapshot();
    MessageRecorder messages;
    EXPECT_EQ(Upgrade(0), kExitFailed);
    EXPECT_EQ(Snapshot(), before);
}

// An earlier installation whose only user file is small: its backup is
// under 100 bytes, and comes back all the same.
TEST_F(RollbackTest, ASmallBackupIsRestored) {
    PrepareEarlier();
    for (const char* name : {"mofadwdw.txt", "mfszsj43.mfh", "mofacyzk.mfh"}) DeleteFileA((install_ + name).c_str());
    WriteBytes(install_ + "userck.txt", "ab");
    MessageRecorder messages;
    EXPECT_EQ(Upgrade(0), kExitInstalled);
    EXPECT_EQ(ReadBytes(install_ + "userck.txt"), "ab");
    EXPECT_EQ(ReadBytes(root_ + "windows\\syswow64\\mofahu4.ime"), contents_["mofahu4.ime"]);
}

// Yes to making the input method non-default: the consented swap stays
// (no journal undoes it), and the run ends as the user's.
TEST_F(RollbackTest, AConsentedPreloadSwapStaysAndTheRunEnds1602) {
    PrepareEarlier();
    // 32-bit Windows, where the question is asked.
    for (const char* name : {"mofahu4.ime", "mofauser.exe"}) DeleteFileA((root_ + "windows\\syswow64\\" + name).c_str());
    ASSERT_TRUE(RemoveDirectoryA((root_ + "windows\\syswow64").c_str()));
    SetText(HKEY_CURRENT_USER, "keyboard layout\\preload", "1", "e0200804");
    SetText(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "00000804");
    MessageRecorder messages;
    messages.answers = {kIdOk, kIdYes, kIdOk};
    EXPECT_EQ(Upgrade(0, kRunInteractive), kExitUserEnded);
    EXPECT_EQ(messages.shown.size(), 3u);
    std::string all = Snapshot();
    EXPECT_NE(all.find("keyboard layout\\preload|1|1|00000804"), std::string::npos) << all;
    EXPECT_NE(all.find("keyboard layout\\preload|2|1|e0200804"), std::string::npos) << all;
}

// A second path file that cannot be written is logged, and the install
// does not depend on it.
TEST_F(RollbackTest, ASecondPathFileThatCannotBeWrittenDoesNotFailTheInstall) {
    PrepareEarlier();
    g_sys.getDriveTypeA = MissingFixedDriveF;
    MessageRecorder messages;
    EXPECT_EQ(Upgrade(0), kExitInstalled);
    ExpectInstalled(0);
}

BOOL WINAPI NothingStarts(LPCSTR, UINT) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

// A companion that cannot be started on 64-bit Windows: the install stays
// (it is committed), the run ends 1603, and the log names the step.
TEST_F(RollbackTest, ACompanionThatCannotStartKeepsTheInstallAndEnds1603) {
    PrepareEarlier();
    g_sys.startProgram = NothingStarts;
    MessageRecorder messages;
    const std::string log = root_ + "companion.log";
    OpenLog(log.c_str());
    EXPECT_EQ(Upgrade(0), kExitFailed);
    CloseLog();
    ExpectInstalled(0);
    const std::string text = ReadBytes(log);
    EXPECT_NE(text.find("companion program"), std::string::npos) << text;
    EXPECT_NE(text.find("could not start"), std::string::npos) << text;

    // Started, the log says so, with the install directory handed over.
    PrepareEarlier();
    g_sys.startProgram = NoProgramStarted;
    DeleteFileA(log.c_str());
    OpenLog(log.c_str());
    EXPECT_EQ(Upgrade(0), kExitInstalled);
    CloseLog();
    EXPECT_NE(ReadBytes(log).find("started \"" + install_ + "setupw64.exe\" regmf32=" + install_), std::string::npos);
}

// The wizard, asked to close while its plan runs (the close box, Alt+F4),
// stays until the plan has ended: the work buffer the extraction uses goes
// with the window. And it answers throughout, though a step of the plan
// takes longer than Windows waits before it calls a window hung.
HWND g_wizard = nullptr;
bool g_closedMidway = false, g_bufferKept = false;
int g_slowSteps = 0;
void WINAPI SlowPauseThatAsksToClose(DWORD) {
    if (g_slowSteps++ == 0) {
        SendMessageA(g_wizard, WM_CLOSE, 0, 0);
        g_closedMidway = !IsWindow(g_wizard);
        g_bufferKept = g_ctx.workBuffer != nullptr;
    }
    if (g_slowSteps <= 2) Sleep(1500);
}
int StayOnPage() { return 1; }
void NoSkinDialog() {}

// The threads the boxes were made on, before the recorder takes them.
std::vector<DWORD> g_boxThreads;
int (*g_recordW)(const char16_t*, const char16_t*, unsigned);
int (*g_recordA)(const char*, const char*, unsigned);
int BoxW(const char16_t* text, const char16_t* caption, unsigned buttons) {
    g_boxThreads.push_back(GetCurrentThreadId());
    return g_recordW(text, caption, buttons);
}
int BoxA(const char* text, const char* caption, unsigned buttons) {
    g_boxThreads.push_back(GetCurrentThreadId());
    return g_recordA(text, caption, buttons);
}

// Asks the wizard every 100 ms, from a thread of its own, whether it
// answers, as Windows does before it ghosts a window "未响应".
struct AnswerWatch {
    volatile LONG stop = 0;
    int asked = 0, unanswered = 0;
    DWORD slowest = 0;
    HANDLE thread = nullptr;
    static DWORD WINAPI Watch(void* self) {
        auto* w = static_cast<AnswerWatch*>(self);
        while (!w->stop) {
            DWORD start = GetTickCount();
            DWORD_PTR result;
            if (!SendMessageTimeoutA(g_wizard, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) ++w->unanswered;
            w->slowest = std::max(w->slowest, GetTickCount() - start);
            ++w->asked;
            Sleep(100);
        }
        return 0;
    }
    void Start() { thread = CreateThread(nullptr, 0, Watch, this, 0, nullptr); }
    void Stop() {
        stop = 1;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
};

// The window's thread handles its messages, as the wizard's loop does,
// until the run's end (the WM_DESTROY the wizard posts itself): true then.
bool HandleMessagesUntilTheRunEnds(DWORD limitMs) {
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < limitMs) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == g_wizard && msg.message == WM_DESTROY) return true;
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return false;
}

TEST_F(RollbackTest, DISABLED_TheWizardAnswersAndCannotBeClosedWhileThePlanRuns) {
    NullDriverDesktop desktop("mofaclosetest");
    bool ran = desktop.Run([&] {
        // A window of the test's desktop (made before the registry is stood
        // in) that runs the wizard's procedure from its creation message on.
        g_wizard = CreateWindowExA(0, "STATIC", "wizard", WS_POPUP, 0, 0, 400, 310, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(g_wizard, nullptr);
        PrepareEarlier();
        g_sys.sleep = SlowPauseThatAsksToClose;
        MessageRecorder messages;
        g_recordW = g_ui.showW;
        g_recordA = g_ui.showA;
        g_ui.showW = BoxW;
        g_ui.showA = BoxA;
        ResetSetupContext();
        g_ctx.runMode = kRunInteractive;
        g_ctx.oemCodePage = 936;
        ReadPathFile();
        SetWindowLongPtrA(g_wizard, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SetupWindowProc));
        SendMessageA(g_wizard, WM_CREATE, 0, 0);
        ASSERT_EQ(g_ctx.mainWindow, g_wizard);
        g_ctx.payloadData = payload_.data();
        g_ctx.payloadSize = payloadSize_;
        g_ui.tryIt = StayOnPage;
        g_ui.chooseSkin = NoSkinDialog;
        g_ctx.currentPage = kPageConfirm;
        AnswerWatch watch;
        watch.Start();
        SendMessageA(g_wizard, WM_LBUTTONDOWN, 0, MAKELPARAM(50, 250));  // the OK button
        bool ended = HandleMessagesUntilTheRunEnds(120000);
        watch.Stop();
        WaitForInstall();
        ASSERT_TRUE(ended);
        EXPECT_EQ(g_slowSteps, 4);  // the deployment's pauses: two of each pass
        EXPECT_GE(watch.asked, 20);
        EXPECT_EQ(watch.unanswered, 0);
        EXPECT_LT(watch.slowest, 1000u);
        EXPECT_TRUE(IsWindow(g_wizard));
        EXPECT_FALSE(g_closedMidway);
        EXPECT_TRUE(g_bufferKept);
        EXPECT_EQ(ReadBytes(root_ + "windows\\system32\\mofahu4.ime"), contents_["mofahu64.ime"]);
        EXPECT_EQ(ReadBytes(root_ + "windows\\syswow64\\mofahu4.ime"), contents_["mofahu4.ime"]);
        // The report's boxes, made on the window's thread.
        EXPECT_FALSE(messages.shown.empty());
        EXPECT_EQ(g_boxThreads, std::vector<DWORD>(messages.shown.size(), GetCurrentThreadId()));
        // Once the plan has ended, closing works again.
        SendMessageA(g_wizard, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(g_wizard));
        g_ui = kPlainUi;
    });
    EXPECT_TRUE(ran);
}

TEST(WizardClose, CaseRunsInAFreshProcess) {
    DWORD exitCode = 1;
    std::string output = RunTestsInFreshProcess("RollbackTest.DISABLED_*", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

// The plan's table: what each run mode takes, and where the commit lies.
TEST(PlanTable, EachRunModeTakesItsSteps) {
    int count = 0;
    const PlanStep* steps = InstallPlanSteps(&count);
    std::string wizard, silent;
    int commit = -1, firstUndo = -1, lastUndo = -1;
    for (int i = 0; i < count; ++i) {
        if (steps[i].modes & kInWizard) wizard += std::string(steps[i].name) + ";";
        if (steps[i].modes & kInSilentRun) silent += std::string(steps[i].name) + ";";
        if (steps[i].onFailure == kCommitHere) commit = i;
        if (steps[i].onFailure == kUndoEverything) {
            if (firstUndo < 0) firstUndo = i;
            lastUndo = i;
        }
        EXPECT_EQ(steps[i].run == nullptr, steps[i].onFailure == kCommitHere) << steps[i].name;
    }
    EXPECT_EQ(silent,
              "payload check;backup of the earlier data;install directory;room for the payload;"
              "install folders and settings files;earlier module;deployment pass 0;registration;deployment pass 1;"
              "autostart and browser token;sign-in entry;restore of the earlier data;estimated size;commit;"
              "the user's input list;companion program;");
    EXPECT_EQ(wizard,
              "pre-install checks;payload check;backup of the earlier data;install directory;room for the payload;"
              "install folders and settings files;earlier module;deployment pass 0;registration;deployment pass 1;"
              "autostart and browser token;sign-in entry;skins;configuration record and install stamp;"
              "restore of the earlier data;estimated size;commit;the user's input list;companion program;try-it page;"
              "report;");
    // Nothing changes the machine before the payload is checked, and every
    // step that may be undone lies before the commit.
    EXPECT_EQ(std::string(steps[0].name) + steps[1].name, "pre-install checkspayload check");
    for (int i = 0; i < firstUndo; ++i) EXPECT_EQ(steps[i].onFailure, kStopBeforeChange) << steps[i].name;
    EXPECT_LT(lastUndo, commit);
    for (int i = commit + 1; i < count; ++i) EXPECT_NE(steps[i].onFailure, kUndoEverything) << steps[i].name;
    EXPECT_EQ(std::string(steps[commit + 2].name), "companion program");
    EXPECT_EQ(steps[commit + 2].onFailure, kKeepAndFail);  // kept, but the run failed
}
}  // namespace

namespace {
// The file's identity on its disk: a file replaced by another has a new one.
uint64_t FileIdentity(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}
}  // namespace

// A repair writes nothing where a file holds its bytes already; any other
// file (other bytes, more or fewer of them, an attribute set) is replaced.
TEST(RepairWrite, AFileThatHoldsItsBytesAlreadyIsLeftAsItIs) {
    const std::string path = ScratchDir("unchanged") + "words.txt";
    ASSERT_TRUE(WriteBytes(path, "shipped words"));
    uint64_t before = FileIdentity(path);
    EXPECT_TRUE(ReplaceFileWith(path.c_str(), "shipped words", 13));
    EXPECT_EQ(FileIdentity(path), before);
    for (const char* earlier : {"shipped wordz", "shipped words and more", "shipped", ""}) {
        ASSERT_TRUE(WriteBytes(path, earlier));
        before = FileIdentity(path);
        EXPECT_TRUE(ReplaceFileWith(path.c_str(), "shipped words", 13)) << earlier;
        EXPECT_NE(FileIdentity(path), before) << earlier;
        EXPECT_EQ(ReadBytes(path), "shipped words") << earlier;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    before = FileIdentity(path);
    EXPECT_TRUE(ReplaceFileWith(path.c_str(), "shipped words", 13));
    EXPECT_NE(FileIdentity(path), before);
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}
