// Registration, preload lists, the uninstall entry and the default-input-method
// check, against a registry redirected into scratch keys: HKLM, HKCU and HKU
// each point at their own sub-key of the real HKCU\Software\mofatest_ime for
// the length of one test.
#include <gtest/gtest.h>
#include <windows.h>
#include <imm.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "base/context.h"
#include "base/failure.h"
#include "base/sysapi.h"
#include "base/machine.h"
#include "ime/checks.h"
#include "ime/enable.h"
#include "ime/preload.h"
#include "ime/register.h"
#include "support/winsupport.h"

namespace {
const char kScratchRoot[] = "Software\\mofatest_ime";
const char kLayouts[] = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const char kUserPreload[] = "keyboard layout\\preload";
const char kDefaultPreload[] = ".DEFAULT\\keyboard layout\\preload";
const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Narrow literals are GBK, as the program writes them.
const std::string kLayoutText = "智能墨筏输入平台  7.9";
const std::string kNoValue = "<none>";

DWORD WINAPI VersionNt() { return 0x1DB10106; }     // 6.1 build 7601
DWORD WINAPI Version98() { return 0xC0000A04; }     // 4.10, the 9x high bit
BOOL WINAPI VersionEx61(LPOSVERSIONINFOA info) {
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

std::string g_windowsDir;
UINT WINAPI FakeWindowsDir(LPSTR buffer, UINT size) {
    std::string dir = g_windowsDir.substr(0, g_windowsDir.size() - 1);  // no trailing backslash
    if (dir.size() >= size) return static_cast<UINT>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

std::u16string g_systemDirW = u"C:\\windows\\system32";
UINT WINAPI FakeSystemDirW(LPWSTR buffer, UINT size) {
    if (g_systemDirW.size() >= size) return static_cast<UINT>(g_systemDirW.size() + 1);
    std::memcpy(buffer, g_systemDirW.c_str(), (g_systemDirW.size() + 1) * sizeof(char16_t));
    return static_cast<UINT>(g_systemDirW.size());
}

// Records what reaches the input-method manager, then asks the real one
// unless told to refuse.
int g_installCalls;
bool g_refuse;
std::u16string g_installedModule, g_installedDescription;
HKL WINAPI RecordingInstaller(LPCWSTR module, LPCWSTR description) {
    ++g_installCalls;
    g_installedModule = reinterpret_cast<const char16_t*>(module);
    g_installedDescription = reinterpret_cast<const char16_t*>(description);
    return g_refuse ? nullptr : ImmInstallIMEW(module, description);
}

std::string g_description;
HKL WINAPI FakeLayout(DWORD) { return reinterpret_cast<HKL>(static_cast<ULONG_PTR>(0xE0050804)); }
UINT WINAPI FakeDescription(HKL, LPSTR buffer, UINT size) {
    if (g_description.empty()) return 0;
    size_t n = g_description.size() < size ? g_description.size() : size;
    std::memcpy(buffer, g_description.data(), n);  // no NUL when it fills the buffer
    return static_cast<UINT>(n);
}

HKEY CreateKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
}

// Stores exactly these bytes as REG_SZ. Windows adds a NUL left out of the
// count when the byte after the data is one, so the data is followed by
// another byte here.
void SetRaw(HKEY root, const std::string& path, const char* name, const std::string& bytes) {
    std::string buffer = bytes + 'Z';
    HKEY key = CreateKey(root, path);
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetText(HKEY root, const std::string& path, const char* name, const std::string& text) {
    SetRaw(root, path, name, text + '\0');
}

// The value's text as the ANSI call returns it, without the NUL that Windows
// stores after a text written without one.
std::string GetRaw(HKEY root, const std::string& path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return kNoValue;
    char data[1024];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return kNoValue;
    std::string text(data, size);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// Every value write of the code under test, with the exact byte count it
// passed (Windows itself would hide a missing NUL).
struct ValueWrite {
    std::string name;
    std::string bytes;
    bool wide;
};
std::vector<ValueWrite> g_writes;

LONG WINAPI RecordSetA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD count) {
    // Text values only: a number's bytes may well hold a zero.
    if (type == REG_SZ)
        g_writes.push_back({name != nullptr ? name : "", std::string(reinterpret_cast<const char*>(data), count), false});
    return RegSetValueExA(key, name, reserved, type, data, count);
}

LONG WINAPI RecordSetW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD count) {
    std::string narrow;
    for (const wchar_t* c = name; c != nullptr && *c != 0; ++c) narrow += static_cast<char>(*c);
    g_writes.push_back({narrow, std::string(reinterpret_cast<const char*>(data), count), true});
    return RegSetValueExW(key, name, reserved, type, data, count);
}

// The bytes of the last write of a value name ("" = default value).
std::string LastWrite(const std::string& name) {
    for (auto w = g_writes.rbegin(); w != g_writes.rend(); ++w)
        if (w->name == name) return w->bytes;
    return kNoValue;
}

std::string Utf16Bytes(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

std::u16string GetRawW(HKEY root, const std::string& path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<none>";
    char16_t data[512];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return u"<none>";
    EXPECT_EQ(size % 2, 0u);
    std::u16string text(data, size / 2);
    if (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

DWORD SubKeyCount(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return count;
}

std::string Layout(const std::string& id) { return std::string(kLayouts) + "\\" + id; }

class ImeRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        std::memset(&g_layouts, 0, sizeof g_layouts);
        g_ctx.oemCodePage = 936;
        g_ctx.windowsMajorVersion = 5;
        savedSys_ = g_sys;
        g_sys.getVersion = VersionNt;
        g_sys.regSetValueExA = RecordSetA;
        g_sys.regSetValueExW = RecordSetW;
        g_writes.clear();
        g_refuse = false;
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchRoot);
        const char* names[3] = {"hklm", "hkcu", "hku"};
        for (int i = 0; i < 3; ++i) scratch_[i] = CreateKey(HKEY_CURRENT_USER, std::string(kScratchRoot) + "\\" + names[i]);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_[0]), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_USERS, scratch_[2]), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch_[1]), ERROR_SUCCESS);
    }

    void TearDown() override {
        // No text value is ever written with its NUL counted.
        for (const ValueWrite& w : g_writes) {
            EXPECT_FALSE(w.bytes.empty()) << w.name;
            if (w.wide) {
                EXPECT_NE(w.bytes.substr(w.bytes.size() - 2), std::string(2, '\0')) << w.name;
            } else {
                EXPECT_EQ(w.bytes.find('\0'), std::string::npos) << w.name;
            }
        }
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegOverridePredefKey(HKEY_USERS, nullptr);
        for (HKEY key : scratch_) RegCloseKey(key);
        RegDeleteTreeA(HKEY_CURRENT_USER, kScratchRoot);
        g_sys = savedSys_;
    }

    void Use9x() { g_sys.getVersion = Version98; }
    bool Is9x() const { return g_sys.getVersion == Version98; }

    // The user's preload list in the family's own form: values on NT,
    // sub-keys with default values on 9x.
    void SeedPreload(std::initializer_list<std::pair<int, std::string>> entries) {
        RegCloseKey(CreateKey(HKEY_CURRENT_USER, kUserPreload));
        for (const auto& e : entries) {
            if (Is9x())
                SetText(HKEY_CURRENT_USER, std::string(kUserPreload) + "\\" + std::to_string(e.first), nullptr, e.second);
            else
                SetText(HKEY_CURRENT_USER, kUserPreload, std::to_string(e.first).c_str(), e.second);
        }
    }
    void ClearPreload() { RegDeleteTreeA(HKEY_CURRENT_USER, kUserPreload); }
    std::string Preload(int number) const {
        if (Is9x()) return GetRaw(HKEY_CURRENT_USER, std::string(kUserPreload) + "\\" + std::to_string(number), nullptr);
        return GetRaw(HKEY_CURRENT_USER, kUserPreload, std::to_string(number).c_str());
    }
    std::string DefaultPreload(int number) const {
        return GetRaw(HKEY_USERS, kDefaultPreload, std::to_string(number).c_str());
    }
    // New entries: lower case on NT, upper case on 9x.
    std::string Entry(const char* lower) const {
        std::string s = lower;
        if (Is9x())
            for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return s;
    }

    void SeedStandardLayouts() {
        SetText(HKEY_LOCAL_MACHINE, Layout("00000409"), "layout text", "US");
        SetText(HKEY_LOCAL_MACHINE, Layout("00000804"), "layout text", "Chinese (Simplified) - US Keyboard");
        SetText(HKEY_LOCAL_MACHINE, Layout("E0010804"), "layout text", "other input method");
        SetText(HKEY_LOCAL_MACHINE, Layout("E0020804"), "layout text", "another input method");
    }
    void SeedProductKey(const std::string& id, const char* imeFile = "OLD.IME") {
        SetText(HKEY_LOCAL_MACHINE, Layout(id), "layout text", "智能墨筏输入平台  7.8");
        SetText(HKEY_LOCAL_MACHINE, Layout(id), "IME file", imeFile);
    }
    void ExpectProductValues(const std::string& id) {
        EXPECT_EQ(LastWrite("IME file"), "MOFAHU4.IME");
        EXPECT_EQ(LastWrite("layout file"), Is9x() ? "kbdus.kbd" : "kbdus.dll");
        EXPECT_EQ(LastWrite("layout text"), kLayoutText);
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, Layout(id), "IME file"), "MOFAHU4.IME");
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, Layout(id), "layout file"), Is9x() ? "kbdus.kbd" : "kbdus.dll");
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, Layout(id), "layout text"), kLayoutText);
    }

    HKEY scratch_[3] = {};
    SysApi savedSys_;
};

