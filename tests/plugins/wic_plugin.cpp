/*
 * wic.fio through its entries: what it reads of files that the imaging component made
 * directly, round trips through its writers, frames, texts, its option dialogs, COM on the
 * calling thread, and the damaged files it refuses.
 */
#include "fio_driver.h"
#include "boxes.h"
#include "wic_fio.h"
#include "wic_files.h"
#include <algorithm>
#include <thread>

using namespace q32test;
using wictest::Picture;

namespace {

enum { EntryCommand = 10, EntryFileData = 12, EntryRead = 16, EntryWrite = 17 };
enum { PlaceType = 46, PlaceRegion = 47, PlaceFrame = 50, PlaceBadPixel = 55, PlaceNoFrames = 56, PlaceTypes = 60 };

const GUID &ContainerOf(int format)
{
    static const GUID *containers[] = {&GUID_ContainerFormatJpeg, &GUID_ContainerFormatPng,
                                       &GUID_ContainerFormatTiff, &GUID_ContainerFormatGif};
    return *containers[format];
}

const char *ExtensionOf(int format)
{
    static const char *extensions[] = {"jpg", "png", "tif", "gif", "ico"};
    return extensions[format];
}

struct Facts {
    DWORD bitsPerPixel = 0, dataType = 0;
    LONG width = 0, height = 0;
    WORD paletteEntries = 0;
    DWORD compression = 0;
    WicFacts wic = {};
};

/* A FileData to write from, named as the module names it. */
HGLOBAL NewFileData(const std::string &name, DWORD dataType, DWORD bits, LONG width, LONG height,
                    const std::vector<WICColor> &palette = {})
{
    return q32test::NewFileData(dataType, bits, width, height, std::vector<uint32_t>(palette.begin(), palette.end()), 0, name);
}

void Free(HGLOBAL fileData) { FreeFileData(fileData); }

/* Rows of the row protocol from a picture in the component's layout, for the types
   whose layouts agree (the test converts the others itself). */
std::map<LONG, std::string> RowsOf(const Picture &p)
{
    std::map<LONG, std::string> rows;
    for (UINT y = 0; y < p.height; y++)
        rows[LONG(y)].assign(reinterpret_cast<const char *>(p.pixels.data()) + size_t(y) * p.Stride(), p.Stride());
    return rows;
}

std::vector<WICColor> Colours(unsigned count, unsigned seed = 1)
{
    std::vector<WICColor> colours;
    for (unsigned i = 0; i < count; i++) colours.push_back(0xFF000000u | ((i * 0x3A5F1Bu + seed * 0x1F2E3Du) & 0xFFFFFF));
    return colours;
}

/* wic.fio through the shared driver; its formats are the WIC_* numbers. */
class WicPlugin : public FioTest {
protected:
    WicPlugin() : FioTest("wic.fio", 1791) {}
    wictest::Com com;

    INT_PTR GetFileData(int f, const std::string &path, const char *ini = "") { return fio.FileData(f, path, ini); }
    /* Reads into rows; no row may come twice. prepare false: the caller has set the rows' type. */
    INT_PTR Read(int f, const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {},
                 bool prepare = true)
    {
        INT_PTR result = fio.Read(f, path, fileData, rows, request, false, prepare);
        EXPECT_EQ(0, rows.twice) << "rows delivered twice";
        return result;
    }
    INT_PTR Write(int f, const std::string &path, HGLOBAL fileData, Rows &rows) { return fio.Write(f, path, fileData, rows); }
    INT_PTR Command(int f, HGLOBAL fileData, int command, Rows *rows, LPARAM index, RowCallback callback = Collect)
    {
        return fio.Command(f, fileData, command, rows, index, callback);
    }
    static Facts FactsOf(HGLOBAL fileData)
    {
        RasterFacts r = q32test::FactsOf(fileData);
        Facts f;
        f.bitsPerPixel = r.bits, f.dataType = r.dataType, f.width = r.width, f.height = r.height;
        f.compression = r.compression, f.paletteEntries = WORD(r.palette.size());
        f.wic = *FileDataWicFacts(Locked<::FileData>(fileData).get());
        return f;
    }
    static std::vector<WICColor> PaletteOf(HGLOBAL fileData)
    {
        std::vector<WICColor> colours;
        for (uint32_t c : q32test::FactsOf(fileData).palette) colours.push_back(0xFF000000u | c);
        return colours;
    }
    void ExpectError(UINT id, int entry, int place, const std::string &name = "") { fio.ExpectError(id, entry, place, name); }
};

/* How the rows of the row protocol follow from the component's rows. */
enum class Expect { Same, Unpack2, Unpack2Grey, Unpack4, Lossy };

std::string Expected(Expect how, const Picture &p, UINT y)
{
    const uint8_t *row = p.pixels.data() + size_t(y) * p.Stride();
    std::string out;
    auto field = [&](UINT bits, UINT x) { return (row[x * bits / 8] >> (8 - bits - x * bits % 8)) & ((1u << bits) - 1); };
    switch (how) {
    case Expect::Unpack2: for (UINT x = 0; x < p.width; x++) out += char(field(2, x)); break;
    case Expect::Unpack2Grey: for (UINT x = 0; x < p.width; x++) out += char(field(2, x) * 5); break;
    case Expect::Unpack4: for (UINT x = 0; x < p.width; x++) out += char(field(4, x)); break;
    default: out.assign(reinterpret_cast<const char *>(row), p.Stride());
    }
    return out;
}

TEST_F(WicPlugin, ReadsWhatTheComponentWritesInEveryPixelLayout)
{
    Picture opaque = wictest::Pattern(GUID_WICPixelFormat32bppPBGRA, 9, 4, 7);
    for (size_t i = 3; i < opaque.pixels.size(); i += 4) opaque.pixels[i] = 0xFF;
    const struct {
        const char *name;
        int format;
        Picture picture;
        DWORD dataType, bits;
        WORD paletteEntries;
        Expect how;
        DWORD compression;
    } cases[] = {
        {"PNG black and white", WIC_PNG, wictest::Pattern(GUID_WICPixelFormatBlackWhite, 13, 3, 1), Q32_TYPE_BILEVEL, 1, 0, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"PNG 1-bit palette", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat1bppIndexed, 17, 3, 2, Colours(2)), Q32_TYPE_BILEVEL, 1, 2, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"PNG 2-bit palette", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat2bppIndexed, 7, 3, 3, Colours(4)), Q32_TYPE_PALETTE4, 4, 4, Expect::Unpack2, Q32_COMPRESS_DEFLATE},
        {"PNG 4-bit palette", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat4bppIndexed, 5, 3, 4, Colours(13)), Q32_TYPE_PALETTE4, 4, 13, Expect::Unpack4, Q32_COMPRESS_DEFLATE},
        {"PNG 8-bit palette", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 6, 3, 5, Colours(200)), Q32_TYPE_PALETTE8, 8, 200, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"PNG 2-bit grey", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat2bppGray, 11, 2, 6), Q32_TYPE_GREY4, 4, 0, Expect::Unpack2Grey, Q32_COMPRESS_DEFLATE},
        {"PNG 4-bit grey", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat4bppGray, 11, 2, 7), Q32_TYPE_GREY4, 4, 0, Expect::Unpack4, Q32_COMPRESS_DEFLATE},
        {"PNG 8-bit grey", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat8bppGray, 5, 2, 8), Q32_TYPE_GREY8, 8, 0, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"PNG 24-bit", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat24bppBGR, 5, 2, 10), Q32_TYPE_RGB, 24, 0, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"PNG 32-bit with alpha", WIC_PNG, wictest::Pattern(GUID_WICPixelFormat32bppBGRA, 5, 2, 11), Q32_TYPE_BGRA, 32, 0, Expect::Same, Q32_COMPRESS_DEFLATE},
        {"TIFF 8-bit palette", WIC_TIF, wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 6, 3, 14, Colours(256)), Q32_TYPE_PALETTE8, 8, 256, Expect::Same, Q32_COMPRESS_NONE},
        {"TIFF premultiplied through a converter", WIC_TIF, opaque, Q32_TYPE_BGRA, 32, 0, Expect::Same, Q32_COMPRESS_NONE},
        {"TIFF 4-bit grey", WIC_TIF, wictest::Pattern(GUID_WICPixelFormat4bppGray, 9, 3, 15), Q32_TYPE_GREY4, 4, 0, Expect::Unpack4, Q32_COMPRESS_NONE},
        {"GIF", WIC_GIF, wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 10, 4, 16, Colours(256)), Q32_TYPE_PALETTE8, 8, 256, Expect::Same, Q32_COMPRESS_LZW},
        {"JPEG grey", WIC_JPG, wictest::Smooth(GUID_WICPixelFormat8bppGray, 64, 48), Q32_TYPE_GREY8, 8, 0, Expect::Lossy, Q32_COMPRESS_JPEG},
        {"JPEG colour", WIC_JPG, wictest::Smooth(GUID_WICPixelFormat24bppBGR, 64, 48), Q32_TYPE_RGB, 24, 0, Expect::Lossy, Q32_COMPRESS_JPEG},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / (std::string("made.") + ExtensionOf(c.format));
        ASSERT_TRUE(wictest::Encode(path, ContainerOf(c.format), {c.picture}));
        HGLOBAL fileData = HGLOBAL(GetFileData(c.format, path));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        Facts facts = FactsOf(fileData);
        EXPECT_EQ(c.dataType, facts.dataType);
        EXPECT_EQ(c.bits, facts.bitsPerPixel);
        EXPECT_EQ(c.paletteEntries, facts.paletteEntries);
        EXPECT_EQ(LONG(c.picture.width), facts.width);
        EXPECT_EQ(LONG(c.picture.height), facts.height);
        EXPECT_EQ(c.compression, facts.compression);
        EXPECT_EQ(WIC_FACTS_MAGIC, facts.wic.magic);
        EXPECT_EQ(DWORD(c.format), facts.wic.format);
        EXPECT_EQ(1u, facts.wic.frameCount);
        EXPECT_EQ(0u, facts.wic.frame);
        if (c.paletteEntries) {
            std::vector<WICColor> palette = PaletteOf(fileData);
            palette.resize(c.picture.palette.size());
            EXPECT_EQ(c.picture.palette, palette);
        }
        Rows rows;
        ASSERT_EQ(1, Read(c.format, path, fileData, rows)) << ReadError().text;
        ASSERT_EQ(size_t(c.picture.height), rows.byY.size());
        if (c.how == Expect::Lossy) {
            std::string all = rows.All();
            EXPECT_GT(wictest::Psnr(c.picture.pixels, std::vector<uint8_t>(all.begin(), all.end())), 30.0);
        } else {
            for (UINT y = 0; y < c.picture.height; y++) EXPECT_EQ(Expected(c.how, c.picture, y), rows.byY[LONG(y)]) << y;
        }
        Free(fileData);
    }
}

