/* Finding and waiting for windows of the test's own process, each wait bounded. */
#ifndef Q32_TEST_WINDOWS_UI_H
#define Q32_TEST_WINDOWS_UI_H

#include <windows.h>
#include <string.h>
#include <string>
#include <utility>
#include <vector>

namespace q32test {

/* Polls predicate every 20 ms until it holds or ms have passed; its last answer. */
template <typename P>
bool WaitFor(P predicate, int ms = 15000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (predicate())
            return true;
        Sleep(20);
    }
    return predicate();
}

/* The first descendant of parent with the class name (case ignored), or null. */
inline HWND FindDescendant(HWND parent, const char *className)
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

/* The visible top-level windows of this process with the class name, and their titles. */
inline std::vector<std::pair<HWND, std::string>> OwnWindows(const char *className)
{
    struct Found { const char *name; std::vector<std::pair<HWND, std::string>> list; } found = {className, {}};
    EnumWindows([](HWND w, LPARAM p) -> BOOL {
        auto *f = reinterpret_cast<Found *>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char name[64] = "", title[300] = "";
        GetClassNameA(w, name, sizeof name);
        GetWindowTextA(w, title, sizeof title);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w) && !strcmp(name, f->name)) f->list.push_back({w, title});
        return TRUE;
    }, (LPARAM)&found);
    return found.list;
}

} // namespace q32test

#endif
