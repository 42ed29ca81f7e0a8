/* The module's entry point. */
#include "core.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH: return ProcessAttach(instance);
    case DLL_PROCESS_DETACH: ProcessDetach(); return TRUE;
    default: return TRUE;
    }
}