// The same behaviour on both families; param true = 9x.
class ImeRegistryFamily : public ImeRegistry, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ImeRegistry::SetUp();
        if (GetParam()) Use9x();
    }
};

TEST_P(ImeRegistryFamily, NewKeyAboveTheHighestIdAndAddedToThePreloadList) {
    SeedStandardLayouts();
    SeedPreload({{1, "00000804"}});
    MessageRecorder recorder;
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    EXPECT_TRUE(recorder.shown.empty());
    ExpectProductValues("E0030804");
    EXPECT_EQ(SubKeyCount(HKEY_LOCAL_MACHINE, kLayouts), 5u);
    EXPECT_EQ(Preload(1), "00000804");
    EXPECT_EQ(Preload(2), Entry("e0030804"));
    EXPECT_EQ(LastWrite(GetParam() ? "" : "2"), Entry("e0030804"));
    EXPECT_EQ(Preload(3), kNoValue);
    EXPECT_EQ((g_ctx.windowsVersionWord & 0x80000000u) != 0, GetParam());
}

TEST_P(ImeRegistryFamily, EarlierKeyWithTheRightSuffixIsRewrittenInPlace) {
    SeedStandardLayouts();
    SeedProductKey("E0050804");
    SetText(HKEY_LOCAL_MACHINE, Layout("E0060804"), "layout text", "a later input method");
    SeedPreload({{1, "00000804"}, {2, "e0050804"}});
    MessageRecorder recorder;
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    EXPECT_TRUE(recorder.shown.empty());
    ExpectProductValues("E0050804");
    EXPECT_EQ(SubKeyCount(HKEY_LOCAL_MACHINE, kLayouts), 6u);  // nothing created
    EXPECT_EQ(Preload(2), "e0050804");                           // present: left as it was
    EXPECT_EQ(Preload(3), kNoValue);
}

