/* The open dialog driven unattended (tests/support/dialogdriver.h): the panel and the error
   slot, the result list, types, help, find, the palette pick and the visual open. */
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
    char result[20000];

    void SetUp() override
    {
        describe = " pictures";
        Stage("TFA", {{"Width", "120"}, {"Height", "90"}}, "accept", "", 0x7F, 1);
        Stage("TFB", {{"Width", "3000"}, {"Height", "2800"}});
        Stage("TFC", {{"Width", "2999"}, {"Height", "2800"}});
        Stage("TFD", {{"Palette", "256"}, {"Bits", "8"}, {"DataType", "4"}, {"Width", "90"},
                      {"Height", "90"}});
        Stage("TFR", {{"ResolutionX", "7200000"}, {"ResolutionY", "7204999"}});
        Stage("TFS", {{"ResolutionX", "7205000"}, {"ResolutionY", "7205000"}});
        Stage("TFT", {{"ResolutionX", "7205000"}, {"ResolutionY", "4999"}});
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa", "big.tfb", "near.tfc", "grey.tfd",
                                 "r.tfr", "s.tfs", "t.tft"})
            WriteFileBytes(Path(name), "picture");
        ASSERT_TRUE(module.Load());
        open = Q32_EXPORT(module, q32FileGetOpenFileName);
        showOpen = Q32_EXPORT(module, q32FileShowOpenDlg);
        ASSERT_TRUE(open && showOpen);
        memset(result, 0x5A, sizeof result);
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
    /* Shows request (or, without one, the plain-argument entry with mode) while script
       drives the file dialog. */
    int Drive(OpenFileRequest *request, const std::function<void(HWND)> &script,
              void *mode = nullptr)
    {
        auto show = [&]() -> INT_PTR {
            if (request) return open(request);
            return showOpen(nullptr, pictures.c_str(), mode, result, sizeof result, nullptr);
        };
        return (int)DriveDialog(show, script, nullptr);
    }
};

/* The panel describes each selected file; a large image is previewed only on request. The
   visible controls lie inside the dialog and do not overlap (the screenshot). What the panel
   records for a file it cannot describe is its own business: the application finds the
   error slot as it left it. */
TEST_F(OpenDialog, PanelDescribesTheSelectionAndOkGivesTheFullName)
{
    /* file, size, resolution (rounded, only when both are known), picture at once */
    const struct { const char *file, *size, *resolution; bool atOnce; } cases[] = {
        {"a.tfa", "120 x 90 pixels,  ", nullptr, true},
        {"r.tfr", " pixels,  ", "720 x 720,", true},          /* 7200000 and 7204999 */
        {"t.tft", " pixels,  ", nullptr, true},               /* 7205000 and 4999: 0 */
        {"s.tfs", " pixels,  ", "721 x 721,", true},          /* 7205000 */
        {"big.tfb", "3000 x 2800 pixels,  ", nullptr, false}, /* 8400000 pixels wait */
        {"near.tfc", "2999 x 2800 pixels,  ", nullptr, true},
    };
    OpenFileRequest request = Request(OFN_SHOWHELP);
    request.title = "Open a picture";
    std::vector<std::string> pairs, faults = {"not checked"};
    /* A video stream: detection refuses it (4019) before any plug-in is asked. */
    WriteFileBytes(Path("junk.xyz"), std::string("\0\0\1\xBA", 4) + "video");
    c32SetDLLErrInfo("the application's own", 1234, 0, 1, 2, 3);
    RecordedError before = ReadError(), during;
    ASSERT_EQ(1, Drive(&request, [&](HWND dialog) {
        if (request.filter) pairs = Names(request.filter);  /* the module's list, lent */
        TypeName(dialog, "*.xyz");  /* no type lists it: a typed pattern shows it */
        Press(dialog, IDOK);
        ASSERT_TRUE(SelectFiles(dialog, {"junk.xyz"}));
        WaitFor([&] { return (during = ReadError()).id != before.id; }, 5000);
        ChooseType(dialog, 0);
        for (const auto &c : cases) {
            SCOPED_TRACE(c.file);
            ASSERT_TRUE(SelectFiles(dialog, {c.file}));
            EXPECT_TRUE(WaitFor([&] {
                return Text(dialog, 2201).find(c.size) != std::string::npos &&
                       Visible(dialog, 32005) == c.atOnce && Visible(dialog, 2702) != c.atOnce &&
                       Enabled(dialog, 2702) != c.atOnce;
            }, 10000)) << Text(dialog, 2201);
            std::string text = Text(dialog, 2201);
            size_t at = text.find(" pixels,  ");
            std::string rest = at == std::string::npos ? "" : text.substr(at + 10);
            EXPECT_TRUE(c.resolution ? rest.rfind(c.resolution, 0) == 0
                                     : rest.find(" x ") == std::string::npos) << text;
            if (!c.atOnce) Press(dialog, 2702);
            EXPECT_TRUE(WaitFor([&] { return Visible(dialog, 32005); }, 10000));
            if (&c != cases) continue;
            faults = LayoutFaults(dialog, {{"info", 2201}, {"picture", 32005}, {"options", 32003},
                                           {"find", 2701}, {"help", 9}, {"ok", IDOK},
                                           {"cancel", IDCANCEL}, {"types", 0x470},
                                           {"name", 0x47c}, {"files", 0}});
            HoldForScreenshot();
        }
        Press(dialog, IDOK);
    }));
    EXPECT_EQ(std::vector<std::string>{Path("near.tfc")}, Names(result));
    EXPECT_NE(before.id, during.id) << "the panel recorded nothing: the case proves nothing";
    RecordedError after = ReadError();
    EXPECT_EQ(before.text + " " + std::to_string(before.where3),
              after.text + " " + std::to_string(after.where3));
    EXPECT_EQ(std::vector<std::string>{}, faults);
    /* All formats first, then each format in table order. */
    ASSERT_EQ(16u, pairs.size());
    EXPECT_NE(std::string::npos, pairs[2].find("TFA pictures")) << pairs[2];
    EXPECT_NE(std::string::npos, pairs[6].find("TFC pictures")) << pairs[6];
    EXPECT_EQ(nullptr, request.filter) << "the caller's field as the caller gave it";
}

