/*
 * Truevision Targa: the codec's header checks and alpha rules over bytes, and tga.fio
 * driven through its ordinal entries: every type and depth read, run lengths across
 * rows, damaged files refused, and 24- and 32-bit files written plain or run-length.
 */
#include <gtest/gtest.h>
#include "harness.h"
#include "holders.h"
#include "q32fio.h"
#include "q32types.h"
#include "tga_codec.h"
#include <cstring>
#include <map>

using namespace q32test;
using q32::Locked;

namespace {

using GetFormatInfoEntry = HGLOBAL(WINAPI *)(void);
using GetFileDataEntry = INT_PTR(WINAPI *)(HANDLE, const char *, DWORD, const char *);
using ReadEntry = INT_PTR(WINAPI *)(HANDLE, const char *, HGLOBAL, ImageRequest *, RowCallback, DWORD);
using WriteEntry = INT_PTR(WINAPI *)(HANDLE, HGLOBAL, ImageRequest *, RowCallback);

enum { EntryFileData = 12, EntryRead = 16, EntryWrite = 17 };

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += char(v);
    return out;
}

std::string Le(uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; i++) out += char(value >> (8 * i));
    return out;
}

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

/* The file as the codec sees it. */
class Memory : public tga::Source {
public:
    explicit Memory(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint64_t offset, void *buffer, size_t bytes) override
    {
        if (offset > bytes_.size() || bytes > bytes_.size() - offset) return false;
        memcpy(buffer, bytes_.data() + offset, bytes);
        return true;
    }

private:
    std::string bytes_;
};