TEST_P(ImeRegistryFamily, EarlierTraditionalKeyIsReplacedAndItsPreloadEntryOverwritten) {
    SeedStandardLayouts();
    SeedProductKey("E0050404");
    SeedPreload({{1, "00000804"}, {2, "E0050404"}, {3, "00000409"}});
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutSuffixForced);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Layout("E0050404")));
    ExpectProductValues("E0050804");
    EXPECT_EQ(Preload(2), Entry("e0050804"));
    EXPECT_EQ(Preload(3), "00000409");
    EXPECT_EQ(Preload(4), kNoValue);
}

TEST_P(ImeRegistryFamily, TraditionalCodePageKeepsA404Key) {
    g_ctx.oemCodePage = 950;
    SeedStandardLayouts();
    SeedPreload({{1, "00000404"}});
    // The highest id, E0020804, is above the floor E0000404: the new id
    // follows it and gets its suffix forced.
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutSuffixForced);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Layout("E0030404")));
    EXPECT_EQ(Preload(2), Entry("e0030404"));
}

TEST_P(ImeRegistryFamily, FirstProductKeyInDescendingEnumerationOrderWins) {
    SeedStandardLayouts();
    SeedProductKey("E0040804", "FOUR.IME");
    SeedProductKey("E0070804", "SEVEN.IME");
    SeedPreload({{1, "00000804"}});
    // Which of the two the enumeration reaches first, counting down.
    std::string first;
    HKEY layouts = CreateKey(HKEY_LOCAL_MACHINE, kLayouts);
    for (DWORD i = SubKeyCount(HKEY_LOCAL_MACHINE, kLayouts); i-- > 0 && first.empty();) {
        char name[200];
        DWORD len = sizeof name;
        ASSERT_EQ(RegEnumKeyExA(layouts, i, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        if (std::string(name) == "E0040804" || std::string(name) == "E0070804") first = name;
    }
    RegCloseKey(layouts);
    const std::string other = first == "E0040804" ? "E0070804" : "E0040804";

    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    ExpectProductValues(first);
    EXPECT_NE(GetRaw(HKEY_LOCAL_MACHINE, Layout(other), "IME file"), "MOFAHU4.IME");
    EXPECT_EQ(SubKeyCount(HKEY_LOCAL_MACHINE, kLayouts), 6u);
    EXPECT_EQ(Preload(2), Entry(first == "E0040804" ? "e0040804" : "e0070804"));
}

TEST_P(ImeRegistryFamily, KeysWithoutAReadableLayoutTextNeitherMatchNorCount) {
    SetText(HKEY_LOCAL_MACHINE, Layout("00000804"), "layout text", "Chinese (Simplified) - US Keyboard");
    SetRaw(HKEY_LOCAL_MACHINE, Layout("E0030804"), "layout text", std::string(199, 'y'));  // fits: counted
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, Layout("E0090804")));  // no text
    // The product's text, but 200 bytes without a NUL, and 201 with one.
    SetRaw(HKEY_LOCAL_MACHINE, Layout("E0080804"), "layout text", kLayoutText + std::string(200 - kLayoutText.size(), 'x'));
    SetText(HKEY_LOCAL_MACHINE, Layout("E0070804"), "layout text", kLayoutText + std::string(200 - kLayoutText.size(), 'x'));
    SeedPreload({{1, "00000804"}});
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    ExpectProductValues("E0040804");
    EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, Layout("E0080804"), "IME file"), kNoValue);
    EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, Layout("E0070804"), "IME file"), kNoValue);
    EXPECT_EQ(Preload(2), Entry("e0040804"));
}

