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
#include "q32types.h"

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
Q32_STATIC_ASSERT(sizeof(PreviewInfo) == 262 * 4, "PreviewInfo is 262 fields");
Q32_STATIC_ASSERT(offsetof(PreviewInfo, paletteCount) == 1 * 4, "PreviewInfo.paletteCount");
Q32_STATIC_ASSERT(offsetof(PreviewInfo, palette) == 2 * 4, "PreviewInfo.palette");
Q32_STATIC_ASSERT(offsetof(PreviewInfo, width) == 258 * 4, "PreviewInfo.width");
Q32_STATIC_ASSERT(offsetof(PreviewInfo, stride) == 261 * 4, "PreviewInfo.stride");

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

/* ---- File information texts, path and help utilities, companion lookup ------------- */

/* Size of the text buffer that q32FileSizeToAscii and q32FileSizeToAsciiEx fill: the
   number (at most 27 characters: twenty digits with separators, or a sign and twenty
   digits) and a unit text of at most 31 characters. They never write more. */
#define Q32_SIZE_TEXT_SIZE 64
/* Size of the text buffer that GetFileDateTimeToAscii fills; a longer date and time
   text is cut at a character boundary to Q32_DATE_TEXT_SIZE - 1 bytes. */
#define Q32_DATE_TEXT_SIZE 128

/* Writes size with a unit into text (Q32_SIZE_TEXT_SIZE bytes). unit 0 bytes, 1 KB,
   2 MB, 3 GB; any other value (compared unsigned) chooses the unit from the size.
   Separators come from the "intl" section of the user profile (sDecimal, sThousand),
   read on each call. Fractions are cut, never rounded: one decimal above 10, two up to
   10, none above 100. Whole parts of any size below 2^64 are shown exactly; a size that
   is no number or 2^64 units or more is shown as "?". */
void Q32FILEAPI q32FileSizeToAsciiEx(double size, char *text, int unit);
/* q32FileSizeToAsciiEx of (double)size. */
void Q32FILEAPI q32FileSizeToAscii(long size, char *text, int unit);

/* Writes the local date and time of the file's last change, "DATE  TIME" (two spaces;
   24-hour time when "iTime" of the "intl" section is non-zero), into text
   (Q32_DATE_TEXT_SIZE bytes). Returns the text's length; an empty text and 0 when the
   file cannot be opened. */
int Q32FILEAPI GetFileDateTimeToAscii(const char *fileName, char *text);

/* Copies the display name of an image data type into text (textSize bytes). Returns the
   name's string identifier, or 0 for an unknown type (whose "unknown" name is copied). */
int Q32FILEAPI q32FileGetImageTypeString(unsigned type, char *text, int textSize);
/* Copies the name of compression method code (0..13) into text. Returns 15600 + code,
   or 0 for a code above 13 (whose "unknown" name is copied). */
int Q32FILEAPI q32FileGetCompressTypeString(unsigned code, char *text, int textSize);

/* Follows a shell link: 1 with the target's path in target (260 bytes) and, when the
   buffers are given, the link's arguments and working folder (260 bytes each). A name
   that is no link gives 1 with the name itself in target (long form). 0 with an empty
   target when the name does not exist or the link cannot be resolved. COM must be
   initialised on the calling thread; owner may receive the shell's search window. */
int Q32FILEAPI q32FileResolveLink(HWND owner, const char *name, char *target,
                                  char *arguments, char *workingDir);

/* Writes the help file path of application applicationId (1000..1005), in the form the
   common library's help call takes ("FOLDER\progN.hlp>d"), into buffer: the folder of
   module, then the application's help file name (nothing for 1001 and unknown
   identifiers). At most bufferSize - 1 characters. Returns the length written. */
int Q32FILEAPI q32FileGetHelpFilePath(HMODULE module, int applicationId, char *buffer,
                                      int bufferSize);

