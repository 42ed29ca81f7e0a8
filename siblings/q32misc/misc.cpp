/* Q32MISC.DLL: miscellaneous suite services. Only ordinal 12 is used by q32File. */
#include <windows.h>
#include <string.h>

/******************************************************************
 *      q32MiscGetSuiteFolder (ordinal 12)
 *
 * Fills the 260-byte buffer with the folder of the running program, ending in a
 * backslash. Returns its length.
 */
extern "C" __declspec(dllexport) int __cdecl q32MiscGetSuiteFolder(char *buffer)
{
    if (!buffer) return 0;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    if (n == 0 || n >= sizeof path) { buffer[0] = 0; return 0; }
    char *cut = strrchr(path, '\\');
    if (cut) cut[1] = 0;
    lstrcpynA(buffer, path, MAX_PATH);
    return lstrlenA(buffer);
}
