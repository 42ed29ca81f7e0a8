/* The tabbed preference dialog driven from a second thread: tabs, the page protocol,
   validation when leaving a page, results, the remembered tab, help and the memory page. */
#include "prefdrive.h"

namespace {

enum { TabControl = 32200, TestTemplate = 100, TestEdit = 100 };

/* Pages created so far; each page's edit shows its creation number. */
int PagesCreated;

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) SetDlgItemInt(page, TestEdit, (UINT)PagesCreated++, FALSE);
    if (message != WM_COMMAND) return message == WM_INITDIALOG;
    char title[64] = "";
    GetWindowTextA(page, title, sizeof title);
    int id = LOWORD(wParam);
    if (id == 10 || id == 1 || id == 2) PageLog.push_back(std::string(title) + ":" + std::to_string(id));
    if (id == 10) {
        char text[32] = "";
        GetDlgItemTextA(page, TestEdit, text, sizeof text);
        SetWindowLongPtrA(page, DWLP_MSGRESULT, strcmp(text, "bad") == 0 ? TestEdit : 0);
        return TRUE;
    }
    if (id == 1 || id == 2) {
        SetWindowLongPtrA(page, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    return FALSE;
}

PreferenceExtraPage TestPage(const char *title)
{
    return {GetModuleHandleA(nullptr), TestTemplate, title, TestPageProc};
}

std::vector<std::string> TabTexts(HWND dialog)
{
    HWND tab = GetDlgItem(dialog, TabControl);
    std::vector<std::string> texts;
    int n = (int)SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        char text[64] = "";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, (LPARAM)&item);
        texts.push_back(text);
    }
    return texts;
}

int CurrentTab(HWND dialog) { return (int)SendMessageA(GetDlgItem(dialog, TabControl), TCM_GETCURSEL, 0, 0); }

/* Clicks a tab as the user would: the tab control sends its own notifications. */
void ClickTab(HWND dialog, int index)
{
    HWND tab = GetDlgItem(dialog, TabControl);
    RECT r;
    SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)&r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tab, WM_LBUTTONUP, 0, at);
}

