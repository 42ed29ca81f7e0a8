/* Driving dialogs unattended. */
#include "dialogdriver.h"
#include "harness.h"
#include <gtest/gtest.h>
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
    struct Search { HWND found = nullptr; const char *title; } search;
    search.title = wanted;
    DWORD start = GetTickCount();
    for (;;) {
        search.found = nullptr;
        EnumThreadWindows(thread, [](HWND w, LPARAM p) -> BOOL {
            auto *s = reinterpret_cast<Search *>(p);
            char name[16] = "", title[64] = "";
            GetClassNameA(w, name, sizeof name);
            GetWindowTextA(w, title, sizeof title);
            if (!strcmp(name, "#32770") && !strcmp(title, s->title) && IsWindowVisible(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        }, reinterpret_cast<LPARAM>(&search));
        if (search.found && Ready(search.found))
            return search.found;
        if (gone ? gone() : GetTickCount() - start > (DWORD)WaitLimitMs)
            return nullptr;
        Sleep(10);
    }
}

bool WaitClosed(HWND window)
{
    return WaitFor([&] { return !IsWindow(window); });
}

INT_PTR DriveDialog(const std::function<INT_PTR()> &show,
                    const std::function<void(HWND)> &script, const char *title)
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

void HoldForScreenshot()
{
    char ready[MAX_PATH], done[MAX_PATH];
    if (!GetEnvironmentVariableA("Q32_SHOT_READY", ready, sizeof ready) ||
        !GetEnvironmentVariableA("Q32_SHOT_DONE", done, sizeof done))
        return;
    WriteFileBytes(ready, "");
    WaitFor([&] { return Exists(done); }, 60000);
}

Driver::Driver(std::function<void(HWND)> script, std::function<HWND()> find)
    : thread_([this, script, find] {
          HWND dialog = nullptr;
          while (!((dialog = find()) && Ready(dialog))) {
              if (stop_)
                  return;
              Sleep(20);
          }
          found = true;
          script(dialog);
          if (!WaitClosed(dialog))
              Press(dialog, IDCANCEL);
      })
{
}

Driver::~Driver()
{
    stop_ = true;
    thread_.join();
}

} // namespace q32test
