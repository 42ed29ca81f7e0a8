/* The tree preference dialog: the tree's shape, the page protocol, help, the built-in
   pages with a lent display block, the association page and the banner's title. */
#include "prefdrive.h"
#include "boxes.h"
#include <algorithm>
#include <climits>
#include <set>

namespace {

enum { TreeControl = 32006, TestEdit = 100 };

/* A caller's page: its creation parameter is its name, which it logs "name:command". */
INT_PTR CALLBACK TreeTestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) SetWindowLongPtrA(page, GWLP_USERDATA, lParam);
    if (message != WM_COMMAND || LOWORD(wParam) == TestEdit) return message == WM_INITDIALOG;
    const char *name = reinterpret_cast<const char *>(GetWindowLongPtrA(page, GWLP_USERDATA));
    int id = LOWORD(wParam);
    PageLog.push_back(std::string(name) + ":" + std::to_string(id));
    SetWindowLongPtrA(page, DWLP_MSGRESULT, id != 10 ? 1 : Text(page, TestEdit) == "bad" ? TestEdit : 0);
    return TRUE;
}

TreePageDesc TreePage(const char *group, const char *title, const char *name = nullptr, const char *help = "",
                      DWORD context = 0, DWORD kind = 100)
{
    TreePageDesc page = {};
    page.module = name ? GetModuleHandleA(nullptr) : nullptr;
    page.kind = kind;
    strcpy(page.group, group);
    strcpy(page.title, title);
    page.procedure = name ? TreeTestPageProc : nullptr;
    page.initValue = reinterpret_cast<LPARAM>(name);
    strcpy(page.helpFile, help);
    page.helpContext = context;
    return page;
}

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item = nullptr) { return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, how, (LPARAM)item); }

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

/* The tree as text: "Root+[Child,Child]", "+" after an expanded item. */
std::string Shape(HWND tree, HTREEITEM parent = nullptr)
{
    std::string shape;
    for (HTREEITEM item = Next(tree, parent ? TVGN_CHILD : TVGN_ROOT, parent); item; item = Next(tree, TVGN_NEXT, item)) {
        shape += (shape.empty() ? "" : ",") + ItemText(tree, item);
        if (SendMessageA(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_EXPANDED) & TVIS_EXPANDED) shape += "+";
        if (Next(tree, TVGN_CHILD, item)) shape += "[" + Shape(tree, item) + "]";
    }
    return shape;
}

HTREEITEM FindItem(HWND tree, const std::string &text, HTREEITEM parent = nullptr)
{
    for (HTREEITEM item = Next(tree, parent ? TVGN_CHILD : TVGN_ROOT, parent); item; item = Next(tree, TVGN_NEXT, item)) {
        if (ItemText(tree, item) == text) return item;
        if (HTREEITEM found = FindItem(tree, text, item)) return found;
    }
    return nullptr;
}

/* Selects the item as a click would: the tree asks the host before it moves. */
void Select(HWND dialog, const std::string &text)
{
    HWND tree = GetDlgItem(dialog, TreeControl);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)FindItem(tree, text));
}

/* The visible page: the test page's name, else its caption. */
HWND VisiblePage(HWND dialog)
{
    for (HWND w = nullptr; (w = FindWindowExA(dialog, w, "#32770", nullptr));)
        if (IsWindowVisible(w)) return w;
    return nullptr;
}
std::string Shown(HWND dialog)
{
    HWND page = VisiblePage(dialog);
    char caption[64] = "";
    GetWindowTextA(page, caption, sizeof caption);
    const char *name = reinterpret_cast<const char *>(GetWindowLongPtrA(page, GWLP_USERDATA));
    return name && !strcmp(caption, "Second") ? name : caption;
}

class TreePreferences : public Preferences {};

