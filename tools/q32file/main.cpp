/*
 * q32file: the module from the command line, loaded as an application of the suite
 * loads it.
 *
 *   q32file about     the plug-in folder, the OS class and the last recorded error
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "q32file.h"
#include "q32comm.h"

namespace {

int About()
{
    char folder[MAX_PATH];
    int length = q32FileGetFIOPath(folder, sizeof folder);
    printf("plug-in folder   %s%s\n", length ? folder : "(none)",
           length && !qfIsFileExist(folder) && GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES
               ? "  (missing)" : "");

    char ini[MAX_PATH];
    q32GetQuillIniFileName(ini, sizeof ini);
    printf("suite ini file   %s\n", ini);
    printf("OS class         %d\n", q32GetOsVersion());

    char text[C32_ERRTEXT_SIZE];
    int where1, where2, where3;
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, &where1, &where2, &where3);
    if (id) printf("last error       %u (%d, %d, %d): %s\n", id, where1, where2, where3, text);
    else printf("last error       none\n");
    return 0;
}

int Usage()
{
    fprintf(stderr, "usage: q32file about\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) return Usage();
    if (!strcmp(argv[1], "about")) return About();
    return Usage();
}
