/* The tree preference dialog: the tree's shape, the page protocol, help, and the built-in
   pages: a lent display block, a page shown twice. */
#include "prefdrive.h"

namespace {

enum { TreeControl = 32006 };

HTREEITEM Next(HWND tree, UINT how, HTREEITEM item = nullptr)
{
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, how, (LPARAM)item);
}

/* The tree as text: "Root+[Child,Child]", "+" after an expanded item. */
std::string Shape(HWND tree, HTREEITEM parent = nullptr)
{
    std::string shape;
    for (HTREEITEM item = Next(tree, parent ? TVGN_CHILD : TVGN_ROOT, parent); item;
         item = Next(tree, TVGN_NEXT, item)) {
        char text[64] = "";
        TVITEMA data = {TVIF_TEXT | TVIF_STATE, item, 0, TVIS_EXPANDED, text, sizeof text,
                        0, 0, 0, 0};
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&data);
        shape += (shape.empty() ? "" : ",") + std::string(text);
        if (data.state & TVIS_EXPANDED) shape += "+";
        if (Next(tree, TVGN_CHILD, item)) shape += "[" + Shape(tree, item) + "]";
    }
    return shape;
}

HWND VisiblePage(HWND dialog)
{
    for (HWND w = nullptr; (w = FindWindowExA(dialog, w, "#32770", nullptr));)
        if (IsWindowVisible(w)) return w;
    return nullptr;
}

/* The name of the visible test page. */
std::string Shown(HWND dialog)
{
    return reinterpret_cast<const char *>(GetWindowLongPtrA(VisiblePage(dialog), GWLP_USERDATA));
}

class TreePreferences : public Preferences {};

TEST_F(TreePreferences, GroupsMakeTheTreeAndAnInvalidPageKeepsTheSelection)
{
    /* Pages of this program named by their parameter. */
    const HMODULE own = GetModuleHandleA(nullptr);
    const DLGPROC proc = TestPageProc;
    std::vector<TreePageDesc> pages = {
        {0, own, 100, "General", "General", proc, (LPARAM)"general", "C:\\apps\\a.hlp>w2", 5},
        {0, own, 100, "General", "Colours", proc, (LPARAM)"colours", "C:\\apps\\b.hlp", 77},
        {0, own, 100, "Nowhere", "Lost", proc, (LPARAM)"lost", "", 0},  /* names no earlier page */
        {0, own, 100, "Second", "", proc, (LPARAM)"captioned", "", 0},  /* title from the caption */
        {0, own, 100, "Second", "Under the caption", proc, (LPARAM)"under", "", 0},
        {0, own, 100, "General", "Files & folders", proc, (LPARAM)"files", "", 0},
        {0, own, 100, "Colours", "Later", proc, (LPARAM)"later", "", 0},  /* a child's child */
    };
    EXPECT_EQ(0x10000, ShowTree(pages, [&](HWND d) {
        HWND tree = GetDlgItem(d, TreeControl), first = VisiblePage(d);
        HWND edit = GetDlgItem(first, TestEdit);
        /* As a click would: the tree asks the host before it moves. */
        auto colours = [&] {
            HTREEITEM item = Next(tree, TVGN_CHILD, Next(tree, TVGN_ROOT));
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        };
        EXPECT_EQ("General+[Colours[Later],Files & folders],Lost,Second+[Under the caption]",
                  Shape(tree));
        EXPECT_EQ("general", Shown(d));
        EXPECT_EQ(tree, FocusOf(d));
        SendMessageA(d, WM_HELP, 0, 0);
        SetWindowTextA(edit, "bad");
        colours();
        EXPECT_EQ(Next(tree, TVGN_ROOT), Next(tree, TVGN_CARET)) << "the selection stays";
        EXPECT_EQ(edit, FocusOf(d));
        EXPECT_EQ(MAKELONG(0, 3), SendMessageA(edit, EM_GETSEL, 0, 0));
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(IsWindow(d) && IsWindowVisible(first));
        SetWindowTextA(edit, "good");
        colours();
        EXPECT_EQ("colours", Shown(d));
        SendMessageA(d, WM_COMMAND, 9, 0);
        SendMessageA(d, WM_COMMAND, 4242, 0);  /* posted on to the current page */
        Press(d, IDOK);
    }));
    EXPECT_STREQ("Second", pages[3].title);
    /* Validation on each leave and on OK, then apply to every page in array order. */
    EXPECT_EQ((Lines{"general:10", "general:10", "general:10", "colours:4242", "colours:10",
                     "general:1", "colours:1", "lost:1", "captioned:1", "under:1", "files:1",
                     "later:1"}),
              PageLog);
    /* The page's own help file and context; ">d" added only without a window type. */
    EXPECT_EQ((Lines{"C:\\apps\\a.hlp>w2|1|5", "C:\\apps\\b.hlp>d|1|77"}), Help());
}

TEST_F(TreePreferences, BuiltInPagesTakeTheLentBlockAndKeepTheirOwnStateWhenShownTwice)
{
    DWORD block[4] = {0x0A, 180, 180, 180};
    std::vector<TreePageDesc> pages = {
        {0, 0, PREF_PAGE_MEMORY, "", "", 0, 0, "", 0},
        {0, 0, PREF_PAGE_DISPLAY, "Memory", "Screen", 0, (LPARAM)block, "", 0},
        {0, 0, PREF_PAGE_MEMORY, "", "Again", 0, 0, "", 0}};
    /* The tree host reports OK alone, whatever the pages stored. */
    EXPECT_EQ(0x10000, ShowTree(pages, [&](HWND d) {
        EXPECT_EQ("Memory+[Screen],Again", Shape(GetDlgItem(d, TreeControl)));
        EXPECT_TRUE(IsDlgButtonChecked(Page(d, "Display"), 2502)) << "the block's fixed palette";
        SetDlgItemTextA(Page(d, "Display"), 2001, "2.2");
        /* A change on the second memory page alone is stored, though the first, applied
           before it, is unchanged. */
        SetDlgItemInt(FindWindowExA(d, Page(d, "Memory"), "#32770", "Memory"), 2005, 100, FALSE);
        Press(d, IDOK);
    }));
    EXPECT_STREQ("Memory", pages[0].title);
    EXPECT_EQ((std::vector<DWORD>{0x0A, 220, 220, 220}), std::vector<DWORD>(block, block + 4));
    EXPECT_EQ(std::to_string(100 << 20), Base("MemoryLimit"));
    /* No pages: refused without a dialog. */
    EXPECT_EQ(-1, Q32_EXPORT(module, q32ShowTreePreference)(nullptr, 0, pages.data()));
    EXPECT_EQ(-1, Q32_EXPORT(module, q32ShowTreePreference)(nullptr, 2, nullptr));
}

} // namespace
