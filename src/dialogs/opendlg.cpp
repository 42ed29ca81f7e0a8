/* The open dialog: the system's common open dialog with the module's panel, Options,
   Find and help buttons. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include "../controls/palctl.h"
#include "q32fio.h"
#include "q32base.h"
#include <commctrl.h>
#include <mbstring.h>
#include <string.h>

int LastOpenFilterIndex;

namespace {

/* The dialog that runs (one per process; valid during an open operation). */
OPENFILENAMEA *DlgOfn;
OpenDialogContext *DlgContext;
OpenFileRequest *DlgRequest;
bool FolderChanged;

/* The cached open filter list: 0 ordinary, 1 for a palette pick; built on first use. */
HGLOBAL CachedOpenList(int forPick)
{
    HGLOBAL &list = CachedFilterLists[forPick ? 1 : 0];
    if (!list)
        list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD,
                                     forPick ? FILTER_ALL_FORMATS | FILTER_ALL_FILES
                                             : FILTER_ALL_FORMATS);
    return list;
}

/* Before OK and Cancel: grows the answer buffer when the typed text is longer than it
   (several long names), so that the dialog can answer; on failure the old one stays. */
void FitAnswerBuffer(HWND dialog)
{
    HWND edit = NameFieldEdit(dialog);
    if (!edit || !DlgContext || !DlgOfn)
        return;
    DWORD length = (DWORD)SendMessageA(edit, EM_LINELENGTH, 0, 0);
    if (length > DlgContext->size) {
        GlobalUnlock(DlgContext->buffer);
        HGLOBAL grown = GlobalReAlloc(DlgContext->buffer, length + Q32_MAX_NAME,
                                      GMEM_MOVEABLE | GMEM_ZEROINIT);
        if (grown) {
            DlgContext->buffer = grown;
            DlgContext->size = length + Q32_MAX_NAME;
        }
        DlgContext->address = (char *)GlobalLock(DlgContext->buffer);
        DlgOfn->lpstrFile = DlgContext->address;
        DlgOfn->nMaxFile = DlgContext->size;
    }
    if (DlgContext->address)
        GetWindowTextA(edit, DlgContext->address, Q32_MAX_NAME);
}

bool IsPaletteDisplay()
{
    DISP32DEVINFO info = {};
    disp32GetDevInfo(&info);
    return info.kind == DISP32_PALETTE;
}

/* The control of the dialog that had the focus before the dialog window took it. */
HWND FocusBefore;

/* The pattern of entry index (0-based) of the filter in use, or null. */
const char *EntryPattern(int index)
{
    if (!DlgContext)
        return nullptr;
    if (!DlgContext->callerFilter)
        return (const char *)FilterAction(DlgContext->list, FILTER_PATTERN, (DWORD)index);
    const char *p = DlgOfn ? DlgOfn->lpstrFilter : nullptr;
    for (int i = 0; p && *p; i++) {
        p += strlen(p) + 1;           /* description */
        if (i == index)
            return p;
        p += strlen(p) + 1;           /* pattern */
    }
    return nullptr;
}

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

/* Merges the request's extension dialog into the bottom of the dialog: the dialog grows
   by the extension's client height and takes over its controls, after the preview
   picture in the tab order. */
void MergeExtension(HWND dialog)
{
    const OpenFileRequest *request = DlgRequest;
    if (!request || !request->extTemplate || !request->extProc)
        return;
    HWND extension = CreateDialogParamA(request->extInstance, request->extTemplate, dialog,
                                        request->extProc, (LPARAM)request->userData);
    if (!extension)
        return;
    RECT extent = {}, client = {}, frame = {};
    GetClientRect(extension, &extent);
    GetClientRect(dialog, &client);
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top + extent.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HWND after = GetDlgItem(dialog, IdPreviewPicture);
    for (HWND control = GetWindow(extension, GW_CHILD), next; control; control = next) {
        next = GetWindow(control, GW_HWNDNEXT);
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, extension, (POINT *)&rect, 2);
        SetParent(control, dialog);
        SetWindowPos(control, after, rect.left, rect.top + client.bottom, 0, 0,
                     SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
    }
    ShowWindow(extension, SW_HIDE);
}

