/* The file-type association entries under HKEY_CLASSES_ROOT: reading a format's state,
   registering and giving back its extensions. Every failure of the registry is absorbed. */
#include "assoc.h"
#include "../registry/registry.h"
#include <string.h>
#include <string>

namespace {

const char AutoClassMark[] = "_auto_file";
const char OpenCommandKey[] = "shell\\open\\command";

void SetDefaultText(HKEY parent, const char *subkey, const char *text)
{
    if (parent) RegSetValueA(parent, subkey, REG_SZ, text, (DWORD)strlen(text));
}

/* "." and the extension, lowered. */
void DottedExtension(const char *extension, size_t length, char *dotted, size_t size)
{
    dotted[0] = '.';
    size_t n = length < size - 2 ? length : size - 2;
    memcpy(dotted + 1, extension, n);
    dotted[n + 1] = 0;
    CharLowerA(dotted);
}

/* The code extension (at most 3 characters) and "file", lowered. */
void FormatClassOf(const char *code, char *formatClass, size_t size)
{
    char lowered[4];
    CopyText(lowered, sizeof lowered, code);
    CharLowerA(lowered);
    CopyText(formatClass, size, lowered);
    strncat(formatClass, "file", size - strlen(formatClass) - 1);
}

/* The command of class key (already open) "shell\open\command", lowered; empty when missing. */
void ReadOpenCommandLower(HKEY classKey, char *command)
{
    ReadDefaultText(classKey, OpenCommandKey, command, CommandSize);
    CharLowerA(command);
}

} // namespace

/******************************************************************
 *      ReadDefaultText
 *
 * A value longer than the buffer, or stored without its terminator, is cut and
 * terminated (TextCut); the caller decides whether a cut text may be used.
 */
int ReadDefaultText(HKEY parent, const char *subkey, char *buffer, size_t size)
{
    buffer[0] = 0;
    HKEY opened = nullptr;
    if (!parent || RegOpenKeyExA(parent, subkey, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return TextMissing;
    q32::KeyHandle key(opened);
    DWORD type = 0, bytes = 0;
    LONG status = RegQueryValueExA(key.get(), nullptr, nullptr, &type, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return TextWhole; /* a key without a default value */
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return TextMissing;
    std::string data(bytes + 1, '\0');
    if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, (BYTE *)&data[0], &bytes) !=
        ERROR_SUCCESS)
        return TextMissing;
    size_t length = strnlen(data.c_str(), bytes);
    CopyText(buffer, size, data.c_str());
    return length < size ? TextWhole : TextCut;
}

/******************************************************************
 *      CanWriteAssociations
 */
bool CanWriteAssociations()
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".jpg", 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

/******************************************************************
 *      IsIconExtension
 */
int IsIconExtension(const char *dottedExtension)
{
    for (const char *icon : {".cur", ".ico", ".ani"})
        if (lstrcmpiA(dottedExtension, icon) == 0) return 1;
    return 0;
}

/******************************************************************
 *      BuildOpenCommand
 */
void BuildOpenCommand(char *buffer)
{
    char path[Q32_MAX_NAME] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    path[sizeof path - 1] = 0;
    FormOpenCommand(path, buffer);
}

/******************************************************************
 *      FormOpenCommand
 *
 * path "%1", with the path in quotes when it holds a blank.
 */
void FormOpenCommand(const char *path, char *buffer)
{
    const char *quote = strchr(path, ' ') ? "\"" : "";
    wsprintfA(buffer, "%s%.259s%s \"%%1\"", quote, path, quote);
}

/******************************************************************
 *      ReadAssociationState
 *
 * A type without a class gets the format class and its description; an icon type always
 * names the format class and counts by its open command; a class the shell made up
 * ("_auto_file") is removed and the type handed to the application or the format class.
 */
int ReadAssociationState(const FormatInfo *info, const char *applicationClass,
                         const char *executablePathLower)
{
    char code[4], dotted[8], formatClass[16];
    CopyText(code, sizeof code, info->code);
    DottedExtension(code, strlen(code), dotted, sizeof dotted);
    FormatClassOf(code, formatClass, sizeof formatClass);

    char value[ClassNameSize];
    if (ReadDefaultText(HKEY_CLASSES_ROOT, dotted, value, sizeof value) == TextMissing) {
        CopyText(value, sizeof value, formatClass);
        SetDefaultText(HKEY_CLASSES_ROOT, dotted, formatClass);
        char description[sizeof info->description + 1];
        CopyText(description, sizeof description, info->description);
        SetDefaultText(HKEY_CLASSES_ROOT, formatClass, description);
    }

    if (IsIconExtension(dotted)) {
        SetDefaultText(HKEY_CLASSES_ROOT, dotted, formatClass);
        HKEY opened = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, formatClass, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                            nullptr, &opened, &disposition) != ERROR_SUCCESS)
            return 0;
        q32::KeyHandle classKey(opened);
        if (disposition == REG_CREATED_NEW_KEY) return 0;
        char command[CommandSize];
        if (ReadDefaultText(classKey.get(), OpenCommandKey, command, sizeof command) == TextMissing)
            return 0;
        CharLowerA(command);
        return strstr(command, executablePathLower) ? 1 : 0;
    }

    if (lstrcmpiA(value, applicationClass) == 0) return 1;

    CharLowerA(value);
    if (!strstr(value, AutoClassMark)) return 0;
    char command[CommandSize] = "";
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, value, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
        q32::KeyHandle classKey(opened);
        ReadOpenCommandLower(classKey.get(), command);
    }
    /* One plain deletion: a class with subkeys stays where the system refuses it. */
    Sys.regDeleteKey(HKEY_CLASSES_ROOT, value);
    bool ours = strstr(command, executablePathLower) != nullptr;
    SetDefaultText(HKEY_CLASSES_ROOT, dotted, ours ? applicationClass : formatClass);
    return ours ? 1 : 0;
}

