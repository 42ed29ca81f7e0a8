/* Driving the preference dialogs from a second thread: finding them, running a script
   against them, and the fixture with a staged copy of the module. */
#ifndef Q32_TEST_PREFDRIVE_H
#define Q32_TEST_PREFDRIVE_H

#include <gtest/gtest.h>
#include "harness.h"
#include <commctrl.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace q32test;

/* What the test pages received, in order (cleared for each test). */
std::vector<std::string> PageLog;

HWND FindDialog(DWORD thread, const char *wanted)
{
    struct Search { HWND found = nullptr; const char *title; } search;
    search.title = wanted;
    for (int i = 0; i < 500 && !search.found; i++) {
        EnumThreadWindows(thread, [](HWND w, LPARAM p) -> BOOL {
            char name[16] = "", title[64] = "";
            GetClassNameA(w, name, sizeof name);
            GetWindowTextA(w, title, sizeof title);
            if (strcmp(name, "#32770") == 0 && strcmp(title, reinterpret_cast<Search *>(p)->title) == 0 && IsWindowVisible(w)) {
                reinterpret_cast<Search *>(p)->found = w;
                return FALSE;
            }
            return TRUE;
        }, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(10);
    }
    return search.found;
}

/* Runs show on this thread while script drives the dialog from another; the script ends
   it (OK or Cancel). A dialog still open afterwards is cancelled. */
INT_PTR Drive(const std::function<INT_PTR()> &show, const std::function<void(HWND)> &script,
              const char *title = "Preferences")
{
    DWORD self = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = FindDialog(self, title);
        ASSERT_TRUE(dialog) << "the dialog did not open";
        script(dialog);
        for (int i = 0; i < 300 && IsWindow(dialog); i++) Sleep(10);
        if (IsWindow(dialog)) {
            ADD_FAILURE() << "the dialog stayed open";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    INT_PTR result = show();
    driver.join();
    return result;
}

HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

HWND Page(HWND dialog, const char *title) { return FindWindowExA(dialog, nullptr, "#32770", title); }

void Press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, id, 0); }

class Preferences : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv baseIni{"Q32BASE_INI", dir / "q32base.ini"};
    ScopedEnv mbLog{"Q32COMM_MB_LOG", dir / "mb.log"};
    ScopedEnv helpLog{"Q32COMM_HELP_LOG", dir / "help.log"};
    ScopedEnv browse{"Q32BROWS_AUTO", "cancel"};
    std::string ini = dir / "suite.ini";
    ModuleCopy module{dir / "mod", ini};
    decltype(&q32ShowPreference) show = nullptr;
    decltype(&q32ShowPreferences) showWithBlock = nullptr;
    decltype(&q32ShowTreePreference) showTree = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(module.Load());
        show = module.Get<decltype(q32ShowPreference)>("q32ShowPreference");
        showWithBlock = module.Get<decltype(q32ShowPreferences)>("q32ShowPreferences");
        showTree = module.Get<decltype(q32ShowTreePreference)>("q32ShowTreePreference");
        ASSERT_TRUE(show && showWithBlock && showTree);
        PageLog.clear();
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }

    INT_PTR Show(std::vector<PreferenceExtraPage> pages, DWORD flags,
                 const std::function<void(HWND)> &script, const PreferenceAppInfo *app = nullptr)
    {
        return Drive([&] { return show(nullptr, (int)pages.size(), pages.data(), flags, app); }, script);
    }
};

} // namespace

#endif
