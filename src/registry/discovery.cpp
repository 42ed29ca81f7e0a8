/* Plug-in discovery and the format cache file "Q32FILE.CFG". */
#include "registry.h"
#include "cache_image.h"
#include <string.h>

char DiscoveryFolder[Q32_MAX_NAME];

namespace {
const char PluginPattern[] = "*.fio";
/* The work file of a cache rewrite, renamed over the cache once it is complete. */
const char CacheWorkName[] = "Q32FILE.$$$";
/* Plug-ins whose name holds this are loaded at every start, on some systems only. */
const char SpecialMark[] = "GFF";

/* Shows the wait cursor for its lifetime. */
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    HCURSOR previous_;
};

/* Size and last-write stamp of a plug-in file, as its cache entry holds them. */
struct PluginFacts {
    bool opened = false;
    DWORD stamp = 0;
    DWORD size = 0;
};

/* folder + name into path; false (path empty) when it does not fit. */
bool JoinPath(char (&path)[Q32_MAX_NAME], const char *folder, const char *name)
{
    size_t a = strlen(folder), b = strlen(name);
    path[0] = 0;
    if (a + b >= sizeof path) return false;
    memcpy(path, folder, a);
    memcpy(path + a, name, b + 1);
    return true;
}

PluginFacts ReadPluginFacts(const char *name)
{
    PluginFacts facts;
    char path[Q32_MAX_NAME];
    if (!JoinPath(path, DiscoveryFolder, name)) return facts;
    q32::FileHandle file(Sys.createFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME written;
    if (!file || !GetFileTime(file.get(), nullptr, nullptr, &written)) return facts;
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&written, &date, &time);
    facts.stamp = MAKELONG(time, date);
    facts.size = GetFileSize(file.get(), nullptr);
    facts.opened = true;
    return facts;
}

/* The special plug-ins are considered only on these OS classes. */
bool SpecialPluginsAllowed()
{
    int os = q32GetOsVersion();
    return os == 2 || os == 5 || os == 7;
}

/* Makes a text field of a plug-in's FormatInfo end inside the field. */
template <size_t N>
void TerminateField(char (&field)[N])
{
    if (!memchr(field, 0, N)) field[N - 1] = 0;
}

/* Builds the record of one format and offers it to the table. */
void RegisterFormat(const FormatInfo &info, const char *name, UINT ordinalBase,
                    const ExtensionSettings &settings)
{
    FormatRecord record = {};
    record.info = info;
    TerminateField(record.info.code);
    TerminateField(record.info.description);
    CharUpperA(record.info.code);
    record.ordinalBase = ordinalBase;
    CopyText(record.pluginName, sizeof record.pluginName, name);
    ReadExtensionSettings(settings, record.info.code, record);
    AddFormatRecord(Formats, record);
}

/* Registers the formats of the unchanged plug-in whose first entry is at index. The
   image passed CheckCacheImage: the plug-in's format count of entries follow. */
void RegisterFromCache(const char *name, const CacheImage &cache, unsigned index,
                       const ExtensionSettings &settings)
{
    int n = GetCacheEntry(cache.data, index).formatCount;
    for (int j = 0; j < n; j++)
        RegisterFormat(GetCacheEntry(cache.data, index + j).info, name, QF_ORDINAL_STEP * j,
                       settings);
}

/* Makes room for one more entry: a new block, the image copied over. */
bool GrowCache(CacheImage &cache)
{
    size_t wanted = (cache.data ? cache.length : CacheImageLength(0)) + sizeof(PluginCacheEntry);
    if (wanted <= cache.capacity) return true;
    q32::GlobalHandle block(Sys.globalAlloc(GPTR, wanted));
    if (!block) return false;
    uint8_t *data = static_cast<uint8_t *>(block.get());
    if (cache.data) memcpy(data, cache.data, cache.length);
    else cache.length = InitCacheImage(data);
    cache.block = std::move(block);
    cache.data = data;
    cache.capacity = wanted;
    return true;
}