/* The program path of a companion application as its set-up registered it: 1004 the
   editor, 1005 the viewer; only a path to an existing file is answered. Writes at most
   bufferSize - 1 characters and returns the path's full length (bufferSize or more:
   the path was cut); 0 when none is found or bufferSize is below 1. */
int Q32FILEAPI q32FileGetPalsModuleName(DWORD reserved1, int applicationId, DWORD reserved2,
                                        char *buffer, int bufferSize);

/* ---- Palette pick and the palette preview control ------------------------------------ */

/* The caller's block of the open dialog's palette-pick mode. */
typedef struct PalettePick {
    char name[260];         /*   0: the palette file's name, when the palette came from one */
    DWORD colors;           /* 260: entries of palette */
    HPALETTE palette;       /* 264: owned by the block; NULL for none */
    DWORD fromPaletteFile;  /* 268 (64-bit: 272): non-zero when read from a palette file */
} PalettePick;

/* The palette preview control: a window class registered when the module is loaded. It
   shows the picture last set with Q32PV_SETPICTURE or, while the open dialog picks a
   palette, that palette's colours as a grid. */
#define Q32PV_CLASSNAME "Q32PV_CLASS"
#define Q32PV_NOTHING    (WM_USER + 1)  /* accepted, does nothing */
#define Q32PV_SETPICTURE (WM_USER + 2)  /* lParam: a PreviewPicture; result 0 */

/* The picture the control shows (one for the whole process: setting it on one control
   sets it for all). Rows of 1, 3 (blue, green, red) or 4 bytes per pixel, top row first. */
typedef struct PreviewPicture {
    DWORD size;             /*  0: sizeof(PreviewPicture) */
    LONG width;             /*  4 */
    LONG height;            /*  8 */
    LONG bytesPerPixel;     /* 12 */
    LONG stride;            /* 16: bytes from one row to the next */
    const BYTE *pixels;     /* 20: the sender's, kept alive while the control shows it */
    HPALETTE palette;       /* 24: the sender's, or NULL */
} PreviewPicture;

#if !defined(_WIN64)
Q32_STATIC_ASSERT(sizeof(PalettePick) == 272, "PalettePick is 272 bytes");
Q32_STATIC_ASSERT(offsetof(PalettePick, colors) == 260, "PalettePick.colors");
Q32_STATIC_ASSERT(offsetof(PalettePick, palette) == 264, "PalettePick.palette");
Q32_STATIC_ASSERT(offsetof(PalettePick, fromPaletteFile) == 268, "PalettePick.fromPaletteFile");
Q32_STATIC_ASSERT(sizeof(PreviewPicture) == 28, "PreviewPicture is seven 32-bit fields");
Q32_STATIC_ASSERT(offsetof(PreviewPicture, stride) == 16, "PreviewPicture.stride");
Q32_STATIC_ASSERT(offsetof(PreviewPicture, pixels) == 20, "PreviewPicture.pixels");
Q32_STATIC_ASSERT(offsetof(PreviewPicture, palette) == 24, "PreviewPicture.palette");
#endif


/* ---- Open dialog ------------------------------------------------------------------------ */

/* The help description a request points to. */
typedef struct OpenHelpInfo {
    DWORD reserved0;          /*  0 */
    DWORD reserved4;          /*  4 */
    const char *helpFile;     /*  8: help file name */
    DWORD context;            /* 12 (64-bit: 16): help context number */
} OpenHelpInfo;

