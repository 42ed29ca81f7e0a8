/* Frames of multi-image files and format property blocks. */
#include "fileops.h"
#include <string.h>

namespace {

enum { CommandReadFrame = 26, CommandWriteFrame = 27 };

/* The format number of a FileData, -1 (error recorded) when there is none. */
int FormatOfFileData(HGLOBAL fileData)
{
    if (!FormatsDiscovered()) return -1;
    if (!fileData) {
        RecordError(nullptr, UnitFileOps.At(3024), ErrCannot);
        return -1;
    }
    LONG_PTR number = -1;
    {
        q32::Locked<FileData> data(fileData);
        if (data) number = data->formatNumber;
    }
    if (!IsFormatNumber(number)) {
        RecordError(nullptr, OpShowFileData.At(3034), ErrCannot);
        return -1;
    }
    return (int)number;
}

/* Calls the plug-in's command entry; 0 when no plug-in could be called. */
INT_PTR FrameCommand(HGLOBAL fileData, int command, LONG_PTR arg2, LONG_PTR arg3, LONG_PTR index)
{
    int number = FormatOfFileData(fileData);
    if (number < 0 || !BindPlugin(number)) return 0;
    auto entry = (PFN_qfDLLCommand)FindEntry(number, QF_ENTRY_COMMAND);
    if (!entry) {
        RecordError(nullptr, OpShowFileData.At(3035), ErrCannot);
        return 0;
    }
    INT_PTR result = entry(fileData, command, arg2, arg3, index);
    if (!result) {
        char name[Q32_MAX_NAME] = "";
        {
            q32::Locked<FileData> data(fileData);
            if (data) CopyText(name, sizeof name, data->name);
        }
        NameInPluginError(name);
    }
    return result;
}

/* What freeing a property block does with an item's handle. */
enum HandleTreatment { KeepHandle, FreeHandle, UnlockAndFreeHandle };

HandleTreatment TreatmentOf(WORD type)
{
    switch (type) {
    case 1: case 5: case 10: case 11: case 12: case 13: case 14: return UnlockAndFreeHandle;
    case 8: case 9: return FreeHandle;
    default: return KeepHandle;
    }
}

} // namespace

/******************************************************************
 *      qfFileReadFrameIndex, qfFileReadFrame, qfFileWriteFrame  (exported)
 *
 * Hand a frame request to the plug-in's command entry and return its result; 0 when
 * no plug-in could be called (error recorded).
 */
extern "C" INT_PTR Q32FILEAPI qfFileReadFrameIndex(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3,
                                                   LONG_PTR index)
{
    return FrameCommand(fileData, CommandReadFrame, arg2, arg3, index);
}

extern "C" INT_PTR Q32FILEAPI qfFileReadFrame(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3)
{
    return FrameCommand(fileData, CommandReadFrame, arg2, arg3, -1);
}

extern "C" INT_PTR Q32FILEAPI qfFileWriteFrame(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3)
{
    return FrameCommand(fileData, CommandWriteFrame, arg2, arg3, -1);
}

/******************************************************************
 *      qfFileGetProperty  (exported)
 *
 * Stores the FileData's attached property block at *property, or asks the plug-in for
 * one (not attached). Result 1 or the plug-in's result; 0 on failure.
 */
extern "C" INT_PTR Q32FILEAPI qfFileGetProperty(HGLOBAL fileData, HGLOBAL *property)
{
    if (!FormatsDiscovered()) return 0;
    if (!fileData || !property) {
        RecordError(nullptr, OpShowFileData.At(2606), ErrCannot);
        return 0;
    }
    LONG_PTR number = 0;
    {
        q32::Locked<FileData> data(fileData);
        if (!data) {
            RecordError(nullptr, OpShowFileData.At(2606), ErrCannot);
            return 0;
        }
        if (HGLOBAL attached = FileDataGetProperty(data.get())) {
            *property = attached;
            return 1;
        }
        number = data->formatNumber;
    }
    if (!IsFormatNumber(number)) {
        RecordError(nullptr, OpShowFileData.At(2623), ErrCannot);
        return 0;
    }
    if (!BindPlugin((int)number)) return 0;
    auto entry = (PFN_qfDLLGetProperty)FindEntry((int)number, QF_ENTRY_GETPROPERTY);
    if (!entry) return 1;
    return entry(fileData, property);
}

