#include "base/failure.h"

#include <cerrno>
#include <cstring>

#include "base/strbuf.h"

namespace {
FailureCause g_first;

// Each row names an error as Windows numbers it and as the host's C library
// does (kNone: the system has no such error).
const unsigned long kNone = ~0ul;
#ifdef _WIN32
#define MOFA_ERROR(windows, host) (windows)
#else
#define MOFA_ERROR(windows, host) static_cast<unsigned long>(host)
#endif
const struct {
    unsigned long error;
    FailureKind kind;
} kKinds[] = {
    {MOFA_ERROR(5, EACCES), kFailedNoRights},     // access denied
    {MOFA_ERROR(19, EROFS), kFailedNoRights},     // write-protected
    {MOFA_ERROR(kNone, EPERM), kFailedNoRights},  // not permitted
    {MOFA_ERROR(32, kNone), kFailedInUse},        // sharing violation
    {MOFA_ERROR(33, kNone), kFailedInUse},        // lock violation
    {MOFA_ERROR(39, EDQUOT), kFailedDiskFull},    // handle disk full; quota
    {MOFA_ERROR(112, ENOSPC), kFailedDiskFull},   // disk full
    {kErrorLinkedFile, kFailedLinkedFile},
    {kErrorLinkedFolder, kFailedLinkedFolder},
};
#undef MOFA_ERROR
}  // namespace

FailureKind KindOfError(unsigned long error) {
    for (const auto& row : kKinds)
        if (row.error == error) return row.kind;
    return kFailedOther;
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
