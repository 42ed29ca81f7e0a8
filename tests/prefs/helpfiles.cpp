/* q32FileGetHelpFilePath through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

class HelpFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string folder = dir / "Suite Folder";
    ModuleCopy module{folder, dir / "suite.ini"};

    void SetUp() override { ASSERT_TRUE(module.Load()); }
};

TEST_F(HelpFiles, PathForEveryApplication)
{
    auto helpPath = Q32_EXPORT(module, q32FileGetHelpFilePath);
    std::string base = folder + "\\";
    const struct { int id; std::string expected; } cases[] = {
        {1000, base + "prog5.hlp>d"}, {1001, base},
        {1002, base + "prog4.hlp>d"}, {1003, base + "prog3.hlp>d"},
        {1004, base + "prog2.hlp>d"}, {1005, base + "prog1.hlp>d"},
        {1012, base}, {0, base}, {999, base}, {1006, base}, {-1, base},
    };
    for (const auto &c : cases) {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int length = helpPath(module.handle(), c.id, buffer, 260);
        EXPECT_EQ(c.expected, buffer) << c.id;
        EXPECT_EQ((int)c.expected.size(), length) << c.id;
        EXPECT_EQ('\xcc', buffer[length + 1]) << c.id;
    }
}

TEST_F(HelpFiles, BufferSizeIsHonoured)
{
    auto helpPath = Q32_EXPORT(module, q32FileGetHelpFilePath);
    std::string full = folder + "\\prog1.hlp>d";
    for (int size : {1, 10, (int)full.size(), (int)full.size() + 1}) {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int length = helpPath(module.handle(), 1005, buffer, size);
        EXPECT_EQ(full.substr(0, size - 1), buffer) << size;
        EXPECT_EQ(std::min(size - 1, (int)full.size()), length) << size;
        for (int i = size; i < (int)sizeof buffer; i++)
            ASSERT_EQ('\xcc', buffer[i]) << "byte " << i << " for size " << size;
    }
    for (int size : {0, -1}) {
        char buffer[8];
        memset(buffer, 0xcc, sizeof buffer);
        EXPECT_EQ(0, helpPath(module.handle(), 1005, buffer, size)) << size;
        EXPECT_EQ('\xcc', buffer[0]) << size;
    }
}

} // namespace
