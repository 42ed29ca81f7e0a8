/* BMP codec over byte buffers: no Windows calls. */
#include "bmp_codec.h"
#include <cstring>

namespace bmp {

namespace {

uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t I32(const uint8_t *p) { return int32_t(U32(p)); }

void Put16(std::vector<uint8_t> &out, size_t at, uint32_t v)
{
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t> &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) out[at + i] = uint8_t(v >> (8 * i));
}

bool IsKnownHeaderSize(uint32_t size)
{
    return size == CoreHeaderSize || size == InfoHeaderSize || size == 52 || size == 56 ||
           size == V4HeaderSize || size == V5HeaderSize;
}

/* A mask whose set bits are one unbroken run (or no bits at all). */
bool IsContiguous(uint32_t mask)
{
    uint32_t lowest = mask & (~mask + 1);
    return ((mask + lowest) & mask) == 0;
}

Result CheckMasks(const uint32_t masks[4], unsigned bitCount)
{
    uint32_t limit = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (int i = 0; i < 4; i++) {
        if (masks[i] > limit || !IsContiguous(masks[i])) return Result::BadMasks;
        for (int j = 0; j < i; j++)
            if (masks[i] & masks[j]) return Result::BadMasks;
    }
    if ((masks[0] | masks[1] | masks[2]) == 0) return Result::BadMasks;
    return Result::Ok;
}

/* One channel of a bit-field pixel, scaled to 0..255. */
struct Channel {
    uint32_t mask = 0;
    unsigned shift = 0;
    uint64_t max = 0;

    explicit Channel(uint32_t m) : mask(m)
    {
        if (!m) return;
        while (!((m >> shift) & 1)) shift++;
        max = m >> shift;
    }
    uint8_t operator()(uint32_t pixel) const
    {
        if (!max) return 0;
        uint64_t value = (pixel & mask) >> shift;
        return uint8_t((value * 255 + max / 2) / max);
    }
};

void SetGreyRamp(Layout &layout, unsigned bitCount)
{
    uint32_t n = 1u << bitCount;
    uint32_t step = 255 / (n - 1);
    for (uint32_t i = 0; i < n; i++)
        layout.palette[i] = Colour{uint8_t(i * step), uint8_t(i * step), uint8_t(i * step)};
    layout.paletteEntries = n;
}

Kind KindOf(const Layout &layout)
{
    switch (layout.bitCount) {
    case 1: return Kind::Bilevel;
    case 4: return IsGreyRamp(layout.palette, layout.paletteEntries, 4) ? Kind::Grey4 : Kind::Index4;
    case 8: return IsGreyRamp(layout.palette, layout.paletteEntries, 8) ? Kind::Grey8 : Kind::Index8;
    case 24: return Kind::Rgb24;
    default: return layout.masks[3] ? Kind::Bgra32 : Kind::Rgb24;
    }
}

/* Length of the run of equal values that starts at i, at most limit. */
size_t RunAt(const uint8_t *values, size_t i, size_t width, size_t limit)
{
    size_t n = 1;
    while (i + n < width && n < limit && values[i + n] == values[i]) n++;
    return n;
}

} // namespace

bool IsUnsupported(Result result)
{
    return result == Result::UnknownHeader || result == Result::UnsupportedBitCount ||
           result == Result::UnsupportedCompression || result == Result::TooLarge;
}

unsigned BitsPerPixel(Kind kind)
{
    switch (kind) {
    case Kind::Bilevel: return 1;
    case Kind::Index4: case Kind::Grey4: return 4;
    case Kind::Index8: case Kind::Grey8: return 8;
    case Kind::Rgb24: return 24;
    default: return 32;
    }
}

uint64_t RowBytes(Kind kind, uint64_t width)
{
    switch (kind) {
    case Kind::Bilevel: return (width + 7) / 8;
    case Kind::Rgb24: return width * 3;
    case Kind::Bgra32: return width * 4;
    default: return width;
    }
}

bool IsGreyRamp(const Colour *palette, uint32_t entries, unsigned bitCount)
{
    if (bitCount != 4 && bitCount != 8) return false;
    uint32_t n = 1u << bitCount;
    if (entries != n) return false;
    uint32_t step = 255 / (n - 1);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t level = uint8_t(i * step);
        if (palette[i].red != level || palette[i].green != level || palette[i].blue != level)
            return false;
    }
    return true;
}

