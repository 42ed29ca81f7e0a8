/*
 * wic.fio through its entries: files the imaging component made directly, round trips
 * through its writers, frames, texts, and the damaged files it refuses.
 */
#include "fio_driver.h"
#include "wic_fio.h"
#include "wic_files.h"
#include <thread>

using namespace q32test;
using wictest::Picture;

namespace {

enum { EntryCommand = 10, EntryWrite = 17 };
enum { PlaceType = 46, PlaceFrame = 50, PlaceBadPixel = 55 };

const GUID *const Containers[] = {&GUID_ContainerFormatJpeg, &GUID_ContainerFormatPng,
                                  &GUID_ContainerFormatTiff, &GUID_ContainerFormatGif};
const char *const Extensions[] = {"jpg", "png", "tif", "gif", "ico"};

WicFacts FramesOf(HGLOBAL fileData) { return *FileDataWicFacts(Locked<::FileData>(fileData).get()); }

/* Rows of the row protocol from a picture in the component's layout. */
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

Picture Pattern(const GUID &format, UINT width, UINT height, unsigned seed, unsigned colours = 0)
{
    return wictest::Pattern(format, width, height, seed, colours ? Colours(colours, 1) : std::vector<WICColor>{});
}

/* An icon file of PNG images. */
std::string Icon(const std::vector<std::string> &pngs, const std::vector<int> &sizes)
{
    std::string out = Le(0, 2) + Le(1, 2) + Le(uint32_t(pngs.size()), 2);
    uint32_t offset = uint32_t(6 + 16 * pngs.size());
    for (size_t i = 0; i < pngs.size(); i++) {
        out += std::string(2, char(sizes[i])) + std::string(2, '\0') + Le(1, 2) + Le(32, 2) +
               Le(uint32_t(pngs[i].size()), 4) + Le(offset, 4);
        offset += uint32_t(pngs[i].size());
    }
    for (const std::string &png : pngs) out += png;
    return out;
}

class WicPlugin : public FioTest {
protected:
    WicPlugin() : FioTest("wic.fio", 1791) {}
    wictest::Com com;