/* Where the cache stands with the plug-in being loaded. */
struct PluginScan {
    const char *name;
    PluginFacts facts;
    int formatCount;
    bool replaced = false;  /* its old entries are gone, its new ones going in */
    bool uncached = false;  /* the cache is full: the plug-in is left out of it */
};

/* Enters format info of a freshly loaded plug-in into the cache; the plug-in's old
   entries go at its first format. -1: out of memory. */
int EnterIntoCache(CacheImage &cache, bool &dirty, PluginScan &scan, const FormatInfo &info)
{
    dirty = true;
    bool hadCache = cache.data != nullptr;
    if (hadCache && !scan.replaced)
        cache.length = RemoveCacheEntries(cache.data, cache.length, scan.name);
    scan.replaced = true;
    if (scan.uncached) return 0;
    if (hadCache && CacheEntryCount(cache.data) >= MaxCacheEntries) {
        cache.length = RemoveCacheEntries(cache.data, cache.length, scan.name);
        scan.uncached = true;
        return 0;
    }
    if (!GrowCache(cache)) {
        RecordError(nullptr, OpGetFormatExt.At(hadCache ? 6 : 5), ErrNoMemory);
        return -1;
    }
    PluginCacheEntry entry = {};
    CopyText(entry.name, sizeof entry.name, scan.name);
    entry.stamp = scan.facts.stamp;
    entry.size = scan.facts.size;
    entry.formatCount = scan.formatCount;
    entry.info = info;
    entry.info.runtimeValue = 0;
    cache.length = InsertCacheEntry(cache.data, cache.length, entry);
    return 0;
}

/* A scan that stopped after format count: the cache keeps the formats it entered, under
   that count, so that it reads back exactly those. */
void StopScan(CacheImage *cache, const PluginScan &scan, int count)
{
    if (cache && cache->data && scan.replaced && !scan.uncached)
        SetCacheFormatCount(cache->data, scan.name, count);
}

/* Copies the FormatInfo out of a plug-in's block (a short block is zero-padded) and frees
   the block. False when the block cannot be read. */
bool TakeFormatInfo(HGLOBAL block, FormatInfo &info)
{
    q32::GlobalHandle owned(block);
    q32::Locked<BYTE> bytes(block);
    if (!bytes) return false;
    SIZE_T size = GlobalSize(block);
    info = FormatInfo{};
    memcpy(&info, bytes.get(), size < sizeof info ? size : sizeof info);
    return true;
}

/* Loads the plug-in and asks it for its formats, and enters them into the cache (which
   is null for a plug-in that is never cached). */
int LoadAndRegister(const char *name, const PluginFacts &facts, CacheImage *cache, bool &dirty,
                    const ExtensionSettings &settings)
{
    q32::ModuleHandle plugin(LoadPluginModule(PluginLoadFolder, name));
    if (!plugin) return 0;
    auto formatCount = reinterpret_cast<PFN_qfDLLGetFileFmtNum>(
        GetProcAddress(plugin.get(), QF_NAME_GETFILEFMTNUM));
    if (!formatCount) return 0;
    int n = formatCount();
    if (n <= 0) {
        plugin.reset();
        RecordPluginFailure(ErrNoFormat, OpGetFormatExt.At(2), name, 0);
        return 0;
    }
    PluginScan scan;
    scan.name = name;
    scan.facts = facts;
    scan.formatCount = n;
    for (int j = 0; j < n; j++) {
        UINT base = QF_ORDINAL_STEP * (UINT)j;
        auto formatInfo = reinterpret_cast<PFN_qfDLLGetFormatInfo>(
            PluginExport(plugin.get(), base, QF_ENTRY_GETFORMATINFO));
        if (!formatInfo) {
            plugin.reset();
            RecordPluginFailure(ErrNoFormat, OpGetFormatExt.At(4), name, 0);
            StopScan(cache, scan, j);
            return 1;
        }
        FormatInfo info;
        HGLOBAL block = formatInfo();
        if (!block || !TakeFormatInfo(block, info)) {
            StopScan(cache, scan, j);
            return 1;
        }
        RegisterFormat(info, name, base, settings);
        if (cache && EnterIntoCache(*cache, dirty, scan, info) < 0) return -1;
    }
    return 0;
}

