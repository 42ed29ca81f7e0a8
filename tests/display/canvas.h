/* A memory device context on a top-down DIB section whose pixels a test reads back. */
#ifndef Q32_TEST_CANVAS_H
#define Q32_TEST_CANVAS_H

#include <windows.h>
#include <string.h>

namespace q32test {

class Canvas {
public:
    /* width x height pixels of 32 bits, or of 16 bits (5-6-5) when hiColor. Every pixel
       starts as fill (a COLORREF). */
    Canvas(int width, int height, COLORREF fill = RGB(1, 2, 3), bool hiColor = false)
        : width_(width), height_(height), hiColor_(hiColor)
    {
        struct {
            BITMAPINFOHEADER header;
            DWORD masks[3];
        } info = {};
        info.header.biSize = sizeof info.header;
        info.header.biWidth = width;
        info.header.biHeight = -height;
        info.header.biPlanes = 1;
        info.header.biBitCount = hiColor ? 16 : 32;
        info.header.biCompression = hiColor ? BI_BITFIELDS : BI_RGB;
        info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS,
                                   &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        RECT all = {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(fill);
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
        GdiFlush();
    }
    ~Canvas()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    HDC dc() const { return dc_; }
    bool ok() const { return bitmap_ && bits_; }

    /* The pixel as a COLORREF (32-bit canvas). */
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        const BYTE *p = static_cast<const BYTE *>(bits_) + ((size_t)y * width_ + x) * 4;
        return RGB(p[2], p[1], p[0]);
    }
    /* The raw 16-bit pixel (5-6-5 canvas). */
    WORD Raw16(int x, int y) const
    {
        GdiFlush();
        size_t stride = ((size_t)width_ * 2 + 3) / 4 * 4;
        WORD w;
        memcpy(&w, static_cast<const BYTE *>(bits_) + stride * y + 2 * x, 2);
        return w;
    }

private:
    int width_, height_;
    bool hiColor_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void *bits_ = nullptr;
};

/* A palette of the given colours (COLORREFs). */
inline HPALETTE MakePalette(const COLORREF *colours, int count)
{
    struct {
        WORD version, count;
        PALETTEENTRY entries[256];
    } log = {0x300, (WORD)count, {}};
    for (int i = 0; i < count; i++)
        log.entries[i] = {GetRValue(colours[i]), GetGValue(colours[i]), GetBValue(colours[i]), 0};
    return CreatePalette(reinterpret_cast<LOGPALETTE *>(&log));
}

} // namespace q32test

#endif
