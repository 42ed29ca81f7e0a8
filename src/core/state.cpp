/* The module's process-wide state and small shared services. */
#include "core.h"
#include "q32misc.h"
#include <string.h>

HINSTANCE OwnModule;
HMODULE ResourceModule;
char SuiteIniPath[Q32_MAX_NAME];
char PluginFolder[Q32_MAX_NAME];
char PluginLoadFolder[Q32_MAX_NAME];
CRITICAL_SECTION ModuleLock;

namespace {
int OsGeneration = -1;
}

const SystemCalls DefaultSystemCalls = {
    GlobalAlloc,
    CreateFileA,
    MoveFileExA,
    RegDeleteKeyA,
    WriteFile,
    LoadLibraryA,
};
SystemCalls Sys = DefaultSystemCalls;

size_t CopyText(char *dst, size_t size, const char *src)
{
    if (!dst || size == 0) return 0;
    size_t n = 0;
    if (src)
        while (n + 1 < size && src[n]) { dst[n] = src[n]; n++; }
    dst[n] = 0;
    return n;
}

int ProbeMemory(unsigned size)
{
    HGLOBAL block = Sys.globalAlloc(GMEM_MOVEABLE, size);
    if (!block) return 0;
    GlobalFree(block);
    return 1;
}

int OsGenerationFromVersion(DWORD version)
{
    unsigned number = (LOBYTE(LOWORD(version)) << 8) | HIBYTE(LOWORD(version));
    unsigned build = HIWORD(version) & 0x7FFF;
    if (number < 0x400) return 0;
    if (number == 0x400) return build >= 1381 ? 1 : 0;
    return number < 0x45A ? 2 : 3;
}

int GetOsGeneration()
{
    if (OsGeneration < 0) OsGeneration = OsGenerationFromVersion(GetVersion());
    return OsGeneration;
}

/******************************************************************
 *      q32FileGetFIOPath  (exported)
 */
extern "C" int Q32FILEAPI q32FileGetFIOPath(char *buffer, int size)
{
    if (!buffer || size < 1) return 0;

    char path[Q32_MAX_NAME] = "";
    DWORD n = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (n == 0 || n >= sizeof path) path[0] = 0;
    qfdSplitPathname(path, nullptr, path);
    qfdAddSlash(path);

    char answer[Q32_MAX_NAME] = "";
    if (strlen(path) + sizeof "FIO\\" <= sizeof path) {
        strcat(path, "FIO\\");
        if (qfdIsDir(path)) CopyText(answer, sizeof answer, path);
    }
    if (!answer[0])
        GetPrivateProfileStringA("Library", "FIO3PATH", nullptr, answer, sizeof answer,
                                 SuiteIniPath);

    size_t limit = size < Q32_MAX_NAME ? (size_t)size : Q32_MAX_NAME;
    return (int)CopyText(buffer, limit, answer);
}

/******************************************************************
 *      qfIsFileExist  (exported)
 */
extern "C" int Q32FILEAPI qfIsFileExist(const char *name)
{
    if (!name) return 0;
    WIN32_FIND_DATAA found = {};
    q32::FindHandle search(FindFirstFileA(name, &found));
    if (!search) return 0;
    return found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? 0 : 1;
}
