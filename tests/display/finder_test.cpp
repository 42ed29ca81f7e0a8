/* The finder and folder browser of Q32BROWS.DLL: unattended answers, the search, and
   the real dialogs driven from a second thread. */
#include <gtest/gtest.h>
#include "harness.h"
#include "q32brows.h"
#include <commctrl.h>
#include <atomic>
#include <string.h>
#include <functional>
#include <string>
#include <thread>

using namespace q32test;

namespace {

/* The text of a result block, which is freed. */
std::string TakeText(HGLOBAL block)
{
    if (!block) return "<none>";
    const char *text = static_cast<const char *>(GlobalLock(block));
    std::string result = text ? text : "<unlockable>";
    GlobalUnlock(block);
    GlobalFree(block);
    return result;
}

class Finder : public ::testing::Test {
protected:
    TempDir dir;
    std::string root = dir.path();
    ScopedEnv noAuto{"Q32BROWS_AUTO", ""};

    void SetUp() override
    {
        for (const char *folder : {"sub1", "sub1\\deep", "sub2", "Zed"})
            CreateDirectoryA((dir / folder).c_str(), nullptr);
        for (const char *file : {"a.txt", "b.JPG", "z.jpeg", "sub1\\c.jpg", "sub1\\deep\\d.png",
                                 "sub2\\e.jpg", "sub2\\a1.jpg", "Zed\\f.txt"})
            WriteFileBytes(dir / file, "x");
    }