TEST_P(ImeRegistryFamily, PreloadEntryGoesToTheFirstGapUnlessPresent) {
    SeedStandardLayouts();
    SeedProductKey("E0030804");
    // 1, 2 and 4 with the product at 4: the gap at 3 wins, the id stands twice.
    SeedPreload({{1, "00000804"}, {2, "00000409"}, {4, Entry("e0030804")}});
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    EXPECT_EQ(Preload(3), Entry("e0030804"));
    EXPECT_EQ(Preload(4), Entry("e0030804"));
    EXPECT_EQ(Preload(5), kNoValue);

    // Stored in the other family's case: present all the same, not rewritten.
    ClearPreload();
    const char* stored = GetParam() ? "e0030804" : "E0030804";
    SeedPreload({{1, "00000804"}, {2, stored}});
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    EXPECT_EQ(Preload(2), stored);
    EXPECT_EQ(Preload(3), kNoValue);

    // All 49 places hold other layouts: the last one is overwritten.
    ClearPreload();
    for (int k = 1; k <= 49; ++k) {
        char id[16];
        std::snprintf(id, sizeof id, "%08X", 0x10000 + k);
        SeedPreload({{k, id}});
    }
    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    EXPECT_EQ(Preload(48), "00010030");
    EXPECT_EQ(Preload(49), Entry("e0030804"));
    EXPECT_EQ(Preload(50), kNoValue);
}

TEST_P(ImeRegistryFamily, ReadingStopsAtAValueThatDoesNotFitItsSlot) {
    SetRaw(HKEY_LOCAL_MACHINE, Layout("00000804"), "layout text", std::string(199, 's'));  // no NUL stored
    SetRaw(HKEY_LOCAL_MACHINE, Layout("123456789"), "layout text", std::string(200, 'l'));  // too long
    SeedPreload({{1, "00000804"}, {3, "00000409"}});
    if (GetParam())
        SetRaw(HKEY_CURRENT_USER, std::string(kUserPreload) + "\\2", nullptr, "123456789");
    else
        SetRaw(HKEY_CURRENT_USER, kUserPreload, "2", "123456789");  // nine characters, no NUL
    SeedPreload({{4, "0123456789"}, {5, "00000411"}});

    std::memset(g_layouts.preloadIds, '#', sizeof g_layouts.preloadIds);
    std::memset(g_layouts.preloadTexts, '#', sizeof g_layouts.preloadTexts);
    g_layouts.preloadTexts[1][199] = '\0';
    if (GetParam()) {
        // 9x: only a sub-key that does not open ends the list; the value of
        // sub-key 4 does not read and leaves its slot empty.
        EXPECT_EQ(ReadPreloadList(), 5);
        EXPECT_STREQ(g_layouts.preloadIds[3], "");
        EXPECT_STREQ(g_layouts.preloadTexts[3], "");
        EXPECT_STREQ(g_layouts.preloadIds[4], "00000411");
        return;
    }
    EXPECT_EQ(ReadPreloadList(), 3);
    EXPECT_EQ(g_ctx.preloadCount, 3);
    EXPECT_STREQ(g_layouts.preloadIds[0], "00000804");
    EXPECT_STREQ(g_layouts.preloadIds[1], "123456789");
    EXPECT_STREQ(g_layouts.preloadIds[2], "00000409");
    EXPECT_EQ(std::string(g_layouts.preloadIds[3], 10), std::string(10, '#'));  // the 10-character value
    EXPECT_EQ(std::string(g_layouts.preloadTexts[0]), std::string(199, 's'));
    EXPECT_EQ(std::string(g_layouts.preloadTexts[1]), std::string(199, '#'));  // unreadable: kept
    EXPECT_EQ(std::string(g_layouts.preloadTexts[2], 200), std::string(200, '#'));  // no key: kept
}

