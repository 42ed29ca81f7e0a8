/*
 * What the imaging-component plug-in learns of a file from its headers alone, without
 * Windows calls and without decoding pixels: JPEG markers up to the frame header (with
 * the Adobe transform and the EXIF orientation), PNG header chunks up to the first image
 * data, GIF screen, colour tables and a walk of the blocks that counts frames, the TIFF
 * IFD chain, and the ICO directory with the header of each image. The bytes come through
 * a ByteSource, so memory does not grow with the image; every count, offset and length is
 * checked against the file before it is used.
 */
#ifndef WIC_HEADER_H
#define WIC_HEADER_H

#include <cstddef>
#include <cstdint>
#include <vector>
#include "wic_bytes.h"

namespace wic {

/* The pixels a frame's decoder gives, as the plug-in delivers them. Unknown: the headers
   alone do not tell (the component is asked). */
enum class Layout : uint8_t {
    Unknown, BlackWhite, Bilevel, Palette4, Palette8, Grey4, Grey8, Grey16,
    Rgb24, Rgb48, Bgra32, Bgra64, Cmyk32
};

enum class Packing : uint8_t { None, Jpeg, Deflate, Lzw, PackBits, Ccitt3, Ccitt4, Huffman };

/* Where a frame's colours are. */
enum class PaletteKind : uint8_t {
    None,
    Rgb,       /* count R, G, B triples at paletteAt (PNG, GIF) */
    TiffMap,   /* TIFF colour map at paletteAt: count reds, greens, blues, 16 bits each */
    GreyRamp   /* count evenly spaced greys, black to white (PNG grey with a colour key) */
};

struct HeaderFrame {
    uint32_t width = 0, height = 0;
    Layout layout = Layout::Unknown;
    Packing packing = Packing::None;
    uint16_t left = 0, top = 0;     /* GIF: place on the logical screen */
    uint16_t delay = 0;             /* GIF: 1/100 s */
    uint8_t disposal = 0;           /* GIF: what becomes of the frame after it, 0..7 */
    int16_t transparentIndex = -1;  /* GIF: the transparent palette index, -1 for none */
    double dpiX = 0, dpiY = 0;      /* 0: the file does not say */
    bool transparent = false;       /* PNG: a tRNS chunk makes palette entries (or the
                                       grey key) transparent */
    PaletteKind paletteKind = PaletteKind::None;
    uint16_t paletteCount = 0;
    uint64_t paletteAt = 0;
};

struct Header {
    std::vector<HeaderFrame> frames;  /* at least one when the verdict is Ok */
    bool counted = true;              /* false: a GIF walk stopped at its limit, and frames
                                         holds the first frames only */
    uint32_t screenWidth = 0, screenHeight = 0;  /* GIF logical screen, else frame 0's size */
    int32_t loopCount = -1;           /* GIF NETSCAPE2.0 loop count; -1: no loop block */
    uint8_t orientation = 0;          /* EXIF orientation 1..8 (JPEG, TIFF); 0: not given */
    bool adobe = false;               /* JPEG: an APP14 Adobe segment */
    uint8_t adobeTransform = 0;       /* its colour transform (0 none, 1 YCbCr, 2 YCCK) */
    bool bigEndian = false;           /* TIFF: "MM" */
};

enum class Verdict {
    Ok,
    Damaged,      /* not well formed */
    Truncated,    /* ends inside a structure */
    TooLarge,     /* declares more frames or dimensions than the limits below */
    Unsupported   /* well formed, in a variant the plug-in does not read */
};

/* Limits of what a header may declare. */
constexpr uint32_t MaxFrames = 65536;      /* frames, pages, icon images */
constexpr uint32_t MaxDimension = 0x7FFFFFFF;

/* Reads the headers of a file of the container. The walk of a GIF's blocks, which
   counts its frames, stops past byte limit once it has met a frame (the file's end is
   then not proved). */
Verdict ReadHeader(Container container, ByteSource &source, Header &header, uint64_t limit = UINT64_MAX);

/* CRC-32 as PNG chunks carry it: crc of the bytes before, updated by n bytes at p. */
uint32_t Crc32(uint32_t crc, const uint8_t *p, size_t n);

/* Walks every chunk of a PNG stream with its checksum: Ok when the stream ends with its
   end chunk, Truncated when the file ends first, Damaged when a checksum is wrong. */
Verdict CheckPngStream(ByteSource &source);

/* The colours of a frame as 0x00RRGGBB; false when they cannot be read. */
bool ReadPalette(ByteSource &source, const Header &header, const HeaderFrame &frame,
                 std::vector<uint32_t> &colours);

} // namespace wic

#endif
