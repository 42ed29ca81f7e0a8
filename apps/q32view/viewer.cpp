/*
 * q32view's image windows. Everything goes through q32File.dll's exports: the open and
 * save dialogs, detection, reading and writing, frames, the format's property dialog,
 * the preference and system information dialogs; errors are shown with the text that
 * the module or its plug-in recorded in the common library's error slot.
 */
#include "viewer.h"
#include <commdlg.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "q32file.h"
#include "q32comm.h"
#include "q32fio.h"
#include "image.h"
#include "picture.h"

namespace {

const char ClassName[] = "Q32ViewWindow";
const char AppTitle[] = "q32view";
constexpr UINT_PTR FrameTimer = 1;
/* The viewer's application identifier: it selects the association page's file types. */
constexpr DWORD ViewerApplicationId = 1005;

bool QuitWhenLastCloses = false;
int OpenWindows = 0;

/* One window's image. */
struct View {
    HGLOBAL fileData = nullptr;
    std::string name;
    char code[8] = "";
    Image image;
    std::vector<DWORD> screen;
    int frame = -1;             /* -1: no image */
    bool animated = false, playing = false;
};

View *ViewOf(HWND window) { return reinterpret_cast<View *>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

const char *BaseName(const std::string &path)
{
    size_t at = path.find_last_of("\\/:");
    return path.c_str() + (at == std::string::npos ? 0 : at + 1);
}

/* Shows what the error slot holds (what failed, when it is empty), then clears it. */
void ShowRecordedError(HWND owner, const char *what)
{
    char text[C32_ERRTEXT_SIZE] = "";
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!text[0] && id) c32GetString(id, text, sizeof text);
    if (!text[0]) snprintf(text, sizeof text, "%s failed.", what);
    c32ResetDLLErrInfo();
    MessageBoxA(owner, text, AppTitle, MB_OK | MB_ICONEXCLAMATION);
}

void UpdateTitle(HWND window, const View &view)
{
    char title[400];
    if (view.frame < 0)
        lstrcpynA(title, AppTitle, sizeof title);
    else if (view.animated)
        snprintf(title, sizeof title, "%s - %s - %ld x %ld - frame %d", BaseName(view.name), view.code,
                 (long)view.image.width, (long)view.image.height, view.frame + 1);
    else
        snprintf(title, sizeof title, "%s - %s - %ld x %ld", BaseName(view.name), view.code,
                 (long)view.image.width, (long)view.image.height);
    SetWindowTextA(window, title);
}

void UpdateMenu(HWND window, const View &view)
{
    HMENU menu = GetMenu(window);
    UINT image = view.frame >= 0 ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(menu, IDM_PROPERTIES, MF_BYCOMMAND | image);
    EnableMenuItem(menu, IDM_SAVE_AS, MF_BYCOMMAND | image);
    EnableMenuItem(menu, IDM_PLAY, MF_BYCOMMAND | (view.animated ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, IDM_NEXT_FRAME, MF_BYCOMMAND | (view.animated ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(menu, IDM_PLAY, MF_BYCOMMAND | (view.playing ? MF_CHECKED : MF_UNCHECKED));
}

/* Reads the frame that the FileData describes now. */
bool ReadShown(View &view)
{
    Image image;
    if (!ReadImage(view.fileData, image)) return false;
    Orient(image, OrientationOf(view.fileData)); /* shown upright */
    view.image = std::move(image);
    view.screen = ToScreen(view.image);
    return true;
}

void Refresh(HWND window, View &view)
{
    UpdateTitle(window, view);
    UpdateMenu(window, view);
    InvalidateRect(window, nullptr, TRUE);
}

void SetPlaying(HWND window, View &view, bool playing)
{
    view.playing = playing && view.animated;
    if (view.playing) SetTimer(window, FrameTimer, ViewerFrameMs, nullptr);
    else KillTimer(window, FrameTimer);
    UpdateMenu(window, view);
}

/* Loads fileName into the window; false (after showing the error) when it cannot be read. */
bool Load(HWND window, View &view, const char *fileName)
{
    c32ResetDLLErrInfo();
    char code[8] = "";
    HGLOBAL fileData = qfFileGetFileData(fileName, code);
    if (!fileData) {
        ShowRecordedError(window, fileName);
        return false;
    }
    if (view.fileData) q32FileFreeFileData(view.fileData);
    SetPlaying(window, view, false);
    view = View();
    view.fileData = fileData;
    view.name = fileName;
    lstrcpynA(view.code, code, sizeof view.code);
    if (!ReadShown(view)) {
        ShowRecordedError(window, fileName);
        Refresh(window, view);
        return false;
    }
    view.frame = 0;
    /* Frames: a second one makes an animation; formats without frames answer 0. */
    view.animated = qfFileReadFrameIndex(fileData, 0, 0, 1) == 1;
    if (view.animated) qfFileReadFrameIndex(fileData, 0, 0, 0);
    c32ResetDLLErrInfo();
    Refresh(window, view);
    SetPlaying(window, view, view.animated);
    return true;
}

/* The next frame, after the last the first. */
void NextFrame(HWND window, View &view)
{
    if (!view.animated) return;
    int next = view.frame + 1;
    if (qfFileReadFrameIndex(view.fileData, 0, 0, next) != 1) {
        c32ResetDLLErrInfo();
        next = 0;
        if (qfFileReadFrameIndex(view.fileData, 0, 0, 0) != 1) {
            SetPlaying(window, view, false);
            ShowRecordedError(window, "Reading the first frame");
            return;
        }
    }
    if (!ReadShown(view)) {
        SetPlaying(window, view, false);
        ShowRecordedError(window, "Reading a frame");
        return;
    }
    view.frame = next;
    Refresh(window, view);
}

/* File > Open: the module's open dialog; several names open several windows, the
   first in this window when it is empty. */
void OpenFiles(HWND window, View &view)
{
    std::vector<char> names(32768);
    OpenFileRequest request = {};
    request.size = sizeof request;
    request.owner = window;
    request.result = names.data();
    request.resultSize = (DWORD)names.size();
    request.title = "Open";
    request.flags = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_HIDEREADONLY;
    if (!q32FileGetOpenFileName(&request)) {
        if (c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            ShowRecordedError(window, "The open dialog");
        return;
    }
    bool here = view.frame < 0;
    for (const char *name = names.data(); *name; name += lstrlenA(name) + 1) {
        if (here) {
            here = false;
            Load(window, view, name);
        } else {
            ViewerOpen(name);
        }
    }
}

/* File > Save As: the module's save dialog offers the formats that can store the image's
   data type (with their save options); the image shown is written in the chosen one and
   the window then shows the written file. */
void SaveAs(HWND window, View &view)
{
    if (view.frame < 0) return;
    c32ResetDLLErrInfo();
    HGLOBAL target = qfFileGetFileData("", nullptr);
    if (!target) {
        ShowRecordedError(window, "Save As");
        return;
    }
    if (FileData *data = static_cast<FileData *>(GlobalLock(target))) {
        const FileData *source = static_cast<const FileData *>(GlobalLock(view.fileData));
        data->formatNumber = source ? source->formatNumber : 1;
        if (source) GlobalUnlock(view.fileData);
        DescribeImage(*data, view.image);
        /* Every format that takes a type the image can be read in is offered. */
        data->raster.dataType = ReachableTypes(view.image.dataType);
        GlobalUnlock(target);
    }
    char name[MAX_PATH];
    lstrcpynA(name, view.name.c_str(), sizeof name);
    SaveFileRequest request = {};
    request.owner = window;
    request.name = name;
    request.maxPath = MAX_PATH - 1;
    request.title = "Save As";
    request.fileData = target;
    bool chosen = q32FileGetSaveFileName(&request) != 0;
    if (chosen) {
        /* The image read again in a type the chosen format's writer takes. */
        Image image;
        bool dropped = false;
        if (!ReadImageFor(view.fileData, request.format, image, dropped)) {
            chosen = false;
            ShowRecordedError(window, "Reading the image for the chosen format");
        } else {
            Orient(image, OrientationOf(view.fileData)); /* written as shown */
            if (FileData *data = static_cast<FileData *>(GlobalLock(target))) {
                lstrcpynA(data->name, name, sizeof data->name);
                DescribeImage(*data, image);
                GlobalUnlock(target);
            }
            if (WriteImage(target, image) != 1) {
                chosen = false;
                ShowRecordedError(window, "Writing the file");
            }
        }
    } else if (c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        ShowRecordedError(window, "The save dialog");
    }
    q32FileFreeFileData(target);
    if (chosen) Load(window, view, name);
}

/* File > Properties: the format's own dialog where the plug-in has one, else the facts
   that the module gives of any file. */
void ShowProperties(HWND window, View &view)
{
    if (view.frame < 0) return;
    c32ResetDLLErrInfo();
    if (qfFileShowProperty((LONG_PTR)window, view.fileData, 0, 0, 0) != -1) return;
    if (c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        ShowRecordedError(window, "Properties");
        return;
    }
    FileData facts;
    {
        const FileData *data = static_cast<const FileData *>(GlobalLock(view.fileData));
        if (!data) return;
        facts = *data;
        GlobalUnlock(view.fileData);
    }
    char description[64] = "";
    if (HGLOBAL info = qfFileGetFormatInfo(facts.formatNumber)) {
        if (const FormatInfo *f = static_cast<const FormatInfo *>(GlobalLock(info))) {
            lstrcpynA(description, f->description, sizeof description);
            GlobalUnlock(info);
        }
        GlobalFree(info);
    }
    char size[Q32_SIZE_TEXT_SIZE], date[Q32_DATE_TEXT_SIZE] = "", type[64] = "", compression[64] = "";
    q32FileSizeToAscii((long)facts.fileSize, size, 99);
    GetFileDateTimeToAscii(view.name.c_str(), date);
    q32FileGetImageTypeString(facts.raster.dataType, type, sizeof type);
    q32FileGetCompressTypeString(facts.compression, compression, sizeof compression);
    char text[1200];
    int n = snprintf(text, sizeof text,
                     "%s\n\nFormat:\t%s (%s)\nFile size:\t%s\nModified:\t%s\nImage:\t%ld x %ld, %lu bits per pixel\n"
                     "Type:\t%s\nCompression:\t%s",
                     view.name.c_str(), view.code, description, size, date, (long)facts.raster.width,
                     (long)facts.raster.height, (unsigned long)facts.raster.bitsPerPixel, type, compression);
    if (view.animated && n > 0 && n < (int)sizeof text)
        snprintf(text + n, sizeof text - n, "\nFrame:\t%d", view.frame + 1);
    c32ResetDLLErrInfo();
    MessageBoxA(window, text, "Properties", MB_OK | MB_ICONINFORMATION);
}

void Paint(HWND window, const View &view)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, (HBRUSH)GetStockObject(GRAY_BRUSH));
    if (view.frame >= 0 && view.image.width > 0 && view.image.height > 0 && client.right > 0 && client.bottom > 0) {
        /* Scaled to fit, the proportions kept, centred. */
        long long w = client.right, h = (long long)client.right * view.image.height / view.image.width;
        if (h > client.bottom) h = client.bottom, w = (long long)client.bottom * view.image.width / view.image.height;
        if (w < 1) w = 1;
        if (h < 1) h = 1;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = view.image.width;
        info.bmiHeader.biHeight = -view.image.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchDIBits(dc, int((client.right - w) / 2), int((client.bottom - h) / 2), int(w), int(h), 0, 0,
                      view.image.width, view.image.height, view.screen.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(window, &ps);
}

HMENU MakeMenu()
{
    HMENU bar = CreateMenu(), file = CreatePopupMenu(), edit = CreatePopupMenu(), view = CreatePopupMenu(),
          help = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, IDM_OPEN, "&Open...\tCtrl+O");
    AppendMenuA(file, MF_STRING, IDM_SAVE_AS, "Save &As...");
    AppendMenuA(file, MF_STRING, IDM_PROPERTIES, "P&roperties");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, IDM_CLOSE, "&Close");
    AppendMenuA(file, MF_STRING, IDM_EXIT, "E&xit");
    AppendMenuA(edit, MF_STRING, IDM_PREFERENCES, "&Preferences...");
    AppendMenuA(view, MF_STRING, IDM_PLAY, "&Play animation\tSpace");
    AppendMenuA(view, MF_STRING, IDM_NEXT_FRAME, "&Next frame\tRight");
    AppendMenuA(help, MF_STRING, IDM_SYSINFO, "&System Information...");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)file, "&File");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)edit, "&Edit");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)view, "&View");
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)help, "&Help");
    return bar;
}

