/* The extension dialogs: the list of the formats' user extensions (written to section
   FIO_EXT at once) and the entry dialog that adds or edits one pair. */
#include "assoc.h"
#include "../registry/registry.h"
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

enum {
    PairList = 32241, AddButton = 2601, RemoveButton = 2602, EditButton = 2603, HelpButton = 9,
    ExtensionEdit = 2001, FormatCombo = 32221,
    AddCaption = 31260, EditCaption = 31261, UsedByFormat = 31262, IsFormatCode = 31263,
    ErrorHead = 3200, ErrorUnit = 1712,
};

const char Section[] = "FIO_EXT";

/* The dialogs' state: one list dialog at a time in the process. */
const AssociationPageParam *DlgParam;
HGLOBAL Backup;
ExtensionEntryRequest *Request;
char StartExtension[8], StartCode[8];

/* Key code + suffix of section FIO_EXT into a 260-byte value; its length. */
DWORD ReadListKey(const char *code, const char *suffix, char *value)
{
    char key[16];
    wnsprintfA(key, sizeof key, "%s%s", code, suffix);
    return GetPrivateProfileStringA(Section, key, nullptr, value, Q32_MAX_NAME, SuiteIniPath);
}

BOOL WriteUserList(const char *code, const char *list)
{
    char key[16];
    wnsprintfA(key, sizeof key, "%s%s", code, "_USER");
    return WritePrivateProfileStringA(Section, key, list, SuiteIniPath);
}

std::string ItemText(HWND list, int index)
{
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) return std::string();
    std::string text((size_t)length + 1, '\0');
    SendMessageA(list, LB_GETTEXT, index, (LPARAM)&text[0]);
    text.resize(strlen(text.c_str()));
    return text;
}

void ItemPair(HWND list, int index, char *extension, char *code)
{
    SplitPairItem(ItemText(list, index).c_str(), extension, 8, code, 8);
}

/* Help of one of the page parameter's blocks; a beep without a parameter. */
void ShowBlockHelp(HWND dialog, int block)
{
    if (!DlgParam) {
        MessageBeep(0);
        return;
    }
    const PreferenceAppInfo &help = DlgParam->help[block];
    char file[Q32_MAX_NAME];
    CopyText(file, sizeof file, help.helpFile);
    if (!strchr(file, '>') && strlen(file) + 2 < sizeof file) strcat(file, ">d");
    q32MyWinHelp(dialog, file, HELP_CONTEXT, help.helpContextBase);
}

/* Edit only with a selection, Remove only with items. */
void EnableListButtons(HWND dialog)
{
    HWND list = GetDlgItem(dialog, PairList);
    EnableWindow(GetDlgItem(dialog, EditButton), SendMessageA(list, LB_GETCURSEL, 0, 0) != LB_ERR);
    EnableWindow(GetDlgItem(dialog, RemoveButton), SendMessageA(list, LB_GETCOUNT, 0, 0) > 0);
}

/* Backs up every format's user list and lists its pairs. */
void InitListDialog(HWND dialog, const AssociationPageParam *param)
{
    DlgParam = param;
    HWND list = GetDlgItem(dialog, PairList);
    int count = qfFileGetFileFmtNum();
    Backup = Sys.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                             (SIZE_T)(count > 0 ? count : 1) * sizeof(UserListBackup));
    if (!Backup) {
        RecordError(nullptr, ErrorUnit, 4, 1, 1004);
    } else {
        q32::Locked<UserListBackup> records(Backup);
        for (int format = 1; records && format <= count; format++) {
            q32::GlobalHandle block(qfFileGetFormatInfo(format));
            q32::Locked<FormatInfo> info(block.get());
            if (!info) break;
            UserListBackup &record = records.get()[format - 1];
            CopyText(record.code, sizeof record.code, info->code);
            CharUpperA(record.code);
            char userList[Q32_FORMAT_EXT_SIZE];
            if (!qfFileGetFormatExt(format, userList, 3)) break;
            if (!userList[0]) continue;
            CopyText(record.userList, sizeof record.userList, userList);
            const char *cursor = userList;
            size_t length;
            while (const char *token = NextToken(&cursor, ";", &length)) {
                std::string extension(token, length);
                CharUpperA(&extension[0]);
                char line[Q32_MAX_NAME];
                snprintf(line, sizeof line, "%s =%s", extension.c_str(), record.code);
                SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
            }
        }
    }
    if (SendMessageA(list, LB_GETCOUNT, 0, 0) > 0) SendMessageA(list, LB_SETCURSEL, 0, 0);
    EnableListButtons(dialog);
    SetFocus(GetDlgItem(dialog, AddButton));
}

