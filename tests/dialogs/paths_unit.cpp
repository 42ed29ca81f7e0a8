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
    bool GuardIntact() const { return std::string(guard, sizeof guard) == std::string(64, '\xcc'); }
};

/* Writes a shell link at linkPath to target (arguments "-x 1", in folder) through the
   shell's own link object. */
bool MakeLink(const std::string &linkPath, const std::string &target, const std::string &folder)
{
    IShellLinkA *link = nullptr;
    IPersistFile *file = nullptr;
    CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                     (void **)&link);
    if (!link) return false;
    link->SetPath(target.c_str());
    link->SetArguments("-x 1");
    link->SetWorkingDirectory(folder.c_str());
    link->QueryInterface(IID_IPersistFile, (void **)&file);
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
    bool saved = file && SUCCEEDED(file->Save(wide, TRUE));
    if (file) file->Release();
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
    std::string dead = dir / "dead.lnk";
    char savedFolder[MAX_PATH] = "";

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        GetCurrentDirectoryA(sizeof savedFolder, savedFolder);
        for (const std::string &file : {plain, spaced, target, dir / "gone.txt"})
            WriteFileBytes(file, "x");
        CreateDirectoryA((dir / "sub").c_str(), nullptr);
        ASSERT_TRUE(MakeLink(link, target, dir.path()));
        ASSERT_TRUE(MakeLink(dead, dir / "gone.txt", dir.path()));
        DeleteFileA((dir / "gone.txt").c_str());
        ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(savedFolder);
        CoUninitialize();
    }
};

/* A name as the link resolver and as the typed-name check take it; "" is a refusal, "?" a
   name the resolver is not given. Only a link fills the resolver's arguments and folder. */
TEST_F(Paths, ResolveLinksAndCheckTypedNames)
{
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(spaced.c_str(), shortName, sizeof shortName);
    std::string dotted;   /* 260 characters whose first 259 name a file */
    for (int i = 0; i < 125; i++) dotted += ".\\";
    const struct { std::string name, resolved, typed; } cases[] = {
        {plain, LongName(plain), LongName(plain)},
        {shortName, LongName(spaced), LongName(spaced)},    /* a short name in its long form */
        {link, LongName(target), LongName(target)},
        {dead, "", dead},                                   /* a typed dead link is kept */
        {dir / "sub", "", ""},                              /* a folder */
        {dir / "missing.lnk", "", ""},
        {"", "", ""},
        {"\"" + spaced + "\"", "?", LongName(spaced)},      /* quoted, with a space */
        {"sub\\..\\with space.txt", "?", LongName(spaced)}, /* relative to the folder */
        {"shortcut.lnk", "?", LongName(target)},
        {dotted.substr(2) + "plain.txt", "?", LongName(plain)},
        {dotted + "plain.txtx", "?", ""},
        {"\"" + spaced + "\" x", "?", ""},                  /* text after the quote */
        {"\"" + spaced, "?", ""},                            /* no closing quote */
        {dir / "pla?n.txt", "?", ""},
        {"sub//../plain.txt", "?", ""},                     /* doubled separators */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        NameBuffer out("stale"), arguments("untouched"), folder("untouched"), typed;
        EXPECT_EQ(c.typed.empty() ? 0 : 1, CheckTypedName(nullptr, c.name.c_str(), typed.text));
        EXPECT_TRUE(c.typed.empty() || c.typed == typed.text) << typed.text;
        EXPECT_TRUE(typed.GuardIntact());
        if (c.resolved == "?") continue;
        int found = c.resolved.empty() ? 0 : 1;
        EXPECT_EQ(found, q32FileResolveLink(nullptr, c.name.c_str(), out.text, arguments.text,
                                            folder.text));
        EXPECT_EQ(c.resolved, out.text);
        EXPECT_EQ(c.name == link ? "-x 1" : "untouched", std::string(arguments.text));
        EXPECT_EQ(c.name == link ? dir.path() : "untouched", folder.text);
        EXPECT_TRUE(out.GuardIntact() && arguments.GuardIntact() && folder.GuardIntact());
        EXPECT_EQ(found, q32FileResolveLink(nullptr, c.name.c_str(), typed.text, nullptr, nullptr));
    }
}

TEST_F(Paths, AppendBackslashAndMakeFullPathStayInTheNameLimit)
{
    const struct { std::string before, after; } appended[] = {
        {"C:\\dir", "C:\\dir\\"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"", ""},
        {std::string(258, 'a'), std::string(258, 'a') + "\\"},
        {std::string(259, 'a'), std::string(259, 'a')},   /* no room in 260 bytes */
    };
    for (const auto &c : appended) {
        NameBuffer name(c.before);
        AppendBackslash(name.text);
        EXPECT_EQ(c.after, name.text) << c.before.size() << " characters";
        EXPECT_TRUE(name.GuardIntact());
    }
    const struct { std::string name, full; int result; } full[] = {
        {"sub\\..\\new.txt", dir / "new.txt", 1},
        {"", "", 0},
        {std::string(300, 'n'), std::string(259, 'n'), 0},   /* too long: copied, cut */
    };
    for (const auto &c : full) {
        NameBuffer text;
        EXPECT_EQ(c.result, MakeFullPath(text.text, c.name.c_str())) << c.name.size();
        EXPECT_EQ(c.full, text.text) << c.name.size();
        EXPECT_TRUE(text.GuardIntact());
    }
}

} // namespace
