/*
 * The open dialog driven unattended: a thread finds the dialog, selects entries in the
 * shell view's list, types names and presses buttons, each wait bounded.
 */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "dialogdriver.h"
#include <commdlg.h>
#include <commctrl.h>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace q32test;

namespace {

HWND FileList(HWND dialog)
{
    HWND view = FindDescendant(dialog, "SHELLDLL_DefView");
    return view ? FindDescendant(view, "SysListView32") : nullptr;
}

int ItemIndex(HWND list, const std::string &name)
{
    int count = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[260] = "";
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, i, (LPARAM)&item);
        if (!lstrcmpiA(text, name.c_str()))
            return i;
    }
    return -1;
}

/* Selects the named entries of the file list (the others are deselected). */
bool Select(HWND dialog, const std::vector<std::string> &names)
{
    HWND list = FileList(dialog);
    if (!list)
        return false;
    LVITEMA none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&none);
    for (const std::string &name : names) {
        int index = -1;
        if (!WaitFor([&] { return (index = ItemIndex(list, name)) >= 0; }))
            return false;
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, index, (LPARAM)&item);
    }
    return true;
}

/* The names of a result list. */
std::vector<std::string> Names(const char *list)
{
    std::vector<std::string> names;
    for (const char *p = list; *p; p += strlen(p) + 1)
        names.push_back(p);
    return names;
}

class OpenDialog : public ModuleSandbox {
protected:
    std::string help = dir / "help.log";
    q32test::ScopedEnv helpLog{"Q32COMM_HELP_LOG", help};
    decltype(&q32FileGetOpenFileName) open = nullptr;
    char result[2048];

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        describe = " pictures";
        Stage("TFA", {{"Width", "120"}, {"Height", "90"}}, 1);
        Stage("TFB", {{"Width", "3000"}, {"Height", "2800"}}, 0);
        Stage("TFC", {{"Width", "2999"}, {"Height", "2800"}}, 0);
        Stage("TFD", {{"Palette", "256"}, {"Bits", "8"}, {"DataType", "4"}, {"Width", "90"}, {"Height", "90"}}, 0);
        Stage("TFR", {{"ResolutionX", "7200000"}, {"ResolutionY", "7204999"}}, 0);
        Stage("TFS", {{"ResolutionX", "7205000"}, {"ResolutionY", "7205000"}}, 0);
        Stage("TFT", {{"ResolutionX", "7205000"}, {"ResolutionY", "4999"}}, 0);
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa", "big.tfb", "near.tfc", "grey.tfd",
                                 "r.tfr", "s.tfs", "t.tft"})
            q32test::WriteFileBytes(Join(pictures, name), "picture");
        ASSERT_TRUE(module.Load());
        open = Q32_EXPORT(module, q32FileGetOpenFileName);
        ASSERT_NE(nullptr, open);
        memset(result, 0x5A, sizeof result);
    }
    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys, DWORD openOptions)
    {
        ModuleSandbox::Stage(code, std::move(keys), "accept", "", 0x7F, openOptions);
    }

    OpenFileRequest Request(DWORD flags = 0)
    {
        OpenFileRequest request = {};
        request.size = sizeof request;
        request.result = result;
        request.resultSize = sizeof result;
        request.initialDir = pictures.c_str();
        request.flags = flags;
        return request;
    }

    std::vector<std::string> Boxes() { return q32test::ReadLines(boxes); }
};

