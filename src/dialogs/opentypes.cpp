/* The open dialog's type list and name field: the filter entries' patterns and formats,
   the Options button of the current type, and the name that the panel describes. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include "q32fio.h"
#include <mbstring.h>
#include <string.h>

namespace {

/* Next extension of a pattern list: skips blanks, '*', '.' and ';', cuts the text after
   the token. Null at the end. */
char *NextPatternToken(char *text)
{
    while (*text && strchr(" *.;", *text))
        text++;
    if (!*text)
        return nullptr;
    char *end = text;
    while (*end && !strchr(" *.;", *end))
        end++;
    if (*end)
        *end = 0;
    return text;
}

/* The format the caller's filter entry names: the first extension's, -1 when a later
   extension names another one. */
int FormatOfPattern(const char *pattern)
{
    char copy[Q32_MAX_NAME];
    CopyText(copy, sizeof copy, pattern ? pattern : "");
    int format = 0;
    bool first = true;
    for (char *p = copy, *token; (token = NextPatternToken(p)) != nullptr;
         p = token + strlen(token) + 1) {
        int id = q32FileGetFormatID(token, nullptr);
        if (first)
            format = id;
        else if (id != -1 && id != format)
            return -1;
        first = false;
        if (p + (token - p) + strlen(token) >= copy + strlen(pattern ? pattern : ""))
            break;
    }
    return format;
}

int TypeListDropWidth(HWND list)
{
    if (!list)
        return 320;
    HDC dc = GetDC(list);
    HGDIOBJ font = SelectObject(dc, (HFONT)SendMessageA(list, WM_GETFONT, 0, 0));
    int widest = 0;
    int count = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[1000];
        if (SendMessageA(list, CB_GETLBTEXTLEN, i, 0) >= (LRESULT)sizeof text)
            continue;
        SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
        SIZE size = {};
        GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
        if (size.cx > widest)
            widest = size.cx;
    }
    SelectObject(dc, font);
    ReleaseDC(list, dc);
    if (widest)
        return widest + GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE);
    LRESULT dropped = SendMessageA(list, CB_GETDROPPEDWIDTH, 0, 0);
    return dropped > 0 ? (int)dropped : 320;
}

} // namespace

/******************************************************************
 *      EnableFormatButton
 */
void EnableFormatButton(HWND dialog, int format, int forOpen, int control)
{
    DWORD flag = 0;
    /* A position past the formats (a special entry) names no format: nothing is asked. */
    if (format > 0 && format <= qfFileGetFileFmtNum()) {
        HGLOBAL block = qfFileGetFormatInfo(format);
        if (block) {
            {
                q32::Locked<FormatInfo> info(block);
                if (info)
                    flag = forOpen == 1 ? info->openOptions : info->saveOptions;
            }
            GlobalFree(block);
        }
    }
    EnableWindow(GetDlgItem(dialog, control), flag != 0);
}

void SetUpTypeList(HWND dialog, const OpenDialogContext &context)
{
    EnableWindow(GetDlgItem(dialog, IdOptionsButton), FALSE);
    EnableFormatButton(dialog, context.typeIndex, 1, IdOptionsButton);
    HWND types = GetDlgItem(dialog, IdTypeList);
    if (types)
        SendMessageA(types, CB_SETDROPPEDWIDTH, TypeListDropWidth(types), 0);
}

const char *EntryPattern(const OpenDialogContext &context, int index)
{
    if (!context.callerFilter)
        return (const char *)FilterAction(context.list, FILTER_PATTERN, (DWORD)index);
    const char *p = context.ofn ? context.ofn->lpstrFilter : nullptr;
    for (int i = 0; p && *p; i++) {
        p += strlen(p) + 1;           /* description */
        if (i == index)
            return p;
        p += strlen(p) + 1;           /* pattern */
    }
    return nullptr;
}

void OnTypeChange(HWND dialog, OpenDialogContext &context)
{
    int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
    if (selection < 0)
        return;
    char typed[30] = "";
    GetWindowTextA(NameField(dialog), typed, sizeof typed);
    const char *pattern = EntryPattern(context, selection);
    if ((!typed[0] || typed[0] == '*') && pattern) {
        char lower[Q32_MAX_NAME];
        CopyText(lower, sizeof lower, pattern);
        CharLowerA(lower);
        SetWindowTextA(NameField(dialog), lower);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    }
    if (selection == 0)
        EnableWindow(GetDlgItem(dialog, IdOptionsButton), FALSE);
    if (!context.callerFilter) {
        if (selection != context.typeIndex) {
            context.typeIndex = selection;
            EnableFormatButton(dialog, selection, 1, IdOptionsButton);
        }
        return;
    }
    context.typeIndex = selection;
    EnableFormatButton(dialog, FormatOfPattern(EntryPattern(context, selection)), 1,
                       IdOptionsButton);
}

void OnFolderChange(HWND dialog, OpenDialogContext &context)
{
    context.folderChanged = true;
    int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
    if (selection >= 0 && selection != context.typeIndex) {
        context.typeIndex = selection;
        EnableFormatButton(dialog, selection, 1, IdOptionsButton);
    }
}

void OnNameChange(HWND dialog, OpenDialogContext &context)
{
    char name[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), name, sizeof name);
    if (!GetDlgItem(dialog, IdNameCombo))
        qfdRemoveBlanks(name);
    OpenPanel &panel = context.panel;
    if (!strcmp(name, panel.lastName))
        return;
    CopyText(panel.lastName, sizeof panel.lastName, name);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    if (name[0])
        UpdatePanel(dialog, panel, name);
}

void OnSelectionChange(HWND dialog, OpenDialogContext &context)
{
    OpenPanel &panel = context.panel;
    if (context.folderChanged) {
        context.folderChanged = false;
        panel.lastName[0] = 0;
    }
    char name[Q32_MAX_NAME] = "";
    if (SendMessageA(dialog, CDM_GETSPEC, sizeof name, (LPARAM)name) <= 0)
        return;
    /* The full name when one file is selected: the panel must not depend on the
       current folder. */
    char full[Q32_MAX_NAME] = "";
    if (name[0] != '"' && SendMessageA(dialog, CDM_GETFILEPATH, sizeof full, (LPARAM)full) > 0)
        CopyText(name, sizeof name, full);
    if (!_mbsicmp((const unsigned char *)name, (const unsigned char *)panel.lastName))
        return;
    CopyText(panel.lastName, sizeof panel.lastName, name);
    UpdatePanel(dialog, panel, name);
}

void OnOptions(HWND dialog, OpenDialogContext &context)
{
    int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
    if (selection <= 0)
        return;
    int format = selection;
    if (context.callerFilter) {
        char text[30] = "";
        GetDlgItemTextA(dialog, IdTypeList, text, sizeof text);
        text[3] = 0;
        format = q32FileGetFormatID(text, nullptr);
    }
    /* The option dialog of one format reads this dialog's selection from the module's
       globals. */
    OpenPanel &panel = context.panel;
    PanelFileData = panel.fileData;
    CopyText(LastSelectedName, sizeof LastSelectedName, panel.lastName);
    INT_PTR answer = qfFileShowDlgOpenOption((LONG_PTR)OwnModule, (LONG_PTR)dialog, format, 1005);
    PanelFileData = nullptr;
    LastSelectedName[0] = 0;
    if (answer == 1) {
        DropPanelFileData(panel);
        UpdatePanel(dialog, panel, panel.lastName);
    }
}
