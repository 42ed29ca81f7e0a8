/* The open dialog's information and preview panel. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include "../controls/palctl.h"
#include "q32base.h"
#include <stdio.h>
#include <string.h>

namespace {

/* Whether the panel's FileData is a real block (1 stands for "none held"). */
bool HoldsFileData(const OpenPanel &panel)
{
    return panel.fileData && panel.fileData != (HGLOBAL)1;
}

void ShowButton(HWND dialog, int show, int enable)
{
    HWND button = GetDlgItem(dialog, IdPreviewButton);
    ShowWindow(button, show ? SW_SHOW : SW_HIDE);
    EnableWindow(button, enable);
}

/* Appends text to the panel text, cut to the buffer. */
void Append(char *text, size_t size, const char *piece)
{
    size_t used = strlen(text);
    if (used + 1 < size)
        CopyText(text + used, size - used, piece);
}

/* Fills the pick from name: a palette file, or the palette of an image. keep: the
   image's FileData is given; else 1 for success. */
HGLOBAL PickPalette(PalettePick *pick, const char *name, int keep)
{
    if (pick->palette) {
        DeleteObject(pick->palette);
        pick->palette = nullptr;
    }
    if (ReadPaletteFile(name, pick))
        return (HGLOBAL)1;
    HGLOBAL fileData = qfFileGetFileData(name, nullptr);
    if (!fileData)
        return nullptr;
    {
        q32::Locked<FileData> data(fileData);
        WORD entries = 0;
        if (data && data->raster.palette &&
            GetObjectA(data->raster.palette, sizeof entries, &entries) && entries >= 2 &&
            entries <= 256) {
            pick->palette = disp32PalDuplicate(data->raster.palette);
            if (pick->palette)
                pick->colors = entries;
        }
    }
    if (keep)
        return fileData;
    q32FileFreeFileData(fileData);
    return (HGLOBAL)1;
}

/* The FileData of the file name names (in palette-pick mode: PickPalette's answer), or 0. */
HGLOBAL PanelFileFor(HWND dialog, const OpenPanel &panel, const char *name)
{
    char resolved[Q32_MAX_NAME];
    if (!name || !CheckTypedName(dialog, name, resolved))
        return nullptr;
    if (!panel.pick)
        return qfFileGetFileData(resolved, nullptr);
    return PickPalette(panel.pick, resolved, 1);
}

/* automatic 1: whether a picture may be made at once (not for 8400000 pixels or more
   without vector data). automatic 0: makes the picture into the pixel buffer. 1 when a
   picture can be shown. */
int MakePreview(OpenPanel &panel, int automatic)
{
    HGLOBAL fileData = panel.fileData;
    if (panel.pick) {
        if (!panel.pick->palette)
            return 0;
        int u = panel.pick->colors < 17 ? 4 : 16;
        int cells = panel.box / u;
        panel.width = panel.height = (cells > 1 ? cells : 1) * u;
        return 1;
    }
    q32::Locked<FileData> data(fileData);
    if (!data) {
        ShowError(nullptr, ErrLowMemory, UnitOpenDialog.At(980), 0, nullptr);
        return 0;
    }
    if (automatic)
        return data->vectorPresent ||
               (long long)data->raster.width * data->raster.height < 8400000 ? 1 : 0;
    if (!panel.buffer)
        return 0;
    panel.palette = data->vectorPresent && data->vector.palette ? data->vector.palette
                                                                : data->raster.palette;
    PreviewInfo info = {};
    int answer = qfFileGetPreviewMem(fileData, &info, (LONG_PTR)panel.bufferSize,
                                     (BYTE *)panel.buffer, panel.box, panel.box);
    panel.width = (int)info.width;
    panel.height = (int)info.height;
    panel.bytesPerPixel = (int)info.bytesPerPixel;
    panel.stride = (int)info.stride;
    if (answer == 0) {
        if (!ReadErrorRecord().id)
            RecordError(nullptr, UnitOpenDialog.At(1172), ErrDamaged, (ULONG_PTR)data->name);
        return 0;
    }
    return answer < 0 ? 0 : 1;
}

