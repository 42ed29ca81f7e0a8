/* The system information dialog: Windows, drives, display and plug-ins, one tab each. */
#include "prefs.h"
#include "../controls/tinted.h"
#include "q32base.h"
#include <commctrl.h>
#include <new>
#include <stdio.h>
#include <string.h>

namespace {

enum {
    HostTemplate = 32120, SystemTemplate = 32121, DrivesTemplate = 32122,
    DisplayTemplate = 32123, PluginTemplate = 32124, TabControlId = 32200,
    DriveList = 32221, DriveBitmap = 32001, Cell = 16,
};

/* The tab last shown, which the next dialog shows first (the process remembers it). */
int LastSystemTab;

const int IconColours[2] = {COLOR_WINDOW, COLOR_HIGHLIGHT};
const COLORREF IconBackground = RGB(0, 0, 255);

/* One drives page's icons, held by the page (DWLP_USER) from WM_INITDIALOG to WM_DESTROY,
   so that two pages can coexist: one copy tinted for plain lines, one for selected lines. */
struct DriveIcons {
    TintedBitmap tinted[2];
};

DriveIcons *IconsOf(HWND page) { return (DriveIcons *)GetWindowLongPtrA(page, DWLP_USER); }

bool MakeIcons(HWND page)
{
    DriveIcons *icons = new (std::nothrow) DriveIcons;
    if (!icons) return false;
    SetWindowLongPtrA(page, DWLP_USER, (LONG_PTR)icons);
    for (int i = 0; i < 2; i++)
        if (!TintBitmap(icons->tinted[i], DriveBitmap, IconBackground, GetSysColor(IconColours[i])))
            return false;
    return true;
}

void FreeIcons(HWND page)
{
    DriveIcons *icons = IconsOf(page);
    if (!icons) return;
    SetWindowLongPtrA(page, DWLP_USER, 0);
    for (TintedBitmap &tinted : icons->tinted) FreeTintedBitmap(tinted);
    delete icons;
}

int IconCell(UINT type)
{
    switch (type) {
    case DRIVE_REMOVABLE: return 3;
    case DRIVE_FIXED: return 4;
    case DRIVE_REMOTE: return 6;
    case DRIVE_CDROM: return 5;
    case DRIVE_RAMDISK: return 7;
    }
    return 0;
}

/* Total and free bytes of a drive; false when neither free-space call answers. */
bool DriveSpace(const char *root, double &total, double &free)
{
    bool done = false;
    if (HMODULE kernel = LoadLibraryA("kernel32.dll")) {
        typedef BOOL(WINAPI * SpaceEx)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
        if (auto spaceEx = (SpaceEx)(void *)GetProcAddress(kernel, "GetDiskFreeSpaceExA")) {
            ULARGE_INTEGER available, all, allFree;
            if (spaceEx(root, &available, &all, &allFree)) {
                total = all.HighPart * 4294967296.0 + all.LowPart;
                free = allFree.HighPart * 4294967296.0 + allFree.LowPart;
                done = true;
            }
        }
        FreeLibrary(kernel);
    }
    if (done) return true;
    DWORD sectors, bytes, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters)) return false;
    total = (DWORD)(sectors * bytes * clusters);
    free = (DWORD)(sectors * bytes * freeClusters);
    return true;
}

BOOL InitDrivesPage(HWND page)
{
    char current[Q32_MAX_NAME] = "";
    DWORD n = GetCurrentDirectoryA(sizeof current, current);
    if (n >= sizeof current) current[0] = 0;
    SetDlgItemTextA(page, 2201, current);

    HWND list = GetDlgItem(page, DriveList);
    char roots[260] = "";
    DWORD length = GetLogicalDriveStringsA(sizeof roots, roots);
    if (length >= sizeof roots) length = 0;
    int selected = -1;
    char format[256] = "";
    LoadStringA(ResourceModule, 31301, format, sizeof format);
    for (const char *root = roots; length && *root; root += strlen(root) + 1) {
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_REMOVABLE) continue;
        char name[8] = "";
        size_t k = 0;
        while (root[k] && root[k] != '\\' && k + 1 < sizeof name) { name[k] = root[k]; k++; }
        CharLowerA(name);

        char volume[64] = "", fileSystem[64] = "";
        bool listed = false;
        if (type == DRIVE_FIXED || type == DRIVE_CDROM) {
            listed = GetVolumeInformationA(root, volume, 63, nullptr, nullptr, nullptr, fileSystem, 63) != 0;
        } else if (type == DRIVE_REMOTE) {
            DWORD size = 63;
            listed = WNetGetConnectionA(name, volume, &size) == NO_ERROR;
        }
        if (!listed) continue;
        CharLowerA(volume);

        char freeText[64] = "", totalText[64] = "";
        double total = 0, free = 0;
        if (DriveSpace(root, total, free)) {
            q32FileSizeToAsciiEx(free, freeText, 2);
            q32FileSizeToAsciiEx(total, totalText, 2);
        }
        char line[400];
        snprintf(line, sizeof line, format, name, volume, freeText, totalText);
        int index = (int)SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
        if (index < 0) continue;
        SendMessageA(list, LB_SETITEMDATA, index, IconCell(type));
        if (selected < 0 && _strnicmp(current, root, strlen(root)) == 0) selected = index;
    }
    SendMessageA(list, LB_SETCURSEL, selected < 0 ? 0 : selected, 0);
    return MakeIcons(page);
}

