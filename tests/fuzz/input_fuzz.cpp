// libFuzzer target over what setup reads from outside its payload: the
// command line, the path file, a backup archive through the restore, the
// settings files it reads back, and the journal an earlier run left. The
// first byte picks the reader (and for the journal whether its records are
// resealed), the rest is what that reader is given. Besides the sanitizers
// it checks that nothing is written outside the folders a reader may write,
// and that every text a reader fills stays terminated inside its field.
#include <dirent.h>
#include <linux/magic.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "archive/backup.h"
#include "archive/mfz.h"
#include "base/context.h"
#include "base/fileops.h"
#include "base/journal_records.h"
#include "base/path.h"
#include "base/strbuf.h"
#include "base/ui.h"
#include "settings/settings_text.h"

namespace {
enum Reader : uint8_t {
    kCommandLine,
    kPathFile,
    kBackupRestore,
    kSettingsFiles,
    kJournal,
    kReaderCount,
};

// The sandbox: install/ (extraction), earlier/ (an earlier installation
// with user files), backup/ (the archive the restore reads), windows/ (the
// path file), tmp/ (the backup's private folders). Nothing else may appear.
struct Sandbox {
    std::string root, install, earlier, backup, windows, tmp;
    bool onTmpfs;
    off_t emptySize;          // an empty folder's size there
    struct timespec rootTime;  // the root's last seen modification time
} g_box;

int Quiet(const char*, const char*, unsigned) { return kIdOk; }
int QuietW(const char16_t*, const char16_t*, unsigned) { return kIdOk; }

void Fail(const char* what, const std::string& where) {
    std::fprintf(stderr, "%s: %s\n", what, where.c_str());
    abort();
}

// Removes the files of a folder; aborts on a folder inside it.
void EmptyFolder(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) Fail("folder gone", dir);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (unlink((dir + name).c_str()) != 0) Fail("not a plain file", dir + name);
    }
    closedir(d);
}

void RemoveSandbox() {
    for (const std::string* dir : {&g_box.install, &g_box.earlier, &g_box.backup, &g_box.windows, &g_box.tmp}) {
        if (DIR* d = opendir(dir->c_str())) {
            while (dirent* e = readdir(d)) unlink((*dir + e->d_name).c_str());
            closedir(d);
        }
        rmdir(dir->c_str());
    }
    rmdir(g_box.root.c_str());
}

// A tmpfs when there is one: the readers write real files, and the harness
// should not wait on a disk.
bool Setup() {
    char pattern[] = "/dev/shm/mofa-input-XXXXXX";
    char fallback[] = "/tmp/mofa-input-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) made = mkdtemp(fallback);
    if (made == nullptr) abort();
    g_box.root = made;
    g_box.install = g_box.root + "/install/";
    g_box.earlier = g_box.root + "/earlier/";
    g_box.backup = g_box.root + "/backup/";
    g_box.windows = g_box.root + "/windows/";
    g_box.tmp = g_box.root + "/tmp/";
    for (const std::string* dir : {&g_box.install, &g_box.earlier, &g_box.backup, &g_box.windows, &g_box.tmp})
        if (mkdir(dir->c_str(), 0755) != 0) abort();
    struct statfs fs;
    struct stat st;
    g_box.onTmpfs = statfs(g_box.root.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    if (stat(g_box.tmp.c_str(), &st) != 0) abort();
    g_box.emptySize = st.st_size;
    if (stat(g_box.root.c_str(), &st) != 0) abort();
    g_box.rootTime = st.st_mtim;
    // The backup's private folders go into the sandbox too.
    setenv("TMPDIR", g_box.tmp.substr(0, g_box.tmp.size() - 1).c_str(), 1);
    g_ui.showW = QuietW;
    g_ui.showA = Quiet;
    atexit(RemoveSandbox);
    return true;
}

// 1 when a folder is empty as far as its size tells: on a tmpfs a folder's
// size counts its entries. Elsewhere it is always listed.
bool LooksEmpty(const std::string& dir) {
    struct stat st;
    return g_box.onTmpfs && stat(dir.c_str(), &st) == 0 && st.st_size == g_box.emptySize;
}

// Aborts when anything appeared beside the sandbox's folders, a folder
// inside one of them, or a backup folder was left behind. Listing every
// folder on every run took much of the harness's time: the files the
// harness wrote itself go by name, and a folder is listed only when it is
// not empty (the root only when its modification time moved).
void CheckSandbox() {
    unlink((g_box.backup + "mofaback.mfz").c_str());
    unlink((g_box.windows + "mofapath.mfh").c_str());
    struct stat st;
    if (stat(g_box.root.c_str(), &st) != 0) abort();
    if (st.st_mtim.tv_sec != g_box.rootTime.tv_sec || st.st_mtim.tv_nsec != g_box.rootTime.tv_nsec) {
        DIR* d = opendir(g_box.root.c_str());
        if (d == nullptr) abort();
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && name != "install" && name != "earlier" && name != "backup" &&
                name != "windows" && name != "tmp")
                Fail("written outside the sandbox's folders", name);
        }
        closedir(d);
        g_box.rootTime = st.st_mtim;
    }
    for (const std::string* dir : {&g_box.install, &g_box.backup, &g_box.windows})
        if (!LooksEmpty(*dir)) EmptyFolder(*dir);
    if (LooksEmpty(g_box.tmp)) return;
    DIR* d = opendir(g_box.tmp.c_str());
    if (d == nullptr) abort();
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") Fail("a backup folder left behind", name);
    }
    closedir(d);
}

