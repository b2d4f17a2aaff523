#include "support/winsupport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/log.h"
#include "base/sysapi.h"
#include "install/sysops.h"

MessageRecorder* MessageRecorder::current = nullptr;

namespace {
// The program an install copies as its sign-in program: a small stand-in,
// not this 5 MB test program (whose own texts would be found in the copy).
struct SignInProgramStandIn {
    char path[MAX_PATH + 32];
    SignInProgramStandIn() {
        DWORD n = GetTempPathA(MAX_PATH, path);
        if (n == 0 || n >= MAX_PATH) return;
        std::strcat(path, "mofasetup-stand-in.exe");
        std::ofstream(path, std::ios::binary) << "MZ a stand-in of setup";
        g_sys.programPath = path;
    }
} g_signInProgram;

// A kill at the crashAt-th moment: from then on the run changes nothing.
int CountedMoment() {
    if (++g_sys.moments == g_sys.crashAt) {
        Log("killed at %lu", g_sys.moments);
        g_sys.abandoned = 1;
    }
    return g_sys.abandoned;
}

// The failAt-th change fails as one refused would ("access denied"), as does
// every change once a kill has ended the run.
int CountedRefusal(const char* what) {
    ++g_sys.operations;
    bool fails = CountedMoment() != 0;
    if (!fails && g_sys.failAt != 0 && g_sys.operations == g_sys.failAt) {
        Log("fault made for a test: operation %lu (%s) fails", g_sys.operations, what);
        fails = true;
    }
    if (fails) SetLastError(ERROR_ACCESS_DENIED);
    return fails ? 1 : 0;
}

struct KillsAndFaults {
    KillsAndFaults() {
        g_sys.moment = CountedMoment;
        g_sys.refuse = CountedRefusal;
    }
} g_killsAndFaults;
}  // namespace

namespace {
int Answer(unsigned buttons) {
    MessageRecorder* r = MessageRecorder::current;
    if (r != nullptr && !r->answers.empty()) {
        int a = r->answers.front();
        r->answers.pop_front();
        return a;
    }
    return (buttons & 0xF) == kMbYesNo ? kIdNo : kIdOk;
}

int RecordW(const char16_t* text, const char16_t* caption, unsigned buttons) {
    MessageRecorder::current->shown.push_back({true, text, caption, {}, {}, buttons, InNativeSystemDirAccess() != 0});
    return Answer(buttons);
}

int RecordA(const char* text, const char* caption, unsigned buttons) {
    MessageRecorder::current->shown.push_back({false, {}, {}, text, caption, buttons, InNativeSystemDirAccess() != 0});
    return Answer(buttons);
}

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + "\\");
                RemoveDirectoryA(path.c_str());
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
}
}  // namespace

MessageRecorder::MessageRecorder() : saved_(g_ui) {
    current = this;
    g_ui.showW = RecordW;
    g_ui.showA = RecordA;
}

MessageRecorder::~MessageRecorder() {
    g_ui = saved_;
    current = nullptr;
}

