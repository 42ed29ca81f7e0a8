/* The tree preference dialog driven from a second thread: the tree's shape, the page
   protocol, help, the built-in pages with a lent display block, and the banner's title. */
#include "prefdrive.h"
#include <atomic>
#include <algorithm>
#include <climits>
#include <set>

namespace {

enum { TreeControl = 32006, TestTemplate = 100, TestEdit = 100 };

/* A caller's page: its creation parameter is its name, which it logs "name:command". */
INT_PTR CALLBACK TreeTestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(page, GWLP_USERDATA, lParam);
        return TRUE;
    }
    if (message != WM_COMMAND || LOWORD(wParam) == TestEdit) return FALSE;
    const char *name = reinterpret_cast<const char *>(GetWindowLongPtrA(page, GWLP_USERDATA));
    int id = LOWORD(wParam);
    PageLog.push_back(std::string(name ? name : "?") + ":" + std::to_string(id));
    char text[32] = "";
    GetDlgItemTextA(page, TestEdit, text, sizeof text);
    SetWindowLongPtrA(page, DWLP_MSGRESULT, id == 10 && strcmp(text, "bad") == 0 ? (int)TestEdit : (int)(id != 10));
    return TRUE;
}

TreePageDesc TreePage(const char *group, const char *title, const char *name,
                      const char *help = "", DWORD context = 0)
{
    TreePageDesc page = {};
    page.module = GetModuleHandleA(nullptr);
    page.kind = TestTemplate;
    strcpy(page.group, group);
    strcpy(page.title, title);
    page.procedure = TreeTestPageProc;
    page.initValue = reinterpret_cast<LPARAM>(name);
    strcpy(page.helpFile, help);
    page.helpContext = context;
    return page;
}

TreePageDesc BuiltInPage(DWORD kind, const char *title, DWORD *block = nullptr)
{
    TreePageDesc page = {};
    page.kind = kind;
    strcpy(page.group, title);
    strcpy(page.title, title);
    page.initValue = reinterpret_cast<LPARAM>(block);
    return page;
}

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item = nullptr)
{
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, how, (LPARAM)item);
}

std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[64] = "";
    TVITEMA data = {};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&data);
    return text;
}

/* The tree as text: "Root[Child,Child]" items, "+" after an expanded item. */
std::string Shape(HWND tree, HTREEITEM parent = nullptr)
{
    std::string shape;
    for (HTREEITEM item = parent ? Next(tree, TVGN_CHILD, parent) : Next(tree, TVGN_ROOT); item;
         item = Next(tree, TVGN_NEXT, item)) {
        if (!shape.empty()) shape += ",";
        shape += ItemText(tree, item);
        if (SendMessageA(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_EXPANDED) & TVIS_EXPANDED) shape += "+";
        if (Next(tree, TVGN_CHILD, item)) shape += "[" + Shape(tree, item) + "]";
    }
    return shape;
}

/* The names of the visible test pages. */
std::vector<std::string> VisiblePages(HWND dialog)
{
    std::vector<std::string> names;
    for (HWND w = nullptr; (w = FindWindowExA(dialog, w, "#32770", nullptr));)
        if (IsWindowVisible(w)) {
            const char *name = reinterpret_cast<const char *>(GetWindowLongPtrA(w, GWLP_USERDATA));
            char caption[64] = "";
            GetWindowTextA(w, caption, sizeof caption);
            names.push_back(name && strcmp(caption, "Second") == 0 ? name : caption);
        }
    return names;
}

/* Selects the item as a click would: the tree asks the host before it moves. */
void Select(HWND tree, HTREEITEM item) { SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item); }

HTREEITEM FindItem(HWND tree, const std::string &text, HTREEITEM parent = nullptr)
{
    for (HTREEITEM item = parent ? Next(tree, TVGN_CHILD, parent) : Next(tree, TVGN_ROOT); item;
         item = Next(tree, TVGN_NEXT, item)) {
        if (ItemText(tree, item) == text) return item;
        if (HTREEITEM found = FindItem(tree, text, item)) return found;
    }
    return nullptr;
}

class TreePreferences : public Preferences {
protected:
    INT_PTR ShowTree(std::vector<TreePageDesc> &pages, const std::function<void(HWND)> &script)
    {
        return Drive([&] { return showTree(nullptr, (int)pages.size(), pages.data()); }, script);
    }
};

