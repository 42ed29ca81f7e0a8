/* wic.fio: recognising files, describing their frames, and delivering rows. */
#include "wic_private.h"
#include <wincodecsdk.h>
#include <new>
#include "holders.h"

namespace wic {

const FormatDef Formats[WIC_FORMATS] = {
    {"JPG", "JPEG File Interchange Format", Container::Jpeg, &GUID_ContainerFormatJpeg,
     Q32_CAP_GREY8 | Q32_CAP_RGB, 3, {0xFF, 0xD8, 0xFF}, 0, {}, true, false, true, false},
    {"PNG", "Portable Network Graphics", Container::Png, &GUID_ContainerFormatPng,
     Q32_CAP_ALL_RASTER, 4, {0x89, 'P', 'N', 'G'}, 0, {}, true, false, true, false},
    {"TIF", "Tagged Image File Format", Container::Tiff, &GUID_ContainerFormatTiff,
     Q32_CAP_ALL_RASTER, 4, {'I', 'I', '*', 0}, 4, {'M', 'M', 0, '*'}, true, true, true, true},
    {"GIF", "Graphics Interchange Format", Container::Gif, &GUID_ContainerFormatGif,
     Q32_CAP_BILEVEL | Q32_CAP_GREY8 | Q32_CAP_PALETTE8 | Q32_CAP_GREY4 | Q32_CAP_PALETTE4,
     4, {'G', 'I', 'F', '8'}, 0, {}, true, true, true, true},
    {"ICO", "Windows Icon", Container::Ico, &GUID_ContainerFormatIco, 0, 4, {0, 0, 1, 0}, 0, {},
     false, true, false, false},
};

namespace {

/* Rows are copied out of the decoder about this many bytes at a time. */
constexpr size_t BandBytes = 1 << 20;
/* GIF streams are walked whole for their animation blocks up to this size. */
constexpr uint64_t GifLimit = uint64_t(1) << 28;

struct Direct {
    const GUID *native;
    Shape shape;
    DWORD dataType;
    unsigned bits;
    bool palette;
};

const Direct DirectFormats[] = {
    {&GUID_WICPixelFormatBlackWhite, Shape::Copy, Q32_TYPE_BILEVEL, 1, false},
    {&GUID_WICPixelFormat1bppIndexed, Shape::Copy, Q32_TYPE_BILEVEL, 1, true},
    {&GUID_WICPixelFormat2bppIndexed, Shape::Unpack2, Q32_TYPE_PALETTE4, 4, true},
    {&GUID_WICPixelFormat4bppIndexed, Shape::Unpack4, Q32_TYPE_PALETTE4, 4, true},
    {&GUID_WICPixelFormat8bppIndexed, Shape::Copy, Q32_TYPE_PALETTE8, 8, true},
    {&GUID_WICPixelFormat2bppGray, Shape::Unpack2Grey, Q32_TYPE_GREY4, 4, false},
    {&GUID_WICPixelFormat4bppGray, Shape::Unpack4, Q32_TYPE_GREY4, 4, false},
    {&GUID_WICPixelFormat8bppGray, Shape::Copy, Q32_TYPE_GREY8, 8, false},
    {&GUID_WICPixelFormat16bppGray, Shape::Copy, Q32_TYPE_GREY16, 16, false},
    {&GUID_WICPixelFormat24bppBGR, Shape::Copy, Q32_TYPE_RGB, 24, false},
    {&GUID_WICPixelFormat24bppRGB, Shape::SwapRB24, Q32_TYPE_RGB, 24, false},
    {&GUID_WICPixelFormat32bppBGR, Shape::Drop4th, Q32_TYPE_RGB, 24, false},
    {&GUID_WICPixelFormat32bppBGRA, Shape::Copy, Q32_TYPE_BGRA, 32, false},
    {&GUID_WICPixelFormat32bppRGBA, Shape::SwapRB32, Q32_TYPE_BGRA, 32, false},
    {&GUID_WICPixelFormat48bppRGB, Shape::SwapRB48, Q32_TYPE_RGB48, 48, false},
    {&GUID_WICPixelFormat48bppBGR, Shape::Copy, Q32_TYPE_RGB48, 48, false},
    {&GUID_WICPixelFormat64bppRGBA, Shape::SwapRB64, Q32_TYPE_BGRA64, 64, false},
    {&GUID_WICPixelFormat64bppBGRA, Shape::Copy, Q32_TYPE_BGRA64, 64, false},
    {&GUID_WICPixelFormat32bppCMYK, Shape::Copy, Q32_TYPE_CMYK, 32, false},
};

bool SupportsTransparency(IWICImagingFactory *factory, const GUID &format)
{
    Com<IWICComponentInfo> info;
    Com<IWICPixelFormatInfo2> pixel;
    BOOL transparent = FALSE;
    if (FAILED(factory->CreateComponentInfo(format, info.put())) ||
        FAILED(info->QueryInterface(IID_PPV_ARGS(pixel.put()))) ||
        FAILED(pixel->SupportsTransparency(&transparent)))
        return false;
    return transparent != FALSE;
}

/* The compression of a TIFF frame, from its IFD. */
DWORD TiffCompression(IWICBitmapFrameDecode *frame)
{
    Com<IWICMetadataBlockReader> blocks;
    Com<IWICMetadataReader> ifd;
    if (FAILED(frame->QueryInterface(IID_PPV_ARGS(blocks.put()))) ||
        FAILED(blocks->GetReaderByIndex(0, ifd.put())))
        return Q32_COMPRESS_NONE;
    PROPVARIANT id, value;
    PropVariantInit(&id);
    PropVariantInit(&value);
    id.vt = VT_UI2;
    id.uiVal = 259;
    DWORD tag = 1;
    if (SUCCEEDED(ifd->GetValue(nullptr, &id, &value))) {
        if (value.vt == VT_UI2) tag = value.uiVal;
        else if (value.vt == VT_UI4) tag = value.ulVal;
    }
    PropVariantClear(&value);
    switch (tag) {
    case 2: return Q32_COMPRESS_HUFFMAN;
    case 3: return Q32_COMPRESS_CCITT3;
    case 4: return Q32_COMPRESS_CCITT4;
    case 5: return Q32_COMPRESS_LZW;
    case 6: case 7: return Q32_COMPRESS_JPEG;
    case 8: case 32946: return Q32_COMPRESS_DEFLATE;
    case 32773: return Q32_COMPRESS_PACKBITS;
    default: return Q32_COMPRESS_NONE;
    }
}

HPALETTE PaletteOf(Decoding &decoding, Frame &frame)
{
    Com<IWICPalette> palette;
    if (FAILED(decoding.factory->CreatePalette(palette.put()))) return nullptr;
    if (FAILED(frame.decode->CopyPalette(palette.get())) &&
        FAILED(decoding.decoder->CopyPalette(palette.get())))
        return nullptr;
    WICColor colours[256];
    UINT count = 0;
    if (FAILED(palette->GetColors(256, colours, &count)) || count == 0) return nullptr;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    auto *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(count);
    for (UINT i = 0; i < count; i++)
        logical->palPalEntry[i] = PALETTEENTRY{BYTE(colours[i] >> 16), BYTE(colours[i] >> 8),
                                               BYTE(colours[i]), 0};
    return CreatePalette(logical);
}

DWORD Resolution(double dpi)
{
    if (!(dpi > 0) || dpi > 400000) return 0;
    return DWORD(dpi * 10000 + 0.5);
}

/* The part of the image that a request asks for, cut at the image's edges. */
struct Region {
    int64_t left, top, right, bottom;
};

bool RequestedRegion(const ImageRequest &request, const Frame &frame, Region &region)
{
    int64_t width = request.rasterWidth, height = request.rasterHeight;
    if (width == 0 && height == 0) {
        width = int64_t(frame.width) - request.rasterX;
        height = int64_t(frame.height) - request.rasterY;
    }
    region.left = request.rasterX > 0 ? request.rasterX : 0;
    region.top = request.rasterY > 0 ? request.rasterY : 0;
    region.right = int64_t(request.rasterX) + width;
    region.bottom = int64_t(request.rasterY) + height;
    if (region.right > int64_t(frame.width)) region.right = frame.width;
    if (region.bottom > int64_t(frame.height)) region.bottom = frame.height;
    if (region.left >= region.right || region.top >= region.bottom) return false;
    /* Part rows of packed pixels start at a byte. */
    if (frame.plan.dataType == Q32_TYPE_BILEVEL) region.left &= ~int64_t(7);
    return true;
}

/* The frame that a new FileData describes. */
UINT OpeningFrame(int format, Decoding &decoding, const Settings &settings)
{
    if (Formats[format].container == Container::Ico && settings.icoLargest) {
        UINT best = 0;
        uint64_t bestArea = 0;
        for (UINT i = 0; i < decoding.frameCount; i++) {
            Com<IWICBitmapFrameDecode> frame;
            UINT w = 0, h = 0;
            if (FAILED(decoding.decoder->GetFrame(i, frame.put())) || FAILED(frame->GetSize(&w, &h))) continue;
            if (uint64_t(w) * h > bestArea) bestArea = uint64_t(w) * h, best = i;
        }
        return best;
    }
    UINT first = UINT(settings.firstFrame[format]);
    return first < decoding.frameCount ? first : 0;
}

} // namespace

bool PlanRead(IWICImagingFactory *factory, const GUID &native, ReadPlan &plan)
{
    for (const Direct &d : DirectFormats) {
        if (IsEqualGUID(*d.native, native)) {
            plan = ReadPlan{native, false, d.shape, d.dataType, d.bits, d.palette};
            return true;
        }
    }
    /* Anything else through a converter: with alpha when it has transparency. */
    bool alpha = SupportsTransparency(factory, native);
    const GUID &target = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
    Com<IWICFormatConverter> converter;
    BOOL can = FALSE;
    if (FAILED(factory->CreateFormatConverter(converter.put())) ||
        FAILED(converter->CanConvert(native, target, &can)) || !can)
        return false;
    plan = ReadPlan{target, true, Shape::Copy, alpha ? DWORD(Q32_TYPE_BGRA) : DWORD(Q32_TYPE_RGB),
                    alpha ? 32u : 24u, false};
    return true;
}

bool OpenDecoding(int format, HANDLE file, const char *name, int entry, Decoding &decoding)
{
    const FormatDef &def = Formats[format];
    *decoding.factory.put() = NewFactory(entry);
    if (!decoding.factory) return false;
    if (def.container == Container::Jpeg) {
        /* The decoder makes up the rest of a stream cut short; its end mark tells. */
        uint8_t tail[4096];
        uint64_t size = FileSizeOf(file);
        size_t want = size < sizeof tail ? size_t(size) : sizeof tail;
        if (!ReadAt(file, size - want, tail, want)) {
            Record(ErrDamaged, entry, PlaceInput, name);
            return false;
        }
        if (!JpegHasEnd(tail, want)) {
            Record(ErrDamaged, entry, PlaceTruncated, name);
            return false;
        }
    }
    *decoding.stream.put() = NewHandleStream(file);
    if (!decoding.stream) {
        Record(ErrDamaged, entry, PlaceInput, name);
        return false;
    }
    HRESULT hr = decoding.factory->CreateDecoder(*def.guid, nullptr, decoding.decoder.put());
    if (SUCCEEDED(hr)) {
        hr = decoding.decoder->Initialize(decoding.stream.get(), WICDecodeMetadataCacheOnDemand);
    } else {
        Record(ErrUnsupported, entry, PlaceComponent, name);
        return false;
    }
    if (SUCCEEDED(hr)) hr = decoding.decoder->GetFrameCount(&decoding.frameCount);
    if (FAILED(hr) || decoding.frameCount == 0) {
        Record(hr == E_OUTOFMEMORY ? ErrNoMemory : ErrDamaged, entry, PlaceDecoder, name);
        return false;
    }
    return true;
}

bool OpenFrame(Decoding &decoding, UINT index, const char *name, int entry, Frame &frame)
{
    if (index >= decoding.frameCount) {
        Record(ErrCannot, entry, PlaceFrame);
        return false;
    }
    GUID native;
    if (FAILED(decoding.decoder->GetFrame(index, frame.decode.put())) ||
        FAILED(frame.decode->GetSize(&frame.width, &frame.height)) ||
        FAILED(frame.decode->GetPixelFormat(&native)) || frame.width == 0 || frame.height == 0) {
        Record(ErrDamaged, entry, PlaceDecoder, name);
        return false;
    }
    if (frame.width > 0x7FFFFFFF || frame.height > 0x7FFFFFFF || !PlanRead(decoding.factory.get(), native, frame.plan)) {
        Record(ErrUnsupported, entry, PlacePixelFormat, name);
        return false;
    }
    if (FAILED(frame.decode->GetResolution(&frame.dpiX, &frame.dpiY))) frame.dpiX = frame.dpiY = 0;
    return true;
}

bool DescribeFrame(int format, HANDLE file, const char *name, Decoding &decoding, Frame &frame,
                   UINT index, FileData &data, int entry)
{
    const FormatDef &def = Formats[format];
    HPALETTE palette = nullptr;
    if (frame.plan.palette && !(palette = PaletteOf(decoding, frame))) {
        Record(ErrDamaged, entry, PlaceDecoder, name);
        return false;
    }
    WicFacts facts = {};
    facts.magic = WIC_FACTS_MAGIC;
    facts.format = DWORD(format);
    facts.frameCount = decoding.frameCount;
    facts.frame = index;
    facts.screenWidth = frame.width;
    facts.screenHeight = frame.height;
    if (def.container == Container::Gif) {
        std::vector<uint8_t> bytes;
        GifAnimation animation;
        if (!ReadWhole(file, bytes, GifLimit) || !ReadGifAnimation(bytes.data(), bytes.size(), animation)) {
            if (palette) DeleteObject(palette);
            Record(ErrDamaged, entry, PlaceInput, name);
            return false;
        }
        facts.screenWidth = animation.screenWidth;
        facts.screenHeight = animation.screenHeight;
        facts.loopCount = animation.loopCount;
        if (index < animation.images.size()) {
            facts.left = animation.images[index].left;
            facts.top = animation.images[index].top;
            facts.delay = animation.images[index].delay;
        }
    }
    DWORD compression = Q32_COMPRESS_NONE;
    switch (def.container) {
    case Container::Jpeg: compression = Q32_COMPRESS_JPEG; break;
    case Container::Png: compression = Q32_COMPRESS_DEFLATE; break;
    case Container::Gif: compression = Q32_COMPRESS_LZW; break;
    case Container::Tiff: compression = TiffCompression(frame.decode.get()); break;
    default: break;
    }
    if (data.raster.palette) DeleteObject(data.raster.palette);
    data.readable = 1;
    data.compression = compression;
    data.raster.bitsPerPixel = frame.plan.bits;
    data.raster.width = LONG(frame.width);
    data.raster.height = LONG(frame.height);
    data.raster.resolutionX = Resolution(frame.dpiX);
    data.raster.resolutionY = Resolution(frame.dpiY);
    data.raster.dataType = frame.plan.dataType;
    data.raster.palette = palette;
    data.writeKind = Q32_WRITE_ANY;
    *FileDataWicFacts(&data) = facts;
    return true;
}

/******************************************************************
 *      DeliverFrame
 *
 * Copies the requested region out of the frame a band of rows at a time (a converter
 * in between when the frame's pixels need one) and hands each band to the callback:
 * the copied rows themselves where their layout is the row protocol's, else rows
 * converted into a second band buffer. Nothing holds more than a band.
 */
LONG_PTR DeliverFrame(Decoding &decoding, Frame &frame, ImageRequest *request,
                      RowCallback callback, const char *name, int entry)
{
    Region region;
    if (!RequestedRegion(*request, frame, region)) {
        Record(ErrCannot, entry, PlaceRegion);
        return 0;
    }
    const ReadPlan &plan = frame.plan;
    IWICBitmapSource *source = frame.decode.get();
    Com<IWICFormatConverter> converter;
    if (plan.convert) {
        if (FAILED(decoding.factory->CreateFormatConverter(converter.put())) ||
            FAILED(converter->Initialize(frame.decode.get(), plan.copyFormat, WICBitmapDitherTypeNone,
                                         nullptr, 0, WICBitmapPaletteTypeCustom))) {
            Record(ErrUnsupported, entry, PlacePixelFormat, name);
            return 0;
        }
        source = converter.get();
    }
    /* Pixels smaller than a byte are copied as whole rows and cut afterwards. */
    const unsigned inBits = InputBits(plan.shape, plan.bits);
    const bool wholeRows = inBits < 8;
    const int64_t count = region.right - region.left;
    const int64_t copyLeft = wholeRows ? 0 : region.left;
    const int64_t copyWidth = wholeRows ? int64_t(frame.width) : count;
    const uint64_t rawStride = PackedBytes(inBits, uint64_t(copyWidth));
    const uint64_t outStride = Q32_ROW_BYTES(plan.dataType, plan.bits, uint64_t(count));
    if (rawStride > 0xFFFFFFFFu / 2) {
        Record(ErrUnsupported, entry, PlacePixelFormat, name);
        return 0;
    }
    const int64_t height = region.bottom - region.top;
    int64_t band = int64_t(BandBytes / rawStride);
    if (band < 1) band = 1;
    if (band > height) band = height;
    const bool direct = plan.shape == Shape::Copy;
    std::vector<uint8_t> raw(size_t(rawStride * uint64_t(band)));
    std::vector<uint8_t> converted(direct ? 0 : size_t(outStride * uint64_t(band)));
    std::vector<void *> rows(static_cast<size_t>(band));

    for (int64_t y = region.top; y < region.bottom; y += band) {
        const int64_t n = region.bottom - y < band ? region.bottom - y : band;
        WICRect rect = {INT(copyLeft), INT(y), INT(copyWidth), INT(n)};
        HRESULT hr = source->CopyPixels(&rect, UINT(rawStride), UINT(rawStride * uint64_t(n)), raw.data());
        if (FAILED(hr)) {
            Record(hr == E_OUTOFMEMORY ? ErrNoMemory : ErrDamaged, entry, PlacePixels, name);
            return 0;
        }
        for (int64_t i = 0; i < n; i++) {
            uint8_t *in = raw.data() + size_t(i) * rawStride;
            if (direct) {
                uint8_t *row = in + (wholeRows ? size_t(region.left) * inBits / 8 : 0);
                /* Bits beyond the region in the last byte of a packed row are zero. */
                if (plan.bits < 8 && (count * plan.bits) % 8)
                    row[outStride - 1] &= uint8_t(0xFF << (8 - (count * plan.bits) % 8));
                rows[size_t(i)] = row;
            } else {
                uint8_t *out = converted.data() + size_t(i) * outStride;
                ConvertRow(plan.shape, plan.bits, in, uint64_t(region.left - copyLeft), uint64_t(count), out);
                rows[size_t(i)] = out;
            }
        }
        if (!callback(request, LONG(region.left), LONG(y), LONG(count), LONG(n), rows.data(), 0, 0, 0))
            return Q32_READ_STOPPED;
    }
    return 1;
}

/******************************************************************
 *      GetFileData  (entry +12)
 *
 * 0 for a file without the format's signature; a new FileData describing the frame
 * that the open settings choose; -1 with an error recorded when the decoder refuses
 * the file.
 */
INT_PTR GetFileData(int format, HANDLE file, const char *name, const char *iniPath)
{
    Source source;
    if (!source.Open(file, name)) {
        Record(ErrOpen, EntryFileData, PlaceOpen, name);
        return -1;
    }
    uint8_t head[HeadBytes] = {};
    uint64_t got = 0;
    if (!ReadAt(source.get(), 0, head, sizeof head, &got)) {
        Record(ErrDamaged, EntryFileData, PlaceInput, name);
        return -1;
    }
    uint64_t size = FileSizeOf(source.get());
    if (!HasSignature(Formats[format].container, head, got, size)) return 0;

    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, EntryFileData, PlaceComponent);
        return -1;
    }
    Decoding decoding;
    Frame frame;
    UINT index = 0;
    if (!OpenDecoding(format, source.get(), name, EntryFileData, decoding) ||
        !OpenFrame(decoding, index = OpeningFrame(format, decoding, ReadSettings(iniPath)), name,
                   EntryFileData, frame))
        return -1;

    q32::GlobalHandle block(GlobalAlloc(GHND, sizeof(FileData)));
    q32::Locked<FileData> data(block.get());
    if (!data) {
        Record(ErrNoMemory, EntryFileData, PlaceMemory);
        return -1;
    }
    if (name) lstrcpynA(data->name, name, sizeof data->name);
    data->fileSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(size);
    if (!DescribeFrame(format, source.get(), name, decoding, frame, index, *data.get(), EntryFileData))
        return -1;
    return INT_PTR(block.release());
}

