/*
 * q32Base.dll - the suite's imaging base library.
 *
 * Row conversions used while images are read (one call per delivered row, so they are
 * kept simple and fast), drawing rows into device contexts, and the image-buffer
 * settings. Every function is __cdecl.
 *
 * One-bit rows: pixels packed eight to a byte, the first pixel in the byte's top bit.
 * Expanded to one byte per pixel they become 0/1 (palette indices, mem32BitToByteExt)
 * or 0/255 (black and white, mem32BitToByte).
 */
#ifndef Q32BASE_H
#define Q32BASE_H

#include <windows.h>
#include <stddef.h>

#ifdef Q32BASE_BUILD
#define B32API __declspec(dllexport) __cdecl
#else
#define B32API __declspec(dllimport) __cdecl
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* count one-bit pixels of row to count bytes of 0 (clear) or 255 (set). */
void B32API mem32BitToByte(BYTE *dest, const BYTE *row, int count);
/* count one-bit pixels of row to count palette indices 0 or 1. */
void B32API mem32BitToByteExt(BYTE *dest, const BYTE *row, int count);
/* The one-bit row of every step-th pixel of row: ceil(count / step) pixels, packed. */
void B32API mem32BitReduce(BYTE *dest, const BYTE *row, int count, int step);
/* Every step-th pixel of row, pixels of bytesPerPixel bytes: ceil(count / step) pixels. */
void B32API mem32Reduce(BYTE *dest, const BYTE *row, int count, int step, int bytesPerPixel,
                        int reserved);
/* mem32Reduce for rows source rows (one in practice) of count pixels, keeping every
   stepX-th pixel of every stepY-th row; the kept rows follow each other in dest. */
void B32API mem32ReduceExt(BYTE *dest, const BYTE *source, int count, int rows, int stepX,
                           int stepY, int bytesPerPixel, int reserved);
/* count pixels of bytesPerPixel (1..4) bytes, each the low bytes of pixel in memory
   order (the word a plug-in's fill command holds). */
void B32API mem32Fill(BYTE *dest, DWORD pixel, int bytesPerPixel, int count);

/* ---- Display ---------------------------------------------------------------------------
 *
 * Drawing rows of pixels into a device context, with the screen gamma applied and, on
 * high-colour (15/16-bit) targets, optional ordered dithering. Row formats:
 *   8 bits  palette indices (drawn through the palette given to disp32ShowInitEx, as it
 *           stands), or grey levels when there is no palette (gamma applied);
 *   24 bits blue, green, red bytes in that order (as the suite's image rows);
 *   32 bits blue, green, red and one unused byte.
 * Gamma: whole numbers, the gamma x 100. Images are taken to be made for a gamma of 1.80,
 * so a screen gamma of 180 leaves values as they are; a screen gamma G maps a component
 * v to 255 * (v / 255) ^ (180 / G), rounded. The screen gamma starts at 180.
 */

/* Display kinds (DISP32DEVINFO.kind). */
enum {
    DISP32_MONO = 1,       /* two colours */
    DISP32_16COLOR = 2,    /* 16 fixed colours */
    DISP32_PALETTE = 3,    /* 256 colours through a system palette */
    DISP32_HICOLOR = 5,    /* 15 or 16 bits per pixel */
    DISP32_TRUECOLOR = 6   /* 24 or 32 bits per pixel */
};

/* What disp32GetDevInfo reports: twelve 32-bit fields (48 bytes). */
typedef struct DISP32DEVINFO {
    LONG kind;            /*  0 DISP32_* */
    LONG dpiX;            /*  4 logical pixels per inch, across */
    LONG dpiY;            /*  8 and down */
    LONG width;           /* 12 screen width in pixels */
    LONG height;          /* 16 screen height in pixels */
    LONG bitsPerPixel;    /* 20 colour bits per pixel (of all planes) */
    LONG planes;          /* 24 colour planes */
    LONG colors;          /* 28 colours the screen can show at once */
    LONG paletteSize;     /* 32 entries of the system palette, 0 without one */
    LONG reservedColors;  /* 36 system palette entries the system keeps */
    LONG colorBits;       /* 40 bits of colour resolution per pixel (the DAC) */
    LONG rasterCaps;      /* 44 GetDeviceCaps(RASTERCAPS) */
} DISP32DEVINFO;

static_assert(sizeof(DISP32DEVINFO) == 48, "DISP32DEVINFO is 48 bytes");
static_assert(offsetof(DISP32DEVINFO, kind) == 0, "DISP32DEVINFO.kind");
static_assert(offsetof(DISP32DEVINFO, width) == 12, "DISP32DEVINFO.width");
static_assert(offsetof(DISP32DEVINFO, height) == 16, "DISP32DEVINFO.height");
static_assert(offsetof(DISP32DEVINFO, bitsPerPixel) == 20, "DISP32DEVINFO.bitsPerPixel");
static_assert(offsetof(DISP32DEVINFO, planes) == 24, "DISP32DEVINFO.planes");
static_assert(offsetof(DISP32DEVINFO, colors) == 28, "DISP32DEVINFO.colors");

/* A drawing in progress, from disp32ShowInit(Ex) to disp32ShowEnd. */
typedef struct DISP32SHOW *HDISP32SHOW;

