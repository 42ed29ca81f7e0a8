/* The bitmap codec over byte buffers: headers, rows, run lengths, and what it refuses. */
#include <gtest/gtest.h>
#include "bmp_codec.h"
#include "bmp_files.h"
#include <cstring>
#include <random>

using namespace bmp;
using bmptest::Bitmap;
using bmptest::Build;
using bmptest::Bytes;
using bmptest::StoreRows;

namespace {

Result Parse(const std::string &file, Layout &layout)
{
    size_t head = file.size() < HeadBytes ? file.size() : HeadBytes;
    return ParseHeaders(reinterpret_cast<const uint8_t *>(file.data()), head, file.size(), layout);
}

/* Every row of a parsed file, top row first, as delivered. */
Result Decode(const std::string &file, std::vector<std::string> &rows)
{
    Layout layout;
    Result result = Parse(file, layout);
    if (result != Result::Ok) return result;
    const auto *data = reinterpret_cast<const uint8_t *>(file.data()) + layout.dataOffset;
    size_t width = size_t(layout.width), height = size_t(layout.height);
    rows.assign(height, std::string(size_t(RowBytes(layout.kind, width)), '\0'));
    std::vector<uint8_t> indices(width * height);
    bool rle = layout.compression == BiRle8 || layout.compression == BiRle4;
    if (rle && (result = DecodeRle(layout, data, size_t(layout.dataSize), indices.data())) != Result::Ok)
        return result;
    for (size_t y = 0; y < height; y++) {
        size_t stored = layout.topDown ? y : height - 1 - y;
        if (rle) rows[y].assign(reinterpret_cast<char *>(&indices[stored * width]), width);
        else if ((result = DecodeRow(layout, data + stored * layout.stride,
                                     reinterpret_cast<uint8_t *>(&rows[y][0]))) != Result::Ok)
            return result;
    }
    return Result::Ok;
}

Bitmap Rle(uint32_t compression, int width, int height, const std::string &runs, int colours)
{
    Bitmap b;
    b.width = width, b.height = height, b.compression = compression;
    b.bitCount = compression == BiRle8 ? 8 : 4;
    for (int i = 0; i < colours; i++) b.palette.push_back(0x010101u * uint32_t(i * 7));
    b.coloursUsed = uint32_t(colours);
    b.data = runs;
    return b;
}

TEST(BmpCodec, BitFieldsScaleEachChannelToEightBits)
{
    const struct {
        const char *name;
        uint16_t bitCount;
        std::vector<uint32_t> masks;
        uint32_t compression;
        uint32_t pixel;
        std::string bgr;
    } cases[] = {
        {"555 white", 16, {}, BiRgb, 0x7FFF, Bytes({255, 255, 255})},
        {"555 red", 16, {}, BiRgb, 0x7C00, Bytes({0, 0, 255})},
        {"555 one step of blue", 16, {}, BiRgb, 0x0001, Bytes({8, 0, 0})},
        {"565 green", 16, {0xF800, 0x07E0, 0x001F}, BiBitfields, 0x07E0, Bytes({0, 255, 0})},
        {"565 one step of green", 16, {0xF800, 0x07E0, 0x001F}, BiBitfields, 0x0020, Bytes({0, 4, 0})},
        {"10-10-10", 32, {0x3FF00000, 0xFFC00, 0x3FF}, BiBitfields, 0x3FF | (512u << 10), Bytes({255, 128, 0})},
        {"blue in the high byte", 32, {0xFF, 0xFF00, 0xFF000000u}, BiBitfields, 0x12000034, Bytes({0x12, 0, 0x34})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap b;
        b.bitCount = c.bitCount, b.compression = c.compression, b.masks = c.masks;
        std::string pixel;
        for (int i = 0; i < c.bitCount / 8; i++) pixel += char(c.pixel >> (8 * i));
        b.data = StoreRows({pixel}, 1, c.bitCount);
        std::vector<std::string> rows;
        ASSERT_EQ(Result::Ok, Decode(Build(b), rows));
        EXPECT_EQ(c.bgr, rows[0]);
    }
}

TEST(BmpCodec, BilevelRowsClearTheBitsBeyondTheWidth)
{
    Bitmap b;
    b.bitCount = 1, b.width = 10, b.palette = {0, 0xFFFFFF};
    b.data = StoreRows({Bytes({0xA5, 0xFF})}, 10, 1);
    std::vector<std::string> rows;
    ASSERT_EQ(Result::Ok, Decode(Build(b), rows));
    EXPECT_EQ(Bytes({0xA5, 0xC0}), rows[0]);
}

TEST(BmpCodec, RunLengthsPaintMoveAndSkip)
{
    const struct {
        const char *name;
        Bitmap bitmap;
        std::vector<std::string> rows; /* top row first */
    } cases[] = {
        /* bottom row: run, odd literal with its pad byte, end of line; then a move of
           (1, 1) and a run on the top row; pixels skipped stay 0. */
        {"RLE8", Rle(BiRle8, 6, 3, Bytes({3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 0, 2, 1, 1, 2, 5, 0, 1}), 6),
         {Bytes({0, 5, 5, 0, 0, 0}), Bytes({0, 0, 0, 0, 0, 0}), Bytes({1, 1, 1, 2, 3, 4})}},
        /* a run alternates the two nibbles of its byte; a literal of three pixels
           takes two bytes and needs no pad */
        {"RLE4", Rle(BiRle4, 5, 2, Bytes({5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}), 16),
         {Bytes({3, 4, 5, 0, 0}), Bytes({1, 2, 1, 2, 1})}},
        {"RLE8 without an end mark", Rle(BiRle8, 2, 2, Bytes({2, 1, 0, 0, 2, 2}), 3),
         {Bytes({2, 2}), Bytes({1, 1})}},
        {"RLE8 ending early", Rle(BiRle8, 2, 2, Bytes({1, 2, 0, 1}), 3),
         {Bytes({0, 0}), Bytes({2, 0})}},
        /* Outside the image nothing is painted: rows padded to four pixels by their
           writer, runs and literals past the row, moves and rows past the last. */
        {"RLE8 rows padded past their end", Rle(BiRle8, 5, 2, Bytes({8, 1, 0, 0, 0, 3, 2, 2, 2, 0, 5, 2, 0, 0, 0, 1}), 3),
         {Bytes({2, 2, 2, 2, 2}), Bytes({1, 1, 1, 1, 1})}},
        {"run after a full row", Rle(BiRle8, 4, 2, Bytes({4, 1, 1, 2, 0, 0, 4, 2}), 3),
         {Bytes({2, 2, 2, 2}), Bytes({1, 1, 1, 1})}},
        {"literal past the row", Rle(BiRle8, 4, 2, Bytes({0, 5, 1, 2, 1, 2, 1, 0, 0, 1}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({1, 2, 1, 2})}},
        {"RLE4 literal past the row", Rle(BiRle4, 4, 2, Bytes({0, 5, 0x12, 0x21, 0x10, 0, 0, 1}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({1, 2, 2, 1})}},
        {"move past the width", Rle(BiRle8, 4, 2, Bytes({0, 2, 5, 0, 2, 1, 0, 0, 1, 2, 0, 1}), 3),
         {Bytes({2, 0, 0, 0}), Bytes({0, 0, 0, 0})}},
        {"move past the height", Rle(BiRle8, 4, 2, Bytes({1, 1, 0, 2, 0, 3, 4, 2}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({1, 0, 0, 0})}},
        {"rows past the last", Rle(BiRle8, 4, 2, Bytes({0, 0, 0, 0, 0, 0, 4, 1, 0, 1}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0})}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> rows;
        ASSERT_EQ(Result::Ok, Decode(Build(c.bitmap), rows));
        EXPECT_EQ(c.rows, rows);
    }
}

TEST(BmpCodec, RunsCutShortOrIndexingPastThePaletteAreRefused)
{
    const struct {
        const char *name;
        uint32_t compression;
        std::string runs;
        Result expected;
    } cases[] = {
        {"literal cut short", BiRle8, Bytes({0, 4, 1, 1}), Result::ShortRun},
        {"move cut short", BiRle8, Bytes({0, 2, 1}), Result::ShortRun},
        {"stream ends inside the image", BiRle8, Bytes({4, 1}), Result::ShortRun},
        {"run past the row, then nothing", BiRle8, Bytes({5, 1}), Result::ShortRun},
        {"index beyond the palette", BiRle8, Bytes({1, 3}), Result::BadIndex},
        {"literal index beyond the palette", BiRle8, Bytes({0, 3, 0, 1, 9, 0}), Result::BadIndex},
        {"RLE4 nibble beyond the palette", BiRle4, Bytes({2, 0x13}), Result::BadIndex},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> rows;
        EXPECT_EQ(c.expected, Decode(Build(Rle(c.compression, 4, 2, c.runs, 3)), rows));
    }
}

TEST(BmpCodec, DamagedAndUnsupportedHeaders)
{
    auto with = [](auto change) {
        Bitmap b;
        b.width = 2, b.height = 2, b.bitCount = 8, b.palette = {0, 0xFFFFFF};
        b.data = std::string(8, '\0');
        change(b);
        return Build(b);
    };
    std::string good = with([](Bitmap &) {});
    const struct {
        const char *name;
        std::string file;
        Result expected;
    } cases[] = {
        {"no signature", "BX" + good.substr(2), Result::NotBitmap},
        {"header size 0", with([](Bitmap &b) { b.headerSize = 0; }), Result::BadHeaderSize},
        {"header size 13", with([](Bitmap &b) { b.headerSize = 13; }), Result::UnknownHeader},
        {"OS/2 2.x header", with([](Bitmap &b) { b.headerSize = 64; }), Result::UnknownHeader},
        {"header larger than the file", good.substr(0, 14) + Bytes({124, 0, 0, 0}) + good.substr(18, 40),
         Result::ShortHeader},
        {"width 0", with([](Bitmap &b) { b.width = 0; }), Result::BadDimensions},
        {"negative width", with([](Bitmap &b) { b.width = -2; }), Result::BadDimensions},
        {"height 0", with([](Bitmap &b) { b.height = 0; }), Result::BadDimensions},
        {"two planes", with([](Bitmap &b) { b.planes = 2; }), Result::BadPlanes},
        {"7 bits a pixel", with([](Bitmap &b) { b.bitCount = 7; }), Result::BadBitCount},
        {"2 bits a pixel", with([](Bitmap &b) { b.bitCount = 2; }), Result::UnsupportedBitCount},
        {"embedded JPEG", with([](Bitmap &b) { b.compression = BiJpeg; }), Result::UnsupportedCompression},
        {"RLE4 of 8-bit pixels", with([](Bitmap &b) { b.compression = BiRle4; }), Result::BadCompression},
        {"bit-fields of 8-bit pixels", with([](Bitmap &b) { b.compression = BiBitfields; }), Result::BadCompression},
        {"overlapping masks", with([](Bitmap &b) {
             b.bitCount = 16, b.compression = BiBitfields, b.palette = {}, b.masks = {0xF800, 0x0FE0, 0x1F};
         }), Result::BadMasks},
        {"broken mask", with([](Bitmap &b) {
             b.bitCount = 16, b.compression = BiBitfields, b.palette = {}, b.masks = {0xF000, 0x0A0, 0x1F};
         }), Result::BadMasks},
        {"mask wider than the pixel", with([](Bitmap &b) {
             b.bitCount = 16, b.compression = BiBitfields, b.palette = {}, b.masks = {0xF0000, 0xF0, 0xF};
         }), Result::BadMasks},
        {"300 colours of 8-bit pixels", with([](Bitmap &b) { b.coloursUsed = 300; }), Result::BadPalette},
        {"no room for a palette", with([](Bitmap &b) { b.palette = {}; }), Result::BadPalette},
        {"data inside the header", with([](Bitmap &b) { b.bitCount = 24, b.palette = {}, b.dataOffset = 20; }),
         Result::BadDataOffset},
        {"data offset past the end",
         with([](Bitmap &b) { b.bitCount = 24, b.palette = {}, b.dataOffset = 5000; }).substr(0, 100),
         Result::ShortData},
        {"wider than the limit", with([](Bitmap &b) { b.width = MaxDimension + 1; }), Result::TooLarge},
        {"huge and short", with([](Bitmap &b) { b.width = 1000000, b.height = -1000000; }), Result::ShortData},
        {"huge run-length image", with([](Bitmap &b) { b.compression = BiRle8, b.width = 20000, b.height = 20000; }),
         Result::TooLarge},
        {"run lengths longer than the file", with([](Bitmap &b) { b.compression = BiRle8, b.sizeImage = 9; }),
         Result::ShortData},
    };
    for (const auto &c : cases) {
        Layout layout;
        EXPECT_EQ(c.expected, Parse(c.file, layout)) << c.name;
    }
}

TEST(BmpCodec, PaletteIndicesBeyondThePaletteAreRefused)
{
    Bitmap b;
    b.bitCount = 8, b.width = 3, b.palette = {0, 0x808080, 0xFFFFFF}, b.coloursUsed = 3;
    b.data = StoreRows({Bytes({0, 2, 3})}, 3, 8);
    std::vector<std::string> rows;
    EXPECT_EQ(Result::BadIndex, Decode(Build(b), rows));
    b.bitCount = 4, b.data = StoreRows({Bytes({0x02, 0x50})}, 3, 4);
    EXPECT_EQ(Result::BadIndex, Decode(Build(b), rows));
    b.bitCount = 1, b.palette = {0}, b.coloursUsed = 1, b.data = StoreRows({Bytes({0x20})}, 3, 1);
    EXPECT_EQ(Result::BadIndex, Decode(Build(b), rows));
}

TEST(BmpCodec, RunLengthEncodingIsExactAndDecodesBack)
{
    Layout layout;
    layout.kind = Kind::Index8, layout.width = 11, layout.height = 1, layout.compression = BiRle8;
    layout.paletteEntries = 8;
    ASSERT_EQ(Result::Ok, PlanWrite(layout));
    std::vector<uint8_t> out;
    const uint8_t row8[] = {4, 4, 4, 1, 2, 3, 5, 5, 5, 7, 6};
    EncodeRleRow(layout, row8, out);
    /* run of 3; literal 1 2 3 (padded); run of 3; two runs of one; end of line */
    EXPECT_EQ(Bytes({3, 4, 0, 3, 1, 2, 3, 0, 3, 5, 1, 7, 1, 6, 0, 0}),
              std::string(out.begin(), out.end()));

    layout.kind = Kind::Index4, layout.width = 7, layout.compression = BiRle4;
    layout.paletteEntries = 16;
    ASSERT_EQ(Result::Ok, PlanWrite(layout));
    ASSERT_EQ(uint32_t(BiRle4), layout.compression);
    out.clear();
    const uint8_t row4[] = {9, 9, 9, 1, 2, 3, 8};
    EncodeRleRow(layout, row4, out);
    EXPECT_EQ(Bytes({3, 0x99, 0, 4, 0x12, 0x38, 0, 0}), std::string(out.begin(), out.end()));

    /* A run longer than a count byte holds is split. */
    layout.kind = Kind::Index8, layout.width = 300, layout.compression = BiRle8, layout.paletteEntries = 8;
    ASSERT_EQ(Result::Ok, PlanWrite(layout));
    out.clear();
    const std::vector<uint8_t> same(300, 5);
    EncodeRleRow(layout, same.data(), out);
    EXPECT_EQ(Bytes({255, 5, 45, 5, 0, 0}), std::string(out.begin(), out.end()));

    /* Random rows of runs and noise of every width up to 300 decode to themselves. */
    std::mt19937 random(7);
    for (uint32_t compression : {BiRle8, BiRle4}) {
        for (int width = 1; width <= 300; width += 7) {
            Layout l;
            l.kind = compression == BiRle8 ? Kind::Index8 : Kind::Index4;
            l.width = width, l.height = 3, l.compression = compression;
            l.paletteEntries = compression == BiRle8 ? 256 : 16;
            ASSERT_EQ(Result::Ok, PlanWrite(l));
            std::vector<uint8_t> pixels(size_t(width) * 3), stream;
            for (size_t i = 0; i < pixels.size(); i++)
                pixels[i] = (random() % 3 == 0 || i == 0) ? uint8_t(random() % l.paletteEntries) : pixels[i - 1];
            for (int y = 2; y >= 0; y--) EncodeRleRow(l, &pixels[size_t(y) * width], stream);
            EncodeRleEnd(stream);
            std::vector<uint8_t> decoded(pixels.size());
            ASSERT_EQ(Result::Ok, DecodeRle(l, stream.data(), stream.size(), decoded.data())) << width;
            for (int y = 0; y < 3; y++)
                EXPECT_EQ(0, memcmp(&decoded[size_t(2 - y) * width], &pixels[size_t(y) * width], size_t(width)))
                    << "width " << width << " row " << y;
        }
    }
}

} // namespace
