// The current user's list of input languages (the preload list): reading it,
// finding the product in it, and reordering it.
#pragma once

// The tables the registration fills as it reads the registry: the names of
// the system's keyboard layouts, and the user's preload ids with their
// layout texts (preloadCount of them).
struct LayoutTables {
    char layoutKeyNames[250][200];
    char preloadIds[49][10];
    char preloadTexts[49][200];
};
extern LayoutTables g_layouts;

// Reads the preload ids into preloadIds and their layout texts into
// preloadTexts; sets preloadCount. Returns the count.
int ReadPreloadList();

// Reads the list and looks for the product's layout in it. 1 when found
// (productInPreload = 4, productPreloadPosition = its 1-based number).
int FindProductInPreload();

// On Windows 5 and earlier, moves the product's entry to second place in the
// user's list (and on NT in the default user's list).
void PromotePreloadEntry();

// Writes the first two entries of the list as last read in swapped order.
void SwapFirstPreloadEntries();
