/* The palette preview control, the palette grid and the RIFF palette reader, driven
   directly. */
#include <gtest/gtest.h>
#include "harness.h"
#include "canvas.h"
#include "faults.h"
#include "core/core.h"
#include "module.h"
#include "controls/palctl.h"
#include "dialogs/opendlg.h"
#include "q32base.h"
#include <string.h>
#include <string>
#include <vector>

using namespace q32test;

namespace {

const COLORREF Grey = RGB(192, 192, 192); /* LTGRAY_BRUSH */
const COLORREF Sentinel = RGB(1, 2, 3);

std::string Le32(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }
std::string Le16(WORD v) { return std::string(reinterpret_cast<const char *>(&v), 2); }
std::string Chunk(const char *id, const std::string &body) { return id + Le32((DWORD)body.size()) + body; }

/* Distinct colours: entry i is (i, 255 - i, i * 7). */
COLORREF ColourOf(int i) { return RGB(i, 255 - i, (i * 7) & 0xFF); }

/* The body of a "data" chunk: version, the claimed count and `held` entries. */
std::string PaletteData(int claimed, int held)
{
    std::string body = Le16(0x300) + Le16((WORD)claimed);
    for (int i = 0; i < held; i++) {
        COLORREF c = ColourOf(i);
        body += (char)GetRValue(c), body += (char)GetGValue(c), body += (char)GetBValue(c), body += '\0';
    }
    return body;
}

std::string Riff(const char *form, const std::string &chunks) { return Chunk("RIFF", form + chunks); }

HPALETTE PaletteOfCount(int count)
{
    std::vector<COLORREF> colours(count);
    for (int i = 0; i < count; i++) colours[i] = ColourOf(i);
    return MakePalette(colours.data(), count);
}

class PaletteFile : public ::testing::Test {
protected:
    TempDir dir;

    /* Reads file, checks the pick's state and gives the result. */
    int Read(const std::string &name, PalettePick &pick)
    {
        memset(&pick, 0xCC, sizeof pick);
        int result = ReadPaletteFile(name.c_str(), &pick);
        if (!result) {
            EXPECT_EQ(0u, pick.colors);
            EXPECT_EQ(nullptr, pick.palette);
            EXPECT_EQ(0u, pick.fromPaletteFile);
        }
        return result;
    }
};

TEST_F(PaletteFile, ReadsWholePalettes)
{
    const struct { int count; const char *before; } cases[] = {
        {16, nullptr}, {256, nullptr}, {1, nullptr}, {17, "offs"},
    };
    for (const auto &c : cases) {
        std::string chunks = c.before ? Chunk(c.before, "abcd") : "";
        chunks += Chunk("data", PaletteData(c.count, c.count));
        std::string file = dir / "ok.pal";
        WriteFileBytes(file, Riff("PAL ", chunks));

        PalettePick pick;
        ASSERT_EQ(1, Read(file, pick)) << c.count;
        EXPECT_STREQ(file.c_str(), pick.name);
        EXPECT_EQ((DWORD)c.count, pick.colors);
        EXPECT_EQ(1u, pick.fromPaletteFile);
        ASSERT_NE(nullptr, pick.palette);
        std::vector<PALETTEENTRY> entries(c.count + 1);
        ASSERT_EQ((UINT)c.count, GetPaletteEntries(pick.palette, 0, c.count + 1, entries.data()));
        for (int i = 0; i < c.count; i++)
            EXPECT_EQ(ColourOf(i), RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue)) << i;
        DeleteObject(pick.palette);
    }
}