TEST_F(WicPlugin, RowsComeInTheTypeTheCallerTakes)
{
    auto narrow = [](unsigned v) { return char(v / 257); };
    auto narrowAlpha = [](unsigned v) { return char((v + 256) / 257); };
    const std::string rgb16("\x12\x34\x56\x78\x9A\xBC", 6), rgba16("\x12\x34\x56\x78\x9A\xBC\xDE\xF0", 8);
    const std::string plte = wictest::PngChunk("PLTE", std::string("\xFF\x00\x00\x00\xFF\x00", 6));
    const DWORD only = Q32_TYPES_ONLY;
    const struct {
        const char *name;
        std::string png;
        DWORD mask, delivered;
        std::string row;
        bool transparent;
    } cases[] = {
        /* PNG stores samples big-endian, red first; they come little-endian, blue first. */
        {"16-bit grey", wictest::MakePng(2, 1, 0, 16, {std::string("\x12\x34\xAB\xCD", 4)}), 0, Q32_TYPE_GREY16,
         std::string("\x34\x12\xCD\xAB", 4), false},
        {"16-bit colour with alpha", wictest::MakePng(1, 1, 6, 16, {rgba16}), 0, Q32_TYPE_BGRA64,
         std::string("\xBC\x9A\x78\x56\x34\x12\xF0\xDE", 8), false},
        {"48-bit as 24", wictest::MakePng(1, 1, 2, 16, {rgb16}), only | Q32_TYPE_RGB | Q32_TYPE_PALETTE8, Q32_TYPE_RGB,
         {narrow(0x9ABC), narrow(0x5678), narrow(0x1234)}, false},
        {"48-bit as 32", wictest::MakePng(1, 1, 2, 16, {rgb16}), only | Q32_TYPE_BGRA, Q32_TYPE_BGRA,
         {narrow(0x9ABC), narrow(0x5678), narrow(0x1234), '\xFF'}, false},
        {"48-bit as stored when the mask is a hint", wictest::MakePng(1, 1, 2, 16, {rgb16}), 7, Q32_TYPE_RGB48,
         std::string("\xBC\x9A\x78\x56\x34\x12", 6), false},
        {"48-bit as stored when the mask holds it", wictest::MakePng(1, 1, 2, 16, {rgb16}), only | Q32_TYPE_RGB48 | Q32_TYPE_RGB,
         Q32_TYPE_RGB48, std::string("\xBC\x9A\x78\x56\x34\x12", 6), false},
        {"64-bit as 32", wictest::MakePng(1, 1, 6, 16, {rgba16}), only | Q32_TYPE_BGRA | Q32_TYPE_RGB, Q32_TYPE_BGRA,
         {narrow(0x9ABC), narrow(0x5678), narrow(0x1234), narrowAlpha(0xDEF0)}, false},
        {"16-bit grey as 8", wictest::MakePng(2, 1, 0, 16, {std::string("\xFF\xFF\x80\x7F", 4)}), only | Q32_TYPE_GREY8 | Q32_TYPE_RGB,
         Q32_TYPE_GREY8, {'\xFF', narrow(0x807F)}, false},
        {"indices beyond the palette are black", wictest::MakePng(3, 1, 3, 8, {std::string("\x00\x01\x03", 3)}, plte),
         only | Q32_TYPE_RGB, Q32_TYPE_RGB, std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00\x00", 9), false},
        {"a transparent palette entry as alpha", wictest::MakePng(2, 1, 3, 8, {std::string("\x00\x01", 2)},
                                                                  plte + wictest::PngChunk("tRNS", std::string("\x40", 1))),
         only | Q32_TYPE_BGRA | Q32_TYPE_GREY8, Q32_TYPE_BGRA, std::string("\x00\x00\xFF\x40\x00\xFF\x00\xFF", 8), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "typed.png";
        WriteFileBytes(path, c.png);
        HGLOBAL fileData = HGLOBAL(GetFileData(WIC_PNG, path));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        EXPECT_EQ(DWORD(c.transparent), FactsOf(fileData).wic.transparent);
        if (!c.mask) { EXPECT_EQ(c.delivered, FactsOf(fileData).dataType); }
        Rows rows;
        ImageRequest request = {};
        request.rasterTypes = c.mask;
        rows.dataType = c.delivered, rows.bits = Q32TypeBits(c.delivered);
        ASSERT_EQ(1, Read(WIC_PNG, path, fileData, rows, request, false)) << ReadError().text;
        EXPECT_EQ(c.row, rows.byY[0]);
        Free(fileData);
    }
    /* Nothing the rows can become: refused. */
    std::string path = dir / "deep.png";
    WriteFileBytes(path, wictest::MakePng(1, 1, 2, 16, {rgb16}));
    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_PNG, path));
    ASSERT_GT(INT_PTR(fileData), 0);
    Rows rows;
    ImageRequest request = {};
    request.rasterTypes = only | Q32_TYPE_PALETTE8 | Q32_TYPE_GREY8;
    EXPECT_EQ(0, Read(WIC_PNG, path, fileData, rows, request));
    ExpectError(4026, EntryRead, PlaceTypes);
    EXPECT_TRUE(rows.byY.empty());
    Free(fileData);
}

