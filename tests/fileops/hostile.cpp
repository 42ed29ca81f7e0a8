/*
 * Hostile files through the module and the shipped plug-ins: looping TIFF IFD chains,
 * counts and offsets past the end, huge declared sizes, and every sample cut at every
 * length through its headers. Each goes through detection, a read and a preview, and
 * must answer with a recorded error or the right picture: never a crash, and never more
 * than a few megabytes of the process's memory. One program of its own, so that the
 * peak working set it measures is its own.
 */
#include "sandbox.h"
#include "wic_files.h"
#include <psapi.h>
#include <cstdio>
#include <functional>
#include <map>

using namespace q32test;

namespace {

struct TiffTag {
    uint16_t tag, type;
    uint32_t count, value;
};

/* A little-endian TIFF of one 4 x 2 grey page (or the IFDs given, each pointing to the
   next as next[i] says: an IFD index, or -1 for the end) with its pixels after them. */
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
            out += Le16(t.tag) + Le16(t.type) + Le32(t.count) + (t.type == 3 && t.count == 1 ? Le16(value) + Le16(0) : Le32(value));
        }
        out += Le32(next[i] < 0 ? 0 : at[size_t(next[i])]);
    }
    for (int i = 0; i < 8; i++) out += char(i * 30);
    return out;
}

/* The tags of a 4 x 2 grey page whose strip (offset 0: after the IFDs) holds 8 bytes. */
std::vector<TiffTag> GreyPage(uint32_t width = 4, uint32_t height = 2)
{
    return {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8}, {259, 3, 1, 1},
            {262, 3, 1, 1},     {273, 4, 1, 0},      {277, 3, 1, 1}, {279, 4, 1, 8}};
}

std::string Cut(const std::string &bytes, size_t length) { return bytes.substr(0, length); }

size_t PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

class Hostile : public ModuleSandbox {
protected:
    void SetUp() override
    {
        ModuleSandbox::SetUp();
        for (const char *plugin : {"bmp.fio", "wic.fio", "tga.fio", "wbmp.fio", "pnm.fio"}) StageBuilt(plugin);
        Load();
    }

    /* Detection, a read and a preview of bytes stored as name. With whole (the rows of
       the intact file), a read that succeeds must give them. The answer: the error of a
       refusal or of a read that is not whole, 0 for a whole picture. */
    UINT Answer(const std::string &name, const std::string &bytes, const std::map<LONG, std::string> *whole = nullptr)
    {
        std::string path = dir / name;
        WriteFileBytes(path, bytes);
        c32ResetDLLErrInfo();
        HGLOBAL data = FileDataOf(path);
        if (!data) return ReadError().id; /* a format's refusal is recorded, no format's is not */
        FileData facts = Facts(data);
        Rows rows;
        c32ResetDLLErrInfo();
        INT_PTR read = ReadAll(data, rows);
        RecordedError readError = ReadError();
        if (read == 1) {
            EXPECT_EQ(size_t(facts.raster.height), rows.byY.size());
            if (whole) {
                EXPECT_EQ(*whole, rows.byY) << "a damaged file read as a different picture";
            }
        } else {
            EXPECT_TRUE(read == 0 || read == Q32_READ_PARTIAL) << read;
            EXPECT_NE(0u, readError.id) << "a failed or partial read without an error";
        }
        static PreviewInfo info;
        static BYTE pixels[64 * 64 * 8];
        c32ResetDLLErrInfo();
        int preview = Q32_EXPORT(module, qfFileGetPreviewMem)(data, &info, 0, pixels, 64, 64);
        /* The application can tell a picture that is not whole. */
        if (read != 1) {
            EXPECT_NE(0u, ReadError().id) << "preview " << preview;
        }
        Free(data);
        return read == 1 ? 0 : readError.id;
    }

    std::map<LONG, std::string> WholeRows(const std::string &name, const std::string &bytes)
    {
        std::string path = dir / name;
        WriteFileBytes(path, bytes);
        HGLOBAL data = FileDataOf(path);
        EXPECT_NE(nullptr, data) << name << ": " << ReadError().text;
        if (!data) return {};
        Rows rows;
        EXPECT_EQ(1, ReadAll(data, rows)) << name << ": " << ReadError().text;
        Free(data);
        return rows.byY;
    }
};

