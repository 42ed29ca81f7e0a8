/*
 * q32File.dll - the file input/output module of the Quill imaging suite.
 *
 * Every export uses the caller-cleans convention (__cdecl) and is exported undecorated
 * (q32file.def). Text is ANSI; names are at most 259 characters (260-byte buffers).
 * Results: 1 for success and 0 for failure, a format number or -1, or a handle or
 * NULL, as each function says. On failure the module records one error in the common
 * library's shared error slot (c32GetDLLErrorInfo in q32Comm.dll reads it).
 */
#ifndef Q32FILE_H
#define Q32FILE_H

#include <windows.h>
#include <stddef.h>

#ifdef Q32FILE_BUILD
#define Q32FILEAPI __cdecl
#else
#define Q32FILEAPI __declspec(dllimport) __cdecl
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Module and plug-in folder ------------------------------------------------------ */

/* Writes the plug-in folder ("FIO\" beside the module, else key FIO3PATH of section
   "Library" of the suite ini file) into buffer: at most min(size, 260) - 1 characters.
   Returns the length written. size must be at least 1. */
int Q32FILEAPI q32FileGetFIOPath(char *buffer, int size);

/* 1 when name matches an existing file (or, for a pattern, anything), else 0. A folder
   whose only attribute is FILE_ATTRIBUTE_DIRECTORY does not count; one with more
   attribute bits does. */
int Q32FILEAPI qfIsFileExist(const char *name);

/* ---- File operations ------------------------------------------------------------------ */

/* The result block of qfFileGetPreviewMem: 262 32-bit fields. */
typedef struct PreviewInfo {
    DWORD reserved;             /*    0: not touched */
    DWORD paletteCount;         /*    4: entries of the image's palette, 0 for none */
    PALETTEENTRY palette[256];  /*    8 */
    DWORD width;                /* 1032: output width in pixels */
    DWORD height;               /* 1036: output height */
    DWORD bytesPerPixel;        /* 1040 */
    DWORD stride;               /* 1044: width x bytes per pixel; rows are not padded */
} PreviewInfo;
#ifdef __cplusplus
static_assert(sizeof(PreviewInfo) == 262 * 4, "PreviewInfo is 262 fields");
static_assert(offsetof(PreviewInfo, paletteCount) == 1 * 4, "PreviewInfo.paletteCount");
static_assert(offsetof(PreviewInfo, palette) == 2 * 4, "PreviewInfo.palette");
static_assert(offsetof(PreviewInfo, width) == 258 * 4, "PreviewInfo.width");
static_assert(offsetof(PreviewInfo, stride) == 261 * 4, "PreviewInfo.stride");
#endif

/* Detects the format of fileName and returns its FileData (the caller frees it with
   q32FileFreeFileData), or NULL. formatHint: NULL, or a buffer of at least 8 bytes with
   a format code or extension to try first; it receives the detected format's code.
   An empty name gives an empty FileData (format 1, 24-bit RGB). */
HGLOBAL Q32FILEAPI qfFileGetFileData(const char *fileName, char *formatHint);
void    Q32FILEAPI q32FileFreeFileData(HGLOBAL fileData);

/* Reads the image that request asks for; the plug-in delivers rows to callback (see
   q32types.h). Result: the plug-in's non-zero result, 0 on failure. */
INT_PTR Q32FILEAPI qfFileRead(HGLOBAL fileData, ImageRequest *request, RowCallback callback);
/* Writes through a work file that replaces the target only on success. 1 on success. */
int     Q32FILEAPI qfFileWrite(HGLOBAL fileData, ImageRequest *request, RowCallback callback);
INT_PTR Q32FILEAPI qfFileReadVector(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3, LONG_PTR arg4);
/* 1 on success, -1 when the format does not write vector data. */
int     Q32FILEAPI qfFileWriteVector(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3, LONG_PTR arg4);

/* Frames of multi-image files: the plug-in's result, 0 when no plug-in could be asked. */
INT_PTR Q32FILEAPI qfFileReadFrame(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3);
INT_PTR Q32FILEAPI qfFileReadFrameIndex(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3, LONG_PTR index);
INT_PTR Q32FILEAPI qfFileWriteFrame(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3);

/* Property blocks (see PropertyBlock in q32types.h). */
INT_PTR Q32FILEAPI qfFileGetProperty(HGLOBAL fileData, HGLOBAL *property);
int     Q32FILEAPI qfFileSetProperty(HGLOBAL fileData, HGLOBAL block);
INT_PTR Q32FILEAPI qfFileShowProperty(LONG_PTR arg1, HGLOBAL fileData, LONG_PTR arg3, LONG_PTR arg4,
                                      LONG_PTR arg5);
int     Q32FILEAPI qfFileFreeProperty(HGLOBAL fileData, HGLOBAL block);

/* Previews: the file reduced on the fly to fit the box; pixels must hold
   boxWidth x boxHeight x 4 bytes. 1 when a (whole or partial) picture was made. */
int Q32FILEAPI qfFileGetPreviewMem(HGLOBAL fileData, PreviewInfo *info, LONG_PTR reserved,
                                   BYTE *pixels, int boxWidth, int boxHeight);
/* Always 0: no plug-in offers its own preview. */
int Q32FILEAPI qfFileGetPreviewImage(HGLOBAL fileData);

/* The plug-ins' dialogs: their results; failure 0 (format info, file data) or -1. */
INT_PTR Q32FILEAPI qfFileShowDlgFormatInfo(LONG_PTR arg1, LONG_PTR arg2, int format, LONG_PTR arg4);
INT_PTR Q32FILEAPI qfFileShowDlgFileData(LONG_PTR arg1, LONG_PTR arg2, HGLOBAL fileData,
                                         LONG_PTR arg4, LONG_PTR arg5, LONG_PTR arg6);
INT_PTR Q32FILEAPI qfFileShowDlgOpenOption(LONG_PTR arg1, LONG_PTR arg2, int format, LONG_PTR arg4);
INT_PTR Q32FILEAPI qfFileShowDlgSaveOption(LONG_PTR arg1, LONG_PTR arg2, HGLOBAL fileData, LONG_PTR arg4);

#ifdef __cplusplus
}
#endif

#endif