TEST_F(WicPlugin, GifFramesComeAsTheScreenShowsThemOrRawWhenAsked)
{
    /* A 2 x 2 screen of white; frame 0 one pixel at (1, 0), left; frame 1 one pixel at
       (0, 1), cleared to the background; frame 2 the whole screen with a transparent index. */
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    std::string path = dir / "screen.gif";
    WriteFileBytes(path, wictest::MakeGif(2, 2, colours, {{1, 0, 1, 1, 1, -1, std::string(1, '\0')},
                                                          {0, 1, 1, 1, 2, -1, std::string(1, '\1')},
                                                          {0, 0, 2, 2, 0, 3, std::string("\2\3\3\3", 4)}}));
    const std::string red("\x00\x00\xFF\xFF", 4), green("\x00\xFF\x00\xFF", 4), blue("\xFF\x00\x00\xFF", 4),
        white(4, '\xFF'), clear(4, '\0');
    const std::string screens[3][2] = {{white + red, white + white},
                                       {white + red, green + white},
                                       {blue + red, clear + white}};
    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_GIF, path));
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    for (LPARAM i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        if (i) { ASSERT_EQ(1, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, i)) << ReadError().text; }
        Facts facts = FactsOf(fileData);
        EXPECT_EQ(1u, facts.wic.composed);
        EXPECT_EQ(Q32_TYPE_BGRA, facts.dataType);
        EXPECT_EQ(2, facts.width);
        EXPECT_EQ(2, facts.height);
        Rows rows;
        ASSERT_EQ(1, Read(WIC_GIF, path, fileData, rows)) << ReadError().text;
        EXPECT_EQ(screens[i][0], rows.byY[0]);
        EXPECT_EQ(screens[i][1], rows.byY[1]);
    }
    /* The frame's own rows, asked for: its size, its palette's indices. */
    Rows raw;
    ASSERT_EQ(1, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, 1 | WIC_FRAME_RAW));
    Facts facts = FactsOf(fileData);
    EXPECT_EQ(0u, facts.wic.composed);
    EXPECT_EQ(Q32_TYPE_PALETTE8, facts.dataType);
    EXPECT_EQ(1, facts.width);
    EXPECT_EQ(1, facts.wic.top);
    ASSERT_EQ(1, Read(WIC_GIF, path, fileData, raw)) << ReadError().text;
    EXPECT_EQ(std::string(1, '\1'), raw.byY[0]);
    Free(fileData);
}

/* The colour of pixel x of a row of the row protocol, as B, G, R, A. */
uint32_t ColourOf(DWORD dataType, const std::string &row, LONG x, const std::vector<WICColor> &palette)
{
    auto byte = [&](size_t i) { return uint32_t(uint8_t(row[i])); };
    auto grey = [](uint32_t v) { return 0xFF000000u | v << 16 | v << 8 | v; };
    switch (dataType) {
    case Q32_TYPE_BILEVEL: {
        uint32_t bit = byte(size_t(x) / 8) >> (7 - x % 8) & 1;
        return palette.empty() ? grey(bit ? 255 : 0) : palette[bit];
    }
    case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16: case Q32_TYPE_PALETTE8: return palette[byte(size_t(x))];
    case Q32_TYPE_GREY4: return grey(byte(size_t(x)) * 17);
    case Q32_TYPE_GREY8: return grey(byte(size_t(x)));
    case Q32_TYPE_RGB: return 0xFF000000u | byte(3 * x + 2) << 16 | byte(3 * x + 1) << 8 | byte(3 * x);
    case Q32_TYPE_BGRA: return byte(4 * x + 3) << 24 | byte(4 * x + 2) << 16 | byte(4 * x + 1) << 8 | byte(4 * x);
    default: return 0;
    }
}

TEST_F(WicPlugin, WritesEveryTypeItsFormatsHoldAndReadsItBack)
{
    const struct {
        const char *name;
        int format;
        DWORD dataType, bits;
        unsigned paletteSize, limit;
        DWORD readType;                /* what a read gives back */
    } cases[] = {
        {"PNG bilevel", WIC_PNG, Q32_TYPE_BILEVEL, 1, 0, 256, Q32_TYPE_BILEVEL},
        {"PNG bilevel with palette", WIC_PNG, Q32_TYPE_BILEVEL, 1, 2, 256, Q32_TYPE_BILEVEL},
        {"PNG bilevel with one colour", WIC_PNG, Q32_TYPE_BILEVEL, 1, 1, 256, Q32_TYPE_BILEVEL},
        {"PNG 16 colours", WIC_PNG, Q32_TYPE_PALETTE4, 4, 11, 11, Q32_TYPE_PALETTE4},
        {"PNG 16 colours in bytes", WIC_PNG, Q32_TYPE_COLOURS16, 8, 16, 16, Q32_TYPE_PALETTE4},
        {"PNG 256 colours", WIC_PNG, Q32_TYPE_PALETTE8, 8, 256, 256, Q32_TYPE_PALETTE8},
        {"PNG 16 greys", WIC_PNG, Q32_TYPE_GREY4, 4, 0, 16, Q32_TYPE_GREY4},
        {"PNG 256 greys", WIC_PNG, Q32_TYPE_GREY8, 8, 0, 256, Q32_TYPE_GREY8},
        {"PNG 16-bit grey", WIC_PNG, Q32_TYPE_GREY16, 16, 0, 256, Q32_TYPE_GREY16},
        {"PNG 24-bit", WIC_PNG, Q32_TYPE_RGB, 24, 0, 256, Q32_TYPE_RGB},
        {"PNG 32-bit with alpha", WIC_PNG, Q32_TYPE_BGRA, 32, 0, 256, Q32_TYPE_BGRA},
        {"PNG 48-bit", WIC_PNG, Q32_TYPE_RGB48, 48, 0, 256, Q32_TYPE_RGB48},
        {"PNG 64-bit", WIC_PNG, Q32_TYPE_BGRA64, 64, 0, 256, Q32_TYPE_BGRA64},
        {"TIFF bilevel", WIC_TIF, Q32_TYPE_BILEVEL, 1, 0, 256, Q32_TYPE_BILEVEL},
        {"TIFF 16 colours", WIC_TIF, Q32_TYPE_PALETTE4, 4, 16, 16, Q32_TYPE_PALETTE4},
        {"TIFF 256 colours", WIC_TIF, Q32_TYPE_PALETTE8, 8, 100, 100, Q32_TYPE_PALETTE8},
        {"TIFF 16 greys", WIC_TIF, Q32_TYPE_GREY4, 4, 0, 16, Q32_TYPE_GREY4},
        {"TIFF 256 greys", WIC_TIF, Q32_TYPE_GREY8, 8, 0, 256, Q32_TYPE_GREY8},
        {"TIFF 24-bit", WIC_TIF, Q32_TYPE_RGB, 24, 0, 256, Q32_TYPE_RGB},
        {"TIFF 32-bit with alpha", WIC_TIF, Q32_TYPE_BGRA, 32, 0, 256, Q32_TYPE_BGRA},
        {"TIFF 48-bit", WIC_TIF, Q32_TYPE_RGB48, 48, 0, 256, Q32_TYPE_RGB48},
        {"GIF bilevel", WIC_GIF, Q32_TYPE_BILEVEL, 1, 2, 256, Q32_TYPE_PALETTE8},
        {"GIF 16 colours", WIC_GIF, Q32_TYPE_PALETTE4, 4, 16, 16, Q32_TYPE_PALETTE8},
        {"GIF 256 colours", WIC_GIF, Q32_TYPE_PALETTE8, 8, 256, 256, Q32_TYPE_PALETTE8},
        {"GIF 16 greys", WIC_GIF, Q32_TYPE_GREY4, 4, 0, 16, Q32_TYPE_PALETTE8},
        {"GIF 256 greys", WIC_GIF, Q32_TYPE_GREY8, 8, 0, 256, Q32_TYPE_PALETTE8},
    };
    const LONG width = 21, height = 7;
    unsigned seed = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<WICColor> palette = c.paletteSize ? Colours(c.paletteSize, seed) : std::vector<WICColor>{};
        std::string path = dir / (std::string("w.") + ExtensionOf(c.format));
        Rows source;
        source.byY = RandomRows(c.dataType, c.bits, width, height, c.limit, seed++);
        HGLOBAL original = NewFileData(path, c.dataType, c.bits, width, height, palette);
        ASSERT_EQ(1, Write(c.format, path, original, source)) << ReadError().text;
        Free(original);

        /* Read back through the plug-in: the same values. */
        HGLOBAL fileData = HGLOBAL(GetFileData(c.format, path));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        EXPECT_EQ(c.readType, FactsOf(fileData).dataType);
        Rows back;
        ASSERT_EQ(1, Read(c.format, path, fileData, back)) << ReadError().text;
        std::vector<WICColor> readPalette = PaletteOf(fileData);
        Free(fileData);
        for (LONG y = 0; y < height; y++) {
            if (c.readType == c.dataType || c.dataType == Q32_TYPE_COLOURS16 || c.bits == 8) {
                EXPECT_EQ(source.byY[y], back.byY[y]) << y;
            } else {
                for (LONG x = 0; x < width; x++) {
                    unsigned value = c.dataType == Q32_TYPE_BILEVEL ? uint8_t(source.byY[y][x / 8]) >> (7 - x % 8) & 1
                                                                    : uint8_t(source.byY[y][x]);
                    ASSERT_EQ(value, unsigned(uint8_t(back.byY[y][x]))) << x << "," << y;
                }
            }
        }
        if (c.paletteSize == 1) {
            ASSERT_GE(readPalette.size(), 2u);
            EXPECT_EQ(0xFFFFFFFFu, readPalette[1]) << "a one-colour palette is completed with white";
        }
        if (!palette.empty()) {
            readPalette.resize(palette.size());
            EXPECT_EQ(palette, readPalette);
        }

        /* The component's own decoder sees the same colours. */
        if (c.paletteSize == 1) palette.push_back(0xFFFFFFFFu);
        if (c.bits <= 32 && c.dataType != Q32_TYPE_GREY16) {
            Picture decoded;
            ASSERT_TRUE(wictest::Decode(path, 0, GUID_WICPixelFormat32bppBGRA, decoded));
            for (LONG y = 0; y < height; y++)
                for (LONG x = 0; x < width; x++) {
                    uint32_t got;
                    memcpy(&got, decoded.pixels.data() + size_t(y) * decoded.Stride() + 4 * x, 4);
                    ASSERT_EQ(ColourOf(c.dataType, source.byY[y], x, palette), got) << x << "," << y;
                }
        }
    }
}

