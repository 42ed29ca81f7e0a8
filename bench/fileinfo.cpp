/* Cost of the file information texts that the open dialog asks for on every selection
   change: each call reads the regional values afresh. Prints microseconds per call. */
#include <windows.h>
#include <stdio.h>
#include "q32file.h"

namespace {

double Seconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename F>
void Measure(const char *what, int calls, F call)
{
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < calls; i++) call(i);
    QueryPerformanceCounter(&to);
    printf("%-34s %8.1f us/call (%d calls)\n", what, Seconds(from, to) * 1e6 / calls, calls);
}

} // namespace

int main()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    char text[Q32_DATE_TEXT_SIZE];
    Measure("q32FileSizeToAsciiEx (automatic)", 2000,
            [&](int i) { q32FileSizeToAsciiEx(1536.0 * (i + 1), text, 4); });
    Measure("q32FileSizeToAsciiEx (bytes)", 2000,
            [&](int i) { q32FileSizeToAsciiEx(1234567.0 + i, text, 0); });
    Measure("GetFileDateTimeToAscii", 2000, [&](int) { GetFileDateTimeToAscii(path, text); });
    Measure("q32FileGetImageTypeString", 20000,
            [&](int i) { q32FileGetImageTypeString(1u << (i % 15), text, 64); });
    return 0;
}
