#include "base/context.h"

#include <cstring>

SetupContext g_ctx;

void ResetSetupContext() { std::memset(&g_ctx, 0, sizeof g_ctx); }
