/* The association page of the preference dialogs: every format with a mark that says
   whether its files open in the calling application. */
#include "assoc.h"
#include "../prefs/prefs.h"
#include "../controls/tinted.h"
#include <new>
#include <stdio.h>
#include <string.h>

namespace {

enum {
    HeadingText = 2201, FormatList = 32241, ExtensionsButton = 2601, MarkAllButton = 2602,
    CheckBitmap = 32002, HeadingString = 31302, NoRightsString = 31413,
    Cell = 13, ItemHeight = 16, TextIndent = 16, FillIndent = 15,
};

/* One page's state, held by the page (a host may show two association pages). */
struct PageState {
    const AssociationPageParam *param = nullptr;
    char callerClass[sizeof param->applicationClass] = "";
    HWND list = nullptr;
    int formatCount = 0;
    WNDPROC listProc = nullptr;
    bool dirty = false;
    int selected = -1;
    TintedBitmap marks;
    int firstCell = 0;
};
PageState *StateOf(HWND page) { return (PageState *)GetWindowLongPtrA(page, DWLP_USER); }

/* The class the formats are associated with; null when the application has none. A
   caller's class is read within its 64-byte field. */
const char *ApplicationClass(PageState &Page)
{
    if (Page.param) {
        CopyText(Page.callerClass, sizeof Page.callerClass, Page.param->applicationClass);
        return Page.callerClass[0] ? Page.callerClass : nullptr;
    }
    switch (PreferenceApplicationId) {
    case 1004: return "KD3.Image";
    case 1005: return "QuillViewer";
    case 1012: return "mVX.Image";
    }
    return nullptr;
}

/* The calling application's display name from q32cfg.dll, empty without it. */
void ConfiguredDisplayName(char *name, size_t size)
{
    name[0] = 0;
    q32::ModuleHandle module(LoadLibraryA("q32cfg.dll"));
    if (!module) return;
    typedef int(__cdecl * ModuleInfoEntry)(int, char *, int, int);
    auto entry = (ModuleInfoEntry)(void *)GetProcAddress(module.get(), "GetModuleInfo");
    if (!entry) return;
    char answer[512] = "";
    entry(0, answer, 0, 1);
    answer[sizeof answer - 1] = 0;
    CopyText(name, size, answer);
}

void TintMarks(PageState &Page)
{
    TintBitmap(Page.marks, CheckBitmap, RGB(255, 255, 255), GetSysColor(COLOR_WINDOW));
}

/* Draws the mark cell of an item whose row starts at top. */
void DrawMark(const PageState &Page, HDC dc, int left, int top, int itemHeight, LPARAM data)
{
    RECT cell = {left + 1, top + (itemHeight - Cell) / 2, 0, 0};
    cell.right = cell.left + Cell;
    cell.bottom = cell.top + Cell;
    int index = Page.firstCell + (LOWORD(data) ? 1 : 0);
    if (Page.marks.dc)
        BitBlt(dc, cell.left, cell.top, Cell, Cell, Page.marks.dc, index * Cell, 0, SRCCOPY);
    DrawEdge(dc, &cell, EDGE_SUNKEN, BF_RECT);
}

void DrawFormatItem(PageState &Page, const DRAWITEMSTRUCT &item)
{
    if (item.itemID == (UINT)-1) return;
    if (!(item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) return;
    const RECT &r = item.rcItem;
    DrawMark(Page, item.hDC, r.left, r.top, r.bottom - r.top, (LPARAM)item.itemData);

    bool chosen = (item.itemState & ODS_SELECTED) != 0;
    if (chosen) Page.selected = (int)item.itemID;
    COLORREF back = GetSysColor(chosen ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    COLORREF fore = GetSysColor(chosen ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
    RECT fill = {r.left + FillIndent, r.top, r.right, r.bottom};
    HBRUSH brush = CreateSolidBrush(back);
    FillRect(item.hDC, &fill, brush);
    DeleteObject(brush);

    char text[Q32_MAX_NAME] = "";
    if (SendMessageA(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0) < (LRESULT)sizeof text)
        SendMessageA(item.hwndItem, LB_GETTEXT, item.itemID, (LPARAM)text);
    SetTextColor(item.hDC, fore);
    SetBkMode(item.hDC, TRANSPARENT);
    RECT textRect = {r.left + TextIndent, r.top, r.right, r.bottom};
    DrawTextA(item.hDC, text, -1, &textRect, DT_SINGLELINE | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &fill);
}

/* Inverts isAssociated of item index and redraws its cell at once. */
void ToggleMark(PageState &Page, int index)
{
    int count = (int)SendMessageA(Page.list, LB_GETCOUNT, 0, 0);
    if (index < 0 || index >= count) return;
    LPARAM data = SendMessageA(Page.list, LB_GETITEMDATA, index, 0);
    data = MAKELONG(LOWORD(data) ? 0 : 1, HIWORD(data));
    SendMessageA(Page.list, LB_SETITEMDATA, index, data);
    int height = (int)SendMessageA(Page.list, LB_GETITEMHEIGHT, 0, 0);
    int top = (int)SendMessageA(Page.list, LB_GETTOPINDEX, 0, 0);
    if (HDC dc = GetDC(Page.list)) {
        DrawMark(Page, dc, 0, (index - top) * height, height, data);
        ReleaseDC(Page.list, dc);
    }
    Page.dirty = true;
}

/* The list's subclass: a click in the mark column or the space bar toggles a mark. */
LRESULT CALLBACK MarkingListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    PageState *state = StateOf(GetParent(list));
    if (!state) return DefWindowProcA(list, message, wParam, lParam);
    PageState &Page = *state;
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
        int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
        int height = (int)SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
        int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        RECT client;
        GetClientRect(list, &client);
        int visible = height > 0 ? client.bottom / height : 0;
        if (visible > count) visible = count;
        if (height > 0 && x >= 1 && x <= Cell && y >= (height - Cell) / 2 && y < visible * height) {
            ToggleMark(Page, (int)SendMessageA(list, LB_GETTOPINDEX, 0, 0) + y / height);
            return 0;
        }
    } else if (message == WM_KEYDOWN && wParam == VK_SPACE) {
        ToggleMark(Page, Page.selected);
        return 0;
    }
    return CallWindowProcA(Page.listProc, list, message, wParam, lParam);
}

BOOL InitPage(HWND page, const AssociationPageParam *param)
{
    PageState *state = new (std::nothrow) PageState;
    if (!state) return FALSE;
    SetWindowLongPtrA(page, DWLP_USER, (LONG_PTR)state);
    PageState &Page = *state;
    Page.param = param;
    char format[128] = "", name[256] = "", heading[400];
    LoadStringA(ResourceModule, HeadingString, format, sizeof format);
    if (param) CopyText(name, sizeof param->displayName, param->displayName);
    else ConfiguredDisplayName(name, sizeof name);
    snprintf(heading, sizeof heading, format, name);
    SetDlgItemTextA(page, HeadingText, heading);

    Page.list = GetDlgItem(page, FormatList);
    Page.formatCount = qfFileGetFileFmtNum();
    Page.listProc = (WNDPROC)SetWindowLongPtrA(Page.list, GWLP_WNDPROC, (LONG_PTR)MarkingListProc);

    char executable[Q32_MAX_NAME] = "";
    GetModuleFileNameA(nullptr, executable, sizeof executable);
    executable[sizeof executable - 1] = 0;
    CharLowerA(executable);

    if (const char *applicationClass = ApplicationClass(Page)) {
        for (int format = 1; format <= Page.formatCount; format++) {
            q32::GlobalHandle block(qfFileGetFormatInfo(format));
            q32::Locked<FormatInfo> info(block.get());
            if (!info) break;
            char text[Q32_MAX_NAME], code[4], description[sizeof info->description + 1];
            CopyText(code, sizeof code, info->code);
            CharUpperA(code);
            CopyText(description, sizeof description, info->description);
            snprintf(text, sizeof text, "%s (%s)", code, description);
            int index = (int)SendMessageA(Page.list, LB_ADDSTRING, 0, (LPARAM)text);
            int found = ReadAssociationState(info.get(), applicationClass, executable);
            if (index >= 0) SendMessageA(Page.list, LB_SETITEMDATA, index, MAKELONG(found, found));
        }
        SendMessageA(Page.list, LB_SETCURSEL, 0, 0);
        Page.firstCell = q32GetOsVersion() == 1 ? 2 : 0;
    }
    TintMarks(Page);
    SetFocus(Page.list);
    return FALSE;
}

void MarkAll(PageState &Page)
{
    int count = (int)SendMessageA(Page.list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        LPARAM data = SendMessageA(Page.list, LB_GETITEMDATA, i, 0);
        if (LOWORD(data) == 1) continue;
        SendMessageA(Page.list, LB_SETITEMDATA, i, MAKELONG(1, HIWORD(data)));
        Page.dirty = true;
    }
    InvalidateRect(Page.list, nullptr, TRUE);
}

/* The type's entries tidied (only now, never while the page is merely looked at), then
   brought in line with its marks. */
void Apply(PageState &Page)
{
    if (!Page.dirty) return;
    char command[OpenCommandSize];
    BuildOpenCommand(command);
    char executable[Q32_MAX_NAME] = "";
    GetModuleFileNameA(nullptr, executable, sizeof executable);
    executable[sizeof executable - 1] = 0;
    CharLowerA(executable);
    if (const char *applicationClass = ApplicationClass(Page)) {
        int count = (int)SendMessageA(Page.list, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < Page.formatCount && i < count; i++) {
            char text[Q32_MAX_NAME] = "";
            if (SendMessageA(Page.list, LB_GETTEXTLEN, i, 0) >= (LRESULT)sizeof text) continue;
            SendMessageA(Page.list, LB_GETTEXT, i, (LPARAM)text);
            char code[4];
            CopyText(code, sizeof code, text);
            if (char *blank = strchr(code, ' ')) *blank = 0;
            LPARAM data = SendMessageA(Page.list, LB_GETITEMDATA, i, 0);
            {
                q32::GlobalHandle block(qfFileGetFormatInfo(i + 1));
                q32::Locked<FormatInfo> info(block.get());
                if (info) TidyAssociation(info.get(), applicationClass, executable);
            }
            ApplyAssociation(i + 1, code, applicationClass, command, HIWORD(data), LOWORD(data));
        }
    }
    Page.dirty = false;
    PreferenceResultFlags |= ResultAssociations;
}

void WarnWithoutRights(HWND page)
{
    if (CanWriteAssociations()) return;
    char text[256] = "";
    LoadStringA(ResourceModule, NoRightsString, text, sizeof text);
    MessageBoxA(page, text, "", MB_ICONEXCLAMATION);
}

} // namespace

/******************************************************************
 *      AssociationPageProc
 *
 * The page's dialog procedure (template 32116). Its creation value is an
 * AssociationPageParam or null.
 */
static INT_PTR AssociationPageProcBody(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return InitPage(page, (const AssociationPageParam *)lParam);
    PageState *state = StateOf(page);
    switch (message) {
    case WM_MEASUREITEM:
        ((MEASUREITEMSTRUCT *)lParam)->itemHeight = ItemHeight;
        return TRUE;
    case WM_DRAWITEM:
        if (wParam != FormatList || !state) return FALSE;
        DrawFormatItem(*state, *(const DRAWITEMSTRUCT *)lParam);
        return TRUE;
    case WM_CTLCOLORLISTBOX:
        if (state && state->marks.dc && state->marks.colour != GetSysColor(COLOR_WINDOW))
            TintMarks(*state);
        return 0;
    case WM_SHOWWINDOW:
        if (wParam) WarnWithoutRights(page);
        return FALSE;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) MessageBeep(0);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case MarkAllButton:
            if (state) MarkAll(*state);
            return TRUE;
        case ExtensionsButton:
            DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(ExtensionListTemplate), page,
                            ExtensionListProc, (LPARAM)(state ? state->param : nullptr));
            return TRUE;
        case PageApply:
            if (state) Apply(*state);
            return PageAnswer(page, TRUE);
        case PageCancel:
            return PageAnswer(page, TRUE);
        case PageValidate:
            return PageAnswer(page, 0);
        }
        return FALSE;
    case WM_DESTROY:
        if (state) {
            if (state->list && state->listProc)
                SetWindowLongPtrA(state->list, GWLP_WNDPROC, (LONG_PTR)state->listProc);
            FreeTintedBitmap(state->marks);
            SetWindowLongPtrA(page, DWLP_USER, 0);
            delete state;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK AssociationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ExceptionFree<INT_PTR>(FALSE, UnitAssoc.At(__LINE__), [&] {
        return AssociationPageProcBody(page, message, wParam, lParam);
    });
}
