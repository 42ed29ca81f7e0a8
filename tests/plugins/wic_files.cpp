/* Image files made and read with the imaging component directly. */
#include "wic_files.h"
#include <random>

namespace wictest {

namespace {

template <typename T>
struct Ref {
    T *p = nullptr;
    ~Ref() { if (p) p->Release(); }
    T *operator->() const { return p; }
    T **operator&() { return &p; }
};

IWICImagingFactory *Factory()
{
    IWICImagingFactory *factory = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    return factory;
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

} // namespace

UINT Picture::Bits() const
{
    Ref<IWICImagingFactory> factory;
    factory.p = Factory();
    Ref<IWICComponentInfo> info;
    Ref<IWICPixelFormatInfo> pixel;
    UINT bits = 0;
    if (factory.p && SUCCEEDED(factory->CreateComponentInfo(format, &info)) &&
        SUCCEEDED(info->QueryInterface(IID_PPV_ARGS(&pixel))))
        pixel->GetBitsPerPixel(&bits);
    return bits;
}

Picture Pattern(const GUID &format, UINT width, UINT height, unsigned seed, std::vector<WICColor> palette)
{
    Picture p;
    p.format = format, p.width = width, p.height = height, p.palette = palette;
    std::mt19937 random(seed);
    const UINT stride = p.Stride(), bits = p.Bits();
    p.pixels.resize(size_t(stride) * height);
    for (UINT y = 0; y < height; y++) {
        uint8_t *row = p.pixels.data() + size_t(y) * stride;
        for (UINT i = 0; i < stride; i++)
            row[i] = i > 0 && random() % 3 == 0 ? row[i - 1] : uint8_t(random() + y * 3 + i);
        /* Indices within the palette; nothing in the padding bits of the last byte. */
        if (!palette.empty() && bits >= 8)
            for (UINT i = 0; i < stride; i++) row[i] = uint8_t(row[i] % palette.size());
        if (!palette.empty() && bits < 8) {
            UINT per = 8 / bits, count = UINT(palette.size());
            for (UINT x = 0; x < width; x++) {
                UINT shift = 8 - bits - (x % per) * bits;
                UINT mask = ((1u << bits) - 1) << shift;
                UINT value = ((row[x / per] & mask) >> shift) % count;
                row[x / per] = uint8_t((row[x / per] & ~mask) | (value << shift));
            }
        }
        if ((width * bits) % 8) row[stride - 1] &= uint8_t(0xFF << (8 - (width * bits) % 8));
    }
    return p;
}

Picture Smooth(const GUID &format, UINT width, UINT height)
{
    Picture p;
    p.format = format, p.width = width, p.height = height;
    const UINT stride = p.Stride(), bytes = p.Bits() / 8;
    p.pixels.resize(size_t(stride) * height);
    for (UINT y = 0; y < height; y++)
        for (UINT x = 0; x < width; x++)
            for (UINT c = 0; c < bytes; c++)
                p.pixels[size_t(y) * stride + x * bytes + c] =
                    uint8_t(128 + 90 * std::sin(x / 17.0 + c) * std::cos(y / 23.0 - c));
    return p;
}

bool Encode(const std::string &path, const GUID &container, const std::vector<Picture> &frames)
{
    Ref<IWICImagingFactory> factory;
    factory.p = Factory();
    Ref<IWICStream> stream;
    Ref<IWICBitmapEncoder> encoder;
    if (!factory.p || FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(Wide(path).c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)))
        return false;
    for (const Picture &picture : frames) {
        Ref<IWICBitmapFrameEncode> frame;
        Ref<IPropertyBag2> bag;
        GUID format = picture.format;
        if (FAILED(encoder->CreateNewFrame(&frame, &bag)) || FAILED(frame->Initialize(bag.p)) ||
            FAILED(frame->SetSize(picture.width, picture.height)) || FAILED(frame->SetPixelFormat(&format)) ||
            !IsEqualGUID(format, picture.format))
            return false;
        if (!picture.palette.empty()) {
            Ref<IWICPalette> palette;
            if (FAILED(factory->CreatePalette(&palette)) ||
                FAILED(palette->InitializeCustom(const_cast<WICColor *>(picture.palette.data()), UINT(picture.palette.size()))) ||
                FAILED(frame->SetPalette(palette.p)))
                return false;
        }
        UINT stride = picture.Stride();
        if (FAILED(frame->WritePixels(picture.height, stride, UINT(picture.pixels.size()),
                                      const_cast<BYTE *>(picture.pixels.data()))) ||
            FAILED(frame->Commit()))
            return false;
    }
    return SUCCEEDED(encoder->Commit());
}

bool Decode(const std::string &path, UINT index, const GUID &format, Picture &picture, UINT *frameCount)
{
    Ref<IWICImagingFactory> factory;
    factory.p = Factory();
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    Ref<IWICFormatConverter> converter;
    if (!factory.p || FAILED(factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                                              WICDecodeMetadataCacheOnDemand, &decoder)))
        return false;
    if (frameCount && FAILED(decoder->GetFrameCount(frameCount))) return false;
    if (FAILED(decoder->GetFrame(index, &frame))) return false;
    GUID native;
    frame->GetPixelFormat(&native);
    picture = Picture{};
    picture.format = format;
    frame->GetSize(&picture.width, &picture.height);
    IWICBitmapSource *source = frame.p;
    if (!IsEqualGUID(native, format)) {
        if (FAILED(factory->CreateFormatConverter(&converter)) ||
            FAILED(converter->Initialize(frame.p, format, WICBitmapDitherTypeNone, nullptr, 0, WICBitmapPaletteTypeCustom)))
            return false;
        source = converter.p;
    }
    picture.pixels.resize(size_t(picture.Stride()) * picture.height);
    if (FAILED(source->CopyPixels(nullptr, picture.Stride(), UINT(picture.pixels.size()), picture.pixels.data())))
        return false;
    Ref<IWICPalette> palette;
    WICColor colours[256];
    UINT count = 0;
    if (SUCCEEDED(factory->CreatePalette(&palette)) && SUCCEEDED(frame->CopyPalette(palette.p)) &&
        SUCCEEDED(palette->GetColors(256, colours, &count)))
        picture.palette.assign(colours, colours + count);
    return true;
}