BOOL CALLBACK CloseViewer(HWND window, LPARAM)
{
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (!lstrcmpA(name, ClassName)) PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

void Command(HWND window, View &view, UINT id)
{
    switch (id) {
    case IDM_OPEN: OpenFiles(window, view); break;
    case IDM_SAVE_AS: SaveAs(window, view); break;
    case IDM_PROPERTIES: ShowProperties(window, view); break;
    case IDM_CLOSE: DestroyWindow(window); break;
    case IDM_EXIT:
        EnumThreadWindows(GetCurrentThreadId(), CloseViewer, 0);
        break;
    case IDM_PREFERENCES: {
        PreferenceAppInfo app = {0, ViewerApplicationId, nullptr, 0};
        c32ResetDLLErrInfo();
        INT_PTR result = q32ShowPreference(window, 0, nullptr, PREF_PAGE_ASSOC | PREF_PAGE_MEMORY | PREF_PAGE_DISPLAY,
                                           &app);
        if (result == -1) ShowRecordedError(window, "The preference dialog");
        else if (result & PREF_PAGE_DISPLAY) InvalidateRect(window, nullptr, TRUE);
        break;
    }
    case IDM_PLAY: SetPlaying(window, view, !view.playing); break;
    case IDM_NEXT_FRAME: NextFrame(window, view); break;
    case IDM_SYSINFO: q32ShowSystemInfo(window); break;
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    View *view = ViewOf(window);
    switch (message) {
    case WM_CREATE:
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR) new View());
        OpenWindows++;
        return 0;
    case WM_COMMAND:
        if (view) Command(window, *view, LOWORD(wParam));
        return 0;
    case WM_KEYDOWN:
        if (wParam == 'O' && GetKeyState(VK_CONTROL) < 0) PostMessageA(window, WM_COMMAND, IDM_OPEN, 0);
        else if (wParam == VK_SPACE) PostMessageA(window, WM_COMMAND, IDM_PLAY, 0);
        else if (wParam == VK_RIGHT) PostMessageA(window, WM_COMMAND, IDM_NEXT_FRAME, 0);
        return 0;
    case WM_TIMER:
        if (view && wParam == FrameTimer) NextFrame(window, *view);
        return 0;
    case WM_SIZE:
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        if (view) Paint(window, *view);
        else DefWindowProcA(window, message, wParam, lParam);
        return 0;
    case WM_DESTROY:
        if (view) {
            KillTimer(window, FrameTimer);
            if (view->fileData) q32FileFreeFileData(view->fileData);
            delete view;
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        if (--OpenWindows == 0 && QuitWhenLastCloses) PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

bool ViewerRegister(HINSTANCE instance, bool quitWhenLastCloses)
{
    QuitWhenLastCloses = quitWhenLastCloses;
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.lpszClassName = ClassName;
    return RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND ViewerOpen(const char *fileName)
{
    HWND window = CreateWindowExA(0, ClassName, AppTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640,
                                  480, nullptr, MakeMenu(), GetModuleHandleA(nullptr), nullptr);
    if (!window) return nullptr;
    View &view = *ViewOf(window);
    UpdateMenu(window, view);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    if (fileName && *fileName) Load(window, view, fileName);
    return window;
}

int ViewerFrame(HWND window)
{
    const View *view = ViewOf(window);
    return view ? view->frame : -1;
}

bool ViewerPixel(HWND window, LONG x, LONG y, DWORD *pixel)
{
    const View *view = ViewOf(window);
    if (!view || view->frame < 0 || x < 0 || y < 0 || x >= view->image.width || y >= view->image.height) return false;
    *pixel = view->screen[(size_t)y * view->image.width + x];
    return true;
}
