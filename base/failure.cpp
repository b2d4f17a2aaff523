#include "base/failure.h"

#include <cstring>

#include "base/strbuf.h"

namespace {
FailureCause g_first;
}

void NoteFailure(const char* userText, const char* operation, const char* path, unsigned long error) {
    if (g_first.set) return;
    if (path == nullptr) path = "";
    StrCopyCut(g_first.path, path);
    if (!StrFormat(g_first.userText, sizeof g_first.userText, userText, path)) StrCopyCut(g_first.userText, userText);
    StrCopyCut(g_first.operation, operation);
    g_first.error = error;
    g_first.set = true;
}

const FailureCause& FirstFailure() { return g_first; }

void ClearFailure() { std::memset(&g_first, 0, sizeof g_first); }