/* The caller's block of q32FileGetOpenFileName. */
typedef struct OpenFileRequest {
    DWORD size;               /*   0: bytes; palettePick is read only when above 96 */
    HWND owner;               /*   4 */
    const char *filter;       /*   8: null: the module's own list (lent here during the call only) */
    DWORD noVisualOpen;       /*  12 */
    DWORD reserved16;         /*  16 */
    DWORD filterIndex;        /*  20: 1-based, given to the common dialog */
    char *result;             /*  24: receives the result list */
    DWORD resultSize;         /*  28 */
    const char *initialDir;   /*  32 */
    const char *title;        /*  36 */
    DWORD flags;              /*  40: OFN_ flags */
    void *userData;           /*  44: the extension dialog's creation parameter */
    DWORD reserved48;         /*  48 */
    DWORD help;               /*  52: help-button flag; set to 1 with OFN_SHOWHELP */
    const OpenHelpInfo *helpInfo; /* 56 */
    HINSTANCE extInstance;    /*  60 */
    const char *extTemplate;  /*  64: name or number, or null */
    const char *defExt;       /*  68: default extension and initial format code */
    DLGPROC extProc;          /*  72 */
    DWORD reserved76[5];      /*  76 */
    PalettePick *palettePick; /*  96 */
} OpenFileRequest;

#if !defined(_WIN64)
Q32_STATIC_ASSERT(offsetof(OpenHelpInfo, helpFile) == 8, "OpenHelpInfo.helpFile");
Q32_STATIC_ASSERT(offsetof(OpenHelpInfo, context) == 12, "OpenHelpInfo.context");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, filter) == 8, "OpenFileRequest.filter");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, filterIndex) == 20, "OpenFileRequest.filterIndex");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, result) == 24, "OpenFileRequest.result");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, flags) == 40, "OpenFileRequest.flags");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, help) == 52, "OpenFileRequest.help");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, helpInfo) == 56, "OpenFileRequest.helpInfo");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, defExt) == 68, "OpenFileRequest.defExt");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, extProc) == 72, "OpenFileRequest.extProc");
Q32_STATIC_ASSERT(offsetof(OpenFileRequest, palettePick) == 96, "OpenFileRequest.palettePick");
Q32_STATIC_ASSERT(sizeof(OpenFileRequest) == 100, "OpenFileRequest is 100 bytes");
#endif

/* Shows the open dialog. Non-zero when the user chose a file: the request's result
   buffer then holds full names, each ended by a zero, and a final empty string. */
int Q32FILEAPI q32FileGetOpenFileName(OpenFileRequest *request);

/* ---- Save dialog ------------------------------------------------------------------------ */

/* The caller's block of q32FileGetSaveFileName. */
typedef struct SaveFileRequest {
    DWORD reserved0;          /*   0 */
    HWND owner;               /*   4 */
    DWORD reserved8[3];       /*   8 */
    DWORD format;             /*  20: out: the format number of the chosen type */
    char *name;               /*  24: 260 bytes: the initial name in, the chosen full name out */
    DWORD maxPath;            /*  28: the longest full path (characters) the caller accepts */
    const char *initialDir;   /*  32 */
    const char *title;        /*  36 */
    DWORD reserved40;         /*  40 */
    void *context;            /*  44: the module's, during the call */
    HGLOBAL fileData;         /*  48: the image's FileData; on success it carries the format */
    DWORD help;               /*  52: non-zero: a help button */
    const OpenHelpInfo *helpInfo; /* 56 */
} SaveFileRequest;

#if !defined(_WIN64)
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, owner) == 4, "SaveFileRequest.owner");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, format) == 20, "SaveFileRequest.format");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, name) == 24, "SaveFileRequest.name");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, maxPath) == 28, "SaveFileRequest.maxPath");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, initialDir) == 32, "SaveFileRequest.initialDir");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, title) == 36, "SaveFileRequest.title");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, context) == 44, "SaveFileRequest.context");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, fileData) == 48, "SaveFileRequest.fileData");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, help) == 52, "SaveFileRequest.help");
Q32_STATIC_ASSERT(offsetof(SaveFileRequest, helpInfo) == 56, "SaveFileRequest.helpInfo");
Q32_STATIC_ASSERT(sizeof(SaveFileRequest) == 60, "SaveFileRequest is 60 bytes");
#endif

/* Shows the save dialog with the formats that can store the FileData's data type,
   starting at its present format. Non-zero when the user chose a name: the name buffer
   holds it, the request's format and the FileData's format number the chosen format.
   0 on cancel or failure. */