/* What OpenDialogProc does at WM_INITDIALOG (for the explorer dialog: at CDN_INITDONE). */
void InitOpenDialog(HWND dialog)
{
    if (DlgRequest && !DlgRequest->help)
        ShowWindow(GetDlgItem(dialog, IdHelpButton), SW_HIDE);
    SetUpPanel(dialog);
    ShowWindow(GetDlgItem(dialog, IdPreviewPicture), SW_HIDE);
    MergeExtension(dialog);
    q32MoveWindow(dialog, (HWND)-1, 1);
    ShowWindow(GetDlgItem(dialog, IdPreviewButton), SW_HIDE);
    EnableWindow(GetDlgItem(dialog, IdPreviewButton), FALSE);
    EnableWindow(GetDlgItem(dialog, IdOptionsButton), FALSE);
    EnableFormatButton(dialog, DlgContext ? DlgContext->typeIndex : 0, 1, IdOptionsButton);
    HWND types = GetDlgItem(dialog, IdTypeList);
    if (types)
        SendMessageA(types, CB_SETDROPPEDWIDTH, TypeListDropWidth(types), 0);
}

void OnTypeChange(HWND dialog)
{
    int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
    if (selection < 0 || !DlgContext)
        return;
    char typed[30] = "";
    GetWindowTextA(NameField(dialog), typed, sizeof typed);
    const char *pattern = EntryPattern(selection);
    if ((!typed[0] || typed[0] == '*') && pattern) {
        char lower[Q32_MAX_NAME];
        CopyText(lower, sizeof lower, pattern);
        CharLowerA(lower);
        SetWindowTextA(NameField(dialog), lower);
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    }
    if (selection == 0)
        EnableWindow(GetDlgItem(dialog, IdOptionsButton), FALSE);
    if (!DlgContext->callerFilter) {
        if (selection != DlgContext->typeIndex) {
            DlgContext->typeIndex = selection;
            EnableFormatButton(dialog, selection, 1, IdOptionsButton);
        }
        return;
    }
    DlgContext->typeIndex = selection;
    EnableFormatButton(dialog, FormatOfPattern(EntryPattern(selection)), 1, IdOptionsButton);
}

void OnNameChange(HWND dialog)
{
    char name[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), name, sizeof name);
    if (!GetDlgItem(dialog, IdNameCombo))
        qfdRemoveBlanks(name);
    if (!strcmp(name, LastSelectedName))
        return;
    CopyText(LastSelectedName, sizeof LastSelectedName, name);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    if (name[0])
        UpdatePanel(dialog, name);
}

void OnOptions(HWND dialog)
{
    int selection = (int)SendDlgItemMessageA(dialog, IdTypeList, CB_GETCURSEL, 0, 0);
    if (selection <= 0 || !DlgContext)
        return;
    int format = selection;
    if (DlgContext->callerFilter) {
        char text[30] = "";
        GetDlgItemTextA(dialog, IdTypeList, text, sizeof text);
        text[3] = 0;
        format = q32FileGetFormatID(text, nullptr);
    }
    if (qfFileShowDlgOpenOption((LONG_PTR)OwnModule, (LONG_PTR)dialog, format, 1005) == 1) {
        DropPanelFileData();
        UpdatePanel(dialog, LastSelectedName);
    }
}

void OnFind(HWND dialog)
{
    char pattern[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), pattern, sizeof pattern);
    if (!pattern[0]) {
        const char *typePattern = EntryPattern(DlgContext ? DlgContext->typeIndex : 0);
        CopyText(pattern, sizeof pattern,
                 typePattern && *typePattern && strlen(typePattern) <= 30 ? typePattern : "*.*");
    }
    int several = DlgOfn && (DlgOfn->Flags & OFN_ALLOWMULTISELECT) ? 1 : 0;
    RunFinder(dialog, pattern, several);
}

void OnHelp(HWND dialog)
{
    ShowDialogHelp(dialog, DlgRequest ? DlgRequest->helpInfo : nullptr);
}

