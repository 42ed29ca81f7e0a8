/* Shell links, full paths, trailing backslashes and typed names, driven directly. */
#include <gtest/gtest.h>
#include "harness.h"
#include "dialogs/dialogs.h"
#include <objbase.h>
#include <shlobj.h>
#include <string.h>
#include <string>

using namespace q32test;

namespace {

/* A name buffer with guard bytes behind its 260 bytes. */
struct NameBuffer {
    char text[Q32_MAX_NAME];
    char guard[64];
    explicit NameBuffer(const std::string &initial = "")
    {
        memset(this, 0xcc, sizeof *this);
        CopyText(text, sizeof text, initial.c_str());
    }
    bool GuardIntact() const
    {
        for (char c : guard)
            if (c != '\xcc') return false;
        return true;
    }
};

/* Writes a shell link at linkPath to target, through the shell's own link object. */
bool MakeLink(const std::string &linkPath, const std::string &target,
              const std::string &arguments = "", const std::string &workingDir = "")
{
    IShellLinkA *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&link))))
        return false;
    link->SetPath(target.c_str());
    if (!arguments.empty()) link->SetArguments(arguments.c_str());
    if (!workingDir.empty()) link->SetWorkingDirectory(workingDir.c_str());
    IPersistFile *file = nullptr;
    bool saved = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
        saved = SUCCEEDED(file->Save(wide, TRUE));
        file->Release();
    }
    link->Release();
    return saved;
}

std::string LongName(const std::string &path)
{
    char buffer[MAX_PATH];
    DWORD n = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
    return n && n < sizeof buffer ? buffer : path;
}

class Paths : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain = dir / "plain.txt";
    std::string spaced = dir / "with space.txt";
    std::string target = dir / "target.txt";
    std::string link = dir / "shortcut.lnk";
    char savedFolder[MAX_PATH] = "";

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        GetCurrentDirectoryA(sizeof savedFolder, savedFolder);
        WriteFileBytes(plain, "p");
        WriteFileBytes(spaced, "s");
        WriteFileBytes(target, "t");
        CreateDirectoryA((dir / "sub").c_str(), nullptr);
        ASSERT_TRUE(MakeLink(link, target, "-x 1", dir.path()));
    }
    std::string DeadLink()
    {
        std::string dead = dir / "dead.lnk", gone = dir / "gone.txt";
        WriteFileBytes(gone, "g");
        EXPECT_TRUE(MakeLink(dead, gone));
        DeleteFileA(gone.c_str());
        return dead;
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(savedFolder);
        CoUninitialize();
    }
};

TEST_F(Paths, ResolveFilesAndLinks)
{
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(spaced.c_str(), shortName, sizeof shortName);
    /* A plain file (a short name in its long form) leaves the link's fields untouched. */
    const struct { std::string name, resolved, arguments, folder; } cases[] = {
        {plain, LongName(plain), "untouched", "untouched"},
        {shortName, LongName(spaced), "untouched", "untouched"},
        {link, LongName(target), "-x 1", dir.path()},
    };
    for (const auto &c : cases) {
        NameBuffer out, arguments("untouched"), folder("untouched"), only;
        EXPECT_EQ(1, q32FileResolveLink(nullptr, c.name.c_str(), out.text, arguments.text, folder.text)) << c.name;
        EXPECT_EQ(c.resolved, out.text);
        EXPECT_EQ(c.arguments, arguments.text);
        EXPECT_EQ(c.folder, folder.text);
        EXPECT_EQ(1, q32FileResolveLink(nullptr, c.name.c_str(), only.text, nullptr, nullptr));
        EXPECT_EQ(c.resolved, only.text);
        EXPECT_TRUE(out.GuardIntact() && arguments.GuardIntact() && folder.GuardIntact() && only.GuardIntact());
    }
    std::string dead = DeadLink();
    for (const std::string &name : {dead, dir / "missing.txt", dir / "missing.lnk", dir / "sub", std::string()}) {
        NameBuffer out("stale"), arguments("untouched");
        EXPECT_EQ(0, q32FileResolveLink(nullptr, name.c_str(), out.text, arguments.text, nullptr)) << name;
        EXPECT_STREQ("", out.text) << name;
        EXPECT_STREQ("untouched", arguments.text) << name;
    }
    /* A typed dead link is kept as it is. */
    NameBuffer resolved;
    EXPECT_EQ(1, CheckTypedName(nullptr, dead.c_str(), resolved.text));
    EXPECT_EQ(dead, resolved.text);
}