TEST_F(WicPlugin, JpegRoundTripsWithinItsLoss)
{
    Picture smooth = wictest::Smooth(GUID_WICPixelFormat24bppBGR, 80, 60);
    Rows source;
    source.byY = RowsOf(smooth);
    std::string path = dir / "smooth.jpg";
    HGLOBAL original = NewFileData(path, Q32_TYPE_RGB, 24, 80, 60);
    ASSERT_EQ(1, Write(WIC_JPG, path, original, source)) << ReadError().text;
    Free(original);
    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_JPG, path));
    ASSERT_GT(INT_PTR(fileData), 0);
    Rows back;
    ASSERT_EQ(1, Read(WIC_JPG, path, fileData, back));
    Free(fileData);
    std::string all = back.All();
    EXPECT_GT(wictest::Psnr(smooth.pixels, std::vector<uint8_t>(all.begin(), all.end())), 30.0);

    /* Alpha is left behind; a palette image is written in its colours. */
    Rows withAlpha;
    for (auto &[y, row] : source.byY) {
        std::string out;
        for (size_t i = 0; i < row.size(); i += 3) out += row.substr(i, 3) + char(y * 4);
        withAlpha.byY[y] = out;
    }
    original = NewFileData(path, Q32_TYPE_BGRA, 32, 80, 60);
    ASSERT_EQ(1, Write(WIC_JPG, path, original, withAlpha)) << ReadError().text;
    Free(original);
    Picture decoded;
    ASSERT_TRUE(wictest::Decode(path, 0, GUID_WICPixelFormat24bppBGR, decoded));
    EXPECT_GT(wictest::Psnr(smooth.pixels, decoded.pixels), 30.0);

    Rows indices;
    indices.byY = RandomRows(Q32_TYPE_PALETTE8, 8, 16, 8, 2, 3);
    original = NewFileData(path, Q32_TYPE_PALETTE8, 8, 16, 8, {0xFF000000u, 0xFFFFFFFFu});
    ASSERT_EQ(1, Write(WIC_JPG, path, original, indices)) << ReadError().text;
    Free(original);
    ASSERT_TRUE(wictest::Decode(path, 0, GUID_WICPixelFormat24bppBGR, decoded));
    std::vector<uint8_t> expected;
    for (auto &[y, row] : indices.byY)
        for (char index : row) expected.insert(expected.end(), 3, index ? 255 : 0);
    EXPECT_GT(wictest::Psnr(expected, decoded.pixels), 20.0);
}

TEST_F(WicPlugin, RefusesWritesItsFormatsCannotHold)
{
    const struct {
        const char *name;
        int format;
        DWORD dataType, bits;
        std::vector<WICColor> palette;
        unsigned limit;
        int place;
    } cases[] = {
        {"GIF true colour", WIC_GIF, Q32_TYPE_RGB, 24, {}, 256, PlaceType},
        {"JPEG 16-bit", WIC_JPG, Q32_TYPE_RGB48, 48, {}, 256, PlaceType},
        {"bits per pixel against the type", WIC_PNG, Q32_TYPE_RGB, 32, {}, 256, PlaceType},
        {"index beyond the palette", WIC_PNG, Q32_TYPE_PALETTE8, 8, Colours(3), 4, PlaceBadPixel},
        {"grey level beyond 15", WIC_TIF, Q32_TYPE_GREY4, 4, {}, 17, PlaceBadPixel},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c32ResetDLLErrInfo();
        std::string path = dir / "refused";
        Rows rows;
        rows.byY = RandomRows(c.dataType, Q32TypeBits(c.dataType), 64, 2, c.limit, 5);
        if (c.place == PlaceBadPixel) rows.byY[1][3] = char(c.limit - 1);
        HGLOBAL fileData = NewFileData(path, c.dataType, c.bits, 64, 2, c.palette);
        EXPECT_EQ(0, Write(c.format, path, fileData, rows));
        ExpectError(4026, EntryWrite, c.place);
        Free(fileData);
    }
}

/* An icon file of PNG images. */
std::string Icon(const std::vector<std::string> &pngs, const std::vector<int> &sizes)
{
    std::string out = Le(0, 2) + Le(1, 2) + Le(uint32_t(pngs.size()), 2);
    uint32_t offset = uint32_t(6 + 16 * pngs.size());
    for (size_t i = 0; i < pngs.size(); i++) {
        out += char(sizes[i] & 0xFF) + std::string(1, char(sizes[i] & 0xFF)) + std::string(2, '\0') + Le(1, 2) +
               Le(32, 2) + Le(uint32_t(pngs[i].size()), 4) + Le(offset, 4);
        offset += uint32_t(pngs[i].size());
    }
    for (const std::string &png : pngs) out += png;
    return out;
}

