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

#ifdef __cplusplus
}
#endif

#endif
