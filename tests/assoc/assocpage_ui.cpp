/* The association page in the preference dialog, driven from a second thread: marks by
   click and space, mark all, what OK writes, the application without a class, the warning
   without write access. HKEY_CLASSES_ROOT is redirected to a scratch key of this process. */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "boxes.h"
#include "dialogdriver.h"
#include "scratch_classes.h"
#include <commctrl.h>
#include <stdio.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace q32test;

namespace {

enum { FormatList = 32241, ExtensionsButton = 2601, MarkAllButton = 2602 };

/* Message boxes with an empty caption are answered with OK, their texts kept. */
class AssociationPage : public ModuleSandbox {
protected:
    ScopedEnv appName{"Q32CFG_NAME", "Test Viewer"};
    ScratchClasses classes{"page"};
    decltype(&q32ShowPreference) show = nullptr;
    std::unique_ptr<BoxAnswerer> warnings;

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        Set(".jpg", "OtherApp.Jpeg");
        TestPlugin plugin("TA.FIO", {});
        for (const char *code : {"BMP", "ICO", "JPG", "PNG"}) plugin.formats.push_back(Format(code, std::string(code) + " image"));
        Stage(plugin);
        ASSERT_TRUE(module.Load());
        show = Q32_EXPORT(module, q32ShowPreference);
        warnings = std::make_unique<BoxAnswerer>(BoxAnswerer::Uncaptioned);
    }
    void TearDown() override
    {
        warnings.reset();
        module.Unload();
    }

    void Set(const std::string &key, const std::string &value) { SetClassText(key, value); }
    std::string Get(const std::string &key) { return ClassText(key); }
    std::map<std::string, std::string> Dump() { return DumpClasses(); }

    /* The preference dialog with the association page, for application id. */
    INT_PTR Show(DWORD flags, int id, const std::function<void(HWND dialog, HWND page)> &script)
    {
        PreferenceAppInfo app = {0, (DWORD)id, "help.hlp", 100};
        return DriveDialog([&] { return show(nullptr, 0, nullptr, flags, &app); },
                     [&](HWND d) { script(d, FindWindowExA(d, nullptr, "#32770", "File Types")); },
                     "Preferences");
    }
};

HWND List(HWND page) { return GetDlgItem(page, FormatList); }
DWORD Data(HWND page, int i) { return (DWORD)SendMessageA(List(page), LB_GETITEMDATA, i, 0); }