/* Type, compression, size, resolution, file size and date of the file in the panel. */
void FillPanelText(HWND dialog, const OpenPanel &panel)
{
    HGLOBAL fileData = panel.fileData;
    char text[512] = "", piece[Q32_MAX_NAME], format[Q32_MAX_NAME];
    int enable = 0;
    PalettePick *pick = panel.pick;
    if (!fileData) {
    } else if (pick && pick->fromPaletteFile) {
        LoadStringA(ResourceModule, 31305, text, sizeof text);
        Append(text, sizeof text, "\n");
        LoadStringA(ResourceModule, 31306, format, sizeof format);
        wsprintfA(piece, format, (int)pick->colors);
        Append(text, sizeof text, piece);
        Append(text, sizeof text, "\n");
        q32::FileHandle file(OpenForRead(pick->name));
        if (file) {
            char size[Q32_SIZE_TEXT_SIZE];
            q32FileSizeToAscii((long)GetFileSize(file.get(), nullptr), size, -1);
            Append(text, sizeof text, size);
            Append(text, sizeof text, ",  ");
            char date[Q32_DATE_TEXT_SIZE];
            GetFileDateTimeToAscii(pick->name, date);
            Append(text, sizeof text, date);
        }
        enable = 1;
    } else if (fileData != (HGLOBAL)1) {
        q32::Locked<FileData> data(fileData);
        if (data) {
            q32FileGetImageTypeString(data->sizeMode == 2 ? 2048 : data->raster.dataType, piece,
                                      sizeof piece);
            Append(text, sizeof text, piece);
            Append(text, sizeof text, ",  ");
            q32FileGetCompressTypeString(data->compression, piece, sizeof piece);
            Append(text, sizeof text, piece);
            Append(text, sizeof text, ", ");
            LoadStringA(ResourceModule, 31240, format, sizeof format);
            wsprintfA(piece, format, (int)data->raster.width, (int)data->raster.height);
            Append(text, sizeof text, piece);
            Append(text, sizeof text, ",  ");
            unsigned dpiX = (unsigned)(((unsigned long long)data->raster.resolutionX + 5000) / 10000);
            unsigned dpiY = (unsigned)(((unsigned long long)data->raster.resolutionY + 5000) / 10000);
            if (dpiX && dpiY) {
                LoadStringA(ResourceModule, 31241, format, sizeof format);
                wsprintfA(piece, format, (int)dpiX, (int)dpiY);
                Append(text, sizeof text, piece);
                Append(text, sizeof text, ",  ");
            }
            char size[Q32_SIZE_TEXT_SIZE];
            q32FileSizeToAscii((long)data->fileSize, size, -1);
            Append(text, sizeof text, size);
            Append(text, sizeof text, ",  ");
            char date[Q32_DATE_TEXT_SIZE];
            GetFileDateTimeToAscii(data->name, date);
            Append(text, sizeof text, date);
            enable = data->readable != 0 && !(pick && !pick->palette);
        }
    }
    SetDlgItemTextA(dialog, IdInfoText, text);
    EnableWindow(GetDlgItem(dialog, IdPreviewButton), enable);
}

} // namespace

void DropPanelFileData(OpenPanel &panel)
{
    if (HoldsFileData(panel))
        q32FileFreeFileData(panel.fileData);
    panel.fileData = nullptr;
}

/******************************************************************
 *      SetUpPanel
 *
 * Sizes the preview box from the OK and Cancel buttons and allocates the pixel buffer.
 */
