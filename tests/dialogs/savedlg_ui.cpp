/*
 * The save dialog driven unattended (a second thread types, chooses types and presses
 * buttons; a CBT hook answers the module's message boxes), and the capability mask.
 */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "boxes.h"
#include "dialogdriver.h"
#include <commdlg.h>
#include <memory>
#include <string>
#include <vector>

using namespace q32test;

namespace {

TEST(Capabilities, EachDataTypeBitAndCombinations)
{
    TempDir dir;
    ModuleCopy module(dir / "suite", dir / "suite.ini");
    ASSERT_TRUE(module.Load());
    auto fcap = Q32_EXPORT(module, q32FileGetFCap);
    ASSERT_NE(nullptr, fcap);
    const struct { DWORD type, capabilities; } cases[] = {
        {0x40, 0x1}, {0x8, 0x2}, {0x4, 0x4}, {0x20, 0x8}, {0x10, 0x10}, {0x2, 0x20},
        {0x1, 0x40}, {0x800, 0x80}, {0x1000, 0x10000}, {0x2000, 0x20000}, {0x4000, 0x40000},
        /* Bits without a capability, alone and beside others. */
        {0x80, 0}, {0x100, 0}, {0x200, 0}, {0x400, 0}, {0x780, 0}, {0xFFFF8000, 0},
        {0x3, 0x60}, {0x42, 0x21}, {0x7F, 0x7F}, {0x802, 0xA0}, {0x7002, 0x70020},
        {0xFFFFFFFF, 0x700FF}, {0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.capabilities, fcap(c.type)) << std::hex << "type 0x" << c.type;
}

/* The visible message box of this process, or null. */
bool BoxShown()
{
    bool shown = false;
    EnumThreadWindows(GetWindowThreadProcessId(FindFileDialog(), nullptr), [](HWND w, LPARAM p) -> BOOL {
        if (IsWindowVisible(w) && GetDlgItem(w, 0xFFFF) && !GetDlgItem(w, 0x470))
            *reinterpret_cast<bool *>(p) = true;
        return TRUE;
    }, (LPARAM)&shown);
    return shown;
}

/* Waits until count boxes have come and gone. */
bool BoxesAnswered(const BoxAnswerer &answerer, int count)
{
    return WaitFor([&] { return answerer.Count() >= count && !BoxShown(); }, 5000);
}

/* Chooses a type as the user does (the dialog reports it as CDN_TYPECHANGE). */
void ChooseType(HWND dialog, int index)
{
    HWND types = GetDlgItem(dialog, 0x470);
    SendMessageA(types, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELENDOK), (LPARAM)types);
}

bool WholeNameSelected(HWND dialog)
{
    DWORD start = 0, end = 0;
    HWND edit = NameEdit(dialog);
    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    return start == 0 && end > 0 && end == (DWORD)GetWindowTextLengthA(edit);
}

/* The module's message boxes are shown, and answered on the dialog's thread as they open. */
class SaveDialog : public ModuleSandbox {
protected:
    std::string finds = dir / "finds.log";
    ScopedEnv finderLog{"Q32BROWS_LOG", finds};
    ScopedEnv shownBoxes{"Q32COMM_MB_LOG", ""};
    decltype(&q32FileGetSaveFileName) save = nullptr;
    HGLOBAL fileData = nullptr;
    std::unique_ptr<BoxAnswerer> answerer;
    char name[260] = "";

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        describe = " pictures";
        /* Numbers in code order: JPG 1, TFA 2, TFB 3, TFC 4. The images are 24-bit
           colour (Q32_CAP_RGB 0x20), which TFB cannot store. */
        Stage("JPG", {}, "accept", "", 0x20, 0, 1);
        Stage("TFA", {}, "accept", "", 0x60, 0, 1);
        Stage("TFB", {}, "accept", "", 0x40, 0, 1);
        Stage("TFC", {}, "accept", "", 0x20, 0, 0);
        Stage("TFV", {{"DataType", "2048"}}, "accept", "", 0x80);  /* vector data, number 5 */
        for (const char *file : {"a.tfa", "b.tfb", "c.tfc", "d.tfv"})
            WriteFileBytes(Join(pictures, file), "picture");
        ASSERT_TRUE(module.Load());
        save = Q32_EXPORT(module, q32FileGetSaveFileName);
        ASSERT_NE(nullptr, save);
        answerer = std::make_unique<BoxAnswerer>();
    }

