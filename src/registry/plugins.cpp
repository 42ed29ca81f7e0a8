/* The plug-in interface: loading, binding and unloading plug-in modules. */
#include "registry.h"
#include <string.h>

const int EntrySlotOffsets[EntrySlots] = {
    QF_ENTRY_COMMAND, QF_ENTRY_GETFORMATINFO, QF_ENTRY_GETFILEDATA, QF_ENTRY_READ,
    QF_ENTRY_WRITE, QF_ENTRY_SHOWDLGFILEDATA, QF_ENTRY_SHOWDLGSAVEOPTION,
    QF_ENTRY_SHOWDLGOPENOPTION, QF_ENTRY_READVECTOR, QF_ENTRY_WRITEVECTOR,
    QF_ENTRY_GETPROPERTY, QF_ENTRY_SHOWPROPERTY,
};

/******************************************************************
 *      LoadPluginModule
 *
 * Loads fileName with folder as the current directory, so that the plug-in's own
 * libraries in that folder are found, and restores the current directory whatever
 * happens. A current directory that cannot be kept whole refuses the load.
 */
HMODULE LoadPluginModule(const char *folder, const char *fileName)
{
    char saved[Q32_MAX_NAME];
    DWORD n = GetCurrentDirectoryA(sizeof saved, saved);
    if (n == 0 || n >= sizeof saved) return nullptr;
    SetCurrentDirectoryA(folder);
    HMODULE module = LoadLibraryA(fileName);
    DWORD reason = module ? 0 : GetLastError();
    SetCurrentDirectoryA(saved);
    if (!module) RecordPluginFailure(ErrPluginNotLoaded, OpLoadPlugin.At(1), fileName, reason);
    return module;
}

/******************************************************************
 *      RecordPluginFailure
 *
 * Records id at site with the plug-in's file name and, for a
 * system error code, the system's text of it after the message.
 */
void RecordPluginFailure(UINT id, ErrorSite site, const char *fileName, DWORD reason)
{
    char detail[Q32_MAX_NAME + 256];
    size_t length = CopyText(detail, sizeof detail, fileName);
    if (reason && length + 3 < sizeof detail) {
        memcpy(detail + length, ": ", 3);
        length += 2;
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, reason, 0, detail + length,
                                 (DWORD)(sizeof detail - length), nullptr);
        while (n && (detail[length + n - 1] == '\r' || detail[length + n - 1] == '\n' ||
                     detail[length + n - 1] == ' '))
            n--;
        if (!n) n = wsprintfA(detail + length, "system error %lu", reason);
        detail[length + n] = 0;
    }
    RecordErrorDetail(nullptr, site, id, detail);
}

/******************************************************************
 *      BindPlugin
 *
 * Loads the plug-in of format and stores the addresses of its twelve entries (null for
 * those it does not export). Each format keeps its own reference to the module.
 */
int BindPlugin(int format)
{
    FormatRecord *record = FormatByNumber(format);
    if (!record) return 0;
    if (record->module) return 1;
    HMODULE module = LoadPluginModule(PluginLoadFolder, record->pluginName);
    if (!module) return 0;
    record->module = module;
    for (int i = 0; i < EntrySlots; i++)
        record->entries[i] = PluginExport(module, record->ordinalBase, EntrySlotOffsets[i]);
    return 1;
}

/******************************************************************
 *      FindEntry
 *
 * The bound address of entry +offset of format; null for an unbound format, a missing
 * export, and every offset that has no slot (13, 21, 22, 24 among them).
 */
FARPROC FindEntry(int format, int offset)
{
    FormatRecord *record = FormatByNumber(format);
    if (!record || !record->module) return nullptr;
    for (int i = 0; i < EntrySlots; i++)
        if (EntrySlotOffsets[i] == offset) return record->entries[i];
    return nullptr;
}

/******************************************************************
 *      UnloadPlugins
 *
 * Frees the module of every bound format. Called once, at detach.
 */
void UnloadPlugins()
{
    for (LONG i = 0; i < Formats->count; i++) {
        FormatRecord &record = Formats->records[i];
        if (record.module) FreeLibrary(record.module);
        record.module = nullptr;
        for (FARPROC &entry : record.entries) entry = nullptr;
    }
}

/******************************************************************
 *      qfFileLoadFIO  (exported)
 *
 * A fresh reference to the plug-in module of format, for the caller to free; NULL when
 * the format does not exist or the plug-in cannot be loaded. Runs under ModuleLock,
 * discovery included.
 */
extern "C" HMODULE Q32FILEAPI qfFileLoadFIO(int format)
{
    ModuleLockScope lock;
    if (!FormatsDiscovered()) return nullptr;
    FormatRecord *record = FormatByNumber(format);
    if (!record) {
        RecordError(nullptr, OpLoadFio.At(1), ErrCannot);
        return nullptr;
    }
    return LoadPluginModule(PluginLoadFolder, record->pluginName);
}
