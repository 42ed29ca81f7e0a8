/* qbFindFile: the finder's dialog, the folder browser and the unattended answers. */
#include "q32brows.h"
#include "finder.h"
#include "resource.h"
#include "../steering.h"
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

namespace {

HINSTANCE Self;
const size_t ResultLimit = 5000;

using finder::Query;

using steering::Environment;

void AppendLog(const std::string &line)
{
    steering::AppendLog("Q32BROWS_LOG", line);
}

/* The answer text for the chosen names. */
std::string Answer(const std::vector<std::string> &names)
{
    if (names.size() == 1) return names[0];
    std::string text;
    for (const std::string &n : names) {
        if (!text.empty()) text += ' ';
        text += '"' + n + '"';
    }
    return text;
}

/* A movable global block holding text, or NULL. */
HGLOBAL TextBlock(const std::string &text)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!block) return nullptr;
    char *p = static_cast<char *>(GlobalLock(block));
    if (!p) { GlobalFree(block); return nullptr; }
    memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    return block;
}

/* ---- Folder browser -------------------------------------------------------------------- */

/* The start folder of a browser being shown. On a cold shell namespace the browser can
   refuse the first request; it is asked again until the selection reaches the folder
   (the browser's own change notice says so) or, for a folder that is gone, given up. */
struct BrowseStart {
    std::string folder;
    bool reached = false;
    int retries = 0;
};
const char BrowseProperty[] = "Q32BROWS_START";
const UINT_PTR RetryTimer = 0x5142;

void CALLBACK RetrySelection(HWND window, UINT, UINT_PTR timer, DWORD)
{
    auto *start = static_cast<BrowseStart *>(GetPropA(window, BrowseProperty));
    if (!start || start->reached || ++start->retries > 240 ||
        GetFileAttributesA(start->folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        KillTimer(window, timer);
        RemovePropA(window, BrowseProperty);
        return;
    }
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, (LPARAM)start->folder.c_str());
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data)
{
    auto *start = reinterpret_cast<BrowseStart *>(data);
    if (message == BFFM_INITIALIZED && start && !start->folder.empty()) {
        SetPropA(window, BrowseProperty, start);
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, (LPARAM)start->folder.c_str());
        if (!start->reached) SetTimer(window, RetryTimer, 250, RetrySelection);
    } else if (message == BFFM_SELCHANGED && start && lParam) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path) &&
            !lstrcmpiA(path, start->folder.c_str()))
            start->reached = true;
    }
    return 0;
}

/* Shows the system's folder browser at start; the chosen folder or "" on cancel. */
std::string BrowseForFolder(HWND parent, const std::string &start, const char *title)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    char display[MAX_PATH] = "";
    BROWSEINFOA info = {};
    info.hwndOwner = parent;
    info.pszDisplayName = display;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    BrowseStart state;
    state.folder = start;
    info.lParam = (LPARAM)&state;
    std::string chosen;
    if (LPITEMIDLIST item = SHBrowseForFolderA(&info)) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(item, path)) chosen = path;
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return chosen;
}

/* ---- The finder's dialog --------------------------------------------------------------- */

struct FindDialog {
    Query query;
    bool several;
    std::vector<std::string> found;
    std::vector<std::string> chosen;
    HWND list;
};

