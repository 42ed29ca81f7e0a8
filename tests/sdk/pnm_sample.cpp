/*
 * The kit's sample plug-in pnm.fio through a loaded copy of the module: discovered from
 * the plug-in folder, files of each kind detected and read row by row, images written
 * and read back, and the refused and damaged files.
 */
#include "sandbox.h"
#include "q32fio.h"
#include "rows.h"

using namespace q32test;

namespace {

class PnmSample : public ModuleSandbox {
protected:
    void SetUp() override
    {
        ModuleSandbox::SetUp();
        ASSERT_TRUE(CopyFileA((BinFolder() + "FIO\\pnm.fio").c_str(), (fio + "\\pnm.fio").c_str(), FALSE));
        Load();
    }
    Rows Read(HGLOBAL data, ImageRequest request = {})
    {
        FileData facts = Facts(data);
        Rows rows;
        rows.dataType = facts.raster.dataType;
        rows.bits = facts.raster.bitsPerPixel;
        request.rasterWanted = 1;
        request.rasterTypes = 0xFFFF;
        request.context = &rows;
        EXPECT_EQ(1, Q32_EXPORT(module, qfFileRead)(data, &request, Collect));
        return rows;
    }
};

/* What a file of each kind reads as: rows in the row protocol's layout. */
struct Case {
    const char *what, *bytes;
    size_t size;
    DWORD dataType, bits;
    LONG width, height;
    std::vector<std::string> rows;
};

#define BYTES(s) s, sizeof s - 1

TEST_F(PnmSample, IsDiscoveredAndReadsEachKind)
{
    ASSERT_EQ(1, Q32_EXPORT(module, qfFileGetFileFmtNum)());
    HGLOBAL info = Q32_EXPORT(module, qfFileGetFormatInfo)(1);
    ASSERT_NE(nullptr, info);
    auto *f = static_cast<FormatInfo *>(GlobalLock(info));
    EXPECT_STREQ("PNM", f->code);
    EXPECT_EQ(Q32_CAP_BILEVEL | Q32_CAP_GREY8 | Q32_CAP_RGB, f->typeCaps);
    GlobalUnlock(info);
    GlobalFree(info);

    const Case cases[] = {
        /* Colour: R, G, B stored, B, G, R delivered. */
        {"P6", BYTES("P6\n2 1\n255\n\x10\x20\x30\x40\x50\x60"), Q32_TYPE_RGB, 24, 2, 1, {"\x30\x20\x10\x60\x50\x40"}},
        /* A comment and a maximum of 15: samples scaled to 0..255. */
        {"P5 max 15", BYTES("P5 # grey\n3 2 15\n\x00\x0F\x05\x01\x0E\x0F"), Q32_TYPE_GREY8, 8, 3, 2,
         {std::string("\x00\xFF\x55", 3), "\x11\xEE\xFF"}},
        /* Bitmap of 10: 1 is black in the file, white in the rows; the padding is 0. */
        {"P4", BYTES("P4\n10 2\n\xF0\xC0\x0F\x40"), Q32_TYPE_BILEVEL, 1, 10, 2,
         {std::string("\x0F\x00", 2), "\xF0\x80"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = dir / "image"; /* no extension: found by its signature */
        WriteFileBytes(name, std::string(c.bytes, c.size));
        char code[8] = "";
        HGLOBAL data = FileDataOf(name, code);
        ASSERT_NE(nullptr, data);
        EXPECT_STREQ("PNM", code);
        FileData facts = Facts(data);
        EXPECT_EQ(c.dataType, facts.raster.dataType);
        EXPECT_EQ(c.bits, facts.raster.bitsPerPixel);
        EXPECT_EQ(c.width, facts.raster.width);
        EXPECT_EQ(c.height, facts.raster.height);
        EXPECT_EQ(c.size, facts.fileSize);
        Rows rows = Read(data);
        ASSERT_EQ(c.rows.size(), rows.byY.size());
        for (size_t y = 0; y < c.rows.size(); y++) EXPECT_EQ(c.rows[y], rows.byY[LONG(y)]) << "row " << y;
        Free(data);
    }
}

TEST_F(PnmSample, ReadsInTheTypeTheCallerTakes)
{
    const struct {
        const char *what;
        std::string file;
        DWORD mask, delivered;
        LONG x, y, width, height;
        std::map<LONG, std::string> rows;
    } cases[] = {
        {"a region cut at the edges", "P5\n4 3\n255\nabcdefghijkl", 0xFFFF, Q32_TYPE_GREY8, 2, 1, 5, 5, {{1, "gh"}, {2, "kl"}}},
        /* A bitmap's part row from x = 8 as colour: 1 white, 0 black. */
        {"P4 as RGB", std::string("P4\n10 2\n\xF0\xC0\x0F\x40", 12), Q32_TYPES_ONLY | Q32_TYPE_RGB, Q32_TYPE_RGB, 8, 0, 2, 2,
         {{0, std::string(6, '\0')}, {1, std::string("\xFF\xFF\xFF\0\0\0", 6)}}},
        {"P5 as BGRA", "P5\n2 1\n255\nab", Q32_TYPES_ONLY | Q32_TYPE_BGRA | Q32_TYPE_PALETTE8, Q32_TYPE_BGRA, 0, 0, 2, 2,
         {{0, "aaa\xFF" "bbb\xFF"}}},
        {"P6 as stored, the mask a hint", "P6\n1 1\n255\nabc", Q32_TYPE_BGRA, Q32_TYPE_RGB, 0, 0, 2, 2, {{0, "cba"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(dir / "typed.pnm", c.file);
        HGLOBAL data = FileDataOf(dir / "typed.pnm");
        ASSERT_NE(nullptr, data);
        Rows rows;
        rows.dataType = c.delivered;
        rows.bits = Q32TypeBits(c.delivered);
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterX = c.x, request.rasterY = c.y, request.rasterWidth = c.width, request.rasterHeight = c.height;
        request.rasterTypes = c.mask;
        request.context = &rows;
        EXPECT_EQ(1, Q32_EXPORT(module, qfFileRead)(data, &request, Collect)) << ReadError().text;
        EXPECT_EQ(c.rows, rows.byY);
        Free(data);
    }
}

TEST_F(PnmSample, WritesEachKindAndReadsItBack)
{
    struct Write {
        DWORD dataType, bits;
        std::vector<std::string> rows;
        std::string file;
    } writes[] = {
        {Q32_TYPE_RGB, 24, {"\x01\x02\x03\x04\x05\x06"}, "P6\n2 1\n255\n\x03\x02\x01\x06\x05\x04"},
        {Q32_TYPE_GREY8, 8, {"\x7F\x80\x81"}, "P5\n3 1\n255\n\x7F\x80\x81"},
        {Q32_TYPE_BILEVEL, 1, {"\xFF\xC0", std::string("\x0F\x00", 2)}, std::string("P4\n10 2\n\x00\x00\xF0\xC0", 12)},
    };
    for (const Write &w : writes) {
        SCOPED_TRACE(w.file.substr(0, 2));
        std::string name = dir / "out.pnm";
        HGLOBAL data = FileDataOf("");
        ASSERT_NE(nullptr, data);
        Edit(data, [&](FileData &f) {
            f.formatNumber = 1;
            lstrcpynA(f.name, name.c_str(), sizeof f.name);
            f.raster.dataType = w.dataType;
            f.raster.bitsPerPixel = w.bits;
            f.raster.width = w.dataType == Q32_TYPE_BILEVEL ? 10 : LONG(w.rows[0].size() * 8 / w.bits);
            f.raster.height = LONG(w.rows.size());
        });
        Rows source;
        source.dataType = w.dataType, source.bits = w.bits;
        for (size_t y = 0; y < w.rows.size(); y++) source.byY[LONG(y)] = w.rows[y];
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = w.dataType;
        request.context = &source;
        ASSERT_EQ(1, Q32_EXPORT(module, qfFileWrite)(data, &request, Supply));
        Free(data);
        EXPECT_EQ(w.file, ReadFileBytes(name));
        HGLOBAL back = FileDataOf(name);
        ASSERT_NE(nullptr, back);
        Rows rows = Read(back);
        /* The padding bits of a bitmap row read back as 0. */
        for (size_t y = 0; y < w.rows.size(); y++) {
            std::string want = w.rows[y];
            if (w.dataType == Q32_TYPE_BILEVEL) want[1] = char(want[1] & 0xC0);
            EXPECT_EQ(want, rows.byY[LONG(y)]);
        }
        Free(back);
    }
}

TEST_F(PnmSample, RefusesWhatItCannotWriteAndKeepsTheTarget)
{
    std::string name = dir / "keep.pnm";
    WriteFileBytes(name, "old");
    HGLOBAL data = FileDataOf("");
    Edit(data, [&](FileData &f) {
        f.formatNumber = 1;
        lstrcpynA(f.name, name.c_str(), sizeof f.name);
        f.raster.dataType = Q32_TYPE_PALETTE8;
        f.raster.bitsPerPixel = 8;
        f.raster.width = f.raster.height = 1;
    });
    Rows source;
    source.byY[0] = "x";
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = Q32_TYPE_PALETTE8;
    request.context = &source;
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileWrite)(data, &request, Supply));
    EXPECT_ERROR(4026, 1795, QF_ENTRY_WRITE, 8);
    EXPECT_EQ("old", ReadFileBytes(name));
    EXPECT_FALSE(Exists(dir / "keep.$$$"));
    Free(data);
}

TEST_F(PnmSample, TellsRefusedDamagedAndForeignFilesApart)
{
    struct Bad {
        const char *what, *bytes;
        UINT error; /* 0: detection fails without an error of its own */
    } bad[] = {
        {"text variant", "P3\n1 1\n255\n1 2 3\n", 5200},       /* -2: this format, refused */
        {"16-bit samples", "P5\n1 1\n65535\n\x01\x02", 5200},
        {"rows cut short", "P6\n2 2\n255\nabcdefghi", 4020},    /* -1 with 4020, re-recorded */
        {"no size", "P6\n\n", 4020},
        {"another P-file", "PK\x03\x04zip", 0},                 /* 0: not mine */
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.what);
        c32ResetDLLErrInfo();
        std::string name = dir / "bad.pnm";
        WriteFileBytes(name, b.bytes);
        EXPECT_EQ(nullptr, FileDataOf(name));
        RecordedError e = ReadError();
        EXPECT_EQ(b.error, e.id);
        if (b.error == 4020) {
            EXPECT_NE(std::string::npos, e.text.find("bad.pnm")) << e.text;
        }
    }
}

} // namespace
