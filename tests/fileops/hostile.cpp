/*
 * Hostile files through the module and the shipped plug-ins: looping TIFF IFD chains,
 * counts and offsets past the end, huge declared sizes, and every sample cut at every
 * length through its headers. Each goes through detection, a read and a preview and must
 * answer with a recorded error or the right picture, never a crash, never more than a few
 * megabytes; huge sizes are refused as too large (huge bitmaps, TGA and WBMP files are the
 * plug-in tests'). A program of its own, so that the peak it measures is its own.
 */
#include "sandbox.h"
#include "wic_files.h"

#include <psapi.h>

using namespace q32test;

namespace {

using RowMap = std::map<LONG, std::string>;

size_t PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

struct TiffTag {
    uint16_t tag, type;
    uint32_t count, value;
};

/* A little-endian TIFF of the IFDs given, each pointing to the next as next[i] says (an
   IFD index, or -1 for the end), with 8 bytes of pixels after them (strip offset 0). */
std::string Tiff(const std::vector<std::vector<TiffTag>> &ifds, const std::vector<int> &next)
{
    std::vector<uint32_t> at;
    uint32_t offset = 8;
    for (const auto &ifd : ifds) at.push_back(offset), offset += 2 + 12 * uint32_t(ifd.size()) + 4;
    std::string out = std::string("II*\0", 4) + Le32(8);
    for (size_t i = 0; i < ifds.size(); i++) {
        out += Le16(unsigned(ifds[i].size()));
        for (const TiffTag &t : ifds[i]) {
            uint32_t value = t.tag == 273 && t.value == 0 ? offset : t.value;
            bool shortValue = t.type == 3 && t.count == 1;
            out += Le16(t.tag) + Le16(t.type) + Le32(t.count) +
                   (shortValue ? Le16(value) + Le16(0) : Le32(value));
        }
        out += Le32(next[i] < 0 ? 0 : at[size_t(next[i])]);
    }
    for (int i = 0; i < 8; i++) out += char(i * 30);
    return out;
}

/* The tags of a grey page whose strip holds 8 bytes. */
std::vector<TiffTag> GreyPage(uint32_t width = 4, uint32_t height = 2)
{
    return {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8}, {259, 3, 1, 1},
            {262, 3, 1, 1},     {273, 4, 1, 0},      {277, 3, 1, 1}, {279, 4, 1, 8}};
}

class Hostile : public ModuleSandbox {
protected:
    void SetUp() override
    {
        ModuleSandbox::SetUp();
        for (const char *plugin : {"bmp.fio", "wic.fio", "tga.fio", "wbmp.fio", "pnm.fio"})
            StageBuilt(plugin);
        Load();
    }

    /* Detection, a read and a preview of bytes stored as name: the error of a refusal or
       of a read that is not whole, 0 for a whole picture (whose rows go to got). A read
       that succeeds must give whole when it is known. */
    UINT Answer(const std::string &name, const std::string &bytes, const RowMap *whole,
                RowMap *got = nullptr)
    {
        std::string path = dir / name;
        WriteFileBytes(path, bytes);
        c32ResetDLLErrInfo();
        HGLOBAL data = FileDataOf(path);
        if (!data) return ReadError().id;
        Rows rows;
        c32ResetDLLErrInfo();
        INT_PTR read = ReadAll(data, rows);
        RecordedError readError = ReadError();
        if (read == 1) {
            EXPECT_EQ(size_t(Facts(data).raster.height), rows.byY.size());
            if (whole) { EXPECT_EQ(*whole, rows.byY) << "a damaged file read as another picture"; }
            if (got) *got = rows.byY;
        } else {
            EXPECT_TRUE(read == 0 || read == Q32_READ_PARTIAL) << read;
            EXPECT_NE(0u, readError.id) << "a failed or partial read without an error";
        }
        static PreviewInfo info;
        static BYTE pixels[64 * 64 * 8];
        c32ResetDLLErrInfo();
        int preview = Q32_EXPORT(module, qfFileGetPreviewMem)(data, &info, 0, pixels, 64, 64);
        if (read != 1) { EXPECT_NE(0u, ReadError().id) << "preview " << preview; }
        Free(data);
        return read == 1 ? 0 : readError.id;
    }
};