TEST_F(Hostile, EveryFileAnswersWithAnErrorOrTheRightPictureInLittleMemory)
{
    wictest::Com com;
    std::map<std::string, std::string> samples; /* by name */
    auto encode = [&](const std::string &name, const GUID &container, const wictest::Picture &picture) {
        std::string path = dir / ("made-" + name);
        ASSERT_TRUE(wictest::Encode(path, container, {picture})) << name;
        samples[name] = ReadFileBytes(path);
    };
    std::vector<WICColor> colours;
    for (unsigned i = 0; i < 16; i++) colours.push_back(0xFF000000u | i * 0x0F0B07u);
    encode("s.jpg", GUID_ContainerFormatJpeg, wictest::Smooth(GUID_WICPixelFormat24bppBGR, 16, 8));
    encode("s.gif", GUID_ContainerFormatGif, wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 8, 4, 1, colours));
    samples["s.png"] = wictest::MakePng(4, 2, 0, 8, {"\x01\x02\x03\x04", "\x05\x06\x07\x08"},
                                        wictest::PngChunk("pHYs", Be32(3780) + Be32(3780) + "\x01"));
    samples["p.png"] = wictest::MakePng(4, 2, 3, 8, {std::string("\0\1\2\1", 4), std::string("\2\1\0\0", 4)},
                                        wictest::PngChunk("PLTE", std::string("\xFF\0\0\0\xFF\0\0\0\xFF", 9)) + wictest::PngChunk("tRNS", "\x80"));
    samples["s.tif"] = Tiff({GreyPage(), GreyPage()}, {1, -1});
    samples["s.ico"] = Le16(0) + Le16(1) + Le16(1) + "\x04\x02" + std::string(2, '\0') + Le16(1) + Le16(32) +
                       Le32(uint32_t(samples["p.png"].size())) + Le32(22) + samples["p.png"];
    samples["s.bmp"] = "BM" + Le32(62 + 16) + Le32(0) + Le32(54) + Le32(40) + Le32(4) + Le32(2) + Le16(1) + Le16(24) +
                       Le32(0) + Le32(24) + Le32(0) + Le32(0) + Le32(0) + Le32(0) + std::string(24, '\x5A');
    samples["s.wbmp"] = std::string("\0\0\x08\x02\xF0\x0F", 6);
    samples["s.pgm"] = "P5\n4 2\n255\n" + std::string("\1\2\3\4\5\6\7\x08", 8);
    samples["s.tga"] = std::string("\0\0\x02", 3) + std::string(9, '\0') + Le16(4) + Le16(2) + "\x18\x20" +
                       std::string(24, '\x33');

    /* Warm: every plug-in and the component loaded before memory is measured. */
    std::map<std::string, std::map<LONG, std::string>> whole;
    for (auto &[name, bytes] : samples) {
        whole[name] = WholeRows(name, bytes);
        Answer(name, bytes, &whole[name]);
    }
    const size_t peakBefore = PeakWorkingSet();

    const uint32_t huge = 64250;
    std::string jpeg = samples["s.jpg"];
    size_t sof = jpeg.find("\xFF\xC0", 2);
    ASSERT_NE(std::string::npos, sof);
    std::string hugeJpeg = jpeg;
    hugeJpeg.replace(sof + 5, 4, std::string{char(huge >> 8), char(huge), char(huge >> 8), char(huge)});
    std::string gif = samples["s.gif"];
    std::string hugeGif = gif;
    hugeGif.replace(6, 4, Le16(65535) + Le16(65535));
    size_t descriptor = 13 + ((gif[10] & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0);
    while (descriptor < gif.size() && gif[descriptor] == '\x21') { /* extensions */
        for (descriptor += 2; descriptor < gif.size() && gif[descriptor];) descriptor += 1 + BYTE(gif[descriptor]);
        descriptor++;
    }
    ASSERT_LT(descriptor + 9, gif.size());
    ASSERT_EQ('\x2C', gif[descriptor]);
    hugeGif.replace(descriptor + 5, 4, Le16(65535) + Le16(65535));
    std::string hugeIhdr = Be32(huge) + Be32(huge) + std::string("\x08\0\0\0\0", 5);
    std::string png = samples["s.png"];
    std::string hugePng = png.substr(0, 8) + wictest::PngChunk("IHDR", hugeIhdr) + png.substr(33);
    std::string badCrc = png;
    badCrc[badCrc.find("IDAT") + 6] ^= 0x55;

    const UINT Damaged = 4020, TooLarge = 4021, Any = 0;
    const struct {
        const char *name;
        std::string bytes;
        UINT answer;   /* the error it must get; Any: any, or a whole picture */
    } hostile[] = {
        {"loop.tif", Tiff({GreyPage()}, {0}), Damaged},
        {"loop2.tif", Tiff({GreyPage(), GreyPage()}, {1, 0}), Damaged},
        {"millions.tif", [] { auto p = GreyPage(); p[5] = {273, 4, 0x00F00000, 8}; return Tiff({p}, {-1}); }(), Damaged},
        {"counts.tif", [] { auto p = GreyPage(); p.push_back({700, 1, 0x7FFFFFFF, 8}); return Tiff({p}, {-1}); }(), Damaged},
        {"entries.tif", std::string("II*\0", 4) + Le32(8) + Le16(5000) + std::string(40, '\0'), Damaged},
        {"far.tif", std::string("II*\0", 4) + Le32(0xFFFFFFF0), Damaged},
        {"huge.tif", Tiff({GreyPage(0x7FFFFFFF, 0x7FFFFFFF)}, {-1}), TooLarge},
        {"wide.tif", Tiff({GreyPage(huge, huge)}, {-1}), TooLarge},
        {"huge.jpg", hugeJpeg, TooLarge},
        {"huge.gif", hugeGif, TooLarge},
        {"huge.png", hugePng, TooLarge},
        {"negative.png", png.substr(0, 8) + wictest::PngChunk("IHDR", Be32(0x80000000u) + hugeIhdr.substr(4)) + png.substr(33), TooLarge},
        {"crc.png", badCrc, Damaged},
        {"noend.png", png.substr(0, png.size() - 12), Damaged},
        {"far.ico", Le16(0) + Le16(1) + Le16(1) + std::string(8, '\0') + Le32(0x7FFFFFFF) + Le32(22), Damaged},
        {"many.ico", Le16(0) + Le16(1) + Le16(3) + std::string(48, '\0'), Damaged},
        {"hugebmp.ico", Le16(0) + Le16(1) + Le16(1) + std::string(8, '\0') + Le32(40) + Le32(22) + Le32(40) +
                            Le32(0x7FFFFFFF) + Le32(0x7FFFFFFE) + Le16(1) + Le16(32) + std::string(24, '\0'), TooLarge},
        {"huge.bmp", "BM" + Le32(100) + Le32(0) + Le32(54) + Le32(40) + Le32(0x7FFFFFFF) + Le32(0x7FFFFFFF) + Le16(1) +
                         Le16(24) + std::string(24, '\0') + std::string(46, '\x11'), TooLarge},
        {"huge.wbmp", std::string("\0\0\x87\xFF\xFF\xFF\x7F\x87\xFF\xFF\xFF\x7F", 12) + std::string(16, '\xFF'), Any},
        {"huge.tga", std::string("\0\0\x02", 3) + std::string(9, '\0') + Le16(65535) + Le16(65535) + "\x20\x28" +
                         std::string(64, '\x11'), TooLarge},
        {"huge.pgm", "P5\n2147483647 2147483647\n255\n" + std::string(16, '\1'), TooLarge},
        {"wide.pgm", "P6\n64250 64250\n65535\n" + std::string(16, '\1'), Any},
    };
    for (const auto &h : hostile) {
        SCOPED_TRACE(h.name);
        UINT answer = Answer(h.name, h.bytes);
        if (h.answer != Any) {
            EXPECT_EQ(h.answer, answer) << ReadError().text;
        }
    }
    /* The 64250 x 64250 JPEG is described, and refused as too large before it is decoded. */
    {
        HGLOBAL data = FileDataOf(dir / "huge.jpg");
        ASSERT_NE(nullptr, data) << ReadError().text;
        EXPECT_EQ(LONG(huge), Facts(data).raster.width);
        Rows rows;
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.context = &rows;
        EXPECT_EQ(0, Q32_EXPORT(module, qfFileRead)(data, &request, Collect));
        RecordedError e = ReadError();
        EXPECT_EQ(4021u, e.id);
        EXPECT_NE(std::string::npos, e.text.find("huge.jpg is too large")) << e.text;
        Free(data);
    }

    /* Every sample cut at every length through its headers, and further on in steps. */
    for (auto &[name, bytes] : samples) {
        for (size_t length = 0; length < bytes.size(); length += length < 400 ? 1 : 5) {
            SCOPED_TRACE(name + " cut at " + std::to_string(length));
            Answer("cut-" + name, Cut(bytes, length), &whole[name]);
        }
    }
    const size_t grown = PeakWorkingSet() - peakBefore;
    printf("the peak working set grew by %zu KB over %zu bytes of JPEG declaring %u x %u\n", grown / 1024,
           hugeJpeg.size(), huge, huge);
    EXPECT_LT(grown, size_t(8) << 20) << "the peak working set grew by " << grown / 1024 << " KB";
}

} // namespace