void OnInitDone(HWND child)
{
    HWND parent = GetParent(child);
    SetWindowLongPtrA(parent, GWL_EXSTYLE, WS_EX_DLGMODALFRAME);
    HWND after = GetDlgItem(parent, IDCANCEL);
    for (int id : {IdPreviewButton, IdOptionsButton, IdFindButton, IdHelpButton,
                   IdPreviewPicture, IdInfoText})
        after = AdoptControl(parent, child, id, after);
    EnableWindow(GetDlgItem(parent, IdPreviewPicture), FALSE);
    InitOpenDialog(parent);
    DlgContext->formerProc =
        (WNDPROC)SetWindowLongPtrA(parent, GWLP_WNDPROC, (LONG_PTR)OpenDialogProc);
    HWND combo = GetDlgItem(parent, IdNameCombo);
    if (GetOsGeneration() == 3 && combo) {
        HWND edit = NameFieldEdit(parent);
        if (edit)
            SendMessageA(edit, EM_LIMITTEXT, 0, 0);
        SetWindowTextA(combo, "");
    } else {
        SendDlgItemMessageA(parent, IdNameEdit, EM_LIMITTEXT, 0, 0);
        SetDlgItemTextA(parent, IdNameEdit, "");
    }
}

void OnSelectionChange(HWND child)
{
    HWND parent = GetParent(child);
    if (FolderChanged) {
        FolderChanged = false;
        LastSelectedName[0] = 0;
    }
    char name[Q32_MAX_NAME] = "";
    if (SendMessageA(parent, CDM_GETSPEC, sizeof name, (LPARAM)name) <= 0)
        return;
    /* The full name when one file is selected: the panel must not depend on the
       current folder. */
    char full[Q32_MAX_NAME] = "";
    if (name[0] != '"' && SendMessageA(parent, CDM_GETFILEPATH, sizeof full, (LPARAM)full) > 0)
        CopyText(name, sizeof name, full);
    if (!_mbsicmp((const unsigned char *)name, (const unsigned char *)LastSelectedName))
        return;
    CopyText(LastSelectedName, sizeof LastSelectedName, name);
    UpdatePanel(parent, name);
}

/* Copies name (without a leading quote; without its last character when quoted) into
   out. */
void Unquote(const char *name, char *out, size_t size)
{
    bool quoted = name[0] == '"';
    CopyText(out, size, name + (quoted ? 1 : 0));
    size_t length = strlen(out);
    if (quoted && length)
        out[length - 1] = 0;
}

void CallExtProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *answer)
{
    if (DlgRequest && DlgRequest->extProc) {
        INT_PTR result = DlgRequest->extProc(dialog, message, wParam, lParam);
        if (answer)
            *answer = result;
    }
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

/******************************************************************
 *      BuildResultList
 *
 * One name, or a folder followed by names (multiple selection). Names that no longer
 * exist are left out; the list always ends with an empty string inside resultSize.
 */
void BuildResultList(char *result, DWORD resultSize, const OpenDialogContext &context, int g)
{
    if (!result || resultSize < 1)
        return;
    result[0] = 0;
    if (resultSize < 2)
        return;
    result[1] = 0;
    const char *answer = context.address;
    char name[Q32_MAX_NAME * 2];
    DWORD used = 0;
    /* Appends one name and keeps the final empty string; false (and 31410) when the
       name does not fit. */
    auto append = [&](const char *text) {
        size_t length = strlen(text);
        if ((size_t)resultSize - used < length + 2) {
            ShowError(ResourceModule, 31410, LineForm, 1720, 219, 0, nullptr);
            return false;
        }
        memcpy(result + used, text, length + 1);
        used += (DWORD)length + 1;
        result[used] = 0;
        return true;
    };
    if (g == 0 || !qfdIsDir(answer)) {
        if (g == 0)
            CopyText(name, sizeof name, answer);
        else
            Unquote(answer, name, sizeof name);
        append(name);
        return;
    }
    char folder[Q32_MAX_NAME];
    CopyText(folder, sizeof folder, answer);
    AppendBackslash(folder);
    for (const char *p = answer + strlen(answer) + 1;
         *p && p < context.address + context.size; p += strlen(p) + 1) {
        char bare[Q32_MAX_NAME * 2];
        Unquote(p, bare, sizeof bare);
        if (strchr(bare, '\\'))
            CopyText(name, sizeof name, bare);
        else {
            CopyText(name, sizeof name, folder);
            size_t length = strlen(name);
            CopyText(name + length, sizeof name - length, bare);
        }
        if (!qfIsFileExist(name))
            continue;
        if (!append(name))
            return;
    }
}

/******************************************************************
 *      ExplorerChildHook
 *
 * The hook of the explorer-style dialog; runs in the child made from template 32130.
 */
UINT_PTR CALLBACK ExplorerChildHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        DlgOfn = (OPENFILENAMEA *)lParam;
        DlgContext = (OpenDialogContext *)DlgOfn->lCustData;
        DlgRequest = DlgContext->request;
        FolderChanged = false;
        if (!(DlgRequest->flags & OFN_SHOWHELP) && !DlgRequest->help)
            ShowWindow(GetDlgItem(child, IdHelpButton), SW_HIDE);
        SetWindowLongPtrA(child, DWLP_USER, lParam);
        if (PalettePickInEffect) {
            char caption[Q32_MAX_NAME] = "";
            LoadStringA(ResourceModule, 31303, caption, sizeof caption);
            SetWindowTextA(GetParent(child), caption);
        }
        return 1;
    }
    case WM_NOTIFY: {
        INT_PTR answer = 0;
        CallExtProc(GetParent(child), message, wParam, lParam, &answer);
        switch (((NMHDR *)lParam)->code) {
        case CDN_INITDONE:
            OnInitDone(child);
            break;
        case CDN_FOLDERCHANGE: {
            FolderChanged = true;
            int selection =
                (int)SendDlgItemMessageA(GetParent(child), IdTypeList, CB_GETCURSEL, 0, 0);
            if (selection >= 0 && selection != DlgContext->typeIndex) {
                DlgContext->typeIndex = selection;
                EnableFormatButton(GetParent(child), selection, 1, IdOptionsButton);
            }
            break;
        }
        case CDN_SELCHANGE:
            OnSelectionChange(child);
            break;
        }
        return (UINT_PTR)answer;
    }
    }
    return 0;
}

