/*
 * Format plug-in registry: the FormatTable and what its users share.
 */
#ifndef Q32_REGISTRY_H
#define Q32_REGISTRY_H

#include "../core/core.h"
#include "q32fio.h"

enum {
    TableCapacity = 50,     /* header value; the table holds at most capacity - 1 */
    TableSlots = 51,        /* records allocated */
    EntrySlots = 12
};

/* One registered format. */
struct FormatRecord {
    FormatInfo info;
    char pluginName[16];        /* ".fio" file name, short name where there is one */
    UINT ordinalBase;           /* 100 x the format's index within its plug-in */
    char extensions[64];        /* CODE_EXT list, ';'-terminated tokens */
    char userExtensions[64];    /* CODE_USER list */
    int extensionCount;
    int userCount;
    HMODULE module;             /* non-null once the entries are bound */
    FARPROC entries[EntrySlots];
};

struct FormatTable {
    LONG refCount;
    LONG capacity;
    LONG count;
    FormatRecord records[TableSlots];
};

/* Writes the six fixed extension lists into section FIO_EXT (at attach). */
void WriteDefaultExtensions();
/* Frees every bound plug-in module (at detach). */
void UnloadPlugins();
/* Frees the cached filter lists (at detach). */
void FreeCachedFilterLists();

#endif
