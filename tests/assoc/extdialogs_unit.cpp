/* The extension list and entry dialogs, driven from a second thread: what they write to
   section FIO_EXT, what they refuse, what Cancel restores and which filter lists OK
   rebuilds. */
#include "../registry/registry_fixture.h"
#include "dialogdriver.h"
#include "assoc/assoc.h"
#include "prefs/prefs.h"
#include "scratch_classes.h"

using namespace q32test;

namespace {

enum { PairList = 32241, AddButton = 2601, RemoveButton = 2602, EditButton = 2603,
       ExtensionEdit = 2001, FormatCombo = 32221 };
enum { Bmp, Jpc, Jpg, Png, Wb }; /* combo positions: the formats in code order */

class ExtensionDialogs : public RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        /* A test plug-in copy declares at most four formats. */
        std::vector<TestFormat> formats;
        for (const char *code : {"BMP", "JPC", "JPG", "PNG", "WB"})
            formats.push_back(Format(code, std::string(code) + " image"));
        Stage({"TA.FIO", {formats.begin(), formats.begin() + 3}});
        Stage({"TB.FIO", {formats.begin() + 3, formats.end()}});
        WritePrivateProfileStringA("FIO_EXT", "JPC_USER", "JP2;", ini.c_str());
        WritePrivateProfileStringA("FIO_EXT", "PNG_USER", "PNX;", ini.c_str());
        ASSERT_EQ(5, Start());
    }

    std::string Key(const char *key)
    {
        char value[260];
        GetPrivateProfileStringA("FIO_EXT", key, "<none>", value, sizeof value, ini.c_str());
        return value;
    }
    INT_PTR ShowList(const std::function<void(HWND)> &script)
    {
        return DriveDialog([] { return DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(32117), nullptr,
                                                 ExtensionListProc, 0); },
                     script, "File Extensions");
    }
    /* The entry dialog of button with extension and the format at position (preselected:
       the one it chose itself); false when it stays open (it is then left open). */
    static bool Enter(HWND list, int button, const char *extension, int format, HWND *entry = nullptr,
                      int *preselected = nullptr)
    {
        Press(list, button);
        HWND dialog = FindDialog(GetWindowThreadProcessId(list, nullptr),
                                 button == AddButton ? "Add Extension" : "Edit Extension");
        EXPECT_TRUE(dialog);
        if (entry) *entry = dialog;
        if (preselected) *preselected = (int)SendDlgItemMessageA(dialog, FormatCombo, CB_GETCURSEL, 0, 0);
        SetDlgItemTextA(dialog, ExtensionEdit, extension);
        SendDlgItemMessageA(dialog, FormatCombo, CB_SETCURSEL, format, 0);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        /* EndDialog hides the dialog at once; a refused entry stays shown. */
        if (IsWindowVisible(dialog)) return false;
        bool closed = WaitClosed(dialog);
        SendMessageA(list, WM_NULL, 0, 0); /* the list dialog has taken the pair in */
        return closed;
    }
};

