/*
 * The wireless bitmap: its codec's numbers and headers, and wbmp.fio driven through its
 * ordinal entries: reading, regions, writing with and without a palette, and the files
 * it refuses.
 */
#include <gtest/gtest.h>
#include "fio_driver.h"
#include "holders.h"
#include "q32fio.h"
#include "q32types.h"
#include "wbmp_codec.h"
#include <map>

using namespace q32test;
using q32::Locked;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += char(v);
    return out;
}

TEST(WbmpCodec, NumbersAndHeaders)
{
    const struct { uint32_t value; std::string bytes; } numbers[] = {
        {0, Bytes({0})}, {127, Bytes({0x7F})}, {128, Bytes({0x81, 0x00})}, {300, Bytes({0x82, 0x2C})},
        {0xFFFFFFFFu, Bytes({0x8F, 0xFF, 0xFF, 0xFF, 0x7F})},
    };
    for (const auto &n : numbers) {
        SCOPED_TRACE(n.value);
        std::vector<uint8_t> out;
        wbmp::PutNumber(out, n.value);
        EXPECT_EQ(n.bytes, std::string(out.begin(), out.end()));
        size_t at = 0;
        uint32_t value = 1;
        ASSERT_TRUE(wbmp::ReadNumber(out.data(), out.size(), at, value));
        EXPECT_EQ(n.value, value);
        EXPECT_EQ(out.size(), at);
    }
    const uint8_t tooLong[] = {0x90, 0x80, 0x80, 0x80, 0x00}, sixBytes[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x01},
                  cut[] = {0x81};
    size_t at = 0;
    uint32_t value;
    EXPECT_FALSE(wbmp::ReadNumber(tooLong, sizeof tooLong, at, value));
    at = 0;
    EXPECT_FALSE(wbmp::ReadNumber(sixBytes, sizeof sixBytes, at, value)) << "six bytes, though the value fits";
    at = 0;
    EXPECT_FALSE(wbmp::ReadNumber(cut, sizeof cut, at, value));

    const struct {
        const char *name;
        std::string head;
        uint64_t fileSize;
        wbmp::Result result;
    } headers[] = {
        {"9 x 2", Bytes({0, 0, 9, 2}), 4 + 4, wbmp::Result::Ok},
        {"two-byte width", Bytes({0, 0, 0x81, 0x00, 1}), 5 + 16, wbmp::Result::Ok},
        {"rows cut short", Bytes({0, 0, 9, 2}), 4 + 3, wbmp::Result::ShortData},
        {"another type", Bytes({1, 0, 9, 2}), 100, wbmp::Result::NotWbmp},
        {"extension headers", Bytes({0, 0x80, 9, 2}), 100, wbmp::Result::NotWbmp},
        {"no height", Bytes({0, 0, 1, 0}), 100, wbmp::Result::NotWbmp},
        {"header cut", Bytes({0, 0, 0x81}), 3, wbmp::Result::ShortHeader},
        {"beyond the limit", Bytes({0, 0, 0xC0, 0x80, 0x80, 0x00, 1}), 1 << 30, wbmp::Result::TooLarge},
    };
    for (const auto &h : headers) {
        SCOPED_TRACE(h.name);
        wbmp::Header header;
        EXPECT_EQ(h.result, wbmp::ParseHeader(reinterpret_cast<const uint8_t *>(h.head.data()), h.head.size(),
                                              h.fileSize, header));
    }
    /* The bits past the width are cleared, whatever the width. */
    for (uint32_t width : {1u, 7u, 8u, 9u, 15u}) {
        uint8_t row[2] = {0xFF, 0xFF};
        wbmp::ClearPadding(row, width);
        EXPECT_EQ(width > 8 ? 0xFF : uint8_t(0xFF << (8 - width)), row[0]) << width;
        EXPECT_EQ(width > 8 ? uint8_t(0xFF << (16 - width)) : 0xFF, row[1]) << width;
    }
    std::vector<uint8_t> built = wbmp::BuildHeader(200, 3);
    EXPECT_EQ(Bytes({0, 0, 0x81, 0x48, 3}), std::string(built.begin(), built.end()));
}

