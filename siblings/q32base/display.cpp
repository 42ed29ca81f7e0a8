/* Display: the screen's facts, the screen gamma, gamma palettes and drawing rows into a
   device context. */
#include "q32base.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <new>
#include <vector>

namespace {

/* ---- Screen gamma and dithering (process-wide) ---------------------------------------- */

struct GammaTables {
    int gamma[3] = {180, 180, 180};
    BYTE map[3][256];   /* red, green, blue */
};

SRWLOCK GammaLock = SRWLOCK_INIT;
GammaTables Gamma;
bool GammaBuilt;
LONG Dither;

/* The table of one component for screen gamma g: 255 * (v / 255) ^ (180 / g), rounded. */
void BuildMap(BYTE *map, int g)
{
    double exponent = 180.0 / g;
    for (int v = 0; v < 256; v++) {
        double out = 255.0 * pow(v / 255.0, exponent) + 0.5;
        map[v] = (BYTE)(out < 0 ? 0 : out > 255 ? 255 : (int)out);
    }
}

/* A consistent copy of the current tables. */
GammaTables CurrentGamma()
{
    AcquireSRWLockExclusive(&GammaLock);
    if (!GammaBuilt) {
        for (int c = 0; c < 3; c++) BuildMap(Gamma.map[c], Gamma.gamma[c]);
        GammaBuilt = true;
    }
    GammaTables copy = Gamma;
    ReleaseSRWLockExclusive(&GammaLock);
    return copy;
}

/* ---- Palettes ------------------------------------------------------------------------- */

/* The entries of palette (at most 256 are used by the drawing, all by the copies). */
std::vector<PALETTEENTRY> PaletteEntries(HPALETTE palette)
{
    WORD count = 0;
    if (!palette || GetObjectA(palette, sizeof count, &count) != sizeof count || !count)
        return {};
    std::vector<PALETTEENTRY> entries(count);
    UINT got = GetPaletteEntries(palette, 0, count, entries.data());
    entries.resize(got);
    return entries;
}

HPALETTE MakePalette(const std::vector<PALETTEENTRY> &entries)
{
    if (entries.empty()) return NULL;
    std::vector<BYTE> block(offsetof(LOGPALETTE, palPalEntry) + entries.size() * sizeof(PALETTEENTRY));
    LOGPALETTE *log = reinterpret_cast<LOGPALETTE *>(block.data());
    log->palVersion = 0x300;
    log->palNumEntries = (WORD)entries.size();
    memcpy(log->palPalEntry, entries.data(), entries.size() * sizeof(PALETTEENTRY));
    return CreatePalette(log);
}

/* ---- Targets -------------------------------------------------------------------------- */

enum class Target { Plain, Dither565, Dither555 };

/* How rows reach dc: high-colour targets are dithered when dithering is on. The depth of
   a memory dc is that of its bitmap. */
Target TargetOf(HDC dc, bool dither)
{
    if (!dither) return Target::Plain;
    int bits = 0;
    bool is565 = true;
    if (GetObjectType(dc) == OBJ_MEMDC) {
        HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
        DIBSECTION section;
        BITMAP plain;
        if (GetObjectA(bitmap, sizeof section, &section) == sizeof section) {
            bits = section.dsBm.bmBitsPixel;
            is565 = section.dsBmih.biCompression == BI_BITFIELDS && section.dsBitfields[1] == 0x7E0;
        } else if (GetObjectA(bitmap, sizeof plain, &plain)) {
            bits = plain.bmBitsPixel;
        }
    } else {
        bits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        is565 = bits == 16;
    }
    if (bits == 15 || bits == 16) return is565 ? Target::Dither565 : Target::Dither555;
    return Target::Plain;
}

/* 4 x 4 ordered-dither thresholds 0..15. */
const BYTE Bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

/* v (0..255) to 0..top, rounded down after adding the threshold (2b + 1) / 32. */
inline unsigned DitherLevel(unsigned v, unsigned top, unsigned b)
{
    unsigned q = (v * top * 32 + (2 * b + 1) * 255) / (255 * 32);
    return q > top ? top : q;
}

const DWORD ShowMagic = 0x57534433; /* "3DSW" */
const size_t ChunkBytes = 64 << 10; /* conversion buffer per StretchDIBits call */

} // namespace

