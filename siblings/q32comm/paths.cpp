/* Path helpers. Paths are ANSI multi-byte: they are stepped with CharNextA so that a
   trail byte equal to '\\' is never taken for a separator. */
#include "comm_private.h"
#include <string.h>

namespace {
/* Address of the last character of text (text itself when it is empty). */
char *LastChar(char *text)
{
    char *last = text;
    for (char *p = text; *p; p = CharNextA(p)) last = p;
    return last;
}
}

/******************************************************************
 *      qfdIsDir
 */
extern "C" int C32API qfdIsDir(const char *path)
{
    if (!path || !*path) return 0;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/******************************************************************
 *      qfdAddSlash
 *
 * Appends a backslash in place when the path does not end in one. The buffer is taken
 * to hold MAX_PATH bytes; a path that already fills it is left alone.
 */
extern "C" void C32API qfdAddSlash(char *path)
{
    if (!path) return;
    size_t n = strlen(path);
    if (n && *LastChar(path) == '\\') return;
    if (n + 1 >= MAX_PATH) return;
    path[n] = '\\';
    path[n + 1] = 0;
}

/******************************************************************
 *      qfdDelSlash
 */
extern "C" void C32API qfdDelSlash(char *path)
{
    if (!path || !*path) return;
    char *last = LastChar(path);
    if (*last == '\\') *last = 0;
}

/******************************************************************
 *      qfdSplitPathname
 *
 * name receives the part after the last separator ('\\', '/' or the drive's ':');
 * folder the part up to and including it (ending in a backslash when non-empty).
 * folder may be path's own buffer. Both are MAX_PATH bytes.
 */
extern "C" void C32API qfdSplitPathname(const char *path, char *name, char *folder)
{
    char copy[MAX_PATH];
    CommCopy(copy, sizeof copy, path ? path : "");

    char *cut = copy; /* first byte of the name part */
    for (char *p = copy; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/' || *p == ':') cut = CharNextA(p);

    if (name) CommCopy(name, MAX_PATH, cut);
    if (folder) {
        *cut = 0;
        CommCopy(folder, MAX_PATH, copy);
        if (*folder && *LastChar(folder) == '/') *LastChar(folder) = '\\';
        else if (*folder && *LastChar(folder) == ':') qfdAddSlash(folder);
    }
}

/******************************************************************
 *      qfdRemoveBlanks
 *
 * Removes leading and trailing blanks and tabs in place.
 */
extern "C" void C32API qfdRemoveBlanks(char *text)
{
    if (!text) return;
    char *start = text;
    while (*start == ' ' || *start == '\t') start++;
    size_t n = strlen(start);
    while (n && (start[n - 1] == ' ' || start[n - 1] == '\t')) n--;
    memmove(text, start, n);
    text[n] = 0;
}

/******************************************************************
 *      qfdConvertLongShortPathname
 *
 * Writes a usable path of the same file into target (at most size - 1 characters, never
 * more than 259): its short form when toShort is non-zero, else its long form. When the
 * file system cannot convert it, the source is copied as it stands (cut to fit).
 */
extern "C" int C32API qfdConvertLongShortPathname(const char *source, char *target, int size, int toShort)
{
    if (!target || size < 1) return 0;
    if (size > MAX_PATH) size = MAX_PATH;
    if (!source) { target[0] = 0; return 0; }
    char converted[MAX_PATH];
    DWORD n = toShort ? GetShortPathNameA(source, converted, sizeof converted)
                      : GetLongPathNameA(source, converted, sizeof converted);
    return CommCopy(target, size, (n && n < sizeof converted) ? converted : source);
}

/******************************************************************
 *      qfdGetDiskFreeSpace
 *
 * Free bytes available to the caller on the drive of path, 0.0 when unknown.
 */
extern "C" double C32API qfdGetDiskFreeSpace(const char *drive)
{
    ULARGE_INTEGER available;
    if (!drive || !GetDiskFreeSpaceExA(drive, &available, NULL, NULL)) return 0.0;
    return (double)available.QuadPart;
}
