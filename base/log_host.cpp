// Host builds (tools, host tests) keep no install log.
#include "base/log.h"

int OpenLog(const char*) { return 0; }
void CloseLog() {}
const char* LogPath() { return ""; }
void Log(const char*, ...) {}
void LogW(const char*, const char16_t*) {}

#include <cerrno>
#include <cstring>

#include "base/failure.h"
#include "base/strbuf.h"

unsigned long LastSystemError() { return static_cast<unsigned long>(errno); }
void SystemErrorText(unsigned long error, char* out, unsigned cap) {
    if (cap > 0) StrCopyCut(out, cap, std::strerror(static_cast<int>(error)));
}