namespace {

uint32_t Crc32(const void *data, size_t size)
{
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    uint32_t c = 0xFFFFFFFFu;
    auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < size; i++) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void PutBe32(std::string &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift);
}

} // namespace

std::string PngChunk(const std::string &type, const std::string &data)
{
    std::string chunk, body = type + data;
    PutBe32(chunk, uint32_t(data.size()));
    chunk += body;
    PutBe32(chunk, Crc32(body.data(), body.size()));
    return chunk;
}

std::string MakePng(UINT width, UINT height, int colourType, int bitDepth,
                    const std::vector<std::string> &rows, const std::string &extraChunks)
{
    std::string raw;
    for (const std::string &row : rows) raw += '\0' + row;
    /* zlib stream of stored blocks */
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        bool last = at + n >= raw.size();
        z += char(last ? 1 : 0);
        z += char(n), z += char(n >> 8), z += char(~n), z += char((~n) >> 8);
        z += raw.substr(at, n);
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    PutBe32(z, b << 16 | a);
    std::string header;
    PutBe32(header, width);
    PutBe32(header, height);
    header += char(bitDepth), header += char(colourType), header += std::string(3, '\0');
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) + extraChunks + PngChunk("IDAT", z) +
           PngChunk("IEND", "");
}

std::string MakeGif(UINT screenWidth, UINT screenHeight, const uint32_t colours[4],
                    const std::vector<GifFrame> &frames)
{
    auto le16 = [](unsigned v) { return std::string{char(v), char(v >> 8)}; };
    std::string gif = "GIF89a" + le16(screenWidth) + le16(screenHeight) + "\xF1\x03" + std::string(1, '\0');
    for (int i = 0; i < 4; i++) gif += char(colours[i] >> 16), gif += char(colours[i] >> 8), gif += char(colours[i]);
    for (const GifFrame &f : frames) {
        gif += "\x21\xF9\x04";
        gif += char((f.disposal & 7) << 2 | (f.transparent >= 0 ? 1 : 0));
        gif += le16(10) + char(f.transparent >= 0 ? f.transparent : 0) + '\0';
        gif += '\x2C' + le16(f.left) + le16(f.top) + le16(f.width) + le16(f.height) + '\0';
        /* Code size 2: 3-bit codes; clear (4) before each index keeps them 3 bits. */
        std::string data;
        unsigned accumulator = 0, bits = 0;
        auto put = [&](unsigned code) {
            accumulator |= code << bits, bits += 3;
            while (bits >= 8) data += char(accumulator), accumulator >>= 8, bits -= 8;
        };
        for (char index : f.indices) put(4), put(unsigned(index) & 3);
        put(5);
        if (bits) data += char(accumulator);
        gif += '\x02';
        for (size_t at = 0; at < data.size(); at += 255) {
            std::string block = data.substr(at, 255);
            gif += char(block.size()) + block;
        }
        gif += '\0';
    }
    return gif + ';';
}

double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++) {
        double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

} // namespace wictest
