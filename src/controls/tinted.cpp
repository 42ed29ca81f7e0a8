/* Bitmaps of the resource module with one colour turned into a system colour. */
#include "tinted.h"

/******************************************************************
 *      ReplaceColour
 */
void ReplaceColour(HDC dc, int width, int height, COLORREF fromColour, COLORREF toColour)
{
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (GetPixel(dc, x, y) == fromColour) SetPixel(dc, x, y, toColour);
}

/******************************************************************
 *      TintBitmap
 */
bool TintBitmap(TintedBitmap &tinted, UINT bitmapId, COLORREF fromColour, COLORREF toColour)
{
    if (!tinted.dc) tinted.dc = CreateCompatibleDC(nullptr);
    if (!tinted.dc) return false;
    HBITMAP bitmap = (HBITMAP)LoadImageA(ResourceModule, MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP,
                                         0, 0, LR_CREATEDIBSECTION);
    if (!bitmap) return false;
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    tinted.width = info.bmWidth;
    tinted.height = info.bmHeight;
    HBITMAP old = (HBITMAP)SelectObject(tinted.dc, bitmap);
    if (tinted.bitmap) DeleteObject(old);
    else tinted.replaced = old;
    tinted.bitmap = bitmap;
    ReplaceColour(tinted.dc, tinted.width, tinted.height, fromColour, toColour);
    tinted.colour = toColour;
    return true;
}

/******************************************************************
 *      FreeTintedBitmap
 */
void FreeTintedBitmap(TintedBitmap &tinted)
{
    if (tinted.dc && tinted.bitmap) SelectObject(tinted.dc, tinted.replaced);
    if (tinted.bitmap) DeleteObject(tinted.bitmap);
    if (tinted.dc) DeleteDC(tinted.dc);
    tinted = TintedBitmap();
}
