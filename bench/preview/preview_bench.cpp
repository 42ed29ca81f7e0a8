/*
 * Preview benchmark: a large 24-bit BMP previewed into a small box, beside a plain
 * sequential read of the same file and the platform's imaging component (decode plus
 * scaler to the same box). Each path runs in a child process of its own so that its
 * peak private bytes are its own.
 *
 *   preview_bench [--size N] [--box B] [--file PATH]   run all three, print the table
 *   preview_bench --child MODE FILE BOX                 one path (read|preview|wic)
 */
#include <windows.h>
#include <psapi.h>
#include <wincodec.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "q32file.h"

namespace {

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / f.QuadPart;
}

/* Writes a width x width 24-bit bottom-up BMP of a gradient, row by row. */
bool MakeBmp(const std::string &path, LONG width)
{
    LONG stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = width;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = (DWORD)((ULONGLONG)stride * width);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = (DWORD)(fh.bfOffBits + (ULONGLONG)stride * width);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written;
    WriteFile(file, &fh, sizeof fh, &written, nullptr);
    WriteFile(file, &ih, sizeof ih, &written, nullptr);
    const LONG band = 64;
    std::vector<BYTE> rows((size_t)stride * band);
    for (LONG y = 0; y < width; y += band) {
        LONG n = width - y < band ? width - y : band;
        for (LONG r = 0; r < n; r++)
            for (LONG x = 0; x < width; x++) {
                BYTE *p = &rows[(size_t)r * stride + (size_t)x * 3];
                p[0] = (BYTE)x; p[1] = (BYTE)(y + r); p[2] = (BYTE)((x + y + r) >> 4);
            }
        WriteFile(file, rows.data(), (DWORD)((size_t)stride * n), &written, nullptr);
    }
    CloseHandle(file);
    return true;
}

int ChildRead(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::vector<BYTE> buffer(1 << 20);
    DWORD got;
    ULONGLONG total = 0, sum = 0;
    while (ReadFile(file, buffer.data(), (DWORD)buffer.size(), &got, nullptr) && got) {
        total += got;
        sum += buffer[got / 2];
    }
    CloseHandle(file);
    printf("bytes %llu (%llu)\n", total, sum & 1);
    return 0;
}

int ChildPreview(const char *path, int box)
{
    HGLOBAL data = qfFileGetFileData(path, nullptr);
    if (!data) return 1;
    std::vector<BYTE> pixels((size_t)box * box * 4);
    static PreviewInfo info;
    int ok = qfFileGetPreviewMem(data, &info, 0, pixels.data(), box, box);
    printf("preview %d: %ux%u, %u bytes per pixel\n", ok, info.width, info.height,
           info.bytesPerPixel);
    q32FileFreeFileData(data);
    return ok ? 0 : 1;
}

int ChildWic(const char *path, int box)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory *factory = nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICBitmapScaler *scaler = nullptr;
    int rc = 1;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    UINT w = 0, h = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, (void **)&factory)) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(wide, nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&w, &h)) &&
        SUCCEEDED(factory->CreateBitmapScaler(&scaler))) {
        UINT ow = w >= h ? box : (UINT)((ULONGLONG)w * box / h);
        UINT oh = h >= w ? box : (UINT)((ULONGLONG)h * box / w);
        if (SUCCEEDED(scaler->Initialize(frame, ow, oh, WICBitmapInterpolationModeNearestNeighbor))) {
            std::vector<BYTE> pixels((size_t)ow * oh * 4);
            if (SUCCEEDED(scaler->CopyPixels(nullptr, ow * 3, (UINT)pixels.size(), pixels.data()))) {
                printf("wic %ux%u\n", ow, oh);
                rc = 0;
            }
        }
    }
    if (scaler) scaler->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    if (factory) factory->Release();
    CoUninitialize();
    return rc;
}

struct Figures { double seconds; SIZE_T peakPrivate; DWORD exitCode; };

Figures RunChild(const std::string &mode, const std::string &file, int box)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" --child " + mode + " \"" + file + "\" " +
                          std::to_string(box);
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    Figures f = {0, 0, 1};
    double start = Now();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return f;
    WaitForSingleObject(pi.hProcess, INFINITE);
    f.seconds = Now() - start;
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(pi.hProcess, (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters);
    f.peakPrivate = counters.PeakPagefileUsage;
    GetExitCodeProcess(pi.hProcess, &f.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && !strcmp(argv[1], "--child")) {
        int box = atoi(argv[4]);
        if (!strcmp(argv[2], "read")) return ChildRead(argv[3]);
        if (!strcmp(argv[2], "preview")) return ChildPreview(argv[3], box);
        if (!strcmp(argv[2], "wic")) return ChildWic(argv[3], box);
        return 2;
    }

    LONG size = 20000;
    int box = 256;
    std::string file;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--size")) size = atol(argv[i + 1]);
        else if (!strcmp(argv[i], "--box")) box = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--file")) file = argv[i + 1];
    }
    bool made = false;
    if (file.empty()) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        file = std::string(temp) + "q32_preview_bench.bmp";
        printf("making a %ld x %ld 24-bit BMP (%.2f GB) ...\n", size, size,
               (double)size * size * 3 / 1e9);
        if (!MakeBmp(file, size)) return 1;
        made = true;
    }

    const char *modes[] = {"read", "preview", "wic"};
    const char *names[] = {"plain sequential read", "qfFileGetPreviewMem", "WIC decode + scaler"};
    Figures results[3];
    for (int i = 0; i < 3; i++) results[i] = RunChild(modes[i], file, box);
    double imageBytes = (double)size * size * 3;
    printf("\n%-24s %10s %16s %12s\n", "path", "seconds", "peak private", "of image");
    for (int i = 0; i < 3; i++)
        printf("%-24s %10.2f %13.1f MB %11.3f%%%s\n", names[i], results[i].seconds,
               results[i].peakPrivate / 1048576.0, 100.0 * results[i].peakPrivate / imageBytes,
               results[i].exitCode ? "  (failed)" : "");
    printf("\npreview / plain read time: %.2fx\n", results[1].seconds / results[0].seconds);
    if (results[1].peakPrivate)
        printf("WIC / preview memory: %.0fx\n", (double)results[2].peakPrivate / results[1].peakPrivate);
    if (made) DeleteFileA(file.c_str());
    return 0;
}
