/*
 * The open dialog driven unattended: a thread finds the dialog, selects entries in the
 * shell view's list, types names and presses buttons, each wait bounded.
 */
#include <gtest/gtest.h>
#include "harness.h"
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

class OpenDialog : public ::testing::Test {
protected:
    q32test::TempDir dir;
    std::string suite = dir / "suite";
    std::string fio = dir / "suite\\FIO";
    std::string pictures = dir / "pictures";
    std::string boxes = dir / "boxes.log";
    std::string help = dir / "help.log";
    q32test::ScopedEnv appData{"Q32_APPDATA", dir / "appdata\\"};
    q32test::ScopedEnv boxLog{"Q32COMM_MB_LOG", boxes};
    q32test::ScopedEnv helpLog{"Q32COMM_HELP_LOG", help};
    q32test::ModuleCopy module{suite, dir / "suite.ini"};
    decltype(&q32FileGetOpenFileName) open = nullptr;
    char result[2048];

    void SetUp() override
    {
        CreateDirectoryA((dir / "appdata").c_str(), nullptr);
        CreateDirectoryA(suite.c_str(), nullptr);
        CreateDirectoryA(fio.c_str(), nullptr);
        CreateDirectoryA(pictures.c_str(), nullptr);
        Stage("TFA", {{"Width", "8"}, {"Height", "6"}}, 1);
        Stage("TFB", {{"Width", "3000"}, {"Height", "2800"}}, 0);
        Stage("TFC", {{"Width", "2999"}, {"Height", "2800"}}, 0);
        for (const char *name : {"a.tfa", "b.tfa", "c.tfa", "big.tfb", "near.tfc"})
            q32test::WriteFileBytes(Join(pictures, name), "picture");
        ASSERT_TRUE(module.Load());
        open = Q32_EXPORT(module, q32FileGetOpenFileName);
        ASSERT_NE(nullptr, open);
        memset(result, 0x5A, sizeof result);
    }

    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys,
               DWORD openOptions)
    {
        q32test::TestFormat format;
        format.code = code;
        format.description = code + " pictures";
        format.fileData = "accept";
        format.typeMask = 0x7F;
        format.openOptions = openOptions;
        format.keys = std::move(keys);
        q32test::StagePlugin(fio, q32test::TestPlugin(code + ".FIO", {format}));
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
    bool picture = false, button = true;
    Driver driver([&](HWND dialog) {
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
    EXPECT_NE(std::string::npos, panel.find("8 x 6 pixels")) << panel;
    EXPECT_TRUE(picture);
    EXPECT_FALSE(button);
    /* The module's filter string: all formats first, then each format in table order. */
    ASSERT_NE(nullptr, request.filter);
    std::vector<std::string> pairs = Names(request.filter);
    ASSERT_EQ(8u, pairs.size());
    EXPECT_NE(std::string::npos, pairs[2].find("TFA pictures")) << pairs[2];
    EXPECT_NE(std::string::npos, pairs[6].find("TFC pictures")) << pairs[6];
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
   dialog and do not overlap. With Q32_SHOT_FLAG set the dialog stays up until that file
   exists (at most 30 s), so that scripts/screenshot can take its picture. */
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
        char flag[MAX_PATH];
        if (GetEnvironmentVariableA("Q32_SHOT_FLAG", flag, sizeof flag))
            WaitFor([&] { return q32test::Exists(flag); }, 30000);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, open(&request));
    EXPECT_EQ("info picture options find help ok cancel types name files ", checked);
    EXPECT_EQ(std::vector<std::string>{}, faults);
}

} // namespace