template <typename C, size_t N> void CheckTerminated(const C (&field)[N], const char* what) {
    for (C c : field)
        if (c == 0) return;
    Fail("unterminated", what);
}

void FreshContext(const std::string& installDir) {
    ResetSetupContext();
    if (!StrCopy(g_ctx.installDir, installDir.c_str())) abort();
}

// Every function of the command-line parser, as setup's entry calls them.
void ReadCommandLine(const uint8_t* data, size_t size) {
    // The text as Windows hands it over: NUL-terminated, in a block of its
    // exact size.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const char* line = text.data();
    FreshContext(g_box.install);
    g_ctx.runMode = kRunInteractive;
    ReadRunMode(line);
    if (g_ctx.registerOnly != 0 && g_ctx.registerOnly != kRegisterOnly) Fail("run mode", "registerOnly");
    // A directory handed over is exactly the text after the word that
    // begins the line (perhaps quoted), without quotes and trailing blanks,
    // backslashes before a quote halved.
    const char* word = std::strstr(line, "regmf32=");
    if (HasRegisterArgument(line) && ParseRegisterArgument(line, g_ctx.installDir, sizeof g_ctx.installDir)) {
        std::string want;
        for (const char* at = word != nullptr ? word + 8 : ""; *at != '\0'; ++at) {
            if (*at != '"') {
                want += *at;
                continue;
            }
            size_t run = want.size() - std::min(want.size(), want.find_last_not_of('\\') + 1);
            want.resize(want.size() - run / 2);  // doubled before a quote
        }
        while (!want.empty() && (want.back() == ' ' || want.back() == '\t')) want.pop_back();
        size_t lead = std::strspn(line, " \t");
        if (line[lead] == '"') ++lead;
        if (word != line + lead || want != g_ctx.installDir)
            Fail("register argument", g_ctx.installDir);
    }
    CheckTerminated(g_ctx.installDir, "installDir");
    // The log path into buffers of many sizes, each a block of its exact
    // size, and into the one setup uses.
    size_t cap = size > 0 ? data[0] % 64 : 0;
    std::vector<char> out(cap > 0 ? cap : 1, 'x');
    if (LogArgument(line, out.data(), cap) && std::memchr(out.data(), '\0', cap) == nullptr)
        Fail("log path", "not terminated inside its buffer");
    char logPath[261];
    LogArgument(line, logPath, sizeof logPath);
    // The switches, and the directory they name as setup checks it.
    Switches switches;
    ReadSwitches(line, &switches);
    CheckTerminated(switches.unknown, "unknown switch");
    CheckTerminated(switches.dir, "switch directory");
    char chosen[sizeof g_ctx.chosenInstallDir];
    if (NormalizeInstallDir(switches.dir, chosen, sizeof chosen) == kDirUsable) {
        size_t n = std::strlen(chosen);
        if (n < 4 || chosen[1] != ':' || chosen[n - 1] != '\\' || n >= sizeof chosen)
            Fail("switch directory", chosen);
    }
}

// The earlier installation's user files, as the backup finds them.
void PlantEarlierInstallation() {
    static const char* const kFiles[][2] = {
        {"mofacyzk.mfh", "\xB4\xCA\xD7\xE9; \xB4\xCA\xD3\xEF; "}, {"mfszsj43.mfh", "record"},
        {"mofadwdw.txt", "units"}, {"cwb.ov1", ""},
    };
    EmptyFolder(g_box.earlier);
    for (const auto& file : kFiles) {
        std::string path = g_box.earlier + file[0];
        if (!WriteWholeFile(path.c_str(), file[1], static_cast<uint32_t>(std::strlen(file[1])))) abort();
    }
}

