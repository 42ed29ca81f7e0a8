/*
 * The kit's sample plug-in pnm.fio: each kind read (also as the caller's type), written
 * byte for byte, and the refused, damaged and foreign files told apart.
 */
#include "fio_driver.h"

using namespace q32test;

namespace {

class PnmSample : public FioTest {
protected:
    PnmSample() : FioTest("pnm.fio", 1795) {}
};

TEST_F(PnmSample, ReadsAndWritesEachKind)
{
    const struct {
        std::string file;
        DWORD mask;                           /* the caller's types (0: as stored) */
        std::map<LONG, std::string> rows;
        DWORD type = 0, bits = 0;             /* written back byte for byte (0: not) */
        LONG width = 0;
    } cases[] = {
        {"P5\n3 1\n255\n\x7F\x80\x81", 0, {{0, "\x7F\x80\x81"}}, Q32_TYPE_GREY8, 8, 3},
        /* Bitmap: 1 is black in the file, white in the rows; the padding is 0. */
        {std::string("P4\n10 2\n\xF0\xC0\x0F\x40", 12), 0, {{0, std::string("\x0F\x00", 2)}, {1, "\xF0\x80"}},
         Q32_TYPE_BILEVEL, 1, 10},
        /* A comment and a maximum of 15: samples scaled to 0..255. */
        {std::string("P5 # grey\n3 2 15\n\x00\x0F\x05\x01\x0E\x0F", 23), 0,
         {{0, std::string("\x00\xFF\x55", 3)}, {1, "\x11\xEE\xFF"}}},
        {std::string("P4\n10 1\n\xF0\x40", 10), Q32_TYPES_ONLY | Q32_TYPE_RGB,
         {{0, std::string(12, '\0') + std::string(15, '\xFF') + std::string(3, '\0')}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file.substr(0, 2));
        Rows rows;
        ImageRequest request = {};
        request.rasterTypes = c.mask;
        ASSERT_EQ(1, Take(c.file, rows, nullptr, request)) << ReadError().text;
        EXPECT_EQ(c.rows, rows.byY);
        if (!c.type) continue;
        HGLOBAL data = NewFileData(c.type, c.bits, c.width, LONG(c.rows.size()));
        ASSERT_EQ(1, Write(dir / "out.pnm", data, rows)) << ReadError().text;
        FreeFileData(data);
        EXPECT_EQ(c.file, ReadFileBytes(dir / "out.pnm"));
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
