/*
 * formats: read throughput of a 4000 x 3000 image of each format through the module's
 * qfFileRead (wic.fio, tga.fio and wbmp.fio in the plug-in folder of a module copy),
 * beside a direct decode of the same file into one buffer, in one run: the imaging
 * component's for its formats, tga.fio's own codec reading the file in pieces for TGA
 * (the overhead is then the module, the plug-in's entry and the row callback).
 * Both ends hold the whole image at the end: the module's callback copies each band
 * into a full buffer, as an application would. Medians of several runs; the time of
 * qfFileGetFileData (detection and description) is shown apart. Arguments, when given,
 * name the formats to measure (JPG PNG TIF GIF TGA WBM); "42mp" measures a 7500 x 5600
 * image instead; "detect" measures detection alone.
 */
#include "harness.h"
#include "tga_codec.h"
#include <wincodec.h>
#include <stdio.h>
#include <algorithm>
#include <memory>
#include <cmath>
#include <string>
#include <vector>
#include "bench.h"

using namespace q32test;

namespace {

using bench::Median;
using bench::Now;

UINT Width = 4000, Height = 3000;
const int Runs = 9;

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

template <typename T>
struct Ref {
    T *p = nullptr;
    ~Ref() { if (p) p->Release(); }
    T *operator->() const { return p; }
    T **operator&() { return &p; }
};

/* Pixels with some structure (soft waves and a little noise), so that encoders work as on
   a photograph rather than on a flat field. */
std::vector<BYTE> Pixels(UINT bytesPerPixel, bool indexed)
{
    std::vector<BYTE> pixels(size_t(Width) * Height * bytesPerPixel);
    uint32_t noise = 1;
    for (UINT y = 0; y < Height; y++)
        for (UINT x = 0; x < Width; x++)
            for (UINT c = 0; c < bytesPerPixel; c++) {
                noise = noise * 1103515245u + 12345u;
                double wave = 128 + 80 * std::sin(x / (37.0 + c * 11)) * std::cos(y / (53.0 - c * 7));
                BYTE value = BYTE(wave + ((noise >> 16) & 15));
                pixels[(size_t(y) * Width + x) * bytesPerPixel + c] = indexed ? BYTE(value / 16 * 16 + x % 16) : value;
            }
    return pixels;
}

bool Encode(IWICImagingFactory *factory, const std::string &path, const GUID &container, const GUID &format,
            UINT bytesPerPixel, bool indexed)
{
    Ref<IWICStream> stream;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> bag;
    GUID asked = format;
    if (FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(Wide(path).c_str(), GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) || FAILED(encoder->CreateNewFrame(&frame, &bag)) ||
        FAILED(frame->Initialize(bag.p)) || FAILED(frame->SetSize(Width, Height)) ||
        FAILED(frame->SetPixelFormat(&asked)) || !IsEqualGUID(asked, format))
        return false;
    if (indexed) {
        Ref<IWICPalette> palette;
        WICColor colours[256];
        for (UINT i = 0; i < 256; i++) colours[i] = 0xFF000000u | i << 16 | (255 - i) << 8 | (i * 7 & 255);
        if (FAILED(factory->CreatePalette(&palette)) || FAILED(palette->InitializeCustom(colours, 256)) ||
            FAILED(frame->SetPalette(palette.p)))
            return false;
    }
    std::vector<BYTE> pixels = Pixels(bytesPerPixel, indexed);
    UINT stride = Width * bytesPerPixel;
    return SUCCEEDED(frame->WritePixels(Height, stride, UINT(pixels.size()), pixels.data())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

void WriteBytes(const std::string &path, const std::string &head, const std::vector<BYTE> &body)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, head.data(), DWORD(head.size()), &written, nullptr);
    WriteFile(file, body.data(), DWORD(body.size()), &written, nullptr);
    CloseHandle(file);
}

/* The component decoding the file into one buffer of its own pixel format. */
double DecodeDirectly(IWICImagingFactory *factory, const std::string &path)
{
    double begin = Now();
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    HRESULT hr = factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                                    WICDecodeMetadataCacheOnDemand, &decoder);
    GUID format;
    Ref<IWICComponentInfo> info;
    Ref<IWICPixelFormatInfo> pixel;
    UINT bits = 0;
    if (FAILED(hr) || FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetPixelFormat(&format)) ||
        FAILED(factory->CreateComponentInfo(format, &info)) || FAILED(info->QueryInterface(IID_PPV_ARGS(&pixel))) ||
        FAILED(pixel->GetBitsPerPixel(&bits)))
        return -1;
    UINT stride = (Width * bits + 7) / 8;
    std::vector<BYTE> image(size_t(stride) * Height);
    if (FAILED(frame->CopyPixels(nullptr, stride, UINT(image.size()), image.data()))) return -1;
    return Now() - begin;
}

