/*
 * qvofn.dll - the suite's thumbnail open dialog ("Visual Open").
 *
 * qGetVisaulOpenFileName shows the images of a folder as thumbnails and lets the user
 * choose one. An image is a file that the loaded q32File.dll recognises; its thumbnail is
 * the module's preview (qfFileGetPreviewMem) drawn through q32Base.dll. The answer is the
 * chosen file's full name, a zero and a final zero, in the request's result buffer; the
 * answer word is the number of names (1).
 *
 * Tests steer it with environment variables:
 *   Q32VOFN_AUTO  answer without showing anything: "first" (the first image in name
 *                 order) or "cancel";
 *   Q32VOFN_LOG   a file to which every call appends one line:
 *                 "TITLE|FOLDER|FLAGS|HELPFILE|CONTEXT|KEY|CACHE|FILTER|images=N previews=M"
 *                 (FLAGS in hex, FILTER the first description or "-").
 */
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include <algorithm>
#include "q32file.h"
#include "q32base.h"
#include "q32comm.h"
#include "resource.h"
#include "../steering.h"

namespace {

HINSTANCE Self;
const int Thumb = 96;           /* thumbnail width and height */
const size_t ImageLimit = 500;  /* images listed at most */

/* The q32File.dll functions the dialog uses, from the module already loaded. */
struct Module {
    decltype(&qfFileGetFileData) getFileData = nullptr;
    decltype(&q32FileFreeFileData) freeFileData = nullptr;
    decltype(&qfFileGetPreviewMem) getPreview = nullptr;
    bool Bind()
    {
        HMODULE module = GetModuleHandleA("q32File.dll");
        if (!module) return false;
        getFileData = (decltype(getFileData))(void *)GetProcAddress(module, "qfFileGetFileData");
        freeFileData = (decltype(freeFileData))(void *)GetProcAddress(module, "q32FileFreeFileData");
        getPreview = (decltype(getPreview))(void *)GetProcAddress(module, "qfFileGetPreviewMem");
        return getFileData && freeFileData && getPreview;
    }
};

struct Image {
    std::string name;           /* full name */
    std::string details;        /* "W x H pixels, N bytes" */
    bool preview = false;       /* the thumbnail holds the module's preview */
};

struct Chooser {
    VisualOpenRequest *request;
    std::string folder;
    std::vector<Image> images;
    HIMAGELIST thumbnails = nullptr;
    int previews = 0;
};

using steering::Environment;

void AppendLog(const std::string &line)
{
    steering::AppendLog("Q32VOFN_LOG", line);
}

/* The patterns of the caller's filter: those of its first entry, or every file. */
std::string FilterPatterns(const char *filter)
{
    if (!filter || !*filter) return "*";
    const char *pattern = filter + strlen(filter) + 1;
    return *pattern ? pattern : "*";
}

/* Draws the module's preview of fileData centred into a Thumb x Thumb bitmap. */
HBITMAP MakeThumbnail(const Module &q32, HGLOBAL fileData, bool &previewed)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = Thumb;
    info.bmiHeader.biHeight = -Thumb;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, Thumb, Thumb};
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));

    std::vector<BYTE> pixels(Thumb * Thumb * 4 + 4);
    PreviewInfo preview = {};
    previewed = q32.getPreview(fileData, &preview, (LONG_PTR)pixels.size(), pixels.data(),
                               Thumb, Thumb) > 0 &&
                preview.width && preview.height;
    if (previewed) {
        HPALETTE palette = nullptr, gamma = nullptr;
        if (FileData *data = (FileData *)GlobalLock(fileData)) {
            palette = data->raster.palette;
            GlobalUnlock(fileData);
        }
        if (palette) gamma = disp32GammaColorPalette(palette, 0);
        LONG x = (Thumb - (LONG)preview.width) / 2, y = (Thumb - (LONG)preview.height) / 2;
        HDISP32SHOW show = nullptr;
        if (disp32ShowInitEx(&show, dc, (int)preview.bytesPerPixel * 8, x, y,
                             x + (LONG)preview.width, y + (LONG)preview.height, gamma, 0, 0, 0, 0)) {
            disp32ShowData(show, pixels.data(), 0, 0, (int)preview.height, (int)preview.stride);
            disp32ShowEnd(show);
        } else {
            previewed = false;
        }
        if (gamma) DeleteObject(gamma);
    }
    FrameRect(dc, &all, GetSysColorBrush(COLOR_BTNSHADOW));
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

