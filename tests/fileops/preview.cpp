/*
 * Previews through a loaded copy of the module. The test plug-in delivers its image in
 * rows, blocks, part rows, fill commands or rows outside the image; the preview goes into
 * a buffer of exactly the expected size between poisoned guards. Expected pixels come
 * from the test image: every S-th pixel of every S-th row.
 */
#include "sandbox.h"
#include "testfio.h"
#include <string.h>

using namespace q32test;

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;
using Bytes = std::vector<BYTE>;

const BYTE Guard = 0xCD, Unwritten = 0xEE;
const size_t GuardBytes = 64;
const DWORD InfoUntouched = 0x5EED5EED;

/* What the test plug-in's file holds. */
struct Image {
    LONG width, height;
    DWORD bits, type;
    std::string read;
    Keys extra;          /* Block, Part, FailAfter, FillValue, Vector... */
    int palette;         /* grey ramp entries */
    bool constant = false;
    DWORD pixel = 0;     /* every pixel, when constant */
};

Image Picture(LONG width, LONG height, DWORD bits, DWORD type, std::string read = "rows",
              Keys extra = {}, int palette = 0)
{
    return Image{width, height, bits, type, std::move(read), std::move(extra), palette};
}

/* Sample s of source pixel (x, y) as the preview keeps it (16-bit samples: high byte). */
BYTE Sample(const Image &image, LONG x, LONG y, LONG s)
{
    return image.constant ? (BYTE)(image.pixel >> (8 * s)) : TestPixelByte(x, y, s);
}

Bytes OutputPixel(const Image &image, LONG x, LONG y)
{
    Bytes out;
    if (image.type == Q32_TYPE_BILEVEL)
        return {(BYTE)(TestPixelBit(x, y) ? (image.palette ? 1 : 255) : 0)};
    if (image.type == Q32_TYPE_BGRA || image.type == Q32_TYPE_BGRA64) {
        int alpha = Sample(image, x, y, 3);
        for (LONG k = 0; k < 3; k++) {
            int v = Sample(image, x, y, k) + alpha - 255;
            out.push_back((BYTE)(v < 0 ? 0 : v));
        }
        return out;
    }
    LONG samples = image.type == Q32_TYPE_RGB48    ? 3
                   : image.type == Q32_TYPE_GREY16 ? 1
                                                   : (LONG)(image.bits + 7) / 8;
    for (LONG s = 0; s < samples; s++) out.push_back(Sample(image, x, y, s));
    return out;
}

struct Expected {
    LONG step, width, height, bytesPerPixel;
    Bytes pixels;
    size_t Size() const { return (size_t)width * height * bytesPerPixel; }
};