// The path file's text as the earlier directory: read as setup reads it,
// then the backup that looks there for the earlier installation. The file
// holds the sandbox's root and the input after it, so that the directories
// it names stay inside the sandbox unless the input climbs out with "..":
// then only the read is done.
void ReadPathFileText(const uint8_t* data, size_t size) {
    std::string text = g_box.root + "/";
    text.append(reinterpret_cast<const char*>(data), size);
    std::string pathFile = g_box.windows + "mofapath.mfh";
    if (!WriteWholeFile(pathFile.c_str(), text.data(), static_cast<uint32_t>(text.size()))) abort();
    FreshContext(g_box.install);
    ReadPathFileAt(pathFile.c_str(), g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir);
    ReadPathFileAt(pathFile.c_str(), g_ctx.installDir, sizeof g_ctx.installDir);
    CheckTerminated(g_ctx.previousInstallDir, "previousInstallDir");
    CheckTerminated(g_ctx.installDir, "installDir");
    if (std::strstr(g_ctx.previousInstallDir, "..") != nullptr) return;
    FreshContext(g_box.install);
    ReadPathFileAt(pathFile.c_str(), g_ctx.previousInstallDir, sizeof g_ctx.previousInstallDir);
    PlantEarlierInstallation();
    if (BackupUserData() < 0) ShowBackupFailure();
    CheckTerminated(g_ctx.previousInstallDir, "previousInstallDir");
    CheckTerminated(g_ctx.installDir, "installDir");
    DiscardBackup();
}

// A backup archive of any bytes through the restore, into the install
// folder; the earlier directory is the install folder or another one.
void RestoreBackup(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> workBuffer(kWorkBufferSize);
    std::string archive = g_box.backup + "mofaback.mfz";
    if (!WriteWholeFile(archive.c_str(), data, static_cast<uint32_t>(size))) abort();
    FreshContext(g_box.install);
    bool elsewhere = size > 0 && (data[size - 1] & 1) != 0;
    if (!StrCopy(g_ctx.previousInstallDir, (elsewhere ? g_box.earlier : g_box.install).c_str()) ||
        !StrCopy(g_ctx.backupArchivePath, archive.c_str()))
        abort();
    g_ctx.workBuffer = workBuffer.data();
    RestoreUserData();
}

// The settings text setup reads the site from, the configuration record it
// updates, and the settings block whose site fields the user typed.
void ReadSettings(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    char value[kKeyValueMax + 1];
    for (const char* key : {"MFNETURL1=", "MFNETURL2=", "MFNETTIME="}) {
        uint32_t at = FindKeyValue(text.data(), static_cast<uint32_t>(text.size()), key, value);
        if (at > text.size() || std::memchr(value, '\0', sizeof value) == nullptr) Fail("key value", key);
    }
    unsigned char record[kConfigRecordSize];
    DefaultConfigRecord(record);
    std::memcpy(record, data, size < sizeof record ? size : sizeof record);
    ApplyConfigRecordChoices(record, size > 0 ? data[0] * 7 : 0, size > 1 ? data[1] : 0);
    FreshContext(g_box.install);
    std::memcpy(g_ctx.settingsBlock, data, size < kSettingsBlockSize ? size : kSettingsBlockSize);
    uint32_t length = BuildSettingsText(g_ctx.settingsBlock);
    if (length >= kSettingsTextSize || g_ctx.settingsBlock[kSettingsTextOffset + length] != '\0')
        Fail("settings text", "longer than its area");
}

volatile unsigned g_walked;  // what the walk read, so that it is not left out

// A record as recovery takes it in: the entry, each saved value with its
// bytes in a block of their own, the security descriptor in a block of its
// exact size.
struct Loaded {
    JournalEntry entry;
    std::vector<JournalValue> values;
    std::vector<std::vector<unsigned char>> data;
    std::vector<unsigned char> security;
};

// Walks a security descriptor the way Windows does when recovery puts it
// back: its access lists where the header says, their entries by their
// sizes. Out of the block is out of bounds.
unsigned WalkDescriptor(const std::vector<unsigned char>& sd) {
    unsigned sum = 0;
    for (size_t part = 12; part < 20; part += 4) {
        uint32_t at;
        std::memcpy(&at, sd.data() + part, 4);
        if (at == 0) continue;
        const unsigned char* acl = sd.data() + at;
        uint16_t length, count, ace;
        std::memcpy(&length, acl + 2, 2);
        std::memcpy(&count, acl + 4, 2);
        sum += acl[length - 1];
        for (size_t next = 8; count > 0; --count, next += ace) {
            std::memcpy(&ace, acl + next + 2, 2);
            if (next + ace > length) Fail("journal", "access list entry past its list");
            sum += acl[next] + acl[next + ace - 1];
        }
    }
    return sum;
}