TEST_F(Preferences, ExtraPagesComeFirstThenTheMemoryPage)
{
    std::vector<std::string> tabs;
    PagesCreated = 0;
    INT_PTR result = Show({TestPage("First"), TestPage(nullptr)}, 0x01, [&](HWND d) {
        tabs = TabTexts(d);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tabs, (std::vector<std::string>{"First", "Second", "Memory"}));
    /* Cancel reaches every page in position order; the memory page is not logged. */
    EXPECT_EQ(PageLog, (std::vector<std::string>{"Second:2", "Second:2"}));
}

TEST_F(Preferences, MoreThanTenPagesAreLeftOutInsteadOfOverrunningTheTable)
{
    std::vector<PreferenceExtraPage> pages(12, TestPage(nullptr));
    std::vector<std::string> tabs;
    INT_PTR result = Show(pages, 0x01, [&](HWND d) {
        tabs = TabTexts(d);
        Press(d, IDOK);
    });
    EXPECT_EQ(result, 0x10000);
    EXPECT_EQ(tabs.size(), 10u);
}

TEST_F(Preferences, LeavingAnInvalidPageKeepsItWithTheEditSelected)
{
    HWND edit = nullptr, focus = nullptr;
    int tabAfterClick = -1, tabAfterOk = -1;
    DWORD selection = 0;
    bool openAfterOk = false;
    INT_PTR result = Show({TestPage("First"), TestPage("Other")}, 0, [&](HWND d) {
        HWND page = Page(d, "Second");
        edit = GetDlgItem(page, TestEdit);
        SetWindowTextA(edit, "bad");
        ClickTab(d, 1);
        tabAfterClick = CurrentTab(d);
        focus = FocusOf(d);
        selection = (DWORD)SendMessageA(edit, EM_GETSEL, 0, 0);
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        openAfterOk = IsWindow(d) && IsWindowVisible(page);
        tabAfterOk = CurrentTab(d);
        SetWindowTextA(edit, "good");
        ClickTab(d, 1);
        EXPECT_EQ(CurrentTab(d), 1);
        Press(d, IDOK);
    });
    EXPECT_EQ(tabAfterClick, 0);
    EXPECT_EQ(focus, edit);
    EXPECT_EQ(LOWORD(selection), 0);
    EXPECT_EQ(HIWORD(selection), 3);
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(tabAfterOk, 0);
    EXPECT_EQ(result, 0x10000);
    /* Validation on each leave, then apply to every page in position order. */
    EXPECT_EQ(PageLog, (std::vector<std::string>{"Second:10", "Second:10", "Second:10",
                                                 "Second:10", "Second:1", "Second:1"}));
}

TEST_F(Preferences, ReopeningShowsTheTabLastShownOrTheFirst)
{
    Show({TestPage("A"), TestPage("B"), TestPage("C")}, 0, [&](HWND d) {
        ClickTab(d, 2);
        Press(d, IDCANCEL);
    });
    int reopened = -1, fewer = -1;
    bool shown = false;
    PagesCreated = 0;
    Show({TestPage("A"), TestPage("B"), TestPage("C")}, 0, [&](HWND d) {
        reopened = CurrentTab(d);
        int visible = 0, shownNumber = -1;
        for (HWND w = nullptr; (w = FindWindowExA(d, w, "#32770", "Second"));)
            if (IsWindowVisible(w)) {
                visible++;
                shownNumber = (int)GetDlgItemInt(w, TestEdit, nullptr, FALSE);
            }
        shown = visible == 1 && shownNumber == 2;
        Press(d, IDCANCEL);
    });
    Show({TestPage("A")}, 0, [&](HWND d) {
        fewer = CurrentTab(d);
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(reopened, 2);
    EXPECT_TRUE(shown);
    EXPECT_EQ(fewer, 0);
}

TEST_F(Preferences, HelpContextFollowsTheCurrentTab)
{
    Show({TestPage("A"), TestPage("B")}, 0, [&](HWND d) {
        SendMessageA(d, WM_COMMAND, 9, 0);
        ClickTab(d, 1);
        SendMessageA(d, WM_COMMAND, 9, 0);
        Press(d, IDCANCEL);
    });
    const PreferenceAppInfo plain = {0, 1003, "C:\\apps\\own.hlp", 700};
    const PreferenceAppInfo windowed = {0, 1003, "C:\\apps\\own.hlp>w2", 900};
    Show({TestPage("A"), TestPage("B")}, 0, [&](HWND d) {
        SendMessageA(d, WM_COMMAND, 9, 0);
        Press(d, IDCANCEL);
    }, &plain);
    Show({TestPage("A"), TestPage("B")}, 0, [&](HWND d) {
        SendMessageA(d, WM_HELP, 0, 0);
        Press(d, IDCANCEL);
    }, &windowed);
    std::vector<std::string> lines = ReadLines(dir / "help.log");
    ASSERT_EQ(lines.size(), 4u);
    /* Without an application block: the module's folder (no application file), 532 + tab. */
    std::string folder = Join(dir.path(), "mod") + "\\";
    EXPECT_EQ(lines[0], folder + "|1|532");
    EXPECT_EQ(lines[1], folder + "|1|533");
    /* The tab last shown (1) is current again. */
    EXPECT_EQ(lines[2], "C:\\apps\\own.hlp>d|1|701");
    EXPECT_EQ(lines[3], "C:\\apps\\own.hlp>w2|1|901");
}

/* The memory page's limits: what OK stores in the library's and the module's settings. */
class MemoryPage : public Preferences {
protected:
    std::string baseIniPath = dir / "q32base.ini";

    std::string Base(const char *key)
    {
        char text[64] = "";
        GetPrivateProfileStringA("VirtualMemory", key, "<none>", text, sizeof text, baseIniPath.c_str());
        return text;
    }
    std::string Module(const char *key)
    {
        char text[300] = "";
        GetPrivateProfileStringA("VMFolder", key, "<none>", text, sizeof text, ini.c_str());
        return text;
    }
    /* Runs the dialog with the memory page; edit sets the page's controls before OK. */
    INT_PTR RunMemory(const std::function<void(HWND)> &edit, std::string *lastError = nullptr,
                      HWND *focusAfterOk = nullptr, HWND *expectedFocus = nullptr, int focusId = 0)
    {
        return Show({}, 0x01, [&](HWND d) {
            HWND page = Page(d, "Memory");
            ASSERT_TRUE(page);
            edit(page);
            SendMessageA(d, WM_COMMAND, IDOK, 0);
            if (IsWindow(d)) {
                if (focusAfterOk) *focusAfterOk = FocusOf(d);
                if (expectedFocus) *expectedFocus = GetDlgItem(page, focusId);
                if (lastError) {
                    std::vector<std::string> lines = ReadLines(dir / "mb.log");
                    *lastError = lines.empty() ? "" : lines.back();
                }
                Press(d, IDCANCEL);
            }
        });
    }
};

TEST_F(MemoryPage, UnchangedPageStoresNothing)
{
    EXPECT_EQ(RunMemory([](HWND) {}), 0x10000);
    EXPECT_EQ(Base("DiskLimit"), "<none>");
    EXPECT_EQ(Module("VMDiskLimit"), "<none>");
}

TEST_F(MemoryPage, LimitsAreStoredInBytesAndKilobytesAndTheFreeSumAsDefault)
{
    int sum = 0;
    ASSERT_EQ(RunMemory([&](HWND page) {
        int low = 0, high = 0;
        SendDlgItemMessageA(page, 2401, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&high);
        sum = high;
        SetDlgItemInt(page, 2004, (UINT)sum, FALSE); /* the free-space sum: the default */
        SetDlgItemInt(page, 2005, 100, FALSE);
    }), 0x10001);
    ASSERT_GT(sum, 100);
    EXPECT_EQ(Base("DiskLimit"), "-1");
    EXPECT_EQ(Base("UseDiskLimit"), "1");
    EXPECT_EQ(Base("MemoryLimit"), std::to_string(100 << 20));
    EXPECT_EQ(Base("UseMemoryLimit"), "1");
    EXPECT_EQ(Module("VMDiskLimit"), "-1");
    EXPECT_EQ(Module("VMMemLimit"), "102400");
    EXPECT_EQ(Module("VMMemLimitOn"), "1");
    EXPECT_EQ(Module("VMEnable"), "1");
    EXPECT_EQ(Module("VMUseFolder1"), "0");

    /* 2048 MB and more are stored and shown as entered (the byte field read without
       sign), where the machine has that much memory. */
    int physical = 0, shown = 0;
    RunMemory([&](HWND page) {
        int low = 0;
        SendDlgItemMessageA(page, 2402, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&physical);
        if (physical > 3000) SetDlgItemInt(page, 2005, 3000, FALSE);
    });
    if (physical <= 3000) return;
    EXPECT_EQ(Module("VMMemLimit"), "3072000");
    RunMemory([&](HWND page) { shown = (int)GetDlgItemInt(page, 2005, nullptr, FALSE); });
    EXPECT_EQ(3000, shown);
}

TEST_F(MemoryPage, TwoPagesInOneDialogKeepTheirOwnState)
{
    /* The tree host shows the page twice when asked twice: a change on the second alone is
       stored, though the first, applied before it, is unchanged. */
    std::vector<TreePageDesc> pages(2);
    for (TreePageDesc &page : pages) page.kind = PREF_PAGE_MEMORY;
    strcpy(pages[1].title, "Again");
    bool found = false;
    EXPECT_EQ(Drive([&] { return showTree(nullptr, 2, pages.data()); }, [&](HWND d) {
        HWND second = FindWindowExA(d, Page(d, "Memory"), "#32770", "Memory");
        found = second != nullptr;
        SetDlgItemInt(second, 2005, 100, FALSE);
        Press(d, IDOK);
    }), 0x10000);
    EXPECT_TRUE(found);
    EXPECT_EQ(Base("MemoryLimit"), std::to_string(100 << 20));
}

TEST_F(MemoryPage, WorkFolderOnAFixedDiskIsStored)
{
    std::string folder = dir / "work";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_EQ(RunMemory([&](HWND page) { SetDlgItemTextA(page, 2002, folder.c_str()); }), 0x10001);
    EXPECT_EQ(Base("Folder2"), folder);
    EXPECT_EQ(Base("UseFolder2"), "1");
    EXPECT_EQ(Module("VMFolder2"), folder);
    EXPECT_EQ(Module("VMUseFolder2"), "1");
}

TEST_F(MemoryPage, RefusalsNameTheReasonAndFocusTheControl)
{
    const struct {
        const char *name;
        std::function<void(HWND)> edit;
        const char *error;  /* start of the recorded message box line */
        const char *extra;  /* part of its text */
        int focus;
    } cases[] = {
        {"network folder", [](HWND p) { SetDlgItemTextA(p, 2001, "\\\\server\\share\\work"); },
         "4018|703|1710|460|", "is not on a local hard disk", 2001},
        {"missing folder", [&](HWND p) { SetDlgItemTextA(p, 2003, (dir / "absent").c_str()); },
         "4018|703|1710|460|", "does not exist", 2003},
        {"all boxes off", [](HWND p) { CheckDlgButton(p, 2501, BST_UNCHECKED);
                                       SendMessageA(p, WM_COMMAND, MAKEWPARAM(2501, BN_CLICKED), 0); },
         "31406|703|1710|429|", "", 2501},
        {"disk limit above the sum", [](HWND p) { SetDlgItemTextA(p, 2004, "99999"); },
         "3200|703|1710|511|", "disk space limit", 2004},
        {"memory limit not a number", [](HWND p) { SetDlgItemTextA(p, 2005, ""); },
         "3200|703|1710|520|", "memory limit", 2005},
        {"1 MB in all", [](HWND p) { CheckDlgButton(p, 2505, BST_CHECKED); CheckDlgButton(p, 2506, BST_CHECKED);
                                     SetDlgItemTextA(p, 2004, "1"); SetDlgItemTextA(p, 2005, "0"); },
         "3200|703|1710|475|", "", 2005},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA((dir / "mb.log").c_str());
        std::string error;
        HWND focus = nullptr, expected = nullptr;
        EXPECT_EQ(RunMemory(c.edit, &error, &focus, &expected, c.focus), 0);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_NE(error.find(c.extra), std::string::npos) << error;
        EXPECT_EQ(focus, expected);
        EXPECT_EQ(Base("DiskLimit"), "<none>");
    }
}

TEST_F(MemoryPage, NetworkFolderSwitchedOffIsEmptiedSilently)
{
    ASSERT_EQ(RunMemory([](HWND p) {
        SetDlgItemTextA(p, 2001, "\\\\server\\share");
        CheckDlgButton(p, 2502, BST_UNCHECKED);
    }), 0x10001);
    EXPECT_EQ(Base("Folder1"), "");
    EXPECT_EQ(Base("UseFolder1"), "0");
    EXPECT_TRUE(ReadLines(dir / "mb.log").empty());
}

TEST_F(MemoryPage, BrowseButtonsTakeTheChosenFolderAndSwitchItOn)
{
    std::string chosen = dir / "chosen";
    CreateDirectoryA(chosen.c_str(), nullptr);
    ScopedEnv log{"Q32BROWS_LOG", dir / "brows.log"};
    std::string cancelledText;
    bool cancelledBox = true;
    ASSERT_EQ(RunMemory([&](HWND page) {
        SetDlgItemTextA(page, 2002, "C:\\start");
        SetEnvironmentVariableA("Q32BROWS_AUTO", ("=" + chosen).c_str());
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(2602, BN_CLICKED), (LPARAM)GetDlgItem(page, 2602));
        SetEnvironmentVariableA("Q32BROWS_AUTO", "cancel");
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(2603, BN_CLICKED), (LPARAM)GetDlgItem(page, 2603));
        char text[300] = "";
        GetDlgItemTextA(page, 2003, text, sizeof text);
        cancelledText = text;
        cancelledBox = IsDlgButtonChecked(page, 2504) == BST_CHECKED;
    }), 0x10001);
    /* The folder browser starts at the edit's text. */
    EXPECT_EQ(ReadLines(dir / "brows.log"), (std::vector<std::string>{"folder|C:\\start", "folder|"}));
    EXPECT_EQ(Base("Folder2"), chosen);
    EXPECT_EQ(Base("UseFolder2"), "1");
    EXPECT_EQ(cancelledText, "");
    EXPECT_FALSE(cancelledBox);
    EXPECT_EQ(Base("UseFolder3"), "0");
}

/* The display page: gamma validation, what OK stores, and the notice to Q32FIDO.DLL. */
class DisplayPage : public Preferences {
protected:
    ScopedEnv fidoLog{"Q32FIDO_LOG", dir / "fido.log"};

    std::string Setting(const char *key)
    {
        char text[64] = "";
        GetPrivateProfileStringA("Display", key, "<none>", text, sizeof text, ini.c_str());
        return text;
    }
    /* Runs the dialog with flags 0x02; edit sets the page before OK. When OK is refused,
       the last message box line is kept and the dialog cancelled. */
    INT_PTR RunDisplay(const std::function<void(HWND)> &edit, std::string *refusal = nullptr,
                       bool *editFocused = nullptr, DWORD *block = nullptr)
    {
        auto script = [&](HWND d) {
            HWND page = Page(d, "Display");
            ASSERT_TRUE(page);
            edit(page);
            SendMessageA(d, WM_COMMAND, IDOK, 0);
            if (IsWindow(d)) {
                if (editFocused) *editFocused = FocusOf(d) == GetDlgItem(page, 2001);
                std::vector<std::string> lines = ReadLines(dir / "mb.log");
                if (refusal) *refusal = lines.empty() ? "" : lines.back();
                Press(d, IDCANCEL);
            }
        };
        if (block) return Drive([&] { return showWithBlock(nullptr, 0, nullptr, 0x02, nullptr, block); }, script);
        return Show({}, 0x02, script);
    }
};

TEST_F(DisplayPage, MemoryThenDisplayTabs)
{
    std::vector<std::string> tabs;
    EXPECT_EQ(Show({}, 0x03, [&](HWND d) { tabs = TabTexts(d); Press(d, IDOK); }), 0x10000);
    EXPECT_EQ(tabs, (std::vector<std::string>{"Memory", "Display"}));
}

TEST_F(DisplayPage, GammaOutsideTheRangeOrNotANumberIsRefused)
{
    for (const char *text : {"0.00", "8.00", "1.8x", "abc", ""}) {
        SCOPED_TRACE(text);
        DeleteFileA((dir / "mb.log").c_str());
        std::string refusal;
        bool focused = false;
        EXPECT_EQ(RunDisplay([&](HWND p) { SetDlgItemTextA(p, 2001, text); }, &refusal, &focused), 0);
        EXPECT_EQ(refusal.rfind("3200|703|1711|336|", 0), 0u) << refusal;
        EXPECT_NE(refusal.find("gamma"), std::string::npos) << refusal;
        EXPECT_TRUE(focused);
        EXPECT_EQ(Setting("GammaRed"), "<none>");
    }
}

TEST_F(DisplayPage, GammaIsStoredAndAnnouncedOnlyWhenGammaOrItsSwitchChanged)
{
    const struct {
        const char *name;
        std::function<void(HWND)> edit;
        const char *gamma, *dither, *correction;
        bool notice;
    } steps[] = {
        {"nothing changed", [](HWND) {}, "<none>", "<none>", "<none>", false},
        {"0.01", [](HWND p) { SetDlgItemTextA(p, 2001, "0.01"); }, "1", "1", "1", true},
        {"7.99", [](HWND p) { SetDlgItemTextA(p, 2001, "7.99"); }, "799", "1", "1", true},
        {"dither only", [](HWND p) { CheckDlgButton(p, 2501, BST_UNCHECKED);
                                     SendMessageA(p, WM_COMMAND, MAKEWPARAM(2501, BN_CLICKED), 0); },
         "799", "0", "1", false},
        {"correction off", [](HWND p) { CheckDlgButton(p, 2504, BST_UNCHECKED);
                                        SendMessageA(p, WM_COMMAND, MAKEWPARAM(2504, BN_CLICKED), 0); },
         "799", "0", "0", true},
    };
    size_t notices = 0;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        INT_PTR result = RunDisplay(step.edit);
        EXPECT_EQ(result, std::string(step.name) == "nothing changed" ? 0x10000 : 0x10002);
        EXPECT_EQ(Setting("GammaRed"), step.gamma);
        EXPECT_EQ(Setting("GammaGreen"), step.gamma);
        EXPECT_EQ(Setting("GammaBlue"), step.gamma);
        EXPECT_EQ(Setting("HiColorDither"), step.dither);
        EXPECT_EQ(Setting("GammaCorrection"), step.correction);
        std::vector<std::string> lines = ReadLines(dir / "fido.log");
        if (step.notice) notices++;
        ASSERT_EQ(lines.size(), notices);
        if (step.notice) {
            std::string g = step.gamma;
            EXPECT_EQ(lines.back(), std::to_string(GetCurrentProcessId()) + "|0|0|32|" + g + "," + g +
                                        "," + g + ",0|16");
        }
    }
}

