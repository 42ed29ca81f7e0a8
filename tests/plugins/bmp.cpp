/*
 * Bitmaps made field by field, read top row first and refused through bmp.fio (the codec's
 * reason is the error's place); round trips at every depth, the writer's bytes and runs.
 */
#include "fio_driver.h"
#include "bmp_codec.h"
#include <algorithm>

using namespace q32test;
using namespace bmp;

namespace {

struct Bitmap {
    uint32_t headerSize = 40;
    int32_t width = 1, height = 1;    /* height negative: top row first */
    uint16_t planes = 1, bitCount = 24;
    uint32_t compression = 0, coloursUsed = 0;
    int32_t pelsPerMeter = 0;
    std::vector<uint32_t> palette;    /* 0xRRGGBB */
    std::vector<uint32_t> masks;      /* after a 40-byte header, else inside it */
    std::string data;                 /* the pixel data as stored */
    int64_t dataOffset = -1;          /* -1: right after the palette */
    int64_t sizeImage = -1;           /* -1: the data's size */
};

std::string Build(const Bitmap &b)
{
    std::string header = Le(b.headerSize, 4) + Le(b.width, 4) + Le(b.height, 4) + Le(b.planes, 2) +
                         Le(b.bitCount, 2) + Le(b.compression, 4) +
                         Le(uint32_t(b.sizeImage >= 0 ? b.sizeImage : int64_t(b.data.size())), 4) +
                         Le(b.pelsPerMeter, 4) + Le(b.pelsPerMeter, 4) + Le(b.coloursUsed, 4) + Le(0, 4);
    if (b.headerSize > 40)
        for (uint32_t m : b.masks) header += Le(m, 4);
    /* Cut or padded to the size it declares, keeping at least that size field. */
    header.resize(b.headerSize < 4 ? 4 : b.headerSize, '\0');
    if (b.headerSize == 40)
        for (uint32_t m : b.masks) header += Le(m, 4);
    for (uint32_t c : b.palette) header += Le(c, 4);
    uint32_t offset = uint32_t(b.dataOffset >= 0 ? b.dataOffset : 14 + int64_t(header.size()));
    std::string file = "BM" + Le(uint32_t(14 + header.size() + b.data.size()), 4) + Le(0, 4) + Le(offset, 4) + header;
    if (file.size() < offset) file.resize(offset, '\0');
    return file + b.data;
}

/* Uncompressed pixel data: rows given top row first, each padded to its 32-bit stride,
   stored bottom row first. */
std::string StoreRows(const std::vector<std::string> &rows, int width, int bitCount)
{
    size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
    std::string out;
    for (size_t i = rows.size(); i-- > 0;) out += std::string(rows[i]).append(stride, '\0').substr(0, stride);
    return out;
}

Bitmap Make(uint32_t headerSize, int width, int height, uint16_t bits, uint32_t compression,
            std::vector<uint32_t> palette, std::vector<uint32_t> masks, std::string data)
{
    Bitmap b;
    b.headerSize = headerSize, b.width = width, b.height = height, b.bitCount = bits, b.compression = compression;
    b.palette = palette, b.masks = masks, b.data = data, b.pelsPerMeter = 2835;
    b.coloursUsed = uint32_t(palette.size());
    return b;
}

Bitmap Rle(uint32_t compression, int width, int height, const std::string &runs, int colours)
{
    std::vector<uint32_t> palette;
    for (int i = 0; i < colours; i++) palette.push_back(0x010101u * uint32_t(i * 7));
    return Make(40, width, height, compression == BiRle8 ? 8 : 4, compression, palette, {}, runs);
}

class BmpPlugin : public FioTest {
protected:
    BmpPlugin() : FioTest("bmp.fio", 1790) { fio.writeDisposition = OPEN_ALWAYS; /* it cuts a longer file itself */ }