TEST_F(PaletteFile, RefusesBrokenFiles)
{
    const struct { const char *what; std::string bytes; } cases[] = {
        {"0 entries", Riff("PAL ", Chunk("data", PaletteData(0, 0)))},
        {"257 entries", Riff("PAL ", Chunk("data", PaletteData(257, 257)))},
        {"more claimed than the file holds",
         Riff("PAL ", "data" + Le32(4 + 16 * 4) + PaletteData(16, 8))},
        {"more claimed than the chunk holds",
         Riff("PAL ", Chunk("data", PaletteData(16, 8)) + Chunk("junk", std::string(64, 'j')))},
        {"cut inside the header", Riff("PAL ", Chunk("data", PaletteData(4, 4))).substr(0, 25)},
        {"another form", Riff("WAVE", Chunk("data", PaletteData(4, 4)))},
        {"no data chunk", Riff("PAL ", Chunk("list", PaletteData(4, 4)))},
        {"not RIFF", "JASC-PAL\r\n0100\r\n16\r\n"},
        {"empty", ""},
    };
    for (const auto &c : cases) {
        std::string file = dir / "bad.pal";
        WriteFileBytes(file, c.bytes);
        PalettePick pick;
        EXPECT_EQ(0, Read(file, pick)) << c.what;
        EXPECT_STREQ(file.c_str(), pick.name) << c.what;
    }
    PalettePick pick;
    EXPECT_EQ(0, Read(dir / "missing.pal", pick));
    EXPECT_EQ(0, ReadPaletteFile("x.pal", nullptr));
    /* An overlong name is cut and refused, nothing written past the block. */
    struct { PalettePick pick; BYTE guard[32]; } block;
    memset(&block, 0xCC, sizeof block);
    EXPECT_EQ(0, ReadPaletteFile(("C:\\" + std::string(297, 'n')).c_str(), &block.pick));
    EXPECT_EQ(259u, strlen(block.pick.name));
    for (BYTE b : block.guard) EXPECT_EQ(0xCC, b);
    EXPECT_EQ(0u, block.pick.colors);
    EXPECT_EQ(nullptr, block.pick.palette);
}

TEST_F(PaletteFile, FailedAllocationRefusesCleanly)
{
    std::string file = dir / "ok.pal";
    WriteFileBytes(file, Riff("PAL ", Chunk("data", PaletteData(16, 16))));
    PalettePick pick;
    {
        FailingCalls fail(Call::Alloc, [](int, SIZE_T, const char *) { return true; });
        EXPECT_EQ(0, Read(file, pick));
    }
    /* The file was closed: it can be replaced at once. */
    EXPECT_TRUE(DeleteFileA(file.c_str()));
}

/* Checks a grid of cells of side `cell` at (left, top): the first `coloured` cells carry
   ColourOf(index) (through map), the others and everything else in `area` are grey. */
void ExpectGrid(const Canvas &canvas, RECT area, int grid, int cell, int coloured,
                COLORREF (*map)(COLORREF) = nullptr)
{
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) {
            int col = (x - area.left) / cell, row = (y - area.top) / cell;
            int index = row * grid + col;
            bool inGrid = col < grid && row < grid;
            COLORREF want = inGrid && index < coloured ? ColourOf(index) : Grey;
            if (map && want != Grey) want = map(want);
            ASSERT_EQ(want, canvas.At(x, y)) << "pixel " << x << "," << y;
        }
}

TEST(PaletteGrid, CellsFollowTheColourCount)
{
    const struct { int count, grid, cell; RECT rect; } cases[] = {
        {16, 4, 25, {0, 0, 100, 100}},
        {2, 4, 25, {0, 0, 100, 100}},
        {17, 16, 6, {0, 0, 100, 100}},   /* 6 x 6 cells, 4 grey pixels right and below */
        {256, 16, 6, {0, 0, 100, 100}},
        {256, 16, 6, {0, 0, 96, 96}},
        {16, 4, 10, {7, 5, 47, 45}},     /* the rectangle need not start at 0, 0 */
    };
    for (const auto &c : cases) {
        Canvas canvas(110, 110);
        HPALETTE palette = PaletteOfCount(c.count);
        PaintPaletteGrid(canvas.dc(), c.rect, palette, c.count);
        DeleteObject(palette);
        SCOPED_TRACE(testing::Message() << c.count << " colours in " << c.rect.right - c.rect.left);
        ExpectGrid(canvas, c.rect, c.grid, c.cell, c.count);
        EXPECT_EQ(Sentinel, canvas.At(c.rect.right, c.rect.bottom)); /* nothing outside */
        if (c.rect.left) {
            EXPECT_EQ(Sentinel, canvas.At(c.rect.left - 1, c.rect.top));
        }
    }
}

