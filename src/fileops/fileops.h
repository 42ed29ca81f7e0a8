/*
 * File operations through plug-ins: what detection, reading and writing, frames,
 * properties, previews and the option dialogs share.
 */
#ifndef Q32_FILEOPS_H
#define Q32_FILEOPS_H

#include "../registry/registry.h"

/* Operation numbers of the error locations (ModuleId, operation, place). */
enum {
    OpGetFileData = 4, OpShowFormatInfo = 6, OpShowFileData = 7, OpSaveOption = 8,
    OpRead = 9, OpWrite = 10, OpPreviewImage = 13, OpOpenOption = 19,
    OpReadVector = 20, OpWriteVector = 21
};

/* True for 1 <= number <= count. */
bool IsFormatNumber(LONG_PTR number);
FormatRecord &Record(int number);

/* CreateFileA for reading: GENERIC_READ, shared read, existing file. */
HANDLE OpenForRead(const char *name);
/* Index just after the name's last '.', 0 when there is none (multi-byte aware). */
size_t FindExtensionStart(const char *name);
bool IsRiffPalette(const char *name);
bool IsVideoStream(const char *name);

/* Binds format number's plug-in and calls its file-data entry: a FileData handle, 0, -1
   or -2; 0 when the plug-in cannot be bound. */
INT_PTR CallGetFileData(const char *fileName, int number, FormatRecord &record);

/* After a failed plug-in call: when the slot holds 4020 or 4024, records it again at
   the given location with the file name; any other error whose text still holds "%s"
   is named as NameInPluginError does. */
void RerecordPluginError(int where1, int where2, int where3, const char *name);
/* Puts the file name in place of each "%s" of the text in the slot (a plug-in's error
   recorded with a null text, or with its own unformatted one); the identifier and
   location stay as they are. */
void NameInPluginError(const char *name);

/* The open dialog's panel FileData and its last selected name (null and empty when no
   open dialog runs). */
extern HGLOBAL PanelFileData;
extern char LastSelectedName[Q32_MAX_NAME];

#endif