/* Where the cache file lives: the suite's application-data folder on newer systems, else
   the module's own folder (upper case). False when no usable folder is known. */
bool CacheFolder(char (&folder)[Q32_MAX_NAME])
{
    folder[0] = 0;
    if (q32GetOsVersion() >= 6) {
        q32GetAppDataFolder(folder, sizeof folder, 1, 1);
        return folder[0] != 0;
    }
    char module[Q32_MAX_NAME];
    DWORD n = GetModuleFileNameA(OwnModule, module, sizeof module);
    if (n == 0 || n >= sizeof module) return false;
    char *namePart = nullptr;
    n = GetFullPathNameA(module, sizeof folder, folder, &namePart);
    if (n == 0 || n >= sizeof folder || !namePart) return false;
    *namePart = 0;
    CharUpperA(folder);
    return true;
}

/* Reads and checks the cache file into cache. A file that is too short for the magic or
   has another magic is deleted; one that fails the checks is left for the rewrite. */
void LoadCacheFile(const char *path, CacheImage &cache)
{
    if (!qfIsFileExist(path)) return;
    q32::FileHandle file(Sys.createFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file) return;
    char magic[QFCACHE_MAGIC_SIZE];
    DWORD got = 0;
    if (!ReadFile(file.get(), magic, sizeof magic, &got, nullptr) || got < sizeof magic ||
        memcmp(magic, QFCACHE_MAGIC, sizeof magic) != 0) {
        file.reset();
        DeleteFileA(path);
        return;
    }
    DWORD high = 0, size = GetFileSize(file.get(), &high);
    size_t length = size - sizeof magic;
    if (size != INVALID_FILE_SIZE && high == 0 && length != 0 &&
        length <= CacheImageLength(MaxCacheEntries)) {
        q32::GlobalHandle block(Sys.globalAlloc(GPTR, length));
        uint8_t *data = static_cast<uint8_t *>(block.get());
        if (data && ReadFile(file.get(), data, (DWORD)length, &got, nullptr) && got == length &&
            CheckCacheImage(data, length)) {
            cache.block = std::move(block);
            cache.data = data;
            cache.length = cache.capacity = length;
        }
    }
    file.reset();
    SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN);
}

bool WriteAll(HANDLE file, const void *data, size_t length)
{
    DWORD written = 0;
    return Sys.writeFile(file, data, (DWORD)length, &written, nullptr) && written == length;
}

/* Writes the cache to a work file beside it and renames that over the cache file, so
   that a write cut short never leaves a cache file behind. A file that cannot be written
   is skipped without an error. */
