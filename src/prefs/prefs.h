/* Preference dialog: the tabbed host and its built-in pages. */
#ifndef Q32_PREFS_H
#define Q32_PREFS_H

#include "../core/core.h"

/* Page commands: validate answers 0 or the control to correct; apply stores; cancel forgets. */
enum { PageValidate = 10, PageApply = IDOK, PageCancel = IDCANCEL, PageHelp = 9 };

/* Bits that pages OR into PreferenceResultFlags when they stored a change. */
enum { ResultMemory = 0x01, ResultDisplay = 0x02, ResultAssociations = 0x10 };

enum { MaxPreferencePages = 10 };

/* One page of a tabbed host. */
struct PreferencePage {
    HMODULE module;
    UINT templateId;
    DLGPROC procedure;
    HWND window;
    char title[64];
    int position;
};

/* A tabbed host: the preference dialog and the system information dialog have one each. */
struct TabbedHost {
    HMODULE resources;
    HWND owner;
    HWND tab;
    int count;
    PreferencePage pages[MaxPreferencePages];
    HWND current;
    int currentIndex;
};

extern DWORD PreferenceResultFlags;
extern DWORD PreferenceApplicationId;
/* The display settings block lent through q32ShowPreferences, or null. */
extern DWORD *DisplaySettingsBlock;

/* A page that the hosts build in: the request bits that ask for it, its template in the
   resource module and its procedure (null: not registered, not shown). */
struct BuiltInPage {
    DWORD kind, alsoKind;
    UINT templateId;
    DLGPROC procedure;
};
/* Gives the hosts the page that kind asks for: the association page, whose code lies
   above the hosts, is registered at attach. */
void RegisterPreferencePage(DWORD kind, UINT templateId, DLGPROC procedure);
/* The built-in page that kind asks for (its kind or its other kind), or null. */
const BuiltInPage *FindBuiltInPage(DWORD kind);

/* The page protocol, shared by the tabbed and the tree host. */
/* Creates a page as a hidden control-like child of host; an empty title (64 bytes) takes
   the page's caption. Null when the page cannot be made. */
HWND CreatePageWindow(HMODULE module, UINT templateId, HWND host, DLGPROC procedure,
                      LPARAM parameter, char *title);
/* Sends validate to page (null: none): 0, or the control the page names. */
int ValidatePage(HWND page);
/* Focuses the control a refusing page named and selects all its text; with onlyEdit only
   when it is an edit control. */
void FocusRefusedControl(HWND page, int control, bool onlyEdit);
/* Sends apply or cancel to a page (null: none). */
void SendPageCommand(HWND page, WORD command);
/* Opens help at context: file with ">d" appended when it names no window type. */
void ShowPreferenceHelp(HWND dialog, const char *file, DWORD context);

/* Appends a page; false (and nothing written) when the host has no room left. */
bool AddPreferencePage(TabbedHost &host, HMODULE module, const char *title, UINT templateId,
                       DLGPROC procedure);
void CreatePreferencePage(HWND hostWindow, HWND tabControl, PreferencePage &page);
void ShowSelectedPage(TabbedHost &host);

/* The host dialog's start: places it, creates and fits the pages, shows the tab last shown. */
void InitTabbedHost(HWND dialog, TabbedHost &host);

/* True for the page protocol's commands (validate, apply, cancel): a page without its
   state still answers them (validate: nothing to correct; apply and cancel: done). */
inline bool IsPageCommand(UINT message, WPARAM wParam)
{
    WORD id = LOWORD(wParam);
    return message == WM_COMMAND && (id == PageValidate || id == PageApply || id == PageCancel);
}

/* Answers a page's command through DWLP_MSGRESULT. */
inline INT_PTR PageAnswer(HWND page, LONG_PTR answer)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, answer);
    return TRUE;
}

INT_PTR CALLBACK MemoryPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DisplayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

/* The tree host's banner: n pixels of red, green, blue bytes ramping from one colour
   (0x00BBGGRR) to the other. */
void FillGradient(int n, BYTE *row, COLORREF from, COLORREF to);
/* Doubles every '&' of text (size bytes) so that it shows rather than underlines; pairs
   that no longer fit are left out. */
void DoubleAmpersands(char *text, size_t size);

/* Display page helpers. */
/* A decimal text in hundredths; *error becomes 1 when the text is not a plain number. */
int ParseGamma(const char *text, int *error);

/* Memory page helpers. */
int DriveKindOfPath(const char *path);
/* The largest limit the 32-bit byte field of the memory block holds (read without sign). */
enum { MaxLimitMb = 4095 };
/* A limit in MB as the memory block stores it: -1 for the default or a value beyond
   MaxLimitMb, else the bytes. */
LONG LimitToBytes(int megabytes, int defaultMegabytes);
/* The MB that a stored limit stands for (the default for -1). */
int LimitToMegabytes(LONG bytes, int defaultMegabytes);

#endif