TEST_P(ImeRegistryFamily, PromotionMovesTheProductToSecondPlace) {
    SeedStandardLayouts();
    SeedProductKey("E0030804");
    SetText(HKEY_LOCAL_MACHINE, Layout("00000411"), "layout text", "Japanese");
    SetText(HKEY_LOCAL_MACHINE, Layout("00000412"), "layout text", "Korean");
    SeedPreload({{1, "00000804"}, {2, "00000409"}, {3, "00000411"}, {4, "00000412"}, {5, "e0030804"}});
    for (int k = 1; k <= 6; ++k) SetText(HKEY_USERS, kDefaultPreload, std::to_string(k).c_str(), "0000000" + std::to_string(k));

    // Windows Vista and later: no change.
    g_ctx.windowsMajorVersion = 6;
    ASSERT_EQ(FindProductInPreload(), 1);
    PromotePreloadEntry();
    EXPECT_EQ(Preload(2), "00000409");
    EXPECT_EQ(Preload(5), "e0030804");

    g_ctx.windowsMajorVersion = 5;
    ASSERT_EQ(FindProductInPreload(), 1);
    EXPECT_EQ(g_ctx.productPreloadPosition, 5);
    EXPECT_EQ(g_ctx.productInPreload, 4);
    PromotePreloadEntry();
    EXPECT_EQ(Preload(1), "00000804");
    EXPECT_EQ(Preload(2), "e0030804");
    EXPECT_EQ(Preload(3), "00000409");
    EXPECT_EQ(Preload(4), "00000411");
    EXPECT_EQ(Preload(5), "00000412");
    EXPECT_EQ(Preload(6), kNoValue);
    if (GetParam()) {
        EXPECT_EQ(DefaultPreload(2), "00000002");  // the default user's list is NT's
    } else {
        EXPECT_EQ(DefaultPreload(1), "00000001");
        EXPECT_EQ(DefaultPreload(2), "e0030804");
        EXPECT_EQ(DefaultPreload(3), "00000409");
        EXPECT_EQ(DefaultPreload(4), "00000411");
        EXPECT_EQ(DefaultPreload(5), "00000412");
        EXPECT_EQ(DefaultPreload(6), "00000006");
    }

    // Now at place 2: nothing more moves.
    ASSERT_EQ(FindProductInPreload(), 1);
    EXPECT_EQ(g_ctx.productPreloadPosition, 2);
    PromotePreloadEntry();
    EXPECT_EQ(Preload(2), "e0030804");
    EXPECT_EQ(Preload(3), "00000409");
}

TEST_P(ImeRegistryFamily, SwapExchangesTheFirstTwoEntries) {
    SeedStandardLayouts();
    SeedProductKey("E0030804");
    SeedPreload({{1, "e0030804"}, {2, "00000804"}});
    SetText(HKEY_USERS, kDefaultPreload, "1", "00000409");
    SetText(HKEY_USERS, kDefaultPreload, "2", "00000411");
    ASSERT_EQ(FindProductInPreload(), 1);
    SwapFirstPreloadEntries();
    EXPECT_EQ(Preload(1), "00000804");
    EXPECT_EQ(Preload(2), "e0030804");
    EXPECT_STREQ(g_layouts.preloadIds[0], "e0030804");  // the list as read is left alone
    EXPECT_EQ(DefaultPreload(1), GetParam() ? "00000409" : "00000804");
    EXPECT_EQ(DefaultPreload(2), GetParam() ? "00000411" : "e0030804");

    // A list of one entry has nothing to swap with.
    if (GetParam()) {
        ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kUserPreload) + "\\2").c_str()), ERROR_SUCCESS);
    } else {
        HKEY preload = CreateKey(HKEY_CURRENT_USER, kUserPreload);
        ASSERT_EQ(RegDeleteValueA(preload, "2"), ERROR_SUCCESS);
        RegCloseKey(preload);
    }
    SeedPreload({{1, "e0030804"}});
    ASSERT_EQ(FindProductInPreload(), 1);
    ASSERT_EQ(g_ctx.preloadCount, 1);
    SwapFirstPreloadEntries();
    EXPECT_EQ(Preload(1), "e0030804");
    EXPECT_EQ(Preload(2), kNoValue);
}

