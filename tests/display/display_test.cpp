/* The imaging base library's display functions, drawing into DIB sections that the
   tests read back pixel by pixel. */
#include <gtest/gtest.h>
#include "harness.h"
#include "canvas.h"
#include "q32base.h"
#include <string>
#include <vector>

using namespace q32test;

namespace {

const COLORREF Sentinel = RGB(1, 2, 3);
using Bytes = std::vector<BYTE>;

/* Every test starts and ends with the neutral gamma and no dithering. */
class Display : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        disp32NewScreenGamma(180, 180, 180);
        disp32BeHiColorDither(0);
    }

    /* Draws rows (all in one call) into rect of canvas. */
    static int Draw(Canvas &canvas, int bits, RECT rect, const Bytes &rows, int count, int stride,
                    HPALETTE palette = nullptr)
    {
        HDISP32SHOW show = nullptr;
        if (!disp32ShowInitEx(&show, canvas.dc(), bits, rect.left, rect.top, rect.right,
                              rect.bottom, palette, 0, 0, 0, 0))
            return -1;
        int result = disp32ShowData(show, rows.data(), 0, 0, count, stride);
        EXPECT_EQ(1, disp32ShowEnd(show));
        return result;
    }
};

/* ---- Device information --------------------------------------------------------------- */

TEST(DevInfo, DescribesTheScreen)
{
    ScopedEnv none("Q32BASE_DISPLAY_BITS", "");
    DISP32DEVINFO info;
    memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(1, disp32GetDevInfo(&info));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), info.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), info.height);
    HDC screen = GetDC(nullptr);
    int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(bits, info.bitsPerPixel);
    EXPECT_EQ(bits >= 24 ? DISP32_TRUECOLOR : bits > 8 ? DISP32_HICOLOR : DISP32_PALETTE, info.kind);
    EXPECT_GT(info.dpiX, 0);
    EXPECT_EQ(1, info.planes);
    EXPECT_EQ(0, disp32GetDevInfo(nullptr));
}

TEST(DevInfo, ForcedDepthsGiveTheirKinds)
{
    const struct { const char *bits; LONG kind, bitsPerPixel, colors, paletteSize; } cases[] = {
        {"1", DISP32_MONO, 1, 2, 0},           {"4", DISP32_16COLOR, 4, 16, 0},
        {"8", DISP32_PALETTE, 8, 256, 256},    {"16", DISP32_HICOLOR, 16, 65536, 0},
        {"24", DISP32_TRUECOLOR, 24, 1 << 24, 0}, {"32", DISP32_TRUECOLOR, 32, 1 << 24, 0},
    };
    for (const auto &c : cases) {
        ScopedEnv forced("Q32BASE_DISPLAY_BITS", c.bits);
        DISP32DEVINFO info = {};
        ASSERT_EQ(1, disp32GetDevInfo(&info)) << c.bits;
        EXPECT_EQ(c.kind, info.kind) << c.bits;
        EXPECT_EQ(c.bitsPerPixel, info.bitsPerPixel) << c.bits;
        EXPECT_EQ(c.colors, info.colors) << c.bits;
        EXPECT_EQ(c.paletteSize, info.paletteSize) << c.bits;
        EXPECT_EQ(c.paletteSize != 0, (info.rasterCaps & RC_PALETTE) != 0) << c.bits;
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), info.width) << c.bits;
    }
    ScopedEnv nonsense("Q32BASE_DISPLAY_BITS", "12");
    DISP32DEVINFO info = {};
    disp32GetDevInfo(&info);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), info.bitsPerPixel);
    ReleaseDC(nullptr, screen);
}

/* ---- Drawing true colour ---------------------------------------------------------------- */

TEST_F(Display, TrueColourRowsLandInTheRectangleOnly)
{
    Canvas canvas(8, 6);
    ASSERT_TRUE(canvas.ok());
    /* 3 x 2 pixels at (2, 1): red, green, blue / white, black, (10, 20, 30). */
    Bytes rgb = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 0, 0, 0, 30, 20, 10}; /* B, G, R */
    ASSERT_EQ(1, Draw(canvas, 24, {2, 1, 5, 3}, rgb, 2, 9));
    const COLORREF expected[2][3] = {{RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)},
                                     {RGB(255, 255, 255), RGB(0, 0, 0), RGB(10, 20, 30)}};
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 8; x++) {
            bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            EXPECT_EQ(inside ? expected[y - 1][x - 2] : Sentinel, canvas.At(x, y)) << x << "," << y;
        }

    /* The same picture as 32-bit pixels with a padded stride. */
    Canvas wide(8, 6);
    Bytes rgbx(2 * 16, 0xEE);
    for (int i = 0; i < 6; i++) memcpy(&rgbx[(i / 3) * 16 + (i % 3) * 4], &rgb[i * 3], 3);
    ASSERT_EQ(1, Draw(wide, 32, {2, 1, 5, 3}, rgbx, 2, 16));
    for (int y = 1; y < 3; y++)
        for (int x = 2; x < 5; x++) EXPECT_EQ(expected[y - 1][x - 2], wide.At(x, y)) << x << "," << y;
}

