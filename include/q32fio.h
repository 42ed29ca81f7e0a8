/*
 * q32fio.h - the format plug-in kit of q32File. A plug-in builds against this header (on
 * Windows it includes q32types.h: the FileData, the ImageRequest, the row protocol) and
 * against q32comm.h with the import library of q32Comm.dll, whose shared error slot it
 * writes its failures into. docs/plugins.md is the whole contract.
 *
 * Writing a plug-in
 * -----------------
 * A plug-in is a DLL named NAME.fio in the plug-in folder (FIO\ beside q32File.dll). It
 * handles one or more formats, numbered j = 0, 1, 2, ... within the plug-in.
 *
 *  1. Export by name:  int WINAPI qfDLLGetFileFmtNum(void)  - the number of formats (>= 1).
 *     Give it an ordinal outside the entry ranges (qfDLLGetFileFmtNum @1), or the linker
 *     may hand it one that q32File takes for an entry.
 *  2. For each format j, export entries BY ORDINAL ONLY: entry +k of format j is ordinal
 *     QF_ORDINAL(j, k) = 100 * j + k (taken modulo 65536), with k one of the QF_ENTRY_*
 *     offsets below. In a .def file:   PlugGetFormatInfo0 @11 NONAME
 *                                      PlugGetFormatInfo1 @111 NONAME
 *  3. Entry +11 (qfDLLGetFormatInfo) is required for every format: it returns a movable
 *     global memory block (GlobalAlloc(GHND, sizeof(FormatInfo))) holding the format's
 *     FormatInfo. q32File frees the block. Every other entry is optional: q32File treats a
 *     missing one as "the format cannot do that".
 *  4. Every entry uses the WINAPI (callee-cleans) convention and has exactly the argument
 *     list of its PFN_ type below. In C++ declare the entries extern "C". In 32-bit
 *     builds link with -Wl,--kill-at -Wl,--enable-stdcall-fixup so that the undecorated
 *     names in the .def bind to the stdcall entries.
 *  5. Failures are recorded in the common library's shared error slot (q32Comm.dll,
 *     c32SetDLLErrInfo) and signalled by the entry's result. A write entry refuses a
 *     FileData data type that its format cannot store with 4026 and result 0.
 *  6. q32File opens every file handle an entry receives and closes it after the call
 *     (entries +12, +16 and +19 get it at offset 0); an entry never closes one.
 *
 * q32File loads a plug-in during discovery only long enough to ask for its formats, and
 * remembers the answers in a cache file: a plug-in that is unchanged (same size and
 * last-write time) is not loaded at the next start. It loads the plug-in again, and keeps
 * it loaded, the first time one of its formats is used. DllMain must therefore be cheap
 * and must not assume that any entry will follow.
 *
 * FormatInfo.runtimeValue (offset 88) is handed back to entries +12, +16, +18 and +19.
 * A format registered from the cache receives 0 there: the value is a hint, not a
 * promise.
 *
 * The records below are plain fixed-width C and compile anywhere (tools that read the
 * format cache, fuzzers); the entry types need <windows.h>.
 */
#ifndef Q32FIO_H
#define Q32FIO_H

#include <stddef.h>
#include <stdint.h>

#include "q32assert.h"

/* Records shared with the module: FileData, ImageRequest, data types, rows. */
#ifdef _WIN32
#include "q32types.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif


/* ---- What a plug-in declares for each format --------------------------------------- */

/* 112 bytes, the same in 32- and 64-bit builds (it is stored as it stands in the format
   cache file). Fields marked "plug-in" are not read by q32File. */
