/* Driving the common file dialogs unattended. */
#include "dialogdriver.h"
#include <string.h>

namespace q32test {

HWND FindDescendant(HWND parent, const char *className)
{
    struct Search { const char *name; HWND found; } search = {className, nullptr};
    EnumChildWindows(parent, [](HWND w, LPARAM p) -> BOOL {
        auto *s = reinterpret_cast<Search *>(p);
        char name[64] = "";
        GetClassNameA(w, name, sizeof name);
        if (!lstrcmpiA(name, s->name)) { s->found = w; return FALSE; }
        return TRUE;
    }, (LPARAM)&search);
    return search.found;
}

HWND FindFileDialog()
{
    HWND found = nullptr;
    EnumWindows([](HWND w, LPARAM p) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char name[16] = "";
        GetClassNameA(w, name, sizeof name);
        if (pid == GetCurrentProcessId() && !strcmp(name, "#32770") && IsWindowVisible(w) &&
            FindDescendant(w, "SHELLDLL_DefView")) {
            *reinterpret_cast<HWND *>(p) = w;
            return FALSE;
        }
        return TRUE;
    }, (LPARAM)&found);
    return found;
}

HWND NameEdit(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 0x47c);
    HWND edit = FindDescendant(combo, "Edit");
    return edit ? edit : combo;
}

void TypeName(HWND dialog, const std::string &text)
{
    SendMessageA(NameEdit(dialog), WM_SETTEXT, 0, (LPARAM)text.c_str());
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

std::vector<std::string> LayoutFaults(HWND dialog,
                                      const std::vector<std::pair<std::string, HWND>> &controls,
                                      std::string &checked)
{
    RECT client;
    GetClientRect(dialog, &client);
    std::vector<std::pair<std::string, RECT>> boxes;
    for (const auto &control : controls) {
        RECT rect;
        if (!control.second || !IsWindowVisible(control.second) ||
            !GetWindowRect(control.second, &rect))
            continue;
        MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
        boxes.push_back({control.first, rect});
        checked += control.first + " ";
    }
    std::vector<std::string> faults;
    for (size_t i = 0; i < boxes.size(); i++) {
        RECT inside;
        IntersectRect(&inside, &boxes[i].second, &client);
        if (!EqualRect(&inside, &boxes[i].second))
            faults.push_back(boxes[i].first + " is cut off");
        for (size_t j = i + 1; j < boxes.size(); j++) {
            RECT both;
            if (IntersectRect(&both, &boxes[i].second, &boxes[j].second))
                faults.push_back(boxes[i].first + " overlaps " + boxes[j].first);
        }
    }
    return faults;
}

Driver::Driver(std::function<void(HWND)> script)
    : thread_([this, script] {
          HWND dialog = nullptr;
          if (!WaitFor([&] { return (dialog = FindFileDialog()) != nullptr; }))
              return;
          found = true;
          script(dialog);
          WaitFor([&] { return !IsWindow(dialog); }, 3000);
          if (IsWindow(dialog))
              Press(dialog, IDCANCEL);
      })
{
}

Driver::~Driver() { thread_.join(); }

} // namespace q32test