    void TearDown() override
    {
        answerer.reset();
        if (fileData)
            Q32_EXPORT(module, q32FileFreeFileData)(fileData);
    }

    /* A request for the image in file (of pictures). */
    SaveFileRequest Request(const char *file, DWORD help = 0)
    {
        fileData = Q32_EXPORT(module, qfFileGetFileData)(Join(pictures, file).c_str(), nullptr);
        EXPECT_NE(nullptr, fileData);
        SaveFileRequest request = {};
        request.name = name;
        request.maxPath = 259;
        request.initialDir = pictures.c_str();
        request.fileData = fileData;
        request.help = help;
        return request;
    }

    LONG FileDataFormat()
    {
        auto *data = (FileData *)GlobalLock(fileData);
        LONG format = data ? data->formatNumber : -1;
        GlobalUnlock(fileData);
        return format;
    }

    /* The save-option dialogs the plug-ins were asked for, with the FileData's format. */
    std::vector<std::string> SaveOptionCalls()
    {
        std::vector<std::string> lines;
        for (const std::string &line : ReadLines(calls))
            if (line.find(" saveoption ") != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    std::vector<BoxAnswerer::Box> Shown() { return answerer->Boxes(); }
};

TEST_F(SaveDialog, ListsTheFormatsThatStoreTheImageFromItsOwn)
{
    const struct {
        const char *file;
        DWORD help;
        int selection;
        bool options;
    } cases[] = {
        {"c.tfc", 1, 2, false},   /* TFC is listed: it is chosen first */
        {"b.tfb", 0, 0, true},    /* TFB cannot store colour: the first entry */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        SaveFileRequest request = Request(c.file, c.help);
        std::vector<std::string> types;
        int selection = -1;
        bool options = !c.options, helpExists = !c.help, helpShown = false;
        Driver driver([&](HWND dialog) {
            HWND list = GetDlgItem(dialog, 0x470);
            int count = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < count; i++) {
                char text[300] = "";
                SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
                types.push_back(std::string(text).substr(0, 3));
            }
            selection = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
            options = Enabled(dialog, 32003);
            helpExists = GetDlgItem(dialog, 9) != nullptr;
            helpShown = Visible(dialog, 9);
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, save(&request));
        EXPECT_TRUE(driver.found);
        EXPECT_EQ((std::vector<std::string>{"JPG", "TFA", "TFC"}), types);
        EXPECT_EQ(c.selection, selection);
        EXPECT_EQ(c.options, options);
        EXPECT_EQ(c.help != 0, helpExists);
        EXPECT_EQ(c.help != 0, helpShown);
        EXPECT_EQ(nullptr, request.context);
        Q32_EXPORT(module, q32FileFreeFileData)(fileData);
        fileData = nullptr;
    }
}

TEST_F(SaveDialog, AddsTheTypesExtensionToABareName)
{
    const struct { const char *typed, *saved; } cases[] = {
        {"photo", "photo.jpg"},      /* JPG's pattern *.JPG;*.JPEG;*.JPE gives .jpg */
        {"photo.JPG", "photo.JPG"},  /* it ends with it, case aside */
        {"photo.jpeg", "photo.jpeg.jpg"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        SaveFileRequest request = Request("b.tfb");  /* starts at JPG */
        Driver driver([&](HWND dialog) {
            TypeName(dialog, c.typed);
            Press(dialog, IDOK);
        });
        ASSERT_EQ(1, save(&request));
        EXPECT_STRCASEEQ(Join(pictures, c.saved).c_str(), name);
        EXPECT_STREQ(Join(pictures, c.saved).c_str() + pictures.size(), name + pictures.size());
        EXPECT_EQ(1u, request.format);
        EXPECT_EQ(1, FileDataFormat());
        EXPECT_EQ(0u, Shown().size());
        Q32_EXPORT(module, q32FileFreeFileData)(fileData);
        fileData = nullptr;
    }
}

/* Vector data (capability 0x80, which as selection flag also asks for the all-files
   entry): the all-files entry adds no extension and names no format, so the type chosen
   before it stays the one written. */
TEST_F(SaveDialog, TheAllFilesEntryAddsNoExtensionAndKeepsTheCurrentType)
{
    SaveFileRequest request = Request("d.tfv");
    std::vector<std::string> types;
    Driver driver([&](HWND dialog) {
        HWND list = GetDlgItem(dialog, 0x470);
        for (int i = 0, n = (int)SendMessageA(list, CB_GETCOUNT, 0, 0); i < n; i++) {
            char text[300] = "";
            SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
            types.push_back(text);
        }
        ChooseType(dialog, 1);
        TypeName(dialog, "drawing");
        Press(dialog, IDOK);
    });
    ASSERT_EQ(1, save(&request));
    ASSERT_EQ(2u, types.size());
    EXPECT_EQ(0u, types[1].find("* (")) << types[1];
    EXPECT_STREQ(Join(pictures, "drawing").c_str(), name);
    EXPECT_EQ(5u, request.format) << "never success with format 0";
    EXPECT_EQ(5, FileDataFormat());
}

/* A pattern typed as the name filters the list; it is no file to ask about. */
TEST_F(SaveDialog, APatternIsNoName)
{
    SaveFileRequest request = Request("a.tfa");  /* starts at TFA, and a.tfa exists */
    bool stayedOpen = false;
    Driver driver([&](HWND dialog) {
        TypeName(dialog, "*.tfa");
        Press(dialog, IDOK);
        Sleep(500);
        stayedOpen = IsWindow(dialog) && !BoxShown();
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, save(&request));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(0, answerer->Count());
}

TEST_F(SaveDialog, ReplacingAFileAsksOnceAndNoKeepsTheDialogOpen)
{
    SaveFileRequest request = Request("c.tfc");  /* starts at TFC */
    answerer->QueueAnswer(IDNO);
    answerer->QueueAnswer(IDYES);
    bool openAfterNo = false, selectedAfterNo = false;
    Driver driver([&](HWND dialog) {
        TypeName(dialog, "c");
        Press(dialog, IDOK);
        BoxesAnswered(*answerer, 1);
        openAfterNo = WaitFor([&] { return WholeNameSelected(dialog); }, 3000) && IsWindow(dialog);
        selectedAfterNo = WholeNameSelected(dialog);
        Press(dialog, IDOK);
    });
    ASSERT_EQ(1, save(&request));
    EXPECT_TRUE(openAfterNo);
    EXPECT_TRUE(selectedAfterNo);
    EXPECT_STRCASEEQ(Join(pictures, "c.tfc").c_str(), name);
    std::vector<BoxAnswerer::Box> shown = Shown();
    ASSERT_EQ(2u, shown.size()) << "one question for each OK, none of the system's";
    EXPECT_EQ("Save As", shown[0].title);
    EXPECT_NE(std::string::npos, shown[0].text.find(Join(pictures, "c.tfc"))) << shown[0].text;
}

TEST_F(SaveDialog, MissingFoldersAndLongNamesAreRefused)
{
    std::string longName(40, 'n');
    const struct {
        std::string typed;
        DWORD maxPath;
        std::string says;   /* a part of the message */
    } cases[] = {
        {"missing\\photo", 259, "The folder " + Join(pictures, "missing") + " does not exist"},
        /* pictures\ + 40 characters + .tfc is longer than allowed by 3. */
        {longName, (DWORD)(pictures.size() + 1 + 40 + 4 - 3), "too long"},
        /* The caller allows more than the 260-byte name buffer can take. */
        {std::string(300 - pictures.size(), 'n'), 400, "too long"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        SaveFileRequest request = Request("c.tfc");
        request.maxPath = c.maxPath;
        int before = answerer->Count();
        bool stayedOpen = false, selected = false;
        Driver driver([&](HWND dialog) {
            TypeName(dialog, c.typed);
            Press(dialog, IDOK);
            BoxesAnswered(*answerer, before + 1);
            selected = WaitFor([&] { return WholeNameSelected(dialog); }, 3000);
            stayedOpen = IsWindow(dialog) != 0;
            Press(dialog, IDCANCEL);
        });
        EXPECT_EQ(0, save(&request));
        EXPECT_TRUE(stayedOpen);
        EXPECT_TRUE(selected);
        std::vector<BoxAnswerer::Box> shown = Shown();
        ASSERT_EQ((size_t)before + 1, shown.size());
        EXPECT_NE(std::string::npos, shown.back().text.find(c.says)) << shown.back().text;
        Q32_EXPORT(module, q32FileFreeFileData)(fileData);
        fileData = nullptr;
    }
}

TEST_F(SaveDialog, OptionsAndFindFollowTheChosenType)
{
    ScopedEnv finder("Q32BROWS_AUTO", "=found.tfa");
    SaveFileRequest request = Request("c.tfc");  /* TFC, without save options */
    bool optionsForTfc = true, optionsForTfa = false;
    std::string afterFind;
    Driver driver([&](HWND dialog) {
        optionsForTfc = Enabled(dialog, 32003);
        ChooseType(dialog, 1);
        optionsForTfa = Enabled(dialog, 32003);
        Press(dialog, 32003);
        WaitFor([&] { return !SaveOptionCalls().empty(); }, 5000);
        Press(dialog, 2701);
        WaitFor([&] { return Text(dialog, 0x47c) == "found.tfa"; }, 5000);
        afterFind = Text(dialog, 0x47c);
        TypeName(dialog, "out");
        Press(dialog, IDOK);
    });
    ASSERT_EQ(1, save(&request));
    EXPECT_FALSE(optionsForTfc);
    EXPECT_TRUE(optionsForTfa);
    EXPECT_EQ((std::vector<std::string>{"TFA.FIO saveoption 0 2"}), SaveOptionCalls());
    /* An empty name field searches for the type's own pattern. */
    std::vector<std::string> searches = ReadLines(finds);
    ASSERT_EQ(1u, searches.size());
    EXPECT_EQ(0u, searches[0].rfind("find|*.TFA|", 0)) << searches[0];
    EXPECT_EQ("found.tfa", afterFind);
    EXPECT_STRCASEEQ(Join(pictures, "out.tfa").c_str(), name);
    EXPECT_EQ(2u, request.format);
    EXPECT_EQ(2, FileDataFormat());
}

/* The dialog's own controls lie inside it and do not overlap (scripts/screenshots takes
   its picture here). */
TEST_F(SaveDialog, ControlsDoNotOverlap)
{
    SaveFileRequest request = Request("a.tfa", 1);
    request.title = "Save a picture";
    CopyMemory(name, "sunset", 7);
    std::vector<std::string> faults;
    std::string checked;
    Driver driver([&](HWND dialog) {
        faults = LayoutFaults(dialog, {
            {"options", GetDlgItem(dialog, 32003)}, {"find", GetDlgItem(dialog, 2701)},
            {"help", GetDlgItem(dialog, 9)}, {"ok", GetDlgItem(dialog, IDOK)},
            {"cancel", GetDlgItem(dialog, IDCANCEL)}, {"types", GetDlgItem(dialog, 0x470)},
            {"name", GetDlgItem(dialog, 0x47c)},
            {"files", FindDescendant(dialog, "SHELLDLL_DefView")}}, checked);
        HoldForScreenshot();
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(0, save(&request));
    EXPECT_EQ("options find help ok cancel types name files ", checked);
    EXPECT_EQ(std::vector<std::string>{}, faults);
}

} // namespace