typedef struct FormatInfo {
    uint16_t flags;            /*   0: non-zero: takes part in detection; FI_OPENS_FILE */
    uint16_t typeCaps;         /*   2: low half of the type mask (Q32_CAP_* bits, not
                                         Q32_TYPE_*): what the format writes */
    uint32_t reserved4;        /*   4: plug-in */
    uint32_t saveOptions;      /*   8: non-zero: the format has a save option dialog */
    uint32_t openOptions;      /*  12: non-zero: the format has an open option dialog */
    uint32_t reserved16;       /*  16: plug-in */
    uint32_t writesVector;     /*  20: non-zero: the format can write vector data */
    int32_t  vectorType;       /*  24: type code of the vector output, -1 for none */
    char     code[4];          /*  28: format code, up to three characters, NUL-terminated */
    char     description[56];  /*  32: description, NUL-terminated within the field */
    uint32_t runtimeValue;     /*  88: the plug-in's own value, handed back to its entries */
    uint16_t reserved92;       /*  92: plug-in */
    uint16_t flags2;           /*  94: second flags word, handed out in filter entries */
    uint16_t typeMaskHigh;     /*  96: high half of the type mask: Q32_CAP_RGB48 >> 16,
                                         Q32_CAP_GREY16 >> 16, Q32_CAP_BGRA64 >> 16 */
    uint8_t  signatureLength1; /*  98: 0..4 */
    uint8_t  signatureLength2; /*  99: 0..4 */
    uint8_t  signature1[4];    /* 100: compared with the file's first bytes */
    uint8_t  signature2[4];    /* 104 */
    uint32_t reserved108;      /* 108: plug-in */
} FormatInfo;

/* FormatInfo.flags bit 15: the plug-in opens the file itself by name; entries +12, +16
   and +19 then receive a null file handle. */
#define FI_OPENS_FILE 0x8000

/* FormatInfo.typeCaps bit 12 (not flags2): the plug-in writes by name; entry +17 then
   receives a null file handle and the work file's name in the FileData's name field. */
#define FI_WRITES_BY_NAME 0x1000

Q32_STATIC_ASSERT(sizeof(FormatInfo) == 112, "FormatInfo is 112 bytes");
Q32_STATIC_ASSERT(offsetof(FormatInfo, typeCaps) == 2, "FormatInfo.typeCaps");
Q32_STATIC_ASSERT(offsetof(FormatInfo, saveOptions) == 8, "FormatInfo.saveOptions");
Q32_STATIC_ASSERT(offsetof(FormatInfo, openOptions) == 12, "FormatInfo.openOptions");
Q32_STATIC_ASSERT(offsetof(FormatInfo, writesVector) == 20, "FormatInfo.writesVector");
Q32_STATIC_ASSERT(offsetof(FormatInfo, vectorType) == 24, "FormatInfo.vectorType");
Q32_STATIC_ASSERT(offsetof(FormatInfo, code) == 28, "FormatInfo.code");
Q32_STATIC_ASSERT(offsetof(FormatInfo, description) == 32, "FormatInfo.description");
Q32_STATIC_ASSERT(offsetof(FormatInfo, runtimeValue) == 88, "FormatInfo.runtimeValue");
Q32_STATIC_ASSERT(offsetof(FormatInfo, flags2) == 94, "FormatInfo.flags2");
Q32_STATIC_ASSERT(offsetof(FormatInfo, typeMaskHigh) == 96, "FormatInfo.typeMaskHigh");
Q32_STATIC_ASSERT(offsetof(FormatInfo, signatureLength1) == 98, "FormatInfo.signatureLength1");
Q32_STATIC_ASSERT(offsetof(FormatInfo, signatureLength2) == 99, "FormatInfo.signatureLength2");
Q32_STATIC_ASSERT(offsetof(FormatInfo, signature1) == 100, "FormatInfo.signature1");
Q32_STATIC_ASSERT(offsetof(FormatInfo, signature2) == 104, "FormatInfo.signature2");

/* ---- Entries: ordinal = 100 * format index + offset --------------------------------- */

#define QF_ORDINAL_STEP 100
#define QF_ORDINAL(format, entry) ((unsigned)(((format) * QF_ORDINAL_STEP + (entry)) & 0xFFFF))