INSTANTIATE_TEST_SUITE_P(Families, ImeRegistryFamily, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Win9x" : "NT"; });

// A failed registration shows nothing itself: its text becomes the cause
// that the install's one failure message names.
TEST_F(ImeRegistry, FailureCausesOfTheRegistration) {
    const auto failsWith = [](const std::string& cause) {
        MessageRecorder recorder;
        ClearFailure();
        EXPECT_EQ(RegisterKeyboardLayout(), kLayoutFailed);
        EXPECT_TRUE(recorder.shown.empty());
        EXPECT_EQ(FirstFailure().userText, cause);
    };
    failsWith("在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！");
    Use9x();
    failsWith("Software open error1003");
    // The layout key is written before the user's list is found missing,
    // and stays.
    SeedStandardLayouts();
    failsWith("Software open error2003");
    ExpectProductValues("E0030804");
    g_sys.getVersion = VersionNt;
    failsWith("Software open error2003");
    // NT with a keyboard-layout key but no preload key: silent, nothing added.
    RegCloseKey(CreateKey(HKEY_CURRENT_USER, "keyboard layout"));
    {
        MessageRecorder recorder;
        EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
        EXPECT_TRUE(recorder.shown.empty());
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserPreload));
    }
}

TEST_F(ImeRegistry, MoreLayoutKeysThanTheTableHolds) {
    HKEY layouts = CreateKey(HKEY_LOCAL_MACHINE, kLayouts);
    for (int i = 1; i <= 260; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "E%03X0804", i);
        HKEY key = CreateKey(layouts, name);
        RegSetValueExA(key, "layout text", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
        RegCloseKey(key);
    }
    RegCloseKey(layouts);
    SeedPreload({{1, "00000804"}});
    std::memset(g_layouts.preloadIds, '#', sizeof g_layouts.preloadIds);

    EXPECT_EQ(RegisterKeyboardLayout(), kLayoutRegistered);
    // The table is full and what follows it in memory is untouched.
    EXPECT_NE(g_layouts.layoutKeyNames[249][0], '\0');
    EXPECT_EQ(std::string(&g_layouts.preloadIds[0][0], sizeof g_layouts.preloadIds), std::string(sizeof g_layouts.preloadIds, '#'));
    ExpectProductValues("E1050804");
    EXPECT_EQ(Preload(2), "e1050804");
}

TEST_F(ImeRegistry, UninstallEntryHoldsTwoUtf16ValuesWithoutTheirNul) {
    g_sys.getSystemDirectoryW = FakeSystemDirW;
    g_systemDirW = u"C:\\windows\\system32";
    WriteUninstallEntry();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstall));  // the parent is never created

    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, kUninstall));
    WriteUninstallEntry();
    const std::string entry = std::string(kUninstall) + "\\mofaxwb";
    EXPECT_EQ(GetRawW(HKEY_LOCAL_MACHINE, entry, L"DisplayName"), u"墨筏五笔");
    EXPECT_EQ(GetRawW(HKEY_LOCAL_MACHINE, entry, L"UninstallString"), u"C:\\windows\\system32\\mofadel.exe");
    EXPECT_EQ(LastWrite("DisplayName"), Utf16Bytes(u"墨筏五笔"));  // 8 bytes
    EXPECT_EQ(LastWrite("UninstallString"), Utf16Bytes(u"C:\\windows\\system32\\mofadel.exe"));

    // A system directory of 100 characters or more: no uninstaller path.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, entry.c_str());
    g_systemDirW = u"C:\\" + std::u16string(100, u'd');
    WriteUninstallEntry();
    EXPECT_EQ(GetRawW(HKEY_LOCAL_MACHINE, entry, L"DisplayName"), u"墨筏五笔");
    EXPECT_EQ(GetRawW(HKEY_LOCAL_MACHINE, entry, L"UninstallString"), u"<none>");
}

TEST_F(ImeRegistry, InputMethodManagerInstallsTheModule) {
    g_installCalls = 0;
    g_sys.immInstallIMEW = RecordingInstaller;
    g_sys.getSystemDirectoryW = FakeSystemDirW;
    g_systemDirW = u"C:\\windows\\system32";
    EXPECT_EQ(InstallImeModule(), 1);
    EXPECT_EQ(g_installCalls, 1);
    EXPECT_EQ(g_installedModule, u"C:\\windows\\system32\\mofahu4.ime");
    EXPECT_EQ(g_installedDescription, u"智能墨筏输入平台  7.9");
    // This Windows' installer answers with a new layout and its key.
    ASSERT_NE(g_ctx.imeLayoutHandle, nullptr);
    char id[16];
    std::snprintf(id, sizeof id, "%08llX", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(g_ctx.imeLayoutHandle)));
    EXPECT_EQ(id[0], 'E');
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Layout(id)));

    g_refuse = true;
    EXPECT_EQ(InstallImeModule(), 0);
    EXPECT_EQ(g_ctx.imeLayoutHandle, nullptr);
    // Without the system directory there is no module path to hand over.
    g_systemDirW = u"C:\\" + std::u16string(100, u'd');
    EXPECT_EQ(InstallImeModule(), 0);
    EXPECT_EQ(g_installCalls, 2);
}

