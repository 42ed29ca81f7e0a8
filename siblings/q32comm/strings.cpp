/* The common string table and small text helpers. */
#include "comm_private.h"
#include <stdlib.h>
#include <string.h>

HINSTANCE CommInstance;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        CommInstance = instance;
        DisableThreadLibraryCalls(instance);
        RegisterSliderClass(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        UnregisterSliderClass(instance);
    }
    return TRUE;
}

int CommCopy(char *dst, int size, const char *src)
{
    if (!dst || size < 1) return 0;
    int n = 0;
    if (src)
        while (n < size - 1 && src[n]) { dst[n] = src[n]; n++; }
    dst[n] = 0;
    return n;
}

namespace {
/* Tests make texts go missing with Q32COMM_MISSING_STRINGS, a list such as "1001,4026". */
bool IsStringHidden(UINT id)
{
    char list[256];
    DWORD n = GetEnvironmentVariableA("Q32COMM_MISSING_STRINGS", list, sizeof list);
    if (n == 0 || n >= sizeof list) return false;
    for (char *p = list; *p;) {
        char *end;
        unsigned long value = strtoul(p, &end, 10);
        if (end != p && value == id) return true;
        p = *end ? end + 1 : end;
    }
    return false;
}
}

/******************************************************************
 *      c32GetString
 *
 * Fills buffer with the text of string id, cut to fit and terminated.
 * Returns the length, 0 when the table has no such text.
 */
extern "C" int C32API c32GetString(UINT id, char *buffer, int size)
{
    if (!buffer || size < 1) return 0;
    buffer[0] = 0;
    if (IsStringHidden(id)) return 0;
    return LoadStringA(CommInstance, id, buffer, size);
}

/******************************************************************
 *      c32GetMbTitle
 */
extern "C" int C32API c32GetMbTitle(char *buffer, int size)
{
    if (c32GetString(1000, buffer, size)) return lstrlenA(buffer);
    return CommCopy(buffer, size, "Quill Imaging");
}
