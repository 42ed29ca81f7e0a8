/* q32view driven in this process: File > Open and Save As through the module's dialogs,
   properties, and a damaged file answered with the recorded error. */
#include <gtest/gtest.h>
#include "harness.h"
#include "boxes.h"
#include "dialogdriver.h"
#include "viewer.h"
#include <string>
#include <vector>

using namespace q32test;

namespace {

/* Runs the window messages of this thread until done() or the limit. */
template <typename P>
bool PumpUntil(P done, int ms = WaitLimitMs)
{
    for (int waited = 0; waited < ms; waited += 10) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

HWND WindowTitled(const char *title) { return FindWindowA("Q32ViewWindow", title); }

/* The screen colour of image pixel (x, y) of the window, or 1 (no such pixel). */
DWORD Pixel(HWND window, LONG x, LONG y)
{
    DWORD pixel = 0;
    return ViewerPixel(window, x, y, &pixel) ? pixel : 1;
}

class Viewer : public ::testing::Test {
protected:
    TempDir dir;
    static void SetUpTestSuite() { ASSERT_TRUE(ViewerRegister(GetModuleHandleA(nullptr), false)); }
    /* The viewer's boxes (not the module's dialogs) are answered at once, their texts kept. */
    BoxAnswerer boxes{[](HWND, const std::string &title) {
        return title == "q32view" || title == "Properties";
    }};
    void TearDown() override
    {
        while (HWND w = WindowTitled(nullptr)) DestroyWindow(w);
    }
    std::string BoxTexts() const
    {
        std::string texts;
        for (const auto &b : boxes.Boxes())
            if (!b.title.empty()) texts += b.text + "\n";
        return texts;
    }
};

TEST_F(Viewer, FileOpenChoosesTwoFilesAndOpensAWindowEachAndSaveAsShowsTheNewFile)
{
    /* Read by the kit's sample plug-in, whose pattern in the dialog is *.PNM. */
    WriteFileBytes(dir / "colour.pnm", std::string("P6\n3 2\n255\n\xFF\x00\x00", 14) +
                                           std::string(15, '\x20'));
    WriteFileBytes(dir / "grey.pnm", "P5\n4 1\n15\n\x0F\x0F\x0F\x0F");
    HWND first = ViewerOpen(nullptr);
    ASSERT_EQ(first, WindowTitled("q32view"));

    /* Into the folder, both files selected in the list, OK once the name holds both. */
    DriveDialog([&] { return SendMessageA(first, WM_COMMAND, IDM_OPEN, 0); }, [&](HWND dialog) {
        TypeName(dialog, dir.path());
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);  /* into the folder before the list is read */
        if (!SelectFiles(dialog, {"colour.pnm", "grey.pnm"})) return;
        WaitFor([&] { return Text(dialog, 0x47c).find("grey.pnm") != std::string::npos; });
        Press(dialog, IDOK);
    }, nullptr);
    /* The first file goes into the empty window; pixels reach the screen copy in screen
       order. */
    EXPECT_TRUE(PumpUntil([&] { return WindowTitled("grey.pnm - PNM - 4 x 1"); }));
    EXPECT_EQ(first, WindowTitled("colour.pnm - PNM - 3 x 2"));
    EXPECT_EQ("", BoxTexts());
    EXPECT_EQ(0xFF0000u, Pixel(first, 0, 0));
    EXPECT_EQ(0x202020u, Pixel(first, 2, 1));

    /* Save As in the bitmap type: the window shows the written file, read back. */
    std::string target = dir / "copy.bmp";
    DriveDialog([&] { return SendMessageA(first, WM_COMMAND, IDM_SAVE_AS, 0); }, [&](HWND dialog) {
        std::vector<std::string> types = Items(dialog, 0x470);
        for (size_t i = 0; i < types.size(); i++)
            if (types[i].rfind("BMP", 0) == 0) ChooseType(dialog, (int)i);
        TypeName(dialog, target);
        Press(dialog, IDOK);
    }, nullptr);
    EXPECT_EQ("BM", ReadFileBytes(target).substr(0, 2));
    EXPECT_TRUE(PumpUntil([&] { return WindowTitled("copy.bmp - BMP - 3 x 2") == first; }));
    EXPECT_EQ(0x202020u, Pixel(first, 2, 1));
    EXPECT_EQ("", BoxTexts());
}

/* A damaged file is answered with the recorded text; a good one's properties are the facts
   the module gives (no plug-in has a property dialog of its own). */
TEST_F(Viewer, DamagedFileAndProperties)
{
    WriteFileBytes(dir / "cut.ppm", "P6\n4 4\n255\nonly a few bytes");
    HWND w = ViewerOpen((dir / "cut.ppm").c_str());
    ASSERT_EQ(w, WindowTitled("q32view"));
    EXPECT_EQ(-1, ViewerFrame(w));
    for (const char *part : {"is damaged or incomplete", "cut.ppm"})
        EXPECT_NE(std::string::npos, BoxTexts().find(part)) << BoxTexts();
    EXPECT_EQ(1u, boxes.Boxes().size());

    WriteFileBytes(dir / "grey.pnm", "P5\n4 1\n255\nabcd");
    w = ViewerOpen((dir / "grey.pnm").c_str());
    ASSERT_NE(nullptr, w);
    SendMessageA(w, WM_COMMAND, IDM_PROPERTIES, 0);
    for (const char *fact : {"PNM (Portable Anymap)", "4 x 1, 8 bits per pixel", "grey.pnm"})
        EXPECT_NE(std::string::npos, BoxTexts().find(fact)) << fact << " in " << BoxTexts();
}

} // namespace
