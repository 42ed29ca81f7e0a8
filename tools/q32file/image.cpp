/* Moving whole images between plug-ins through the row protocol. */
#include "image.h"
#include <string.h>

bool Image::Shape(const ImageDescription &d)
{
    if (d.width <= 0 || d.height <= 0 || d.bitsPerPixel == 0 || d.bitsPerPixel > 64) return false;
    width = d.width;
    height = d.height;
    bitsPerPixel = d.bitsPerPixel;
    dataType = d.dataType;
    resolutionX = d.resolutionX;
    resolutionY = d.resolutionY;
    rowBytes = Q32_ROW_BYTES(dataType, bitsPerPixel, width);
    unsigned long long total = (unsigned long long)rowBytes * height;
    if (total > ((size_t)1 << 31)) return false;
    pixels.assign((size_t)total, 0);
    palette.clear();
    if (d.palette) {
        WORD entries = 0;
        if (GetObjectA(d.palette, sizeof entries, &entries) && entries) {
            palette.resize(entries);
            GetPaletteEntries(d.palette, 0, entries, palette.data());
        }
    }
    return true;
}

size_t Image::Offset(LONG x) const
{
    return dataType == Q32_TYPE_BILEVEL ? (size_t)x / 8 : (size_t)x * ((bitsPerPixel + 7) / 8);
}

namespace {

/* Read: rows, part rows and fills from the plug-in into the image, clipped to it. */
LONG WINAPI TakeRows(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
                     void *rowData, DWORD flags, LONG_PTR, LONG_PTR)
{
    Image &image = *static_cast<Image *>(request->context);
    if (rows <= 0) {
        if (!(flags & Q32_ROW_FILL) || !rowData) return 0;
        size_t pixelBytes = (image.bitsPerPixel + 7) / 8;
        if (image.dataType == Q32_TYPE_BILEVEL) {
            memset(image.pixels.data(), (*(BYTE *)rowData & 1) ? 0xFF : 0, image.pixels.size());
        } else {
            for (size_t at = 0; at + pixelBytes <= image.pixels.size(); at += pixelBytes)
                memcpy(&image.pixels[at], rowData, pixelBytes < 4 ? pixelBytes : 4);
        }
        return 1;
    }
    if (x < 0 || x >= image.width || count <= 0) return 1;
    if (count > image.width - x) count = image.width - x;
    size_t bytes = Q32_ROW_BYTES(image.dataType, image.bitsPerPixel, count);
    const BYTE *const *list = static_cast<const BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) {
        LONG yy = y + i;
        if (yy < 0 || yy >= image.height || !list[i]) continue;
        memcpy(image.Row(yy) + image.Offset(x), list[i], bytes);
    }
    return 1;
}

/* Write: the plug-in's row buffers filled from the image. */
LONG WINAPI GiveRows(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
                     void *rowData, DWORD flags, LONG_PTR, LONG_PTR)
{
    const Image &image = *static_cast<const Image *>(request->context);
    if (!(flags & Q32_ROW_PULL) || !rowData || x < 0 || count <= 0 || x + count > image.width)
        return 0;
    size_t bytes = Q32_ROW_BYTES(image.dataType, image.bitsPerPixel, count);
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) {
        LONG yy = y + i;
        if (yy < 0 || yy >= image.height) return 0;
        memcpy(list[i], const_cast<Image &>(image).Row(yy) + image.Offset(x), bytes);
    }
    return 1;
}

} // namespace

INT_PTR ReadImage(HGLOBAL fileData, Image &image)
{
    ImageDescription d;
    {
        FileData *data = static_cast<FileData *>(GlobalLock(fileData));
        if (!data) return 0;
        d = data->raster;
        GlobalUnlock(fileData);
    }
    if (!image.Shape(d)) return 0;
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = 0xFFFF & ~Q32_TYPE_VECTOR;
    request.context = &image;
    return qfFileRead(fileData, &request, TakeRows);
}

void DescribeImage(FileData &data, const Image &image)
{
    data.raster.bitsPerPixel = image.bitsPerPixel;
    data.raster.width = image.width;
    data.raster.height = image.height;
    data.raster.dataType = image.dataType;
    data.raster.resolutionX = image.resolutionX;
    data.raster.resolutionY = image.resolutionY;
    if (data.raster.palette) DeleteObject(data.raster.palette);
    data.raster.palette = nullptr;
    if (!image.palette.empty()) {
        std::vector<BYTE> block(sizeof(LOGPALETTE) + image.palette.size() * sizeof(PALETTEENTRY));
        LOGPALETTE *logical = reinterpret_cast<LOGPALETTE *>(block.data());
        logical->palVersion = 0x300;
        logical->palNumEntries = (WORD)image.palette.size();
        memcpy(logical->palPalEntry, image.palette.data(), image.palette.size() * sizeof(PALETTEENTRY));
        data.raster.palette = CreatePalette(logical);
    }
}

int WriteImage(HGLOBAL fileData, const Image &image)
{
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = image.dataType;
    request.context = const_cast<Image *>(&image);
    return qfFileWrite(fileData, &request, GiveRows);
}
