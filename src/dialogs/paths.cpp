/* Names the dialogs share: shell links, full paths, trailing backslashes, typed names.
   Names are multi-byte: they are stepped with CharNextA/CharPrevA and the _mbs
   functions, so that a trail byte equal to '\\' is never taken for a separator. */
#include "dialogs.h"
#include <mbstring.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>

namespace {

/* Releases a COM interface when the scope ends. */
template <typename T>
struct ComRef {
    T *p = nullptr;
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() { if (p) p->Release(); }
};

/* True on systems without shell links (3.x up to 3.51). */
bool IsPreShellSystem()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
    return version.dwMajorVersion == 3 && version.dwMinorVersion <= 5;
}

/* Loads the link file name and resolves it; 1 with its target in target and, when
   asked, its arguments and working folder. */
int ResolveShellLink(HWND owner, const char *name, char *target, char *arguments,
                     char *workingDir)
{
    ComRef<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IShellLinkA, reinterpret_cast<void **>(&link.p))))
        return 0;
    ComRef<IPersistFile> file;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file.p))))
        return 0;

    WCHAR wideName[Q32_MAX_NAME];
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, Q32_MAX_NAME)) return 0;
    if (FAILED(file.p->Load(wideName, STGM_READ))) return 0;
    if (FAILED(link.p->Resolve(owner, SLR_ANY_MATCH))) return 0;

    char path[Q32_MAX_NAME] = "";
    WIN32_FIND_DATAA found = {};
    if (link.p->GetPath(path, sizeof path, &found, SLGP_SHORTPATH) != S_OK || !path[0])
        return 0;
    /* A shell that cannot find a moved target may still answer with the old path. */
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 0;
    qfdConvertLongShortPathname(path, target, Q32_MAX_NAME, 0);
    if (arguments && FAILED(link.p->GetArguments(arguments, Q32_MAX_NAME))) arguments[0] = 0;
    if (workingDir && FAILED(link.p->GetWorkingDirectory(workingDir, Q32_MAX_NAME)))
        workingDir[0] = 0;
    return 1;
}

} // namespace

/******************************************************************
 *      q32FileResolveLink  (exported)
 *
 * A shell link gives its target; any other existing name gives itself, in its long
 * form. COM must already be initialised on the calling thread.
 */
extern "C" int Q32FILEAPI q32FileResolveLink(HWND owner, const char *name, char *target,
                                             char *arguments, char *workingDir)
{
    if (!target) return 0;
    target[0] = 0;
    if (!name || !qfIsFileExist(name)) return 0;
    if (IsPreShellSystem()) return 0;

    SHFILEINFOA info = {};
    if (!SHGetFileInfoA(name, 0, &info, sizeof info, SHGFI_ATTRIBUTES)) return 0;
    if (!(info.dwAttributes & SFGAO_LINK)) {
        qfdConvertLongShortPathname(name, target, Q32_MAX_NAME, 0);
        return 1;
    }
    return ResolveShellLink(owner, name, target, arguments, workingDir);
}

/******************************************************************
 *      MakeFullPath
 */
int MakeFullPath(char *fullName, const char *name)
{
    char *filePart = nullptr;
    char full[Q32_MAX_NAME];
    DWORD n = name ? GetFullPathNameA(name, sizeof full, full, &filePart) : 0;
    if (n == 0 || n >= sizeof full) {
        CopyText(fullName, Q32_MAX_NAME, name);
        return 0;
    }
    CopyText(fullName, Q32_MAX_NAME, full);
    return 1;
}

/******************************************************************
 *      AppendBackslash
 */
void AppendBackslash(char *name)
{
    size_t length = strlen(name);
    if (length == 0 || length + 1 >= Q32_MAX_NAME) return;
    if (*CharPrevA(name, name + length) == '\\') return;
    name[length] = '\\';
    name[length + 1] = 0;
}

/******************************************************************
 *      CheckTypedName
 *
 * Each refusal gives 0: an empty or over-long text, a pattern, an unbalanced quote or
 * text after the closing quote, a doubled or mixed separator, a name that names no
 * existing file.
 */
int CheckTypedName(HWND owner, const char *typed, char *resolved)
{
    if (!typed || !*typed || strlen(typed) >= Q32_MAX_NAME) return 0;
    char work[Q32_MAX_NAME];
    CopyText(work, sizeof work, typed);
    unsigned char *text = reinterpret_cast<unsigned char *>(work);

    if (_mbschr(text, '*') || _mbschr(text, '?')) return 0;

    if (work[0] == '"') {
        unsigned char *closing = _mbschr(text + 1, '"');
        if (!closing || closing[1]) return 0;
        *closing = 0;
        memmove(work, work + 1, strlen(work + 1) + 1);
    }

    static const char *const separatorPairs[] = {"\\\\", "//", "\\/", "/\\"};
    for (const char *pair : separatorPairs)
        if (_mbsstr(text, reinterpret_cast<const unsigned char *>(pair))) return 0;

    char name[Q32_MAX_NAME];
    const char *second = work[0] ? CharNextA(work) : work;
    if (*second != ':') MakeFullPath(name, work);
    else CopyText(name, sizeof name, work);

    if (!qfIsFileExist(name)) return 0;
    if (q32FileResolveLink(owner, name, resolved, nullptr, nullptr) != 1)
        CopyText(resolved, Q32_MAX_NAME, name);
    return 1;
}
