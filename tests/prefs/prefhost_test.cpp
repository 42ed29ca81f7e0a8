/* The tabbed preference dialog: tabs, the page protocol, validation when leaving a page,
   the remembered tab, help, the memory and display pages and the system information. */
#include "prefdrive.h"

namespace {

enum { Slider = 32277 };

/* Keeps the real pointer from the dialog's thread: under Wine a capture change brings a real
   mouse move, which would drag the slider to wherever the pointer is. */
LRESULT CALLBACK NoPointer(int code, WPARAM wParam, LPARAM lParam)
{
    return code < 0 ? CallNextHookEx(nullptr, code, wParam, lParam) : 1;
}

int CurrentTab(HWND d) { return (int)SendDlgItemMessageA(d, 32200, TCM_GETCURSEL, 0, 0); }

TEST_F(Preferences, ExtraPagesComeFirstAnInvalidOneIsKeptAndItsTabReopened)
{
    const HMODULE own = GetModuleHandleA(nullptr);
    const std::vector<PreferenceExtraPage> pages = {{own, 100, "First", TestPageProc},
                                                    {own, 100, nullptr, TestPageProc}};
    EXPECT_EQ(0x10000, Show(pages, 0x03, [&](HWND d) {
        EXPECT_EQ((Lines{"First", "Second", "Memory", "Display"}), TabTexts(d));
        SendMessageA(d, WM_COMMAND, 9, 0);
        HWND page = Page(d, "Second"), edit = GetDlgItem(page, TestEdit);
        SetWindowTextA(edit, "bad");
        ClickTab(d, 1);
        EXPECT_EQ(0, CurrentTab(d));
        EXPECT_EQ(edit, FocusOf(d));
        EXPECT_EQ(MAKELONG(0, 3), SendMessageA(edit, EM_GETSEL, 0, 0));
        SendMessageA(d, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(IsWindow(d) && IsWindowVisible(page));
        EXPECT_EQ(0, CurrentTab(d));
        SetWindowTextA(edit, "good");
        ClickTab(d, 1);
        EXPECT_EQ(1, CurrentTab(d));
        SendMessageA(d, WM_COMMAND, 9, 0);
        Press(d, IDOK);
    }));
    /* Validation on each leave, then apply to every page in position order. */
    EXPECT_EQ((Lines{"Second:10", "Second:10", "Second:10", "Second:10", "Second:1", "Second:1"}),
              PageLog);
    PageLog.clear();
    const PreferenceAppInfo plain = {0, 1003, "C:\\apps\\own.hlp", 700},
                            windowed = {0, 1003, "C:\\apps\\own.hlp>w2", 900};
    Show(pages, 0, [&](HWND d) {
        EXPECT_EQ(1, CurrentTab(d)) << "the tab last shown";
        EXPECT_TRUE(IsWindowVisible(FindWindowExA(d, Page(d, "Second"), "#32770", "Second")));
        SendMessageA(d, WM_COMMAND, 9, 0);
        Press(d, IDCANCEL);
    }, &plain);
    EXPECT_EQ((Lines{"Second:2", "Second:2"}), PageLog) << "Cancel reaches every page";
    Show({{own, 100, "A", TestPageProc}}, 0, [&](HWND d) {
        EXPECT_EQ(0, CurrentTab(d)) << "fewer pages";
        SendMessageA(d, WM_HELP, 0, 0);
        Press(d, IDCANCEL);
    }, &windowed);
    /* Without an application block: the module's folder (no file), 532 + tab. */
    std::string folder = suite + "\\";
    EXPECT_EQ((Lines{folder + "|1|532", folder + "|1|533", "C:\\apps\\own.hlp>d|1|701",
                     "C:\\apps\\own.hlp>w2|1|900"}),
              Help());
}

/* The built-in pages: what OK stores in the library's and the module's settings, what it
   refuses, and the display page's notice to Q32FIDO.DLL. */
class BuiltInPage : public Preferences {
protected:
    ScopedEnv fidoLog{"Q32FIDO_LOG", dir / "fido.log"};
    std::string Module(const char *key) { return Setting("VMFolder", key, ini); }
    std::string Display(const char *key) { return Setting("Display", key, ini); }
    /* edit sets the page's controls before OK; a refused OK must leave the focus on control
       focus, and is cancelled. */
    INT_PTR Run(const char *title, const Script &edit, int focus = 0)
    {
        DWORD flags = strcmp(title, "Memory") ? 0x02 : 0x01;
        auto script = [&](HWND d) {
            HWND page = Page(d, title);
            ASSERT_TRUE(page);
            edit(page);
            SendMessageA(d, WM_COMMAND, IDOK, 0);
            if (!IsWindow(d)) return;
            EXPECT_EQ(GetDlgItem(page, focus), FocusOf(d));
            Press(d, IDCANCEL);
        };
        return Show({}, flags, script);
    }
    static Script Untick(int id)
    {
        return [id](HWND p) {
            CheckDlgButton(p, id, BST_UNCHECKED);
            SendMessageA(p, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        };
    }
};

TEST_F(BuiltInPage, MemoryLimitsAreStoredInBytesAndKilobytesAndTheFreeSumAsDefault)
{
    EXPECT_EQ(0x10000, Run("Memory", [](HWND) {})) << "unchanged: nothing stored";
    EXPECT_EQ("<none>", Base("DiskLimit"));
    EXPECT_EQ("<none>", Module("VMDiskLimit"));
    std::string folder = dir / "work";
    CreateDirectoryA(folder.c_str(), nullptr);
    /* The browse buttons start at the edit's text; a cancelled one empties and unticks. */
    ScopedEnv log{"Q32BROWS_LOG", dir / "brows.log"};
    ASSERT_EQ(0x10001, Run("Memory", [&](HWND page) {
        int low = 0, sum = 0;
        SendDlgItemMessageA(page, 2401, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&sum);
        EXPECT_GT(sum, 100);
        SetDlgItemInt(page, 2004, (UINT)sum, FALSE);  /* the free-space sum: the default */
        SetDlgItemInt(page, 2005, 100, FALSE);
        SetDlgItemTextA(page, 2002, "C:\\start");
        for (auto [answer, button] : {std::pair{"=" + folder, 2602}, {"cancel", 2603}}) {
            SetEnvironmentVariableA("Q32BROWS_AUTO", answer.c_str());
            SendMessageA(page, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        EXPECT_EQ("", Text(page, 2003));
        EXPECT_FALSE(IsDlgButtonChecked(page, 2504));
    }));
    EXPECT_EQ((Lines{"folder|C:\\start", "folder|"}), ReadLines(dir / "brows.log"));
    const std::pair<const char *, std::string> base[] = {
        {"DiskLimit", "-1"}, {"UseDiskLimit", "1"}, {"MemoryLimit", std::to_string(100 << 20)},
        {"UseMemoryLimit", "1"}, {"Folder2", folder}, {"UseFolder2", "1"}, {"UseFolder3", "0"}};
    for (const auto &[key, value] : base) EXPECT_EQ(value, Base(key)) << key;
    const std::pair<const char *, std::string> own[] = {
        {"VMDiskLimit", "-1"}, {"VMMemLimit", "102400"}, {"VMMemLimitOn", "1"}, {"VMEnable", "1"},
        {"VMUseFolder1", "0"}, {"VMFolder2", folder}, {"VMUseFolder2", "1"}};
    for (const auto &[key, value] : own) EXPECT_EQ(value, Module(key)) << key;
}

TEST_F(BuiltInPage, RefusalsNameTheReasonFocusTheControlAndStoreNothing)
{
    auto text = [](int id, std::string value) {
        return [id, value](HWND p) { SetDlgItemTextA(p, id, value.c_str()); };
    };
    const char *memory = "3200|703|1710|", *folder = "4018|703|1710|460|";
    const char *gamma = "3200|703|1711|336|";
    const struct { const char *page; Script edit; std::string box; const char *says; int focus; }
    cases[] = {
        {"Memory", text(2001, "\\\\server\\share\\work"), folder, "not on a local hard disk", 2001},
        {"Memory", text(2003, dir / "absent"), folder, "does not exist", 2003},
        {"Memory", Untick(2501), "31406|703|1710|429|", "", 2501},  /* all boxes off */
        {"Memory", text(2004, "99999"), memory + std::string("511|"), "disk space limit", 2004},
        {"Memory", text(2005, ""), memory + std::string("520|"), "memory limit", 2005},
        {"Memory", [](HWND p) {  /* 1 MB in all */
             CheckDlgButton(p, 2505, BST_CHECKED);
             CheckDlgButton(p, 2506, BST_CHECKED);
             SetDlgItemTextA(p, 2004, "1");
             SetDlgItemTextA(p, 2005, "0");
         }, memory + std::string("475|"), "", 2005},
        {"Display", text(2001, "0.00"), gamma, "gamma", 2001},
        {"Display", text(2001, "8.00"), gamma, "gamma", 2001},
        {"Display", text(2001, "1.8x"), gamma, "gamma", 2001},
    };
    for (const auto &c : cases) {
        DeleteFileA(boxes.c_str());
        EXPECT_EQ(0, Run(c.page, c.edit, c.focus)) << c.box;
        Lines lines = ReadLines(boxes);
        ASSERT_EQ(1u, lines.size()) << c.box;
        EXPECT_EQ(0u, lines[0].rfind(c.box, 0)) << lines[0];
        EXPECT_NE(std::string::npos, lines[0].find(c.says)) << lines[0];
    }
    EXPECT_EQ("<none>", Base("DiskLimit"));
    EXPECT_EQ("<none>", Display("GammaRed"));
}

TEST_F(BuiltInPage, GammaIsStoredAndAnnouncedOnlyWhenItOrItsSwitchChanged)
{
    auto gamma = [](const char *t) { return [t](HWND p) { SetDlgItemTextA(p, 2001, t); }; };
    /* The gamma slider reports a key's step to the page. */
    auto key = [](HWND p) { SendDlgItemMessageA(p, Slider, WM_KEYDOWN, VK_LEFT, 0); };
    /* A drag to the end given up with Escape after the slider moved: it goes back. */
    auto drag = [](HWND p) {
        HWND s = GetDlgItem(p, Slider);
        HHOOK hook = SetWindowsHookExA(WH_MOUSE, NoPointer, nullptr,
                                       GetWindowThreadProcessId(s, nullptr));
        RECT r;
        GetClientRect(s, &r);
        SendMessageA(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, r.bottom / 2));
        SendMessageA(s, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(r.right - 1, r.bottom / 2));
        SendMessageA(s, Q32SM_SETPOS, 0, 300);
        SendMessageA(s, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(799, SendMessageA(s, Q32SM_GETPOS, 0, 0));
        UnhookWindowsHookEx(hook);
    };
    const char *none = "<none>";
    const struct { const char *name; Script edit; INT_PTR result;
                   const char *gamma, *dither, *correction; bool notice; } steps[] = {
        {"nothing changed", [](HWND) {}, 0x10000, none, none, none, false},
        {"0.01", gamma("0.01"), 0x10002, "1", "1", "1", true},
        {"7.99", gamma("7.99"), 0x10002, "799", "1", "1", true},
        {"slider key", key, 0x10002, "798", "1", "1", true},
        {"slider drag", drag, 0x10002, "799", "1", "1", true},
        {"dither only", Untick(2501), 0x10002, "799", "0", "1", false},
        {"correction off", Untick(2504), 0x10002, "799", "0", "0", true},
    };
    size_t notices = 0;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_EQ(step.result, Run("Display", step.edit));
        for (const char *key : {"GammaRed", "GammaGreen", "GammaBlue"})
            EXPECT_EQ(step.gamma, Display(key));
        EXPECT_EQ(step.dither, Display("HiColorDither"));
        EXPECT_EQ(step.correction, Display("GammaCorrection"));
        Lines lines = ReadLines(dir / "fido.log");
        ASSERT_EQ(notices += step.notice, lines.size());
        std::string g = step.gamma, pid = std::to_string(GetCurrentProcessId());
        if (step.notice) {
            EXPECT_EQ(pid + "|0|0|32|" + g + "," + g + "," + g + ",0|16", lines.back());
        }
    }
}

TEST_F(Preferences, SystemInformationShowsTheWholeMemoryAndItsHelp)
{
    char expected[Q32_SIZE_TEXT_SIZE] = "";
    /* In KB, the whole physical memory: 2 GB and more is not cut to a 32-bit size. */
    MEMORYSTATUSEX status = {sizeof status, 0, 0, 0, 0, 0, 0, 0, 0};
    GlobalMemoryStatusEx(&status);
    Q32_EXPORT(module, q32FileSizeToAsciiEx)((double)status.ullTotalPhys, expected, 1);
    auto show = [&] { return Q32_EXPORT(module, q32ShowSystemInfo)(nullptr); };
    EXPECT_EQ(1, DriveDialog(show, [&](HWND d) {
        EXPECT_EQ((Lines{"System", "Drives", "Display", "Plug-ins"}), TabTexts(d));
        EXPECT_EQ(expected, Text(Page(d, "System"), 2203));
        ClickTab(d, 2);
        SendMessageA(d, WM_HELP, 0, 0);
        Press(d, IDOK);
    }, "System Information"));
    EXPECT_EQ((Lines{suite + "\\prog0.hlp>d|1|154"}), Help());
}

} // namespace
