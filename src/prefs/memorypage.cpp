/* The memory page: the imaging base library's work folders and limits. */
#include "prefs.h"
#include "q32base.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include <new>

namespace {

enum {
    SystemFolderText = 2201, DiskSumText = 2202, MemoryText = 2203,
    FolderEdit1 = 2001, DiskEdit = 2004, MemoryEdit = 2005,
    DiskUpDown = 2401, MemoryUpDown = 2402,
    SwitchBox = 2501, UseBox1 = 2502, DiskBox = 2505, MemoryBox = 2506,
    BrowseButton1 = 2601, DriveList = 32221,
    MaxDiskSum = 32767, VolumeCompressed = 0x8000,
};

typedef int(__cdecl *FindFileEntry)(HINSTANCE, HWND, const char *, const char *, HGLOBAL *,
                                    int, int);

/* One memory page's state, held by the page (DWLP_USER) from WM_INITDIALOG to
   WM_DESTROY, so that two pages can coexist. */
struct MemoryState {
    B32VMBLOCK vm = {};
    B32MEMBLOCK mem = {};
    int freeSumMb = 0, physicalMb = 0;
    bool changed = false;
    HMODULE browserModule = nullptr;
    FindFileEntry findFile = nullptr;
};

MemoryState *StateOf(HWND page) { return (MemoryState *)GetWindowLongPtrA(page, DWLP_USER); }

void LoadFolderBrowser(MemoryState &state)
{
    if (state.browserModule) return;
    state.browserModule = Sys.loadLibrary("Q32BROWS.DLL");
    if (!state.browserModule) return;
    state.findFile = (FindFileEntry)(void *)GetProcAddress(state.browserModule, "qbFindFile");
    if (!state.findFile) {
        FreeLibrary(state.browserModule);
        state.browserModule = nullptr;
    }
}

void UnloadFolderBrowser(MemoryState &state)
{
    if (state.browserModule) FreeLibrary(state.browserModule);
    state.browserModule = nullptr;
    state.findFile = nullptr;
}

bool IsChecked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
void Check(HWND page, int id, bool on) { CheckDlgButton(page, id, on ? BST_CHECKED : BST_UNCHECKED); }

void GetString(UINT id, char *buffer) { c32GetString(id, buffer, 16); }

/* Loads a resource-module string and formats it with one argument. */
void FormatResource(UINT id, char *out, size_t size, int argument)
{
    char format[256] = "";
    LoadStringA(ResourceModule, id, format, sizeof format);
    snprintf(out, size, format, argument);
}

/* Writes the settings into the module's ini file as well. */
void WriteIni(const B32VMBLOCK &vm, const B32MEMBLOCK &mem)
{
    char section[16], key[24], value[16];
    GetString(10001, section);
    for (int i = 0; i < 3; i++) {
        snprintf(key, sizeof key, "%s%d", section, i + 1);
        char folder[260];
        CopyText(folder, sizeof folder, vm.folders[i]);
        WritePrivateProfileStringA(section, key, folder, SuiteIniPath);
    }
    const DWORD flags[] = {vm.useSystemFolder, vm.useFolder[0], vm.useFolder[1], vm.useFolder[2],
                           mem.useDiskLimit, mem.useMemoryLimit};
    for (int i = 0; i < 6; i++) {
        GetString(10002 + i, key);
        WritePrivateProfileStringA(section, key, flags[i] ? "1" : "0", SuiteIniPath);
    }
    const LONG limits[] = {mem.diskLimit, mem.memoryLimit};
    for (int i = 0; i < 2; i++) {
        GetString(10008 + i, key);
        if (limits[i] == -1) CopyText(value, sizeof value, "-1");
        else snprintf(value, sizeof value, "%lu", (unsigned long)((DWORD)limits[i] / 1024));
        WritePrivateProfileStringA(section, key, value, SuiteIniPath);
    }
}

void SaveMemorySettings(B32VMBLOCK *vm, B32MEMBLOCK *mem)
{
    buf32VMData(1, mem, &mem->diskLimit, vm, &mem->useMemoryLimit, &mem->useDiskLimit);
    WriteIni(*vm, *mem);
}

void InitPage(HWND page)
{
    MemoryState *created = new (std::nothrow) MemoryState;
    if (!created) return;
    SetWindowLongPtrA(page, DWLP_USER, (LONG_PTR)created);
    MemoryState &state = *created;
    int &freeSumMb = state.freeSumMb, &physicalMb = state.physicalMb;
    GetMemoryData(&state.vm, &state.mem);
    SetDlgItemTextA(page, SystemFolderText, state.vm.systemFolder);
    for (int i = 0; i < 3; i++) SetDlgItemTextA(page, FolderEdit1 + i, state.vm.folders[i]);

    char drives[260] = "";
    DWORD n = GetLogicalDriveStringsA(sizeof drives, drives);
    if (n >= sizeof drives) n = 0;
    long long sum = 0;
    for (const char *drive = drives; n && *drive; drive += strlen(drive) + 1) {
        if (GetDriveTypeA(drive) != DRIVE_FIXED) continue;
        DWORD fsFlags = 0;
        if (GetVolumeInformationA(drive, nullptr, 0, nullptr, nullptr, &fsFlags, nullptr, 0) &&
            (fsFlags & VolumeCompressed))
            continue;
        char name[8];
        CopyText(name, sizeof name, drive);
        CharUpperA(name);
        long long mb = (long long)(qfdGetDiskFreeSpace(name) * (1.0 / 1048576.0));
        sum += mb;
        char line[64], freeText[48];
        FormatResource(31308, freeText, sizeof freeText, (int)(mb > 0x7FFFFFFF ? 0x7FFFFFFF : mb));
        snprintf(line, sizeof line, "%s%s", name, freeText);
        SendDlgItemMessageA(page, DriveList, CB_ADDSTRING, 0, (LPARAM)line);
    }
    freeSumMb = sum > MaxDiskSum ? (int)MaxDiskSum : (int)sum;
    SendDlgItemMessageA(page, DriveList, CB_SETCURSEL, 0, 0);

    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    physicalMb = (int)(status.dwTotalPhys >> 20);

    int disk = LimitToMegabytes(state.mem.diskLimit, freeSumMb);
    int memory = LimitToMegabytes(state.mem.memoryLimit, physicalMb);
    SetDlgItemInt(page, DiskEdit, (UINT)disk, TRUE);
    SetDlgItemInt(page, MemoryEdit, (UINT)memory, TRUE);
    SendDlgItemMessageA(page, DiskUpDown, UDM_SETRANGE32, 0, freeSumMb);
    SendDlgItemMessageA(page, DiskUpDown, UDM_SETPOS32, 0, disk);
    SendDlgItemMessageA(page, MemoryUpDown, UDM_SETRANGE32, 0, physicalMb);
    SendDlgItemMessageA(page, MemoryUpDown, UDM_SETPOS32, 0, memory);

    char text[128];
    FormatResource(31214, text, sizeof text, freeSumMb);
    SetDlgItemTextA(page, DiskSumText, text);
    FormatResource(31215, text, sizeof text, physicalMb);
    SetDlgItemTextA(page, MemoryText, text);

    Check(page, SwitchBox, state.vm.useSystemFolder != 0);
    for (int i = 0; i < 3; i++) Check(page, UseBox1 + i, state.vm.useFolder[i] != 0);
    Check(page, DiskBox, state.mem.useDiskLimit != 0);
    Check(page, MemoryBox, state.mem.useMemoryLimit != 0);
    state.changed = false;
    LoadFolderBrowser(state);
}

/* The reason a work folder cannot be used (a resource-module string), or 0. */
UINT FolderFault(const char *folder)
{
    if (DriveKindOfPath(folder) != DRIVE_FIXED) return 31404;
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 31403;
    char root[4] = {folder[0], ':', '\\', 0};
    DWORD fsFlags = 0;
    if (GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &fsFlags, nullptr, 0) &&
        (fsFlags & VolumeCompressed))
        return 31408;
    return 0;
}

