/*
 * q32Comm.dll - the suite's common library.
 *
 * String table, the per-process shared error slot, the suite's message box, small path
 * helpers, window placement, help, and suite facts (ini path, OS class, folders, CPU).
 * Every function is __cdecl; text is ANSI, NUL-terminated, and every buffer/size pair
 * counts the terminator.
 */
#ifndef Q32COMM_H
#define Q32COMM_H

#include <windows.h>
#include <stddef.h>

#ifdef Q32COMM_BUILD
#define C32API __declspec(dllexport) __cdecl
#else
#define C32API __declspec(dllimport) __cdecl
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The suite's slider control, registered by this library at attach. Messages: */
#define Q32SLIDER_CLASS "Q32Slider"
#define Q32SM_GETPOS   0x52E  /* -> the position */
#define Q32SM_SETPOS   0x52F  /* lParam: the position (clamped); no notice */
#define Q32SM_SETRANGE 0x531  /* wParam: minimum, lParam: maximum */
#define Q32SM_SETSTEP  0x533  /* lParam: the step of an arrow key */
/* Notices (WM_NOTIFY with a Q32SLIDERNOTIFY) while the user moves it: */
#define Q32SN_RESET    (-2002) /* the move was abandoned: the owner puts the slider back */
#define Q32SN_CHANGED  (-2003) /* the move ended: read the position with Q32SM_GETPOS */
#define Q32SN_TRACK    (-2005) /* moving: the new position is position + delta */
typedef struct Q32SLIDERNOTIFY {
    NMHDR header;
    int position;
    int delta;
} Q32SLIDERNOTIFY;

/* The block c32ShowMb shows: eleven fields; the three text fields are pointers. */
typedef struct C32MBBLOCK {
    DWORD       reserved0;   /* 0 */
    const char *title;       /* box title */
    DWORD       reserved2;   /* 0 */
    const char *text;        /* message text */
    DWORD       style;       /* 1 */
    DWORD       stringId;    /* string identifier of the message */
    LONG        where1;      /* error location */
    LONG        where2;
    LONG        where3;
    DWORD       keep;        /* 0: the error slot was cleared before the box */
    const char *extraText;   /* shown below the message, or NULL */
} C32MBBLOCK;

#if !defined(_WIN64)
/* Layout checks in C99, C11 and C++ alike. */
#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(C32MBBLOCK) == 44, "C32MBBLOCK is eleven 32-bit fields");
static_assert(offsetof(C32MBBLOCK, extraText) == 40, "C32MBBLOCK.extraText");
#else
typedef char C32MBBLOCK_is_44_bytes[sizeof(C32MBBLOCK) == 44 ? 1 : -1];
typedef char C32MBBLOCK_extraText_at_40[offsetof(C32MBBLOCK, extraText) == 40 ? 1 : -1];
#endif
#endif

/* Size of the text buffer that c32GetDLLErrorInfo fills (when one is given). */
#define C32_ERRTEXT_SIZE 1024

/* String table and the shared error slot. */
int   C32API c32GetString(UINT id, char *buffer, int size);
void  C32API c32SetDLLErrInfo(const char *text, UINT id, int zero, int where1, int where2, int where3);
/* Any argument may be NULL. Result: the string identifier in the slot, 0 when empty. */
UINT  C32API c32GetDLLErrorInfo(char *text, UINT *id, int *zero, int *where1, int *where2, int *where3);
void  C32API c32ResetDLLErrInfo(void);
int   C32API c32GetMbTitle(char *buffer, int size);
int   C32API c32ShowMb(const C32MBBLOCK *block);

/* Paths. */
int    C32API qfdIsDir(const char *path);
void   C32API qfdAddSlash(char *path);
void   C32API qfdDelSlash(char *path);
void   C32API qfdSplitPathname(const char *path, char *name, char *folder);
void   C32API qfdRemoveBlanks(char *text);
int    C32API qfdConvertLongShortPathname(const char *source, char *target, int size, int toShort);
double C32API qfdGetDiskFreeSpace(const char *drive);

/* Windows and help. */
int  C32API q32MoveWindow(HWND window, HWND reference, int mode);
int  C32API q32MyWinHelp(HWND window, const char *helpFile, UINT command, DWORD_PTR context);

/* Suite facts. */
int  C32API q32GetQuillIniFileName(char *buffer, int size);
int  C32API q32GetOsVersion(void);
int  C32API q32GetAppDataFolder(char *buffer, int size, int create, int perUser);
int  C32API GetCPUName(char *buffer, int size);

/* q32GetOsVersion classes. */
enum {
    C32_OS_UNKNOWN = 0, C32_OS_WIN95 = 1, C32_OS_WIN98 = 2, C32_OS_NT3 = 3, C32_OS_NT4 = 4,
    C32_OS_WINME = 5, C32_OS_WIN2000 = 6, C32_OS_WINXP = 7, C32_OS_VISTA = 8, C32_OS_WIN8 = 9,
    C32_OS_WIN10 = 10
};

#ifdef __cplusplus
}
#endif

#endif
