// System settings the install makes: rights and integrity level of the
// install directory, the autostart value, the browser token, and access to
// the native system directory from the 32-bit program on 64-bit Windows.
#pragma once

// Starts icacls to give installDir the low integrity level (not waited for).
void SetLowIntegrity();

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
// changes. The token is what the end call needs.
void* BeginNativeSystemDirAccess();
void EndNativeSystemDirAccess(void* token);