int Q32FILEAPI q32FileGetSaveFileName(SaveFileRequest *request);

/* The capability mask (Q32_CAP_* bits) of a mask of Q32_TYPE_* data type bits. */
DWORD Q32FILEAPI q32FileGetFCap(DWORD dataType);

/* The same dialog from plain arguments. mode: NULL for one file, (void *)1 for multiple
   selection, or a PalettePick for the palette pick. helpInfo: NULL for no help button.
   result receives the list as above; non-zero when the user chose. */
int Q32FILEAPI q32FileShowOpenDlg1(HWND owner, const char *initialDir, void *mode,
                                   char *result, int resultSize, const OpenHelpInfo *helpInfo,
                                   const char *title);
/* q32FileShowOpenDlg1 without a title. */
int Q32FILEAPI q32FileShowOpenDlg(HWND owner, const char *initialDir, void *mode, char *result,
                                  int resultSize, const OpenHelpInfo *helpInfo);

/* ---- Visual open: the thumbnail dialog of qvofn.dll ------------------------------------ */

/* The block handed to qGetVisaulOpenFileName (56 bytes in win32). */
typedef struct VisualOpenRequest {
    DWORD size;               /*  0: 56 in win32 (sizeof the block) */
    HWND owner;               /*  4 */
    HINSTANCE instance;       /*  8: the resource module */
    char *result;             /* 12: the open dialog's answer buffer */
    DWORD resultSize;         /* 16 */
    const char *initialDir;   /* 20: or NULL */
    const char *title;        /* 24 */
    DWORD flags;              /* 28: OFN_ flags; OFN_SHOWHELP for help; 0x1 with userData */
    const char *helpFile;     /* 32: with help, else NULL */
    DWORD helpContext;        /* 36: 531 with help, else 0 */
    DWORD answer;             /* 40: 0 on entry; handed to the request's userData target */
    const char *registryKey;  /* 44 */
    DWORD cacheSize;          /* 48: [Visual Open] Cache Size */
    const char *filter;       /* 52: the caller's filter string, or NULL */
} VisualOpenRequest;

#if !defined(_WIN64)
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, instance) == 8, "VisualOpenRequest.instance");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, resultSize) == 16, "VisualOpenRequest.resultSize");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, flags) == 28, "VisualOpenRequest.flags");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, helpContext) == 36, "VisualOpenRequest.helpContext");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, answer) == 40, "VisualOpenRequest.answer");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, registryKey) == 44, "VisualOpenRequest.registryKey");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, cacheSize) == 48, "VisualOpenRequest.cacheSize");
Q32_STATIC_ASSERT(offsetof(VisualOpenRequest, filter) == 52, "VisualOpenRequest.filter");
Q32_STATIC_ASSERT(sizeof(VisualOpenRequest) == 56, "VisualOpenRequest is 56 bytes");
#endif

/* The thumbnail dialog's entry in qvofn.dll: non-zero when the user chose (the result
   buffer then holds the answer), 0 on cancel. */
typedef int(__cdecl *VisualOpenEntry)(VisualOpenRequest *request);

/* Sets whether the thumbnail module is installed (available). With available non-zero,
   state -1 re-reads the user's switch from the suite ini file ([Q32File] "Enable Visual
   Open"); 1 or 0 sets and writes it. */
void Q32FILEAPI q32FileSetVisualOpenStatus(int available, int state);
/* Stores the availability in *available (when not NULL). 0 when not available, else the
   switch read afresh from the suite ini file. */
int Q32FILEAPI q32FileGetVisualOpenStatus(int *available);

/* ---- Formats and their plug-ins ------------------------------------------------------
   A format number is the 1-based position of a format in the module's table of formats
   (sorted by format code); 1..qfFileGetFileFmtNum() are valid. */

/* The number of formats; the first call discovers the plug-ins. 0: none registered. */
int Q32FILEAPI qfFileGetFileFmtNum(void);

/* A new reference to the plug-in module of format, which the caller frees with
   FreeLibrary; NULL on failure. */
