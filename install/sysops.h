// System settings the install makes: rights and integrity level of the
// install directory, the autostart value, the browser token, and access to
// the native system directory from the 32-bit program on 64-bit Windows.
#pragma once

// Gives installDir the low integrity level (Vista and later), so that
// programs running at low integrity can write there; logs the outcome.
void SetLowIntegrity();

// The label SetLowIntegrity gives: one mandatory label ACE naming the low
// level (S-1-16-4096) with the "no write up" policy, as icacls's
// /SetIntegrityLevel Level: L sets it.
struct _ACL;
const _ACL* LowIntegrityLabel();

// Grants the current user full control of directory, inherited by what it
// holds. 1 on success, 0 at the first failing call.
int GrantUserFullControl(const char* directory);

// The autostart value "mfmxsjgl" under HKLM ...\CurrentVersion\Run.
void WriteAutostartValue(const char* command);

// The browser user-agent token "tyrk7900", older tokens removed.
void WriteUserAgentToken();

// A 32-bit program on 64-bit Windows sees SysWOW64 where it asks for the
// system directory. Between these two calls file operations reach the native
// system directory; keep the span to the file operations themselves (no DLL
// may be loaded meanwhile). On 32-bit Windows, or in a 64-bit build, nothing
// changes. The token is what the end call needs; a span begun inside another
// gets none (it changes nothing, and its end does not end the outer one).
void* BeginNativeSystemDirAccess();
void EndNativeSystemDirAccess(void* token);
// 1 between the two on 64-bit Windows (whether or not the system turned its
// redirection off, as a 64-bit build's does not): for tests, which check
// that no message is shown and no library loaded meanwhile.
int InNativeSystemDirAccess();

// The span as an object of a scope: begun as it is made, ended as it goes,
// whichever way the scope is left.
class NativeSystemDirAccess {
public:
    NativeSystemDirAccess() : token_(BeginNativeSystemDirAccess()) {}
    ~NativeSystemDirAccess() { EndNativeSystemDirAccess(token_); }
    NativeSystemDirAccess(const NativeSystemDirAccess&) = delete;
    NativeSystemDirAccess& operator=(const NativeSystemDirAccess&) = delete;

private:
    void* token_;
};
