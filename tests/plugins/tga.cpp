/*
 * Truevision Targa through tga.fio: every type and depth read, alpha as the descriptor and
 * the extension area say, run lengths across rows, the headers it leaves to other formats,
 * damaged files refused, and 24- and 32-bit files written plain or run-length.
 */
#include "fio_driver.h"
#include "tga_codec.h"

using namespace q32test;

namespace {

/* A TGA file: header fields, then the bytes after the header as given. */
struct Tga {
    int mapType = 0, type = 2, mapFirst = 0, mapLength = 0, mapDepth = 0;
    int width = 1, height = 1, bits = 24, descriptor = 0x20;
    std::string rest;

    std::string Build() const
    {
        return std::string(1, '\0') + char(mapType) + char(type) + Le(uint32_t(mapFirst), 2) +
               Le(uint32_t(mapLength), 2) + char(mapDepth) + Le(0, 4) + Le(uint32_t(width), 2) +
               Le(uint32_t(height), 2) + char(bits) + char(descriptor) + rest;
    }
};

/* A TGA 2.0 extension area whose attributes type is attributes, at offset, and the footer
   that points at it. */
std::string ExtensionAndFooter(size_t offset, int attributes)
{
    std::string extension = Le(tga::ExtensionSize, 2) + std::string(tga::ExtensionSize - 3, '\0') + char(attributes);
    return extension + Le(uint32_t(offset), 4) + Le(0, 4) + std::string("TRUEVISION-XFILE.\0", 18);
}

class TgaPlugin : public FioTest {
protected:
    TgaPlugin() : FioTest("tga.fio", 1793) { fio.writeDisposition = OPEN_ALWAYS; /* it cuts a longer file itself */ }
};

TEST_F(TgaPlugin, ReadsEveryTypeAndDepth)
{
    const std::string bgr = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12";
    auto tga = [](int type, int bits, int descriptor, int width, int height, std::string rest) {
        Tga t;
        t.type = type, t.bits = bits, t.descriptor = descriptor, t.width = width, t.height = height, t.rest = rest;
        return t;
    };
    auto mapped = [](int type, int first, int length, int depth, std::string map, int width, std::string rest) {
        Tga t;
        t.mapType = 1, t.type = type, t.mapFirst = first, t.mapLength = length, t.mapDepth = depth, t.bits = 8;
        t.width = width, t.rest = map + rest;
        return t;
    };
    Tga premultiplied = tga(2, 32, 0x28, 2, 1, Bytes({0x40, 0x20, 0x10, 0x80, 9, 9, 9, 0}));
    premultiplied.rest += ExtensionAndFooter(18 + 8, 4);
    Tga opaque = tga(2, 32, 0x28, 2, 1, Bytes({1, 2, 3, 0x80, 4, 5, 6, 0}));
    opaque.rest += ExtensionAndFooter(18 + 8, 2);
    auto extended = [](int bits, int descriptor, int attributes) {
        Tga t;
        t.bits = bits, t.descriptor = descriptor, t.rest = std::string(bits / 8, '\0');
        t.rest += ExtensionAndFooter(18 + t.rest.size(), attributes);
        return t;
    };
    Tga mappedTrueColour = tga(2, 24, 0x20, 1, 1, "123" "abc");
    mappedTrueColour.mapType = 1, mappedTrueColour.mapLength = 1, mappedTrueColour.mapDepth = 24;
    const struct {
        const char *name;
        Tga file;
        DWORD dataType;
        std::vector<std::string> rows; /* top row first */
        std::vector<uint32_t> palette = {}; /* 0xRRGGBB */
    } cases[] = {
        {"true colour, right to left", tga(2, 24, 0x30, 3, 1, bgr.substr(0, 9)), Q32_TYPE_RGB,
         {bgr.substr(6, 3) + bgr.substr(3, 3) + bgr.substr(0, 3)}},
        /* one run over the end of the first row, a raw packet over the second, and
           surplus data after the image */
        {"run lengths across rows", tga(10, 24, 0x20, 2, 2, Bytes({0x82, 1, 2, 3, 0x00, 4, 5, 6, 0x85, 7, 7, 7})), Q32_TYPE_RGB,
         {Bytes({1, 2, 3, 1, 2, 3}), Bytes({1, 2, 3, 4, 5, 6})}},
        {"premultiplied alpha made straight", premultiplied, Q32_TYPE_BGRA, {Bytes({0x80, 0x40, 0x20, 0x80, 0, 0, 0, 0})}},
        {"alpha bits that the extension area disowns", opaque, Q32_TYPE_RGB, {Bytes({1, 2, 3, 4, 5, 6})}},
        /* 5-5-5: red, green, blue, and one step of each */
        {"16-bit colour", tga(2, 16, 0x21, 4, 1, Bytes({0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x21, 0x84})), Q32_TYPE_RGB,
         {Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 8, 8, 8})}},
        {"grey and alpha", tga(3, 16, 0x28, 2, 1, Bytes({0x40, 0x80, 0xFF, 0x00})), Q32_TYPE_BGRA,
         {Bytes({0x40, 0x40, 0x40, 0x80, 0xFF, 0xFF, 0xFF, 0})}},
        /* entries from index 2 on; 5-5-5 entries */
        {"colour map from a first index", mapped(9, 2, 2, 16, Bytes({0x00, 0x7C, 0x1F, 0x00}), 3, Bytes({0x81, 3, 0x00, 2})),
         Q32_TYPE_PALETTE8, {Bytes({3, 3, 2})}, {0, 0, 0xFF0000, 0x0000FF}},
        {"colour map with alpha", [&] { Tga t = mapped(1, 0, 2, 32, Bytes({1, 2, 3, 0x40, 4, 5, 6, 0xFF}), 2, Bytes({1, 0})); t.descriptor = 0x28; return t; }(),
         Q32_TYPE_BGRA, {Bytes({4, 5, 6, 0xFF, 1, 2, 3, 0x40})}},
        {"32-bit without alpha bits", tga(2, 32, 0x20, 1, 1, Bytes({1, 2, 3, 4})), Q32_TYPE_RGB, {Bytes({1, 2, 3})}},
        {"alpha that the extension area gives", extended(32, 0x20, 3), Q32_TYPE_BGRA, {std::string(4, '\0')}},
        {"16-bit alpha that the extension area gives", extended(16, 0x21, 3), Q32_TYPE_BGRA, {std::string(4, '\0')}},
        {"a colour map with true colour", mappedTrueColour, Q32_TYPE_RGB, {"abc"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rows rows;
        RasterFacts facts;
        ASSERT_EQ(1, Take(c.file.Build(), rows, &facts)) << ReadError().text;
        EXPECT_EQ(c.dataType, facts.dataType);
        EXPECT_EQ(DWORD(c.file.width), facts.width);
        EXPECT_EQ(DWORD((c.file.type & 8) ? Q32_COMPRESS_RLE : Q32_COMPRESS_NONE), facts.compression);
        EXPECT_EQ(c.palette, facts.palette);
        std::vector<std::string> got;
        for (auto &[y, row] : rows.byY) got.push_back(row);
        EXPECT_EQ(c.rows, got);
    }
}

TEST_F(TgaPlugin, LeavesOtherHeadersAloneAndRefusesDamagedFiles)
{
    enum { ShortHeader = 2, ShortData = 3, BadIndex = 4, UnsupportedType = 20, UnsupportedDepth = 21, TooLarge = 22 };
    auto tga = [](auto edit) {
        Tga t;
        t.width = 3, t.height = 2, t.rest = std::string(18, '\0');
        edit(t);
        return t.Build();
    };
    Tga map;
    map.mapType = 1, map.type = 1, map.mapLength = 2, map.mapDepth = 24, map.bits = 8, map.width = 2;
    map.rest = Bytes({1, 2, 3, 4, 5, 6, 0, 1});
    auto change = [](Tga t, auto edit) {
        edit(t);
        return t.Build();
    };
    std::string unknownType = tga([](Tga &t) { t.type = 32; }) + ExtensionAndFooter(0, 0).substr(tga::ExtensionSize);
    /* entry +12 or +16, error, place: the codec's reason; error 0: another format's */
    const Refusal cases[] = {
        {"mapped without a map", tga([](Tga &t) { t.type = 1, t.bits = 8; }), 12, 0, 0},
        {"no such map type", tga([](Tga &t) { t.mapType = 2; }), 12, 0, 0},
        {"interleaved", tga([](Tga &t) { t.descriptor = 0xC0; }), 12, 0, 0},
        {"colour map cut", map.Build().substr(0, 18 + 5), 12, 4020, ShortHeader},
        {"pixels cut", map.Build().substr(0, 18 + 7), 12, 4020, ShortData},
        {"run lengths without data", tga([](Tga &t) { t.type = 10, t.rest.clear(); }), 12, 4020, ShortData},
        {"16-bit indices", change(map, [](Tga &t) { t.bits = 16; }), 12, 4024, UnsupportedDepth},
        {"a footer but an unknown type", unknownType, 12, 4024, UnsupportedType},
        {"beyond the limits", tga([](Tga &t) { t.bits = 32, t.width = 65535, t.height = 65535; }), 12, 4021, TooLarge},
        {"index beyond the map", change(map, [](Tga &t) { t.rest = Bytes({1, 2, 3, 4, 5, 6, 0, 2}); }), 16, 4020, BadIndex},
        {"runs cut short", change(map, [](Tga &t) { t.type = 9, t.rest = Bytes({1, 2, 3, 4, 5, 6, 0x80}); }), 16, 4020,
         ShortData},
        {"raw packet cut short", change(map, [](Tga &t) { t.type = 9, t.rest = Bytes({1, 2, 3, 4, 5, 6, 0x01, 1}); }), 16,
         4020, ShortData},
    };
    for (const Refusal &c : cases) ExpectRefused(c);
    /* Every cut of a run-length file: refused, never read as something else. */
    Tga rle;
    rle.type = 10, rle.width = 20, rle.height = 10, rle.descriptor = 0;
    for (int i = 0; i < 10; i++) rle.rest += Bytes({0x89, i, 2 * i, 3 * i, 0x00, 7, 8, 9}) + Bytes({0x08}) + std::string(27, char(i));
    ExpectCutsRefused(rle.Build(), 7, tga::HeaderSize);
}

TEST_F(TgaPlugin, WritesColourAndAlphaPlainOrRunLength)
{
    /* 300 pixels a row: runs and stretches longer than a packet, and short ones; and an
       image whose run lengths pass the plug-in's 1 MB pieces of reading. */
    for (auto [width, height] : {std::pair{300, 3}, std::pair{700, 800}})
        for (DWORD type : {DWORD(Q32_TYPE_RGB), DWORD(Q32_TYPE_BGRA)})
            for (bool rle : {false, true}) {
                SCOPED_TRACE(std::to_string(type) + (rle ? " run length " : " plain ") + std::to_string(height));
                const size_t pb = type == Q32_TYPE_BGRA ? 4 : 3;
                Rows rows, back;
                for (LONG y = 0; y < height; y++) {
                    std::string &row = rows.byY[y];
                    for (LONG x = 0; x < width; x++)
                        for (size_t k = 0; k < pb; k++)
                            row += char(x < 140 ? y * 40 + k : x < 150 ? x * 3 + k : (x * 5 + y) ^ (x * y >> 4));
                }
                HGLOBAL target = NewFileData(type, DWORD(pb * 8), width, height, {}, rle ? Q32_COMPRESS_RLE : 0);
                std::string path = dir / "w.tga";
                WriteFileBytes(path, std::string(100000, 'x')); /* a longer file is replaced whole */
                RasterFacts facts;
                RoundTrip(path, target, rows, back, &facts);
                FreeFileData(target);
                EXPECT_EQ(type, facts.dataType);
                std::string bytes = ReadFileBytes(path);
                ASSERT_GT(bytes.size(), 18u + 26u);
                EXPECT_EQ(rle ? 10 : 2, bytes[2]);
                EXPECT_EQ(int(pb * 8), bytes[16]);
                EXPECT_EQ(pb == 4 ? 0x28 : 0x20, bytes[17]);
                EXPECT_EQ(std::string("TRUEVISION-XFILE.\0", 18), bytes.substr(bytes.size() - 18));
                if (!rle) { EXPECT_EQ(18 + size_t(width) * height * pb + (pb == 4 ? tga::ExtensionSize : 0) + 26, bytes.size()); }
                if (rle) { EXPECT_LT(bytes.size(), size_t(width) * height * pb); }
                if (rle && height > 3) { EXPECT_GT(bytes.size(), size_t(1) << 20); }
            }
}

} // namespace
