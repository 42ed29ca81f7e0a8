/* wic.fio: recognising files, describing their frames, and delivering rows. */
#include "wic_private.h"
#include <wincodecsdk.h>
#include <new>
#include "fio_holders.h"
#include "q32comm.h"

namespace wic {

const FormatDef Formats[WIC_FORMATS] = {
    {"JPG", "JPEG File Interchange Format", Container::Jpeg, &GUID_ContainerFormatJpeg,
     Q32_CAP_GREY8 | Q32_CAP_RGB, 2, {0xFF, 0xD8}, 0, {}, true, false, true, false},
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
constexpr size_t BandBytes = 1 << 18;
/* GIF streams are walked whole for their animation blocks up to this size. */
constexpr uint64_t GifLimit = uint64_t(1) << 28;
/* Detection walks a GIF's blocks (counting its frames and proving its end) through this
   many bytes; a longer file's frames are counted when a frame command asks. */
constexpr uint64_t DetectionWalk = uint64_t(1) << 20;

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
    if (FAILED(factory->CreateComponentInfo(format, info.put())) || !info ||
        FAILED(info->QueryInterface(IID_PPV_ARGS(pixel.put()))) || !pixel ||
        FAILED(pixel->SupportsTransparency(&transparent)))
        return false;
    return transparent != FALSE;
}

/* The frame's palette as 0xAARRGGBB entries (the rest opaque black); count: the
   palette's own entries, 0 when it has none. */
void ColoursOf(Decoding &decoding, Frame &frame, fio::Colours &colours, UINT &count)
{
    colours = fio::Colours();
    count = 0;
    Com<IWICPalette> palette;
    if (FAILED(decoding.factory->CreatePalette(palette.put())) || !palette) return;
    if (FAILED(frame.decode->CopyPalette(palette.get())) &&
        FAILED(decoding.decoder->CopyPalette(palette.get())))
        return;
    if (FAILED(palette->GetColors(256, colours.entry, &count))) count = 0;
    for (UINT i = count; i < 256; i++) colours.entry[i] = 0xFF000000u;
}

HPALETTE PaletteOf(const fio::Colours &colours, UINT count)
{
    if (count == 0) return nullptr;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    auto *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(count);
    for (UINT i = 0; i < count; i++) {
        const uint32_t c = colours.entry[i];
        logical->palPalEntry[i] = PALETTEENTRY{BYTE(c >> 16), BYTE(c >> 8), BYTE(c), 0};
    }
    return CreatePalette(logical);
}

/* The GIF's animation blocks (error recorded when they cannot be read). */
bool GifBlocks(HANDLE file, const char *name, int entry, GifAnimation &animation)
{
    std::vector<uint8_t> bytes;
    if (!ReadWhole(file, bytes, GifLimit) || !ReadGifAnimation(bytes.data(), bytes.size(), animation)) {
        Record(ErrDamaged, entry, PlaceInput, name);
        return false;
    }
    return true;
}

/* The GIF's screen and its images up to index, as its headers give them. */
GifAnimation AnimationOf(const Header &header, UINT index)
{
    GifAnimation animation;
    animation.screenWidth = uint16_t(header.screenWidth);
    animation.screenHeight = uint16_t(header.screenHeight);
    animation.loopCount = header.loopCount;
    for (UINT i = 0; i <= index && i < header.frames.size(); i++) {
        const HeaderFrame &f = header.frames[i];
        GifImage image;
        image.left = f.left, image.top = f.top;
        image.width = uint16_t(f.width), image.height = uint16_t(f.height);
        image.delay = f.delay, image.disposal = f.disposal, image.transparent = f.transparentIndex;
        animation.images.push_back(image);
    }
    return animation;
}

DWORD Resolution(double dpi)
{
    if (!(dpi > 0) || dpi > 400000) return 0;
    return DWORD(dpi * 10000 + 0.5);
}

using fio::Region;

bool RequestedRegion(const ImageRequest &request, const Frame &frame, Region &region)
{
    return fio::RequestedRegion(request, frame.width, frame.height, frame.plan.dataType == Q32_TYPE_BILEVEL,
                                region);
}

/* The bytes of a file through a window: headers are read in small pieces, and memory
   does not grow with the file. A walk that leaves the window forward gets one twice as
   large, up to largest (a PNG's checksums are computed over its chunks in the window
   itself); a jump elsewhere starts small again. Detection keeps the window small: one
   buffer, its pages touched once, costs less than fresh large ones. */
class FileSource final : public ByteSource {
public:
    static constexpr size_t FirstWindow = 64 * 1024, LastWindow = 1024 * 1024;

