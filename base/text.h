// The substring test of command-line words and file-name filters.
#pragma once

// 1 when needle occurs in haystack. Capitals A-Z of the haystack also match
// the small letters of the needle; capitals of the needle match only
// capitals. An empty needle is found in any non-empty haystack; an empty
// haystack contains nothing.
int ContainsText(const char* haystack, const char* needle);

// 1 when text begins with word, folded as ContainsText folds.
int BeginsWithText(const char* text, const char* word);
