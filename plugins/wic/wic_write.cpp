/* wic.fio: writing images and appending frames through the platform's encoders. */
#include "wic_private.h"
#include <new>
#include "fio_holders.h"

namespace wic {

namespace {

/* Rows are pulled from the caller about this many bytes at a time. */
constexpr size_t BandBytes = 1 << 20;
constexpr uint64_t GifLimit = uint64_t(1) << 28;

/* How the rows of a data type go to an encoder. */
struct WritePlan {
    GUID format{};                 /* the encoder's pixel format */
    Shape shape = Shape::Copy;     /* delivered row -> encoder row */
    unsigned encoderBits = 0;
    unsigned limit = 0;            /* one-byte values must stay below this (0: no check) */
    std::vector<WICColor> palette; /* set on the frame when not empty */
    std::vector<uint32_t> expand;  /* B, G, R for the Expand shapes */
};

std::vector<WICColor> PaletteColours(HPALETTE palette, unsigned most)
{
    std::vector<WICColor> colours;
    if (!palette) return colours;
    PALETTEENTRY entries[256];
    UINT count = GetPaletteEntries(palette, 0, 256, entries);
    if (count > most) count = most;
    for (UINT i = 0; i < count; i++)
        colours.push_back(0xFF000000u | entries[i].peRed << 16 | entries[i].peGreen << 8 | entries[i].peBlue);
    return colours;
}

std::vector<WICColor> GreyRamp(unsigned levels)
{
    std::vector<WICColor> colours;
    for (unsigned i = 0; i < levels; i++) {
        unsigned v = i * 255 / (levels - 1);
        colours.push_back(0xFF000000u | v << 16 | v << 8 | v);
    }
    return colours;
}

/* The data type of a description: its own, or the usual one of its bits per pixel. */
DWORD TypeOf(const ImageDescription &raster)
{
    if (raster.dataType) return raster.dataType;
    switch (raster.bitsPerPixel) {
    case 1: return Q32_TYPE_BILEVEL;
    case 4: return Q32_TYPE_PALETTE4;
    case 8: return raster.palette ? Q32_TYPE_PALETTE8 : Q32_TYPE_GREY8;
    case 24: return Q32_TYPE_RGB;
    case 32: return Q32_TYPE_BGRA;
    default: return 0;
    }
}

unsigned BitsOf(DWORD type)
{
    switch (type) {
    case Q32_TYPE_BILEVEL: return 1;
    case Q32_TYPE_PALETTE4: case Q32_TYPE_GREY4: return 4;
    case Q32_TYPE_PALETTE8: case Q32_TYPE_GREY8: case Q32_TYPE_COLOURS16: return 8;
    case Q32_TYPE_GREY16: case Q32_TYPE_HICOLOUR: return 16;
    case Q32_TYPE_RGB: return 24;
    case Q32_TYPE_BGRA: case Q32_TYPE_CMYK: return 32;
    case Q32_TYPE_RGB48: return 48;
    case Q32_TYPE_BGRA64: return 64;
    default: return 0;
    }
}

/* Chooses the encoder's pixel format for rows of the description; false when the
   container cannot hold them. */
bool PlanWrite(Container container, const ImageDescription &raster, WritePlan &plan)
{
    const DWORD type = TypeOf(raster);
    const unsigned bits = BitsOf(type);
    if (!bits || (raster.bitsPerPixel && raster.bitsPerPixel != bits &&
                  !(type == Q32_TYPE_PALETTE4 && raster.bitsPerPixel == 8)))
        return false;
    const bool indices = type == Q32_TYPE_PALETTE4 || type == Q32_TYPE_COLOURS16 || type == Q32_TYPE_PALETTE8;
    const unsigned levels = type == Q32_TYPE_PALETTE8 ? 256 : 16;
    std::vector<WICColor> colours;
    if (indices) {
        colours = PaletteColours(raster.palette, levels);
        if (colours.empty()) colours = GreyRamp(levels);
        plan.limit = unsigned(colours.size());
    }
    if (type == Q32_TYPE_BILEVEL) {
        colours = PaletteColours(raster.palette, 2);
        if (!colours.empty() && colours.size() < 2) colours.push_back(0xFFFFFFFFu);
    }
    if (type == Q32_TYPE_GREY4) plan.limit = 16;
    auto set = [&](const GUID &format, Shape shape, unsigned encoderBits) {
        plan.format = format, plan.shape = shape, plan.encoderBits = encoderBits;
        return true;
    };
    switch (container) {
    case Container::Png:
    case Container::Tiff:
        switch (type) {
        case Q32_TYPE_BILEVEL:
            plan.palette = colours;
            return set(colours.empty() ? GUID_WICPixelFormatBlackWhite : GUID_WICPixelFormat1bppIndexed,
                       Shape::Copy, 1);
        case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16:
            plan.palette = colours;
            return set(GUID_WICPixelFormat4bppIndexed, Shape::Pack4, 4);
        case Q32_TYPE_PALETTE8:
            plan.palette = colours;
            return set(GUID_WICPixelFormat8bppIndexed, Shape::Copy, 8);
        case Q32_TYPE_GREY4: return set(GUID_WICPixelFormat4bppGray, Shape::Pack4, 4);
        case Q32_TYPE_GREY8: return set(GUID_WICPixelFormat8bppGray, Shape::Copy, 8);
        case Q32_TYPE_GREY16: return set(GUID_WICPixelFormat16bppGray, Shape::Copy, 16);
        case Q32_TYPE_RGB: return set(GUID_WICPixelFormat24bppBGR, Shape::Copy, 24);
        case Q32_TYPE_BGRA: return set(GUID_WICPixelFormat32bppBGRA, Shape::Copy, 32);
        case Q32_TYPE_RGB48: return set(GUID_WICPixelFormat48bppRGB, Shape::SwapRB48, 48);
        case Q32_TYPE_BGRA64: return set(GUID_WICPixelFormat64bppRGBA, Shape::SwapRB64, 64);
        case Q32_TYPE_CMYK:
            return container == Container::Tiff && set(GUID_WICPixelFormat32bppCMYK, Shape::Copy, 32);
        default: return false;
        }
    case Container::Jpeg:
        switch (type) {
        case Q32_TYPE_GREY8: return set(GUID_WICPixelFormat8bppGray, Shape::Copy, 8);
        case Q32_TYPE_GREY4: return set(GUID_WICPixelFormat8bppGray, Shape::Grey4To8, 8);
        case Q32_TYPE_RGB: return set(GUID_WICPixelFormat24bppBGR, Shape::Copy, 24);
        case Q32_TYPE_BGRA: return set(GUID_WICPixelFormat24bppBGR, Shape::Drop4th, 24);
        case Q32_TYPE_CMYK: return set(GUID_WICPixelFormat32bppCMYK, Shape::Copy, 32);
        case Q32_TYPE_BILEVEL: case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16: case Q32_TYPE_PALETTE8:
            if (colours.empty()) colours = {0xFF000000u, 0xFFFFFFFFu};
            for (WICColor c : colours) plan.expand.push_back(c & 0xFFFFFF);
            plan.expand.resize(256, 0);
            return set(GUID_WICPixelFormat24bppBGR, type == Q32_TYPE_BILEVEL ? Shape::Expand1 : Shape::Expand8, 24);
        default: return false;
        }
    case Container::Gif:
        switch (type) {
        case Q32_TYPE_BILEVEL:
            plan.palette = colours.empty() ? GreyRamp(2) : colours;
            return set(GUID_WICPixelFormat8bppIndexed, Shape::Unpack1, 8);
        case Q32_TYPE_PALETTE4: case Q32_TYPE_COLOURS16: case Q32_TYPE_PALETTE8:
            plan.palette = colours;
            return set(GUID_WICPixelFormat8bppIndexed, Shape::Copy, 8);
        case Q32_TYPE_GREY4:
            plan.palette = GreyRamp(16);
            return set(GUID_WICPixelFormat8bppIndexed, Shape::Copy, 8);
        case Q32_TYPE_GREY8:
            plan.palette = GreyRamp(256);
            return set(GUID_WICPixelFormat8bppIndexed, Shape::Copy, 8);
        default: return false;
        }
    default:
        return false;
    }
}

void WriteOption(IPropertyBag2 *bag, const wchar_t *name, VARIANT value)
{
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(name);
    bag->Write(1, &option, &value);
}

/* The frame options of the format's save settings. */
void SetOptions(Container container, const Settings &settings, IPropertyBag2 *bag)
{
    if (!bag) return;
    VARIANT value;
    VariantInit(&value);
    switch (container) {
    case Container::Jpeg:
        value.vt = VT_R4;
        value.fltVal = float(settings.jpegQuality) / 100.0f;
        WriteOption(bag, L"ImageQuality", value);
        break;
    case Container::Png:
        value.vt = VT_BOOL;
        value.boolVal = settings.pngInterlace ? VARIANT_TRUE : VARIANT_FALSE;
        WriteOption(bag, L"InterlaceOption", value);
        break;
    case Container::Tiff: {
        static const BYTE methods[] = {WICTiffCompressionNone, WICTiffCompressionLZW,
                                       WICTiffCompressionZIP, WICTiffCompressionRLE};
        value.vt = VT_UI1;
        value.bVal = methods[settings.tiffCompression];
        WriteOption(bag, L"TiffCompressionMethod", value);
        break;
    }
    default:
        break;
    }
}

/* A new frame of the encoder, set up for pixels of a format: exactly that format, or
   (exact false) the encoder's nearest, into which WriteSource converts. False: the
   encoder does not take the format; nothing recorded. */
bool NewFrame(IWICBitmapEncoder *encoder, Container container, const Settings &settings, UINT width,
              UINT height, const GUID &format, const std::vector<WICColor> &palette,
              IWICImagingFactory *factory, double dpiX, double dpiY, Com<IWICBitmapFrameEncode> &frame,
              bool exact = true)
{
    Com<IPropertyBag2> bag;
    if (FAILED(encoder->CreateNewFrame(frame.put(), bag.put()))) return false;
    SetOptions(container, settings, bag.get());
    if (FAILED(frame->Initialize(bag.get())) || FAILED(frame->SetSize(width, height))) return false;
    if (dpiX > 0 && dpiY > 0) frame->SetResolution(dpiX, dpiY);
    GUID asked = format;
    if (FAILED(frame->SetPixelFormat(&asked)) || (exact && !IsEqualGUID(asked, format))) return false;
    const bool indexed = IsEqualGUID(asked, GUID_WICPixelFormat1bppIndexed) ||
                         IsEqualGUID(asked, GUID_WICPixelFormat2bppIndexed) ||
                         IsEqualGUID(asked, GUID_WICPixelFormat4bppIndexed) ||
                         IsEqualGUID(asked, GUID_WICPixelFormat8bppIndexed);
    if (indexed && !palette.empty()) {
        Com<IWICPalette> colours;
        if (FAILED(factory->CreatePalette(colours.put())) ||
            FAILED(colours->InitializeCustom(const_cast<WICColor *>(palette.data()), UINT(palette.size()))) ||
            FAILED(frame->SetPalette(colours.get())))
            return false;
    }
    return true;
}

/* Values beyond the palette (or beyond 15 for 4-bit grey) in one-byte rows. */
bool RowFits(const WritePlan &plan, const uint8_t *row, uint64_t count)
{
    if (!plan.limit) return true;
    for (uint64_t i = 0; i < count; i++)
        if (row[i] >= plan.limit) return false;
    return true;
}

/******************************************************************
 *      EncodeRows
 *
 * Pulls the image from the caller in bands of rows, top first, converts each band when
 * the encoder's layout differs and hands it to the frame. 1, Q32_WRITE_STOPPED or 0
 * (error recorded).
 */
LONG_PTR EncodeRows(IWICBitmapFrameEncode *frame, const WritePlan &plan, DWORD type, unsigned bits,
                    UINT width, UINT height, ImageRequest *request, RowCallback callback,
                    const char *name, int entry)
{
    const uint64_t rowBytes = Q32_ROW_BYTES(type, bits, width);
    const uint64_t encoderStride = PackedBytes(plan.encoderBits, width);
    int64_t band = int64_t(BandBytes / (rowBytes > encoderStride ? rowBytes : encoderStride));
    if (band < 1) band = 1;
    if (band > int64_t(height)) band = height;
    const bool direct = plan.shape == Shape::Copy;
    std::vector<uint8_t> rowsBuffer(size_t(rowBytes * uint64_t(band)));
    std::vector<uint8_t> encoded(direct ? 0 : size_t(encoderStride * uint64_t(band)));
    std::vector<void *> rows(static_cast<size_t>(band));
    for (int64_t y = 0; y < int64_t(height); y += band) {
        const int64_t n = int64_t(height) - y < band ? int64_t(height) - y : band;
        for (int64_t i = 0; i < n; i++) rows[size_t(i)] = rowsBuffer.data() + size_t(i) * rowBytes;
        if (!callback(request, request->rasterX, LONG(request->rasterY + y), LONG(width), LONG(n),
                      rows.data(), Q32_ROW_PULL, 0, 0))
            return Q32_WRITE_STOPPED;
        for (int64_t i = 0; i < n; i++) {
            const uint8_t *row = rowsBuffer.data() + size_t(i) * rowBytes;
            if (!RowFits(plan, row, type == Q32_TYPE_BILEVEL ? 0 : width)) {
                Record(ErrCannot, entry, PlaceBadPixel);
                return 0;
            }
            if (!direct)
                ConvertRow(plan.shape, plan.encoderBits, row, 0, width, encoded.data() + size_t(i) * encoderStride,
                           plan.expand.empty() ? nullptr : plan.expand.data());
        }
        uint8_t *pixels = direct ? rowsBuffer.data() : encoded.data();
        const uint64_t stride = direct ? rowBytes : encoderStride;
        if (FAILED(frame->WritePixels(UINT(n), UINT(stride), UINT(stride * uint64_t(n)), pixels))) {
            Record(ErrWrite, entry, PlaceEncoder, name);
            return 0;
        }
    }
    if (FAILED(frame->Commit())) {
        Record(ErrWrite, entry, PlaceEncoder, name);
        return 0;
    }
    return 1;
}

/* What a write takes from its FileData and request. */
struct Job {
    FileData data;
    WritePlan plan;
    DWORD type = 0;
    unsigned bits = 0;
    UINT width = 0, height = 0;
};

bool PrepareJob(int format, HGLOBAL fileData, ImageRequest *request, RowCallback callback, int entry,
                Job &job)
{
    if (!request || !callback || !CopyFileData(fileData, job.data)) {
        Record(ErrCannot, entry, PlaceArguments);
        return false;
    }
    if (!Formats[format].writable || !PlanWrite(Formats[format].container, job.data.raster, job.plan)) {
        Record(ErrCannot, entry, PlaceType);
        return false;
    }
    job.type = TypeOf(job.data.raster);
    job.bits = job.data.raster.bitsPerPixel ? job.data.raster.bitsPerPixel : BitsOf(job.type);
    LONG width = request->rasterWidth, height = request->rasterHeight;
    if (width == 0 && height == 0) width = job.data.raster.width, height = job.data.raster.height;
    if (width <= 0 || height <= 0) {
        Record(ErrCannot, entry, PlaceRegion);
        return false;
    }
    job.width = UINT(width), job.height = UINT(height);
    return true;
}

/* Writes a memory stream's bytes to file from its start; for GIF with the animation
   blocks added. */
bool PutStream(IStream *memory, HANDLE file, bool gif, int32_t loops, const std::vector<uint16_t> &delays)
{
    HGLOBAL block = nullptr;
    STATSTG stat = {};
    if (FAILED(GetHGlobalFromStream(memory, &block)) || FAILED(memory->Stat(&stat, STATFLAG_NONAME)))
        return false;
    fio::Locked<uint8_t> bytes(block);
    if (!bytes) return false;
    const size_t size = size_t(stat.cbSize.QuadPart);
    std::vector<uint8_t> patched;
    if (gif && !WriteGifAnimation(bytes.get(), size, loops, delays, patched)) return false;
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
           WriteAll(file, gif ? patched.data() : bytes.get(), gif ? patched.size() : size) &&
           SetEndOfFile(file);
}

/* The encoder's output: the file itself, or memory for GIF (whose animation blocks are
   added afterwards). */
bool NewOutput(bool gif, HANDLE file, Com<IStream> &stream)
{
    if (gif) return SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return false;
    *stream.put() = NewHandleStream(file);
    return bool(stream);
}

/* Decodes a one-row 16-bit grey PNG held in memory; false when the component fails. */
bool DecodePng16(IWICImagingFactory *factory, IStream *stream, uint8_t bytes[2])
{
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    LARGE_INTEGER start = {};
    return SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) &&
           SUCCEEDED(factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.put())) &&
           SUCCEEDED(decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand)) &&
           SUCCEEDED(decoder->GetFrame(0, frame.put())) && SUCCEEDED(frame->CopyPixels(nullptr, 2, 2, bytes));
}