INT_PTR CALLBACK ExtensionEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* Add or Edit: runs the entry dialog and puts its pair into the list and the ini file. */
void EnterPair(HWND dialog, WORD command)
{
    HWND list = GetDlgItem(dialog, PairList);
    ExtensionEntryRequest request = {};
    request.command = command;
    request.pageParam = DlgParam;
    int selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (command == EditButton) {
        if (selected == LB_ERR) return;
        CopyText(request.itemText, sizeof request.itemText, ItemText(list, selected).c_str());
    }
    Request = &request;
    INT_PTR ended = DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(ExtensionEntryTemplate),
                                    dialog, ExtensionEntryProc, (LPARAM)&request);
    Request = nullptr;
    if (ended > 0 && (request.extensionChanged || request.formatChanged)) {
        char line[32];
        snprintf(line, sizeof line, "%s=%s", request.extension, request.code);
        CharUpperA(line);
        int position;
        if (command == EditButton) {
            RemoveExtensionItem(list, selected);
            position = request.formatChanged ? FindFirstItemOfFormat(list, request.code) : selected;
        } else {
            position = FindFirstItemOfFormat(list, request.code);
        }
        int index = (int)SendMessageA(list, LB_INSERTSTRING, position, (LPARAM)line);
        SendMessageA(list, LB_SETCURSEL, index, 0);
        StoreListedExtensions(list);
        ReloadUserExtensions();
    }
    EnableListButtons(dialog);
}

/* Rebuilds the cached filter lists that exist, so that the open dialogs see the change. */
void RebuildCachedFilterLists()
{
    const DWORD flags[2] = {FILTER_ALL_FORMATS, FILTER_ALL_FORMATS | FILTER_ALL_FILES};
    for (int i = 0; i < 2; i++) {
        if (!CachedFilterLists[i]) continue;
        FilterAction(CachedFilterLists[i], FILTER_FREE, 0);
        CachedFilterLists[i] = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, flags[i]);
    }
}

void FreeBackup()
{
    if (Backup) GlobalFree(Backup);
    Backup = nullptr;
}

BOOL InitEntryDialog(HWND dialog, ExtensionEntryRequest *request)
{
    SendDlgItemMessageA(dialog, ExtensionEdit, EM_LIMITTEXT, 4, 0);
    Request = request;
    DlgParam = request->pageParam;
    bool editing = request->command == EditButton;
    StartExtension[0] = StartCode[0] = 0;
    char caption[128] = "";
    LoadStringA(ResourceModule, editing ? EditCaption : AddCaption, caption, sizeof caption);
    SetWindowTextA(dialog, caption);
    if (editing) {
        SplitPairItem(request->itemText, StartExtension, sizeof StartExtension, StartCode,
                      sizeof StartCode);
        SetDlgItemTextA(dialog, ExtensionEdit, StartExtension);
    } else {
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    }

    HWND combo = GetDlgItem(dialog, FormatCombo);
    int chosen = 0, count = qfFileGetFileFmtNum();
    for (int format = 1; format <= count; format++) {
        q32::GlobalHandle block(qfFileGetFormatInfo(format));
        q32::Locked<FormatInfo> info(block.get());
        if (!info) break;
        char code[4], description[sizeof info->description + 1], text[Q32_MAX_NAME];
        CopyText(code, sizeof code, info->code);
        CharUpperA(code);
        CopyText(description, sizeof description, info->description);
        snprintf(text, sizeof text, "%s (%s)", code, description);
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
        if (editing && lstrcmpiA(code, StartCode) == 0) chosen = format - 1;
    }
    SendMessageA(combo, CB_SETCURSEL, chosen, 0);
    SendMessageA(combo, CB_SETDROPPEDWIDTH, 250, 0);
    return TRUE;
}

