/* The tabbed preference dialog: pages as modeless child dialogs behind a tab control. */
#include "prefs.h"
#include <commctrl.h>
#include <string.h>

DWORD PreferenceResultFlags = 0;
DWORD PreferenceApplicationId = 0;
DWORD *DisplaySettingsBlock = nullptr;

namespace {

enum { HostTemplate = 32110, TabControlId = 32200, MemoryTemplate = 32111, DisplayTemplate = 32112 };

/* The built-in pages in the tabbed host's order. */
BuiltInPage BuiltInPages[] = {
    {PREF_PAGE_ASSOC, PREF_PAGE_ASSOC2, 0, nullptr},
    {PREF_PAGE_MEMORY, PREF_PAGE_MEMORY, MemoryTemplate, MemoryPageProc},
    {PREF_PAGE_DISPLAY, PREF_PAGE_DISPLAY, DisplayTemplate, DisplayPageProc},
};

/* One preference dialog's state, held by the dialog (DWLP_USER), so that two can coexist. */
struct PreferenceDialog {
    TabbedHost host;
    const PreferenceAppInfo *appInfo;
};

/* The tab last shown, which the next dialog shows first (the process remembers it). */
int LastTabIndex;

void SendToAllPages(const TabbedHost &host, WORD command)
{
    for (int i = 0; i < host.count; i++) SendPageCommand(host.pages[i].window, command);
}

void ShowHelp(HWND dialog, const PreferenceDialog &state)
{
    const TabbedHost &host = state.host;
    if (const PreferenceAppInfo *app = state.appInfo) {
        ShowPreferenceHelp(dialog, app->helpFile, app->helpContextBase + (DWORD)host.currentIndex);
        return;
    }
    char path[Q32_MAX_NAME] = "";
    q32FileGetHelpFilePath(OwnModule, (int)PreferenceApplicationId, path, sizeof path);
    q32MyWinHelp(dialog, path, HELP_CONTEXT, 532 + (DWORD)host.currentIndex);
}

} // namespace

HWND CreatePageWindow(HMODULE module, UINT templateId, HWND host, DLGPROC procedure,
                      LPARAM parameter, char *title)
{
    HWND window = CreateDialogParamA(module, MAKEINTRESOURCEA(templateId & 0xFFFF), host,
                                     procedure, parameter);
    if (!window) return nullptr;
    if (!title[0]) GetWindowTextA(window, title, 64);
    LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    style = (style & ~(LONG_PTR)WS_CAPTION) | WS_TABSTOP | DS_CONTROL | DS_SETFONT | DS_3DLOOK;
    SetWindowLongPtrA(window, GWL_STYLE, style);
    SetWindowLongPtrA(window, GWL_EXSTYLE, GetWindowLongPtrA(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    ShowWindow(window, SW_HIDE);
    return window;
}

int ValidatePage(HWND page)
{
    if (!page) return 0;
    return (int)SendMessageA(page, WM_COMMAND, MAKEWPARAM(PageValidate, 0), 0);
}

void FocusRefusedControl(HWND page, int control, bool onlyEdit)
{
    HWND item = GetDlgItem(page, control);
    SetFocus(item);
    char name[16] = "";
    GetClassNameA(item, name, sizeof name);
    if (!onlyEdit || lstrcmpiA(name, "Edit") == 0) SendMessageA(item, EM_SETSEL, 0, -1);
}

void SendPageCommand(HWND page, WORD command)
{
    if (page) SendMessageA(page, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void ShowPreferenceHelp(HWND dialog, const char *file, DWORD context)
{
    char path[Q32_MAX_NAME];
    CopyText(path, sizeof path, file ? file : "");
    if (!strchr(path, '>') && strlen(path) + 2 < sizeof path) strcat(path, ">d");
    q32MyWinHelp(dialog, path, HELP_CONTEXT, context);
}

void InitTabbedHost(HWND dialog, TabbedHost &host)
{
    host.tab = GetDlgItem(dialog, TabControlId);
    q32MoveWindow(dialog, host.owner, 1);
    for (int i = 0; i < host.count; i++) CreatePreferencePage(dialog, host.tab, host.pages[i]);

    RECT area;
    GetClientRect(host.tab, &area);
    MapWindowPoints(host.tab, dialog, (POINT *)&area, 2);
    SendMessageA(host.tab, TCM_ADJUSTRECT, FALSE, (LPARAM)&area);
    for (int i = 0; i < host.count; i++)
        if (host.pages[i].window)
            MoveWindow(host.pages[i].window, area.left, area.top, area.right - area.left,
                       area.bottom - area.top, FALSE);

    host.current = nullptr;
    if (host.currentIndex < host.count) SendMessageA(host.tab, TCM_SETCURSEL, host.currentIndex, 0);
    ShowSelectedPage(host);
    SetFocus(GetDlgItem(dialog, IDOK));
}

namespace {

INT_PTR CALLBACK HostProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitTabbedHost(dialog, ((PreferenceDialog *)lParam)->host);
        return FALSE; /* the focus is set */
    }
    auto *state = (PreferenceDialog *)GetWindowLongPtrA(dialog, DWLP_USER);
    if (!state) return FALSE;
    TabbedHost &host = state->host;
    switch (message) {
    case WM_NOTIFY: {
        const NMHDR *notice = (const NMHDR *)lParam;
        if (notice->idFrom != TabControlId) return FALSE;
        if (notice->code == TCN_SELCHANGING) {
            int control = ValidatePage(host.current);
            if (control) FocusRefusedControl(host.current, control, true);
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, control ? TRUE : FALSE);
            return TRUE;
        }
        if (notice->code == TCN_SELCHANGE) ShowSelectedPage(host);
        return TRUE;
    }
    case WM_HELP:
        ShowHelp(dialog, *state);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            int control = ValidatePage(host.current);
            if (control) {
                HWND page = host.current;
                SendMessageA(host.tab, TCM_SETCURSEL, host.currentIndex, 0);
                ShowSelectedPage(host);
                FocusRefusedControl(page, control, false);
                return TRUE;
            }
            PreferenceResultFlags = 0;
            SendToAllPages(host, PageApply);
            EndDialog(dialog, 0x10000 | (PreferenceResultFlags & 0xFFFF));
            return TRUE;
        }
        case IDCANCEL:
            SendToAllPages(host, PageCancel);
            PreferenceResultFlags = 0;
            EndDialog(dialog, 0);
            return TRUE;
        case PageHelp:
            ShowHelp(dialog, *state);
            return TRUE;
        default:
            if (host.current) PostMessageA(host.current, WM_COMMAND, wParam, lParam);
            return TRUE;
        }
    }
    return FALSE;
}

} // namespace

