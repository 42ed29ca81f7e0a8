/*
 * Preview benchmark: a large 24-bit BMP previewed into a small box, beside a plain
 * sequential read of the same file and the platform's imaging component (decode plus
 * scaler to the same box). Each path runs in a child process of its own so that its
 * peak private bytes are its own; a fourth child only loads the module and detects the
 * file, the base from which the preview's extra memory is counted.
 *
 * The parent samples each child's counters while it runs: Wine fills PeakPagefileUsage
 * with the current private bytes (and nothing once the process has ended), Windows with
 * the true peak; the larger of all samples is reported. Each child also times its own
 * work (without its start and the module's load) and prints "work SECONDS" last.
 *
 *   preview_bench [--size N] [--box B] [--file PATH]   run them all, print the table
 *   preview_bench --child MODE FILE BOX                 one path (read|base|preview|wic)
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
#include "../bench.h"

namespace {

using bench::Now;

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
    double start = Now();
    std::vector<BYTE> buffer(1 << 20);
    DWORD got;
    ULONGLONG total = 0, sum = 0;
    while (ReadFile(file, buffer.data(), (DWORD)buffer.size(), &got, nullptr) && got) {
        total += got;
        sum += buffer[got / 2];
    }
    CloseHandle(file);
    printf("bytes %llu (%llu)\nwork %.3f\n", total, sum & 1, Now() - start);
    return 0;
}

/* The module loaded and the file detected, without a preview; with preview, the
   preview into the box. */
int ChildPreview(const char *path, int box, bool preview)
{
    HGLOBAL data = qfFileGetFileData(path, nullptr);
    if (!data) return 1;
    std::vector<BYTE> pixels((size_t)box * box * 4);
    static PreviewInfo info;
    int ok = 1;
    if (preview) {
        double start = Now();
        ok = qfFileGetPreviewMem(data, &info, 0, pixels.data(), box, box);
        double work = Now() - start;
        printf("preview %d: %lux%lu, %lu bytes per pixel\nwork %.3f\n", ok,
               (unsigned long)info.width, (unsigned long)info.height,
               (unsigned long)info.bytesPerPixel, work);
    }
    q32FileFreeFileData(data);
    return ok ? 0 : 1;
}

int ChildWic(const char *path, int box)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    double start = Now();
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
                printf("wic %ux%u\nwork %.3f\n", ow, oh, Now() - start);
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

struct Figures {
    double seconds, work;
    SIZE_T peakPrivate, peakWorkingSet;
    DWORD exitCode;
};

void Sample(HANDLE process, Figures &f)
{
    PROCESS_MEMORY_COUNTERS_EX c = {};
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&c, sizeof c)) return;
    for (SIZE_T v : {c.PeakPagefileUsage, c.PagefileUsage, c.PrivateUsage})
        if (v > f.peakPrivate) f.peakPrivate = v;
    if (c.PeakWorkingSetSize > f.peakWorkingSet) f.peakWorkingSet = c.PeakWorkingSetSize;
}

Figures RunChild(const std::string &mode, const std::string &file, int box)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" --child " + mode + " \"" + file + "\" " +
                          std::to_string(box);
    Figures f = {0, 0, 0, 0, 1};
    /* The child's output comes back through a pipe (a few short lines). */
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) return f;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = si.hStdError = writeEnd;
    PROCESS_INFORMATION pi;
    double start = Now();
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return f;
    }
    while (WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT) Sample(pi.hProcess, f);
    f.seconds = Now() - start;
    Sample(pi.hProcess, f);
    std::string output;
    char part[4096];
    DWORD got;
    while (ReadFile(readEnd, part, sizeof part, &got, nullptr) && got) output.append(part, got);
    CloseHandle(readEnd);
    size_t at = output.rfind("work ");
    if (at != std::string::npos) f.work = atof(output.c_str() + at + 5);
    for (size_t from = 0; from < output.size();) {
        size_t to = output.find('\n', from);
        if (to == std::string::npos) to = output.size();
        std::string line = output.substr(from, to - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        printf("  %s: %s\n", mode.c_str(), line.c_str());
        from = to + 1;
    }
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
        if (!strcmp(argv[2], "base")) return ChildPreview(argv[3], box, false);
        if (!strcmp(argv[2], "preview")) return ChildPreview(argv[3], box, true);
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

    /* A first read, not counted, so that every path finds the file equally cached. */
    RunChild("read", file, box);
    const char *modes[] = {"read", "base", "preview", "wic"};
    const char *names[] = {"plain sequential read", "module + detection only", "qfFileGetPreviewMem",
                           "WIC decode + scaler"};
    enum { Read, Base, Preview, Wic, Paths };
    Figures results[Paths];
    for (int i = 0; i < Paths; i++) results[i] = RunChild(modes[i], file, box);
    double imageBytes = (double)size * size * 3, MB = 1048576.0;
    printf("\n%-24s %8s %8s %14s %14s %10s\n", "path", "process", "work", "peak private",
           "peak w. set", "of image");
    for (int i = 0; i < Paths; i++)
        printf("%-24s %7.2fs %7.2fs %11.1f MB %11.1f MB %9.3f%%%s\n", names[i], results[i].seconds,
               results[i].work, results[i].peakPrivate / MB, results[i].peakWorkingSet / MB,
               100.0 * results[i].peakPrivate / imageBytes, results[i].exitCode ? "  (failed)" : "");
    double extra = (double)results[Preview].peakPrivate - (double)results[Base].peakPrivate;
    printf("\npreview extra private bytes (over module + detection): %.2f MB, %.4f%% of the image\n",
           extra / MB, 100.0 * extra / imageBytes);
    printf("preview / plain read time: %.2fx (work), %.2fx (whole process)\n",
           results[Preview].work / results[Read].work, results[Preview].seconds / results[Read].seconds);
    if (results[Preview].peakPrivate)
        printf("WIC / preview peak private bytes: %.0fx\n",
               (double)results[Wic].peakPrivate / results[Preview].peakPrivate);
    if (extra > 0)
        printf("WIC / preview private bytes over the module + detection base: %.0fx\n",
               ((double)results[Wic].peakPrivate - (double)results[Base].peakPrivate) / extra);
    if (made) DeleteFileA(file.c_str());
    return 0;
}