TEST_F(Display, RowsContinueAcrossCallsAndStopAtTheBottom)
{
    Canvas canvas(4, 6);
    HDISP32SHOW show = nullptr;
    ASSERT_EQ(1, disp32ShowInit(&show, canvas.dc(), 24, 0, 1, 4, 5, 0, 0, 0));
    ASSERT_NE(nullptr, show);
    /* Rows of one grey level each: 10, 20, 30, 40, 50. */
    auto row = [](int level) { return Bytes(12, (BYTE)level); };
    Bytes two = row(20);
    two.insert(two.end(), 12, 30);
    EXPECT_EQ(1, disp32ShowData(show, row(10).data(), 0, 0, 1, 12));
    EXPECT_EQ(1, disp32ShowData(show, two.data(), 0, 0, 2, 12));
    Bytes last = row(40);
    last.insert(last.end(), 12, 50);
    EXPECT_EQ(1, disp32ShowData(show, last.data(), 0, 0, 2, 12)); /* one row of room left */
    EXPECT_EQ(0, disp32ShowData(show, row(60).data(), 0, 0, 1, 12)); /* full */
    EXPECT_EQ(1, disp32ShowEnd(show));

    const COLORREF expected[6] = {Sentinel, RGB(10, 10, 10), RGB(20, 20, 20), RGB(30, 30, 30),
                                  RGB(40, 40, 40), Sentinel};
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(expected[y], canvas.At(x, y)) << x << "," << y;
}

TEST_F(Display, ShortRowsFillTheLeftPart)
{
    Canvas canvas(6, 2);
    Bytes rows(6, 200); /* two pixels a row, stride 6: narrower than the rectangle */
    rows.insert(rows.end(), 6, 100);
    ASSERT_EQ(1, Draw(canvas, 24, {0, 0, 6, 2}, rows, 2, 6));
    for (int x = 0; x < 6; x++) {
        EXPECT_EQ(x < 2 ? RGB(200, 200, 200) : Sentinel, canvas.At(x, 0)) << x;
        EXPECT_EQ(x < 2 ? RGB(100, 100, 100) : Sentinel, canvas.At(x, 1)) << x;
    }
}

TEST_F(Display, LargePicturesAreDrawnInChunksWithoutSeams)
{
    /* 1000 x 700 true colour: several conversion chunks. Row y has the value y & 0xFF
       in red and y >> 8 in green; column x has x & 0xFF in blue. */
    const int w = 1000, h = 700;
    Canvas canvas(w, h);
    ASSERT_TRUE(canvas.ok());
    Bytes rows((size_t)w * 3 * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            BYTE *p = &rows[((size_t)y * w + x) * 3];
            p[2] = (BYTE)(y & 0xFF), p[1] = (BYTE)(y >> 8), p[0] = (BYTE)(x & 0xFF);
        }
    ASSERT_EQ(1, Draw(canvas, 24, {0, 0, w, h}, rows, h, w * 3));
    for (int y = 0; y < h; y += 7)
        for (int x : {0, 1, 499, 998, 999})
            ASSERT_EQ(RGB(y & 0xFF, y >> 8, x & 0xFF), canvas.At(x, y)) << x << "," << y;
    EXPECT_EQ(RGB((h - 1) & 0xFF, (h - 1) >> 8, 999 & 0xFF), canvas.At(w - 1, h - 1));
}

/* ---- Gamma ------------------------------------------------------------------------------ */