    explicit FileSource(HANDLE file, size_t largest = LastWindow)
        : file_(file), size_(FileSizeOf(file)), first_(largest < FirstWindow ? largest : FirstWindow),
          largest_(largest), span_(first_)
    {
    }
    uint64_t Size() const override { return size_; }
    const uint8_t *View(uint64_t offset, size_t &count) override
    {
        count = 0;
        if (offset >= size_) return nullptr;
        if (offset < start_ || offset - start_ >= filled_) {
            const bool onward = filled_ && offset >= start_ + filled_ && offset - start_ < 2 * uint64_t(span_);
            span_ = onward ? (span_ * 2 < largest_ ? span_ * 2 : largest_) : first_;
            if (window_.size() < span_) window_.resize(span_);
            uint64_t got = 0;
            uint64_t want = size_ - offset < span_ ? size_ - offset : span_;
            if (!ReadAt(file_, offset, window_.data(), want, &got) || got == 0) return nullptr;
            start_ = offset;
            filled_ = size_t(got);
        }
        count = size_t(start_ + filled_ - offset);
        return window_.data() + (offset - start_);
    }
    bool Read(uint64_t offset, void *out, size_t n) override
    {
        if (offset > size_ || n > size_ - offset) return false;
        auto *p = static_cast<uint8_t *>(out);
        while (n) {
            size_t part = 0;
            const uint8_t *bytes = View(offset, part);
            if (!bytes) return false;
            if (part > n) part = n;
            memcpy(p, bytes, part);
            p += part;
            offset += part;
            n -= part;
        }
        return true;
    }

private:
    HANDLE file_;
    uint64_t size_;
    size_t first_, largest_, span_;
    std::vector<uint8_t> window_;
    uint64_t start_ = 0;
    size_t filled_ = 0;
};

/* After the decoder refused a file: true when the file is well formed but of a kind
   that the component does not read (the module then says so), false when it is damaged.
   Only the TIFF header and first directory are read. */
bool UnhandledVariant(int format, ByteSource &bytes)
{
    if (c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == ErrUnsupported) return true;
    if (Formats[format].container != Container::Tiff) return false;
    TiffLayout layout;
    return ReadTiffLayout(bytes, layout) && IsUnhandledTiffVariant(layout);
}

/* The frame that a new FileData describes, from the headers. */
UINT OpeningFrame(int format, const Header &header, const Settings &settings)
{
    const UINT count = UINT(header.frames.size());
    if (Formats[format].container == Container::Ico && settings.icoLargest) {
        UINT best = 0;
        uint64_t bestArea = 0;
        for (UINT i = 0; i < count; i++) {
            uint64_t area = uint64_t(header.frames[i].width) * header.frames[i].height;
            if (area > bestArea) bestArea = area, best = i;
        }
        return best;
    }
    UINT first = UINT(settings.firstFrame[format]);
    return first < count ? first : 0;
}

/* Records what the headers' verdict means. */
void RecordVerdict(Verdict verdict, int entry, const char *name)
{
    switch (verdict) {
    case Verdict::Truncated: Record(ErrDamaged, entry, PlaceTruncated, name); break;
    case Verdict::TooLarge: Record(ErrTooLarge, entry, PlaceSize, name); break;
    case Verdict::Unsupported: Record(ErrUnsupported, entry, PlaceHeader, name); break;
    default: Record(ErrDamaged, entry, PlaceHeader, name); break;
    }
}

struct LayoutType {
    Layout layout;
    DWORD dataType;
    unsigned bits;
};
const LayoutType LayoutTypes[] = {
    {Layout::BlackWhite, Q32_TYPE_BILEVEL, 1}, {Layout::Bilevel, Q32_TYPE_BILEVEL, 1},
    {Layout::Palette4, Q32_TYPE_PALETTE4, 4},  {Layout::Palette8, Q32_TYPE_PALETTE8, 8},
    {Layout::Grey4, Q32_TYPE_GREY4, 4},        {Layout::Grey8, Q32_TYPE_GREY8, 8},
    {Layout::Grey16, Q32_TYPE_GREY16, 16},     {Layout::Rgb24, Q32_TYPE_RGB, 24},
    {Layout::Rgb48, Q32_TYPE_RGB48, 48},       {Layout::Bgra32, Q32_TYPE_BGRA, 32},
    {Layout::Bgra64, Q32_TYPE_BGRA64, 64},     {Layout::Cmyk32, Q32_TYPE_CMYK, 32},
};

DWORD CompressionOf(Packing packing)
{
    switch (packing) {
    case Packing::Jpeg: return Q32_COMPRESS_JPEG;
    case Packing::Deflate: return Q32_COMPRESS_DEFLATE;
    case Packing::Lzw: return Q32_COMPRESS_LZW;
    case Packing::PackBits: return Q32_COMPRESS_PACKBITS;
    case Packing::Ccitt3: return Q32_COMPRESS_CCITT3;
    case Packing::Ccitt4: return Q32_COMPRESS_CCITT4;
    case Packing::Huffman: return Q32_COMPRESS_HUFFMAN;
    default: return Q32_COMPRESS_NONE;
    }
}

HPALETTE PaletteFromHeaders(ByteSource &bytes, const Header &header, const HeaderFrame &frame)
{
    std::vector<uint32_t> colours;
    if (!ReadPalette(bytes, header, frame, colours)) return nullptr;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + colours.size() * sizeof(PALETTEENTRY));
    auto *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(colours.size());
    for (size_t i = 0; i < colours.size(); i++)
        logical->palPalEntry[i] = PALETTEENTRY{BYTE(colours[i] >> 16), BYTE(colours[i] >> 8), BYTE(colours[i]), 0};
    return CreatePalette(logical);
}

