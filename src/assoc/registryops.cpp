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

namespace {

/* The class a type named before the module re-points it, kept once as its undo class so that
   a removal gives it back. The application's and the format's own class are not kept, nor a
   class name cut by the buffer. */
void KeepUndoClass(const char *dotted, const char *current, const char *applicationClass,
                   const char *formatClass)
{
    std::string undoKey = std::string(dotted) + "\\UndoClass";
    char undo[ClassNameSize];
    if (ReadDefaultText(HKEY_CLASSES_ROOT, undoKey.c_str(), undo, sizeof undo) != TextMissing &&
        undo[0])
        return;
    if (current[0] && strcmp(current, applicationClass) != 0 && strcmp(current, formatClass) != 0)
        SetDefaultText(HKEY_CLASSES_ROOT, undoKey.c_str(), current);
}

/* The names a format's code extension goes by. */
struct TypeNames {
    char code[4], dotted[8], formatClass[16];
    explicit TypeNames(const FormatInfo *info)
    {
        CopyText(code, sizeof code, info->code);
        DottedExtension(code, strlen(code), dotted, sizeof dotted);
        FormatClassOf(code, formatClass, sizeof formatClass);
    }
};

/* The open command of a made-up class, lowered; empty when it has none. */
void MadeUpClassCommand(const char *madeUpClass, char *command)
{
    command[0] = 0;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, madeUpClass, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
        q32::KeyHandle classKey(opened);
        ReadOpenCommandLower(classKey.get(), command);
    }
}

/* Deletes classKey\subkey when its default value is ownValue (case ignored), then each
   parent up to classKey that is left with neither values nor subkeys. What another program
   keeps there stays. */
void RemoveOwnValue(HKEY classKey, const char *subkey, const char *ownValue)
{
    if (!classKey) return;
    char value[CommandSize];
    if (ReadDefaultText(classKey, subkey, value, sizeof value) != TextWhole ||
        lstrcmpiA(value, ownValue) != 0)
        return;
    std::string path = subkey;
    for (;;) {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(classKey, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
        DWORD subkeys = 0, values = 0;
        LONG status = RegQueryInfoKeyA(opened, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                       nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(opened);
        bool onlyOurs = path == subkey ? subkeys == 0 && values <= 1 : subkeys == 0 && values == 0;
        if (status != ERROR_SUCCESS || !onlyOurs) return;
        if (Sys.regDeleteKey(classKey, path.c_str()) != ERROR_SUCCESS) return;
        size_t cut = path.rfind('\\');
        if (cut == std::string::npos) return;
        path.resize(cut);
    }
}

} // namespace

/******************************************************************
 *      ReadAssociationState
 *
 * Reads only. A type without a class counts as naming its format class; an icon type counts
 * by its format class's open command; a class the shell made up ("_auto_file") counts by
 * the program its command runs.
 */
int ReadAssociationState(const FormatInfo *info, const char *applicationClass,
                         const char *executablePathLower)
{
    TypeNames names(info);
    char value[ClassNameSize];
    if (ReadDefaultText(HKEY_CLASSES_ROOT, names.dotted, value, sizeof value) == TextMissing)
        CopyText(value, sizeof value, names.formatClass);

    if (IsIconExtension(names.dotted)) {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, names.formatClass, 0, KEY_READ, &opened) !=
            ERROR_SUCCESS)
            return 0;
        q32::KeyHandle classKey(opened);
        char command[CommandSize];
        if (ReadDefaultText(classKey.get(), OpenCommandKey, command, sizeof command) == TextMissing)
            return 0;
        CharLowerA(command);
        return strstr(command, executablePathLower) ? 1 : 0;
    }

    if (lstrcmpiA(value, applicationClass) == 0) return 1;
    CharLowerA(value);
    if (!strstr(value, AutoClassMark)) return 0;
    char command[CommandSize];
    MadeUpClassCommand(value, command);
    return command[0] && strstr(command, executablePathLower) ? 1 : 0;
}

/******************************************************************
 *      TidyAssociation
 *
 * The writes that go with a format's state, made when the user applies: a type without a
 * class gets the format class and its description; an icon type names the format class; a
 * made-up class running this executable is replaced by the application class and removed,
 * one running another program by the format class. A class replaced here is first kept as
 * the type's undo class, and then left in place.
 */