/******************************************************************
 *      ParseHeaders
 *
 * In the order of the file: the file and bitmap headers, the bit-field masks, the
 * palette, then where the pixels are.
 */
namespace {

/* What the bitmap header says beyond the layout. */
struct HeaderFacts {
    bool os2 = false;            /* the OS/2 core header */
    uint64_t dataOffset = 0;     /* of the pixels, as the file header gives it */
    uint32_t sizeImage = 0, coloursUsed = 0;
};

/* The file header and the bitmap header: size, orientation, depth and compression. */
Result ParseBitmapHeader(const uint8_t *head, size_t headSize, Layout &layout, HeaderFacts &facts)
{
    if (headSize < 2 || head[0] != 'B' || head[1] != 'M') return Result::NotBitmap;
    if (headSize < FileHeaderSize + 4) return Result::ShortHeader;

    facts.dataOffset = U32(head + 10);
    uint32_t headerSize = U32(head + 14);
    if (headerSize < CoreHeaderSize) return Result::BadHeaderSize;
    if (!IsKnownHeaderSize(headerSize)) return Result::UnknownHeader;
    if (FileHeaderSize + headerSize > headSize) return Result::ShortHeader;
    layout.headerSize = headerSize;

    const uint8_t *h = head + FileHeaderSize;
    facts.os2 = headerSize == CoreHeaderSize;
    int64_t width, height;
    uint16_t planes;
    if (facts.os2) {
        width = U16(h + 4);
        height = U16(h + 6);
        planes = U16(h + 8);
        layout.bitCount = U16(h + 10);
    } else {
        width = I32(h + 4);
        height = I32(h + 8);
        planes = U16(h + 12);
        layout.bitCount = U16(h + 14);
        layout.compression = U32(h + 16);
        facts.sizeImage = U32(h + 20);
        layout.xPelsPerMeter = I32(h + 24);
        layout.yPelsPerMeter = I32(h + 28);
        facts.coloursUsed = U32(h + 32);
    }
    if (width <= 0 || height == 0) return Result::BadDimensions;
    if (height < 0) {
        layout.topDown = true;
        height = -height;
    }
    if (planes != 1) return Result::BadPlanes;

    switch (layout.compression) {
    case BiRgb: case BiRle8: case BiRle4: case BiBitfields: case BiAlphaBitfields: break;
    default: return Result::UnsupportedCompression;
    }
    switch (layout.bitCount) {
    case 1: case 4: case 8: case 24: break;
    case 16: case 32:
        if (facts.os2) return Result::BadBitCount;
        break;
    case 2: case 64: return Result::UnsupportedBitCount;
    default: return Result::BadBitCount;
    }
    if (width > MaxDimension || height > MaxDimension) return Result::TooLarge;
    layout.width = int32_t(width);
    layout.height = int32_t(height);
    return Result::Ok;
}

/* The channel masks: given after or in the header for bit fields, else the defaults of
   16 and 32 bits. headerEnd moves past masks that follow the header. */
Result ReadMasks(const uint8_t *head, size_t headSize, Layout &layout, uint64_t &headerEnd)
{
    const uint8_t *h = head + FileHeaderSize;
    bool bitfields = layout.compression == BiBitfields || layout.compression == BiAlphaBitfields;
    if ((layout.compression == BiRle8 && layout.bitCount != 8) ||
        (layout.compression == BiRle4 && layout.bitCount != 4) ||
        (bitfields && layout.bitCount != 16 && layout.bitCount != 32))
        return Result::BadCompression;

    if (bitfields) {
        if (layout.headerSize == InfoHeaderSize) {
            /* The masks follow the header: three, or four with alpha. */
            unsigned count = layout.compression == BiAlphaBitfields ? 4 : 3;
            if (headerEnd + 4 * count > headSize) return Result::ShortHeader;
            for (unsigned i = 0; i < count; i++) layout.masks[i] = U32(head + headerEnd + 4 * i);
            headerEnd += 4 * count;
        } else {
            for (unsigned i = 0; i < 3; i++) layout.masks[i] = U32(h + 40 + 4 * i);
            if (layout.headerSize >= 56) layout.masks[3] = U32(h + 52);
        }
        Result masks = CheckMasks(layout.masks, layout.bitCount);
        if (masks != Result::Ok) return masks;
    } else if (layout.bitCount == 16) {
        layout.masks[0] = 0x7C00, layout.masks[1] = 0x03E0, layout.masks[2] = 0x001F;
    } else if (layout.bitCount == 32) {
        layout.masks[0] = 0xFF0000, layout.masks[1] = 0xFF00, layout.masks[2] = 0xFF;
    }
    return Result::Ok;
}

/* The palette of a depth of 8 bits or less, from headerEnd; paletteEnd: where it ends. */
Result ReadPalette(const uint8_t *head, size_t headSize, const HeaderFacts &facts, uint64_t headerEnd,
                   Layout &layout, uint64_t &paletteEnd)
{
    paletteEnd = headerEnd;
    if (layout.bitCount > 8) return Result::Ok;
    unsigned entrySize = facts.os2 ? 3 : 4;
    uint64_t full = uint64_t(1) << layout.bitCount;
    uint64_t declared = facts.os2 || facts.coloursUsed == 0 ? full : facts.coloursUsed;
    if (declared > full) return Result::BadPalette;
    if (facts.dataOffset < headerEnd) return Result::BadDataOffset;
    /* Some writers leave room for fewer entries than they declare; take those. */
    uint64_t room = (facts.dataOffset - headerEnd) / entrySize;
    uint64_t entries = declared < room ? declared : room;
    if (entries == 0) return Result::BadPalette;
    paletteEnd = headerEnd + entries * entrySize;
    if (paletteEnd > headSize) return Result::ShortHeader;
    for (uint64_t i = 0; i < entries; i++) {
        const uint8_t *p = head + headerEnd + i * entrySize;
        layout.palette[i] = Colour{p[2], p[1], p[0]};
    }
    layout.paletteEntries = uint32_t(entries);
    return Result::Ok;
}

/* Where the pixels are and how many bytes they take, within a file of fileSize bytes. */
Result PlacePixels(const HeaderFacts &facts, uint64_t paletteEnd, uint64_t fileSize, Layout &layout)
{
    if (facts.dataOffset < paletteEnd) return Result::BadDataOffset;
    if (facts.dataOffset > fileSize) return Result::ShortData;
    layout.dataOffset = facts.dataOffset;
    layout.stride = (uint64_t(layout.width) * layout.bitCount + 31) / 32 * 4;

    uint64_t available = fileSize - facts.dataOffset;
    if (layout.compression == BiRle8 || layout.compression == BiRle4) {
        uint64_t pixels = uint64_t(layout.width) * uint64_t(layout.height);
        if (pixels > MaxRlePixels) return Result::TooLarge;
        if (facts.sizeImage > available) return Result::ShortData;
        layout.dataSize = facts.sizeImage ? facts.sizeImage : available;
        if (layout.dataSize == 0) return Result::ShortData;
        /* No sound stream is longer than two bytes a pixel and a mark a row. */
        uint64_t bound = pixels * 2 + uint64_t(layout.height) * 4 + 4096;
        if (layout.dataSize > bound) layout.dataSize = bound;
    } else {
        layout.dataSize = layout.stride * uint64_t(layout.height);
        if (layout.dataSize > available) return Result::ShortData;
    }
    return Result::Ok;
}

} // namespace