TEST(TgaCodec, HeadersKindsAndAlpha)
{
    using tga::Alpha;
    using tga::Kind;
    using tga::Result;
    auto tga = [](auto edit) {
        Tga t;
        t.width = 3, t.height = 2, t.rest = std::string(18, '\0');
        edit(t);
        return t.Build();
    };
    auto withExtension = [&](int bits, int descriptor, int attributes) {
        std::string file = tga([&](Tga &t) { t.bits = bits, t.descriptor = descriptor, t.rest = std::string(6 * bits / 8, '\0'); });
        return file + ExtensionAndFooter(file.size(), attributes);
    };
    const struct {
        const char *name;
        std::string file;
        Result result;
        Kind kind = Kind::Rgb24;
        Alpha alpha = Alpha::None;
    } cases[] = {
        {"24-bit", tga([](Tga &) {}), Result::Ok, Kind::Rgb24, Alpha::None},
        {"32-bit with eight alpha bits", tga([](Tga &t) { t.bits = 32, t.descriptor = 0x28, t.rest.resize(24); }),
         Result::Ok, Kind::Bgra32, Alpha::Straight},
        {"32-bit without alpha bits", tga([](Tga &t) { t.bits = 32, t.rest.resize(24); }), Result::Ok, Kind::Rgb24, Alpha::None},
        {"extension: alpha", withExtension(32, 0x20, 3), Result::Ok, Kind::Bgra32, Alpha::Straight},
        {"extension: premultiplied", withExtension(32, 0x20, 4), Result::Ok, Kind::Bgra32, Alpha::Premultiplied},
        {"extension: no alpha, over the descriptor's bits", withExtension(32, 0x28, 0), Result::Ok, Kind::Rgb24, Alpha::None},
        {"extension: 16-bit alpha", withExtension(16, 0x21, 3), Result::Ok, Kind::Bgra32, Alpha::Straight},
        {"16-bit colour: its one bit alone is no alpha", tga([](Tga &t) { t.bits = 16, t.descriptor = 0x21, t.rest.resize(12); }),
         Result::Ok, Kind::Rgb24, Alpha::None},
        {"grey and alpha", tga([](Tga &t) { t.type = 3, t.bits = 16, t.descriptor = 0x28, t.rest.resize(12); }),
         Result::Ok, Kind::Bgra32, Alpha::Straight},
        {"grey", tga([](Tga &t) { t.type = 11, t.bits = 8; }), Result::Ok, Kind::Grey8, Alpha::None},
        {"colour map", tga([](Tga &t) { t.mapType = 1, t.type = 1, t.mapLength = 16, t.mapDepth = 24, t.bits = 8, t.rest.resize(48 + 6); }),
         Result::Ok, Kind::Index8, Alpha::None},
        {"colour map with alpha", tga([](Tga &t) { t.mapType = 1, t.type = 9, t.mapLength = 2, t.mapDepth = 32, t.bits = 8, t.descriptor = 0x28; }),
         Result::Ok, Kind::Bgra32, Alpha::Straight},
        {"a colour map with true colour", tga([](Tga &t) { t.mapType = 1, t.mapLength = 2, t.mapDepth = 24, t.rest += "123456"; }),
         Result::Ok, Kind::Rgb24, Alpha::None},
        /* not TGA */
        {"mapped without a map", tga([](Tga &t) { t.type = 1, t.bits = 8; }), Result::NotTga},
        {"no width", tga([](Tga &t) { t.width = 0; }), Result::NotTga},
        {"no such depth", tga([](Tga &t) { t.bits = 12; }), Result::NotTga},
        {"no such type", tga([](Tga &t) { t.type = 4; }), Result::NotTga},
        {"no such map type", tga([](Tga &t) { t.mapType = 2; }), Result::NotTga},
        {"interleaved", tga([](Tga &t) { t.descriptor = 0xC0; }), Result::NotTga},
        {"a map length without a map", tga([](Tga &t) { t.mapLength = 5; }), Result::NotTga},
        {"a map of 8-bit entries", tga([](Tga &t) { t.mapType = 1, t.type = 1, t.mapLength = 5, t.mapDepth = 8, t.bits = 8; }), Result::NotTga},
        {"text", "This is no image at all, only words.", Result::NotTga},
        {"shorter than a header", std::string(17, '\0'), Result::NotTga},
        /* damaged */
        {"the map is cut", tga([](Tga &t) { t.mapType = 1, t.type = 1, t.mapLength = 16, t.mapDepth = 24, t.bits = 8, t.rest.resize(47); }),
         Result::ShortHeader},
        {"pixels cut short", tga([](Tga &t) { t.rest.resize(17); }), Result::ShortData},
        {"run lengths without data", tga([](Tga &t) { t.type = 10, t.rest.clear(); }), Result::ShortData},
        /* not taken */
        {"16-bit indices", tga([](Tga &t) { t.mapType = 1, t.type = 1, t.mapLength = 2, t.mapDepth = 24, t.bits = 16; }),
         Result::UnsupportedDepth},
        {"a footer but an unknown type", [&] { std::string f = tga([](Tga &t) { t.type = 32; }); return f + ExtensionAndFooter(0, 0).substr(tga::ExtensionSize); }(),
         Result::UnsupportedType},
        {"beyond the limits", tga([](Tga &t) { t.bits = 32, t.width = 65535, t.height = 65535; }), Result::TooLarge},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Memory source(c.file);
        tga::Layout layout;
        EXPECT_EQ(c.result, tga::ReadLayout(source, layout));
        if (c.result == Result::Ok) {
            EXPECT_EQ(c.kind, layout.kind);
            EXPECT_EQ(c.alpha, layout.alpha);
        }
    }
}

struct Rows {
    DWORD dataType = Q32_TYPE_RGB, bits = 24;
    std::map<LONG, std::string> byY;
    int calls = 0, stopAfter = -1;
};

LONG WINAPI Collect(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData, DWORD flags,
                    LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (flags || rows < 1) return 0;
    for (LONG i = 0; i < rows; i++)
        r->byY[y + i].assign(static_cast<char **>(rowData)[i], Q32_ROW_BYTES(r->dataType, r->bits, count));
    return ++r->calls != r->stopAfter;
}