TEST_F(WicPlugin, IconsOpenTheirLargestImageUnlessTheSettingsSayOtherwise)
{
    std::string small = dir / "small.png", large = dir / "large.png";
    ASSERT_TRUE(wictest::Encode(small, GUID_ContainerFormatPng, {wictest::Pattern(GUID_WICPixelFormat32bppBGRA, 16, 16, 1)}));
    Picture big = wictest::Pattern(GUID_WICPixelFormat32bppBGRA, 32, 32, 2);
    ASSERT_TRUE(wictest::Encode(large, GUID_ContainerFormatPng, {big}));
    std::string path = dir / "two.ico";
    WriteFileBytes(path, Icon({ReadFileBytes(small), ReadFileBytes(large)}, {16, 32}));

    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_ICO, path));
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    Facts facts = FactsOf(fileData);
    EXPECT_EQ(32, facts.width);
    EXPECT_EQ(Q32_TYPE_BGRA, facts.dataType);
    EXPECT_EQ(2u, facts.wic.frameCount);
    EXPECT_EQ(1u, facts.wic.frame);
    Rows rows;
    ASSERT_EQ(1, Read(WIC_ICO, path, fileData, rows)) << ReadError().text;
    EXPECT_EQ(RowsOf(big), rows.byY);
    /* The other image through the frame command. */
    EXPECT_EQ(1, Command(WIC_ICO, fileData, WIC_COMMAND_READ_FRAME, nullptr, 0));
    EXPECT_EQ(16, FactsOf(fileData).width);
    Free(fileData);

    std::string ini = dir / "suite.ini";
    WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_ICO_LARGEST, "0", ini.c_str());
    fileData = HGLOBAL(GetFileData(WIC_ICO, path, ini.c_str()));
    ASSERT_GT(INT_PTR(fileData), 0);
    EXPECT_EQ(16, FactsOf(fileData).width);
    Free(fileData);
}

TEST_F(WicPlugin, DeliversRowsInBandsAndPartRowsFromTheirByte)
{
    Picture tall = wictest::Pattern(GUID_WICPixelFormat24bppBGR, 300, 2000, 3);
    std::string path = dir / "tall.png";
    ASSERT_TRUE(wictest::Encode(path, GUID_ContainerFormatPng, {tall}));
    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_PNG, path));
    ASSERT_GT(INT_PTR(fileData), 0);

    /* Whole image: several blocks of rows, top to bottom, each row once. */
    Rows all;
    ASSERT_EQ(1, Read(WIC_PNG, path, fileData, all));
    EXPECT_EQ(RowsOf(tall), all.byY);
    EXPECT_GT(all.blocks.size(), 1u);
    EXPECT_LT(all.blocks.size(), 100u);
    LONG next = 0;
    for (size_t i = 0; i < all.ys.size(); i++) {
        EXPECT_EQ(next, all.ys[i]);
        EXPECT_GT(all.blocks[i], 1);
        next += all.blocks[i];
    }
    EXPECT_EQ(2000, next);

    /* A region, cut at the image's edge. */
    ImageRequest region = {};
    region.rasterX = 290, region.rasterY = 1990, region.rasterWidth = 50, region.rasterHeight = 50;
    Rows part;
    ASSERT_EQ(1, Read(WIC_PNG, path, fileData, part, region));
    EXPECT_EQ(10u, part.byY.size());
    EXPECT_EQ(290, part.xs.back());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(tall.pixels.data()) + 1995 * tall.Stride() + 290 * 3, 30),
              part.byY[1995]);

    /* Packed pixels: a part row starts at the byte of its first pixel. */
    Picture bits = wictest::Pattern(GUID_WICPixelFormatBlackWhite, 40, 3, 4);
    ASSERT_TRUE(wictest::Encode(path, GUID_ContainerFormatPng, {bits}));
    fileData = HGLOBAL(GetFileData(WIC_PNG, path));
    region = {};
    region.rasterX = 11, region.rasterWidth = 9, region.rasterHeight = 1;
    Rows packed;
    ASSERT_EQ(1, Read(WIC_PNG, path, fileData, packed, region));
    EXPECT_EQ(8, packed.xs.back());
    EXPECT_EQ((std::vector<LONG>{12}), packed.counts);
    std::string expected(reinterpret_cast<const char *>(bits.pixels.data()) + 1, 2);
    expected[1] &= char(0xF0);
    EXPECT_EQ(expected, packed.byY[0]);
    /* Beyond the right edge stays beyond it, though the byte of x = 40 - 1 is there. */
    region.rasterX = 40, region.rasterWidth = 3;
    Rows beyond;
    EXPECT_EQ(0, Read(WIC_PNG, path, fileData, beyond, region));
    ExpectError(4026, EntryRead, PlaceRegion);
    Free(fileData);
}

TEST_F(WicPlugin, FramesOfAnimationsAndPagesAreChosenByCommand)
{
    std::vector<Picture> frames;
    for (unsigned i = 0; i < 3; i++)
        frames.push_back(wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 12, 5, 20 + i, Colours(256, 7 + i)));
    std::string gif = dir / "anim.gif";
    ASSERT_TRUE(wictest::Encode(gif, GUID_ContainerFormatGif, frames));

    HGLOBAL fileData = HGLOBAL(GetFileData(WIC_GIF, gif));
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    Facts facts = FactsOf(fileData);
    EXPECT_EQ(3u, facts.wic.frameCount);
    EXPECT_EQ(0u, facts.wic.frame);
    EXPECT_EQ(12u, facts.wic.screenWidth);
    EXPECT_EQ(-1, facts.wic.loopCount);
    Rows first;
    ASSERT_EQ(1, Read(WIC_GIF, gif, fileData, first));
    EXPECT_EQ(RowsOf(frames[0]), first.byY);

    /* By index: the FileData then describes that frame, rows and palette. */
    Rows third;
    PluginDriver::TypeOf(fileData, third);
    ASSERT_EQ(1, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, &third, 2)) << ReadError().text;
    EXPECT_EQ(RowsOf(frames[2]), third.byY);
    EXPECT_EQ(2u, FactsOf(fileData).wic.frame);
    EXPECT_EQ(frames[2].palette, PaletteOf(fileData));
    /* The next after the last: none. */
    Rows none;
    EXPECT_EQ(0, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, &none, -1));
    ExpectError(4026, EntryCommand, PlaceFrame);
    EXPECT_TRUE(none.byY.empty());
    /* Choosing without reading; the read entry then reads that frame. */
    ASSERT_EQ(1, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, 1));
    Rows second;
    ASSERT_EQ(1, Read(WIC_GIF, gif, fileData, second));
    EXPECT_EQ(RowsOf(frames[1]), second.byY);
    /* -1 goes on from there. */
    Rows next;
    PluginDriver::TypeOf(fileData, next);
    ASSERT_EQ(1, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, &next, -1));
    EXPECT_EQ(RowsOf(frames[2]), next.byY);
    EXPECT_EQ(0, Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, 3));
    EXPECT_EQ(0, Command(WIC_GIF, fileData, 99, nullptr, 0));
    Free(fileData);

    /* Pages of other sizes and types. */
    std::vector<Picture> pages = {wictest::Pattern(GUID_WICPixelFormat24bppBGR, 10, 5, 1),
                                  wictest::Pattern(GUID_WICPixelFormat8bppGray, 7, 3, 2),
                                  wictest::Pattern(GUID_WICPixelFormatBlackWhite, 20, 2, 3)};
    const DWORD types[] = {Q32_TYPE_RGB, Q32_TYPE_GREY8, Q32_TYPE_BILEVEL};
    std::string tif = dir / "pages.tif";
    ASSERT_TRUE(wictest::Encode(tif, GUID_ContainerFormatTiff, pages));
    fileData = HGLOBAL(GetFileData(WIC_TIF, tif));
    ASSERT_GT(INT_PTR(fileData), 0);
    EXPECT_EQ(3u, FactsOf(fileData).wic.frameCount);
    for (LPARAM page = 2; page >= 0; page--) {
        SCOPED_TRACE(page);
        Rows rows;
        ASSERT_EQ(1, Command(WIC_TIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, page));
        Facts f = FactsOf(fileData);
        EXPECT_EQ(LONG(pages[page].width), f.width);
        EXPECT_EQ(LONG(pages[page].height), f.height);
        EXPECT_EQ(types[page], f.dataType);
        ASSERT_EQ(1, Read(WIC_TIF, tif, fileData, rows));
        EXPECT_EQ(RowsOf(pages[page]), rows.byY);
    }
    Free(fileData);

    /* The open settings choose the page a new FileData describes. */
    std::string ini = dir / "suite.ini";
    WritePrivateProfileStringA(WIC_INI_SECTION, "TIFFirstFrame", "1", ini.c_str());
    fileData = HGLOBAL(GetFileData(WIC_TIF, tif, ini.c_str()));
    ASSERT_GT(INT_PTR(fileData), 0);
    EXPECT_EQ(1u, FactsOf(fileData).wic.frame);
    EXPECT_EQ(7, FactsOf(fileData).width);
    Free(fileData);
    WritePrivateProfileStringA(WIC_INI_SECTION, "TIFFirstFrame", "9", ini.c_str());
    fileData = HGLOBAL(GetFileData(WIC_TIF, tif, ini.c_str()));
    EXPECT_EQ(0u, FactsOf(fileData).wic.frame);
    Free(fileData);
}

