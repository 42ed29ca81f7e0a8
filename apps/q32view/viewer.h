/*
 * q32view's windows: one top-level window per open image, with the menu commands below.
 * The UI tests drive them through these functions and WM_COMMAND.
 */
#ifndef Q32VIEW_VIEWER_H
#define Q32VIEW_VIEWER_H

#include <windows.h>

/* Menu commands. */
enum ViewerCommand {
    IDM_OPEN = 101,         /* File > Open... (several files: one window each) */
    IDM_SAVE_AS = 102,      /* File > Save As... */
    IDM_PROPERTIES = 103,   /* File > Properties */
    IDM_CLOSE = 104,        /* File > Close */
    IDM_EXIT = 105,         /* File > Exit: every window */
    IDM_PREFERENCES = 201,  /* Edit > Preferences... */
    IDM_PLAY = 301,         /* View > Play animation (toggles) */
    IDM_NEXT_FRAME = 302,   /* View > Next frame */
    IDM_SYSINFO = 401       /* Help > System Information */
};

/* Frames of an animation are shown this long when playing. */
constexpr UINT ViewerFrameMs = 100;

/* Registers the window class. quitWhenLastCloses: post WM_QUIT when the last viewer
   window is destroyed (the program), or not (tests). */
bool ViewerRegister(HINSTANCE instance, bool quitWhenLastCloses);

/* A new viewer window showing fileName (NULL or "" for none). A file that cannot be read
   leaves the window empty after a message box with the recorded error. */
HWND ViewerOpen(const char *fileName);

/* What a window shows: the frame index (0-based; -1 with no image) and, when pixel is
   given, the screen colour (0x00RRGGBB) of image pixel (x, y). */
int ViewerFrame(HWND window);
bool ViewerPixel(HWND window, LONG x, LONG y, DWORD *pixel);

#endif
