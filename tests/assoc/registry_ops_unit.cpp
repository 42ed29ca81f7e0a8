/* The association entries: reading a format's state, registering and giving back, the
   open command and the deletion of key trees. HKEY_CLASSES_ROOT is redirected to a
   scratch key of this process that each test creates and removes. */
#include "../registry/registry_fixture.h"
#include "assoc/assoc.h"
#include "scratch_classes.h"
#include "faults.h"
#include <optional>

using namespace q32test;

namespace {

class Associations : public RegistryFixture {
protected:
    std::optional<ScratchClasses> classes;
    char exeLower[260] = "";
    enum { Ico = 1, Jpg = 2, Qza = 3 };

    void SetUp() override
    {
        RegistryFixture::SetUp();
        classes.emplace("assoc");
        GetModuleFileNameA(nullptr, exeLower, sizeof exeLower);
        CharLowerA(exeLower);
        Stage({"TA.FIO", {Format("ICO", "Icon"), Format("JPG", "JPEG image"),
                          Format("QZA", "Scratch format")}});
        WritePrivateProfileStringA("FIO_EXT", "JPG_USER", "JFIF;", ini.c_str());
        ASSERT_EQ(3, Start());
    }
    void TearDown() override
    {
        classes.reset();
        RegistryFixture::TearDown();
    }

    void Set(const std::string &key, const std::string &value) { SetClassText(key, value); }
    std::string Get(const std::string &key) { return ClassText(key); }
    int State(int format, const char *applicationClass = "KD3.Image")
    {
        return ReadAssociationState(&Formats->records[format - 1].info, applicationClass, exeLower);
    }
    /* The state read, which must leave the registry as it was, then the tidying of apply. */
    int StateThenTidy(int format, const char *applicationClass = "KD3.Image")
    {
        std::string before = ExportClasses();
        int state = State(format, applicationClass);
        EXPECT_EQ(before, ExportClasses()) << "reading the state wrote to the registry";
        TidyAssociation(&Formats->records[format - 1].info, applicationClass, exeLower);
        return state;
    }
    void Apply(int format, const char *code, WORD was, WORD is)
    {
        ApplyAssociation(format, code, "KD3.Image", "\"c:\\app dir\\app.exe\" \"%1\"", was, is);
    }
    std::string OwnCommand() { return std::string("\"") + exeLower + "\" \"%1\""; }
};

TEST(OpenCommand, QuotesOnlyAPathWithABlank)
{
    const struct { const char *path, *command; } cases[] = {
        {"C:\\Program Files\\Quill\\view.exe", "\"C:\\Program Files\\Quill\\view.exe\" \"%1\""},
        {"C:\\Quill\\view.exe", "C:\\Quill\\view.exe \"%1\""},
    };
    for (const auto &c : cases) {
        char buffer[OpenCommandSize];
        FormOpenCommand(c.path, buffer);
        EXPECT_STREQ(c.command, buffer);
    }
    std::string longPath(259, 'p');
    longPath[10] = ' ';
    char buffer[OpenCommandSize];
    FormOpenCommand(longPath.c_str(), buffer);
    EXPECT_EQ("\"" + longPath + "\" \"%1\"", buffer) << "the longest path fits the buffer";

    char own[260], expected[OpenCommandSize];
    GetModuleFileNameA(nullptr, own, sizeof own);
    FormOpenCommand(own, expected);
    BuildOpenCommand(buffer);
    EXPECT_STREQ(expected, buffer) << "this executable's command";
}

TEST(IconExtensions, OnlyCurIcoAni)
{
    for (const char *yes : {".cur", ".ICO", ".Ani"}) EXPECT_EQ(1, IsIconExtension(yes)) << yes;
    for (const char *no : {"ico", ".icon", ".bmp", ""}) EXPECT_EQ(0, IsIconExtension(no)) << no;
}

TEST_F(Associations, WriteAccessNeedsTheJpgKey)
{
    EXPECT_FALSE(CanWriteAssociations());
    Set(".jpg", "jpgfile");
    EXPECT_TRUE(CanWriteAssociations());
}

TEST_F(Associations, ACodeWithoutAKeyGetsItsFormatClassAndShowsUnassociated)
{
    EXPECT_EQ(0, StateThenTidy(Qza));
    EXPECT_EQ("qzafile", Get(".qza"));
    EXPECT_EQ("Scratch format", Get("qzafile"));

    /* A class name longer than the buffer is cut for reading, not taken for a missing one:
       the type keeps its class. */
    std::string longClass(200, 'c');
    Set(".qza", longClass);
    EXPECT_EQ(0, StateThenTidy(Qza));
    EXPECT_EQ(longClass, Get(".qza"));
    EXPECT_EQ("<none>", Get(".qza\\UndoClass"));

    Set(".qza", "KD3.IMAGE");
    EXPECT_EQ(1, State(Qza)) << "the application class, case ignored";
}

TEST_F(Associations, IcoNamesIcofileAndFollowsItsCommand)
{
    EXPECT_EQ(0, StateThenTidy(Ico)) << "icofile created just now";
    EXPECT_EQ("icofile", Get(".ico"));
    EXPECT_NE("<none>", Get("icofile"));
    EXPECT_EQ("<none>", Get(".ico\\UndoClass"));

    /* The class .ico named is kept once as its undo class. */
    const struct { std::string dotIco, command; int state; const char *undo; } cases[] = {
        {"OtherApp.Icon", "\"c:\\other\\paint.exe\" \"%1\"", 0, "OtherApp.Icon"},
        {"KD3.Image", "<none>", 0, "OtherApp.Icon"},
        {"KD3.Image", OwnCommand(), 1, "OtherApp.Icon"},
    };
    for (const auto &c : cases) {
        Set(".ico", c.dotIco);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "icofile\\shell");
        if (c.command != "<none>") {
            std::string upper = c.command;
            CharUpperA(&upper[0]);
            Set("icofile\\shell\\open\\command", upper);
        }
        EXPECT_EQ(c.state, StateThenTidy(Ico)) << c.command;
        EXPECT_EQ("icofile", Get(".ico")) << c.dotIco;
        EXPECT_EQ(c.undo, Get(".ico\\UndoClass")) << c.dotIco;
    }
}

