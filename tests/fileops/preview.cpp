/*
 * Previews through a loaded copy of the module. The test plug-in delivers its image in
 * rows, blocks, part rows, fill commands or rows outside the image; the preview goes into
 * a buffer of exactly the expected size between poisoned guards. Expected pixels come
 * from the test image: every S-th pixel of every S-th row.
 */
#include "sandbox.h"
#include "testfio.h"
#include <optional>
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
    std::string read = "rows";
    Keys extra = {};                 /* Block, Part, FailAfter, FillValue, Vector... */
    int palette = 0;                 /* grey ramp entries */
    std::optional<DWORD> pixel = {}; /* every pixel, when given */
};

/* Output pixel (x, y): samples as the preview keeps them (16-bit: the high byte), bits as
   palette indexes or 0 and 255, four-byte pixels as clamp(c + alpha - 255). */
Bytes OutputPixel(const Image &image, LONG x, LONG y)
{
    auto sample = [&](LONG s) {
        return image.pixel ? (BYTE)(*image.pixel >> (8 * s)) : TestPixelByte(x, y, s);
    };
    if (image.type == Q32_TYPE_BILEVEL)
        return {(BYTE)(TestPixelBit(x, y) ? (image.palette ? 1 : 255) : 0)};
    Bytes out;
    if (image.type == Q32_TYPE_BGRA || image.type == Q32_TYPE_BGRA64) {
        for (LONG k = 0; k < 3; k++) out.push_back((BYTE)std::max(0, sample(k) + sample(3) - 255));
        return out;
    }
    LONG samples = image.type == Q32_TYPE_RGB48    ? 3
                   : image.type == Q32_TYPE_GREY16 ? 1
                                                   : (LONG)(image.bits + 7) / 8;
    for (LONG s = 0; s < samples; s++) out.push_back(sample(s));
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

/* What a preview gave: its result, the info block, the buffer, the guards, the error. */
struct Outcome {
    int result;
    PreviewInfo info;
    Bytes pixels;
    bool guardsIntact = true;
    RecordedError error;
};

/* A module copy whose one test format "TPV" accepts every file and describes image. */
class Staged : public Sandbox {
public:
    explicit Staged(const Image &image)
    {
        Keys keys = {{"Width", std::to_string(image.width)},
                     {"Height", std::to_string(image.height)}, {"Bits", std::to_string(image.bits)},
                     {"DataType", std::to_string(image.type)},
                     {"Palette", std::to_string(image.palette)}, {"Read", image.read}};
        keys.insert(keys.end(), image.extra.begin(), image.extra.end());
        if (image.pixel) keys.push_back({"Pixel", std::to_string(*image.pixel)});
        Stage("TPV", keys);
        WriteFileBytes(file, "a test picture");
        EXPECT_TRUE(module.Load());
        data = FileDataOf(file);
        EXPECT_NE(nullptr, data);
    }
    ~Staged() { Free(data); }

    /* Previews from into a buffer of bytes between guards. */
    Outcome Run(HGLOBAL from, size_t bytes, int boxWidth, int boxHeight)
    {
        Outcome o;
        memset(&o.info, 0xAB, sizeof o.info);
        o.info.reserved = InfoUntouched;
        Bytes area(bytes + 2 * GuardBytes, Guard);
        memset(area.data() + GuardBytes, Unwritten, bytes);
        c32ResetDLLErrInfo();
        auto preview = Q32_EXPORT(module, qfFileGetPreviewMem);
        o.result = preview(from, &o.info, 0, area.data() + GuardBytes, boxWidth, boxHeight);
        o.error = ReadError();
        o.pixels.assign(area.begin() + GuardBytes, area.end() - GuardBytes);
        for (size_t i = 0; i < GuardBytes; i++)
            if (area[i] != Guard || area[area.size() - 1 - i] != Guard) o.guardsIntact = false;
        return o;
    }

    std::string file = dir / "picture.tpv";
    HGLOBAL data = nullptr;
};

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
    Expected e = Expect(image, image.width, image.height, boxWidth, boxHeight);
    if (width) {
        EXPECT_EQ(width, e.width);
        EXPECT_EQ(height, e.height);
    }
    Outcome o = staged.Run(staged.data, e.Size(), boxWidth, boxHeight);
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
        {"exactly the box", Image{30, 20, 24, rgb}, 30, 20, 30, 20},
        {"1001 x 1: step 11", Image{1001, 1, 24, rgb}, 100, 100, 91, 1},
        {"one wider than the box: step 2", Image{31, 20, 24, rgb}, 30, 20, 16, 10},
        {"the height sets the step", Image{30, 95, 24, rgb}, 10, 10, 3, 10},
        {"RGB blocks, step 4", Image{37, 23, 24, rgb, "blocks", b3}, 10, 10, 0, 0},
        {"grey part rows", Image{31, 17, 8, Q32_TYPE_GREY8, "parts", p7}, 11, 11, 0, 0},
        {"palette blocks", Image{19, 12, 8, Q32_TYPE_PALETTE8, "blocks", b3, 256}, 10, 10, 0, 0},
        {"16 colours", Image{9, 5, 4, Q32_TYPE_PALETTE4, "rows", {}, 16}, 9, 9, 0, 0},
        {"high colour part rows", Image{21, 8, 16, Q32_TYPE_HICOLOUR, "parts", p5}, 11, 11, 0, 0},
        {"CMYK, no conversion", Image{12, 11, 32, Q32_TYPE_CMYK}, 6, 6, 0, 0},
        {"RGB48 part rows", Image{25, 14, 48, Q32_TYPE_RGB48, "parts", p4}, 9, 9, 0, 0},
        {"GREY16 part rows", Image{11, 3, 16, Q32_TYPE_GREY16, "parts", p4}, 11, 11, 0, 0},
        {"BGRA64 part rows", Image{19, 6, 64, Q32_TYPE_BGRA64, "parts", p5}, 10, 10, 0, 0},
        {"BGRA blocks", Image{29, 11, 32, bgra, "blocks", b4}, 10, 10, 0, 0},
        {"bit, palette, part rows", Image{40, 20, 1, bit, "parts", {}, 2}, 14, 14, 0, 0},
        {"bit, plain, blocks", Image{33, 9, 1, bit, "blocks", b3}, 17, 17, 0, 0},
        {"outside, RGB, one-pixel box", Image{20, 6, 24, rgb, "outside"}, 1, 1, 0, 0},
        {"outside, bit, step 3", Image{20, 6, 1, bit, "outside"}, 7, 7, 0, 0},
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
    const Keys cmyk = {{"FillValue", "0x44332211"}}, grey16 = {{"FillValue", "0x3C5A"}};
    std::vector<std::pair<Image, int>> cases = {
        {Image{8, 6, 24, rgb, "fill", {}, 0, 0x112233}, 10},
        {Image{9, 9, 8, Q32_TYPE_GREY8, "fill", {}, 0, 0x33}, 4},
        {Image{9, 9, 32, Q32_TYPE_CMYK, "fill", cmyk, 0, 0x44332211}, 4},
        {Image{9, 9, 16, Q32_TYPE_GREY16, "fill", grey16, 0, 0x3C}, 4}, /* high byte */
        {Image{20000, 20000, 24, rgb, "fill", {}, 0, 0x112233}, 256},
        {Image{0x7FFFFFFF, 3, 24, rgb, "fill", {}, 0, 0x112233}, 256},
    };
    const struct { DWORD pixel; Bytes expected; } pixels[] = {
        {0xFF1E140A, {10, 20, 30}},  /* (10, 20, 30, 255) */
        {0x001E140A, {0, 0, 0}},     /* (10, 20, 30, 0) */
        {0xC81E14FA, {195, 0, 0}},   /* (250, 20, 30, 200) */
        {0x80FFFF80, {1, 128, 128}}, /* (128, 255, 255, 128) */
    };
    for (const auto &p : pixels) {
        Keys fill = {{"FillValue", std::to_string(p.pixel)}};
        cases.push_back({Image{10, 4, 32, Q32_TYPE_BGRA, "rows", fill, 0, p.pixel}, 16});
        cases.push_back({Image{10, 4, 32, Q32_TYPE_BGRA, "fill", fill, 0, p.pixel}, 5});
        Image deep{10, 4, 64, Q32_TYPE_BGRA64, "blocks", fill, 0, p.pixel};
        cases.push_back({deep, 5});
        EXPECT_EQ(p.expected, OutputPixel(deep, 0, 0)) << "the expected pixels agree";
    }
    for (const auto &[image, box] : cases) {
        SCOPED_TRACE(image.read + " " + std::to_string(image.width) + " " +
                     std::to_string(*image.pixel));
        ExpectWholePreview(image, box, box, 0, 0);
    }
}

