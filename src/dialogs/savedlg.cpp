/* The save dialog: the system's common save dialog offering the formats that can store
   the image, with the module's Options, Find and help buttons, and the capability mask
   the format list is chosen by. */
#include "dialogs.h"
#include <commdlg.h>
#include <string.h>

UINT_PTR CALLBACK SaveChildHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SaveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

/* Templates of the resource module. */
enum { SaveExplorerTemplate = 32131, SaveOldStyleTemplate = 32133 };

/* One save operation's state; lives on the operation's stack. */
struct SaveContext {
    HGLOBAL list;            /* the save filter list */
    int typeIndex;           /* current type, 0-based */
    WNDPROC formerProc;      /* the explorer dialog window's procedure before ours */
    int formatIndex;         /* the last position that names a format, -1 for none */
};

/* The dialog that runs (one per process; valid during a save operation). */
SaveFileRequest *SaveRequest;
SaveContext *SaveState;

/* Notes the request and context of the dialog whose OPENFILENAME ofn is. */
void NoteDialog(LPARAM ofn)
{
    SaveRequest = (SaveFileRequest *)((OPENFILENAMEA *)ofn)->lCustData;
    SaveState = (SaveContext *)SaveRequest->context;
}

/* What each data type bit can be stored as. */
const struct { DWORD type, capability; } CapabilityOfType[] = {
    {Q32_TYPE_BILEVEL, Q32_CAP_BILEVEL},   {Q32_TYPE_GREY8, Q32_CAP_GREY8},
    {Q32_TYPE_PALETTE8, Q32_CAP_PALETTE8}, {Q32_TYPE_GREY4, Q32_CAP_GREY4},
    {Q32_TYPE_PALETTE4, Q32_CAP_PALETTE4}, {Q32_TYPE_RGB, Q32_CAP_RGB},
    {Q32_TYPE_BGRA, Q32_CAP_BGRA},         {Q32_TYPE_VECTOR, Q32_CAP_VECTOR},
    {Q32_TYPE_RGB48, Q32_CAP_RGB48},       {Q32_TYPE_GREY16, Q32_CAP_GREY16},
    {Q32_TYPE_BGRA64, Q32_CAP_BGRA64},
};

void EnableOptions(HWND dialog)
{
    DWORD flags = (DWORD)FilterAction(SaveState->list, FILTER_OPTIONS, SaveState->typeIndex);
    EnableWindow(GetDlgItem(dialog, IdOptionsButton), (flags & FILTER_SAVE_OPTIONS) != 0);
}

/* The format of the current type, 0 for none. */
int CurrentFormat()
{
    return (int)FilterAction(SaveState->list, FILTER_FORMAT, SaveState->typeIndex);
}

void SetFileDataFormat(HGLOBAL fileData, int format)
{
    if (format <= 0)
        return;
    q32::Locked<FileData> data(fileData);
    if (data)
        data->formatNumber = format;
}

/* What SaveDialogProc does at WM_INITDIALOG (for the explorer dialog: at CDN_INITDONE). */
void InitSaveDialog(HWND dialog)
{
    if (!SaveRequest->help)
        DestroyWindow(GetDlgItem(dialog, IdHelpButton));
    EnableOptions(dialog);
}

void OnInitDone(HWND child)
{
    HWND parent = GetParent(child);
    q32MoveWindow(parent, (HWND)-1, 1);
    SetWindowLongPtrA(parent, GWL_EXSTYLE, WS_EX_DLGMODALFRAME);
    HWND after = GetDlgItem(parent, IDCANCEL);
    for (int id : {IdOptionsButton, IdFindButton, IdHelpButton})
        after = AdoptControl(parent, child, id, after);
    InitSaveDialog(parent);
    SaveState->formerProc =
        (WNDPROC)SetWindowLongPtrA(parent, GWLP_WNDPROC, (LONG_PTR)SaveDialogProc);
}

void OnOptions(HWND dialog)
{
    SetFileDataFormat(SaveRequest->fileData, CurrentFormat());
    qfFileShowDlgSaveOption((LONG_PTR)OwnModule, (LONG_PTR)dialog, SaveRequest->fileData, 1005);
}

void OnFind(HWND dialog)
{
    char pattern[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), pattern, sizeof pattern);
    if (!pattern[0]) {
        const char *typePattern =
            (const char *)FilterAction(SaveState->list, FILTER_PATTERN, SaveState->typeIndex);
        CopyText(pattern, sizeof pattern,
                 typePattern && *typePattern && strlen(typePattern) <= 5 ? typePattern : "*.*");
    }
    RunFinder(dialog, pattern, 1);
}

