/* The 32-bit screen copy of an image read through q32File.dll. */
#ifndef Q32VIEW_PICTURE_H
#define Q32VIEW_PICTURE_H

#include <windows.h>
#include <vector>
#include "image.h"

/* The image as blue, green, red, 0 quads, top row first (a top-down 32-bit DIB). A data
   type that it does not know gives a mid-grey picture. */
std::vector<DWORD> ToScreen(const Image &image);

#endif
