// Setup's own file names, each spelt here alone: the layers that make such a
// file and those that must pass over it or find it again share the spelling.
#pragma once

// A fresh file beside the one it will replace, until its rename into place:
// "<name>.<16 hex digits>.mfnew" (see CreateFresh).
inline constexpr char kFreshSuffix[] = ".mfnew";
// The copy a run keeps of a file it changes, until it commits: "<name>.mfold"
// (or "<name>.mfold<n>").
inline constexpr char kKeptSuffix[] = ".mfold";
// The backup of the user's earlier data, in a run folder.
inline constexpr char kBackupName[] = "mofaback.mfz";