// The default-input-method check: the preload cases run on the NT family.
class ImeDefaultCheck : public ImeRegistry {
protected:
    void SetUp() override {
        ImeRegistry::SetUp();
        g_sys.getVersionExA = VersionEx61;
        g_sys.getWindowsDirectoryA = FakeWindowsDir;
        g_windowsDir = ScratchDir("imewindows");
        SeedStandardLayouts();
        SeedProductKey("E0030804");
    }
    void With64BitWindows() { ASSERT_TRUE(CreateDirectoryA((g_windowsDir + "syswow64").c_str(), nullptr)); }
};

const std::u16string kCheckCaption = u"智能墨筏安装";
const std::u16string kDefaultText =
    u"　　你以前安装的智能墨筏为系统默认输入法，请设置为系统非默认输入法后，重新启动机器才能安装新版本的智能墨筏！";

TEST_F(ImeDefaultCheck, OnlyEntryEndsTheRun) {
    SeedPreload({{1, "e0030804"}});
    MessageRecorder recorder;
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_TRUE(recorder.shown[0].wide);
    EXPECT_EQ(recorder.shown[0].text,
              u"　　你以前安装的智能墨筏为系统默认输入法，并且是系统安装的唯一输入法，请通过微软的输入法管理器增加英文输入法，并将智能墨筏输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的智能墨筏！");
    EXPECT_EQ(recorder.shown[0].caption, kCheckCaption);
    EXPECT_EQ(recorder.shown[0].buttons, kMbOk);
}

TEST_F(ImeDefaultCheck, FirstOfSeveralOn32BitWindowsAsksAndSwapsOnYes) {
    SeedPreload({{1, "e0030804"}, {2, "00000804"}});
    SetText(HKEY_USERS, kDefaultPreload, "1", "e0030804");
    SetText(HKEY_USERS, kDefaultPreload, "2", "00000804");
    MessageRecorder recorder;
    recorder.answers = {kIdOk, kIdYes, kIdOk};
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    ASSERT_EQ(recorder.shown.size(), 3u);
    EXPECT_EQ(recorder.shown[0].text, kDefaultText);
    EXPECT_EQ(recorder.shown[0].buttons, kMbOk);
    EXPECT_EQ(recorder.shown[1].text, u"是否设置智能墨筏为系统非默认输入法？");
    EXPECT_EQ(recorder.shown[1].buttons, kMbYesNo);
    EXPECT_EQ(recorder.shown[2].text, u"请重新启动机器后安装智能墨筏！");
    for (const ShownMessage& m : recorder.shown) EXPECT_EQ(m.caption, kCheckCaption);
    EXPECT_EQ(Preload(1), "00000804");
    EXPECT_EQ(Preload(2), "e0030804");
    EXPECT_EQ(DefaultPreload(1), "00000804");
    EXPECT_EQ(DefaultPreload(2), "e0030804");
}

TEST_F(ImeDefaultCheck, FirstOfSeveralEndsWithoutChangeOnNoOrOn64BitWindows) {
    SeedPreload({{1, "e0030804"}, {2, "00000804"}});
    {
        MessageRecorder recorder;
        recorder.answers = {kIdOk, kIdNo};
        EXPECT_EQ(CheckDefaultInputMethod(), 0);
        ASSERT_EQ(recorder.shown.size(), 2u);
        EXPECT_EQ(recorder.shown[0].text, kDefaultText);
        EXPECT_EQ(recorder.shown[1].buttons, kMbYesNo);
    }
    With64BitWindows();
    {
        MessageRecorder recorder;
        recorder.answers = {kIdOk, kIdYes};  // a question would be answered Yes
        EXPECT_EQ(CheckDefaultInputMethod(), 0);
        ASSERT_EQ(recorder.shown.size(), 1u);
        EXPECT_EQ(recorder.shown[0].text, kDefaultText);
    }
    EXPECT_EQ(Preload(1), "e0030804");
    EXPECT_EQ(Preload(2), "00000804");
}

