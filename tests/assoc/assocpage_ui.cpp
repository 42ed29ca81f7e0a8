/* The association page in the preference hosts: marks by click and space, what OK writes,
   the application without a class, the warning without write access, and no GDI object
   left behind. HKEY_CLASSES_ROOT is a scratch key. */
#include "../prefs/prefdrive.h"
#include "boxes.h"
#include "scratch_classes.h"
#include <set>

namespace {

enum { FormatList = 32241, MarkAllButton = 2602 };

/* The GDI objects that q32File.dll makes and has not deleted, counted through its import
   table (GetGuiResources answers 0 under Wine). */
std::set<HGDIOBJ> Live;
HGDIOBJ Made(HGDIOBJ object) { return Live.insert(object), object; }
HDC WINAPI CompatibleDC(HDC dc) { return (HDC)Made(CreateCompatibleDC(dc)); }
HBRUSH WINAPI SolidBrush(COLORREF colour) { return (HBRUSH)Made(CreateSolidBrush(colour)); }
HANDLE WINAPI Image(HINSTANCE module, LPCSTR name, UINT type, int w, int h, UINT flags)
{
    HANDLE image = LoadImageA(module, name, type, w, h, flags);
    return type == IMAGE_BITMAP ? (HANDLE)Made((HGDIOBJ)image) : image;
}
BOOL WINAPI DeleteDc(HDC dc) { return Live.erase(dc), DeleteDC(dc); }
BOOL WINAPI Delete(HGDIOBJ object) { return Live.erase(object), DeleteObject(object); }

class AssociationPage : public Preferences {
protected:
    ScopedEnv appName{"Q32CFG_NAME", "Test Viewer"};
    ScratchClasses classes{"page"};
    BoxAnswerer warnings{BoxAnswerer::Uncaptioned};  /* the caption-less warnings, answered OK */