/* The preview of a width x height image in the box. */
Expected Expect(const Image &image, LONG width, LONG height, LONG boxWidth, LONG boxHeight)
{
    Expected e;
    LONGLONG across = ((LONGLONG)width + boxWidth - 1) / boxWidth;
    LONGLONG down = ((LONGLONG)height + boxHeight - 1) / boxHeight;
    e.step = (LONG)(across > down ? across : down);
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

/* A module copy whose one test format "TPV" accepts every file and describes image. */
class Staged : public Sandbox {
public:
    explicit Staged(const Image &image)
    {
        Keys keys = {{"Width", std::to_string(image.width)},
                     {"Height", std::to_string(image.height)},
                     {"Bits", std::to_string(image.bits)},
                     {"DataType", std::to_string(image.type)},
                     {"Palette", std::to_string(image.palette)},
                     {"Read", image.read}};
        keys.insert(keys.end(), image.extra.begin(), image.extra.end());
        if (image.constant) keys.push_back({"Pixel", std::to_string(image.pixel)});
        Stage("TPV", keys);
        WriteFileBytes(file, "a test picture");
        EXPECT_TRUE(module.Load());
        data = FileDataOf(file);
        EXPECT_NE(nullptr, data);
        c32ResetDLLErrInfo();
    }
    ~Staged() { Free(data); }

    std::string file = dir / "picture.tpv";
    HGLOBAL data = nullptr;
};

/* What a preview gave: its result, the info block, the buffer, the guards, the error. */
struct Outcome {
    int result;
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

void ExpectInfo(const Outcome &o, const Expected &e)
{
    EXPECT_TRUE(o.guardsIntact) << "written outside the caller's buffer";
    EXPECT_EQ(InfoUntouched, o.info.reserved);
    EXPECT_EQ((DWORD)e.width, o.info.width);
    EXPECT_EQ((DWORD)e.height, o.info.height);
    EXPECT_EQ((DWORD)e.bytesPerPixel, o.info.bytesPerPixel);
    EXPECT_EQ((DWORD)(e.width * e.bytesPerPixel), o.info.stride);
}

/* Previews image into the box; checks the picture, the info block and the palette. */
void ExpectWholePreview(const Image &image, int boxWidth, int boxHeight, LONG width, LONG height)
{
    Staged staged(image);
    ASSERT_NE(nullptr, staged.data);
    Expected e = Expect(image, image.width, image.height, boxWidth, boxHeight);
    if (width) {
        EXPECT_EQ(width, e.width);
        EXPECT_EQ(height, e.height);
    }
    Outcome o = RunPreview(staged, staged.data, e.Size(), boxWidth, boxHeight);
    ASSERT_EQ(1, o.result);
    ExpectInfo(o, e);
    EXPECT_EQ(e.pixels, o.pixels) << "step " << e.step;
    EXPECT_EQ(0u, o.error.id) << "a read that delivered everything records nothing";
    EXPECT_EQ((DWORD)image.palette, o.info.paletteCount);
    for (int i = 0; i < image.palette && i < 256; i++) {
        BYTE v = (BYTE)(image.palette > 1 ? i * 255 / (image.palette - 1) : 0);
        const PALETTEENTRY &p = o.info.palette[i];
        EXPECT_TRUE(p.peRed == v && p.peGreen == v && p.peBlue == v && p.peFlags == 0) << i;
    }
}

/* Steps, sizes, every layout and way of delivery, and rows delivered outside the image
   (dropped; a small box keeps the scratch row small). Sizes 0 are not checked by hand. */
TEST(Preview, WholePictures)
{
    const Keys b3 = {{"Block", "3"}}, b4 = {{"Block", "4"}};
    const Keys p4 = {{"Part", "4"}}, p5 = {{"Part", "5"}}, p7 = {{"Part", "7"}};
    const DWORD rgb = Q32_TYPE_RGB, bit = Q32_TYPE_BILEVEL, bgra = Q32_TYPE_BGRA;
    const struct { const char *what; Image image; int bw, bh; LONG ow, oh; } cases[] = {
        {"fits: step 1", Picture(8, 6, 24, rgb), 100, 100, 8, 6},
        {"exactly the box", Picture(30, 20, 24, rgb), 30, 20, 30, 20},
        {"1001 x 1: step 11", Picture(1001, 1, 24, rgb), 100, 100, 91, 1},
        {"one wider than the box: step 2", Picture(31, 20, 24, rgb), 30, 20, 16, 10},
        {"the height sets the step", Picture(30, 95, 24, rgb), 10, 10, 3, 10},
        {"into a one-pixel box", Picture(9, 4, 24, rgb), 1, 1, 1, 1},
        {"RGB blocks, step 4", Picture(37, 23, 24, rgb, "blocks", b3), 10, 10, 0, 0},
        {"RGB part rows off the step", Picture(37, 23, 24, rgb, "parts", p5), 10, 10, 0, 0},
        {"grey part rows", Picture(31, 17, 8, Q32_TYPE_GREY8, "parts", p7), 11, 11, 0, 0},
        {"palette blocks", Picture(19, 12, 8, Q32_TYPE_PALETTE8, "blocks", b3, 256), 10, 10, 0, 0},
        {"16 colours", Picture(9, 5, 4, Q32_TYPE_PALETTE4, "rows", {}, 16), 9, 9, 0, 0},
        {"high colour part rows", Picture(21, 8, 16, Q32_TYPE_HICOLOUR, "parts", p5), 11, 11, 0, 0},
        {"CMYK, no conversion", Picture(12, 11, 32, Q32_TYPE_CMYK), 6, 6, 0, 0},
        {"RGB48 part rows", Picture(25, 14, 48, Q32_TYPE_RGB48, "parts", p4), 9, 9, 0, 0},
        {"GREY16 part rows", Picture(11, 3, 16, Q32_TYPE_GREY16, "parts", p4), 11, 11, 0, 0},
        {"BGRA64 part rows", Picture(19, 6, 64, Q32_TYPE_BGRA64, "parts", p5), 10, 10, 0, 0},
        {"BGRA blocks", Picture(29, 11, 32, bgra, "blocks", b4), 10, 10, 0, 0},
        {"bit, palette, rows", Picture(19, 5, 1, bit, "rows", {}, 2), 20, 20, 0, 0},
        {"bit, palette, part rows", Picture(40, 20, 1, bit, "parts", {}, 2), 14, 14, 0, 0},
        {"bit, plain, part rows", Picture(61, 13, 1, bit, "parts"), 13, 13, 0, 0},
        {"bit, plain, blocks", Picture(33, 9, 1, bit, "blocks", b3), 17, 17, 0, 0},
        {"outside, RGB, one-pixel box", Picture(20, 6, 24, rgb, "outside"), 1, 1, 0, 0},
        {"outside, bit, palette", Picture(20, 6, 1, bit, "outside", {}, 2), 20, 6, 0, 0},
        {"outside, bit, step 3", Picture(20, 6, 1, bit, "outside"), 7, 7, 0, 0},
        {"outside, BGRA, step 4", Picture(20, 6, 32, bgra, "outside"), 5, 5, 0, 0},
        {"outside, RGB48", Picture(20, 6, 48, Q32_TYPE_RGB48, "outside"), 20, 20, 0, 0},
        {"outside, grey, wide", Picture(45, 3, 8, Q32_TYPE_GREY8, "outside"), 45, 3, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ExpectWholePreview(c.image, c.bw, c.bh, c.ow, c.oh);
    }
}

/* Every output pixel one colour: a fill command sets every output pixel without reaching
   past the output, and four-byte pixels become clamp(c + alpha - 255). */
TEST(Preview, ConstantPixelsAndFillCommands)
{
    const DWORD rgb = Q32_TYPE_RGB;
    auto constant = [](Image image, DWORD pixel) {
        image.constant = true;
        image.pixel = pixel;
        return image;
    };
    const Keys cmyk = {{"FillValue", "0x44332211"}}, grey16 = {{"FillValue", "0x3C5A"}};
    std::vector<std::pair<Image, int>> cases = {
        {constant(Picture(8, 6, 24, rgb, "fill"), 0x112233), 10},
        {constant(Picture(9, 9, 8, Q32_TYPE_GREY8, "fill"), 0x33), 4},
        {constant(Picture(9, 9, 32, Q32_TYPE_CMYK, "fill", cmyk), 0x44332211), 4},
        {constant(Picture(9, 9, 16, Q32_TYPE_GREY16, "fill", grey16), 0x3C), 4}, /* high byte */
        {constant(Picture(20000, 20000, 24, rgb, "fill"), 0x112233), 256},
        {constant(Picture(0x7FFFFFFF, 3, 24, rgb, "fill"), 0x112233), 256},
    };
    const struct { DWORD pixel; Bytes expected; } pixels[] = {
        {0xFF1E140A, {10, 20, 30}},  /* (10, 20, 30, 255) */
        {0x001E140A, {0, 0, 0}},     /* (10, 20, 30, 0) */
        {0xC81E14FA, {195, 0, 0}},   /* (250, 20, 30, 200) */
        {0x80FFFF80, {1, 128, 128}}, /* (128, 255, 255, 128) */
    };
    for (const auto &p : pixels) {
        Keys fill = {{"FillValue", std::to_string(p.pixel)}};
        cases.push_back({constant(Picture(10, 4, 32, Q32_TYPE_BGRA, "rows", fill), p.pixel), 16});
        cases.push_back({constant(Picture(10, 4, 32, Q32_TYPE_BGRA, "fill", fill), p.pixel), 5});
        Image deep = constant(Picture(10, 4, 64, Q32_TYPE_BGRA64, "blocks", fill), p.pixel);
        cases.push_back({deep, 5});
        EXPECT_EQ(p.expected, OutputPixel(deep, 0, 0)) << "the expected pixels agree";
    }
    for (const auto &[image, box] : cases) {
        SCOPED_TRACE(image.read + " " + std::to_string(image.width) + " " +
                     std::to_string(image.pixel));
        ExpectWholePreview(image, box, box, 0, 0);
    }
    /* 48- and 64-bit pixels do not fit the fill word: refused, never drawn. */
    for (DWORD bits : {48u, 64u}) {
        SCOPED_TRACE(bits);
        DWORD type = bits == 48 ? Q32_TYPE_RGB48 : Q32_TYPE_BGRA64;
        Staged staged(Picture(9, 9, bits, type, "fill", {{"FillValue", "0x11223344"}}));
        Outcome o = RunPreview(staged, staged.data, 3 * 3 * 3, 4, 4); /* step 3 */
        EXPECT_EQ(0, o.result);
        EXPECT_TRUE(o.guardsIntact);
        EXPECT_EQ(4026u, o.error.id);
    }
}

/* Reads that fail, and sizes that cannot be previewed: the rows delivered stand, the
   rest of the buffer is untouched, and the error names the file in the table's text. */
TEST(Preview, FailuresKeepWhatWasDelivered)
{
    const DWORD rgb = Q32_TYPE_RGB;
    const Keys blocks = {{"Block", "3"}, {"FailAfter", "6"}};
    const Keys none = {{"Read", "none"}, {"ReadResult", "0"}};
    const struct {
        const char *what; Image image; int box; int result; LONG rows;
        UINT id; int w1, w2, w3;
    } cases[] = {
        {"rows", Picture(8, 6, 24, rgb, "rows", {{"FailAfter", "3"}}), 100, 1, 3,
         4020, 1702, 9, 14},
        {"blocks, step 2", Picture(20, 12, 24, rgb, "blocks", blocks), 10, 1, 3,
         4020, 1702, 9, 14},
        {"bit, step 2", Picture(20, 12, 1, Q32_TYPE_BILEVEL, "rows", {{"FailAfter", "5"}}), 10,
         1, 3, 4020, 1702, 9, 14},
        {"all rows, then a failure not recorded",
         Picture(8, 6, 24, rgb, "rows", {{"ReadResult", "0"}}), 100, 1, 6, 4020, 703, 1705, 255},
        {"nothing, nothing recorded", Picture(8, 6, 24, rgb, "rows", none), 100, 0, 0,
         4020, 703, 1705, 255},
        {"nothing, its own error", Picture(8, 6, 24, rgb, "rows", {{"FailAfter", "0"}}), 100, 0,
         0, 4020, 1702, 9, 14},
        {"not readable", Picture(8, 6, 24, rgb, "rows", {{"Readable", "0"}}), 100, 0, 0,
         4019, 1702, 9, 7},
        {"no height", Picture(8, 0, 24, rgb), 100, 0, 0, 5404, 703, 1705, 1146},
        {"negative width", Picture(-3, 6, 24, rgb), 100, 0, 0, 5404, 703, 1705, 1146},
        {"box without width", Picture(8, 6, 24, rgb), 0, 0, 0, 5404, 703, 1705, 1146},
        {"negative box", Picture(8, 6, 24, rgb), -5, 0, 0, 5404, 703, 1705, 1146},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Staged staged(c.image);
        bool sized = c.box > 0 && c.image.width > 0 && c.image.height > 0;
        Expected e = sized ? Expect(c.image, c.image.width, c.image.height, c.box, c.box)
                           : Expected{1, 4, 4, 1, {}};
        Outcome o = RunPreview(staged, staged.data, e.Size(), c.box, c.box);
        EXPECT_EQ(c.result, o.result);
        if (c.result) {
            ExpectInfo(o, e);
        } else {
            EXPECT_TRUE(o.guardsIntact);
            EXPECT_EQ(0xABABABABu, o.info.width) << "no info for no picture";
        }
        size_t written = c.rows * (size_t)e.width * e.bytesPerPixel;
        Bytes expected(e.pixels.begin(), e.pixels.begin() + written);
        expected.resize(e.Size(), Unwritten);
        EXPECT_EQ(expected, o.pixels);
        EXPECT_ERROR(c.id, c.w1, c.w2, c.w3);
        char table[C32_ERRTEXT_SIZE] = "";
        c32GetString(c.id, table, sizeof table);
        std::string text = table;
        if (text.find("%s") != std::string::npos) text.replace(text.find("%s"), 2, staged.file);
        EXPECT_EQ(text, o.error.text);
    }

    /* A FileData that cannot be locked: error 1001 in a message box. */
    Staged staged(Picture(8, 6, 24, rgb));
    EXPECT_EQ(0, RunPreview(staged, nullptr, 16, 100, 100).result);
    std::vector<std::string> boxes = ReadLines(staged.boxes);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].rfind("1001|703|1705|129|", 0)) << boxes[0];
}

LONG WINAPI TakeRows(ImageRequest *, LONG, LONG, LONG, LONG, void *, DWORD, LONG_PTR, LONG_PTR)
{
    return 1;
}

/* A vector size of -1 is fixed by the first preview from the raster size and the box,
   written into the FileData (a later read uses it), and doubled (within the raster
   size) for the double-size kind. */
TEST(Preview, VectorSizeIsFixedInTheFileData)
{
    const struct { const char *what; LONG w, h, vw, vh; int mode, bw, bh; LONG fw, fh; } cases[] = {
        {"fits: never enlarged", 50, 40, -1, -1, 0, 100, 100, 50, 40},
        {"width-limited", 300, 100, -1, -1, 0, 100, 100, 100, 33},
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
        Keys vector = {{"VectorPresent", "1"}, {"VectorWidth", std::to_string(c.vw)},
                       {"VectorHeight", std::to_string(c.vh)},
                       {"SizeMode", std::to_string(c.mode)}};
        Image image = Picture(c.w, c.h, 8, Q32_TYPE_PALETTE8, large ? "fill" : "rows", vector, 4);
        Staged staged(image);
        Expected e = Expect(image, c.fw, c.fh, c.bw, c.bh);
        Outcome o = RunPreview(staged, staged.data, e.Size(), c.bw, c.bh);
        ASSERT_EQ(1, o.result);
        FileData facts = staged.Facts(staged.data);
        EXPECT_EQ(c.fw, facts.vector.width);
        EXPECT_EQ(c.fh, facts.vector.height);
        EXPECT_EQ(c.w, facts.raster.width) << "the raster size is kept";
        ExpectInfo(o, e);
        EXPECT_EQ(4u, o.info.paletteCount) << "the raster palette stands in for the vector's";
        if (!large) {
            EXPECT_EQ(e.pixels, o.pixels) << "step " << e.step;
        }
        ImageRequest request = {};
        request.vectorWanted = 1;
        EXPECT_NE(0, Q32_EXPORT(staged.module, qfFileRead)(staged.data, &request, TakeRows));
        EXPECT_EQ(c.fw, request.vectorWidth);
        EXPECT_EQ(c.fh, request.vectorHeight);
    }
}

/* No plug-in offers its own preview image: 0, with an error only for a bad FileData or
   a file gone. */
TEST(Preview, PluginPreviewImageIsNeverOffered)
{
    Staged staged(Picture(8, 6, 24, Q32_TYPE_RGB));
    auto previewImage = Q32_EXPORT(staged.module, qfFileGetPreviewImage);
    EXPECT_EQ(0, previewImage(nullptr));
    EXPECT_ERROR(4026, 1702, 13, 1);
    c32ResetDLLErrInfo();
    EXPECT_EQ(0, previewImage(staged.data));
    EXPECT_EQ(0u, ReadError().id);
    ASSERT_TRUE(DeleteFileA(staged.file.c_str()));
    EXPECT_EQ(0, previewImage(staged.data));
    EXPECT_ERROR(4004, 1702, 13, 2);
    EXPECT_NE(std::string::npos, ReadError().text.find("picture.tpv"));
}

} // namespace
