/* The attach and detach of the module's state, driven directly. */
#include <gtest/gtest.h>
#include "sandbox.h"
#include "faults.h"
#include "core/core.h"
#include "module.h"
#include "registry/registry.h"
#include <string>

using namespace q32test;

namespace {

struct VersionCase { int major, minor, build; int generation; };

TEST(OsGeneration, ClassifiesGetVersionValues)
{
    const VersionCase cases[] = {
        {3, 51, 1057, 0}, {4, 0, 950, 0},   {4, 0, 1380, 0},  {4, 0, 1381, 1},
        {4, 0, 0x8000 | 1381, 1},           {4, 0, 0x8000 | 950, 0},
        {4, 10, 1998, 2}, {4, 89, 0, 2},    {4, 90, 3000, 3}, {5, 0, 2195, 3},
        {6, 1, 7601, 3},  {10, 0, 19045, 3},
    };
    for (const auto &c : cases) {
        DWORD version = (DWORD)c.major | ((DWORD)c.minor << 8) | ((DWORD)c.build << 16);
        EXPECT_EQ(c.generation, OsGenerationFromVersion(version))
            << c.major << "." << c.minor << " build " << (c.build & 0x7FFF);
    }
}

TEST(OsGeneration, IsAskedOnceAndKept)
{
    int first = GetOsGeneration();
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 3);
    EXPECT_EQ(first, GetOsGeneration());
}

class Attach : public ::testing::Test, public Folders {
protected:
    ScopedEnv iniEnv{"Q32_INI", ini};

    void TearDown() override { ProcessDetach(); }
};

TEST_F(Attach, SetsUpEmptyTableAndState)
{
    c32ResetDLLErrInfo();
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    ASSERT_NE(nullptr, Formats);
    EXPECT_EQ(1, Formats->refCount);
    EXPECT_EQ(50, Formats->capacity);
    EXPECT_EQ(0, Formats->count);
    EXPECT_EQ(ini, SuiteIniPath);
    EXPECT_NE(nullptr, ResourceModule);
    EXPECT_EQ(0u, ReadError().id);

    char value[64];
    GetPrivateProfileStringA("FIO_EXT", "JPG_EXT", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("JPEG;JPE;", value);
    GetPrivateProfileStringA("FIO_EXT", "JPC_EXT", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("J2K;", value);
}

TEST_F(Attach, PluginLoadFolderLosesTrailingBackslash)
{
    WritePrivateProfileStringA("Library", "FIO3PATH", "C:\\Plugins\\", ini.c_str());
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_STREQ("C:\\Plugins\\", PluginFolder);
    EXPECT_STREQ("C:\\Plugins", PluginLoadFolder);
}

TEST_F(Attach, MissingString1001FailsBeforeTheTable)
{
    ScopedEnv missing("Q32COMM_MISSING_STRINGS", "1001");
    EXPECT_FALSE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_EQ(nullptr, Formats);
    /* The detach of a failed attach touches nothing that was never created. */
    ProcessDetach();
    EXPECT_EQ(nullptr, Formats);
}

TEST_F(Attach, FailedProbeFailsAttach)
{
    FailingCalls probe(Call::Alloc, 2); /* the table, then the 512000-byte probe */
    EXPECT_FALSE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_NE(nullptr, Formats); /* steps done before the failure stay until detach */
    ProcessDetach();
    EXPECT_EQ(nullptr, Formats);
}

TEST_F(Attach, TableAllocationFailureIsRecorded)
{
    c32ResetDLLErrInfo();
    FailingCalls table(Call::Alloc, [failed = false](int, SIZE_T bytes, const char *) mutable {
        return !failed && (failed = bytes >= sizeof(FormatTable));
    });
    EXPECT_FALSE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_ERROR(1001, 703, 1701, 198);
    EXPECT_EQ(nullptr, Formats);
}

TEST_F(Attach, MissingResourceModuleStillAttaches)
{
    /* The tests' own folder has no DLGRC.DLL; take the bin folder off the search path. */
    ScopedEnv path("PATH", "C:\\windows\\system32;C:\\windows");
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_EQ(nullptr, ResourceModule);
    EXPECT_NE(nullptr, Formats);
}

TEST_F(Attach, DetachFreesTheResourceModule)
{
    ASSERT_EQ(nullptr, GetModuleHandleA("DLGRC.DLL"));
    ASSERT_TRUE(ProcessAttach(GetModuleHandleA(nullptr)));
    EXPECT_NE(nullptr, GetModuleHandleA("DLGRC.DLL"));
    ProcessDetach();
    EXPECT_EQ(nullptr, ResourceModule);
    EXPECT_EQ(nullptr, GetModuleHandleA("DLGRC.DLL"));
}

TEST(ProbeMemory, AnswersWhetherABlockCanBeHad)
{
    EXPECT_EQ(1, ProbeMemory(512000));
    FailingCalls fail(Call::Alloc, 1);
    EXPECT_EQ(0, ProbeMemory(256000));
}

} // namespace