TEST_F(WicPlugin, FramesAreAppendedKeepingTheFramesBefore)
{
    std::string ini = dir / "suite.ini";
    ScopedEnv iniEnv("Q32_INI", ini);
    WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_GIF_LOOPS, "3", ini.c_str());
    WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_GIF_DELAY, "25", ini.c_str());
    for (int format : {WIC_GIF, WIC_TIF}) {
        SCOPED_TRACE(ExtensionOf(format));
        std::string path = dir / (std::string("grow.") + ExtensionOf(format));
        std::vector<WICColor> palette = Colours(40, 3);
        Rows first;
        first.byY = RandomRows(Q32_TYPE_PALETTE8, 8, 9, 4, 40, 1);
        HGLOBAL fileData = NewFileData(path, Q32_TYPE_PALETTE8, 8, 9, 4, palette);
        ASSERT_EQ(1, Write(format, path, fileData, first)) << ReadError().text;
        if (format == WIC_GIF) {
            /* One image: nothing to repeat yet. */
            HGLOBAL single = HGLOBAL(GetFileData(WIC_GIF, path));
            ASSERT_GT(INT_PTR(single), 0);
            EXPECT_EQ(-1, FactsOf(single).wic.loopCount);
            EXPECT_EQ(25u, FactsOf(single).wic.delay);
            Free(single);
        }
        WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_GIF_DELAY, "50", ini.c_str());

        /* A frame of another size and type. */
        Rows second;
        second.byY = RandomRows(Q32_TYPE_GREY8, 8, 6, 3, 256, 2);
        {
            Locked<::FileData> d(fileData);
            DeleteObject(d->raster.palette);
            d->raster = {8, 6, 3, 0, 0, Q32_TYPE_GREY8, nullptr};
        }
        ASSERT_EQ(1, Command(format, fileData, WIC_COMMAND_APPEND_FRAME, &second, -1, Supply)) << ReadError().text;
        EXPECT_EQ(2u, FactsOf(fileData).wic.frameCount);
        {
            Locked<::FileData> d(fileData);
            EXPECT_EQ(DWORD(ReadFileBytes(path).size()), d->fileSize);
        }

        /* A frame that cannot be written leaves the file as it was, and no work file. */
        std::string before = ReadFileBytes(path);
        Rows refused;
        refused.byY = RandomRows(Q32_TYPE_CMYK, 32, 2, 2, 256, 3);
        {
            Locked<::FileData> d(fileData);
            d->raster = {32, 2, 2, 0, 0, Q32_TYPE_CMYK, nullptr};
        }
        EXPECT_EQ(0, Command(format, fileData, WIC_COMMAND_APPEND_FRAME, &refused, -1, Supply));
        ExpectError(4026, EntryCommand, PlaceType);
        Rows stopping;
        stopping.byY = second.byY;
        stopping.stopAfter = 1;
        {
            Locked<::FileData> d(fileData);
            d->raster = {8, 6, 3, 0, 0, Q32_TYPE_GREY8, nullptr};
        }
        EXPECT_EQ(Q32_WRITE_STOPPED, Command(format, fileData, WIC_COMMAND_APPEND_FRAME, &stopping, -1, Supply));
        EXPECT_EQ(before, ReadFileBytes(path));
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir / "*.tmp").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        Free(fileData);

        /* Both frames, as the component decodes them. */
        UINT count = 0;
        Picture decoded;
        ASSERT_TRUE(wictest::Decode(path, 0, GUID_WICPixelFormat8bppIndexed, decoded, &count));
        EXPECT_EQ(2u, count);
        EXPECT_EQ(first.byY, RowsOf(decoded));
        ASSERT_TRUE(wictest::Decode(path, 1, format == WIC_GIF ? GUID_WICPixelFormat8bppIndexed : GUID_WICPixelFormat8bppGray, decoded));
        EXPECT_EQ(6u, decoded.width);
        EXPECT_EQ(second.byY, RowsOf(decoded));

        if (format == WIC_GIF) {
            /* Each frame keeps its delay; the loop count stays. */
            HGLOBAL read = HGLOBAL(GetFileData(WIC_GIF, path));
            ASSERT_GT(INT_PTR(read), 0);
            EXPECT_EQ(3, FactsOf(read).wic.loopCount);
            EXPECT_EQ(25u, FactsOf(read).wic.delay);
            ASSERT_EQ(1, Command(WIC_GIF, read, WIC_COMMAND_READ_FRAME, nullptr, 1));
            EXPECT_EQ(50u, FactsOf(read).wic.delay);
            Free(read);
        }
    }

    /* Formats without frames. */
    Rows rows;
    rows.byY = RandomRows(Q32_TYPE_RGB, 24, 2, 2, 256, 1);
    HGLOBAL fileData = NewFileData(dir / "x.png", Q32_TYPE_RGB, 24, 2, 2);
    ASSERT_EQ(1, Write(WIC_PNG, dir / "x.png", fileData, rows));
    EXPECT_EQ(0, Command(WIC_PNG, fileData, WIC_COMMAND_APPEND_FRAME, &rows, -1, Supply));
    ExpectError(4026, EntryCommand, PlaceNoFrames);
    Free(fileData);
}

/* A TIFF made byte by byte: 8-bit grey, one strip, and the given text tags. */
std::string HandMadeTiff(std::string pixels, UINT width, UINT height,
                         const std::vector<std::pair<int, std::string>> &texts, bool packBits = false)
{
    if (packBits) { /* each row one literal run */
        std::string packed;
        for (UINT y = 0; y < height; y++) packed += char(width - 1) + pixels.substr(size_t(y) * width, width);
        pixels = packed;
    }
    struct Tag { int id, type; uint32_t count, value; std::string data; };
    std::vector<Tag> tags = {{256, 3, 1, width, ""}, {257, 3, 1, height, ""}, {258, 3, 1, 8, ""},
                             {259, 3, 1, packBits ? 32773u : 1u, ""},     {262, 3, 1, 1, ""},      {273, 4, 1, 0, ""},
                             {277, 3, 1, 1, ""},     {278, 3, 1, height, ""}, {279, 4, 1, uint32_t(pixels.size()), ""}};
    for (auto &[id, text] : texts) tags.push_back({id, 2, uint32_t(text.size() + 1), 0, text + '\0'});
    std::sort(tags.begin(), tags.end(), [](const Tag &a, const Tag &b) { return a.id < b.id; });
    std::string out = std::string("II*\0", 4) + Le(8, 4);
    uint32_t ifdSize = uint32_t(2 + 12 * tags.size() + 4);
    uint32_t dataAt = 8 + ifdSize;
    std::string data;
    for (Tag &t : tags) {
        if (t.id == 273) t.value = 0; /* fixed below */
        if (t.data.size() > 4) {
            t.value = dataAt + uint32_t(data.size());
            data += t.data;
            if (data.size() % 2) data += '\0';
        }
    }
    uint32_t pixelsAt = dataAt + uint32_t(data.size());
    out += Le(uint32_t(tags.size()), 2);
    for (Tag &t : tags) {
        out += Le(uint32_t(t.id), 2) + Le(uint32_t(t.type), 2) + Le(t.count, 4);
        if (t.id == 273) out += Le(pixelsAt, 4);
        else if (t.type == 2 && t.data.size() <= 4) out += t.data + std::string(4 - t.data.size(), '\0');
        else out += Le(t.value, 4);
    }
    out += Le(0, 4) + data + pixels;
    return out;
}

