/*
 * Bitmap files made by hand for the BMP tests: every field as the test sets it, so that
 * a test can build each variant and each damaged file it needs.
 */
#ifndef BMP_FILES_H
#define BMP_FILES_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace bmptest {

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += char(v);
    return out;
}

inline void Put16(std::string &out, uint32_t v) { out += char(v), out += char(v >> 8); }
inline void Put32(std::string &out, uint32_t v) { Put16(out, v), Put16(out, v >> 16); }

struct Bitmap {
    uint32_t headerSize = 40;         /* 12 makes an OS/2 header */
    int32_t width = 1;
    int32_t height = 1;               /* negative: top row first */
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    int32_t pelsPerMeter = 0;
    std::vector<uint32_t> palette;    /* 0xRRGGBB */
    std::vector<uint32_t> masks;      /* after a 40-byte header, else inside it */
    std::string data;                 /* the pixel data as stored */
    int64_t dataOffset = -1;          /* -1: right after the palette */
    int64_t sizeImage = -1;           /* -1: the data's size */
};

inline std::string Build(const Bitmap &b)
{
    std::string header;
    if (b.headerSize == 12) {
        Put32(header, 12);
        Put16(header, uint32_t(b.width));
        Put16(header, uint32_t(b.height));
        Put16(header, b.planes);
        Put16(header, b.bitCount);
    } else {
        Put32(header, b.headerSize);
        Put32(header, uint32_t(b.width));
        Put32(header, uint32_t(b.height));
        Put16(header, b.planes);
        Put16(header, b.bitCount);
        Put32(header, b.compression);
        Put32(header, uint32_t(b.sizeImage >= 0 ? b.sizeImage : int64_t(b.data.size())));
        Put32(header, uint32_t(b.pelsPerMeter));
        Put32(header, uint32_t(b.pelsPerMeter));
        Put32(header, b.coloursUsed);
        Put32(header, 0);
        if (b.headerSize > 40)
            for (uint32_t m : b.masks) Put32(header, m);
        /* Cut or padded to the size it declares, keeping at least that size field. */
        header.resize(b.headerSize < 4 ? 4 : b.headerSize, '\0');
        if (b.headerSize == 40)
            for (uint32_t m : b.masks) Put32(header, m);
    }
    for (uint32_t c : b.palette) {
        header += char(c), header += char(c >> 8), header += char(c >> 16);
        if (b.headerSize != 12) header += '\0';
    }
    uint32_t offset = uint32_t(b.dataOffset >= 0 ? b.dataOffset : 14 + int64_t(header.size()));
    std::string file = "BM";
    Put32(file, uint32_t(14 + header.size() + b.data.size()));
    Put32(file, 0);
    Put32(file, offset);
    file += header;
    if (file.size() < offset) file.resize(offset, '\0');
    return file + b.data;
}

/* Uncompressed pixel data: rows given top row first, each padded to its 32-bit stride,
   stored bottom row first unless topDown. */
inline std::string StoreRows(const std::vector<std::string> &rows, int width, int bitCount,
                             bool topDown = false)
{
    size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
    std::string out;
    for (size_t i = 0; i < rows.size(); i++) {
        std::string row = rows[topDown ? i : rows.size() - 1 - i];
        row.resize(stride, '\0');
        out += row;
    }
    return out;
}

} // namespace bmptest

#endif
