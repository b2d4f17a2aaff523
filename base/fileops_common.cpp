#include <cstring>

#include "base/fileops.h"
#include "base/path.h"
#include "base/strbuf.h"

namespace {

// Tries to rename path to its aside name, with `mark` as the last character
// of the base name. A candidate equal to the original is never used: the
// forced delete of the candidate would remove the very file being moved.
int TryAside(const char* path, size_t len, char mark, char* moved, size_t movedCap) {
    char aside[200];
    if (!StrCopy(aside, path)) return -1;
    if (aside[len - 5] == mark) return -1;
    aside[len - 5] = mark;
    if (ForceDeleteFile(aside) != 0) return -1;
    if (!RenameFile(path, aside)) return -1;
    // The file is held by a running program: it goes when Windows restarts.
    DeleteAtRestart(aside);
    if (moved != nullptr) StrCopyCut(moved, movedCap, aside);
    return 0;
}
}  // namespace

int MoveLockedFileAside(const char* path, char* moved, size_t movedCap) {
    size_t len = StrLenBounded(path, 200);
    if (len >= 200 || len < 5) return -1;  // refused: does not fit the 200-byte name buffer
    // The marked character must lie in the base name: in a short name it
    // would fall on the directory part, and the delete and rename would then
    // reach a file outside the file's own directory.
    if (path + len - 5 < BaseName(path)) return -1;
    if (TryAside(path, len, '2', moved, movedCap) == 0) return 0;
    if (TryAside(path, len, '1', moved, movedCap) == 0) return 0;
    // The original already carried both marks' places: one more distinct name.
    if (path[len - 5] == '1' || path[len - 5] == '2') return TryAside(path, len, '0', moved, movedCap);
    return -1;
}

void ReadPathFileAt(const char* path, char* out, uint32_t cap) {
    uint32_t got = 0;
    if (ReadFilePrefix(path, out, cap - 1, &got)) out[got] = '\0';
}