/******************************************************************
 *      OpenDialogProc
 *
 * The old-style dialog's hook and the explorer-style dialog window's procedure.
 */
LRESULT CALLBACK OpenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC former = DlgContext ? DlgContext->formerProc : nullptr;
    switch (message) {
    case WM_INITDIALOG:
        DlgOfn = (OPENFILENAMEA *)lParam;
        DlgContext = (OpenDialogContext *)DlgOfn->lCustData;
        DlgRequest = DlgContext->request;
        InitOpenDialog(dialog);
        return 1;
    case WM_DESTROY:
        FreePanelBuffer();
        FocusBefore = nullptr;
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && IsPaletteDisplay())
            InvalidateRect(GetDlgItem(dialog, IdPreviewPicture), nullptr, TRUE);
        break;
    case WM_SETFOCUS:
        FocusBefore = IsChild(dialog, (HWND)wParam) ? (HWND)wParam : nullptr;
        break;
    case WM_KILLFOCUS: {
        /* The dialog passes the focus on to a control: keep the one the user was in. */
        LRESULT answer = former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
        HWND gaining = (HWND)wParam, keep = FocusBefore;
        FocusBefore = nullptr;
        if (keep && keep != gaining && IsChild(dialog, gaining) && IsChild(dialog, keep) &&
            IsWindowVisible(keep) && IsWindowEnabled(keep))
            SetFocus(keep);
        return answer;
    }
    case WM_HELP:
        OnHelp(dialog);
        return 1;
    case WM_COMMAND: {
        CallExtProc(dialog, message, wParam, lParam, nullptr);
        int id = LOWORD(wParam), code = HIWORD(wParam);
        switch (id) {
        case IDOK:
        case IDCANCEL:
            if (code == BN_CLICKED)
                FitAnswerBuffer(dialog);
            break;
        case IdHelpButton:
            OnHelp(dialog);
            return 1;
        case IdOptionsButton:
            OnOptions(dialog);
            return 0;
        case IdPreviewButton:
            OnPreviewButton(dialog);
            return 0;
        case IdFindButton:
            OnFind(dialog);
            return 0;
        case IdTypeList:
            if (code == CBN_SELCHANGE)
                OnTypeChange(dialog);
            break;
        case IdNameEdit:
            if (code == EN_CHANGE)
                OnNameChange(dialog);
            break;
        case IdNameCombo:
            if (code == CBN_EDITCHANGE)
                OnNameChange(dialog);
            break;
        }
        break;
    }
    }
    return former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
}