TEST_F(Display, GammaMapsTrueColourAndGreyLevels)
{
    /* 255 * (v / 255) ^ (180 / gamma), rounded; 180 leaves every value alone. */
    const struct { int red, green, blue; BYTE in; BYTE out[3]; } cases[] = {
        {180, 180, 180, 64, {64, 64, 64}},
        {180, 180, 180, 200, {200, 200, 200}},
        {360, 360, 360, 64, {128, 128, 128}},
        {360, 360, 360, 128, {181, 181, 181}},
        {100, 100, 100, 128, {74, 74, 74}},
        {360, 180, 100, 64, {128, 64, 21}},
        {360, 360, 360, 0, {0, 0, 0}},
        {100, 100, 100, 255, {255, 255, 255}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(1, disp32NewScreenGamma(c.red, c.green, c.blue));
        Canvas canvas(2, 1);
        Bytes rgb = {c.in, c.in, c.in};
        ASSERT_EQ(1, Draw(canvas, 24, {0, 0, 1, 1}, rgb, 1, 3));
        EXPECT_EQ(RGB(c.out[0], c.out[1], c.out[2]), canvas.At(0, 0))
            << c.red << "/" << c.green << "/" << c.blue << " of " << (int)c.in;

        Bytes grey = {c.in};
        ASSERT_EQ(1, Draw(canvas, 8, {1, 0, 2, 1}, grey, 1, 1));
        EXPECT_EQ(RGB(c.out[0], c.out[1], c.out[2]), canvas.At(1, 0)) << "grey " << (int)c.in;
    }
}

TEST_F(Display, RefusedGammaKeepsTheCurrentOne)
{
    ASSERT_EQ(1, disp32NewScreenGamma(360, 360, 360));
    EXPECT_EQ(0, disp32NewScreenGamma(0, 180, 180));
    EXPECT_EQ(0, disp32NewScreenGamma(180, -5, 180));
    Canvas canvas(1, 1);
    ASSERT_EQ(1, Draw(canvas, 24, {0, 0, 1, 1}, Bytes{64, 64, 64}, 1, 3));
    EXPECT_EQ(RGB(128, 128, 128), canvas.At(0, 0));
}

/* ---- Palettes --------------------------------------------------------------------------- */

TEST_F(Display, IndexedRowsUseThePaletteAsItStands)
{
    const COLORREF colours[4] = {RGB(64, 64, 64), RGB(255, 0, 0), RGB(0, 128, 0), RGB(9, 8, 7)};
    HPALETTE palette = MakePalette(colours, 4);
    ASSERT_NE(nullptr, palette);
    ASSERT_EQ(1, disp32NewScreenGamma(360, 360, 360)); /* not applied to palette colours */
    Canvas canvas(4, 2);
    Bytes indices = {3, 2, 1, 0, 0, 1, 2, 3};
    ASSERT_EQ(1, Draw(canvas, 8, {0, 0, 4, 2}, indices, 2, 4, palette));
    for (int i = 0; i < 8; i++) EXPECT_EQ(colours[indices[i]], canvas.At(i % 4, i / 4)) << i;

    /* 24-bit rows given a palette are drawn as true colour. */
    Canvas rgb(1, 1);
    ASSERT_EQ(1, Draw(rgb, 24, {0, 0, 1, 1}, Bytes{64, 64, 64}, 1, 3, palette));
    EXPECT_EQ(RGB(128, 128, 128), rgb.At(0, 0));
    DeleteObject(palette);
}

TEST_F(Display, GammaPaletteAndDuplicate)
{
    const COLORREF colours[3] = {RGB(64, 128, 0), RGB(255, 255, 255), RGB(0, 64, 200)};
    HPALETTE palette = MakePalette(colours, 3);
    ASSERT_EQ(1, disp32NewScreenGamma(360, 180, 360));

    HPALETTE gamma = disp32GammaColorPalette(palette, 0);
    HPALETTE copy = disp32PalDuplicate(palette);
    ASSERT_NE(nullptr, gamma);
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(palette, gamma);
    EXPECT_NE(palette, copy);
    PALETTEENTRY g[4] = {}, d[4] = {};
    ASSERT_EQ(3u, GetPaletteEntries(gamma, 0, 4, g));
    ASSERT_EQ(3u, GetPaletteEntries(copy, 0, 4, d));
    const BYTE expected[3][3] = {{128, 128, 0}, {255, 255, 255}, {0, 64, 226}};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(expected[i][0], g[i].peRed) << i;
        EXPECT_EQ(expected[i][1], g[i].peGreen) << i;
        EXPECT_EQ(expected[i][2], g[i].peBlue) << i;
        EXPECT_EQ(colours[i], RGB(d[i].peRed, d[i].peGreen, d[i].peBlue)) << i;
    }
    DeleteObject(gamma);
    DeleteObject(copy);
    DeleteObject(palette);
    EXPECT_EQ(nullptr, disp32GammaColorPalette(nullptr, 0));
    EXPECT_EQ(nullptr, disp32PalDuplicate(nullptr));
}

/* ---- Refusals ----------------------------------------------------------------------------- */

