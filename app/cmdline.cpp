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

int ParseRegisterArgument(const char* commandLine) {
    static const char kWord[] = "regmf32=";
    const char* r = std::strchr(commandLine, 'r');
    if (r == nullptr || std::strncmp(r, kWord, sizeof kWord - 1) != 0) return 0;
    return StrCopy(g_ctx.installDir, r + sizeof kWord - 1);
}
