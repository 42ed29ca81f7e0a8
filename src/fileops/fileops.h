/*
 * File operations through plug-ins: what detection, reading and writing, frames,
 * properties, previews and the option dialogs share.
 */
#ifndef Q32_FILEOPS_H
#define Q32_FILEOPS_H

#include "../registry/registry.h"

/* The file operations, as their errors name them. OpShowFileData also names the
   FileData's frames and properties. */
constexpr ErrorOperation OpGetFileData = Operation(4), OpShowFormatInfo = Operation(6),
    OpShowFileData = Operation(7), OpSaveOption = Operation(8), OpRead = Operation(9),
    OpWrite = Operation(10), OpPreviewImage = Operation(13), OpOpenOption = Operation(19),
    OpReadVector = Operation(20), OpWriteVector = Operation(21);

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

/* After a failed plug-in call: when the slot holds ErrDamaged or ErrVariant, records it
   again at site with the file name; any other error whose text still holds "%s" is
   named as NameInPluginError does. */
void RerecordPluginError(ErrorSite site, const char *name);
/* Puts the file name in place of each "%s" of the text in the slot (a plug-in's error
   recorded with a null text, or with its own unformatted one); the identifier and
   location stay as they are. */
void NameInPluginError(const char *name);

/* The open dialog's panel FileData and its last selected name (null and empty when no
   open dialog runs). */
extern HGLOBAL PanelFileData;
extern char LastSelectedName[Q32_MAX_NAME];

#endif
