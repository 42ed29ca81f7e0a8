/*
 * Previews through a loaded copy of the module. The test plug-in holds an image that it
 * delivers in single rows, blocks of rows, part rows, fill commands or rows outside the
 * image; the preview goes into a buffer of exactly the expected size with poisoned guard
 * bytes on both sides. Expected pixels are worked out here from the test image: every
 * S-th pixel of every S-th row.
 */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "testfio.h"
#include <string.h>
#include <string>
#include <utility>
#include <vector>

using namespace q32test;

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;
using Bytes = std::vector<BYTE>;

const BYTE Guard = 0xCD;      /* around the caller's buffer */
const BYTE Unwritten = 0xEE;  /* inside it, before the preview */
const size_t GuardBytes = 64;
const DWORD InfoUntouched = 0x5EED5EED;

/* What the test plug-in's file holds: its ini keys. */
struct Image {
    LONG width = 8, height = 6;
    DWORD bits = 24, type = Q32_TYPE_RGB;
    int palette = 0;            /* grey ramp entries */
    std::string read = "rows";
    Keys extra;                 /* Block, Part, FailAfter, Pixel, FillValue, Vector... */
    DWORD pixel = 0;            /* the Pixel key's value, when constant */
    bool constant = false;

    Keys AllKeys() const
    {
        Keys keys = {{"Width", std::to_string(width)},   {"Height", std::to_string(height)},
                     {"Bits", std::to_string(bits)},     {"DataType", std::to_string(type)},
                     {"Palette", std::to_string(palette)}, {"Read", read}};
        if (constant) keys.push_back({"Pixel", std::to_string(pixel)});
        keys.insert(keys.end(), extra.begin(), extra.end());
        return keys;
    }
};

Image Picture(LONG width, LONG height, DWORD bits, DWORD type, std::string read = "rows",
              Keys extra = {}, int palette = 0)
{
    return Image{width, height, bits, type, palette, std::move(read), std::move(extra)};
}

/* ---- Expected results, from the test image alone ---- */

BYTE Clamp(int v) { return (BYTE)(v < 0 ? 0 : v > 255 ? 255 : v); }

/* Sample s of source pixel (x, y) as the preview keeps it (the high byte of 16-bit
   samples). */
BYTE Sample(const Image &image, LONG x, LONG y, LONG s)
{
    return image.constant ? (BYTE)(image.pixel >> (8 * s)) : TestPixelByte(x, y, s);
}

/* Output bytes of source pixel (x, y). */
Bytes OutputPixel(const Image &image, LONG x, LONG y)
{
    switch (image.type) {
    case Q32_TYPE_BILEVEL:
        return {(BYTE)(TestPixelBit(x, y) ? (image.palette ? 1 : 255) : 0)};
    case Q32_TYPE_BGRA:
    case Q32_TYPE_BGRA64: {
        int alpha = Sample(image, x, y, 3);
        Bytes out;
        for (LONG k = 0; k < 3; k++) out.push_back(Clamp(Sample(image, x, y, k) + alpha - 255));
        return out;
    }
    default: {
        LONG samples = image.type == Q32_TYPE_RGB48    ? 3
                       : image.type == Q32_TYPE_GREY16 ? 1
                                                       : (LONG)(image.bits + 7) / 8;
        Bytes out;
        for (LONG s = 0; s < samples; s++) out.push_back(Sample(image, x, y, s));
        return out;
    }
    }
}

struct Expected {
    LONG step, width, height, bytesPerPixel;
    Bytes pixels;   /* for a whole read */
    size_t Size() const { return (size_t)width * height * bytesPerPixel; }
};

/* The preview of a width x height image in the box. */
Expected Expect(const Image &image, LONG width, LONG height, LONG boxWidth, LONG boxHeight)
{
    Expected e;
    e.step = 1;
    if (width > boxWidth || height > boxHeight) {
        LONGLONG across = ((LONGLONG)width + boxWidth - 1) / boxWidth;
        LONGLONG down = ((LONGLONG)height + boxHeight - 1) / boxHeight;
        e.step = (LONG)(across > down ? across : down);
    }
    e.width = (LONG)(((LONGLONG)width + e.step - 1) / e.step);
    e.height = (LONG)(((LONGLONG)height + e.step - 1) / e.step);
    e.bytesPerPixel = (LONG)OutputPixel(image, 0, 0).size();
    for (LONG oy = 0; oy < e.height; oy++)
        for (LONG ox = 0; ox < e.width; ox++) {
            Bytes p = OutputPixel(image, ox * e.step, oy * e.step);
            e.pixels.insert(e.pixels.end(), p.begin(), p.end());
        }
    return e;
}

