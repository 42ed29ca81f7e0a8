/*
 * wic.fio's header walks over bytes in memory: the GIF frames' facts that detection
 * takes from them, and the PNG checksum that a read proves over the whole stream.
 */
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "wic_header.h"

using namespace wic;

namespace {

std::vector<uint8_t> B(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::string Le16(unsigned v) { return std::string{char(v), char(v >> 8)}; }

/* A GIF stream's start without a global colour table, a 1 x 1 image at (1, 2) with one
   data sub-block, and a control block: disposal 1, transparent index 7. */
const std::string GifHead = std::string("GIF89a") + Le16(4) + Le16(3) + std::string("\x00\x00\x00", 3);
const std::string Image = std::string("\x2C") + Le16(1) + Le16(2) + Le16(1) + Le16(1) + std::string("\x00\x02\x02\x4C\x01\x00", 6);
const std::string Trailer = ";";
std::string Control(unsigned delay) { return std::string("\x21\xF9\x04\x05", 4) + Le16(delay) + std::string("\x07\x00", 2); }

} // namespace

/* Detection takes each GIF frame's disposal and transparency from the header walk, a
   read takes them from the animation blocks: both say the same of every image, also of
   a control block of the wrong size (ignored) and of a long chain of data sub-blocks. */
TEST(WicHeader, GifHeaderWalkAgreesWithAnimationBlocks)
{
    const std::string odd = std::string("\x21\xF9\x05\x09\x01\x00\x03\x00\x00", 9); /* 5 bytes */
    std::string big = std::string("\x2C") + Le16(0) + Le16(0) + Le16(4) + Le16(3) + std::string("\x00\x08", 2);
    for (int i = 0; i < 300; i++) big += std::string(1, char(255)) + std::string(255, char(i));
    big += std::string(1, '\0');
    const std::string streams[] = {
        GifHead + Control(30) + Image + Image + Trailer,
        GifHead + std::string("\x21\xF9\x04\x09", 4) + Le16(5) + std::string("\x03\x00", 2) + big + odd + Image +
            Trailer,
    };
    for (const std::string &stream : streams) {
        std::vector<uint8_t> data = B(stream);
        GifAnimation animation;
        ASSERT_TRUE(ReadGifAnimation(data.data(), data.size(), animation));
        MemorySource source(data.data(), data.size());
        Header header;
        ASSERT_EQ(Verdict::Ok, ReadHeader(Container::Gif, source, header));
        ASSERT_EQ(animation.images.size(), header.frames.size());
        for (size_t i = 0; i < header.frames.size(); i++) {
            EXPECT_EQ(animation.images[i].disposal, header.frames[i].disposal) << i;
            EXPECT_EQ(animation.images[i].transparent, header.frames[i].transparentIndex) << i;
        }
        /* Cut anywhere inside the last image's data, the walk says so. */
        MemorySource cut(data.data(), data.size() - 3);
        EXPECT_EQ(Verdict::Truncated, ReadHeader(Container::Gif, cut, header));
        /* A walk with a limit inside the first image stops there: one frame, not counted,
           the cut not seen; past the end it is the whole walk. */
        EXPECT_EQ(Verdict::Ok, ReadHeader(Container::Gif, cut, header, 30));
        EXPECT_FALSE(header.counted);
        EXPECT_EQ(1u, header.frames.size());
        ASSERT_EQ(Verdict::Ok, ReadHeader(Container::Gif, source, header, data.size()));
        EXPECT_TRUE(header.counted);
        EXPECT_EQ(animation.images.size(), header.frames.size());
    }
}

/* The PNG checksum over every length and alignment the fast path splits differently,
   against the bit-by-bit definition; a chunk stream with one byte spoilt fails. */
TEST(WicHeader, PngChecksumAndStream)
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
    /* In two parts, split where the fast path is still busy. */
    EXPECT_EQ(slow(0, 1000), Crc32(Crc32(0, bytes.data(), 77), bytes.data() + 77, 923));

    auto chunk = [&](const char *type, size_t n) {
        std::string c = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        c += type;
        c.append(reinterpret_cast<const char *>(bytes.data()), n);
        uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t *>(c.data() + 4), n + 4);
        return c + std::string{char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)};
    };
    std::vector<uint8_t> png = B(std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IDAT", 65536) + chunk("IEND", 0));
    MemorySource whole(png.data(), png.size());
    EXPECT_EQ(Verdict::Ok, CheckPngStream(whole));
    png[8 + 8 + 40000] ^= 0x10;
    MemorySource spoilt(png.data(), png.size());
    EXPECT_EQ(Verdict::Damaged, CheckPngStream(spoilt));
    png[8 + 8 + 40000] ^= 0x10;
    MemorySource cut(png.data(), png.size() - 12);
    EXPECT_EQ(Verdict::Truncated, CheckPngStream(cut));
}