int Validate(HWND page, const MemoryState &state)
{
    if (!state.changed) return 0;
    const int freeSumMb = state.freeSumMb, physicalMb = state.physicalMb;
    for (int i = 0; i < 3; i++) {
        char folder[260] = "";
        GetDlgItemTextA(page, FolderEdit1 + i, folder, sizeof folder);
        bool on = IsChecked(page, UseBox1 + i);
        if (!folder[0] && !on) continue;
        UINT fault = FolderFault(folder);
        if (!fault) continue;
        char format[256] = "";
        LoadStringA(ResourceModule, fault, format, sizeof format);
        if (on && format[0]) {
            char text[600];
            snprintf(text, sizeof text, format, folder);
            ShowError(nullptr, ErrNotWorkFolder, UnitMemoryPage.At(460), 0, text);
            return FolderEdit1 + i;
        }
        if (on) Check(page, UseBox1 + i, false);
        else SetDlgItemTextA(page, FolderEdit1 + i, "");
    }

    BOOL ok = FALSE;
    int disk = (int)GetDlgItemInt(page, DiskEdit, &ok, TRUE);
    int diskBound = freeSumMb < MaxLimitMb ? freeSumMb : MaxLimitMb;
    if (!ok || disk < 0 || (disk > diskBound && disk != freeSumMb)) {
        char text[256];
        FormatResource(31401, text, sizeof text, diskBound);
        ShowError(ResourceModule, TextEntryRefused, UnitMemoryPage.At(511), 0, text);
        return DiskEdit;
    }
    int memory = (int)GetDlgItemInt(page, MemoryEdit, &ok, TRUE);
    int memoryBound = physicalMb < MaxLimitMb ? physicalMb : MaxLimitMb;
    if (!ok || memory < 0 || (memory > memoryBound && memory != physicalMb)) {
        char text[256];
        FormatResource(31400, text, sizeof text, memoryBound);
        ShowError(ResourceModule, TextEntryRefused, UnitMemoryPage.At(520), 0, text);
        return MemoryEdit;
    }
    if (!IsChecked(page, DiskBox)) disk = freeSumMb;
    if (!IsChecked(page, MemoryBox)) memory = physicalMb;
    if ((long long)disk + memory < 2) {
        char text[256] = "";
        LoadStringA(ResourceModule, 31409, text, sizeof text);
        ShowError(ResourceModule, TextEntryRefused, UnitMemoryPage.At(475), 0, text);
        return MemoryEdit;
    }
    bool any = false;
    for (int id = SwitchBox; id <= SwitchBox + 3; id++) any |= IsChecked(page, id);
    if (!any) {
        ShowError(ResourceModule, TextNoBufferOption, UnitMemoryPage.At(429), 0, nullptr);
        return SwitchBox;
    }
    return 0;
}

