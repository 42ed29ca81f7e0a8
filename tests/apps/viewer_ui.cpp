/*
 * q32view driven in this process: File > Open through the module's open dialog with two
 * files chosen (a window each), an animation stepped frame by frame, and a damaged file
 * answered with the recorded error. A thread drives the dialogs, each wait bounded.
 */
#include <gtest/gtest.h>
#include "harness.h"
#include "boxes.h"
#include "dialogdriver.h"
#include "viewer.h"
#include "wic_files.h"
#include <commctrl.h>
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
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

/* The visible top-level windows of this process with the class name, and their titles. */
std::vector<std::pair<HWND, std::string>> OwnWindows(const char *className)
{
    struct Found { const char *name; std::vector<std::pair<HWND, std::string>> list; } found = {className, {}};
    EnumWindows([](HWND w, LPARAM p) -> BOOL {
        auto *f = reinterpret_cast<Found *>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char name[64] = "", title[300] = "";
        GetClassNameA(w, name, sizeof name);
        GetWindowTextA(w, title, sizeof title);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w) && !strcmp(name, f->name)) f->list.push_back({w, title});
        return TRUE;
    }, (LPARAM)&found);
    return found.list;
}

HWND WindowTitled(const std::string &title)
{
    for (auto &[w, t] : OwnWindows("Q32ViewWindow"))
        if (t == title) return w;
    return nullptr;
}

void CloseViewers()
{
    for (auto &[w, t] : OwnWindows("Q32ViewWindow")) DestroyWindow(w);
}

class Viewer : public ::testing::Test {
protected:
    TempDir dir;
    static void SetUpTestSuite() { ASSERT_TRUE(ViewerRegister(GetModuleHandleA(nullptr), false)); }
    /* The viewer's boxes (not the module's dialogs) are answered at once, their texts kept;
       so is the association page's warning (no caption) where the prefix has no .jpg
       class: looking at the page no longer makes one. */
    BoxAnswerer boxes{[](HWND box, const std::string &title) {
        return title == "q32view" || title == "Properties" || BoxAnswerer::Uncaptioned(box, title);
    }};
    void TearDown() override { CloseViewers(); }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &b : boxes.Boxes())
            if (!b.title.empty()) texts.push_back(b.text);
        return texts;
    }
};

TEST_F(Viewer, FileOpenChoosesTwoFilesAndOpensAWindowEach)
{
    /* Read by the kit's sample plug-in, whose pattern in the dialog is *.PNM. */
    WriteFileBytes(dir / "colour.pnm", std::string("P6\n3 2\n255\n") + std::string("\xFF\x00\x00", 3) +
                                           std::string(15, '\x20'));
    WriteFileBytes(dir / "grey.pnm", "P5\n4 1\n15\n\x0F\x0F\x0F\x0F");
    HWND first = ViewerOpen(nullptr);
    ASSERT_NE(nullptr, first);
    char title[64] = "";
    GetWindowTextA(first, title, sizeof title);
    EXPECT_STREQ("q32view", title);

    /* Into the folder, both files selected in the list, OK once the name holds both. */
    Driver driver([&](HWND dialog) {
        TypeName(dialog, dir.path());
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);  /* into the folder before the list is read */
        if (!SelectFiles(dialog, {"colour.pnm", "grey.pnm"})) return;
        WaitFor([&] { return Text(dialog, 0x47c).find("grey.pnm") != std::string::npos; });
        Press(dialog, IDOK);
    });
    PostMessageA(first, WM_COMMAND, IDM_OPEN, 0);
    EXPECT_TRUE(PumpUntil([&] { return WindowTitled("colour.pnm - PNM - 3 x 2") && WindowTitled("grey.pnm - PNM - 4 x 1"); }));
    EXPECT_TRUE(BoxTexts().empty()) << BoxTexts()[0];

    /* The first file went into the empty window; pixels reach the screen copy in screen
       order, the grey scaled from its maximum of 15. */
    EXPECT_EQ(first, WindowTitled("colour.pnm - PNM - 3 x 2"));
    DWORD pixel = 0;
    ASSERT_TRUE(ViewerPixel(first, 0, 0, &pixel));
    EXPECT_EQ(0xFF0000u, pixel);
    ASSERT_TRUE(ViewerPixel(first, 2, 1, &pixel));
    EXPECT_EQ(0x202020u, pixel);
    EXPECT_FALSE(ViewerPixel(first, 3, 0, &pixel));
    ASSERT_TRUE(ViewerPixel(WindowTitled("grey.pnm - PNM - 4 x 1"), 3, 0, &pixel));
    EXPECT_EQ(0xFFFFFFu, pixel);
}

