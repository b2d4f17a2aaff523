// The install log: one UTF-8 line per event, each led by its local time,
// appended to a file (by default "mofasetup.log" in the user's temporary
// folder, or the file "/log=PATH" names). Every line reaches the file as it
// is logged, so a run that crashes leaves what happened up to then; the
// file never grows past 1 MB (the older half goes); and a log that cannot be
// written changes nothing else. Until a log is opened, lines go nowhere.
#pragma once
#include <cstddef>

// Opens the log at path (empty or null: the default place). 1 when a line
// could be written there.
int OpenLog(const char* path);
void CloseLog();
// The log's path, empty when none is open.
const char* LogPath();

// A line of text in the ANSI code page (GBK), formatted as printf does.
void Log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A line of an ANSI prefix and a UTF-16 text after it.
void LogW(const char* prefix, const char16_t* text);

enum : size_t { kLogLimit = 1u << 20 };  // 1 MB
