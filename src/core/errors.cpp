/* Error reporting: one record in the common library's shared slot, or a message box. */
#include "core.h"
#include <shlwapi.h>
#include <string.h>

namespace {
/* Loads string id from module's table, or the common library's when module is null. */
void LoadText(HMODULE module, UINT id, char *buffer, int size)
{
    if (module) LoadStringA(module, id, buffer, size);
    else c32GetString(id, buffer, size);
}
}

/******************************************************************
 *      RecordError
 */
void RecordError(HMODULE module, int where1, int where2, int where3, UINT stringId,
                 ULONG_PTR arg1, ULONG_PTR arg2)
{
    char text[1024] = "";
    LoadText(module, stringId, text, sizeof text);

    char formatted[1024];
    const char *error = text;
    if (arg1) {
        if (arg2) wnsprintfA(formatted, sizeof formatted, text, arg1, arg2);
        else wnsprintfA(formatted, sizeof formatted, text, arg1);
        error = formatted;
    }
    c32SetDLLErrInfo(error, stringId, 0, where1, where2, where3);
}

/******************************************************************
 *      RecordErrorDetail
 */
void RecordErrorDetail(HMODULE module, int where1, int where2, int where3, UINT stringId,
                       const char *detail)
{
    char text[1024] = "";
    LoadText(module, stringId, text, sizeof text);
    size_t length = strlen(text);
    if (detail && *detail && length + 1 < sizeof text) {
        if (length) text[length++] = ' ';
        CopyText(text + length, sizeof text - length, detail);
    }
    c32SetDLLErrInfo(text, stringId, 0, where1, where2, where3);
}

/******************************************************************
 *      ShowError
 */
void ShowError(HMODULE module, UINT stringId, int where1, int where2, int where3, int keep,
               const char *extraText)
{
    char title[Q32_MAX_NAME] = "";
    c32GetMbTitle(title, sizeof title);
    char message[Q32_MAX_NAME] = "";
    LoadText(module, stringId, message, sizeof message);

    C32MBBLOCK block = {};
    block.title = title;
    block.text = message;
    block.style = 1;
    block.stringId = stringId;
    block.where1 = where1;
    block.where2 = where2;
    block.where3 = where3;
    block.keep = keep;
    block.extraText = extraText;

    if (!keep) c32ResetDLLErrInfo();
    MessageBeep(MB_ICONASTERISK);
    c32ShowMb(&block);
}
