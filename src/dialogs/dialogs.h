/*
 * Open and save dialogs: what their files share.
 */
#ifndef Q32_DIALOGS_H
#define Q32_DIALOGS_H

#include "../core/core.h"

/* Makes name absolute into fullName (Q32_MAX_NAME bytes). 1 when the system produced a
   full name that fits; otherwise name is copied unchanged (cut to fit) and 0 given. */
int MakeFullPath(char *fullName, const char *name);

/* Appends one backslash to a non-empty name (Q32_MAX_NAME bytes) that does not end in
   one, when there is room for it. */
void AppendBackslash(char *name);

/* Checks a name typed into the open dialog: 1 with the full name of the one existing file
   it names (a link's target when it is a shell link) in resolved (Q32_MAX_NAME bytes),
   else 0. Patterns, network names and mixed separators are refused; a name may be quoted
   as a whole; relative names are taken against the current folder. */
int CheckTypedName(HWND owner, const char *typed, char *resolved);

#endif
