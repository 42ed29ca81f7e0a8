/*
 * q32types.h - the records shared by q32File.dll, the suite's applications and the
 * format plug-ins: the FileData, the ImageRequest, the image data type codes, the row
 * protocol of reads and writes, and the property block.
 *
 * Every record is a plain C struct. Numbers are 32-bit in both builds; handles and
 * addresses are pointer-sized (4 bytes in win32, 8 in win64, where later fields move as
 * in any Win64 port). The offsets asserted below hold in the 32-bit build; code uses
 * the fields, sizeof and offsetof, never literal offsets.
 */
#ifndef Q32TYPES_H
#define Q32TYPES_H

#include <windows.h>
#include <stddef.h>
#include <string.h>

#include "q32assert.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Image data type codes ------------------------------------------------------------
 *
 * One bit each. A FileData's raster (and vector) description carries one of them; an
 * ImageRequest carries a mask of them. The code also fixes the layout of the pixels in
 * the rows of the row protocol (below): B, G, R means blue first. Samples wider than a
 * byte are little-endian.
 */
#define Q32_TYPE_BGRA       0x0001 /* four-byte pixels: B, G, R, A (A 255 = opaque); 32 bpp */
#define Q32_TYPE_RGB        0x0002 /* 24-bit colour: B, G, R; 24 bpp */
#define Q32_TYPE_PALETTE8   0x0004 /* 8-bit palette indices, one byte a pixel; 8 bpp */
#define Q32_TYPE_GREY8      0x0008 /* 8-bit grey, 0 black .. 255 white; 8 bpp */
#define Q32_TYPE_PALETTE4   0x0010 /* 16-colour palette: indices 0..15, one byte a pixel
                                      in rows; 4 bpp */
#define Q32_TYPE_GREY4      0x0020 /* 16-level grey: 0 black .. 15 white, one byte a
                                      pixel in rows; 4 bpp */
#define Q32_TYPE_BILEVEL    0x0040 /* one bit a pixel, 8 pixels a byte, the leftmost in
                                      the most significant bit; 1 bpp (with a palette, a
                                      bit indexes it; without, 0 is black, 1 white) */
#define Q32_TYPE_COLOURS16  0x0100 /* 16 colours held in an 8-bit image: indices 0..15,
                                      one byte a pixel; 8 bpp */
#define Q32_TYPE_CMYK       0x0200 /* C, M, Y, K, one byte each; 32 bpp */
#define Q32_TYPE_HICOLOUR   0x0400 /* high colour, two bytes a pixel: 5-5-5 (15 bpp) or
                                      5-6-5 (16 bpp), blue in the low bits */
#define Q32_TYPE_VECTOR     0x0800 /* vector data (the vector description) */
#define Q32_TYPE_RGB48      0x1000 /* 16-bit samples: B, G, R; 48 bpp */
#define Q32_TYPE_GREY16     0x2000 /* 16-bit grey; 16 bpp */
#define Q32_TYPE_BGRA64     0x4000 /* 16-bit samples: B, G, R, A; 64 bpp */

/* Bytes of one row of the row protocol: count pixels of bitsPerPixel bits, whole bytes a
   pixel ((bitsPerPixel + 7) / 8, so 4-bit types take one byte) except for
   Q32_TYPE_BILEVEL, whose rows are packed. Rows are never padded. */
#define Q32_ROW_BYTES(type, bitsPerPixel, count)                                      \
    ((type) == Q32_TYPE_BILEVEL ? ((size_t)(count) + 7) / 8                           \
                                : (size_t)(count) * (((size_t)(bitsPerPixel) + 7) / 8))

/* Bits per pixel of a data type's rows (0 for codes without a fixed size: HICOLOUR is
   15 or 16, VECTOR none). */
static inline DWORD Q32TypeBits(DWORD type)
{
    switch (type) {
    case Q32_TYPE_BILEVEL: return 1;
    case Q32_TYPE_PALETTE4: case Q32_TYPE_GREY4: return 4;
    case Q32_TYPE_PALETTE8: case Q32_TYPE_GREY8: case Q32_TYPE_COLOURS16: return 8;
    case Q32_TYPE_GREY16: return 16;
    case Q32_TYPE_RGB: return 24;
    case Q32_TYPE_BGRA: case Q32_TYPE_CMYK: return 32;
    case Q32_TYPE_RGB48: return 48;
    case Q32_TYPE_BGRA64: return 64;
    default: return 0;
    }
}