/* A click at x on the middle of item i. */
void Click(HWND page, int i, int x)
{
    RECT r;
    SendMessageA(List(page), LB_GETITEMRECT, i, (LPARAM)&r);
    LPARAM at = MAKELPARAM(x, (r.top + r.bottom) / 2);
    SendMessageA(List(page), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(List(page), WM_LBUTTONUP, 0, at);
}

TEST_F(AssociationPage, TextSelectsTheCellAndSpaceToggle)
{
    Set(".png", "KD3.Image");
    std::vector<std::string> items;
    std::vector<DWORD> afterText, afterCell, afterSpace;
    int selectedAfterText = -1, selectedAfterCell = -1;
    char heading[128] = "";
    auto data = [](HWND page) {
        std::vector<DWORD> all;
        for (int i = 0; i < 4; i++) all.push_back(Data(page, i));
        return all;
    };
    INT_PTR result = Show(0x10, 1004, [&](HWND d, HWND page) {
        ASSERT_TRUE(page);
        GetDlgItemTextA(page, 2201, heading, sizeof heading);
        for (int i = 0; i < (int)SendMessageA(List(page), LB_GETCOUNT, 0, 0); i++) {
            char text[64] = "";
            SendMessageA(List(page), LB_GETTEXT, i, (LPARAM)text);
            items.push_back(text);
        }
        Click(page, 2, 40);
        selectedAfterText = (int)SendMessageA(List(page), LB_GETCURSEL, 0, 0);
        afterText = data(page);
        Click(page, 1, 7);
        selectedAfterCell = (int)SendMessageA(List(page), LB_GETCURSEL, 0, 0);
        afterCell = data(page);
        SendMessageA(List(page), WM_KEYDOWN, VK_SPACE, 0);
        SendMessageA(List(page), WM_KEYUP, VK_SPACE, 0);
        afterSpace = data(page);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(0, result);
    EXPECT_STREQ("File types that Test Viewer opens:", heading);
    EXPECT_EQ((std::vector<std::string>{"BMP (BMP image)", "ICO (ICO image)", "JPG (JPG image)",
                                        "PNG (PNG image)"}), items);
    /* High half: as found; low half: as the user left it. PNG was associated. */
    EXPECT_EQ(2, selectedAfterText);
    EXPECT_EQ((std::vector<DWORD>{0, 0, 0, 0x10001}), afterText);
    EXPECT_EQ(2, selectedAfterCell) << "a click in the cell does not select";
    EXPECT_EQ((std::vector<DWORD>{0, 1, 0, 0x10001}), afterCell);
    EXPECT_EQ((std::vector<DWORD>{0, 1, 1, 0x10001}), afterSpace);
    EXPECT_EQ(0, warnings->Count());
}

TEST_F(AssociationPage, MarkAllThenOkRegistersEveryFormat)
{
    INT_PTR result = Show(0x10, 1005, [&](HWND d, HWND page) {
        SendMessageA(page, WM_COMMAND, MarkAllButton, 0);
        Press(d, IDOK);
    });
    EXPECT_EQ(0x10010, result);
    for (const char *e : {".bmp", ".jpg", ".png", ".jpeg", ".jpe", ".rle", ".upi"})
        EXPECT_EQ("QuillViewer", Get(e)) << e;
    EXPECT_EQ("OtherApp.Jpeg", Get(".jpg\\UndoClass"));
    EXPECT_EQ("icofile", Get(".ico"));
    char exe[260];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    EXPECT_NE(std::string::npos, Get("icofile\\shell\\open\\command").find(exe));

    /* Clearing JPG again gives it back to the class it had. */
    result = Show(0x20, 1005, [&](HWND d, HWND page) {
        EXPECT_EQ(0x10001u, Data(page, 2));
        Click(page, 2, 7);
        Press(d, IDOK);
    });
    EXPECT_EQ(0x10010, result);
    for (const char *e : {".jpg", ".jpeg", ".jpe"}) EXPECT_EQ("OtherApp.Jpeg", Get(e)) << e;
    EXPECT_EQ("QuillViewer", Get(".png"));
}

TEST_F(AssociationPage, OkWithoutChangesWritesNothing)
{
    std::map<std::string, std::string> opened;
    INT_PTR result = Show(0x11, 1004, [&](HWND d, HWND page) {
        opened = Dump();
        Press(d, IDOK);
    });
    EXPECT_EQ(0x10000, result);
    EXPECT_EQ(opened, Dump());
    EXPECT_EQ("bmpfile", opened[".bmp"]) << "a type without a key got its format class";
}

TEST_F(AssociationPage, AnApplicationWithoutAClassListsNothing)
{
    auto before = Dump();
    int count = -1;
    INT_PTR result = Show(0x10, 1000, [&](HWND d, HWND page) {
        count = (int)SendMessageA(List(page), LB_GETCOUNT, 0, 0);
        SendMessageA(page, WM_COMMAND, MarkAllButton, 0);
        SendMessageA(List(page), WM_KEYDOWN, VK_SPACE, 0);
        Press(d, IDOK);
    });
    EXPECT_EQ(0, count);
    EXPECT_EQ(0x10000, result) << "no bit without a change";
    EXPECT_EQ(before, Dump());
}

TEST_F(AssociationPage, WarnsEachShowingWithoutWriteAccess)
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".jpg");
    /* An application without a class: the page itself writes no .jpg key. */
    INT_PTR result = Show(0x11, 1000, [&](HWND d, HWND) {
        HWND tab = GetDlgItem(d, 32200);
        for (int index : {1, 0}) {
            RECT r;
            SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)&r);
            LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageA(tab, WM_LBUTTONUP, 0, at);
        }
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(0, result);
    std::vector<std::string> Warnings = warnings->Texts();
    ASSERT_EQ(2u, Warnings.size());
    EXPECT_EQ("You cannot change the file associations: you have no right to write them in the "
              "registry.", Warnings[0]);
}

} // namespace
