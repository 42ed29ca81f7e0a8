/* Moving whole images between plug-ins through the row protocol. */
#include "image.h"
#include <string.h>
#include <unordered_map>
#include <utility>
#include "q32fio.h"
#include "q32comm.h"

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

INT_PTR ReadImage(HGLOBAL fileData, Image &image, DWORD types)
{
    ImageDescription d;
    {
        FileData *data = static_cast<FileData *>(GlobalLock(fileData));
        if (!data) return 0;
        d = data->raster;
        GlobalUnlock(fileData);
    }
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = 0xFFFF & ~Q32_TYPE_VECTOR;
    if (types) {
        /* Rows in a type the caller takes, converted by the plug-in. */
        DWORD delivered = Q32ReadType(d.dataType, types);
        if (delivered != d.dataType) {
            if (!delivered || !Q32TypeBits(delivered)) {
                c32SetDLLErrInfo(nullptr, QF_ERR_CANNOT, 0, 0, 0, 0);
                return 0;
            }
            if (delivered != Q32_TYPE_PALETTE8) d.palette = nullptr;
            d.dataType = delivered;
            d.bitsPerPixel = Q32TypeBits(delivered);
        }
        request.rasterTypes = types | Q32_TYPES_ONLY;
    }
    if (!image.Shape(d)) return 0;
    request.context = &image;
    return qfFileRead(fileData, &request, TakeRows);
}

DWORD ReachableTypes(DWORD type)
{
    DWORD types = type;
    for (DWORD bit = 1; bit <= Q32_TYPE_BGRA64; bit <<= 1)
        if (Q32ReadType(type, bit) == bit) types |= bit;
    return types;
}

DWORD WritableTypes(int number)
{
    static const struct { DWORD cap, type; } map[] = {
        {Q32_CAP_BILEVEL, Q32_TYPE_BILEVEL}, {Q32_CAP_GREY8, Q32_TYPE_GREY8},
        {Q32_CAP_PALETTE8, Q32_TYPE_PALETTE8}, {Q32_CAP_GREY4, Q32_TYPE_GREY4},
        {Q32_CAP_PALETTE4, Q32_TYPE_PALETTE4}, {Q32_CAP_RGB, Q32_TYPE_RGB},
        {Q32_CAP_BGRA, Q32_TYPE_BGRA}, {Q32_CAP_RGB48, Q32_TYPE_RGB48},
        {Q32_CAP_GREY16, Q32_TYPE_GREY16}, {Q32_CAP_BGRA64, Q32_TYPE_BGRA64},
    };
    HGLOBAL copy = qfFileGetFormatInfo(number);
    if (!copy) return 0;
    DWORD caps = 0;
    if (const FormatInfo *info = static_cast<const FormatInfo *>(GlobalLock(copy))) {
        caps = (info->typeCaps & Q32_CAP_ALL_RASTER) | DWORD(info->typeMaskHigh) << 16;
        GlobalUnlock(copy);
    }
    GlobalFree(copy);
    DWORD types = 0;
    for (const auto &m : map)
        if (caps & m.cap) types |= m.type;
    return types;
}

bool HasTransparency(HGLOBAL fileData)
{
    const FileData *data = static_cast<const FileData *>(GlobalLock(fileData));
    if (!data) return false;
    const QfFrameFacts *facts = QfFileDataFacts(data);
    bool transparent = data->raster.dataType == Q32_TYPE_BGRA || data->raster.dataType == Q32_TYPE_BGRA64 ||
                       (facts && facts->transparent);
    GlobalUnlock(fileData);
    return transparent;
}

void CoverIndices(Image &image)
{
    if (image.dataType != Q32_TYPE_PALETTE8 && image.dataType != Q32_TYPE_PALETTE4 &&
        image.dataType != Q32_TYPE_COLOURS16)
        return;
    if (image.palette.empty()) return; /* no palette: the writer's grey levels */
    size_t highest = 0;
    for (BYTE v : image.pixels)
        if (v > highest) highest = v;
    if (highest >= image.palette.size()) image.palette.resize(highest + 1, PALETTEENTRY{0, 0, 0, 0});
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

namespace {

/* Colour rows (RGB or BGRA) as palette indices: the image's own colours when they are
   at most 256, else the nearest of a 6 x 7 x 6 cube. */
void ToPalette(Image &image)
{
    const size_t step = image.dataType == Q32_TYPE_BGRA ? 4 : 3;
    std::vector<DWORD> colours;
    std::unordered_map<DWORD, BYTE> seen;
    std::vector<BYTE> indices((size_t)image.width * image.height);
    auto key = [](const BYTE *p) { return DWORD(p[2]) << 16 | DWORD(p[1]) << 8 | p[0]; };
    bool exact = true;
    for (LONG y = 0; y < image.height && exact; y++)
        for (LONG x = 0; x < image.width && exact; x++) {
            DWORD c = key(image.Row(y) + (size_t)x * step);
            auto at = seen.find(c);
            if (at == seen.end()) {
                if (colours.size() == 256) {
                    exact = false;
                    break;
                }
                at = seen.emplace(c, BYTE(colours.size())).first;
                colours.push_back(c);
            }
            indices[(size_t)y * image.width + x] = at->second;
        }
    if (!exact) {
        colours.clear();
        for (unsigned r = 0; r < 6; r++)
            for (unsigned g = 0; g < 7; g++)
                for (unsigned b = 0; b < 6; b++) colours.push_back(DWORD(r * 51) << 16 | DWORD(g * 255 / 6) << 8 | b * 51);
        for (LONG y = 0; y < image.height; y++)
            for (LONG x = 0; x < image.width; x++) {
                const BYTE *p = image.Row(y) + (size_t)x * step;
                unsigned r = (p[2] + 25) / 51, g = (p[1] * 6 + 127) / 255, b = (p[0] + 25) / 51;
                indices[(size_t)y * image.width + x] = BYTE((r * 7 + g) * 6 + b);
            }
    }
    image.palette.clear();
    for (DWORD c : colours) image.palette.push_back(PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0});
    image.dataType = Q32_TYPE_PALETTE8;
    image.bitsPerPixel = 8;
    image.rowBytes = (size_t)image.width;
    image.pixels = std::move(indices);
}

/* Grey rows as one bit a pixel: white from the middle grey up. */
void ToBilevel(Image &image)
{
    Image out = image;
    out.dataType = Q32_TYPE_BILEVEL;
    out.bitsPerPixel = 1;
    out.palette.clear();
    out.rowBytes = Q32_ROW_BYTES(Q32_TYPE_BILEVEL, 1, image.width);
    out.pixels.assign(out.rowBytes * (size_t)image.height, 0);
    for (LONG y = 0; y < image.height; y++)
        for (LONG x = 0; x < image.width; x++)
            if (image.Row(y)[x] >= 128) out.Row(y)[x / 8] |= BYTE(0x80 >> (x % 8));
    image = std::move(out);
}

} // namespace