TEST_F(Associations, RegisteringKeepsTheOtherClassAndRemovingGivesItBack)
{
    const char *extensions[] = {".jpg", ".jpeg", ".jpe", ".jfif"};
    Set(".jpg", "OtherApp.Jpeg");
    Set(".jpeg", "Second.Jpeg");
    /* What other programs keep in the shared format class. */
    Set("jpgfile\\DefaultIcon", "x.dll,1");
    Set("jpgfile\\shell\\edit\\command", "x");
    Set("jpgfile\\shell\\open\\command", "\"c:\\other\\paint.exe\" \"%1\"");
    Apply(Jpg, "JPG", 0, 1);
    for (const char *e : extensions) EXPECT_EQ("KD3.Image", Get(e)) << e;
    EXPECT_EQ("OtherApp.Jpeg", Get(".jpg\\UndoClass"));
    EXPECT_EQ("Second.Jpeg", Get(".jpeg\\UndoClass"));
    EXPECT_EQ(1, State(Jpg));

    Apply(Jpg, "JPG", 1, 0);
    /* Each extension its own class, else the code extension's. */
    const char *givenBack[] = {"OtherApp.Jpeg", "Second.Jpeg", "OtherApp.Jpeg", "OtherApp.Jpeg"};
    for (int i = 0; i < 4; i++) EXPECT_EQ(givenBack[i], Get(extensions[i])) << extensions[i];
    EXPECT_EQ("OtherApp.Jpeg", Get(".jpg\\UndoClass")) << "kept for the next registration";
    EXPECT_EQ("x.dll,1", Get("jpgfile\\DefaultIcon"));
    EXPECT_EQ("x", Get("jpgfile\\shell\\edit\\command"));
    EXPECT_EQ("\"c:\\other\\paint.exe\" \"%1\"", Get("jpgfile\\shell\\open\\command"));
    EXPECT_EQ(0, State(Jpg));
}

TEST_F(Associations, WithoutASavedClassRemovingFallsBackToTheFormatClass)
{
    Apply(Jpg, "JPG", 0, 1);
    EXPECT_EQ("<none>", Get(".jpg\\UndoClass"));
    Apply(Jpg, "JPG", 1, 0);
    for (const char *e : {".jpg", ".jpeg", ".jpe", ".jfif"}) EXPECT_EQ("jpgfile", Get(e)) << e;

    /* An undo class naming the application itself is no class to give back. */
    Set(".jpg\\UndoClass", "KD3.Image");
    Apply(Jpg, "JPG", 1, 0);
    EXPECT_EQ("jpgfile", Get(".jpeg"));
}

TEST_F(Associations, IconTypesKeepTheirClassAndGetOwnCommand)
{
    Set(".ico", "icofile");
    Set("icofile\\shell\\openas\\command", "\"c:\\other.exe\" \"%1\"");
    Apply(Ico, "ICO", 0, 1);
    EXPECT_EQ("icofile", Get(".ico"));
    EXPECT_EQ("%1", Get("icofile\\DefaultIcon"));
    EXPECT_EQ("\"c:\\app dir\\app.exe\" \"%1\"", Get("icofile\\shell\\open\\command"));
    EXPECT_EQ("<none>", Get("icofile\\shell\\openas"));
    EXPECT_EQ("<none>", Get(".ico\\UndoClass")) << "the format class is not saved";

    Set("icofile\\shell\\print\\command", "\"c:\\other.exe\" /p \"%1\"");
    Apply(Ico, "ICO", 1, 0);
    EXPECT_EQ("icofile", Get(".ico"));
    EXPECT_EQ("%1", Get("icofile\\DefaultIcon"));
    EXPECT_EQ("<none>", Get("icofile\\shell\\open")) << "the module's own verb goes";
    EXPECT_EQ("\"c:\\other.exe\" /p \"%1\"", Get("icofile\\shell\\print\\command"));

    /* With no other verb the emptied shell key goes too. */
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "icofile\\shell");
    Apply(Ico, "ICO", 0, 1);
    Apply(Ico, "ICO", 1, 0);
    EXPECT_EQ("<none>", Get("icofile\\shell"));
}