TEST_F(OpenDialog, MultipleSelectionGivesFullNamesWithinTheCallersBuffer)
{
    DWORD one = (DWORD)Path("a.tfa").size() + 2;  /* the first name, its zero, the final zero */
    std::vector<std::string> three = {"a.tfa", "b.tfa", "c.tfa"}, many;
    for (int i = 0; i < 80; i++)
        many.push_back(std::to_string(1000 + i) + std::string(142, 'n') + ".tfa");
    const struct { std::vector<std::string> typed; DWORD size; std::vector<std::string> names; }
        cases[] = {
            {three, one, {"a.tfa"}},
            {three, one - 1, {}},
            {many, sizeof result, many},  /* more than the 10500 bytes the dialog starts with */
        };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        std::string typed;
        for (const std::string &name : c.typed) {
            WriteFileBytes(Path(name), "picture");
            typed += "\"" + name + "\" ";
        }
        DeleteFileA(boxes.c_str());
        OpenFileRequest request = Request(OFN_ALLOWMULTISELECT);
        request.resultSize = c.size;
        memset(result, 0x5A, sizeof result);
        ASSERT_EQ(1, Drive(&request, [&](HWND dialog) {
            TypeName(dialog, typed);
            Press(dialog, IDOK);
        }));
        std::vector<std::string> expected;
        for (const std::string &name : c.names) expected.push_back(Path(name));
        EXPECT_EQ(expected, Names(result));
        /* A short buffer: nothing written beyond it, and the box that says so. */
        bool cut = c.size < sizeof result;
        EXPECT_TRUE(!cut || (unsigned char)result[c.size] == 0x5A) << "written beyond the buffer";
        std::vector<std::string> shown = ReadLines(boxes);
        ASSERT_EQ(cut ? 1u : 0u, shown.size());
        EXPECT_TRUE(!cut || shown[0].rfind("31410|703|1720|219|", 0) == 0) << shown[0];
    }
}

TEST_F(OpenDialog, TypeChosenInOneOpenIsPreselectedInTheNext)
{
    /* The first open starts at all formats; a cancelled open is not remembered. */
    std::vector<int> preselected;
    for (auto [choose, ok] : {std::pair{2, true}, std::pair{3, false}, std::pair{1, true},
                              std::pair{-1, false}}) {
        EXPECT_EQ(ok ? 1 : 0, Drive(nullptr, [&, choose = choose, ok = ok](HWND dialog) {
            preselected.push_back((int)SendDlgItemMessageA(dialog, 0x470, CB_GETCURSEL, 0, 0));
            if (choose >= 0) ChooseType(dialog, choose);
            TypeName(dialog, "a.tfa");
            Press(dialog, ok ? IDOK : IDCANCEL);
        }));
    }
    EXPECT_EQ((std::vector<int>{0, 2, 2, 1}), preselected);
}

/* In one dialog: a type change puts its pattern into an empty or pattern name and the
   options button follows the type; find puts the finder's answer into the name (an empty
   name searches for the type's pattern); help is the module's own; a cancel restores the
   current folder the dialog changed. */
