/* Each application's help file, beside the suite's modules. */
#include "../core/core.h"
#include <string.h>

namespace {

/* The help file name of each application, with the help window suffix. */
const struct {
    int applicationId;
    const char *fileName;
} HelpFiles[] = {
    {1000, "prog5.hlp>d"}, {1002, "prog4.hlp>d"}, {1003, "prog3.hlp>d"},
    {1004, "prog2.hlp>d"}, {1005, "prog1.hlp>d"},
};

} // namespace

/******************************************************************
 *      q32FileGetHelpFilePath  (exported)
 *
 * The folder of module followed by the help file name of applicationId (the folder
 * alone for an application without one). Returns the length written.
 */
extern "C" int Q32FILEAPI q32FileGetHelpFilePath(HMODULE module, int applicationId,
                                                 char *buffer, int bufferSize)
{
    if (!buffer || bufferSize < 1) return 0;

    char path[Q32_MAX_NAME] = "";
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path) path[0] = 0;
    char help[2 * Q32_MAX_NAME] = "";
    qfdSplitPathname(path, nullptr, help);
    for (const auto &entry : HelpFiles)
        if (entry.applicationId == applicationId) strcat(help, entry.fileName);

    return (int)CopyText(buffer, (size_t)bufferSize, help);
}
