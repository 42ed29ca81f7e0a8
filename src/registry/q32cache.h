/*
 * q32cache.h - the format cache file "Q32FILE.CFG": what discovery remembers of each
 * plug-in so that an unchanged plug-in need not be loaded at the next start.
 *
 * The file, little-endian, byte-identical in 32- and 64-bit builds:
 *   magic "QFCACHE1" (8 bytes, no terminator)
 *   the cache data, held in memory as one buffer (the cache image):
 *     CacheImageHead                       count of entries
 *     count x PluginCacheEntry             sorted by plug-in name (case ignored); the
 *                                          entries of one plug-in adjacent, in its order
 *     CacheImageTail                       zero word, then the checksum of all data
 *                                          before it
 * No pointers, no alignment: entries sit at 2 + 140 * i, so read them with memcpy.
 */
#ifndef Q32CACHE_H
#define Q32CACHE_H

#include "q32fio.h"

#define QFCACHE_FILE_NAME "Q32FILE.CFG"
#define QFCACHE_MAGIC "QFCACHE1"
#define QFCACHE_MAGIC_SIZE 8

#pragma pack(push, 1)

typedef struct CacheImageHead {
    uint16_t count;          /* 0: number of entries */
} CacheImageHead;

/* One format of one plug-in (140 bytes). */
typedef struct PluginCacheEntry {
    char       name[14];     /*   0: plug-in file name, NUL-terminated within the field */
    uint32_t   stamp;        /*  14: last write, DOS time in the low word, date in the high */
    uint16_t   zero18;       /*  18: 0 */
    uint32_t   size;         /*  20: file size, low 32 bits */
    int32_t    formatCount;  /*  24: the plug-in's qfDLLGetFileFmtNum answer */
    FormatInfo info;         /*  28: as the plug-in declared it, runtimeValue 0 */
} PluginCacheEntry;

typedef struct CacheImageTail {
    uint16_t zero;           /* 0 */
    uint16_t checksum;       /* CacheChecksum of everything before it */
} CacheImageTail;

#pragma pack(pop)

Q32_STATIC_ASSERT(sizeof(CacheImageHead) == 2, "CacheImageHead is 2 bytes");
Q32_STATIC_ASSERT(sizeof(CacheImageTail) == 4, "CacheImageTail is 4 bytes");
Q32_STATIC_ASSERT(offsetof(CacheImageTail, checksum) == 2, "CacheImageTail.checksum");
Q32_STATIC_ASSERT(sizeof(PluginCacheEntry) == 140, "PluginCacheEntry is 140 bytes");
Q32_STATIC_ASSERT(offsetof(PluginCacheEntry, stamp) == 14, "PluginCacheEntry.stamp");
Q32_STATIC_ASSERT(offsetof(PluginCacheEntry, zero18) == 18, "PluginCacheEntry.zero18");
Q32_STATIC_ASSERT(offsetof(PluginCacheEntry, size) == 20, "PluginCacheEntry.size");
Q32_STATIC_ASSERT(offsetof(PluginCacheEntry, formatCount) == 24, "PluginCacheEntry.formatCount");
Q32_STATIC_ASSERT(offsetof(PluginCacheEntry, info) == 28, "PluginCacheEntry.info");

#endif