/* OK of the entry dialog: false (and the dialog stays) when the extension is refused. */
bool AcceptEntry(HWND dialog)
{
    char extension[8] = "", code[8] = "";
    GetDlgItemTextA(dialog, ExtensionEdit, extension, 5);
    qfdRemoveBlanks(extension);
    GetDlgItemTextA(dialog, FormatCombo, code, 5);
    /* The code ends at its blank: a two-letter code is followed by " (". */
    if (char *blank = strchr(code, ' ')) *blank = 0;
    qfdRemoveBlanks(code);
    if (const char *dot = strrchr(extension, '.')) memmove(extension, dot + 1, strlen(dot));

    HWND field = GetDlgItem(dialog, ExtensionEdit);
    if (!extension[0]) {
        SetFocus(field);
        return false;
    }
    char owner[8] = "";
    if (FindExtensionOwner(extension, owner)) {
        char format[256] = "", text[400];
        if (lstrcmpiA(extension, owner) == 0) {
            LoadStringA(ResourceModule, IsFormatCode, format, sizeof format);
            snprintf(text, sizeof text, format, owner);
        } else {
            LoadStringA(ResourceModule, UsedByFormat, format, sizeof format);
            snprintf(text, sizeof text, format, extension, owner);
        }
        ShowError(ResourceModule, ErrorHead, LineForm, ErrorUnit, 1, 0, text);
        SetFocus(field);
        return false;
    }
    Request->extensionChanged = lstrcmpiA(extension, StartExtension) != 0;
    Request->formatChanged = lstrcmpiA(code, StartCode) != 0;
    CopyText(Request->extension, sizeof Request->extension, extension);
    CopyText(Request->code, sizeof Request->code, code);
    return true;
}

/******************************************************************
 *      ExtensionEntryProc
 *
 * The entry dialog (template 32118); its creation value is the list dialog's request.
 */
INT_PTR CALLBACK ExtensionEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitEntryDialog(dialog, (ExtensionEntryRequest *)lParam);
    case WM_HELP:
        ShowBlockHelp(dialog, Request && Request->command == EditButton ? 2 : 1);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ExtensionEdit:
            if (HIWORD(wParam) == EN_CHANGE)
                EnableWindow(GetDlgItem(dialog, IDOK),
                             GetWindowTextLengthA(GetDlgItem(dialog, ExtensionEdit)) > 0);
            return TRUE;
        case IDOK:
            if (AcceptEntry(dialog)) EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case HelpButton:
            ShowBlockHelp(dialog, Request && Request->command == EditButton ? 2 : 1);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

/******************************************************************
 *      ExtensionListProc
 *
 * The extension list dialog (template 32117); its creation value is the association
 * page's parameter or null. Ends with 1 (OK) or 0 (Cancel: the lists as they were).
 */
