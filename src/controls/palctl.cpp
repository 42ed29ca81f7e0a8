/* The palette preview control ("Q32PV_CLASS") and the RIFF palette file reader. */
#include "palctl.h"
#include "q32base.h"
#include <mmsystem.h>
#include <string.h>

PalettePick *PalettePickInEffect;

namespace {

/* The picture every control of the class shows. */
PreviewPicture Picture;

HINSTANCE ClassInstance;
bool ClassRegistered;

/* A gamma-corrected copy of palette, deleted with the holder. */
struct GammaPalette {
    HPALETTE handle;
    explicit GammaPalette(HPALETTE palette)
        : handle(palette ? disp32GammaColorPalette(palette, 0) : nullptr) {}
    ~GammaPalette() { if (handle) DeleteObject(handle); }
    GammaPalette(const GammaPalette &) = delete;
    GammaPalette &operator=(const GammaPalette &) = delete;
};

bool HasSomethingToShow()
{
    return Picture.pixels || PalettePickInEffect;
}

void DrawPicture(HDC dc, RECT rect)
{
    if (!Picture.pixels) return;
    GammaPalette copy(Picture.palette);
    HDISP32SHOW show = nullptr;
    if (!disp32ShowInitEx(&show, dc, Picture.bytesPerPixel * 8, rect.left, rect.top, rect.right,
                          rect.bottom, copy.handle, 0, 0, 0, 0))
        return;
    disp32ShowData(show, Picture.pixels, 0, 0, Picture.height, Picture.stride);
    disp32ShowEnd(show);
}

/* What the control shows, drawn into dc. */
void Draw(HDC dc)
{
    RECT rect = {0, 0, Picture.width, Picture.height};
    if (PalettePickInEffect && PalettePickInEffect->palette)
        PaintPaletteGrid(dc, rect, PalettePickInEffect->palette, (int)PalettePickInEffect->colors);
    else
        DrawPicture(dc, rect);
}

LRESULT CALLBACK PalettePreviewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        Picture = PreviewPicture{};
        break;
    case Q32PV_SETPICTURE: {
        const PreviewPicture *picture = reinterpret_cast<const PreviewPicture *>(lParam);
        if (picture && picture->size >= sizeof(PreviewPicture)) {
            Picture = *picture;
            Picture.size = sizeof(PreviewPicture);
        }
        return 0;
    }
    case Q32PV_NOTHING:
        return 0;
    case WM_PAINT: {
        if (!HasSomethingToShow()) break;
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (dc) Draw(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        if (HasSomethingToShow() && wParam) Draw(reinterpret_cast<HDC>(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

/******************************************************************
 *      RegisterPalettePreviewClass
 */
int RegisterPalettePreviewClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.style = CS_GLOBALCLASS | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PalettePreviewProc;
    wc.cbWndExtra = 8;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    wc.lpszClassName = Q32PV_CLASSNAME;
    if (RegisterClassA(&wc)) {
        ClassInstance = instance;
        ClassRegistered = true;
    }
    return 1;
}

/******************************************************************
 *      UnregisterPalettePreviewClass
 */
void UnregisterPalettePreviewClass()
{
    if (!ClassRegistered) return;
    UnregisterClassA(Q32PV_CLASSNAME, ClassInstance);
    ClassRegistered = false;
    ClassInstance = nullptr;
}

/******************************************************************
 *      PaintPaletteGrid
 */
void PaintPaletteGrid(HDC dc, RECT rect, HPALETTE palette, int count)
{
    const int grid = count < 17 ? 4 : 16;
    const int cellWidth = (rect.right - rect.left) / grid;
    const int cellHeight = (rect.bottom - rect.top) / grid;

    GammaPalette copy(palette);
    HPALETTE colours = copy.handle ? copy.handle : palette;
    HPALETTE previous = colours ? SelectPalette(dc, colours, FALSE) : nullptr;
    if (colours) RealizePalette(dc);

    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));

    WORD entries = 0;
    if (colours && GetObjectA(colours, sizeof entries, &entries) != sizeof entries) entries = 0;
    int cells = count < grid * grid ? count : grid * grid;
    if (cells > entries) cells = entries;
    for (int index = 0; index < cells; index++) {
        PALETTEENTRY entry;
        if (GetPaletteEntries(colours, index, 1, &entry) != 1) break;
        int x = rect.left + (index % grid) * cellWidth;
        int y = rect.top + (index / grid) * cellHeight;
        RECT cell = {x, y, x + cellWidth, y + cellHeight};
        HBRUSH brush = CreateSolidBrush(RGB(entry.peRed, entry.peGreen, entry.peBlue));
        FillRect(dc, &cell, brush);
        DeleteObject(brush);
    }
    if (colours) SelectPalette(dc, previous, FALSE);
}

/******************************************************************
 *      ReadPaletteFile
 *
 * A RIFF "PAL " file's "data" chunk holds a LOGPALETTE: the version and entry count
 * (16 bits each) and the entries. Counts of 0 and above 256, and counts that the chunk
 * is too small to hold, are refused.
 */
int ReadPaletteFile(const char *name, PalettePick *pick)
{
    if (!pick) return 0;
    CopyText(pick->name, sizeof pick->name, name);
    pick->colors = 0;
    pick->palette = nullptr;
    pick->fromPaletteFile = 0;
    if (!name || strlen(name) >= sizeof pick->name) return 0;

    char path[Q32_MAX_NAME];
    CopyText(path, sizeof path, name);
    HMMIO file = mmioOpenA(path, nullptr, MMIO_READ);
    if (!file) return 0;
    q32::ScopeExit closeFile([file] { mmioClose(file, 0); });

    MMCKINFO riff = {};
    riff.fccType = mmioFOURCC('P', 'A', 'L', ' ');
    if (mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) return 0;
    MMCKINFO data = {};
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    if (mmioDescend(file, &data, &riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return 0;

    const size_t blockSize = offsetof(LOGPALETTE, palPalEntry) + 256 * sizeof(PALETTEENTRY);
    q32::GlobalHandle block(Sys.globalAlloc(GMEM_FIXED | GMEM_ZEROINIT, blockSize));
    if (!block) return 0;
    LOGPALETTE *log = static_cast<LOGPALETTE *>(GlobalLock(block.get()));
    if (!log) return 0;
    q32::ScopeExit unlock([&block] { GlobalUnlock(block.get()); });

    if (mmioRead(file, reinterpret_cast<HPSTR>(log), 8) != 8) return 0;
    const LONG count = log->palNumEntries;
    if (count < 1 || count > 256) return 0;
    const LONG needed = offsetof(LOGPALETTE, palPalEntry) + count * (LONG)sizeof(PALETTEENTRY);
    if ((LONG)data.cksize < needed) return 0;
    const LONG rest = (count - 1) * (LONG)sizeof(PALETTEENTRY);
    if (rest && mmioRead(file, reinterpret_cast<HPSTR>(&log->palPalEntry[1]), rest) != rest) return 0;

    HPALETTE palette = CreatePalette(log);
    if (!palette) return 0;
    pick->colors = (DWORD)count;
    pick->palette = palette;
    pick->fromPaletteFile = 1;
    return 1;
}
