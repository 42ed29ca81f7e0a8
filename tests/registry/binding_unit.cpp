/* Binding a format's entries: BindPlugin, FindEntry, UnloadPlugins. */
#include "registry_fixture.h"

using namespace q32test;

namespace {

/* What every test plug-in entry other than +11 and +12 answers. */
INT_PTR Answer(int format, int offset) { return 0x7E000000 + format * 0x100 + offset; }

int FormatNumber(const char *code)
{
    for (LONG i = 0; i < Formats->count; i++)
        if (!strcmp(Formats->records[i].info.code, code)) return (int)i + 1;
    return 0;
}

class Binding : public RegistryFixture {};

TEST_F(Binding, SecondFormatBindsTheOrdinalsOfBase100)
{
    Stage({"TA.FIO", {Format("AAA", "First"), Format("BBB", "Second")}});
    ASSERT_EQ(2, Start());
    int second = FormatNumber("BBB");
    ASSERT_EQ(100u, Formats->records[second - 1].ordinalBase);
    EXPECT_EQ(nullptr, FindEntry(second, QF_ENTRY_READ)) << "not bound yet";

    ASSERT_EQ(1, BindPlugin(second));
    HMODULE plugin = GetModuleHandleA("TA.FIO");
    ASSERT_NE(nullptr, plugin);
    EXPECT_EQ(plugin, Formats->records[second - 1].module);
    const int bound[] = {10, 11, 12, 16, 17, 14, 15, 18, 19, 20, 23, 25};
    for (int k : bound) {
        FARPROC expected = GetProcAddress(plugin, MAKEINTRESOURCEA(100 + k));
        ASSERT_NE(nullptr, expected) << k;
        EXPECT_EQ(expected, FindEntry(second, k)) << "+" << k;
    }
    auto read = reinterpret_cast<PFN_qfDLLRead>(FindEntry(second, QF_ENTRY_READ));
    EXPECT_EQ(Answer(1, 16), read(nullptr, "x", nullptr, nullptr, nullptr, 0));

    for (int k : {13, 22}) {
        EXPECT_NE(nullptr, GetProcAddress(plugin, MAKEINTRESOURCEA(100 + k))) << "exported";
        EXPECT_EQ(nullptr, FindEntry(second, k)) << "+" << k << " is never found";
    }
    for (int k : {0, 9, 21, 24, 26, 111})
        EXPECT_EQ(nullptr, FindEntry(second, k)) << "+" << k;
    EXPECT_EQ(nullptr, FindEntry(FormatNumber("AAA"), QF_ENTRY_READ)) << "formats bind alone";
    EXPECT_EQ(nullptr, FindEntry(3, QF_ENTRY_READ));
}

TEST_F(Binding, EachFormatHoldsOneReferenceWhichDetachReleases)
{
    Stage({"TA.FIO", {Format("AAA", "First"), Format("BBB", "Second")}});
    ASSERT_EQ(2, Start());
    DeleteFileA(loads.c_str());
    EXPECT_EQ(1, BindPlugin(1));
    EXPECT_EQ(1, BindPlugin(1)) << "bound already";
    EXPECT_EQ(1, BindPlugin(2));
    EXPECT_EQ(1, TotalLoads(loads));
    Stop();
    EXPECT_EQ(nullptr, GetModuleHandleA("TA.FIO")) << "one free a binding, none left over";
}

TEST_F(Binding, MissingExportsLeaveEmptySlots)
{
    TestFormat f = Format("SPA", "Sparse");
    f.fileData = "-2";
    Stage({"TS.FIO", {f}, {}, "tfsparse"});
    ASSERT_EQ(1, Start());
    ASSERT_EQ(1, BindPlugin(1));
    for (int k = 10; k <= 25; k++) {
        bool present = k == 11 || k == 12 || k == 16 || k == 23;
        EXPECT_EQ(present, FindEntry(1, k) != nullptr) << "+" << k;
    }
    auto fileData = reinterpret_cast<PFN_qfDLLGetFileData>(FindEntry(1, QF_ENTRY_GETFILEDATA));
    EXPECT_EQ(-2, fileData(nullptr, "x", 0, SuiteIniPath));
}

TEST_F(Binding, FailedLoadRecords4029KeepsTheDirectoryAndIsTriedAgain)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    ASSERT_EQ(1, Start());
    std::string hidden = dir / "TA.AWAY";
    ASSERT_TRUE(MoveFileA(PluginPath("TA.FIO").c_str(), hidden.c_str()));
    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);

    EXPECT_EQ(0, BindPlugin(1));
    RecordedError e = ReadError();
    EXPECT_EQ(4029u, e.id);
    /* The text names the plug-in file and the system's reason after it. */
    size_t named = e.text.find("TA.FIO: ");
    ASSERT_NE(std::string::npos, named) << e.text;
    EXPECT_LT(named + 8, e.text.size()) << e.text;
    EXPECT_EQ(1702, e.where1);
    EXPECT_EQ(15, e.where2);
    EXPECT_EQ(1, e.where3);
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
    EXPECT_EQ(nullptr, Formats->records[0].module);

    ASSERT_TRUE(MoveFileA(hidden.c_str(), PluginPath("TA.FIO").c_str()));
    EXPECT_EQ(1, BindPlugin(1));
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
}

} // namespace
