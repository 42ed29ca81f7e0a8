/* Driving dialogs unattended. */
#include "dialogdriver.h"
#include "harness.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string.h>

namespace q32test {

bool Ready(HWND dialog)
{
    DWORD_PTR answer = 0;
    return IsWindowVisible(dialog) &&
           SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 100, &answer);
}

HWND FindDialog(DWORD thread, const char *wanted, const std::function<bool()> &gone)
{
    struct Search { HWND found; const char *title; } search = {nullptr, wanted};
    DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumThreadWindows(thread, [](HWND w, LPARAM p) -> BOOL {
            auto *s = reinterpret_cast<Search *>(p);
            char name[16] = "", title[64] = "";
            GetClassNameA(w, name, sizeof name);
            GetWindowTextA(w, title, sizeof title);
            if (strcmp(name, "#32770") || !IsWindowVisible(w) ||
                (s->title ? strcmp(title, s->title) != 0 : !FindDescendant(w, "SHELLDLL_DefView")))
                return TRUE;
            s->found = w;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&search));
        if (search.found && Ready(search.found)) return search.found;
        if (gone ? gone() : GetTickCount() - start > (DWORD)WaitLimitMs) return nullptr;
        Sleep(10);
    }
}

bool WaitClosed(HWND window) { return WaitFor([&] { return !IsWindow(window); }); }

INT_PTR DriveDialog(const std::function<INT_PTR()> &show, const std::function<void(HWND)> &script,
                    const char *title)
{
    DWORD self = GetCurrentThreadId();
    std::atomic<bool> returned{false};
    std::thread driver([&] {
        HWND dialog = FindDialog(self, title, [&] { return returned.load(); });
        ASSERT_TRUE(dialog) << "the dialog did not open";
        script(dialog);
        if (!WaitClosed(dialog)) {
            ADD_FAILURE() << "the dialog stayed open";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    INT_PTR result = show();
    returned = true;
    driver.join();
    return result;
}

HWND FindDescendant(HWND parent, const char *className)
{
    struct Search { const char *name; HWND found; } search = {className, nullptr};
    EnumChildWindows(parent, [](HWND w, LPARAM p) -> BOOL {
        auto *s = reinterpret_cast<Search *>(p);
        char name[64] = "";
        GetClassNameA(w, name, sizeof name);
        if (lstrcmpiA(name, s->name)) return TRUE;
        s->found = w;
        return FALSE;
    }, (LPARAM)&search);
    return search.found;
}

HWND NameEdit(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 0x47c), edit = FindDescendant(combo, "Edit");
    return edit ? edit : combo;
}

void TypeName(HWND dialog, const std::string &text)
{
    SendMessageA(NameEdit(dialog), WM_SETTEXT, 0, (LPARAM)text.c_str());
}

void ChooseType(HWND dialog, int index)
{
    HWND types = GetDlgItem(dialog, 0x470);
    SendMessageA(types, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELENDOK), (LPARAM)types);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(0x470, CBN_SELCHANGE), (LPARAM)types);
}

bool SelectFiles(HWND dialog, const std::vector<std::string> &names)
{
    HWND view = FindDescendant(dialog, "SHELLDLL_DefView");
    HWND list = view ? FindDescendant(view, "SysListView32") : nullptr;
    if (!list) return false;
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&item);
    item.state = item.stateMask;
    for (const std::string &name : names) {
        LVFINDINFOA find = {LVFI_STRING, name.c_str(), 0, {}, 0};
        auto index = [&] { return (int)SendMessageA(list, LVM_FINDITEMA, -1, (LPARAM)&find); };
        if (!WaitFor([&] { return index() >= 0; })) return false;
        SendMessageA(list, LVM_SETITEMSTATE, index(), (LPARAM)&item);
    }
    return true;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != 0; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

std::string Text(HWND dialog, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<std::string> Items(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    char name[16] = "";
    GetClassNameA(control, name, sizeof name);
    bool combo = !lstrcmpiA(name, "ComboBox");
    std::vector<std::string> items;
    int n = (int)SendMessageA(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; i++) {
        char text[300] = "";
        SendMessageA(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i, (LPARAM)text);
        items.push_back(text);
    }
    return items;
}

std::vector<std::string> TabTexts(HWND dialog, int id)
{
    HWND tab = GetDlgItem(dialog, id);
    std::vector<std::string> texts;
    for (int i = 0, n = (int)SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0); i < n; i++) {
        char text[64] = "";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab, TCM_GETITEMA, i, (LPARAM)&item);
        texts.push_back(text);
    }
    return texts;
}

void ClickTab(HWND dialog, int index, int id)
{
    HWND tab = GetDlgItem(dialog, id);
    RECT r;
    SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)&r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tab, WM_LBUTTONUP, 0, at);
}

HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

std::vector<std::string> LayoutFaults(HWND dialog,
                                      const std::vector<std::pair<std::string, int>> &controls)
{
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<std::pair<std::string, RECT>> boxes;
    std::vector<std::string> faults;
    for (const auto &[name, id] : controls) {
        HWND w = id ? GetDlgItem(dialog, id) : FindDescendant(dialog, "SHELLDLL_DefView");
        RECT rect;
        if (!w || !IsWindowVisible(w) || !GetWindowRect(w, &rect)) {
            faults.push_back(name + " is hidden");
            continue;
        }
        MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
        boxes.push_back({name, rect});
    }
    for (size_t i = 0; i < boxes.size(); i++) {
        RECT inside, both;
        IntersectRect(&inside, &boxes[i].second, &client);
        if (!EqualRect(&inside, &boxes[i].second)) faults.push_back(boxes[i].first + " is cut off");
        for (size_t j = i + 1; j < boxes.size(); j++)
            if (IntersectRect(&both, &boxes[i].second, &boxes[j].second))
                faults.push_back(boxes[i].first + " overlaps " + boxes[j].first);
    }
    return faults;
}

void HoldForScreenshot()
{
    char ready[MAX_PATH], done[MAX_PATH];
    if (!GetEnvironmentVariableA("Q32_SHOT_READY", ready, sizeof ready) ||
        !GetEnvironmentVariableA("Q32_SHOT_DONE", done, sizeof done))
        return;
    WriteFileBytes(ready, "");
    WaitFor([&] { return Exists(done); }, 60000);
}

} // namespace q32test