Expected Expect(const Image &image, LONG boxWidth, LONG boxHeight)
{
    return Expect(image, image.width, image.height, boxWidth, boxHeight);
}

/* ---- A module copy with the test plug-in holding the image ---- */

/* One copy of the module whose plug-in folder holds a test plug-in copy with one
   format, "TPV", that accepts every file and describes the image; and a file of it. */
class Staged : public Sandbox {
public:
    explicit Staged(const Image &image)
    {
        Stage("TPV", image.AllKeys());
        WriteFileBytes(file, "a test picture");
        loaded = module.Load();
        c32ResetDLLErrInfo();
    }
    ~Staged()
    {
        if (data) Q32_EXPORT(module, q32FileFreeFileData)(data);
    }

    /* The file's FileData (kept and freed here). */
    HGLOBAL Detect()
    {
        if (!data) data = Q32_EXPORT(module, qfFileGetFileData)(file.c_str(), nullptr);
        c32ResetDLLErrInfo();
        return data;
    }
    FileData Facts() { return Sandbox::Facts(data); }

    std::string file = dir / "picture.tpv";
    bool loaded = false;
    HGLOBAL data = nullptr;
};

/* What a preview gave: its result, the info block, the buffer's inside, whether the
   guards survived, and the error slot. */
struct Outcome {
    int result = -1;
    PreviewInfo info;
    Bytes pixels;
    bool guardsIntact = true;
    RecordedError error;
};

Outcome RunPreview(Staged &staged, HGLOBAL data, size_t bytes, int boxWidth, int boxHeight)
{
    Outcome o;
    memset(&o.info, 0xAB, sizeof o.info);
    o.info.reserved = InfoUntouched;
    Bytes area(bytes + 2 * GuardBytes, Guard);
    memset(area.data() + GuardBytes, Unwritten, bytes);
    c32ResetDLLErrInfo();
    o.result = Q32_EXPORT(staged.module, qfFileGetPreviewMem)(data, &o.info, 0,
                                                               area.data() + GuardBytes,
                                                               boxWidth, boxHeight);
    o.error = ReadError();
    o.pixels.assign(area.begin() + GuardBytes, area.end() - GuardBytes);
    for (size_t i = 0; i < GuardBytes; i++)
        if (area[i] != Guard || area[area.size() - 1 - i] != Guard) o.guardsIntact = false;
    return o;
}