    /* A file the format refuses, as the codec's reason: not taken (not a bitmap), or refused
       when its headers are read (entry +12) or while decoding (+16), at the reason's place. */
    static Refusal Refused(const char *name, const std::string &bytes, Result reason)
    {
        bool decoding = reason == Result::ShortRun || reason == Result::BadIndex;
        UINT id = reason == Result::NotBitmap ? 0 : reason == Result::TooLarge ? 4021 : IsUnsupported(reason) ? 4024 : 4020;
        return {name, bytes, decoding ? QF_ENTRY_READ : QF_ENTRY_GETFILEDATA, id, int(reason)};
    }
};

TEST_F(BmpPlugin, ReadsEveryVariantTopRowFirst)
{
    auto pixel = [](uint16_t bits, std::vector<uint32_t> masks, uint32_t compression, uint32_t value) {
        return Make(40, 1, 1, bits, compression, {}, masks, StoreRows({Le(value, bits / 8)}, 1, bits));
    };
    const std::vector<uint32_t> m565 = {0xF800, 0x07E0, 0x001F};
    std::vector<uint32_t> grey16;
    for (uint32_t i = 0; i < 16; i++) grey16.push_back(i * 17 * 0x010101u);
    const struct {
        const char *name;
        Bitmap bitmap;
        std::vector<std::string> rows; /* top row first */
        DWORD bits = 0, dataType = 0, compression = 0; /* bits 0: not checked */
    } cases[] = {
        {"4-bit grey", Make(40, 2, 1, 4, 0, grey16, {}, StoreRows({Bytes({0xF1})}, 2, 4)),
         {Bytes({15, 1})}, 4, Q32_TYPE_GREY4, Q32_COMPRESS_NONE},
        {"V5 with alpha first", Make(124, 1, 1, 32, 3, {}, {0xFF00, 0xFF0000, 0xFF000000u, 0xFF}, Bytes({9, 8, 7, 6})),
         {Bytes({6, 7, 8, 9})}, 32, Q32_TYPE_BGRA, Q32_COMPRESS_BITFIELDS},
        /* Each channel scaled to eight bits. */
        {"555 one step of blue", pixel(16, {}, BiRgb, 0x0001), {Bytes({8, 0, 0})}},
        {"565 one step of green", pixel(16, m565, BiBitfields, 0x0020), {Bytes({0, 4, 0})}},
        {"10-10-10", pixel(32, {0x3FF00000, 0xFFC00, 0x3FF}, BiBitfields, 0x3FF | (512u << 10)), {Bytes({255, 128, 0})}},
        {"blue in the high byte", pixel(32, {0xFF, 0xFF00, 0xFF000000u}, BiBitfields, 0x12000034), {Bytes({0x12, 0, 0x34})}},
        {"bits beyond the width cleared", Make(40, 10, 1, 1, 0, {0, 0xFFFFFF}, {}, StoreRows({Bytes({0xA5, 0xFF})}, 10, 1)),
         {Bytes({0xA5, 0xC0})}},
        /* bottom row: run, odd literal with its pad byte, end of line; then a move of
           (1, 1) and a run on the top row; pixels skipped stay 0. */
        {"RLE8", Rle(BiRle8, 6, 3, Bytes({3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 0, 2, 1, 1, 2, 5, 0, 1}), 6),
         {Bytes({0, 5, 5, 0, 0, 0}), Bytes({0, 0, 0, 0, 0, 0}), Bytes({1, 1, 1, 2, 3, 4})}, 8, Q32_TYPE_PALETTE8,
         Q32_COMPRESS_RLE8},
        /* a run alternates the two nibbles of its byte; a literal of three pixels
           takes two bytes and needs no pad */
        {"RLE4", Rle(BiRle4, 5, 2, Bytes({5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1}), 16),
         {Bytes({3, 4, 5, 0, 0}), Bytes({1, 2, 1, 2, 1})}},
        {"RLE8 ending early", Rle(BiRle8, 2, 2, Bytes({1, 2, 0, 1}), 3), {Bytes({0, 0}), Bytes({2, 0})}},
        /* Outside the image nothing is painted: literals past the row, moves and rows
           past the last. */
        {"literal past the row", Rle(BiRle8, 4, 2, Bytes({0, 5, 1, 2, 1, 2, 1, 0, 0, 1}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({1, 2, 1, 2})}},
        {"move past the width", Rle(BiRle8, 4, 2, Bytes({0, 2, 5, 0, 2, 1, 0, 0, 1, 2, 0, 1}), 3),
         {Bytes({2, 0, 0, 0}), Bytes({0, 0, 0, 0})}},
        {"move past the height", Rle(BiRle8, 4, 2, Bytes({1, 1, 0, 2, 0, 3, 4, 2}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({1, 0, 0, 0})}},
        {"rows past the last", Rle(BiRle8, 4, 2, Bytes({0, 0, 0, 0, 0, 0, 4, 1, 0, 1}), 3),
         {Bytes({0, 0, 0, 0}), Bytes({0, 0, 0, 0})}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rows rows;
        RasterFacts facts;
        ASSERT_EQ(1, Take(Build(c.bitmap), rows, &facts)) << ReadError().text;
        if (c.bits) {
            EXPECT_EQ((std::vector<DWORD>{c.bits, c.dataType, c.compression}),
                      (std::vector<DWORD>{facts.bits, facts.dataType, facts.compression}));
        }
        EXPECT_EQ(c.bitmap.palette, facts.palette);
        /* 2835 pixels a metre are 72 dpi. */
        EXPECT_EQ(720090u, facts.resolutionX);
        std::vector<std::string> got;
        for (auto &[y, row] : rows.byY) got.push_back(row);
        EXPECT_EQ(c.rows, got);
        EXPECT_TRUE(std::is_sorted(rows.ys.begin(), rows.ys.end())) << "top row first";
    }
}

TEST_F(BmpPlugin, RefusesDamagedAndUnsupportedFiles)
{
    auto with = [](auto change) {
        Bitmap b = Make(40, 2, 2, 8, 0, {0, 0xFFFFFF}, {}, std::string(8, '\0'));
        change(b);
        return Build(b);
    };
    auto masks = [&](std::vector<uint32_t> m) {
        return with([&](Bitmap &b) { b.bitCount = 16, b.compression = BiBitfields, b.palette = {}, b.masks = m; });
    };
    auto rle = [](uint32_t compression, std::string runs) { return Build(Rle(compression, 4, 2, runs, 3)); };
    auto pixels = [](uint16_t bits, std::vector<uint32_t> palette, std::string row) {
        return Build(Make(40, 3, 1, bits, 0, palette, {}, StoreRows({row}, 3, bits)));
    };
    std::string good = with([](Bitmap &) {});
    const Refusal cases[] = {
        Refused("no signature", "BX" + good.substr(2), Result::NotBitmap),
        Refused("header size 0", with([](Bitmap &b) { b.headerSize = 0; }), Result::BadHeaderSize),
        Refused("OS/2 2.x header", with([](Bitmap &b) { b.headerSize = 64; }), Result::UnknownHeader),
        Refused("header larger than the file", good.substr(0, 14) + Bytes({124, 0, 0, 0}) + good.substr(18, 40), Result::ShortHeader),
        Refused("cut in the pixels", good.substr(0, good.size() - 1), Result::ShortData),
        Refused("width 0", with([](Bitmap &b) { b.width = 0; }), Result::BadDimensions),
        Refused("two planes", with([](Bitmap &b) { b.planes = 2; }), Result::BadPlanes),
        Refused("7 bits a pixel", with([](Bitmap &b) { b.bitCount = 7; }), Result::BadBitCount),
        Refused("2 bits a pixel", with([](Bitmap &b) { b.bitCount = 2; }), Result::UnsupportedBitCount),
        Refused("embedded JPEG", with([](Bitmap &b) { b.compression = BiJpeg; }), Result::UnsupportedCompression),
        Refused("RLE4 of 8-bit pixels", with([](Bitmap &b) { b.compression = BiRle4; }), Result::BadCompression),
        Refused("broken mask", masks({0xF000, 0x0A0, 0x1F}), Result::BadMasks),
        Refused("300 colours of 8-bit pixels", with([](Bitmap &b) { b.coloursUsed = 300; }), Result::BadPalette),
        Refused("no room for a palette", with([](Bitmap &b) { b.palette = {}; }), Result::BadPalette),
        Refused("data inside the header", with([](Bitmap &b) { b.bitCount = 24, b.palette = {}, b.dataOffset = 20; }),
         Result::BadDataOffset),
        Refused("data offset past the end", with([](Bitmap &b) { b.bitCount = 24, b.palette = {}, b.dataOffset = 5000; }).substr(0, 100),
         Result::ShortData),
        Refused("wider than the limit", with([](Bitmap &b) { b.width = MaxDimension + 1; }), Result::TooLarge),
        Refused("huge run-length image", with([](Bitmap &b) { b.compression = BiRle8, b.width = 20000, b.height = 20000; }),
         Result::TooLarge),
        Refused("run lengths longer than the file", with([](Bitmap &b) { b.compression = BiRle8, b.sizeImage = 9; }),
         Result::ShortData),
        /* found while decoding */
        Refused("literal cut short", rle(BiRle8, Bytes({0, 4, 1, 1})), Result::ShortRun),
        Refused("run past the row, then nothing", rle(BiRle8, Bytes({5, 1})), Result::ShortRun),
        Refused("run index beyond the palette", rle(BiRle8, Bytes({1, 3})), Result::BadIndex),
        Refused("RLE4 nibble beyond the palette", rle(BiRle4, Bytes({2, 0x13})), Result::BadIndex),
        Refused("1-bit index beyond the palette", pixels(1, {0}, Bytes({0x20})), Result::BadIndex),
    };
    for (const Refusal &c : cases) ExpectRefused(c);
    /* Run lengths can lose their end and keep a sound header. */
    Bitmap cut = Make(40, 5, 3, 4, 2, std::vector<uint32_t>(16, 0x445566), {},
                      Bytes({5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 2, 0x99, 0, 1}));
    cut.sizeImage = 0;
    ExpectCutsRefused(Build(cut), 1, 2);
}

TEST(BmpCodec, RunLengthEncodingIsExact)
{
    auto encode = [](Kind kind, uint32_t compression, unsigned colours, std::vector<uint8_t> row) {
        Layout layout;
        layout.kind = kind, layout.width = int32_t(row.size()), layout.height = 1, layout.compression = compression;
        layout.paletteEntries = colours;
        EXPECT_EQ(Result::Ok, PlanWrite(layout));
        EXPECT_EQ(compression, layout.compression);
        std::vector<uint8_t> out;
        EncodeRleRow(layout, row.data(), out);
        return std::string(out.begin(), out.end());
    };
    /* run of 3; literal 1 2 3 (padded); run of 3; two runs of one; end of line */
    EXPECT_EQ(Bytes({3, 4, 0, 3, 1, 2, 3, 0, 3, 5, 1, 7, 1, 6, 0, 0}),
              encode(Kind::Index8, BiRle8, 8, {4, 4, 4, 1, 2, 3, 5, 5, 5, 7, 6}));
    EXPECT_EQ(Bytes({3, 0x99, 0, 4, 0x12, 0x38, 0, 0}), encode(Kind::Index4, BiRle4, 16, {9, 9, 9, 1, 2, 3, 8}));
    /* A run longer than a count byte holds is split. */
    EXPECT_EQ(Bytes({255, 5, 45, 5, 0, 0}), encode(Kind::Index8, BiRle8, 8, std::vector<uint8_t>(300, 5)));
}

TEST_F(BmpPlugin, RoundTripsAtEveryDepthAndCompressionBottomRowFirst)
{
    std::vector<uint32_t> colours20, colours16;
    for (uint32_t i = 0; i < 20; i++) colours20.push_back(i * 0x0A0B0C);
    for (uint32_t i = 0; i < 16; i++) colours16.push_back(0xFF0000 - i * 0x0F0301);
    const struct {
        const char *name;
        DWORD dataType, bits, compression;
        std::vector<uint32_t> palette;
        unsigned limit;               /* values below this */
        LONG width;
        DWORD readBits, readType, readCompression, paletteEntries;
    } cases[] = {
        {"1-bit", Q32_TYPE_BILEVEL, 1, 0, {0x000080, 0xFFFF00}, 256, 13, 1, Q32_TYPE_BILEVEL, 0, 2},
        {"4-bit palette", Q32_TYPE_PALETTE4, 4, 0, colours16, 16, 7, 4, Q32_TYPE_PALETTE4, 0, 16},
        {"16 colours one byte a pixel", Q32_TYPE_COLOURS16, 8, 0, colours16, 16, 5, 4, Q32_TYPE_PALETTE4, 0, 16},
        {"8-bit palette of 20", Q32_TYPE_PALETTE8, 8, 0, colours20, 20, 6, 8, Q32_TYPE_PALETTE8, 0, 20},
        {"32-bit with alpha", Q32_TYPE_BGRA, 32, 0, {}, 256, 3, 32, Q32_TYPE_BGRA, Q32_COMPRESS_BITFIELDS, 0},
        {"RLE8", Q32_TYPE_PALETTE8, 8, Q32_COMPRESS_RLE8, colours20, 20, 300, 8, Q32_TYPE_PALETTE8, Q32_COMPRESS_RLE8, 20},
        {"RLE4", Q32_TYPE_PALETTE4, 4, Q32_COMPRESS_RLE4, colours16, 16, 301, 4, Q32_TYPE_PALETTE4, Q32_COMPRESS_RLE4, 16},
        {"RLE8 asked of 24-bit", Q32_TYPE_RGB, 24, Q32_COMPRESS_RLE8, {}, 256, 4, 24, Q32_TYPE_RGB, 0, 0},
    };
    unsigned seed = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rows source, back;
        source.byY = RandomRows(c.dataType, c.bits, c.width, 5, c.limit, seed++);
        HGLOBAL original = NewFileData(c.dataType, c.bits, c.width, 5, c.palette, c.compression);
        RasterFacts facts;
        std::string first = dir / "first.bmp", second = dir / "second.bmp";
        RoundTrip(first, original, source, back, &facts);
        FreeFileData(original);
        EXPECT_EQ((std::vector<LONG>{4, 3, 2, 1, 0}), source.ys);
        EXPECT_EQ(c.readBits, facts.bits);
        EXPECT_EQ(c.readType, facts.dataType);
        EXPECT_EQ(c.readCompression, facts.compression);
        EXPECT_EQ(c.paletteEntries, facts.palette.size());
        facts.palette.resize(c.palette.size());
        EXPECT_EQ(c.palette, facts.palette);

        /* What was read, written again, is the same file. */
        HGLOBAL read = HGLOBAL(FileData(first));
        ASSERT_EQ(1, Write(second, read, back)) << ReadError().text;
        FreeFileData(read);
        EXPECT_EQ(ReadFileBytes(first), ReadFileBytes(second));
    }
}

TEST_F(BmpPlugin, WritesTheStandardLayoutOverALongerFile)
{
    Rows rgb, indices;
    rgb.byY = {{0, Bytes({1, 2, 3, 4, 5, 6})}, {1, Bytes({7, 8, 9, 10, 11, 12})}};
    indices.byY = {{0, Bytes({2, 0, 1})}};
    const std::vector<uint32_t> palette = {0x112233, 0x445566, 0x778899};
    Bitmap b24 = Make(40, 2, 2, 24, 0, {}, {}, StoreRows({rgb.byY[0], rgb.byY[1]}, 2, 24));
    Bitmap b8 = Make(40, 3, 1, 8, 0, palette, {}, StoreRows({Bytes({2, 0, 1})}, 3, 8));
    for (auto [data, rows, expected] : {std::tuple{NewFileData(Q32_TYPE_RGB, 24, 2, 2), &rgb, Build(b24)},
                                        std::tuple{NewFileData(Q32_TYPE_PALETTE8, 8, 3, 1, palette), &indices, Build(b8)}}) {
        WriteFileBytes(dir / "long.bmp", std::string(5000, 'x'));
        ASSERT_EQ(1, Write(dir / "long.bmp", data, *rows));
        FreeFileData(data);
        EXPECT_EQ(expected, ReadFileBytes(dir / "long.bmp"));
    }
}

TEST_F(BmpPlugin, RefusesToWriteIndicesBeyondThePalette)
{
    Rows rows;
    rows.byY = {{0, Bytes({0, 1, 2, 3})}};
    HGLOBAL fileData = NewFileData(Q32_TYPE_PALETTE8, 8, 4, 1, {1, 2, 3});
    EXPECT_EQ(0, Write(dir / "w.bmp", fileData, rows));
    fio.ExpectError(4026, QF_ENTRY_WRITE, 30);
    FreeFileData(fileData);
}

} // namespace