Result ParseHeaders(const uint8_t *head, size_t headSize, uint64_t fileSize, Layout &layout)
{
    layout = Layout{};
    if (headSize > fileSize) headSize = size_t(fileSize);
    HeaderFacts facts;
    Result result = ParseBitmapHeader(head, headSize, layout, facts);
    uint64_t headerEnd = FileHeaderSize + layout.headerSize, paletteEnd = 0;
    if (result == Result::Ok) result = ReadMasks(head, headSize, layout, headerEnd);
    if (result == Result::Ok) result = ReadPalette(head, headSize, facts, headerEnd, layout, paletteEnd);
    if (result == Result::Ok) result = PlacePixels(facts, paletteEnd, fileSize, layout);
    if (result == Result::Ok) layout.kind = KindOf(layout);
    return result;
}

/******************************************************************
 *      DecodeRow
 */
Result DecodeRow(const Layout &layout, const uint8_t *stored, uint8_t *out)
{
    const size_t width = size_t(layout.width);
    switch (layout.kind) {
    case Kind::Bilevel: {
        size_t bytes = (width + 7) / 8;
        memcpy(out, stored, bytes);
        if (width & 7) out[bytes - 1] &= uint8_t(0xFF << (8 - (width & 7)));
        if (layout.paletteEntries < 2)
            for (size_t i = 0; i < bytes; i++)
                if (out[i]) return Result::BadIndex;
        return Result::Ok;
    }
    case Kind::Index4: case Kind::Grey4:
        for (size_t i = 0; i < width; i++) {
            uint8_t b = stored[i / 2];
            uint8_t v = (i & 1) ? (b & 15) : (b >> 4);
            if (v >= layout.paletteEntries) return Result::BadIndex;
            out[i] = v;
        }
        return Result::Ok;
    case Kind::Index8: case Kind::Grey8:
        for (size_t i = 0; i < width; i++)
            if (stored[i] >= layout.paletteEntries) return Result::BadIndex;
        memcpy(out, stored, width);
        return Result::Ok;
    default:
        break;
    }

    if (layout.bitCount == 24) {
        memcpy(out, stored, width * 3);
        return Result::Ok;
    }
    bool alpha = layout.kind == Kind::Bgra32;
    unsigned step = alpha ? 4 : 3;
    if (layout.bitCount == 32 && layout.masks[0] == 0xFF0000 && layout.masks[1] == 0xFF00 &&
        layout.masks[2] == 0xFF && (!alpha || layout.masks[3] == 0xFF000000u)) {
        for (size_t i = 0; i < width; i++) memcpy(out + i * step, stored + i * 4, step);
        return Result::Ok;
    }
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]),
        opacity(layout.masks[3]);
    for (size_t i = 0; i < width; i++) {
        uint32_t pixel = layout.bitCount == 16 ? U16(stored + i * 2) : U32(stored + i * 4);
        uint8_t *o = out + i * step;
        o[0] = blue(pixel);
        o[1] = green(pixel);
        o[2] = red(pixel);
        if (alpha) o[3] = opacity(pixel);
    }
    return Result::Ok;
}