TEST_F(TreePreferences, GroupsMakeRootsAndChildrenAndAStrayGroupARoot)
{
    std::vector<TreePageDesc> pages = {
        TreePage("General", "General", "general"), TreePage("General", "Colours", "colours"),
        TreePage("Nowhere", "Lost", "lost"),       /* names no earlier page */
        TreePage("Second", "", "captioned"),       /* its title comes from the caption */
        TreePage("Second", "Under the caption", "under"), TreePage("General", "Files & folders", "files"),
        TreePage("Colours", "Later", "later"),     /* a child's child */
    };
    std::string shape, shown, shownLost;
    bool treeFocused = false;
    EXPECT_EQ(0, ShowTree(pages, [&](HWND d) {
        shape = Shape(GetDlgItem(d, TreeControl));
        shown = Shown(d);
        treeFocused = FocusOf(d) == GetDlgItem(d, TreeControl);
        Select(d, "Lost");
        shownLost = Shown(d);
        Press(d, IDCANCEL);
    }));
    EXPECT_EQ("General+[Colours[Later],Files & folders],Lost,Second+[Under the caption]", shape);
    EXPECT_EQ("general", shown);
    EXPECT_EQ("lost", shownLost);
    EXPECT_TRUE(treeFocused);
    EXPECT_STREQ("Second", pages[3].title);
    /* Leaving the first page validates it; Cancel reaches every page in array order. */
    EXPECT_EQ((std::vector<std::string>{"general:10", "general:2", "colours:2", "lost:2", "captioned:2", "under:2",
                                        "files:2", "later:2"}),
              PageLog);
}

TEST_F(TreePreferences, AnInvalidPageKeepsTheSelectionAndOkAppliesEveryPage)
{
    std::vector<TreePageDesc> pages = {TreePage("A", "A", "a", "C:\\apps\\a.hlp>w2", 5),
                                       TreePage("A", "B", "b", "C:\\apps\\b.hlp", 77)};
    HWND edit = nullptr, focus = nullptr;
    DWORD selection = 0;
    std::string selectedAfterRefusal, shownAfterFix;
    bool openAfterOk = false;
    EXPECT_EQ(0x10000, ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl), pageA = VisiblePage(d);
        SendMessageA(d, WM_HELP, 0, 0);
        edit = GetDlgItem(pageA, TestEdit);
        SetWindowTextA(edit, "bad");
        Select(d, "B");
        selectedAfterRefusal = ItemText(tree, Next(tree, TVGN_CARET));
        focus = FocusOf(d);
        selection = (DWORD)SendMessageA(edit, EM_GETSEL, 0, 0);
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        openAfterOk = IsWindow(d) && IsWindowVisible(pageA);
        SetWindowTextA(edit, "good");
        Select(d, "B");
        shownAfterFix = Shown(d);
        SendMessageA(d, WM_COMMAND, 9, 0);
        SendMessageA(d, WM_COMMAND, 4242, 0);  /* posted on to the current page */
        Press(d, IDOK);
    }));
    EXPECT_EQ("A", selectedAfterRefusal);
    EXPECT_EQ(edit, focus);
    EXPECT_EQ(MAKELONG(0, 3), selection);
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ("b", shownAfterFix);
    EXPECT_EQ((std::vector<std::string>{"a:10", "a:10", "a:10", "b:4242", "b:10", "a:1", "b:1"}), PageLog);
    /* The page's own help file and context; ">d" added only without a window type. */
    EXPECT_EQ((std::vector<std::string>{"C:\\apps\\a.hlp>w2|1|5", "C:\\apps\\b.hlp>d|1|77"}), Help());
}