TEST(PaletteGrid, CountAndPaletteDisagree)
{
    Canvas canvas(100, 100);
    HPALETTE eight = PaletteOfCount(8);
    PaintPaletteGrid(canvas.dc(), {0, 0, 100, 100}, eight, 16); /* claims more than it has */
    ExpectGrid(canvas, {0, 0, 100, 100}, 4, 25, 8);
    PaintPaletteGrid(canvas.dc(), {0, 0, 100, 100}, eight, 0);
    ExpectGrid(canvas, {0, 0, 100, 100}, 4, 25, 0);
    PaintPaletteGrid(canvas.dc(), {0, 0, 100, 100}, nullptr, 16);
    ExpectGrid(canvas, {0, 0, 100, 100}, 4, 25, 0);
    DeleteObject(eight);
}

TEST(PaletteGrid, ColoursGoThroughTheScreenGamma)
{
    ASSERT_EQ(1, disp32NewScreenGamma(360, 360, 360));
    Canvas canvas(40, 40);
    HPALETTE palette = PaletteOfCount(16);
    PaintPaletteGrid(canvas.dc(), {0, 0, 40, 40}, palette, 16);
    DeleteObject(palette);
    disp32NewScreenGamma(180, 180, 180);
    /* Entry 0 is (0, 255, 0), entry 9 is (9, 246, 63): 63 becomes 127 at gamma 3.6. */
    EXPECT_EQ(RGB(0, 255, 0), canvas.At(5, 5));
    COLORREF nine = canvas.At(15, 25);
    EXPECT_EQ(127, GetBValue(nine));
    EXPECT_EQ(48, GetRValue(nine)); /* 255 * sqrt(9 / 255) = 47.9 */
}

class Control : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterPalettePreviewClass(GetModuleHandleA(nullptr));
        PalettePickInEffect = nullptr;
    }
    void TearDown() override
    {
        for (HWND w : windows) DestroyWindow(w);
        PalettePickInEffect = nullptr;
        UnregisterPalettePreviewClass();
    }
    HWND Make(int width, int height)
    {
        HWND w = CreateWindowExA(0, Q32PV_CLASSNAME, "", WS_POPUP, 0, 0, width, height, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        windows.push_back(w);
        return w;
    }
    static void SetPicture(HWND w, LONG width, LONG height, LONG bytesPerPixel, const BYTE *pixels,
                           HPALETTE palette = nullptr)
    {
        PreviewPicture p = {sizeof p, width, height, bytesPerPixel, width * bytesPerPixel, pixels, palette};
        EXPECT_EQ(0, SendMessageA(w, Q32PV_SETPICTURE, 0, (LPARAM)&p));
    }
    static void Print(HWND w, Canvas &canvas)
    {
        SendMessageA(w, WM_PRINTCLIENT, (WPARAM)canvas.dc(), PRF_CLIENT);
    }
    std::vector<HWND> windows;
};

TEST_F(Control, PaletteGridOfThePickInEffect)
{
    const struct { int count, side, grid, cell; } cases[] = {{17, 100, 16, 6}};
    for (const auto &c : cases) {
        HWND w = Make(c.side + 4, c.side + 4);
        ASSERT_NE(nullptr, w);
        PalettePick pick = {};
        pick.colors = c.count;
        pick.palette = PaletteOfCount(c.count);
        PalettePickInEffect = &pick;
        std::vector<BYTE> buffer(4);
        SetPicture(w, c.side, c.side, 1, buffer.data());
        Canvas canvas(110, 110);
        Print(w, canvas);
        SCOPED_TRACE(testing::Message() << c.count << " colours");
        ExpectGrid(canvas, {0, 0, c.side, c.side}, c.grid, c.cell, c.count);
        EXPECT_EQ(Sentinel, canvas.At(c.side, 0));
        PalettePickInEffect = nullptr;
        DeleteObject(pick.palette);
    }
}