/******************************************************************
 *      DecodeRle
 *
 * Runs: (n, value) paints n pixels; (0, 0) ends a row, (0, 1) the bitmap, (0, 2, dx, dy)
 * moves, (0, n >= 3) is followed by n literal pixels padded to a 16-bit boundary. RLE4
 * values hold two pixels, high nibble first. Pixels that fall outside the image are
 * dropped, as the platform's own decoder does: some writers pad every row's runs to a
 * multiple of four pixels. Only a stream that ends inside a run or move is refused.
 */
Result DecodeRle(const Layout &layout, const uint8_t *data, size_t size, uint8_t *indices)
{
    const bool rle4 = layout.compression == BiRle4;
    const uint64_t width = uint64_t(layout.width), height = uint64_t(layout.height);
    const uint32_t entries = layout.paletteEntries;
    uint64_t x = 0, y = 0;
    size_t p = 0;

    /* Paints count pixels from x on, as many as the row holds. */
    auto paint = [&](uint64_t count, auto value) -> Result {
        if (y >= height || x >= width) return Result::Ok;
        uint64_t inside = count < width - x ? count : width - x;
        uint8_t *row = indices + y * width + x;
        for (uint64_t i = 0; i < inside; i++) {
            uint8_t v = value(i);
            if (v >= entries) return Result::BadIndex;
            row[i] = v;
        }
        return Result::Ok;
    };

    for (;;) {
        if (size - p < 2) {
            /* No end mark: complete only when every row has been reached. */
            bool complete = y >= height || (y == height - 1 && x >= width);
            return complete ? Result::Ok : Result::ShortRun;
        }
        uint8_t first = data[p], second = data[p + 1];
        p += 2;
        if (first > 0) {
            Result r = paint(first, [&](uint64_t i) -> uint8_t {
                return rle4 ? ((i & 1) ? (second & 15) : (second >> 4)) : second;
            });
            if (r != Result::Ok) return r;
            x += first;
        } else if (second == 0) {
            if (y < height) y++;
            x = 0;
        } else if (second == 1) {
            return Result::Ok;
        } else if (second == 2) {
            if (size - p < 2) return Result::ShortRun;
            x += data[p];
            y += data[p + 1];
            p += 2;
            if (y > height) y = height;
        } else {
            uint64_t count = second;
            uint64_t bytes = rle4 ? (count + 1) / 2 : count;
            if (size - p < bytes) return Result::ShortRun;
            const uint8_t *source = data + p;
            Result r = paint(count, [&](uint64_t i) -> uint8_t {
                return rle4 ? ((i & 1) ? (source[i / 2] & 15) : (source[i / 2] >> 4)) : source[i];
            });
            if (r != Result::Ok) return r;
            x += count;
            p += size_t(bytes);
            if ((bytes & 1) && p < size) p++;
        }
        /* Past the row's end nothing more is painted until the next row. */
        if (x > width) x = width;
    }
}

