/*
 * The cache image: the data of the format cache file after its magic, as one buffer
 * (layout in q32cache.h). Pure functions over bytes, no Windows calls, so that the parser
 * can be built and fuzzed anywhere.
 *
 * Only CheckCacheImage trusts nothing. The other functions take an image that passed it
 * or that they built themselves (InitCacheImage, InsertCacheEntry, RemoveCacheEntries).
 */
#ifndef Q32_CACHE_IMAGE_H
#define Q32_CACHE_IMAGE_H

#include <stddef.h>
#include <stdint.h>
#include "q32cache.h"

/* More entries than this make an image corrupt (and are never written). */
enum : unsigned { MaxCacheEntries = 1024 };

/* Bytes of an image of count entries: head, entries, tail. */
size_t CacheImageLength(unsigned count);

/* XOR of the 16-bit little-endian words before the checksum word, then XOR 1. length is
   the whole image (even, at least 2). */
uint16_t CacheChecksum(const uint8_t *data, size_t length);

/* True when the image can be trusted: length exactly that of its count, count at most
   MaxCacheEntries, checksum right, and the entries a sequence of plug-ins sorted by name,
   each plug-in being exactly as many entries as its format count (at least 1), all with
   its name (non-empty, terminated inside the field), time stamp and size. */
bool CheckCacheImage(const uint8_t *data, size_t length);

unsigned CacheEntryCount(const uint8_t *data);
PluginCacheEntry GetCacheEntry(const uint8_t *data, unsigned index);

/* Compares two plug-in names, ASCII letters without regard to case, at most the length of
   the name field. */
int CompareCacheNames(const char *a, const char *b);

/* Index of the first entry named name (case ignored), or -1. */
int FindCacheEntry(const uint8_t *data, const char *name);

/* Sets the format count of every entry named name (a plug-in whose scan stopped after
   that many formats). */
void SetCacheFormatCount(uint8_t *data, const char *name, int formatCount);

/* Makes an empty image (count 0) in data, which holds CacheImageLength(0) bytes at
   least; returns its length. */
size_t InitCacheImage(uint8_t *data);

/* Removes every entry named name (case ignored); returns the new length. */
size_t RemoveCacheEntries(uint8_t *data, size_t length, const char *name);

/* Inserts entry after every entry whose name is not greater; returns the new length.
   data must hold length + sizeof(PluginCacheEntry) bytes and fewer than MaxCacheEntries
   entries. */
size_t InsertCacheEntry(uint8_t *data, size_t length, const PluginCacheEntry &entry);

/* Writes the tail: zero word and checksum. */
void SealCacheImage(uint8_t *data, size_t length);

#endif
