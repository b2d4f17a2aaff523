#include "install/patch.h"

#include <cstring>

#include "base/context.h"
#include "base/fileops.h"

namespace {
const char16_t kProductText[] = u"智能墨筏输入平台";
const uint32_t kProductTextBytes = 16;

bool ProductTextAt(const unsigned char* data) {
    for (uint32_t i = 0; i < kProductTextBytes / 2; ++i) {
        if (data[2 * i] != (kProductText[i] & 0xFF) || data[2 * i + 1] != (kProductText[i] >> 8)) return false;
    }
    return true;
}
}  // namespace

uint32_t PatchVersionText(unsigned char* data, uint32_t length) {
    uint32_t changed = 0;
    // The version is read up to the low byte of the character at m + 24.
    for (uint32_t m = 0; m + 25 <= length; ++m) {
        if (!ProductTextAt(data + m)) continue;
        // Two spaces and "6.3" or "6.7"; the second space (m + 18) is not tested.
        unsigned char* v = data + m + 16;
        if (v[0] == ' ' && v[4] == '6' && v[6] == '.' && (v[8] == '3' || v[8] == '7')) {
            v[4] = '7';
            v[8] = '9';
            ++changed;
        }
        m += kProductTextBytes - 1;
    }
    return changed;
}

void PatchVersionString(const char* path) {
    if (g_ctx.workBuffer == nullptr) return;
    int64_t size = FileSizeOf(path);
    if (size <= 0 || size > kPatchLimit) return;
    uint32_t got = 0;
    if (!ReadFilePrefix(path, g_ctx.workBuffer, kPatchLimit, &got) || got != static_cast<uint32_t>(size)) return;
    // Unchanged contents are not rewritten: nothing to gain, a file to risk.
    if (PatchVersionText(g_ctx.workBuffer, got) == 0) return;
    WriteWholeFile(path, g_ctx.workBuffer, got);
}
