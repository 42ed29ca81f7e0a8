/*
 * The wireless bitmap: its codec's multi-byte numbers, and wbmp.fio reading rows (their
 * padding bits cleared), writing with and without a palette, and the files it refuses.
 */
#include "fio_driver.h"
#include "wbmp_codec.h"

using namespace q32test;

namespace {

TEST(WbmpCodec, MultiByteNumbers)
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
    for (std::string bad : {Bytes({0x90, 0x80, 0x80, 0x80, 0x00}), Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
                            Bytes({0x81})}) {
        size_t at = 0;
        uint32_t value;
        EXPECT_FALSE(wbmp::ReadNumber(reinterpret_cast<const uint8_t *>(bad.data()), bad.size(), at, value)) << bad.size();
    }
}

class WbmpPlugin : public FioTest {
protected:
    WbmpPlugin() : FioTest("wbmp.fio", 1792) {}
};

TEST_F(WbmpPlugin, ReadsRowsWithTheirPaddingCleared)
{
    /* The pad bits of the stored rows are set, as some writers leave them. */
    const std::string twelve = Bytes({0, 0, 12, 3, 0xA5, 0xFF, 0x0F, 0x3C, 0x80, 0x0F});
    for (auto [bytes, rows] : {std::pair{twelve, std::map<LONG, std::string>{{0, Bytes({0xA5, 0xF0})},
                                                                             {1, Bytes({0x0F, 0x30})},
                                                                             {2, Bytes({0x80, 0x00})}}},
                               std::pair{Bytes({0, 0, 9, 1, 0xFF, 0xFF}), std::map<LONG, std::string>{
                                                                             {0, Bytes({0xFF, 0x80})}}}}) {
        Rows all;
        RasterFacts facts;
        ASSERT_EQ(1, Take(bytes, all, &facts)) << ReadError().text;
        EXPECT_EQ(1u, facts.bits);
        EXPECT_TRUE(facts.palette.empty());
        EXPECT_EQ(rows, all.byY);
        EXPECT_EQ((std::vector<LONG>{LONG(rows.size())}), all.blocks);
    }
    ImageRequest region = {};
    region.rasterX = 9, region.rasterY = 1, region.rasterWidth = 2, region.rasterHeight = 1;
    Rows part;
    ASSERT_EQ(1, Take(twelve, part, nullptr, region));
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
}

TEST_F(WbmpPlugin, RefusesDamagedFiles)
{
    enum { ShortHeader = 2, TooLarge = 3, ShortData = 4 };
    /* entry, error, place: the codec's reason; error 0: another format's */
    const Refusal files[] = {
        {"an icon", Bytes({0, 0, 1, 0, 1, 0, 16, 16}), 12, 0, 0},
        {"another type", Bytes({2, 0, 8, 1, 0xFF}), 12, 0, 0},
        {"extension headers", Bytes({0, 0x80, 9, 2, 0, 0, 0, 0}), 12, 0, 0},
        {"header cut", Bytes({0, 0, 0x81}), 12, 4020, ShortHeader},
        {"one byte short", Bytes({0, 0, 9, 2, 1, 2, 3}), 12, 4020, ShortData},
        {"too large", Bytes({0, 0, 0xC0, 0x80, 0x80, 0x00, 1, 0}), 12, 4021, TooLarge},
    };
    for (const Refusal &f : files) ExpectRefused(f);
}

} // namespace