/******************************************************************
 *      Read  (entry +16)
 *
 * Reads the frame that the FileData describes.
 */
LONG_PTR Read(int format, HANDLE file, const char *name, HGLOBAL fileData, ImageRequest *request,
              RowCallback callback)
{
    FileData data;
    if (!request || !callback || !CopyFileData(fileData, data)) {
        Record(ErrCannot, EntryRead, PlaceArguments);
        return 0;
    }
    if (!name || !*name) name = data.name;
    Source source;
    if (!source.Open(file, name)) {
        Record(ErrOpen, EntryRead, PlaceOpen, name);
        return 0;
    }
    const WicFacts &facts = *FileDataWicFacts(&data);
    UINT index = facts.magic == WIC_FACTS_MAGIC && facts.format == DWORD(format) ? facts.frame : 0;
    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, EntryRead, PlaceComponent);
        return 0;
    }
    Decoding decoding;
    Frame frame;
    if (!OpenDecoding(format, source.get(), name, EntryRead, decoding)) return 0;
    if (index >= decoding.frameCount) {
        Record(ErrDamaged, EntryRead, PlaceChanged, name);
        return 0;
    }
    if (!OpenFrame(decoding, index, name, EntryRead, frame)) return 0;
    /* The caller sizes its rows by the FileData: the file must still match it. */
    if (data.raster.width != LONG(frame.width) || data.raster.height != LONG(frame.height) ||
        data.raster.dataType != frame.plan.dataType || data.raster.bitsPerPixel != frame.plan.bits) {
        Record(ErrDamaged, EntryRead, PlaceChanged, name);
        return 0;
    }
    return DeliverFrame(decoding, frame, request, callback, name, EntryRead);
}

