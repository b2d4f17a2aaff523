// holdfile [--lock] PATH...: holds each file the way Windows holds a loaded
// module (an image section is mapped: the file cannot be deleted but can be
// renamed), or with --lock open and shared with nobody (it can be neither
// written, renamed nor deleted), until the program is ended, or for two
// minutes at most. Prints "held" once every file is held; exits 1 when one
// cannot be.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    bool lock = argc > 1 && std::strcmp(argv[1], "--lock") == 0;
    for (int i = lock ? 2 : 1; i < argc; ++i) {
        HANDLE file = CreateFileA(argv[i], GENERIC_READ | GENERIC_EXECUTE,
                                  lock ? 0 : FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::printf("cannot open %s\n", argv[i]);
            return 1;
        }
        if (lock) continue;  // the open handle is the lock
        HANDLE section = CreateFileMappingA(file, nullptr, PAGE_EXECUTE_READ | SEC_IMAGE, 0, 0, nullptr);
        CloseHandle(file);
        if (section == nullptr) {
            std::printf("cannot map %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(120000);
    return 0;
}