TEST_F(DisplayPage, LentBlockCarriesTheFlagsAndTheGamma)
{
    auto getDispData = module.Get<decltype(GetDispData)>("GetDispData");
    ASSERT_TRUE(getDispData);
    DWORD block[4] = {0xF0A, 150, 150, 150};
    DWORD seen[5] = {9, 9, 9, 9, 9};
    ASSERT_EQ(RunDisplay([&](HWND p) {
        getDispData(&seen[0], &seen[1], &seen[2], &seen[3], &seen[4]);
        EXPECT_EQ(IsDlgButtonChecked(p, 2502), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(p, 2501), BST_UNCHECKED);
        SetDlgItemTextA(p, 2001, "2.2");
    }, nullptr, nullptr, block), 0x10002);
    EXPECT_EQ(std::vector<DWORD>(seen, seen + 5), (std::vector<DWORD>{0, 1, 0, 1, 180}));
    /* The flags go to the block (other bits kept), the gamma to both. */
    EXPECT_EQ(std::vector<DWORD>(block, block + 4), (std::vector<DWORD>{0xF0A, 220, 220, 220}));
    EXPECT_EQ(Setting("GammaRed"), "220");
    EXPECT_EQ(Setting("HiColorDither"), "<none>");
    /* Without the block the ini file's flags (and defaults) are read again. */
    getDispData(&seen[0], &seen[1], &seen[2], &seen[3], &seen[4]);
    EXPECT_EQ(std::vector<DWORD>(seen, seen + 5), (std::vector<DWORD>{1, 0, 1, 1, 220}));
}