    HGLOBAL Open(int f, const std::string &path, const char *ini = "") { return HGLOBAL(fio.FileData(f, path, ini)); }
    /* Reads into rows; no row may come twice. typed false: the caller has set the rows' type. */
    INT_PTR ReadAs(int f, const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {},
                   bool typed = true)
    {
        INT_PTR result = fio.Read(f, path, fileData, rows, request, false, typed);
        EXPECT_EQ(0, rows.twice) << "rows delivered twice";
        return result;
    }
    /* Writes rows as an image of type (palette 0xAARRGGBB) into path. */
    INT_PTR WriteAs(int f, const std::string &path, DWORD type, DWORD bits, LONG width, LONG height, Rows &rows,
                    const std::vector<WICColor> &palette = {})
    {
        HGLOBAL fileData = NewFileData(type, bits, width, height, {palette.begin(), palette.end()}, 0, path);
        INT_PTR result = fio.Write(f, path, fileData, rows);
        FreeFileData(fileData);
        return result;
    }
    static std::vector<WICColor> PaletteOf(HGLOBAL fileData)
    {
        std::vector<WICColor> colours;
        for (uint32_t c : FactsOf(fileData).palette) colours.push_back(0xFF000000u | c);
        return colours;
    }
};

TEST_F(WicPlugin, RowsComeInTheTypeTheCallerTakes)
{
    const std::string rgba16("\x12\x34\x56\x78\x9A\xBC\xDE\xF0", 8);
    const std::string plte = wictest::PngChunk("PLTE", std::string("\xFF\x00\x00\x00\xFF\x00", 6));
    const struct {
        const char *name;
        std::string png;
        DWORD mask, delivered;
        std::string row;
    } cases[] = {
        /* PNG stores samples big-endian, red first; they come little-endian, blue first. */
        {"16-bit colour with alpha", wictest::MakePng(1, 1, 6, 16, {rgba16}), 0, Q32_TYPE_BGRA64,
         std::string("\xBC\x9A\x78\x56\x34\x12\xF0\xDE", 8)},
        {"indices beyond the palette are black", wictest::MakePng(3, 1, 3, 8, {std::string("\x00\x01\x03", 3)}, plte),
         Q32_TYPES_ONLY | Q32_TYPE_RGB, Q32_TYPE_RGB, std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00\x00", 9)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "typed.png";
        WriteFileBytes(path, c.png);
        HGLOBAL fileData = Open(WIC_PNG, path);
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        if (!c.mask) { EXPECT_EQ(c.delivered, FactsOf(fileData).dataType); }
        Rows rows;
        ImageRequest request = {};
        request.rasterTypes = c.mask;
        rows.dataType = c.delivered, rows.bits = Q32TypeBits(c.delivered);
        ASSERT_EQ(1, ReadAs(WIC_PNG, path, fileData, rows, request, false)) << ReadError().text;
        EXPECT_EQ(c.row, rows.byY[0]);
        FreeFileData(fileData);
    }
}

/* A read starts the component on the caller's thread: whatever COM the caller had (none,
   free-threaded, apartment), the thread is left as it was found. */
TEST_F(WicPlugin, LeavesTheCallersComAsItFoundIt)
{
    std::string path = dir / "com.png";
    WriteFileBytes(path, wictest::MakePng(2, 1, 0, 8, {"\x10\x20"}));
    for (DWORD model : {~DWORD(0), DWORD(COINIT_MULTITHREADED), DWORD(COINIT_APARTMENTTHREADED)}) {
        SCOPED_TRACE(model);
        INT_PTR read = 0;
        HRESULT after = E_FAIL;
        std::thread([&] {
            if (model != ~DWORD(0)) CoInitializeEx(nullptr, model);
            HGLOBAL fileData = Open(WIC_PNG, path);
            if (INT_PTR(fileData) > 0) {
                Rows rows;
                read = fio.Read(WIC_PNG, path, fileData, rows);
                FreeFileData(fileData);
            }
            if (model != ~DWORD(0)) CoUninitialize();
            after = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(after)) CoUninitialize();
        }).join();
        EXPECT_EQ(1, read) << ReadError().text;
        EXPECT_EQ(S_OK, after) << "COM left started on the thread";
    }
}

TEST_F(WicPlugin, GifFramesComeAsTheScreenShowsThemOrRawWhenAsked)
{
    /* A 2 x 2 screen of white; frame 0 one pixel at (1, 0), left; frame 1 one pixel at
       (0, 1), cleared to the background; frame 2 the whole screen with a transparent index,
       the screen before it restored; frame 3 one pixel at (1, 1). */
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    std::string path = dir / "screen.gif";
    WriteFileBytes(path, wictest::MakeGif(2, 2, colours, {{1, 0, 1, 1, 1, -1, std::string(1, '\0')},
                                                          {0, 1, 1, 1, 2, -1, std::string(1, '\1')},
                                                          {0, 0, 2, 2, 3, 3, std::string("\2\3\3\3", 4)},
                                                          {1, 1, 1, 1, 0, -1, std::string(1, '\0')}}));
    const std::string red("\x00\x00\xFF\xFF", 4), green("\x00\xFF\x00\xFF", 4), blue("\xFF\x00\x00\xFF", 4),
        white(4, '\xFF'), clear(4, '\0');
    const std::string screens[4][2] = {{white + red, white + white},
                                       {white + red, green + white},
                                       {blue + red, clear + white},
                                       {white + red, clear + red}};
    HGLOBAL fileData = Open(WIC_GIF, path);
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    for (LPARAM i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        if (i) { ASSERT_EQ(1, fio.Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, i)) << ReadError().text; }
        EXPECT_EQ(1u, FramesOf(fileData).composed);
        EXPECT_EQ(Q32_TYPE_BGRA, FactsOf(fileData).dataType);
        Rows rows;
        ASSERT_EQ(1, ReadAs(WIC_GIF, path, fileData, rows)) << ReadError().text;
        EXPECT_EQ(screens[i][0], rows.byY[0]);
        EXPECT_EQ(screens[i][1], rows.byY[1]);
    }
    /* The frame's own rows, asked for: its size, its palette's indices. */
    Rows raw;
    ASSERT_EQ(1, fio.Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, 1 | WIC_FRAME_RAW));
    EXPECT_EQ(0u, FramesOf(fileData).composed);
    EXPECT_EQ(1u, FramesOf(fileData).top);
    EXPECT_EQ(Q32_TYPE_PALETTE8, FactsOf(fileData).dataType);
    ASSERT_EQ(1, ReadAs(WIC_GIF, path, fileData, raw)) << ReadError().text;
    EXPECT_EQ(std::string(1, '\1'), raw.byY[0]);
    FreeFileData(fileData);
}

