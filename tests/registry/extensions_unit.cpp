/* Extension settings: the FIO_EXT lists in the records, token counts, reloading. */
#include "registry_fixture.h"

using namespace q32test;

namespace {

TEST(CountTokens, CountsNonEmptyTokens)
{
    const struct { const char *list; int count; } cases[] = {
        {"", 0}, {";", 0}, {";;;", 0}, {"A", 1}, {"A;", 1}, {";A", 1}, {"JPEG;JPE;", 2},
        {"X;;Y", 2}, {"X;;Y;;", 2}, {"A;B;C;D", 4},
    };
    for (const auto &c : cases) EXPECT_EQ(c.count, CountTokens(c.list, ";")) << c.list;
    EXPECT_EQ(3, CountTokens("a b;c", "; "));
}

class ExtensionLists : public RegistryFixture {
protected:
    const FormatRecord &Record(const char *code)
    {
        for (LONG i = 0; i < Formats->count; i++)
            if (!strcmp(Formats->records[i].info.code, code)) return Formats->records[i];
        static FormatRecord none;
        ADD_FAILURE() << "no format " << code;
        return none;
    }
};

/* Section FIO_EXT is read whole once a discovery; each key must come out of it as the
   profile function reads it from the file (through the module's 260-byte buffer). */
TEST_F(ExtensionLists, SectionSnapshotReadsLikeTheProfileFunction)
{
    WriteFileBytes(ini,
                   "[Other]\r\nA_EXT=wrong section\r\n"
                   "[FIO_EXT]\r\n"
                   "SPC_EXT =  spaced ; value  \r\n"
                   "QUO_EXT=\"quoted;\"\r\n"
                   "SQU_EXT='single;'\r\n"
                   "HALF_EXT=\"half;\r\n"
                   "MIX_EXT=\"mixed;'\r\n"
                   "low_ext=lower;key;\r\n"
                   "EMP_EXT=\r\n"
                   "DUP_EXT=first;\r\n"
                   "DUP_EXT=second;\r\n"
                   ";COM_EXT=comment\r\n"
                   "EQ_EXT==equals=;\r\n"
                   "LONG_EXT=" + std::string(300, 'L') + "\r\n"
                   "[Later]\r\nB_EXT=x\r\n");
    Attach();
    ExtensionSettings settings;
    const char *keys[] = {"SPC_EXT", "QUO_EXT", "SQU_EXT", "HALF_EXT", "MIX_EXT", "LOW_EXT",
                          "low_ext", "EMP_EXT", "DUP_EXT", "COM_EXT", "EQ_EXT", "LONG_EXT",
                          "A_EXT", "B_EXT", "NONE_EXT", "JPG_EXT"};
    for (const char *key : keys) {
        char expected[260] = "", got[260] = "";
        DWORD n = GetPrivateProfileStringA("FIO_EXT", key, nullptr, expected, sizeof expected,
                                           ini.c_str());
        EXPECT_EQ((size_t)n, settings.Read(key, got, sizeof got)) << key;
        EXPECT_STREQ(expected, got) << key;
    }
}

TEST_F(ExtensionLists, RecordsTakeTheListsCutToTheirFields)
{
    SetKey("JPG_EXT", "jpeg;jpe;");
    std::string longList;
    for (int i = 0; i < 16; i++) longList += "EX" + std::to_string(10 + i) + ";";  /* 80 chars */
    SetKey("ABC_EXT", longList.c_str());
    SetKey("ABC_USER", "X;;Y");
    SetKey("DEF_USER", "ONE;");
    Stage({"TA.FIO", {Format("jpg", "Joint"), Format("ABC", "Alphabet"), Format("DEF", "Plain")}});
    ASSERT_EQ(3, Start());

    char value[64];
    GetPrivateProfileStringA("FIO_EXT", "JPG_EXT", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("JPEG;JPE;", value) << "the fixed lists are rewritten at attach";
    EXPECT_STREQ("JPEG;JPE;", Record("JPG").extensions);
    EXPECT_EQ(2, Record("JPG").extensionCount);

    const FormatRecord &abc = Record("ABC");
    /* Cut after the last whole extension: "EX2", the piece of EX22 at 63 characters,
       is no extension of the format. */
    EXPECT_EQ(longList.substr(0, 60), abc.extensions);
    EXPECT_EQ(std::string(4, '\0'), std::string(abc.extensions + 60, 4));
    EXPECT_EQ(12, abc.extensionCount);
    EXPECT_EQ(-1, q32FileGetFormatID("ex2", nullptr));
    EXPECT_EQ(1, q32FileGetFormatID("ex21", nullptr)) << "ABC, first in code order";
    EXPECT_STREQ("X;;Y", abc.userExtensions);
    EXPECT_EQ(2, abc.userCount);

    const FormatRecord &def = Record("DEF");
    EXPECT_EQ(std::string(64, '\0'), std::string(def.extensions, 64)) << "missing: all zero";
    EXPECT_EQ(0, def.extensionCount);
    EXPECT_EQ(1, def.userCount);
}

TEST_F(ExtensionLists, ReloadFollowsTheUserLists)
{
    Stage({"TA.FIO", {Format("AAA", "First"), Format("BBB", "Second")}});
    ASSERT_EQ(2, Start());
    EXPECT_EQ(-1, q32FileGetFormatID("NEW", nullptr));
    EXPECT_EQ(0, ReloadUserExtensions());

    SetKey("BBB_USER", "OLD;NEW;");
    EXPECT_EQ(1, ReloadUserExtensions());
    EXPECT_EQ(2, q32FileGetFormatID("new", nullptr));
    EXPECT_EQ(2, Record("BBB").userCount);

    SetKey("BBB_USER", nullptr);
    EXPECT_EQ(0, ReloadUserExtensions());
    EXPECT_EQ(0, Record("BBB").userExtensions[0]);
    EXPECT_EQ(0, Record("BBB").userCount);
    EXPECT_EQ(-1, q32FileGetFormatID("NEW", nullptr));
}

TEST_F(ExtensionLists, ReloadWithoutFormatsAnswersZero)
{
    Attach();
    SetKey("BBB_USER", "NEW;");
    EXPECT_EQ(0, ReloadUserExtensions());
    EXPECT_EQ(4006u, ReadError().id);
}

} // namespace
