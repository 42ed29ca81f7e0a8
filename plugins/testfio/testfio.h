/* What the test plug-in's images hold, for the tests that check what they received. */
#ifndef TESTFIO_H
#define TESTFIO_H

#include <windows.h>

/* Byte of sample s of pixel (x, y) (for 16-bit samples: the high byte). */
inline BYTE TestPixelByte(LONG x, LONG y, LONG s) { return (BYTE)(x * 7 + y * 13 + s * 31); }

/* A one-bit pixel (x, y) is set. */
inline bool TestPixelBit(LONG x, LONG y) { return (x + 2 * y) % 3 == 0; }

#endif