/* The whole file read into memory: the floor for a format the component lacks. */
std::vector<BYTE> ReadWholeFile(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD got = 0;
    ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(file);
    return bytes;
}

double TimeWholeFile(const std::string &path)
{
    double begin = Now();
    ReadWholeFile(path);
    return Now() - begin;
}

/* The open file, for the codec. */
class FileSource : public tga::Source {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    uint64_t Size() const override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? uint64_t(size.QuadPart) : 0;
    }
    bool Read(uint64_t offset, void *buffer, size_t bytes) override
    {
        LARGE_INTEGER at;
        at.QuadPart = LONGLONG(offset);
        DWORD got = 0;
        return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && ReadFile(file_, buffer, DWORD(bytes), &got, nullptr) &&
               got == bytes;
    }

private:
    HANDLE file_;
};

/* tga.fio's codec decoding the file into one buffer of the rows that the plug-in delivers,
   reading it front to back in pieces of 1 MB (as the plug-in reads), without the module,
   the plug-in's entry and the row callback. */
double DecodeTga(const std::string &path)
{
    double begin = Now();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FileSource source(file);
    tga::Layout layout;
    bool ok = tga::ReadLayout(source, layout) == tga::Result::Ok;
    const uint64_t height = uint64_t(layout.height), stride = tga::StoredRowBytes(layout);
    const uint64_t rowBytes = tga::RowBytes(layout.kind, uint64_t(layout.width));
    std::vector<BYTE> image(size_t(rowBytes * height)), piece(1 << 20);
    std::unique_ptr<BYTE[]> pixels(layout.rle ? new BYTE[size_t(stride * height)] : nullptr);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(layout.dataOffset);
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    auto deliver = [&](uint64_t stored, const BYTE *row) {
        uint64_t y = layout.topDown ? stored : height - 1 - stored;
        ok = ok && tga::DecodeRow(layout, row, image.data() + y * rowBytes) == tga::Result::Ok;
    };
    if (layout.rle) {
        uint64_t done = 0;
        size_t kept = 0;
        while (ok && done < uint64_t(layout.width) * height) {
            DWORD read = 0;
            ReadFile(file, piece.data() + kept, DWORD(piece.size() - kept), &read, nullptr);
            size_t have = kept + read, used = tga::DecodeRlePackets(layout, piece.data(), have, pixels.get(), done);
            if (used == 0 && read == 0) ok = false;
            kept = have - used;
            memmove(piece.data(), piece.data() + used, kept);
        }
        for (uint64_t r = 0; ok && r < height; r++) deliver(r, pixels.get() + r * stride);
    } else {
        const uint64_t rows = piece.size() / stride;
        for (uint64_t r = 0; ok && r < height; r += rows) {
            uint64_t count = height - r < rows ? height - r : rows;
            DWORD read = 0;
            ok = ReadFile(file, piece.data(), DWORD(count * stride), &read, nullptr) && read == count * stride;
            for (uint64_t i = 0; ok && i < count; i++) deliver(r + i, piece.data() + i * stride);
        }
    }
    CloseHandle(file);
    return ok ? Now() - begin : -1;
}

/* A TGA file as tga.fio writes it. */
void WriteTga(const std::string &path, tga::Kind kind, bool rle)
{
    tga::Layout layout;
    layout.kind = kind, layout.width = Width, layout.height = Height, layout.rle = rle;
    std::vector<BYTE> file = tga::BuildHeader(layout);
    const size_t pixelBytes = kind == tga::Kind::Bgra32 ? 4 : 3, rowBytes = Width * pixelBytes;
    std::vector<BYTE> pixels = Pixels(UINT(pixelBytes), false);
    for (UINT y = 0; y < Height; y++) tga::EncodeRow(layout, pixels.data() + y * rowBytes, file);
    std::vector<BYTE> trailer = tga::BuildTrailer(layout, file.size());
    file.insert(file.end(), trailer.begin(), trailer.end());
    WriteBytes(path, "", file);
}

