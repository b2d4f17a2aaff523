#include "app/cmdline.h"

#include <cstring>

#include "base/context.h"
#include "base/strbuf.h"
#include "base/text.h"

void ReadRunMode(const char* commandLine) {
    g_ctx.registerOnly = 0;
    if (ContainsText(commandLine, "regmf32"))
        g_ctx.registerOnly = kRegisterOnly;
    else if (ContainsText(commandLine, "setmfsrf32"))
        g_ctx.runMode = kRunSilent;
}

namespace {
const char kRegisterWord[] = "regmf32=";

// The text after "regmf32=" at the first "r", or null.
const char* RegisterArgument(const char* commandLine) {
    const char* r = std::strchr(commandLine, 'r');
    if (r == nullptr || std::strncmp(r, kRegisterWord, sizeof kRegisterWord - 1) != 0) return nullptr;
    return r + sizeof kRegisterWord - 1;
}
}  // namespace

int HasRegisterArgument(const char* commandLine) { return RegisterArgument(commandLine) != nullptr ? 1 : 0; }

int ParseRegisterArgument(const char* commandLine) {
    const char* directory = RegisterArgument(commandLine);
    return directory != nullptr ? StrCopy(g_ctx.installDir, directory) : 0;
}
