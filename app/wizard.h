// The wizard window's own state: its fonts and brush, the rectangles of its
// painted buttons and progress bar, and its two edit controls. The run's
// state (page, directories, outcome) stays in base/context.h.
#pragma once
#include "base/context.h"

struct WizardWindow {
    void* tryItEdit;
    void* siteEdit;
    void* textFont;
    void* titleFont;
    void* redBrush;
    void* savedFont;
    PageRect okButtonRect;
    PageRect exitButtonRect;
    PageRect siteRowRect;
    int32_t progressRect[4];  // x, y, length, height of the progress bar
    char currentDirectory[100];
};

extern WizardWindow g_window;