LONG WINAPI Supply(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData, DWORD flags,
                   LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (!(flags & Q32_ROW_PULL)) return 0;
    for (LONG i = 0; i < rows; i++) {
        const std::string &row = r->byY.at(y + i);
        memcpy(static_cast<char **>(rowData)[i], row.data(), row.size());
    }
    return ++r->calls != r->stopAfter;
}

class TgaPlugin : public ::testing::Test {
protected:
    static HMODULE plugin;
    TempDir dir;

    static void SetUpTestSuite() { plugin = LoadLibraryA((BinFolder() + "FIO\\tga.fio").c_str()); }
    static void TearDownTestSuite() { FreeLibrary(plugin); }
    void SetUp() override
    {
        ASSERT_NE(nullptr, plugin);
        c32ResetDLLErrInfo();
    }
    template <typename F>
    static F Entry(int ordinal) { return reinterpret_cast<F>(GetProcAddress(plugin, MAKEINTRESOURCEA(ordinal))); }

    INT_PTR GetFileData(const std::string &path)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        INT_PTR result = Entry<GetFileDataEntry>(EntryFileData)(file, path.c_str(), 0, "");
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return result;
    }
    INT_PTR Read(const std::string &path, HGLOBAL fileData, Rows &rows)
    {
        {
            Locked<FileData> d(fileData);
            rows.dataType = d->raster.dataType, rows.bits = d->raster.bitsPerPixel;
        }
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.context = &rows;
        return Entry<ReadEntry>(EntryRead)(nullptr, path.c_str(), fileData, &request, Collect, 0);
    }
    INT_PTR Write(const std::string &path, HGLOBAL fileData, Rows &rows)
    {
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.context = &rows;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        INT_PTR result = Entry<WriteEntry>(EntryWrite)(file, fileData, &request, Supply);
        CloseHandle(file);
        return result;
    }
    static FileData Facts(HGLOBAL fileData)
    {
        Locked<FileData> d(fileData);
        return *d.get();
    }
    static void Free(HGLOBAL fileData)
    {
        if (Locked<FileData> d{fileData}) {
            if (d->raster.palette) DeleteObject(d->raster.palette);
        }
        GlobalFree(fileData);
    }
    static void ExpectError(UINT id, int entry, int place)
    {
        RecordedError e = ReadError();
        EXPECT_EQ(id, e.id) << e.text;
        EXPECT_EQ(1793, e.where1);
        EXPECT_EQ(entry, e.where2);
        EXPECT_EQ(place, e.where3);
    }
};
HMODULE TgaPlugin::plugin;

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
    const struct {
        const char *name;
        Tga file;
        DWORD dataType;
        std::vector<std::string> rows; /* top row first */
        std::vector<COLORREF> palette = {};
    } cases[] = {
        {"true colour, top row first", tga(2, 24, 0x20, 3, 2, bgr), Q32_TYPE_RGB, {bgr.substr(0, 9), bgr.substr(9)}},
        {"true colour, bottom row first", tga(2, 24, 0, 3, 2, bgr), Q32_TYPE_RGB, {bgr.substr(9), bgr.substr(0, 9)}},
        {"true colour, right to left", tga(2, 24, 0x30, 3, 1, bgr.substr(0, 9)), Q32_TYPE_RGB,
         {bgr.substr(6, 3) + bgr.substr(3, 3) + bgr.substr(0, 3)}},
        /* one run over the end of the first row, a raw packet over the second, and
           surplus data after the image */
        {"run lengths across rows", tga(10, 24, 0x20, 2, 2, Bytes({0x82, 1, 2, 3, 0x00, 4, 5, 6, 0x85, 7, 7, 7})), Q32_TYPE_RGB,
         {Bytes({1, 2, 3, 1, 2, 3}), Bytes({1, 2, 3, 4, 5, 6})}},
        {"alpha", tga(2, 32, 0x28, 2, 1, Bytes({1, 2, 3, 0x80, 4, 5, 6, 0xFF})), Q32_TYPE_BGRA,
         {Bytes({1, 2, 3, 0x80, 4, 5, 6, 0xFF})}},
        {"premultiplied alpha made straight", premultiplied, Q32_TYPE_BGRA, {Bytes({0x80, 0x40, 0x20, 0x80, 0, 0, 0, 0})}},
        {"alpha bits that the extension area disowns", opaque, Q32_TYPE_RGB, {Bytes({1, 2, 3, 4, 5, 6})}},
        /* 5-5-5: red, green, blue, and one step of each */
        {"16-bit colour", tga(2, 16, 0x21, 4, 1, Bytes({0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x21, 0x84})), Q32_TYPE_RGB,
         {Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 8, 8, 8})}},
        {"15-bit colour, run length", tga(10, 15, 0x20, 3, 1, Bytes({0x82, 0xFF, 0x7F})), Q32_TYPE_RGB,
         {std::string(9, '\xFF')}},
        {"grey", tga(3, 8, 0x20, 4, 1, Bytes({0, 0x40, 0x80, 0xFF})), Q32_TYPE_GREY8, {Bytes({0, 0x40, 0x80, 0xFF})}},
        {"grey, run length", tga(11, 8, 0, 3, 2, Bytes({0x02, 1, 2, 3, 0x82, 9})), Q32_TYPE_GREY8,
         {Bytes({9, 9, 9}), Bytes({1, 2, 3})}},
        {"grey and alpha", tga(3, 16, 0x28, 2, 1, Bytes({0x40, 0x80, 0xFF, 0x00})), Q32_TYPE_BGRA,
         {Bytes({0x40, 0x40, 0x40, 0x80, 0xFF, 0xFF, 0xFF, 0})}},
        {"colour map", mapped(1, 0, 2, 24, Bytes({0x10, 0x20, 0x30, 0x40, 0x50, 0x60}), 3, Bytes({1, 0, 1})),
         Q32_TYPE_PALETTE8, {Bytes({1, 0, 1})}, {RGB(0x30, 0x20, 0x10), RGB(0x60, 0x50, 0x40)}},
        /* entries from index 2 on; 5-5-5 entries */
        {"colour map from a first index", mapped(9, 2, 2, 16, Bytes({0x00, 0x7C, 0x1F, 0x00}), 3, Bytes({0x81, 3, 0x00, 2})),
         Q32_TYPE_PALETTE8, {Bytes({3, 3, 2})}, {RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 0, 255)}},
        {"colour map with alpha", [&] { Tga t = mapped(1, 0, 2, 32, Bytes({1, 2, 3, 0x40, 4, 5, 6, 0xFF}), 2, Bytes({1, 0})); t.descriptor = 0x28; return t; }(),
         Q32_TYPE_BGRA, {Bytes({4, 5, 6, 0xFF, 1, 2, 3, 0x40})}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "t.tga";
        WriteFileBytes(path, c.file.Build());
        HGLOBAL fileData = HGLOBAL(GetFileData(path));
        ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
        FileData facts = Facts(fileData);
        EXPECT_EQ(c.dataType, facts.raster.dataType);
        EXPECT_EQ(c.file.width, facts.raster.width);
        EXPECT_EQ(DWORD((c.file.type & 8) ? Q32_COMPRESS_RLE : Q32_COMPRESS_NONE), facts.compression);
        std::vector<COLORREF> palette;
        if (facts.raster.palette) {
            PALETTEENTRY entries[256];
            UINT count = GetPaletteEntries(facts.raster.palette, 0, 256, entries);
            for (UINT i = 0; i < count; i++) palette.push_back(RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue));
        }
        EXPECT_EQ(c.palette, palette);
        Rows rows;
        ASSERT_EQ(1, Read(path, fileData, rows)) << ReadError().text;
        std::vector<std::string> got;
        for (auto &[y, row] : rows.byY) got.push_back(row);
        EXPECT_EQ(c.rows, got);
        Free(fileData);
    }
}

