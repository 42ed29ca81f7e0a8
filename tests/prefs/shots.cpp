/* The dialogs of the pictures in docs/ (tests/screenshots.sh): prefshots WHAT shows the
   preference dialog on tab N ("N"), the system information on tab N ("infoN"), the tree
   preference dialog on its N-th item ("treeN"), the association page ("page"), its
   extension list ("list") or entry dialog ("entry"), held for the picture, then closed. */
#include "dialogdriver.h"
#include <commctrl.h>
#include <ctype.h>
#include "q32file.h"

using namespace q32test;

static INT_PTR CALLBACK OwnPage(HWND, UINT m, WPARAM, LPARAM) { return m == WM_INITDIALOG; }

int main(int argc, char **argv)
{
    if (argc < 2 || !getenv("Q32_SHOT_READY") || !getenv("Q32_SHOT_DONE")) return 2;
    std::string what = argv[1];
    bool info = !what.compare(0, 4, "info"), tree = !what.compare(0, 4, "tree");
    bool tabs = isdigit(what[0]);
    bool assoc = !tabs && !info && !tree;
    int n = atoi(what.c_str() + (tabs ? 0 : 4));
    std::string scratchName = "Software\\q32shots_" + std::to_string(GetCurrentProcessId());
    if (assoc) {
        HKEY scratch;
        if (RegCreateKeyA(HKEY_CURRENT_USER, scratchName.c_str(), &scratch)) return 1;
        RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch);
        RegSetValueA(HKEY_CLASSES_ROOT, ".jpg", REG_SZ, "KD3.Image", 9);
        RegSetValueA(HKEY_CLASSES_ROOT, ".png", REG_SZ, "KD3.Image", 9);
    }
    DWORD self = GetCurrentThreadId();
    bool shown = false;
    std::thread driver([&] {
        std::vector<HWND> open = {FindDialog(self, info ? "System Information" : "Preferences")};
        if (!open[0]) return;
        if (tabs || info) ClickTab(open[0], n);
        if (tree) {
            HWND control = GetDlgItem(open[0], 32006);
            HTREEITEM item = TreeView_GetRoot(control);
            for (int i = 0; i < n && item; i++)
                item = TreeView_GetNextVisible(control, item);
            SendMessageA(control, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        }
        if (what == "list" || what == "entry") {
            Press(FindWindowExA(open[0], nullptr, "#32770", "File Types"), 2601);
            open.push_back(FindDialog(self, "File Extensions"));
        }
        if (what == "entry" && open.back()) {
            SendDlgItemMessageA(open.back(), 32241, LB_SETCURSEL, 0, 0);
            Press(open.back(), 2603);
            open.push_back(FindDialog(self, "Edit Extension"));
        }
        if ((shown = open.back() != nullptr)) {
            UINT all = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN;
            RedrawWindow(open.back(), nullptr, nullptr, all);
            Ready(open.back());
            HoldForScreenshot();
        }
        for (auto w = open.rbegin(); w != open.rend(); ++w) {
            if (*w) Press(*w, IDCANCEL);
            WaitClosed(*w);
        }
    });
    HMODULE own = GetModuleHandleA(nullptr);
    TreePageDesc pages[] = {
        {0, own, 200, "General", "General", OwnPage, 0, "", 0},
        {0, nullptr, 1, "General", "Memory", nullptr, 0, "", 0},
        {0, nullptr, 2, "General", "Display", nullptr, 0, "", 0},
        {0, own, 201, "Files & folders", "Files & folders", OwnPage, 0, "", 0},
    };
    PreferenceAppInfo app = {0, 1004, "", 0};
    if (info) q32ShowSystemInfo(nullptr);
    else if (tree) q32ShowTreePreference(nullptr, 4, pages);
    else if (tabs) q32ShowPreference(nullptr, 0, nullptr, 0x03, nullptr);
    else q32ShowPreference(nullptr, 0, nullptr, PREF_PAGE_ASSOC | PREF_PAGE_MEMORY, &app);
    driver.join();
    if (assoc) {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, scratchName.c_str());
    }
    return shown ? 0 : 1;
}
