// Small text routines of the archive code, also used for command-line words
// and file-name filters.
#pragma once
#include <cstdint>

// 1 when needle occurs in haystack. Capitals A-Z of the haystack also match
// the small letters of the needle; capitals of the needle match only
// capitals. An empty needle is found in any non-empty haystack; an empty
// haystack contains nothing.
int ContainsText(const char* haystack, const char* needle);

// Seals the phrase file in place (GBK words of 2+ double-byte characters,
// each followed by "; "): words that are not well-formed are dropped, and the
// 12-byte trailer "MOFA", sum, count (uint32 little-endian each) is written
// behind the kept content. A buffer that already ends with a trailer is left
// as it is. data must have room for length + 12 bytes. Returns the content
// length without the trailer; the caller writes that length plus 12 bytes.
uint32_t SealPhraseFile(unsigned char* data, uint32_t length);