/******************************************************************
 *      ReadFrame  (entry +10, command 26)
 *
 * Makes the FileData describe frame index (-1: the next one), then reads it when a
 * request is given.
 */
LONG_PTR ReadFrame(int format, HGLOBAL fileData, ImageRequest *request, RowCallback callback,
                   LONG_PTR index)
{
    FileData data;
    if (!CopyFileData(fileData, data) || (request && !callback)) {
        Record(ErrCannot, EntryCommand, PlaceArguments);
        return 0;
    }
    const WicFacts &facts = *FileDataWicFacts(&data);
    if (facts.magic != WIC_FACTS_MAGIC || facts.format != DWORD(format)) {
        Record(ErrCannot, EntryCommand, PlaceArguments);
        return 0;
    }
    if (index == -1) index = LONG_PTR(facts.frame) + 1;
    if (index < 0 || index >= LONG_PTR(facts.frameCount)) {
        Record(ErrCannot, EntryCommand, PlaceFrame);
        return 0;
    }
    Source source;
    if (!source.Open(nullptr, data.name)) {
        Record(ErrOpen, EntryCommand, PlaceOpen, data.name);
        return 0;
    }
    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, EntryCommand, PlaceComponent);
        return 0;
    }
    Decoding decoding;
    Frame frame;
    if (!OpenDecoding(format, source.get(), data.name, EntryCommand, decoding) ||
        !OpenFrame(decoding, UINT(index), data.name, EntryCommand, frame))
        return 0;
    {
        q32::Locked<FileData> live(fileData);
        if (!live) {
            Record(ErrNoMemory, EntryCommand, PlaceMemory);
            return 0;
        }
        if (!DescribeFrame(format, source.get(), data.name, decoding, frame, UINT(index), *live.get(),
                           EntryCommand))
            return 0;
    }
    if (!request) return 1;
    return DeliverFrame(decoding, frame, request, callback, data.name, EntryCommand);
}

} // namespace wic
