/* An image held in memory by the q32file tool, and the row callbacks that fill it from a
   plug-in's read and hand it to a plug-in's write. */
#ifndef Q32FILE_TOOL_IMAGE_H
#define Q32FILE_TOOL_IMAGE_H

#include <windows.h>
#include <vector>
#include "q32file.h"

struct Image {
    LONG width = 0, height = 0;
    DWORD bitsPerPixel = 0, dataType = 0;
    DWORD resolutionX = 0, resolutionY = 0;  /* dots per inch x 10000 */
    size_t rowBytes = 0;
    std::vector<BYTE> pixels;
    std::vector<PALETTEENTRY> palette;

    /* Sizes the pixel buffer for the description (false when it is unusable). */
    bool Shape(const ImageDescription &d);
    BYTE *Row(LONG y) { return pixels.data() + (size_t)y * rowBytes; }
    /* Byte offset of pixel x within a row. */
    size_t Offset(LONG x) const;
};

/* Reads the raster image of fileData into image: qfFileRead's result (1 whole,
   Q32_READ_PARTIAL a partial picture, 0 failed; 0 also for an unusable description). */
INT_PTR ReadImage(HGLOBAL fileData, Image &image);
/* Writes image into the file that fileData names (its format, name and description set
   from image). Returns qfFileWrite's result. */
int WriteImage(HGLOBAL fileData, const Image &image);

/* Sets a FileData's raster description (and a palette made from image's entries). */
void DescribeImage(FileData &data, const Image &image);

#endif