/* Fills info for the screen. 1, or 0 for a null block or no screen. The environment
   variable Q32BASE_DISPLAY_BITS (1, 4, 8, 16, 24 or 32) makes it report a screen of that
   depth (kind, bits, colours and palette fields follow), so that tests can act out
   palette and high-colour displays. */
int B32API disp32GetDevInfo(DISP32DEVINFO *info);

/* A new palette with the entries of palette, or NULL. The caller deletes it. */
HPALETTE B32API disp32PalDuplicate(HPALETTE palette);
/* A new palette with the screen gamma applied to the entries of palette, or NULL. */
HPALETTE B32API disp32GammaColorPalette(HPALETTE palette, int reserved);
/* Sets the screen gamma (x 100) of later drawing and gamma palettes. Every value must
   be 1 or more; otherwise nothing changes and the result is 0. Else 1. */
int B32API disp32NewScreenGamma(int red, int green, int blue);
/* Sets whether drawing on 15/16-bit targets dithers (ordered, 4 x 4). Result: the
   previous setting. Starts off. */
int B32API disp32BeHiColorDither(int dither);

/* Starts drawing rows of bitsPerPixel (8, 24 or 32) into the rectangle of dc. The rows
   are as wide as the rectangle; the rectangle's height is the number of rows. Non-zero
   when drawing can start, with the drawing in *slot; 0 (and *slot NULL) otherwise. */
int B32API disp32ShowInit(HDISP32SHOW *slot, HDC dc, int bitsPerPixel, LONG left, LONG top,
                          LONG right, LONG bottom, int reserved1, int reserved2, int reserved3);
/* disp32ShowInit for 8-bit palette indices drawn through palette (taken as it is: give a
   gamma palette for gamma). On palette screens the palette is selected into dc until
   disp32ShowEnd. A palette of 0 draws 8-bit rows as grey levels; 24- and 32-bit rows
   are drawn as for disp32ShowInit. An empty or invalid palette fails. */
int B32API disp32ShowInitEx(HDISP32SHOW *slot, HDC dc, int bitsPerPixel, LONG left, LONG top,
                            LONG right, LONG bottom, HPALETTE palette, int reserved1,
                            int reserved2, int reserved3, int reserved4);
/* Draws rowCount rows, bytesPerRow bytes apart, below those drawn before. A row shorter
   than the rectangle fills its left part; rows beyond the rectangle's bottom are not
   drawn. Non-zero when at least one row was drawn. */
int B32API disp32ShowData(HDISP32SHOW show, const BYTE *rows, int reserved1, int reserved2,
                          int rowCount, int bytesPerRow);
/* Ends the drawing (restores the dc's palette) and frees it. 1, or 0 for NULL. */
int B32API disp32ShowEnd(HDISP32SHOW show);

/* ---- Image-buffer settings -------------------------------------------------------------
 *
 * Where and how much the library may page image data out. Kept in the library's own ini
 * file, "q32base.ini" in the suite's application-data folder, or the file that the
 * environment variable Q32BASE_INI names.
 */

/* The work-folder block (1056 bytes). */
typedef struct B32VMBLOCK {
    char systemFolder[260];   /*    0 the system's temporary folder (read only) */
    char folders[3][260];     /*  260 work folders 1 to 3 */
    DWORD useSystemFolder;    /* 1040 page to the temporary folder */
    DWORD useFolder[3];       /* 1044 page to work folder 1..3 */
} B32VMBLOCK;

/* The memory block: four 32-bit fields. */
typedef struct B32MEMBLOCK {
    LONG memoryLimit;         /*  0 bytes; -1: the physical memory */
    LONG diskLimit;           /*  4 bytes; -1: the free space of the fixed disks */
    DWORD useMemoryLimit;     /*  8 */
    DWORD useDiskLimit;       /* 12 */
} B32MEMBLOCK;

static_assert(sizeof(B32VMBLOCK) == 1056, "B32VMBLOCK is 1056 bytes");
static_assert(offsetof(B32VMBLOCK, folders) == 260, "B32VMBLOCK.folders");
static_assert(offsetof(B32VMBLOCK, useSystemFolder) == 1040, "B32VMBLOCK.useSystemFolder");
static_assert(offsetof(B32VMBLOCK, useFolder) == 1044, "B32VMBLOCK.useFolder");
static_assert(sizeof(B32MEMBLOCK) == 16, "B32MEMBLOCK is 16 bytes");
static_assert(offsetof(B32MEMBLOCK, diskLimit) == 4, "B32MEMBLOCK.diskLimit");
static_assert(offsetof(B32MEMBLOCK, useMemoryLimit) == 8, "B32MEMBLOCK.useMemoryLimit");
static_assert(offsetof(B32MEMBLOCK, useDiskLimit) == 12, "B32MEMBLOCK.useDiskLimit");

/* Mode 0 fills the blocks with the settings; mode 1 makes their values the settings
   (the temporary folder text is not taken) and stores them. Field 0 of the memory block
   is read or written through memory, fields 1, 2 and 3 through their own addresses; a
   null address skips that value, a null vm the folders. Result 1, or 0 for another mode
   or when the settings could not be stored. Defaults: no work folders, the temporary
   folder on, both limits -1 and off. */
int B32API buf32VMData(int mode, B32MEMBLOCK *memory, LONG *field1, B32VMBLOCK *vm,
                       DWORD *field2, DWORD *field3);

#ifdef __cplusplus
}
#endif

#endif
