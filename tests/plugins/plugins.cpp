/*
 * What every shipped plug-in and the kit's sample share, one table row a plug-in: a small
 * file of each format driven through the entries it has (whole, in regions, stopped, by
 * name, changed, cut at every length, written), each plug-in asked of every other's file.
 */
#include "fio_driver.h"
#include "wic_files.h"

using namespace q32test;

namespace {

/* Pixel bytes of a width x height image, bytes a pixel, that differ. */
std::string Pixels(int width, int height, int bytes)
{
    std::string out;
    for (int i = 0; i < width * height * bytes; i++) out += char(i * 7 + 3);
    return out;
}

std::string Bmp(int width, int height)
{
    size_t stride = size_t(width * 3 + 3) / 4 * 4;
    std::string data;
    for (int y = 0; y < height; y++) data += Pixels(width, 1, 3).substr(0, size_t(width) * 3).append(stride - width * 3, '\0');
    return "BM" + Le(uint32_t(54 + data.size()), 4) + Le(0, 4) + Le(54, 4) + Le(40, 4) + Le(width, 4) + Le(height, 4) +
           Le(1, 2) + Le(24, 2) + Le(0, 4) + Le(uint32_t(data.size()), 4) + Le(2835, 4) + Le(2835, 4) + Le(0, 8) + data;
}

std::string Wbmp(int width, int height) { return Bytes({0, 0, width, height}) + Pixels((width + 7) / 8, height, 1); }

std::string Tga(int width, int height)
{
    return Bytes({0, 0, 2}) + std::string(9, '\0') + Le(width, 2) + Le(height, 2) + Bytes({24, 0x20}) +
           Pixels(width, height, 3);
}

std::string Pnm(int width, int height)
{
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + Pixels(width, height, 3);
}

std::string Png(int width, int height)
{
    std::vector<std::string> rows;
    for (int y = 0; y < height; y++) rows.push_back(Pixels(width, 1, 3));
    return wictest::MakePng(UINT(width), UINT(height), 2, 8, rows);
}

struct Format {
    const char *name, *file;
    int id, format;
    std::string (*make)(int width, int height);
    bool byName;                       /* the plug-in opens the file itself */
    size_t notMineBelow;               /* a file shorter than this is not the format's (else a cut one) */
    DWORD writeType, writeBits, refusedType;
    int open, changed, region, types, arguments, type; /* places of the failures */
};

const Format Formats[] = {
    {"bmp", "bmp.fio", 1790, 0, Bmp, true,  2, Q32_TYPE_RGB, 24, Q32_TYPE_CMYK, 41, 45, 47, 57, 40, 46},
    {"wbmp", "wbmp.fio", 1792, 0, Wbmp, true, 0, Q32_TYPE_BILEVEL, 1, Q32_TYPE_GREY8, 41, 45, 47, 57, 40, 46},
    {"tga", "tga.fio", 1793, 0, Tga, false, 18, Q32_TYPE_RGB, 24, Q32_TYPE_GREY8, 41, 45, 47, 57, 40, 46},
    {"pnm", "pnm.fio", 1795, 0, Pnm, false, 2, Q32_TYPE_RGB, 24, Q32_TYPE_PALETTE8, 2, 4, 1, 1, 1, 8},
    {"png", "wic.fio", 1791, 1, Png, false, 8, Q32_TYPE_RGB, 24, Q32_TYPE_CMYK, 41, 45, 47, 60, 40, 46},
};

class EveryPlugin : public FioTest, public ::testing::WithParamInterface<Format> {
protected:
    EveryPlugin() : FioTest(GetParam().file, GetParam().id, GetParam().format) { byName = GetParam().byName; }
    const Format &f = GetParam();
    wictest::Com com;
};

TEST_P(EveryPlugin, ReadsWholeInRegionsStoppedAndOnlyInTypesTheCallerTakes)
{
    std::string path = dir / "sample";
    WriteFileBytes(path, f.make(10, 4));
    HGLOBAL data = HGLOBAL(FileData(path));
    ASSERT_GT(INT_PTR(data), 0) << ReadError().text;
    RasterFacts facts = FactsOf(data);
    EXPECT_EQ((std::vector<DWORD>{10, 4, f.writeType}),
              (std::vector<DWORD>{facts.width, facts.height, facts.dataType}));
    Rows all;
    ASSERT_EQ(1, Read(path, data, all)) << ReadError().text;
    EXPECT_EQ(4u, all.byY.size());
    EXPECT_EQ(0, all.twice) << "a row delivered twice";
    EXPECT_EQ(0, all.ys.front());

    /* A region cut at the image's edges. */
    ImageRequest region = {};
    region.rasterX = 8, region.rasterY = 2, region.rasterWidth = 50, region.rasterHeight = 50;
    Rows part;
    ASSERT_EQ(1, Read(path, data, part, region)) << ReadError().text;
    EXPECT_EQ(2u, part.byY.size());
    EXPECT_EQ(2, part.ys.front());
    EXPECT_EQ(8, part.xs.back());
    if (f.writeType != Q32_TYPE_BILEVEL) { EXPECT_EQ(all.byY[3].substr(24), part.byY[3]); }

    /* A region past the right edge reaches nothing. */
    for (LONG x : {10, 12}) {
        region.rasterX = x, region.rasterY = 0, region.rasterWidth = 3, region.rasterHeight = 1;
        Rows none;
        EXPECT_EQ(0, Read(path, data, none, region)) << x;
        EXPECT_TRUE(none.ys.empty());
        fio.ExpectError(4026, QF_ENTRY_READ, f.region);
    }
    /* Nothing the rows can become. */
    region = {};
    region.rasterTypes = Q32_TYPES_ONLY | Q32_TYPE_CMYK;
    Rows nothing;
    EXPECT_EQ(0, Read(path, data, nothing, region));
    fio.ExpectError(4026, QF_ENTRY_READ, f.types);

    Rows stopped;
    stopped.stopAfter = 1;
    EXPECT_EQ(Q32_READ_STOPPED, Read(path, data, stopped));
    EXPECT_EQ(1u, stopped.ys.size());
    EXPECT_EQ(0u, ReadError().id);

    /* Replaced by a larger image after its FileData was made. */
    WriteFileBytes(path, f.make(12, 6));
    Rows changed;
    EXPECT_EQ(0, Read(path, data, changed));
    EXPECT_TRUE(changed.ys.empty());
    fio.ExpectError(4020, QF_ENTRY_READ, f.changed, "sample");
    FreeFileData(data);

    EXPECT_EQ(-1, fio.FileData(format, dir / "missing.file", "", true));
    fio.ExpectError(4004, QF_ENTRY_GETFILEDATA, f.open, "missing.file");
}

TEST_P(EveryPlugin, TakesNoFileOfAnotherFormat)
{
    std::vector<std::string> others = {"", "B", "This is a text file, not a picture at all.\r\n", std::string(64, '\xFF')};
    for (const Format &other : Formats)
        if (other.file != f.file) others.push_back(other.make(5, 3));
    const int formats = reinterpret_cast<PFN_qfDLLGetFileFmtNum>(GetProcAddress(fio.handle(), QF_NAME_GETFILEFMTNUM))();
    for (const std::string &bytes : others)
        for (format = 0; format < formats; format++) { /* every format of the plug-in */
            if (bytes.size() < 2 && bytes.size() >= f.notMineBelow) continue; /* a cut file of its own */
            SCOPED_TRACE(std::to_string(bytes.size()) + " bytes from " + std::to_string(uint8_t(bytes[0])) + " asked of format " +
                         std::to_string(format));
            Rows rows;
            Take(bytes, rows);
            EXPECT_EQ(0, taken);
            EXPECT_EQ(0u, ReadError().id);
        }
}

TEST_P(EveryPlugin, RefusesEveryCutOfAFile)
{
    ExpectCutsRefused(f.make(7, 5), 1, f.notMineBelow);
}

TEST_P(EveryPlugin, WritesWhatItReadsAndRefusesTheRest)
{
    Rows source, back;
    source.byY = RandomRows(f.writeType, f.writeBits, 13, 3, 256, 1);
    HGLOBAL data = NewFileData(f.writeType, f.writeBits, 13, 3, {}, 0, dir / "w");
    RoundTrip(dir / "w", data, source, back);

    Rows stopping;
    stopping.byY = source.byY;
    stopping.stopAfter = 1;
    EXPECT_EQ(Q32_WRITE_STOPPED, Write(dir / "w", data, stopping));
    EXPECT_EQ(0u, ReadError().id);
    FreeFileData(data);

    data = NewFileData(f.refusedType, Q32TypeBits(f.refusedType), 13, 3, {1, 2, 3}, 0, dir / "r");
    Rows refused;
    refused.byY = RandomRows(f.refusedType, Q32TypeBits(f.refusedType), 13, 3, 3, 2);
    EXPECT_EQ(0, Write(dir / "r", data, refused));
    fio.ExpectError(4026, QF_ENTRY_WRITE, f.type);
    FreeFileData(data);

    /* A FileData block too small to be one. */
    HGLOBAL small = GlobalAlloc(GHND, 100);
    Rows rows;
    EXPECT_EQ(0, fio.Entry<PFN_qfDLLWrite>(format, QF_ENTRY_WRITE)(nullptr, small, nullptr, Supply));
    fio.ExpectError(4026, QF_ENTRY_WRITE, f.arguments);
    ImageRequest request = {};
    request.context = &rows;
    EXPECT_EQ(0, fio.Entry<PFN_qfDLLRead>(format, QF_ENTRY_READ)(nullptr, "x", small, &request, Collect, 0));
    fio.ExpectError(4026, QF_ENTRY_READ, f.arguments);
    GlobalFree(small);
}

void PrintTo(const Format &f, std::ostream *out) { *out << f.name; }

INSTANTIATE_TEST_SUITE_P(Shipped, EveryPlugin, ::testing::ValuesIn(Formats),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