TEST_F(WicPlugin, PropertyBlocksHoldTheTextsOfTheFile)
{
    auto texts = [&](int format, const std::string &path) {
        std::vector<std::pair<std::string, std::string>> found;
        HGLOBAL fileData = HGLOBAL(GetFileData(format, path));
        EXPECT_GT(INT_PTR(fileData), 0) << ReadError().text;
        if (INT_PTR(fileData) <= 0) return found;
        HGLOBAL block = HGLOBAL(1);
        EXPECT_EQ(1, fio.Entry<PFN_qfDLLGetProperty>(format, 23)(fileData, &block));
        Free(fileData);
        if (!block) return found;
        {
            Locked<PropertyBlock> items(block);
            for (DWORD i = 0; i < items->count; i++) {
                const PropertyItem &item = *(&items->items[0] + i);
                EXPECT_EQ(WIC_ITEM_TEXT, item.type);
                Locked<char> value(item.handle);
                found.emplace_back(reinterpret_cast<const char *>(item.data), value.get());
                EXPECT_EQ(strlen(value.get()) + 1, GlobalSize(item.handle));
            }
            for (DWORD i = 0; i < items->count; i++) GlobalFree((&items->items[0] + i)->handle);
        }
        GlobalFree(block);
        return found;
    };
    using Found = std::vector<std::pair<std::string, std::string>>;

    std::string png = dir / "t.png";
    WriteFileBytes(png, wictest::MakePng(2, 1, 0, 8, {"\x10\x20"},
                                         wictest::PngChunk("tEXt", std::string("Title\0A small picture", 21)) +
                                             wictest::PngChunk("tEXt", std::string("Author\0Q. Tester", 16))));
    EXPECT_EQ((Found{{"Title", "A small picture"}, {"Author", "Q. Tester"}}), texts(WIC_PNG, png));

    std::string jpg = dir / "t.jpg";
    ASSERT_TRUE(wictest::Encode(jpg, GUID_ContainerFormatJpeg, {wictest::Smooth(GUID_WICPixelFormat24bppBGR, 8, 8)}));
    std::string bytes = ReadFileBytes(jpg);
    WriteFileBytes(jpg, bytes.substr(0, 2) + std::string("\xFF\xFE\x00\x0E" "Made by hand", 16) + bytes.substr(2));
    EXPECT_EQ((Found{{"Comment", "Made by hand"}}), texts(WIC_JPG, jpg));

    std::string gif = dir / "t.gif";
    ASSERT_TRUE(wictest::Encode(gif, GUID_ContainerFormatGif, {wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 4, 4, 1, Colours(4))}));
    bytes = ReadFileBytes(gif);
    ASSERT_EQ(0, bytes[10] & 0x80) << "the component writes no global colour table";
    WriteFileBytes(gif, bytes.substr(0, 13) + std::string("\x21\xFE\x05Hello\x06, all!\x00", 16) + bytes.substr(13));
    EXPECT_EQ((Found{{"Comment", "Hello, all!"}}), texts(WIC_GIF, gif));

    std::string tif = dir / "t.tif";
    WriteFileBytes(tif, HandMadeTiff("\x01\x02\x03\x04", 2, 2, {{270, "A test page"}, {305, "Hand"}}));
    EXPECT_EQ((Found{{"ImageDescription", "A test page"}, {"Software", "Hand"}}), texts(WIC_TIF, tif));

    /* Nothing to say: no block. */
    ASSERT_TRUE(wictest::Encode(png, GUID_ContainerFormatPng, {wictest::Pattern(GUID_WICPixelFormat24bppBGR, 2, 2, 1)}));
    EXPECT_EQ(Found{}, texts(WIC_PNG, png));
}

TEST_F(WicPlugin, ReadsHandMadeTiffStripsAndTheirCompression)
{
    for (bool packBits : {false, true}) {
        SCOPED_TRACE(packBits);
        std::string tif = dir / "hand.tif";
        WriteFileBytes(tif, HandMadeTiff("\x01\x02\x03\x04\x05\x06", 3, 2, {}, packBits));
        HGLOBAL fileData = HGLOBAL(GetFileData(WIC_TIF, tif));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        EXPECT_EQ(Q32_TYPE_GREY8, FactsOf(fileData).dataType);
        EXPECT_EQ(packBits ? DWORD(Q32_COMPRESS_PACKBITS) : DWORD(Q32_COMPRESS_NONE), FactsOf(fileData).compression);
        Rows rows;
        ASSERT_EQ(1, Read(WIC_TIF, tif, fileData, rows));
        EXPECT_EQ((std::map<LONG, std::string>{{0, "\x01\x02\x03"}, {1, "\x04\x05\x06"}}), rows.byY);
        Free(fileData);
    }
}

/* What the thread's COM state is: the answer of CoInitializeEx for the free-threaded
   model, undone again. */
HRESULT ProbeCom()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr;
}

TEST_F(WicPlugin, LeavesTheCallersComAsItFoundIt)
{
    std::string path = dir / "c.png";
    ASSERT_TRUE(wictest::Encode(path, GUID_ContainerFormatPng, {wictest::Pattern(GUID_WICPixelFormat24bppBGR, 3, 3, 1)}));
    const struct {
        const char *name;
        DWORD model;   /* the caller's COM, or ~0 for none */
    } cases[] = {{"no COM", ~DWORD(0)}, {"free-threaded", COINIT_MULTITHREADED}, {"apartment", COINIT_APARTMENTTHREADED}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        INT_PTR result = 0;
        HRESULT after = E_FAIL;
        std::thread([&] {
            if (c.model != ~DWORD(0)) CoInitializeEx(nullptr, c.model);
            result = GetFileData(WIC_PNG, path);
            if (c.model != ~DWORD(0)) CoUninitialize();
            after = ProbeCom();
        }).join();
        EXPECT_GT(result, 0) << ReadError().text;
        if (result > 0) Free(HGLOBAL(result));
        EXPECT_EQ(S_OK, after) << "COM left started on the thread";
    }
}

TEST_F(WicPlugin, FilesOfOtherFormatsAreNotTheirsAndCutsAreRefused)
{
    std::map<int, std::string> files;
    for (int format : {WIC_JPG, WIC_PNG, WIC_TIF, WIC_GIF}) {
        std::string path = dir / (std::string("whole.") + ExtensionOf(format));
        Picture picture = format == WIC_GIF ? wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 40, 30, 1, Colours(256))
                                            : wictest::Smooth(GUID_WICPixelFormat24bppBGR, 40, 30);
        ASSERT_TRUE(wictest::Encode(path, ContainerOf(format), {picture}));
        files[format] = ReadFileBytes(path);
    }
    std::string png = dir / "icon.png";
    ASSERT_TRUE(wictest::Encode(png, GUID_ContainerFormatPng, {wictest::Pattern(GUID_WICPixelFormat32bppBGRA, 16, 16, 2)}));
    files[WIC_ICO] = Icon({ReadFileBytes(png)}, {16});
    for (auto &[owner, whole] : files) {
        SCOPED_TRACE(ExtensionOf(owner));
        for (int other = 0; other < WIC_FORMATS; other++) {
            c32ResetDLLErrInfo();
            WriteFileBytes(dir / "other", whole);
            if (other != owner) { EXPECT_EQ(0, GetFileData(other, dir / "other")) << ExtensionOf(other); }
            EXPECT_EQ(0u, ReadError().id);
        }
        format = owner;
        ExpectCutsRefused(whole, whole.size() / 23 + 1, 18);
        /* Garbage over the middle, which formats that store their pixels as they are cannot
           tell: any answer, a failure with its error recorded. */
        std::string spoilt = whole;
        for (size_t i = whole.size() / 3; i < whole.size() / 3 + 24 && i < whole.size(); i++) spoilt[i] = char(0xA5 ^ i);
        Rows rows;
        c32ResetDLLErrInfo();
        if (Take(spoilt, rows) != 1) { EXPECT_TRUE(ReadError().id == 4020 || ReadError().id == 4024) << ReadError().text; }
    }
}

