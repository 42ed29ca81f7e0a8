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
        EXPECT_EQ(c.id, e.id);
        if (c.module) {
            EXPECT_EQ(c.text, e.text);
        } else {
            EXPECT_NE(std::string::npos, e.text.find(c.text)) << e.text;
        }
        EXPECT_EQ(0, e.zero);
        EXPECT_EQ(ModuleId, e.where1);
        EXPECT_EQ(9, e.where2);
        EXPECT_EQ(14, e.where3);
    }
}

TEST(ShowError, ShowsOneBoxAndEmptiesTheSlot)
{
    TempDir dir;
    std::string log = dir / "boxes.log";
    ScopedEnv boxes("Q32COMM_MB_LOG", log);
    RecordError(nullptr, Operation(4).At(2), ErrNotImage);
    ShowError(Self(), IDS_ONE_NAME, UnitMemoryPage.At(77), 0, "extra words");
    EXPECT_EQ(0u, ReadError().id);
    char title[260];
    c32GetMbTitle(title, sizeof title);
    EXPECT_EQ(std::vector<std::string>{std::to_string(IDS_ONE_NAME) + "|703|1710|77|0|" + title +
                                       "|cannot open %s|extra words"},
              ReadLines(log));
}

} // namespace