/******************************************************************
 *      ApplyAssociation
 *
 * The code extension first (it keeps the undo class), then every extension of the
 * format's full list. Both flags clear change nothing but the undo class.
 */
void ApplyAssociation(int format, const char *codeExtension, const char *applicationClass,
                      const char *openCommand, WORD wasAssociated, WORD isAssociated)
{
    char formatClass[16];
    FormatClassOf(codeExtension, formatClass, sizeof formatClass);
    HKEY opened = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, formatClass, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                    &opened, nullptr);
    q32::KeyHandle classKey(opened);

    char list[Q32_FORMAT_EXT_SIZE];
    if (!qfFileGetFormatExt(format, list, 1)) list[0] = 0;

    char undo[ClassNameSize] = "";
    const char *cursor = list;
    const char *extension = codeExtension;
    size_t length = strnlen(codeExtension, 3);
    for (bool first = true; extension; first = false,
              extension = NextToken(&cursor, ";", &length)) {
        char dotted[72];
        DottedExtension(extension, length, dotted, sizeof dotted);
        if (first) {
            std::string undoKey = std::string(dotted) + "\\UndoClass";
            ReadDefaultText(HKEY_CLASSES_ROOT, undoKey.c_str(), undo, sizeof undo);
            char current[ClassNameSize];
            /* A cut class name is no class to give back. */
            if (!undo[0] &&
                ReadDefaultText(HKEY_CLASSES_ROOT, dotted, current, sizeof current) == TextWhole &&
                current[0] && strcmp(current, applicationClass) != 0 &&
                strcmp(current, formatClass) != 0)
                SetDefaultText(HKEY_CLASSES_ROOT, undoKey.c_str(), current);
        }
        bool icon = IsIconExtension(dotted) != 0;
        if (isAssociated) {
            if (icon) {
                SetDefaultText(HKEY_CLASSES_ROOT, dotted, formatClass);
                SetDefaultText(classKey.get(), "DefaultIcon", "%1");
                SetDefaultText(classKey.get(), OpenCommandKey, openCommand);
                if (classKey) {
                    Sys.regDeleteKey(classKey.get(), "shell\\openas\\command");
                    Sys.regDeleteKey(classKey.get(), "shell\\openas");
                }
            } else {
                SetDefaultText(HKEY_CLASSES_ROOT, dotted, applicationClass);
            }
        } else if (wasAssociated) {
            bool giveBack = undo[0] && strcmp(undo, applicationClass) != 0;
            SetDefaultText(HKEY_CLASSES_ROOT, dotted, giveBack ? undo : formatClass);
            if (icon)
                SetDefaultText(classKey.get(), "DefaultIcon", "%1");
            else if (classKey)
                Sys.regDeleteKey(classKey.get(), "DefaultIcon");
            if (classKey) DeleteKeyTree(classKey.get(), "shell");
        }
    }
}

/******************************************************************
 *      DeleteKeyTree
 *
 * Depth first. A subkey that cannot be deleted (no right to) is stepped over instead of
 * being tried for ever; the key itself then stays too.
 */
bool DeleteKeyTree(HKEY parent, const char *name)
{
    if (Sys.regDeleteKey(parent, name) == ERROR_SUCCESS) return true;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS)
        return false;
    {
        q32::KeyHandle key(opened);
        char subkey[Q32_MAX_NAME];
        DWORD index = 0;
        while (RegEnumKeyA(key.get(), index, subkey, sizeof subkey) == ERROR_SUCCESS) {
            subkey[sizeof subkey - 1] = 0;
            if (!DeleteKeyTree(key.get(), subkey)) index++;
        }
    }
    return Sys.regDeleteKey(parent, name) == ERROR_SUCCESS;
}
