/* The palette preview control, the palette grid and the RIFF palette reader, driven
   directly. */
#include <gtest/gtest.h>
#include "harness.h"
#include "faults.h"
#include "core/core.h"
#include "controls/palctl.h"
#include "q32base.h"
#include <string.h>
#include <string>
#include <vector>

using namespace q32test;

namespace {

const COLORREF Grey = RGB(192, 192, 192); /* LTGRAY_BRUSH */
const COLORREF Sentinel = RGB(1, 2, 3);

/* A memory device context on a top-down 32-bit DIB section, every pixel Sentinel. */
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    int width;
    void *bits = nullptr;
    HBITMAP bitmap;
    Canvas(int w, int h) : width(w)
    {
        BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        SelectObject(dc, bitmap);
        for (int i = 0; i < w * h; i++) static_cast<DWORD *>(bits)[i] = 0x010203;
    }
    ~Canvas()
    {
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        DWORD p = static_cast<const DWORD *>(bits)[(size_t)y * width + x];
        return RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF);
    }
};

std::string Le32(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }
std::string Chunk(const char *id, const std::string &body)
{
    return id + Le32((DWORD)body.size()) + body;
}

/* Distinct colours: entry i is (i, 255 - i, i * 7). */
COLORREF ColourOf(int i) { return RGB(i, 255 - i, (i * 7) & 0xFF); }

/* The body of a "data" chunk: version 0x300, the claimed count and `held` entries. */
std::string PaletteData(int claimed, int held)
{
    std::string body = {0, 3, char(claimed & 0xFF), char(claimed >> 8)};
    for (int i = 0; i < held; i++) {
        COLORREF c = ColourOf(i);
        body += {char(GetRValue(c)), char(GetGValue(c)), char(GetBValue(c)), 0};
    }
    return body;
}

/* A RIFF palette file of the given chunks. */
std::string Pal(const std::string &chunks) { return Chunk("RIFF", "PAL " + chunks); }

/* A palette of count entries, ColourOf(i) each, or of the given colours. */
HPALETTE MakePalette(int count, const COLORREF *colours = nullptr)
{
    struct { WORD version, count; PALETTEENTRY entries[256]; } log = {0x300, (WORD)count, {}};
    for (int i = 0; i < count; i++) {
        COLORREF c = colours ? colours[i] : ColourOf(i);
        log.entries[i] = {GetRValue(c), GetGValue(c), GetBValue(c), 0};
    }
    return CreatePalette(reinterpret_cast<LOGPALETTE *>(&log));
}

TEST(PaletteFile, ReadsWholePalettesAndRefusesBrokenOnes)
{
    TempDir dir;
    const struct { const char *what; std::string bytes; int colours; } cases[] = {
        {"256", Pal(Chunk("data", PaletteData(256, 256))), 256},
        {"1 after another chunk", Pal(Chunk("offs", "abcd") + Chunk("data", PaletteData(1, 1))), 1},
        {"0 entries", Pal(Chunk("data", PaletteData(0, 0))), 0},
        {"257 entries", Pal(Chunk("data", PaletteData(257, 257))), 0},
        {"more claimed than the file holds",
         Pal("data" + Le32(4 + 16 * 4) + PaletteData(16, 8)), 0},
        {"more claimed than the chunk holds",
         Pal(Chunk("data", PaletteData(16, 8)) + Chunk("junk", std::string(64, 'j'))), 0},
        {"cut inside the header", Pal(Chunk("data", PaletteData(4, 4))).substr(0, 25), 0},
        {"another form", Chunk("RIFF", "WAVE" + Chunk("data", PaletteData(4, 4))), 0},
        {"no data chunk", Pal(Chunk("list", PaletteData(4, 4))), 0},
        {"empty", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = dir / "a.pal";
        WriteFileBytes(file, c.bytes);
        PalettePick pick;
        memset(&pick, 0xCC, sizeof pick);
        ASSERT_EQ(c.colours ? 1 : 0, ReadPaletteFile(file.c_str(), &pick));
        EXPECT_STREQ(file.c_str(), pick.name);
        EXPECT_EQ((DWORD)c.colours, pick.colors);
        EXPECT_EQ(c.colours ? 1u : 0u, pick.fromPaletteFile);
        std::vector<PALETTEENTRY> e(c.colours + 1);
        UINT held = pick.palette ? GetPaletteEntries(pick.palette, 0, c.colours + 1, &e[0]) : 0;
        EXPECT_EQ((UINT)c.colours, held);
        for (int i = 0; i < c.colours; i++)
            EXPECT_EQ(ColourOf(i), RGB(e[i].peRed, e[i].peGreen, e[i].peBlue)) << i;
        if (pick.palette) DeleteObject(pick.palette);
    }
    EXPECT_EQ(0, ReadPaletteFile("x.pal", nullptr));
    /* An overlong name is cut and refused, nothing written past the block. */
    struct { PalettePick pick; BYTE guard[32]; } block;
    memset(&block, 0xCC, sizeof block);
    EXPECT_EQ(0, ReadPaletteFile(("C:\\" + std::string(297, 'n')).c_str(), &block.pick));
    EXPECT_EQ(259u, strlen(block.pick.name));
    EXPECT_EQ(std::string(32, '\xCC'), std::string((char *)block.guard, 32));
    EXPECT_EQ(nullptr, block.pick.palette);
    /* A failed allocation refuses and closes the file: it can be replaced at once. */
    std::string file = dir / "ok.pal";
    WriteFileBytes(file, cases[0].bytes);
    {
        FailingCalls fail(Call::Alloc, [](int, SIZE_T, const char *) { return true; });
        EXPECT_EQ(0, ReadPaletteFile(file.c_str(), &block.pick));
        EXPECT_EQ(nullptr, block.pick.palette);
    }
    EXPECT_TRUE(DeleteFileA(file.c_str()));
}

/* Checks a grid of cells of side `cell` at (left, top): the first `coloured` cells carry
   ColourOf(index), the others and everything else in `area` are grey. */
void ExpectGrid(const Canvas &canvas, RECT area, int grid, int cell, int coloured)
{
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) {
            int col = (x - area.left) / cell, row = (y - area.top) / cell;
            int index = row * grid + col;
            bool inGrid = col < grid && row < grid;
            ASSERT_EQ(inGrid && index < coloured ? ColourOf(index) : Grey, canvas.At(x, y))
                << "pixel " << x << "," << y;
        }
}