void Apply(HWND page, MemoryState &state)
{
    if (!state.changed) return;
    B32VMBLOCK &vm = state.vm;
    B32MEMBLOCK &mem = state.mem;
    for (int i = 0; i < 3; i++)
        GetDlgItemTextA(page, FolderEdit1 + i, vm.folders[i], sizeof vm.folders[i]);
    vm.useSystemFolder = IsChecked(page, SwitchBox);
    for (int i = 0; i < 3; i++) vm.useFolder[i] = IsChecked(page, UseBox1 + i);
    mem.useDiskLimit = IsChecked(page, DiskBox);
    mem.useMemoryLimit = IsChecked(page, MemoryBox);
    mem.diskLimit = LimitToBytes((int)GetDlgItemInt(page, DiskEdit, nullptr, TRUE), state.freeSumMb);
    mem.memoryLimit =
        LimitToBytes((int)GetDlgItemInt(page, MemoryEdit, nullptr, TRUE), state.physicalMb);
    SaveMemorySettings(&vm, &mem);
    state.changed = false;
    PreferenceResultFlags |= ResultMemory;
}

void Browse(HWND page, const MemoryState &state, int index)
{
    if (!state.findFile) return;
    char start[260] = "";
    GetDlgItemTextA(page, FolderEdit1 + index, start, sizeof start);
    HGLOBAL result = nullptr;
    if ((short)state.findFile(OwnModule, GetParent(page), start, nullptr, &result, 0, 1) > 0 &&
        result) {
        if (const char *folder = (const char *)GlobalLock(result)) {
            SetDlgItemTextA(page, FolderEdit1 + index, folder);
            GlobalUnlock(result);
        }
        Check(page, UseBox1 + index, true);
        GlobalFree(result);
    }
}

} // namespace