/* wbmp.fio through the shared driver; it opens files itself. */
class WbmpPlugin : public ::testing::Test {
protected:
    static inline PluginDriver *driver;
    TempDir dir;

    static void SetUpTestSuite() { driver = new PluginDriver("wbmp.fio"); }
    static void TearDownTestSuite() { delete driver; }
    void SetUp() override
    {
        ASSERT_NE(nullptr, driver->handle());
        c32ResetDLLErrInfo();
    }
    template <typename F>
    static F Entry(int offset) { return driver->Entry<F>(0, offset); }
    INT_PTR GetFileData(const std::string &path) { return driver->FileData(0, path); }
    INT_PTR Read(const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {})
    {
        return driver->Read(0, path, fileData, rows, request, true);
    }
    INT_PTR Write(const std::string &path, HGLOBAL fileData, Rows &rows) { return driver->Write(0, path, fileData, rows); }
    static HGLOBAL NewFileData(DWORD dataType, DWORD bits, LONG width, LONG height, HPALETTE palette = nullptr)
    {
        HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
        Locked<FileData> d(block);
        d->raster = {bits, width, height, 0, 0, dataType, palette};
        return block;
    }
    static void Free(HGLOBAL fileData) { FreeFileData(fileData); }
    static void ExpectError(UINT id, int entry, int place) { ExpectPluginError(id, 1792, entry, place); }
};

TEST_F(WbmpPlugin, DeclaresOneBilevelFormat)
{
    HGLOBAL block = Entry<PFN_qfDLLGetFormatInfo>(11)();
    ASSERT_NE(nullptr, block);
    {
        Locked<FormatInfo> info(block);
        EXPECT_STREQ("WBM", info->code);
        EXPECT_EQ(Q32_CAP_BILEVEL, info->typeCaps);
        EXPECT_EQ(2, info->signatureLength1);
        EXPECT_EQ(0, memcmp(info->signature1, "\0\0", 2));
    }
    GlobalFree(block);
}

TEST_F(WbmpPlugin, ReadsRowsAndRegions)
{
    std::string path = dir / "a.wbmp";
    /* 12 x 3; the pad bits of the stored rows are set, as some writers leave them. */
    WriteFileBytes(path, Bytes({0, 0, 12, 3, 0xA5, 0xFF, 0x0F, 0x3C, 0x80, 0x0F}));
    HGLOBAL fileData = HGLOBAL(GetFileData(path));
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    {
        Locked<FileData> d(fileData);
        EXPECT_EQ(Q32_TYPE_BILEVEL, d->raster.dataType);
        EXPECT_EQ(1u, d->raster.bitsPerPixel);
        EXPECT_EQ(12, d->raster.width);
        EXPECT_EQ(3, d->raster.height);
        EXPECT_EQ(nullptr, d->raster.palette);
        EXPECT_EQ(10u, d->fileSize);
    }
    Rows all;
    ASSERT_EQ(1, Read(path, fileData, all));
    EXPECT_EQ((std::map<LONG, std::string>{{0, Bytes({0xA5, 0xF0})}, {1, Bytes({0x0F, 0x30})}, {2, Bytes({0x80, 0x00})}}),
              all.byY);
    EXPECT_EQ((std::vector<LONG>{3}), all.blocks);

    ImageRequest region = {};
    region.rasterX = 9, region.rasterY = 1, region.rasterWidth = 2, region.rasterHeight = 1;
    Rows part;
    ASSERT_EQ(1, Read(path, fileData, part, region));
    EXPECT_EQ((std::vector<LONG>{8}), part.xs);
    EXPECT_EQ((std::vector<LONG>{3}), part.counts);
    EXPECT_EQ(Bytes({0x20}), part.byY[1]);

    region.rasterX = 12;
    Rows none;
    EXPECT_EQ(0, Read(path, fileData, none, region));
    ExpectError(4026, 16, 47);
    Free(fileData);
}