    /* qbFindFile in a file search; the answer text, "<none>" without a block. */
    std::string Find(const char *text, const char *folder, int several = 0, int *result = nullptr)
    {
        HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
        int r = qbFindFile(nullptr, nullptr, text, folder, &block, several, 0);
        if (result) *result = r;
        EXPECT_EQ(r == QB_CHOSEN, block != nullptr) << r;
        return TakeText(block);
    }
    std::string Quoted(std::initializer_list<const char *> names)
    {
        std::string text;
        for (const char *n : names) text += (text.empty() ? "\"" : " \"") + (dir / n) + "\"";
        return text;
    }
};

TEST_F(Finder, FirstMatchSearchesFilesBeforeSubfolders)
{
    ScopedEnv first("Q32BROWS_AUTO", "first");
    /* folder "-" stands for a null folder. */
    const std::string sub2Jpg = dir / "sub2\\*.jpg";
    const struct { std::string text, folder, expected; } cases[] = {
        {"*.jpg", root, dir / "b.JPG"},               /* case does not matter */
        {"*.png", root, dir / "sub1\\deep\\d.png"},   /* found two levels down */
        {"*.gif;*.jpeg", root, dir / "z.jpeg"},       /* a list of patterns */
        {" *.gif ; e.*", root, dir / "sub2\\e.jpg"},  /* blanks around them */
        {"?.txt", root, dir / "a.txt"},
        {"a?.*", root, dir / "sub2\\a1.jpg"},
        {"c.jpg", root, dir / "sub1\\c.jpg"},         /* a plain name */
        {"", root, dir / "a.txt"},                    /* everything */
        {"*.*", dir / "Zed", dir / "Zed\\f.txt"},
        {sub2Jpg, "-", dir / "sub2\\a1.jpg"},         /* the folder in the text */
        {sub2Jpg, dir / "sub1", dir / "sub1\\c.jpg"}, /* the folder argument wins */
        {"*.bmp", root, "<none>"},
    };
    for (const auto &c : cases) {
        int result = 0;
        EXPECT_EQ(c.expected, Find(c.text.c_str(), c.folder == "-" ? nullptr : c.folder.c_str(), 0,
                                   &result)) << c.text;
        EXPECT_EQ(c.expected == "<none>" ? QB_CANCELLED : QB_CHOSEN, result) << c.text;
    }
}

TEST_F(Finder, CurrentFolderWhenNoneIsGiven)
{
    ScopedEnv first("Q32BROWS_AUTO", "first");
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA((dir / "sub1").c_str());
    std::string answer = Find("*.png", nullptr);
    std::string relative = Find("deep\\*.*", "");
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(dir / "sub1\\deep\\d.png", answer);
    EXPECT_EQ(dir / "sub1\\deep\\d.png", relative);
}

TEST_F(Finder, SeveralNamesAreQuoted)
{
    ScopedEnv all("Q32BROWS_AUTO", "all");
    EXPECT_EQ(Quoted({"b.JPG", "sub1\\c.jpg", "sub2\\a1.jpg", "sub2\\e.jpg"}),
              Find("*.jpg", root.c_str(), 0x200));
    EXPECT_EQ(dir / "b.JPG", Find("*.jpg", root.c_str(), 0)); /* one name unless several */
    EXPECT_EQ(dir / "z.jpeg", Find("*.jpeg", root.c_str(), 1)); /* a single match is bare */
}

TEST_F(Finder, OtherAnswersAndBadArguments)
{
    {
        ScopedEnv cancel("Q32BROWS_AUTO", "cancel");
        int result = 9;
        EXPECT_EQ("<none>", Find("*.jpg", root.c_str(), 0, &result));
        EXPECT_EQ(QB_CANCELLED, result);
    }
    {
        ScopedEnv given("Q32BROWS_AUTO", "=C:\\given name.jpg");
        EXPECT_EQ("C:\\given name.jpg", Find("*.jpg", root.c_str()));
    }
    EXPECT_EQ(QB_FAILED, qbFindFile(nullptr, nullptr, "*.*", nullptr, nullptr, 0, 0));
    EXPECT_EQ(QB_FAILED, qbFindFile(nullptr, nullptr, nullptr, nullptr, nullptr, 0, 1));
}

TEST_F(Finder, FolderBrowserUnattended)
{
    ScopedEnv first("Q32BROWS_AUTO", "first");
    HGLOBAL block = nullptr;
    EXPECT_EQ(QB_CHOSEN, qbFindFile(nullptr, nullptr, (root + "\\sub1\\").c_str(), nullptr, &block, 0, 1));
    EXPECT_EQ(dir / "sub1", TakeText(block));

    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(root.c_str());
    EXPECT_EQ(QB_CHOSEN, qbFindFile(nullptr, nullptr, "sub2", nullptr, &block, 0, 1));
    EXPECT_EQ(dir / "sub2", TakeText(block));
    EXPECT_EQ(QB_CHOSEN, qbFindFile(nullptr, nullptr, nullptr, nullptr, &block, 0, 1));
    SetCurrentDirectoryA(saved);
    EXPECT_EQ(root, TakeText(block));

    EXPECT_EQ(QB_CANCELLED, qbFindFile(nullptr, nullptr, (dir / "gone").c_str(), nullptr, &block, 0, 1));
    EXPECT_EQ(nullptr, block);
}

TEST_F(Finder, CallsAreLogged)
{
    ScopedEnv cancel("Q32BROWS_AUTO", "cancel");
    ScopedEnv log("Q32BROWS_LOG", dir / "calls.log");
    HGLOBAL block;
    qbFindFile(nullptr, nullptr, "*.jpg", nullptr, &block, 512, 0);
    qbFindFile(nullptr, nullptr, "C:\\work", nullptr, &block, 0, 1);
    auto lines = ReadLines(dir / "calls.log");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("find|*.jpg||512", lines[0]);
    EXPECT_EQ("folder|C:\\work", lines[1]);
}

/* ---- The real dialogs ------------------------------------------------------------------------ */

/* A visible dialog of this process with the caption (any caption when null). */
HWND FindOwnDialog(const char *caption)
{
    struct Search { const char *caption; HWND found; } search = {caption, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto *s = reinterpret_cast<Search *>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            char cls[16] = "", text[64] = "";
            GetClassNameA(w, cls, sizeof cls);
            GetWindowTextA(w, text, sizeof text);
            if (pid != GetCurrentProcessId() || strcmp(cls, "#32770") || !IsWindowVisible(w) ||
                (s->caption && strcmp(text, s->caption)))
                return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

/* Runs act on the dialog from another thread, within five seconds; found() is false when
   none appeared. */
class DialogDriver {
public:
    DialogDriver(const char *caption, std::function<void(HWND)> act)
        : thread_([=, this] {
              for (int i = 0; i < 100; i++) {
                  if (HWND w = FindOwnDialog(caption)) {
                      Sleep(100);
                      act(w);
                      found_ = true;
                      return;
                  }
                  Sleep(50);
              }
          })
    {
    }
    ~DialogDriver() { Wait(); }
    bool found() { Wait(); return found_; }

private:
    void Wait() { if (thread_.joinable()) thread_.join(); }

    std::atomic<bool> found_{false};
    std::thread thread_;
};

const int ResultList = 108;

TEST_F(Finder, DialogListsMatchesAndReturnsTheChosenOne)
{
    std::atomic<int> listed{-1};
    DialogDriver driver("Find Files", [&](HWND w) {
        HWND list = GetDlgItem(w, ResultList);
        listed = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        SendMessageA(list, LB_SETCURSEL, 2, 0);
        PostMessageA(w, WM_COMMAND, IDOK, 0);
    });
    HGLOBAL block = nullptr;
    int result = qbFindFile(nullptr, nullptr, "*.jpg", root.c_str(), &block, 0, 0);
    ASSERT_TRUE(driver.found());
    EXPECT_EQ(4, listed.load());
    EXPECT_EQ(QB_CHOSEN, result);
    EXPECT_EQ(dir / "sub2\\a1.jpg", TakeText(block));
}

TEST_F(Finder, DialogWithSeveralNames)
{
    DialogDriver driver("Find Files", [&](HWND w) {
        HWND list = GetDlgItem(w, ResultList);
        SendMessageA(list, LB_SETSEL, FALSE, -1);
        SendMessageA(list, LB_SETSEL, TRUE, 0);
        SendMessageA(list, LB_SETSEL, TRUE, 3);
        PostMessageA(w, WM_COMMAND, IDOK, 0);
    });
    HGLOBAL block = nullptr;
    int result = qbFindFile(nullptr, nullptr, "*.jpg", root.c_str(), &block, 0x200, 0);
    ASSERT_TRUE(driver.found());
    EXPECT_EQ(QB_CHOSEN, result);
    EXPECT_EQ(Quoted({"b.JPG", "sub2\\e.jpg"}), TakeText(block));
}

TEST_F(Finder, DialogSearchesAgainAndCancels)
{
    std::atomic<int> before{-1}, after{-1};
    DialogDriver driver("Find Files", [&](HWND w) {
        HWND list = GetDlgItem(w, ResultList);
        before = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        SendMessageA(GetDlgItem(w, 101), WM_SETTEXT, 0, (LPARAM)"*.txt");
        SendMessageA(w, WM_COMMAND, 105, 0); /* Find */
        after = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    });
    HGLOBAL block = reinterpret_cast<HGLOBAL>(1);
    int result = qbFindFile(nullptr, nullptr, "*.png", root.c_str(), &block, 0, 0);
    ASSERT_TRUE(driver.found());
    EXPECT_EQ(1, before.load());
    EXPECT_EQ(2, after.load());
    EXPECT_EQ(QB_CANCELLED, result);
    EXPECT_EQ(nullptr, block);
}

/* The text of the folder tree's selected item. */
std::string SelectedFolder(HWND dialog)
{
    HWND tree = FindWindowExA(dialog, nullptr, WC_TREEVIEWA, nullptr);
    HTREEITEM item = tree ? TreeView_GetSelection(tree) : nullptr;
    char text[MAX_PATH] = "";
    TVITEMA data = {};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    if (item) TreeView_GetItem(tree, &data);
    return text;
}

TEST_F(Finder, FolderBrowserStartsAtTheGivenFolder)
{
    /* The selection may come a while after the dialog shows (the shell namespace is
       filled on first use); OK is pressed once it is there. The bound only catches a
       browser that never gets there. */
    DialogDriver driver(nullptr, [&](HWND w) {
        for (int i = 0; i < 1200 && SelectedFolder(w) != "sub2"; i++) Sleep(50);
        PostMessageA(w, WM_COMMAND, IDOK, 0);
    });
    HGLOBAL block = nullptr;
    int result = qbFindFile(nullptr, nullptr, (dir / "sub2").c_str(), nullptr, &block, 0, 1);
    ASSERT_TRUE(driver.found());
    EXPECT_EQ(QB_CHOSEN, result);
    std::string chosen = TakeText(block);
    EXPECT_EQ(0, lstrcmpiA((dir / "sub2").c_str(), chosen.c_str())) << chosen;
}

} // namespace