std::string ScratchDir(const std::string& name) {
    CreateDirectoryA("C:\\mofatest", nullptr);
    std::string dir = "C:\\mofatest\\" + name + "\\";
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string BesideTestProgram(const char* name) {
    char self[MAX_PATH];
    std::string path(self, GetModuleFileNameA(nullptr, self, sizeof self));
    return path.substr(0, path.rfind('\\') + 1) + name;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HANDLE HoldAsLoadedModule(const std::string& path) {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    std::string dll = std::string(dir) + "\\version.dll";
    if (!CopyFileA(dll.c_str(), path.c_str(), FALSE)) return nullptr;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE section = CreateFileMappingA(file, nullptr, PAGE_EXECUTE_READ | SEC_IMAGE, 0, 0, nullptr);
    CloseHandle(file);
    return section;
}

StandInWindows g_standIn;

namespace {
UINT CopyStandIn(const std::string& text, LPSTR out, UINT cap) {
    if (text.size() >= cap) return static_cast<UINT>(text.size() + 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<UINT>(text.size());
}
UINT WINAPI StandInWindowsDir(LPSTR out, UINT cap) { return CopyStandIn(g_standIn.windows, out, cap); }
UINT WINAPI StandInSystemDir(LPSTR out, UINT cap) { return CopyStandIn(g_standIn.system, out, cap); }
BOOL WINAPI StandInVersion(LPOSVERSIONINFOA info) {
    if (info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
    info->dwMajorVersion = g_standIn.major;
    info->dwMinorVersion = 1;
    return TRUE;
}
}  // namespace

void UseStandInWindows(const std::string& windowsDir, DWORD major) {
    g_standIn.windows = windowsDir;
    g_standIn.system = windowsDir + "\\system32";
    g_standIn.major = major;
    CreateDirectoryA(g_standIn.windows.c_str(), nullptr);
    CreateDirectoryA(g_standIn.system.c_str(), nullptr);
    g_sys.getWindowsDirectoryA = StandInWindowsDir;
    g_sys.getSystemDirectoryA = StandInSystemDir;
    g_sys.getVersionExA = StandInVersion;
}

std::string RunTestsInFreshProcess(const std::string& filter, DWORD* exitCode) {
    *exitCode = 1;
    char program[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
    if (n == 0 || n >= sizeof program) return "no program name";
    std::string command =
        std::string("\"") + program + "\" --gtest_also_run_disabled_tests --gtest_filter=" + filter;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "no pipe";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return "the test program could not be started again";
    }
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    WaitForSingleObject(child.hProcess, INFINITE);
    GetExitCodeProcess(child.hProcess, exitCode);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return output;
}

namespace {
const char kDriversKey[] = "Software\\Wine\\Drivers";
}  // namespace

NullDriverDesktop::NullDriverDesktop(const char* name) : name_(name) {
    HKEY drivers = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kDriversKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &drivers, nullptr) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof saved_ - 1;
        hadValue_ = RegQueryValueExA(drivers, "Graphics", nullptr, nullptr, reinterpret_cast<BYTE*>(saved_), &size) ==
                    ERROR_SUCCESS;
        saved_[hadValue_ ? size : 0] = '\0';
        changed_ = RegSetValueExA(drivers, "Graphics", 0, REG_SZ, reinterpret_cast<const BYTE*>("null"), 5) ==
                   ERROR_SUCCESS;
        RegCloseKey(drivers);
    }
    desktop_ = CreateDesktopA(name_.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
}

NullDriverDesktop::~NullDriverDesktop() {
    RestoreDriverSetting();
    if (desktop_ != nullptr) CloseDesktop(desktop_);
}

void NullDriverDesktop::RestoreDriverSetting() {
    if (!changed_) return;
    changed_ = false;
    HKEY drivers = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDriversKey, 0, KEY_ALL_ACCESS, &drivers) != ERROR_SUCCESS) return;
    if (hadValue_)
        RegSetValueExA(drivers, "Graphics", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_),
                       static_cast<DWORD>(std::strlen(saved_) + 1));
    else
        RegDeleteValueA(drivers, "Graphics");
    RegCloseKey(drivers);
}

bool NullDriverDesktop::Run(const std::function<void()>& body) {
    if (desktop_ == nullptr) return false;
    struct Job {
        const char* name;
        const std::function<void()>* body;
        bool attached;
    } job = {name_.c_str(), &body, false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID param) -> DWORD {
            Job* j = static_cast<Job*>(param);
            // A handle of its own: wine closes the thread's desktop handle
            // when the thread ends, and desktop_ must outlive it.
            HDESK own = OpenDesktopA(j->name, 0, FALSE, GENERIC_ALL);
            j->attached = own != nullptr && SetThreadDesktop(own) != FALSE;
            if (j->attached) (*j->body)();
            return 0;
        },
        &job, 0, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    // The desktop has its driver now; the prefix gets its own setting back.
    RestoreDriverSetting();
    return job.attached;
}

// ---- The power-cut model ----

PowerCutModel* PowerCutModel::current_ = nullptr;

PowerCutModel::PowerCutModel(const std::string& root) : root_(root.begin(), root.end()) {
    current_ = this;
    g_sys.writeFile = WriteThrough;
    g_sys.flushFileBuffers = FlushThrough;
}

PowerCutModel::~PowerCutModel() {
    g_sys.writeFile = WriteFile;
    g_sys.flushFileBuffers = FlushFileBuffers;
    current_ = nullptr;
}