TEST_F(WbmpPlugin, WritesWhatItReadsAndHonoursAPalette)
{
    Rows source;
    source.byY = {{0, Bytes({0xA5, 0xC0})}, {1, Bytes({0x00, 0x40})}};
    std::string path = dir / "w.wbmp";
    HGLOBAL fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 10, 2);
    ASSERT_EQ(1, Write(path, fileData, source)) << ReadError().text;
    Free(fileData);
    EXPECT_EQ(Bytes({0, 0, 10, 2, 0xA5, 0xC0, 0x00, 0x40}), ReadFileBytes(path));

    /* A palette whose first colour is the light one: the bits turn over. */
    struct { WORD version, count; PALETTEENTRY entries[2]; } logical = {0x300, 2, {{250, 250, 250, 0}, {10, 10, 10, 0}}};
    Rows inverted;
    inverted.byY = source.byY;
    fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 10, 2, CreatePalette(reinterpret_cast<LOGPALETTE *>(&logical)));
    ASSERT_EQ(1, Write(path, fileData, inverted));
    Free(fileData);
    EXPECT_EQ(Bytes({0, 0, 10, 2, 0x5A, 0x00, 0xFF, 0x80}), ReadFileBytes(path));

    /* Wide images: a two-byte width, rows in blocks. */
    Rows wide;
    for (LONG y = 0; y < 50; y++) wide.byY[y] = std::string(38, char(y * 5)).append(1, char(y & 0xF0));
    fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 308, 50);
    ASSERT_EQ(1, Write(path, fileData, wide));
    Free(fileData);
    fileData = HGLOBAL(GetFileData(path));
    ASSERT_GT(INT_PTR(fileData), 0);
    Rows back;
    ASSERT_EQ(1, Read(path, fileData, back));
    EXPECT_EQ(wide.byY, back.byY);
    Free(fileData);
}

TEST_F(WbmpPlugin, RefusesWhatItCannotDo)
{
    Rows rows;
    rows.byY = {{0, Bytes({1, 2, 3})}};
    HGLOBAL fileData = NewFileData(Q32_TYPE_GREY8, 8, 3, 1);
    EXPECT_EQ(0, Write(dir / "g.wbmp", fileData, rows));
    ExpectError(4026, 17, 46);
    Free(fileData);

    Rows stopping;
    stopping.byY = {{0, Bytes({0xFF})}};
    stopping.stopAfter = 1;
    fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 8, 1);
    c32ResetDLLErrInfo();
    EXPECT_EQ(Q32_WRITE_STOPPED, Write(dir / "s.wbmp", fileData, stopping));
    EXPECT_EQ(0u, ReadError().id);
    Free(fileData);

    const struct {
        const char *name;
        std::string bytes;
        INT_PTR result;
        UINT id;
        int place;
    } files[] = {
        {"an icon", Bytes({0, 0, 1, 0, 1, 0, 16, 16}), 0, 0, 0},
        {"a PNG", "\x89PNG\r\n\x1A\n....", 0, 0, 0},
        {"another type", Bytes({2, 0, 8, 1, 0xFF}), 0, 0, 0},
        {"rows cut short", Bytes({0, 0, 16, 4, 1, 2, 3}), -1, 4020, 4},
        {"too large", Bytes({0, 0, 0xC0, 0x80, 0x80, 0x00, 1, 0}), -1, 4021, 3},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        c32ResetDLLErrInfo();
        WriteFileBytes(dir / "f.wbmp", f.bytes);
        EXPECT_EQ(f.result, GetFileData(dir / "f.wbmp"));
        if (f.id) ExpectError(f.id, 12, f.place);
        else EXPECT_EQ(0u, ReadError().id);
    }

    /* Cut after its FileData was made. */
    WriteFileBytes(dir / "c.wbmp", Bytes({0, 0, 8, 2, 0xFF, 0x00}));
    fileData = HGLOBAL(GetFileData(dir / "c.wbmp"));
    ASSERT_GT(INT_PTR(fileData), 0);
    WriteFileBytes(dir / "c.wbmp", Bytes({0, 0, 8, 2, 0xFF}));
    Rows cut;
    EXPECT_EQ(0, Read(dir / "c.wbmp", fileData, cut));
    ExpectError(4020, 16, 4);
    GlobalFree(fileData);
}

} // namespace