TEST_F(TgaPlugin, DamagedFilesAreRefusedWithARecordedError)
{
    enum { ShortHeader = 2, ShortData = 3, BadIndex = 4, UnsupportedDepth = 21 };
    Tga map;
    map.mapType = 1, map.type = 1, map.mapLength = 2, map.mapDepth = 24, map.bits = 8, map.width = 2;
    map.rest = Bytes({1, 2, 3, 4, 5, 6, 0, 1});
    auto change = [](Tga t, auto edit) {
        edit(t);
        return t.Build();
    };
    const struct {
        const char *name;
        std::string file;
        int entry;
        UINT id;
        int place;
    } cases[] = {
        {"colour map cut", map.Build().substr(0, 18 + 5), EntryFileData, 4020, ShortHeader},
        {"pixels cut", map.Build().substr(0, 18 + 7), EntryFileData, 4020, ShortData},
        {"16-bit indices", change(map, [](Tga &t) { t.bits = 16; }), EntryFileData, 4024, UnsupportedDepth},
        {"index beyond the map", change(map, [](Tga &t) { t.rest = Bytes({1, 2, 3, 4, 5, 6, 0, 2}); }), EntryRead, 4020, BadIndex},
        {"runs cut short", change(map, [](Tga &t) { t.type = 9, t.rest = Bytes({1, 2, 3, 4, 5, 6, 0x80}); }), EntryRead, 4020, ShortData},
        {"raw packet cut short", change(map, [](Tga &t) { t.type = 9, t.rest = Bytes({1, 2, 3, 4, 5, 6, 0x01, 1}); }), EntryRead, 4020, ShortData},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "damaged.tga";
        WriteFileBytes(path, c.file);
        c32ResetDLLErrInfo();
        INT_PTR fileData = GetFileData(path);
        if (c.entry == EntryFileData) {
            EXPECT_EQ(-1, fileData);
        } else {
            ASSERT_GT(fileData, 0) << ReadError().text;
            Rows rows;
            EXPECT_EQ(0, Read(path, HGLOBAL(fileData), rows));
            Free(HGLOBAL(fileData));
        }
        ExpectError(c.id, c.entry, c.place);
        EXPECT_NE(std::string::npos, ReadError().text.find("damaged.tga"));
    }

    /* Every cut of a run-length and a plain file: refused with a recorded error or, when
       no header is left, not taken; never read as something else. */
    Tga rle;
    rle.type = 10, rle.width = 20, rle.height = 10, rle.descriptor = 0;
    for (int i = 0; i < 10; i++) rle.rest += Bytes({0x89, i, 2 * i, 3 * i, 0x00, 7, 8, 9}) + Bytes({0x08}) + std::string(27, char(i));
    Tga plain;
    plain.width = 20, plain.height = 10;
    for (int i = 0; i < 20 * 10 * 3; i++) plain.rest += char(i * 7);
    for (const std::string &whole : {rle.Build(), plain.Build()}) {
        for (size_t length = 0; length < whole.size(); length += whole.size() / 37 + 1) {
            SCOPED_TRACE(length);
            std::string path = dir / "cut.tga";
            WriteFileBytes(path, whole.substr(0, length));
            c32ResetDLLErrInfo();
            INT_PTR fileData = GetFileData(path);
            if (length < tga::HeaderSize) {
                EXPECT_EQ(0, fileData);
                continue;
            }
            if (fileData > 0) {
                Rows rows;
                EXPECT_EQ(0, Read(path, HGLOBAL(fileData), rows));
                Free(HGLOBAL(fileData));
            } else {
                EXPECT_EQ(-1, fileData);
            }
            EXPECT_EQ(4020u, ReadError().id);
        }
    }
}