/******************************************************************
 *      PlanWrite
 */
Result PlanWrite(Layout &layout)
{
    if (layout.width <= 0 || layout.height <= 0) return Result::BadDimensions;
    if (layout.width > MaxDimension || layout.height > MaxDimension) return Result::TooLarge;
    const uint32_t wanted = layout.compression;
    layout.compression = BiRgb;
    layout.headerSize = InfoHeaderSize;
    layout.topDown = false;
    for (uint32_t &mask : layout.masks) mask = 0;

    switch (layout.kind) {
    case Kind::Bilevel:
        layout.bitCount = 1;
        if (layout.paletteEntries < 1) layout.palette[0] = Colour{0, 0, 0};
        if (layout.paletteEntries < 2) layout.palette[1] = Colour{255, 255, 255};
        layout.paletteEntries = 2;
        break;
    case Kind::Index4:
        layout.bitCount = 4;
        if (layout.paletteEntries > 16) layout.paletteEntries = 16;
        if (layout.paletteEntries == 0) SetGreyRamp(layout, 4);
        break;
    case Kind::Grey4:
        layout.bitCount = 4;
        SetGreyRamp(layout, 4);
        break;
    case Kind::Index8:
        layout.bitCount = 8;
        if (layout.paletteEntries > 256) layout.paletteEntries = 256;
        if (layout.paletteEntries == 0) SetGreyRamp(layout, 8);
        break;
    case Kind::Grey8:
        layout.bitCount = 8;
        SetGreyRamp(layout, 8);
        break;
    case Kind::Rgb24:
        layout.bitCount = 24;
        layout.paletteEntries = 0;
        break;
    case Kind::Bgra32:
        layout.bitCount = 32;
        layout.paletteEntries = 0;
        layout.headerSize = V4HeaderSize;
        layout.compression = BiBitfields;
        layout.masks[0] = 0x00FF0000, layout.masks[1] = 0x0000FF00;
        layout.masks[2] = 0x000000FF, layout.masks[3] = 0xFF000000u;
        break;
    }
    if ((wanted == BiRle8 && layout.bitCount == 8) || (wanted == BiRle4 && layout.bitCount == 4))
        layout.compression = wanted;

    layout.dataOffset = FileHeaderSize + layout.headerSize + uint64_t(layout.paletteEntries) * 4;
    layout.stride = (uint64_t(layout.width) * layout.bitCount + 31) / 32 * 4;
    layout.dataSize = 0;
    if (layout.compression != BiRle8 && layout.compression != BiRle4) {
        layout.dataSize = layout.stride * uint64_t(layout.height);
        if (layout.dataOffset + layout.dataSize > 0xFFFFFFFFu) return Result::TooLarge;
    }
    return Result::Ok;
}

/******************************************************************
 *      BuildHeaders
 */