TEST_F(Hostile, EveryFileAnswersWithAnErrorOrTheRightPicture)
{
    wictest::Com com;
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    const std::string jpegPath = dir / "made.jpg";
    ASSERT_TRUE(wictest::Encode(jpegPath, GUID_ContainerFormatJpeg,
                                {wictest::Smooth(GUID_WICPixelFormat24bppBGR, 16, 8)}));
    const std::string pHYs = wictest::PngChunk("pHYs", Be32(3780) + Be32(3780) + "\x01");
    const std::string plte = wictest::PngChunk("PLTE", std::string("\xFF\0\0\0\xFF\0\0\0\xFF", 9));
    const std::vector<std::string> indices = {std::string("\0\1\2\1", 4),
                                              std::string("\2\1\0\0", 4)};
    std::map<std::string, std::string> samples = {
        {"s.jpg", ReadFileBytes(jpegPath)},
        {"s.gif", wictest::MakeGif(8, 4, colours, {{0, 0, 8, 4, 1, -1, std::string(32, '\2')}})},
        {"s.png", wictest::MakePng(4, 2, 0, 8, {"\x01\x02\x03\x04", "\x05\x06\x07\x08"}, pHYs)},
        {"p.png", wictest::MakePng(4, 2, 3, 8, indices, plte + wictest::PngChunk("tRNS", "\x80"))},
        {"s.tif", Tiff({GreyPage(), GreyPage()}, {1, -1})},
        {"s.bmp", "BM" + Le32(62 + 16) + Le32(0) + Le32(54) + Le32(40) + Le32(4) + Le32(2) +
                      Le16(1) + Le16(24) + Le32(0) + Le32(24) + std::string(16, '\0') +
                      std::string(24, '\x5A')},
        {"s.wbmp", std::string("\0\0\x08\x02\xF0\x0F", 6)},
        {"s.pgm", "P5\n4 2\n255\n" + std::string("\1\2\3\4\5\6\7\x08", 8)},
        {"s.tga", std::string("\0\0\2", 3) + std::string(9, '\0') + Le16(4) + Le16(2) + "\x18\x20" +
                      std::string(24, '\x33')},
    };
    const std::string &icon = samples["p.png"];
    samples["s.ico"] = Le16(0) + Le16(1) + Le16(1) + "\x04\x02" + std::string(2, '\0') + Le16(1) +
                       Le16(32) + Le32(uint32_t(icon.size())) + Le32(22) + icon;

    std::map<std::string, RowMap> whole;
    for (auto &[name, bytes] : samples)
        ASSERT_EQ(0u, Answer(name, bytes, nullptr, &whole[name])) << name;
    /* Every plug-in and the component are loaded now: what follows must not allocate what
       the files declare. */
    const size_t peakBefore = PeakWorkingSet();

    const uint32_t huge = 64250;
    std::string hugeJpeg = samples["s.jpg"];
    size_t sof = hugeJpeg.find("\xFF\xC0", 2);
    ASSERT_NE(std::string::npos, sof);
    std::string side{char(huge >> 8), char(huge)};
    hugeJpeg.replace(sof + 5, 4, side + side);
    std::string png = samples["s.png"], badCrc = png;
    badCrc[badCrc.find("IDAT") + 6] ^= 0x55;
    std::string hugeIhdr = Be32(huge) + Be32(huge) + std::string("\x08\0\0\0\0", 5);
    auto withIhdr = [&](const std::string &ihdr) {
        return png.substr(0, 8) + wictest::PngChunk("IHDR", ihdr) + png.substr(33);
    };
    auto grey = [](TiffTag extra, size_t at) {
        auto page = GreyPage();
        if (at < page.size()) page[at] = extra;
        else page.push_back(extra);
        return Tiff({page}, {-1});
    };
    const std::string icoHead = Le16(0) + Le16(1) + Le16(1) + std::string(8, '\0');
    const UINT Damaged = 4020, TooLarge = 4021, Any = 0;
    const struct { const char *name; std::string bytes; UINT answer; /* Any: any */ } hostile[] = {
        {"loop2.tif", Tiff({GreyPage(), GreyPage()}, {1, 0}), Damaged},
        {"millions.tif", grey({273, 4, 0x00F00000, 8}, 5), Damaged},
        {"counts.tif", grey({700, 1, 0x7FFFFFFF, 8}, 99), Damaged},
        {"entries.tif", std::string("II*\0", 4) + Le32(8) + Le16(5000) + std::string(40, '\0'),
         Damaged},
        {"far.tif", std::string("II*\0", 4) + Le32(0xFFFFFFF0), Damaged},
        {"huge.tif", Tiff({GreyPage(0x7FFFFFFF, 0x7FFFFFFF)}, {-1}), TooLarge},
        {"wide.tif", Tiff({GreyPage(huge, huge)}, {-1}), TooLarge},
        {"huge.jpg", hugeJpeg, TooLarge},
        {"huge.gif", wictest::MakeGif(65535, 65535, colours, {{0, 0, 65535, 65535, 1, -1, "\1"}}),
         TooLarge},
        {"huge.png", withIhdr(hugeIhdr), TooLarge},
        {"negative.png", withIhdr(Be32(0x80000000u) + hugeIhdr.substr(4)), TooLarge},
        {"crc.png", badCrc, Damaged},
        {"noend.png", png.substr(0, png.size() - 12), Damaged},
        {"far.ico", icoHead + Le32(0x7FFFFFFF) + Le32(22), Damaged},
        {"many.ico", Le16(0) + Le16(1) + Le16(3) + std::string(48, '\0'), Damaged},
        {"hugebmp.ico", icoHead + Le32(40) + Le32(22) + Le32(40) + Le32(0x7FFFFFFF) +
                            Le32(0x7FFFFFFE) + Le16(1) + Le16(32) + std::string(24, '\0'),
         TooLarge},
        {"huge.pgm", "P5\n2147483647 2147483647\n255\n" + std::string(16, '\1'), TooLarge},
        {"wide.pgm", "P6\n64250 64250\n65535\n" + std::string(16, '\1'), Any},
    };
    for (const auto &h : hostile) {
        SCOPED_TRACE(h.name);
        UINT answer = Answer(h.name, h.bytes, nullptr);
        if (h.answer != Any) { EXPECT_EQ(h.answer, answer) << ReadError().text; }
    }

    /* Every sample cut at every length through its headers, and further on in steps. */
    for (auto &[name, bytes] : samples)
        for (size_t length = 0; length < bytes.size(); length += length < 400 ? 1 : 5) {
            SCOPED_TRACE(name + " cut at " + std::to_string(length));
            Answer("cut-" + name, bytes.substr(0, length), &whole[name]);
        }
    const size_t grown = PeakWorkingSet() - peakBefore;
    EXPECT_LT(grown, size_t(8) << 20) << "the peak working set grew by " << grown / 1024 << " KB";
}

} // namespace
