/* RecordError and ShowError against the common library's shared slot and message box. */
#include <gtest/gtest.h>
#include "harness.h"
#include "core/core.h"
#include "errors_unit.h"
#include <string>

using namespace q32test;

namespace {

HMODULE Self() { return GetModuleHandleA(nullptr); }
ULONG_PTR Arg(const char *text) { return (ULONG_PTR)text; }

TEST(RecordError, ArgumentCountDecidesTheFormatting)
{
    struct Case { UINT id; ULONG_PTR a1, a2; const char *expected; };
    const Case cases[] = {
        {IDS_TWO_NAMES, 0, 0, "copy %s to %s"},              /* placeholders left as they are */
        {IDS_TWO_NAMES, 0, Arg("b"), "copy %s to %s"},       /* arg2 alone is never used */
        {IDS_ONE_NAME, Arg("a.bmp"), 0, "cannot open a.bmp"},
        {IDS_TWO_NAMES, Arg("a"), Arg("b"), "copy a to b"},
    };
    for (const auto &c : cases) {
        c32ResetDLLErrInfo();
        RecordError(Self(), Operation(9).At(14), c.id, c.a1, c.a2);
        RecordedError e = ReadError();
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.expected, e.text);
        EXPECT_EQ(0, e.zero);
        EXPECT_EQ(ModuleId, e.where1);
        EXPECT_EQ(9, e.where2);
        EXPECT_EQ(14, e.where3);
    }
}

TEST(RecordError, NullModuleUsesTheCommonTable)
{
    RecordError(nullptr, Operation(4).At(2), ErrNotImage, Arg("X.BMP"));
    RecordedError e = ReadError();
    EXPECT_EQ(4019u, e.id);
    EXPECT_NE(std::string::npos, e.text.find("X.BMP")) << e.text;
}

TEST(RecordError, LongTextsAreCutNeverOverrun)
{
    RecordError(Self(), UnitFileOps.At(1), IDS_LONG);
    EXPECT_EQ(1023u, ReadError().text.size());

    std::string name(3000, 'n');
    RecordError(Self(), UnitFileOps.At(2), IDS_ONE_NAME, Arg(name.c_str()));
    std::string text = ReadError().text;
    EXPECT_EQ(1023u, text.size());
    EXPECT_EQ(0u, text.find("cannot open nnn"));
}

TEST(RecordError, LaterRecordReplacesEarlier)
{
    RecordError(Self(), Operation(1).At(1), IDS_ONE_NAME, Arg("first"));
    RecordError(nullptr, Operation(2).At(2), ErrCannot);
    RecordedError e = ReadError();
    EXPECT_EQ(4026u, e.id);
    EXPECT_EQ(2, e.where2);
}

TEST(ShowError, ShowsOneBoxAndEmptiesTheSlot)
{
    TempDir dir;
    std::string log = dir / "boxes.log";
    ScopedEnv boxes("Q32COMM_MB_LOG", log);

    RecordError(nullptr, Operation(4).At(2), ErrNotImage);
    ShowError(Self(), IDS_ONE_NAME, UnitMemoryPage.At(77), 0, "extra words");
    EXPECT_EQ(0u, ReadError().id);

    auto lines = ReadLines(log);
    ASSERT_EQ(1u, lines.size());
    char title[260];
    c32GetMbTitle(title, sizeof title);
    EXPECT_EQ(std::to_string(IDS_ONE_NAME) + "|703|1710|77|0|" + title +
                  "|cannot open %s|extra words",
              lines[0]);
}

} // namespace
