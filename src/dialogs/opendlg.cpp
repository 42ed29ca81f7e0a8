/* The open dialog: the system's common open dialog set up with the module's panel,
   Options, Find and help buttons, its hooks, and the exported calls that show it. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include "../controls/palctl.h"
#include "q32fio.h"
#include "q32base.h"
#include <string.h>

int LastOpenFilterIndex;

namespace {

/* The window property that holds the dialog's context. */
const char ContextProperty[] = "q32OpenDialogContext";

/* Keeps the context of the OPENFILENAME ofn on the dialog window; gives the context. */
OpenDialogContext *AttachContext(HWND dialog, LPARAM ofn)
{
    auto *context = (OpenDialogContext *)((OPENFILENAMEA *)ofn)->lCustData;
    context->ofn = (OPENFILENAMEA *)ofn;
    SetPropA(dialog, ContextProperty, context);
    return context;
}

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

bool IsPaletteDisplay()
{
    DISP32DEVINFO info = {};
    disp32GetDevInfo(&info);
    return info.kind == DISP32_PALETTE;
}

/* Merges the request's extension dialog into the bottom of the dialog: the dialog grows
   by the extension's client height and takes over its controls, after the preview
   picture in the tab order. */
void MergeExtension(HWND dialog, const OpenFileRequest *request)
{
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
void InitOpenDialog(HWND dialog, OpenDialogContext &context)
{
    if (!context.request->help)
        ShowWindow(GetDlgItem(dialog, IdHelpButton), SW_HIDE);
    SetUpPanel(dialog, context.panel);
    ShowWindow(GetDlgItem(dialog, IdPreviewPicture), SW_HIDE);
    MergeExtension(dialog, context.request);
    q32MoveWindow(dialog, (HWND)-1, 1);
    ShowWindow(GetDlgItem(dialog, IdPreviewButton), SW_HIDE);
    EnableWindow(GetDlgItem(dialog, IdPreviewButton), FALSE);
    SetUpTypeList(dialog, context);
}

void OnFind(HWND dialog, const OpenDialogContext &context)
{
    char pattern[Q32_MAX_NAME] = "";
    GetWindowTextA(NameField(dialog), pattern, sizeof pattern);
    if (!pattern[0]) {
        const char *typePattern = EntryPattern(context, context.typeIndex);
        CopyText(pattern, sizeof pattern,
                 typePattern && *typePattern && strlen(typePattern) <= 30 ? typePattern : "*.*");
    }
    int several = context.ofn && (context.ofn->Flags & OFN_ALLOWMULTISELECT) ? 1 : 0;
    RunFinder(dialog, pattern, several);
}

void OnInitDone(HWND child, OpenDialogContext &context)
{
    HWND parent = GetParent(child);
    SetWindowLongPtrA(parent, GWL_EXSTYLE, WS_EX_DLGMODALFRAME);
    HWND after = GetDlgItem(parent, IDCANCEL);
    for (int id : {IdPreviewButton, IdOptionsButton, IdFindButton, IdHelpButton,
                   IdPreviewPicture, IdInfoText})
        after = AdoptControl(parent, child, id, after);
    EnableWindow(GetDlgItem(parent, IdPreviewPicture), FALSE);
    InitOpenDialog(parent, context);
    context.formerProc =
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

void CallExtProc(const OpenDialogContext &context, HWND dialog, UINT message, WPARAM wParam,
                 LPARAM lParam, INT_PTR *answer)
{
    const OpenFileRequest *request = context.request;
    if (request && request->extProc) {
        INT_PTR result = request->extProc(dialog, message, wParam, lParam);
        if (answer)
            *answer = result;
    }
}

/* The dialog window's commands; true when handled (answer: the procedure's result). */
bool OnCommand(HWND dialog, OpenDialogContext &context, WPARAM wParam, LPARAM lParam,
               LRESULT &answer)
{
    CallExtProc(context, dialog, WM_COMMAND, wParam, lParam, nullptr);
    int id = LOWORD(wParam), code = HIWORD(wParam);
    answer = 0;
    switch (id) {
    case IDOK:
    case IDCANCEL:
        if (code == BN_CLICKED)
            FitAnswerBuffer(dialog, context);
        return false;
    case IdHelpButton:
        ShowDialogHelp(dialog, context.request->helpInfo);
        answer = 1;
        return true;
    case IdOptionsButton:
        OnOptions(dialog, context);
        return true;
    case IdPreviewButton:
        OnPreviewButton(dialog, context.panel);
        return true;
    case IdFindButton:
        OnFind(dialog, context);
        return true;
    case IdTypeList:
        if (code == CBN_SELCHANGE)
            OnTypeChange(dialog, context);
        return false;
    case IdNameEdit:
    case IdNameCombo:
        if (NameFieldChanged(id, code))
            OnNameChange(dialog, context);
        return false;
    }
    return false;
}

} // namespace

OpenDialogContext *OpenContextOf(HWND dialog)
{
    return (OpenDialogContext *)GetPropA(dialog, ContextProperty);
}

/******************************************************************
 *      ExplorerChildHook
 *
 * The hook of the explorer-style dialog; runs in the child made from template 32130.
 * The context is kept on the dialog window, the child's parent.
 */
UINT_PTR CALLBACK ExplorerChildHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        OpenDialogContext *context = AttachContext(GetParent(child), lParam);
        const OpenFileRequest *request = context->request;
        if (!(request->flags & OFN_SHOWHELP) && !request->help)
            ShowWindow(GetDlgItem(child, IdHelpButton), SW_HIDE);
        SetWindowLongPtrA(child, DWLP_USER, lParam);
        if (context->panel.pick) {
            char caption[Q32_MAX_NAME] = "";
            LoadStringA(ResourceModule, 31303, caption, sizeof caption);
            SetWindowTextA(GetParent(child), caption);
        }
        return 1;
    }
    HWND dialog = GetParent(child);
    OpenDialogContext *context = message == WM_NOTIFY ? OpenContextOf(dialog) : nullptr;
    if (!context)
        return 0;
    INT_PTR answer = 0;
    CallExtProc(*context, dialog, message, wParam, lParam, &answer);
    switch (((NMHDR *)lParam)->code) {
    case CDN_INITDONE:
        OnInitDone(child, *context);
        break;
    case CDN_FOLDERCHANGE:
        OnFolderChange(dialog, *context);
        break;
    case CDN_SELCHANGE:
        OnSelectionChange(dialog, *context);
        break;
    }
    return (UINT_PTR)answer;
}