TEST_F(WicPlugin, WritesEveryTypeItsFormatsHoldAndReadsItBack)
{
    const struct {
        const char *name;
        int format;
        DWORD dataType, bits;
        unsigned paletteSize, limit;
        DWORD readType; /* what a read gives back */
    } cases[] = {
        {"PNG bilevel", WIC_PNG, Q32_TYPE_BILEVEL, 1, 0, 256, Q32_TYPE_BILEVEL},
        {"PNG bilevel with one colour", WIC_PNG, Q32_TYPE_BILEVEL, 1, 1, 256, Q32_TYPE_BILEVEL},
        {"PNG 16 colours", WIC_PNG, Q32_TYPE_PALETTE4, 4, 11, 11, Q32_TYPE_PALETTE4},
        {"PNG 16 colours in bytes", WIC_PNG, Q32_TYPE_COLOURS16, 8, 16, 16, Q32_TYPE_PALETTE4},
        {"PNG 16 greys", WIC_PNG, Q32_TYPE_GREY4, 4, 0, 16, Q32_TYPE_GREY4},
        {"PNG 16-bit grey", WIC_PNG, Q32_TYPE_GREY16, 16, 0, 256, Q32_TYPE_GREY16},
        {"PNG 32-bit with alpha", WIC_PNG, Q32_TYPE_BGRA, 32, 0, 256, Q32_TYPE_BGRA},
        {"PNG 64-bit", WIC_PNG, Q32_TYPE_BGRA64, 64, 0, 256, Q32_TYPE_BGRA64},
        {"TIFF 256 colours", WIC_TIF, Q32_TYPE_PALETTE8, 8, 100, 100, Q32_TYPE_PALETTE8},
        {"TIFF 48-bit", WIC_TIF, Q32_TYPE_RGB48, 48, 0, 256, Q32_TYPE_RGB48},
        {"GIF bilevel", WIC_GIF, Q32_TYPE_BILEVEL, 1, 2, 256, Q32_TYPE_PALETTE8},
        {"GIF 16 colours", WIC_GIF, Q32_TYPE_PALETTE4, 4, 16, 16, Q32_TYPE_PALETTE8},
    };
    const LONG width = 21, height = 7;
    unsigned seed = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<WICColor> palette = c.paletteSize ? Colours(c.paletteSize, seed) : std::vector<WICColor>{};
        std::string path = dir / (std::string("w.") + Extensions[c.format]);
        Rows source, back;
        source.byY = RandomRows(c.dataType, c.bits, width, height, c.limit, seed++);
        ASSERT_EQ(1, WriteAs(c.format, path, c.dataType, c.bits, width, height, source, palette)) << ReadError().text;

        /* Read back through the plug-in: the same values. */
        HGLOBAL fileData = Open(c.format, path);
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        EXPECT_EQ(c.readType, FactsOf(fileData).dataType);
        ASSERT_EQ(1, ReadAs(c.format, path, fileData, back)) << ReadError().text;
        std::vector<WICColor> readPalette = PaletteOf(fileData);
        FreeFileData(fileData);
        for (LONG y = 0; y < height; y++) {
            if (c.readType == c.dataType || c.dataType == Q32_TYPE_COLOURS16 || c.bits == 8) {
                EXPECT_EQ(source.byY[y], back.byY[y]) << y;
                continue;
            }
            for (LONG x = 0; x < width; x++) {
                unsigned value = c.bits == 1 ? uint8_t(source.byY[y][x / 8]) >> (7 - x % 8) & 1 : uint8_t(source.byY[y][x]);
                ASSERT_EQ(value, unsigned(uint8_t(back.byY[y][x]))) << x << "," << y;
            }
        }
        /* A one-colour palette is completed with white. */
        if (c.paletteSize == 1) palette.push_back(0xFFFFFFFFu);
        readPalette.resize(palette.size());
        EXPECT_EQ(palette, readPalette);

    }
}

