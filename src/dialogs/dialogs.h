/*
 * Open and save dialogs: what their files share.
 */
#ifndef Q32_DIALOGS_H
#define Q32_DIALOGS_H

#include "../core/core.h"

/* Texts of the resource module that the dialogs record or show. */
enum : UINT {
    TextListCut = 31410         /* not all chosen files fit in the result list */
};

/* Controls of the module's templates (open: 32130, 32132; save: 32131, 32133). */
enum {
    IdHelpButton = 9, IdInfoText = 2201, IdFindButton = 2701, IdPreviewButton = 2702,
    IdOptionsButton = 32003, IdPreviewPicture = 32005
};
/* Controls of the common dialog. */
enum {
    IdTypeList = 0x470, IdNameEdit = 0x480, IdNameCombo = 0x47c, IdNameComboEdit = 1001,
    IdFileList = 0x460, IdFolderList = 0x461
};

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

/* Pieces of the open and save dialogs (dlgcommon.cpp). */

/* The name field: the newer combo box when the dialog has one, else the edit. */
HWND NameField(HWND dialog);
/* The edit control that holds the typed name (the combo box's own edit for the combo). */
HWND NameFieldEdit(HWND dialog);
/* Whether the command of control id with notification code tells that the name field's
   text changed. */
bool NameFieldChanged(int id, int code);
/* Moves control id from the explorer dialog's child into the dialog, where it keeps its
   place on the screen, after `after` in the tab order. Gives the control (after when the
   child has none). */
HWND AdoptControl(HWND dialog, HWND child, int id, HWND after);
/* The help button: the help file of info followed by ">d", at info's context. */
void ShowDialogHelp(HWND dialog, const OpenHelpInfo *info);
/* Runs the suite's finder on pattern and puts its answer into the name field. Nothing
   happens when the finder module or its entry is missing. */
void RunFinder(HWND dialog, const char *pattern, int several);

/* The application's error slot as a dialog found it. What the panel records while the user
   browses must not outlive the dialog: its result puts the slot back unless the dialog
   itself failed. */
class KeptErrorSlot {
public:
    KeptErrorSlot();
    /* Puts the slot back when answer is a choice (non-zero) or a plain cancel. */
    void RestoreUnlessFailed(int answer) const;

private:
    ErrorRecord kept_;
};

#endif
