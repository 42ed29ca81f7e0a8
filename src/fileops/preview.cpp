/* Previews: a file read whose rows are reduced on the fly to fit a box. The image is
   never held at full size: memory is one scratch row and the caller's output buffer. */
#include "fileops.h"
#include "q32base.h"
#include <string.h>

namespace {

enum { OneBitNone = 0, OneBitPalette = 1, OneBitPlain = 2 };
enum { Samples16 = 1, FourToThree = 2 };

/* What the row callback needs; the read hands its address to the plug-in through the
   request's context field. */
struct PreviewContext {
    LONG outWidth, outHeight;
    LONG bytesPerPixel;         /* output B */
    LONG stride;                /* outWidth * B: rows are not padded */
    BYTE *pixels;               /* the caller's buffer */
    BYTE *scratch;              /* box width * 8 + 4 bytes */
    LONG sourceWidth;
    LONG step;
    LONG oneBit;
    LONG sampleFlags;
    LONG delivered;
};

LONG CeilDiv(LONGLONG a, LONGLONG b) { return (LONG)((a + b - 1) / b); }

/* Source pixel size in bytes after 16-bit samples are cut to their high bytes. */
LONG SourcePixelBytes(const PreviewContext &c)
{
    return (c.sampleFlags & FourToThree) ? 4 : c.bytesPerPixel;
}

/* Bytes of a pixel as the plug-in delivers it (byte mode). */
size_t DeliveredPixelBytes(const PreviewContext &c)
{
    return (size_t)SourcePixelBytes(c) * ((c.sampleFlags & Samples16) ? 2 : 1);
}

/* Four-byte pixels to three: each colour c becomes clamp(c + alpha - 255). to may be
   from (the conversion runs forward). */
void FourToThreeBytes(const BYTE *from, BYTE *to, LONG count)
{
    for (LONG i = 0; i < count; i++, from += 4, to += 3) {
        int alpha = from[3];
        for (int k = 0; k < 3; k++) {
            int v = from[k] + alpha - 255;
            to[k] = (BYTE)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

/* n output pixels into out from the source pixels 0, S, 2S, ... of a row of span
   pixels in the delivered layout: 16-bit samples cut to their high bytes, four-byte
   pixels made three. */
void ConvertPixels(PreviewContext &c, const BYTE *source, LONG span, LONG n, BYTE *out)
{
    const LONG S = c.step, P = SourcePixelBytes(c);
    const BYTE *pixels = source;
    if (c.sampleFlags & Samples16) {
        BYTE *to = c.scratch;
        for (LONG i = 0; i < n; i++) {
            const BYTE *from = source + (size_t)i * S * P * 2;
            for (LONG s = 0; s < P; s++) *to++ = from[2 * s + 1];
        }
        pixels = c.scratch;
    } else if (S > 1) {
        LONGLONG reach = (LONGLONG)n * S;
        mem32ReduceExt(c.scratch, source, span < reach ? span : (LONG)reach, 1, S, S, P, 0);
        pixels = c.scratch;
    }
    if (c.sampleFlags & FourToThree) FourToThreeBytes(pixels, out, n);
    else memcpy(out, pixels, (size_t)n * P);
}

/* The one-bit pixels skip, skip + S, ... of row: n of them, packed into the scratch row. */
const BYTE *GatherBits(PreviewContext &c, const BYTE *row, LONG skip, LONG span, LONG n)
{
    const LONG S = c.step;
    if (skip % 8 == 0) {
        if (S == 1) return row + skip / 8;
        LONGLONG reach = (LONGLONG)n * S;
        mem32BitReduce(c.scratch, row + skip / 8, span < reach ? span : (LONG)reach, S);
        return c.scratch;
    }
    memset(c.scratch, 0, ((size_t)n + 7) / 8);
    for (LONG i = 0; i < n; i++) {
        size_t bit = (size_t)skip + (size_t)i * S;
        if (row[bit >> 3] & (0x80 >> (bit & 7))) c.scratch[i >> 3] |= (BYTE)(0x80 >> (i & 7));
    }
    return c.scratch;
}

/* One delivered row of count pixels whose first is source column x (count is cut at the
   image's right edge; x may lie left of it) into output row oy. The kept pixels are the
   source columns that are multiples of the step; everything is clipped to the output
   row, nothing is written outside it. */
void PlaceRow(PreviewContext &c, const BYTE *row, LONG x, LONG count, LONG oy)
{
    const LONG S = c.step;
    LONGLONG first = x > 0 ? x : 0;
    first = (first + S - 1) / S * S;
    LONGLONG end = (LONGLONG)x + count;
    if (first >= end || first / S >= c.outWidth) return;
    LONG ox = (LONG)(first / S);
    LONG skip = (LONG)(first - x), span = (LONG)(end - first);
    LONG kept = CeilDiv(span, S), room = c.outWidth - ox;
    LONG n = kept < room ? kept : room;
    BYTE *out = c.pixels + (size_t)oy * c.stride + (size_t)ox * c.bytesPerPixel;

    if (c.oneBit != OneBitNone) {
        const BYTE *bits = GatherBits(c, row, skip, span, n);
        if (c.oneBit == OneBitPalette) mem32BitToByteExt(out, bits, n);
        else mem32BitToByte(out, bits, n);
    } else {
        ConvertPixels(c, row + (size_t)skip * DeliveredPixelBytes(c), span, n, out);
    }
    c.delivered = 1;
}

/* The word a fill command holds, as an output pixel (four-byte pixels made three, a
   16-bit sample cut to its high byte). Pixels wider than the word never get here. */
DWORD FillPixel(PreviewContext &c, const void *rowData)
{
    BYTE word[4];
    memcpy(word, rowData, sizeof word);
    if (c.oneBit == OneBitNone && c.sampleFlags && DeliveredPixelBytes(c) <= sizeof word)
        ConvertPixels(c, word, 1, 1, word);
    DWORD pixel;
    memcpy(&pixel, word, sizeof pixel);
    return pixel;
}

/******************************************************************
 *      PreviewRowCallback
 *
 * Takes single rows, blocks of rows, part rows and fill commands from a plug-in and
 * writes them reduced into the caller's buffer. Rows outside the image and pixels
 * outside its width are dropped.
 */
LONG WINAPI PreviewRowCallback(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
                              void *rowData, DWORD flags, LONG_PTR, LONG_PTR)
{
    if (!request || !request->context) return 0;
    PreviewContext &c = *static_cast<PreviewContext *>(request->context);

    if (rows <= 0) {
        if (!(flags & Q32_ROW_FILL) || !rowData) return 0;
        /* A pixel wider than the fill word (48 and 64 bits) cannot be a fill: refused,
           never drawn in a colour made of the word's first bytes. */
        if (c.oneBit == OneBitNone && DeliveredPixelBytes(c) > sizeof(DWORD)) {
            RecordError(nullptr, UnitFileOps.At(152), ErrCannot);
            return 0;
        }
        DWORD pixel = FillPixel(c, rowData);
        for (LONG r = 0; r < c.outHeight; r++)
            mem32Fill(c.pixels + (size_t)r * c.stride, pixel, c.bytesPerPixel, c.outWidth);
        c.delivered = 1;
        return 1;
    }
    if (!rowData || count <= 0) return 1;
    LONGLONG end = (LONGLONG)x + count;
    if (end > c.sourceWidth) end = c.sourceWidth;
    if (end <= 0 || end <= x) return 1;
    count = (LONG)(end - x);

    const BYTE *const *rowList = static_cast<const BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) {
        LONGLONG yy = (LONGLONG)y + i;
        if (yy < 0 || yy % c.step) continue;
        LONGLONG oy = yy / c.step;
        if (oy >= c.outHeight) break;
        if (rowList[i]) PlaceRow(c, rowList[i], x, count, (LONG)oy);
    }
    return 1;
}

/* The size a vector picture gets when it is first previewed: the raster size fitted into
   the box, doubled (within the raster size) for the double-size kind. */
void FixVectorSize(FileData &data, LONG boxWidth, LONG boxHeight)
{
    LONGLONG W = data.raster.width, H = data.raster.height;
    LONGLONG w, h;
    if (W <= boxWidth && H <= boxHeight) {
        w = W;
        h = H;
    } else if (W > boxWidth && (H <= boxHeight || (double)boxWidth / boxHeight < (double)W / H)) {
        w = boxWidth;
        h = (W / 2 + H * boxWidth) / W;
    } else {
        h = boxHeight;
        w = (H / 2 + boxHeight * W) / H;
    }
    if (data.sizeMode == Q32_SIZE_DOUBLE) {
        w = 2 * w < W ? 2 * w : W;
        h = 2 * h < H ? 2 * h : H;
    }
    data.vector.width = (DWORD)w;
    data.vector.height = (DWORD)h;
}

/* Output bytes per pixel and sample flags for a data type; false for a pixel size the
   preview cannot hold. */
bool PixelLayout(DWORD type, DWORD bitsPerPixel, bool hasPalette, PreviewContext &c)
{
    LONG bytes = (LONG)((bitsPerPixel + 7) / 8);
    switch (type) {
    case Q32_TYPE_BILEVEL:
        c.bytesPerPixel = 1;
        c.oneBit = hasPalette ? OneBitPalette : OneBitPlain;
        break;
    case Q32_TYPE_BGRA: c.bytesPerPixel = 3; c.sampleFlags = FourToThree; break;
    case Q32_TYPE_RGB48:
    case Q32_TYPE_GREY16: c.bytesPerPixel = bytes / 2; c.sampleFlags = Samples16; break;
    case Q32_TYPE_BGRA64: c.bytesPerPixel = 3; c.sampleFlags = Samples16 | FourToThree; break;
    default: c.bytesPerPixel = bytes; break;
    }
    return c.bytesPerPixel >= 1 && c.bytesPerPixel <= 4 && bitsPerPixel <= 64;
}

} // namespace

/******************************************************************
 *      qfFileGetPreviewMem  (exported)
 *
 * Reads the file reduced to fit boxWidth x boxHeight into pixels (which must hold
 * info's output height x stride bytes; at most boxWidth x boxHeight x 4) and fills info.
 * Result 1 when a picture (whole or partial) was made, else 0.
 */
extern "C" int Q32FILEAPI qfFileGetPreviewMem(HGLOBAL fileData, PreviewInfo *info, LONG_PTR,
                                              BYTE *pixels, int boxWidth, int boxHeight)
{
    PreviewContext c = {};
    c.pixels = pixels;
    auto tooSmall = [] {
        RecordError(nullptr, UnitPreview.At(1146), ErrPreviewTooSmall);
        return 0;
    };
    if (boxWidth < 1 || boxHeight < 1 || !pixels || !info) return tooSmall();

    /* A box too wide for the scratch row's size to be counted fails like the allocation. */
    const bool countable = (SIZE_T)boxWidth <= ((SIZE_T)-1 - 4) / 8;
    q32::GlobalHandle scratch(countable ? Sys.globalAlloc(GMEM_FIXED | GMEM_ZEROINIT,
                                                          (SIZE_T)boxWidth * 8 + 4)
                                        : nullptr);
    if (!scratch) {
        ShowError(nullptr, ErrLowMemory, UnitPreview.At(122), 0, nullptr);
        return 0;
    }
    c.scratch = static_cast<BYTE *>((void *)scratch.get());

    bool vector;
    HPALETTE palette;
    LONGLONG W, H;
    char name[Q32_MAX_NAME];
    {
        q32::Locked<FileData> data(fileData);
        if (!data) {
            ShowError(nullptr, ErrLowMemory, UnitPreview.At(129), 0, nullptr);
            return 0;
        }
        CopyText(name, sizeof name, data->name);
        vector = data->vectorPresent != 0;
        if (vector && ((LONG)data->vector.width == -1 || (LONG)data->vector.height == -1))
            FixVectorSize(*data.get(), boxWidth, boxHeight);
        const ImageDescription &d = vector ? data->vector : data->raster;
        W = (LONG)d.width;
        H = (LONG)d.height;
        palette = d.palette ? d.palette : data->raster.palette;
        if (!PixelLayout(d.dataType, d.bitsPerPixel, palette != nullptr, c)) return tooSmall();
    }
    if (W < 1 || H < 1) return tooSmall();

    if (W <= boxWidth && H <= boxHeight) {
        c.step = 1;
    } else {
        LONG across = CeilDiv(W, boxWidth), down = CeilDiv(H, boxHeight);
        c.step = across > down ? across : down;
    }
    c.outWidth = CeilDiv(W, c.step);
    c.outHeight = CeilDiv(H, c.step);
    LONGLONG stride = (LONGLONG)c.outWidth * c.bytesPerPixel;
    if (c.outWidth < 1 || c.outHeight < 1 || stride > 0x7FFFFFFF) return tooSmall();
    c.stride = (LONG)stride;
    c.sourceWidth = (LONG)W;

    ImageRequest request = {};
    request.rasterWanted = !vector;
    request.vectorWanted = vector;
    request.rasterTypes = request.vectorTypes = (c.sampleFlags & FourToThree) ? 15 : 7;
    request.context = &c;
    INT_PTR result = qfFileRead(fileData, &request, PreviewRowCallback);

    if (!result && !c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        RecordError(nullptr, UnitPreview.At(255), ErrDamaged, (ULONG_PTR)name);
    if (result < 1 && !c.delivered) return 0;

    info->paletteCount = 0;
    WORD entries = 0;
    if (palette && GetObjectA(palette, sizeof entries, &entries) && entries) {
        if (entries > 256) entries = 256;
        info->paletteCount = GetPaletteEntries(palette, 0, entries, info->palette);
    }
    info->width = c.outWidth;
    info->height = c.outHeight;
    info->bytesPerPixel = c.bytesPerPixel;
    info->stride = c.stride;
    return 1;
}

/******************************************************************
 *      qfFileGetPreviewImage  (exported)
 *
 * The plug-in-side preview, which no plug-in offers: always 0.
 */
extern "C" int Q32FILEAPI qfFileGetPreviewImage(HGLOBAL fileData)
{
    if (!FormatsDiscovered()) return 0;
    if (!fileData) {
        RecordError(nullptr, OpPreviewImage.At(1), ErrCannot);
        return 0;
    }
    char name[Q32_MAX_NAME] = "";
    LONG_PTR number = 0;
    {
        q32::Locked<FileData> data(fileData);
        if (data) {
            CopyText(name, sizeof name, data->name);
            number = data->formatNumber;
        }
    }
    q32::FileHandle file(OpenForRead(name));
    if (!file) {
        RecordError(nullptr, OpPreviewImage.At(2), ErrCannotOpen, (ULONG_PTR)name);
        return 0;
    }
    if (IsFormatNumber(number) && BindPlugin((int)number))
        FindEntry((int)number, QF_ENTRY_GETPREVIEWIMAGE); /* never bound */
    file.reset();
    RerecordPluginError(OpPreviewImage.At(5), name);
    return 0;
}