/* Lists the folder's images (name order) with their thumbnails. */
void CollectImages(Chooser &chooser, const Module &q32)
{
    std::string patterns = FilterPatterns(chooser.request->filter);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((chooser.folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                PathMatchSpecA(found.cFileName, patterns.c_str()))
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
    chooser.thumbnails = ImageList_Create(Thumb, Thumb, ILC_COLOR24, 16, 16);
    for (const std::string &name : names) {
        if (chooser.images.size() >= ImageLimit) break;
        Image image;
        image.name = chooser.folder + "\\" + name;
        HGLOBAL fileData = q32.getFileData(image.name.c_str(), nullptr);
        if (!fileData) continue;
        if (FileData *data = (FileData *)GlobalLock(fileData)) {
            char text[128];
            snprintf(text, sizeof text, "%ld x %ld pixels, %lu bytes", (long)data->raster.width,
                     (long)data->raster.height, (unsigned long)data->fileSize);
            image.details = text;
            GlobalUnlock(fileData);
        }
        HBITMAP bitmap = MakeThumbnail(q32, fileData, image.preview);
        q32.freeFileData(fileData);
        if (image.preview) chooser.previews++;
        if (chooser.thumbnails && bitmap) ImageList_Add(chooser.thumbnails, bitmap, nullptr);
        if (bitmap) DeleteObject(bitmap);
        chooser.images.push_back(image);
    }
}

/* Writes name, its zero and the final zero into the result buffer when they fit. */
bool Answer(VisualOpenRequest *request, const std::string &name)
{
    if (!request->result || name.size() + 2 > request->resultSize) return false;
    memcpy(request->result, name.c_str(), name.size() + 1);
    request->result[name.size() + 1] = 0;
    request->answer = 1;
    return true;
}

int Selected(HWND dialog)
{
    return (int)SendDlgItemMessageA(dialog, IDC_THUMBNAILS, LVM_GETNEXTITEM, (WPARAM)-1,
                                    LVNI_SELECTED);
}

void ShowDetails(HWND dialog, const Chooser &chooser)
{
    int index = Selected(dialog);
    std::string text;
    if (index >= 0 && index < (int)chooser.images.size()) {
        const Image &image = chooser.images[index];
        text = image.name.substr(image.name.find_last_of('\\') + 1) + "  -  " + image.details;
    }
    SetDlgItemTextA(dialog, IDC_DETAILS, text.c_str());
    EnableWindow(GetDlgItem(dialog, IDOK), index >= 0);
}

void FillList(HWND dialog, const Chooser &chooser)
{
    HWND list = GetDlgItem(dialog, IDC_THUMBNAILS);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, (LPARAM)chooser.thumbnails);
    SendMessageA(list, LVM_SETICONSPACING, 0, MAKELPARAM(Thumb + 24, Thumb + 32));
    for (size_t i = 0; i < chooser.images.size(); i++) {
        const std::string &name = chooser.images[i].name;
        std::string shown = name.substr(name.find_last_of('\\') + 1);
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = (int)i;
        item.iImage = (int)i;
        item.pszText = const_cast<char *>(shown.c_str());
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    }
    if (!chooser.images.empty()) {
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, 0, (LPARAM)&state);
    }
}

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Chooser *chooser = (Chooser *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG: {
        chooser = (Chooser *)lParam;
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        if (chooser->request->title) SetWindowTextA(dialog, chooser->request->title);
        SetDlgItemTextA(dialog, IDC_FOLDER, chooser->folder.c_str());
        if (!(chooser->request->flags & OFN_SHOWHELP))
            ShowWindow(GetDlgItem(dialog, IDC_HELPBUTTON), SW_HIDE);
        FillList(dialog, *chooser);
        ShowDetails(dialog, *chooser);
        return TRUE;
    }
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (header->idFrom != IDC_THUMBNAILS) break;
        if (header->code == LVN_ITEMCHANGED) ShowDetails(dialog, *chooser);
        if (header->code == NM_DBLCLK && Selected(dialog) >= 0)
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            int index = Selected(dialog);
            if (index >= 0 && Answer(chooser->request, chooser->images[index].name))
                EndDialog(dialog, 1);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_HELPBUTTON:
            if (chooser->request->helpFile)
                q32MyWinHelp(dialog, chooser->request->helpFile, HELP_CONTEXT,
                             chooser->request->helpContext);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

extern "C" int __cdecl qGetVisaulOpenFileName(VisualOpenRequest *request)
{
    if (!request || !request->result || request->resultSize < 2) return 0;
    Module q32;
    if (!q32.Bind()) return 0;
    Chooser chooser;
    chooser.request = request;
    char folder[MAX_PATH] = "";
    if (request->initialDir && *request->initialDir)
        GetFullPathNameA(request->initialDir, sizeof folder, folder, nullptr);
    else
        GetCurrentDirectoryA(sizeof folder, folder);
    chooser.folder = folder;
    while (chooser.folder.size() > 3 && chooser.folder.back() == '\\') chooser.folder.pop_back();
    CollectImages(chooser, q32);

    char line[2048];
    char filter[128] = "-";
    if (request->filter) lstrcpynA(filter, request->filter, sizeof filter);
    snprintf(line, sizeof line, "%s|%s|%lx|%s|%lu|%s|%lu|%s|images=%u previews=%d",
             request->title ? request->title : "", chooser.folder.c_str(),
             (unsigned long)request->flags, request->helpFile ? request->helpFile : "",
             (unsigned long)request->helpContext,
             request->registryKey ? request->registryKey : "", (unsigned long)request->cacheSize,
             filter, (unsigned)chooser.images.size(), chooser.previews);
    AppendLog(line);

    int answer;
    std::string automatic = Environment("Q32VOFN_AUTO");
    if (automatic == "first")
        answer = !chooser.images.empty() && Answer(request, chooser.images[0].name) ? 1 : 0;
    else if (automatic == "cancel")
        answer = 0;
    else {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        answer = DialogBoxParamA(Self, MAKEINTRESOURCEA(IDD_VISUALOPEN), request->owner,
                                 ChooserProc, (LPARAM)&chooser) == 1 ? 1 : 0;
    }
    if (chooser.thumbnails) ImageList_Destroy(chooser.thumbnails);
    return answer;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Self = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