/* The application's side of qfFileRead: every band copied into the full image. */
struct Target {
    std::vector<BYTE> image;
    size_t rowBytes = 0;
    DWORD dataType = 0, bits = 0;
};

LONG WINAPI CopyRows(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData, DWORD flags,
                     LONG_PTR, LONG_PTR)
{
    auto *target = static_cast<Target *>(request->context);
    if (flags || rows < 1) return 0;
    size_t bytes = Q32_ROW_BYTES(target->dataType, target->bits, count);
    size_t offset = Q32_ROW_BYTES(target->dataType, target->bits, x);
    for (LONG i = 0; i < rows; i++)
        memcpy(target->image.data() + size_t(y + i) * target->rowBytes + offset, static_cast<BYTE **>(rowData)[i], bytes);
    return 1;
}

struct Result {
    const char *code;
    const char *what;
    double fileMb = 0, directMs = 0, moduleMs = 0, detectMs = 0, detectBestMs = 0;
    enum { Component, Codec, FileOnly } direct = Component;
    bool ok = false;
};

} // namespace

int main(int argc, char **argv)
{
    bool detectOnly = false;
    for (int i = 1; i < argc; i++) {
        if (std::string(argv[i]) == "42mp") Width = 7500, Height = 5600;
        if (std::string(argv[i]) == "detect") detectOnly = true;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Ref<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)))) {
        fprintf(stderr, "no imaging component\n");
        return 1;
    }
    TempDir dir;
    std::string suite = dir / "suite", fio = dir / "suite\\FIO", ini = dir / "suite.ini";
    ScopedEnv appData("Q32_APPDATA", dir / "appdata\\");
    ScopedEnv osClass("Q32_OSVERSION", "10");
    CreateDirectoryA((dir / "appdata").c_str(), nullptr);
    CreateDirectoryA(suite.c_str(), nullptr);
    CreateDirectoryA(fio.c_str(), nullptr);
    for (const char *plugin : {"wic.fio", "tga.fio", "wbmp.fio"})
        CopyFileA((BinFolder() + "FIO\\" + plugin).c_str(), Join(fio, plugin).c_str(), FALSE);
    ModuleCopy module(suite, ini);
    if (!module.Load()) {
        fprintf(stderr, "the module copy does not load\n");
        return 1;
    }
    auto getFileData = Q32_EXPORT(module, qfFileGetFileData);
    auto freeFileData = Q32_EXPORT(module, q32FileFreeFileData);
    auto read = Q32_EXPORT(module, qfFileRead);

    printf("formats: reading a %u x %u image (%.0f megapixels), medians of %d runs\n", Width, Height,
           Width * Height / 1e6, Runs);
    std::vector<Result> results = {
        {"JPG", "24-bit colour"}, {"PNG", "24-bit colour"}, {"TIF", "24-bit colour"},
        {"GIF", "256 colours"},   {"TGA", "24-bit colour"}, {"TGA", "32-bit RLE"}, {"WBM", "one bit"},
    };
    for (Result &r : results) {
        std::string code = r.code, path = dir / ("big" + std::to_string(&r - results.data()) + "." + code);
        bool chosen = true, named = false;
        for (int i = 1; i < argc; i++)
            if (std::string(argv[i]) != "42mp" && std::string(argv[i]) != "detect") named = true, chosen = false;
        for (int i = 1; i < argc; i++) chosen = chosen || (named && code == argv[i]);
        if (!chosen) continue;
        bool made = true;
        if (code == "JPG") made = Encode(factory.p, path, GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, 3, false);
        if (code == "PNG") made = Encode(factory.p, path, GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, 3, false);
        if (code == "TIF") made = Encode(factory.p, path, GUID_ContainerFormatTiff, GUID_WICPixelFormat24bppBGR, 3, false);
        if (code == "GIF") made = Encode(factory.p, path, GUID_ContainerFormatGif, GUID_WICPixelFormat8bppIndexed, 1, true);
        if (code == "TGA") {
            bool alpha = std::string(r.what).find("32") != std::string::npos;
            WriteTga(path, alpha ? tga::Kind::Bgra32 : tga::Kind::Rgb24, alpha);
            r.direct = Result::Codec;
        }
        if (code == "WBM") {
            std::string header = {0, 0, char(0x80 | (Width >> 7)), char(Width & 0x7F), char(0x80 | (Height >> 7)),
                                  char(Height & 0x7F)};
            std::vector<BYTE> bits = Pixels(1, false);
            bits.resize(size_t((Width + 7) / 8) * Height);
            WriteBytes(path, header, bits);
            r.direct = Result::FileOnly;
        }
        if (!made) {
            printf("%s: the component cannot make the file\n", r.code);
            continue;
        }
        {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            r.fileMb = GetFileSize(file, nullptr) / 1048576.0;
            CloseHandle(file);
        }
        std::vector<double> direct, viaModule, detect;
        for (int run = 0; run < Runs && !detectOnly; run++) {
            direct.push_back(r.direct == Result::Component ? DecodeDirectly(factory.p, path)
                             : r.direct == Result::Codec   ? DecodeTga(path)
                                                           : TimeWholeFile(path));
            HGLOBAL fileData = getFileData(path.c_str(), nullptr);
            if (!fileData) break;
            Target target;
            {
                FileData *facts = static_cast<FileData *>(GlobalLock(fileData));
                target.dataType = facts->raster.dataType, target.bits = facts->raster.bitsPerPixel;
                GlobalUnlock(fileData);
            }
            target.rowBytes = Q32_ROW_BYTES(target.dataType, target.bits, Width);
            ImageRequest request = {};
            request.rasterWanted = 1;
            request.context = &target;
            double begin = Now();
            target.image.resize(target.rowBytes * Height);
            INT_PTR result = read(fileData, &request, CopyRows);
            viaModule.push_back(Now() - begin);
            freeFileData(fileData);
            if (result != 1) break;
        }
        /* Detection apart, each run after a pause: on a shared machine a call made at
           once after the decoding above is often cut by the scheduler. */
        for (int run = 0; run < Runs && (detectOnly || viaModule.size() == size_t(Runs)); run++) {
            Sleep(20);
            double begin = Now();
            HGLOBAL fileData = getFileData(path.c_str(), nullptr);
            detect.push_back(Now() - begin);
            if (fileData) freeFileData(fileData);
        }
        if (detectOnly && detect.size() == size_t(Runs)) {
            r.detectMs = Median(detect) * 1000, r.detectBestMs = *std::min_element(detect.begin(), detect.end()) * 1000;
            r.ok = true;
            continue;
        }
        if (detectOnly || viaModule.size() != size_t(Runs) || *std::min_element(direct.begin(), direct.end()) < 0) {
            printf("%s: not read (%zu of %d runs)\n", r.code, viaModule.size(), Runs);
            continue;
        }
        r.directMs = Median(direct) * 1000, r.moduleMs = Median(viaModule) * 1000, r.detectMs = Median(detect) * 1000;
        r.detectBestMs = *std::min_element(detect.begin(), detect.end()) * 1000;
        r.ok = true;
    }
    module.Unload();

    printf("\n%-4s %-14s %8s %13s %13s %9s %10s %8s\n", "fmt", "image", "file MB", "direct MP/s", "qfFileRead", "overhead",
           "detect ms", "best");
    const double megapixels = Width * Height / 1e6;
    for (const Result &r : results) {
        if (!r.ok) continue;
        if (detectOnly) {
            printf("%-4s %-14s %8.2f %13s %13s %9s %10.2f %8.2f\n", r.code, r.what, r.fileMb, "-", "-", "-", r.detectMs,
                   r.detectBestMs);
            continue;
        }
        printf("%-4s %-14s %8.2f %13.1f %13.1f %8.1f%% %10.2f %8.2f%s\n", r.code, r.what, r.fileMb,
               megapixels / (r.directMs / 1000), megapixels / (r.moduleMs / 1000),
               (r.moduleMs - r.directMs) / r.directMs * 100, r.detectMs, r.detectBestMs,
               r.direct == Result::Component ? ""
               : r.direct == Result::Codec   ? "   (direct: the plug-in's codec alone)"
                                             : "   (direct: the file read into memory; no decoder in the component)");
    }
    printf("\ndirect: the component's decoder (TGA: tga.fio's codec) into one buffer; qfFileRead: the\n"
           "module and its plug-in, "
           "the bands copied into one buffer by the callback; overhead: qfFileRead over direct;\n"
           "detect: qfFileGetFileData, median and best of the runs.\n");
    factory.p->Release();
    factory.p = nullptr;
    CoUninitialize();
    return 0;
}
