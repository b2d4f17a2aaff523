#pragma once

// The integrity test at the end of an interactive run: 0 when every test
// passed (nothing shown), 1 when the report was shown.
int CheckInstallation();
