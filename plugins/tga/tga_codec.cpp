/* TGA codec over byte buffers: no Windows calls. */
#include "tga_codec.h"
#include <cstring>

namespace tga {

namespace {

const char Signature[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O', 'N', '-',
                            'X', 'F', 'I', 'L', 'E', '.', '\0'};

uint16_t U16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

/* Five bits scaled to eight, rounded. */
uint8_t Scale5(unsigned v) { return uint8_t((v * 255 + 15) / 31); }

/* A stored pixel of 2, 3 or 4 bytes (a colour map entry alike) as a colour. */
Colour ColourOf(const uint8_t *p, unsigned bytes)
{
    switch (bytes) {
    case 2: {
        unsigned v = U16(p);
        return Colour{Scale5(v & 31), Scale5((v >> 5) & 31), Scale5((v >> 10) & 31),
                      uint8_t(v & 0x8000 ? 255 : 0)};
    }
    case 3: return Colour{p[0], p[1], p[2], 255};
    default: return Colour{p[0], p[1], p[2], p[3]};
    }
}

/* Premultiplied colour made straight again. */
void Straighten(uint8_t *bgra)
{
    unsigned a = bgra[3];
    for (int i = 0; i < 3; i++) {
        unsigned c = a ? (bgra[i] * 255u + a / 2) / a : 0;
        bgra[i] = uint8_t(c > 255 ? 255 : c);
    }
}

bool IsMapped(uint8_t type) { return (type & 7) == TypeMapped; }
bool IsGrey(uint8_t type) { return (type & 7) == TypeGrey; }

} // namespace

bool IsUnsupported(Result result)
{
    return result == Result::UnsupportedType || result == Result::UnsupportedDepth ||
           result == Result::TooLarge;
}

unsigned BitsPerPixel(Kind kind)
{
    switch (kind) {
    case Kind::Index8: case Kind::Grey8: return 8;
    case Kind::Rgb24: return 24;
    default: return 32;
    }
}

uint64_t RowBytes(Kind kind, uint64_t width)
{
    return width * (BitsPerPixel(kind) / 8);
}

bool IsPlausibleHeader(const uint8_t *h)
{
    const unsigned mapType = h[1], type = h[2];
    const unsigned mapLength = U16(h + 5), mapDepth = h[7];
    const unsigned width = U16(h + 12), height = U16(h + 14), depth = h[16], descriptor = h[17];
    if (mapType > 1 || width == 0 || height == 0) return false;
    if ((descriptor & 0xC0) || (descriptor & 0x0F) > 8) return false;
    const unsigned base = type & 7;
    if (type != base && type != base + 8) return false;
    switch (base) {
    case TypeMapped:
        if (mapType != 1 || mapLength == 0 || (depth != 8 && depth != 16)) return false;
        break;
    case TypeTrue:
        if (depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
        break;
    case TypeGrey:
        if (depth != 8 && depth != 16) return false;
        break;
    default:
        return false;
    }
    if (mapType == 1 && mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
        return false;
    if (mapType == 0 && mapLength != 0) return false;
    return true;
}

/******************************************************************
 *      ReadLayout
 */
Result ReadLayout(Source &source, Layout &layout)
{
    layout = Layout{};
    const uint64_t fileSize = source.Size();
    uint8_t h[HeaderSize];
    if (fileSize < HeaderSize || !source.Read(0, h, HeaderSize)) return Result::NotTga;

    /* A TGA 2.0 footer: the extension area's offset, then the signature. */
    uint8_t foot[FooterSize];
    layout.footer = fileSize >= HeaderSize + FooterSize && source.Read(fileSize - FooterSize, foot, FooterSize) &&
                    !memcmp(foot + 8, Signature, sizeof Signature);
    if (!IsPlausibleHeader(h)) return layout.footer ? Result::UnsupportedType : Result::NotTga;

    const unsigned idLength = h[0], mapType = h[1];
    const unsigned mapFirst = U16(h + 3), mapLength = U16(h + 5), mapDepth = h[7];
    layout.type = h[2];
    layout.width = U16(h + 12);
    layout.height = U16(h + 14);
    layout.depth = h[16];
    layout.descriptor = h[17];
    layout.rle = layout.type & 8;
    layout.topDown = layout.descriptor & 0x20;
    layout.rightToLeft = layout.descriptor & 0x10;
    layout.pixelBytes = (layout.depth + 7) / 8u;
    const bool mapped = IsMapped(layout.type);
    if (mapped && layout.depth != 8) return Result::UnsupportedDepth;

    const unsigned entryBytes = (mapDepth + 7) / 8u;
    const uint64_t mapOffset = HeaderSize + uint64_t(idLength);
    const uint64_t mapBytes = mapType ? uint64_t(mapLength) * entryBytes : 0;
    layout.dataOffset = mapOffset + mapBytes;
    if (layout.dataOffset > fileSize) return Result::ShortHeader;

    /* The extension area's attributes type says what the alpha bits hold; without one
       the descriptor's count of alpha bits does. */
    bool attributesKnown = false;
    uint8_t attributes = 0;
    if (layout.footer) {
        uint64_t at = U32(foot);
        uint8_t size[2];
        if (at >= HeaderSize && at + ExtensionSize <= fileSize - FooterSize && source.Read(at, size, 2) &&
            U16(size) >= ExtensionSize && source.Read(at + ExtensionAttributes, &attributes, 1))
            attributesKnown = true;
    }
    const bool alphaBits = (layout.descriptor & 0x0F) != 0;
    const bool canHoldAlpha = mapped ? mapDepth == 32 : layout.depth == 32 || layout.depth == 16;
    if (canHoldAlpha) {
        if (attributesKnown)
            layout.alpha = attributes == 3 ? Alpha::Straight : attributes == 4 ? Alpha::Premultiplied : Alpha::None;
        else if (alphaBits && !(layout.depth == 16 && !IsGrey(layout.type)))
            /* The one bit of 16-bit colour is left unset by too many writers to be trusted. */
            layout.alpha = Alpha::Straight;
    }
    if (layout.alpha != Alpha::None) layout.kind = Kind::Bgra32;
    else layout.kind = mapped ? Kind::Index8 : IsGrey(layout.type) ? Kind::Grey8 : Kind::Rgb24;

    const uint64_t pixels = uint64_t(layout.width) * uint64_t(layout.height);
    if (RowBytes(layout.kind, uint64_t(layout.width)) * uint64_t(layout.height) > MaxImageBytes ||
        pixels * layout.pixelBytes > MaxImageBytes)
        return Result::TooLarge;

    if (mapped) {
        /* Pixel value v is map entry v - first; entries below the first stay black. */
        uint64_t reach = mapFirst + uint64_t(mapLength);
        layout.paletteEntries = uint32_t(reach < 256 ? reach : 256);
        for (uint32_t v = 0; v < layout.paletteEntries; v++) layout.palette[v] = Colour{0, 0, 0, 255};
        if (mapFirst < 256) {
            uint32_t count = layout.paletteEntries - mapFirst;
            std::vector<uint8_t> map(size_t(count) * entryBytes);
            if (!source.Read(mapOffset, map.data(), map.size())) return Result::ShortHeader;
            for (uint32_t k = 0; k < count; k++) {
                Colour c = ColourOf(&map[size_t(k) * entryBytes], entryBytes);
                if (entryBytes < 4) c.alpha = 255;
                layout.palette[mapFirst + k] = c;
            }
        }
    }

    const uint64_t available = fileSize - layout.dataOffset;
    if (layout.rle) {
        if (available == 0) return Result::ShortData;
        /* No sound stream is longer than a packet header a pixel and the pixel. */
        uint64_t bound = pixels * (layout.pixelBytes + 1);
        layout.dataSize = available < bound ? available : bound;
    } else {
        layout.dataSize = pixels * layout.pixelBytes;
        if (layout.dataSize > available) return Result::ShortData;
    }
    return Result::Ok;
}

/******************************************************************
 *      DecodeRlePackets
 *
 * A packet's first byte holds the count less one in its low seven bits; with the top bit
 * set one pixel follows, to be repeated, else count pixels follow as they stand.
 */
size_t DecodeRlePackets(const Layout &layout, const uint8_t *data, size_t size, uint8_t *stored, uint64_t &done)
{
    const size_t pb = layout.pixelBytes;
    const uint64_t total = uint64_t(layout.width) * uint64_t(layout.height);
    size_t p = 0;
    while (done < total && p < size) {
        const uint8_t head = data[p];
        const uint64_t full = (head & 0x7F) + 1u;
        const uint64_t count = full < total - done ? full : total - done;
        uint8_t *out = stored + done * pb;
        if (head & 0x80) {
            if (size - p - 1 < pb) break;
            const uint8_t *pixel = data + p + 1;
            if (pb == 1) {
                memset(out, pixel[0], size_t(count));
            } else {
                for (uint64_t i = 0; i < count; i++, out += pb) memcpy(out, pixel, pb);
            }
            p += 1 + pb;
        } else {
            /* The pixels past the image of a last packet are not needed. */
            const uint64_t bytes = count * pb;
            if (size - p - 1 < bytes) break;
            memcpy(out, data + p + 1, size_t(bytes));
            p += 1 + size_t(bytes);
        }
        done += count;
    }
    return p;
}

/******************************************************************
 *      DecodeRle
 */
Result DecodeRle(const Layout &layout, const uint8_t *data, size_t size, uint8_t *stored)
{
    uint64_t done = 0;
    DecodeRlePackets(layout, data, size, stored, done);
    return done == uint64_t(layout.width) * uint64_t(layout.height) ? Result::Ok : Result::ShortData;
}

/******************************************************************
 *      DecodeRow
 */
Result DecodeRow(const Layout &layout, const uint8_t *stored, uint8_t *out)
{
    const size_t width = size_t(layout.width);
    const size_t pb = layout.pixelBytes;
    const bool mapped = IsMapped(layout.type);
    auto at = [&](size_t x) { return stored + (layout.rightToLeft ? width - 1 - x : x) * pb; };

    switch (layout.kind) {
    case Kind::Index8:
        for (size_t x = 0; x < width; x++) {
            uint8_t v = *at(x);
            if (v >= layout.paletteEntries) return Result::BadIndex;
            out[x] = v;
        }
        return Result::Ok;
    case Kind::Grey8:
        for (size_t x = 0; x < width; x++) out[x] = *at(x);
        return Result::Ok;
    case Kind::Rgb24:
        if (pb == 3 && !layout.rightToLeft) {
            memcpy(out, stored, width * 3);
            return Result::Ok;
        }
        for (size_t x = 0; x < width; x++, out += 3) {
            Colour c = ColourOf(at(x), unsigned(pb));
            out[0] = c.blue, out[1] = c.green, out[2] = c.red;
        }
        return Result::Ok;
    case Kind::Bgra32:
        break;
    }

    const bool premultiplied = layout.alpha == Alpha::Premultiplied;
    if (pb == 4 && !layout.rightToLeft && !premultiplied) {
        memcpy(out, stored, width * 4);
        return Result::Ok;
    }
    for (size_t x = 0; x < width; x++, out += 4) {
        const uint8_t *s = at(x);
        Colour c;
        if (mapped) {
            if (*s >= layout.paletteEntries) return Result::BadIndex;
            c = layout.palette[*s];
        } else if (IsGrey(layout.type)) {
            c = Colour{s[0], s[0], s[0], s[1]};
        } else {
            c = ColourOf(s, unsigned(pb));
        }
        out[0] = c.blue, out[1] = c.green, out[2] = c.red, out[3] = c.alpha;
        if (premultiplied) Straighten(out);
    }
    return Result::Ok;
}

bool RowsAsStored(const Layout &layout)
{
    if (layout.rightToLeft) return false;
    switch (layout.kind) {
    case Kind::Grey8: return layout.pixelBytes == 1;
    case Kind::Rgb24: return layout.pixelBytes == 3;
    case Kind::Bgra32:
        return layout.pixelBytes == 4 && !IsMapped(layout.type) && layout.alpha == Alpha::Straight;
    default: return false; /* indices are checked against the map */
    }
}

/******************************************************************
 *      BuildHeader
 */
std::vector<uint8_t> BuildHeader(const Layout &layout)
{
    std::vector<uint8_t> h(HeaderSize, 0);
    const bool alpha = layout.kind == Kind::Bgra32;
    h[2] = layout.rle ? TypeTrueRle : TypeTrue;
    Put16(&h[12], uint32_t(layout.width));
    Put16(&h[14], uint32_t(layout.height));
    h[16] = alpha ? 32 : 24;
    h[17] = uint8_t(0x20 | (alpha ? 8 : 0)); /* top row first */
    return h;
}

/******************************************************************
 *      EncodeRow
 *
 * Runs of two or more equal pixels become run packets; the stretches between them raw
 * packets. At most 128 pixels a packet.
 */
void EncodeRow(const Layout &layout, const uint8_t *row, std::vector<uint8_t> &out)
{
    const size_t pb = layout.kind == Kind::Bgra32 ? 4 : 3;
    const size_t width = size_t(layout.width);
    if (!layout.rle) {
        out.insert(out.end(), row, row + width * pb);
        return;
    }
    auto same = [&](size_t a, size_t b) { return !memcmp(row + a * pb, row + b * pb, pb); };
    size_t i = 0;
    while (i < width) {
        size_t run = 1;
        while (i + run < width && run < 128 && same(i, i + run)) run++;
        if (run >= 2) {
            out.push_back(uint8_t(0x80 | (run - 1)));
            out.insert(out.end(), row + i * pb, row + (i + 1) * pb);
            i += run;
            continue;
        }
        size_t end = i + 1;
        while (end < width && end - i < 128 && !(end + 1 < width && same(end, end + 1))) end++;
        out.push_back(uint8_t(end - i - 1));
        out.insert(out.end(), row + i * pb, row + end * pb);
        i = end;
    }
}

/******************************************************************
 *      BuildTrailer
 */
std::vector<uint8_t> BuildTrailer(const Layout &layout, uint64_t dataEnd)
{
    std::vector<uint8_t> out;
    uint32_t extension = 0;
    if (layout.kind == Kind::Bgra32) {
        extension = uint32_t(dataEnd);
        out.assign(ExtensionSize, 0);
        Put16(&out[0], ExtensionSize);
        out[ExtensionAttributes] = 3; /* alpha, not premultiplied */
    }
    size_t at = out.size();
    out.resize(at + FooterSize, 0);
    Put32(&out[at], extension);
    memcpy(&out[at + 8], Signature, sizeof Signature);
    return out;
}

} // namespace tga