/* Reads that fail, and what cannot be previewed: the rows delivered stand, the rest of the
   buffer is untouched, and the error names the file in the table's text. */
TEST(Preview, FailuresKeepWhatWasDelivered)
{
    const DWORD rgb = Q32_TYPE_RGB;
    const Keys none = {{"Read", "none"}, {"ReadResult", "0"}}, fill = {{"FillValue", "0x112233"}};
    const struct {
        const char *what; Image image; int box; int result; LONG rows;
        UINT id; int w1, w2, w3;
    } cases[] = {
        {"rows", Image{8, 6, 24, rgb, "rows", {{"FailAfter", "3"}}}, 100, 1, 3,
         4020, 1702, 9, 14},
        {"bit, step 2", Image{20, 12, 1, Q32_TYPE_BILEVEL, "rows", {{"FailAfter", "5"}}}, 10,
         1, 3, 4020, 1702, 9, 14},
        {"all rows, then a failure not recorded",
         Image{8, 6, 24, rgb, "rows", {{"ReadResult", "0"}}}, 100, 1, 6, 4020, 703, 1705, 255},
        {"nothing, nothing recorded", Image{8, 6, 24, rgb, "rows", none}, 100, 0, 0,
         4020, 703, 1705, 255},
        {"nothing, its own error", Image{8, 6, 24, rgb, "rows", {{"FailAfter", "0"}}}, 100, 0,
         0, 4020, 1702, 9, 14},
        {"not readable", Image{8, 6, 24, rgb, "rows", {{"Readable", "0"}}}, 100, 0, 0,
         4019, 1702, 9, 7},
        {"negative width", Image{-3, 6, 24, rgb}, 100, 0, 0, 5404, 703, 1705, 1146},
        /* 48- and 64-bit pixels do not fit the fill word: refused, never drawn. */
        {"48-bit fill", Image{9, 9, 48, Q32_TYPE_RGB48, "fill", fill}, 4, 0, 0,
         4026, 703, 1702, 152},
        {"64-bit fill", Image{9, 9, 64, Q32_TYPE_BGRA64, "fill", fill}, 4, 0, 0,
         4026, 703, 1702, 152},
        {"box without width", Image{8, 6, 24, rgb}, 0, 0, 0, 5404, 703, 1705, 1146},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Staged staged(c.image);
        bool sized = c.box > 0 && c.image.width > 0 && c.image.height > 0;
        Expected e = sized ? Expect(c.image, c.image.width, c.image.height, c.box, c.box)
                           : Expected{1, 4, 4, 1, {}};
        Outcome o = staged.Run(staged.data, e.Size(), c.box, c.box);
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
    Staged staged(Image{8, 6, 24, rgb});
    EXPECT_EQ(0, staged.Run(nullptr, 16, 100, 100).result);
    std::vector<std::string> boxes = ReadLines(staged.boxes);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].rfind("1001|703|1705|129|", 0)) << boxes[0];
}

} // namespace
