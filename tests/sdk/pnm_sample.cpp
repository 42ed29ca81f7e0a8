/*
 * The kit's sample plug-in pnm.fio through its entries: each kind read, read in the type
 * the caller takes, written and read back, and the refused, damaged and foreign files.
 */
#include "fio_driver.h"

using namespace q32test;

namespace {

class PnmSample : public FioTest {
protected:
    PnmSample() : FioTest("pnm.fio", 1795) {}
};

TEST_F(PnmSample, ReadsEachKindInTheTypeTheCallerTakes)
{
    const DWORD only = Q32_TYPES_ONLY;
    const struct {
        const char *what;
        std::string file;
        DWORD mask, delivered;   /* mask 0: as stored */
        LONG x;                  /* of the region, 2 x 2 from there (0: the whole image) */
        std::map<LONG, std::string> rows;
    } cases[] = {
        /* Colour: R, G, B stored, B, G, R delivered. */
        {"P6", "P6\n2 1\n255\n\x10\x20\x30\x40\x50\x60", 0, Q32_TYPE_RGB, 0, {{0, "\x30\x20\x10\x60\x50\x40"}}},
        /* A comment and a maximum of 15: samples scaled to 0..255. */
        {"P5 max 15", std::string("P5 # grey\n3 2 15\n\x00\x0F\x05\x01\x0E\x0F", 23), 0, Q32_TYPE_GREY8, 0,
         {{0, std::string("\x00\xFF\x55", 3)}, {1, "\x11\xEE\xFF"}}},
        /* Bitmap of 10: 1 is black in the file, white in the rows; the padding is 0. */
        {"P4", std::string("P4\n10 2\n\xF0\xC0\x0F\x40", 12), 0, Q32_TYPE_BILEVEL, 0,
         {{0, std::string("\x0F\x00", 2)}, {1, "\xF0\x80"}}},
        /* A bitmap's part row from x = 8 as colour: 1 white, 0 black. */
        {"P4 as RGB", std::string("P4\n10 2\n\xF0\xC0\x0F\x40", 12), only | Q32_TYPE_RGB, Q32_TYPE_RGB, 8,
         {{0, std::string(6, '\0')}, {1, std::string("\xFF\xFF\xFF\0\0\0", 6)}}},
        {"P5 as BGRA", "P5\n2 1\n255\nab", only | Q32_TYPE_BGRA | Q32_TYPE_PALETTE8, Q32_TYPE_BGRA, 0,
         {{0, "aaa\xFF" "bbb\xFF"}}},
        {"P6 as stored, the mask a hint", "P6\n1 1\n255\nabc", Q32_TYPE_BGRA, Q32_TYPE_RGB, 0, {{0, "cba"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(dir / "image", c.file);
        HGLOBAL data = HGLOBAL(FileData(dir / "image"));
        ASSERT_GT(INT_PTR(data), 0) << ReadError().text;
        Rows rows;
        rows.dataType = c.delivered, rows.bits = Q32TypeBits(c.delivered);
        ImageRequest request = {};
        request.rasterX = c.x, request.rasterWidth = c.x ? 2 : 0, request.rasterHeight = c.x ? 2 : 0;
        request.rasterTypes = c.mask;
        EXPECT_EQ(1, fio.Read(format, dir / "image", data, rows, request, false, false)) << ReadError().text;
        EXPECT_EQ(c.rows, rows.byY);
        if (!c.mask) { EXPECT_EQ(c.delivered, FactsOf(data).dataType); }
        FreeFileData(data);
    }
}

TEST_F(PnmSample, WritesEachKindAndReadsItBack)
{
    const struct {
        DWORD dataType, bits;
        LONG width;
        std::vector<std::string> rows;
        std::string file;
    } writes[] = {
        {Q32_TYPE_RGB, 24, 2, {"\x01\x02\x03\x04\x05\x06"}, "P6\n2 1\n255\n\x03\x02\x01\x06\x05\x04"},
        {Q32_TYPE_GREY8, 8, 3, {"\x7F\x80\x81"}, "P5\n3 1\n255\n\x7F\x80\x81"},
        {Q32_TYPE_BILEVEL, 1, 10, {"\xFF\xC0", std::string("\x0F\x00", 2)}, std::string("P4\n10 2\n\x00\x00\xF0\xC0", 12)},
    };
    for (const auto &w : writes) {
        SCOPED_TRACE(w.file.substr(0, 2));
        Rows source, back;
        for (size_t y = 0; y < w.rows.size(); y++) source.byY[LONG(y)] = w.rows[y];
        HGLOBAL data = NewFileData(w.dataType, w.bits, w.width, LONG(w.rows.size()));
        RoundTrip(dir / "out.pnm", data, source, back);
        FreeFileData(data);
        EXPECT_EQ(w.file, ReadFileBytes(dir / "out.pnm"));
    }
}

TEST_F(PnmSample, TellsRefusedDamagedAndForeignFilesApart)
{
    const struct {
        const char *what, *bytes;
        INT_PTR answer;
        UINT error;
    } bad[] = {
        {"text variant", "P3\n1 1\n255\n1 2 3\n", QF_FILEDATA_UNSUPPORTED, 4024},
        {"16-bit samples", "P5\n1 1\n65535\n\x01\x02", QF_FILEDATA_UNSUPPORTED, 4024},
        {"rows cut short", "P6\n2 2\n255\nabcdefghi", QF_FILEDATA_FAILED, 4020},
        {"no size", "P6\n\n", QF_FILEDATA_FAILED, 4020},
        {"another P-file", "PK\x03\x04zip", QF_FILEDATA_NOT_MINE, 0},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.what);
        c32ResetDLLErrInfo();
        Rows rows;
        EXPECT_EQ(b.answer, Take(b.bytes, rows, nullptr, {}, "bad.pnm"));
        RecordedError e = ReadError();
        EXPECT_EQ(b.error, e.id);
        if (b.error) { EXPECT_NE(std::string::npos, e.text.find("bad.pnm")) << e.text; }
    }
}

} // namespace