HMODULE Q32FILEAPI qfFileLoadFIO(int format);

/* Bytes that the longest qfFileGetFormatExt answer takes (kind 4). */
#define Q32_FORMAT_EXT_SIZE 131
/* qfFileGetFormatExt kinds; any other kind gives the empty text. */
#define QF_EXT_BOTH       1 /* extension list, then user extension list */
#define QF_EXT_LIST       2 /* extension list */
#define QF_EXT_USER       3 /* user extension list */
#define QF_EXT_CODE_LISTS 4 /* code, ';', extension list, user extension list */

/* Writes extension text of format into buffer (Q32_FORMAT_EXT_SIZE bytes); 1, or 0. */
int Q32FILEAPI qfFileGetFormatExt(int format, char *buffer, int kind);

/* A new movable block holding a copy of the format's 112-byte FormatInfo (q32fio.h), for
   the caller to free; NULL on failure. */
HGLOBAL Q32FILEAPI qfFileGetFormatInfo(int format);

/* Full path of the format's plug-in file into buffer of size bytes; 1, or 0 (the buffer
   untouched) when it does not fit. */
int Q32FILEAPI qfFileGetFullPath(int format, char *buffer, int size);

/* Number of the first format whose code, extension list or user list holds extension
   (no dot) and whose description is description, case ignored; NULL matches every
   format. -1 when none does, or both are NULL. */
int Q32FILEAPI q32FileGetFormatID(const char *extension, const char *description);

/* ---- Filter lists ---------------------------------------------------------------------
   One fixed global block (handle = address): the header, the entries, then the text area,
   which is a complete filter string for the common dialogs: filter i (1-based) of the
   dialog is entry i - 1. */

typedef struct FilterEntry {
    WORD  nameOffset;    /*  0: name text, from the start of the text area */
    WORD  patternOffset; /*  2: pattern text, likewise */
    WORD  format;        /*  4: format number; 0 for the all-formats and all-files entries */
    WORD  optionFlags;   /*  6: FILTER_OPEN_OPTIONS | FILTER_SAVE_OPTIONS */
    DWORD formatFlags;   /*  8: FormatInfo flags (low half) and flags2 (high half) */
    DWORD typeMask;      /* 12: the format's type mask */
} FilterEntry;

typedef struct FilterList {
    char         magic[4]; /*  0: "FTR1" */
    LONG         count;    /*  4: entries in use */
    FilterEntry *entries;  /*  8: the entries, right after this header */
    char        *text;     /* 12: the text area, after the last entry slot */
} FilterList;

Q32_STATIC_ASSERT(sizeof(FilterEntry) == 16, "FilterEntry is 16 bytes");
Q32_STATIC_ASSERT(offsetof(FilterEntry, format) == 4, "FilterEntry.format");
Q32_STATIC_ASSERT(offsetof(FilterEntry, optionFlags) == 6, "FilterEntry.optionFlags");
Q32_STATIC_ASSERT(offsetof(FilterEntry, formatFlags) == 8, "FilterEntry.formatFlags");
Q32_STATIC_ASSERT(offsetof(FilterEntry, typeMask) == 12, "FilterEntry.typeMask");
#if !defined(_WIN64)
Q32_STATIC_ASSERT(sizeof(FilterList) == 16, "FilterList header is 16 bytes");
Q32_STATIC_ASSERT(offsetof(FilterList, count) == 4, "FilterList.count");
Q32_STATIC_ASSERT(offsetof(FilterList, entries) == 8, "FilterList.entries");
Q32_STATIC_ASSERT(offsetof(FilterList, text) == 12, "FilterList.text");
#endif

/* FilterEntry.optionFlags */
#define FILTER_OPEN_OPTIONS 0x0001
#define FILTER_SAVE_OPTIONS 0x0002

/* Selection flags of FILTER_BUILD. Without FILTER_ALL_FORMATS a format is listed only when
   its type mask and the flags have a bit in common. */