/* ImageRequest.rasterTypes, reading: with this bit the caller takes only the types of the
   mask. Rows then come as stored when the mask holds the FileData's type, else in the
   type that Q32ReadType names, converted by the plug-in (a plug-in that cannot records
   4026 and fails). Without the bit the mask is a hint and rows come as stored, which is
   what callers of old rely on (the preview asks 7 or 15 of every image). */
#define Q32_TYPES_ONLY 0x80000000u

/* The type in which rows stored as type reach a caller whose mask is mask (with
   Q32_TYPES_ONLY): type itself when the mask holds it, else the first of type's list
   below that it holds, else 0 (nothing the caller takes). Nothing is made smaller than
   its source but 16-bit samples (to 8), CMYK (to RGB) and alpha (dropped for RGB):
     BGRA64 -> BGRA, RGB          RGB48 -> RGB, BGRA         GREY16 -> GREY8, RGB, BGRA
     CMYK, HICOLOUR, GREY8, PALETTE8 -> RGB, BGRA               GREY4 -> GREY8, RGB, BGRA
     PALETTE4, COLOURS16 -> PALETTE8, RGB, BGRA                 BILEVEL -> RGB, BGRA, GREY8
     RGB -> BGRA                  BGRA -> RGB
   Palette indices become their entry's colour (and alpha, for BGRA); an index beyond
   the palette is opaque black. A bilevel image without a palette is black (0) and
   white (1). CMYK is R = (255 - C) x (255 - K) / 255 and alike; a 16-bit sample s
   becomes s x 255 / 65535, rounded down (an alpha sample rounded up). */
static inline DWORD Q32ReadType(DWORD type, DWORD mask)
{
    static const DWORD none[] = {0};
    static const DWORD wide[] = {Q32_TYPE_BGRA, Q32_TYPE_RGB, 0};
    static const DWORD rgb48[] = {Q32_TYPE_RGB, Q32_TYPE_BGRA, 0};
    static const DWORD grey16[] = {Q32_TYPE_GREY8, Q32_TYPE_RGB, Q32_TYPE_BGRA, 0};
    static const DWORD colour[] = {Q32_TYPE_RGB, Q32_TYPE_BGRA, 0};
    static const DWORD small[] = {Q32_TYPE_PALETTE8, Q32_TYPE_RGB, Q32_TYPE_BGRA, 0};
    static const DWORD bilevel[] = {Q32_TYPE_RGB, Q32_TYPE_BGRA, Q32_TYPE_GREY8, 0};
    static const DWORD toBgra[] = {Q32_TYPE_BGRA, 0};
    static const DWORD toRgb[] = {Q32_TYPE_RGB, 0};
    const DWORD *list = none;
    if (mask & type) return type;
    switch (type) {
    case Q32_TYPE_BGRA64: list = wide; break;
    case Q32_TYPE_RGB48: list = rgb48; break;
    case Q32_TYPE_GREY16: case Q32_TYPE_GREY4: list = grey16; break;
    case Q32_TYPE_CMYK: case Q32_TYPE_HICOLOUR: case Q32_TYPE_GREY8: case Q32_TYPE_PALETTE8:
        list = colour; break;
    case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16: list = small; break;
    case Q32_TYPE_BILEVEL: list = bilevel; break;
    case Q32_TYPE_RGB: list = toBgra; break;
    case Q32_TYPE_BGRA: list = toRgb; break;
    default: break;
    }
    for (; *list; list++)
        if (mask & *list) return *list;
    return 0;
}

/* ---- Capability bits -------------------------------------------------------------------
 *
 * What a format can write, one bit a data type: the low 7 bits of FormatInfo.typeCaps
 * (and the low half of a format's type mask), by which the save dialog selects formats.
 */
