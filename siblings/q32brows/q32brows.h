/*
 * Q32BROWS.DLL - the suite's file finder and folder browser.
 *
 * qbFindFile is __cdecl, text is ANSI. Tests steer it with environment variables:
 *   Q32BROWS_AUTO  answer without showing anything:
 *                  "first"  the first match (a folder's files in name order, then its
 *                           subfolders in name order); as folder browser the start folder;
 *                  "all"    every match (one name unless several are allowed);
 *                  "cancel" as if the user cancelled;
 *                  "=TEXT"  TEXT, as if the user had chosen it.
 *   Q32BROWS_LOG   a file to which every call appends one line:
 *                  "find|TEXT|FOLDER|SEVERAL" or "folder|START".
 */
#ifndef Q32BROWS_H
#define Q32BROWS_H

#include <windows.h>

#ifdef Q32BROWS_BUILD
#define QBAPI __declspec(dllexport) __cdecl
#else
#define QBAPI __declspec(dllimport) __cdecl
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of qbFindFile. */
enum { QB_CHOSEN = 1, QB_CANCELLED = 0, QB_FAILED = -1 };

/*
 * File finder (folderMode 0): searches folder and every folder below it for the files
 * that text names: one or more patterns with * and ?, separated by ';' (empty: all
 * files). A folder part in text ("C:\pics\*.jpg") is where the search starts when
 * folder is null or empty; without either it starts in the current folder. The user
 * picks one name, or several when several is non-zero: the answer is then each chosen
 * name in double quotes, separated by a blank, when there are two or more.
 *
 * Folder browser (folderMode non-zero): text is the folder shown first (null or empty:
 * the current folder); the answer is the chosen folder. folder and several are not used.
 *
 * On QB_CHOSEN *result receives a movable global block with the answer (full names),
 * which the caller frees; otherwise *result is NULL. The caller's instance is not used
 * (the dialogs are this library's own). Result: QB_CHOSEN, QB_CANCELLED (also when
 * nothing was found unattended), or QB_FAILED (no result address, no memory).
 */
int QBAPI qbFindFile(HINSTANCE caller, HWND parent, const char *text, const char *folder,
                     HGLOBAL *result, int several, int folderMode);

#ifdef __cplusplus
}
#endif

#endif