#define FILTER_ALL_FORMATS 0x20000000 /* every format, after an all-formats entry */
#define FILTER_ALL_FILES   0x00000080 /* an all-files entry last */

/* FilterAction actions and their argument. */
#define FILTER_BUILD    1 /* selection flags -> a new list (the list argument is ignored) */
#define FILTER_FREE     2 /* -> 1 */
#define FILTER_TEXT     3 /* -> address of the text area */
#define FILTER_COUNT    4 /* -> number of entries */
#define FILTER_FORMAT   5 /* entry index -> its format number */
#define FILTER_PATTERN  6 /* entry index -> address of its pattern text */
#define FILTER_NAME     7 /* entry index -> address of its name text */
#define FILTER_OPTIONS  8 /* entry index -> its option flags */
#define FILTER_INDEX_OF 9 /* format number -> index of its first entry, 0 when none */

/* Builds, frees and queries filter lists. Every action but FILTER_BUILD answers 0 for a
   NULL list, and the entry actions answer 0 for an index outside the list. */
INT_PTR Q32FILEAPI FilterAction(HGLOBAL list, int action, DWORD argument);

/* ---- Preference dialog ------------------------------------------------------------- */

struct B32VMBLOCK;
struct B32MEMBLOCK;

/* One page a caller adds to the preference dialog (16 bytes in win32). */
typedef struct PreferenceExtraPage {
    HMODULE module;            /*  0 module holding the page's template */
    DWORD templateId;          /*  4 template identifier (low 16 bits) */
    const char *title;         /*  8 tab text, or NULL for the page's caption */
    DLGPROC procedure;         /* 12 the page's dialog procedure */
} PreferenceExtraPage;

/* The calling application and its help (16 bytes in win32). */
typedef struct PreferenceAppInfo {
    DWORD reserved;            /*  0 not read */
    DWORD applicationId;       /*  4 */
    const char *helpFile;      /*  8 help file path */
    DWORD helpContextBase;     /* 12 context of the first page */
} PreferenceAppInfo;
#if !defined(_WIN64)
Q32_STATIC_ASSERT(sizeof(PreferenceExtraPage) == 16, "PreferenceExtraPage is 16 bytes");
Q32_STATIC_ASSERT(offsetof(PreferenceExtraPage, templateId) == 4, "PreferenceExtraPage.templateId");
Q32_STATIC_ASSERT(offsetof(PreferenceExtraPage, title) == 8, "PreferenceExtraPage.title");
Q32_STATIC_ASSERT(offsetof(PreferenceExtraPage, procedure) == 12, "PreferenceExtraPage.procedure");
Q32_STATIC_ASSERT(sizeof(PreferenceAppInfo) == 16, "PreferenceAppInfo is 16 bytes");
Q32_STATIC_ASSERT(offsetof(PreferenceAppInfo, applicationId) == 4, "PreferenceAppInfo.applicationId");
Q32_STATIC_ASSERT(offsetof(PreferenceAppInfo, helpFile) == 8, "PreferenceAppInfo.helpFile");
Q32_STATIC_ASSERT(offsetof(PreferenceAppInfo, helpContextBase) == 12, "PreferenceAppInfo.helpContextBase");
#endif

/* What a caller of q32ShowTreePreference hands the association page (176 bytes in win32):
   the application's display name and class, and the help of the extension dialogs. */
typedef struct AssociationPageParam {
    char displayName[64];      /*   0 shown in the page's heading */
    char applicationClass[64]; /*  64 the class the formats are associated with */
    PreferenceAppInfo help[3]; /* 128 help file and context (the first two fields are not
                                      read): extension list, entry when adding, when editing */
} AssociationPageParam;
#if !defined(_WIN64)
Q32_STATIC_ASSERT(offsetof(AssociationPageParam, applicationClass) == 64, "AssociationPageParam.applicationClass");
Q32_STATIC_ASSERT(offsetof(AssociationPageParam, help) == 128, "AssociationPageParam.help");
Q32_STATIC_ASSERT(sizeof(AssociationPageParam) == 176, "AssociationPageParam is 176 bytes");
#endif