/* The extension the current type adds to a bare name: its first pattern without the
   star, in lower case (*.jpg;*.jpeg gives .jpg). Empty when the pattern names no single
   extension. */
void DefaultExtension(char extension[9])
{
    extension[0] = 0;
    const char *pattern =
        (const char *)FilterAction(SaveState->list, FILTER_PATTERN, SaveState->typeIndex);
    if (!pattern || !*pattern)
        return;
    CopyText(extension, 9, pattern + 1);
    if (char *end = strchr(extension, ';'))
        *end = 0;
    if (strpbrk(extension, "*?"))
        extension[0] = 0;
    CharLowerA(extension);
}

bool EndsWith(const char *name, const char *tail)
{
    size_t length = strlen(name), tailLength = strlen(tail);
    return length >= tailLength && !lstrcmpiA(name + length - tailLength, tail);
}

int Message(HWND dialog, UINT id, const char *argument, UINT buttons)
{
    char title[32] = "", format[Q32_MAX_NAME] = "", text[1024] = "";
    LoadStringA(ResourceModule, 31309, title, sizeof title);
    LoadStringA(ResourceModule, id, format, sizeof format);
    if (argument)
        wsprintfA(text, format, argument);
    else
        CopyText(text, sizeof text, format);
    return MessageBoxA(dialog, text, title, buttons | MB_ICONEXCLAMATION);
}

/* The OK check: true to let the dialog accept the name (then the name field holds it
   with the type's extension), false after telling the user why not. */
bool AcceptName(HWND dialog)
{
    char *name = SaveRequest->name;
    GetWindowTextA(NameField(dialog), name, Q32_MAX_NAME);
    /* Folders, network names and patterns are the dialog's own business. */
    if (qfdIsDir(name) || (name[0] == '\\' && name[1] == '\\') || strpbrk(name, "*?"))
        return true;
    char working[Q32_MAX_NAME + 8], extension[9];
    CopyText(working, sizeof working, name);
    DefaultExtension(extension);
    if (!EndsWith(working, extension))
        strcat(working, extension);

    /* A name that does not fit the 260-byte name buffer is too long for any caller. */
    char full[Q32_MAX_NAME];
    DWORD length = GetFullPathNameA(working, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || length > SaveRequest->maxPath) {
        Message(dialog, 31405, nullptr, MB_OK);
        return false;
    }
    if (qfIsFileExist(full)) {
        if (Message(dialog, 31411, full, MB_YESNO) != IDYES)
            return false;
        SetWindowTextA(NameField(dialog), working);
        return true;
    }
    char *filePart = strrchr(full, '\\');
    if (filePart)
        filePart[filePart == full + 2 && full[1] == ':' ? 1 : 0] = 0;
    if (qfdIsDir(full)) {
        SetWindowTextA(NameField(dialog), working);
        return true;
    }
    Message(dialog, 31412, full, MB_OK);
    return false;
}

void RefuseName(HWND dialog)
{
    HWND edit = NameFieldEdit(dialog);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

} // namespace

/******************************************************************
 *      SaveChildHook
 *
 * The hook of the explorer-style dialog; runs in the child made from template 32131.
 */
UINT_PTR CALLBACK SaveChildHook(HWND child, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        NoteDialog(lParam);
        return 0;
    }
    if (message != WM_NOTIFY)
        return 0;
    HWND parent = GetParent(child);
    switch (((NMHDR *)lParam)->code) {
    case CDN_INITDONE:
        OnInitDone(child);
        break;
    case CDN_TYPECHANGE:
    case CDN_FOLDERCHANGE:
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(IdTypeList, CBN_SELCHANGE),
                     (LPARAM)GetDlgItem(parent, IdTypeList));
        break;
    case CDN_SELCHANGE:
        SendMessageA(parent, CDM_GETSPEC, Q32_MAX_NAME, (LPARAM)SaveRequest->name);
        break;
    }
    return 0;
}

/******************************************************************
 *      SaveDialogProc
 *
 * The old-style dialog's hook and the explorer-style dialog window's procedure.
 */