/* True when the platform's PNG encoder stores 16-bit samples in their memory order
   rather than PNG's big-endian order (some versions do), which would turn every sample
   round: the decoder is first checked against a PNG made here, then a sample is
   encoded and read back. Asked once per process. */
bool PngEncoderKeepsMemoryOrder(IWICImagingFactory *factory)
{
    static LONG answer = -1;
    if (answer >= 0) return answer != 0;
    bool keeps = false;
    std::vector<uint8_t> reference = StoredPng16({0x0102});
    Com<IStream> made, encoded;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IPropertyBag2> bag;
    uint8_t bytes[2] = {};
    GUID format = GUID_WICPixelFormat16bppGray;
    uint8_t sample[2] = {0x02, 0x01}; /* 0x0102 in memory order */
    if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, made.put())) &&
        SUCCEEDED(made->Write(reference.data(), ULONG(reference.size()), nullptr)) &&
        DecodePng16(factory, made.get(), bytes) && bytes[0] == 0x02 && bytes[1] == 0x01 &&
        SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, encoded.put())) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) &&
        SUCCEEDED(encoder->Initialize(encoded.get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(frame.put(), bag.put())) && SUCCEEDED(frame->Initialize(bag.get())) &&
        SUCCEEDED(frame->SetSize(1, 1)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
        IsEqualGUID(format, GUID_WICPixelFormat16bppGray) && SUCCEEDED(frame->WritePixels(1, 2, 2, sample)) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) &&
        DecodePng16(factory, encoded.get(), bytes))
        keeps = bytes[0] == 0x01 && bytes[1] == 0x02;
    InterlockedExchange(&answer, keeps ? 1 : 0);
    return keeps;
}