TEST_F(ExtensionDialogs, AddingPutsTheExtensionInFrontOfTheFormatsUserList)
{
    std::vector<std::string> opened, added;
    INT_PTR result = ShowList([&](HWND d) {
        opened = Items(d, PairList);
        EXPECT_TRUE(Enter(d, AddButton, ".jpf", Jpc));
        added = Items(d, PairList);
        EXPECT_TRUE(Enter(d, AddButton, "wbx", Wb)) << "a two-letter code";
        Press(d, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ((std::vector<std::string>{"JP2 =JPC", "PNX =PNG"}), opened);
    EXPECT_EQ((std::vector<std::string>{"JPF=JPC", "JP2 =JPC", "PNX =PNG"}), added);
    EXPECT_EQ("JPF;JP2;", Key("JPC_USER"));
    EXPECT_EQ("WBX;", Key("WB_USER"));
    EXPECT_EQ(Jpc + 1, q32FileGetFormatID("jpf", nullptr)) << "the table was reloaded";
}

TEST_F(ExtensionDialogs, ExtensionsOfFormatsAreRefusedNamingTheOwner)
{
    const struct { const char *extension; const char *message; } cases[] = {
        {"jpg", "JPG is the code of a format: it cannot be added as an extension."},
        {"jpe", "The extension JPE is already used by the format JPG."},
        {"J2K", "The extension J2K is already used by the format JPC."},
        {"pnx", "The extension PNX is already used by the format PNG."},
    };
    std::string mb = dir / "boxes.log";
    INT_PTR result = ShowList([&](HWND d) {
        for (const auto &c : cases) {
            DeleteFileA(mb.c_str());
            HWND entry = nullptr;
            EXPECT_FALSE(Enter(d, AddButton, c.extension, Bmp, &entry)) << c.extension;
            std::vector<std::string> boxes = ReadLines(mb);
            ASSERT_EQ(1u, boxes.size()) << c.extension;
            EXPECT_EQ(0u, boxes[0].find("3200|703|1712|1|0|")) << boxes[0];
            EXPECT_NE(std::string::npos, boxes[0].find(std::string("|") + c.message)) << boxes[0];
            Press(entry, IDCANCEL);
            WaitClosed(entry);
        }
        Press(d, IDOK);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ("<none>", Key("BMP_USER"));
}

TEST_F(ExtensionDialogs, CancelRestoresTheListsAsTheyWere)
{
    bool removeEnabled = true, editEnabled = true;
    INT_PTR result = ShowList([&](HWND d) {
        HWND list = GetDlgItem(d, PairList);
        SendMessageA(list, LB_SETCURSEL, 1, 0);
        SendMessageA(d, WM_COMMAND, RemoveButton, 0);
        EXPECT_EQ("", Key("PNG_USER")) << "the only pair removed: an empty list";
        SendMessageA(d, WM_COMMAND, RemoveButton, 0);
        EXPECT_EQ("", Key("JPC_USER"));
        removeEnabled = IsWindowEnabled(GetDlgItem(d, RemoveButton));
        editEnabled = IsWindowEnabled(GetDlgItem(d, EditButton));
        EXPECT_TRUE(Enter(d, AddButton, "rlx", Bmp));
        EXPECT_EQ("RLX;", Key("BMP_USER"));
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(0, result);
    EXPECT_FALSE(removeEnabled);
    EXPECT_FALSE(editEnabled);
    EXPECT_EQ("PNX;", Key("PNG_USER"));
    EXPECT_EQ("JP2;", Key("JPC_USER"));
    EXPECT_EQ("<none>", Key("BMP_USER")) << "a key without a value before is deleted";
    EXPECT_EQ(Png + 1, q32FileGetFormatID("pnx", nullptr));
}

/* An ini list longer than the record's field, with an extension longer than the entry
   field takes: nothing is cut, neither by the list's own writes nor by Cancel, and the
   long extension is refused whole when edited. */
TEST_F(ExtensionDialogs, LongListsAndExtensionsAreNeverCut)
{
    std::string list = "PNX;TOOLONGX;";
    for (int i = 0; i < 12; i++) list += "PN" + std::to_string(10 + i) + ";";  /* 73 characters */
    WritePrivateProfileStringA("FIO_EXT", "PNG_USER", list.c_str(), ini.c_str());
    std::string mb = dir / "boxes.log", afterRemove, afterEdit;
    DeleteFileA(mb.c_str());
    std::vector<std::string> boxes;
    INT_PTR result = ShowList([&](HWND d) {
        HWND pairs = GetDlgItem(d, PairList);
        SendMessageA(pairs, LB_SETCURSEL, 1, 0);  /* PNX =PNG */
        SendMessageA(d, WM_COMMAND, RemoveButton, 0);
        afterRemove = Key("PNG_USER");
        SendMessageA(pairs, LB_SETCURSEL, 1, 0);  /* TOOLONGX =PNG */
        HWND entry = nullptr;
        EXPECT_FALSE(Enter(d, EditButton, "TOOLONGX", Jpc, &entry));
        boxes = ReadLines(mb);
        Press(entry, IDCANCEL);
        WaitClosed(entry);
        afterEdit = Key("PNG_USER");
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(list.substr(4), afterRemove) << "the rest of the list as it was";
    EXPECT_EQ(list.substr(4), afterEdit);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_NE(std::string::npos,
              boxes[0].find("The extension TOOLONGX is longer than 4 characters")) << boxes[0];
    EXPECT_EQ("JP2;", Key("JPC_USER"));
    EXPECT_EQ(list, Key("PNG_USER")) << "Cancel gives the whole list back";
}

TEST_F(ExtensionDialogs, EditingMovesAPairToItsNewFormat)
{
    std::vector<std::string> items;
    int preselected = -1;
    ShowList([&](HWND d) {
        SendDlgItemMessageA(d, PairList, LB_SETCURSEL, 1, 0);
        EXPECT_TRUE(Enter(d, EditButton, "PNZ", Jpc, nullptr, &preselected));
        items = Items(d, PairList);
        Press(d, IDOK);
    });
    EXPECT_EQ((std::vector<std::string>{"PNZ=JPC", "JP2 =JPC"}), items);
    EXPECT_EQ(Png, preselected) << "the pair's own format";
    EXPECT_EQ("PNZ;JP2;", Key("JPC_USER"));
    EXPECT_EQ("", Key("PNG_USER"));
}

TEST_F(ExtensionDialogs, OkRebuildsOnlyTheCachedFilterListsThatExisted)
{
    CachedFilterLists[0] = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS);
    ASSERT_TRUE(CachedFilterLists[0]);
    ASSERT_FALSE(CachedFilterLists[1]);
    /* The whole filter string, its NULs as '|'. */
    auto text = [](HGLOBAL list) {
        std::string all;
        for (const char *p = (const char *)FilterAction(list, FILTER_TEXT, 0); *p; p += strlen(p) + 1)
            all += std::string(p) + "|";
        return all;
    };
    EXPECT_EQ(std::string::npos, text(CachedFilterLists[0]).find("JPF"));
    ShowList([&](HWND d) {
        EXPECT_TRUE(Enter(d, AddButton, "jpf", Jpc));
        Press(d, IDOK);
    });
    ASSERT_TRUE(CachedFilterLists[0]);
    EXPECT_FALSE(CachedFilterLists[1]);
    EXPECT_NE(std::string::npos, text(CachedFilterLists[0]).find("JPF")) << text(CachedFilterLists[0]);
}

TEST_F(ExtensionDialogs, HelpComesFromThePageParameterBlocks)
{
    ScopedEnv helpLog("Q32COMM_HELP_LOG", dir / "help.log");
    AssociationPageParam param = {"Editor", "KD3.Image",
                                  {{0, 0, "list.hlp", 71}, {0, 0, "add.hlp>w", 72}, {0, 0, "edit.hlp", 73}}},
                         other = {"Other", "KD3.Other", {{0, 0, "other.hlp", 81}}};
    DriveDialog([&] { return DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(32117), nullptr,
                                       ExtensionListProc, (LPARAM)&param); },
          [&](HWND d) {
              /* A second list dialog opened later keeps its own parameter. */
              HWND second = CreateDialogParamA(ResourceModule, MAKEINTRESOURCEA(32117), nullptr,
                                               ExtensionListProc, (LPARAM)&other);
              SendMessageA(second, WM_COMMAND, 9, 0);
              DestroyWindow(second);
              SendMessageA(d, WM_COMMAND, 9, 0);
              for (int button : {AddButton, EditButton}) {
                  Press(d, button);
                  HWND entry = FindDialog(GetWindowThreadProcessId(d, nullptr),
                                          button == AddButton ? "Add Extension" : "Edit Extension");
                  SendMessageA(entry, WM_COMMAND, 9, 0);
                  Press(entry, IDCANCEL);
                  WaitClosed(entry);
              }
              Press(d, IDCANCEL);
          }, "File Extensions");
    EXPECT_EQ((std::vector<std::string>{"other.hlp>d|1|81", "list.hlp>d|1|71", "add.hlp>w|1|72",
                                        "edit.hlp>d|1|73"}),
              ReadLines(dir / "help.log"));
}

/* The page as q32ShowTreePreference creates it: with the caller's name and class. */
TEST_F(ExtensionDialogs, APageParameterNamesTheApplicationAndItsClass)
{
    ScratchClasses classes("param");
    SetClassText(".jpg", "My.Class");
    AssociationPageParam param = {"My Program", "My.Class", {}};
    HWND host = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    auto open = [&] {
        return CreateDialogParamA(ResourceModule, MAKEINTRESOURCEA(AssociationTemplate), host,
                                  AssociationPageProc, (LPARAM)&param);
    };
    HWND page = open();
    ASSERT_TRUE(page);
    char heading[64] = "";
    GetDlgItemTextA(page, 2201, heading, sizeof heading);
    EXPECT_STREQ("File types that My Program opens:", heading);
    HWND list = GetDlgItem(page, PairList);
    EXPECT_EQ(5, SendMessageA(list, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(0x10001, SendMessageA(list, LB_GETITEMDATA, Jpg, 0));
    PreferenceResultFlags = 0;
    SendMessageA(page, WM_COMMAND, 2602, 0);
    SendMessageA(page, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0x10u, PreferenceResultFlags);
    EXPECT_EQ("My.Class", ClassText(".png"));
    DestroyWindow(page);

    param.applicationClass[0] = 0;
    page = open();
    EXPECT_EQ(0, SendDlgItemMessageA(page, PairList, LB_GETCOUNT, 0, 0)) << "an empty class is none";
    DestroyWindow(page);
    DestroyWindow(host);
}

TEST_F(ExtensionDialogs, UserListOperations)
{
    WritePrivateProfileStringA("FIO_EXT", "PNG_USER", "PNX;pny;;PNX;", ini.c_str());
    EXPECT_EQ(1, IsExtensionListed("jpe", "JPG")) << "in the extension list";
    EXPECT_EQ(1, IsExtensionListed("PNY", "png")) << "in the user list";
    EXPECT_EQ(0, IsExtensionListed("jpe", "PNG"));
    EXPECT_EQ(0, RemoveUserExtension("abc", "PNG"));
    EXPECT_EQ("PNX;pny;;PNX;", Key("PNG_USER")) << "nothing dropped, nothing written";
    EXPECT_EQ(1, RemoveUserExtension("pnx", "PNG"));
    EXPECT_EQ("pny;", Key("PNG_USER"));
    EXPECT_EQ(0, RemoveUserExtension("pnx", "BMP")) << "no user list";

    char extension[8] = "wbx", owner[8] = "x";
    EXPECT_EQ(0, FindExtensionOwner(extension, owner));
    EXPECT_STREQ("WBX", extension);
    EXPECT_STREQ("", owner);
    char rle[8] = "rle";
    EXPECT_EQ(1, FindExtensionOwner(rle, owner));
    EXPECT_STREQ("BMP", owner);
}

} // namespace
