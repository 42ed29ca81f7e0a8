/*
 * The palette preview control and the palette file reader: what the open dialog's panel
 * and the module's attach use.
 */
#ifndef Q32_PALCTL_H
#define Q32_PALCTL_H

#include "../core/core.h"

/* The open dialog's palette pick in effect, or null. While it holds a palette the
   control shows that palette's colours instead of the picture. */
extern PalettePick *PalettePickInEffect;

/* Registers "Q32PV_CLASS" with instance (at attach, the resource module). Result 1. */
int RegisterPalettePreviewClass(HINSTANCE instance);
/* Unregisters the class when RegisterPalettePreviewClass registered it (at detach: the
   class must not outlive the module that holds its procedure). */
void UnregisterPalettePreviewClass();

/* Fills pick from a RIFF "PAL " file of 1 to 256 entries. The name is stored first and
   colors, palette and fromPaletteFile cleared (a palette the pick held is not deleted).
   Result 1 when a palette was made, else 0. */
int ReadPaletteFile(const char *name, PalettePick *pick);

/* Fills rect with light grey and draws the first count colours of palette, gamma
   corrected, as cells of a 4 x 4 grid (count below 17) or a 16 x 16 grid. */
void PaintPaletteGrid(HDC dc, RECT rect, HPALETTE palette, int count);

#endif