/* Built-in pages of q32ShowPreference's flags. */
#define PREF_PAGE_MEMORY  0x01
#define PREF_PAGE_DISPLAY 0x02
#define PREF_PAGE_ASSOC   0x10
#define PREF_PAGE_ASSOC2  0x20

/* The tabbed preference dialog: the extra pages, then the built-in pages of flags. 0 when
   cancelled, 0x10000 | the bits of the pages that stored changes when closed with OK,
   what DialogBoxParamA gives when the dialog cannot be made. At most 10 pages in all:
   further pages are left out. appInfo may be NULL. */
INT_PTR Q32FILEAPI q32ShowPreference(HWND owner, int extraPageCount,
                                     const PreferenceExtraPage *extraPages, DWORD flags,
                                     const PreferenceAppInfo *appInfo);
/* q32ShowPreference with a display settings block (four 32-bit fields) lent for the
   dialog's lifetime. */
INT_PTR Q32FILEAPI q32ShowPreferences(HWND owner, int extraPageCount,
                                      const PreferenceExtraPage *extraPages, DWORD flags,
                                      const PreferenceAppInfo *appInfo, DWORD *displaySettings);

/* One page of the tree preference dialog (412 bytes in win32). */
typedef struct TreePageDesc {
    DWORD reserved;            /*   0 not read */
    HMODULE module;            /*   4 module of the template; NULL: the resource module */
    DWORD kind;                /*   8 NULL module: 1 memory, 2 display, 0x10/0x20 associations,
                                      else a template; with a module: the template */
    char group[64];            /*  12 title of the parent page; the own title for a root */
    char title[64];            /*  76 tree and banner text; empty: the page's caption,
                                      written back here */
    DLGPROC procedure;         /* 140 procedure of a page that is not built in */
    LPARAM initValue;          /* 144 the page's creation parameter */
    char helpFile[260];        /* 148 */
    DWORD helpContext;         /* 408 */
} TreePageDesc;
#if !defined(_WIN64)
Q32_STATIC_ASSERT(sizeof(TreePageDesc) == 412, "TreePageDesc is 412 bytes");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, module) == 4, "TreePageDesc.module");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, kind) == 8, "TreePageDesc.kind");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, group) == 12, "TreePageDesc.group");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, title) == 76, "TreePageDesc.title");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, procedure) == 140, "TreePageDesc.procedure");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, initValue) == 144, "TreePageDesc.initValue");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, helpFile) == 148, "TreePageDesc.helpFile");
Q32_STATIC_ASSERT(offsetof(TreePageDesc, helpContext) == 408, "TreePageDesc.helpContext");
#endif

/* The preference dialog with its pages in a tree and the current page's title in a
   banner: 0 when cancelled, 0x10000 when closed with OK, what DialogBoxParamA gives when
   the dialog cannot be made (-1 also without pages). A page whose group names no earlier
   page's title becomes a root. The display settings block is forgotten on return. */
INT_PTR Q32FILEAPI q32ShowTreePreference(HWND owner, int pageCount, TreePageDesc *pages);

/* The display settings: flags 0 to 3 (from the lent settings block, else the ini file)
   and the gamma in hundredths (the ini file). Each address may be NULL. Result 1. */
int Q32FILEAPI GetDispData(DWORD *flag0, DWORD *flag1, DWORD *flag2, DWORD *flag3, DWORD *gamma);

/* The system information dialog (Windows, drives, display, plug-ins): 1 after OK, 0 after
   Cancel. */
INT_PTR Q32FILEAPI q32ShowSystemInfo(HWND owner);

/* The image-buffer settings (buf32VMData mode 0). Its result. */
int Q32FILEAPI GetMemoryData(struct B32VMBLOCK *vmBlock, struct B32MEMBLOCK *memBlock);

#ifdef __cplusplus
}
#endif

#endif