struct DISP32SHOW {
    DWORD magic;
    HDC dc;
    int bytesPerPixel;
    RECT dest;
    int width, height;
    int rowsDone;
    Target target;
    bool indexed;                 /* 8-bit rows */
    RGBQUAD table[256];           /* their colours (palette, or grey through gamma) */
    GammaTables gamma;
    HPALETTE selected;            /* the caller's palette, selected into a palette dc */
    HPALETTE previous;
    std::vector<BYTE> buffer;
};

namespace {

struct DibHeader {
    BITMAPINFOHEADER header;
    union {
        RGBQUAD colours[256];
        DWORD masks[3];
    };
};

/* Bytes of one DIB row of width pixels of bits each (rows are 4-byte aligned). */
inline size_t DibStride(int width, int bits) { return ((size_t)width * bits + 31) / 32 * 4; }

/* Converts rows into show->buffer as a top-down DIB of bits per pixel. */
void ConvertRows(DISP32SHOW *show, const BYTE *rows, int count, int bytesPerRow, int pixels,
                 int bits, int firstRow)
{
    size_t stride = DibStride(show->width, bits);
    if (show->buffer.size() < stride * count) show->buffer.resize(stride * count);
    const int in = show->bytesPerPixel;
    for (int r = 0; r < count; r++) {
        const BYTE *src = rows + (size_t)r * bytesPerRow;
        BYTE *dst = show->buffer.data() + stride * r;
        if (bits == 8) {
            memcpy(dst, src, pixels);
            continue;
        }
        int y = show->dest.top + firstRow + r;
        for (int x = 0; x < pixels; x++, src += in) {
            BYTE red, green, blue;
            if (show->indexed) {
                const RGBQUAD &c = show->table[*src];
                red = c.rgbRed, green = c.rgbGreen, blue = c.rgbBlue;
            } else {
                blue = show->gamma.map[2][src[0]];
                green = show->gamma.map[1][src[1]];
                red = show->gamma.map[0][src[2]];
            }
            if (bits == 24) {
                dst[3 * x] = blue, dst[3 * x + 1] = green, dst[3 * x + 2] = red;
                continue;
            }
            unsigned b = Bayer[y & 3][(show->dest.left + x) & 3];
            WORD packed;
            if (show->target == Target::Dither565)
                packed = (WORD)(DitherLevel(red, 31, b) << 11 | DitherLevel(green, 63, b) << 5 |
                                DitherLevel(blue, 31, b));
            else
                packed = (WORD)(DitherLevel(red, 31, b) << 10 | DitherLevel(green, 31, b) << 5 |
                                DitherLevel(blue, 31, b));
            memcpy(dst + 2 * x, &packed, 2);
        }
    }
}

int StartShow(HDISP32SHOW *slot, HDC dc, int bitsPerPixel, RECT dest, HPALETTE palette)
{
    if (!slot) return 0;
    *slot = NULL;
    if (!dc || (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32)) return 0;
    if (dest.right <= dest.left || dest.bottom <= dest.top) return 0;

    DISP32SHOW *show = new (std::nothrow) DISP32SHOW();
    if (!show) return 0;
    show->magic = ShowMagic;
    show->dc = dc;
    show->bytesPerPixel = bitsPerPixel / 8;
    show->dest = dest;
    show->width = dest.right - dest.left;
    show->height = dest.bottom - dest.top;
    show->indexed = bitsPerPixel == 8;
    show->gamma = CurrentGamma();
    show->target = TargetOf(dc, InterlockedCompareExchange(&Dither, 0, 0) != 0);

    if (palette) {
        std::vector<PALETTEENTRY> entries = PaletteEntries(palette);
        if (entries.empty()) { delete show; return 0; }
        for (size_t i = 0; i < entries.size() && i < 256 && show->indexed; i++) {
            show->table[i].rgbRed = entries[i].peRed;
            show->table[i].rgbGreen = entries[i].peGreen;
            show->table[i].rgbBlue = entries[i].peBlue;
        }
        if (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) {
            show->previous = SelectPalette(dc, palette, FALSE);
            show->selected = palette;
            RealizePalette(dc);
        }
    } else if (show->indexed) {
        for (int i = 0; i < 256; i++) {
            show->table[i].rgbRed = show->gamma.map[0][i];
            show->table[i].rgbGreen = show->gamma.map[1][i];
            show->table[i].rgbBlue = show->gamma.map[2][i];
        }
    }
    *slot = show;
    return 1;
}

} // namespace