/* The display page's slider (the suite's own class) drives the gamma text. */
TEST_F(DisplayPage, SliderKeysAndDragsSetTheGammaAndAnAbandonedDragIsPutBack)
{
    enum { Slider = 32277, SliderGetPos = 0x52E, SliderSetPos = 0x52F };
    std::vector<std::string> texts;
    int afterEscape = -1;
    ASSERT_EQ(RunDisplay([&](HWND p) {
        HWND slider = GetDlgItem(p, Slider);
        auto text = [&] {
            char t[16] = "";
            GetDlgItemTextA(p, 2001, t, sizeof t);
            texts.push_back(t);
        };
        for (WPARAM key : {VK_RIGHT, VK_PRIOR, VK_LEFT}) {
            SendMessageA(slider, WM_KEYDOWN, key, 0);
            text();
        }
        RECT r;
        GetClientRect(slider, &r);
        LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2), end = MAKELPARAM(r.right - 1, r.bottom / 2);
        SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, middle);
        SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, end);
        text();
        SendMessageA(slider, WM_LBUTTONUP, 0, end);
        text();
        /* A drag given up with Escape: the page puts the slider back at the edited gamma. */
        SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, end);
        SendMessageA(slider, SliderSetPos, 0, 300);
        SendMessageA(slider, WM_KEYDOWN, VK_ESCAPE, 0);
        afterEscape = (int)SendMessageA(slider, SliderGetPos, 0, 0);
    }), 0x10002);
    EXPECT_EQ(texts, (std::vector<std::string>{"1.81", "1.91", "1.90", "7.99", "7.99"}));
    EXPECT_EQ(afterEscape, 799);
    EXPECT_EQ(Setting("GammaRed"), "799");
}

