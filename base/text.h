// The substring test of command-line words and file-name filters.
#pragma once

// 1 when needle occurs in haystack. Capitals A-Z of the haystack also match
// the small letters of the needle; capitals of the needle match only
// capitals. An empty needle is found in any non-empty haystack; an empty
// haystack contains nothing. FindText tells where it first occurs (null:
// nowhere).
const char* FindText(const char* haystack, const char* needle);
inline int ContainsText(const char* haystack, const char* needle) { return FindText(haystack, needle) != nullptr; }

// 1 when text begins with word, folded as ContainsText folds.
int BeginsWithText(const char* text, const char* word);
