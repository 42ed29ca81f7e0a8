/*
 * q32Base.dll - the suite's imaging base library.
 *
 * Row conversions used while images are read (one call per delivered row, so they are
 * kept simple and fast). Every function is __cdecl.
 *
 * One-bit rows: pixels packed eight to a byte, the first pixel in the byte's top bit.
 * Expanded to one byte per pixel they become 0/1 (palette indices, mem32BitToByteExt)
 * or 0/255 (black and white, mem32BitToByte).
 */
#ifndef Q32BASE_H
#define Q32BASE_H

#include <windows.h>

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

#ifdef __cplusplus
}
#endif

#endif