/******************************************************************
 *      DescribeFromHeaders
 *
 * Sets the raster description and the plug-in facts of data for frame index of the
 * file from its headers (the old palette is deleted). Only a frame whose pixel layout
 * the headers leave open (uncommon TIFF sample layouts) is opened in the component,
 * which reads no pixels for it. False: error recorded.
 */
bool DescribeFromHeaders(int format, HANDLE file, const char *name, ByteSource &bytes, const Header &header,
                         UINT index, FileData &data, int entry, bool raw = false)
{
    const FormatDef &def = Formats[format];
    const HeaderFrame &f = header.frames[index];
    DWORD dataType = 0;
    unsigned bits = 0;
    HPALETTE palette = nullptr;
    /* A file that does not give its resolution has the screen's, as the component says. */
    double dpiX = f.dpiX > 0 ? f.dpiX : 96.0, dpiY = f.dpiY > 0 ? f.dpiY : 96.0;
    if (f.layout == Layout::Unknown) {
        ComScope com;
        if (!com.ok()) {
            Record(ErrNoMemory, entry, PlaceComponent);
            return false;
        }
        Decoding decoding;
        Frame frame;
        if (!OpenDecoding(format, file, name, entry, decoding) || !OpenFrame(decoding, index, name, entry, frame))
            return false;
        if (frame.width != f.width || frame.height != f.height) {
            Record(ErrDamaged, entry, PlaceDecoder, name);
            return false;
        }
        dataType = frame.plan.dataType;
        bits = frame.plan.bits;
        fio::Colours colours;
        UINT entries = 0;
        if (frame.plan.palette) ColoursOf(decoding, frame, colours, entries);
        if (frame.plan.palette && !(palette = PaletteOf(colours, entries))) {
            Record(ErrDamaged, entry, PlaceDecoder, name);
            return false;
        }
    } else {
        for (const LayoutType &t : LayoutTypes)
            if (t.layout == f.layout) dataType = t.dataType, bits = t.bits;
        const bool indexed = f.layout == Layout::Bilevel || f.layout == Layout::Palette4 || f.layout == Layout::Palette8;
        if (indexed && !(palette = PaletteFromHeaders(bytes, header, f))) {
            Record(ErrDamaged, entry, PlaceHeader, name);
            return false;
        }
    }
    WicFacts facts = {};
    facts.magic = WIC_FACTS_MAGIC;
    facts.format = DWORD(format);
    facts.frameCount = header.counted ? DWORD(header.frames.size()) : 0;
    facts.frame = index;
    facts.screenWidth = f.width;
    facts.screenHeight = f.height;
    facts.orientation = header.orientation;
    facts.transparent = f.transparent;
    if (def.container == Container::Gif) {
        facts.animation = 1;
        facts.screenWidth = header.screenWidth;
        facts.screenHeight = header.screenHeight;
        facts.loopCount = header.loopCount;
        facts.left = f.left;
        facts.top = f.top;
        facts.delay = f.delay;
        /* Disposal and transparency decide whether the frame is shown composed. */
        facts.transparent = f.transparentIndex >= 0;
        facts.composed = !raw && GifFrameNeedsScreen(AnimationOf(header, index), index);
    }
    if (data.raster.palette) DeleteObject(data.raster.palette);
    data.readable = 1;
    data.compression = CompressionOf(f.packing);
    data.raster.bitsPerPixel = bits;
    data.raster.width = LONG(f.width);
    data.raster.height = LONG(f.height);
    data.raster.resolutionX = Resolution(dpiX);
    data.raster.resolutionY = Resolution(dpiY);
    data.raster.dataType = dataType;
    data.raster.palette = palette;
    if (facts.composed) {
        /* The screen: what the frame and those before it leave there, with alpha. */
        if (palette) DeleteObject(palette);
        data.raster.palette = nullptr;
        data.raster.bitsPerPixel = 32;
        data.raster.dataType = Q32_TYPE_BGRA;
        data.raster.width = LONG(facts.screenWidth);
        data.raster.height = LONG(facts.screenHeight);
        facts.transparent = 0;
    }
    data.writeKind = Q32_WRITE_ANY;
    *FileDataWicFacts(&data) = facts;
    return true;
}