INT_PTR ReadImageFor(HGLOBAL fileData, int number, Image &image, bool &dropped)
{
    DWORD types = WritableTypes(number);
    dropped = false;
    if (HasTransparency(fileData)) {
        if (types & Q32_TYPE_BGRA) types = Q32_TYPE_BGRA | (types & Q32_TYPE_BGRA64);
        else dropped = !(types & Q32_TYPE_BGRA64);
    }
    /* A writer of fewer colours than the image has: the reduction is the tool's. */
    DWORD stored = 0;
    if (const FileData *data = static_cast<const FileData *>(GlobalLock(fileData))) {
        stored = data->raster.dataType;
        GlobalUnlock(fileData);
    }
    if (!Q32ReadType(stored, types)) {
        if (types & Q32_TYPE_PALETTE8) {
            INT_PTR read = ReadImage(fileData, image, Q32_TYPE_RGB);
            if (read) ToPalette(image);
            return read;
        }
        if ((types & Q32_TYPE_BILEVEL) && Q32ReadType(stored, Q32_TYPE_GREY8 | Q32_TYPE_RGB)) {
            INT_PTR read = ReadImage(fileData, image, Q32_TYPE_GREY8 | Q32_TYPE_RGB);
            if (!read) return 0;
            if (image.dataType == Q32_TYPE_RGB) {
                Image grey = image;
                grey.dataType = Q32_TYPE_GREY8, grey.bitsPerPixel = 8, grey.rowBytes = (size_t)image.width;
                grey.pixels.assign((size_t)image.width * image.height, 0);
                for (size_t i = 0; i < grey.pixels.size(); i++) {
                    const BYTE *p = &image.pixels[3 * i];
                    grey.pixels[i] = BYTE((p[2] * 299 + p[1] * 587 + p[0] * 114 + 500) / 1000);
                }
                image = std::move(grey);
            }
            ToBilevel(image);
            return read;
        }
    }
    INT_PTR read = ReadImage(fileData, image, types);
    if (read) CoverIndices(image);
    return read;
}

int OrientationOf(HGLOBAL fileData)
{
    const FileData *data = static_cast<const FileData *>(GlobalLock(fileData));
    if (!data) return 0;
    const QfFrameFacts *facts = QfFileDataFacts(data);
    int orientation = facts ? int(facts->orientation) : 0;
    GlobalUnlock(fileData);
    return orientation >= 1 && orientation <= 8 ? orientation : 0;
}

void Orient(Image &image, int orientation)
{
    if (orientation < 2 || orientation > 8 || image.pixels.empty()) return;
    const LONG W = image.width, H = image.height;
    const bool turned = orientation >= 5;
    Image out = image;
    out.width = turned ? H : W;
    out.height = turned ? W : H;
    if (turned) std::swap(out.resolutionX, out.resolutionY);
    out.rowBytes = Q32_ROW_BYTES(out.dataType, out.bitsPerPixel, out.width);
    out.pixels.assign(out.rowBytes * (size_t)out.height, 0);
    const bool bits = image.dataType == Q32_TYPE_BILEVEL;
    const size_t pixel = (image.bitsPerPixel + 7) / 8;
    for (LONG y = 0; y < out.height; y++) {
        for (LONG x = 0; x < out.width; x++) {
            LONG sx = x, sy = y;
            switch (orientation) {
            case 2: sx = W - 1 - x; break;
            case 3: sx = W - 1 - x, sy = H - 1 - y; break;
            case 4: sy = H - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = H - 1 - x; break;
            case 7: sx = W - 1 - y, sy = H - 1 - x; break;
            case 8: sx = W - 1 - y, sy = x; break;
            }
            const BYTE *from = image.Row(sy);
            BYTE *to = out.Row(y);
            if (bits) {
                if (from[sx / 8] & (0x80 >> (sx % 8))) to[x / 8] |= (BYTE)(0x80 >> (x % 8));
            } else {
                memcpy(to + (size_t)x * pixel, from + (size_t)sx * pixel, pixel);
            }
        }
    }
    image = std::move(out);
}
