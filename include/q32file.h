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
#define Q32FILE_ASSERT static_assert
#else
#define Q32FILE_ASSERT _Static_assert
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

Q32FILE_ASSERT(sizeof(FilterEntry) == 16, "FilterEntry is 16 bytes");
Q32FILE_ASSERT(offsetof(FilterEntry, format) == 4, "FilterEntry.format");
Q32FILE_ASSERT(offsetof(FilterEntry, optionFlags) == 6, "FilterEntry.optionFlags");
Q32FILE_ASSERT(offsetof(FilterEntry, formatFlags) == 8, "FilterEntry.formatFlags");
Q32FILE_ASSERT(offsetof(FilterEntry, typeMask) == 12, "FilterEntry.typeMask");
#if !defined(_WIN64)
Q32FILE_ASSERT(sizeof(FilterList) == 16, "FilterList header is 16 bytes");
Q32FILE_ASSERT(offsetof(FilterList, count) == 4, "FilterList.count");
Q32FILE_ASSERT(offsetof(FilterList, entries) == 8, "FilterList.entries");
Q32FILE_ASSERT(offsetof(FilterList, text) == 12, "FilterList.text");
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

#ifdef __cplusplus
}
#endif

#endif
