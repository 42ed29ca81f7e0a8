/* The one preference fixture: the module sandbox with the imaging base's ini file, help
   requests logged, the folder browser cancelling, and the preference hosts driven from a
   second thread (tests/support/dialogdriver.h). */
#ifndef Q32_TEST_PREFDRIVE_H
#define Q32_TEST_PREFDRIVE_H

#include "sandbox.h"
#include "dialogdriver.h"
#include <commctrl.h>

namespace {

using namespace q32test;

using Lines = std::vector<std::string>;

/* What the test pages received, in order (cleared for each test). */
Lines PageLog;

enum { TestEdit = 100 };

/* A caller's page (template 100): logs "name:command", name being its creation parameter or
   else its caption, and refuses validation (10) while its edit holds "bad". */
[[maybe_unused]] INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM wParam, LPARAM param)
{
    if (message == WM_INITDIALOG) SetWindowLongPtrA(page, GWLP_USERDATA, param);
    int id = LOWORD(wParam);
    if (message != WM_COMMAND || id == TestEdit) return message == WM_INITDIALOG;
    char caption[64] = "";
    GetWindowTextA(page, caption, sizeof caption);
    auto name = reinterpret_cast<const char *>(GetWindowLongPtrA(page, GWLP_USERDATA));
    PageLog.push_back(std::string(name ? name : caption) + ":" + std::to_string(id));
    bool bad = id == 10 && Text(page, TestEdit) == "bad";
    SetWindowLongPtrA(page, DWLP_MSGRESULT, bad ? TestEdit : id == 10 ? 0 : 1);
    return TRUE;
}

HWND Page(HWND d, const char *title) { return FindWindowExA(d, nullptr, "#32770", title); }

class Preferences : public ModuleSandbox {
protected:
    ScopedEnv baseIni{"Q32BASE_INI", dir / "q32base.ini"};
    ScopedEnv helpLog{"Q32COMM_HELP_LOG", dir / "help.log"};
    ScopedEnv browse{"Q32BROWS_AUTO", "cancel"};

    void SetUp() override
    {
        ASSERT_TRUE(module.Load());
        PageLog.clear();
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    using Script = std::function<void(HWND)>;
    INT_PTR Show(std::vector<PreferenceExtraPage> pages, DWORD flags, const Script &script,
                 const PreferenceAppInfo *app = nullptr)
    {
        auto show = Q32_EXPORT(module, q32ShowPreference);
        auto call = [&] { return show(nullptr, (int)pages.size(), pages.data(), flags, app); };
        return DriveDialog(call, script, "Preferences");
    }
    INT_PTR ShowTree(std::vector<TreePageDesc> &pages, const Script &script)
    {
        auto show = Q32_EXPORT(module, q32ShowTreePreference);
        int n = (int)pages.size();
        return DriveDialog([&] { return show(nullptr, n, pages.data()); }, script, "Preferences");
    }
    Lines Help() { return ReadLines(dir / "help.log"); }
    static std::string Setting(const char *section, const char *key, const std::string &file)
    {
        char text[300] = "";
        GetPrivateProfileStringA(section, key, "<none>", text, sizeof text, file.c_str());
        return text;
    }
    std::string Base(const char *key) { return Setting("VirtualMemory", key, dir / "q32base.ini"); }
};

} // namespace

#endif