TEST(PaletteGrid, CellsFollowTheColourCount)
{
    /* count claimed, entries of the palette (0: none), grid, cell, coloured cells */
    const struct { int count, held, grid, cell, coloured; RECT rect; } cases[] = {
        {16, 16, 4, 25, 16, {0, 0, 100, 100}},
        {2, 2, 4, 25, 2, {0, 0, 100, 100}},
        {17, 17, 16, 6, 17, {0, 0, 100, 100}},   /* 6 x 6 cells, 4 grey pixels right and below */
        {256, 256, 16, 6, 256, {0, 0, 96, 96}},
        {16, 16, 4, 10, 16, {7, 5, 47, 45}},     /* the rectangle need not start at 0, 0 */
        {16, 8, 4, 25, 8, {0, 0, 100, 100}},     /* claims more than the palette has */
        {0, 8, 4, 25, 0, {0, 0, 100, 100}},
        {16, 0, 4, 25, 0, {0, 0, 100, 100}},
    };
    for (const auto &c : cases) {
        Canvas canvas(110, 110);
        HPALETTE palette = c.held ? MakePalette(c.held) : nullptr;
        PaintPaletteGrid(canvas.dc, c.rect, palette, c.count);
        if (palette) DeleteObject(palette);
        SCOPED_TRACE(testing::Message() << c.count << " of " << c.held << " colours in "
                                        << c.rect.right - c.rect.left);
        ExpectGrid(canvas, c.rect, c.grid, c.cell, c.coloured);
        EXPECT_EQ(Sentinel, canvas.At(c.rect.right, c.rect.bottom)); /* nothing outside */
        EXPECT_TRUE(c.rect.left == 0 || canvas.At(c.rect.left - 1, c.rect.top) == Sentinel);
    }
}

/* The picture and, in its place while a pick with a palette is in effect, the pick's grid go
   through the screen gamma. */
TEST(PreviewControl, PictureAndPickGridThroughTheScreenGamma)
{
    RegisterPalettePreviewClass(GetModuleHandleA(nullptr));
    HWND w = CreateWindowExA(0, Q32PV_CLASSNAME, "", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, w);
    auto setPicture = [&](LONG width, LONG height, const BYTE *pixels, HPALETTE palette) {
        PreviewPicture p = {sizeof p, width, height, 1, width, pixels, palette};
        return SendMessageA(w, Q32PV_SETPICTURE, 0, (LPARAM)&p);
    };
    /* 8-bit picture 3 x 2 through a palette. A null block and one too small change nothing. */
    const COLORREF colours[3] = {RGB(64, 0, 255), RGB(0, 128, 0), RGB(255, 255, 255)};
    HPALETTE palette = MakePalette(3, colours);
    const BYTE indices[6] = {0, 1, 2, 2, 1, 0};
    EXPECT_EQ(0, setPicture(3, 2, indices, palette));
    EXPECT_EQ(0, SendMessageA(w, Q32PV_SETPICTURE, 0, 0));
    PreviewPicture tooSmall = {4, 1, 1, 3, 3, indices, nullptr};
    EXPECT_EQ(0, SendMessageA(w, Q32PV_SETPICTURE, 0, (LPARAM)&tooSmall));
    ASSERT_EQ(1, disp32NewScreenGamma(360, 360, 360));
    Canvas canvas(5, 3), grid(40, 40);
    SendMessageA(w, WM_PRINTCLIENT, (WPARAM)canvas.dc, PRF_CLIENT);
    PalettePick pick = {"", 16, MakePalette(16), 0};
    PalettePickInEffect = &pick;
    std::vector<BYTE> blank(40 * 40);
    EXPECT_EQ(0, setPicture(40, 40, blank.data(), nullptr));
    SendMessageA(w, WM_PRINTCLIENT, (WPARAM)grid.dc, PRF_CLIENT);
    disp32NewScreenGamma(180, 180, 180);
    PalettePickInEffect = nullptr;
    DestroyWindow(w);
    UnregisterPalettePreviewClass();
    DeleteObject(palette);
    DeleteObject(pick.palette);
    const COLORREF gamma[3] = {RGB(128, 0, 255), RGB(0, 181, 0), RGB(255, 255, 255)};
    for (int i = 0; i < 6; i++) EXPECT_EQ(gamma[indices[i]], canvas.At(i % 3, i / 3)) << i;
    EXPECT_EQ(Sentinel, canvas.At(3, 0));
    EXPECT_EQ(Sentinel, canvas.At(0, 2));
    /* 4 x 4 cells of 10: entry 9 (9, 246, 63) at (15, 25); 63 becomes 127 at gamma 3.6, 9
       becomes 48 (255 * sqrt(9 / 255) = 47.9). */
    EXPECT_EQ(RGB(0, 255, 0), grid.At(5, 5));
    EXPECT_EQ(127, GetBValue(grid.At(15, 25)));
    EXPECT_EQ(48, GetRValue(grid.At(15, 25)));
}

} // namespace
