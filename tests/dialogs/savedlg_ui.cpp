/* The save dialog driven unattended (a second thread types, chooses and presses; the
   message-box answerer takes the module's boxes), and the capability mask. */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "boxes.h"
#include "dialogdriver.h"
#include <commdlg.h>
#include <memory>

using namespace q32test;

namespace {

TEST(Capabilities, EachDataTypeBitAndCombinations)
{
    TempDir dir;
    ModuleCopy module(dir / "suite", dir / "suite.ini");
    ASSERT_TRUE(module.Load());
    auto fcap = Q32_EXPORT(module, q32FileGetFCap);
    /* Single bits, bits without a capability, combinations. */
    const DWORD cases[][2] = {
        {0x40, 0x1}, {0x1, 0x40}, {0x800, 0x80}, {0x4000, 0x40000}, {0x780, 0}, {0xFFFF8000, 0},
        {0x802, 0xA0}, {0xFFFFFFFF, 0x700FF}, {0, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(c[1], fcap(c[0])) << std::hex << "type 0x" << c[0];
}

class SaveDialog : public ModuleSandbox {
protected:
    ScopedEnv shownBoxes{"Q32COMM_MB_LOG", ""};  /* the boxes are shown and answered */
    decltype(&q32FileGetSaveFileName) save = nullptr;
    HGLOBAL fileData = nullptr;
    std::unique_ptr<BoxAnswerer> answerer;
    char name[260] = "";

    void SetUp() override
    {
        describe = " pictures";
        /* JPG 1, TFA 2, TFB 3, TFC 4: the images are 24-bit colour (0x20), which TFB
           cannot store; TFV (5) is vector data. */
        Stage("JPG", {}, "accept", "", 0x20, 0, 1);
        Stage("TFA", {}, "accept", "", 0x60, 0, 1);
        Stage("TFB", {}, "accept", "", 0x40, 0, 1);
        Stage("TFC", {}, "accept", "", 0x20, 0, 0);
        Stage("TFV", {{"DataType", "2048"}}, "accept", "", 0x80);
        for (const char *file : {"a.tfa", "b.tfb", "c.tfc", "d.tfv"})
            WriteFileBytes(Join(pictures, file), "picture");
        ASSERT_TRUE(module.Load());
        save = Q32_EXPORT(module, q32FileGetSaveFileName);
        answerer = std::make_unique<BoxAnswerer>();
    }
    void TearDown() override
    {
        answerer.reset();
        if (fileData) Free(fileData);
    }
    /* A request for the image in file (of pictures). */
    SaveFileRequest Request(const char *file, DWORD help = 0)
    {
        if (fileData) Free(fileData);
        fileData = FileDataOf(Join(pictures, file));
        EXPECT_NE(nullptr, fileData);
        SaveFileRequest request = {};
        request.name = name;
        request.maxPath = 259;
        request.initialDir = pictures.c_str();
        request.fileData = fileData;
        request.help = help;
        return request;
    }
    /* Shows request while script drives the file dialog. */
    int Drive(SaveFileRequest &request, const std::function<void(HWND)> &script)
    {
        return (int)DriveDialog([&]() -> INT_PTR { return save(&request); }, script, nullptr);
    }
    std::vector<std::string> OptionCalls()
    {
        std::vector<std::string> lines;
        for (const std::string &line : Calls())
            if (line.find(" saveoption ") != std::string::npos) lines.push_back(line);
        return lines;
    }
    /* The dialog stays open with the whole name selected after the answerer's box n. */
    bool KeptAfterBox(HWND dialog, int n)
    {
        return WaitFor([&] {
            DWORD start = 0, end = 0;
            HWND edit = NameEdit(dialog);
            SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
            return answerer->Count() == n && IsWindow(dialog) && start == 0 && end > 0 &&
                   end == (DWORD)GetWindowTextLengthA(edit);
        }, 5000);
    }
};

/* Each image starts at its own type among the formats that store it (TFB cannot store
   colour: the first entry), with help when asked; the controls lie inside the dialog and do
   not overlap (the screenshot of the first). A bare name gets the type's extension: JPG's
   *.JPG;*.JPEG;*.JPE gives .jpg, and a name ending in it, case aside, keeps it. Vector data
   (capability 0x80 also asks for the all-files entry): that entry adds no extension and
   names no format, so the type chosen before it stays the one. The options are those of
   the chosen type. */
TEST_F(SaveDialog, ListsTheFormatsThatStoreTheImageFromItsOwn)
{
    const std::string colour = "JPG TFA TFC ";
    /* file, help, types, selection, options, type chosen (-1: none), typed, saved, format */
    const struct {
        const char *file;
        DWORD help;
        std::string types;
        int selection;
        bool options;
        int type;
        const char *typed, *saved;
        DWORD format;
    } cases[] = {
        {"a.tfa", 1, colour, 1, true, -1, "sunset", "sunset.tfa", 2},
        {"b.tfb", 0, colour, 0, true, -1, "photo.JPG", "photo.JPG", 1},
        {"b.tfb", 0, colour, 0, true, -1, "photo.jpeg", "photo.jpeg.jpg", 1},
        {"c.tfc", 0, colour, 2, false, 1, "out", "out.tfa", 2},  /* TFC has no save options */
        {"d.tfv", 0, "TFV * ( ", 0, false, 1, "drawing", "drawing", 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        SaveFileRequest request = Request(c.file, c.help);
        request.title = "Save a picture";
        CopyMemory(name, "sunset", 7);
        std::vector<std::string> faults = {"not checked"};
        std::string types;
        int selection = -1;
        bool options = !c.options, help = !c.help;
        ASSERT_EQ(1, Drive(request, [&](HWND dialog) {
            for (const std::string &t : Items(dialog, 0x470)) types += t.substr(0, 3) + " ";
            selection = (int)SendDlgItemMessageA(dialog, 0x470, CB_GETCURSEL, 0, 0);
            options = Enabled(dialog, 32003);
            help = Visible(dialog, 9);
            std::vector<std::pair<std::string, int>> shown = {
                {"options", 32003}, {"find", 2701}, {"ok", IDOK}, {"cancel", IDCANCEL},
                {"types", 0x470},   {"name", 0x47c}, {"files", 0}};
            if (c.help) shown.push_back({"help", 9});
            faults = LayoutFaults(dialog, shown);
            if (c.help) HoldForScreenshot();
            if (c.type >= 0) ChooseType(dialog, c.type);
            if (c.type >= 0 && Enabled(dialog, 32003)) {
                Press(dialog, 32003);
                WaitFor([&] { return !OptionCalls().empty(); }, 5000);
            }
            TypeName(dialog, c.typed);
            Press(dialog, IDOK);
        }));
        EXPECT_EQ(c.types, types);
        EXPECT_EQ(c.selection, selection);
        EXPECT_EQ(c.options, options);
        EXPECT_EQ(c.help != 0, help);
        EXPECT_EQ(std::vector<std::string>{}, faults);
        EXPECT_STREQ(c.saved, name + pictures.size() + 1);
        EXPECT_EQ(c.format, request.format) << "never success with format 0";
        EXPECT_EQ((int)c.format, Facts(fileData).formatNumber);
        EXPECT_EQ(0, answerer->Count());
    }
    EXPECT_EQ((std::vector<std::string>{"TFA.FIO saveoption 0 2"}), OptionCalls());
}

/* A pattern only filters the list; a missing folder and a name too long are refused;
   replacing a file asks once for each OK: No keeps the dialog open with the name selected,
   Yes saves. */
TEST_F(SaveDialog, APatternIsNoNameAndRefusalsKeepTheDialogOpen)
{
    /* pictures\ + 40 characters + .tfc is longer than allowed by 3; then the caller allows
       more than the 260-byte name buffer can take. */
    const std::pair<std::string, DWORD> limits[] = {
        {std::string(40, 'n'), (DWORD)(pictures.size() + 1 + 40 + 4 - 3)},
        {std::string(300 - pictures.size(), 'n'), 400},
    };
    for (const auto &[tooLong, maxPath] : limits) {
        SCOPED_TRACE(maxPath);
        answerer.reset();  /* one answerer at a time */
        answerer = std::make_unique<BoxAnswerer>();
        answerer->QueueAnswer(IDNO);
        answerer->QueueAnswer(IDYES);
        SaveFileRequest request = Request("c.tfc");  /* starts at TFC; c.tfc exists */
        request.maxPath = maxPath;
        std::vector<bool> kept;
        const std::string refused[] = {"missing\\photo", tooLong, "c"};
        ASSERT_EQ(1, Drive(request, [&](HWND dialog) {
            TypeName(dialog, "*.tfc");
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
            kept.push_back(IsWindow(dialog) && answerer->Count() == 0);
            for (const std::string &typed : refused) {
                TypeName(dialog, typed);
                Press(dialog, IDOK);
                kept.push_back(KeptAfterBox(dialog, (int)kept.size()));
            }
            Press(dialog, IDOK);
        }));
        EXPECT_EQ(std::vector<bool>(4, true), kept);
        EXPECT_STRCASEEQ(Join(pictures, "c.tfc").c_str(), name);
        std::vector<BoxAnswerer::Box> shown = answerer->Boxes();
        ASSERT_EQ(4u, shown.size()) << "none of the system's";
        std::string folder = "The folder " + Join(pictures, "missing") + " does not exist";
        EXPECT_NE(std::string::npos, shown[0].text.find(folder)) << shown[0].text;
        EXPECT_NE(std::string::npos, shown[1].text.find("too long")) << shown[1].text;
        EXPECT_EQ("Save As", shown[2].title);
        EXPECT_NE(std::string::npos, shown[2].text.find(Join(pictures, "c.tfc"))) << shown[2].text;
    }
}

} // namespace
