/*
 * What wic.fio reads and writes by hand: GIF animation blocks, the row conversions (those
 * the component under Wine never asks for included) and the PNG checksum; and the shipped
 * plug-ins' entry guard.
 */
#include <gtest/gtest.h>
#include <string>
#include "wic_bytes.h"
#include "wic_header.h"
#include "fio_support.h"
#include "q32comm.h"
#include <stdexcept>

using namespace wic;

namespace {

std::vector<uint8_t> B(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string Le16(unsigned v) { return std::string{char(v), char(v >> 8)}; }

/* A GIF stream of images without a global colour table; each image 1 x 1, one data
   sub-block. Extension blocks are inserted where the test says. */
const std::string GifHead = std::string("GIF89a") + Le16(4) + Le16(3) + std::string("\x00\x00\x00", 3);
const std::string Image = std::string("\x2C") + Le16(1) + Le16(2) + Le16(1) + Le16(1) + std::string("\x00\x02\x02\x4C\x01\x00", 6);
const std::string Trailer = ";";
std::string Control(unsigned delay) { return std::string("\x21\xF9\x04\x05", 4) + Le16(delay) + std::string("\x07\x00", 2); }
std::string Loop(unsigned loops) { return std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16) + Le16(loops) + std::string(1, '\0'); }

} // namespace

TEST(WicBytes, GifAnimationBlocksAreReadAndWritten)
{
    std::string comment = std::string("\x21\xFE\x02hi\x03 yo\x00", 10);
    std::vector<uint8_t> data = B(GifHead + Loop(7) + comment + Control(30) + Image + Image + Trailer);
    GifAnimation animation;
    ASSERT_TRUE(ReadGifAnimation(data.data(), data.size(), animation));
    EXPECT_TRUE(animation.complete);
    EXPECT_EQ(7, animation.loopCount);
    EXPECT_EQ(0u, animation.background) << "no global table: transparent";
    ASSERT_EQ(2u, animation.images.size());
    EXPECT_EQ(30, animation.images[0].delay);
    EXPECT_EQ(0, animation.images[1].delay) << "a control block belongs to the next image only";
    EXPECT_EQ(1, animation.images[0].disposal);
    EXPECT_EQ(7, animation.images[0].transparent);
    EXPECT_EQ(0, animation.images[1].disposal);
    EXPECT_EQ(-1, animation.images[1].transparent);
    EXPECT_EQ(2, animation.images[0].top);
    EXPECT_EQ((std::vector<std::string>{"hi yo"}), animation.comments);

    /* Cut inside the second image: one image, not complete. */
    ASSERT_TRUE(ReadGifAnimation(data.data(), data.size() - 4, animation));
    EXPECT_FALSE(animation.complete);
    EXPECT_EQ(1u, animation.images.size());
    /* An unknown block. */
    std::vector<uint8_t> bad = B(GifHead + "\x99" + Trailer);
    EXPECT_FALSE(ReadGifAnimation(bad.data(), bad.size(), animation));

    /* Writing: a loop block first (the old one replaced), a control block before each
       image with its delay, the image's own control block kept but for its delay. */
    std::vector<uint8_t> out;
    ASSERT_TRUE(WriteGifAnimation(data.data(), data.size(), 2, {10, 20}, out));
    EXPECT_EQ(B(GifHead + Loop(2) + comment + Control(10) + Image + std::string("\x21\xF9\x04\x00", 4) + Le16(20) +
                std::string("\x00\x00", 2) + Image + Trailer),
              out);
    /* No loop asked: the one there stays; delays beyond the list repeat the last. */
    ASSERT_TRUE(WriteGifAnimation(data.data(), data.size(), -1, {40}, out));
    ASSERT_TRUE(ReadGifAnimation(out.data(), out.size(), animation));
    EXPECT_EQ(7, animation.loopCount);
    EXPECT_EQ(40, animation.images[1].delay);
    /* A stream without its trailer is not written. */
    EXPECT_FALSE(WriteGifAnimation(data.data(), data.size() - 1, 0, {}, out));
}