TEST_F(TreePreferences, BuiltInPagesTakeTheLentDisplayBlockAndTheAssociationPageJoins)
{
    auto getDispData = Q32_EXPORT(module, GetDispData);
    DWORD block[4] = {0x0A, 180, 180, 180}, seen[4] = {9, 9, 9, 9};
    std::vector<TreePageDesc> pages = {TreePage("", "", nullptr, "", 0, PREF_PAGE_MEMORY),
                                       TreePage("Memory", "Screen", nullptr, "", 0, PREF_PAGE_DISPLAY)};
    pages[1].initValue = reinterpret_cast<LPARAM>(block);
    std::string shape;
    bool fixedPalette = false;
    /* The tree host reports OK alone, whatever the pages stored. */
    EXPECT_EQ(0x10000, ShowTree(pages, [&](HWND d) {
        shape = Shape(GetDlgItem(d, TreeControl));
        getDispData(&seen[0], &seen[1], &seen[2], &seen[3], nullptr);
        Select(d, "Screen");
        fixedPalette = IsDlgButtonChecked(Page(d, "Display"), 2502) == BST_CHECKED;
        SetDlgItemTextA(Page(d, "Display"), 2001, "2.2");
        Press(d, IDOK);
    }));
    EXPECT_EQ("Memory+[Screen]", shape);
    EXPECT_STREQ("Memory", pages[0].title);
    EXPECT_EQ((std::vector<DWORD>{0, 1, 0, 1}), std::vector<DWORD>(seen, seen + 4));
    EXPECT_TRUE(fixedPalette);
    EXPECT_EQ((std::vector<DWORD>{0x0A, 220, 220, 220}), std::vector<DWORD>(block, block + 4));
    getDispData(&seen[0], &seen[1], &seen[2], &seen[3], nullptr);
    EXPECT_EQ((std::vector<DWORD>{1, 0, 1, 1}), std::vector<DWORD>(seen, seen + 4));
    /* No pages: refused without a dialog. */
    EXPECT_EQ(-1, showTree(nullptr, 0, pages.data()));
    EXPECT_EQ(-1, showTree(nullptr, 2, nullptr));

    /* The association page joins by either of its kinds. Without a .jpg class to write
       it warns on the showing thread before the host is visible. */
    BoxAnswerer warnings(BoxAnswerer::Uncaptioned);
    for (DWORD kind : {DWORD(PREF_PAGE_ASSOC), DWORD(PREF_PAGE_ASSOC2)}) {
        std::vector<TreePageDesc> assoc = {TreePage("", "", nullptr, "", 0, kind)};
        bool shown = false;
        ShowTree(assoc, [&](HWND d) {
            shown = Page(d, "File Types") != nullptr;
            Press(d, IDCANCEL);
        });
        EXPECT_TRUE(shown) << kind;
        EXPECT_STREQ("File Types", assoc[0].title) << kind;
    }
}

/* Above the pages and right of the tree: the banner, its grey ramp and the title's ink. */
struct BannerScan {
    int inkLeft = INT_MAX, inkRight = -1;
    std::set<int> greys;
    bool operator==(const BannerScan &o) const { return inkLeft == o.inkLeft && inkRight == o.inkRight && greys == o.greys; }
};

BannerScan Scan(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT tree, page = {}, client;
    GetWindowRect(GetDlgItem(dialog, TreeControl), &tree);
    GetWindowRect(VisiblePage(dialog), &page);
    MapWindowPoints(nullptr, dialog, (POINT *)&tree, 2);
    MapWindowPoints(nullptr, dialog, (POINT *)&page, 2);
    GetClientRect(dialog, &client);
    int left = tree.right + 1, width = client.right - left, height = page.top;
    BannerScan scan;
    if (width <= 0 || height <= 0) return scan;
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}};
    void *bits = nullptr;
    HDC screen = GetDC(dialog), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, left, 0, SRCCOPY);
    GdiFlush();
    for (int i = 0; i < width * height; i++) {
        DWORD p = static_cast<const DWORD *>(bits)[i];
        int b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
        if (r < 0x40 && g < 0x40 && b < 0x40) {
            scan.inkLeft = std::min(scan.inkLeft, i % width);
            scan.inkRight = std::max(scan.inkRight, i % width);
        } else if (r == g && g == b && r >= 0x80 && r <= 0xC0) {
            scan.greys.insert(r);
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(dialog, screen);
    return scan;
}

/* The screen once settled: two scans alike with a title on it (a bounded poll). */
BannerScan SettledScan(HWND dialog)
{
    BannerScan last = Scan(dialog), next;
    WaitFor([&] {
        next = Scan(dialog);
        bool settled = next == last && next.inkRight >= 0;
        last = next;
        return settled;
    }, 1000);
    return last;
}

TEST_F(TreePreferences, TheBannerShowsTheTitleWithItsAmpersand)
{
    std::vector<TreePageDesc> pages = {TreePage("AB", "AB", "plain"), TreePage("A&B", "A&B", "amp")};
    BannerScan plain, amp;
    ShowTree(pages, [&](HWND d) {
        plain = SettledScan(d);
        Select(d, "A&B");
        amp = SettledScan(d);
        Press(d, IDCANCEL);
    });
    ASSERT_GE(plain.inkRight, 0) << "no title drawn";
    ASSERT_GE(amp.inkRight, 0) << "no title drawn";
    /* "A&B" is wider than "AB" by the '&'; an underlined B would be as wide. */
    EXPECT_GE((amp.inkRight - amp.inkLeft) - (plain.inkRight - plain.inkLeft), 4);
    EXPECT_GE(plain.greys.size(), 16u) << "the banner ramps through the greys between its colours";
}

} // namespace