TEST_F(OpenDialog, TypesOptionsFindHelpAndTheCurrentFolder)
{
    OpenFileRequest request = Request(OFN_SHOWHELP);
    OpenHelpInfo info = {};
    info.helpFile = "C:\\help\\app.hlp";
    info.context = 77;
    request.helpInfo = &info;
    std::string finds = dir / "finder.log", sub = Path("sub");
    ScopedEnv finderLog("Q32BROWS_LOG", finds), answer("Q32BROWS_AUTO", "cancel");
    CreateDirectoryA(sub.c_str(), nullptr);
    char before[MAX_PATH] = "", during[MAX_PATH] = "", after[MAX_PATH] = "";
    SetCurrentDirectoryA(dir.path().c_str());
    GetCurrentDirectoryA(sizeof before, before);
    std::vector<std::string> seen;
    bool systemHelp = true;
    EXPECT_EQ(0, Drive(&request, [&](HWND dialog) {
        /* typed, type (-1: kept), the finder's answer (null: no search) */
        const struct { const char *typed; int type; const char *answer; } steps[] = {
            {"", 2, nullptr}, {"a.tfa", 1, nullptr}, {"*.tfb", 3, nullptr}, {"", 0, nullptr},
            {"", 2, "cancel"}, {"ne*", -1, "first"}, {"", 1, "first"}};
        for (const auto &step : steps) {
            TypeName(dialog, step.typed);
            if (step.type >= 0) ChooseType(dialog, step.type);
            if (step.answer) {
                SetEnvironmentVariableA("Q32BROWS_AUTO", step.answer);
                size_t searched = ReadLines(finds).size();
                Press(dialog, 2701);
                /* Logged, and the click handled (its thread answers again). */
                WaitFor([&] { return ReadLines(finds).size() > searched && Ready(dialog); }, 3000);
            }
            seen.push_back(Text(dialog, 0x47c) + (Enabled(dialog, IDOK) ? " ok" : "") +
                           (Enabled(dialog, 32003) ? " options" : ""));
        }
        systemHelp = Visible(dialog, 0x40e);
        Press(dialog, 9);
        WaitFor([&] { return Exists(help); }, 3000);
        TypeName(dialog, "sub");
        Press(dialog, IDOK);
        WaitFor([&] {
            GetCurrentDirectoryA(sizeof during, during);
            return !lstrcmpiA(during, sub.c_str());
        }, 5000);
        Press(dialog, IDCANCEL);
    }));
    /* TFA has open options; all formats, TFB and TFC none. */
    std::string all = seen.size() > 3 ? seen[3] : "";
    EXPECT_EQ((std::vector<std::string>{"*.tfb", "a.tfa ok options", "*.tfc", all, "*.tfb",
                                        Path("near.tfc") + " ok", Path("a.tfa") + " ok options"}),
              seen);
    EXPECT_EQ(std::string::npos, all.find(" o")) << all;
    std::string folder = "|" + pictures + "|0";
    EXPECT_EQ((std::vector<std::string>{"find|*.tfb" + folder, "find|ne*" + folder,
                                        "find|*.tfa" + folder}),
              ReadLines(finds));
    EXPECT_EQ(1u, request.help);
    EXPECT_FALSE(systemHelp);
    EXPECT_EQ(std::vector<std::string>{"C:\\help\\app.hlp>d|1|77"}, ReadLines(help));
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STRCASEEQ(sub.c_str(), during) << "the dialog did not change the folder";
    EXPECT_STREQ(before, after);
}

/* A palette pick shows a palette file's colours as a grid. OK on an image without a palette
   is a failure the slot tells of; the all-files entry is no format number. */
TEST_F(OpenDialog, PalettePickShowsTheColoursAsAGrid)
{
    /* A RIFF palette of the 16 VGA colours. */
    std::string data = std::string("\x00\x03\x10\x00", 4);
    for (uint32_t rgb : {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080,
                         0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF,
                         0x00FFFF, 0xFFFFFF})
        data += std::string{char(rgb >> 16), char(rgb >> 8), char(rgb), 0};
    auto le32 = [](size_t v) { return std::string((const char *)&v, 4); };
    std::string body = "PAL data" + le32(data.size()) + data;
    WriteFileBytes(Path("vga.pal"), "RIFF" + le32(body.size()) + body);
    for (auto [name, colours] : {std::pair{"vga.pal", 16u}, std::pair{"a.tfa", 0u}}) {
        SCOPED_TRACE(name);
        c32ResetDLLErrInfo();
        PalettePick pick = {};
        char caption[64] = "";
        UINT during = 1;
        EXPECT_EQ(colours ? 1 : 0, Drive(nullptr, [&](HWND dialog) {
            during = ReadError().id;
            ASSERT_TRUE(SelectFiles(dialog, {name}));
            const char *wanted = colours ? "16 colours" : "pixels";
            EXPECT_TRUE(WaitFor([&] {
                return Text(dialog, 2201).find(wanted) != std::string::npos;
            })) << wanted;
            GetWindowTextA(dialog, caption, sizeof caption);
            if (colours && WaitFor([&] { return Visible(dialog, 32005); })) HoldForScreenshot();
            Press(dialog, IDOK);
        }, &pick));
        EXPECT_EQ(0u, during);
        EXPECT_STREQ("Choose a Palette", caption);
        EXPECT_EQ(colours, pick.colors);
        EXPECT_EQ(colours != 0, pick.palette != nullptr);
        EXPECT_EQ(colours ? 0u : 4026u, ReadError().id);
        EXPECT_TRUE(!colours || Names(result) == std::vector<std::string>{Path(name)});
        if (pick.palette) DeleteObject(pick.palette);
    }
}

