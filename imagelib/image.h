/* A whole image held in memory by the q32file tool and the viewer: read from a file through
   the module, described, chosen a type for a writer, turned upright and written. */
#ifndef Q32FILE_IMAGE_H
#define Q32FILE_IMAGE_H

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

/* Reads the raster image of fileData into image: its rows as stored, or with types (a
   mask of Q32_TYPE_* codes) in the type that Q32ReadType names for them. Returns
   qfFileRead's result (1 whole, Q32_READ_PARTIAL a partial picture, 0 failed; 0 also for
   an unusable description or a mask the rows cannot become). */
INT_PTR ReadImage(HGLOBAL fileData, Image &image, DWORD types = 0);

/* The data types that rows stored as type can be read in (type among them). */
DWORD ReachableTypes(DWORD type);

/* The data types that format number's writer takes (from its capability bits). */
DWORD WritableTypes(int number);

/* Whether the image that fileData describes has transparency: alpha in its rows, or a
   palette that makes pixels transparent (the plug-in's frame facts, QfFrameFacts). */
bool HasTransparency(HGLOBAL fileData);

/* Gives a palette image's palette an entry (black) for every index its rows use, so
   that a writer that refuses indices beyond the palette takes it. */
void CoverIndices(Image &image);

/* The EXIF orientation of fileData's image (1..8, from the plug-in's frame facts), 0 when
   it gives none. */
int OrientationOf(HGLOBAL fileData);

/* Turns and mirrors image from its stored orientation (1..8, as EXIF numbers them) to
   upright; 0 and 1 leave it. */
void Orient(Image &image, int orientation);

/* Reads fileData's image in a type that format number's writer takes, with alpha when
   the source has transparency and the writer stores alpha (dropped: it does not).
   Returns ReadImage's result. */
INT_PTR ReadImageFor(HGLOBAL fileData, int number, Image &image, bool &dropped);
/* Writes image into the file that fileData names (its format, name and description set
   from image). Returns qfFileWrite's result. */
int WriteImage(HGLOBAL fileData, const Image &image);

/* Sets a FileData's raster description (and a palette made from image's entries). */
void DescribeImage(FileData &data, const Image &image);

#endif