#define Q32_CAP_BILEVEL     0x0001 /* Q32_TYPE_BILEVEL */
#define Q32_CAP_GREY8       0x0002 /* Q32_TYPE_GREY8 */
#define Q32_CAP_PALETTE8    0x0004 /* Q32_TYPE_PALETTE8 */
#define Q32_CAP_GREY4       0x0008 /* Q32_TYPE_GREY4 */
#define Q32_CAP_PALETTE4    0x0010 /* Q32_TYPE_PALETTE4 */
#define Q32_CAP_RGB         0x0020 /* Q32_TYPE_RGB */
#define Q32_CAP_BGRA        0x0040 /* Q32_TYPE_BGRA */
#define Q32_CAP_ALL_RASTER  0x007F
/* Further capability bits of q32FileGetFCap (the high ones in the type mask's high half). */
#define Q32_CAP_VECTOR      0x0080 /* Q32_TYPE_VECTOR */
#define Q32_CAP_RGB48       0x10000 /* Q32_TYPE_RGB48 */
#define Q32_CAP_GREY16      0x20000 /* Q32_TYPE_GREY16 */
#define Q32_CAP_BGRA64      0x40000 /* Q32_TYPE_BGRA64 */

/* ---- Compression codes (FileData.compression) ----------------------------------------- */
#define Q32_COMPRESS_NONE       0
#define Q32_COMPRESS_RLE8       1  /* run lengths of 8-bit indices */
#define Q32_COMPRESS_RLE4       2  /* run lengths of 4-bit indices */
#define Q32_COMPRESS_BITFIELDS  3  /* uncompressed, channels by bit masks */
#define Q32_COMPRESS_JPEG       4
#define Q32_COMPRESS_PNG        5  /* an embedded PNG stream */
#define Q32_COMPRESS_LZW        6
#define Q32_COMPRESS_PACKBITS   7  /* byte-oriented run lengths */
#define Q32_COMPRESS_CCITT3     8  /* fax group 3 */
#define Q32_COMPRESS_CCITT4     9  /* fax group 4 */
#define Q32_COMPRESS_DEFLATE    10
#define Q32_COMPRESS_HUFFMAN    11 /* modified Huffman run lengths */
#define Q32_COMPRESS_RLE        12 /* other run-length schemes */
#define Q32_COMPRESS_WAVELET    13

/* ---- Image description ----------------------------------------------------------------
 *
 * Seven fields, used for the raster image and the vector data of a FileData.
 * bitsPerPixel and dataType describe the rows that the plug-in delivers on reading and
 * asks for on writing.
 */
typedef struct ImageDescription {
    DWORD    bitsPerPixel;  /*  0 */
    LONG     width;         /*  4: pixels; -1 for a vector size not yet fixed */
    LONG     height;        /*  8 */
    DWORD    resolutionX;   /* 12: dots per inch x 10000, 0 when unknown */
    DWORD    resolutionY;   /* 16 */
    DWORD    dataType;      /* 20: one Q32_TYPE_* code */
    HPALETTE palette;       /* 24: the image's palette (a GDI object), or NULL */
} ImageDescription;

/* ---- FileData ----------------------------------------------------------------------------
 *
 * The facts of one file: a movable global block (GlobalAlloc GHND, sizeof(FileData))
 * that a plug-in's file-data entry allocates and fills, q32File.dll stamps and the
 * application owns until q32FileFreeFileData, which deletes both palettes and frees the
 * property block. The pluginArea fields belong to the plug-in that made the block.
 */
