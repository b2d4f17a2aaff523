// The phrase file's seal: the trailer the input method checks it by.
#pragma once
#include <cstdint>

// Seals the phrase file in place (GBK words of 2+ double-byte characters,
// each followed by "; "): words that are not well-formed are dropped, and the
// 12-byte trailer "MOFA", sum, count (uint32 little-endian each) is written
// behind the kept content. A buffer that already ends with a trailer is left
// as it is. data must have room for length + 12 bytes. Returns the content
// length without the trailer; the caller writes that length plus 12 bytes.
uint32_t SealPhraseFile(unsigned char* data, uint32_t length);