/******************************************************************
 *      disp32GetDevInfo
 */
extern "C" int B32API disp32GetDevInfo(DISP32DEVINFO *info)
{
    if (!info) return 0;
    HDC screen = GetDC(NULL);
    if (!screen) return 0;
    DISP32DEVINFO d = {};
    d.dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    d.dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    d.width = GetDeviceCaps(screen, HORZRES);
    d.height = GetDeviceCaps(screen, VERTRES);
    d.planes = GetDeviceCaps(screen, PLANES);
    d.bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL) * d.planes;
    d.rasterCaps = GetDeviceCaps(screen, RASTERCAPS);
    if (d.rasterCaps & RC_PALETTE) {
        d.paletteSize = GetDeviceCaps(screen, SIZEPALETTE);
        d.reservedColors = GetDeviceCaps(screen, NUMRESERVED);
        d.colorBits = GetDeviceCaps(screen, COLORRES);
    }
    ReleaseDC(NULL, screen);

    char forced[8];
    DWORD n = GetEnvironmentVariableA("Q32BASE_DISPLAY_BITS", forced, sizeof forced);
    if (n > 0 && n < sizeof forced) {
        int bits = atoi(forced);
        if (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) {
            d.planes = 1;
            d.bitsPerPixel = bits;
            d.rasterCaps = bits == 8 ? d.rasterCaps | RC_PALETTE : d.rasterCaps & ~RC_PALETTE;
            d.paletteSize = bits == 8 ? 256 : 0;
            d.reservedColors = bits == 8 ? 20 : 0;
            d.colorBits = bits == 8 ? 18 : 0;
        }
    }

    int bits = d.bitsPerPixel;
    d.kind = bits <= 1 ? DISP32_MONO : bits <= 4 ? DISP32_16COLOR : bits <= 8 ? DISP32_PALETTE
           : bits <= 16 ? DISP32_HICOLOR : DISP32_TRUECOLOR;
    d.colors = bits >= 24 ? 1L << 24 : 1L << bits;
    if (!d.colorBits) d.colorBits = bits >= 24 ? 24 : bits;
    *info = d;
    return 1;
}

/******************************************************************
 *      disp32PalDuplicate
 */
extern "C" HPALETTE B32API disp32PalDuplicate(HPALETTE palette)
{
    return MakePalette(PaletteEntries(palette));
}

/******************************************************************
 *      disp32GammaColorPalette
 */
extern "C" HPALETTE B32API disp32GammaColorPalette(HPALETTE palette, int)
{
    std::vector<PALETTEENTRY> entries = PaletteEntries(palette);
    GammaTables gamma = CurrentGamma();
    for (PALETTEENTRY &e : entries) {
        e.peRed = gamma.map[0][e.peRed];
        e.peGreen = gamma.map[1][e.peGreen];
        e.peBlue = gamma.map[2][e.peBlue];
    }
    return MakePalette(entries);
}

/******************************************************************
 *      disp32NewScreenGamma
 */
extern "C" int B32API disp32NewScreenGamma(int red, int green, int blue)
{
    if (red < 1 || green < 1 || blue < 1) return 0;
    GammaTables fresh;
    fresh.gamma[0] = red, fresh.gamma[1] = green, fresh.gamma[2] = blue;
    for (int c = 0; c < 3; c++) BuildMap(fresh.map[c], fresh.gamma[c]);
    AcquireSRWLockExclusive(&GammaLock);
    Gamma = fresh;
    GammaBuilt = true;
    ReleaseSRWLockExclusive(&GammaLock);
    return 1;
}