void WriteCacheFile(const char *folder, CacheImage &cache)
{
    char path[Q32_MAX_NAME], work[Q32_MAX_NAME];
    if (!JoinPath(path, folder, QFCACHE_FILE_NAME) || !JoinPath(work, folder, CacheWorkName))
        return;
    SealCacheImage(cache.data, cache.length);
    {
        q32::FileHandle file(Sys.createFile(work, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        if (!WriteAll(file.get(), QFCACHE_MAGIC, QFCACHE_MAGIC_SIZE) ||
            !WriteAll(file.get(), cache.data, cache.length) || !FlushFileBuffers(file.get())) {
            file.reset();
            DeleteFileA(work);
            return;
        }
    }
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!Sys.moveFileEx(work, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(work);
    SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN);
}

/* Finds the first plug-in file of DiscoveryFolder, asking twice. */
q32::FindHandle FindFirstPlugin(WIN32_FIND_DATAA &found)
{
    char pattern[Q32_MAX_NAME];
    if (!JoinPath(pattern, DiscoveryFolder, PluginPattern)) return q32::FindHandle();
    for (int attempt = 0; attempt < 2; attempt++) {
        found = WIN32_FIND_DATAA{};
        q32::FindHandle search(FindFirstFileA(pattern, &found));
        if (search) return search;
    }
    return q32::FindHandle();
}
}

/******************************************************************
 *      PluginExport
 *
 * The export of ordinal (base + offset) mod 65536, null when missing (and for ordinal 0,
 * which names no export).
 */
FARPROC PluginExport(HMODULE plugin, UINT base, int offset)
{
    UINT ordinal = (base + (UINT)offset) & 0xFFFF;
    if (!plugin || !ordinal) return nullptr;
    return GetProcAddress(plugin, MAKEINTRESOURCEA(ordinal));
}

/******************************************************************
 *      ScanPlugin
 *
 * Registers the formats of one plug-in file of DiscoveryFolder: from the cache when an
 * entry of that name has the file's size and stamp, else by loading the plug-in (and
 * entering its formats into the cache). A name that does not fit a cache entry is never
 * cached; one that does not fit a record is skipped. Returns -1 when memory for the
 * cache ran out (discovery stops), else 0 or 1.
 */
int ScanPlugin(const char *name, CacheImage *cache, bool *dirty, const ExtensionSettings &settings)
{
    PluginFacts facts = ReadPluginFacts(name);
    size_t length = strlen(name);
    bool special = strstr(name, SpecialMark) != nullptr;
    if (special && !SpecialPluginsAllowed()) return 0;
    if (length >= sizeof(FormatRecord{}.pluginName)) return 0;
    if (special || length >= sizeof(PluginCacheEntry{}.name))
        return LoadAndRegister(name, facts, nullptr, *dirty, settings);

    if (cache->data && facts.opened) {
        int index = FindCacheEntry(cache->data, name);
        if (index >= 0) {
            PluginCacheEntry entry = GetCacheEntry(cache->data, (unsigned)index);
            if (entry.size == facts.size && entry.stamp == facts.stamp) {
                RegisterFromCache(name, *cache, (unsigned)index, settings);
                return 0;
            }
        }
    }
    return LoadAndRegister(name, facts, cache, *dirty, settings);
}

/******************************************************************
 *      qfFileGetFileFmtNum  (exported)
 *
 * The number of registered formats. The first call (and every call while the table is
 * empty) discovers the plug-ins of the plug-in folder, from the cache file where it can
 * and by loading them where it must, and rewrites the cache when a plug-in was loaded.
 */
extern "C" int Q32FILEAPI qfFileGetFileFmtNum(void)
{
    if (!Formats) return 0;
    if (Formats->count) return Formats->count;

    WaitCursor waitCursor;
    CopyText(DiscoveryFolder, sizeof DiscoveryFolder, PluginFolder);
    qfdAddSlash(DiscoveryFolder);
    WIN32_FIND_DATAA found;
    q32::FindHandle search = FindFirstPlugin(found);
    if (!search) {
        RecordError(ResourceModule, OpDiscover.At(2), TextNoPlugins);
        return 0;
    }

    char folder[Q32_MAX_NAME], path[Q32_MAX_NAME];
    bool cacheUsable = CacheFolder(folder) && JoinPath(path, folder, QFCACHE_FILE_NAME);
    CacheImage cache;
    if (cacheUsable) LoadCacheFile(path, cache);

    ExtensionSettings settings;
    bool dirty = false;
    int scan;
    do {
        const char *name = found.cAlternateFileName[0] ? found.cAlternateFileName
                                                       : found.cFileName;
        scan = ScanPlugin(name, &cache, &dirty, settings);
    } while (scan != -1 && FindNextFileA(search.get(), &found));

    if (cacheUsable && cache.data && dirty && scan != -1) WriteCacheFile(folder, cache);
    return Formats->count;
}
