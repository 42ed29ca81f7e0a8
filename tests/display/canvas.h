/* A memory device context on a top-down 32-bit DIB section whose pixels a test reads. */
#ifndef Q32_TEST_CANVAS_H
#define Q32_TEST_CANVAS_H

#include <windows.h>

namespace q32test {

class Canvas {
public:
    /* Every pixel starts as fill. */
    Canvas(int width, int height, COLORREF fill = RGB(1, 2, 3)) : width_(width)
    {
        BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}};
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        RECT all = {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(fill);
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
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
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        const BYTE *p = static_cast<const BYTE *>(bits_) + ((size_t)y * width_ + x) * 4;
        return RGB(p[2], p[1], p[0]);
    }

private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void *bits_ = nullptr;
};

/* A palette of the given colours. */
inline HPALETTE MakePalette(const COLORREF *colours, int count)
{
    struct { WORD version, count; PALETTEENTRY entries[256]; } log = {0x300, (WORD)count, {}};
    for (int i = 0; i < count; i++) log.entries[i] = {GetRValue(colours[i]), GetGValue(colours[i]), GetBValue(colours[i]), 0};
    return CreatePalette(reinterpret_cast<LOGPALETTE *>(&log));
}

} // namespace q32test

#endif
