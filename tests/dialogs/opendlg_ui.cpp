/* The open dialog driven unattended (tests/support/dialogdriver.h): the panel, the result
   list, the error slot, types, help, find, the palette pick and the visual open. */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "dialogdriver.h"
#include <commdlg.h>
#include <commctrl.h>

using namespace q32test;

namespace {

std::vector<std::string> Names(const char *list)
{
    std::vector<std::string> names;
    for (const char *p = list; *p; p += strlen(p) + 1) names.push_back(p);
    return names;
}

class OpenDialog : public ModuleSandbox {
protected:
    std::string help = dir / "help.log";
    ScopedEnv helpLog{"Q32COMM_HELP_LOG", help};
    decltype(&q32FileGetOpenFileName) open = nullptr;
    decltype(&q32FileShowOpenDlg) showOpen = nullptr;
    char result[2048];

    void SetUp() override
    {
        describe = " pictures";
        Stage("TFA", {{"Width", "120"}, {"Height", "90"}}, 1);
        Stage("TFB", {{"Width", "3000"}, {"Height", "2800"}});
        Stage("TFC", {{"Width", "2999"}, {"Height", "2800"}});
        Stage("TFD", {{"Palette", "256"}, {"Bits", "8"}, {"DataType", "4"}, {"Width", "90"}, {"Height", "90"}});
        Stage("TFR", {{"ResolutionX", "7200000"}, {"ResolutionY", "7204999"}});
        Stage("TFS", {{"ResolutionX", "7205000"}, {"ResolutionY", "7205000"}});
        Stage("TFT", {{"ResolutionX", "7205000"}, {"ResolutionY", "4999"}});
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa", "big.tfb", "near.tfc", "grey.tfd", "r.tfr", "s.tfs", "t.tft"})
            WriteFileBytes(Path(name), "picture");
        ASSERT_TRUE(module.Load());
        open = Q32_EXPORT(module, q32FileGetOpenFileName);
        showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
        ASSERT_TRUE(open && showOpen);
        memset(result, 0x5A, sizeof result);
    }
    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys, DWORD openOptions = 0)
    {
        ModuleSandbox::Stage(code, std::move(keys), "accept", "", 0x7F, openOptions);
    }
    std::string Path(const std::string &name) { return Join(pictures, name); }
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
    int Show(void *mode = nullptr) { return showOpen(nullptr, pictures.c_str(), mode, result, sizeof result, nullptr); }
};

bool PanelShows(HWND dialog, const char *text)
{
    return WaitFor([&] { return Text(dialog, 2201).find(text) != std::string::npos; }, 10000);
}

