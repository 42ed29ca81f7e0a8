/*
 * The open dialog and its information and preview panel: what their files share.
 */
#ifndef Q32_OPENDLG_H
#define Q32_OPENDLG_H

#include "dialogs.h"
#include <commdlg.h>

/* Templates of the resource module. */
enum { ExplorerTemplate = 32130, OldStyleTemplate = 32132, OpenBufferSize = 10500 };

/* One open operation's state, handed to the hooks as the OPENFILENAME's custom data. */
struct OpenDialogContext {
    HGLOBAL buffer;          /* the answer buffer (movable, zeroed) */
    char *address;           /* its locked address */
    DWORD size;              /* its size */
    HGLOBAL list;            /* the module's filter list; null when the caller gave one */
    int typeIndex;           /* current type, 0-based */
    WNDPROC formerProc;      /* the explorer dialog window's procedure before ours */
    OpenFileRequest *request;
    int callerFilter;        /* non-zero: the caller gave the filter */
};

/* The 0-based type chosen in the last successful open. */
extern int LastOpenFilterIndex;

/* Builds the result list (full names, each ended by a zero, then an empty string) into
   result from the dialog's answer in context. A name that does not fit ends the list and
   shows message 31410. */
void BuildResultList(char *result, DWORD resultSize, const OpenDialogContext &context, int g);

/* Enables control when format has an open (forOpen 1) or save option dialog. */
void EnableFormatButton(HWND dialog, int format, int forOpen, int control);

/* The explorer-style child's hook, and the old-style hook / explorer window procedure. */
UINT_PTR CALLBACK ExplorerChildHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK OpenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* The panel. */
void SetUpPanel(HWND dialog);
void FreePanelBuffer();
void UpdatePanel(HWND dialog, const char *name);
int ShowPreview(HWND dialog);
HGLOBAL PanelFileFor(HWND dialog, const char *name);
int MakePreview(HGLOBAL fileData, int automatic);
void FillPanelText(HWND dialog, HGLOBAL fileData);
/* Frees the panel FileData when one is held and forgets it. */
void DropPanelFileData();
/* The preview button (2702). */
void OnPreviewButton(HWND dialog);

#endif
