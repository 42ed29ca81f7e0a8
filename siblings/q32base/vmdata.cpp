/* Image-buffer settings: the work folders and the memory and disk limits, kept in the
   library's own ini file. */
#include "q32base.h"
#include "q32comm.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char Section[] = "VirtualMemory";

/* "q32base.ini" in the application-data folder, or the file Q32BASE_INI names. */
bool SettingsFile(char *path, size_t size)
{
    DWORD n = GetEnvironmentVariableA("Q32BASE_INI", path, (DWORD)size);
    if (n > 0 && n < size) return true;
    char folder[MAX_PATH];
    if (!q32GetAppDataFolder(folder, sizeof folder, 1, 1)) return false;
    return snprintf(path, size, "%sq32base.ini", folder) < (int)size;
}

LONG ReadNumber(const char *file, const char *key, LONG fallback)
{
    char text[32];
    GetPrivateProfileStringA(Section, key, "", text, sizeof text, file);
    char *end;
    long long value = strtoll(text, &end, 10);
    if (end == text) return fallback;
    return (LONG)(DWORD)value; /* "-1" and "4294967295" are the same 32 bits */
}

bool WriteNumber(const char *file, const char *key, LONG value)
{
    char text[16];
    snprintf(text, sizeof text, "%ld", (long)value);
    return WritePrivateProfileStringA(Section, key, text, file) != 0;
}

/* Copies at most size - 1 bytes and terminates (src need not be terminated). */
void CopyBounded(char *dst, size_t size, const char *src)
{
    size_t n = 0;
    while (n + 1 < size && src[n]) { dst[n] = src[n]; n++; }
    dst[n] = 0;
}

void ReadSettings(const char *file, B32MEMBLOCK *memory, LONG *field1, B32VMBLOCK *vm,
                  DWORD *field2, DWORD *field3)
{
    if (vm) {
        DWORD n = GetTempPathA(sizeof vm->systemFolder, vm->systemFolder);
        if (n == 0 || n >= sizeof vm->systemFolder) vm->systemFolder[0] = 0;
        for (int i = 0; i < 3; i++) {
            char key[16];
            snprintf(key, sizeof key, "Folder%d", i + 1);
            GetPrivateProfileStringA(Section, key, "", vm->folders[i], sizeof vm->folders[i], file);
            snprintf(key, sizeof key, "UseFolder%d", i + 1);
            vm->useFolder[i] = ReadNumber(file, key, 0) != 0;
        }
        vm->useSystemFolder = ReadNumber(file, "UseTempFolder", 1) != 0;
    }
    if (memory) memory->memoryLimit = ReadNumber(file, "MemoryLimit", -1);
    if (field1) *field1 = ReadNumber(file, "DiskLimit", -1);
    if (field2) *field2 = ReadNumber(file, "UseMemoryLimit", 0) != 0;
    if (field3) *field3 = ReadNumber(file, "UseDiskLimit", 0) != 0;
}

bool WriteSettings(const char *file, const B32MEMBLOCK *memory, const LONG *field1,
                   const B32VMBLOCK *vm, const DWORD *field2, const DWORD *field3)
{
    bool ok = true;
    if (vm) {
        for (int i = 0; i < 3; i++) {
            char key[16], folder[260];
            CopyBounded(folder, sizeof folder, vm->folders[i]);
            snprintf(key, sizeof key, "Folder%d", i + 1);
            ok &= WritePrivateProfileStringA(Section, key, folder, file) != 0;
            snprintf(key, sizeof key, "UseFolder%d", i + 1);
            ok &= WriteNumber(file, key, vm->useFolder[i] != 0);
        }
        ok &= WriteNumber(file, "UseTempFolder", vm->useSystemFolder != 0);
    }
    if (memory) ok &= WriteNumber(file, "MemoryLimit", memory->memoryLimit);
    if (field1) ok &= WriteNumber(file, "DiskLimit", *field1);
    if (field2) ok &= WriteNumber(file, "UseMemoryLimit", *field2 != 0);
    if (field3) ok &= WriteNumber(file, "UseDiskLimit", *field3 != 0);
    return ok;
}

} // namespace

/******************************************************************
 *      buf32VMData
 *
 * The ini file is read at every call, so every process of the suite sees the settings
 * that were stored last.
 */
extern "C" int B32API buf32VMData(int mode, B32MEMBLOCK *memory, LONG *field1, B32VMBLOCK *vm,
                                  DWORD *field2, DWORD *field3)
{
    if (mode != 0 && mode != 1) return 0;
    char file[MAX_PATH];
    if (!SettingsFile(file, sizeof file)) return 0;
    if (mode == 0) {
        ReadSettings(file, memory, field1, vm, field2, field3);
        return 1;
    }
    return WriteSettings(file, memory, field1, vm, field2, field3) ? 1 : 0;
}