class VisualOpen : public OpenDialog {
protected:
    std::string thumbs = dir / "thumbs";
    decltype(&q32FileSetVisualOpenStatus) setStatus = nullptr;

    void SetUp() override
    {
        OpenDialog::SetUp();
        CreateDirectoryA(thumbs.c_str(), nullptr);
        for (const char *name : {"a.tfa", "b.tfa", "grey.tfd"})
            WriteFileBytes(Join(thumbs, name), "picture");
        setStatus = Q32_EXPORT(module, q32FileSetVisualOpenStatus);
        ASSERT_TRUE(setStatus);
    }
};

TEST_F(VisualOpen, UsedOnlyAfterAStatusCallAndNeverForSeveralOrAPick)
{
    ScopedEnv automatic("Q32VOFN_AUTO", "first");  /* the chooser answers unseen */
    WritePrivateProfileStringA("Q32File", "Enable Visual Open", "1", ini.c_str());
    PalettePick pick = {};
    /* available (-2: no status call), switch (-1: left), mode, chooser used, switch after */
    const struct { int available, on; void *mode; bool visual; const char *after; } cases[] = {
        {-2, 0, nullptr, false, "1"}, {1, -1, nullptr, true, "1"}, {-2, 0, (void *)1, false, "1"},
        {-2, 0, &pick, false, "1"},   {1, 0, nullptr, false, "0"}, {1, 1, nullptr, true, "1"},
        {0, 0, nullptr, false, "1"},
    };
    DWORD self = GetCurrentThreadId();
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.available << " " << c.on << " mode " << c.mode);
        if (c.available != -2) setStatus(c.available, c.on);
        std::atomic<bool> returned{false}, shown{false};
        std::thread cancel([&] {  /* the file dialog, when shown, is cancelled */
            HWND dialog = FindDialog(self, nullptr, [&] { return returned.load(); });
            if ((shown = dialog != nullptr)) Press(dialog, IDCANCEL);
        });
        memset(result, 0x5A, sizeof result);
        int answer = showOpen(nullptr, thumbs.c_str(), c.mode, result, 600, nullptr);
        returned = true;
        cancel.join();
        EXPECT_EQ(!c.visual, shown.load());
        /* The chooser's answer as it stands: the first image in name order. */
        EXPECT_EQ(c.visual ? Join(thumbs, "a.tfa") : "", std::string(answer ? result : ""));
        EXPECT_EQ(0x5A, (unsigned char)result[600]);
        char after[16] = "";
        GetPrivateProfileStringA("Q32File", "Enable Visual Open", "", after, 16, ini.c_str());
        EXPECT_STREQ(c.after, after);
    }
    auto getStatus = Q32_EXPORT(module, q32FileGetVisualOpenStatus);
    int available = -1;
    EXPECT_EQ(0, getStatus(&available));
    EXPECT_EQ(0, available);
    setStatus(1, 1);
    WritePrivateProfileStringA("Q32File", "Enable Visual Open", "0", ini.c_str());
    EXPECT_EQ(0, getStatus(nullptr)) << "the switch is read afresh";
}

/* The visible chooser: thumbnails of the folder's images; the one chosen answers. */
TEST_F(VisualOpen, ThumbnailChooserListsTheFolderImages)
{
    setStatus(1, 1);
    int items = 0;
    auto show = Q32_EXPORT(module, q32FileShowOpenDlg1);
    EXPECT_EQ(1, DriveDialog([&]() -> INT_PTR {
        return show(nullptr, thumbs.c_str(), nullptr, result, sizeof result, nullptr,
                    "Choose a picture");
    }, [&](HWND chooser) {
        HWND list = FindDescendant(chooser, "SysListView32");
        items = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
        HoldForScreenshot();
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 2, (LPARAM)&state);
        Press(chooser, IDOK);
    }, "Choose a picture"));
    EXPECT_EQ(3, items);
    EXPECT_EQ(std::vector<std::string>{Join(thumbs, "grey.tfd")}, Names(result));
}

} // namespace