enum QfEntryOffset {
    QF_ENTRY_COMMAND           = 10, /* qfDLLCommand */
    QF_ENTRY_GETFORMATINFO     = 11, /* qfDLLGetFormatInfo (required) */
    QF_ENTRY_GETFILEDATA       = 12, /* qfDLLGetFileData */
    QF_ENTRY_SHOWDLGFORMATINFO = 13, /* qfDLLShowDlgFormatInfo: never called */
    QF_ENTRY_SHOWDLGFILEDATA   = 14, /* qfDLLShowDlgFileData */
    QF_ENTRY_SHOWDLGSAVEOPTION = 15, /* qfDLLShowDlgSaveOption */
    QF_ENTRY_READ              = 16, /* qfDLLRead */
    QF_ENTRY_WRITE             = 17, /* qfDLLWrite */
    QF_ENTRY_SHOWDLGOPENOPTION = 18, /* qfDLLShowDlgOpenOption */
    QF_ENTRY_READVECTOR        = 19, /* qfDLLReadVector */
    QF_ENTRY_WRITEVECTOR       = 20, /* qfDLLWriteVector */
    QF_ENTRY_GETPREVIEWIMAGE   = 22, /* qfDLLGetPreviewImage: never called */
    QF_ENTRY_GETPROPERTY       = 23, /* qfDLLGetProperty */
    QF_ENTRY_SHOWPROPERTY      = 25  /* qfDLLShowProperty */
};

/* The one export by name. */
#define QF_NAME_GETFILEFMTNUM "qfDLLGetFileFmtNum"

/* qfDLLCommand commands. */
#define QF_COMMAND_READFRAME  26 /* values: the caller's two values and the frame index */
#define QF_COMMAND_WRITEFRAME 27 /* values: the caller's two values, then -1 */

/* qfDLLGetFileData answers, besides a FileData handle. */
#define QF_FILEDATA_NOT_MINE     0  /* not this format */
#define QF_FILEDATA_FAILED     (-1) /* failed; the plug-in has recorded an error */
#define QF_FILEDATA_UNSUPPORTED (-2) /* this format, but a variant it cannot handle */

/* ---- Errors ------------------------------------------------------------------------- */

/* Error numbers a plug-in records in the shared error slot: message texts of q32Comm.dll's
   string table (the file texts hold one %s, the file's name). */
#define QF_ERR_NO_MEMORY   1004 /* not enough memory */
#define QF_ERR_OPEN        4004 /* the file cannot be opened */
#define QF_ERR_WRITE       4008 /* the file cannot be written */
#define QF_ERR_DAMAGED     4020 /* the file is damaged or incomplete */
#define QF_ERR_TOO_LARGE   4021 /* the image is too large to be read */
#define QF_ERR_UNSUPPORTED 4024 /* a variant of the format that the plug-in cannot handle */
#define QF_ERR_CANNOT      4026 /* the operation cannot be done */

/* Error places (the last number of an error site: plug-in, entry offset, place) that the
   shipped plug-ins share. A plug-in numbers places of its own from 48 up, or takes its
   decoder's result numbers below 40. */
#define QF_PLACE_ARGUMENTS 40 /* a null or undersized argument, a FileData not of the plug-in */
#define QF_PLACE_OPEN      41 /* the file cannot be opened by name */
#define QF_PLACE_INPUT     42 /* the file cannot be read */
#define QF_PLACE_OUTPUT    43 /* the file cannot be written */
#define QF_PLACE_MEMORY    44 /* memory ran out */
#define QF_PLACE_CHANGED   45 /* the file no longer matches its FileData */
#define QF_PLACE_TYPE      46 /* a data type that the format cannot be written in */
#define QF_PLACE_REGION    47 /* a region outside the image */
#define QF_PLACE_TYPES     57 /* the request takes no type that the rows can become (a
                                 plug-in that numbers 57 itself uses a place of its own) */

/* ---- Frame facts ---------------------------------------------------------------------
 *
 * What a plug-in of multi-frame or oriented files may tell its callers about a file,
 * in the plug-in area of the FileData (FileData.pluginArea264, offset 264), every field
 * 32-bit in both builds. The facts are valid when magic is QF_FACTS_MAGIC; a FileData
 * that an application made for writing has zeros there, and a plug-in that keeps other
 * things in its area never writes the magic. Applications read the facts with
 * QfFileDataFacts. A FileData describes one frame (page, icon image) of the file.
 */
