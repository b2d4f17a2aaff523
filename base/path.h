// The one path joiner and base-name routine: every "directory + name" of
// setup is built here, so that no name can lead out of its directory and no
// path is ever cut short to fit.
#pragma once
#include <cstddef>

#include "base/context.h"

// out = dir + name, with a backslash between when dir does not end in one
// ("C:\x\" + "a.ime" and "C:\windows\system32" + "a.ime" alike). Refused
// (0, out empty): an empty dir (the name would be relative to whatever the
// current folder is), a name that is empty, rooted ("\x", "/x", "C:x") or
// holds a ".." step, and a result that does not fit cap. 1 when joined.
int JoinPath(char* out, size_t cap, const char* dir, const char* name);
template <size_t N> inline int JoinPath(char (&out)[N], const char* dir, const char* name) {
    return JoinPath(out, N, dir, name);
}

// JoinPath inside an expression: returns out, which is empty when the join
// was refused (an empty path then fails harmlessly wherever it is used).
template <size_t N> inline const char* Joined(char (&out)[N], const char* dir, const char* name) {
    JoinPath(out, N, dir, name);
    return out;
}

// installDir + name: the path of a file in the install directory (empty
// when refused).
template <size_t N> inline const char* InInstallDir(char (&out)[N], const char* name) {
    return Joined(out, g_ctx.installDir, name);
}

// out = "dir\program" words: a program named by its quoted full path, so
// that nothing planted at a prefix of that path ("C:\Program.exe" for
// C:\Program Files\...) is ever started in its place. words follow a blank
// (none when empty). 1 when it fits, else out is empty.
int QuotedCommand(char* out, size_t cap, const char* dir, const char* program, const char* words);
template <size_t N> inline int QuotedCommand(char (&out)[N], const char* dir, const char* program, const char* words) {
    return QuotedCommand(out, N, dir, program, words);
}

// The name after the last separator ("\" or "/") or drive colon of path;
// the whole path when it has none.
const char* BaseName(const char* path);
