/* q32FileGetFIOPath and qfIsFileExist through a loaded copy of the module. */
#include "sandbox.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

class ModulePaths : public ModuleSandbox {
protected:
    void Reload(const char *fio3path)
    {
        WritePrivateProfileStringA("Library", "FIO3PATH", fio3path, ini.c_str());
        module.Unload();
        Load();
    }
    /* q32FileGetFIOPath into a poisoned buffer: nothing beyond size is written, and the
       answer is the text's length. */
    std::string FioPath(int size)
    {
        std::string buffer(size + 32, '\xcc');
        int n = Q32_EXPORT(module, q32FileGetFIOPath)(&buffer[0], size);
        EXPECT_EQ(std::string(32, '\xcc'), buffer.substr(size)) << "written past " << size;
        std::string text = buffer.c_str();
        EXPECT_EQ((size_t)n, text.size());
        return text;
    }
};

TEST_F(ModulePaths, FioFolderBesideTheModuleWinsThenTheIniValueAsWritten)
{
    RemoveDirectoryA(fio.c_str());
    Reload(nullptr);
    EXPECT_EQ("", FioPath(260)) << "no folder, no key";
    Reload("C:\\no such folder");
    EXPECT_EQ("C:\\no such folder", FioPath(260));
    CreateDirectoryA(fio.c_str(), nullptr);
    Reload("C:\\elsewhere");
    EXPECT_EQ(fio + "\\", FioPath(260));

    RemoveDirectoryA(fio.c_str());
    std::string longValue = "C:\\" + std::string(400, 'p');
    Reload(longValue.c_str());
    const struct { int size; size_t expected; } cases[] = {
        {1, 0}, {2, 1}, {259, 258}, {260, 259}, {261, 259}, {1000, 259},
    };
    for (const auto &c : cases)
        EXPECT_EQ(longValue.substr(0, c.expected), FioPath(c.size)) << "size " << c.size;
}

TEST_F(ModulePaths, FileExistence)
{
    Load();
    WriteFileBytes(dir / "a.txt", "x");
    for (const char *folder : {"plain", "hidden", "empty"})
        CreateDirectoryA((dir / folder).c_str(), nullptr);
    SetFileAttributesA((dir / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const struct { std::string name; int expected; } cases[] = {
        {dir / "a.txt", 1}, {dir / "missing.txt", 0}, {dir / "plain", 0},    {dir / "hidden", 1},
        {dir / "*.txt", 1}, {dir / "*.bmp", 0},       {dir / "empty\\*.*", 0}, {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, Q32_EXPORT(module, qfIsFileExist)(c.name.c_str())) << c.name;
    EXPECT_EQ(0, Q32_EXPORT(module, qfIsFileExist)(nullptr));
}

} // namespace