typedef struct QfFrameFacts {
    uint32_t magic;        /* 264: QF_FACTS_MAGIC */
    uint32_t format;       /* 268: the plug-in's own format index */
    uint32_t frameCount;   /* 272: frames (pages, icon images) in the file; 0 = not counted
                              yet (a long animation whose blocks detection does not walk
                              to the end): frame command 26 counts them and sets it */
    uint32_t frame;        /* 276: the frame described, 0-based */
    int32_t  left;         /* 280: the frame's place on the logical screen (animations) */
    int32_t  top;          /* 284 */
    uint32_t screenWidth;  /* 288: the logical screen (animations), else the frame's size */
    uint32_t screenHeight; /* 292 */
    uint32_t delay;        /* 296: the frame's delay in 1/100 s (animations), else 0 */
    int32_t  loopCount;    /* 300: animations: plays of the animation, 0 = forever, -1 = no
                              loop given (played once); else 0 */
    uint32_t orientation;  /* 304: EXIF orientation as the file gives it, 1..8: 1 upright,
                              2 mirrored, 3 turned 180 degrees, 4 flipped, 5..8 turned a
                              quarter (see EXIF); 0 = not given. The rows are delivered as
                              stored, not turned. */
    uint32_t transparent;  /* 308: non-zero when the frame's palette makes pixels
                              transparent that its rows as stored cannot show: read them
                              as Q32_TYPE_BGRA to keep it */
    uint32_t composed;     /* 312: non-zero when the FileData describes the frame as the
                              screen shows it (screen size, Q32_TYPE_BGRA, earlier frames
                              and their disposal drawn in); 0: the frame's own rows */
    uint32_t animation;    /* 316: non-zero when the file is an animation: left, top,
                              screen, delay and loop count are its own */
} QfFrameFacts;

#define QF_FACTS_MAGIC   0x31434957u /* bytes "WIC1" */
#define QF_FACTS_OFFSET  264         /* within the FileData */

Q32_STATIC_ASSERT(sizeof(QfFrameFacts) == 56, "QfFrameFacts is 14 fields");
Q32_STATIC_ASSERT(offsetof(QfFrameFacts, frameCount) == 272 - QF_FACTS_OFFSET, "QfFrameFacts.frameCount");
Q32_STATIC_ASSERT(offsetof(QfFrameFacts, loopCount) == 300 - QF_FACTS_OFFSET, "QfFrameFacts.loopCount");
Q32_STATIC_ASSERT(offsetof(QfFrameFacts, orientation) == 304 - QF_FACTS_OFFSET, "QfFrameFacts.orientation");
Q32_STATIC_ASSERT(offsetof(QfFrameFacts, composed) == 312 - QF_FACTS_OFFSET, "QfFrameFacts.composed");
Q32_STATIC_ASSERT(offsetof(QfFrameFacts, animation) == 316 - QF_FACTS_OFFSET, "QfFrameFacts.animation");

#ifdef _WIN32
#include <windows.h>

Q32_STATIC_ASSERT(offsetof(FileData, pluginArea264) == QF_FACTS_OFFSET, "FileData plug-in area");
Q32_STATIC_ASSERT(sizeof(QfFrameFacts) <= sizeof(((FileData *)0)->pluginArea264), "QfFrameFacts fits");

/* A FileData's frame facts, or NULL when its plug-in keeps none. */
static inline const QfFrameFacts *QfFileDataFacts(const FileData *fileData)
{
    const QfFrameFacts *facts = (const QfFrameFacts *)fileData->pluginArea264;
    return facts->magic == QF_FACTS_MAGIC ? facts : NULL;
}

/*
 * The entry types. A FileData is a movable global memory block (HGLOBAL) laid out by
 * q32types.h; the read parameters are the caller's ImageRequest and its callback, passed
 * through as void * here. Results that can carry a handle or an address are INT_PTR;
 * values passed through between the caller and the plug-in are LPARAM.
 */

/* Export "qfDLLGetFileFmtNum": the number of formats. */
typedef int (WINAPI *PFN_qfDLLGetFileFmtNum)(void);