TEST_F(OpenDialog, SelectionFillsThePanelAndOkGivesTheFullName)
{
    OpenFileRequest request = Request();
    std::string panel;
    std::vector<std::string> pairs;
    bool picture = false, button = true;
    Driver driver([&](HWND dialog) {
        /* The module's filter string is lent to the request for the call. */
        if (request.filter)
            pairs = Names(request.filter);
        ASSERT_TRUE(Select(dialog, {"a.tfa"}));
        WaitFor([&] { return Visible(dialog, 32005); }, 10000);
        panel = Text(dialog, 2201);
        picture = Visible(dialog, 32005);
        button = Visible(dialog, 2702);
        Press(dialog, IDOK);
    });
    int answer = open(&request);
    EXPECT_TRUE(driver.found);
    ASSERT_EQ(1, answer);
    EXPECT_EQ(std::vector<std::string>{Join(pictures, "a.tfa")}, Names(result));
    EXPECT_NE(std::string::npos, panel.find("120 x 90 pixels")) << panel;
    EXPECT_TRUE(picture);
    EXPECT_FALSE(button);
    /* The module's filter string: all formats first, then each format in table order. */
    ASSERT_EQ(16u, pairs.size());
    EXPECT_NE(std::string::npos, pairs[2].find("TFA pictures")) << pairs[2];
    EXPECT_NE(std::string::npos, pairs[6].find("TFC pictures")) << pairs[6];
    EXPECT_EQ(nullptr, request.filter) << "the caller's field as the caller gave it";

    /* The same block again, now for a palette pick: it still asks for the module's list. */
    PalettePick pick = {};
    request.palettePick = &pick;
    std::string caption;
    Driver again([&](HWND dialog) {
        char title[64] = "";
        GetWindowTextA(dialog, title, sizeof title);
        caption = title;
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ("Choose a Palette", caption);
    EXPECT_EQ(nullptr, request.filter);
}

/* What the panel records for files it cannot describe is the dialog's own business: the
   application finds the slot as it left it, after a choice or a cancel. */
TEST_F(OpenDialog, TheErrorSlotIsLeftAsTheApplicationLeftIt)
{
    /* A video stream: detection refuses it (4019) before any plug-in is asked. */
    q32test::WriteFileBytes(Join(pictures, "junk.xyz"), std::string("\0\0\1\xBA", 4) + "video");
    auto showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
    struct Case { const char *what; bool appError; int button; bool pick; } cases[] = {
        {"empty slot, cancel", false, IDCANCEL, false},
        {"application's error, OK", true, IDOK, false},
        {"empty slot, OK", false, IDOK, false},
        {"palette pick, cancel", false, IDCANCEL, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.appError)
            c32SetDLLErrInfo("the application's own", 1234, 0, 1, 2, 3);
        else
            c32ResetDLLErrInfo();
        q32test::RecordedError before = q32test::ReadError(), during;
        Driver driver([&](HWND dialog) {
            if (c.pick) {
                Sleep(300);
                during = q32test::ReadError();
                Press(dialog, c.button);
                return;
            }
            /* The type list has no entry for it: a typed pattern shows it. */
            TypeName(dialog, "*.xyz");
            Press(dialog, IDOK);
            ASSERT_TRUE(Select(dialog, {"junk.xyz"}));
            WaitFor([&] { return (during = q32test::ReadError()).id != before.id; }, 5000);
            Press(dialog, c.button);
        });
        PalettePick pick = {};
        OpenFileRequest request = Request();
        int answer = c.pick ? showOpen(nullptr, pictures.c_str(), &pick, result, sizeof result, nullptr)
                            : open(&request);
        EXPECT_EQ(c.button == IDOK ? 1 : 0, answer);
        if (c.pick)
            EXPECT_EQ(0u, during.id) << "the all-files entry is no format number";
        else
            EXPECT_NE(before.id, during.id) << "the panel recorded nothing: the case proves nothing";
        q32test::RecordedError after = q32test::ReadError();
        EXPECT_EQ(before.id, after.id);
        EXPECT_EQ(before.text, after.text);
        EXPECT_EQ(before.where3, after.where3);
    }

    /* A palette pick never answers success without a palette: OK on an image that has
       none is a failure the slot tells of. */
    c32ResetDLLErrInfo();
    PalettePick pick = {};
    Driver driver([&](HWND dialog) {
        ASSERT_TRUE(Select(dialog, {"a.tfa"}));
        Sleep(500);
        Press(dialog, IDOK);
    });
    EXPECT_EQ(0, showOpen(nullptr, pictures.c_str(), &pick, result, sizeof result, nullptr));
    EXPECT_EQ(nullptr, pick.palette);
    EXPECT_EQ(4026u, q32test::ReadError().id);
}

TEST_F(OpenDialog, LargeImagesArePreviewedOnlyOnRequest)
{
    struct Case { const char *name; bool automatic; } cases[] = {
        {"big.tfb", false},   /* 3000 x 2800 = 8400000 pixels */
        {"near.tfc", true},   /* 2999 x 2800 */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OpenFileRequest request = Request();
        bool pictureAtOnce = true, buttonShown = false, buttonEnabled = false, pictureLater = false;
        Driver driver([&](HWND dialog) {
            ASSERT_TRUE(Select(dialog, {c.name}));
            WaitFor([&] { return Visible(dialog, 32005) || Visible(dialog, 2702); }, 5000);
            pictureAtOnce = Visible(dialog, 32005);
            buttonShown = Visible(dialog, 2702);
            buttonEnabled = Enabled(dialog, 2702);
            if (buttonShown) {
                Press(dialog, 2702);
                pictureLater = WaitFor([&] { return Visible(dialog, 32005); }, 10000);
            }
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        EXPECT_TRUE(driver.found);
        EXPECT_EQ(c.automatic, pictureAtOnce);
        EXPECT_EQ(!c.automatic, buttonShown);
        EXPECT_EQ(!c.automatic, buttonEnabled);
        EXPECT_EQ(!c.automatic, pictureLater);
    }
}

/* Deletes the file named by VanishOnOk when the dialog accepts, after its own checks. */
std::string VanishOnOk;
INT_PTR CALLBACK VanishingExtProc(HWND, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_NOTIFY && ((NMHDR *)lParam)->code == CDN_FILEOK && !VanishOnOk.empty())
        DeleteFileA(VanishOnOk.c_str());
    return 0;
}

TEST_F(OpenDialog, MultipleSelectionGivesFullNamesAndLeavesOutVanishedOnes)
{
    struct Case {
        const char *vanishing;
        DWORD resultSize;
        std::vector<std::string> names;
        bool tooSmall;
    } cases[] = {
        {"", sizeof result, {"a.tfa", "b.tfa", "c.tfa"}, false},
        {"b.tfa", sizeof result, {"a.tfa", "c.tfa"}, false},
        /* Room for the first name, its zero and the final zero only. */
        {"", (DWORD)Join(pictures, "a.tfa").size() + 2, {"a.tfa"}, true},
        /* One byte short of that. */
        {"", (DWORD)Join(pictures, "a.tfa").size() + 1, {}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.vanishing) + " " + std::to_string(c.resultSize));
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa"})
            q32test::WriteFileBytes(Join(pictures, name), "picture");
        DeleteFileA(boxes.c_str());
        VanishOnOk = *c.vanishing ? Join(pictures, c.vanishing) : "";
        OpenFileRequest request = Request(OFN_ALLOWMULTISELECT);
        request.extProc = VanishingExtProc;
        request.resultSize = c.resultSize;
        memset(result, 0x5A, sizeof result);
        Driver driver([&](HWND dialog) {
            TypeName(dialog, "\"a.tfa\" \"b.tfa\" \"c.tfa\"");
            Press(dialog, IDOK);
        });
        ASSERT_EQ(1, open(&request));
        std::vector<std::string> expected;
        for (const std::string &name : c.names)
            expected.push_back(Join(pictures, name));
        EXPECT_EQ(expected, Names(result));
        size_t listSize = 1;
        for (const std::string &name : expected)
            listSize += name.size() + 1;
        EXPECT_LE(listSize, c.resultSize);
        if (c.resultSize < sizeof result) {
            EXPECT_EQ(0x5A, (unsigned char)result[c.resultSize]) << "written beyond the buffer";
        }
        std::vector<std::string> shown = Boxes();
        ASSERT_EQ(c.tooSmall ? 1u : 0u, shown.size());
        if (c.tooSmall) {
            EXPECT_EQ(0u, shown[0].rfind("31410|703|1720|219|", 0)) << shown[0];
        }
    }
    VanishOnOk.clear();
}

TEST_F(OpenDialog, CancelRestoresTheCurrentFolder)
{
    std::string sub = Join(pictures, "sub");
    CreateDirectoryA(sub.c_str(), nullptr);
    char before[MAX_PATH] = "", during[MAX_PATH] = "", after[MAX_PATH] = "";
    SetCurrentDirectoryA(dir.path().c_str());
    GetCurrentDirectoryA(sizeof before, before);
    OpenFileRequest request = Request();
    Driver driver([&](HWND dialog) {
        TypeName(dialog, "sub");
        Press(dialog, IDOK);
        WaitFor([&] {
            GetCurrentDirectoryA(sizeof during, during);
            return !lstrcmpiA(during, sub.c_str());
        }, 5000);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STRCASEEQ(sub.c_str(), during) << "the dialog did not change the folder";
    EXPECT_STREQ(before, after);
}

TEST_F(OpenDialog, OptionsFollowTheTypeAndHelpIsTheModulesOwn)
{
    OpenFileRequest request = Request(OFN_SHOWHELP);
    OpenHelpInfo info = {};
    info.helpFile = "C:\\help\\app.hlp";
    info.context = 77;
    request.helpInfo = &info;
    bool optionsForTfa = false, optionsForAll = true, optionsForTfb = true;
    bool helpShown = false, systemHelp = true;
    Driver driver([&](HWND dialog) {
        auto choose = [&](int index) {
            SendDlgItemMessageA(dialog, 0x470, CB_SETCURSEL, index, 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE),
                         (LPARAM)GetDlgItem(dialog, 0x470));
        };
        choose(1);
        optionsForTfa = Enabled(dialog, 32003);
        choose(0);
        optionsForAll = Enabled(dialog, 32003);
        choose(2);
        optionsForTfb = Enabled(dialog, 32003);
        helpShown = Visible(dialog, 9);
        HWND systemButton = GetDlgItem(dialog, 0x40e);
        systemHelp = systemButton && IsWindowVisible(systemButton);
        Press(dialog, 9);
        WaitFor([&] { return q32test::Exists(help); }, 3000);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ(1u, request.help);
    EXPECT_TRUE(optionsForTfa);
    EXPECT_FALSE(optionsForAll);
    EXPECT_FALSE(optionsForTfb);
    EXPECT_TRUE(helpShown);
    EXPECT_FALSE(systemHelp);
    std::vector<std::string> calls = q32test::ReadLines(help);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("C:\\help\\app.hlp>d|1|77", calls[0]);
}

/* The dialog with a file selected and its preview: the visible controls lie inside the
   dialog and do not overlap. The dialog is also the screenshot of the open dialog. */
TEST_F(OpenDialog, PanelControlsDoNotOverlap)
{
    OpenFileRequest request = Request(OFN_SHOWHELP);
    request.title = "Open a picture";
    std::vector<std::string> faults;
    std::string checked;
    Driver driver([&](HWND dialog) {
        ASSERT_TRUE(Select(dialog, {"a.tfa"}));
        WaitFor([&] { return Visible(dialog, 32005); }, 10000);
        faults = LayoutFaults(dialog, {
            {"info", GetDlgItem(dialog, 2201)}, {"picture", GetDlgItem(dialog, 32005)},
            {"preview", GetDlgItem(dialog, 2702)}, {"options", GetDlgItem(dialog, 32003)},
            {"find", GetDlgItem(dialog, 2701)}, {"help", GetDlgItem(dialog, 9)},
            {"ok", GetDlgItem(dialog, IDOK)}, {"cancel", GetDlgItem(dialog, IDCANCEL)},
            {"types", GetDlgItem(dialog, 0x470)}, {"name", GetDlgItem(dialog, 0x47c)},
            {"files", FindDescendant(dialog, "SHELLDLL_DefView")}}, checked);
        HoldForScreenshot();
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ("info picture options find help ok cancel types name files ", checked);
    EXPECT_EQ(std::vector<std::string>{}, faults);
}

/* Selects entry index of the type list as the user does. */
void ChooseType(HWND dialog, int index)
{
    SendDlgItemMessageA(dialog, 0x470, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELENDOK), (LPARAM)GetDlgItem(dialog, 0x470));
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), (LPARAM)GetDlgItem(dialog, 0x470));
}

int TypeSelection(HWND dialog) { return (int)SendDlgItemMessageA(dialog, 0x470, CB_GETCURSEL, 0, 0); }


TEST_F(OpenDialog, TypeChosenInOneOpenIsPreselectedInTheNext)
{
    auto showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
    ASSERT_NE(nullptr, showOpen);
    struct Case { int choose; bool ok; int preselected; } cases[] = {
        {2, true, 0},    /* the first open starts at the entry for all formats */
        {3, false, 2},   /* a cancelled open is not remembered */
        {1, true, 2},
        {-1, false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.choose);
        int preselected = -2;
        Driver driver([&](HWND dialog) {
            preselected = TypeSelection(dialog);
            if (c.choose >= 0)
                ChooseType(dialog, c.choose);
            TypeName(dialog, "a.tfa");
            Press(dialog, c.ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(c.ok ? 1 : 0, showOpen(nullptr, pictures.c_str(), nullptr, result, sizeof result, nullptr));
        EXPECT_TRUE(driver.found);
        EXPECT_EQ(c.preselected, preselected);
        if (c.ok) {
            EXPECT_EQ(std::vector<std::string>{Join(pictures, "a.tfa")}, Names(result));
        }
    }
}

TEST_F(OpenDialog, TypeChangePutsThePatternIntoAnEmptyName)
{
    struct Step { const char *typed; int type; const char *name; bool ok; };
    struct Case { const char *filter; std::vector<Step> steps; } cases[] = {
        {nullptr, {{"", 2, "*.tfb", false}, {"a.tfa", 1, "a.tfa", true}, {"*.tfb", 3, "*.tfc", false}}},
        {"Mine\0*.TFA;*.TFC\0Theirs\0*.TFB\0", {{"", 1, "*.tfb", false}, {"*.x", 0, "*.tfa;*.tfc", false}}},
    };
    for (const Case &c : cases) {
        OpenFileRequest request = Request();
        request.filter = c.filter;
        std::vector<std::string> names;
        std::vector<bool> oks;
        Driver driver([&](HWND dialog) {
            for (const Step &step : c.steps) {
                TypeName(dialog, step.typed);
                ChooseType(dialog, step.type);
                names.push_back(Text(dialog, 0x47c));
                oks.push_back(Enabled(dialog, IDOK));
            }
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        ASSERT_EQ(c.steps.size(), names.size());
        for (size_t i = 0; i < names.size(); i++) {
            EXPECT_EQ(c.steps[i].name, names[i]) << i;
            EXPECT_EQ(c.steps[i].ok, oks[i]) << i;
        }
    }
}

TEST_F(OpenDialog, LongTypedNamesGrowTheAnswerBuffer)
{
    /* 80 names of 150 characters typed: more than the 10500 bytes the dialog starts with. */
    std::string folder = dir / "long";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string typed;
    std::vector<std::string> expected;
    for (int i = 0; i < 80; i++) {
        std::string name = std::to_string(1000 + i) + std::string(142, 'n') + ".tfa";
        q32test::WriteFileBytes(Join(folder, name), "picture");
        typed += "\"" + name + "\" ";
        expected.push_back(Join(folder, name));
    }
    ASSERT_GT(typed.size(), 10500u);
    std::vector<char> list(40000, 0x5A);
    OpenFileRequest request = Request(OFN_ALLOWMULTISELECT);
    request.initialDir = folder.c_str();
    request.result = list.data();
    request.resultSize = (DWORD)list.size();
    Driver driver([&](HWND dialog) {
        TypeName(dialog, typed);
        Press(dialog, IDOK);
    });
    ASSERT_EQ(1, open(&request));
    EXPECT_EQ(expected, Names(list.data()));
}

/* The extension dialog's messages, as the test's extension procedure saw them. */
struct ExtensionLog {
    LPARAM initParam = 0;
    int clicks = 0;
} Extension;

INT_PTR CALLBACK ExtensionProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        Extension.initParam = lParam;
    if (message == WM_COMMAND && LOWORD(wParam) == 3001)
        Extension.clicks++;
    return message == WM_INITDIALOG;
}

TEST_F(OpenDialog, ExtensionDialogIsMergedBelowTheDialog)
{
    Extension = {};
    OpenFileRequest request = Request();
    int userData = 0;
    request.userData = &userData;
    request.extInstance = GetModuleHandleA(nullptr);
    request.extTemplate = MAKEINTRESOURCEA(400);
    request.extProc = ExtensionProc;
    std::vector<std::string> faults;
    bool adopted = false;
    Driver driver([&](HWND dialog) {
        HWND box = GetDlgItem(dialog, 3001);
        adopted = box && GetParent(box) == dialog;
        if (!adopted)
            return;
        RECT client, ext;
        GetClientRect(dialog, &client);
        GetWindowRect(box, &ext);
        MapWindowPoints(nullptr, dialog, (POINT *)&ext, 2);
        RECT inside;
        IntersectRect(&inside, &ext, &client);
        if (!EqualRect(&inside, &ext))
            faults.push_back("the extension is cut off");
        for (HWND control = GetWindow(dialog, GW_CHILD); control;
             control = GetWindow(control, GW_HWNDNEXT)) {
            RECT rect;
            char name[16] = "";
            GetClassNameA(control, name, sizeof name);
            if (control == box || !IsWindowVisible(control) || !GetWindowRect(control, &rect) ||
                !strcmp(name, "ScrollBar"))   /* the size grip in the corner */
                continue;
            MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
            if (rect.bottom > ext.top && rect.right > rect.left && rect.bottom > rect.top)
                faults.push_back("control " + std::to_string(GetDlgCtrlID(control)) +
                                 " reaches below the extension's top");
        }
        SendMessageA(box, BM_CLICK, 0, 0);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_TRUE(adopted);
    EXPECT_EQ(std::vector<std::string>{}, faults);
    EXPECT_EQ((LPARAM)&userData, Extension.initParam);
    EXPECT_EQ(1, Extension.clicks);
}

TEST_F(OpenDialog, FindPutsTheFindersAnswerIntoTheName)
{
    std::string log = dir / "finder.log";
    q32test::ScopedEnv finderLog("Q32BROWS_LOG", log);
    struct Case { const char *answer; const char *typed; int type; std::string name, call; } cases[] = {
        {"first", "", 1, Join(pictures, "a.tfa"), "find|*.tfa|" + pictures + "|0"},
        {"first", "ne*", -1, Join(pictures, "near.tfc"), "find|ne*|" + pictures + "|0"},
        {"cancel", "", 2, "*.tfb", "find|*.tfb|" + pictures + "|0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        DeleteFileA(log.c_str());
        q32test::ScopedEnv answer("Q32BROWS_AUTO", c.answer);
        OpenFileRequest request = Request();
        std::string name;
        Driver driver([&](HWND dialog) {
            TypeName(dialog, c.typed);
            if (c.type >= 0)
                ChooseType(dialog, c.type);
            Press(dialog, 2701);
            WaitFor([&] { return q32test::Exists(log) && Text(dialog, 0x47c) != c.typed; }, 5000);
            Sleep(100);
            name = Text(dialog, 0x47c);
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        EXPECT_EQ(c.name, name);
        EXPECT_EQ(std::vector<std::string>{c.call}, q32test::ReadLines(log));
    }
}

/* A RIFF palette file of the given colours. */
std::string PaletteFile(const std::vector<COLORREF> &colours)
{
    auto le32 = [](DWORD v) { return std::string((const char *)&v, 4); };
    std::string data = std::string("\x00\x03", 2) + char(colours.size() & 0xFF) + char(colours.size() >> 8);
    for (COLORREF c : colours)
        data += std::string{(char)GetRValue(c), (char)GetGValue(c), (char)GetBValue(c), 0};
    std::string body = "PAL data" + le32((DWORD)data.size()) + data;
    return "RIFF" + le32((DWORD)body.size()) + body;
}

TEST_F(OpenDialog, PalettePickShowsTheColoursAsAGrid)
{
    auto showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
    ASSERT_NE(nullptr, showOpen);
    std::vector<COLORREF> colours = {
        RGB(0, 0, 0), RGB(128, 0, 0), RGB(0, 128, 0), RGB(128, 128, 0),
        RGB(0, 0, 128), RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
        RGB(128, 128, 128), RGB(255, 0, 0), RGB(0, 255, 0), RGB(255, 255, 0),
        RGB(0, 0, 255), RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
    q32test::WriteFileBytes(Join(pictures, "vga.pal"), PaletteFile(colours));
    /* The cells' size follows the preview box that OK and Cancel give (the palette
       control's own test draws 25 and 6 pixel cells into a box of 100). */
    struct Case {
        const char *name; DWORD colours; bool ok; COLORREF first, last; bool shot;
    } cases[] = {
        {"vga.pal", 16, true, RGB(0, 0, 0), RGB(255, 255, 255), true},
        {"grey.tfd", 256, false, RGB(0, 0, 0), RGB(255, 255, 255), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PalettePick pick = {};
        std::string caption, text;
        int box = 0, width = 0, height = 0, grid = c.colours < 17 ? 4 : 16;
        COLORREF first = CLR_INVALID, last = CLR_INVALID;
        Driver driver([&](HWND dialog) {
            ASSERT_TRUE(Select(dialog, {c.name}));
            WaitFor([&] { return Visible(dialog, 32005); }, 10000);
            Sleep(300);
            char title[64] = "";
            GetWindowTextA(dialog, title, sizeof title);
            caption = title;
            text = Text(dialog, 2201);
            RECT ok, cancel, picture;
            GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
            GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
            box = 3 * (ok.bottom - ok.top + 2 * ((cancel.top - ok.bottom) / 4));
            HWND control = GetDlgItem(dialog, 32005);
            GetClientRect(control, &picture);
            width = picture.right;
            height = picture.bottom;
            int cell = box / grid, edge = cell * grid;
            HDC dc = GetDC(control);
            first = GetPixel(dc, cell / 2, cell / 2);
            last = GetPixel(dc, edge - 1 - cell / 2, edge - 1 - cell / 2);
            ReleaseDC(control, dc);
            if (c.shot)
                HoldForScreenshot();
            Press(dialog, c.ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(c.ok ? 1 : 0, showOpen(nullptr, pictures.c_str(), &pick, result, sizeof result, nullptr));
        EXPECT_EQ("Choose a Palette", caption);
        /* Cells of whole pixels, box / grid each (at least 1), plus the frame. */
        int cell = box / grid > 1 ? box / grid : 1;
        EXPECT_LE(60, box);
        EXPECT_EQ(cell * grid + 4, width) << "box " << box;
        EXPECT_EQ(cell * grid + 4, height);
        EXPECT_EQ(c.first, first);
        EXPECT_EQ(c.last, last);
        if (c.ok) {
            EXPECT_EQ(std::vector<std::string>{Join(pictures, c.name)}, Names(result));
            EXPECT_EQ(c.colours, pick.colors);
            EXPECT_NE(nullptr, pick.palette);
            EXPECT_NE(std::string::npos, text.find("16 colours")) << text;
            if (pick.palette)
                DeleteObject(pick.palette);
        } else {
            EXPECT_EQ(nullptr, pick.palette) << "a cancelled pick keeps no palette";
        }
    }
}

TEST_F(OpenDialog, ResolutionIsShownRoundedAndOnlyWhenBothAreKnown)
{
    struct Case { const char *name; const char *resolution; } cases[] = {
        {"r.tfr", "720 x 720,"},   /* 7200000 and 7204999 */
        {"t.tft", nullptr},        /* 7205000 and 4999: the second rounds to 0 */
        {"s.tfs", "721 x 721,"},   /* 7205000 */
        {"a.tfa", nullptr},
    };
    OpenFileRequest request = Request();
    std::vector<std::string> texts;
    Driver driver([&](HWND dialog) {
        for (const Case &c : cases) {
            std::string before = Text(dialog, 2201);
            Select(dialog, {c.name});
            WaitFor([&] { return Text(dialog, 2201) != before; }, 5000);
            texts.push_back(Text(dialog, 2201));
        }
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    ASSERT_EQ(4u, texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        const std::string &text = texts[i];
        size_t pixels = text.find(" pixels,  ");
        ASSERT_NE(std::string::npos, pixels) << text;
        std::string rest = text.substr(pixels + 10);
        if (cases[i].resolution)
            EXPECT_EQ(0u, rest.rfind(cases[i].resolution, 0)) << text;
        else
            EXPECT_EQ(std::string::npos, rest.find(" x ")) << text;
    }
}

/* ---- Visual open --------------------------------------------------------------------- */

class VisualOpen : public OpenDialog {
protected:
    std::string thumbs = dir / "thumbs";
    std::string log = dir / "vofn.log";
    q32test::ScopedEnv vofnLog{"Q32VOFN_LOG", log};
    decltype(&q32FileShowOpenDlg) showOpen = nullptr;
    decltype(&q32FileSetVisualOpenStatus) setStatus = nullptr;
    decltype(&q32FileGetVisualOpenStatus) getStatus = nullptr;

    void SetUp() override
    {
        OpenDialog::SetUp();
        CreateDirectoryA(thumbs.c_str(), nullptr);
        for (const char *name : {"a.tfa", "b.tfa", "grey.tfd"})
            q32test::WriteFileBytes(Join(thumbs, name), "picture");
        showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
        setStatus = Q32_EXPORT(module, q32FileSetVisualOpenStatus);
        getStatus = Q32_EXPORT(module, q32FileGetVisualOpenStatus);
        ASSERT_TRUE(showOpen && setStatus && getStatus);
    }

    std::string Switch()
    {
        char value[16] = "";
        GetPrivateProfileStringA("Q32File", "Enable Visual Open", "", value, sizeof value,
                                 (dir / "suite.ini").c_str());
        return value;
    }
};

TEST_F(VisualOpen, UsedOnlyAfterAStatusCallAndNeverForSeveralOrAPick)
{
    q32test::ScopedEnv automatic("Q32VOFN_AUTO", "first");
    WritePrivateProfileStringA("Q32File", "Enable Visual Open", "1", (dir / "suite.ini").c_str());
    PalettePick pick = {};
    DWORD answerWord = 0;
    OpenHelpInfo help = {};
    help.helpFile = "C:\\help\\app.hlp";
    enum Call { Plain, Several, Pick, Form, FormNoVisual, FormSeveral, FormPick };
    auto show = [&](Call call) {
        memset(result, 0x5A, sizeof result);
        if (call == Plain || call == Several || call == Pick) {
            void *mode = call == Several ? (void *)1 : call == Pick ? (void *)&pick : nullptr;
            return showOpen(nullptr, thumbs.c_str(), mode, result, 600, nullptr);
        }
        OpenFileRequest request = Request(OFN_SHOWHELP | (call == FormSeveral ? OFN_ALLOWMULTISELECT : 0));
        request.initialDir = thumbs.c_str();
        if (call == FormPick)
            request.palettePick = &pick;
        request.resultSize = 600;
        request.userData = &answerWord;
        request.helpInfo = &help;
        request.noVisualOpen = call == FormNoVisual;
        return open(&request);
    };
    struct Case {
        const char *what;
        std::function<void()> before;
        Call call;
        bool visual;
        std::string switchAfter;
    } cases[] = {
        {"no status call yet", [] {}, Plain, false, "1"},
        {"available, switch read", [&] { setStatus(1, -1); }, Plain, true, "1"},
        {"several", [] {}, Several, false, "1"},
        {"palette pick", [] {}, Pick, false, "1"},
        {"request", [] {}, Form, true, "1"},
        {"request refusing it", [] {}, FormNoVisual, false, "1"},
        {"request for several", [] {}, FormSeveral, true, "1"},
        {"request with a palette pick", [] {}, FormPick, false, "1"},
        {"switched off", [&] { setStatus(1, 0); }, Plain, false, "0"},
        {"switched on", [&] { setStatus(1, 1); }, Plain, true, "1"},
        {"not available", [&] { setStatus(0, 0); }, Plain, false, "1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        DeleteFileA(log.c_str());
        answerWord = 0;
        Driver driver([&](HWND dialog) { Press(dialog, IDCANCEL); });
        int answer = show(c.call);
        EXPECT_EQ(!c.visual, driver.found.load());
        EXPECT_EQ(c.visual ? 1u : 0u, q32test::ReadLines(log).size());
        EXPECT_EQ(c.switchAfter, Switch());
        if (!c.visual)
            continue;
        EXPECT_EQ(1, answer);
        /* The chooser's answer, copied as it stands: the first image in name order. */
        EXPECT_EQ(Join(thumbs, "a.tfa"), std::string(result));
        EXPECT_EQ(0x5A, (unsigned char)result[600]);
        std::string line = q32test::ReadLines(log)[0];
        /* title|folder|flags|help file|context|key|cache|filter|counts */
        bool form = c.call == Form || c.call == FormSeveral;
        std::string help = form ? "|C:\\help\\app.hlp|531|" : "||0|";
        std::string flags = c.call == Form ? "881875" : c.call == FormSeveral ? "881a75" : "881866";
        EXPECT_EQ("Open|" + thumbs + "|" + flags + help +
                      "Software\\Quill Systems\\Visual Open|15360|-|images=3 previews=3",
                  line);
        EXPECT_EQ(form ? 1u : 0u, answerWord);
    }
    int available = -1;
    EXPECT_EQ(0, getStatus(&available));
    EXPECT_EQ(0, available);
    setStatus(1, 1);
    WritePrivateProfileStringA("Q32File", "Enable Visual Open", "0", (dir / "suite.ini").c_str());
    EXPECT_EQ(0, getStatus(nullptr)) << "the switch is read afresh";
}

/* The visible chooser in the dialog's folder: thumbnails of the images, and the one
   double-clicked answers. */
TEST_F(VisualOpen, ThumbnailChooserListsTheFolderImages)
{
    setStatus(1, 1);
    auto showOpen1 = Q32_EXPORT(module, q32FileShowOpenDlg1);
    ASSERT_NE(nullptr, showOpen1);
    int items = 0;
    Driver driver(
        [&](HWND chooser) {
            HWND list = FindDescendant(chooser, "SysListView32");
            items = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
            HoldForScreenshot();
            LVITEMA state = {};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, 2, (LPARAM)&state);
            Press(chooser, IDOK);
        },
        [] { return FindWindowA("#32770", "Choose a picture"); });
    EXPECT_EQ(1, showOpen1(nullptr, thumbs.c_str(), nullptr, result, sizeof result, nullptr,
                           "Choose a picture"));
    EXPECT_TRUE(driver.found);
    EXPECT_EQ(3, items);
    EXPECT_EQ(std::vector<std::string>{Join(thumbs, "grey.tfd")}, Names(result));
}

} // namespace