/******************************************************************
 *      qfFileSetProperty  (exported)
 *
 * Attaches block (null detaches), freeing the block attached before. Result 1; 0 on
 * failure.
 */
extern "C" int Q32FILEAPI qfFileSetProperty(HGLOBAL fileData, HGLOBAL block)
{
    if (!FormatsDiscovered()) return 0;
    if (!fileData) {
        RecordError(nullptr, OpShowFileData.At(2679), ErrCannot);
        return 0;
    }
    HGLOBAL old;
    {
        q32::Locked<FileData> data(fileData);
        if (!data) {
            RecordError(nullptr, OpShowFileData.At(2679), ErrCannot);
            return 0;
        }
        old = FileDataGetProperty(data.get());
    }
    if (old && old != block) qfFileFreeProperty(fileData, old);
    q32::Locked<FileData> data(fileData);
    if (data) FileDataSetProperty(data.get(), block);
    return 1;
}

/******************************************************************
 *      qfFileShowProperty  (exported)
 *
 * Opens the format's property dialog. Result: the plug-in's; -1 on failure.
 */
extern "C" INT_PTR Q32FILEAPI qfFileShowProperty(LONG_PTR arg1, HGLOBAL fileData, LONG_PTR arg3,
                                                 LONG_PTR arg4, LONG_PTR arg5)
{
    if (!FormatsDiscovered()) return -1;
    if (!fileData) {
        RecordError(nullptr, UnitFileOps.At(2722), ErrCannot);
        return -1;
    }
    LONG_PTR number = 0;
    {
        q32::Locked<FileData> data(fileData);
        if (data) number = data->formatNumber;
    }
    if (!IsFormatNumber(number)) {
        RecordError(nullptr, OpShowFileData.At(2732), ErrCannot);
        return -1;
    }
    if (!BindPlugin((int)number)) return -1;
    auto entry = (PFN_qfDLLShowProperty)FindEntry((int)number, QF_ENTRY_SHOWPROPERTY);
    return entry ? entry(arg1, fileData, arg3, arg4, arg5) : -1;
}

/******************************************************************
 *      qfFileFreeProperty  (exported)
 *
 * Frees a property block and the handles its items own. With a FileData, only the
 * block attached to it is freed (and detached). Result 1; 0 when the block is not the
 * FileData's.
 */
extern "C" int Q32FILEAPI qfFileFreeProperty(HGLOBAL fileData, HGLOBAL block)
{
    q32::Locked<FileData> data(fileData);
    if (fileData) {
        if (!data || FileDataGetProperty(data.get()) != block) return 0;
    }
    if (block) {
        SIZE_T size = GlobalSize(block);
        if (q32::Locked<PropertyBlock> items{block}) {
            /* Only the items that lie inside the block are looked at. */
            SIZE_T room = size > offsetof(PropertyBlock, items)
                              ? (size - offsetof(PropertyBlock, items)) / sizeof(PropertyItem) : 0;
            DWORD count = items->count < room ? items->count : (DWORD)room;
            for (DWORD i = 0; i < count; i++) {
                const PropertyItem &item = items->items[i];
                switch (TreatmentOf(item.type)) {
                case UnlockAndFreeHandle:
                    if (item.handle) { GlobalUnlock(item.handle); GlobalFree(item.handle); }
                    break;
                case FreeHandle:
                    if (item.handle) GlobalFree(item.handle);
                    break;
                case KeepHandle: break;
                }
            }
        }
        GlobalFree(block);
    }
    if (data) FileDataSetProperty(data.get(), nullptr);
    return 1;
}
