/* The plug-in interface: loading, binding and unloading plug-in modules. */
#include "registry.h"

/******************************************************************
 *      UnloadPlugins
 *
 * Frees the module of every bound format. Called once, at detach.
 */
void UnloadPlugins()
{
    for (LONG i = 0; i < Formats->count; i++) {
        FormatRecord &record = Formats->records[i];
        if (record.module) FreeLibrary(record.module);
        record.module = nullptr;
    }
}
