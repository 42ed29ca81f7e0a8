/*
 * The wireless bitmap: its codec's numbers and headers, and wbmp.fio reading rows (their
 * padding bits cleared), writing with and without a palette, and the files it refuses.
 */
#include "fio_driver.h"
#include "wbmp_codec.h"

using namespace q32test;

namespace {

TEST(WbmpCodec, NumbersHeadersAndPadding)
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
    /* Past 32 bits; six bytes though the value fits; cut. */
    for (std::string bad : {Bytes({0x90, 0x80, 0x80, 0x80, 0x00}), Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), Bytes({0x81})}) {
        size_t at = 0;
        uint32_t value;
        EXPECT_FALSE(wbmp::ReadNumber(reinterpret_cast<const uint8_t *>(bad.data()), bad.size(), at, value)) << bad.size();
    }
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
        wbmp::Header header;
        EXPECT_EQ(h.result, wbmp::ParseHeader(reinterpret_cast<const uint8_t *>(h.head.data()), h.head.size(),
                                              h.fileSize, header)) << h.name;
    }
    for (uint32_t width : {1u, 7u, 8u, 9u, 15u}) {
        uint8_t row[2] = {0xFF, 0xFF};
        wbmp::ClearPadding(row, width);
        EXPECT_EQ(width > 8 ? 0xFF : uint8_t(0xFF << (8 - width)), row[0]) << width;
        EXPECT_EQ(width > 8 ? uint8_t(0xFF << (16 - width)) : 0xFF, row[1]) << width;
    }
    std::vector<uint8_t> built = wbmp::BuildHeader(200, 3);
    EXPECT_EQ(Bytes({0, 0, 0x81, 0x48, 3}), std::string(built.begin(), built.end()));
}

class WbmpPlugin : public FioTest {
protected:
    WbmpPlugin() : FioTest("wbmp.fio", 1792) {}
};

TEST_F(WbmpPlugin, ReadsRowsWithTheirPaddingCleared)
{
    /* 12 x 3; the pad bits of the stored rows are set, as some writers leave them. */
    Rows all, part;
    RasterFacts facts;
    ASSERT_EQ(1, Take(Bytes({0, 0, 12, 3, 0xA5, 0xFF, 0x0F, 0x3C, 0x80, 0x0F}), all, &facts)) << ReadError().text;
    EXPECT_EQ(1u, facts.bits);
    EXPECT_TRUE(facts.palette.empty());
    EXPECT_EQ((std::map<LONG, std::string>{{0, Bytes({0xA5, 0xF0})}, {1, Bytes({0x0F, 0x30})}, {2, Bytes({0x80, 0x00})}}),
              all.byY);
    EXPECT_EQ((std::vector<LONG>{3}), all.blocks);
    ImageRequest region = {};
    region.rasterX = 9, region.rasterY = 1, region.rasterWidth = 2, region.rasterHeight = 1;
    ASSERT_EQ(1, Take(Bytes({0, 0, 12, 3, 0xA5, 0xFF, 0x0F, 0x3C, 0x80, 0x0F}), part, nullptr, region));
    EXPECT_EQ((std::vector<LONG>{8}), part.xs);
    EXPECT_EQ((std::vector<LONG>{3}), part.counts);
    EXPECT_EQ(Bytes({0x20}), part.byY[1]);
}

TEST_F(WbmpPlugin, WritesWhatItReadsAndHonoursAPalette)
{
    const std::string plain = Bytes({0, 0, 10, 2, 0xA5, 0xC0, 0x00, 0x40});
    /* A palette whose first colour is the light one: the bits turn over. */
    for (auto [palette, expected] : {std::pair{std::vector<uint32_t>{}, plain},
                                     std::pair{std::vector<uint32_t>{0xFAFAFA, 0x0A0A0A}, Bytes({0, 0, 10, 2, 0x5A, 0x00, 0xFF, 0x80})}}) {
        Rows source;
        source.byY = {{0, Bytes({0xA5, 0xC0})}, {1, Bytes({0x00, 0x40})}};
        HGLOBAL fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 10, 2, palette);
        ASSERT_EQ(1, Write(dir / "w.wbmp", fileData, source)) << ReadError().text;
        FreeFileData(fileData);
        EXPECT_EQ(expected, ReadFileBytes(dir / "w.wbmp"));
    }
    /* Wide images: a two-byte width, rows in blocks. */
    Rows wide, back;
    for (LONG y = 0; y < 50; y++) wide.byY[y] = std::string(38, char(y * 5)).append(1, char(y & 0xF0));
    HGLOBAL fileData = NewFileData(Q32_TYPE_BILEVEL, 1, 308, 50);
    RoundTrip(dir / "wide.wbmp", fileData, wide, back);
    FreeFileData(fileData);
}

TEST_F(WbmpPlugin, RefusesDamagedFiles)
{
    const Refusal files[] = {
        {"an icon", Bytes({0, 0, 1, 0, 1, 0, 16, 16}), 12, 0, 0},
        {"another type", Bytes({2, 0, 8, 1, 0xFF}), 12, 0, 0},
        {"rows cut short", Bytes({0, 0, 16, 4, 1, 2, 3}), 12, 4020, 4},
        {"too large", Bytes({0, 0, 0xC0, 0x80, 0x80, 0x00, 1, 0}), 12, 4021, 3},
    };
    for (const Refusal &f : files) ExpectRefused(f);
}

} // namespace