/* The first differing byte, as a message; empty when equal. */
std::string FirstDifference(const Bytes &expected, const Bytes &actual, LONG stride)
{
    if (expected.size() != actual.size())
        return "size " + std::to_string(actual.size()) + " != " + std::to_string(expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        if (expected[i] != actual[i])
            return "byte " + std::to_string(i % stride) + " of row " + std::to_string(i / stride) +
                   ": " + std::to_string(actual[i]) + " != " + std::to_string(expected[i]);
    return "";
}

void ExpectInfo(const Outcome &o, const Expected &e, const std::string &what)
{
    EXPECT_EQ(InfoUntouched, o.info.reserved) << what;
    EXPECT_EQ((DWORD)e.width, o.info.width) << what;
    EXPECT_EQ((DWORD)e.height, o.info.height) << what;
    EXPECT_EQ((DWORD)e.bytesPerPixel, o.info.bytesPerPixel) << what;
    EXPECT_EQ((DWORD)(e.width * e.bytesPerPixel), o.info.stride) << what;
}

/* The string table's text of id: what the slot holds for an error recorded without a
   text of its own. */
std::string TableText(UINT id)
{
    char text[C32_ERRTEXT_SIZE] = "";
    c32GetString(id, text, sizeof text);
    return text;
}

/* Previews image into the box and checks the whole picture, the info block and the
   guards. */
void ExpectWholePreview(const Image &image, int boxWidth, int boxHeight, const std::string &what,
                        LONG width = -1, LONG height = -1)
{
    SCOPED_TRACE(what);
    Staged staged(image);
    ASSERT_TRUE(staged.loaded);
    HGLOBAL data = staged.Detect();
    ASSERT_NE(nullptr, data);
    Expected e = Expect(image, boxWidth, boxHeight);
    if (width >= 0) {
        EXPECT_EQ(width, e.width) << "the table's own size";
        EXPECT_EQ(height, e.height) << "the table's own size";
    }
    Outcome o = RunPreview(staged, data, e.Size(), boxWidth, boxHeight);
    ASSERT_EQ(1, o.result);
    EXPECT_TRUE(o.guardsIntact) << "written outside the caller's buffer";
    ExpectInfo(o, e, what);
    EXPECT_EQ("", FirstDifference(e.pixels, o.pixels, e.width * e.bytesPerPixel))
        << "step " << e.step;
    EXPECT_EQ(0u, o.error.id) << "a read that delivered everything records nothing";

    EXPECT_EQ((DWORD)image.palette, o.info.paletteCount);
    for (int i = 0; i < image.palette && i < 256; i++) {
        BYTE v = (BYTE)(image.palette > 1 ? i * 255 / (image.palette - 1) : 0);
        const PALETTEENTRY &p = o.info.palette[i];
        EXPECT_TRUE(p.peRed == v && p.peGreen == v && p.peBlue == v && p.peFlags == 0)
            << "palette entry " << i;
    }
}

/* ---- Steps, sizes and layouts ---- */

TEST(Preview, StepExamplesAndFittingImages)
{
    const struct { const char *what; LONG w, h; int bw, bh; LONG ow, oh; } cases[] = {
        {"an image that fits is copied at step 1", 8, 6, 100, 100, 8, 6},
        {"exactly the box", 30, 20, 30, 20, 30, 20},
        {"1000 x 10 in 100 x 100: step 10", 1000, 10, 100, 100, 100, 1},
        {"1001 x 1: step 11", 1001, 1, 100, 100, 91, 1},
        {"1002 x 1: step 11", 1002, 1, 100, 100, 92, 1},
        {"one pixel wider than the box: step 2", 31, 20, 30, 20, 16, 10},
        {"the height sets the step", 30, 95, 10, 10, 3, 10},
        {"one pixel high and wide", 1, 1, 1, 1, 1, 1},
        {"into a one-pixel box", 9, 4, 1, 1, 1, 1},
    };
    for (const auto &c : cases)
        ExpectWholePreview(Picture(c.w, c.h, 24, Q32_TYPE_RGB), c.bw, c.bh, c.what, c.ow, c.oh);
}

TEST(Preview, RowsBlocksAndPartRowsOfEveryLayout)
{
    const Keys block3 = {{"Block", "3"}}, block4 = {{"Block", "4"}};
    const Keys part5 = {{"Part", "5"}}, part7 = {{"Part", "7"}}, part4 = {{"Part", "4"}};
    const struct { const char *what; Image image; int bw, bh; } cases[] = {
        {"RGB blocks, step 4", Picture(37, 23, 24, Q32_TYPE_RGB, "blocks", block3), 10, 10},
        {"RGB part rows, step 1", Picture(13, 7, 24, Q32_TYPE_RGB, "parts", part5), 20, 20},
        {"RGB part rows off the step, step 4", Picture(37, 23, 24, Q32_TYPE_RGB, "parts", part5), 10, 10},
        {"grey part rows, step 3", Picture(31, 17, 8, Q32_TYPE_GREY8, "parts", part7), 11, 11},
        {"palette blocks, step 2", Picture(19, 12, 8, Q32_TYPE_PALETTE8, "blocks", block3, 256), 10, 10},
        {"16 colours, rows, step 1", Picture(9, 5, 4, Q32_TYPE_PALETTE4, "rows", {}, 16), 9, 9},
        {"high colour part rows, step 2", Picture(21, 8, 16, Q32_TYPE_HICOLOUR, "parts", part5), 11, 11},
        {"CMYK rows, step 2 (no conversion)", Picture(12, 11, 32, Q32_TYPE_CMYK), 6, 6},
        {"RGB48 part rows, step 3", Picture(25, 14, 48, Q32_TYPE_RGB48, "parts", part4), 9, 9},
        {"GREY16 part rows, step 1", Picture(11, 3, 16, Q32_TYPE_GREY16, "parts", part4), 11, 11},
        {"BGRA64 part rows, step 2", Picture(19, 6, 64, Q32_TYPE_BGRA64, "parts", part5), 10, 10},
        {"BGRA blocks, step 3", Picture(29, 11, 32, Q32_TYPE_BGRA, "blocks", block4), 10, 10},
        {"one bit, palette, rows, step 1", Picture(19, 5, 1, Q32_TYPE_BILEVEL, "rows", {}, 2), 20, 20},
        {"one bit, palette, part rows, step 3", Picture(40, 20, 1, Q32_TYPE_BILEVEL, "parts", {}, 2), 14, 14},
        {"one bit, palette, part rows, step 1", Picture(27, 4, 1, Q32_TYPE_BILEVEL, "parts", {}, 2), 27, 4},
        {"one bit, plain, rows, step 2", Picture(33, 9, 1, Q32_TYPE_BILEVEL), 17, 17},
        {"one bit, plain, part rows, step 5", Picture(61, 13, 1, Q32_TYPE_BILEVEL, "parts"), 13, 13},
        {"one bit, plain, blocks, step 2", Picture(33, 9, 1, Q32_TYPE_BILEVEL, "blocks", block3), 17, 17},
    };
    for (const auto &c : cases) ExpectWholePreview(c.image, c.bw, c.bh, c.what);
}

/* Every output pixel one colour: four-byte pixels become three (each colour c is
   clamp(c + alpha - 255)), and a fill command sets every output pixel without reaching
   past the output. */
TEST(Preview, ConstantPixelsAndFillCommands)
{
    struct Case { std::string what; Image image; int box; Bytes pixel; };
    std::vector<Case> cases = {
        {"RGB fill, step 1", Picture(8, 6, 24, Q32_TYPE_RGB, "fill"), 10, {0x33, 0x22, 0x11}},
        {"grey fill", Picture(9, 9, 8, Q32_TYPE_GREY8, "fill"), 4, {0x33}},
        {"high colour fill", Picture(9, 9, 16, Q32_TYPE_HICOLOUR, "fill"), 4, {0x33, 0x22}},
        {"CMYK fill", Picture(9, 9, 32, Q32_TYPE_CMYK, "fill", {{"FillValue", "0x44332211"}}), 4, {0x11, 0x22, 0x33, 0x44}},
        {"GREY16 fill: the sample's high byte", Picture(9, 9, 16, Q32_TYPE_GREY16, "fill", {{"FillValue", "0x3C5A"}}), 4, {0x3C}},
        {"20000 x 20000 fill into 256", Picture(20000, 20000, 24, Q32_TYPE_RGB, "fill"), 256, {0x33, 0x22, 0x11}},
        {"2147483647 x 3 fill into 256", Picture(0x7FFFFFFF, 3, 24, Q32_TYPE_RGB, "fill"), 256, {0x33, 0x22, 0x11}},
    };
    const struct { DWORD pixel; Bytes expected; } pixels[] = {
        {0xFF1E140A, {10, 20, 30}},  /* (10, 20, 30, 255) */
        {0x001E140A, {0, 0, 0}},     /* (10, 20, 30, 0) */
        {0xC81E14FA, {195, 0, 0}},   /* (250, 20, 30, 200) */
        {0x80FFFF80, {1, 128, 128}}, /* (128, 255, 255, 128) */
    };
    const struct { const char *what; DWORD bits, type; const char *read; int box; } ways[] = {
        {"BGRA rows, step 1", 32, Q32_TYPE_BGRA, "rows", 16},
        {"BGRA fill", 32, Q32_TYPE_BGRA, "fill", 5},
        {"BGRA64 blocks, step 2", 64, Q32_TYPE_BGRA64, "blocks", 5},
    };
    for (const auto &p : pixels)
        for (const auto &w : ways) {
            Image image = Picture(10, 4, w.bits, w.type, w.read, {{"FillValue", std::to_string(p.pixel)}});
            image.constant = true;
            image.pixel = p.pixel;
            cases.push_back({std::string(w.what) + " " + std::to_string(p.pixel), image, w.box, p.expected});
        }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Staged staged(c.image);
        ASSERT_NE(nullptr, staged.Detect());
        Expected e = Expect(c.image, c.box, c.box);
        Outcome o = RunPreview(staged, staged.data, e.Size(), c.box, c.box);
        ASSERT_EQ(1, o.result);
        EXPECT_TRUE(o.guardsIntact);
        ExpectInfo(o, e, c.what);
        Bytes all;
        for (LONG i = 0; i < e.width * e.height; i++) all.insert(all.end(), c.pixel.begin(), c.pixel.end());
        if (c.image.constant) { EXPECT_EQ(all, e.pixels) << "the expected pixels agree with the table"; }
        EXPECT_EQ("", FirstDifference(all, o.pixels, e.width * e.bytesPerPixel));
    }
    /* 48- and 64-bit pixels do not fit the fill word: the fill is refused with an error,
       never drawn in a colour made of the word's first bytes. */
    for (DWORD bits : {48u, 64u}) {
        SCOPED_TRACE(bits);
        Image image = Picture(9, 9, bits, bits == 48 ? Q32_TYPE_RGB48 : Q32_TYPE_BGRA64, "fill",
                              {{"FillValue", "0x11223344"}});
        Staged staged(image);
        ASSERT_NE(nullptr, staged.Detect());
        Outcome o = RunPreview(staged, staged.data, Expect(image, 4, 4).Size(), 4, 4);
        EXPECT_EQ(0, o.result);
        EXPECT_TRUE(o.guardsIntact);
        EXPECT_EQ(4026u, o.error.id);
    }
    Expected big = Expect(Picture(20000, 20000, 24, Q32_TYPE_RGB), 256, 256);
    EXPECT_EQ(79, big.step);
    EXPECT_EQ(254, big.width);
    Expected huge = Expect(Picture(0x7FFFFFFF, 3, 24, Q32_TYPE_RGB), 256, 256);
    EXPECT_EQ(256, huge.width);
    EXPECT_EQ(1, huge.height);
}

