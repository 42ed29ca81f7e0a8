/* q32FileGetPalsModuleName through a loaded copy of the module. HKEY_CLASSES_ROOT is
   redirected to a scratch key of this process, so no real class is touched. */
#include <gtest/gtest.h>
#include "harness.h"
#include <stdio.h>
#include <string.h>
#include <string>

using namespace q32test;

namespace {

const char *const EditorKey = "KD3.Image\\protocol\\StdFileEditing\\server";
const char *const ViewerKey = "QuillViewer\\shell\\open\\command";

class AppLookup : public ::testing::Test {
protected:
    TempDir dir;
    ModuleCopy module{dir / "suite", dir / "suite.ini"};
    std::string scratchName;
    HKEY scratch = nullptr;
    std::string program = dir / "Viewer Folder\\viewer.exe";

    void SetUp() override
    {
        char name[64];
        snprintf(name, sizeof name, "Software\\q32test_classes_%lu", GetCurrentProcessId());
        scratchName = name;
        RegDeleteTreeA(HKEY_CURRENT_USER, scratchName.c_str());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, scratchName.c_str(), 0,
                                                 nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                                                 nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch));
        CreateDirectoryA((dir / "Viewer Folder").c_str(), nullptr);
        WriteFileBytes(program, "MZ");
        ASSERT_TRUE(module.Load());
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, scratchName.c_str());
    }

    void SetDefault(const char *key, const std::string &value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(),
                                              (DWORD)value.size()));
    }

    /* The lookup into a poisoned buffer of which size bytes may be written. */
    int Lookup(int id, std::string *text, int size = 260)
    {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int answer = Q32_EXPORT(module, q32FileGetPalsModuleName)(7, id, 9, buffer, size);
        int limit = size > 0 ? size : 0;
        for (int i = limit; i < (int)sizeof buffer; i++)
            if (buffer[i] != '\xcc') {
                ADD_FAILURE() << "byte " << i << " written for size " << size;
                break;
            }
        if (text) *text = size > 0 ? buffer : "<untouched>";
        return answer;
    }
};

TEST_F(AppLookup, ViewerCommands)
{
    const struct { std::string command; std::string expected; } cases[] = {
        {"\"" + program + "\" \"%1\"", program},       /* quoted path with a blank */
        {program + " \"%1\"", program},                 /* plain path */
        {"\"" + program + "\" \"%1\" x", ""},           /* not the open-command form */
        {"\"" + dir / "gone.exe" + "\" \"%1\"", ""},    /* no such file */
        {"abcd", ""},                                    /* shorter than five characters */
        {"\" \"%1\"", ""},                               /* only the opening quote left */
        {" \"%1\"", ""},
        {"", ""},
    };
    for (const auto &c : cases) {
        SetDefault(ViewerKey, c.command);
        std::string text;
        EXPECT_EQ((int)c.expected.size(), Lookup(1005, &text)) << c.command;
        EXPECT_EQ(c.expected, text) << c.command;
    }
}

TEST_F(AppLookup, EditorServerAndOtherIdentifiers)
{
    for (int id : {1004, 1005, 1012, 0}) {
        std::string text;
        EXPECT_EQ(0, Lookup(id, &text)) << "nothing registered, " << id;
        EXPECT_EQ("", text) << id;
    }
    SetDefault(EditorKey, program);
    std::string text;
    EXPECT_EQ((int)program.size(), Lookup(1004, &text));
    EXPECT_EQ(program, text);
    EXPECT_EQ(0, Lookup(1005, &text)) << "each identifier reads only its own entry";

    SetDefault(ViewerKey, "\"" + program + "\" \"%1\"");
    for (int id : {1012, 1000, 1001, 1003, 1006, 0, -1}) {
        EXPECT_EQ(0, Lookup(id, &text)) << id;
        EXPECT_EQ("", text) << id;
    }

    ASSERT_TRUE(DeleteFileA(program.c_str()));
    EXPECT_EQ(0, Lookup(1004, &text));
    EXPECT_EQ("", text);
}

TEST_F(AppLookup, CutButFullLength)
{
    /* A program path of exactly 40 characters, in a folder short enough for it. */
    std::string folder = dir.path() + "\\";
    std::string own;
    if (folder.size() + 5 >= 40) {
        own = "C:\\q32t_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(own.c_str(), nullptr);
        folder = own + "\\";
    }
    struct Cleanup {
        std::string path;
        ~Cleanup() { if (!path.empty()) RemoveTree(path); }
    } cleanup{own};
    std::string path = folder + std::string(40 - folder.size() - 4, 'p') + ".exe";
    ASSERT_EQ(40u, path.size());
    WriteFileBytes(path, "MZ");
    SetDefault(EditorKey, path);

    const struct { int size; std::string expected; } cases[] = {
        {10, path.substr(0, 9)}, {1, ""}, {40, path.substr(0, 39)}, {41, path}, {260, path},
    };
    for (const auto &c : cases) {
        std::string text;
        EXPECT_EQ(40, Lookup(1004, &text, c.size)) << c.size;
        EXPECT_EQ(c.expected, text) << c.size;
    }
    for (int size : {0, -1, -260}) {
        std::string text;
        EXPECT_EQ(0, Lookup(1004, &text, size)) << size;
    }
}

} // namespace
