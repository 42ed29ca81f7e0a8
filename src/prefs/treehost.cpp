/* The tree preference dialog: pages in a tree view, the current page's title on a banner. */
#include "prefs.h"
#include "q32base.h"
#include <commctrl.h>
#include <memory>
#include <new>
#include <string.h>

namespace {

enum {
    HostTemplate = 32113, TreeControl = 32006,
    PageAreaHolder = 2201, BannerHolder = 2202, TitleHolder = 2203,
};
const COLORREF BannerFrom = 0x808080, BannerTo = 0xC0C0C0;

struct TreeHost {
    TreePageDesc *pages;
    int count;
    std::unique_ptr<HWND[]> windows;
    std::unique_ptr<HTREEITEM[]> items;  /* while the tree is built */
    int current = -1;
    bool closing = false;
    RECT pageArea, banner, title;
    std::unique_ptr<BYTE[]> bannerRow;
    HFONT titleFont = nullptr;
};

/* A caller's text field, terminated whatever the field holds. */
template <size_t N> void FieldText(char *out, const char (&field)[N])
{
    size_t n = strnlen(field, N - 1);
    memcpy(out, field, n);
    out[n] = 0;
}

HWND CurrentPage(const TreeHost &host)
{
    return host.current >= 0 ? host.windows[host.current] : nullptr;
}

HWND CreateTreePage(HWND dialog, TreePageDesc &page)
{
    HMODULE module = page.module ? page.module : ResourceModule;
    UINT templateId = page.kind & 0xFFFF;
    DLGPROC procedure = page.procedure;
    /* A descriptor without a module names a built-in page by its kind. */
    const BuiltInPage *builtIn = page.module ? nullptr : FindBuiltInPage(page.kind);
    if (builtIn) {
        templateId = builtIn->templateId;
        procedure = builtIn->procedure;
    }
    return CreatePageWindow(module, templateId, dialog, procedure, page.initValue, page.title);
}

/* Creates the pages and their items; a page's parent is the first earlier page titled as
   its group. A group that names no earlier page makes the page a root rather than losing
   it. Gives the first item. */
HTREEITEM BuildTree(HWND dialog, TreeHost &host, HWND tree)
{
    HTREEITEM first = nullptr;
    for (int i = 0; i < host.count; i++) {
        TreePageDesc &page = host.pages[i];
        host.windows[i] = CreateTreePage(dialog, page);
        char title[sizeof page.title], group[sizeof page.group];
        FieldText(title, page.title);
        FieldText(group, page.group);
        HTREEITEM parent = TVI_ROOT;
        if (strcmp(group, title) != 0)
            for (int k = 0; k < i; k++)
                if (host.items[k] && strncmp(host.pages[k].title, group, sizeof group) == 0) {
                    parent = host.items[k];
                    break;
                }
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = title;
        insert.item.lParam = i;
        host.items[i] = (HTREEITEM)SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&insert);
        if (!first) first = host.items[i];
    }
    host.items.reset();
    return first;
}

RECT TakePlaceholder(HWND dialog, int id)
{
    RECT r = {};
    HWND holder = GetDlgItem(dialog, id);
    if (!holder) return r;
    GetWindowRect(holder, &r);
    MapWindowPoints(nullptr, dialog, (POINT *)&r, 2);
    DestroyWindow(holder);
    return r;
}

void InitHost(HWND dialog, TreeHost &host)
{
    host.pageArea = TakePlaceholder(dialog, PageAreaHolder);
    host.banner = TakePlaceholder(dialog, BannerHolder);
    host.title = TakePlaceholder(dialog, TitleHolder);
    int width = host.banner.right - host.banner.left;
    if (width > 0) {
        host.bannerRow.reset(new (std::nothrow) BYTE[(size_t)width * 3]);
        if (host.bannerRow) FillGradient(width, host.bannerRow.get(), BannerFrom, BannerTo);
    }
    LOGFONTA font = {};
    HFONT dialogFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    if (dialogFont && GetObjectA(dialogFont, sizeof font, &font)) {
        font.lfWeight = FW_BOLD;
        host.titleFont = CreateFontIndirectA(&font);
    }

    HWND tree = GetDlgItem(dialog, TreeControl);
    HTREEITEM first = BuildTree(dialog, host, tree);
    const RECT &a = host.pageArea;
    for (int i = 0; i < host.count; i++)
        if (host.windows[i]) MoveWindow(host.windows[i], a.left, a.top, a.right - a.left, a.bottom - a.top, FALSE);
    if (first) SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)first);
    for (HTREEITEM root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); root;
         root = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)root))
        if (SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)root))
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)root);
    SetFocus(tree);
}

void Paint(HWND dialog, const TreeHost &host)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    const RECT &b = host.banner;
    HDISP32SHOW show = nullptr;
    if (host.bannerRow && disp32ShowInit(&show, dc, 24, b.left, b.top, b.right, b.bottom, 0, 0, 0)) {
        for (LONG y = b.top; y < b.bottom; y++)
            if (!disp32ShowData(show, host.bannerRow.get(), 0, 0, 1, 3 * (b.right - b.left))) break;
        disp32ShowEnd(show);
    }
    if (host.current >= 0) {
        char title[Q32_MAX_NAME];
        FieldText(title, host.pages[host.current].title);
        DoubleAmpersands(title, sizeof title);
        HGDIOBJ oldFont = host.titleFont ? SelectObject(dc, host.titleFont) : nullptr;
        SetBkMode(dc, TRANSPARENT);
        RECT r = host.title;
        DrawTextA(dc, title, -1, &r, 0);
        if (oldFont) SelectObject(dc, oldFont);
    }
    EndPaint(dialog, &ps);
}