TEST_F(Paths, AppendBackslash)
{
    const struct { std::string before, after; } cases[] = {
        {"C:\\dir", "C:\\dir\\"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"", ""},
        {"C:", "C:\\"},
        {"dir/", "dir/\\"},
        {std::string(258, 'a'), std::string(258, 'a') + "\\"},
        {std::string(259, 'a'), std::string(259, 'a')},   /* no room in 260 bytes */
    };
    for (const auto &c : cases) {
        NameBuffer name(c.before);
        AppendBackslash(name.text);
        EXPECT_EQ(c.after, name.text) << c.before.size() << " characters";
        EXPECT_TRUE(name.GuardIntact());
    }
}

TEST_F(Paths, MakeFullPath)
{
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    const struct { std::string name, full; int result; } cases[] = {
        {"plain.txt", dir / "plain.txt", 1},
        {"sub\\..\\new.txt", dir / "new.txt", 1},
        {plain, plain, 1},
        {"", "", 0},
        {std::string(300, 'n'), std::string(259, 'n'), 0},   /* too long: copied, cut */
    };
    for (const auto &c : cases) {
        NameBuffer full;
        EXPECT_EQ(c.result, MakeFullPath(full.text, c.name.c_str())) << c.name.size();
        EXPECT_EQ(c.full, full.text) << c.name.size();
        EXPECT_TRUE(full.GuardIntact());
    }
}

TEST_F(Paths, CheckTypedName)
{
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    const struct { std::string typed; int result; std::string resolved; } cases[] = {
        {plain, 1, LongName(plain)},
        {"\"" + spaced + "\"", 1, LongName(spaced)},          /* quoted, with a space */
        {spaced, 1, LongName(spaced)},
        {"plain.txt", 1, LongName(plain)},                     /* relative to the folder */
        {"sub\\..\\with space.txt", 1, LongName(spaced)},
        {link, 1, LongName(target)},                           /* a link gives its target */
        {"shortcut.lnk", 1, LongName(target)},
        {"\"" + spaced + "\" x", 0, ""},                       /* text after the quote */
        {"\"" + spaced + "\"\"", 0, ""},
        {"\"" + spaced, 0, ""},                                /* no closing quote */
        {dir / "*.txt", 0, ""},                                /* patterns */
        {dir / "pla?n.txt", 0, ""},
        {"\\\\server\\share\\plain.txt", 0, ""},               /* "\\" anywhere */
        {dir.path() + "\\\\plain.txt", 0, ""},
        {"sub//../plain.txt", 0, ""},
        {"missing.txt", 0, ""},
        {dir / "sub", 0, ""},                                  /* a folder */
        {"", 0, ""},
        {std::string(300, 'x'), 0, ""},
        /* One past the limit, though its first 259 characters name a file. */
        {[] { std::string t; for (int i = 0; i < 125; i++) t += ".\\"; return t + "plain.txtx"; }(), 0, ""},
    };
    for (const auto &c : cases) {
        NameBuffer resolved;
        EXPECT_EQ(c.result, CheckTypedName(nullptr, c.typed.c_str(), resolved.text)) << c.typed;
        if (c.result) {
            EXPECT_EQ(c.resolved, resolved.text) << c.typed;
        }
        EXPECT_TRUE(resolved.GuardIntact()) << c.typed;
    }
}

} // namespace
