/*
 * Driving the common file dialogs unattended: a second thread finds the dialog of this
 * process, types names, selects types and presses buttons, each wait bounded.
 */
#ifndef Q32_TEST_DIALOGDRIVER_H
#define Q32_TEST_DIALOGDRIVER_H

#include <windows.h>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace q32test {

constexpr int WaitLimitMs = 15000;

/* Polls predicate every 20 ms for at most ms; its last answer. */
template <typename P>
bool WaitFor(P predicate, int ms = WaitLimitMs)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (predicate())
            return true;
        Sleep(20);
    }
    return predicate();
}

/* The first descendant of parent of the window class, or null. */
HWND FindDescendant(HWND parent, const char *className);

/* The visible common file dialog of this process (it holds a shell view), or null. */
HWND FindFileDialog();

/* Types text into the name field (the edit inside the name combo box). */
void TypeName(HWND dialog, const std::string &text);
/* The edit inside the name combo box. */
HWND NameEdit(HWND dialog);
/* Posts a button's BN_CLICKED (a sent one would block inside a message box). */
void Press(HWND dialog, int id);

bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
std::string Text(HWND dialog, int id);

/* The layout faults of the visible controls among (name, window): a control cut off by
   the dialog's client area, or two that overlap. checked receives the names of the
   visible controls, each followed by a blank. */
std::vector<std::string> LayoutFaults(HWND dialog,
                                      const std::vector<std::pair<std::string, HWND>> &controls,
                                      std::string &checked);

/* Runs script on the file dialog from a second thread while the test thread shows it;
   the dialog is cancelled when the script leaves it open. */
class Driver {
public:
    explicit Driver(std::function<void(HWND)> script);
    ~Driver();
    std::atomic<bool> found{false};

private:
    std::thread thread_;
};

} // namespace q32test

#endif
