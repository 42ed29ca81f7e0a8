/* q32FileGetHelpFilePath through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"

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
        {1005, fits, full}, {1005, 0, ""}, {1005, -1, ""},
    };
    auto helpPath = Q32_EXPORT(module, q32FileGetHelpFilePath);
    for (const auto &c : cases) {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int length = helpPath(module.handle(), c.id, buffer, c.size), written = (int)sizeof buffer;
        while (written > 0 && buffer[written - 1] == '\xcc') written--;
        EXPECT_EQ((int)c.expected.size(), length) << c.id << " in " << c.size;
        EXPECT_EQ(c.size > 0 ? length + 1 : 0, written) << c.id << " in " << c.size;
        size_t text = c.size > 0 ? strnlen(buffer, c.size) : 0;
        EXPECT_EQ(c.expected, std::string(buffer, text)) << c.id << " in " << c.size;
    }
}

} // namespace