/* The open dialog's panel sizes the palette grid from OK and Cancel: OK 26 pixels high
   and 16 below it Cancel give a box of 3 x (26 + 2 x 4) = 102, so 16 colours take 4 x 4
   cells of 25 pixels and 256 (or 17) take 16 x 16 of 6. */
TEST_F(Control, PanelSizesThePaletteGridFromTheButtons)
{
    HWND dialog = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    windows.push_back(dialog);
    for (int id : {IDOK, IDCANCEL})
        CreateWindowExA(0, "BUTTON", "", WS_CHILD, 200, id == IDOK ? 10 : 52, 60, 26, dialog,
                        (HMENU)(INT_PTR)id, GetModuleHandleA(nullptr), nullptr);
    HWND control = CreateWindowExA(0, Q32PV_CLASSNAME, "", WS_CHILD, 10, 10, 150, 150, dialog,
                                   (HMENU)(INT_PTR)IdPreviewPicture, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, control);
    OpenPanel panel = {};
    SetUpPanel(dialog, panel);
    const struct { DWORD count; int side; } cases[] = {{16, 100}, {256, 96}, {17, 96}, {2, 100}};
    for (const auto &c : cases) {
        PalettePick pick = {};
        pick.colors = c.count;
        pick.palette = PaletteOfCount((int)c.count);
        panel.pick = &pick;
        ASSERT_EQ(1, ShowPreview(dialog, panel)) << c.count;
        RECT rect;
        GetClientRect(control, &rect);
        EXPECT_EQ(c.side + 4, rect.right) << c.count;
        EXPECT_EQ(c.side + 4, rect.bottom) << c.count;
        DeleteObject(pick.palette);
    }
    FreePanelBuffer(panel);
}

TEST_F(Control, PictureThroughTheGammaPalette)
{
    HWND w = Make(20, 20);
    /* 8-bit picture 3 x 2 through a palette; the control applies the screen gamma. */
    const COLORREF colours[3] = {RGB(64, 0, 255), RGB(0, 128, 0), RGB(255, 255, 255)};
    HPALETTE palette = MakePalette(colours, 3);
    const BYTE indices[6] = {0, 1, 2, 2, 1, 0};
    SetPicture(w, 3, 2, 1, indices, palette);
    ASSERT_EQ(1, disp32NewScreenGamma(360, 360, 360));
    Canvas canvas(5, 3);
    Print(w, canvas);
    disp32NewScreenGamma(180, 180, 180);
    const COLORREF gamma[3] = {RGB(128, 0, 255), RGB(0, 181, 0), RGB(255, 255, 255)};
    for (int i = 0; i < 6; i++) EXPECT_EQ(gamma[indices[i]], canvas.At(i % 3, i / 3)) << i;
    EXPECT_EQ(Sentinel, canvas.At(3, 0));
    EXPECT_EQ(Sentinel, canvas.At(0, 2));

    /* A pick without a palette leaves the picture on show. */
    PalettePick pick = {};
    PalettePickInEffect = &pick;
    Canvas again(5, 3);
    Print(w, again);
    EXPECT_EQ(colours[0], again.At(0, 0));
    DeleteObject(palette);
}