/* A plug-in that delivers rows above and below the image, part rows reaching far past
   its right edge and a part row wholly right of it: what falls outside is dropped, and
   nothing is written outside the caller's buffer or the scratch row (a small box keeps
   the scratch row small). */
TEST(Preview, RowsOutsideTheImageAreDropped)
{
    const struct { const char *what; Image image; int bw, bh; } cases[] = {
        {"RGB, step 1", Picture(20, 6, 24, Q32_TYPE_RGB, "outside"), 20, 6},
        {"RGB, one-pixel box", Picture(20, 6, 24, Q32_TYPE_RGB, "outside"), 1, 1},
        {"one bit, step 1", Picture(20, 6, 1, Q32_TYPE_BILEVEL, "outside", {}, 2), 20, 6},
        {"BGRA, step 4", Picture(20, 6, 32, Q32_TYPE_BGRA, "outside"), 5, 5},
        {"BGRA64, step 4", Picture(20, 6, 64, Q32_TYPE_BGRA64, "outside"), 5, 5},
        {"RGB48, step 1", Picture(20, 6, 48, Q32_TYPE_RGB48, "outside"), 20, 20},
        {"one bit, step 3", Picture(20, 6, 1, Q32_TYPE_BILEVEL, "outside"), 7, 7},
        {"grey, step 1, wider image", Picture(45, 3, 8, Q32_TYPE_GREY8, "outside"), 45, 3},
    };
    for (const auto &c : cases) ExpectWholePreview(c.image, c.bw, c.bh, c.what);
}

