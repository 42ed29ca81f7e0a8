/* The extension list and entry dialogs, driven from a second thread: what they write to
   section FIO_EXT, what they refuse, what Cancel restores and which filter lists OK
   rebuilds. */
#include "../registry/registry_fixture.h"
#include "dialogdriver.h"
#include "assoc/assoc.h"

using namespace q32test;

namespace {

using Lines = std::vector<std::string>;

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
        auto list = MAKEINTRESOURCEA(32117);
        auto show = [=] { return DialogBoxParamA(ResourceModule, list, 0, ExtensionListProc, 0); };
        return DriveDialog(show, script, "File Extensions");
    }
    /* The entry dialog of button with extension and the format at position (chosen: the
       one it preselected itself); false when it refuses them (it is then cancelled). */
    static bool Enter(HWND list, int button, const char *extension, int format, int *chosen = 0)
    {
        Press(list, button);
        HWND dialog = FindDialog(GetWindowThreadProcessId(list, nullptr),
                                 button == AddButton ? "Add Extension" : "Edit Extension");
        EXPECT_TRUE(dialog);
        if (chosen) *chosen = (int)SendDlgItemMessageA(dialog, FormatCombo, CB_GETCURSEL, 0, 0);
        SetDlgItemTextA(dialog, ExtensionEdit, extension);
        SendDlgItemMessageA(dialog, FormatCombo, CB_SETCURSEL, format, 0);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        /* EndDialog hides the dialog at once; a refused entry stays shown. */
        bool refused = IsWindowVisible(dialog);
        if (refused) Press(dialog, IDCANCEL);
        bool closed = WaitClosed(dialog);
        SendMessageA(list, WM_NULL, 0, 0); /* the list dialog has taken the pair in */
        return closed && !refused;
    }
};

TEST_F(ExtensionDialogs, AddingAndEditingPutThePairInFrontOfTheFormatsUserList)
{
    CachedFilterLists[0] = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS);
    ASSERT_TRUE(CachedFilterLists[0]);
    auto filters = [] {
        std::string all;
        auto text = (const char *)FilterAction(CachedFilterLists[0], FILTER_TEXT, 0);
        for (const char *p = text; *p; p += strlen(p) + 1) all += std::string(p) + "|";
        return all;
    };
    EXPECT_EQ(std::string::npos, filters().find("JPF"));
    EXPECT_EQ(1, ShowList([&](HWND d) {
        EXPECT_EQ((Lines{"JP2 =JPC", "PNX =PNG"}), Items(d, PairList));
        EXPECT_TRUE(Enter(d, AddButton, ".jpf", Jpc));
        EXPECT_EQ((Lines{"JPF=JPC", "JP2 =JPC", "PNX =PNG"}), Items(d, PairList));
        SendDlgItemMessageA(d, PairList, LB_SETCURSEL, 2, 0);  /* PNX =PNG */
        int preselected = -1;
        EXPECT_TRUE(Enter(d, EditButton, "PNZ", Jpc, &preselected));
        EXPECT_EQ(Png, preselected) << "the pair's own format";
        EXPECT_EQ((Lines{"PNZ=JPC", "JPF=JPC", "JP2 =JPC"}), Items(d, PairList));
        EXPECT_TRUE(Enter(d, AddButton, "wbx", Wb)) << "a two-letter code";
        Press(d, IDOK);
    }));
    EXPECT_EQ("PNZ;JPF;JP2;", Key("JPC_USER"));
    EXPECT_EQ("", Key("PNG_USER"));
    EXPECT_EQ("WBX;", Key("WB_USER"));
    EXPECT_EQ(Jpc + 1, q32FileGetFormatID("jpf", nullptr)) << "the table was reloaded";
    /* OK rebuilds only the cached filter lists that existed. */
    EXPECT_NE(std::string::npos, filters().find("JPF")) << filters();
    EXPECT_FALSE(CachedFilterLists[1]);
}

TEST_F(ExtensionDialogs, ExtensionsOfFormatsAndLongOnesAreRefusedNamingTheReason)
{
    const struct { const char *extension; const char *message; } cases[] = {
        {"jpg", "JPG is the code of a format: it cannot be added as an extension."},
        {"J2K", "The extension J2K is already used by the format JPC."},
        {"pnx", "The extension PNX is already used by the format PNG."},
        {"TOOLONGX", "The extension TOOLONGX is longer than 4 characters"},
    };
    EXPECT_EQ(1, ShowList([&](HWND d) {
        for (const auto &c : cases) {
            DeleteFileA(boxes.c_str());
            EXPECT_FALSE(Enter(d, AddButton, c.extension, Bmp)) << c.extension;
            Lines lines = ReadLines(boxes);
            ASSERT_EQ(1u, lines.size()) << c.extension;
            EXPECT_EQ(0u, lines[0].find("3200|703|1712|1|0|")) << lines[0];
            EXPECT_NE(std::string::npos, lines[0].find(std::string("|") + c.message)) << lines[0];
        }
        Press(d, IDOK);
    }));
    EXPECT_EQ("<none>", Key("BMP_USER"));
}

/* A list longer than the record's field, with an extension longer than the entry field
   takes: nothing is cut, by the list's own writes or by Cancel, which restores each list. */
TEST_F(ExtensionDialogs, CancelRestoresTheListsWholeAndNothingIsCut)
{
    std::string list = "PNX;TOOLONGX;";
    for (int i = 0; i < 12; i++) list += "PN" + std::to_string(10 + i) + ";";  /* 73 characters */
    WritePrivateProfileStringA("FIO_EXT", "PNG_USER", list.c_str(), ini.c_str());
    EXPECT_EQ(0, ShowList([&](HWND d) {
        SendDlgItemMessageA(d, PairList, LB_SETCURSEL, 0, 0);  /* JP2 =JPC */
        SendMessageA(d, WM_COMMAND, RemoveButton, 0);
        EXPECT_EQ("", Key("JPC_USER")) << "the only pair removed: an empty list";
        SendDlgItemMessageA(d, PairList, LB_SETCURSEL, 0, 0);  /* PNX =PNG */
        SendMessageA(d, WM_COMMAND, RemoveButton, 0);
        EXPECT_EQ(list.substr(4), Key("PNG_USER")) << "the rest of the list as it was";
        EXPECT_TRUE(Enter(d, AddButton, "rlx", Bmp));
        EXPECT_EQ("RLX;", Key("BMP_USER"));
        Press(d, IDCANCEL);
    }));
    EXPECT_EQ(list, Key("PNG_USER"));
    EXPECT_EQ("JP2;", Key("JPC_USER"));
    EXPECT_EQ("<none>", Key("BMP_USER")) << "a key without a value before is deleted";
    EXPECT_EQ(Png + 1, q32FileGetFormatID("pnx", nullptr));
}

} // namespace
