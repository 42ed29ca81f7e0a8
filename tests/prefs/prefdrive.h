/* Driving the preference dialogs from a second thread: finding them, running a script
   against them, and the fixture with a staged copy of the module. */
#ifndef Q32_TEST_PREFDRIVE_H
#define Q32_TEST_PREFDRIVE_H

#include <gtest/gtest.h>
#include "harness.h"
#include "dialogdriver.h"
#include <commctrl.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace q32test;

/* What the test pages received, in order (cleared for each test). */
std::vector<std::string> PageLog;

/* Drives a preference or system information dialog (by its title). */
INT_PTR Drive(const std::function<INT_PTR()> &show, const std::function<void(HWND)> &script,
              const char *title = "Preferences")
{
    return DriveDialog(show, script, title);
}

HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

HWND Page(HWND dialog, const char *title) { return FindWindowExA(dialog, nullptr, "#32770", title); }

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
