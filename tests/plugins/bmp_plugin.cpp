/*
 * bmp.fio loaded as the module loads it and driven through its ordinal entries: what it
 * declares, what it reads from hand-made files, round trips through its writer, and the
 * damaged files it refuses.
 */
#include <gtest/gtest.h>
#include "fio_driver.h"
#include "q32fio.h"
#include "q32types.h"
#include "bmp_files.h"
#include "holders.h"
#include <map>
#include <random>

using namespace q32test;
using bmptest::Bitmap;
using bmptest::Build;
using bmptest::Bytes;
using bmptest::StoreRows;
using q32::Locked;

namespace {

constexpr int PluginId = 1790;
enum { EntryFileData = 12, EntryRead = 16, EntryWrite = 17 };
/* Places of the plug-in's own (the others are the codec's reasons). */
enum { PlaceArguments = 40, PlaceChanged = 45, PlaceType = 46, PlaceRegion = 47 };
enum { ShortHeader = 2, BadHeaderSize = 3, ShortData = 11, ShortRun = 13,
       BadIndex = 14, UnknownHeader = 20, TooLarge = 23, BadPixel = 30 };

struct Facts {
    DWORD bitsPerPixel, dataType, compression, paletteEntries;
};

/* bmp.fio through the shared driver; its one format is format 0. */
class BmpPlugin : public ::testing::Test {
protected:
    static inline PluginDriver *driver;
    static inline HMODULE plugin;
    TempDir dir;