TEST_F(Display, BadStartsAreRefused)
{
    Canvas canvas(4, 4);
    HDISP32SHOW show = reinterpret_cast<HDISP32SHOW>(1);
    const struct { int bits; RECT rect; } cases[] = {
        {16, {0, 0, 4, 4}}, {1, {0, 0, 4, 4}}, {0, {0, 0, 4, 4}},
        {24, {2, 0, 2, 4}}, {24, {0, 3, 4, 1}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(0, disp32ShowInit(&show, canvas.dc(), c.bits, c.rect.left, c.rect.top,
                                    c.rect.right, c.rect.bottom, 0, 0, 0)) << c.bits;
        EXPECT_EQ(nullptr, show);
        show = reinterpret_cast<HDISP32SHOW>(1);
    }
    EXPECT_EQ(0, disp32ShowInit(&show, nullptr, 24, 0, 0, 4, 4, 0, 0, 0));
    EXPECT_EQ(0, disp32ShowInit(nullptr, canvas.dc(), 24, 0, 0, 4, 4, 0, 0, 0));
    /* A handle that is not a palette. */
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    EXPECT_EQ(0, disp32ShowInitEx(&show, canvas.dc(), 8, 0, 0, 4, 4, reinterpret_cast<HPALETTE>(pen),
                                  0, 0, 0, 0));
    DeleteObject(pen);
    EXPECT_EQ(0, disp32ShowData(nullptr, Bytes(12).data(), 0, 0, 1, 12));
    EXPECT_EQ(0, disp32ShowEnd(nullptr));

    ASSERT_EQ(1, disp32ShowInit(&show, canvas.dc(), 24, 0, 0, 4, 4, 0, 0, 0));
    EXPECT_EQ(0, disp32ShowData(show, nullptr, 0, 0, 1, 12));
    EXPECT_EQ(0, disp32ShowData(show, Bytes(12).data(), 0, 0, 0, 12));
    EXPECT_EQ(0, disp32ShowData(show, Bytes(12).data(), 0, 0, 1, 2)); /* not one pixel */
    EXPECT_EQ(1, disp32ShowEnd(show));
    EXPECT_EQ(Sentinel, canvas.At(0, 0));
}

/* ---- Dithering on high-colour targets ------------------------------------------------------ */

TEST_F(Display, HighColourTargetsDitherWhenAsked)
{
    /* 132 is no 5-bit level: 132 * 31 / 255 = 16.05. Plain drawing gives one level
       everywhere; dithering mixes 16 and 17 so that the mean stays near 16.05. */
    const int w = 8, h = 8;
    Bytes flat((size_t)w * h * 3, 132);
    auto redLevels = [&](Canvas &c) {
        std::vector<int> levels;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) levels.push_back(c.Raw16(x, y) >> 11);
        return levels;
    };

    Canvas plain(w, h, 0, true);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(0, disp32BeHiColorDither(0));
    ASSERT_EQ(1, Draw(plain, 24, {0, 0, w, h}, flat, h, w * 3));
    std::vector<int> levels = redLevels(plain);
    for (int v : levels) EXPECT_EQ(levels[0], v);

    EXPECT_EQ(0, disp32BeHiColorDither(1));
    Canvas dithered(w, h, 0, true);
    ASSERT_EQ(1, Draw(dithered, 24, {0, 0, w, h}, flat, h, w * 3));
    levels = redLevels(dithered);
    int sixteen = 0, seventeen = 0;
    for (int v : levels) (v == 16 ? sixteen : v == 17 ? seventeen : (ADD_FAILURE() << v, sixteen))++;
    EXPECT_EQ(60, sixteen);
    EXPECT_EQ(4, seventeen); /* one cell of each 4 x 4 block */
    EXPECT_EQ(1, disp32BeHiColorDither(0));

    /* Dithering leaves true-colour targets exact. */
    disp32BeHiColorDither(1);
    Canvas exact(w, h);
    ASSERT_EQ(1, Draw(exact, 24, {0, 0, w, h}, flat, h, w * 3));
    EXPECT_EQ(RGB(132, 132, 132), exact.At(3, 5));
}

TEST_F(Display, DitherPatternContinuesAcrossCalls)
{
    /* Row by row or all at once, the dithered picture is the same. */
    const int w = 8, h = 8;
    Bytes ramp((size_t)w * h * 3);
    for (size_t i = 0; i < ramp.size(); i++) ramp[i] = (BYTE)(100 + i % 57);
    disp32BeHiColorDither(1);
    Canvas whole(w, h, 0, true), rows(w, h, 0, true);
    ASSERT_EQ(1, Draw(whole, 24, {0, 0, w, h}, ramp, h, w * 3));
    HDISP32SHOW show = nullptr;
    ASSERT_EQ(1, disp32ShowInit(&show, rows.dc(), 24, 0, 0, w, h, 0, 0, 0));
    for (int y = 0; y < h; y++) ASSERT_EQ(1, disp32ShowData(show, &ramp[(size_t)y * w * 3], 0, 0, 1, w * 3));
    disp32ShowEnd(show);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) EXPECT_EQ(whole.Raw16(x, y), rows.Raw16(x, y)) << x << "," << y;
}

} // namespace
