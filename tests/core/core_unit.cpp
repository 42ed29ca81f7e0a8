/* The module's attach and detach driven directly; RecordError against the common library's
   shared slot. */
#include "../registry/registry_fixture.h"
#include "faults.h"

using namespace q32test;

namespace {

enum { IDS_ONE_NAME = 100, IDS_TWO_NAMES = 101 }; /* errors_unit.rc */

TEST(OsGeneration, ClassifiesGetVersionValues)
{
    const struct { int major, minor, build, generation; } cases[] = {
        {3, 51, 1057, 0}, {4, 0, 1380, 0},  {4, 0, 1381, 1},  {4, 0, 0x8000 | 1381, 1},
        {4, 0, 0x8000 | 950, 0},            {4, 10, 1998, 2}, {4, 89, 0, 2},
        {4, 90, 3000, 3}, {5, 0, 2195, 3},  {10, 0, 19045, 3},
    };
    for (const auto &c : cases) {
        DWORD version = (DWORD)c.major | ((DWORD)c.minor << 8) | ((DWORD)c.build << 16);
        EXPECT_EQ(c.generation, OsGenerationFromVersion(version))
            << c.major << "." << c.minor << " build " << (c.build & 0x7FFF);
    }
}

using ModuleState = RegistryFixture;

TEST_F(ModuleState, CutsTheLoadFolderAndFreesTheResourceModule)
{
    Attach();
    EXPECT_EQ(fio + "\\", PluginFolder);
    EXPECT_EQ(fio, PluginLoadFolder);
    EXPECT_NE(nullptr, GetModuleHandleA("DLGRC.DLL"));
    Stop();
    EXPECT_EQ(nullptr, GetModuleHandleA("DLGRC.DLL"));
}

TEST_F(ModuleState, FailuresLeaveNothingDetachCannotUndo)
{
    {
        FailingCalls probe(Call::Alloc, 2); /* the table, then the 512000-byte probe */
        EXPECT_FALSE(ProcessAttach(owner));
        ProcessDetach();
        EXPECT_EQ(nullptr, Formats);
    }
    c32ResetDLLErrInfo();
    FailingCalls table(Call::Alloc, 1);
    EXPECT_FALSE(ProcessAttach(owner));
    EXPECT_ERROR(1001, 703, 1701, 198);
    EXPECT_EQ(nullptr, Formats);
    ProcessDetach();
}

HMODULE Self() { return GetModuleHandleA(nullptr); }
ULONG_PTR Arg(const char *text) { return (ULONG_PTR)text; }

TEST(RecordError, ArgumentsTextAndPlace)
{
    std::string name(3000, 'n');
    const struct { HMODULE module; UINT id; ULONG_PTR a1, a2; std::string text; } cases[] = {
        {Self(), IDS_TWO_NAMES, 0, 0, "copy %s to %s"},          /* placeholders kept */
        {Self(), IDS_TWO_NAMES, 0, Arg("b"), "copy %s to %s"},   /* arg2 alone is never used */
        {Self(), IDS_ONE_NAME, Arg("a.bmp"), 0, "cannot open a.bmp"},
        {Self(), IDS_TWO_NAMES, Arg("a"), Arg("b"), "copy a to b"},
        /* Cut at 1023 characters, never overrun. */
        {Self(), IDS_ONE_NAME, Arg(name.c_str()), 0, "cannot open " + name.substr(0, 1011)},
        {nullptr, ErrNotImage, Arg("X.BMP"), 0, "X.BMP"},       /* the common table */
    };
    for (const auto &c : cases) {
        c32ResetDLLErrInfo();
        RecordError(c.module, Operation(9).At(14), c.id, c.a1, c.a2);
        RecordedError e = ReadError();
        EXPECT_EQ(std::make_tuple(c.id, 0, (int)ModuleId, 9, 14),
                  std::make_tuple(e.id, e.zero, e.where1, e.where2, e.where3));
        if (c.module) EXPECT_EQ(c.text, e.text);
        else EXPECT_NE(std::string::npos, e.text.find(c.text)) << e.text;
    }
}

} // namespace
