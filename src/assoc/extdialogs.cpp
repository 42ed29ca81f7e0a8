/* The extension dialogs: the list of the formats' user extensions (written to section
   FIO_EXT at once) and the entry dialog that adds or edits one pair. */
#include "assoc.h"
#include "../registry/registry.h"
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <new>
#include <string>

namespace {

enum {
    PairList = 32241, AddButton = 2601, RemoveButton = 2602, EditButton = 2603, HelpButton = 9,
    ExtensionEdit = 2001, FormatCombo = 32221,
    AddCaption = 31260, EditCaption = 31261, UsedByFormat = 31262, IsFormatCode = 31263,
    TooLong = 31264, LongestExtension = 4,
};

/* The one association site in the operation form, with the unit's number in place of
   the module's: the user lists' backup. */
constexpr ErrorOperation OpBackupLists{UnitAssoc.number, 4};

const char Section[] = "FIO_EXT";

/* One list dialog's state, held by the dialog (DWLP_USER) from WM_INITDIALOG to
   WM_DESTROY, so that two can coexist. The entry dialog holds its request the same way. */
struct ListState {
    const AssociationPageParam *param = nullptr;
    std::vector<UserListBackup> backup;
    bool backed = false;
};

ListState *ListOf(HWND dialog) { return (ListState *)GetWindowLongPtrA(dialog, DWLP_USER); }
ExtensionEntryRequest *RequestOf(HWND dialog)
{
    return (ExtensionEntryRequest *)GetWindowLongPtrA(dialog, DWLP_USER);
}

/* Key code + suffix of section FIO_EXT, whole however long; empty when missing. */
std::string ReadListKey(const char *code, const char *suffix)
{
    char key[16];
    wnsprintfA(key, sizeof key, "%s%s", code, suffix);
    std::string value(Q32_MAX_NAME, '\0');
    for (;;) {
        DWORD n = GetPrivateProfileStringA(Section, key, nullptr, &value[0], (DWORD)value.size(),
                                           SuiteIniPath);
        if (n + 1 < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(value.size() * 2);
    }
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

/* The pair of an item; extension holds Q32_MAX_NAME bytes (an ini list may hold an
   extension longer than the entry field takes), code 8. */
void ItemPair(HWND list, int index, char *extension, char *code)
{
    SplitPairItem(ItemText(list, index).c_str(), extension, Q32_MAX_NAME, code, 8);
}

/* Help of one of the page parameter's blocks; a beep without a parameter. */
void ShowBlockHelp(HWND dialog, const AssociationPageParam *param, int block)
{
    if (!param) {
        MessageBeep(0);
        return;
    }
    const PreferenceAppInfo &help = param->help[block];
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

/* Backs up every format's user list, whole, and lists its pairs. */
void InitListDialog(HWND dialog, const AssociationPageParam *param)
{
    HWND list = GetDlgItem(dialog, PairList);
    int count = qfFileGetFileFmtNum();
    ListState *state = new (std::nothrow) ListState;
    if (state) {
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
        state->param = param;
        try {
            state->backup.assign((size_t)(count > 0 ? count : 0), UserListBackup());
            state->backed = true;
        } catch (...) {
            state->backup.clear();
        }
    }
    if (!state || !state->backed) RecordError(nullptr, OpBackupLists.At(1), ErrNoMemory);
    else {
        std::vector<UserListBackup> &backup = state->backup;
        for (int format = 1; format <= count; format++) {
            q32::GlobalHandle block(qfFileGetFormatInfo(format));
            q32::Locked<FormatInfo> info(block.get());
            if (!info) break;
            UserListBackup &record = backup[(size_t)format - 1];
            CopyText(record.code, sizeof record.code, info->code);
            CharUpperA(record.code);
            record.userList = ReadListKey(record.code, "_USER");
            if (record.userList.empty()) continue;
            const char *cursor = record.userList.c_str();
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
    if (const ListState *state = ListOf(dialog)) request.pageParam = state->param;
    int selected = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (command == EditButton) {
        if (selected == LB_ERR) return;
        CopyText(request.itemText, sizeof request.itemText, ItemText(list, selected).c_str());
    }
    INT_PTR ended = DialogBoxParamA(ResourceModule, MAKEINTRESOURCEA(ExtensionEntryTemplate),
                                    dialog, ExtensionEntryProc, (LPARAM)&request);
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

/* The pair the entry dialog started with: the edited item's, empty when adding. */
void StartPair(const ExtensionEntryRequest &request, char (&extension)[Q32_MAX_NAME],
               char (&code)[8])
{
    extension[0] = code[0] = 0;
    if (request.command == EditButton)
        SplitPairItem(request.itemText, extension, sizeof extension, code, sizeof code);
}

BOOL InitEntryDialog(HWND dialog, ExtensionEntryRequest *request)
{
    SendDlgItemMessageA(dialog, ExtensionEdit, EM_LIMITTEXT, 4, 0);
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)request);
    bool editing = request->command == EditButton;
    char startExtension[Q32_MAX_NAME], startCode[8];
    StartPair(*request, startExtension, startCode);
    char caption[128] = "";
    LoadStringA(ResourceModule, editing ? EditCaption : AddCaption, caption, sizeof caption);
    SetWindowTextA(dialog, caption);
    if (editing) {
        SetDlgItemTextA(dialog, ExtensionEdit, startExtension);
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
        if (editing && lstrcmpiA(code, startCode) == 0) chosen = format - 1;
    }
    SendMessageA(combo, CB_SETCURSEL, chosen, 0);
    SendMessageA(combo, CB_SETDROPPEDWIDTH, 250, 0);
    return TRUE;
}

/* OK of the entry dialog: false (and the dialog stays) when the extension is refused. */
bool AcceptEntry(HWND dialog, ExtensionEntryRequest &request)
{
    char extension[Q32_MAX_NAME] = "", code[8] = "";
    GetDlgItemTextA(dialog, ExtensionEdit, extension, sizeof extension);
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
    /* Longer than the field takes (an edited pair from the ini file): refused whole, never
       cut into another extension. */
    if (strlen(extension) > LongestExtension) {
        char format[256] = "", text[Q32_MAX_NAME + 256];
        LoadStringA(ResourceModule, TooLong, format, sizeof format);
        snprintf(text, sizeof text, format, extension);
        ShowError(ResourceModule, TextEntryRefused, UnitAssoc.At(1), 0, text);
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
        ShowError(ResourceModule, TextEntryRefused, UnitAssoc.At(1), 0, text);
        SetFocus(field);
        return false;
    }
    char startExtension[Q32_MAX_NAME], startCode[8];
    StartPair(request, startExtension, startCode);
    request.extensionChanged = lstrcmpiA(extension, startExtension) != 0;
    request.formatChanged = lstrcmpiA(code, startCode) != 0;
    CopyText(request.extension, sizeof request.extension, extension);
    CopyText(request.code, sizeof request.code, code);
    return true;
}

/******************************************************************
 *      ExtensionEntryProc
 *
 * The entry dialog (template 32118); its creation value is the list dialog's request.
 */
/* Help of the entry dialog: the edit block when editing, the add block otherwise. */
void ShowEntryHelp(HWND dialog)
{
    const ExtensionEntryRequest *request = RequestOf(dialog);
    ShowBlockHelp(dialog, request ? request->pageParam : nullptr,
                  request && request->command == EditButton ? 2 : 1);
}

INT_PTR ExtensionEntryProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) return InitEntryDialog(dialog, (ExtensionEntryRequest *)lParam);
    ExtensionEntryRequest *request = RequestOf(dialog);
    switch (message) {
    case WM_HELP:
        ShowEntryHelp(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ExtensionEdit:
            if (HIWORD(wParam) == EN_CHANGE)
                EnableWindow(GetDlgItem(dialog, IDOK),
                             GetWindowTextLengthA(GetDlgItem(dialog, ExtensionEdit)) > 0);
            return TRUE;
        case IDOK:
            if (request && AcceptEntry(dialog, *request)) EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case HelpButton:
            ShowEntryHelp(dialog);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK ExtensionEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ExceptionFree<INT_PTR>(FALSE, UnitAssoc.At(__LINE__), [&] {
        return ExtensionEntryProcBody(dialog, message, wParam, lParam);
    });
}

} // namespace

/******************************************************************
 *      ExtensionListProc
 *
 * The extension list dialog (template 32117); its creation value is the association
 * page's parameter or null. Ends with 1 (OK) or 0 (Cancel: the lists as they were).
 */
static INT_PTR ExtensionListProcBody(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    ListState *state = ListOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        InitListDialog(dialog, (const AssociationPageParam *)lParam);
        return FALSE;
    case WM_DESTROY:
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        delete state;
        return FALSE;
    case WM_HELP:
        ShowBlockHelp(dialog, state ? state->param : nullptr, 0);
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
            RebuildCachedFilterLists();
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            RestoreUserLists(state && state->backed ? &state->backup : nullptr);
            EndDialog(dialog, 0);
            return TRUE;
        case HelpButton:
            ShowBlockHelp(dialog, state ? state->param : nullptr, 0);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

INT_PTR CALLBACK ExtensionListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return ExceptionFree<INT_PTR>(FALSE, UnitAssoc.At(__LINE__), [&] {
        return ExtensionListProcBody(dialog, message, wParam, lParam);
    });
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
    for (const char *suffix : {"_EXT", "_USER"}) {
        std::string value = ReadListKey(code, suffix);
        if (!value.empty() && MatchExtensionList(extension, &value[0])) return 1;
    }
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
    std::string value = ReadListKey(code, "_USER");
    if (value.empty()) return 0;
    std::string kept;
    bool dropped = false;
    const char *cursor = value.c_str();
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
        char extension[Q32_MAX_NAME], code[8];
        ItemPair(listBox, i, extension, code);
        if (IsExtensionListed(extension, code)) continue;
        std::string list = std::string(extension) + ";" + ReadListKey(code, "_USER");
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
        char extension[Q32_MAX_NAME], itemCode[8];
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
    char extension[Q32_MAX_NAME], code[8];
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
void RestoreUserLists(const std::vector<UserListBackup> *backup)
{
    if (!backup) return;
    for (const UserListBackup &record : *backup) {
        if (!record.code[0]) continue;
        const char *saved = record.userList.c_str();
        if (!ReadListKey(record.code, "_USER").empty())
            WriteUserList(record.code, saved[0] ? saved : nullptr);
        else if (saved[0])
            WriteUserList(record.code, saved);
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