TEST_F(Viewer, SaveAsWritesTheImageInTheChosenFormatAndShowsTheNewFile)
{
    WriteFileBytes(dir / "colour.pnm", std::string("P6\n3 2\n255\n") + std::string("\xFF\x00\x00", 3) +
                                           std::string(15, '\x40'));
    HWND w = ViewerOpen((dir / "colour.pnm").c_str());
    ASSERT_NE(nullptr, w);
    std::string target = dir / "copy.bmp";
    bool typeChosen = false;
    Driver driver([&](HWND dialog) {
        HWND types = GetDlgItem(dialog, 0x470);
        int count = (int)SendMessageA(types, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count && !typeChosen; i++) {
            char text[260] = "";
            SendMessageA(types, CB_GETLBTEXT, i, (LPARAM)text);
            if (!strncmp(text, "BMP", 3)) {
                SendMessageA(types, CB_SETCURSEL, i, 0);
                SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELENDOK), (LPARAM)types);
                typeChosen = true;
            }
        }
        TypeName(dialog, target);
        Press(dialog, IDOK);
    });
    SendMessageA(w, WM_COMMAND, IDM_SAVE_AS, 0);
    EXPECT_TRUE(driver.found);
    EXPECT_TRUE(typeChosen);
    EXPECT_TRUE(BoxTexts().empty()) << BoxTexts()[0];
    /* The window shows the written file, read back through the bitmap plug-in. */
    EXPECT_EQ("BM", ReadFileBytes(target).substr(0, 2));
    EXPECT_TRUE(PumpUntil([&] { return WindowTitled("copy.bmp - BMP - 3 x 2") == w; }));
    DWORD pixel = 0;
    ASSERT_TRUE(ViewerPixel(w, 0, 0, &pixel));
    EXPECT_EQ(0xFF0000u, pixel);
    ASSERT_TRUE(ViewerPixel(w, 2, 1, &pixel));
    EXPECT_EQ(0x404040u, pixel);
}

