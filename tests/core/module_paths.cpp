/* q32FileGetFIOPath and qfIsFileExist through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

class ModulePaths : public ::testing::Test {
protected:
    TempDir dir;
    std::string ini = dir / "suite.ini";
    ModuleCopy module{dir / "suite", ini};

    void SetIni(const char *section, const char *key, const std::string &value)
    {
        WritePrivateProfileStringA(section, key, value.c_str(), ini.c_str());
    }

    /* Calls q32FileGetFIOPath into a poisoned buffer and checks that nothing beyond
       size was written. */
    std::string FioPath(int size, int *length = nullptr)
    {
        std::string buffer(size + 32, '\xcc');
        int n = Q32_EXPORT(module, q32FileGetFIOPath)(&buffer[0], size);
        for (size_t i = size; i < buffer.size(); i++)
            EXPECT_EQ('\xcc', buffer[i]) << "byte " << i << " written for size " << size;
        if (length) *length = n;
        std::string text = buffer.c_str();
        EXPECT_EQ((size_t)n, text.size());
        return text;
    }
};

TEST_F(ModulePaths, FioFolderBesideTheModuleWins)
{
    SetIni("Library", "FIO3PATH", "C:\\elsewhere");
    CreateDirectoryA((dir / "suite\\FIO").c_str(), nullptr);
    ASSERT_TRUE(module.Load());
    EXPECT_EQ(dir / "suite\\FIO\\", FioPath(260));
}

TEST_F(ModulePaths, IniValueTakenAsWritten)
{
    SetIni("Library", "FIO3PATH", "C:\\no such folder");
    ASSERT_TRUE(module.Load());
    EXPECT_EQ("C:\\no such folder", FioPath(260));
}

TEST_F(ModulePaths, NoFolderNoKeyGivesEmpty)
{
    ASSERT_TRUE(module.Load());
    int length = -1;
    EXPECT_EQ("", FioPath(260, &length));
    EXPECT_EQ(0, length);
}

TEST_F(ModulePaths, SizesCutTheAnswer)
{
    std::string longValue = "C:\\" + std::string(400, 'p');
    SetIni("Library", "FIO3PATH", longValue);
    ASSERT_TRUE(module.Load());
    const struct { int size; size_t expected; } cases[] = {
        {1, 0}, {2, 1}, {10, 9}, {259, 258}, {260, 259}, {261, 259}, {1000, 259},
    };
    for (const auto &c : cases) {
        std::string text = FioPath(c.size);
        EXPECT_EQ(c.expected, text.size()) << "size " << c.size;
        EXPECT_EQ(longValue.substr(0, c.expected), text);
    }
}

TEST_F(ModulePaths, FileExistence)
{
    ASSERT_TRUE(module.Load());
    auto exists = Q32_EXPORT(module, qfIsFileExist);

    WriteFileBytes(dir / "a.txt", "x");
    CreateDirectoryA((dir / "plain").c_str(), nullptr);
    CreateDirectoryA((dir / "readonly").c_str(), nullptr);
    SetFileAttributesA((dir / "readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((dir / "hidden").c_str(), nullptr);
    SetFileAttributesA((dir / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryA((dir / "empty").c_str(), nullptr);

    const struct { std::string name; int expected; } cases[] = {
        {dir / "a.txt", 1},
        {dir / "missing.txt", 0},
        {dir / "plain", 0},
        {dir / "readonly", 1},
        {dir / "hidden", 1},
        {dir / "*.txt", 1},
        {dir / "*.bmp", 0},
        {dir / "empty\\*.*", 0},
        {"", 0},
    };
    for (const auto &c : cases) {
        /* Some file systems keep no read-only bit on folders: nothing to learn there. */
        if (c.name == dir / "readonly" &&
            GetFileAttributesA(c.name.c_str()) == FILE_ATTRIBUTE_DIRECTORY)
            continue;
        DWORD attributes = GetFileAttributesA(c.name.c_str());
        EXPECT_EQ(c.expected, exists(c.name.c_str())) << c.name << " attributes " << attributes;
    }
    EXPECT_EQ(0, exists(nullptr));
}

TEST_F(ModulePaths, OverlongNamesAreRefusedNotOverrun)
{
    ASSERT_TRUE(module.Load());
    auto exists = Q32_EXPORT(module, qfIsFileExist);
    for (size_t length : {259u, 260u, 300u, 2000u}) {
        std::string name = "C:\\" + std::string(length - 3, 'a');
        EXPECT_EQ(0, exists(name.c_str())) << length;
    }
}

TEST_F(ModulePaths, UnloadReleasesTheResourceModule)
{
    ASSERT_EQ(nullptr, GetModuleHandleA("DLGRC.DLL"));
    ASSERT_TRUE(module.Load());
    EXPECT_NE(nullptr, GetModuleHandleA("DLGRC.DLL"));
    module.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleA("DLGRC.DLL"));
}

} // namespace
