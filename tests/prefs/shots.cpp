/* Opens a dialog for a screenshot: shots TAB READYFILE DONEFILE shows the preference
   dialog with the memory and display pages on tab TAB (TAB "infoN": the system information
   dialog on tab N), creates READYFILE once it is up and closes it when DONEFILE exists (at most
   after 20 s). */
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>
#include "q32file.h"

static int WantedTab;
static const char *DoneFile, *ReadyFile;
static int Ticks;

static HWND FindDialog()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM p) -> BOOL {
        char title[32] = "";
        GetWindowTextA(w, title, sizeof title);
        if (lstrcmpA(title, "Preferences") == 0 || lstrcmpA(title, "System Information") == 0) { *reinterpret_cast<HWND *>(p) = w; return FALSE; }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&found));
    return found;
}

/* First round: click the wanted tab and cancel, so that the dialog reopens on it. */
static void CALLBACK SelectTab(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindDialog();
    if (!dialog) return;
    KillTimer(nullptr, id);
    HWND tab = GetDlgItem(dialog, 32200);
    RECT r;
    SendMessageA(tab, TCM_GETITEMRECT, WantedTab, (LPARAM)&r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tab, WM_LBUTTONUP, 0, at);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

static void CALLBACK WaitForDone(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindDialog();
    if (!dialog) return;
    if (Ticks == 0) CloseHandle(CreateFileA(ReadyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (GetFileAttributesA(DoneFile) != INVALID_FILE_ATTRIBUTES || ++Ticks > 200) {
        KillTimer(nullptr, id);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

int main(int argc, char **argv)
{
    if (argc < 4) return 2;
    WantedTab = atoi(argv[1]);
    ReadyFile = argv[2];
    DoneFile = argv[3];
    if (strncmp(argv[1], "info", 4) == 0) {
        WantedTab = atoi(argv[1] + 4);
        SetTimer(nullptr, 0, 50, SelectTab);
        q32ShowSystemInfo(nullptr);
        SetTimer(nullptr, 0, 100, WaitForDone);
        q32ShowSystemInfo(nullptr);
        return 0;
    }
    SetTimer(nullptr, 0, 50, SelectTab);
    q32ShowPreference(nullptr, 0, nullptr, 0x03, nullptr);
    SetTimer(nullptr, 0, 100, WaitForDone);
    q32ShowPreference(nullptr, 0, nullptr, 0x03, nullptr);
    return 0;
}