void SetUpPanel(HWND dialog, OpenPanel &panel)
{
    FreePanelBuffer(panel);
    panel.width = panel.height = panel.bytesPerPixel = panel.stride = 0;
    panel.palette = nullptr;
    RECT ok = {}, cancel = {}, picture = {};
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
    int h = ok.bottom - ok.top;
    int q = (cancel.top - ok.bottom) / 4;
    panel.box = 3 * (h + 2 * q);
    if (panel.box < 1)
        panel.box = 1;
    panel.bufferSize = (DWORD)panel.box * panel.box * 4 + 4;
    panel.buffer = Sys.globalAlloc(GMEM_FIXED | GMEM_ZEROINIT, panel.bufferSize);
    if (!panel.buffer)
        panel.bufferSize = 0;
    HWND control = GetDlgItem(dialog, IdPreviewPicture);
    GetWindowRect(control, &picture);
    MapWindowPoints(nullptr, dialog, (POINT *)&picture, 2);
    panel.centreX = (picture.left + picture.right) / 2;
    panel.centreY = (picture.top + picture.bottom) / 2;
}

void FreePanelBuffer(OpenPanel &panel)
{
    if (panel.buffer)
        GlobalFree(panel.buffer);
    panel.buffer = nullptr;
    panel.bufferSize = 0;
}

/******************************************************************
 *      ShowPreview
 *
 * Makes the picture of the panel's FileData and shows it centred in the preview area.
 */
int ShowPreview(HWND dialog, OpenPanel &panel)
{
    HWND control = GetDlgItem(dialog, IdPreviewPicture);
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
    panel.centreY = (rect.top + rect.bottom) / 2;
    ShowWindow(GetDlgItem(dialog, IdPreviewButton), SW_HIDE);
    if (!MakePreview(panel, 0))
        return 0;
    int border = GetOsGeneration() >= 1 ? 2 : 1;
    SetWindowPos(control, nullptr, panel.centreX - panel.width / 2 - border,
                 panel.centreY - panel.height / 2 - border, panel.width + 2 * border,
                 panel.height + 2 * border, SWP_NOZORDER | SWP_NOACTIVATE);
    PreviewPicture picture = {sizeof picture, panel.width, panel.height, panel.bytesPerPixel,
                              panel.stride, (const BYTE *)panel.buffer, panel.palette};
    SendMessageA(control, Q32PV_SETPICTURE, 0, (LPARAM)&picture);
    InvalidateRect(control, nullptr, TRUE);
    ShowWindow(control, SW_SHOW);
    return 1;
}

/******************************************************************
 *      UpdatePanel
 *
 * Describes name in the panel and previews it when it is not too large.
 */
void UpdatePanel(HWND dialog, OpenPanel &panel, const char *name)
{
    ShowWindow(GetDlgItem(dialog, IdPreviewPicture), SW_HIDE);
    DropPanelFileData(panel);
    panel.fileData = PanelFileFor(dialog, panel, name);
    FillPanelText(dialog, panel);
    if (!panel.fileData) {
        ShowButton(dialog, 0, 0);
        return;
    }
    if (MakePreview(panel, 1)) {
        ShowButton(dialog, 0, 0);
        if (!ShowPreview(dialog, panel)) {
            ShowButton(dialog, 1, 0);
            DropPanelFileData(panel);
        }
    } else if (panel.pick) {
        if (panel.pick->palette)
            DeleteObject(panel.pick->palette);
        panel.pick->palette = nullptr;
    } else {
        ShowButton(dialog, 1, 1);
    }
}

/******************************************************************
 *      OnPreviewButton
 */
void OnPreviewButton(HWND dialog, OpenPanel &panel)
{
    if (!panel.fileData)
        panel.fileData = PanelFileFor(dialog, panel, panel.lastName);
    if (!panel.fileData)
        return;
    SetFocus(GetDlgItem(dialog, GetOsGeneration() >= 1 ? IdFolderList : IdFileList));
    if (!ShowPreview(dialog, panel))
        ShowButton(dialog, 1, 0);
}
