/* The plug-ins' own dialogs: open and save options, file facts, format information. */
#include "fileops.h"
#include <string.h>

namespace {

/* The bound entry k of format number, or null (plug-in not loadable: 4029 recorded). */
FARPROC EntryOf(int number, int k)
{
    return BindPlugin(number) ? FindEntry(number, k) : nullptr;
}

/* The format number a FileData carries, 0 when it cannot be read. */
LONG_PTR NumberOf(HGLOBAL fileData)
{
    q32::Locked<FileData> data(fileData);
    return data ? (LONG_PTR)data->formatNumber : 0;
}

/* Checks a FileData operation's FileData and format: the format number, or 0 with
   ErrCannot recorded at place 1 (null FileData) or 2 (bad format). */
int FileDataFormat(HGLOBAL fileData, ErrorOperation operation)
{
    if (!fileData) {
        RecordError(nullptr, operation.At(1), ErrCannot);
        return 0;
    }
    LONG_PTR number = NumberOf(fileData);
    if (!IsFormatNumber(number)) {
        RecordError(nullptr, operation.At(2), ErrCannot);
        return 0;
    }
    return (int)number;
}

} // namespace

/******************************************************************
 *      qfFileShowDlgFormatInfo  (exported)
 *
 * The format-information dialog, which no plug-in offers: 0 for every format (after
 * binding its plug-in); 0 with ErrCannot recorded for a bad format number.
 */
extern "C" INT_PTR Q32FILEAPI qfFileShowDlgFormatInfo(LONG_PTR arg1, LONG_PTR arg2, int format,
                                                      LONG_PTR arg4)
{
    if (!FormatsDiscovered()) return 0;
    if (!IsFormatNumber(format)) {
        RecordError(nullptr, OpShowFormatInfo.At(1), ErrCannot);
        return 0;
    }
    auto entry = (PFN_qfDLLShowDlgFormatInfo)EntryOf(format, QF_ENTRY_SHOWDLGFORMATINFO);
    return entry ? entry(arg1, arg2, arg4) : 0;
}

/******************************************************************
 *      qfFileShowDlgFileData  (exported)
 *
 * The plug-in's page of file facts. Result: the plug-in's; 0 on failure.
 */
extern "C" INT_PTR Q32FILEAPI qfFileShowDlgFileData(LONG_PTR arg1, LONG_PTR arg2, HGLOBAL fileData,
                                                    LONG_PTR arg4, LONG_PTR arg5, LONG_PTR arg6)
{
    if (!FormatsDiscovered()) return 0;
    int number = FileDataFormat(fileData, OpShowFileData);
    if (!number) return 0;
    auto entry = (PFN_qfDLLShowDlgFileData)EntryOf(number, QF_ENTRY_SHOWDLGFILEDATA);
    return entry ? entry(arg1, arg2, fileData, arg4, arg5, arg6) : 0;
}

/******************************************************************
 *      qfFileShowDlgSaveOption  (exported)
 *
 * The format's save-option dialog. Result: the plug-in's; -1 on failure or when memory
 * is short.
 */
extern "C" INT_PTR Q32FILEAPI qfFileShowDlgSaveOption(LONG_PTR arg1, LONG_PTR arg2, HGLOBAL fileData,
                                                      LONG_PTR arg4)
{
    if (!ProbeMemory(256000)) return -1;
    if (!FormatsDiscovered()) return -1;
    int number = FileDataFormat(fileData, OpSaveOption);
    if (!number) return -1;
    auto entry = (PFN_qfDLLShowDlgSaveOption)EntryOf(number, QF_ENTRY_SHOWDLGSAVEOPTION);
    return entry ? entry(arg1, arg2, fileData, SuiteIniPath, arg4) : -1;
}

/******************************************************************
 *      qfFileShowDlgOpenOption  (exported)
 *
 * The format's open-option dialog. The plug-in receives its run-time value, or for the
 * "FPX" format the open dialog's selected file name while it holds one. Result: the
 * plug-in's; -1 on failure or when memory is short.
 */
extern "C" INT_PTR Q32FILEAPI qfFileShowDlgOpenOption(LONG_PTR arg1, LONG_PTR arg2, int format,
                                                      LONG_PTR arg4)
{
    if (!ProbeMemory(256000)) return -1;
    if (!FormatsDiscovered()) return -1;
    if (!IsFormatNumber(format)) {
        RecordError(nullptr, OpOpenOption.At(1), ErrCannot);
        return -1;
    }
    auto entry = (PFN_qfDLLShowDlgOpenOption)EntryOf(format, QF_ENTRY_SHOWDLGOPENOPTION);
    if (!entry) return -1;
    const FormatInfo &info = Record(format).info;
    LONG_PTR value = info.runtimeValue;
    if (!strcmp(info.code, "FPX") && PanelFileData && LastSelectedName[0])
        value = (LONG_PTR)LastSelectedName;
    return entry(arg1, arg2, value, SuiteIniPath, arg4);
}
