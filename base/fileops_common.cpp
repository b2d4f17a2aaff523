#include <cstring>

#include "base/fileops.h"
#include "base/path.h"
#include "base/strbuf.h"

namespace {

// Tries to rename path to its aside name, with `mark` as the last character
// of the base name. A candidate equal to the original is never used: the
// forced delete of the candidate would remove the very file being moved.
Outcome TryAside(const char* path, size_t len, char mark, char* moved, size_t movedCap) {
    char aside[200];
    StrCopy(aside, path);  // it fits: the caller measured path
    if (aside[len - 5] == mark) return FailedWith(kErrorNoCause);
    aside[len - 5] = mark;
    Outcome done = ForceDeleteFile(aside);
    if (done) done = RenameFile(path, aside);
    if (!done) return done;
    // The file is held by a running program: it goes when Windows restarts.
    DeleteAtRestart(aside);
    if (moved != nullptr) StrCopyCut(moved, movedCap, aside);
    return kDone;
}
}  // namespace

Outcome MoveLockedFileAside(const char* path, char* moved, size_t movedCap) {
    size_t len = StrLenBounded(path, 200);
    // Refused: a name that does not fit the 200-byte name buffer, or one so
    // short that the marked character would fall on the directory part (the
    // delete and rename would then reach a file outside the file's own
    // directory).
    if (len >= 200 || len < 5 || path + len - 5 < BaseName(path)) return FailedWith(kErrorNoCause);
    Outcome done = TryAside(path, len, '2', moved, movedCap);
    if (!done) done = TryAside(path, len, '1', moved, movedCap);
    // The original already carried both marks' places: one more distinct name.
    if (!done && (path[len - 5] == '1' || path[len - 5] == '2')) done = TryAside(path, len, '0', moved, movedCap);
    return done;
}

void ReadPathFileAt(const char* path, char* out, uint32_t cap) {
    uint32_t got = 0;
    if (ReadFilePrefix(path, out, cap - 1, &got)) out[got] = '\0';
}
