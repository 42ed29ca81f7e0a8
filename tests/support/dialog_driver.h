/*
 * Driving modal dialogs from a second thread: find a dialog of a thread by its title, run
 * the code that shows it while a script works on it, and end it when the script did not.
 */
#ifndef Q32_DIALOG_DRIVER_H
#define Q32_DIALOG_DRIVER_H

#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <thread>

namespace q32test {

/* The visible dialog of thread titled wanted, waiting up to 5 s for it; null when none. */
inline HWND FindDialog(DWORD thread, const char *wanted)
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

/* Waits up to 3 s for window to go; true when it went. */
inline bool WaitClosed(HWND window)
{
    for (int i = 0; i < 300 && IsWindow(window); i++) Sleep(10);
    return !IsWindow(window);
}

/* Runs show on this thread while script drives the dialog from another; the script ends
   it (OK or Cancel). A dialog still open afterwards is cancelled. */
inline INT_PTR Drive(const std::function<INT_PTR()> &show, const std::function<void(HWND)> &script,
                     const char *title)
{
    DWORD self = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = FindDialog(self, title);
        ASSERT_TRUE(dialog) << "the dialog did not open";
        script(dialog);
        if (!WaitClosed(dialog)) {
            ADD_FAILURE() << "the dialog stayed open";
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    INT_PTR result = show();
    driver.join();
    return result;
}

inline void Press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, id, 0); }

} // namespace q32test

#endif
