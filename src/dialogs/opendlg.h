/*
 * The open dialog and its information and preview panel: what their files share.
 * opendlg.cpp sets the dialog up and runs its hooks; opentypes.cpp follows the type list
 * and the name field; openresult.cpp keeps the answer buffer and builds the result list;
 * panel.cpp describes and previews the selection.
 */
#ifndef Q32_OPENDLG_H
#define Q32_OPENDLG_H

#include "dialogs.h"
#include <commdlg.h>

/* Templates of the resource module. */
enum { ExplorerTemplate = 32130, OldStyleTemplate = 32132, OpenBufferSize = 10500 };

/* The panel of one open dialog. */
struct OpenPanel {
    int centreX, centreY;    /* the preview area's centre in the dialog */
    int box;                 /* the preview's largest side */
    int width, height;       /* the picture on show */
    int bytesPerPixel, stride;
    DWORD bufferSize;
    HGLOBAL buffer;          /* the picture's pixels */
    HPALETTE palette;
    HGLOBAL fileData;        /* the selection's FileData; null for none, 1 for a palette
                                picked without one */
    char lastName[Q32_MAX_NAME];  /* the name last selected or typed */
    PalettePick *pick;       /* the palette pick of the operation, or null */
};

/* One open operation's state: on the operation's stack, handed to the hooks as the
   OPENFILENAME's custom data and kept on the dialog window (OpenContextOf), so that
   dialogs on several threads, or one opened from another's hook, each keep their own. */
struct OpenDialogContext {
    HGLOBAL buffer;          /* the answer buffer (movable, zeroed) */
    char *address;           /* its locked address */
    DWORD size;              /* its size */
    HGLOBAL list;            /* the module's filter list; null when the caller gave one */
    int typeIndex;           /* current type, 0-based */
    WNDPROC formerProc;      /* the explorer dialog window's procedure before ours */
    OpenFileRequest *request;
    int callerFilter;        /* non-zero: the caller gave the filter */
    OPENFILENAMEA *ofn;      /* the OPENFILENAME the dialog runs on */
    bool folderChanged;      /* the folder changed since the last selection */
    HWND focusBefore;        /* the control focused before the dialog window took it */
    OpenPanel panel;
};

/* The context of the open dialog window dialog (for the explorer dialog: the parent of
   the hook's child), or null. */
OpenDialogContext *OpenContextOf(HWND dialog);

/* The 0-based type chosen in the last successful open. */
extern int LastOpenFilterIndex;

/* The answer buffer and the result list (openresult.cpp). */

/* Allocates and locks the answer buffer of an open operation. */
bool OpenBuffer(OpenDialogContext &context);
/* Before OK and Cancel: grows the answer buffer when the typed text is longer than it
   (several long names), so that the dialog can answer; on failure the old one stays. */
void FitAnswerBuffer(HWND dialog, OpenDialogContext &context);
/* Builds the result list (full names, each ended by a zero, then an empty string) into
   result from the dialog's answer in context. A name that does not fit ends the list and
   shows message 31410. */
void BuildResultList(char *result, DWORD resultSize, const OpenDialogContext &context, int g);

/* The type list and the name field (opentypes.cpp). */

/* Enables control when format has an open (forOpen 1) or save option dialog. */
void EnableFormatButton(HWND dialog, int format, int forOpen, int control);
/* The Options button and the type list's dropped width, at set-up. */
void SetUpTypeList(HWND dialog, const OpenDialogContext &context);
/* The pattern of entry index (0-based) of the filter in use, or null. */
const char *EntryPattern(const OpenDialogContext &context, int index);
void OnTypeChange(HWND dialog, OpenDialogContext &context);
/* The explorer dialog moved to another folder: its type list may have changed. */
void OnFolderChange(HWND dialog, OpenDialogContext &context);
void OnNameChange(HWND dialog, OpenDialogContext &context);
void OnSelectionChange(HWND dialog, OpenDialogContext &context);
/* The Options button: the current type's open option dialog. */
void OnOptions(HWND dialog, OpenDialogContext &context);

/* The explorer-style child's hook, and the old-style hook / explorer window procedure. */
UINT_PTR CALLBACK ExplorerChildHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK OpenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* Visual open: 1 when the thumbnail dialog is installed and the user's switch is on. */
int VisualOpenWanted();
/* Shows the thumbnail dialog instead of the prepared common dialog: -1 when qvofn.dll
   cannot be used, else its answer (the context's buffer holds the result). */
int HandOverToVisualOpen(const OPENFILENAMEA &ofn, OpenDialogContext &context);

/* The panel (panel.cpp). */

/* Sizes the preview box from the OK and Cancel buttons and allocates the pixel buffer. */
void SetUpPanel(HWND dialog, OpenPanel &panel);
void FreePanelBuffer(OpenPanel &panel);
/* Describes name in the panel and previews it when it is not too large. */
void UpdatePanel(HWND dialog, OpenPanel &panel, const char *name);
/* Makes the picture of the panel's FileData and shows it; 1 when shown. */
int ShowPreview(HWND dialog, OpenPanel &panel);
/* Frees the panel's FileData when one is held and forgets it. */
void DropPanelFileData(OpenPanel &panel);
/* The preview button (2702). */
void OnPreviewButton(HWND dialog, OpenPanel &panel);

#endif
