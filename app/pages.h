// The painters of the wizard's pages and the drawing the install steps use.
// Every painter repaints its whole 400 x 310 page, background included.
#pragma once
#include <windows.h>

void PaintSplashPage(HDC hdc);
void PaintSitePage(HDC hdc);
void PaintConfirmPage(HDC hdc);
void PaintProgressPage(HDC hdc);
// Paints the try-it page, then makes the product's input method active for
// the try-it field: returns what ActivateProductIme returns.
int PaintTryItPage(HDC hdc);

// Paints the page of g_ctx.currentPage (0 splash, 1-4 site, 5-6 confirm,
// 7 progress, 8 and above try-it) into an off-screen bitmap and copies it to
// hdc in one step, so the 310 background rows never show half drawn. Paints
// straight onto hdc when no off-screen bitmap can be had.
void PaintCurrentPage(HDC hdc);

// Advances the progress bar on the window; silent runs draw nothing.
void DrawProgressBar(int done, int total);
// The bar itself, on any paint context: red from x 30 for done x 340 / total
// pixels (all 340 when done > total, none when total is 0); done <= 0 clears
// the whole bar to white.
void DrawProgressBarOn(HDC hdc, int done, int total);

// Two-tone frame: black bottom and right edges, white top and left edges.
// Leaves the white pen selected.
void DrawRaisedFrame(HDC hdc, int left, int top, int right, int bottom);

// Draws the payload picture called name: the source rectangle cut to the
// picture, stretched to the destination, which is dropped when it starts at
// or beyond maxRight / maxBottom or the picture's far edge. Draws nothing
// when the entry is missing or is not a whole, readable bitmap.
void DrawPayloadBitmap(int maxRight, int maxBottom, HDC hdc, const char* name, int xDest, int yDest, int wDest,
                       int hDest, int xSrc, int ySrc, int wSrc, int hSrc);

// From page 7 on, makes the product's input method the active one for this
// process: 0 before page 7 or when it is already current, else 1 (also when
// no installed layout is the product's). Keeps the layout found in
// g_ctx.imeLayoutHandle.
int ActivateProductIme();
