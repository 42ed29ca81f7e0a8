/* q32FileGetPalsModuleName through a loaded copy of the module, with HKEY_CLASSES_ROOT a
   scratch key of this process. */
#include <gtest/gtest.h>
#include "harness.h"
#include "scratch_classes.h"

using namespace q32test;

namespace {

const char *const EditorKey = "KD3.Image\\protocol\\StdFileEditing\\server";
const char *const ViewerKey = "QuillViewer\\shell\\open\\command";

class AppLookup : public ::testing::Test {
protected:
    TempDir dir;
    ModuleCopy module{dir / "suite", dir / "suite.ini"};
    ScratchClasses classes{"lookup"};

    void SetUp() override { ASSERT_TRUE(module.Load()); }
    /* The lookup into a poisoned buffer of which size bytes may be written. */
    int Lookup(int id, std::string &text, int size = 260)
    {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        int answer = Q32_EXPORT(module, q32FileGetPalsModuleName)(7, id, 9, buffer, size);
        int written = (int)sizeof buffer;
        while (written > 0 && buffer[written - 1] == '\xcc') written--;
        EXPECT_LE(written, size > 0 ? size : 0) << "written past the buffer";
        text = size > 0 ? buffer : "<untouched>";
        return answer;
    }
};

TEST_F(AppLookup, ViewerCommandsEditorServerAndOtherIdentifiers)
{
    std::string program = dir / "Viewer Folder\\viewer.exe", text;
    CreateDirectoryA((dir / "Viewer Folder").c_str(), nullptr);
    WriteFileBytes(program, "MZ");
    const struct { std::string command, expected; } cases[] = {
        {"\"" + program + "\" \"%1\"", program},       /* quoted path with a blank */
        {program + " \"%1\"", program},                 /* plain path */
        {"\"" + program + "\" \"%1\" x", ""},           /* not the open-command form */
        {"\"" + dir / "gone.exe" + "\" \"%1\"", ""},    /* no such file */
        {"abcd", ""},                                   /* shorter than five characters */
        {"\" \"%1\"", ""},                              /* only the opening quote left */
    };
    for (const auto &c : cases) {
        SetClassText(ViewerKey, c.command);
        EXPECT_EQ((int)c.expected.size(), Lookup(1005, text)) << c.command;
        EXPECT_EQ(c.expected, text) << c.command;
    }
    /* Each identifier reads only its own entry; the viewer's is unusable now. */
    SetClassText(EditorKey, program);
    const std::pair<int, std::string> ids[] = {{1004, program}, {1005, ""}, {1012, ""}, {-1, ""}};
    for (const auto &[id, expected] : ids) {
        EXPECT_EQ((int)expected.size(), Lookup(id, text)) << id;
        EXPECT_EQ(expected, text) << id;
    }
}

TEST_F(AppLookup, CutButFullLength)
{
    /* A program path of exactly 40 characters, in a folder of its own short enough for it. */
    std::string folder = "C:\\q32t_" + std::to_string(GetCurrentProcessId()), text;
    CreateDirectoryA(folder.c_str(), nullptr);
    struct Cleanup { std::string path; ~Cleanup() { RemoveTree(path); } } cleanup{folder};
    std::string path = folder + "\\" + std::string(40 - folder.size() - 5, 'p') + ".exe";
    WriteFileBytes(path, "MZ");
    SetClassText(EditorKey, path);
    const std::pair<int, std::string> cases[] = {
        {1, ""}, {10, path.substr(0, 9)}, {40, path.substr(0, 39)}, {41, path}};
    for (const auto &[size, expected] : cases) {
        EXPECT_EQ(40, Lookup(1004, text, size)) << size;
        EXPECT_EQ(expected, text) << size;
    }
    for (int size : {0, -1}) EXPECT_EQ(0, Lookup(1004, text, size)) << size;
}

} // namespace