namespace {
bool IdentityOf(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) { return GetFileInformationByHandle(h, info) != 0; }

std::wstring PathOf(HANDLE h) {
    wchar_t wide[MAX_PATH + 1];
    DWORD n = GetFinalPathNameByHandleW(h, wide, MAX_PATH, 0);
    if (n == 0 || n > MAX_PATH) return L"";
    std::wstring path = wide;
    return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

HANDLE OpenShared(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}
}  // namespace

BOOL WINAPI PowerCutModel::WriteThrough(HANDLE h, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    Write w = {};
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER zero = {}, at = {}, size = {};
    bool noted = current_ != nullptr && length > 0 && IdentityOf(h, &info) &&
                 SetFilePointerEx(h, zero, &at, FILE_CURRENT) && GetFileSizeEx(h, &size);
    if (noted) w = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, L"", at.QuadPart, length, ""};
    // Where the range held bytes already, they are read through a handle of
    // our own (a file opened without read sharing is one setup made: it held
    // nothing before); a write past the end needs no path until a cut.
    if (noted && at.QuadPart < size.QuadPart) {
        w.path = PathOf(h);
        HANDLE reader = OpenShared(w.path, GENERIC_READ);
        if (reader != INVALID_HANDLE_VALUE) {
            std::string earlier(length, '\0');
            DWORD got = 0;
            if (SetFilePointerEx(reader, at, nullptr, FILE_BEGIN) && ReadFile(reader, &earlier[0], length, &got, nullptr))
                w.earlier = earlier.substr(0, got);
            CloseHandle(reader);
        }
    }
    BOOL ok = WriteFile(h, data, length, written, overlapped);
    if (ok && noted) current_->pending_.push_back(w);
    return ok;
}

BOOL WINAPI PowerCutModel::FlushThrough(HANDLE h) {
    BOOL ok = FlushFileBuffers(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (ok && current_ != nullptr && IdentityOf(h, &info)) {
        auto& pending = current_->pending_;
        for (size_t i = pending.size(); i-- > 0;)
            if (pending[i].volume == info.dwVolumeSerialNumber && pending[i].indexHigh == info.nFileIndexHigh &&
                pending[i].indexLow == info.nFileIndexLow)
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return ok;
}

std::wstring PowerCutModel::Find(const Write& w, const std::wstring& folder) const {
    auto same = [&w](const std::wstring& path) {
        HANDLE h = OpenShared(path, FILE_READ_ATTRIBUTES);
        BY_HANDLE_FILE_INFORMATION info;
        bool is = h != INVALID_HANDLE_VALUE && IdentityOf(h, &info) && info.dwVolumeSerialNumber == w.volume &&
                  info.nFileIndexHigh == w.indexHigh && info.nFileIndexLow == w.indexLow;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return is;
    };
    if (folder.empty()) return !w.path.empty() && same(w.path) ? w.path : Find(w, root_);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return L"";
    std::wstring hit;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            hit = Find(w, path + L"\\");
        else if (same(path))
            hit = path;
    } while (hit.empty() && FindNextFileW(search, &found));
    FindClose(search);
    return hit;
}

int PowerCutModel::Cut() {
    int lost = 0;
    for (const Write& w : pending_) {
        std::wstring path = Find(w, L"");
        if (path.empty()) continue;  // deleted since: nothing of it is read again
        HANDLE h = OpenShared(path, GENERIC_READ | GENERIC_WRITE);
        if (h == INVALID_HANDLE_VALUE) continue;
        LARGE_INTEGER size, at;
        at.QuadPart = w.offset;
        if (GetFileSizeEx(h, &size) && w.offset < size.QuadPart && SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) {
            LONGLONG span = std::min<LONGLONG>(w.length, size.QuadPart - w.offset);
            std::string back = w.earlier.substr(0, static_cast<size_t>(std::min<LONGLONG>(span, w.earlier.size())));
            back.resize(static_cast<size_t>(span), '\0');
            DWORD put = 0;
            if (WriteFile(h, back.data(), static_cast<DWORD>(span), &put, nullptr)) ++lost;
        }
        CloseHandle(h);
    }
    pending_.clear();
    return lost;
}
