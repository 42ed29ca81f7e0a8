/* The imaging base library's image-buffer settings and their ini file. */
#include <gtest/gtest.h>
#include "harness.h"
#include "q32base.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

class VmData : public ::testing::Test {
protected:
    TempDir dir;
    std::string ini = dir / "base.ini";
    ScopedEnv iniEnv{"Q32BASE_INI", ini};

    /* Reads everything, the blocks poisoned first. */
    static void Read(B32VMBLOCK &vm, B32MEMBLOCK &mem)
    {
        memset(&vm, 0xCC, sizeof vm);
        memset(&mem, 0xCC, sizeof mem);
        ASSERT_EQ(1, buf32VMData(0, &mem, &mem.diskLimit, &vm, &mem.useMemoryLimit, &mem.useDiskLimit));
    }
    static int Write(B32VMBLOCK &vm, B32MEMBLOCK &mem)
    {
        return buf32VMData(1, &mem, &mem.diskLimit, &vm, &mem.useMemoryLimit, &mem.useDiskLimit);
    }
};

TEST_F(VmData, DefaultsWithoutStoredSettings)
{
    B32VMBLOCK vm;
    B32MEMBLOCK mem;
    Read(vm, mem);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    EXPECT_STREQ(temp, vm.systemFolder);
    for (int i = 0; i < 3; i++) {
        EXPECT_STREQ("", vm.folders[i]) << i;
        EXPECT_EQ(0u, vm.useFolder[i]) << i;
    }
    EXPECT_EQ(1u, vm.useSystemFolder);
    EXPECT_EQ(-1, mem.memoryLimit);
    EXPECT_EQ(-1, mem.diskLimit);
    EXPECT_EQ(0u, mem.useMemoryLimit);
    EXPECT_EQ(0u, mem.useDiskLimit);
    EXPECT_FALSE(Exists(ini)); /* reading stores nothing */
}

TEST_F(VmData, WrittenSettingsComeBack)
{
    B32VMBLOCK vm = {};
    strcpy(vm.systemFolder, "not taken");
    strcpy(vm.folders[0], "C:\\work one");
    strcpy(vm.folders[2], "D:\\scratch");
    vm.useSystemFolder = 0;
    vm.useFolder[0] = 1, vm.useFolder[1] = 0, vm.useFolder[2] = 7;
    B32MEMBLOCK mem = {256 << 20, (LONG)0xFFF00000, 1, 5};
    ASSERT_EQ(1, Write(vm, mem));

    B32VMBLOCK back;
    B32MEMBLOCK memBack;
    Read(back, memBack);
    EXPECT_STRNE("not taken", back.systemFolder);
    EXPECT_STREQ("C:\\work one", back.folders[0]);
    EXPECT_STREQ("", back.folders[1]);
    EXPECT_STREQ("D:\\scratch", back.folders[2]);
    EXPECT_EQ(0u, back.useSystemFolder);
    EXPECT_EQ(1u, back.useFolder[0]);
    EXPECT_EQ(0u, back.useFolder[1]);
    EXPECT_EQ(1u, back.useFolder[2]);
    EXPECT_EQ(256 << 20, memBack.memoryLimit);
    EXPECT_EQ((LONG)0xFFF00000, memBack.diskLimit); /* all 32 bits survive */
    EXPECT_EQ(1u, memBack.useMemoryLimit);
    EXPECT_EQ(1u, memBack.useDiskLimit);

    /* Another reader (another process of the suite) sees the file. */
    char value[64];
    GetPrivateProfileStringA("VirtualMemory", "Folder3", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("D:\\scratch", value);
}

TEST_F(VmData, NullAddressesLeaveTheirValues)
{
    B32VMBLOCK vm = {};
    strcpy(vm.folders[1], "E:\\kept");
    B32MEMBLOCK mem = {1000, 2000, 1, 1};
    ASSERT_EQ(1, Write(vm, mem));

    B32MEMBLOCK other = {5, 6, 0, 0};
    ASSERT_EQ(1, buf32VMData(1, &other, nullptr, nullptr, nullptr, &other.useDiskLimit));
    B32VMBLOCK back;
    B32MEMBLOCK memBack;
    Read(back, memBack);
    EXPECT_STREQ("E:\\kept", back.folders[1]);
    EXPECT_EQ(5, memBack.memoryLimit);
    EXPECT_EQ(2000, memBack.diskLimit);
    EXPECT_EQ(1u, memBack.useMemoryLimit);
    EXPECT_EQ(0u, memBack.useDiskLimit);

    /* Reading with null addresses touches only what is given. */
    LONG disk = 77;
    ASSERT_EQ(1, buf32VMData(0, nullptr, &disk, nullptr, nullptr, nullptr));
    EXPECT_EQ(2000, disk);
}

TEST_F(VmData, UnterminatedFolderIsCutNotOverrun)
{
    B32VMBLOCK vm;
    memset(&vm, 'x', sizeof vm.systemFolder + sizeof vm.folders); /* no terminators at all */
    vm.useSystemFolder = 1;
    vm.useFolder[0] = vm.useFolder[1] = vm.useFolder[2] = 1;
    B32MEMBLOCK mem = {-1, -1, 0, 0};
    ASSERT_EQ(1, Write(vm, mem));
    B32VMBLOCK back;
    B32MEMBLOCK memBack;
    Read(back, memBack);
    for (int i = 0; i < 3; i++) EXPECT_EQ(std::string(259, 'x'), back.folders[i]) << i;
}

TEST_F(VmData, OtherModesAndUnwritableFilesFail)
{
    B32VMBLOCK vm = {};
    B32MEMBLOCK mem = {1, 2, 1, 1};
    EXPECT_EQ(0, buf32VMData(2, &mem, &mem.diskLimit, &vm, &mem.useMemoryLimit, &mem.useDiskLimit));
    EXPECT_EQ(0, buf32VMData(-1, &mem, &mem.diskLimit, &vm, &mem.useMemoryLimit, &mem.useDiskLimit));
    EXPECT_FALSE(Exists(ini));

    ScopedEnv nowhere("Q32BASE_INI", dir / "missing\\folder\\base.ini");
    EXPECT_EQ(0, Write(vm, mem));
}

TEST(VmDataFile, LivesInTheApplicationDataFolder)
{
    TempDir dir;
    ScopedEnv noIni("Q32BASE_INI", "");
    SetEnvironmentVariableA("Q32BASE_INI", nullptr);
    ScopedEnv appData("Q32_APPDATA", dir.path());
    B32VMBLOCK vm = {};
    B32MEMBLOCK mem = {123, -1, 1, 0};
    ASSERT_EQ(1, buf32VMData(1, &mem, &mem.diskLimit, &vm, &mem.useMemoryLimit, &mem.useDiskLimit));
    std::string file = dir / "q32base.ini";
    ASSERT_TRUE(Exists(file));
    EXPECT_EQ(123u, GetPrivateProfileIntA("VirtualMemory", "MemoryLimit", 0, file.c_str()));
}

} // namespace