namespace {

/* Allocates and locks the answer buffer of an open operation. */
bool OpenBuffer(OpenDialogContext &context)
{
    context.buffer = GlobalAlloc(GHND, OpenBufferSize);
    if (!context.buffer)
        return false;
    context.address = (char *)GlobalLock(context.buffer);
    if (!context.address) {
        GlobalFree(context.buffer);
        context.buffer = nullptr;
        return false;
    }
    context.size = OpenBufferSize;
    return true;
}

/* Flags, hook and template of the OPENFILENAME for OS generation g; base holds the
   flags that every generation gets, explorer what g >= 1 adds. */
void ChooseDialogStyle(OPENFILENAMEA &ofn, int g, DWORD base, DWORD explorer)
{
    ofn.lStructSize = g == 3 ? sizeof ofn : OPENFILENAME_SIZE_VERSION_400A;
    if (g == 0) {
        ofn.Flags = base;
        ofn.lpfnHook = (LPOFNHOOKPROC)(void *)OpenDialogProc;
        ofn.lpTemplateName = MAKEINTRESOURCEA(OldStyleTemplate);
        return;
    }
    ofn.Flags = base | explorer | OFN_EXPLORER;
    if (g >= 2)
        ofn.Flags |= OFN_ENABLESIZING;
    ofn.lpfnHook = ExplorerChildHook;
    ofn.lpTemplateName = MAKEINTRESOURCEA(ExplorerTemplate);
}

/* Shows the prepared dialog, or the thumbnail dialog when visual, and hands the answer
   to result. Restores the current folder on cancel; frees the buffer and forgets the
   dialog's state in every case. */
int RunOpenDialog(OPENFILENAMEA &ofn, OpenDialogContext &context, bool visual, char *result,
                  DWORD resultSize, const char *savedFolder)
{
    int g = GetOsGeneration();
    DropPanelFileData();
    LastSelectedName[0] = 0;
    KeptErrorSlot slot;
    int answer = visual ? HandOverToVisualOpen(ofn, context) : -1;
    bool thumbnail = answer >= 0;
    if (!thumbnail)
        answer = GetOpenFileNameA(&ofn) ? 1 : 0;
    /* A palette pick answers with a palette or not at all. */
    bool noPalette = answer && PalettePickInEffect && !PalettePickInEffect->palette;
    if (noPalette)
        answer = 0;
    if (answer) {
        LastOpenFilterIndex = context.typeIndex;
        if (thumbnail) {
            /* The thumbnail dialog's answer as it stands, never beyond our buffer. */
            if (result)
                memcpy(result, context.address, resultSize < context.size ? resultSize
                                                                           : context.size);
        } else {
            BuildResultList(result, resultSize, context, g);
        }
    } else {
        SetCurrentDirectoryA(savedFolder);
    }
    slot.RestoreUnlessFailed(answer);
    if (noPalette)
        RecordError(nullptr, LineForm, 1720, 613, 4026);
    DropPanelFileData();
    LastSelectedName[0] = 0;
    DlgOfn = nullptr;
    DlgContext = nullptr;
    DlgRequest = nullptr;
    GlobalUnlock(context.buffer);
    GlobalFree(context.buffer);
    return answer;
}

} // namespace

/******************************************************************
 *      q32FileGetOpenFileName  (exported)
 */
extern "C" int Q32FILEAPI q32FileGetOpenFileName(OpenFileRequest *request)
{
    if (!request)
        return 0;
    OpenDialogContext context = {};
    if (!OpenBuffer(context))
        return 0;
    context.typeIndex = LastOpenFilterIndex;
    context.request = request;

    PalettePickInEffect = nullptr;
    /* The module's filter string is lent to the request for the call only: the cache it
       lives in may be rebuilt before the caller's next call, and a block used again must
       still read as one that asks for the module's filter. */
    const char *callerFilter = request->filter;
    q32::ScopeExit giveBack([&] { request->filter = callerFilter; });
    if (!request->filter) {
        PalettePick *pick = request->size > 96 ? request->palettePick : nullptr;
        if (pick)
            pick->palette = nullptr;
        PalettePickInEffect = pick;
        context.list = CachedOpenList(pick != nullptr);
        request->filter = (const char *)FilterAction(context.list, FILTER_TEXT, 0);
        if (pick) {
            context.typeIndex = (int)FilterAction(context.list, FILTER_COUNT, 0) - 1;
        } else if (request->defExt) {
            int format = q32FileGetFormatID(request->defExt, nullptr);
            context.typeIndex =
                format > 0 ? (int)FilterAction(context.list, FILTER_INDEX_OF, (DWORD)format) : 0;
        }
    } else {
        context.callerFilter = 1;
        CachedOpenList(0);
    }

    char savedFolder[Q32_MAX_NAME] = "";
    GetCurrentDirectoryA(sizeof savedFolder, savedFolder);

    OPENFILENAMEA ofn = {};
    ofn.hwndOwner = request->owner;
    ofn.hInstance = ResourceModule;
    ofn.lpstrFilter = request->filter;
    ofn.nFilterIndex = request->filterIndex;
    ofn.lpstrFile = context.address;
    ofn.nMaxFile = context.size;
    ofn.lpstrInitialDir = request->initialDir;
    ofn.lpstrTitle = request->title;
    ofn.lpstrDefExt = request->defExt;
    ofn.lCustData = (LPARAM)&context;
    DWORD flags = request->flags;
    if ((flags & OFN_SHOWHELP) || request->help) {
        flags &= ~OFN_SHOWHELP;
        request->help = 1;
    }
    const DWORD base = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLETEMPLATE |
                       OFN_ENABLEHOOK | OFN_HIDEREADONLY;
    ChooseDialogStyle(ofn, GetOsGeneration(), base, flags);

    /* The thumbnail dialog picks no palette. */
    bool visual = VisualOpenWanted() && !request->noVisualOpen && !PalettePickInEffect;
    int answer = RunOpenDialog(ofn, context, visual, request->result, request->resultSize,
                               savedFolder);
    PalettePickInEffect = nullptr;
    return answer;
}

