/* Q32FIDO.DLL stand-in: the suite's palette notifier. qfdNotifyPals takes a notice for the
   other suite processes; here it is recorded, one line a call, to the file that the
   environment variable Q32FIDO_LOG names:
   "process|a|b|kind|v0,v1,v2,v3|size" (v: the block's 32-bit values, as many as size holds). */
#include <windows.h>
#include <stdio.h>
#include <string.h>

extern "C" int WINAPI qfdNotifyPals(DWORD process, int a, int b, int kind, const void *block, int size)
{
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("Q32FIDO_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path) return 1;
    char line[512];
    int used = snprintf(line, sizeof line, "%lu|%d|%d|%d|", (unsigned long)process, a, b, kind);
    const BYTE *bytes = static_cast<const BYTE *>(block);
    for (int i = 0; bytes && i + 4 <= size && i < 64 && used < (int)sizeof line - 16; i += 4) {
        DWORD value;
        memcpy(&value, bytes + i, 4);
        used += snprintf(line + used, sizeof line - used, "%s%lu", i ? "," : "", (unsigned long)value);
    }
    snprintf(line + used, sizeof line - used, "|%d\n", size);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written;
    WriteFile(file, line, (DWORD)strlen(line), &written, nullptr);
    CloseHandle(file);
    return 1;
}