typedef struct FileData {
    LONG  formatNumber;             /*   0: the file's format (set by the module) */
    char  name[260];                /*   4: file name (set by the module) */
    BYTE  pluginArea264[304];       /* 264 */
    DWORD fileSize;                 /* 568: bytes (after detection and after a write) */
    DWORD readable;                 /* 572: non-zero: the image data can be read */
    BYTE  pluginArea576[4];         /* 576 */
    DWORD compression;              /* 580: a Q32_COMPRESS_* code */
    BYTE  pluginArea584[4];         /* 584 */
    ImageDescription raster;        /* 588 */
    DWORD vectorPresent;            /* 616: non-zero: the file holds vector data */
    ImageDescription vector;        /* 620 */
    DWORD vectorSizeFree;           /* 648: vector data may be read at another size */
    DWORD sizeFreeOnWrite;          /* 652: another size may be written in place */
    BYTE  pluginArea656[26];        /* 656 */
    WORD  sizeMode;                 /* 682: Q32_SIZE_DOUBLE: shown at twice its size */
    BYTE  pluginArea684[8];         /* 684 */
    LONG  writeKind;                /* 692: Q32_WRITE_*: what a write must be offered */
    BYTE  pluginArea696[30];        /* 696 */
    BYTE  propertyBlock[sizeof(HGLOBAL)]; /* 726: HGLOBAL, unaligned: use the accessors */
    BYTE  pluginArea730[6];         /* 730 */
} FileData;

/* FileData.sizeMode: the vector data is shown at double size. */
#define Q32_SIZE_DOUBLE 2

/* FileData.writeKind, tested against the request's raster type mask by qfFileWrite. */
#define Q32_WRITE_UNCHECKED   0    /* no test */
#define Q32_WRITE_COLOUR    (-1)   /* needs one of BGRA, RGB, PALETTE8 */
#define Q32_WRITE_GREY      (-2)   /* needs one of BGRA, RGB, PALETTE8, GREY8 */
#define Q32_WRITE_ANY         1    /* (any positive kind) needs any raster type */

/* The property block attached to a FileData, or NULL. */
static inline HGLOBAL FileDataGetProperty(const FileData *fileData)
{
    HGLOBAL block;
    memcpy(&block, fileData->propertyBlock, sizeof block);
    return block;
}

static inline void FileDataSetProperty(FileData *fileData, HGLOBAL block)
{
    memcpy(fileData->propertyBlock, &block, sizeof block);
}

/* ---- ImageRequest ------------------------------------------------------------------------
 *
 * What a read or write is to move: thirteen fields, owned by the caller. Sizes of 0 x 0
 * mean the image's own size, which qfFileRead and qfFileWrite fill in.
 */
typedef struct ImageRequest {
    LONG  rasterWanted;     /*  0: non-zero: a raster image is read or written */
    LONG  rasterX;          /*  1: origin of the region */
    LONG  rasterY;          /*  2 */
    LONG  rasterWidth;      /*  3: size of the region */
    LONG  rasterHeight;     /*  4 */
    DWORD rasterTypes;      /*  5: Q32_TYPE_* mask: reading, the types the caller takes
                                   (rows come in the FileData's type unless the reader
                                   converts to one of them); writing, the type offered */
    LONG  vectorWanted;     /*  6 */
    LONG  vectorX;          /*  7 */
    LONG  vectorY;          /*  8 */
    LONG  vectorWidth;      /*  9 */
    LONG  vectorHeight;     /* 10 */
    DWORD vectorTypes;      /* 11 */
    void *context;          /* 12: the caller's own, for its row callback */
} ImageRequest;

/* ---- The row protocol --------------------------------------------------------------------
 *
 * A plug-in's read and write entries move pixels through the caller's row callback:
 *
 *   LONG WINAPI callback(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
 *                        void *rowData, DWORD flags, LONG_PTR reserved1,
 *                        LONG_PTR reserved2);
 *
 * request is the caller's own ImageRequest (its context field leads to the caller's
 * state); x and y are image coordinates of the first pixel; reserved1 and reserved2 are
 * 0. The result is 1 to go on and 0 to stop.
 *
 * Row layout: a row is count pixels in the data type and bits per pixel of the FileData's
 * raster description (Q32_ROW_BYTES); rows are never padded. rowData is the address of
 * an array of rows addresses, one per row, top row first.
 *
 * Reading (flags 0): the plug-in delivers the request's region (rasterX, rasterY,
 * rasterWidth, rasterHeight; cut at the image's edges) from top to bottom, as
 *   - single whole rows: rows = 1, count = the region's width;
 *   - blocks of rows: rows > 1, consecutive rows from y down;
 *   - part rows: any x within the region, count pixels from there (a part row of a
 *     Q32_TYPE_BILEVEL image starts at a multiple of 8);
 *   - fill commands: rows = 0, flags Q32_ROW_FILL, rowData the address of a 32-bit
 *     word whose first bytes are one pixel: every pixel of the region takes that value
 *     (later rows may still overwrite parts of it).
 * Callers accept all four. When the callback answers 0 the plug-in stops at once and
 * its read entry returns Q32_READ_STOPPED; it returns 1 when the whole region was
 * delivered, Q32_READ_PARTIAL when it was delivered from a file that proved damaged or
 * incomplete, 0 on failure (with an error recorded).
 *
 * Writing (flags Q32_ROW_PULL): the plug-in asks the caller for rows. It passes rows
 * buffers of its own, each of Q32_ROW_BYTES(dataType, bitsPerPixel, count) bytes, and
 * the caller fills buffer i with pixels x .. x + count - 1 of row y + i of its image, in
 * the data type of the FileData being written. x and y are the request's origin plus the
 * position within the written image. A plug-in asks in the order in which it stores the
 * rows (which may be bottom row first), each row once; callers answer any y. When the
 * callback answers 0 the write entry returns Q32_WRITE_STOPPED (the file is incomplete
 * and is discarded).
 */