/******************************************************************
 *      q32FileShowOpenDlg1  (exported)
 *
 * The open dialog from plain arguments: mode null (one file), 1 (several) or a palette
 * pick.
 */
extern "C" int Q32FILEAPI q32FileShowOpenDlg1(HWND owner, const char *initialDir, void *mode,
                                              char *result, int resultSize,
                                              const OpenHelpInfo *helpInfo, const char *title)
{
    char savedFolder[Q32_MAX_NAME] = "";
    GetCurrentDirectoryA(sizeof savedFolder, savedFolder);
    PalettePick *pick = mode && mode != (void *)1 ? (PalettePick *)mode : nullptr;
    if (pick)
        pick->palette = nullptr;
    if (qfFileGetFileFmtNum() <= 0)
        return 0;
    OpenDialogContext context = {};
    context.list = CachedOpenList(pick != nullptr);
    if (!context.list || !OpenBuffer(context))
        return 0;
    PalettePickInEffect = pick;
    context.typeIndex = pick ? (int)FilterAction(context.list, FILTER_COUNT, 0) - 1
                             : LastOpenFilterIndex;
    OpenFileRequest request = {};
    request.size = sizeof request;
    request.help = helpInfo ? 1 : 0;
    request.helpInfo = helpInfo;
    context.request = &request;

    char fileTitle[Q32_MAX_NAME] = "";
    OPENFILENAMEA ofn = {};
    ofn.hwndOwner = owner;
    ofn.hInstance = ResourceModule;
    ofn.lpstrFilter = (const char *)FilterAction(context.list, FILTER_TEXT, 0);
    ofn.nFilterIndex = (DWORD)context.typeIndex + 1;
    ofn.lpstrFile = context.address;
    ofn.nMaxFile = context.size;
    ofn.lpstrFileTitle = fileTitle;
    ofn.nMaxFileTitle = sizeof fileTitle;
    ofn.lpstrInitialDir = initialDir;
    ofn.lpstrTitle = title;
    ofn.lCustData = (LPARAM)&context;
    const DWORD base = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                       OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
    ChooseDialogStyle(ofn, GetOsGeneration(), base, mode == (void *)1 ? OFN_ALLOWMULTISELECT : 0);

    int answer = RunOpenDialog(ofn, context, VisualOpenWanted() && !mode, result,
                               resultSize > 0 ? (DWORD)resultSize : 0, savedFolder);
    if (!answer && pick && pick->palette) {
        DeleteObject(pick->palette);
        pick->palette = nullptr;
    }
    PalettePickInEffect = nullptr;
    return answer;
}

/******************************************************************
 *      q32FileShowOpenDlg  (exported)
 */
extern "C" int Q32FILEAPI q32FileShowOpenDlg(HWND owner, const char *initialDir, void *mode,
                                             char *result, int resultSize,
                                             const OpenHelpInfo *helpInfo)
{
    return q32FileShowOpenDlg1(owner, initialDir, mode, result, resultSize, helpInfo, nullptr);
}
