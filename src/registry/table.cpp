/* The FormatTable: one record per registered format, sorted by code. */
#include "registry.h"
#include "q32misc.h"
#include <string.h>

FormatTable *Formats;
HGLOBAL FormatsBlock;

namespace {
bool SameFormat(const FormatRecord &a, const FormatRecord &b)
{
    return strcmp(a.info.code, b.info.code) == 0 &&
           strcmp(a.info.description, b.info.description) == 0;
}
}

/******************************************************************
 *      AddFormatRecord
 *
 * A record whose code and description (case-sensitive) are already registered is
 * dropped, and so is any record once the table holds capacity - 1. Otherwise it goes
 * before the first record whose code is greater (case ignored): equal codes keep the
 * order in which they came.
 */
void AddFormatRecord(FormatTable *table, const FormatRecord &record)
{
    FormatRecord *records = table->records;
    LONG count = table->count;
    for (LONG i = 0; i < count; i++)
        if (SameFormat(records[i], record)) return;
    if (count + 1 >= table->capacity || count + 1 >= TableSlots) return;

    LONG at = 0;
    while (at < count && lstrcmpiA(records[at].info.code, record.info.code) <= 0) at++;
    memmove(&records[at + 1], &records[at], (count - at) * sizeof(FormatRecord));
    records[at] = record;
    table->count = count + 1;
}

/******************************************************************
 *      FormatByNumber
 */
FormatRecord *FormatByNumber(int format)
{
    if (!Formats || format < 1 || format > Formats->count) return nullptr;
    return &Formats->records[format - 1];
}

/******************************************************************
 *      FormatsDiscovered
 *
 * Every operation that needs formats starts here: an empty table runs discovery.
 */
bool FormatsDiscovered()
{
    if (!Formats) return false;
    return Formats->count != 0 || qfFileGetFileFmtNum() > 0;
}

/******************************************************************
 *      CreateFormatTable
 *
 * The attach's table part: the common library's strings, the plug-in folder, the empty
 * FormatTable, the default extension lists and the load folder.
 */
BOOL CreateFormatTable()
{
    char text[64];
    if (!c32GetString(ErrLowMemory, text, sizeof text)) return FALSE;

    char scratch[Q32_MAX_NAME] = "";
    q32MiscGetSuiteFolder(scratch);

    q32FileGetFIOPath(PluginFolder, sizeof PluginFolder);

    FormatsBlock = Sys.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(FormatTable));
    Formats = FormatsBlock ? static_cast<FormatTable *>(GlobalLock(FormatsBlock)) : nullptr;
    if (!Formats) {
        if (FormatsBlock) GlobalFree(FormatsBlock);
        FormatsBlock = nullptr;
        RecordError(nullptr, UnitState.At(198), ErrLowMemory);
        return FALSE;
    }
    Formats->refCount = 1;
    Formats->capacity = TableCapacity;
    Formats->count = 0;

    WriteDefaultExtensions();

    CopyText(PluginLoadFolder, sizeof PluginLoadFolder, PluginFolder);
    qfdDelSlash(PluginLoadFolder);
    return TRUE;
}

/******************************************************************
 *      ReleaseFormatTable
 *
 * Unloads the plug-ins and frees the FormatTable; nothing when there is none.
 */
void ReleaseFormatTable()
{
    if (!Formats) return;
    UnloadPlugins();
    Formats->refCount--;
    GlobalUnlock(FormatsBlock);
    GlobalFree(FormatsBlock);
    Formats = nullptr;
    FormatsBlock = nullptr;
}
