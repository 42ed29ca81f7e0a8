/* Rows of every data type of the row protocol turned into screen quads. */
#include "picture.h"

namespace {

DWORD Quad(unsigned r, unsigned g, unsigned b)
{
    return (DWORD)((r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF));
}

DWORD Grey(unsigned v) { return Quad(v, v, v); }

/* A palette index: its entry, or without a palette (or beyond it) a grey level of
   the index within levels. */
DWORD Indexed(const Image &image, unsigned index, unsigned levels)
{
    if (index < image.palette.size()) {
        const PALETTEENTRY &e = image.palette[index];
        return Quad(e.peRed, e.peGreen, e.peBlue);
    }
    return Grey(levels > 1 ? (index >= levels ? 255 : index * 255 / (levels - 1)) : 0);
}

/* Little-endian 16-bit sample i of a row, reduced to 8 bits. */
unsigned High(const BYTE *p, int i) { return p[2 * i + 1]; }

DWORD Pixel(const Image &image, const BYTE *row, LONG x)
{
    switch (image.dataType) {
    case Q32_TYPE_BGRA: { const BYTE *p = row + 4 * x; return Quad(p[2], p[1], p[0]); }
    case Q32_TYPE_RGB: { const BYTE *p = row + 3 * x; return Quad(p[2], p[1], p[0]); }
    case Q32_TYPE_PALETTE8: return Indexed(image, row[x], 256);
    case Q32_TYPE_COLOURS16:
    case Q32_TYPE_PALETTE4: return Indexed(image, row[x], 16);
    case Q32_TYPE_GREY8: return Grey(row[x]);
    case Q32_TYPE_GREY4: return Grey((row[x] & 15) * 17);
    case Q32_TYPE_BILEVEL: {
        unsigned bit = row[x / 8] >> (7 - x % 8) & 1;
        return image.palette.size() >= 2 ? Indexed(image, bit, 2) : Grey(bit ? 255 : 0);
    }
    case Q32_TYPE_HICOLOUR: {
        unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        if (image.bitsPerPixel == 16)
            return Quad((v >> 11 & 31) * 255 / 31, (v >> 5 & 63) * 255 / 63, (v & 31) * 255 / 31);
        return Quad((v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31);
    }
    case Q32_TYPE_CMYK: {
        const BYTE *p = row + 4 * x;
        unsigned k = 255 - p[3];
        return Quad((255 - p[0]) * k / 255, (255 - p[1]) * k / 255, (255 - p[2]) * k / 255);
    }
    case Q32_TYPE_RGB48: { const BYTE *p = row + 6 * x; return Quad(High(p, 2), High(p, 1), High(p, 0)); }
    case Q32_TYPE_GREY16: return Grey(High(row + 2 * x, 0));
    case Q32_TYPE_BGRA64: { const BYTE *p = row + 8 * x; return Quad(High(p, 2), High(p, 1), High(p, 0)); }
    default: return Grey(128);
    }
}

} // namespace

std::vector<DWORD> ToScreen(const Image &image)
{
    std::vector<DWORD> quads((size_t)image.width * image.height);
    for (LONG y = 0; y < image.height; y++) {
        const BYTE *row = image.pixels.data() + (size_t)y * image.rowBytes;
        for (LONG x = 0; x < image.width; x++) quads[(size_t)y * image.width + x] = Pixel(image, row, x);
    }
    return quads;
}
