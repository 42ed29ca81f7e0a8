/* The module's entry point, attach and detach: the one place that calls every subsystem. */
#include "module.h"
#include "core/core.h"
#include "registry/registry.h"
#include "controls/palctl.h"
#include "prefs/prefs.h"
#include "assoc/assoc.h"

namespace {
bool LockCreated;
}

/******************************************************************
 *      ProcessAttach
 *
 * Sets up the shared state in a fixed order; a failing step ends the attach with FALSE
 * and the later steps do not run. Nothing is discovered here.
 */
BOOL ProcessAttach(HINSTANCE instance)
{
    RegisterPreferencePage(PREF_PAGE_ASSOC, AssociationTemplate, AssociationPageProc);
    OwnModule = instance;
    ResourceModule = LoadLibraryA("DLGRC.DLL");
    q32GetQuillIniFileName(SuiteIniPath, sizeof SuiteIniPath);
    if (!CreateFormatTable()) return FALSE;
    RegisterPalettePreviewClass(ResourceModule);
    if (!ProbeMemory(512000)) return FALSE;
    InitializeCriticalSection(&ModuleLock);
    LockCreated = true;
    return TRUE;
}

/******************************************************************
 *      ProcessDetach
 *
 * Releases what the attach created, and only that: an attach that failed part-way
 * leaves null handles behind, which are skipped.
 */
void ProcessDetach()
{
    FreeCachedFilterLists();
    ReleaseFormatTable();
    if (LockCreated) {
        DeleteCriticalSection(&ModuleLock);
        LockCreated = false;
    }
    UnregisterPalettePreviewClass();
    if (ResourceModule) {
        FreeLibrary(ResourceModule);
        ResourceModule = nullptr;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH: return ProcessAttach(instance);
    case DLL_PROCESS_DETACH: ProcessDetach(); return TRUE;
    default: return TRUE;
    }
}
