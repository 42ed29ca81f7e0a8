/*
 * Format plug-in registry: the FormatTable and what its users share.
 */
#ifndef Q32_REGISTRY_H
#define Q32_REGISTRY_H

#include "../core/core.h"
#include "q32fio.h"
#include <stdint.h>
#include <string>

enum {
    TableCapacity = 50,     /* header value; the table holds at most capacity - 1 */
    TableSlots = 51,        /* records allocated */
    EntrySlots = 12
};

/* One registered format. */
/* The registry's operations, as their errors name them. OpGetFormatExt also names the
   plug-in scan's records. */
constexpr ErrorOperation OpGetFormatId = Operation(1), OpGetFormatExt = Operation(2),
    OpGetFormatInfo = Operation(3), OpGetFullPath = Operation(12),
    OpLoadPlugin = Operation(15), OpDiscover = Operation(27), OpLoadFio = Operation(28);

struct FormatRecord {
    FormatInfo info;
    char pluginName[16];        /* ".fio" file name, short name where there is one */
    UINT ordinalBase;           /* 100 x the format's index within its plug-in */
    char extensions[64];        /* CODE_EXT list, ';'-terminated tokens */
    char userExtensions[64];    /* CODE_USER list */
    int extensionCount;
    int userCount;
    HMODULE module;             /* non-null once the entries are bound */
    FARPROC entries[EntrySlots];/* in EntrySlotOffsets order; null: not exported */
};

struct FormatTable {
    LONG refCount;
    LONG capacity;
    LONG count;
    FormatRecord records[TableSlots];
};

#if !defined(_WIN64)
static_assert(offsetof(FormatRecord, pluginName) == 112, "FormatRecord.pluginName");
static_assert(offsetof(FormatRecord, ordinalBase) == 128, "FormatRecord.ordinalBase");
static_assert(offsetof(FormatRecord, extensions) == 132, "FormatRecord.extensions");
static_assert(offsetof(FormatRecord, userExtensions) == 196, "FormatRecord.userExtensions");
static_assert(offsetof(FormatRecord, extensionCount) == 260, "FormatRecord.extensionCount");
static_assert(offsetof(FormatRecord, userCount) == 264, "FormatRecord.userCount");
static_assert(offsetof(FormatRecord, module) == 268, "FormatRecord.module");
static_assert(offsetof(FormatRecord, entries) == 272, "FormatRecord.entries");
static_assert(sizeof(FormatRecord) == 320, "FormatRecord is 320 bytes");
static_assert(offsetof(FormatTable, records) == 12, "FormatTable.records");
#endif

/* The process's FormatTable (made at attach, freed at detach) and its block. */
extern FormatTable *Formats;
extern HGLOBAL FormatsBlock;
/* The two filter lists kept for the life of the process (selection flags 0x20000000
   and 0x20000080); built by their first user. */
extern HGLOBAL CachedFilterLists[2];

/* The attach's table part: the empty FormatTable, the default extension lists, the
   plug-in and load folders; FALSE (error recorded) when the table cannot be made. */
BOOL CreateFormatTable();
/* The detach's table part: the plug-ins unloaded and the table freed. */
void ReleaseFormatTable();

/* Entry offsets in the order of FormatRecord.entries. */
extern const int EntrySlotOffsets[EntrySlots];

/* The plug-in folder with a trailing backslash, set by discovery: the base of every full
   plug-in path. */
extern char DiscoveryFolder[Q32_MAX_NAME];

/* Holds ModuleLock for its lifetime. */
class ModuleLockScope {
public:
    ModuleLockScope() { EnterCriticalSection(&ModuleLock); }
    ~ModuleLockScope() { LeaveCriticalSection(&ModuleLock); }
    ModuleLockScope(const ModuleLockScope &) = delete;
    ModuleLockScope &operator=(const ModuleLockScope &) = delete;
};

/* ---- Table (table.cpp) ---- */

/* Copies record into the table in code order; duplicates and the 50th format are
   dropped silently. */
void AddFormatRecord(FormatTable *table, const FormatRecord &record);
/* Record of format number (1-based), or null when it names no record. */
FormatRecord *FormatByNumber(int format);
/* True when the table holds formats, running discovery first when it is empty. */
bool FormatsDiscovered();

/* ---- Discovery (discovery.cpp) ---- */

class ExtensionSettings;

/* The cache data of Q32FILE.CFG in memory (cache_image.h): a fixed global block of
   capacity bytes of which length are in use; data null when there is no cache. */
struct CacheImage {
    q32::GlobalHandle block;
    uint8_t *data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
};

/* Examines one plug-in file of DiscoveryFolder: -1 when memory ran out, else 0 or 1. */
int ScanPlugin(const char *name, CacheImage *cache, bool *dirty,
               const ExtensionSettings &settings);

/* ---- Plug-in interface (plugins.cpp) ---- */

/* Loads a plug-in with folder as the current directory; null (4029 recorded, naming the
   file and the system's reason) when it cannot be loaded. */
HMODULE LoadPluginModule(const char *folder, const char *fileName);
/* Records id at site, the text followed by the plug-in's file name and the system's text
   of reason (none for 0). */
void RecordPluginFailure(UINT id, ErrorSite site, const char *fileName, DWORD reason);
/* The plug-in's export of ordinal (base + offset) mod 65536, or null. */
FARPROC PluginExport(HMODULE plugin, UINT base, int offset);
int BindPlugin(int format);
FARPROC FindEntry(int format, int offset);
/* Frees every bound plug-in module (at detach). */
void UnloadPlugins();

/* ---- Extension settings (extensions.cpp) ---- */

/* Section FIO_EXT of the suite ini file, read once: the lookups of one discovery or one
   reload then cost no file access each. */
class ExtensionSettings {
public:
    ExtensionSettings();
    /* The value of key, cut to size - 1 characters; 0 when the key is missing or empty. */
    size_t Read(const char *key, char *value, size_t size) const;

private:
    q32::GlobalHandle block_;   /* "key=value" lines, each NUL-terminated; null: read */
    const char *lines_ = nullptr; /* each key from the file instead */
};

/* Writes the six fixed extension lists into section FIO_EXT (at attach). */
void WriteDefaultExtensions();
/* Fills record's two lists and their token counts from keys CODE_EXT and CODE_USER;
   1 when either was found. */
int ReadExtensionSettings(const ExtensionSettings &settings, const char *code,
                          FormatRecord &record);
/* Re-reads every record's user list; 1 when any format has one. */
int ReloadUserExtensions();
/* Number of non-empty tokens of list between delimiter characters. */
int CountTokens(const char *list, const char *delimiters);
/* Next non-empty token of *cursor (advanced past it), its length in *length; null at the
   end. The text is not changed. */
const char *NextToken(const char **cursor, const char *delimiters, size_t *length);

/* ---- Queries (queries.cpp) ---- */

/* 1 when extension equals one of the ';'-separated tokens of list (case ignored). */
int MatchExtensionList(const char *extension, const char *list);
/* Two counted texts equal without regard to case (as lstrcmpiA compares). */
bool SameTextNoCase(const char *a, size_t aLength, const char *b, size_t bLength);

/* ---- Filter lists (filters.cpp) ---- */

/* Frees the cached filter lists (at detach). */
void FreeCachedFilterLists();
/* Brings the six leading patterns to the front of an all-formats pattern (in place). */
void BringPatternsForward(std::string &allPattern);

#endif
