// The current user's preload list of keyboard layouts.
#pragma once

int ReadPreloadList();
int FindProductInPreload();
void PromotePreloadEntry();
void SwapFirstPreloadEntries();
