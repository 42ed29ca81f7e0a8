/* Bitmaps of the resource module with one colour turned into a system colour. */
#ifndef Q32_TINTED_H
#define Q32_TINTED_H

#include "../core/core.h"

/* Sets every pixel of fromColour in the width x height area of dc to toColour. */
void ReplaceColour(HDC dc, int width, int height, COLORREF fromColour, COLORREF toColour);

/* A bitmap of the resource module held in a memory context, one colour of it replaced. */
struct TintedBitmap {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr, replaced = nullptr;
    COLORREF colour = CLR_INVALID;
    int width = 0, height = 0;
};
/* Loads the bitmap afresh into the context (made on first use), replacing the bitmap it
   held, and turns fromColour into toColour; false when the bitmap or context is missing. */
bool TintBitmap(TintedBitmap &tinted, UINT bitmapId, COLORREF fromColour, COLORREF toColour);
/* Puts back the context's first bitmap and deletes the bitmap and the context. */
void FreeTintedBitmap(TintedBitmap &tinted);

#endif