INT_PTR CALLBACK ExtensionListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitListDialog(dialog, (const AssociationPageParam *)lParam);
        return FALSE;
    case WM_HELP:
        ShowBlockHelp(dialog, 0);
        return TRUE;
    case WM_COMMAND: {
        HWND list = GetDlgItem(dialog, PairList);
        switch (LOWORD(wParam)) {
        case PairList:
            EnableWindow(GetDlgItem(dialog, EditButton),
                         SendMessageA(list, LB_GETCURSEL, 0, 0) != LB_ERR);
            return TRUE;
        case AddButton:
        case EditButton:
            EnterPair(dialog, LOWORD(wParam));
            return TRUE;
        case RemoveButton: {
            int selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
            if (selected != LB_ERR) RemoveExtensionItem(list, selected);
            if (SendMessageA(list, LB_GETCOUNT, 0, 0) > 0) SendMessageA(list, LB_SETCURSEL, 0, 0);
            else SetFocus(GetDlgItem(dialog, IDOK));
            EnableListButtons(dialog);
            return TRUE;
        }
        case IDOK:
            FreeBackup();
            RebuildCachedFilterLists();
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            RestoreUserLists(Backup);
            FreeBackup();
            EndDialog(dialog, 0);
            return TRUE;
        case HelpButton:
            ShowBlockHelp(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

/******************************************************************
 *      SplitPairItem
 */
void SplitPairItem(const char *line, char *extension, size_t extensionSize, char *code,
                   size_t codeSize)
{
    const char *first = strchr(line, '='), *last = strrchr(line, '=');
    std::string head = first ? std::string(line, (size_t)(first - line)) : std::string(line);
    CopyText(extension, extensionSize, head.c_str());
    CopyText(code, codeSize, last ? last + 1 : "");
    qfdRemoveBlanks(extension);
    qfdRemoveBlanks(code);
}

/******************************************************************
 *      IsExtensionListed
 *
 * In the format's extension list or, failing that, its user list.
 */
int IsExtensionListed(const char *extension, const char *code)
{
    char value[Q32_MAX_NAME];
    if (ReadListKey(code, "_EXT", value) && MatchExtensionList(extension, value)) return 1;
    if (ReadListKey(code, "_USER", value) && MatchExtensionList(extension, value)) return 1;
    return 0;
}

/******************************************************************
 *      RemoveUserExtension
 *
 * Drops every token equal to extension from the user list; writes the list only when one
 * was dropped.
 */
int RemoveUserExtension(const char *extension, const char *code)
{
    char value[Q32_MAX_NAME];
    if (!ReadListKey(code, "_USER", value)) return 0;
    std::string kept;
    bool dropped = false;
    const char *cursor = value;
    size_t length;
    while (const char *token = NextToken(&cursor, ";", &length)) {
        if (SameTextNoCase(token, length, extension, strlen(extension))) {
            dropped = true;
            continue;
        }
        kept.append(token, length);
        kept += ';';
    }
    if (!dropped) return 0;
    WriteUserList(code, kept.c_str());
    return 1;
}

/******************************************************************
 *      StoreListedExtensions
 *
 * Puts each listed pair that its format's lists lack in front of the format's user list.
 */
int StoreListedExtensions(HWND listBox)
{
    int wrote = 0;
    int count = (int)SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char extension[8], code[8];
        ItemPair(listBox, i, extension, code);
        if (IsExtensionListed(extension, code)) continue;
        char current[Q32_MAX_NAME];
        ReadListKey(code, "_USER", current);
        std::string list = std::string(extension) + ";" + current;
        if (!WriteUserList(code, list.c_str())) break;
        wrote = 1;
    }
    return wrote;
}

/******************************************************************
 *      FindFirstItemOfFormat
 */
int FindFirstItemOfFormat(HWND listBox, const char *code)
{
    int count = (int)SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char extension[8], itemCode[8];
        ItemPair(listBox, i, extension, itemCode);
        if (lstrcmpiA(itemCode, code) == 0) return i;
    }
    return count;
}

/******************************************************************
 *      RemoveExtensionItem
 */
int RemoveExtensionItem(HWND listBox, int index)
{
    char extension[8], code[8];
    ItemPair(listBox, index, extension, code);
    int removed = RemoveUserExtension(extension, code);
    SendMessageA(listBox, LB_DELETESTRING, index, 0);
    StoreListedExtensions(listBox);
    ReloadUserExtensions();
    return removed;
}

/******************************************************************
 *      RestoreUserLists
 *
 * Records whose format was not read (no code) are skipped.
 */
void RestoreUserLists(HGLOBAL backup)
{
    if (!backup) return;
    {
        q32::Locked<UserListBackup> records(backup);
        if (!records) return;
        size_t count = GlobalSize(backup) / sizeof(UserListBackup);
        for (size_t i = 0; i < count; i++) {
            UserListBackup record = records.get()[i];
            record.code[sizeof record.code - 1] = 0;
            record.userList[sizeof record.userList - 1] = 0;
            if (!record.code[0]) continue;
            char current[Q32_MAX_NAME];
            if (ReadListKey(record.code, "_USER", current))
                WriteUserList(record.code, record.userList[0] ? record.userList : nullptr);
            else if (record.userList[0])
                WriteUserList(record.code, record.userList);
        }
    }
    ReloadUserExtensions();
}

/******************************************************************
 *      FindExtensionOwner
 */
int FindExtensionOwner(char *extension, char *ownerCode)
{
    CharUpperA(extension);
    ownerCode[0] = 0;
    int count = qfFileGetFileFmtNum();
    for (int format = 1; format <= count; format++) {
        char list[Q32_FORMAT_EXT_SIZE];
        if (!qfFileGetFormatExt(format, list, 1)) break;
        q32::GlobalHandle block(qfFileGetFormatInfo(format));
        q32::Locked<FormatInfo> info(block.get());
        if (!info) break;
        char code[4];
        CopyText(code, sizeof code, info->code);
        CharUpperA(code);
        if ((list[0] && MatchExtensionList(extension, list)) || lstrcmpiA(extension, code) == 0) {
            CopyText(ownerCode, 4, code);
            return 1;
        }
    }
    return 0;
}