TEST_F(DisplayPage, OnlyTheOptionsOfTheScreensKindAreEnabled)
{
    const struct { const char *bits; bool hiColour, palette; } cases[] = {
        {"16", true, false}, {"8", false, true}, {"24", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bits);
        ScopedEnv bits{"Q32BASE_DISPLAY_BITS", c.bits};
        std::vector<bool> enabled;
        EXPECT_EQ(RunDisplay([&](HWND p) {
            for (int id : {2201, 2501, 2202, 2203, 2502, 2503}) enabled.push_back(IsWindowEnabled(GetDlgItem(p, id)) != 0);
        }), 0x10000);
        bool h = c.hiColour, q = c.palette;
        EXPECT_EQ(enabled, (std::vector<bool>{h, h, q, q, q, q}));
    }
}

TEST_F(Preferences, SystemInformationShowsFourPagesAndItsOwnHelp)
{
    auto showInfo = module.Get<decltype(q32ShowSystemInfo)>("q32ShowSystemInfo");
    auto formatCount = module.Get<decltype(qfFileGetFileFmtNum)>("qfFileGetFileFmtNum");
    ASSERT_TRUE(showInfo && formatCount);
    char oldFolder[MAX_PATH];
    GetCurrentDirectoryA(sizeof oldFolder, oldFolder);
    SetCurrentDirectoryA(dir.path().c_str());  /* on c: */
    std::vector<std::string> tabs;
    std::string selectedLine, plugins, memory;
    int lines = 0;
    INT_PTR ok = Drive([&] { return showInfo(nullptr); }, [&](HWND d) {
        tabs = TabTexts(d);
        HWND list = GetDlgItem(Page(d, "Drives"), 32221);
        lines = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        char text[400] = "";
        SendMessageA(list, LB_GETTEXT, SendMessageA(list, LB_GETCURSEL, 0, 0), (LPARAM)text);
        selectedLine = text;
        GetDlgItemTextA(Page(d, "Plug-ins"), 2202, text, sizeof text);
        plugins = text;
        GetDlgItemTextA(Page(d, "System"), 2203, text, sizeof text);
        memory = text;
        ClickTab(d, 2);
        SendMessageA(d, WM_HELP, 0, 0);
        SendMessageA(d, WM_COMMAND, 9, 0);
        Press(d, IDOK);
    }, "System Information");
    int reopened = -1;
    INT_PTR cancelled = Drive([&] { return showInfo(nullptr); }, [&](HWND d) {
        reopened = CurrentTab(d);
        Press(d, IDCANCEL);
    }, "System Information");
    SetCurrentDirectoryA(oldFolder);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(reopened, 2);
    EXPECT_EQ(tabs, (std::vector<std::string>{"System", "Drives", "Display", "Plug-ins"}));
    EXPECT_GE(lines, 1);
    EXPECT_EQ(selectedLine.rfind("c:  ", 0), 0u) << selectedLine;
    EXPECT_NE(selectedLine.find(" free of "), std::string::npos) << selectedLine;
    EXPECT_EQ(plugins, std::to_string(formatCount()));
    /* In KB, the whole physical memory: 2 GB and more is not cut to a 32-bit size. */
    auto sizeText = module.Get<decltype(q32FileSizeToAsciiEx)>("q32FileSizeToAsciiEx");
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    char expected[Q32_SIZE_TEXT_SIZE] = "";
    sizeText((double)status.ullTotalPhys, expected, 1);
    EXPECT_EQ(memory, expected);
    std::string help = Join(dir.path(), "mod") + "\\prog0.hlp>d|1|154";
    EXPECT_EQ(ReadLines(dir / "help.log"), (std::vector<std::string>{help, help}));
}