/* Makes a frame deliver the data type its FileData describes: by its own plan when
   that gives it, else through a converter into it. False when neither can. */
bool MatchPlan(Decoding &decoding, Frame &frame, DWORD dataType, DWORD bits)
{
    if (frame.plan.dataType == dataType && frame.plan.bits == bits) return true;
    static const struct {
        DWORD dataType;
        unsigned bits;
        const GUID *format;
    } targets[] = {
        {Q32_TYPE_RGB, 24, &GUID_WICPixelFormat24bppBGR},   {Q32_TYPE_BGRA, 32, &GUID_WICPixelFormat32bppBGRA},
        {Q32_TYPE_GREY8, 8, &GUID_WICPixelFormat8bppGray},  {Q32_TYPE_GREY16, 16, &GUID_WICPixelFormat16bppGray},
        {Q32_TYPE_RGB48, 48, &GUID_WICPixelFormat48bppBGR}, {Q32_TYPE_BGRA64, 64, &GUID_WICPixelFormat64bppBGRA},
        {Q32_TYPE_CMYK, 32, &GUID_WICPixelFormat32bppCMYK},
    };
    GUID native;
    if (FAILED(frame.decode->GetPixelFormat(&native))) return false;
    for (const auto &t : targets) {
        if (t.dataType != dataType || t.bits != bits) continue;
        Com<IWICFormatConverter> converter;
        BOOL can = FALSE;
        if (FAILED(decoding.factory->CreateFormatConverter(converter.put())) || !converter ||
            FAILED(converter->CanConvert(native, *t.format, &can)) || !can)
            return false;
        frame.plan = ReadPlan{*t.format, true, Shape::Copy, dataType, bits, false};
        return true;
    }
    return false;
}

