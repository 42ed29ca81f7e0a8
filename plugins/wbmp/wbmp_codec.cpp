/* WBMP codec over byte buffers: no Windows calls. */
#include "wbmp_codec.h"

namespace wbmp {

bool ReadNumber(const uint8_t *data, size_t size, size_t &at, uint32_t &value)
{
    uint64_t v = 0;
    for (int bytes = 0; at < size; bytes++) {
        uint8_t b = data[at++];
        v = v << 7 | (b & 0x7F);
        if (v > 0xFFFFFFFFu || bytes == 5) return false;
        if (!(b & 0x80)) {
            value = uint32_t(v);
            return true;
        }
    }
    return false;
}

void PutNumber(std::vector<uint8_t> &out, uint32_t value)
{
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = uint8_t(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n--) out.push_back(uint8_t(groups[n] | (n ? 0x80 : 0)));
}

Result ParseHeader(const uint8_t *head, size_t headSize, uint64_t fileSize, Header &header)
{
    if (headSize < 2) return headSize < 1 || head[0] == 0 ? Result::ShortHeader : Result::NotWbmp;
    if (head[0] != 0 || head[1] != 0) return Result::NotWbmp;
    size_t at = 2;
    if (!ReadNumber(head, headSize, at, header.width) || !ReadNumber(head, headSize, at, header.height))
        return at >= headSize && headSize == fileSize ? Result::ShortHeader : Result::NotWbmp;
    if (header.width == 0 || header.height == 0) return Result::NotWbmp;
    if (header.width > MaxDimension || header.height > MaxDimension) return Result::TooLarge;
    header.dataOffset = at;
    if (fileSize < at + RowBytes(header.width) * header.height) return Result::ShortData;
    return Result::Ok;
}

std::vector<uint8_t> BuildHeader(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> out = {0, 0};
    PutNumber(out, width);
    PutNumber(out, height);
    return out;
}

void ClearPadding(uint8_t *row, uint32_t width)
{
    if (width % 8) row[RowBytes(width) - 1] &= uint8_t(0xFF << (8 - width % 8));
}

} // namespace wbmp