void DrawDriveLine(const DriveIcons *icons, const DRAWITEMSTRUCT &item)
{
    if (item.itemID == (UINT)-1) return;
    bool chosen = (item.itemState & ODS_SELECTED) != 0;
    RECT r = item.rcItem;
    FillRect(item.hDC, &r, GetSysColorBrush(chosen ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const TintedBitmap *tinted = icons ? &icons->tinted[chosen ? 1 : 0] : nullptr;
    if (tinted && tinted->dc)
        BitBlt(item.hDC, r.left + 4, r.top + (r.bottom - r.top - Cell) / 2, Cell, Cell, tinted->dc,
               (int)item.itemData * Cell, 0, SRCCOPY);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &r);
    char text[400] = "";
    if (SendMessageA(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0) < (LRESULT)sizeof text)
        SendMessageA(item.hwndItem, LB_GETTEXT, item.itemID, (LPARAM)text);
    SetTextColor(item.hDC, GetSysColor(chosen ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    SetBkMode(item.hDC, TRANSPARENT);
    RECT textRect = {r.left + 24, r.top + 1, r.right, r.bottom};
    DrawTextA(item.hDC, text, -1, &textRect, DT_SINGLELINE | DT_NOPREFIX);
}

INT_PTR CALLBACK DrivesPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitDrivesPage(page);
    case WM_DRAWITEM:
        DrawDriveLine(IconsOf(page), *(const DRAWITEMSTRUCT *)lParam);
        return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        if (DriveIcons *icons = IconsOf(page))
            for (int i = 0; i < 2; i++) {
                TintedBitmap &tinted = icons->tinted[i];
                if (tinted.dc && tinted.colour != GetSysColor(IconColours[i]))
                    TintBitmap(tinted, DriveBitmap, IconBackground, GetSysColor(IconColours[i]));
            }
        return 0;
    case WM_DESTROY:
        FreeIcons(page);
        return 0;
    }
    return FALSE;
}

INT_PTR CALLBACK SystemPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    char text[260];
    if (GetVersionExA(&version)) {
        snprintf(text, sizeof text, "%lu.%02lu.%02lu", version.dwMajorVersion, version.dwMinorVersion,
                 version.dwBuildNumber & 0xFFFF);
        SetDlgItemTextA(page, 2201, text);
    }
    /* The physical memory of today's machines does not fit in a long: sized as a double. */
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    q32FileSizeToAsciiEx((double)status.ullTotalPhys, text, 1);
    SetDlgItemTextA(page, 2203, text);
    char cpu[256] = "";
    GetCPUName(cpu, sizeof cpu);
    SetDlgItemTextA(page, 2202, cpu);
    return TRUE;
}

INT_PTR CALLBACK DisplayInfoPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    DISP32DEVINFO info = {};
    disp32GetDevInfo(&info);
    char format[260] = "", text[300];
    c32GetString(15203, format, sizeof format);
    snprintf(text, sizeof text, format, (int)info.bitsPerPixel);
    SetDlgItemTextA(page, 2201, text);
    snprintf(text, sizeof text, format, (int)info.planes);
    SetDlgItemTextA(page, 2202, text);
    LoadStringA(ResourceModule, 31241, format, sizeof format);
    snprintf(text, sizeof text, format, (int)info.width, (int)info.height);
    SetDlgItemTextA(page, 2203, text);
    LoadStringA(ResourceModule, 31242, format, sizeof format);
    snprintf(text, sizeof text, format, (int)info.colors);
    SetDlgItemTextA(page, 2204, text);
    return TRUE;
}

INT_PTR CALLBACK PluginPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    SetDlgItemTextA(page, 2201, PluginFolder);
    SetDlgItemInt(page, 2202, (UINT)qfFileGetFileFmtNum(), FALSE);
    return TRUE;
}

void SystemHelp(HWND dialog)
{
    char path[Q32_MAX_NAME] = "", help[2 * Q32_MAX_NAME] = "";
    DWORD n = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (n == 0 || n >= sizeof path) path[0] = 0;
    qfdSplitPathname(path, nullptr, help);
    strcat(help, "prog0.hlp>d");
    q32MyWinHelp(dialog, help, HELP_CONTEXT, 154);
}

INT_PTR CALLBACK SystemHostProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        /* The host, the caller's, is held by the dialog so that two dialogs can coexist. */
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitTabbedHost(dialog, *(TabbedHost *)lParam);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *notice = (const NMHDR *)lParam;
        auto *host = (TabbedHost *)GetWindowLongPtrA(dialog, DWLP_USER);
        if (host && notice->idFrom == TabControlId && notice->code == TCN_SELCHANGE)
            ShowSelectedPage(*host);
        return TRUE;
    }
    case WM_HELP:
        SystemHelp(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        else SystemHelp(dialog);
        return TRUE;
    }
    return FALSE;
}

} // namespace

/******************************************************************
 *      q32ShowSystemInfo  (exported)
 */
extern "C" INT_PTR Q32FILEAPI q32ShowSystemInfo(HWND owner)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    TabbedHost host = {};
    host.owner = owner;
    host.resources = ResourceModule;
    host.currentIndex = LastSystemTab;
    const struct { UINT templateId; DLGPROC procedure; } pages[] = {
        {SystemTemplate, SystemPageProc}, {DrivesTemplate, DrivesPageProc},
        {DisplayTemplate, DisplayInfoPageProc}, {PluginTemplate, PluginPageProc},
    };
    for (const auto &page : pages)
        AddPreferencePage(host, ResourceModule, nullptr, page.templateId, page.procedure);
    INT_PTR result = DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(HostTemplate), owner,
                                     SystemHostProc, (LPARAM)&host);
    LastSystemTab = host.currentIndex;
    return result;
}
