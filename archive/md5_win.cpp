// MD5 on Windows: the MD5Init/MD5Update/MD5Final functions of advapi32,
// looked up by name for each digest (they are not in the import libraries).
#include <windows.h>

#include <cstring>

#include "archive/mfz.h"

namespace {
// The context advapi32's MD5 functions work on; the digest is read from its
// last 16 bytes after MD5Final.
struct Md5Context {
    ULONG count[2];
    ULONG state[4];
    unsigned char input[64];
    unsigned char digest[16];
};

typedef void(WINAPI* Md5InitFn)(Md5Context*);
typedef void(WINAPI* Md5UpdateFn)(Md5Context*, const unsigned char*, unsigned int);
typedef void(WINAPI* Md5FinalFn)(Md5Context*);

template <typename Fn> Fn Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace

int Md5Bytes(const void* data, uint32_t length, unsigned char* digest) {
    // advapi32 is loaded with the program (its registry functions): looked
    // up, never loaded, so that no library is loaded at a moment where the
    // system's redirection of the system directory may be off.
    HMODULE library = GetModuleHandleA("advapi32.dll");
    if (library == nullptr) return 0;
    Md5InitFn init = Lookup<Md5InitFn>(library, "MD5Init");
    Md5UpdateFn update = Lookup<Md5UpdateFn>(library, "MD5Update");
    Md5FinalFn final = Lookup<Md5FinalFn>(library, "MD5Final");
    int ok = 0;
    if (init != nullptr && update != nullptr && final != nullptr) {
        Md5Context context;
        std::memset(&context, 0, sizeof context);
        init(&context);
        update(&context, static_cast<const unsigned char*>(data), length);
        final(&context);
        std::memcpy(digest, context.digest, sizeof context.digest);
        ok = 1;
    }
    return ok;
}