TEST_F(WicPlugin, RefusesWritesItsFormatsCannotHold)
{
    const struct {
        const char *name;
        int format;
        DWORD dataType, bits;
        unsigned colours, limit;
        int place;
    } cases[] = {
        {"GIF true colour", WIC_GIF, Q32_TYPE_RGB, 24, 0, 256, PlaceType},
        {"index beyond the palette", WIC_PNG, Q32_TYPE_PALETTE8, 8, 3, 4, PlaceBadPixel},
        {"grey level beyond 15", WIC_TIF, Q32_TYPE_GREY4, 4, 0, 17, PlaceBadPixel},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rows rows;
        rows.byY = RandomRows(c.dataType, Q32TypeBits(c.dataType), 64, 2, c.limit, 5);
        if (c.place == PlaceBadPixel) rows.byY[1][3] = char(c.limit - 1);
        EXPECT_EQ(0, WriteAs(c.format, dir / "refused", c.dataType, c.bits, 64, 2, rows, Colours(c.colours)));
        fio.ExpectError(4026, EntryWrite, c.place);
    }
}

TEST_F(WicPlugin, TheOpenSettingsChooseTheIconImageOrTiffPage)
{
    std::string small = dir / "small.png", large = dir / "large.png", ico = dir / "two.ico", tif = dir / "pages.tif";
    ASSERT_TRUE(wictest::Encode(small, GUID_ContainerFormatPng, {Pattern(GUID_WICPixelFormat32bppBGRA, 16, 16, 1)}));
    ASSERT_TRUE(wictest::Encode(large, GUID_ContainerFormatPng, {Pattern(GUID_WICPixelFormat32bppBGRA, 32, 32, 2)}));
    WriteFileBytes(ico, Icon({ReadFileBytes(small), ReadFileBytes(large)}, {16, 32}));
    ASSERT_TRUE(wictest::Encode(tif, GUID_ContainerFormatTiff, {Pattern(GUID_WICPixelFormat24bppBGR, 10, 5, 1),
                                                                Pattern(GUID_WICPixelFormat8bppGray, 7, 3, 2)}));
    const struct { int format; std::string path; const char *key, *value; DWORD frame, width; } cases[] = {
        {WIC_ICO, ico, WIC_KEY_ICO_LARGEST, "1", 1, 32},
        {WIC_ICO, ico, WIC_KEY_ICO_LARGEST, "0", 0, 16},
        {WIC_TIF, tif, "TIF" WIC_KEY_FIRST_FRAME, "1", 1, 7},
        {WIC_TIF, tif, "TIF" WIC_KEY_FIRST_FRAME, "9", 0, 10}, /* no such page */
    };
    std::string ini = dir / "suite.ini";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key + std::string("=") + c.value);
        WritePrivateProfileStringA(WIC_INI_SECTION, c.key, c.value, ini.c_str());
        HGLOBAL fileData = Open(c.format, c.path, ini.c_str());
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        EXPECT_EQ(c.frame, FramesOf(fileData).frame);
        EXPECT_EQ(c.width, FactsOf(fileData).width);
        FreeFileData(fileData);
    }
}

