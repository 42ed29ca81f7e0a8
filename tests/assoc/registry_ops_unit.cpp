/* The association entries: reading a format's state, registering and giving back, the
   open command and the texts read, in a scratch HKEY_CLASSES_ROOT. */
#include "../registry/registry_fixture.h"
#include "assoc/assoc.h"
#include "scratch_classes.h"

using namespace q32test;

namespace {

class Associations : public RegistryFixture {
protected:
    ScratchClasses classes{"assoc"};
    char exeLower[260] = "";
    enum { Ico = 1, Jpg = 2, Qza = 3 };

    void SetUp() override
    {
        RegistryFixture::SetUp();
        GetModuleFileNameA(nullptr, exeLower, sizeof exeLower);
        CharLowerA(exeLower);
        Stage({"TA.FIO", {Format("ICO", "Icon"), Format("JPG", "JPEG image"),
                          Format("QZA", "Scratch format")}});
        WritePrivateProfileStringA("FIO_EXT", "JPG_USER", "JFIF;", ini.c_str());
        ASSERT_EQ(3, Start());
    }
    int State(int format)
    {
        return ReadAssociationState(&Formats->records[format - 1].info, "KD3.Image", exeLower);
    }
    /* The state read, which must leave the registry as it was, then the tidying of apply. */
    int StateThenTidy(int format)
    {
        std::string before = ExportClasses();
        int state = State(format);
        EXPECT_EQ(before, ExportClasses()) << "reading the state wrote to the registry";
        TidyAssociation(&Formats->records[format - 1].info, "KD3.Image", exeLower);
        return state;
    }
    void Apply(int format, const char *code, WORD was, WORD is)
    {
        ApplyAssociation(format, code, "KD3.Image", "\"c:\\app dir\\app.exe\" \"%1\"", was, is);
    }
    std::string OwnCommand() { return std::string("\"") + exeLower + "\" \"%1\""; }
};

TEST(OpenCommand, QuotesOnlyAPathWithABlankAndTheLongestPathFits)
{
    std::string longPath(259, 'p');
    longPath[10] = ' ';
    const struct { std::string path, command; } cases[] = {
        {"C:\\Quill\\view.exe", "C:\\Quill\\view.exe \"%1\""},
        {longPath, "\"" + longPath + "\" \"%1\""},
    };
    for (const auto &c : cases) {
        char buffer[OpenCommandSize];
        FormOpenCommand(c.path.c_str(), buffer);
        EXPECT_EQ(c.command, buffer);
    }
}

TEST_F(Associations, ReadingTheStateWritesNothingAndApplyTidiesEachTypeToItsClass)
{
    /* Each row in turn: the type's class and a class's open command (upper case: compared
       without case) set, the state read, then tidied. The icon type keeps its format class
       and the class it named, once, as its undo class; a shell-made class goes to the
       application or, another program's, to the format class, kept as the undo class. */
    std::string longClass(200, 'c'), other = "\"c:\\other\\paint.exe\" \"%1\"";
    const struct { int format; std::string dot, dotClass, commandKey, command; int state;
                   std::string tidied, undo; } cases[] = {
        {Qza, ".qza", "", "", "", 0, "qzafile", "<none>"},
        /* Longer than the buffer: cut for reading, not taken for a missing class. */
        {Qza, ".qza", longClass, "", "", 0, longClass, "<none>"},
        {Qza, ".qza", "KD3.IMAGE", "", "", 1, "KD3.IMAGE", "<none>"},
        {Ico, ".ico", "", "", "", 0, "icofile", "<none>"},
        {Ico, ".ico", "OtherApp.Icon", "icofile", other, 0, "icofile", "OtherApp.Icon"},
        {Ico, ".ico", "KD3.Image", "icofile", OwnCommand(), 1, "icofile", "OtherApp.Icon"},
        {Jpg, ".jpg", "Jpg_Auto_File", "jpg_auto_file", OwnCommand(), 1, "KD3.Image", "<none>"},
        {Jpg, ".jpg", "Jpg_Auto_File", "jpg_auto_file", other, 0, "jpgfile", "Jpg_Auto_File"},
    };
    for (const auto &c : cases) {
        std::string command = c.command, key = c.commandKey + "\\shell\\open\\command";
        CharUpperA(&command[0]);
        if (!c.dotClass.empty()) SetClassText(c.dot, c.dotClass);
        if (!command.empty()) SetClassText(key, command);
        EXPECT_EQ(c.state, StateThenTidy(c.format)) << c.dotClass << " " << command;
        EXPECT_EQ(c.tidied, ClassText(c.dot)) << c.dotClass << " " << command;
        EXPECT_EQ(c.undo, ClassText(c.dot + "\\UndoClass")) << c.dotClass << " " << command;
        EXPECT_EQ(command.empty() ? "<none>" : command, ClassText(key));
    }
    EXPECT_EQ("Scratch format", ClassText("qzafile"));
    /* Another program's made-up class without a command stays; a removal gives it back. */
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "jpg_auto_file");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".jpg");
    SetClassText(".jpg", "jpg_auto_file");
    SetClassText("jpg_auto_file", "");
    EXPECT_EQ(0, StateThenTidy(Jpg));
    EXPECT_NE("<none>", ClassText("jpg_auto_file"));
    EXPECT_EQ("jpgfile", ClassText(".jpg"));
    Apply(Jpg, "JPG", 0, 1);
    Apply(Jpg, "JPG", 1, 0);
    EXPECT_EQ("jpg_auto_file", ClassText(".jpg"));
}

