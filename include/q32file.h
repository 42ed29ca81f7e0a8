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
   sets it for all). Rows of 1, 3 (red, green, blue) or 4 bytes per pixel, top row first. */
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
static_assert(sizeof(PalettePick) == 272, "PalettePick is 272 bytes");
static_assert(offsetof(PalettePick, colors) == 260, "PalettePick.colors");
static_assert(offsetof(PalettePick, palette) == 264, "PalettePick.palette");
static_assert(offsetof(PalettePick, fromPaletteFile) == 268, "PalettePick.fromPaletteFile");
static_assert(sizeof(PreviewPicture) == 28, "PreviewPicture is seven 32-bit fields");
static_assert(offsetof(PreviewPicture, stride) == 16, "PreviewPicture.stride");
static_assert(offsetof(PreviewPicture, pixels) == 20, "PreviewPicture.pixels");
static_assert(offsetof(PreviewPicture, palette) == 24, "PreviewPicture.palette");
#endif

#ifdef __cplusplus
}
#endif

#endif
