/* Pieces that the open and save dialogs share: the name field, the controls moved out of
   the explorer dialog's child, help and the finder. */
#include "dialogs.h"
#include <commdlg.h>
#include <string.h>

/******************************************************************
 *      NameField / NameFieldEdit
 */
HWND NameField(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, IdNameCombo);
    return combo ? combo : GetDlgItem(dialog, IdNameEdit);
}

namespace {
BOOL CALLBACK FindEdit(HWND window, LPARAM found)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, "Edit"))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}
} // namespace

HWND NameFieldEdit(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, IdNameCombo);
    if (!combo)
        return GetDlgItem(dialog, IdNameEdit);
    HWND edit = GetDlgItem(combo, IdNameComboEdit);
    /* Some systems nest the edit one level deeper, under another identifier. */
    if (!edit)
        EnumChildWindows(combo, FindEdit, (LPARAM)&edit);
    return edit ? edit : combo;
}

bool NameFieldChanged(int id, int code)
{
    return (id == IdNameEdit && code == EN_CHANGE) || (id == IdNameCombo && code == CBN_EDITCHANGE);
}

/******************************************************************
 *      AdoptControl
 */
HWND AdoptControl(HWND dialog, HWND child, int id, HWND after)
{
    HWND control = GetDlgItem(child, id);
    if (!control)
        return after;
    RECT rect;
    GetWindowRect(control, &rect);
    SetParent(control, dialog);
    MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
    SetWindowPos(control, after, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    return control;
}

/******************************************************************
 *      ShowDialogHelp
 */
void ShowDialogHelp(HWND dialog, const OpenHelpInfo *info)
{
    if (!info || !info->helpFile)
        return;
    char path[Q32_MAX_NAME + 2];
    CopyText(path, Q32_MAX_NAME, info->helpFile);
    strcat(path, ">d");
    q32MyWinHelp(dialog, path, 1, info->context);
}

/******************************************************************
 *      RunFinder
 */
typedef int(__cdecl *FindFileEntry)(HINSTANCE, HWND, const char *, const char *, HGLOBAL *,
                                    int, int);

void RunFinder(HWND dialog, const char *pattern, int several)
{
    q32::ModuleHandle finder(Sys.loadLibrary("Q32BROWS.DLL"));
    if (!finder)
        return;
    FindFileEntry find = (FindFileEntry)(void *)GetProcAddress(finder.get(), "qbFindFile");
    if (!find)
        return;
    /* The search starts in the folder the dialog shows (the current one when it cannot
       say). */
    char folder[Q32_MAX_NAME] = "";
    if (SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof folder, (LPARAM)folder) <= 0)
        folder[0] = 0;
    HGLOBAL answer = nullptr;
    find(OwnModule, dialog, pattern, folder[0] ? folder : nullptr, &answer, several, 0);
    if (!answer)
        return;
    {
        q32::Locked<char> text(answer);
        if (text)
            SetWindowTextA(NameField(dialog), text.get());
    }
    GlobalFree(answer);
}

/******************************************************************
 *      KeptErrorSlot
 */
KeptErrorSlot::KeptErrorSlot() : kept_(ReadErrorRecord()) {}

void KeptErrorSlot::RestoreUnlessFailed(int answer) const
{
    if (!answer && CommDlgExtendedError() != 0)
        return;
    RestoreErrorRecord(kept_);
}