/******************************************************************
 *      DriveKindOfPath
 *
 * The drive type of the drive a path starts on: DRIVE_REMOTE for "\\...", 1 for a bare
 * "X:", 0 when it names no drive.
 */
int DriveKindOfPath(const char *path)
{
    if (!path) return 0;
    if (path[0] == '\\' && path[1] == '\\') return DRIVE_REMOTE;
    if (!path[0] || path[1] != ':') return 0;
    if (path[2] == '\\') {
        char root[4] = {path[0], ':', '\\', 0};
        return (int)GetDriveTypeA(root);
    }
    return path[2] == 0 ? 1 : 0;
}

/******************************************************************
 *      LimitToBytes
 *
 * The default (defaultMegabytes) is stored as -1. The 32-bit byte field is read without
 * sign, so it holds up to MaxLimitMb (4095) MB exactly; the page refuses more, and what
 * cannot be represented at all is stored as the default.
 */
LONG LimitToBytes(int megabytes, int defaultMegabytes)
{
    if (megabytes == defaultMegabytes || megabytes < 0 || megabytes > MaxLimitMb)
        return -1;
    return (LONG)((DWORD)megabytes << 20);
}

/******************************************************************
 *      LimitToMegabytes
 */
int LimitToMegabytes(LONG bytes, int defaultMegabytes)
{
    return bytes == -1 ? defaultMegabytes : (int)((DWORD)bytes >> 20);
}

/******************************************************************
 *      GetMemoryData  (exported)
 */
extern "C" int Q32FILEAPI GetMemoryData(B32VMBLOCK *vmBlock, B32MEMBLOCK *memBlock)
{
    if (!memBlock) return 0;
    return buf32VMData(0, memBlock, &memBlock->diskLimit, vmBlock, &memBlock->useMemoryLimit,
                       &memBlock->useDiskLimit);
}

/******************************************************************
 *      MemoryPageProc
 */
INT_PTR CALLBACK MemoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitPage(page);
        return FALSE;
    }
    MemoryState *state = StateOf(page);
    if (!state)
        return IsPageCommand(message, wParam) ? PageAnswer(page, LOWORD(wParam) != PageValidate)
                                              : FALSE;
    if (message == WM_DESTROY) {
        UnloadFolderBrowser(*state);
        SetWindowLongPtrA(page, DWLP_USER, 0);
        delete state;
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam), code = HIWORD(wParam);
    switch (id) {
    case PageValidate: return PageAnswer(page, Validate(page, *state));
    case PageApply:
        Apply(page, *state);
        UnloadFolderBrowser(*state);
        return PageAnswer(page, 1);
    case PageCancel:
        UnloadFolderBrowser(*state);
        return PageAnswer(page, 1);
    case FolderEdit1: case FolderEdit1 + 1: case FolderEdit1 + 2:
        if (code == EN_UPDATE) {
            Check(page, UseBox1 + (id - FolderEdit1), GetWindowTextLengthA(GetDlgItem(page, id)) > 0);
            state->changed = true;
        }
        return TRUE;
    case DiskEdit: case MemoryEdit:
        if (code == EN_UPDATE) {
            Check(page, id == DiskEdit ? DiskBox : MemoryBox, true);
            state->changed = true;
        }
        return TRUE;
    case SwitchBox: case DiskBox: case MemoryBox:
        if (code == BN_CLICKED) state->changed = true;
        return TRUE;
    case UseBox1: case UseBox1 + 1: case UseBox1 + 2:
        if (code == BN_CLICKED) {
            if (IsChecked(page, id) &&
                GetWindowTextLengthA(GetDlgItem(page, FolderEdit1 + (id - UseBox1))) == 0)
                Check(page, id, false);
            else
                state->changed = true;
        }
        return TRUE;
    case BrowseButton1: case BrowseButton1 + 1: case BrowseButton1 + 2:
        if (code == BN_CLICKED) Browse(page, *state, id - BrowseButton1);
        return TRUE;
    }
    return FALSE;
}
