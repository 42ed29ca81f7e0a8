/* q32cfg.dll stand-in: the suite's configuration module. Only GetModuleInfo is offered: it
   names the calling application. The display name is the value of the environment
   variable Q32CFG_NAME when it is set, else the executable's file name without its
   extension. */
#include <windows.h>
#include <string.h>

namespace {
/* The name written is at most this many bytes with its terminator. */
const DWORD NameBytes = 256;
}

/* GetModuleInfo(what, buffer, reserved, kind): what 0 and kind 1 ask for the calling
   application's display name; 1 when it was written, else 0. */
extern "C" int __cdecl GetModuleInfo(int what, char *buffer, int, int kind)
{
    if (!buffer || what != 0 || kind != 1) return 0;
    buffer[0] = 0;
    DWORD n = GetEnvironmentVariableA("Q32CFG_NAME", buffer, NameBytes);
    if (n > 0 && n < NameBytes) return 1;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    path[sizeof path - 1] = 0;
    const char *name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    lstrcpynA(buffer, name, (int)NameBytes);
    if (char *dot = strrchr(buffer, '.')) *dot = 0;
    return 1;
}