/******************************************************************
 *      OpenDialogProc
 *
 * The old-style dialog's hook and the explorer-style dialog window's procedure.
 */
LRESULT CALLBACK OpenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitOpenDialog(dialog, *AttachContext(dialog, lParam));
        return 1;
    }
    OpenDialogContext *context = OpenContextOf(dialog);
    if (!context)
        return 0;
    WNDPROC former = context->formerProc;
    switch (message) {
    case WM_DESTROY:
        FreePanelBuffer(context->panel);
        context->focusBefore = nullptr;
        break;
    case WM_NCDESTROY: {
        LRESULT answer = former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
        RemovePropA(dialog, ContextProperty);
        return answer;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && IsPaletteDisplay())
            InvalidateRect(GetDlgItem(dialog, IdPreviewPicture), nullptr, TRUE);
        break;
    case WM_SETFOCUS:
        context->focusBefore = IsChild(dialog, (HWND)wParam) ? (HWND)wParam : nullptr;
        break;
    case WM_KILLFOCUS: {
        /* The dialog passes the focus on to a control: keep the one the user was in. */
        LRESULT answer = former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
        HWND gaining = (HWND)wParam, keep = context->focusBefore;
        context->focusBefore = nullptr;
        if (keep && keep != gaining && IsChild(dialog, gaining) && IsChild(dialog, keep) &&
            IsWindowVisible(keep) && IsWindowEnabled(keep))
            SetFocus(keep);
        return answer;
    }
    case WM_HELP:
        ShowDialogHelp(dialog, context->request->helpInfo);
        return 1;
    case WM_COMMAND: {
        LRESULT answer = 0;
        if (OnCommand(dialog, *context, wParam, lParam, answer))
            return answer;
        break;
    }
    }
    return former ? CallWindowProcA(former, dialog, message, wParam, lParam) : 0;
}

namespace {

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
   to result. Restores the current folder on cancel; frees the buffer and the panel's
   FileData in every case. */
int RunOpenDialog(OPENFILENAMEA &ofn, OpenDialogContext &context, bool visual, char *result,
                  DWORD resultSize, const char *savedFolder)
{
    int g = GetOsGeneration();
    KeptErrorSlot slot;
    int answer = visual ? HandOverToVisualOpen(ofn, context) : -1;
    bool thumbnail = answer >= 0;
    if (!thumbnail)
        answer = GetOpenFileNameA(&ofn) ? 1 : 0;
    /* A palette pick answers with a palette or not at all. */
    PalettePick *pick = context.panel.pick;
    bool noPalette = answer && pick && !pick->palette;
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
        RecordError(nullptr, UnitOpenDialog.At(613), ErrCannot);
    DropPanelFileData(context.panel);
    GlobalUnlock(context.buffer);
    GlobalFree(context.buffer);
    return answer;
}

/* The palette preview control draws the pick of the module's global: an open lends it
   its own pick for the call and gives the one before back. */
class LentPick {
public:
    explicit LentPick(PalettePick *pick) : before_(PalettePickInEffect) { PalettePickInEffect = pick; }
    ~LentPick() { PalettePickInEffect = before_; }
    LentPick(const LentPick &) = delete;
    LentPick &operator=(const LentPick &) = delete;

private:
    PalettePick *before_;
};

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

    PalettePick *pick =
        !request->filter && request->size > 96 ? request->palettePick : nullptr;
    LentPick lent(pick);
    context.panel.pick = pick;
    /* The module's filter string is lent to the request for the call only: the cache it
       lives in may be rebuilt before the caller's next call, and a block used again must
       still read as one that asks for the module's filter. */
    const char *callerFilter = request->filter;
    q32::ScopeExit giveBack([&] { request->filter = callerFilter; });
    if (!request->filter) {
        if (pick)
            pick->palette = nullptr;
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
    bool visual = VisualOpenWanted() && !request->noVisualOpen && !pick;
    return RunOpenDialog(ofn, context, visual, request->result, request->resultSize,
                         savedFolder);
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
    LentPick lent(pick);
    context.panel.pick = pick;
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