TEST_F(TreePreferences, GroupsMakeRootsAndChildrenAndAStrayGroupARoot)
{
    std::vector<TreePageDesc> pages = {
        TreePage("General", "General", "general"),
        TreePage("General", "Colours", "colours"),
        TreePage("Nowhere", "Lost", "lost"),       /* names no earlier page */
        TreePage("Second", "", "captioned"),       /* its title comes from the caption */
        TreePage("Second", "Under the caption", "under"),
        TreePage("General", "Files & folders", "files"),
        TreePage("Colours", "Later", "later"),     /* a child's child */
    };
    std::string shape;
    std::vector<std::string> shown, shownLost;
    bool treeFocused = false;
    INT_PTR result = ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl);
        shape = Shape(tree);
        shown = VisiblePages(d);
        treeFocused = FocusOf(d) == tree;
        Select(tree, FindItem(tree, "Lost"));
        shownLost = VisiblePages(d);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shape, "General+[Colours[Later],Files & folders],Lost,Second+[Under the caption]");
    EXPECT_EQ(shown, std::vector<std::string>{"general"});
    EXPECT_EQ(shownLost, std::vector<std::string>{"lost"});
    EXPECT_TRUE(treeFocused);
    EXPECT_STREQ(pages[3].title, "Second");
    /* Leaving the first page validates it; Cancel reaches every page in array order. */
    EXPECT_EQ(PageLog, (std::vector<std::string>{"general:10", "general:2", "colours:2", "lost:2", "captioned:2",
                                                 "under:2", "files:2", "later:2"}));
}

TEST_F(TreePreferences, AnInvalidPageKeepsTheSelectionAndOkAppliesEveryPage)
{
    std::vector<TreePageDesc> pages = {
        TreePage("A", "A", "a", "C:\\apps\\a.hlp>w2", 5),
        TreePage("A", "B", "b", "C:\\apps\\b.hlp", 77),
    };
    HWND edit = nullptr, focus = nullptr;
    DWORD selection = 0;
    std::string selectedAfterRefusal;
    bool openAfterOk = false;
    std::vector<std::string> shownAfterFix;
    INT_PTR result = ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl);
        SendMessageA(d, WM_HELP, 0, 0);
        HWND pageA = nullptr;
        for (HWND w = nullptr; (w = FindWindowExA(d, w, "#32770", nullptr));)
            if (IsWindowVisible(w)) pageA = w;
        edit = GetDlgItem(pageA, TestEdit);
        SetWindowTextA(edit, "bad");
        Select(tree, FindItem(tree, "B"));
        selectedAfterRefusal = ItemText(tree, Next(tree, TVGN_CARET));
        focus = FocusOf(d);
        selection = (DWORD)SendMessageA(edit, EM_GETSEL, 0, 0);
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        openAfterOk = IsWindow(d) && IsWindowVisible(pageA);
        SetWindowTextA(edit, "good");
        Select(tree, FindItem(tree, "B"));
        shownAfterFix = VisiblePages(d);
        SendMessageA(d, WM_COMMAND, 9, 0);
        SendMessageA(d, WM_COMMAND, 4242, 0);  /* posted on to the current page */
        Press(d, IDOK);
    });
    EXPECT_EQ(result, 0x10000);
    EXPECT_EQ(selectedAfterRefusal, "A");
    EXPECT_EQ(focus, edit);
    EXPECT_EQ(selection, MAKELONG(0, 3));
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(shownAfterFix, std::vector<std::string>{"b"});
    EXPECT_EQ(PageLog, (std::vector<std::string>{"a:10", "a:10", "a:10", "b:4242", "b:10", "a:1", "b:1"}));
    /* The page's own help file and context; ">d" added only without a window type. */
    EXPECT_EQ(ReadLines(dir / "help.log"),
              (std::vector<std::string>{"C:\\apps\\a.hlp>w2|1|5", "C:\\apps\\b.hlp>d|1|77"}));
}

TEST_F(TreePreferences, BuiltInPagesTakeTheLentDisplayBlockWhichIsForgottenOnReturn)
{
    auto getDispData = module.Get<decltype(GetDispData)>("GetDispData");
    ASSERT_TRUE(getDispData);
    DWORD block[4] = {0x0A, 180, 180, 180};
    std::vector<TreePageDesc> pages = {BuiltInPage(PREF_PAGE_MEMORY, ""), BuiltInPage(PREF_PAGE_DISPLAY, "Screen", block)};
    strcpy(pages[1].group, "Memory");
    DWORD seen[4] = {9, 9, 9, 9};
    std::string shape;
    bool fixedPaletteChecked = false;
    INT_PTR result = ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl);
        shape = Shape(tree);
        getDispData(&seen[0], &seen[1], &seen[2], &seen[3], nullptr);
        Select(tree, FindItem(tree, "Screen"));
        HWND display = Page(d, "Display");
        fixedPaletteChecked = IsDlgButtonChecked(display, 2502) == BST_CHECKED;
        SetDlgItemTextA(display, 2001, "2.2");
        Press(d, IDOK);
    });
    /* The tree host reports OK alone, whatever the pages stored. */
    EXPECT_EQ(result, 0x10000);
    EXPECT_EQ(shape, "Memory+[Screen]");
    EXPECT_STREQ(pages[0].title, "Memory");
    EXPECT_EQ(std::vector<DWORD>(seen, seen + 4), (std::vector<DWORD>{0, 1, 0, 1}));
    EXPECT_TRUE(fixedPaletteChecked);
    EXPECT_EQ(std::vector<DWORD>(block, block + 4), (std::vector<DWORD>{0x0A, 220, 220, 220}));
    getDispData(&seen[0], &seen[1], &seen[2], &seen[3], nullptr);
    EXPECT_EQ(std::vector<DWORD>(seen, seen + 4), (std::vector<DWORD>{1, 0, 1, 1}));
    /* No pages: refused without a dialog. */
    EXPECT_EQ(showTree(nullptr, 0, pages.data()), -1);
    EXPECT_EQ(showTree(nullptr, 2, nullptr), -1);
}