/* 16-bit samples for a PNG encoder that stores them in memory order: swapped first. */
void MatchPngByteOrder(Container container, IWICImagingFactory *factory, WritePlan &plan)
{
    const bool samples16 = plan.encoderBits == 16 || plan.encoderBits == 48 || plan.encoderBits == 64;
    if (container != Container::Png || !samples16 || !PngEncoderKeepsMemoryOrder(factory)) return;
    switch (plan.shape) {
    case Shape::Copy: plan.shape = Shape::SwapBytes16; break;
    case Shape::SwapRB48: plan.shape = Shape::SwapRB48Bytes; break;
    case Shape::SwapRB64: plan.shape = Shape::SwapRB64Bytes; break;
    default: break;
    }
}

double Dpi(DWORD resolution)
{
    return resolution ? resolution / 10000.0 : 0;
}

/* The job's image as the encoder's last frame, its rows pulled from the callback, then
   the encoder committed: 1, Q32_WRITE_STOPPED or 0 (error recorded at entry). */
LONG_PTR EncodeLastFrame(IWICBitmapEncoder *encoder, IWICImagingFactory *factory, Container container,
                         const Settings &settings, const Job &job, ImageRequest *request,
                         RowCallback callback, int entry)
{
    const char *name = job.data.name;
    Com<IWICBitmapFrameEncode> frame;
    if (!NewFrame(encoder, container, settings, job.width, job.height, job.plan.format, job.plan.palette,
                  factory, Dpi(job.data.raster.resolutionX), Dpi(job.data.raster.resolutionY), frame)) {
        Record(ErrCannot, entry, PlaceType);
        return 0;
    }
    LONG_PTR result = EncodeRows(frame.get(), job.plan, job.type, job.bits, job.width, job.height, request,
                                 callback, name, entry);
    if (result != 1) return result;
    if (FAILED(encoder->Commit())) {
        Record(ErrWrite, entry, PlaceEncoder, name);
        return 0;
    }
    return 1;
}

} // namespace