typedef LONG (WINAPI *RowCallback)(ImageRequest *request, LONG x, LONG y, LONG count,
                                   LONG rows, void *rowData, DWORD flags,
                                   LONG_PTR reserved1, LONG_PTR reserved2);

#define Q32_ROW_FILL        0x0200 /* reading: rowData points at the fill pixel */
#define Q32_ROW_PULL        0x0400 /* writing: fill these row buffers */

#define Q32_READ_STOPPED    2      /* read entry: the callback asked to stop */
#define Q32_READ_PARTIAL    3      /* read entry: the file ends early or fails its
                                      checksum; the region was delivered with what the
                                      decoder made of the rest, and error 4020 (damaged
                                      or incomplete) is recorded */
#define Q32_WRITE_STOPPED   2      /* write entry: the callback asked to stop */

/* ---- Property block ------------------------------------------------------------------------
 *
 * A movable global block of typed items that a format can attach to a FileData.
 * Freeing the block treats an item's handle by the item's type: types 1, 5 and 10 to 14
 * are unlocked and freed, 8 and 9 freed, all others hold their value inline.
 */
typedef struct PropertyItem {
    WORD    type;           /*  0 */
    BYTE    data[70];       /*  2: name and inline value, as the format defines */
    HGLOBAL handle;         /* 72: global memory of the types that carry one */
    BYTE    tail[4];        /* 76 */
} PropertyItem;

typedef struct PropertyBlock {
    DWORD        reserved0; /*  0 */
    DWORD        count;     /*  4: items */
    DWORD        reserved8; /*  8 */
    PropertyItem items[1];  /* 12: count items */
} PropertyBlock;

/* ---- Layout checks ------------------------------------------------------------------------ */

#if !defined(_WIN64)
Q32_STATIC_ASSERT(sizeof(ImageDescription) == 28, "ImageDescription is seven fields");
Q32_STATIC_ASSERT(offsetof(ImageDescription, width) == 4, "ImageDescription.width");
Q32_STATIC_ASSERT(offsetof(ImageDescription, height) == 8, "ImageDescription.height");
Q32_STATIC_ASSERT(offsetof(ImageDescription, resolutionX) == 12, "ImageDescription.resolutionX");
Q32_STATIC_ASSERT(offsetof(ImageDescription, resolutionY) == 16, "ImageDescription.resolutionY");
Q32_STATIC_ASSERT(offsetof(ImageDescription, dataType) == 20, "ImageDescription.dataType");
Q32_STATIC_ASSERT(offsetof(ImageDescription, palette) == 24, "ImageDescription.palette");

