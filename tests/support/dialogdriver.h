/*
 * Driving dialogs unattended: a second thread finds the dialog, types names, selects
 * types and presses buttons, each wait bounded.
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

/* A dialog is ready to be driven once it is visible and its thread, done with its
   initialisation, answers a sent message. */
bool Ready(HWND dialog);

/* The dialog of thread titled wanted once it is ready; null when gone() answers true
   first (without gone, after WaitLimitMs: the dialog never came). */
HWND FindDialog(DWORD thread, const char *wanted, const std::function<bool()> &gone = {});

/* Waits for window to go, at most WaitLimitMs; true when it went. */
bool WaitClosed(HWND window);

/* Runs show on this thread while script drives the dialog titled title from another,
   once it is ready; the script ends it (OK or Cancel). A dialog still open afterwards is
   cancelled. When show returns without the dialog, the driver gives up. */
INT_PTR DriveDialog(const std::function<INT_PTR()> &show,
                    const std::function<void(HWND)> &script, const char *title);

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

/* For scripts/screenshots: with Q32_SHOT_READY and Q32_SHOT_DONE set (two file names),
   says that the window to capture is ready by creating the first file, then waits until
   the picture is taken (the second file exists), at most a minute. */
void HoldForScreenshot();

/* Runs script on the dialog that find finds (by default the file dialog) from a second
   thread, once it is ready, while the test thread shows it; the dialog is cancelled when
   the script leaves it open. The wait for the dialog ends when the driver goes out of
   scope (the call under test answered without one). */
class Driver {
public:
    explicit Driver(std::function<void(HWND)> script,
                    std::function<HWND()> find = FindFileDialog);
    ~Driver();
    std::atomic<bool> found{false};

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace q32test

#endif