/******************************************************************
 *      WriteImage  (entry +17)
 */
int WriteImage(int format, HANDLE file, HGLOBAL fileData, ImageRequest *request,
               RowCallback callback)
{
    Job job;
    if (!PrepareJob(format, fileData, request, callback, EntryWrite, job)) return 0;
    if (!file || file == INVALID_HANDLE_VALUE) {
        Record(ErrCannot, EntryWrite, PlaceArguments);
        return 0;
    }
    const char *name = job.data.name;
    const Container container = Formats[format].container;
    const bool gif = container == Container::Gif;
    const Settings settings = ReadSettings(SuiteIni().c_str());
    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, EntryWrite, PlaceComponent);
        return 0;
    }
    Com<IWICImagingFactory> factory;
    *factory.put() = NewFactory(EntryWrite);
    if (!factory) return 0;
    MatchPngByteOrder(container, factory.get(), job.plan);
    Com<IStream> stream;
    Com<IWICBitmapEncoder> encoder;
    if (!NewOutput(gif, file, stream)) {
        Record(ErrWrite, EntryWrite, PlaceOutput, name);
        return 0;
    }
    if (FAILED(factory->CreateEncoder(*Formats[format].guid, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache))) {
        Record(ErrUnsupported, EntryWrite, PlaceComponent);
        return 0;
    }
    LONG_PTR result = EncodeLastFrame(encoder.get(), factory.get(), container, settings, job, request, callback,
                                      EntryWrite);
    if (result != 1) return int(result);
    /* One image: its delay, and a loop block only once it has frames to repeat. */
    if (gif && !PutStream(stream.get(), file, true, -1, std::vector<uint16_t>{uint16_t(settings.gifDelay)})) {
        Record(ErrWrite, EntryWrite, PlaceOutput, name);
        return 0;
    }
    return 1;
}