TEST_F(WicPlugin, FramesOfAnimationsAreChosenByCommand)
{
    std::vector<Picture> frames;
    for (unsigned i = 0; i < 3; i++)
        frames.push_back(wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 12, 5, 20 + i, Colours(256, 7 + i)));
    std::string gif = dir / "anim.gif";
    ASSERT_TRUE(wictest::Encode(gif, GUID_ContainerFormatGif, frames));
    HGLOBAL fileData = Open(WIC_GIF, gif);
    ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
    EXPECT_EQ(3u, FramesOf(fileData).frameCount);
    EXPECT_EQ(-1, FramesOf(fileData).loopCount);

    /* By index: the FileData then describes that frame, rows and palette. */
    Rows third;
    PluginDriver::TypeOf(fileData, third);
    ASSERT_EQ(1, fio.Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, &third, 2)) << ReadError().text;
    EXPECT_EQ(RowsOf(frames[2]), third.byY);
    EXPECT_EQ(2u, FramesOf(fileData).frame);
    EXPECT_EQ(frames[2].palette, PaletteOf(fileData));
    /* The next after the last: none. */
    Rows none;
    EXPECT_EQ(0, fio.Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, &none, -1));
    fio.ExpectError(4026, EntryCommand, PlaceFrame);
    EXPECT_TRUE(none.byY.empty());
    /* Choosing without reading; the read entry then reads that frame. */
    ASSERT_EQ(1, fio.Command(WIC_GIF, fileData, WIC_COMMAND_READ_FRAME, nullptr, 1));
    Rows second;
    ASSERT_EQ(1, ReadAs(WIC_GIF, gif, fileData, second));
    EXPECT_EQ(RowsOf(frames[1]), second.byY);
    FreeFileData(fileData);
}

TEST_F(WicPlugin, FramesAreAppendedKeepingTheFramesBefore)
{
    for (int format : {WIC_GIF, WIC_TIF}) {
        SCOPED_TRACE(Extensions[format]);
        std::string path = dir / (std::string("grow.") + Extensions[format]);
        Rows first;
        first.byY = RandomRows(Q32_TYPE_PALETTE8, 8, 9, 4, 40, 1);
        std::vector<WICColor> palette = Colours(40, 3);
        HGLOBAL fileData = NewFileData(Q32_TYPE_PALETTE8, 8, 9, 4, {palette.begin(), palette.end()}, 0, path);
        ASSERT_EQ(1, fio.Write(format, path, fileData, first)) << ReadError().text;

        /* A frame of another size and type; then one that cannot be written and one
           stopped: the file stays as it was, and no work file. */
        Rows second, refused, stopping;
        second.byY = stopping.byY = RandomRows(Q32_TYPE_GREY8, 8, 6, 3, 256, 2);
        refused.byY = RandomRows(Q32_TYPE_CMYK, 32, 2, 2, 256, 3);
        stopping.stopAfter = 1;
        const struct { Rows *rows; DWORD bits; LONG width, height; DWORD type; INT_PTR result; } appends[] = {
            {&second, 8, 6, 3, Q32_TYPE_GREY8, 1},
            {&refused, 32, 2, 2, Q32_TYPE_CMYK, 0},
            {&stopping, 8, 6, 3, Q32_TYPE_GREY8, Q32_WRITE_STOPPED},
        };
        std::string before;
        for (const auto &a : appends) {
            {
                Locked<::FileData> d(fileData);
                if (d->raster.palette) DeleteObject(d->raster.palette);
                d->raster = {a.bits, a.width, a.height, 0, 0, a.type, nullptr};
            }
            EXPECT_EQ(a.result, fio.Command(format, fileData, WIC_COMMAND_APPEND_FRAME, a.rows, -1, Supply));
            if (a.result == 1) {
                before = ReadFileBytes(path);
                EXPECT_EQ(2u, FramesOf(fileData).frameCount);
                EXPECT_EQ(DWORD(before.size()), Locked<::FileData>(fileData)->fileSize);
            }
        }
        fio.ExpectError(4026, EntryCommand, PlaceType);
        EXPECT_EQ(before, ReadFileBytes(path));
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir / "*.tmp").c_str(), &found);
        EXPECT_EQ(INVALID_HANDLE_VALUE, search) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        FreeFileData(fileData);

        /* Both frames, as the component decodes them. */
        UINT count = 0;
        Picture decoded;
        ASSERT_TRUE(wictest::Decode(path, 0, GUID_WICPixelFormat8bppIndexed, decoded, &count));
        EXPECT_EQ(2u, count);
        EXPECT_EQ(first.byY, RowsOf(decoded));
        const GUID &grey = format == WIC_GIF ? GUID_WICPixelFormat8bppIndexed : GUID_WICPixelFormat8bppGray;
        ASSERT_TRUE(wictest::Decode(path, 1, grey, decoded));
        EXPECT_EQ(second.byY, RowsOf(decoded));
    }
}