LRESULT CALLBACK SaveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC former = SaveState ? SaveState->formerProc : nullptr;
    switch (message) {
    case WM_INITDIALOG:
        NoteDialog(lParam);
        InitSaveDialog(dialog);
        return 1;
    case WM_HELP:
        ShowDialogHelp(dialog, SaveRequest->helpInfo);
        return 1;
    case WM_COMMAND: {
        int id = LOWORD(wParam), code = HIWORD(wParam);
        switch (id) {
        case IdHelpButton:
            ShowDialogHelp(dialog, SaveRequest->helpInfo);
            return 1;
        case IdTypeList:
            if (code == CBN_SELCHANGE) {
                int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
                if (selection >= 0)
                    SaveState->typeIndex = selection;
                if (selection >= 0 && CurrentFormat() > 0)
                    SaveState->formatIndex = selection;
                EnableOptions(dialog);
            }
            break;
        case IdNameEdit:
        case IdNameCombo:
            if ((id == IdNameEdit && code == EN_CHANGE) ||
                (id == IdNameCombo && code == CBN_EDITCHANGE))
                GetWindowTextA(NameField(dialog), SaveRequest->name, Q32_MAX_NAME);
            break;
        case IdOptionsButton:
            if (code == BN_CLICKED)
                OnOptions(dialog);
            return 0;
        case IdFindButton:
            if (code == BN_CLICKED)
                OnFind(dialog);
            return 0;
        case IDOK:
            if (!AcceptName(dialog)) {
                RefuseName(dialog);
                return 1;
            }
            break;
        }
        break;
    }
    }
    return former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
}

/******************************************************************
 *      q32FileGetFCap  (exported)
 */
extern "C" DWORD Q32FILEAPI q32FileGetFCap(DWORD dataType)
{
    DWORD capabilities = 0;
    for (const auto &entry : CapabilityOfType)
        if (dataType & entry.type)
            capabilities |= entry.capability;
    return capabilities;
}

/******************************************************************
 *      q32FileGetSaveFileName  (exported)
 *
 * The formats that can store the FileData's data type, the image's own format first
 * chosen. On success the request's format and the FileData's format number are the
 * chosen type's format.
 */
extern "C" int Q32FILEAPI q32FileGetSaveFileName(SaveFileRequest *request)
{
    if (!request || !request->name)
        return 0;
    SaveContext context = {};
    {
        q32::Locked<FileData> data(request->fileData);
        if (!data)
            return 0;
        request->context = &context;
        context.list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD,
                                             q32FileGetFCap(data->raster.dataType));
        if (data->formatNumber > 0)
            context.typeIndex =
                (int)FilterAction(context.list, FILTER_INDEX_OF, (DWORD)data->formatNumber);
        context.formatIndex =
            FilterAction(context.list, FILTER_FORMAT, (DWORD)context.typeIndex) > 0
                ? context.typeIndex : -1;
    }
    q32::ScopeExit forget([&] {
        FilterAction(context.list, FILTER_FREE, 0);
        request->context = nullptr;
        SaveRequest = nullptr;
        SaveState = nullptr;
    });
    if (!context.list)
        return 0;

    int g = GetOsGeneration();
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = g == 3 ? sizeof ofn : OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = request->owner;
    ofn.hInstance = ResourceModule;
    ofn.lpstrFilter = (const char *)FilterAction(context.list, FILTER_TEXT, 0);
    ofn.nFilterIndex = context.typeIndex + 1;
    ofn.lpstrFile = request->name;
    ofn.nMaxFile = Q32_MAX_NAME;
    ofn.lpstrInitialDir = request->initialDir;
    ofn.lpstrTitle = request->title;
    ofn.lCustData = (LPARAM)request;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_HIDEREADONLY;
    if (g == 0) {
        ofn.lpfnHook = (LPOFNHOOKPROC)(void *)SaveDialogProc;
        ofn.lpTemplateName = MAKEINTRESOURCEA(SaveOldStyleTemplate);
    } else {
        ofn.Flags |= OFN_EXPLORER | (g >= 2 ? OFN_ENABLESIZING : 0);
        ofn.lpfnHook = SaveChildHook;
        ofn.lpTemplateName = MAKEINTRESOURCEA(SaveExplorerTemplate);
    }

    KeptErrorSlot slot;
    int answer = GetSaveFileNameA(&ofn) ? 1 : 0;
    slot.RestoreUnlessFailed(answer);
    if (answer) {
        /* The all-files entry (the vector capability also asks for it) names no format:
           the type chosen before it stays the one the image is written as. */
        int format = (int)FilterAction(context.list, FILTER_FORMAT, ofn.nFilterIndex - 1);
        if (format <= 0 && context.formatIndex >= 0)
            format = (int)FilterAction(context.list, FILTER_FORMAT, (DWORD)context.formatIndex);
        if (format <= 0) {
            RecordError(nullptr, LineForm, 1720, 349, 4026);
            return 0;
        }
        request->format = (DWORD)format;
        int current = (int)FilterAction(context.list, FILTER_FORMAT, (DWORD)context.typeIndex);
        SetFileDataFormat(request->fileData, current > 0 ? current : format);
    }
    return answer;
}