/******************************************************************
 *      ReadPixels
 *
 * Reads frame index of the file, as data describes it, to the callback. The image's
 * size is checked before the component is started (it decodes whole frames of some
 * formats at once). A PNG stream that proves cut short or spoilt after its pixels were
 * delivered gives Q32_READ_PARTIAL with error 4020 recorded.
 */
LONG_PTR ReadPixels(int format, HANDLE file, const char *name, const FileData &data, UINT index,
                    ImageRequest *request, RowCallback callback, int entry)
{
    if (!fio::ImageFits(uint64_t(int64_t(data.raster.width)), uint64_t(int64_t(data.raster.height)),
                        data.raster.bitsPerPixel)) {
        Record(data.raster.width > 0 && data.raster.height > 0 ? ErrTooLarge : ErrDamaged, entry, PlaceSize, name);
        return 0;
    }
    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, entry, PlaceComponent);
        return 0;
    }
    Decoding decoding;
    Frame frame;
    if (!OpenDecoding(format, file, name, entry, decoding)) return 0;
    if (index >= decoding.frameCount) {
        Record(ErrDamaged, entry, PlaceChanged, name);
        return 0;
    }
    const WicFacts &facts = *FileDataWicFacts(const_cast<FileData *>(&data));
    if (!(facts.magic == WIC_FACTS_MAGIC && facts.composed)) {
        if (!OpenFrame(decoding, index, name, entry, frame)) return 0;
        /* The caller sizes its rows by the FileData: the file must still match it. */
        if (data.raster.width != LONG(frame.width) || data.raster.height != LONG(frame.height) ||
            !MatchPlan(decoding, frame, data.raster.dataType, data.raster.bitsPerPixel)) {
            Record(ErrDamaged, entry, PlaceChanged, name);
            return 0;
        }
    }
    LONG_PTR result = DeliverDescribed(format, file, data, decoding, frame, request, callback, name, entry);
    if (result == 1 && Formats[format].container == Container::Png) {
        FileSource bytes(file);
        Verdict verdict = CheckPngStream(bytes);
        if (verdict != Verdict::Ok) {
            Record(ErrDamaged, entry, verdict == Verdict::Truncated ? PlaceTruncated : PlaceChecksum, name);
            return Q32_READ_PARTIAL;
        }
    }
    return result;
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
    if (FAILED(factory->CreateFormatConverter(converter.put())) || !converter ||
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
    if (SUCCEEDED(hr) && !decoding.decoder) hr = E_FAIL;
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
    if (FAILED(decoding.decoder->GetFrame(index, frame.decode.put())) || !frame.decode ||
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

/******************************************************************
 *      DeliverFrame
 *
 * Copies the requested region out of the frame a band of rows at a time (a converter
 * in between when the frame's pixels need one) and hands each band to the callback:
 * the copied rows themselves where their layout is the row protocol's, else rows
 * converted into a second band buffer. Nothing holds more than a band.
 */
static LONG_PTR DeliverFrame(Decoding &decoding, Frame &frame, ImageRequest *request,
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

namespace {

/* Rows of a composed screen (width x height BGRA pixels) for the request's region. */
LONG_PTR DeliverScreen(const std::vector<uint32_t> &screen, UINT width, UINT height,
                       ImageRequest *request, RowCallback callback, int entry)
{
    Frame shape;
    shape.width = width, shape.height = height;
    shape.plan.dataType = Q32_TYPE_BGRA;
    Region region;
    if (!RequestedRegion(*request, shape, region)) {
        Record(ErrCannot, entry, PlaceRegion);
        return 0;
    }
    const LONG count = LONG(region.right - region.left);
    for (int64_t y = region.top; y < region.bottom; y++) {
        void *row = const_cast<uint32_t *>(screen.data() + size_t(y) * width + size_t(region.left));
        if (!callback(request, LONG(region.left), LONG(y), count, 1, &row, 0, 0, 0)) return Q32_READ_STOPPED;
    }
    return 1;
}

/* Frame index of a GIF as the screen shows it (error recorded on failure). */
bool ComposeScreen(Decoding &decoding, HANDLE file, UINT index, const char *name, int entry,
                   GifAnimation &animation, std::vector<uint32_t> &screen)
{
    if (!GifBlocks(file, name, entry, animation)) return false;
    if (index >= animation.images.size() || index >= decoding.frameCount) {
        Record(ErrDamaged, entry, PlaceChanged, name);
        return false;
    }
    std::vector<std::vector<uint8_t>> frames(index + 1);
    std::vector<std::vector<uint32_t>> colours(index + 1);
    for (UINT i = 0; i <= index; i++) {
        Frame frame;
        if (!OpenFrame(decoding, i, name, entry, frame)) return false;
        if (frame.plan.convert || frame.plan.dataType != Q32_TYPE_PALETTE8) {
            Record(ErrUnsupported, entry, PlacePixelFormat, name);
            return false;
        }
        /* The decoder's size of the image is the one its pixels have. */
        animation.images[i].width = uint16_t(frame.width);
        animation.images[i].height = uint16_t(frame.height);
        frames[i].resize(size_t(frame.width) * frame.height);
        HRESULT hr = frame.decode->CopyPixels(nullptr, frame.width, UINT(frames[i].size()), frames[i].data());
        if (FAILED(hr)) {
            Record(hr == E_OUTOFMEMORY ? ErrNoMemory : ErrDamaged, entry, PlacePixels, name);
            return false;
        }
        fio::Colours palette;
        UINT count = 0;
        ColoursOf(decoding, frame, palette, count);
        colours[i].assign(palette.entry, palette.entry + 256);
    }
    ComposeGifFrame(animation, index, frames, colours, screen);
    return true;
}

} // namespace

/******************************************************************
 *      DeliverDescribed
 *
 * The rows of the frame that data describes, in the type that the request takes:
 * the composed screen of a GIF frame, else the frame's own rows; converted on the way
 * when the request asks for a type other than the described one.
 */
LONG_PTR DeliverDescribed(int format, HANDLE file, const FileData &data, Decoding &decoding,
                          Frame &frame, ImageRequest *request, RowCallback callback,
                          const char *name, int entry)
{
    const WicFacts &facts = *FileDataWicFacts(const_cast<FileData *>(&data));
    const bool composed = facts.magic == WIC_FACTS_MAGIC && facts.composed;
    const DWORD type = composed ? DWORD(Q32_TYPE_BGRA) : frame.plan.dataType;
    const DWORD bits = composed ? 32u : frame.plan.bits;
    fio::Colours colours;
    UINT entries = 0;
    fio::TypedDelivery delivery;
    if (!composed && frame.plan.palette && Q32ReadType(type, request->rasterTypes) != type &&
        (request->rasterTypes & Q32_TYPES_ONLY)) {
        ColoursOf(decoding, frame, colours, entries);
        GifAnimation animation;
        if (Formats[format].container == Container::Gif && GifBlocks(file, name, entry, animation) &&
            facts.frame < animation.images.size() && animation.images[facts.frame].transparent >= 0)
            colours.entry[animation.images[facts.frame].transparent] &= 0x00FFFFFFu;
    }
    if (!delivery.Plan(request, callback, type, bits, colours, entries > 0)) {
        Record(ErrCannot, entry, PlaceTypes);
        return 0;
    }
    if (composed) {
        GifAnimation animation;
        std::vector<uint32_t> screen;
        if (!ComposeScreen(decoding, file, facts.frame, name, entry, animation, screen)) return 0;
        return DeliverScreen(screen, animation.screenWidth, animation.screenHeight, delivery.Request(),
                             delivery.Callback(), entry);
    }
    return DeliverFrame(decoding, frame, delivery.Request(), delivery.Callback(), name, entry);
}

/******************************************************************
 *      GetFileData  (entry +12)
 *
 * 0 for a file without the format's signature; a new FileData describing the frame
 * that the open settings choose; -1 with an error recorded when the file is not well
 * formed. The description comes from the file's headers: no pixels are decoded.
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
    const Container container = Formats[format].container;
    if (!HasSignature(container, head, got, size)) return 0;

    fio::GlobalHandle block(GlobalAlloc(GHND, sizeof(FileData)));
    fio::Locked<FileData> data(block.get());
    if (!data) {
        Record(ErrNoMemory, EntryFileData, PlaceMemory);
        return -1;
    }
    if (name) lstrcpynA(data->name, name, sizeof data->name);
    data->fileSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(size);

    FileSource bytes(source.get(), FileSource::FirstWindow);
    Header header;
    Verdict verdict = ReadHeader(container, bytes, header, DetectionWalk);
    const Settings settings = ReadOpenSettings(iniPath, format);
    /* An opening frame past the frames met is looked for to the end. */
    if (verdict == Verdict::Ok && !header.counted && UINT(settings.firstFrame[format]) >= header.frames.size())
        verdict = ReadHeader(container, bytes, header);
    if (verdict != Verdict::Ok) {
        /* A variant it cannot handle is the module's to say. */
        if (verdict == Verdict::Unsupported) return QF_FILEDATA_UNSUPPORTED;
        RecordVerdict(verdict, EntryFileData, name);
        return -1;
    }
    UINT index = OpeningFrame(format, header, settings);
    if (!DescribeFromHeaders(format, source.get(), name, bytes, header, index, *data.get(), EntryFileData))
        return UnhandledVariant(format, bytes) ? QF_FILEDATA_UNSUPPORTED : -1;
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
    return ReadPixels(format, source.get(), name, data, index, request, callback, EntryRead);
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
    bool raw = false;
    if (index != -1 && (index & WIC_FRAME_RAW)) {
        raw = true;
        index &= ~LONG_PTR(WIC_FRAME_RAW);
    }
    if (index == -1) index = LONG_PTR(facts.frame) + 1;
    /* A count of 0: the frames are counted below. */
    if (index < 0 || (facts.frameCount && index >= LONG_PTR(facts.frameCount))) {
        Record(ErrCannot, EntryCommand, PlaceFrame);
        return 0;
    }
    Source source;
    if (!source.Open(nullptr, data.name)) {
        Record(ErrOpen, EntryCommand, PlaceOpen, data.name);
        return 0;
    }
    const Container container = Formats[format].container;
    FileSource bytes(source.get());
    Header header;
    Verdict verdict = ReadHeader(container, bytes, header);
    if (verdict != Verdict::Ok) {
        RecordVerdict(verdict, EntryCommand, data.name);
        return 0;
    }
    if (UINT(index) >= header.frames.size()) {
        if (facts.frameCount) Record(ErrDamaged, EntryCommand, PlaceChanged, data.name);
        else Record(ErrCannot, EntryCommand, PlaceFrame);
        return 0;
    }
    {
        fio::Locked<FileData> live(fileData);
        if (!live) {
            Record(ErrNoMemory, EntryCommand, PlaceMemory);
            return 0;
        }
        if (!DescribeFromHeaders(format, source.get(), data.name, bytes, header, UINT(index), *live.get(),
                                 EntryCommand, raw))
            return 0;
        data = *live.get();
        data.name[sizeof data.name - 1] = 0;
    }
    if (!request) return 1;
    return ReadPixels(format, source.get(), data.name, data, UINT(index), request, callback, EntryCommand);
}

} // namespace wic