/* +10: frame commands (QF_COMMAND_*); the result goes back to the caller unchanged. */
typedef INT_PTR (WINAPI *PFN_qfDLLCommand)(HGLOBAL fileData, int command, LPARAM value1,
                                           LPARAM value2, LPARAM value3);

/* +11: a new movable block with the format's FormatInfo, or NULL. */
typedef HGLOBAL (WINAPI *PFN_qfDLLGetFormatInfo)(void);

/* +12: recognise and describe a file. file is open for reading at offset 0, or NULL when
   the format sets FI_OPENS_FILE (or the file could not be opened). Result: a new
   FileData handle (GlobalAlloc(GHND, sizeof(FileData))), or QF_FILEDATA_*. */
typedef INT_PTR (WINAPI *PFN_qfDLLGetFileData)(HANDLE file, const char *fileName,
                                               DWORD runtimeValue, const char *iniPath);

/* +13: never called by q32File (its lookup answers NULL); the arguments it would get. */
typedef INT_PTR (WINAPI *PFN_qfDLLShowDlgFormatInfo)(LPARAM arg1, LPARAM arg2, LPARAM arg4);

/* +14: a dialog of the file's facts. */
typedef INT_PTR (WINAPI *PFN_qfDLLShowDlgFileData)(LPARAM arg1, LPARAM arg2, HGLOBAL fileData,
                                                   LPARAM arg4, LPARAM arg5, LPARAM arg6);

/* +15: the save option dialog. */
typedef INT_PTR (WINAPI *PFN_qfDLLShowDlgSaveOption)(LPARAM arg1, LPARAM arg2,
                                                     HGLOBAL fileData, const char *iniPath,
                                                     LPARAM arg4);

/* +16: read the image: deliver the request's region to callback by the row protocol
   (q32types.h), in the FileData's data type. Non-zero: success. */
typedef INT_PTR (WINAPI *PFN_qfDLLRead)(HANDLE file, const char *fileName, HGLOBAL fileData,
                                        ImageRequest *request, RowCallback callback,
                                        DWORD runtimeValue);

/* +17: write the image, pulling its rows from callback by the row protocol: the request's
   size (0 x 0 filled in by q32File), the FileData's data type. file is the work file
   (NULL for a format that writes by name: the FileData then names the work file; else it
   names the target). 1: success. */
typedef int (WINAPI *PFN_qfDLLWrite)(HANDLE file, HGLOBAL fileData, ImageRequest *request,
                                     RowCallback callback);

/* +18: the open option dialog. nameOrValue is the format's run-time value, or for the
   format "FPX" the address of the file name selected in the open dialog. */
typedef INT_PTR (WINAPI *PFN_qfDLLShowDlgOpenOption)(LPARAM arg1, LPARAM arg2,
                                                     LPARAM nameOrValue, const char *iniPath,
                                                     LPARAM arg4);

/* +19: read vector data; non-zero: success. */
typedef INT_PTR (WINAPI *PFN_qfDLLReadVector)(HANDLE file, const char *fileName,
                                              HGLOBAL fileData, LPARAM arg2, LPARAM arg3,
                                              DWORD runtimeValue, LPARAM arg4);

/* +20: write vector data; 1: success. */
typedef int (WINAPI *PFN_qfDLLWriteVector)(HANDLE file, HGLOBAL fileData, LPARAM arg2,
                                           LPARAM arg3, LPARAM arg4);

/* +22: never called by q32File (its lookup answers NULL); the arguments it would get. */
typedef INT_PTR (WINAPI *PFN_qfDLLGetPreviewImage)(HANDLE file, HGLOBAL fileData);

/* +23: the format's property block; property is the address of a handle. */
typedef INT_PTR (WINAPI *PFN_qfDLLGetProperty)(HGLOBAL fileData, HGLOBAL *property);

/* +25: the property dialog. */
typedef INT_PTR (WINAPI *PFN_qfDLLShowProperty)(LPARAM arg1, HGLOBAL fileData, LPARAM arg3,
                                                LPARAM arg4, LPARAM arg5);

#endif /* _WIN32 */

#ifdef __cplusplus
}
#endif

#endif