TEST_F(Viewer, StepsAnAnimationFrameByFrameAndRoundAgain)
{
    wictest::Com com;
    const WICColor colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    std::vector<wictest::Picture> frames;
    for (WICColor colour : colours) {
        wictest::Picture p;
        p.format = GUID_WICPixelFormat8bppIndexed;
        p.width = 8, p.height = 6;
        p.pixels.assign(p.Stride() * p.height, 0);
        p.palette = {colour, 0xFF000000};
        frames.push_back(p);
    }
    ASSERT_TRUE(wictest::Encode(dir / "anim.gif", GUID_ContainerFormatGif, frames));
    HWND w = ViewerOpen((dir / "anim.gif").c_str());
    ASSERT_NE(nullptr, w);
    /* It plays from the start; stopped, it stays on its frame. */
    EXPECT_TRUE(PumpUntil([&] { return ViewerFrame(w) > 0; }));
    SendMessageA(w, WM_COMMAND, IDM_PLAY, 0);
    int frame = ViewerFrame(w);
    ASSERT_GE(frame, 0);
    PumpUntil([] { return false; }, 3 * ViewerFrameMs);
    EXPECT_EQ(frame, ViewerFrame(w));
    for (int step = 0; step < 4; step++) {
        SCOPED_TRACE(step);
        SendMessageA(w, WM_COMMAND, IDM_NEXT_FRAME, 0);
        frame = (frame + 1) % 3;
        ASSERT_EQ(frame, ViewerFrame(w));
        char title[100] = "";
        GetWindowTextA(w, title, sizeof title);
        EXPECT_EQ("anim.gif - GIF - 8 x 6 - frame " + std::to_string(frame + 1), std::string(title));
        DWORD pixel = 0;
        ASSERT_TRUE(ViewerPixel(w, 4, 3, &pixel));
        EXPECT_EQ(colours[frame] & 0xFFFFFF, pixel);
    }
    /* A frame smaller than the screen is shown on it, over the frame before. */
    const uint32_t table[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    WriteFileBytes(dir / "small.gif", wictest::MakeGif(2, 2, table, {{0, 0, 2, 2, 1, -1, std::string(4, '\0')},
                                                                     {1, 1, 1, 1, 1, -1, std::string(1, '\1')}}));
    HWND small = ViewerOpen((dir / "small.gif").c_str());
    ASSERT_NE(nullptr, small);
    SendMessageA(small, WM_COMMAND, IDM_PLAY, 0);
    if (ViewerFrame(small) == 0) SendMessageA(small, WM_COMMAND, IDM_NEXT_FRAME, 0);
    ASSERT_EQ(1, ViewerFrame(small));
    DWORD pixel = 0;
    ASSERT_TRUE(ViewerPixel(small, 0, 0, &pixel));
    EXPECT_EQ(0xFF0000u, pixel);
    ASSERT_TRUE(ViewerPixel(small, 1, 1, &pixel));
    EXPECT_EQ(0x00FF00u, pixel);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(Viewer, PropertiesPreferencesAndSystemInformationBelongToTheWindow)
{
    WriteFileBytes(dir / "grey.pnm", "P5\n4 1\n255\nabcd");
    HWND w = ViewerOpen((dir / "grey.pnm").c_str());
    ASSERT_NE(nullptr, w);
    /* No plug-in has a property dialog of its own: the facts the module gives. */
    SendMessageA(w, WM_COMMAND, IDM_PROPERTIES, 0);
    ASSERT_EQ(1u, BoxTexts().size());
    for (const char *fact : {"PNM (Portable Anymap)", "4 x 1, 8 bits per pixel", "grey.pnm"})
        EXPECT_NE(std::string::npos, BoxTexts()[0].find(fact)) << fact << " in " << BoxTexts()[0];
    /* The module's dialogs open owned by the viewer window. */
    for (auto [command, title] : {std::pair{IDM_SYSINFO, "System Information"}, std::pair{IDM_PREFERENCES, "Preferences"}}) {
        HWND owner = nullptr;
        DriveDialog([&, command = command] { return SendMessageA(w, WM_COMMAND, command, 0); }, [&](HWND dialog) {
            owner = GetWindow(dialog, GW_OWNER);
            Press(dialog, IDCANCEL);
        }, title);
        EXPECT_EQ(w, owner) << title;
    }
}

TEST_F(Viewer, ADamagedFileIsAnsweredWithTheRecordedText)
{
    WriteFileBytes(dir / "cut.ppm", "P6\n4 4\n255\nonly a few bytes");
    HWND w = ViewerOpen((dir / "cut.ppm").c_str());
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(1u, BoxTexts().size());
    EXPECT_NE(std::string::npos, BoxTexts()[0].find("is damaged or incomplete")) << BoxTexts()[0];
    EXPECT_NE(std::string::npos, BoxTexts()[0].find("cut.ppm")) << BoxTexts()[0];
    EXPECT_EQ(-1, ViewerFrame(w));
    char title[64] = "";
    GetWindowTextA(w, title, sizeof title);
    EXPECT_STREQ("q32view", title);
}

} // namespace
