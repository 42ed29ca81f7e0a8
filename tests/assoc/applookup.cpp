/* q32FileGetPalsModuleName through a loaded copy of the module, with HKEY_CLASSES_ROOT a
   scratch key of this process. */
#include <gtest/gtest.h>
#include "harness.h"
#include "scratch_classes.h"

using namespace q32test;

namespace {

TEST(AppLookup, ViewerCommandsAndEditorServerCutButFullLength)
{
    TempDir dir;
    ModuleCopy module{dir / "suite", dir / "suite.ini"};
    ScratchClasses classes{"lookup"};
    ASSERT_TRUE(module.Load());
    /* The lookup into a poisoned buffer of which size bytes may be written. */
    auto lookup = [&](int id, int size, const std::string &expected, int length) {
        char buffer[400];
        memset(buffer, 0xcc, sizeof buffer);
        EXPECT_EQ(length, Q32_EXPORT(module, q32FileGetPalsModuleName)(7, id, 9, buffer, size));
        int written = (int)sizeof buffer;
        while (written > 0 && buffer[written - 1] == '\xcc') written--;
        EXPECT_EQ(size > 0 ? (int)expected.size() + 1 : 0, written) << "bytes written";
        EXPECT_EQ(expected, std::string(buffer, size > 0 ? strnlen(buffer, size) : 0));
    };
    /* A program path of 40 characters with a blank, in a folder of its own. */
    std::string folder = "C:\\q32t " + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    struct Cleanup { std::string path; ~Cleanup() { RemoveTree(path); } } cleanup{folder};
    std::string program = folder + "\\" + std::string(40 - folder.size() - 5, 'p') + ".exe";
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
        SCOPED_TRACE(c.command);
        SetClassText("QuillViewer\\shell\\open\\command", c.command);
        lookup(1005, 260, c.expected, (int)c.expected.size());
    }
    /* Each identifier reads only its own entry (the viewer's is unusable now); a cut
       answer is terminated within the buffer and tells the full length. */
    SetClassText("KD3.Image\\protocol\\StdFileEditing\\server", program);
    const struct { int id, size; std::string expected; int length; } ids[] = {
        {1004, 260, program, 40}, {1005, 260, "", 0}, {1012, 260, "", 0}, {-1, 260, "", 0},
        {1004, 1, "", 40}, {1004, 10, program.substr(0, 9), 40}, {1004, 0, "", 0},
        {1004, 40, program.substr(0, 39), 40}, {1004, 41, program, 40}, {1004, -1, "", 0},
    };
    for (const auto &c : ids) {
        SCOPED_TRACE(std::to_string(c.id) + " in " + std::to_string(c.size));
        lookup(c.id, c.size, c.expected, c.length);
    }
}

} // namespace
