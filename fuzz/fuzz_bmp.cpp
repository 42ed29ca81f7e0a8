/*
 * Native fuzz target of the bitmap codec (no Windows needed); scripts/fuzz builds it with
 * -fsanitize=fuzzer,address,undefined, makes its seeds and runs it (target bmp).
 * Each input is a whole file: its headers are parsed, its pixels decoded, and what
 * decodes is written again and read back, which must give the same rows.
 */
#include "bmp_codec.h"
#include <cstdlib>
#include <cstring>

using namespace bmp;

namespace {

/* Decodes every row of a parsed file, top row first, into rows. */
bool DecodeAll(const Layout &layout, const uint8_t *data, size_t size,
               std::vector<std::vector<uint8_t>> &rows)
{
    const uint64_t width = uint64_t(layout.width), height = uint64_t(layout.height);
    rows.assign(height, std::vector<uint8_t>(RowBytes(layout.kind, width)));
    if (layout.compression == BiRle8 || layout.compression == BiRle4) {
        std::vector<uint8_t> indices(width * height);
        if (DecodeRle(layout, data + layout.dataOffset, layout.dataSize, indices.data()) != Result::Ok)
            return false;
        for (uint64_t y = 0; y < height; y++) {
            uint64_t stored = layout.topDown ? y : height - 1 - y;
            memcpy(rows[y].data(), &indices[stored * width], width);
        }
        return true;
    }
    (void)size;
    for (uint64_t y = 0; y < height; y++) {
        uint64_t stored = layout.topDown ? y : height - 1 - y;
        if (DecodeRow(layout, data + layout.dataOffset + stored * layout.stride, rows[y].data()) != Result::Ok)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Layout layout;
    size_t head = size < HeadBytes ? size : HeadBytes;
    if (ParseHeaders(data, head, size, layout) != Result::Ok) return 0;
    if (uint64_t(layout.width) * uint64_t(layout.height) > (1u << 20)) return 0;
    std::vector<std::vector<uint8_t>> rows;
    if (!DecodeAll(layout, data, size, rows)) return 0;

    /* Write what was read, in the same kind and compression, and read it back. */
    Layout out;
    out.kind = layout.kind;
    out.width = layout.width;
    out.height = layout.height;
    out.compression = layout.compression;
    out.paletteEntries = layout.paletteEntries;
    memcpy(out.palette, layout.palette, sizeof out.palette);
    if (PlanWrite(out) != Result::Ok) abort();
    std::vector<uint8_t> pixels, stored(out.stride);
    for (int64_t y = out.height - 1; y >= 0; y--) {
        if (CheckRow(out, rows[y].data()) != Result::Ok) abort();
        if (out.compression == BiRle8 || out.compression == BiRle4) {
            EncodeRleRow(out, rows[y].data(), pixels);
        } else {
            EncodeRow(out, rows[y].data(), stored.data());
            pixels.insert(pixels.end(), stored.begin(), stored.end());
        }
    }
    if (out.compression == BiRle8 || out.compression == BiRle4) EncodeRleEnd(pixels);
    out.dataSize = pixels.size();
    std::vector<uint8_t> file = BuildHeaders(out);
    file.insert(file.end(), pixels.begin(), pixels.end());

    Layout again;
    head = file.size() < HeadBytes ? file.size() : HeadBytes;
    if (ParseHeaders(file.data(), head, file.size(), again) != Result::Ok) abort();
    std::vector<std::vector<uint8_t>> rowsAgain;
    if (!DecodeAll(again, file.data(), file.size(), rowsAgain)) abort();
    if (again.kind != layout.kind || rowsAgain != rows) abort();
    return 0;
}