TEST_F(TgaPlugin, WritesColourAndAlphaPlainOrRunLength)
{
    HGLOBAL block = Entry<GetFormatInfoEntry>(11)();
    ASSERT_NE(nullptr, block);
    {
        Locked<FormatInfo> info(block);
        EXPECT_STREQ("TGA", info->code);
        EXPECT_EQ(Q32_CAP_RGB | Q32_CAP_BGRA, info->typeCaps);
        EXPECT_EQ(0, info->signatureLength1);
    }
    GlobalFree(block);

    /* 300 pixels a row: runs and stretches longer than a packet, and short ones; and an
       image whose run lengths pass the plug-in's 1 MB pieces of reading. */
    const struct { LONG width, height; } shapes[] = {{300, 3}, {700, 800}};
    for (auto [width, height] : shapes)
    for (DWORD type : {DWORD(Q32_TYPE_RGB), DWORD(Q32_TYPE_BGRA)}) {
        for (bool rle : {false, true}) {
            SCOPED_TRACE(std::to_string(type) + (rle ? " run length " : " plain ") + std::to_string(height));
            const size_t pb = type == Q32_TYPE_BGRA ? 4 : 3;
            Rows rows;
            rows.dataType = type, rows.bits = DWORD(pb * 8);
            for (LONG y = 0; y < height; y++) {
                std::string row;
                for (LONG x = 0; x < width; x++)
                    for (size_t k = 0; k < pb; k++)
                        row += char(x < 140 ? y * 40 + k : x < 150 ? x * 3 + k : (x * 5 + y) ^ (x * y >> 4));
                rows.byY[y] = row;
            }
            HGLOBAL target = GlobalAlloc(GHND, sizeof(FileData));
            {
                Locked<FileData> d(target);
                d->raster = {DWORD(pb * 8), width, height, 0, 0, type, nullptr};
                d->compression = rle ? Q32_COMPRESS_RLE : Q32_COMPRESS_NONE;
            }
            std::string path = dir / "w.tga";
            WriteFileBytes(path, std::string(100000, 'x')); /* a longer file is replaced whole */
            ASSERT_EQ(1, Write(path, target, rows)) << ReadError().text;
            GlobalFree(target);

            std::string bytes = ReadFileBytes(path);
            ASSERT_GT(bytes.size(), 18u + 26u);
            EXPECT_EQ(rle ? 10 : 2, bytes[2]);
            EXPECT_EQ(int(pb * 8), bytes[16]);
            EXPECT_EQ(pb == 4 ? 0x28 : 0x20, bytes[17]);
            EXPECT_EQ(std::string("TRUEVISION-XFILE.\0", 18), bytes.substr(bytes.size() - 18));
            if (!rle) {
                EXPECT_EQ(18 + size_t(width) * height * pb + (pb == 4 ? tga::ExtensionSize : 0) + 26, bytes.size());
            } else {
                EXPECT_LT(bytes.size(), size_t(width) * height * pb);
                if (height > 3) {
                    EXPECT_GT(bytes.size(), size_t(1) << 20);
                }
            }

            HGLOBAL fileData = HGLOBAL(GetFileData(path));
            ASSERT_GT(INT_PTR(fileData), 0) << ReadError().text;
            EXPECT_EQ(type, Facts(fileData).raster.dataType);
            Rows back;
            ASSERT_EQ(1, Read(path, fileData, back)) << ReadError().text;
            EXPECT_EQ(rows.byY, back.byY);
            Free(fileData);
        }
    }

    /* What is not 24- or 32-bit colour is refused, before anything is written. */
    HGLOBAL grey = GlobalAlloc(GHND, sizeof(FileData));
    {
        Locked<FileData> d(grey);
        d->raster = {8, 2, 2, 0, 0, Q32_TYPE_GREY8, nullptr};
    }
    Rows rows;
    EXPECT_EQ(0, Write(dir / "grey.tga", grey, rows));
    ExpectError(4026, EntryWrite, 46);
    GlobalFree(grey);
}

} // namespace