TEST_F(Associations, RegisteringKeepsTheOtherClassAndRemovingGivesItBack)
{
    const char *extensions[] = {".jpg", ".jpeg", ".jpe", ".jfif"};
    /* Each extension gets its own class back, else the code extension's, else jpgfile; an
       undo class naming the application itself is no class to give back. */
    const struct { const char *jpg, *jpeg, *undo, *setUndo, *back[4]; } cases[] = {
        {"OtherApp.Jpeg", "Second.Jpeg", "OtherApp.Jpeg", nullptr,
         {"OtherApp.Jpeg", "Second.Jpeg", "OtherApp.Jpeg", "OtherApp.Jpeg"}},
        {nullptr, nullptr, "<none>", nullptr, {"jpgfile", "jpgfile", "jpgfile", "jpgfile"}},
        {nullptr, nullptr, "<none>", "KD3.Image", {"jpgfile", "jpgfile", "jpgfile", "jpgfile"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.jpg ? c.jpg : c.setUndo ? c.setUndo : "none");
        for (const char *e : extensions) RegDeleteTreeA(HKEY_CLASSES_ROOT, e);
        if (c.jpg) SetClassText(".jpg", c.jpg);
        if (c.jpeg) SetClassText(".jpeg", c.jpeg);
        /* What other programs keep in the shared format class. */
        SetClassText("jpgfile\\DefaultIcon", "x.dll,1");
        SetClassText("jpgfile\\shell\\open\\command", "\"c:\\other\\paint.exe\" \"%1\"");
        Apply(Jpg, "JPG", 0, 1);
        for (const char *e : extensions) EXPECT_EQ("KD3.Image", ClassText(e)) << e;
        EXPECT_EQ(c.undo, ClassText(".jpg\\UndoClass"));
        EXPECT_EQ(1, State(Jpg));
        if (c.setUndo) SetClassText(".jpg\\UndoClass", c.setUndo);
        Apply(Jpg, "JPG", 1, 0);
        for (int i = 0; i < 4; i++) EXPECT_EQ(c.back[i], ClassText(extensions[i])) << extensions[i];
        if (!c.setUndo) {
            EXPECT_EQ(c.undo, ClassText(".jpg\\UndoClass")) << "kept for the next time";
        }
        EXPECT_EQ("x.dll,1", ClassText("jpgfile\\DefaultIcon"));
        EXPECT_EQ("\"c:\\other\\paint.exe\" \"%1\"", ClassText("jpgfile\\shell\\open\\command"));
        EXPECT_EQ(0, State(Jpg));
        /* Both flags clear change nothing (the undo class is kept already). */
        std::string before = ExportClasses();
        Apply(Jpg, "JPG", 0, 0);
        EXPECT_EQ(before, ExportClasses());
    }
}

TEST_F(Associations, IconTypesKeepTheirClassAndGetTheirOwnVerbOnly)
{
    SetClassText(".ico", "icofile");
    SetClassText("icofile\\shell\\openas\\command", "\"c:\\other.exe\" \"%1\"");
    SetClassText("icofile\\shell\\print\\command", "p");
    Apply(Ico, "ICO", 0, 1);
    EXPECT_EQ("%1", ClassText("icofile\\DefaultIcon"));
    EXPECT_EQ("\"c:\\app dir\\app.exe\" \"%1\"", ClassText("icofile\\shell\\open\\command"));
    EXPECT_EQ("<none>", ClassText("icofile\\shell\\openas"));
    EXPECT_EQ("<none>", ClassText(".ico\\UndoClass")) << "the format class is not saved";
    Apply(Ico, "ICO", 1, 0);
    EXPECT_EQ("icofile", ClassText(".ico"));
    EXPECT_EQ("<none>", ClassText("icofile\\shell\\open")) << "the module's own verb goes";
    EXPECT_EQ("p", ClassText("icofile\\shell\\print\\command"));
}

TEST_F(Associations, UnterminatedAndLongTextsAreCutAndTerminated)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "raw", &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, (const BYTE *)"abcdef", 6));
    RegCloseKey(key);
    const struct { const char *key; size_t size; int found; const char *text; } cases[] = {
        {"raw", 8, TextWhole, "abcdef"}, {"raw", 7, TextWhole, "abcdef"},
        {"raw", 6, TextCut, "abcde"}, {"raw", 2, TextCut, "a"}, {"nothing", 8, TextMissing, ""},
    };
    for (const auto &c : cases) {
        char buffer[16];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(c.found, ReadDefaultText(HKEY_CLASSES_ROOT, c.key, buffer, c.size)) << c.size;
        EXPECT_STREQ(c.text, buffer) << c.size;
        EXPECT_EQ('x', buffer[c.size]) << c.size;
    }
}

} // namespace