TEST(WicBytes, RowsChangeShape)
{
    const uint32_t palette[256] = {0x000000, 0x112233, 0xAABBCC};
    const struct {
        const char *name;
        Shape shape;
        unsigned bits;
        std::string in;
        uint64_t first, count;
        std::string out;
    } cases[] = {
        {"copy from a pixel on", Shape::Copy, 24, "abcdefghi", 1, 2, "defghi"},
        {"copy packed bits", Shape::Copy, 1, "\xAB\xCD", 8, 8, "\xCD"},
        {"unpack 2 bits from a pixel on", Shape::Unpack2, 4, "\x1B\xC0", 1, 4, std::string("\x01\x02\x03\x03", 4)},
        {"2-bit grey to 16 levels", Shape::Unpack2Grey, 4, "\x1B", 0, 4, std::string("\x00\x05\x0A\x0F", 4)},
        {"unpack 4 bits", Shape::Unpack4, 4, "\x12\x3F", 1, 3, std::string("\x02\x03\x0F", 3)},
        {"pack 4 bits, odd count", Shape::Pack4, 4, std::string("\x01\x02\x03", 3), 0, 3, std::string("\x12\x30", 2)},
        {"16 greys to 256", Shape::Grey4To8, 8, std::string("\x00\x01\x0F", 3), 0, 3, std::string("\x00\x11\xFF", 3)},
        {"four bytes to three", Shape::Drop4th, 24, "bgraBGRA", 0, 2, "bgrBGR"},
        {"red and blue of 3 bytes", Shape::SwapRB24, 24, "rgbRGB", 1, 1, "BGR"},
        {"red and blue of 16-bit samples", Shape::SwapRB48, 48, "RRGGBB", 0, 1, "BBGGRR"},
        {"red and blue with alpha", Shape::SwapRB64, 64, "RrGgBbAa", 0, 1, "BbGgRrAa"},
        {"both, three samples", Shape::SwapRB48Bytes, 48, "RrGgBb", 0, 1, "bBgGrR"},
        {"both, four samples", Shape::SwapRB64Bytes, 64, "RrGgBbAa", 0, 1, "bBgGrRaA"},
        {"indices to colours", Shape::Expand8, 24, std::string("\x02\x00\x01", 3), 1, 2,
         std::string("\x00\x00\x00\x33\x22\x11", 6)},
        {"bits to colours", Shape::Expand1, 24, "\x40", 0, 2, std::string("\x00\x00\x00\x33\x22\x11", 6)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out(c.out.size(), '\x77');
        ConvertRow(c.shape, c.bits, reinterpret_cast<const uint8_t *>(c.in.data()), c.first, c.count,
                   reinterpret_cast<uint8_t *>(out.data()), palette);
        EXPECT_EQ(c.out, out);
    }
}

/* An exception thrown inside an entry never leaves it: running out of memory is recorded
   as 1004, anything else as 4026, at the entry's place, and the entry answers its failure. */
/* The PNG checksum over every length and alignment the fast path splits differently,
   against the bit-by-bit definition; once in two parts split where the fast path is busy. */
TEST(WicBytes, PngChecksumAtEveryBlockBoundary)
{
    std::vector<uint8_t> bytes(70000);
    uint32_t noise = 7;
    for (uint8_t &b : bytes) b = uint8_t((noise = noise * 1103515245u + 12345u) >> 16);
    auto slow = [&](size_t from, size_t n) {
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t i = from; i < from + n; i++) {
            crc ^= bytes[i];
            for (int k = 0; k < 8; k++) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    for (size_t n : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 191u, 1000u, 69990u})
        for (size_t from : {0u, 1u, 7u})
            EXPECT_EQ(slow(from, n), Crc32(0, bytes.data() + from, n)) << n << " at " << from;
    EXPECT_EQ(slow(0, 1000), Crc32(Crc32(0, bytes.data(), 77), bytes.data() + 77, 923));
}

TEST(FioGuard, ExceptionsBecomeRecordedFailures)
{
    struct Case {
        int thrown; /* 0 none, 1 bad_alloc, 2 runtime_error, 3 an int */
        UINT error;
        INT_PTR result;
    } cases[] = {{0, 0, 7}, {1, fio::ErrNoMemory, -1}, {2, fio::ErrCannot, -1}, {3, fio::ErrCannot, -1}};
    for (const Case &c : cases) {
        c32ResetDLLErrInfo();
        INT_PTR result = fio::Guarded(1708, 12, 99, INT_PTR(-1), [&]() -> INT_PTR {
            if (c.thrown == 1) throw std::bad_alloc();
            if (c.thrown == 2) throw std::runtime_error("parser");
            if (c.thrown == 3) throw 3;
            return 7;
        });
        EXPECT_EQ(c.result, result) << c.thrown;
        int zero = 0, plugin = 0, entry = 0, place = 0;
        UINT id = 0;
        EXPECT_EQ(c.error, c32GetDLLErrorInfo(nullptr, &id, &zero, &plugin, &entry, &place)) << c.thrown;
        if (c.error) {
            EXPECT_EQ((std::vector<int>{1708, 12, 99}), (std::vector<int>{plugin, entry, place})) << c.thrown;
        }
    }
}
