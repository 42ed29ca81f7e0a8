/* Opens a dialog for scripts/screenshots: prefshots TAB shows the preference dialog with
   the memory and display pages on tab TAB (TAB "infoN": the system information dialog on
   tab N; "treeN": the tree preference dialog on its N-th item from the top), creates the
   file Q32_SHOT_READY once it is drawn and closes it when the file Q32_SHOT_DONE exists
   (at most after a minute). */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "q32file.h"

static int WantedTab;
static char DoneFile[MAX_PATH], ReadyFile[MAX_PATH];
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
    if (Ticks == 0) {
        RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        CloseHandle(CreateFileA(ReadyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    if (GetFileAttributesA(DoneFile) != INVALID_FILE_ATTRIBUTES || ++Ticks > 600) {
        KillTimer(nullptr, id);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

/* The tree dialog: select the wanted item, then wait as above. */
static void CALLBACK SelectItem(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindDialog();
    if (!dialog) return;
    KillTimer(nullptr, id);
    HWND tree = GetDlgItem(dialog, 32006);
    HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (int i = 0; i < WantedTab && item; i++)
        item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, (LPARAM)item);
    if (item) SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
    SetTimer(nullptr, 0, 100, WaitForDone);
}

/* A page of the calling application; the page protocol's answers are all 0. */
static INT_PTR CALLBACK OwnPageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

static TreePageDesc TreePage(HMODULE module, DWORD kind, const char *group, const char *title)
{
    TreePageDesc page = {};
    page.module = module;
    page.kind = kind;
    snprintf(page.group, sizeof page.group, "%s", group);
    snprintf(page.title, sizeof page.title, "%s", title);
    page.procedure = module ? OwnPageProc : nullptr;
    return page;
}

int main(int argc, char **argv)
{
    if (argc < 2 || !GetEnvironmentVariableA("Q32_SHOT_READY", ReadyFile, MAX_PATH) ||
        !GetEnvironmentVariableA("Q32_SHOT_DONE", DoneFile, MAX_PATH))
        return 2;
    WantedTab = atoi(argv[1]);
    if (strncmp(argv[1], "info", 4) == 0) {
        WantedTab = atoi(argv[1] + 4);
        SetTimer(nullptr, 0, 50, SelectTab);
        q32ShowSystemInfo(nullptr);
        SetTimer(nullptr, 0, 100, WaitForDone);
        q32ShowSystemInfo(nullptr);
        return 0;
    }
    if (strncmp(argv[1], "tree", 4) == 0) {
        WantedTab = atoi(argv[1] + 4);
        HMODULE self = GetModuleHandleA(nullptr);
        TreePageDesc pages[] = {
            TreePage(self, 200, "General", "General"),
            TreePage(nullptr, 1, "General", "Memory"),
            TreePage(nullptr, 2, "General", "Display"),
            TreePage(self, 201, "Files & folders", "Files & folders"),
        };
        SetTimer(nullptr, 0, 50, SelectItem);
        q32ShowTreePreference(nullptr, 4, pages);
        return 0;
    }
    SetTimer(nullptr, 0, 50, SelectTab);
    q32ShowPreference(nullptr, 0, nullptr, 0x03, nullptr);
    SetTimer(nullptr, 0, 100, WaitForDone);
    q32ShowPreference(nullptr, 0, nullptr, 0x03, nullptr);
    return 0;
}
