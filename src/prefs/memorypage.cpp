/* The memory page: the imaging base library's work folders and limits. */
#include "prefs.h"
#include "q32base.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>

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

/* Page state: one memory page at a time. */
B32VMBLOCK VmBlock;
B32MEMBLOCK MemBlock;
int FreeSumMb, PhysicalMb;
bool Changed;
HMODULE BrowserModule;
FindFileEntry FindFile;

void LoadFolderBrowser()
{
    if (BrowserModule) return;
    BrowserModule = LoadLibraryA("Q32BROWS.DLL");
    if (!BrowserModule) return;
    FindFile = (FindFileEntry)(void *)GetProcAddress(BrowserModule, "qbFindFile");
    if (!FindFile) {
        FreeLibrary(BrowserModule);
        BrowserModule = nullptr;
    }
}

void UnloadFolderBrowser()
{
    if (BrowserModule) FreeLibrary(BrowserModule);
    BrowserModule = nullptr;
    FindFile = nullptr;
}

int BrowseFolder(HINSTANCE instance, HWND parent, const char *startFolder, HGLOBAL *result)
{
    if (!FindFile) return 0;
    return (short)FindFile(instance, parent, startFolder, nullptr, result, 0, 1);
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
    GetMemoryData(&VmBlock, &MemBlock);
    SetDlgItemTextA(page, SystemFolderText, VmBlock.systemFolder);
    for (int i = 0; i < 3; i++) SetDlgItemTextA(page, FolderEdit1 + i, VmBlock.folders[i]);

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
    FreeSumMb = sum > MaxDiskSum ? (int)MaxDiskSum : (int)sum;
    SendDlgItemMessageA(page, DriveList, CB_SETCURSEL, 0, 0);

    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    PhysicalMb = (int)(status.dwTotalPhys >> 20);

    int disk = LimitToMegabytes(MemBlock.diskLimit, FreeSumMb);
    int memory = LimitToMegabytes(MemBlock.memoryLimit, PhysicalMb);
    SetDlgItemInt(page, DiskEdit, (UINT)disk, TRUE);
    SetDlgItemInt(page, MemoryEdit, (UINT)memory, TRUE);
    SendDlgItemMessageA(page, DiskUpDown, UDM_SETRANGE32, 0, FreeSumMb);
    SendDlgItemMessageA(page, DiskUpDown, UDM_SETPOS32, 0, disk);
    SendDlgItemMessageA(page, MemoryUpDown, UDM_SETRANGE32, 0, PhysicalMb);
    SendDlgItemMessageA(page, MemoryUpDown, UDM_SETPOS32, 0, memory);

    char text[128];
    FormatResource(31214, text, sizeof text, FreeSumMb);
    SetDlgItemTextA(page, DiskSumText, text);
    FormatResource(31215, text, sizeof text, PhysicalMb);
    SetDlgItemTextA(page, MemoryText, text);

    Check(page, SwitchBox, VmBlock.useSystemFolder != 0);
    for (int i = 0; i < 3; i++) Check(page, UseBox1 + i, VmBlock.useFolder[i] != 0);
    Check(page, DiskBox, MemBlock.useDiskLimit != 0);
    Check(page, MemoryBox, MemBlock.useMemoryLimit != 0);
    Changed = false;
    LoadFolderBrowser();
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

int Validate(HWND page)
{
    if (!Changed) return 0;
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
    int diskBound = FreeSumMb < MaxLimitMb ? FreeSumMb : MaxLimitMb;
    if (!ok || disk < 0 || (disk > diskBound && disk != FreeSumMb)) {
        char text[256];
        FormatResource(31401, text, sizeof text, diskBound);
        ShowError(ResourceModule, TextEntryRefused, UnitMemoryPage.At(511), 0, text);
        return DiskEdit;
    }
    int memory = (int)GetDlgItemInt(page, MemoryEdit, &ok, TRUE);
    int memoryBound = PhysicalMb < MaxLimitMb ? PhysicalMb : MaxLimitMb;
    if (!ok || memory < 0 || (memory > memoryBound && memory != PhysicalMb)) {
        char text[256];
        FormatResource(31400, text, sizeof text, memoryBound);
        ShowError(ResourceModule, TextEntryRefused, UnitMemoryPage.At(520), 0, text);
        return MemoryEdit;
    }
    if (!IsChecked(page, DiskBox)) disk = FreeSumMb;
    if (!IsChecked(page, MemoryBox)) memory = PhysicalMb;
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

void Apply(HWND page)
{
    if (!Changed) return;
    for (int i = 0; i < 3; i++)
        GetDlgItemTextA(page, FolderEdit1 + i, VmBlock.folders[i], sizeof VmBlock.folders[i]);
    VmBlock.useSystemFolder = IsChecked(page, SwitchBox);
    for (int i = 0; i < 3; i++) VmBlock.useFolder[i] = IsChecked(page, UseBox1 + i);
    MemBlock.useDiskLimit = IsChecked(page, DiskBox);
    MemBlock.useMemoryLimit = IsChecked(page, MemoryBox);
    MemBlock.diskLimit = LimitToBytes((int)GetDlgItemInt(page, DiskEdit, nullptr, TRUE), FreeSumMb);
    MemBlock.memoryLimit = LimitToBytes((int)GetDlgItemInt(page, MemoryEdit, nullptr, TRUE), PhysicalMb);
    SaveMemorySettings(&VmBlock, &MemBlock);
    Changed = false;
    PreferenceResultFlags |= ResultMemory;
}

void Browse(HWND page, int index)
{
    char start[260] = "";
    GetDlgItemTextA(page, FolderEdit1 + index, start, sizeof start);
    HGLOBAL result = nullptr;
    if (BrowseFolder(OwnModule, GetParent(page), start, &result) > 0 && result) {
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
    if (message != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam), code = HIWORD(wParam);
    switch (id) {
    case PageValidate: return PageAnswer(page, Validate(page));
    case PageApply:
        Apply(page);
        UnloadFolderBrowser();
        return PageAnswer(page, 1);
    case PageCancel:
        UnloadFolderBrowser();
        return PageAnswer(page, 1);
    case FolderEdit1: case FolderEdit1 + 1: case FolderEdit1 + 2:
        if (code == EN_UPDATE) {
            Check(page, UseBox1 + (id - FolderEdit1), GetWindowTextLengthA(GetDlgItem(page, id)) > 0);
            Changed = true;
        }
        return TRUE;
    case DiskEdit: case MemoryEdit:
        if (code == EN_UPDATE) {
            Check(page, id == DiskEdit ? DiskBox : MemoryBox, true);
            Changed = true;
        }
        return TRUE;
    case SwitchBox: case DiskBox: case MemoryBox:
        if (code == BN_CLICKED) Changed = true;
        return TRUE;
    case UseBox1: case UseBox1 + 1: case UseBox1 + 2:
        if (code == BN_CLICKED) {
            if (IsChecked(page, id) &&
                GetWindowTextLengthA(GetDlgItem(page, FolderEdit1 + (id - UseBox1))) == 0)
                Check(page, id, false);
            else
                Changed = true;
        }
        return TRUE;
    case BrowseButton1: case BrowseButton1 + 1: case BrowseButton1 + 2:
        if (code == BN_CLICKED) Browse(page, id - BrowseButton1);
        return TRUE;
    }
    return FALSE;
}