/* ---- Failed reads ---- */

TEST(Preview, ReadFailingAfterRowsGivesThePartialPicture)
{
    const struct { const char *what; Image image; int box; LONG rowsWritten; } cases[] = {
        {"rows, step 1", Picture(8, 6, 24, Q32_TYPE_RGB, "rows", {{"FailAfter", "3"}}), 100, 3},
        {"blocks, step 2", Picture(20, 12, 24, Q32_TYPE_RGB, "blocks",
                                   {{"Block", "3"}, {"FailAfter", "6"}}), 10, 3},
        {"one bit, step 2", Picture(20, 12, 1, Q32_TYPE_BILEVEL, "rows", {{"FailAfter", "5"}}), 10, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Staged staged(c.image);
        ASSERT_NE(nullptr, staged.Detect());
        Expected e = Expect(c.image, c.box, c.box);
        Outcome o = RunPreview(staged, staged.data, e.Size(), c.box, c.box);
        EXPECT_EQ(1, o.result) << "a partial picture is a picture";
        EXPECT_TRUE(o.guardsIntact);
        ExpectInfo(o, e, c.what);
        size_t stride = (size_t)e.width * e.bytesPerPixel, written = c.rowsWritten * stride;
        EXPECT_EQ("", FirstDifference(Bytes(e.pixels.begin(), e.pixels.begin() + written),
                                      Bytes(o.pixels.begin(), o.pixels.begin() + written), (LONG)stride));
        EXPECT_EQ(Bytes(o.pixels.size() - written, Unwritten), Bytes(o.pixels.begin() + written, o.pixels.end()))
            << "rows never delivered stay as they were";
        EXPECT_ERROR(4020, 1702, 9, 14);
    }
}

TEST(Preview, ReadThatDeliversNothingFails)
{
    const struct { const char *what; Keys keys; UINT id; int w1, w2, w3; } cases[] = {
        {"read fails, nothing recorded", {{"Read", "none"}, {"ReadResult", "0"}}, 4020, 703, 1705, 255},
        {"read fails after recording its own error", {{"FailAfter", "0"}}, 4020, 1702, 9, 14},
        {"image not readable", {{"Readable", "0"}}, 4019, 1702, 9, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Image image = Picture(8, 6, 24, Q32_TYPE_RGB, "rows", c.keys);
        Staged staged(image);
        ASSERT_NE(nullptr, staged.Detect());
        Expected e = Expect(image, 100, 100);
        Outcome o = RunPreview(staged, staged.data, e.Size(), 100, 100);
        EXPECT_EQ(0, o.result);
        EXPECT_EQ(Bytes(e.Size(), Unwritten), o.pixels);
        EXPECT_TRUE(o.guardsIntact);
        EXPECT_EQ(0xABABABABu, o.info.width) << "no info for no picture";
        EXPECT_ERROR(c.id, c.w1, c.w2, c.w3);
        /* The table's text, its placeholder filled with the file's name. */
        std::string text = TableText(c.id);
        size_t placeholder = text.find("%s");
        ASSERT_NE(std::string::npos, placeholder);
        EXPECT_EQ(text.replace(placeholder, 2, staged.file), o.error.text);
    }

    /* Everything delivered, then a failure that the plug-in did not record: the
       picture stands, and the failure is recorded. */
    Image image = Picture(8, 6, 24, Q32_TYPE_RGB, "rows", {{"ReadResult", "0"}});
    Staged staged(image);
    ASSERT_NE(nullptr, staged.Detect());
    Expected e = Expect(image, 100, 100);
    Outcome o = RunPreview(staged, staged.data, e.Size(), 100, 100);
    EXPECT_EQ(1, o.result);
    EXPECT_EQ("", FirstDifference(e.pixels, o.pixels, e.width * 3));
    EXPECT_ERROR(4020, 703, 1705, 255);
}

/* ---- Sizes that cannot be previewed ---- */

TEST(Preview, OutputBelowOnePixelRecords5404)
{
    const struct { const char *what; LONG w, h; int bw, bh; } cases[] = {
        {"no width", 0, 6, 100, 100},
        {"no height", 8, 0, 100, 100},
        {"negative width", -3, 6, 100, 100},
        {"box without width", 8, 6, 0, 100},
        {"box without height", 8, 6, 100, 0},
        {"negative box", 8, 6, -5, -5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Staged staged(Picture(c.w, c.h, 24, Q32_TYPE_RGB));
        ASSERT_NE(nullptr, staged.Detect());
        Outcome o = RunPreview(staged, staged.data, 16, c.bw, c.bh);
        EXPECT_EQ(0, o.result);
        EXPECT_ERROR(5404, 703, 1705, 1146);
        EXPECT_EQ(TableText(5404), o.error.text) << "recorded without a text of its own";
        EXPECT_EQ(Bytes(16, Unwritten), o.pixels);
        EXPECT_TRUE(o.guardsIntact);
    }
}

TEST(Preview, FileDataThatCannotBeLockedShowsError1001)
{
    Staged staged(Picture(8, 6, 24, Q32_TYPE_RGB));
    Outcome o = RunPreview(staged, nullptr, 16, 100, 100);
    EXPECT_EQ(0, o.result);
    std::vector<std::string> boxes = ReadLines(staged.boxes);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].rfind("1001|703|1705|129|", 0)) << boxes[0];
}

/* ---- Vector data ---- */

LONG WINAPI TakeRows(ImageRequest *, LONG, LONG, LONG, LONG, void *, DWORD, LONG_PTR, LONG_PTR)
{
    return 1;
}

/* A vector size of -1 is fixed by the first preview from the raster size and the box,
   written into the FileData (so a later read uses it), and doubled (within the raster
   size) for the double-size kind. */
TEST(Preview, VectorSizeIsFixedInTheFileData)
{
    const struct {
        const char *what; LONG w, h, vw, vh; int sizeMode, bw, bh; LONG fixedW, fixedH;
    } cases[] = {
        {"fits", 50, 40, -1, -1, 0, 100, 100, 50, 40},
        {"width-limited, height fits", 300, 100, -1, -1, 0, 100, 100, 100, 33},
        {"height-limited, width fits", 100, 300, -1, -1, 0, 100, 100, 33, 100},
        {"both over, box relatively wider", 300, 200, -1, -1, 0, 100, 50, 75, 50},
        {"both over, image relatively wider", 400, 100, -1, -1, 0, 100, 50, 100, 25},
        {"rounded to nearest", 150, 100, -1, -1, 0, 100, 100, 100, 67},
        {"only the height unfixed", 300, 100, 60, -1, 0, 100, 100, 100, 33},
        {"doubled", 300, 100, -1, -1, 2, 100, 100, 200, 66},
        {"doubled, capped at the raster size", 150, 100, -1, -1, 2, 100, 100, 150, 100},
        {"other size modes are not doubled", 300, 100, -1, -1, 1, 100, 100, 100, 33},
        {"already fixed: kept", 300, 100, 60, 30, 2, 100, 100, 60, 30},
        {"large raster: no overflow", 2000000000, 1000000000, -1, -1, 0, 1000, 1000, 1000, 500},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        bool large = c.w > 100000;
        Image image = Picture(c.w, c.h, 8, Q32_TYPE_PALETTE8, large ? "fill" : "rows",
                              {{"VectorPresent", "1"}, {"VectorWidth", std::to_string(c.vw)},
                               {"VectorHeight", std::to_string(c.vh)},
                               {"SizeMode", std::to_string(c.sizeMode)}},
                              4);
        Staged staged(image);
        ASSERT_NE(nullptr, staged.Detect());
        Expected e = Expect(image, c.fixedW, c.fixedH, c.bw, c.bh);
        Outcome o = RunPreview(staged, staged.data, e.Size(), c.bw, c.bh);
        ASSERT_EQ(1, o.result);
        FileData facts = staged.Facts();
        EXPECT_EQ(c.fixedW, facts.vector.width);
        EXPECT_EQ(c.fixedH, facts.vector.height);
        EXPECT_EQ(c.w, facts.raster.width) << "the raster size is kept";
        ExpectInfo(o, e, c.what);
        EXPECT_TRUE(o.guardsIntact);
        EXPECT_EQ(4u, o.info.paletteCount) << "the raster palette stands in for the vector's";
        if (!large) {
            EXPECT_EQ("", FirstDifference(e.pixels, o.pixels, e.width)) << "step " << e.step;
        }

        /* A later full read of the vector data asks for the fixed size. */
        ImageRequest request = {};
        request.vectorWanted = 1;
        EXPECT_NE(0, Q32_EXPORT(staged.module, qfFileRead)(staged.data, &request, TakeRows));
        EXPECT_EQ(c.fixedW, request.vectorWidth);
        EXPECT_EQ(c.fixedH, request.vectorHeight);
    }
}

/* ---- The plug-in-side preview ---- */

TEST(PreviewImage, AlwaysFails)
{
    Staged staged(Picture(8, 6, 24, Q32_TYPE_RGB));
    auto previewImage = Q32_EXPORT(staged.module, qfFileGetPreviewImage);

    EXPECT_EQ(0, previewImage(nullptr));
    EXPECT_ERROR(4026, 1702, 13, 1);

    ASSERT_NE(nullptr, staged.Detect());
    c32ResetDLLErrInfo();
    EXPECT_EQ(0, previewImage(staged.data)) << "no plug-in offers it";
    EXPECT_EQ(0u, ReadError().id);

    ASSERT_TRUE(DeleteFileA(staged.file.c_str()));
    EXPECT_EQ(0, previewImage(staged.data));
    RecordedError e = ReadError();
    EXPECT_ERROR(4004, 1702, 13, 2);
    EXPECT_NE(std::string::npos, e.text.find("picture.tpv")) << e.text;
}

} // namespace