TEST_F(Preferences, DrivesPageDrawsTheDrivesIconOnTheSelectedLine)
{
    auto showInfo = module.Get<decltype(q32ShowSystemInfo)>("q32ShowSystemInfo");
    ASSERT_TRUE(showInfo);
    char oldFolder[MAX_PATH];
    GetCurrentDirectoryA(sizeof oldFolder, oldFolder);
    SetCurrentDirectoryA(dir.path().c_str());  /* on c:, a fixed disk: icon cell 4 */
    LRESULT cell = -1;
    std::vector<COLORREF> drawn;
    Drive([&] { return showInfo(nullptr); }, [&](HWND d) {
        ClickTab(d, 1);
        HWND list = GetDlgItem(Page(d, "Drives"), 32221);
        int selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
        cell = SendMessageA(list, LB_GETITEMDATA, selected, 0);
        /* The list draws its lines into a bitmap of the test's. */
        RECT line, client;
        SendMessageA(list, LB_GETITEMRECT, selected, (LPARAM)&line);
        GetClientRect(list, &client);
        HDC screen = GetDC(list), dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
        HGDIOBJ old = SelectObject(dc, bitmap);
        SendMessageA(list, WM_PRINTCLIENT, (WPARAM)dc, PRF_CLIENT | PRF_ERASEBKGND);
        for (int y = 1; y < 15; y++)
            for (int x = 0; x < 16; x++)
                drawn.push_back(GetPixel(dc, line.left + 4 + x, line.top + (line.bottom - line.top - 16) / 2 + y));
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(list, screen);
        Press(d, IDOK);
    }, "System Information");
    SetCurrentDirectoryA(oldFolder);
    EXPECT_EQ(cell, 4);
    /* The bitmap's cell with its blue background in the highlight colour. */
    HBITMAP icons = (HBITMAP)LoadImageA(GetModuleHandleA("DLGRC.DLL"), MAKEINTRESOURCEA(32001),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_TRUE(icons);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, icons);
    std::vector<COLORREF> expected;
    for (int y = 1; y < 15; y++)
        for (int x = 0; x < 16; x++) {
            COLORREF c = GetPixel(memory, 4 * 16 + x, y);
            expected.push_back(c == RGB(0, 0, 255) ? GetSysColor(COLOR_HIGHLIGHT) : c);
        }
    SelectObject(memory, old);
    DeleteObject(icons);
    DeleteDC(memory);
    EXPECT_EQ(drawn, expected);
}

} // namespace