void ShowPage(HWND dialog, TreeHost &host, LPARAM index)
{
    if (index < 0 || index >= host.count) return;
    if (HWND old = CurrentPage(host)) ShowWindow(old, SW_HIDE);
    host.current = (int)index;
    if (HWND page = CurrentPage(host)) ShowWindow(page, SW_SHOW);
    InvalidateRect(dialog, &host.title, TRUE);
}

void Close(HWND dialog, TreeHost &host, WORD command, INT_PTR result)
{
    for (int i = 0; i < host.count; i++) SendPageCommand(host.windows[i], command);
    host.closing = true;
    EndDialog(dialog, result);
}

void Help(HWND dialog, const TreeHost &host)
{
    if (host.current < 0) return;
    const TreePageDesc &page = host.pages[host.current];
    char file[sizeof page.helpFile];
    FieldText(file, page.helpFile);
    ShowPreferenceHelp(dialog, file, page.helpContext);
}

INT_PTR CALLBACK TreeHostProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitHost(dialog, *reinterpret_cast<TreeHost *>(lParam));
        return FALSE; /* the focus is on the tree */
    }
    TreeHost *state = reinterpret_cast<TreeHost *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!state) return FALSE;
    TreeHost &host = *state;
    switch (message) {
    case WM_NOTIFY: {
        const NMTREEVIEWA *notice = (const NMTREEVIEWA *)lParam;
        if (notice->hdr.idFrom != TreeControl || host.closing) return FALSE;
        if (notice->hdr.code == TVN_SELCHANGINGA || notice->hdr.code == TVN_SELCHANGINGW) {
            int control = ValidatePage(CurrentPage(host));
            if (control) FocusRefusedControl(CurrentPage(host), control, true);
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, control ? TRUE : FALSE);
            return TRUE;
        }
        if (notice->hdr.code == TVN_SELCHANGEDA || notice->hdr.code == TVN_SELCHANGEDW)
            ShowPage(dialog, host, notice->itemNew.lParam);
        return FALSE; /* other notices get the default answer, not a refusal left behind */
    }
    case WM_PAINT:
        Paint(dialog, host);
        return TRUE;
    case WM_HELP:
        Help(dialog, host);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (int control = ValidatePage(CurrentPage(host))) {
                FocusRefusedControl(CurrentPage(host), control, true);
                return TRUE;
            }
            Close(dialog, host, PageApply, 0x10000);
            return TRUE;
        case IDCANCEL:
            Close(dialog, host, PageCancel, 0);
            return TRUE;
        case PageHelp:
            Help(dialog, host);
            return TRUE;
        default:
            if (HWND page = CurrentPage(host)) PostMessageA(page, WM_COMMAND, wParam, lParam);
            return TRUE;
        }
    case WM_DESTROY:
        host.closing = true;
        if (host.titleFont) DeleteObject(host.titleFont);
        host.titleFont = nullptr;
        return FALSE;
    }
    return FALSE;
}

} // namespace

/******************************************************************
 *      FillGradient
 *
 * Pixel i of n: each channel (from * (n - 1 - i) + to * i) / (n - 1), rounded, stored red,
 * green, blue. A single pixel takes the first colour.
 */
void FillGradient(int n, BYTE *row, COLORREF from, COLORREF to)
{
    for (int i = 0; i < n; i++)
        for (int c = 0; c < 3; c++) {
            double a = (from >> (8 * c)) & 0xFF, b = (to >> (8 * c)) & 0xFF;
            row[3 * i + c] = n < 2 ? (BYTE)a : (BYTE)((a * (n - 1 - i) + b * i) / (n - 1) + 0.5);
        }
}

/******************************************************************
 *      DoubleAmpersands
 */
void DoubleAmpersands(char *text, size_t size)
{
    if (!text || size == 0 || !strchr(text, '&')) return;
    char doubled[Q32_MAX_NAME];
    size_t limit = (size < sizeof doubled ? size : sizeof doubled) - 1, n = 0;
    for (const char *p = text; *p; p++) {
        size_t need = *p == '&' ? 2 : 1;
        if (n + need > limit) break;
        doubled[n++] = *p;
        if (*p == '&') doubled[n++] = '&';
    }
    doubled[n] = 0;
    memcpy(text, doubled, n + 1);
}

/******************************************************************
 *      q32ShowTreePreference  (exported)
 */
extern "C" INT_PTR Q32FILEAPI q32ShowTreePreference(HWND owner, int pageCount, TreePageDesc *pages)
{
    INT_PTR result = -1;
    if (pages && pageCount > 0) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_UPDOWN_CLASS};
        InitCommonControlsEx(&controls);
        TreeHost host;
        host.pages = pages;
        host.count = pageCount;
        host.windows.reset(new (std::nothrow) HWND[pageCount]());
        host.items.reset(new (std::nothrow) HTREEITEM[pageCount]());
        if (host.windows && host.items)
            result = DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(HostTemplate), owner,
                                     TreeHostProc, (LPARAM)&host);
    }
    DisplaySettingsBlock = nullptr;
    return result;
}
