/* Rows converted to the type a reader's caller takes. */
#include "fio_rows.h"
#include <string.h>

namespace fio {

Colours::Colours()
{
    for (uint32_t &c : entry) c = 0xFF000000u;
}

Colours::Colours(HPALETTE palette) : Colours()
{
    PALETTEENTRY entries[256];
    UINT count = palette ? GetPaletteEntries(palette, 0, 256, entries) : 0;
    for (UINT i = 0; i < count && i < 256; i++)
        entry[i] = 0xFF000000u | uint32_t(entries[i].peRed) << 16 | uint32_t(entries[i].peGreen) << 8 |
                   entries[i].peBlue;
}

namespace {

uint8_t Narrow(const uint8_t *sample) { return uint8_t(unsigned(sample[0] | sample[1] << 8) / 257); }
/* Alpha rounds the other way: a pixel barely seen stays seen. */
uint8_t NarrowUp(const uint8_t *sample) { return uint8_t((unsigned(sample[0] | sample[1] << 8) + 256) / 257); }

uint8_t Scale5(unsigned v) { return uint8_t((v * 255 + 15) / 31); }
uint8_t Scale6(unsigned v) { return uint8_t((v * 255 + 31) / 63); }

/* One pixel i of the row as 0xAARRGGBB. */
uint32_t Argb(DWORD type, DWORD bits, const uint8_t *in, uint64_t i, const Colours &colours,
              bool bilevelPalette)
{
    auto grey = [](unsigned v) { return 0xFF000000u | v << 16 | v << 8 | v; };
    auto bgr = [](unsigned b, unsigned g, unsigned r) { return 0xFF000000u | r << 16 | g << 8 | b; };
    switch (type) {
    case Q32_TYPE_BGRA: {
        const uint8_t *p = in + 4 * i;
        return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    case Q32_TYPE_RGB: { const uint8_t *p = in + 3 * i; return bgr(p[0], p[1], p[2]); }
    case Q32_TYPE_PALETTE8: case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16:
        return colours.entry[in[i]];
    case Q32_TYPE_GREY8: return grey(in[i]);
    case Q32_TYPE_GREY4: return grey((in[i] & 15) * 17u);
    case Q32_TYPE_BILEVEL: {
        unsigned bit = in[i / 8] >> (7 - i % 8) & 1;
        return bilevelPalette ? colours.entry[bit] : grey(bit ? 255 : 0);
    }
    case Q32_TYPE_HICOLOUR: {
        unsigned v = in[2 * i] | in[2 * i + 1] << 8;
        if (bits == 16) return bgr(Scale5(v & 31), Scale6(v >> 5 & 63), Scale5(v >> 11 & 31));
        return bgr(Scale5(v & 31), Scale5(v >> 5 & 31), Scale5(v >> 10 & 31));
    }
    case Q32_TYPE_CMYK: {
        const uint8_t *p = in + 4 * i;
        unsigned k = 255u - p[3];
        return bgr(((255u - p[2]) * k + 127) / 255, ((255u - p[1]) * k + 127) / 255,
                   ((255u - p[0]) * k + 127) / 255);
    }
    case Q32_TYPE_RGB48: { const uint8_t *p = in + 6 * i; return bgr(Narrow(p), Narrow(p + 2), Narrow(p + 4)); }
    case Q32_TYPE_BGRA64: {
        const uint8_t *p = in + 8 * i;
        return uint32_t(NarrowUp(p + 6)) << 24 | uint32_t(Narrow(p + 4)) << 16 | uint32_t(Narrow(p + 2)) << 8 |
               Narrow(p);
    }
    case Q32_TYPE_GREY16: return grey(Narrow(in + 2 * i));
    default: return 0xFF000000u;
    }
}

} // namespace

void ConvertPixels(DWORD type, DWORD bits, const uint8_t *in, uint64_t count, DWORD to,
                   uint8_t *out, const Colours &colours, bool bilevelPalette)
{
    if (to == type) {
        memcpy(out, in, Q32_ROW_BYTES(type, bits, count));
        return;
    }
    for (uint64_t i = 0; i < count; i++) {
        switch (to) {
        case Q32_TYPE_PALETTE8: /* from 4-bit indices, one byte a pixel already */
            out[i] = in[i];
            break;
        case Q32_TYPE_GREY8:
            if (type == Q32_TYPE_GREY16) out[i] = Narrow(in + 2 * i);
            else if (type == Q32_TYPE_GREY4) out[i] = uint8_t((in[i] & 15) * 17);
            else {
                uint32_t c = Argb(type, bits, in, i, colours, bilevelPalette);
                out[i] = uint8_t(((c >> 16 & 255) * 299 + (c >> 8 & 255) * 587 + (c & 255) * 114 + 500) / 1000);
            }
            break;
        case Q32_TYPE_RGB: {
            uint32_t c = Argb(type, bits, in, i, colours, bilevelPalette);
            out[3 * i] = uint8_t(c), out[3 * i + 1] = uint8_t(c >> 8), out[3 * i + 2] = uint8_t(c >> 16);
            break;
        }
        case Q32_TYPE_BGRA: {
            uint32_t c = Argb(type, bits, in, i, colours, bilevelPalette);
            memcpy(out + 4 * i, &c, 4);
            break;
        }
        default:
            break;
        }
    }
}

bool TypedDelivery::Plan(ImageRequest *request, RowCallback callback, DWORD type, DWORD bits,
                         const Colours &colours, bool hasPalette)
{
    caller_ = request;
    callback_ = callback;
    type_ = type;
    bits_ = bits;
    to_ = type;
    converting_ = false;
    if (!(request->rasterTypes & Q32_TYPES_ONLY)) return true;
    to_ = Q32ReadType(type, request->rasterTypes);
    if (!to_) return false;
    if (to_ == type) return true;
    converting_ = true;
    palette_ = hasPalette;
    colours_ = colours;
    own_ = *request;
    own_.context = this;
    return true;
}

/******************************************************************
 *      TypedDelivery::Forward
 *
 * The row callback a converting reader calls: each row (and a fill pixel) converted,
 * then handed to the caller's callback with the caller's own request.
 */
LONG WINAPI TypedDelivery::Forward(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
                                   void *rowData, DWORD flags, LONG_PTR reserved1, LONG_PTR reserved2)
{
    TypedDelivery &d = *static_cast<TypedDelivery *>(request->context);
    const DWORD toBits = Q32TypeBits(d.to_);
    if (rows <= 0) {
        if (!(flags & Q32_ROW_FILL) || !rowData)
            return d.callback_(d.caller_, x, y, count, rows, rowData, flags, reserved1, reserved2);
        uint8_t in[8] = {}, out[8] = {};
        memcpy(in, rowData, 4);
        if (d.type_ == Q32_TYPE_BILEVEL) in[0] = (in[0] & 1) ? 0x80 : 0;
        ConvertPixels(d.type_, d.bits_, in, 1, d.to_, out, d.colours_, d.palette_);
        return d.callback_(d.caller_, x, y, count, rows, out, flags, reserved1, reserved2);
    }
    if (!rowData || count <= 0)
        return d.callback_(d.caller_, x, y, count, rows, rowData, flags, reserved1, reserved2);
    const size_t stride = Q32_ROW_BYTES(d.to_, toBits, size_t(count));
    d.buffer_.resize(stride * size_t(rows));
    d.rows_.resize(size_t(rows));
    const uint8_t *const *list = static_cast<const uint8_t *const *>(rowData);
    for (LONG i = 0; i < rows; i++) {
        uint8_t *out = d.buffer_.data() + stride * size_t(i);
        d.rows_[size_t(i)] = list[i] ? out : nullptr;
        if (list[i]) ConvertPixels(d.type_, d.bits_, list[i], uint64_t(count), d.to_, out, d.colours_, d.palette_);
    }
    return d.callback_(d.caller_, x, y, count, rows, d.rows_.data(), flags, reserved1, reserved2);
}

} // namespace fio
