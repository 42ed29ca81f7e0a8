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
#include <set>
#include <string>
#include <vector>

using namespace q32test;

namespace {

enum { FormatList = 32241, ExtensionsButton = 2601, MarkAllButton = 2602 };

/* The GDI objects that q32File.dll makes and has not deleted, counted through its import
   table (GetGuiResources answers 0 under Wine). */
struct GdiCount {
    static inline std::set<HGDIOBJ> live;
    static HGDIOBJ Made(HGDIOBJ object)
    {
        if (object) live.insert(object);
        return object;
    }
    static HDC WINAPI CompatibleDC(HDC dc) { return (HDC)Made(CreateCompatibleDC(dc)); }
    static HBRUSH WINAPI SolidBrush(COLORREF colour) { return (HBRUSH)Made(CreateSolidBrush(colour)); }
    static HANDLE WINAPI Image(HINSTANCE module, LPCSTR name, UINT type, int w, int h, UINT flags)
    {
        HANDLE image = LoadImageA(module, name, type, w, h, flags);
        return type == IMAGE_BITMAP ? (HANDLE)Made((HGDIOBJ)image) : image;
    }
    static BOOL WINAPI DeleteDc(HDC dc)
    {
        live.erase(dc);
        return DeleteDC(dc);
    }
    static BOOL WINAPI Delete(HGDIOBJ object)
    {
        live.erase(object);
        return DeleteObject(object);
    }

    /* Points module's import of dll!function at replacement. */
    static bool Redirect(HMODULE module, const char *dll, const char *function, const void *replacement)
    {
        auto base = reinterpret_cast<BYTE *>(module);
        auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
        for (; dir.VirtualAddress && import->Name; import++) {
            if (lstrcmpiA(reinterpret_cast<char *>(base + import->Name), dll)) continue;
            auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
            auto slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
            for (; names->u1.AddressOfData; names++, slots++) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (strcmp(reinterpret_cast<char *>(byName->Name), function)) continue;
                DWORD old;
                VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
                VirtualProtect(&slots->u1.Function, sizeof(void *), old, &old);
                return true;
            }
        }
        return false;
    }
    static bool Watch(HMODULE module)
    {
        return Redirect(module, "gdi32.dll", "CreateCompatibleDC", (const void *)CompatibleDC) &&
               Redirect(module, "gdi32.dll", "DeleteDC", (const void *)DeleteDc) &&
               Redirect(module, "gdi32.dll", "DeleteObject", (const void *)Delete) &&
               Redirect(module, "gdi32.dll", "CreateSolidBrush", (const void *)SolidBrush) &&
               Redirect(module, "user32.dll", "LoadImageA", (const void *)Image);
    }
};

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

TEST_F(AssociationPage, LookingAtThePageWritesNothing)
{
    /* What opening the page used to tidy: a type without a class, an icon type naming
       another class, another program's shell-made class. */
    Set(".ico", "OtherApp.Icon");
    Set(".png", "png_auto_file");
    Set("png_auto_file\\shell\\open\\command", "\"c:\\other\\paint.exe\" \"%1\"");
    std::string before = ExportClasses(), opened;
    for (int button : {IDCANCEL, IDOK}) {
        INT_PTR result = Show(0x11, 1004, [&](HWND d, HWND page) {
            opened = ExportClasses();
            Press(d, button);
        });
        EXPECT_EQ(button == IDOK ? 0x10000 : 0, result);
        EXPECT_EQ(before, opened) << button;
        EXPECT_EQ(before, ExportClasses()) << button;
    }
    printf("HKEY_CLASSES_ROOT export: %zu bytes before, %zu after Cancel and OK, %s\n",
           before.size(), ExportClasses().size(), before == ExportClasses() ? "identical" : "CHANGED");

    /* A change applied tidies every type, keeping the classes it replaces. */
    INT_PTR result = Show(0x11, 1004, [&](HWND d, HWND page) {
        Click(page, 0, 7);
        Press(d, IDOK);
    });
    EXPECT_EQ(0x10010, result);
    EXPECT_EQ("icofile", Get(".ico"));
    EXPECT_EQ("OtherApp.Icon", Get(".ico\\UndoClass"));
    EXPECT_EQ("pngfile", Get(".png"));
    EXPECT_EQ("png_auto_file", Get(".png\\UndoClass"));
    EXPECT_NE("<none>", Get("png_auto_file\\shell\\open\\command"));
}

TEST_F(AssociationPage, TwoPagesInATreeHostKeepAStateEachAndLeakNoGdiObjects)
{
    auto showTree = Q32_EXPORT(module, q32ShowTreePreference);
    AssociationPageParam param = {"Test Viewer", "KD3.Image", {}};
    TreePageDesc pages[2] = {};
    const DWORD kinds[2] = {PREF_PAGE_ASSOC, PREF_PAGE_ASSOC2};
    for (int i = 0; i < 2; i++) {
        pages[i].kind = kinds[i];
        snprintf(pages[i].group, sizeof pages[i].group, "Types %d", i);
        strcpy(pages[i].title, pages[i].group);
        pages[i].initValue = (LPARAM)&param;
    }
    auto open = [&](const std::function<void(HWND, HWND, HWND)> &script) {
        return DriveDialog([&] { return showTree(nullptr, 2, pages); }, [&](HWND d) {
            HWND first = FindWindowExA(d, nullptr, "#32770", "File Types");
            script(d, first, FindWindowExA(d, first, "#32770", "File Types"));
        }, "Preferences");
    };
    DWORD first = 0, second = 0;
    open([&](HWND d, HWND a, HWND b) {
        ASSERT_TRUE(a && b);
        Click(a, 1, 7);
        first = Data(a, 1);
        second = Data(b, 1);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(1u, first) << "the mark of the page clicked";
    EXPECT_EQ(0u, second) << "the other page's mark";

    ASSERT_TRUE(GdiCount::Watch(module.handle()));
    GdiCount::live.clear();
    DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 100; i++) open([](HWND d, HWND, HWND) { Press(d, IDCANCEL); });
    DWORD after = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    printf("GDI objects (GetGuiResources): %lu before, %lu after 100 opens and closes of the "
           "host\n", before, after);
    printf("GDI objects q32File.dll made and did not delete in those 100: %zu\n",
           GdiCount::live.size());
    EXPECT_LE(after, before);
    EXPECT_EQ(0u, GdiCount::live.size());
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
