/* q32FileGetHelpFilePath through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

TEST(HelpFiles, ModuleFolderAndTheApplicationsFileCutToTheBuffer)
{
    TempDir dir;
    std::string folder = dir / "Suite Folder", base = folder + "\\";
    ModuleCopy module{folder, dir / "suite.ini"};
    ASSERT_TRUE(module.Load());
    std::string full = base + "prog1.hlp>d";
    const int fits = (int)full.size() + 1;
    const struct { int id, size; std::string expected; } cases[] = {
        {1000, 260, base + "prog5.hlp>d"}, {1002, 260, base + "prog4.hlp>d"},
        {1003, 260, base + "prog3.hlp>d"}, {1004, 260, base + "prog2.hlp>d"},
        {1005, 260, full}, {1001, 260, base}, {1006, 260, base}, {-1, 260, base},
        {1005, 1, ""}, {1005, 10, full.substr(0, 9)}, {1005, fits - 1, full.substr(0, fits - 2)},
        {1005, fits, full}, {1005, 0, "<untouched>"}, {1005, -1, "<untouched>"},
    };
    for (const auto &c : cases) {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int length = Q32_EXPORT(module, q32FileGetHelpFilePath)(module.handle(), c.id, buffer, c.size);
        bool untouched = c.expected == "<untouched>";
        EXPECT_EQ(untouched ? 0 : (int)c.expected.size(), length) << c.id << " in " << c.size;
        if (!untouched) {
            EXPECT_EQ(c.expected, buffer) << c.id << " in " << c.size;
        }
        for (int i = untouched ? 0 : length + 1; i < (int)sizeof buffer; i++)
            ASSERT_EQ('\xcc', buffer[i]) << "byte " << i << " for " << c.id << " in " << c.size;
    }
}

} // namespace