void TidyAssociation(const FormatInfo *info, const char *applicationClass,
                     const char *executablePathLower)
{
    TypeNames names(info);
    char value[ClassNameSize];
    int found = ReadDefaultText(HKEY_CLASSES_ROOT, names.dotted, value, sizeof value);
    if (found == TextMissing) {
        CopyText(value, sizeof value, names.formatClass);
        SetDefaultText(HKEY_CLASSES_ROOT, names.dotted, names.formatClass);
        char description[sizeof info->description + 1];
        CopyText(description, sizeof description, info->description);
        SetDefaultText(HKEY_CLASSES_ROOT, names.formatClass, description);
    }
    /* A cut class name is neither kept nor replaced. */
    if (found == TextCut) return;

    if (IsIconExtension(names.dotted)) {
        if (lstrcmpiA(value, names.formatClass) != 0) {
            KeepUndoClass(names.dotted, value, applicationClass, names.formatClass);
            SetDefaultText(HKEY_CLASSES_ROOT, names.dotted, names.formatClass);
        }
        HKEY opened = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, names.formatClass, 0, nullptr, 0, KEY_READ,
                            nullptr, &opened, nullptr) == ERROR_SUCCESS)
            RegCloseKey(opened);
        return;
    }

    if (lstrcmpiA(value, applicationClass) == 0) return;
    char lowered[ClassNameSize];
    CopyText(lowered, sizeof lowered, value);
    CharLowerA(lowered);
    if (!strstr(lowered, AutoClassMark)) return;
    char command[CommandSize];
    MadeUpClassCommand(lowered, command);
    if (command[0] && strstr(command, executablePathLower)) {
        SetDefaultText(HKEY_CLASSES_ROOT, names.dotted, applicationClass);
        /* One plain deletion: a class with subkeys stays where the system refuses it. */
        Sys.regDeleteKey(HKEY_CLASSES_ROOT, lowered);
    } else {
        KeepUndoClass(names.dotted, value, applicationClass, names.formatClass);
        SetDefaultText(HKEY_CLASSES_ROOT, names.dotted, names.formatClass);
    }
}

/******************************************************************
 *      ApplyAssociation
 *
 * The code extension first, then every extension of the format's full list. Registering
 * keeps each extension's class as its undo class (once); removing gives each extension its
 * own undo class, else the code extension's, else the format class, and takes from the
 * format class only what registering wrote there. Both flags clear change nothing but the
 * code extension's undo class.
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

    char firstUndo[ClassNameSize] = "";
    const char *cursor = list;
    const char *extension = codeExtension;
    size_t length = strnlen(codeExtension, 3);
    for (bool first = true; extension; first = false,
              extension = NextToken(&cursor, ";", &length)) {
        char dotted[72];
        DottedExtension(extension, length, dotted, sizeof dotted);
        bool icon = IsIconExtension(dotted) != 0;
        char current[ClassNameSize];
        bool whole = ReadDefaultText(HKEY_CLASSES_ROOT, dotted, current, sizeof current) == TextWhole;
        if (whole && (first || (isAssociated && !icon)))
            KeepUndoClass(dotted, current, applicationClass, formatClass);
        std::string undoKey = std::string(dotted) + "\\UndoClass";
        char undo[ClassNameSize];
        ReadDefaultText(HKEY_CLASSES_ROOT, undoKey.c_str(), undo, sizeof undo);
        if (first) CopyText(firstUndo, sizeof firstUndo, undo);

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
            const char *giveBack = formatClass;
            if (undo[0] && strcmp(undo, applicationClass) != 0) giveBack = undo;
            else if (firstUndo[0] && strcmp(firstUndo, applicationClass) != 0) giveBack = firstUndo;
            SetDefaultText(HKEY_CLASSES_ROOT, dotted, giveBack);
            if (icon) SetDefaultText(classKey.get(), "DefaultIcon", "%1");
            else RemoveOwnValue(classKey.get(), "DefaultIcon", "%1");
            RemoveOwnValue(classKey.get(), OpenCommandKey, openCommand);
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
