// The painters of the wizard's pages and the drawing the install steps use.
#pragma once
#include <windows.h>

void PaintSplashPage(HDC hdc);
void PaintSitePage(HDC hdc);
void PaintConfirmPage(HDC hdc);
void PaintProgressPage(HDC hdc);
int PaintTryItPage(HDC hdc);

// Paints the confirm page straight onto the window (used while installing).
void RepaintConfirmPage();
// Advances the progress bar; silent runs draw nothing.
void DrawProgressBar(int done, int total);
