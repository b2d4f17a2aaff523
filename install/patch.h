// The version text inside module files: "智能墨筏输入平台" in UTF-16LE, two
// spaces and "6.3" (first modules) or "6.7" (companion program), which setup
// rewrites to "7.9".
#pragma once
#include <cstdint>

enum : uint32_t { kPatchLimit = 0x20000 };  // 131,072 bytes: every patched file is smaller

// Patches every occurrence in data; returns how many were changed.
uint32_t PatchVersionText(unsigned char* data, uint32_t length);

// Patches a file in place through workBuffer. A file that cannot be read
// whole, or is larger than kPatchLimit, is left untouched.
void PatchVersionString(const char* path);
