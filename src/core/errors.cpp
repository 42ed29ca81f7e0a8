/* Error reporting: one record in the common library's shared slot, or a message box.
   WriteSlot is the module's only writer of the slot. */
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

void WriteSlot(const char *text, UINT id, int zero, ErrorSite site)
{
    c32SetDLLErrInfo(text, id, zero, site.where1, site.where2, site.where3);
}
}

/******************************************************************
 *      RecordError
 */
void RecordError(HMODULE module, ErrorSite site, UINT stringId, ULONG_PTR arg1,
                 ULONG_PTR arg2)
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
    WriteSlot(error, stringId, 0, site);
}

/******************************************************************
 *      RecordErrorDetail
 */
void RecordErrorDetail(HMODULE module, ErrorSite site, UINT stringId, const char *detail)
{
    char text[1024] = "";
    LoadText(module, stringId, text, sizeof text);
    size_t length = strlen(text);
    if (detail && *detail && length + 1 < sizeof text) {
        if (length) text[length++] = ' ';
        CopyText(text + length, sizeof text - length, detail);
    }
    WriteSlot(text, stringId, 0, site);
}

/******************************************************************
 *      ReadErrorRecord / RestoreErrorRecord
 */
ErrorRecord ReadErrorRecord()
{
    ErrorRecord record = {};
    c32GetDLLErrorInfo(record.text, &record.id, &record.zero, &record.site.where1,
                       &record.site.where2, &record.site.where3);
    return record;
}

void RestoreErrorRecord(const ErrorRecord &record)
{
    if (!record.id && !record.text[0]) c32ResetDLLErrInfo();
    else WriteSlot(record.text, record.id, record.zero, record.site);
}

/******************************************************************
 *      ShowError
 */
void ShowError(HMODULE module, UINT stringId, ErrorSite site, int keep, const char *extraText)
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
    block.where1 = site.where1;
    block.where2 = site.where2;
    block.where3 = site.where3;
    block.keep = keep;
    block.extraText = extraText;

    if (!keep) c32ResetDLLErrInfo();
    MessageBeep(MB_ICONASTERISK);
    c32ShowMb(&block);
}
