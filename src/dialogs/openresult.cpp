/* The open dialog's answer: the buffer the dialog answers into, grown for long typed
   lists, and the result list built from it. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include <string.h>

namespace {

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

} // namespace

bool OpenBuffer(OpenDialogContext &context)
{
    context.buffer = Sys.globalAlloc(GHND, OpenBufferSize);
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

void FitAnswerBuffer(HWND dialog, OpenDialogContext &context)
{
    HWND edit = NameFieldEdit(dialog);
    if (!edit || !context.ofn)
        return;
    DWORD length = (DWORD)SendMessageA(edit, EM_LINELENGTH, 0, 0);
    if (length > context.size) {
        GlobalUnlock(context.buffer);
        HGLOBAL grown = Sys.globalReAlloc(context.buffer, length + Q32_MAX_NAME,
                                          GMEM_MOVEABLE | GMEM_ZEROINIT);
        if (grown) {
            context.buffer = grown;
            context.size = length + Q32_MAX_NAME;
        }
        context.address = (char *)GlobalLock(context.buffer);
        context.ofn->lpstrFile = context.address;
        context.ofn->nMaxFile = context.size;
    }
    if (context.address)
        GetWindowTextA(edit, context.address, Q32_MAX_NAME);
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
            ShowError(ResourceModule, TextListCut, UnitOpenDialog.At(219), 0, nullptr);
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
