/*
 * BMP codec: the headers, palettes, rows and run lengths of Windows and OS/2 bitmaps,
 * over byte buffers. It makes no Windows calls, so it builds anywhere and can be fuzzed
 * natively. Every size is computed in 64 bits and every read is bounded by the buffer
 * that holds it.
 */
#ifndef BMP_CODEC_H
#define BMP_CODEC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp {

/* Stored compression values. */
enum : uint32_t {
    BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiJpeg = 4, BiPng = 5,
    BiAlphaBitfields = 6
};

enum : uint32_t {
    FileHeaderSize = 14,
    CoreHeaderSize = 12,  /* OS/2 */
    InfoHeaderSize = 40,
    V4HeaderSize = 108,
    V5HeaderSize = 124
};

/* The first bytes of a file hold every header, mask and palette byte within these. */
constexpr size_t HeadBytes = FileHeaderSize + V5HeaderSize + 16 + 256 * 4;

/* Limits of this reader: width and height each, and the pixels of a run-length image
   (decoded whole, one byte a pixel). */
constexpr int32_t MaxDimension = 1 << 20;
constexpr uint64_t MaxRlePixels = uint64_t(1) << 28;

/* The outcome of each step. The numbers are stable: they travel as the third number of
   the location of a recorded error. */
enum class Result : int {
    Ok = 0,
    NotBitmap = 1,          /* no "BM" signature: another format */
    /* damaged or truncated */
    ShortHeader = 2,        /* the file ends inside its headers or palette */
    BadHeaderSize = 3,
    BadDimensions = 4,
    BadPlanes = 5,
    BadBitCount = 6,
    BadCompression = 7,     /* a compression that does not fit the bit count */
    BadMasks = 8,
    BadPalette = 9,
    BadDataOffset = 10,
    ShortData = 11,         /* the pixel data ends before the image does */
    BadRun = 12,            /* (no longer given: runs outside the image are clipped) */
    ShortRun = 13,          /* the run lengths end before the image does */
    BadIndex = 14,          /* a pixel indexes beyond the palette */
    /* variants this reader does not take */
    UnknownHeader = 20,
    UnsupportedBitCount = 21,
    UnsupportedCompression = 22,
    TooLarge = 23,
    /* writing */
    BadPixel = 30,          /* a pixel value that the written palette cannot hold */
};

/* True for the variants that this reader does not take (as opposed to damage). */
bool IsUnsupported(Result result);

/* What the rows of an image are delivered as (and taken as, when writing). */
enum class Kind {
    Bilevel,    /* 1 bit a pixel, packed, leftmost pixel in the top bit */
    Index4,     /* palette indices 0..15, one byte a pixel */
    Grey4,      /* grey 0..15, one byte a pixel */
    Index8,     /* palette indices, one byte a pixel */
    Grey8,      /* grey 0..255 */
    Rgb24,      /* B, G, R */
    Bgra32      /* B, G, R, A */
};

unsigned BitsPerPixel(Kind kind);
/* Bytes of one delivered row of width pixels. */
uint64_t RowBytes(Kind kind, uint64_t width);

struct Colour {
    uint8_t red, green, blue;
};

/* One bitmap: what the headers say, checked against the file's size. */
struct Layout {
    uint32_t headerSize = 0;      /* 12 (OS/2), 40, 52, 56, 108, 124 */
    int32_t width = 0;
    int32_t height = 0;           /* rows, always positive */
    bool topDown = false;         /* rows stored top row first */
    uint16_t bitCount = 0;        /* 1, 4, 8, 16, 24, 32 */
    uint32_t compression = BiRgb;
    uint32_t masks[4] = {};       /* red, green, blue, alpha (16 and 32 bits a pixel) */
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t paletteEntries = 0;
    Colour palette[256] = {};
    uint64_t dataOffset = 0;      /* file offset of the pixel data */
    uint64_t stride = 0;          /* bytes of a stored row (uncompressed) */
    uint64_t dataSize = 0;        /* bytes of pixel data to read (or written) */
    Kind kind = Kind::Rgb24;      /* the delivered rows */
};

/* Reads the headers, masks and palette from head, the first headSize bytes of a file of
   fileSize bytes (headSize = min(fileSize, HeadBytes)), and checks that the pixel data
   they describe lies within the file. */
Result ParseHeaders(const uint8_t *head, size_t headSize, uint64_t fileSize, Layout &layout);

/* The stored row (layout.stride bytes) of an uncompressed bitmap as a delivered row
   (RowBytes(layout.kind, width) bytes). BadIndex for an index beyond the palette. */
Result DecodeRow(const Layout &layout, const uint8_t *stored, uint8_t *out);

/* Decodes run lengths (RLE8 or RLE4 by layout.compression) into one index a pixel, in
   stored row order: indices holds width x height bytes, zero for pixels that the runs
   skip. Pixels outside the image are dropped; ShortRun when the stream ends inside a run
   or a move, or before the image's last row without an end mark. */
Result DecodeRle(const Layout &layout, const uint8_t *data, size_t size, uint8_t *indices);

/* True when the palette is the grey ramp of its bit count (16 or 256 levels). */
bool IsGreyRamp(const Colour *palette, uint32_t entries, unsigned bitCount);

/* ---- Writing ---- */

/* Completes a layout for writing rows of layout.kind at layout.width x layout.height:
   bit count, header size, compression (layout.compression may ask for BiRle8 or BiRle4;
   it is kept only where the bit count allows, else uncompressed), masks, palette
   (grey ramps for the grey kinds; two entries for bilevel), data offset and stride.
   Sets dataSize for uncompressed data. TooLarge when the file would pass 4 GB. */
Result PlanWrite(Layout &layout);

/* The file header, info header, masks and palette: layout.dataOffset bytes, for
   layout.dataSize bytes of pixel data. */
std::vector<uint8_t> BuildHeaders(const Layout &layout);

/* Checks a delivered row against what the file will hold (indices within the palette,
   grey levels of 4-bit grey within 0..15). BadPixel otherwise. */
Result CheckRow(const Layout &layout, const uint8_t *row);

/* A delivered row as a stored, padded row of layout.stride bytes. */
void EncodeRow(const Layout &layout, const uint8_t *row, uint8_t *stored);

/* Appends the run lengths of one row of indices (RLE8 or RLE4 by layout.compression)
   followed by an end of line. */
void EncodeRleRow(const Layout &layout, const uint8_t *indices, std::vector<uint8_t> &out);

/* The end-of-bitmap mark that closes run-length data. */
void EncodeRleEnd(std::vector<uint8_t> &out);

} // namespace bmp

#endif