// A journal file's bytes, as the next run's recovery reads them: every
// record the reader yields is taken in as recovery takes it in, written
// again (the same bytes but for the pointers) and walked newest first as
// the undo walks it. Nothing is read outside a record, and a record the
// reader refuses ends it. Resealed, each record framed by its length gets
// its right sum first, so that the fields behind the sum are reached too.
void ReadJournal(const uint8_t* data, size_t size, bool reseal) {
    // The file as recovery holds it: a block of its exact size.
    std::vector<unsigned char> image(data, data + size);
    const uint32_t imageSize = static_cast<uint32_t>(size);
    for (uint32_t pos = 0, length; reseal && imageSize - pos >= 8; pos += length) {
        std::memcpy(&length, &image[pos], 4);
        if (length < 8 || length > imageSize - pos) break;
        uint32_t sum = JournalRecordSum(&image[pos], length);
        std::memcpy(&image[pos + length - 4], &sum, 4);
    }
    std::vector<Loaded> loaded;
    bool committed = false;
    JournalRecord r;
    for (uint32_t pos = 0, start = 0; NextJournalRecord(image.data(), imageSize, &pos, &r); start = pos) {
        if (pos <= start || pos > imageSize) Fail("journal", "a record that does not move the reading on");
        CheckTerminated(r.entry.path, "journal path");
        CheckTerminated(r.entry.other, "journal other path");
        if (r.entry.kind == kCommitted) committed = true;
        Loaded e;
        e.entry = r.entry;
        const unsigned char* at = r.values;
        for (int i = 0; i < r.entry.valueCount; ++i) {
            JournalValue v;
            if (!ReadJournalValue(&at, r.security, &v)) Fail("journal", "a value of a whole record unreadable");
            CheckTerminated(v.sub, "journal sub-key");
            CheckTerminated(v.name, "journal value name");
            e.data.emplace_back(v.data, v.data + (v.data != nullptr ? v.size : 0));
            e.values.push_back(v);
        }
        if (at != r.security) Fail("journal", "values that do not end where the descriptor begins");
        e.security.assign(r.security, r.security + r.securitySize);
        if ((r.securitySize != 0) != (r.entry.security != nullptr)) Fail("journal", "a descriptor without its entry");
        // Written again, the record is the one read, its pointers aside.
        static unsigned char none;
        for (size_t i = 0; i < e.values.size(); ++i)
            e.values[i].data = !e.values[i].present ? nullptr : e.data[i].empty() ? &none : e.data[i].data();
        JournalEntry written = e.entry;
        written.values = e.values.data();
        written.security = r.securitySize != 0 ? e.security.data() : nullptr;
        std::vector<unsigned char> again(JournalRecordSize(written, r.securitySize));
        if (again.size() != pos - start) Fail("journal", "a record written again has another size");
        PutJournalRecord(written, r.entry.kind, r.securitySize, again.data());
        // (But for the slots an earlier version filled with its pointers, the
        // mark, the descriptor's flag and each value's last 4 bytes, and for
        // each value's 2 unused bytes, which no reader looks at.)
        const size_t mark = 4 + 608, sd = 4 + 616;
        std::memcpy(&again[mark], &image[start + mark], 4);
        std::memcpy(&again[sd], &image[start + sd], 4);
        for (size_t i = 0, at = 4 + kJournalEntryBytes; i < e.values.size(); ++i) {
            std::memcpy(&again[at + 714], &image[start + at + 714], 2);
            std::memcpy(&again[at + 724], &image[start + at + 724], 4);
            at += kJournalValueBytes + e.data[i].size();
        }
        if (std::memcmp(again.data(), &image[start], again.size() - 4) != 0)
            Fail("journal", "a record written again differs");
        loaded.push_back(std::move(e));
    }
    // Recovery: a committed journal's clean-up, or the undo, newest first.
    unsigned sum = committed ? 1 : 0;
    for (size_t i = loaded.size(); i-- > 0;) {
        const Loaded& e = loaded[i];
        sum += std::strlen(e.entry.path) + std::strlen(e.entry.other);
        for (size_t k = 0; k < e.values.size(); ++k) {
            sum += std::char_traits<char16_t>::length(e.values[k].name);
            for (unsigned char byte : e.data[k]) sum += byte;
        }
        if (!e.security.empty()) sum += WalkDescriptor(e.security);
    }
    g_walked = sum;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = Setup();
    (void)ready;
    if (size < 1 || size > (1u << 16)) return 0;
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    switch (data[0] % kReaderCount) {
        case kCommandLine:
            ReadCommandLine(rest, restSize);
            break;
        case kPathFile:
            ReadPathFileText(rest, restSize);
            break;
        case kBackupRestore:
            RestoreBackup(rest, restSize);
            break;
        case kSettingsFiles:
            ReadSettings(rest, restSize);
            break;
        case kJournal:
            ReadJournal(rest, restSize, data[0] / kReaderCount % 2 != 0);
            break;
    }
    CheckSandbox();
    return 0;
}