std::string IniValue(const std::string &ini, const char *key)
{
    char value[32] = "";
    GetPrivateProfileStringA(WIC_INI_SECTION, key, "", value, sizeof value, ini.c_str());
    return value;
}

TEST_F(WicPlugin, OptionDialogsStoreTheirSettingsInTheSuiteIni)
{
    std::string ini = dir / "options.ini";
    /* The option dialog (the one with a caption) acted on, then a button pressed. */
    std::string caption;
    auto save = [&](int format, std::function<void(HWND)> act, int press = IDOK) {
        BoxAnswerer driver(BoxAnswerer::Captioned, press, std::move(act), true);
        INT_PTR result = fio.Entry<PFN_qfDLLShowDlgSaveOption>(format, 15)(0, 0, 0, ini.c_str(), 0);
        caption = driver.Count() ? driver.Boxes()[0].title : "";
        return result;
    };
    auto open = [&](int format, std::function<void(HWND)> act) {
        BoxAnswerer driver(BoxAnswerer::Captioned, IDOK, std::move(act), true);
        return fio.Entry<PFN_qfDLLShowDlgOpenOption>(format, 18)(0, 0, 0, ini.c_str(), 0);
    };
    const int quality = 1001, interlace = 1002, compression = 1003, loop = 1004, loops = 1005, delay = 1006,
              first = 1007, largest = 1008;
    std::string shown;

    EXPECT_EQ(1, save(WIC_JPG, [&](HWND d) {
        shown = std::to_string(GetDlgItemInt(d, quality, nullptr, FALSE));
        SetDlgItemTextA(d, quality, "35");
    }));
    EXPECT_EQ("JPEG Options", caption);
    EXPECT_EQ("90", shown);
    EXPECT_EQ("35", IniValue(ini, WIC_KEY_JPEG_QUALITY));
    EXPECT_EQ(0, save(WIC_JPG, [&](HWND d) { SetDlgItemTextA(d, quality, "80"); }, IDCANCEL));
    EXPECT_EQ("35", IniValue(ini, WIC_KEY_JPEG_QUALITY));
    EXPECT_EQ(1, save(WIC_JPG, [&](HWND d) {
        shown = std::to_string(GetDlgItemInt(d, quality, nullptr, FALSE));
        SetDlgItemTextA(d, quality, "250");
    }));
    EXPECT_EQ("35", shown);
    EXPECT_EQ("100", IniValue(ini, WIC_KEY_JPEG_QUALITY));

    EXPECT_EQ(1, save(WIC_PNG, [&](HWND d) { CheckDlgButton(d, interlace, BST_CHECKED); }));
    EXPECT_EQ("1", IniValue(ini, WIC_KEY_PNG_INTERLACE));

    EXPECT_EQ(1, save(WIC_TIF, [&](HWND d) {
        shown = std::to_string(SendDlgItemMessageA(d, compression, CB_GETCURSEL, 0, 0));
        SendDlgItemMessageA(d, compression, CB_SETCURSEL, WIC_TIFF_ZIP, 0);
    }));
    EXPECT_EQ(std::to_string(WIC_TIFF_LZW), shown);
    EXPECT_EQ(std::to_string(WIC_TIFF_ZIP), IniValue(ini, WIC_KEY_TIFF_COMPRESS));

    EXPECT_EQ(1, save(WIC_GIF, [&](HWND d) {
        shown = IsWindowEnabled(GetDlgItem(d, loops)) ? "loops enabled" : "loops disabled";
        SetDlgItemTextA(d, loops, "5");
        SetDlgItemTextA(d, delay, "7");
    }));
    EXPECT_EQ("loops enabled", shown);
    EXPECT_EQ("5", IniValue(ini, WIC_KEY_GIF_LOOPS));
    EXPECT_EQ("7", IniValue(ini, WIC_KEY_GIF_DELAY));
    EXPECT_EQ(1, save(WIC_GIF, [&](HWND d) { CheckDlgButton(d, loop, BST_UNCHECKED); }));
    EXPECT_EQ("-1", IniValue(ini, WIC_KEY_GIF_LOOPS));

    EXPECT_EQ(1, open(WIC_TIF, [&](HWND d) {
        shown = std::to_string(GetDlgItemInt(d, first, nullptr, FALSE));
        SetDlgItemTextA(d, first, "3");
    }));
    EXPECT_EQ("1", shown) << "frames are counted from 1 in the dialog";
    EXPECT_EQ("2", IniValue(ini, "TIFFirstFrame"));
    EXPECT_EQ(1, open(WIC_ICO, [&](HWND d) { CheckDlgButton(d, largest, BST_UNCHECKED); }));
    EXPECT_EQ("0", IniValue(ini, WIC_KEY_ICO_LARGEST));
}

TEST_F(WicPlugin, SaveSettingsShapeTheWrittenFiles)
{
    std::string ini = dir / "suite.ini";
    ScopedEnv iniEnv("Q32_INI", ini);
    Picture smooth = wictest::Smooth(GUID_WICPixelFormat24bppBGR, 96, 64);
    Rows source;
    source.byY = RowsOf(smooth);
    auto write = [&](int format, const std::string &name) {
        std::string path = dir / name;
        HGLOBAL fileData = NewFileData(path, Q32_TYPE_RGB, 24, 96, 64);
        Rows rows;
        rows.byY = source.byY;
        EXPECT_EQ(1, Write(format, path, fileData, rows)) << ReadError().text;
        Free(fileData);
        return path;
    };

    /* (The JPEG quality and the TIFF compression go to the encoders as their options;
       the component under Wine takes them and ignores them, so only what every
       encoder does is checked here.) */
    for (const char *value : {"0", "1"}) {
        WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_PNG_INTERLACE, value, ini.c_str());
        std::string png = ReadFileBytes(write(WIC_PNG, "i.png"));
        ASSERT_GT(png.size(), 29u);
        EXPECT_EQ(value[0] - '0', png[28]) << "the interlace method of the header";
        Picture back;
        ASSERT_TRUE(wictest::Decode(dir / "i.png", 0, GUID_WICPixelFormat24bppBGR, back));
        EXPECT_EQ(smooth.pixels, back.pixels);
    }

    for (int setting : {WIC_TIFF_NONE, WIC_TIFF_LZW, WIC_TIFF_ZIP, WIC_TIFF_PACKBITS}) {
        SCOPED_TRACE(setting);
        WritePrivateProfileStringA(WIC_INI_SECTION, WIC_KEY_TIFF_COMPRESS, std::to_string(setting).c_str(), ini.c_str());
        std::string path = write(WIC_TIF, "c.tif");
        HGLOBAL fileData = HGLOBAL(GetFileData(WIC_TIF, path));
        ASSERT_GT(INT_PTR(fileData), 0);
        Rows back;
        ASSERT_EQ(1, Read(WIC_TIF, path, fileData, back));
        EXPECT_EQ(source.byY, back.byY);
        Free(fileData);
    }
}

} // namespace
