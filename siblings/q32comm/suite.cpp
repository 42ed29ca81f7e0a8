/* Suite facts: the shared ini file, the OS class, folders, the processor name.
   Tests steer them with environment variables: Q32_INI (the ini path), Q32_APPDATA
   (the application-data folder) and Q32_OSVERSION (the OS class). */
#include "comm_private.h"
#include <shlobj.h>
#include <cpuid.h>
#include <stdlib.h>
#include <string.h>

namespace {
/* Copies the environment variable into buffer when it is set and fits. */
bool FromEnvironment(const char *name, char *buffer, int size)
{
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value) return false;
    CommCopy(buffer, size, value);
    return true;
}

typedef LONG (WINAPI *RtlGetVersionFn)(OSVERSIONINFOW *);

int ClassifyRunningSystem()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto getVersion = ntdll ? (RtlGetVersionFn)GetProcAddress(ntdll, "RtlGetVersion") : NULL;
    if (!getVersion || getVersion(&info) != 0) return C32_OS_UNKNOWN;

    DWORD major = info.dwMajorVersion, minor = info.dwMinorVersion;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (minor >= 90) return C32_OS_WINME;
        return minor >= 10 ? C32_OS_WIN98 : C32_OS_WIN95;
    }
    if (major < 4) return C32_OS_NT3;
    if (major == 4) return C32_OS_NT4;
    if (major == 5) return minor == 0 ? C32_OS_WIN2000 : C32_OS_WINXP;
    if (major == 6) return minor >= 2 ? C32_OS_WIN8 : C32_OS_VISTA;
    return C32_OS_WIN10;
}
}

/******************************************************************
 *      q32GetOsVersion
 *
 * The class of the running Windows (C32_OS_*); Q32_OSVERSION overrides it.
 */
extern "C" int C32API q32GetOsVersion(void)
{
    char value[16];
    if (FromEnvironment("Q32_OSVERSION", value, sizeof value)) return atoi(value);
    return ClassifyRunningSystem();
}

/******************************************************************
 *      q32GetAppDataFolder
 *
 * The suite's per-user (or all-users) application-data folder, ending in a backslash,
 * created when asked. Q32_APPDATA overrides it.
 */
extern "C" int C32API q32GetAppDataFolder(char *buffer, int size, int create, int perUser)
{
    if (!buffer || size < 1) return 0;
    char folder[MAX_PATH];
    if (!FromEnvironment("Q32_APPDATA", folder, sizeof folder)) {
        if (FAILED(SHGetFolderPathA(NULL, perUser ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA, NULL,
                                    SHGFP_TYPE_CURRENT, folder)))
            GetTempPathA(sizeof folder, folder);
        qfdAddSlash(folder);
        if (strlen(folder) + sizeof "Quill Systems" < sizeof folder)
            strcat(folder, "Quill Systems");
    }
    qfdAddSlash(folder);
    if (create) CreateDirectoryA(folder, NULL);
    return CommCopy(buffer, size, folder);
}

/******************************************************************
 *      q32GetQuillIniFileName
 *
 * Full path of the suite's shared ini file: "quill32.ini" in the application-data folder,
 * or the path that Q32_INI names.
 */
extern "C" int C32API q32GetQuillIniFileName(char *buffer, int size)
{
    if (!buffer || size < 1) return 0;
    char path[MAX_PATH];
    if (FromEnvironment("Q32_INI", path, sizeof path)) return CommCopy(buffer, size, path);
    q32GetAppDataFolder(path, sizeof path, 1, 1);
    if (strlen(path) + sizeof "quill32.ini" <= sizeof path) strcat(path, "quill32.ini");
    return CommCopy(buffer, size, path);
}

/******************************************************************
 *      GetCPUName
 *
 * The processor's brand string (CPUID 0x80000002..4), blanks trimmed.
 */
extern "C" int C32API GetCPUName(char *buffer, int size)
{
    if (!buffer || size < 1) return 0;
    unsigned int regs[12] = {};
    unsigned int top = __get_cpuid_max(0x80000000, NULL);
    if (top < 0x80000004) return CommCopy(buffer, size, "Unknown processor");
    for (unsigned int i = 0; i < 3; i++)
        __get_cpuid(0x80000002 + i, &regs[4 * i], &regs[4 * i + 1], &regs[4 * i + 2], &regs[4 * i + 3]);
    char name[49];
    memcpy(name, regs, 48);
    name[48] = 0;
    qfdRemoveBlanks(name);
    return CommCopy(buffer, size, name);
}
