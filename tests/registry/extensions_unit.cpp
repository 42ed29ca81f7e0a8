/* Extension settings: the FIO_EXT lists in the records and their reloading. */
#include "registry_fixture.h"

using namespace q32test;

namespace {

using ExtensionLists = RegistryFixture;

/* Section FIO_EXT is read whole once a discovery; each key must come out of it as the
   profile function reads it from the file (through the module's 260-byte buffer). */
TEST_F(ExtensionLists, SectionSnapshotReadsLikeTheProfileFunction)
{
    WriteFileBytes(ini, "[Other]\r\nA_EXT=wrong section\r\n[FIO_EXT]\r\n"
                        "SPC_EXT =  spaced ; value  \r\nQUO_EXT=\"quoted;\"\r\n"
                        "SQU_EXT='single;'\r\nHALF_EXT=\"half;\r\nMIX_EXT=\"mixed;'\r\n"
                        "low_ext=lower;key;\r\nEMP_EXT=\r\nDUP_EXT=first;\r\nDUP_EXT=second;\r\n"
                        ";COM_EXT=comment\r\nEQ_EXT==equals=;\r\n"
                        "LONG_EXT=" + std::string(300, 'L') + "\r\n[Later]\r\nB_EXT=x\r\n");
    Attach();
    ExtensionSettings settings;
    for (const char *key : {"SPC_EXT", "QUO_EXT", "SQU_EXT", "HALF_EXT", "MIX_EXT", "LOW_EXT",
                            "EMP_EXT", "DUP_EXT", "COM_EXT", "EQ_EXT", "LONG_EXT", "A_EXT", "B_EXT",
                            "NONE_EXT", "JPG_EXT"}) {
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
    Stage({"TA.FIO", {Format("jpg", "Joint"), Format("ABC", "Alphabet"), Format("DEF", "Plain")}});
    ASSERT_EQ(3, Start());

    EXPECT_STREQ("JPEG;JPE;", Record("JPG").extensions) << "fixed lists rewritten at attach";
    EXPECT_EQ(2, Record("JPG").extensionCount);
    const FormatRecord &abc = Record("ABC");
    /* Cut after the last whole extension: "EX2", the piece of EX22, is none of its own. */
    EXPECT_EQ(longList.substr(0, 60) + std::string(4, '\0'), std::string(abc.extensions, 64));
    EXPECT_EQ(12, abc.extensionCount);
    EXPECT_EQ(-1, q32FileGetFormatID("ex2", nullptr));
    EXPECT_EQ(1, q32FileGetFormatID("ex21", nullptr));
    EXPECT_STREQ("X;;Y", abc.userExtensions);
    EXPECT_EQ(2, abc.userCount);
    EXPECT_EQ(std::string(64, '\0'), std::string(Record("DEF").extensions, 64)) << "missing";
    EXPECT_EQ(0, Record("DEF").extensionCount);
}

TEST_F(ExtensionLists, ReloadFollowsTheUserLists)
{
    Attach();
    SetKey("BBB_USER", "OLD;NEW;");
    EXPECT_EQ(0, ReloadUserExtensions()) << "no formats";
    EXPECT_EQ(4006u, ReadError().id);
    Stage({"TA.FIO", {Format("AAA", "First"), Format("BBB", "Second")}});
    SetKey("BBB_USER", nullptr);
    ASSERT_EQ(2, Start());
    EXPECT_EQ(0, ReloadUserExtensions());
    SetKey("BBB_USER", "OLD;NEW;");
    EXPECT_EQ(1, ReloadUserExtensions());
    EXPECT_EQ(2, q32FileGetFormatID("new", nullptr));
    EXPECT_EQ(2, Record("BBB").userCount);
    SetKey("BBB_USER", nullptr);
    EXPECT_EQ(0, ReloadUserExtensions());
    EXPECT_EQ(0, Record("BBB").userCount);
    EXPECT_EQ(-1, q32FileGetFormatID("NEW", nullptr));
}

} // namespace