namespace {

/* A work file, deleted on every exit unless it replaced the file. */
struct WorkFile {
    char name[MAX_PATH] = "";
    bool replaced = false;
    WorkFile() = default;
    WorkFile(const WorkFile &) = delete;
    WorkFile &operator=(const WorkFile &) = delete;
    ~WorkFile()
    {
        if (*name && !replaced) DeleteFileA(name);
    }
};

/* A new work file beside the file name (its name in work); false when none can be made. */
bool WorkFileBeside(const char *name, char (&work)[MAX_PATH])
{
    char folder[MAX_PATH];
    lstrcpynA(folder, name, sizeof folder);
    char *slash = strrchr(folder, '\\');
    if (slash) slash[1] = 0;
    else lstrcpyA(folder, ".");
    return GetTempFileNameA(folder, "wic", 0, work) != 0;
}

/* Encodes every frame of an open decoder, as the decoder gives it, into encoder. */
bool CopyFrames(Decoding &decoding, IWICBitmapEncoder *encoder, const FormatDef &def,
                const Settings &settings, const char *name)
{
    for (UINT i = 0; i < decoding.frameCount; i++) {
        Com<IWICBitmapFrameDecode> old;
        Com<IWICBitmapFrameEncode> copy;
        Com<IWICPalette> palette;
        UINT w = 0, h = 0;
        GUID native;
        double dpiX = 0, dpiY = 0;
        if (FAILED(decoding.decoder->GetFrame(i, old.put())) || FAILED(old->GetSize(&w, &h)) ||
            FAILED(old->GetPixelFormat(&native))) {
            Record(ErrDamaged, EntryCommand, PlaceDecoder, name);
            return false;
        }
        old->GetResolution(&dpiX, &dpiY);
        std::vector<WICColor> colours;
        WICColor entries[256];
        UINT count = 0;
        if (SUCCEEDED(decoding.factory->CreatePalette(palette.put())) &&
            (SUCCEEDED(old->CopyPalette(palette.get())) || SUCCEEDED(decoding.decoder->CopyPalette(palette.get()))) &&
            SUCCEEDED(palette->GetColors(256, entries, &count)))
            colours.assign(entries, entries + count);
        if (!NewFrame(encoder, def.container, settings, w, h, native, colours, decoding.factory.get(),
                      dpiX, dpiY, copy, false)) {
            Record(ErrUnsupported, EntryCommand, PlaceEncoder, name);
            return false;
        }
        if (FAILED(copy->WriteSource(old.get(), nullptr)) || FAILED(copy->Commit())) {
            Record(ErrDamaged, EntryCommand, PlacePixels, name);
            return false;
        }
    }
    return true;
}

/* A GIF's stream put into its file with the delays and loop count of the animation it had
   (the settings' for what it lacks) and one delay more for the new frame. */
bool PutGifTimings(IStream *stream, HANDLE output, const GifAnimation &animation, UINT frames,
                   const Settings &settings)
{
    std::vector<uint16_t> delays;
    for (const GifImage &image : animation.images) delays.push_back(image.delay);
    delays.resize(frames, uint16_t(settings.gifDelay));
    delays.push_back(uint16_t(settings.gifDelay));
    int32_t loops = animation.loopCount >= 0 ? animation.loopCount : settings.gifLoops;
    return PutStream(stream, output, true, loops, delays);
}

/* Writes the frames of the file that job names and the new one into work; frames: how
   many the file had. */
LONG_PTR WriteWithNewFrame(int format, const Job &job, const char *work, ImageRequest *request,
                           RowCallback callback, UINT &frames)
{
    const FormatDef &def = Formats[format];
    const char *name = job.data.name;
    const bool gif = def.container == Container::Gif;
    const Settings settings = ReadSettings(SuiteIni().c_str());
    ComScope com;
    if (!com.ok()) {
        Record(ErrNoMemory, EntryCommand, PlaceComponent);
        return 0;
    }
    Source source;
    if (!source.Open(nullptr, name)) {
        Record(ErrOpen, EntryCommand, PlaceOpen, name);
        return 0;
    }
    Decoding decoding;
    if (!OpenDecoding(format, source.get(), name, EntryCommand, decoding)) return 0;
    frames = decoding.frameCount;
    GifAnimation animation;
    std::vector<uint8_t> original;
    if (gif && (!ReadWhole(source.get(), original, GifLimit) ||
                !ReadGifAnimation(original.data(), original.size(), animation))) {
        Record(ErrDamaged, EntryCommand, PlaceInput, name);
        return 0;
    }
    fio::FileHandle output(CreateFileA(work, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    Com<IStream> stream;
    Com<IWICBitmapEncoder> encoder;
    if (!output || !NewOutput(gif, output.get(), stream)) {
        Record(ErrWrite, EntryCommand, PlaceOutput, name);
        return 0;
    }
    if (FAILED(decoding.factory->CreateEncoder(*def.guid, nullptr, encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache))) {
        Record(ErrUnsupported, EntryCommand, PlaceComponent);
        return 0;
    }
    if (!CopyFrames(decoding, encoder.get(), def, settings, name)) return 0;
    LONG_PTR result = EncodeLastFrame(encoder.get(), decoding.factory.get(), def.container, settings, job,
                                      request, callback, EntryCommand);
    if (result != 1) return result;
    if (gif && !PutGifTimings(stream.get(), output.get(), animation, frames, settings)) {
        Record(ErrWrite, EntryCommand, PlaceOutput, name);
        return 0;
    }
    return 1;
}

/* The FileData of a file that was given frame frames: it describes that frame now. */
void NoteAppended(HGLOBAL fileData, int format, UINT frames, const char *name)
{
    fio::Locked<FileData> live(fileData);
    if (!live) return;
    WicFacts *facts = FileDataWicFacts(live.get());
    if (facts->magic != WIC_FACTS_MAGIC || facts->format != DWORD(format)) {
        *facts = WicFacts{};
        facts->magic = WIC_FACTS_MAGIC;
        facts->format = DWORD(format);
        facts->animation = Formats[format].container == Container::Gif;
    }
    facts->frameCount = frames + 1;
    facts->frame = frames;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExA(name, GetFileExInfoStandard, &attributes))
        live->fileSize = attributes.nFileSizeHigh ? 0xFFFFFFFFu : attributes.nFileSizeLow;
}

} // namespace

/******************************************************************
 *      AppendFrame  (entry +10, command 27)
 *
 * Writes the file's frames and the new one into a work file beside it, which replaces
 * the file only when everything was written: a failure leaves the file as it was.
 */
LONG_PTR AppendFrame(int format, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    Job job;
    if (!PrepareJob(format, fileData, request, callback, EntryCommand, job)) return 0;
    if (!Formats[format].multiFrame) {
        Record(ErrCannot, EntryCommand, PlaceNoFrames);
        return 0;
    }
    const char *name = job.data.name;
    WorkFile work;
    if (!WorkFileBeside(name, work.name)) {
        Record(ErrWrite, EntryCommand, PlaceOutput, name);
        return 0;
    }
    UINT frames = 0;
    LONG_PTR result = WriteWithNewFrame(format, job, work.name, request, callback, frames);
    if (result != 1) return result;
    if (!MoveFileExA(work.name, name, MOVEFILE_REPLACE_EXISTING)) {
        Record(ErrWrite, EntryCommand, PlaceOutput, name);
        return 0;
    }
    work.replaced = true;
    NoteAppended(fileData, format, frames, name);
    return 1;
}

} // namespace wic
