/* Driving dialogs unattended: a second thread finds a dialog once it is ready, types,
   chooses and presses, each wait bounded. */
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
        if (predicate()) return true;
        Sleep(20);
    }
    return predicate();
}

/* A dialog is ready once it is visible and its thread, done with its initialisation,
   answers a sent message. */
bool Ready(HWND dialog);
/* The ready dialog (#32770) of thread titled wanted (null: the file dialog, which holds a
   shell view); null when gone() answers true first (without gone, after WaitLimitMs). */
HWND FindDialog(DWORD thread, const char *wanted, const std::function<bool()> &gone = {});
/* Waits for window to go; true when it went. */
bool WaitClosed(HWND window);
/* Runs show on this thread while script drives its dialog titled title (null: the file
   dialog) from another once it is ready; a dialog the script leaves open is cancelled (and
   a failure). */
INT_PTR DriveDialog(const std::function<INT_PTR()> &show, const std::function<void(HWND)> &script,
                    const char *title);
HWND FindDescendant(HWND parent, const char *className);
HWND NameEdit(HWND dialog);
void TypeName(HWND dialog, const std::string &text);
/* Selects entry index of the file type list as the user does. */
void ChooseType(HWND dialog, int index);
/* Selects the named entries of the file dialog's list, the others deselected. */
bool SelectFiles(HWND dialog, const std::vector<std::string> &names);
/* Posts a button's BN_CLICKED (a sent one would block inside a message box). */
void Press(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
std::string Text(HWND dialog, int id);
/* The texts of a list box or combo box control. */
std::vector<std::string> Items(HWND dialog, int id);
/* The tab control's texts, and a click on tab index as the user does it. */
std::vector<std::string> TabTexts(HWND dialog, int id = 32200);
void ClickTab(HWND dialog, int index, int id = 32200);
HWND FocusOf(HWND dialog);

/* The layout faults of controls (name, id; 0 the file list): one hidden, one cut off by the
   dialog's client area, or two that overlap. */
std::vector<std::string> LayoutFaults(HWND dialog,
                                      const std::vector<std::pair<std::string, int>> &controls);

/* For scripts/screenshots: with Q32_SHOT_READY and Q32_SHOT_DONE set, creates the first
   file and waits (at most a minute) until the second exists. */
void HoldForScreenshot();

} // namespace q32test

#endif