/******************************************************************
 *      disp32BeHiColorDither
 */
extern "C" int B32API disp32BeHiColorDither(int dither)
{
    return InterlockedExchange(&Dither, dither ? 1 : 0);
}

/******************************************************************
 *      disp32ShowInit
 */
extern "C" int B32API disp32ShowInit(HDISP32SHOW *slot, HDC dc, int bitsPerPixel, LONG left,
                                     LONG top, LONG right, LONG bottom, int, int, int)
{
    return StartShow(slot, dc, bitsPerPixel, RECT{left, top, right, bottom}, NULL);
}

/******************************************************************
 *      disp32ShowInitEx
 */
extern "C" int B32API disp32ShowInitEx(HDISP32SHOW *slot, HDC dc, int bitsPerPixel, LONG left,
                                       LONG top, LONG right, LONG bottom, HPALETTE palette,
                                       int, int, int, int)
{
    return StartShow(slot, dc, bitsPerPixel, RECT{left, top, right, bottom}, palette);
}

/******************************************************************
 *      disp32ShowData
 *
 * Converts the rows in chunks of about 64 KB (kept in cache) and draws each chunk 1:1 at
 * the next free line of the rectangle.
 */
extern "C" int B32API disp32ShowData(HDISP32SHOW show, const BYTE *rows, int, int, int rowCount,
                                     int bytesPerRow)
{
    if (!show || show->magic != ShowMagic || !rows || rowCount <= 0 || bytesPerRow <= 0)
        return 0;
    int room = show->height - show->rowsDone;
    if (room <= 0) return 0;
    int count = rowCount < room ? rowCount : room;
    int pixels = bytesPerRow / show->bytesPerPixel;
    if (pixels > show->width) pixels = show->width;
    if (pixels <= 0) return 0;

    int bits = show->target != Target::Plain ? 16 : show->indexed ? 8 : 24;
    DibHeader dib = {};
    dib.header.biSize = sizeof dib.header;
    dib.header.biWidth = show->width;
    dib.header.biPlanes = 1;
    dib.header.biBitCount = (WORD)bits;
    dib.header.biCompression = BI_RGB;
    if (bits == 8) {
        dib.header.biClrUsed = 256;
        memcpy(dib.colours, show->table, sizeof dib.colours);
    } else if (show->target == Target::Dither565) {
        dib.header.biCompression = BI_BITFIELDS;
        dib.masks[0] = 0xF800, dib.masks[1] = 0x07E0, dib.masks[2] = 0x001F;
    }

    size_t stride = DibStride(show->width, bits);
    int chunk = (int)(ChunkBytes / stride);
    if (chunk < 1) chunk = 1;
    for (int done = 0; done < count;) {
        int n = count - done < chunk ? count - done : chunk;
        int line = show->rowsDone + done;
        ConvertRows(show, rows + (size_t)done * bytesPerRow, n, bytesPerRow, pixels, bits, line);
        dib.header.biHeight = -n; /* top-down */
        dib.header.biSizeImage = (DWORD)(stride * n);
        if (!StretchDIBits(show->dc, show->dest.left, show->dest.top + line, pixels, n, 0, 0,
                           pixels, n, show->buffer.data(),
                           reinterpret_cast<BITMAPINFO *>(&dib), DIB_RGB_COLORS, SRCCOPY)) {
            show->rowsDone = line;
            return 0;
        }
        done += n;
    }
    show->rowsDone += count;
    return 1;
}

/******************************************************************
 *      disp32ShowEnd
 */
extern "C" int B32API disp32ShowEnd(HDISP32SHOW show)
{
    if (!show || show->magic != ShowMagic) return 0;
    if (show->selected) SelectPalette(show->dc, show->previous, FALSE);
    show->magic = 0;
    delete show;
    return 1;
}