    AssociationPage()
    {
        SetClassText(".jpg", "OtherApp.Jpeg");
        TestPlugin plugin("TA.FIO", {});
        for (const char *code : {"BMP", "ICO", "JPG", "PNG"})
            plugin.formats.push_back(Format(code, std::string(code) + " image"));
        Stage(plugin);
    }
    void TearDown() override { module.Unload(); }
    /* The preference dialog with the association page, for application id. */
    INT_PTR ShowPage(DWORD flags, int id, const std::function<void(HWND dialog, HWND page)> &script)
    {
        PreferenceAppInfo app = {0, (DWORD)id, "help.hlp", 100};
        return Show({}, flags, [&](HWND d) { script(d, Page(d, "File Types")); }, &app);
    }
};

HWND List(HWND page) { return GetDlgItem(page, FormatList); }
std::vector<DWORD> Marks(HWND page)
{
    std::vector<DWORD> all;
    for (int i = 0, n = (int)SendMessageA(List(page), LB_GETCOUNT, 0, 0); i < n; i++)
        all.push_back((DWORD)SendMessageA(List(page), LB_GETITEMDATA, i, 0));
    return all;
}

/* A click at x on the middle of item i; x 0 presses the space bar instead. */
void Click(HWND page, int i, int x)
{
    RECT r;
    SendMessageA(List(page), LB_GETITEMRECT, i, (LPARAM)&r);
    LPARAM at = MAKELPARAM(x, (r.top + r.bottom) / 2);
    if (!x) SendMessageA(List(page), WM_KEYDOWN, VK_SPACE, 0);
    if (x) SendMessageA(List(page), WM_LBUTTONDOWN, MK_LBUTTON, at);
    if (x) SendMessageA(List(page), WM_LBUTTONUP, 0, at);
}

TEST_F(AssociationPage, TextSelectsTheCellMarksAndSpaceToggles)
{
    SetClassText(".png", "KD3.Image");
    /* High half: as found; low half: as the user left it. PNG was associated. A click in
       the cell does not select; space toggles the selected item. */
    const struct { int item, x; std::vector<DWORD> marks; } steps[] = {
        {2, 40, {0, 0, 0, 0x10001}}, {1, 7, {0, 1, 0, 0x10001}}, {2, 0, {0, 1, 1, 0x10001}}};
    EXPECT_EQ(0, ShowPage(0x10, 1004, [&](HWND d, HWND page) {
        ASSERT_TRUE(page);
        EXPECT_EQ("File types that Test Viewer opens:", Text(page, 2201));
        EXPECT_EQ((std::vector<std::string>{"BMP (BMP image)", "ICO (ICO image)", "JPG (JPG image)",
                                            "PNG (PNG image)"}),
                  Items(page, FormatList));
        for (const auto &step : steps) {
            Click(page, step.item, step.x);
            EXPECT_EQ(2, SendMessageA(List(page), LB_GETCURSEL, 0, 0));
            EXPECT_EQ(step.marks, Marks(page));
        }
        Press(d, IDCANCEL);
    }));
    EXPECT_EQ(0, warnings.Count());
}

TEST_F(AssociationPage, LookingWritesNothingAndMarkAllThenOkRegistersEveryFormat)
{
    SetClassText(".ico", "OtherApp.Icon");
    std::string before = ExportClasses();
    for (int button : {IDCANCEL, IDOK}) {
        EXPECT_EQ(button == IDOK ? 0x10000 : 0, ShowPage(0x11, 1005, [&](HWND d, HWND) {
            EXPECT_EQ(before, ExportClasses()) << "opened";
            Press(d, button);
        }));
        EXPECT_EQ(before, ExportClasses()) << button;
    }
    EXPECT_EQ(0x10010, ShowPage(0x10, 1005, [&](HWND d, HWND page) {
        SendMessageA(page, WM_COMMAND, MarkAllButton, 0);
        Press(d, IDOK);
    }));
    for (const char *e : {".bmp", ".jpg", ".rle"}) EXPECT_EQ("QuillViewer", ClassText(e)) << e;
    /* Applying tidies every type: the icon type keeps its format class. */
    EXPECT_EQ("icofile", ClassText(".ico"));
    EXPECT_EQ("OtherApp.Icon", ClassText(".ico\\UndoClass"));
    EXPECT_EQ(0x10010, ShowPage(0x20, 1005, [&](HWND d, HWND page) {
        EXPECT_EQ(0x10001u, Marks(page)[2]);
        Click(page, 2, 7);
        Press(d, IDOK);
    }));
    for (const char *e : {".jpg", ".jpeg"}) EXPECT_EQ("OtherApp.Jpeg", ClassText(e)) << e;
    EXPECT_EQ("QuillViewer", ClassText(".png"));
}

TEST_F(AssociationPage, TwoPagesInATreeHostKeepAStateEachAndLeakNoGdiObjects)
{
    /* The pages' parameter names the application's class. */
    AssociationPageParam param = {"Test Viewer", "OtherApp.Jpeg", {}};
    std::vector<TreePageDesc> pages{{0, 0, PREF_PAGE_ASSOC, "A", "A", 0, (LPARAM)&param, "", 0},
                                    {0, 0, PREF_PAGE_ASSOC2, "B", "B", 0, (LPARAM)&param, "", 0}};
    ShowTree(pages, [&](HWND d) {
        HWND a = Page(d, "File Types"), b = FindWindowExA(d, a, "#32770", "File Types");
        ASSERT_TRUE(a && b);
        Click(a, 1, 7);
        EXPECT_EQ((std::vector<DWORD>{0, 1, 0x10001, 0}), Marks(a)) << "the page clicked";
        EXPECT_EQ((std::vector<DWORD>{0, 0, 0x10001, 0}), Marks(b)) << "the other page";
        Press(d, IDCANCEL);
    });

    HMODULE m = module.handle();
    ASSERT_TRUE(RedirectImport(m, "gdi32.dll", "CreateCompatibleDC", (const void *)CompatibleDC) &&
                RedirectImport(m, "gdi32.dll", "DeleteDC", (const void *)DeleteDc) &&
                RedirectImport(m, "gdi32.dll", "DeleteObject", (const void *)Delete) &&
                RedirectImport(m, "gdi32.dll", "CreateSolidBrush", (const void *)SolidBrush) &&
                RedirectImport(m, "user32.dll", "LoadImageA", (const void *)Image));
    Live.clear();
    for (int i = 0; i < 100; i++) ShowTree(pages, [](HWND d) { Press(d, IDCANCEL); });
    EXPECT_EQ(0u, Live.size()) << "GDI objects made and not deleted in 100 opens";
}

TEST_F(AssociationPage, AnApplicationWithoutAClassListsNothingAndWarnsWithoutWriteAccess)
{
    /* Without a .jpg key (which the page itself does not write): a warning each showing. */
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".jpg");
    EXPECT_EQ(0, ShowPage(0x11, 1000, [&](HWND d, HWND page) {
        EXPECT_EQ(0, SendMessageA(List(page), LB_GETCOUNT, 0, 0));
        ClickTab(d, 1);
        ClickTab(d, 0);
        Press(d, IDCANCEL);
    }));
    std::vector<std::string> texts = warnings.Texts();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("You cannot change the file associations: "
              "you have no right to write them in the registry.", texts[0]);
}

} // namespace