TEST_F(ImeDefaultCheck, ActiveInputMethodIsJudgedByItsDescription) {
    SeedPreload({{1, "00000804"}, {2, "e0030804"}});
    {
        // This Windows' own answer for the active layout.
        MessageRecorder recorder;
        EXPECT_EQ(CheckDefaultInputMethod(), 1);
        EXPECT_TRUE(recorder.shown.empty());
    }
    g_sys.getKeyboardLayout = FakeLayout;
    g_sys.immGetDescriptionA = FakeDescription;
    g_description = "";
    {
        MessageRecorder recorder;
        EXPECT_EQ(CheckDefaultInputMethod(), 1);  // not an input method
        EXPECT_TRUE(recorder.shown.empty());
    }
    g_description = "智能墨筏输入平台  7.9" + std::string(60, 'z');  // fills the buffer, no NUL
    {
        MessageRecorder recorder;
        EXPECT_EQ(CheckDefaultInputMethod(), 0);
        ASSERT_EQ(recorder.shown.size(), 1u);
        EXPECT_EQ(recorder.shown[0].text,
                  u"　　你以前安装的墨筏五笔为系统默认输入法，请通过微软的输入法管理器将墨筏五笔输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的墨筏五笔！");
        EXPECT_EQ(recorder.shown[0].caption, kCheckCaption);
    }
    g_description = "智能墨筏输入平";
    {
        MessageRecorder recorder;
        EXPECT_EQ(CheckDefaultInputMethod(), 1);
        EXPECT_TRUE(recorder.shown.empty());
    }
}
}  // namespace

namespace {
std::string g_profile;
BOOL WINAPI StandInProfile(HWND, LPSTR out, int, BOOL) {
    std::strcpy(out, g_profile.c_str());
    return TRUE;
}
const char kInputList[] = "Control Panel\\International\\User Profile\\zh-Hans-CN";
bool Listed(const char* entry) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInputList, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool listed = RegQueryValueExA(key, entry, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return listed;
}
}  // namespace

// The user who installs gets the layout in the list input.dll keeps (the
// stand-in beside this program, in the stand-in system directory), unless
// setup runs as a service account; the sign-in step enables it for a user
// while the product's layout key is there, takes it out of the list once it
// is gone, and writes the preload list where no input.dll has the function.
TEST_F(ImeRegistry, TheUserWhoInstallsAndEveryUserWhoSignsInGetTheLayout) {
    const std::string root = ScratchDir("enable");
    UseStandInWindows(root + "windows");
    ASSERT_TRUE(CopyFileA(BesideTestProgram("inputdll.dll").c_str(), (g_standIn.system + "\\input.dll").c_str(), FALSE));
    RefreshSystemDir();
    g_sys.getSpecialFolderPathA = StandInProfile;
    g_ctx.layoutId = 0xE0200804;

    g_profile = g_standIn.system + "\\config\\systemprofile";  // LocalSystem's
    EnableForInstallingUser();
    EXPECT_EQ(g_ctx.enableAnswer, kEnableNotAsked);
    EXPECT_FALSE(Listed("0804:E0200804"));

    g_profile = root + "Users\\someone";
    EnableForInstallingUser();
    EXPECT_EQ(g_ctx.enableAnswer, kEnableTaken);
    EXPECT_TRUE(Listed("0804:E0200804"));
    SetEnvironmentVariableA("MOFA_INPUTDLL_ANSWER", "0");
    EnableForInstallingUser();
    SetEnvironmentVariableA("MOFA_INPUTDLL_ANSWER", nullptr);
    EXPECT_EQ(g_ctx.enableAnswer, kEnableRefused);

    // Signing in: the product is gone (no layout key of it), then there.
    EXPECT_EQ(EnableAtSignIn("E0200804"), kExitInstalled);
    EXPECT_FALSE(Listed("0804:E0200804"));
    SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "IME file", "C:\\windows\\system32\\MOFAHU4.IME");
    EXPECT_EQ(EnableAtSignIn("E0200804"), kExitInstalled);
    EXPECT_TRUE(Listed("0804:E0200804"));
    // A layout of another product under that number (the product gone, the
    // number reused) stays in the list as it is.
    SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "IME file", "other.ime");
    EXPECT_EQ(EnableAtSignIn("E0200804"), kExitInstalled);
    EXPECT_TRUE(Listed("0804:E0200804"));

    // Windows 2000 and XP: no input.dll; the preload list. (Setup keeps the
    // library it loaded until it ends.)
    const std::string loaded = g_standIn.system + "\\input.dll";
    while (HMODULE module = GetModuleHandleA(loaded.c_str())) FreeLibrary(module);
    ASSERT_TRUE(DeleteFileA(loaded.c_str()));
    SetText(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "IME file", "MOFAHU4.IME");
    SetText(HKEY_CURRENT_USER, kUserPreload, "1", "00000804");
    EXPECT_EQ(EnableAtSignIn("E0200804"), kExitInstalled);
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, kUserPreload, "2"), "e0200804");
}
