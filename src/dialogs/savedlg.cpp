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

/* One save operation's state: on the operation's stack, reached from the request (the
   OPENFILENAME's custom data) and kept on the dialog window, so that save dialogs on
   several threads, or one opened from another's hook, each keep their own. */
struct SaveContext {
    HGLOBAL list;            /* the save filter list */
    int typeIndex;           /* current type, 0-based */
    WNDPROC formerProc;      /* the explorer dialog window's procedure before ours */
    int formatIndex;         /* the last position that names a format, -1 for none */
    SaveFileRequest *request;
};

/* The window property that holds the dialog's context. */
const char ContextProperty[] = "q32SaveDialogContext";

/* Keeps the context of the OPENFILENAME ofn on the dialog window; gives the context. */
SaveContext *AttachContext(HWND dialog, LPARAM ofn)
{
    auto *request = (SaveFileRequest *)((OPENFILENAMEA *)ofn)->lCustData;
    auto *context = (SaveContext *)request->context;
    SetPropA(dialog, ContextProperty, context);
    return context;
}

SaveContext *ContextOf(HWND dialog)
{
    return (SaveContext *)GetPropA(dialog, ContextProperty);
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

void EnableOptions(HWND dialog, const SaveContext &context)
{
    DWORD flags = (DWORD)FilterAction(context.list, FILTER_OPTIONS, context.typeIndex);
    EnableWindow(GetDlgItem(dialog, IdOptionsButton), (flags & FILTER_SAVE_OPTIONS) != 0);
}

/* The format of the current type, 0 for none. */
int CurrentFormat(const SaveContext &context)
{
    return (int)FilterAction(context.list, FILTER_FORMAT, context.typeIndex);
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
void InitSaveDialog(HWND dialog, const SaveContext &context)
{
    if (!context.request->help)
        DestroyWindow(GetDlgItem(dialog, IdHelpButton));
    EnableOptions(dialog, context);
}

void OnInitDone(HWND child, SaveContext &context)
{
    HWND parent = GetParent(child);
    q32MoveWindow(parent, (HWND)-1, 1);
    SetWindowLongPtrA(parent, GWL_EXSTYLE, WS_EX_DLGMODALFRAME);
    HWND after = GetDlgItem(parent, IDCANCEL);
    for (int id : {IdOptionsButton, IdFindButton, IdHelpButton})
        after = AdoptControl(parent, child, id, after);
    InitSaveDialog(parent, context);
    context.formerProc =
        (WNDPROC)SetWindowLongPtrA(parent, GWLP_WNDPROC, (LONG_PTR)SaveDialogProc);
}

void OnOptions(HWND dialog, const SaveContext &context)
{
    HGLOBAL fileData = context.request->fileData;
    SetFileDataFormat(fileData, CurrentFormat(context));
    qfFileShowDlgSaveOption((LONG_PTR)OwnModule, (LONG_PTR)dialog, fileData, 1005);
}

void OnFind(HWND dialog, const SaveContext &context)
{
    char pattern[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), pattern, sizeof pattern);
    if (!pattern[0]) {
        const char *typePattern =
            (const char *)FilterAction(context.list, FILTER_PATTERN, context.typeIndex);
        CopyText(pattern, sizeof pattern,
                 typePattern && *typePattern && strlen(typePattern) <= 5 ? typePattern : "*.*");
    }
    RunFinder(dialog, pattern, 1);
}

/* The extension the current type adds to a bare name: its first pattern without the
   star, in lower case (*.jpg;*.jpeg gives .jpg). Empty when the pattern names no single
   extension. */
void DefaultExtension(const SaveContext &context, char extension[9])
{
    extension[0] = 0;
    const char *pattern =
        (const char *)FilterAction(context.list, FILTER_PATTERN, context.typeIndex);
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
bool AcceptName(HWND dialog, const SaveContext &context)
{
    const SaveFileRequest *request = context.request;
    char *name = request->name;
    GetWindowTextA(NameField(dialog), name, Q32_MAX_NAME);
    /* Folders, network names and patterns are the dialog's own business. */
    if (qfdIsDir(name) || (name[0] == '\\' && name[1] == '\\') || strpbrk(name, "*?"))
        return true;
    char working[Q32_MAX_NAME + 8], extension[9];
    CopyText(working, sizeof working, name);
    DefaultExtension(context, extension);
    if (!EndsWith(working, extension))
        strcat(working, extension);

    /* A name that does not fit the 260-byte name buffer is too long for any caller. */
    char full[Q32_MAX_NAME];
    DWORD length = GetFullPathNameA(working, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || length > request->maxPath) {
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

namespace {

/* The dialog window's commands; true when handled (answer: the procedure's result). */
bool OnCommand(HWND dialog, SaveContext &context, WPARAM wParam, LRESULT &answer)
{
    int id = LOWORD(wParam), code = HIWORD(wParam);
    answer = 0;
    switch (id) {
    case IdHelpButton:
        ShowDialogHelp(dialog, context.request->helpInfo);
        answer = 1;
        return true;
    case IdTypeList:
        if (code == CBN_SELCHANGE) {
            int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
            if (selection >= 0)
                context.typeIndex = selection;
            if (selection >= 0 && CurrentFormat(context) > 0)
                context.formatIndex = selection;
            EnableOptions(dialog, context);
        }
        return false;
    case IdNameEdit:
    case IdNameCombo:
        if (NameFieldChanged(id, code))
            GetWindowTextA(NameField(dialog), context.request->name, Q32_MAX_NAME);
        return false;
    case IdOptionsButton:
        if (code == BN_CLICKED)
            OnOptions(dialog, context);
        return true;
    case IdFindButton:
        if (code == BN_CLICKED)
            OnFind(dialog, context);
        return true;
    case IDOK:
        if (AcceptName(dialog, context))
            return false;
        RefuseName(dialog);
        answer = 1;
        return true;
    }
    return false;
}

} // namespace

/******************************************************************
 *      SaveChildHook
 *
 * The hook of the explorer-style dialog; runs in the child made from template 32131.
 * The context is kept on the dialog window, the child's parent.
 */
UINT_PTR CALLBACK SaveChildHook(HWND child, UINT message, WPARAM, LPARAM lParam)
{
    HWND parent = GetParent(child);
    if (message == WM_INITDIALOG) {
        AttachContext(parent, lParam);
        return 0;
    }
    SaveContext *context = message == WM_NOTIFY ? ContextOf(parent) : nullptr;
    if (!context)
        return 0;
    switch (((NMHDR *)lParam)->code) {
    case CDN_INITDONE:
        OnInitDone(child, *context);
        break;
    case CDN_TYPECHANGE:
    case CDN_FOLDERCHANGE:
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(IdTypeList, CBN_SELCHANGE),
                     (LPARAM)GetDlgItem(parent, IdTypeList));
        break;
    case CDN_SELCHANGE:
        SendMessageA(parent, CDM_GETSPEC, Q32_MAX_NAME, (LPARAM)context->request->name);
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
    if (message == WM_INITDIALOG) {
        InitSaveDialog(dialog, *AttachContext(dialog, lParam));
        return 1;
    }
    SaveContext *context = ContextOf(dialog);
    if (!context)
        return 0;
    WNDPROC former = context->formerProc;
    switch (message) {
    case WM_NCDESTROY: {
        LRESULT answer = former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
        RemovePropA(dialog, ContextProperty);
        return answer;
    }
    case WM_HELP:
        ShowDialogHelp(dialog, context->request->helpInfo);
        return 1;
    case WM_COMMAND: {
        LRESULT answer = 0;
        if (OnCommand(dialog, *context, wParam, answer))
            return answer;
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
        context.request = request;
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
            RecordError(nullptr, UnitOpenDialog.At(349), ErrCannot);
            return 0;
        }
        request->format = (DWORD)format;
        int current = (int)FilterAction(context.list, FILTER_FORMAT, (DWORD)context.typeIndex);
        SetFileDataFormat(request->fileData, current > 0 ? current : format);
    }
    return answer;
}