TEST_F(TreePreferences, TheAssociationPageJoinsByEitherOfItsKinds)
{
    /* Without a .jpg class to write, the page warns as it is shown, before the host is
       visible: a watcher answers the warning on the showing thread. */
    DWORD self = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            EnumThreadWindows(self, [](HWND w, LPARAM) -> BOOL {
                char name[16] = "", title[8] = "x";
                GetClassNameA(w, name, sizeof name);
                GetWindowTextA(w, title, sizeof title);
                if (!strcmp(name, "#32770") && !title[0] && IsWindowVisible(w))
                    PostMessageA(w, WM_COMMAND, IDOK, 0);
                return TRUE;
            }, 0);
            Sleep(20);
        }
    });
    for (DWORD kind : {DWORD(PREF_PAGE_ASSOC), DWORD(PREF_PAGE_ASSOC2)}) {
        std::vector<TreePageDesc> pages = {BuiltInPage(kind, "")};
        bool shown = false;
        ShowTree(pages, [&](HWND d) {
            shown = Page(d, "File Types") != nullptr;
            Press(d, IDCANCEL);
        });
        EXPECT_TRUE(shown) << kind;
        EXPECT_STREQ(pages[0].title, "File Types") << kind;
    }
    done = true;
    watcher.join();
}

/* The host's client area above the pages and right of the tree: the banner and title. */
struct BannerScan {
    int inkLeft = INT_MAX, inkRight = -1;  /* columns of dark (text) pixels */
    std::set<int> rampGreys;               /* grey levels from 0x80 to 0xC0 */
};

BannerScan ScanOnce(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT tree, page = {};
    GetWindowRect(GetDlgItem(dialog, TreeControl), &tree);
    for (HWND w = nullptr; (w = FindWindowExA(dialog, w, "#32770", nullptr));)
        if (IsWindowVisible(w)) GetWindowRect(w, &page);
    MapWindowPoints(nullptr, dialog, (POINT *)&tree, 2);
    MapWindowPoints(nullptr, dialog, (POINT *)&page, 2);
    RECT client;
    GetClientRect(dialog, &client);
    int left = tree.right + 1, width = client.right - left, height = page.top;
    BannerScan scan;
    if (width <= 0 || height <= 0) return scan;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void *bits = nullptr;
    HDC screen = GetDC(dialog), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, left, 0, SRCCOPY);
    GdiFlush();
    const DWORD *pixels = static_cast<const DWORD *>(bits);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            DWORD p = pixels[(size_t)y * width + x];
            int b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
            if (r < 0x40 && g < 0x40 && b < 0x40) {
                scan.inkLeft = std::min(scan.inkLeft, x);
                scan.inkRight = std::max(scan.inkRight, x);
            } else if (r == g && g == b && r >= 0x80 && r <= 0xC0) {
                scan.rampGreys.insert(r);
            }
        }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(dialog, screen);
    return scan;
}

/* The screen as it settles: two scans alike with a title on it. */
BannerScan ScanBanner(HWND dialog)
{
    BannerScan last = ScanOnce(dialog);
    for (int i = 0; i < 20; i++) {
        Sleep(50);
        BannerScan next = ScanOnce(dialog);
        bool same = next.inkLeft == last.inkLeft && next.inkRight == last.inkRight &&
                    next.rampGreys == last.rampGreys;
        last = next;
        if (same && last.inkRight >= 0) break;
    }
    return last;
}

TEST_F(TreePreferences, TheBannerShowsTheTitleWithItsAmpersand)
{
    std::vector<TreePageDesc> pages = {TreePage("AB", "AB", "plain"), TreePage("A&B", "A&B", "amp")};
    BannerScan plain, amp;
    ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl);
        plain = ScanBanner(d);
        Select(tree, FindItem(tree, "A&B"));
        amp = ScanBanner(d);
        Press(d, IDCANCEL);
    });
    ASSERT_GE(plain.inkRight, 0) << "no title drawn";
    ASSERT_GE(amp.inkRight, 0) << "no title drawn";
    /* "A&B" is wider than "AB" by the '&'; an underlined B would be as wide. */
    EXPECT_GE((amp.inkRight - amp.inkLeft) - (plain.inkRight - plain.inkLeft), 4);
    /* The banner ramps through the greys between its two colours. */
    EXPECT_GE(plain.rampGreys.size(), 16u);
}

} // namespace