TEST_F(WicPlugin, PropertyBlocksHoldTheTextsOfTheFile)
{
    using Found = std::vector<std::pair<std::string, std::string>>;
    auto texts = [&](int format, const std::string &path) {
        Found found;
        HGLOBAL fileData = Open(format, path);
        EXPECT_GT(INT_PTR(fileData), 0) << ReadError().text;
        if (INT_PTR(fileData) <= 0) return found;
        HGLOBAL block = HGLOBAL(1);
        EXPECT_EQ(1, fio.Entry<PFN_qfDLLGetProperty>(format, 23)(fileData, &block));
        FreeFileData(fileData);
        if (!block) return found;
        auto *items = static_cast<PropertyBlock *>(GlobalLock(block));
        for (DWORD i = 0; i < items->count; i++) {
            const PropertyItem &item = *(&items->items[0] + i);
            EXPECT_EQ(WIC_ITEM_TEXT, item.type);
            std::string value = Locked<char>(item.handle).get();
            EXPECT_EQ(value.size() + 1, GlobalSize(item.handle));
            found.emplace_back(reinterpret_cast<const char *>(item.data), value);
            GlobalFree(item.handle);
        }
        GlobalUnlock(block);
        GlobalFree(block);
        return found;
    };
    std::string png = dir / "t.png", jpg = dir / "t.jpg";
    std::string chunks = wictest::PngChunk("tEXt", std::string("T\0A", 3));
    chunks += wictest::PngChunk("tEXt", std::string("B\0Q", 3));
    WriteFileBytes(png, wictest::MakePng(2, 1, 0, 8, {"\x10\x20"}, chunks));
    EXPECT_EQ((Found{{"T", "A"}, {"B", "Q"}}), texts(WIC_PNG, png));

    ASSERT_TRUE(wictest::Encode(jpg, GUID_ContainerFormatJpeg, {wictest::Smooth(GUID_WICPixelFormat24bppBGR, 8, 8)}));
    std::string bytes = ReadFileBytes(jpg);
    WriteFileBytes(jpg, bytes.substr(0, 2) + std::string("\xFF\xFE\x00\x0E" "Made by hand", 16) + bytes.substr(2));
    EXPECT_EQ((Found{{"Comment", "Made by hand"}}), texts(WIC_JPG, jpg));
}

TEST_F(WicPlugin, FilesOfOtherFormatsAreNotTheirsAndCutsAreRefused)
{
    std::map<int, std::string> files;
    for (int f : {WIC_JPG, WIC_PNG, WIC_TIF, WIC_GIF}) {
        std::string path = dir / (std::string("whole.") + Extensions[f]);
        Picture picture = f == WIC_GIF ? Pattern(GUID_WICPixelFormat8bppIndexed, 40, 30, 1, 256)
                                       : wictest::Smooth(GUID_WICPixelFormat24bppBGR, 40, 30);
        ASSERT_TRUE(wictest::Encode(path, *Containers[f], {picture}));
        files[f] = ReadFileBytes(path);
    }
    ASSERT_TRUE(wictest::Encode(dir / "i.png", GUID_ContainerFormatPng, {Pattern(GUID_WICPixelFormat32bppBGRA, 16, 16, 2)}));
    files[WIC_ICO] = Icon({ReadFileBytes(dir / "i.png")}, {16});
    for (auto &[owner, whole] : files) {
        SCOPED_TRACE(Extensions[owner]);
        WriteFileBytes(dir / "other", whole);
        c32ResetDLLErrInfo();
        for (int other = 0; other < WIC_FORMATS; other++) {
            if (other != owner) { EXPECT_EQ(0, fio.FileData(other, dir / "other")) << Extensions[other]; }
            EXPECT_EQ(0u, ReadError().id);
        }
        format = owner;
        ExpectCutsRefused(whole, whole.size() / 23 + 1, 18);
    }
}

} // namespace