std::vector<uint8_t> BuildHeaders(const Layout &layout)
{
    std::vector<uint8_t> out(size_t(layout.dataOffset), 0);
    uint64_t fileSize = layout.dataOffset + layout.dataSize;
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, fileSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(fileSize));
    Put32(out, 10, uint32_t(layout.dataOffset));

    const size_t h = FileHeaderSize;
    Put32(out, h, layout.headerSize);
    Put32(out, h + 4, uint32_t(layout.width));
    Put32(out, h + 8, uint32_t(layout.topDown ? -layout.height : layout.height));
    Put16(out, h + 12, 1);
    Put16(out, h + 14, layout.bitCount);
    Put32(out, h + 16, layout.compression);
    Put32(out, h + 20, uint32_t(layout.dataSize));
    Put32(out, h + 24, uint32_t(layout.xPelsPerMeter));
    Put32(out, h + 28, uint32_t(layout.yPelsPerMeter));
    bool fullPalette = layout.bitCount <= 8 && layout.paletteEntries == (1u << layout.bitCount);
    Put32(out, h + 32, fullPalette ? 0 : layout.paletteEntries);
    if (layout.headerSize >= V4HeaderSize) {
        for (int i = 0; i < 4; i++) Put32(out, h + 40 + 4 * i, layout.masks[i]);
        Put32(out, h + 56, 0x73524742); /* colour space "sRGB" */
    }
    size_t p = h + layout.headerSize;
    for (uint32_t i = 0; i < layout.paletteEntries; i++, p += 4) {
        out[p] = layout.palette[i].blue;
        out[p + 1] = layout.palette[i].green;
        out[p + 2] = layout.palette[i].red;
    }
    return out;
}

/******************************************************************
 *      CheckRow
 */
Result CheckRow(const Layout &layout, const uint8_t *row)
{
    uint32_t limit;
    switch (layout.kind) {
    case Kind::Index4: case Kind::Index8: limit = layout.paletteEntries; break;
    case Kind::Grey4: limit = 16; break;
    default: return Result::Ok;
    }
    for (int32_t i = 0; i < layout.width; i++)
        if (row[i] >= limit) return Result::BadPixel;
    return Result::Ok;
}

/******************************************************************
 *      EncodeRow
 */
void EncodeRow(const Layout &layout, const uint8_t *row, uint8_t *stored)
{
    const size_t width = size_t(layout.width);
    memset(stored, 0, size_t(layout.stride));
    switch (layout.kind) {
    case Kind::Bilevel: {
        size_t bytes = (width + 7) / 8;
        memcpy(stored, row, bytes);
        if (width & 7) stored[bytes - 1] &= uint8_t(0xFF << (8 - (width & 7)));
        break;
    }
    case Kind::Index4: case Kind::Grey4:
        for (size_t i = 0; i < width; i++)
            stored[i / 2] |= uint8_t((i & 1) ? (row[i] & 15) : (row[i] << 4));
        break;
    default:
        memcpy(stored, row, size_t(RowBytes(layout.kind, width)));
        break;
    }
}

/******************************************************************
 *      EncodeRleRow
 *
 * Runs of two or more equal pixels are encoded; stretches without a run of three are
 * written as literals (when three or more) or as runs of one.
 */
void EncodeRleRow(const Layout &layout, const uint8_t *indices, std::vector<uint8_t> &out)
{
    const bool rle4 = layout.compression == BiRle4;
    const size_t width = size_t(layout.width);
    size_t i = 0;
    while (i < width) {
        size_t run = RunAt(indices, i, width, 255);
        if (run >= 2) {
            out.push_back(uint8_t(run));
            out.push_back(rle4 ? uint8_t(indices[i] << 4 | indices[i]) : indices[i]);
            i += run;
            continue;
        }
        size_t end = i + 1;
        while (end < width && end - i < 255 && RunAt(indices, end, width, 3) < 3) end++;
        size_t count = end - i;
        if (count < 3) {
            for (; i < end; i++) {
                out.push_back(1);
                out.push_back(rle4 ? uint8_t(indices[i] << 4) : indices[i]);
            }
            continue;
        }
        out.push_back(0);
        out.push_back(uint8_t(count));
        size_t bytes = 0;
        if (rle4) {
            for (size_t k = 0; k < count; k += 2, bytes++)
                out.push_back(uint8_t(indices[i + k] << 4 | (k + 1 < count ? indices[i + k + 1] : 0)));
        } else {
            out.insert(out.end(), indices + i, indices + end);
            bytes = count;
        }
        if (bytes & 1) out.push_back(0);
        i = end;
    }
    out.push_back(0);
    out.push_back(0);
}

void EncodeRleEnd(std::vector<uint8_t> &out)
{
    out.push_back(0);
    out.push_back(1);
}

} // namespace bmp
