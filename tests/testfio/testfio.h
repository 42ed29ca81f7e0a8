/* What the test plug-in's images hold, for the tests that check what they received. */
#ifndef TESTFIO_H
#define TESTFIO_H

#include <windows.h>

/* What an entry of format j answers when it has nothing else to do, so that a test can
   tell which export it reached. */
#define TESTFIO_ANSWER(format, offset) (0x7E000000 + (format) * 0x100 + (offset))

/* Byte of sample s of pixel (x, y) (for 16-bit samples: the high byte). */
inline BYTE TestPixelByte(LONG x, LONG y, LONG s) { return (BYTE)(x * 7 + y * 13 + s * 31); }

/* A one-bit pixel (x, y) is set. */
inline bool TestPixelBit(LONG x, LONG y) { return (x + 2 * y) % 3 == 0; }

#endif