TEST_F(OpenDialog, SelectionFillsThePanelAndOkGivesTheFullName)
{
    OpenFileRequest request = Request();
    std::string panel, caption;
    std::vector<std::string> pairs;
    bool picture = false, button = true;
    Driver driver([&](HWND dialog) {
        if (request.filter) pairs = Names(request.filter);  /* the module's list, lent */
        ASSERT_TRUE(SelectFiles(dialog, {"a.tfa"}));
        WaitFor([&] { return Visible(dialog, 32005); }, 10000);
        panel = Text(dialog, 2201);
        picture = Visible(dialog, 32005);
        button = Visible(dialog, 2702);
        Press(dialog, IDOK);
    });
    ASSERT_EQ(1, open(&request));
    EXPECT_EQ(std::vector<std::string>{Path("a.tfa")}, Names(result));
    EXPECT_NE(std::string::npos, panel.find("120 x 90 pixels")) << panel;
    EXPECT_TRUE(picture);
    EXPECT_FALSE(button);
    /* All formats first, then each format in table order. */
    ASSERT_EQ(16u, pairs.size());
    EXPECT_NE(std::string::npos, pairs[2].find("TFA pictures")) << pairs[2];
    EXPECT_NE(std::string::npos, pairs[6].find("TFC pictures")) << pairs[6];
    EXPECT_EQ(nullptr, request.filter) << "the caller's field as the caller gave it";

    /* The same block for a palette pick still asks for the module's list. */
    PalettePick pick = {};
    request.palettePick = &pick;
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

/* What the panel records for files it cannot describe is the dialog's business: the
   application finds the slot as it left it. */
TEST_F(OpenDialog, TheErrorSlotIsLeftAsTheApplicationLeftIt)
{
    /* A video stream: detection refuses it (4019) before any plug-in is asked. */
    WriteFileBytes(Path("junk.xyz"), std::string("\0\0\1\xBA", 4) + "video");
    for (int button : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(button);
        if (button == IDOK) c32SetDLLErrInfo("the application's own", 1234, 0, 1, 2, 3);
        else c32ResetDLLErrInfo();
        RecordedError before = ReadError(), during;
        Driver driver([&](HWND dialog) {
            TypeName(dialog, "*.xyz");  /* no type lists it: a typed pattern shows it */
            Press(dialog, IDOK);
            ASSERT_TRUE(SelectFiles(dialog, {"junk.xyz"}));
            WaitFor([&] { return (during = ReadError()).id != before.id; }, 5000);
            Press(dialog, button);
        });
        OpenFileRequest request = Request();
        EXPECT_EQ(button == IDOK ? 1 : 0, open(&request));
        EXPECT_NE(before.id, during.id) << "the panel recorded nothing: the case proves nothing";
        RecordedError after = ReadError();
        EXPECT_EQ(before.id, after.id);
        EXPECT_EQ(before.text, after.text);
        EXPECT_EQ(before.where3, after.where3);
    }
    /* A palette pick: the all-files entry is no format number; OK on an image without a
       palette is a failure the slot tells of. */
    c32ResetDLLErrInfo();
    PalettePick pick = {};
    UINT during = 1;
    Driver driver([&](HWND dialog) {
        during = ReadError().id;
        ASSERT_TRUE(SelectFiles(dialog, {"a.tfa"}));
        PanelShows(dialog, "pixels");
        Press(dialog, IDOK);
    });
    EXPECT_EQ(0, Show(&pick));
    EXPECT_EQ(0u, during);
    EXPECT_EQ(nullptr, pick.palette);
    EXPECT_EQ(4026u, ReadError().id);
}

TEST_F(OpenDialog, LargeImagesArePreviewedOnlyOnRequest)
{
    /* 3000 x 2800 = 8400000 pixels waits for the button; 2999 x 2800 does not. */
    for (auto [name, automatic] : {std::pair{"big.tfb", false}, std::pair{"near.tfc", true}}) {
        SCOPED_TRACE(name);
        OpenFileRequest request = Request();
        bool atOnce = !automatic, shown = automatic, enabled = automatic, later = false;
        Driver driver([&](HWND dialog) {
            ASSERT_TRUE(SelectFiles(dialog, {name}));
            WaitFor([&] { return Visible(dialog, 32005) || Visible(dialog, 2702); }, 5000);
            atOnce = Visible(dialog, 32005);
            shown = Visible(dialog, 2702);
            enabled = Enabled(dialog, 2702);
            if (shown) {
                Press(dialog, 2702);
                later = WaitFor([&] { return Visible(dialog, 32005); }, 10000);
            }
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        EXPECT_TRUE(driver.found);
        EXPECT_EQ(automatic, atOnce);
        EXPECT_EQ(!automatic, shown);
        EXPECT_EQ(!automatic, enabled);
        EXPECT_EQ(!automatic, later);
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
    DWORD one = (DWORD)Path("a.tfa").size() + 2;  /* the first name, its zero, the final zero */
    const struct { const char *vanishing; DWORD size; std::vector<std::string> names; } cases[] = {
        {"", sizeof result, {"a.tfa", "b.tfa", "c.tfa"}},
        {"b.tfa", sizeof result, {"a.tfa", "c.tfa"}},
        {"", one, {"a.tfa"}},
        {"", one - 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.vanishing) + " " + std::to_string(c.size));
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa"}) WriteFileBytes(Path(name), "picture");
        DeleteFileA(boxes.c_str());
        VanishOnOk = *c.vanishing ? Path(c.vanishing) : "";
        OpenFileRequest request = Request(OFN_ALLOWMULTISELECT);
        request.extProc = VanishingExtProc;
        request.resultSize = c.size;
        memset(result, 0x5A, sizeof result);
        Driver driver([&](HWND dialog) {
            TypeName(dialog, "\"a.tfa\" \"b.tfa\" \"c.tfa\"");
            Press(dialog, IDOK);
        });
        ASSERT_EQ(1, open(&request));
        std::vector<std::string> expected;
        for (const std::string &name : c.names) expected.push_back(Path(name));
        EXPECT_EQ(expected, Names(result));
        if (c.size < sizeof result) {
            EXPECT_EQ(0x5A, (unsigned char)result[c.size]) << "written beyond the buffer";
        }
        std::vector<std::string> shown = ReadLines(boxes);
        ASSERT_EQ(c.size < sizeof result ? 1u : 0u, shown.size());
        if (!shown.empty()) {
            EXPECT_EQ(0u, shown[0].rfind("31410|703|1720|219|", 0)) << shown[0];
        }
    }
    VanishOnOk.clear();
}

TEST_F(OpenDialog, CancelRestoresTheCurrentFolder)
{
    std::string sub = Path("sub");
    CreateDirectoryA(sub.c_str(), nullptr);
    char before[MAX_PATH] = "", during[MAX_PATH] = "", after[MAX_PATH] = "";
    SetCurrentDirectoryA(dir.path().c_str());
    GetCurrentDirectoryA(sizeof before, before);
    OpenFileRequest request = Request();
    Driver driver([&](HWND dialog) {
        TypeName(dialog, "sub");
        Press(dialog, IDOK);
        WaitFor([&] { GetCurrentDirectoryA(sizeof during, during); return !lstrcmpiA(during, sub.c_str()); }, 5000);
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
    std::vector<bool> options;
    bool helpShown = false, systemHelp = true;
    Driver driver([&](HWND dialog) {
        for (int type : {1, 0, 2}) {  /* TFA has open options; all formats and TFB none */
            ChooseType(dialog, type);
            options.push_back(Enabled(dialog, 32003));
        }
        helpShown = Visible(dialog, 9);
        systemHelp = Visible(dialog, 0x40e);
        Press(dialog, 9);
        WaitFor([&] { return Exists(help); }, 3000);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ(1u, request.help);
    EXPECT_EQ((std::vector<bool>{true, false, false}), options);
    EXPECT_TRUE(helpShown);
    EXPECT_FALSE(systemHelp);
    EXPECT_EQ(std::vector<std::string>{"C:\\help\\app.hlp>d|1|77"}, ReadLines(help));
}

/* The visible controls lie inside the dialog and do not overlap (the screenshot). */
TEST_F(OpenDialog, PanelControlsDoNotOverlap)
{
    OpenFileRequest request = Request(OFN_SHOWHELP);
    request.title = "Open a picture";
    std::vector<std::string> faults;
    std::string checked;
    Driver driver([&](HWND dialog) {
        ASSERT_TRUE(SelectFiles(dialog, {"a.tfa"}));
        WaitFor([&] { return Visible(dialog, 32005); }, 10000);
        auto at = [&](int id) { return GetDlgItem(dialog, id); };
        faults = LayoutFaults(dialog, {{"info", at(2201)}, {"picture", at(32005)}, {"preview", at(2702)},
                                       {"options", at(32003)}, {"find", at(2701)}, {"help", at(9)},
                                       {"ok", at(IDOK)}, {"cancel", at(IDCANCEL)}, {"types", at(0x470)},
                                       {"name", at(0x47c)}, {"files", FindDescendant(dialog, "SHELLDLL_DefView")}},
                              checked);
        HoldForScreenshot();
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ("info picture options find help ok cancel types name files ", checked);
    EXPECT_EQ(std::vector<std::string>{}, faults);
}

TEST_F(OpenDialog, TypeChosenInOneOpenIsPreselectedInTheNext)
{
    /* The first open starts at all formats; a cancelled open is not remembered. */
    const struct { int choose; bool ok; int preselected; } cases[] = {{2, true, 0}, {3, false, 2}, {1, true, 2}, {-1, false, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.choose);
        int preselected = -2;
        Driver driver([&](HWND dialog) {
            preselected = (int)SendDlgItemMessageA(dialog, 0x470, CB_GETCURSEL, 0, 0);
            if (c.choose >= 0) ChooseType(dialog, c.choose);
            TypeName(dialog, "a.tfa");
            Press(dialog, c.ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(c.ok ? 1 : 0, Show());
        EXPECT_EQ(c.preselected, preselected);
        if (c.ok) {
            EXPECT_EQ(std::vector<std::string>{Path("a.tfa")}, Names(result));
        }
    }
}

TEST_F(OpenDialog, TypeChangePutsThePatternIntoAnEmptyName)
{
    struct Step { const char *typed; int type; const char *name; bool ok; };
    const struct { const char *filter; std::vector<Step> steps; } cases[] = {
        {nullptr, {{"", 2, "*.tfb", false}, {"a.tfa", 1, "a.tfa", true}, {"*.tfb", 3, "*.tfc", false}}},
        {"Mine\0*.TFA;*.TFC\0Theirs\0*.TFB\0", {{"", 1, "*.tfb", false}, {"*.x", 0, "*.tfa;*.tfc", false}}},
    };
    for (const auto &c : cases) {
        OpenFileRequest request = Request();
        request.filter = c.filter;
        std::vector<std::pair<std::string, bool>> seen;
        Driver driver([&](HWND dialog) {
            for (const Step &step : c.steps) {
                TypeName(dialog, step.typed);
                ChooseType(dialog, step.type);
                seen.push_back({Text(dialog, 0x47c), Enabled(dialog, IDOK)});
            }
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        ASSERT_EQ(c.steps.size(), seen.size());
        for (size_t i = 0; i < seen.size(); i++)
            EXPECT_EQ(std::make_pair(std::string(c.steps[i].name), c.steps[i].ok), seen[i]) << i;
    }
}

TEST_F(OpenDialog, LongTypedNamesGrowTheAnswerBuffer)
{
    /* 80 names of 150 characters: more than the 10500 bytes the dialog starts with. */
    std::string folder = dir / "long", typed;
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> expected;
    for (int i = 0; i < 80; i++) {
        std::string name = std::to_string(1000 + i) + std::string(142, 'n') + ".tfa";
        WriteFileBytes(Join(folder, name), "picture");
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

struct { LPARAM initParam; int clicks; } Extension;

INT_PTR CALLBACK ExtensionProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) Extension.initParam = lParam;
    if (message == WM_COMMAND && LOWORD(wParam) == 3001) Extension.clicks++;
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
    std::vector<std::string> faults = {"not adopted"};
    Driver driver([&](HWND dialog) {
        HWND box = GetDlgItem(dialog, 3001);
        if (!box || GetParent(box) != dialog) return;
        faults.clear();
        RECT ext, rect;
        GetWindowRect(box, &ext);
        MapWindowPoints(nullptr, dialog, (POINT *)&ext, 2);
        std::string checked;
        for (const std::string &f : LayoutFaults(dialog, {{"extension", box}}, checked)) faults.push_back(f);
        for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
            char name[16] = "";
            GetClassNameA(control, name, sizeof name);
            if (control == box || !IsWindowVisible(control) || !strcmp(name, "ScrollBar") || !GetWindowRect(control, &rect))
                continue;  /* the size grip in the corner aside */
            MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
            if (rect.bottom > ext.top && rect.right > rect.left && rect.bottom > rect.top)
                faults.push_back("control " + std::to_string(GetDlgCtrlID(control)) + " reaches below the extension's top");
        }
        SendMessageA(box, BM_CLICK, 0, 0);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ(std::vector<std::string>{}, faults);
    EXPECT_EQ((LPARAM)&userData, Extension.initParam);
    EXPECT_EQ(1, Extension.clicks);
}

TEST_F(OpenDialog, FindPutsTheFindersAnswerIntoTheName)
{
    std::string log = dir / "finder.log";
    ScopedEnv finderLog("Q32BROWS_LOG", log);
    const struct { const char *answer, *typed; int type; std::string name, call; } cases[] = {
        {"first", "", 1, Path("a.tfa"), "find|*.tfa|" + pictures + "|0"},
        {"first", "ne*", -1, Path("near.tfc"), "find|ne*|" + pictures + "|0"},
        {"cancel", "", 2, "*.tfb", "find|*.tfb|" + pictures + "|0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        DeleteFileA(log.c_str());
        ScopedEnv answer("Q32BROWS_AUTO", c.answer);
        OpenFileRequest request = Request();
        std::string name;
        Driver driver([&](HWND dialog) {
            TypeName(dialog, c.typed);
            if (c.type >= 0) ChooseType(dialog, c.type);
            Press(dialog, 2701);
            WaitFor([&] { return Exists(log) && Text(dialog, 0x47c) == c.name; }, 5000);
            name = Text(dialog, 0x47c);
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, open(&request));
        EXPECT_EQ(c.name, name);
        EXPECT_EQ(std::vector<std::string>{c.call}, ReadLines(log));
    }
}

TEST_F(OpenDialog, PalettePickShowsTheColoursAsAGrid)
{
    /* A RIFF palette of 16 colours, black to white. */
    std::string data = std::string("\x00\x03\x10\x00", 4);
    for (int i = 0; i < 16; i++) data += std::string{char(i * 17), char(i * 17), char(i * 17), 0};
    auto le32 = [](size_t v) { return std::string((const char *)&v, 4); };
    std::string body = "PAL data" + le32(data.size()) + data;
    WriteFileBytes(Path("vga.pal"), "RIFF" + le32(body.size()) + body);
    for (auto [name, colours] : {std::pair{"vga.pal", 16u}, std::pair{"grey.tfd", 256u}}) {
        SCOPED_TRACE(name);
        bool ok = colours == 16;
        PalettePick pick = {};
        std::string caption, text;
        COLORREF first = CLR_INVALID, last = CLR_INVALID;
        Driver driver([&](HWND dialog) {
            ASSERT_TRUE(SelectFiles(dialog, {name}));
            HWND control = GetDlgItem(dialog, 32005);
            RECT okRect, cancel;  /* the grid's box follows OK and Cancel: cells of box / grid */
            GetWindowRect(GetDlgItem(dialog, IDOK), &okRect);
            GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
            int box = 3 * (okRect.bottom - okRect.top + 2 * ((cancel.top - okRect.bottom) / 4)), grid = colours < 17 ? 4 : 16;
            int cell = box / grid, edge = cell * grid;
            WaitFor([&] {  /* the first and last cells once drawn */
                HDC dc = GetDC(control);
                first = GetPixel(dc, cell / 2, cell / 2);
                last = GetPixel(dc, edge - 1 - cell / 2, edge - 1 - cell / 2);
                ReleaseDC(control, dc);
                return IsWindowVisible(control) && first == RGB(0, 0, 0) && last == RGB(255, 255, 255);
            }, 10000);
            char title[64] = "";
            GetWindowTextA(dialog, title, sizeof title);
            caption = title;
            text = Text(dialog, 2201);
            if (ok) HoldForScreenshot();
            Press(dialog, ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(ok ? 1 : 0, Show(&pick));
        EXPECT_EQ("Choose a Palette", caption);
        EXPECT_EQ(RGB(0, 0, 0), first);
        EXPECT_EQ(RGB(255, 255, 255), last);
        if (ok) {
            EXPECT_EQ(std::vector<std::string>{Path(name)}, Names(result));
            EXPECT_EQ(colours, pick.colors);
            EXPECT_NE(nullptr, pick.palette);
            EXPECT_NE(std::string::npos, text.find("16 colours")) << text;
            if (pick.palette) DeleteObject(pick.palette);
        } else {
            EXPECT_EQ(nullptr, pick.palette) << "a cancelled pick keeps no palette";
        }
    }
}

TEST_F(OpenDialog, ResolutionIsShownRoundedAndOnlyWhenBothAreKnown)
{
    /* 7200000 and 7204999; 7205000 and 4999 (rounds to 0); 7205000; none. */
    const std::pair<const char *, const char *> cases[] = {
        {"r.tfr", "720 x 720,"}, {"t.tft", nullptr}, {"s.tfs", "721 x 721,"}, {"a.tfa", nullptr}};
    OpenFileRequest request = Request();
    std::vector<std::string> texts;
    Driver driver([&](HWND dialog) {
        for (const auto &c : cases) {
            std::string before = Text(dialog, 2201);
            SelectFiles(dialog, {c.first});
            WaitFor([&] { return Text(dialog, 2201) != before; }, 5000);
            texts.push_back(Text(dialog, 2201));
        }
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    ASSERT_EQ(4u, texts.size());
    for (size_t i = 0; i < texts.size(); i++) {
        size_t pixels = texts[i].find(" pixels,  ");
        ASSERT_NE(std::string::npos, pixels) << texts[i];
        std::string rest = texts[i].substr(pixels + 10);
        if (cases[i].second) {
            EXPECT_EQ(0u, rest.rfind(cases[i].second, 0)) << texts[i];
        } else {
            EXPECT_EQ(std::string::npos, rest.find(" x ")) << texts[i];
        }
    }
}

class VisualOpen : public OpenDialog {
protected:
    std::string thumbs = dir / "thumbs", log = dir / "vofn.log";
    ScopedEnv vofnLog{"Q32VOFN_LOG", log};
    decltype(&q32FileSetVisualOpenStatus) setStatus = nullptr;

    void SetUp() override
    {
        OpenDialog::SetUp();
        CreateDirectoryA(thumbs.c_str(), nullptr);
        for (const char *name : {"a.tfa", "b.tfa", "grey.tfd"}) WriteFileBytes(Join(thumbs, name), "picture");
        setStatus = Q32_EXPORT(module, q32FileSetVisualOpenStatus);
        ASSERT_TRUE(setStatus);
    }
    void SetSwitch(const char *value) { WritePrivateProfileStringA("Q32File", "Enable Visual Open", value, ini.c_str()); }
    std::string Switch()
    {
        char value[16] = "";
        GetPrivateProfileStringA("Q32File", "Enable Visual Open", "", value, sizeof value, ini.c_str());
        return value;
    }
};

TEST_F(VisualOpen, UsedOnlyAfterAStatusCallAndNeverForSeveralOrAPick)
{
    ScopedEnv automatic("Q32VOFN_AUTO", "first");
    SetSwitch("1");
    PalettePick pick = {};
    DWORD answerWord = 0;
    OpenHelpInfo help = {};
    help.helpFile = "C:\\help\\app.hlp";
    enum Call { Plain, Several, Pick, Form, FormNoVisual, FormSeveral, FormPick };
    auto show = [&](Call call) {
        memset(result, 0x5A, sizeof result);
        if (call <= Pick)
            return showOpen(nullptr, thumbs.c_str(), call == Several ? (void *)1 : call == Pick ? (void *)&pick : nullptr,
                            result, 600, nullptr);
        OpenFileRequest request = Request(OFN_SHOWHELP | (call == FormSeveral ? OFN_ALLOWMULTISELECT : 0));
        request.initialDir = thumbs.c_str();
        request.palettePick = call == FormPick ? &pick : nullptr;
        request.resultSize = 600;
        request.userData = &answerWord;
        request.helpInfo = &help;
        request.noVisualOpen = call == FormNoVisual;
        return open(&request);
    };
    const struct { const char *what; int available, on; Call call; bool visual; const char *switchAfter; } cases[] = {
        {"no status call yet", -2, 0, Plain, false, "1"},
        {"available, switch read", 1, -1, Plain, true, "1"},
        {"several", -2, 0, Several, false, "1"},
        {"palette pick", -2, 0, Pick, false, "1"},
        {"request", -2, 0, Form, true, "1"},
        {"request refusing it", -2, 0, FormNoVisual, false, "1"},
        {"request for several", -2, 0, FormSeveral, true, "1"},
        {"request with a palette pick", -2, 0, FormPick, false, "1"},
        {"switched off", 1, 0, Plain, false, "0"},
        {"switched on", 1, 1, Plain, true, "1"},
        {"not available", 0, 0, Plain, false, "1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.available != -2) setStatus(c.available, c.on);
        DeleteFileA(log.c_str());
        answerWord = 0;
        Driver driver([&](HWND dialog) { Press(dialog, IDCANCEL); });
        int answer = show(c.call);
        EXPECT_EQ(!c.visual, driver.found.load());
        EXPECT_EQ(c.visual ? 1u : 0u, ReadLines(log).size());
        EXPECT_EQ(c.switchAfter, Switch());
        if (!c.visual) continue;
        EXPECT_EQ(1, answer);
        /* The chooser's answer as it stands: the first image in name order. */
        EXPECT_EQ(Join(thumbs, "a.tfa"), std::string(result));
        EXPECT_EQ(0x5A, (unsigned char)result[600]);
        /* title|folder|flags|help file|context|key|cache|filter|counts */
        bool form = c.call == Form || c.call == FormSeveral;
        std::string flags = c.call == Form ? "881875" : c.call == FormSeveral ? "881a75" : "881866";
        EXPECT_EQ("Open|" + thumbs + "|" + flags + (form ? "|C:\\help\\app.hlp|531|" : "||0|") +
                      "Software\\Quill Systems\\Visual Open|15360|-|images=3 previews=3",
                  ReadLines(log)[0]);
        EXPECT_EQ(form ? 1u : 0u, answerWord);
    }
    auto getStatus = Q32_EXPORT(module, q32FileGetVisualOpenStatus);
    int available = -1;
    EXPECT_EQ(0, getStatus(&available));
    EXPECT_EQ(0, available);
    setStatus(1, 1);
    SetSwitch("0");
    EXPECT_EQ(0, getStatus(nullptr)) << "the switch is read afresh";
}

/* The visible chooser: thumbnails of the folder's images; the one chosen answers. */
TEST_F(VisualOpen, ThumbnailChooserListsTheFolderImages)
{
    setStatus(1, 1);
    int items = 0;
    Driver driver([&](HWND chooser) {
        HWND list = FindDescendant(chooser, "SysListView32");
        items = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
        HoldForScreenshot();
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 2, (LPARAM)&state);
        Press(chooser, IDOK);
    }, [] { return FindWindowA("#32770", "Choose a picture"); });
    EXPECT_EQ(1, Q32_EXPORT(module, q32FileShowOpenDlg1)(nullptr, thumbs.c_str(), nullptr, result, sizeof result,
                                                         nullptr, "Choose a picture"));
    EXPECT_TRUE(driver.found);
    EXPECT_EQ(3, items);
    EXPECT_EQ(std::vector<std::string>{Join(thumbs, "grey.tfd")}, Names(result));
}

} // namespace
