/*
 * q32fio.h - the format plug-in kit of q32File.
 *
 * (The guide for plug-in writers, the entries and the row protocol follow with the
 * registry.)
 */
#ifndef Q32FIO_H
#define Q32FIO_H

#include <windows.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a plug-in declares for each of its formats: 112 bytes, the same in 32- and
   64-bit builds (it is stored as it stands in the format cache file). */
typedef struct FormatInfo {
    WORD  flags;            /*   0: non-zero: takes part in detection; FI_OPENS_FILE */
    WORD  typeCaps;         /*   2: low half of the type mask; what the format can write */
    DWORD reserved4;        /*   4 */
    DWORD saveOptions;      /*   8: non-zero: the format has a save option dialog */
    DWORD openOptions;      /*  12: non-zero: the format has an open option dialog */
    DWORD reserved16;       /*  16 */
    DWORD writesVector;     /*  20: non-zero: the format can write vector data */
    LONG  vectorType;       /*  24: type code of the vector output, -1 for none */
    char  code[4];          /*  28: format code, up to three characters */
    char  description[56];  /*  32: description, NUL-terminated */
    DWORD runtimeValue;     /*  88: the plug-in's own value, handed back to its entries */
    WORD  reserved92;       /*  92 */
    WORD  flags2;           /*  94: second flags word, handed out in filter entries */
    WORD  typeMaskHigh;     /*  96: high half of the type mask */
    BYTE  signatureLength1; /*  98: 0..4 */
    BYTE  signatureLength2; /*  99: 0..4 */
    BYTE  signature1[4];    /* 100 */
    BYTE  signature2[4];    /* 104 */
    DWORD reserved108;      /* 108 */
} FormatInfo;

/* FormatInfo.flags bit 15: the plug-in opens the file itself by name. */
#define FI_OPENS_FILE 0x8000

#ifdef __cplusplus
#define Q32FIO_ASSERT static_assert
#else
#define Q32FIO_ASSERT _Static_assert
#endif
Q32FIO_ASSERT(sizeof(FormatInfo) == 112, "FormatInfo is 112 bytes");
Q32FIO_ASSERT(offsetof(FormatInfo, typeCaps) == 2, "FormatInfo.typeCaps");
Q32FIO_ASSERT(offsetof(FormatInfo, saveOptions) == 8, "FormatInfo.saveOptions");
Q32FIO_ASSERT(offsetof(FormatInfo, openOptions) == 12, "FormatInfo.openOptions");
Q32FIO_ASSERT(offsetof(FormatInfo, writesVector) == 20, "FormatInfo.writesVector");
Q32FIO_ASSERT(offsetof(FormatInfo, vectorType) == 24, "FormatInfo.vectorType");
Q32FIO_ASSERT(offsetof(FormatInfo, code) == 28, "FormatInfo.code");
Q32FIO_ASSERT(offsetof(FormatInfo, description) == 32, "FormatInfo.description");
Q32FIO_ASSERT(offsetof(FormatInfo, runtimeValue) == 88, "FormatInfo.runtimeValue");
Q32FIO_ASSERT(offsetof(FormatInfo, flags2) == 94, "FormatInfo.flags2");
Q32FIO_ASSERT(offsetof(FormatInfo, typeMaskHigh) == 96, "FormatInfo.typeMaskHigh");
Q32FIO_ASSERT(offsetof(FormatInfo, signatureLength1) == 98, "FormatInfo.signatureLength1");
Q32FIO_ASSERT(offsetof(FormatInfo, signatureLength2) == 99, "FormatInfo.signatureLength2");
Q32FIO_ASSERT(offsetof(FormatInfo, signature1) == 100, "FormatInfo.signature1");
Q32FIO_ASSERT(offsetof(FormatInfo, signature2) == 104, "FormatInfo.signature2");

#ifdef __cplusplus
}
#endif

#endif