Q32_STATIC_ASSERT(sizeof(FileData) == 736, "FileData is 736 bytes");
Q32_STATIC_ASSERT(offsetof(FileData, name) == 4, "FileData.name");
Q32_STATIC_ASSERT(offsetof(FileData, fileSize) == 568, "FileData.fileSize");
Q32_STATIC_ASSERT(offsetof(FileData, readable) == 572, "FileData.readable");
Q32_STATIC_ASSERT(offsetof(FileData, compression) == 580, "FileData.compression");
Q32_STATIC_ASSERT(offsetof(FileData, raster) == 588, "FileData.raster");
Q32_STATIC_ASSERT(offsetof(FileData, raster.bitsPerPixel) == 588, "FileData bits per pixel");
Q32_STATIC_ASSERT(offsetof(FileData, raster.width) == 592, "FileData raster width");
Q32_STATIC_ASSERT(offsetof(FileData, raster.height) == 596, "FileData raster height");
Q32_STATIC_ASSERT(offsetof(FileData, raster.resolutionX) == 600, "FileData resolution x");
Q32_STATIC_ASSERT(offsetof(FileData, raster.resolutionY) == 604, "FileData resolution y");
Q32_STATIC_ASSERT(offsetof(FileData, raster.dataType) == 608, "FileData data type");
Q32_STATIC_ASSERT(offsetof(FileData, raster.palette) == 612, "FileData raster palette");
Q32_STATIC_ASSERT(offsetof(FileData, vectorPresent) == 616, "FileData.vectorPresent");
Q32_STATIC_ASSERT(offsetof(FileData, vector) == 620, "FileData.vector");
Q32_STATIC_ASSERT(offsetof(FileData, vector.width) == 624, "FileData vector width");
Q32_STATIC_ASSERT(offsetof(FileData, vector.height) == 628, "FileData vector height");
Q32_STATIC_ASSERT(offsetof(FileData, vector.dataType) == 640, "FileData vector data type");
Q32_STATIC_ASSERT(offsetof(FileData, vector.palette) == 644, "FileData vector palette");
Q32_STATIC_ASSERT(offsetof(FileData, vectorSizeFree) == 648, "FileData.vectorSizeFree");
Q32_STATIC_ASSERT(offsetof(FileData, sizeFreeOnWrite) == 652, "FileData.sizeFreeOnWrite");
Q32_STATIC_ASSERT(offsetof(FileData, sizeMode) == 682, "FileData.sizeMode");
Q32_STATIC_ASSERT(offsetof(FileData, writeKind) == 692, "FileData.writeKind");
Q32_STATIC_ASSERT(offsetof(FileData, propertyBlock) == 726, "FileData.propertyBlock");

Q32_STATIC_ASSERT(sizeof(ImageRequest) == 52, "ImageRequest is thirteen fields");
Q32_STATIC_ASSERT(offsetof(ImageRequest, rasterX) == 4, "ImageRequest.rasterX");
Q32_STATIC_ASSERT(offsetof(ImageRequest, rasterY) == 8, "ImageRequest.rasterY");
Q32_STATIC_ASSERT(offsetof(ImageRequest, rasterWidth) == 12, "ImageRequest.rasterWidth");
Q32_STATIC_ASSERT(offsetof(ImageRequest, rasterHeight) == 16, "ImageRequest.rasterHeight");
Q32_STATIC_ASSERT(offsetof(ImageRequest, rasterTypes) == 20, "ImageRequest.rasterTypes");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorWanted) == 24, "ImageRequest.vectorWanted");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorX) == 28, "ImageRequest.vectorX");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorY) == 32, "ImageRequest.vectorY");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorWidth) == 36, "ImageRequest.vectorWidth");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorHeight) == 40, "ImageRequest.vectorHeight");
Q32_STATIC_ASSERT(offsetof(ImageRequest, vectorTypes) == 44, "ImageRequest.vectorTypes");
Q32_STATIC_ASSERT(offsetof(ImageRequest, context) == 48, "ImageRequest.context");

Q32_STATIC_ASSERT(sizeof(PropertyItem) == 80, "PropertyItem is 80 bytes");
Q32_STATIC_ASSERT(offsetof(PropertyItem, handle) == 72, "PropertyItem.handle");
Q32_STATIC_ASSERT(offsetof(PropertyBlock, count) == 4, "PropertyBlock.count");
Q32_STATIC_ASSERT(offsetof(PropertyBlock, items) == 12, "PropertyBlock.items");
#endif

#ifdef __cplusplus
}
#endif

#endif
