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
        for (size_t i = size; i < buffer.size(); i++)
            EXPECT_EQ('\xcc', buffer[i]) << "byte " << i << " written for size " << size;
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

TEST_F(ModulePaths, FileExistenceAndOverlongNames)
{
    Load();
    auto exists = Q32_EXPORT(module, qfIsFileExist);
    WriteFileBytes(dir / "a.txt", "x");
    for (const char *folder : {"plain", "readonly", "hidden", "empty"})
        CreateDirectoryA((dir / folder).c_str(), nullptr);
    SetFileAttributesA((dir / "readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((dir / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const struct { std::string name; int expected; } cases[] = {
        {dir / "a.txt", 1},  {dir / "missing.txt", 0}, {dir / "plain", 0}, {dir / "readonly", 1},
        {dir / "hidden", 1}, {dir / "*.txt", 1},       {dir / "*.bmp", 0},  {dir / "empty\\*.*", 0},
        {"", 0},
    };
    for (const auto &c : cases) {
        /* Some file systems keep no read-only bit on folders: nothing to learn there. */
        DWORD attributes = GetFileAttributesA(c.name.c_str());
        if (c.name == dir / "readonly" && attributes == FILE_ATTRIBUTE_DIRECTORY) continue;
        EXPECT_EQ(c.expected, exists(c.name.c_str())) << c.name << " attributes " << attributes;
    }
    EXPECT_EQ(0, exists(nullptr));
    for (size_t length : {259u, 260u, 300u, 2000u})
        EXPECT_EQ(0, exists(("C:\\" + std::string(length - 3, 'a')).c_str())) 
            << "not overrun " << length;
}

} // namespace
