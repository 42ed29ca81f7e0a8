/* The open dialog's information and preview panel. */
#include "opendlg.h"
#include "../fileops/fileops.h"
#include "../controls/palctl.h"
#include "q32base.h"
#include <stdio.h>
#include <string.h>

namespace {

/* The panel of the one open dialog that runs (zeroed at each set-up). */
struct PanelState {
    int centreX, centreY;
    int box;
    int width, height;
    int bytesPerPixel, stride;
    DWORD bufferSize;
    HGLOBAL buffer;
    HPALETTE palette;
} Panel;

/* Whether the panel FileData holds a real block (1 stands for "none held"). */
bool HoldsFileData()
{
    return PanelFileData && PanelFileData != (HGLOBAL)1;
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
HGLOBAL PickPalette(const char *name, int keep)
{
    PalettePick *pick = PalettePickInEffect;
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

} // namespace

void DropPanelFileData()
{
    if (HoldsFileData())
        q32FileFreeFileData(PanelFileData);
    PanelFileData = nullptr;
}

/******************************************************************
 *      SetUpPanel
 *
 * Sizes the preview box from the OK and Cancel buttons and allocates the pixel buffer.
 */
void SetUpPanel(HWND dialog)
{
    FreePanelBuffer();
    Panel = PanelState{};
    RECT ok = {}, cancel = {}, picture = {};
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
    int h = ok.bottom - ok.top;
    int q = (cancel.top - ok.bottom) / 4;
    Panel.box = 3 * (h + 2 * q);
    if (Panel.box < 1)
        Panel.box = 1;
    Panel.bufferSize = (DWORD)Panel.box * Panel.box * 4 + 4;
    Panel.buffer = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, Panel.bufferSize);
    if (!Panel.buffer)
        Panel.bufferSize = 0;
    HWND control = GetDlgItem(dialog, IdPreviewPicture);
    GetWindowRect(control, &picture);
    MapWindowPoints(nullptr, dialog, (POINT *)&picture, 2);
    Panel.centreX = (picture.left + picture.right) / 2;
    Panel.centreY = (picture.top + picture.bottom) / 2;
}

void FreePanelBuffer()
{
    if (Panel.buffer)
        GlobalFree(Panel.buffer);
    Panel.buffer = nullptr;
    Panel.bufferSize = 0;
}

/******************************************************************
 *      PanelFileFor
 *
 * The FileData of the file name names (in palette-pick mode: PickPalette's answer), or 0.
 */
HGLOBAL PanelFileFor(HWND dialog, const char *name)
{
    char resolved[Q32_MAX_NAME];
    if (!name || !CheckTypedName(dialog, name, resolved))
        return nullptr;
    if (!PalettePickInEffect)
        return qfFileGetFileData(resolved, nullptr);
    return PickPalette(resolved, 1);
}

/******************************************************************
 *      MakePreview
 *
 * automatic 1: whether a picture may be made at once (not for 8400000 pixels or more
 * without vector data). automatic 0: makes the picture into the pixel buffer. 1 when a
 * picture can be shown.
 */
int MakePreview(HGLOBAL fileData, int automatic)
{
    if (PalettePickInEffect) {
        if (!PalettePickInEffect->palette)
            return 0;
        int u = PalettePickInEffect->colors < 17 ? 4 : 16;
        int cells = Panel.box / u;
        Panel.width = Panel.height = (cells > 1 ? cells : 1) * u;
        return 1;
    }
    q32::Locked<FileData> data(fileData);
    if (!data) {
        ShowError(nullptr, 1001, LineForm, 1720, 980, 0, nullptr);
        return 0;
    }
    if (automatic)
        return data->vectorPresent ||
               (long long)data->raster.width * data->raster.height < 8400000 ? 1 : 0;
    if (!Panel.buffer)
        return 0;
    Panel.palette = data->vectorPresent && data->vector.palette ? data->vector.palette
                                                                : data->raster.palette;
    PreviewInfo info = {};
    int answer = qfFileGetPreviewMem(fileData, &info, (LONG_PTR)Panel.bufferSize,
                                     (BYTE *)Panel.buffer, Panel.box, Panel.box);
    Panel.width = (int)info.width;
    Panel.height = (int)info.height;
    Panel.bytesPerPixel = (int)info.bytesPerPixel;
    Panel.stride = (int)info.stride;
    if (answer == 0) {
        if (!c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            RecordError(nullptr, LineForm, 1720, 1172, 4020, (ULONG_PTR)data->name);
        return 0;
    }
    return answer < 0 ? 0 : 1;
}

/******************************************************************
 *      ShowPreview
 *
 * Makes the picture of the panel FileData and shows it centred in the preview area.
 */
int ShowPreview(HWND dialog)
{
    HWND control = GetDlgItem(dialog, IdPreviewPicture);
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
    Panel.centreY = (rect.top + rect.bottom) / 2;
    ShowWindow(GetDlgItem(dialog, IdPreviewButton), SW_HIDE);
    if (!MakePreview(PanelFileData, 0))
        return 0;
    int border = GetOsGeneration() >= 1 ? 2 : 1;
    SetWindowPos(control, nullptr, Panel.centreX - Panel.width / 2 - border,
                 Panel.centreY - Panel.height / 2 - border, Panel.width + 2 * border,
                 Panel.height + 2 * border, SWP_NOZORDER | SWP_NOACTIVATE);
    PreviewPicture picture = {sizeof picture, Panel.width, Panel.height, Panel.bytesPerPixel,
                              Panel.stride, (const BYTE *)Panel.buffer, Panel.palette};
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
void UpdatePanel(HWND dialog, const char *name)
{
    ShowWindow(GetDlgItem(dialog, IdPreviewPicture), SW_HIDE);
    DropPanelFileData();
    PanelFileData = PanelFileFor(dialog, name);
    FillPanelText(dialog, PanelFileData);
    if (!PanelFileData) {
        ShowButton(dialog, 0, 0);
        return;
    }
    if (MakePreview(PanelFileData, 1)) {
        ShowButton(dialog, 0, 0);
        if (!ShowPreview(dialog)) {
            ShowButton(dialog, 1, 0);
            DropPanelFileData();
        }
    } else if (PalettePickInEffect) {
        if (PalettePickInEffect->palette)
            DeleteObject(PalettePickInEffect->palette);
        PalettePickInEffect->palette = nullptr;
    } else {
        ShowButton(dialog, 1, 1);
    }
}

/******************************************************************
 *      OnPreviewButton
 */
void OnPreviewButton(HWND dialog)
{
    if (!PanelFileData)
        PanelFileData = PanelFileFor(dialog, LastSelectedName);
    if (!PanelFileData)
        return;
    SetFocus(GetDlgItem(dialog, GetOsGeneration() >= 1 ? IdFolderList : IdFileList));
    if (!ShowPreview(dialog))
        ShowButton(dialog, 1, 0);
}

/******************************************************************
 *      FillPanelText
 *
 * Type, compression, size, resolution, file size and date of the file in the panel.
 */
void FillPanelText(HWND dialog, HGLOBAL fileData)
{
    char text[512] = "", piece[Q32_MAX_NAME], format[Q32_MAX_NAME];
    int enable = 0;
    PalettePick *pick = PalettePickInEffect;
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