TEST_F(Associations, BothFlagsClearChangeNothingButTheUndoClass)
{
    Set(".jpg", "OtherApp.Jpeg");
    Set(".jpe", "Third.Class");
    Set("jpgfile\\shell\\open\\command", "x");
    std::string before = ExportClasses();
    Apply(Jpg, "JPG", 0, 0);
    EXPECT_EQ("OtherApp.Jpeg", Get(".jpg\\UndoClass"));
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".jpg\\UndoClass");
    EXPECT_EQ(before, ExportClasses());
}

TEST_F(Associations, ShellMadeClassesGoToTheApplicationOrTheFormatClass)
{
    /* Another program's made-up class stays, kept as the undo class. */
    const struct { const char *command; int state; const char *dotJpg, *undo; } cases[] = {
        {nullptr, 1, "KD3.Image", "<none>"},                     /* this executable */
        {"\"c:\\other\\paint.exe\" \"%1\"", 0, "jpgfile", "Jpg_Auto_File"},
    };
    for (const auto &c : cases) {
        Set(".jpg", "Jpg_Auto_File");
        std::string command = c.command ? c.command : OwnCommand();
        CharUpperA(&command[0]);
        Set("jpg_auto_file\\shell\\open\\command", command);
        EXPECT_EQ(c.state, StateThenTidy(Jpg)) << command;
        EXPECT_EQ(c.dotJpg, Get(".jpg")) << command;
        EXPECT_EQ(c.undo, Get(".jpg\\UndoClass")) << command;
        EXPECT_EQ(command, Get("jpg_auto_file\\shell\\open\\command")) << "subkeys keep it";
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "jpg_auto_file");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".jpg");
    }
    /* This executable's made-up class without subkeys is removed; another program's stays
       and a removal gives it back. */
    Set(".jpg", "jpg_auto_file");
    Set("jpg_auto_file", "");
    EXPECT_EQ(0, StateThenTidy(Jpg));
    EXPECT_NE("<none>", Get("jpg_auto_file")) << "another program's (no command) stays";
    EXPECT_EQ("jpgfile", Get(".jpg"));
    Apply(Jpg, "JPG", 0, 1);
    Apply(Jpg, "JPG", 1, 0);
    EXPECT_EQ("jpg_auto_file", Get(".jpg"));
}

TEST_F(Associations, DeleteKeyTreeStepsOverASubkeyItCannotDelete)
{
    for (const char *key : {"tree\\a\\b\\c", "tree\\locked\\x", "tree\\d", "tree\\e\\f"})
        Set(key, "v");
    {
        /* No right to delete the key named "locked". */
        FailingCalls refuse(Call::DeleteKey, [](int, SIZE_T, const char *name) { return !lstrcmpiA(name, "locked"); });
        EXPECT_FALSE(DeleteKeyTree(HKEY_CLASSES_ROOT, "tree"));
        EXPECT_EQ("[]\n[tree]\n[tree\\locked]\n", ExportClasses());
    }
    EXPECT_TRUE(DeleteKeyTree(HKEY_CLASSES_ROOT, "tree"));
    EXPECT_EQ("[]\n", ExportClasses());
    EXPECT_FALSE(DeleteKeyTree(HKEY_CLASSES_ROOT, "tree")) << "nothing to delete";
}

TEST_F(Associations, UnterminatedAndLongTextsAreCutAndTerminated)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CLASSES_ROOT, "raw", &key));
    const char bytes[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, (const BYTE *)bytes, sizeof bytes));
    RegCloseKey(key);
    const struct { size_t size; int found; const char *text; } cases[] = {
        {8, TextWhole, "abcdef"}, {7, TextWhole, "abcdef"}, {6, TextCut, "abcde"}, {2, TextCut, "a"},
    };
    for (const auto &c : cases) {
        char buffer[16];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(c.found, ReadDefaultText(HKEY_CLASSES_ROOT, "raw", buffer, c.size)) << c.size;
        EXPECT_STREQ(c.text, buffer) << c.size;
        EXPECT_EQ('x', buffer[c.size]) << c.size;
    }
    char buffer[8] = "x";
    EXPECT_EQ(TextMissing, ReadDefaultText(HKEY_CLASSES_ROOT, "nothing", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

} // namespace
