/* Drawing throughput of q32Base's display functions: a 1024 x 768 picture drawn into a
   memory DIB section, as true colour, as palette indices and dithered to 16 bits. */
#include <windows.h>
#include <stdio.h>
#include <vector>
#include "q32base.h"
#include "bench.h"

namespace {

void Measure(const char *what, int bits, int targetBits, bool rowByRow, HPALETTE palette)
{
    const int w = 1024, h = 768, rounds = 10;
    int bytes = bits / 8;
    std::vector<BYTE> rows((size_t)w * h * bytes);
    for (size_t i = 0; i < rows.size(); i++) rows[i] = (BYTE)(i * 7);

    struct { BITMAPINFOHEADER header; DWORD masks[3]; } info = {};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = w;
    info.header.biHeight = -h;
    info.header.biPlanes = 1;
    info.header.biBitCount = (WORD)targetBits;
    info.header.biCompression = targetBits == 16 ? BI_BITFIELDS : BI_RGB;
    info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
    HDC dc = CreateCompatibleDC(nullptr);
    void *bits_;
    HBITMAP bitmap = CreateDIBSection(dc, (BITMAPINFO *)&info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);

    double start = bench::Now();
    for (int r = 0; r < rounds; r++) {
        HDISP32SHOW show;
        disp32ShowInitEx(&show, dc, bits, 0, 0, w, h, palette, 0, 0, 0, 0);
        if (rowByRow)
            for (int y = 0; y < h; y++) disp32ShowData(show, &rows[(size_t)y * w * bytes], 0, 0, 1, w * bytes);
        else
            disp32ShowData(show, rows.data(), 0, 0, h, w * bytes);
        disp32ShowEnd(show);
    }
    GdiFlush();
    double elapsed = bench::Now() - start;
    printf("%-40s %7.1f Mpixel/s  (%.2f ms a picture)\n", what,
           (double)w * h * rounds / elapsed / 1e6, elapsed * 1000 / rounds);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

} // namespace

int main()
{
    struct { WORD version, count; PALETTEENTRY entries[256]; } log = {0x300, 256, {}};
    for (int i = 0; i < 256; i++) log.entries[i] = {(BYTE)i, (BYTE)(255 - i), (BYTE)(i / 2), 0};
    HPALETTE palette = CreatePalette((LOGPALETTE *)&log);

    Measure("24-bit rows, one call", 24, 32, false, nullptr);
    Measure("24-bit rows, a call per row", 24, 32, true, nullptr);
    Measure("8-bit indices through a palette", 8, 32, false, palette);
    disp32NewScreenGamma(220, 220, 220);
    Measure("24-bit rows, gamma 2.20", 24, 32, false, nullptr);
    disp32BeHiColorDither(1);
    Measure("24-bit rows dithered to 16 bits", 24, 16, false, nullptr);
    DeleteObject(palette);
    return 0;
}