std::string ItemText(HWND dialog, int id)
{
    char text[MAX_PATH * 4];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void RunSearch(HWND dialog, FindDialog *state)
{
    std::string patternText = ItemText(dialog, IDC_PATTERN);
    std::string folderText = ItemText(dialog, IDC_FOLDER);
    state->query = finder::MakeQuery(patternText.c_str(), folderText.c_str());
    SetDlgItemTextA(dialog, IDC_FOLDER, state->query.folder.c_str());

    HCURSOR old = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    bool subfolders = IsDlgButtonChecked(dialog, IDC_SUBFOLDERS) == BST_CHECKED;
    state->found = finder::Search(state->query, subfolders, ResultLimit);
    SetCursor(old);

    SendMessageA(state->list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(state->list, LB_RESETCONTENT, 0, 0);
    HDC dc = GetDC(state->list);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageA(state->list, WM_GETFONT, 0, 0));
    LONG widest = 0;
    for (const std::string &name : state->found) {
        SendMessageA(state->list, LB_ADDSTRING, 0, (LPARAM)name.c_str());
        SIZE size;
        if (GetTextExtentPoint32A(dc, name.c_str(), (int)name.size(), &size) && size.cx > widest)
            widest = size.cx;
    }
    SelectObject(dc, oldFont);
    ReleaseDC(state->list, dc);
    SendMessageA(state->list, LB_SETHORIZONTALEXTENT, widest + 8, 0);
    SendMessageA(state->list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(state->list, nullptr, TRUE);

    char status[96];
    if (state->found.size() >= ResultLimit)
        snprintf(status, sizeof status, "The first %u files found are listed.", (unsigned)ResultLimit);
    else
        snprintf(status, sizeof status, "%u file(s) found.", (unsigned)state->found.size());
    SetDlgItemTextA(dialog, IDC_STATUS, status);
    if (!state->found.empty()) {
        if (state->several) SendMessageA(state->list, LB_SETSEL, TRUE, 0);
        else SendMessageA(state->list, LB_SETCURSEL, 0, 0);
    }
    EnableWindow(GetDlgItem(dialog, IDOK), !state->found.empty());
}

/* The selected names, in list order. */
std::vector<std::string> Selection(FindDialog *state)
{
    std::vector<std::string> names;
    int count = (int)SendMessageA(state->list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        bool selected = state->several ? SendMessageA(state->list, LB_GETSEL, i, 0) > 0
                                       : SendMessageA(state->list, LB_GETCURSEL, 0, 0) == i;
        if (!selected) continue;
        int length = (int)SendMessageA(state->list, LB_GETTEXTLEN, i, 0);
        if (length < 0) continue;
        std::string name(length + 1, '\0');
        SendMessageA(state->list, LB_GETTEXT, i, (LPARAM)&name[0]);
        name.resize(length);
        names.push_back(name);
    }
    return names;
}

INT_PTR CALLBACK FindDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    FindDialog *state = reinterpret_cast<FindDialog *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<FindDialog *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        std::string patterns;
        for (const std::string &p : state->query.patterns)
            patterns += (patterns.empty() ? "" : ";") + p;
        SetDlgItemTextA(dialog, IDC_PATTERN, patterns.c_str());
        SetDlgItemTextA(dialog, IDC_FOLDER, state->query.folder.c_str());
        CheckDlgButton(dialog, IDC_SUBFOLDERS, BST_CHECKED);

        RECT area;
        HWND placeholder = GetDlgItem(dialog, IDC_LISTAREA);
        GetWindowRect(placeholder, &area);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&area), 2);
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                      LBS_NOINTEGRALHEIGHT | (state->several ? LBS_EXTENDEDSEL : 0);
        state->list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "", style, area.left, area.top,
                                      area.right - area.left, area.bottom - area.top, dialog,
                                      (HMENU)(INT_PTR)IDC_RESULTS, Self, nullptr);
        SendMessageA(state->list, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
        SetWindowPos(state->list, placeholder, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        RunSearch(dialog, state);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SEARCH:
            RunSearch(dialog, state);
            return TRUE;
        case IDC_BROWSE: {
            std::string folder = BrowseForFolder(dialog, ItemText(dialog, IDC_FOLDER),
                                                 "Search in this folder:");
            if (!folder.empty()) {
                SetDlgItemTextA(dialog, IDC_FOLDER, folder.c_str());
                RunSearch(dialog, state);
            }
            return TRUE;
        }
        case IDC_RESULTS:
            if (HIWORD(wParam) == LBN_DBLCLK) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return TRUE;
        case IDOK:
            state->chosen = Selection(state);
            if (state->chosen.empty()) { MessageBeep(MB_OK); return TRUE; }
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

/* ---- Answers --------------------------------------------------------------------------- */

/* The chosen text for a search, or "" when the user cancelled or nothing was found. */
std::string FindAnswer(HWND parent, const Query &query, bool several, const std::string &automatic)
{
    if (automatic.empty()) {
        FindDialog state{query, several, {}, {}, nullptr};
        INT_PTR answer = DialogBoxParamA(Self, MAKEINTRESOURCEA(IDD_FIND), parent,
                                         FindDialogProc, (LPARAM)&state);
        return answer == IDOK ? Answer(state.chosen) : std::string();
    }
    if (automatic[0] == '=') return automatic.substr(1);
    if (automatic == "first" || automatic == "all") {
        size_t limit = automatic == "all" && several ? ResultLimit : 1;
        std::vector<std::string> found = finder::Search(query, true, limit);
        return found.empty() ? std::string() : Answer(found);
    }
    return {};
}

std::string FolderAnswer(HWND parent, const std::string &start, const std::string &automatic)
{
    if (automatic.empty()) return BrowseForFolder(parent, start, "Choose a folder:");
    if (automatic[0] == '=') return automatic.substr(1);
    if (automatic == "first" || automatic == "all") {
        DWORD attributes = GetFileAttributesA(start.c_str());
        bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        return folder ? start : std::string();
    }
    return {};
}

} // namespace

/******************************************************************
 *      qbFindFile
 */
extern "C" int QBAPI qbFindFile(HINSTANCE, HWND parent, const char *text, const char *folder,
                                HGLOBAL *result, int several, int folderMode)
{
    if (!result) return QB_FAILED;
    *result = nullptr;
    std::string automatic = Environment("Q32BROWS_AUTO");
    if (parent && !IsWindow(parent)) parent = nullptr;

    std::string answer;
    if (folderMode) {
        std::string start = finder::FullFolder(text ? text : "");
        AppendLog("folder|" + std::string(text ? text : ""));
        answer = FolderAnswer(parent, start, automatic);
    } else {
        Query query = finder::MakeQuery(text, folder);
        char line[64];
        snprintf(line, sizeof line, "|%d", several);
        AppendLog("find|" + std::string(text ? text : "") + "|" + (folder ? folder : "") + line);
        answer = FindAnswer(parent, query, several != 0, automatic);
    }
    if (answer.empty()) return QB_CANCELLED;
    *result = TextBlock(answer);
    return *result ? QB_CHOSEN : QB_FAILED;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Self = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