    static void SetUpTestSuite()
    {
        driver = new PluginDriver("bmp.fio");
        driver->writeDisposition = OPEN_ALWAYS; /* the plug-in cuts a longer file itself */
        plugin = driver->handle();
    }
    static void TearDownTestSuite() { delete driver; }
    void SetUp() override
    {
        ASSERT_NE(nullptr, plugin);
        c32ResetDLLErrInfo();
    }
    template <typename F>
    static F Entry(int offset) { return driver->Entry<F>(0, offset); }
    INT_PTR GetFileData(const std::string &path, bool byName = false) { return driver->FileData(0, path, "", byName); }
    LONG_PTR Read(const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {}, bool byName = false)
    {
        return driver->Read(0, path, fileData, rows, request, byName);
    }
    LONG_PTR Write(const std::string &path, HGLOBAL fileData, Rows &rows) { return driver->Write(0, path, fileData, rows); }
    static Facts FactsOf(HGLOBAL fileData)
    {
        RasterFacts f = q32test::FactsOf(fileData);
        return {f.bits, f.dataType, f.compression, DWORD(f.palette.size())};
    }
    static void Free(HGLOBAL fileData) { FreeFileData(fileData); }
    static void ExpectError(UINT id, int entry, int place, const std::string &name = "")
    {
        ExpectPluginError(id, PluginId, entry, place, name);
    }
};

/* A FileData to write from, as an application fills one. */
HGLOBAL NewFileData(DWORD dataType, DWORD bitsPerPixel, LONG width, LONG height,
                    const std::vector<uint32_t> &palette = {}, DWORD compression = 0)
{
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
    Locked<FileData> d(block);
    d->raster = {bitsPerPixel, width, height, 720000, 720000, dataType,
                 palette.empty() ? nullptr : MakePalette(palette)};
    d->compression = compression;
    return block;
}

TEST_F(BmpPlugin, DeclaresOneWritableFormatWithItsSignature)
{
    auto count = reinterpret_cast<int(WINAPI *)(void)>(GetProcAddress(plugin, "qfDLLGetFileFmtNum"));
    ASSERT_NE(nullptr, count);
    EXPECT_EQ(1, count());
    HGLOBAL block = Entry<PFN_qfDLLGetFormatInfo>(11)();
    ASSERT_NE(nullptr, block);
    ASSERT_GE(GlobalSize(block), sizeof(FormatInfo));
    {
        Locked<FormatInfo> info(block);
        EXPECT_STREQ("BMP", info->code);
        EXPECT_NE(0, info->flags);
        EXPECT_EQ(0, info->flags & FI_OPENS_FILE);
        EXPECT_EQ(Q32_CAP_ALL_RASTER, info->typeCaps);
        EXPECT_EQ(-1, info->vectorType);
        EXPECT_EQ(2, info->signatureLength1);
        EXPECT_EQ(0, memcmp(info->signature1, "BM", 2));
        EXPECT_EQ(0, info->signatureLength2);
    }
    GlobalFree(block);
    /* Only the entries it has; nothing under a name but the count. */
    for (int ordinal : {10, 13, 14, 15, 18, 19, 20, 23, 25})
        EXPECT_EQ(nullptr, GetProcAddress(plugin, MAKEINTRESOURCEA(ordinal))) << ordinal;
    EXPECT_EQ(nullptr, GetProcAddress(plugin, "qfDLLRead"));
}

TEST_F(BmpPlugin, ReadsEveryVariantTopRowFirst)
{
    const std::vector<uint32_t> grey16 = [] {
        std::vector<uint32_t> p;
        for (uint32_t i = 0; i < 16; i++) p.push_back(i * 17 * 0x010101u);
        return p;
    }();
    auto bitmap = [](uint32_t headerSize, int width, int height, uint16_t bits, uint32_t compression,
                     std::vector<uint32_t> palette, std::vector<uint32_t> masks, std::string data) {
        Bitmap b;
        b.headerSize = headerSize, b.width = width, b.height = height, b.bitCount = bits;
        b.compression = compression, b.palette = palette, b.masks = masks, b.data = data;
        b.coloursUsed = headerSize == 12 ? 0 : uint32_t(palette.size());
        b.pelsPerMeter = 2835;
        return b;
    };
    const struct {
        const char *name;
        Bitmap bitmap;
        Facts facts;
        std::vector<std::string> rows; /* top row first */
    } cases[] = {
        {"OS/2 1-bit", bitmap(12, 9, 2, 1, 0, {0x000000, 0xFFFFFF}, {},
                              StoreRows({Bytes({0xF0, 0x80}), Bytes({0x0F, 0x00})}, 9, 1)),
         {1, Q32_TYPE_BILEVEL, Q32_COMPRESS_NONE, 2}, {Bytes({0xF0, 0x80}), Bytes({0x0F, 0x00})}},
        {"OS/2 24-bit", bitmap(12, 1, 2, 24, 0, {}, {}, StoreRows({Bytes({1, 2, 3}), Bytes({4, 5, 6})}, 1, 24)),
         {24, Q32_TYPE_RGB, Q32_COMPRESS_NONE, 0}, {Bytes({1, 2, 3}), Bytes({4, 5, 6})}},
        {"4-bit palette", bitmap(40, 3, 1, 4, 0, {1, 2, 3, 4, 5}, {}, StoreRows({Bytes({0x43, 0x10})}, 3, 4)),
         {4, Q32_TYPE_PALETTE4, Q32_COMPRESS_NONE, 5}, {Bytes({4, 3, 1})}},
        {"4-bit grey", bitmap(40, 2, 1, 4, 0, grey16, {}, StoreRows({Bytes({0xF1})}, 2, 4)),
         {4, Q32_TYPE_GREY4, Q32_COMPRESS_NONE, 16}, {Bytes({15, 1})}},
        {"8-bit top-down", bitmap(40, 2, -2, 8, 0, {7, 8, 9}, {}, StoreRows({Bytes({0, 1}), Bytes({2, 2})}, 2, 8, true)),
         {8, Q32_TYPE_PALETTE8, Q32_COMPRESS_NONE, 3}, {Bytes({0, 1}), Bytes({2, 2})}},
        {"RLE8 with a move", bitmap(40, 3, 3, 8, 1, {1, 2, 3}, {}, Bytes({3, 1, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1})),
         {8, Q32_TYPE_PALETTE8, Q32_COMPRESS_RLE8, 3}, {Bytes({0, 2, 2}), Bytes({0, 0, 0}), Bytes({1, 1, 1})}},
        {"RLE4 with a literal", bitmap(40, 4, 2, 4, 2, {1, 2, 3, 4}, {}, Bytes({0, 0, 0, 3, 0x12, 0x30, 0, 1})),
         {4, Q32_TYPE_PALETTE4, Q32_COMPRESS_RLE4, 4}, {Bytes({1, 2, 3, 0}), Bytes({0, 0, 0, 0})}},
        {"16-bit 565", bitmap(40, 2, 1, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, StoreRows({Bytes({0x1F, 0x00, 0x00, 0xF8})}, 2, 16)),
         {24, Q32_TYPE_RGB, Q32_COMPRESS_BITFIELDS, 0}, {Bytes({255, 0, 0, 0, 0, 255})}},
        {"16-bit 555 bottom-up", bitmap(40, 1, 2, 16, 0, {}, {}, StoreRows({Bytes({0xE0, 0x03}), Bytes({0, 0})}, 1, 16)),
         {24, Q32_TYPE_RGB, Q32_COMPRESS_NONE, 0}, {Bytes({0, 255, 0}), Bytes({0, 0, 0})}},
        {"32-bit without alpha", bitmap(40, 1, 1, 32, 0, {}, {}, Bytes({1, 2, 3, 0})),
         {24, Q32_TYPE_RGB, Q32_COMPRESS_NONE, 0}, {Bytes({1, 2, 3})}},
        {"V4 with alpha", bitmap(108, 1, 1, 32, 3, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, Bytes({1, 2, 3, 4})),
         {32, Q32_TYPE_BGRA, Q32_COMPRESS_BITFIELDS, 0}, {Bytes({1, 2, 3, 4})}},
        {"V5 with alpha first", bitmap(124, 1, 1, 32, 3, {}, {0xFF00, 0xFF0000, 0xFF000000u, 0xFF}, Bytes({9, 8, 7, 6})),
         {32, Q32_TYPE_BGRA, Q32_COMPRESS_BITFIELDS, 0}, {Bytes({6, 7, 8, 9})}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "variant.bmp";
        WriteFileBytes(path, Build(c.bitmap));
        HGLOBAL fileData = HGLOBAL(GetFileData(path));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        Facts facts = FactsOf(fileData);
        EXPECT_EQ(c.facts.bitsPerPixel, facts.bitsPerPixel);
        EXPECT_EQ(c.facts.dataType, facts.dataType);
        EXPECT_EQ(c.facts.compression, facts.compression);
        EXPECT_EQ(c.facts.paletteEntries, facts.paletteEntries);
        {
            Locked<FileData> d(fileData);
            EXPECT_EQ(c.bitmap.width, d->raster.width);
            EXPECT_EQ(LONG(c.rows.size()), d->raster.height);
            EXPECT_EQ(DWORD(Build(c.bitmap).size()), d->fileSize);
            EXPECT_NE(0u, d->readable);
            EXPECT_EQ(Q32_WRITE_ANY, d->writeKind);
            /* OS/2 headers carry no resolution; 2835 pixels a metre are 72 dpi. */
            EXPECT_EQ(c.bitmap.headerSize == 12 ? 0u : 720090u, d->raster.resolutionX);
        }
        Rows rows;
        EXPECT_EQ(1, Read(path, fileData, rows)) << ReadError().text;
        std::vector<std::string> got;
        for (auto &[y, row] : rows.byY) got.push_back(row);
        EXPECT_EQ(c.rows, got);
        std::vector<LONG> order;
        for (LONG y = 0; y < LONG(c.rows.size()); y++) order.push_back(y);
        EXPECT_EQ(order, rows.ys);
        Free(fileData);
    }
}

TEST_F(BmpPlugin, PalettesAreRealPalettes)
{
    Bitmap b;
    b.bitCount = 8, b.width = 1, b.palette = {0x102030, 0xA0B0C0}, b.coloursUsed = 2;
    b.data = StoreRows({Bytes({1})}, 1, 8);
    WriteFileBytes(dir / "p.bmp", Build(b));
    HGLOBAL fileData = HGLOBAL(GetFileData(dir / "p.bmp"));
    ASSERT_GT(INT_PTR(fileData), 0);
    Locked<FileData> d(fileData);
    PALETTEENTRY entries[4] = {};
    ASSERT_EQ(2u, GetPaletteEntries(d->raster.palette, 0, 4, entries));
    EXPECT_EQ(0x10, entries[0].peRed);
    EXPECT_EQ(0x30, entries[0].peBlue);
    EXPECT_EQ(0xB0, entries[1].peGreen);
}

TEST_F(BmpPlugin, RoundTripsAtEveryDepthAndCompression)
{
    std::vector<uint32_t> colours20, colours16;
    for (uint32_t i = 0; i < 20; i++) colours20.push_back(i * 0x0A0B0C);
    for (uint32_t i = 0; i < 16; i++) colours16.push_back(0xFF0000 - i * 0x0F0301);
    const struct {
        const char *name;
        DWORD dataType, bitsPerPixel, compression;
        std::vector<uint32_t> palette;
        unsigned limit;              /* values below this */
        LONG width;
        Facts readBack;
    } cases[] = {
        {"1-bit", Q32_TYPE_BILEVEL, 1, 0, {0x000080, 0xFFFF00}, 256, 13, {1, Q32_TYPE_BILEVEL, 0, 2}},
        {"1-bit, no palette", Q32_TYPE_BILEVEL, 1, 0, {}, 256, 8, {1, Q32_TYPE_BILEVEL, 0, 2}},
        {"4-bit palette", Q32_TYPE_PALETTE4, 4, 0, colours16, 16, 7, {4, Q32_TYPE_PALETTE4, 0, 16}},
        {"4-bit grey", Q32_TYPE_GREY4, 4, 0, {}, 16, 9, {4, Q32_TYPE_GREY4, 0, 16}},
        {"16 colours one byte a pixel", Q32_TYPE_COLOURS16, 8, 0, colours16, 16, 5, {4, Q32_TYPE_PALETTE4, 0, 16}},
        {"8-bit palette of 20", Q32_TYPE_PALETTE8, 8, 0, colours20, 20, 6, {8, Q32_TYPE_PALETTE8, 0, 20}},
        {"8-bit grey", Q32_TYPE_GREY8, 8, 0, {}, 256, 3, {8, Q32_TYPE_GREY8, 0, 256}},
        {"24-bit", Q32_TYPE_RGB, 24, 0, {}, 256, 5, {24, Q32_TYPE_RGB, 0, 0}},
        {"32-bit with alpha", Q32_TYPE_BGRA, 32, 0, {}, 256, 3, {32, Q32_TYPE_BGRA, Q32_COMPRESS_BITFIELDS, 0}},
        {"RLE8", Q32_TYPE_PALETTE8, 8, Q32_COMPRESS_RLE8, colours20, 20, 300, {8, Q32_TYPE_PALETTE8, Q32_COMPRESS_RLE8, 20}},
        {"RLE4", Q32_TYPE_PALETTE4, 4, Q32_COMPRESS_RLE4, colours16, 16, 301, {4, Q32_TYPE_PALETTE4, Q32_COMPRESS_RLE4, 16}},
        {"RLE8 asked of 24-bit", Q32_TYPE_RGB, 24, Q32_COMPRESS_RLE8, {}, 256, 4, {24, Q32_TYPE_RGB, 0, 0}},
    };
    const LONG height = 5;
    unsigned seed = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rows source;
        source.byY = RandomRows(c.dataType, c.bitsPerPixel, c.width, height, c.limit, seed++);
        HGLOBAL original = NewFileData(c.dataType, c.bitsPerPixel, c.width, height, c.palette, c.compression);
        std::string first = dir / "first.bmp", second = dir / "second.bmp";
        ASSERT_EQ(1, Write(first, original, source)) << ReadError().text;
        std::vector<LONG> bottomFirst;
        for (LONG y = height - 1; y >= 0; y--) bottomFirst.push_back(y);
        EXPECT_EQ(bottomFirst, source.ys);

        HGLOBAL fileData = HGLOBAL(GetFileData(first));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        Facts facts = FactsOf(fileData);
        EXPECT_EQ(c.readBack.bitsPerPixel, facts.bitsPerPixel);
        EXPECT_EQ(c.readBack.dataType, facts.dataType);
        EXPECT_EQ(c.readBack.compression, facts.compression);
        EXPECT_EQ(c.readBack.paletteEntries, facts.paletteEntries);
        if (!c.palette.empty()) {
            PALETTEENTRY entries[256];
            Locked<FileData> d(fileData);
            UINT n = GetPaletteEntries(d->raster.palette, 0, 256, entries);
            for (UINT i = 0; i < n && i < c.palette.size(); i++)
                EXPECT_EQ(c.palette[i], uint32_t(entries[i].peRed << 16 | entries[i].peGreen << 8 | entries[i].peBlue));
        }
        Rows back;
        ASSERT_EQ(1, Read(first, fileData, back)) << ReadError().text;
        EXPECT_EQ(source.byY, back.byY);

        /* What was read, written again, is the same file. */
        back.ys.clear();
        ASSERT_EQ(1, Write(second, fileData, back)) << ReadError().text;
        EXPECT_EQ(ReadFileBytes(first), ReadFileBytes(second));
        Free(fileData);
        Free(original);
    }
}

TEST_F(BmpPlugin, WrittenFilesHaveTheStandardLayout)
{
    /* The writer's bytes against files built field by field. */
    Rows rgb;
    rgb.byY = {{0, Bytes({1, 2, 3, 4, 5, 6})}, {1, Bytes({7, 8, 9, 10, 11, 12})}};
    HGLOBAL fileData = NewFileData(Q32_TYPE_RGB, 24, 2, 2);
    ASSERT_EQ(1, Write(dir / "rgb.bmp", fileData, rgb));
    Free(fileData);
    Bitmap b;
    b.width = 2, b.height = 2, b.pelsPerMeter = 2835;
    b.data = StoreRows({rgb.byY[0], rgb.byY[1]}, 2, 24);
    EXPECT_EQ(Build(b), ReadFileBytes(dir / "rgb.bmp"));

    Rows indices;
    indices.byY = {{0, Bytes({2, 0, 1})}};
    fileData = NewFileData(Q32_TYPE_PALETTE8, 8, 3, 1, {0x112233, 0x445566, 0x778899});
    ASSERT_EQ(1, Write(dir / "pal.bmp", fileData, indices));
    Free(fileData);
    b = Bitmap{};
    b.width = 3, b.bitCount = 8, b.pelsPerMeter = 2835, b.palette = {0x112233, 0x445566, 0x778899};
    b.coloursUsed = 3, b.data = StoreRows({Bytes({2, 0, 1})}, 3, 8);
    EXPECT_EQ(Build(b), ReadFileBytes(dir / "pal.bmp"));

    /* Writing over a longer file leaves nothing of it behind. */
    WriteFileBytes(dir / "long.bmp", std::string(5000, 'x'));
    fileData = NewFileData(Q32_TYPE_PALETTE8, 8, 3, 1, {0x112233, 0x445566, 0x778899});
    ASSERT_EQ(1, Write(dir / "long.bmp", fileData, indices));
    Free(fileData);
    EXPECT_EQ(ReadFileBytes(dir / "pal.bmp"), ReadFileBytes(dir / "long.bmp"));
}

TEST_F(BmpPlugin, RegionsPartRowsAndStops)
{
    std::vector<std::string> rows;
    for (int y = 0; y < 4; y++) {
        std::string row;
        for (int x = 0; x < 6; x++) row += Bytes({x, y, 9});
        rows.push_back(row);
    }
    Bitmap b;
    b.width = 6, b.height = 4, b.data = StoreRows(rows, 6, 24);
    std::string path = dir / "r.bmp";
    WriteFileBytes(path, Build(b));
    HGLOBAL fileData = HGLOBAL(GetFileData(path));
    ASSERT_GT(INT_PTR(fileData), 0);

    ImageRequest region = {};
    region.rasterX = 2, region.rasterY = 1, region.rasterWidth = 3, region.rasterHeight = 9;
    Rows part;
    EXPECT_EQ(1, Read(path, fileData, part, region));
    EXPECT_EQ((std::vector<LONG>{1, 2, 3}), part.ys);
    EXPECT_EQ((std::vector<LONG>{2, 2, 2}), part.xs);
    EXPECT_EQ((std::vector<LONG>{3, 3, 3}), part.counts);
    EXPECT_EQ(rows[2].substr(6, 9), part.byY[2]);

    Rows stopped;
    stopped.stopAfter = 2;
    EXPECT_EQ(Q32_READ_STOPPED, Read(path, fileData, stopped));
    EXPECT_EQ(2u, stopped.ys.size());

    region = {};
    region.rasterX = 6, region.rasterWidth = 2, region.rasterHeight = 2;
    Rows none;
    EXPECT_EQ(0, Read(path, fileData, none, region));
    EXPECT_TRUE(none.ys.empty());
    ExpectError(4026, EntryRead, PlaceRegion);
    Free(fileData);

    /* Packed pixels: a part row starts at the byte that holds its first pixel. */
    b = Bitmap{};
    b.bitCount = 1, b.width = 20, b.palette = {0, 0xFFFFFF};
    b.data = StoreRows({Bytes({0x12, 0x34, 0x50})}, 20, 1);
    WriteFileBytes(path, Build(b));
    fileData = HGLOBAL(GetFileData(path));
    region = {};
    region.rasterX = 11, region.rasterWidth = 5, region.rasterHeight = 1;
    Rows bits;
    EXPECT_EQ(1, Read(path, fileData, bits, region));
    EXPECT_EQ((std::vector<LONG>{8}), bits.xs);
    EXPECT_EQ((std::vector<LONG>{8}), bits.counts);
    EXPECT_EQ(Bytes({0x34}), bits.byY[0]);
    /* The same part row as colour, for a caller that takes only that. */
    region.rasterTypes = Q32_TYPES_ONLY | Q32_TYPE_RGB;
    Rows colour;
    EXPECT_EQ(1, Read(path, fileData, colour, region));
    std::string expected;
    for (int bit = 7; bit >= 0; bit--) expected += std::string(3, (0x34 >> bit & 1) ? '\xFF' : '\0');
    EXPECT_EQ((std::vector<LONG>{8}), colour.xs);
    EXPECT_EQ(expected, colour.byY[0]);
    region.rasterTypes = Q32_TYPES_ONLY | Q32_TYPE_CMYK;
    Rows nothing;
    EXPECT_EQ(0, Read(path, fileData, nothing, region));
    ExpectError(4026, EntryRead, 57);

    /* Rounding down to the byte must not pull a region past the right edge back in. */
    for (LONG x : {20, 22}) {
        region = {};
        region.rasterX = x, region.rasterWidth = 3, region.rasterHeight = 1;
        Rows outside;
        EXPECT_EQ(0, Read(path, fileData, outside, region)) << x;
        EXPECT_TRUE(outside.ys.empty()) << x;
        ExpectError(4026, EntryRead, PlaceRegion);
    }
    Free(fileData);
}

TEST_F(BmpPlugin, OpensTheFileByNameWithoutAHandle)
{
    Bitmap b;
    b.data = Bytes({1, 2, 3, 0});
    std::string path = dir / "n.bmp";
    WriteFileBytes(path, Build(b));
    HGLOBAL fileData = HGLOBAL(GetFileData(path, true));
    ASSERT_GT(INT_PTR(fileData), 0);
    Rows rows;
    EXPECT_EQ(1, Read(path, fileData, rows, {}, true));
    EXPECT_EQ(Bytes({1, 2, 3}), rows.byY[0]);
    Free(fileData);

    EXPECT_EQ(-1, GetFileData(dir / "missing.bmp", true));
    ExpectError(4004, EntryFileData, 41, "missing.bmp");
}

TEST_F(BmpPlugin, OtherFilesAreNotThisFormat)
{
    for (const std::string &bytes : {std::string(), std::string("B"), std::string("GIF89a....."),
                                     std::string("BA") + std::string(60, '\0')}) {
        WriteFileBytes(dir / "o.bmp", bytes);
        EXPECT_EQ(0, GetFileData(dir / "o.bmp")) << bytes;
        EXPECT_EQ(0u, ReadError().id);
    }
}

TEST_F(BmpPlugin, DamagedFilesAreRefusedWithARecordedError)
{
    Bitmap pal;
    pal.bitCount = 8, pal.width = 3, pal.height = 2, pal.palette = {1, 2, 3}, pal.coloursUsed = 3;
    pal.data = StoreRows({Bytes({0, 1, 2}), Bytes({2, 1, 0})}, 3, 8);
    auto change = [&](auto edit) {
        Bitmap b = pal;
        edit(b);
        return Build(b);
    };
    auto rle = [&](std::string runs) {
        return change([&](Bitmap &b) { b.compression = 1, b.data = runs; });
    };
    const struct {
        const char *name;
        std::string file;
        int entry;          /* where it is refused */
        UINT id;
        int place;
    } cases[] = {
        {"header size 0", change([](Bitmap &b) { b.headerSize = 0; }), EntryFileData, 4020, BadHeaderSize},
        {"header size 200", change([](Bitmap &b) { b.headerSize = 200; }), EntryFileData, 4024, UnknownHeader},
        {"cut in the header", Build(pal).substr(0, 30), EntryFileData, 4020, ShortHeader},
        {"cut in the pixels", Build(pal).substr(0, Build(pal).size() - 1), EntryFileData, 4020, ShortData},
        {"huge dimensions", change([](Bitmap &b) { b.width = 1 << 20, b.height = 1 << 20; }), EntryFileData, 4020, ShortData},
        {"beyond the limits", change([](Bitmap &b) { b.width = 0x7FFFFFFF, b.height = 0x7FFFFFFF; }), EntryFileData, 4021, TooLarge},
        {"index beyond the palette", change([](Bitmap &b) { b.data = StoreRows({Bytes({0, 1, 2}), Bytes({2, 3, 0})}, 3, 8); }),
         EntryRead, 4020, BadIndex},
        {"runs cut short", rle(Bytes({3, 1, 0, 0, 0, 3, 1})), EntryRead, 4020, ShortRun},
        {"run index beyond the palette", rle(Bytes({3, 7, 0, 1})), EntryRead, 4020, BadIndex},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "damaged.bmp";
        WriteFileBytes(path, c.file);
        c32ResetDLLErrInfo();
        INT_PTR fileData = GetFileData(path);
        if (c.entry == EntryFileData) {
            EXPECT_EQ(-1, fileData);
        } else {
            ASSERT_GT(fileData, 0) << ReadError().text;
            Rows rows;
            EXPECT_EQ(0, Read(path, HGLOBAL(fileData), rows));
            Free(HGLOBAL(fileData));
        }
        ExpectError(c.id, c.entry, c.place, "damaged.bmp");
    }
}

TEST_F(BmpPlugin, EveryTruncationIsRefusedCleanly)
{
    Bitmap pal;
    pal.bitCount = 4, pal.width = 5, pal.height = 3, pal.palette = std::vector<uint32_t>(16, 0x445566);
    pal.data = StoreRows({Bytes({0x12, 0x34, 0x50}), Bytes({0, 0, 0}), Bytes({0xFF, 0xFF, 0xF0})}, 5, 4);
    Bitmap rle = pal;
    rle.compression = 2, rle.sizeImage = 0;
    rle.data = Bytes({5, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 2, 0x99, 0, 1});
    for (const Bitmap &b : {pal, rle}) {
        std::string whole = Build(b);
        for (size_t length = 0; length < whole.size(); length++) {
            SCOPED_TRACE(length);
            std::string path = dir / "cut.bmp";
            WriteFileBytes(path, whole.substr(0, length));
            c32ResetDLLErrInfo();
            INT_PTR fileData = GetFileData(path);
            if (length < 2) {
                EXPECT_EQ(0, fileData);
                continue;
            }
            if (fileData == -1) {
                EXPECT_EQ(4020u, ReadError().id);
                continue;
            }
            /* Only run lengths can lose their end and keep a sound header. */
            ASSERT_EQ(2u, b.compression) << "a cut uncompressed file was accepted";
            ASSERT_GT(fileData, 0);
            Rows rows;
            LONG_PTR read = Read(path, HGLOBAL(fileData), rows);
            Free(HGLOBAL(fileData));
            if (read == 1 && length >= whole.size() - 2) continue; /* only the end mark lost */
            EXPECT_EQ(0, read);
            ExpectError(4020, EntryRead, ShortRun);
        }
    }
}

TEST_F(BmpPlugin, ReadRefusesAFileThatNoLongerMatchesItsFileData)
{
    Bitmap b;
    b.width = 2, b.data = StoreRows({Bytes({1, 2, 3, 4, 5, 6})}, 2, 24);
    std::string path = dir / "c.bmp";
    WriteFileBytes(path, Build(b));
    HGLOBAL fileData = HGLOBAL(GetFileData(path));
    ASSERT_GT(INT_PTR(fileData), 0);
    b.width = 9, b.data = StoreRows({std::string(27, '\7')}, 9, 24);
    WriteFileBytes(path, Build(b));
    Rows rows;
    EXPECT_EQ(0, Read(path, fileData, rows));
    EXPECT_TRUE(rows.ys.empty());
    ExpectError(4020, EntryRead, PlaceChanged, "c.bmp");
    Free(fileData);
}

TEST_F(BmpPlugin, WritesThatCannotBeDone)
{
    Rows rows;
    rows.byY = {{0, Bytes({0, 1, 2, 3})}};
    const struct {
        const char *name;
        DWORD dataType, bitsPerPixel;
        std::vector<uint32_t> palette;
        LONG_PTR result;
        UINT id;
        int place;
    } cases[] = {
        {"CMYK", Q32_TYPE_CMYK, 32, {}, 0, 4026, PlaceType},
        {"16-bit samples", Q32_TYPE_RGB48, 48, {}, 0, 4026, PlaceType},
        {"bits per pixel against the type", Q32_TYPE_RGB, 32, {}, 0, 4026, PlaceType},
        {"index beyond the palette", Q32_TYPE_PALETTE8, 8, {1, 2, 3}, 0, 4026, BadPixel},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c32ResetDLLErrInfo();
        HGLOBAL fileData = NewFileData(c.dataType, c.bitsPerPixel, 4, 1, c.palette);
        Rows source = rows;
        EXPECT_EQ(c.result, Write(dir / "w.bmp", fileData, source));
        ExpectError(c.id, EntryWrite, c.place);
        Free(fileData);
    }

    /* A caller that stops the write. */
    Rows stopping;
    stopping.byY = {{0, Bytes({1, 2, 3})}, {1, Bytes({4, 5, 6})}};
    stopping.stopAfter = 1;
    HGLOBAL fileData = NewFileData(Q32_TYPE_RGB, 24, 1, 2);
    c32ResetDLLErrInfo();
    EXPECT_EQ(Q32_WRITE_STOPPED, Write(dir / "w.bmp", fileData, stopping));
    EXPECT_EQ(0u, ReadError().id);
    Free(fileData);

    /* A FileData block too small to be one. */
    HGLOBAL small = GlobalAlloc(GHND, 100);
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.context = &rows;
    HANDLE file = CreateFileA((dir / "w.bmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(0, Entry<PFN_qfDLLWrite>(17)(file, small, &request, Supply));
    ExpectError(4026, EntryWrite, PlaceArguments);
    EXPECT_EQ(0, Entry<PFN_qfDLLRead>(16)(file, "x.bmp", small, &request, Collect, 0));
    ExpectError(4026, EntryRead, PlaceArguments);
    CloseHandle(file);
    GlobalFree(small);
}

} // namespace