TEST_F(Control, TrueColourPictureSharedByEveryControl)
{
    HWND first = Make(10, 10);
    HWND second = Make(10, 10); /* created before the picture is set */
    const BYTE rgb[2 * 2 * 3] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 30, 20, 10}; /* B, G, R */
    SetPicture(first, 2, 2, 3, rgb);
    Canvas canvas(3, 3);
    Print(second, canvas);
    EXPECT_EQ(RGB(255, 0, 0), canvas.At(0, 0));
    EXPECT_EQ(RGB(0, 255, 0), canvas.At(1, 0));
    EXPECT_EQ(RGB(0, 0, 255), canvas.At(0, 1));
    EXPECT_EQ(RGB(10, 20, 30), canvas.At(1, 1));
    EXPECT_EQ(Sentinel, canvas.At(2, 2));

    /* A null block and the no-op message change nothing. */
    EXPECT_EQ(0, SendMessageA(first, Q32PV_SETPICTURE, 0, 0));
    EXPECT_EQ(0, SendMessageA(first, Q32PV_NOTHING, 0, 0));
    PreviewPicture tooSmall = {4, 1, 1, 3, 3, rgb + 9, nullptr};
    EXPECT_EQ(0, SendMessageA(first, Q32PV_SETPICTURE, 0, (LPARAM)&tooSmall));
    Canvas same(3, 3);
    Print(first, same);
    EXPECT_EQ(RGB(255, 0, 0), same.At(0, 0));

    /* A new control starts the shared state afresh: nothing to show. */
    Make(10, 10);
    Canvas empty(3, 3);
    Print(first, empty);
    EXPECT_EQ(Sentinel, empty.At(0, 0));
}

TEST_F(Control, PaintsOnScreen)
{
    HWND w = Make(60, 60);
    PalettePick pick = {};
    pick.colors = 16;
    pick.palette = PaletteOfCount(16);
    PalettePickInEffect = &pick;
    std::vector<BYTE> buffer(4);
    SetPicture(w, 40, 40, 1, buffer.data());
    ShowWindow(w, SW_SHOWNOACTIVATE);
    UpdateWindow(w);
    Canvas canvas(60, 60);
    HDC screen = GetDC(w);
    BitBlt(canvas.dc(), 0, 0, 60, 60, screen, 0, 0, SRCCOPY);
    ReleaseDC(w, screen);
    ExpectGrid(canvas, {0, 0, 40, 40}, 4, 10, 16);
    EXPECT_EQ(GetSysColor(COLOR_MENU), canvas.At(50, 50)); /* the class background */
    DeleteObject(pick.palette);
}

TEST(PreviewClass, RegisteredAtAttachAndGoneAtDetach)
{
    TempDir dir;
    ScopedEnv iniEnv("Q32_INI", dir / "suite.ini");
    ScopedEnv noBoxes("Q32COMM_MB_LOG", dir / "boxes.log");
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    ASSERT_NE(nullptr, ResourceModule);
    WNDCLASSA wc = {};
    ASSERT_TRUE(GetClassInfoA(ResourceModule, Q32PV_CLASSNAME, &wc));
    EXPECT_EQ(0x400Bu, wc.style);
    EXPECT_EQ(8, wc.cbWndExtra);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(5), wc.hbrBackground);
    EXPECT_EQ(nullptr, wc.hIcon);
    EXPECT_EQ(nullptr, wc.hCursor);
    /* A global class: found whatever instance asks. */
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
    HMODULE resources = ResourceModule;
    ProcessDetach();
    EXPECT_FALSE(GetClassInfoA(resources, Q32PV_CLASSNAME, &wc));
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
    /* Without the resource module too the class comes and goes. */
    ScopedEnv path("PATH", "C:\\windows\\system32;C:\\windows");
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    ASSERT_EQ(nullptr, ResourceModule);
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
    ProcessDetach();
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
}

TEST(PreviewClass, LoadedModuleRegistersAndUnloadedModuleLeavesNoClass)
{
    TempDir dir;
    WNDCLASSA wc;
    {
        ModuleCopy copy(dir / "first", dir / "suite.ini");
        ASSERT_TRUE(copy.Load());
        EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
        copy.Unload();
    }
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), Q32PV_CLASSNAME, &wc));
    /* A second copy registers its own procedure and draws with it. */
    ModuleCopy second(dir / "second", dir / "suite.ini");
    ASSERT_TRUE(second.Load());
    HWND w = CreateWindowExA(0, Q32PV_CLASSNAME, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, SendMessageA(w, Q32PV_NOTHING, 0, 0));
    DestroyWindow(w);
}

} // namespace
