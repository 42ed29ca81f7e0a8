/* Where the suite's companion applications are, from the entries their set-up wrote. */
#include "../core/core.h"
#include <string.h>

namespace {

enum { EditorId = 1004, ViewerId = 1005 };

/* The default value of subkey below HKEY_CLASSES_ROOT\className, or an empty text. */
void ReadClassValue(const char *className, const char *subkey, char *value)
{
    value[0] = 0;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, className, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return;
    q32::KeyHandle key(opened);
    LONG size = Q32_MAX_NAME;
    if (RegQueryValueA(key.get(), subkey, value, &size) != ERROR_SUCCESS) value[0] = 0;
    value[Q32_MAX_NAME - 1] = 0;
}

/* The viewer's program from its open command: the command without its last five
   characters (the blank and "%1" that end it), unquoted. Empty when it cannot be cut. */
void ProgramOfCommand(char *command)
{
    size_t length = strlen(command);
    if (length < 5) {
        command[0] = 0;
        return;
    }
    length -= 5;
    command[length] = 0;
    if (command[0] == '"') {
        if (length < 2) {
            command[0] = 0;
            return;
        }
        command[length - 1] = 0;
        memmove(command, command + 1, length - 1);
    }
}

} // namespace

/******************************************************************
 *      q32FileGetPalsModuleName  (exported)
 *
 * The registered program path of the editor (1004) or the viewer (1005), when that file
 * exists. Writes at most bufferSize - 1 characters; returns the path's full length.
 */
extern "C" int Q32FILEAPI q32FileGetPalsModuleName(DWORD reserved1, int applicationId,
                                                   DWORD reserved2, char *buffer,
                                                   int bufferSize)
{
    if (!buffer || bufferSize < 1) return 0;

    char path[Q32_MAX_NAME] = "";
    if (applicationId == EditorId) {
        ReadClassValue("KD3.Image", "protocol\\StdFileEditing\\server", path);
    } else if (applicationId == ViewerId) {
        ReadClassValue("QuillViewer", "shell\\open\\command", path);
        ProgramOfCommand(path);
    }
    if (path[0] && !qfIsFileExist(path)) path[0] = 0;

    CopyText(buffer, (size_t)bufferSize, path);
    return (int)strlen(path);
}
