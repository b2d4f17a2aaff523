#pragma once

// Hands the installed module to the input-method manager. 1 when Windows
// accepted it.
int InstallImeModule();
