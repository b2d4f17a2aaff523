// Host builds (tools, host tests) keep no install log.
#include "base/log.h"

int OpenLog(const char*) { return 0; }
void CloseLog() {}
const char* LogPath() { return ""; }
void Log(const char*, ...) {}
void LogW(const char*, const char16_t*) {}