/******************************************************************
 *      AddPreferencePage
 *
 * Appends a page at position = page count. The table holds 10 pages: a further page is
 * refused rather than written past its end.
 */
bool AddPreferencePage(TabbedHost &host, HMODULE module, const char *title, UINT templateId,
                       DLGPROC procedure)
{
    if (host.count < 0 || host.count >= MaxPreferencePages) return false;
    PreferencePage &page = host.pages[host.count];
    page.module = module;
    page.templateId = templateId & 0xFFFF;
    page.procedure = procedure;
    page.window = nullptr;
    CopyText(page.title, sizeof page.title, title ? title : "");
    page.position = host.count;
    host.count++;
    return true;
}

/******************************************************************
 *      CreatePreferencePage
 *
 * Creates the page as a hidden control-like child and inserts its tab.
 */
void CreatePreferencePage(HWND hostWindow, HWND tabControl, PreferencePage &page)
{
    page.window = CreatePageWindow(page.module, page.templateId, hostWindow, page.procedure, 0,
                                   page.title);

    TCITEMA item = {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = page.title;
    item.iImage = -1;
    SendMessageA(tabControl, TCM_INSERTITEMA, page.position, (LPARAM)&item);
}

/******************************************************************
 *      ShowSelectedPage
 */
void ShowSelectedPage(TabbedHost &host)
{
    int selected = (int)SendMessageA(host.tab, TCM_GETCURSEL, 0, 0);
    if (host.current) ShowWindow(host.current, SW_HIDE);
    if (selected < 0 || selected >= host.count) selected = 0;
    host.currentIndex = selected;
    host.current = host.count ? host.pages[selected].window : nullptr;
    SetFocus(host.tab);
    if (host.current) ShowWindow(host.current, SW_SHOW);
}

/******************************************************************
 *      RegisterPreferencePage / FindBuiltInPage
 */
void RegisterPreferencePage(DWORD kind, UINT templateId, DLGPROC procedure)
{
    for (BuiltInPage &page : BuiltInPages)
        if (page.kind == kind) {
            page.templateId = templateId;
            page.procedure = procedure;
        }
}

const BuiltInPage *FindBuiltInPage(DWORD kind)
{
    for (const BuiltInPage &page : BuiltInPages)
        if (kind == page.kind || kind == page.alsoKind) return &page;
    return nullptr;
}

/******************************************************************
 *      q32ShowPreference  (exported)
 */
extern "C" INT_PTR Q32FILEAPI q32ShowPreference(HWND owner, int extraPageCount,
                                                const PreferenceExtraPage *extraPages,
                                                DWORD flags, const PreferenceAppInfo *appInfo)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);

    PreferenceDialog state = {};
    state.appInfo = appInfo;
    TabbedHost &host = state.host;
    host.owner = owner;
    host.resources = ResourceModule;
    host.currentIndex = LastTabIndex;
    PreferenceApplicationId = appInfo ? appInfo->applicationId : 0;

    for (int i = 0; extraPages && i < extraPageCount; i++)
        AddPreferencePage(host, extraPages[i].module, extraPages[i].title,
                          extraPages[i].templateId, extraPages[i].procedure);
    /* A page with two bits is added once when either is set. */
    for (const BuiltInPage &page : BuiltInPages)
        if (page.procedure && (flags & (page.kind | page.alsoKind)))
            AddPreferencePage(host, ResourceModule, nullptr, page.templateId, page.procedure);

    INT_PTR result = DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(HostTemplate), owner,
                                     HostProc, (LPARAM)&state);
    LastTabIndex = host.currentIndex;
    return result;
}

/******************************************************************
 *      q32ShowPreferences  (exported)
 */
extern "C" INT_PTR Q32FILEAPI q32ShowPreferences(HWND owner, int extraPageCount,
                                                 const PreferenceExtraPage *extraPages,
                                                 DWORD flags, const PreferenceAppInfo *appInfo,
                                                 DWORD *displaySettings)
{
    DisplaySettingsBlock = displaySettings;
    INT_PTR result = q32ShowPreference(owner, extraPageCount, extraPages, flags, appInfo);
    DisplaySettingsBlock = nullptr;
    return result;
}
