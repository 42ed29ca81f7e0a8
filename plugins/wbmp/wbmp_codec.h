/*
 * WBMP codec: the one-bit wireless bitmap (type 0) over byte buffers, without Windows
 * calls. A file is: type 0 and a fixed header byte 0, width and height as multi-byte
 * integers (7 bits a byte, most significant first, the top bit set on every byte but
 * the last), then the rows, top first, each padded to whole bytes, the leftmost pixel in
 * the top bit, 1 white and 0 black.
 */
#ifndef WBMP_CODEC_H
#define WBMP_CODEC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wbmp {

/* Limit of this reader on width and height each. */
constexpr uint32_t MaxDimension = 1u << 20;

/* The first bytes of a file hold the whole header within these. */
constexpr size_t HeadBytes = 12;

/* The outcome of each step; the numbers travel as the third number of the location of a
   recorded error. */
enum class Result : int {
    Ok = 0,
    NotWbmp = 1,          /* another type, a fixed header of extensions, no size */
    ShortHeader = 2,      /* the file ends inside its header */
    TooLarge = 3,         /* a side beyond MaxDimension */
    ShortData = 4,        /* the rows end before the image does */
};

struct Header {
    uint32_t width = 0, height = 0;
    size_t dataOffset = 0;   /* bytes of the header */
};

/* Bytes of one row. */
inline uint64_t RowBytes(uint32_t width) { return (uint64_t(width) + 7) / 8; }

/* Reads a multi-byte integer at at; false when it is cut short or passes 32 bits. */
bool ReadNumber(const uint8_t *data, size_t size, size_t &at, uint32_t &value);
void PutNumber(std::vector<uint8_t> &out, uint32_t value);

/* Parses the header from head, the first headSize bytes of a file of fileSize bytes, and
   checks that the rows lie within the file. */
Result ParseHeader(const uint8_t *head, size_t headSize, uint64_t fileSize, Header &header);

/* The header of an image of width x height. */
std::vector<uint8_t> BuildHeader(uint32_t width, uint32_t height);

/* Clears the bits beyond width in the last byte of a row. */
void ClearPadding(uint8_t *row, uint32_t width);

} // namespace wbmp

#endif
