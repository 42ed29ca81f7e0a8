/* The cache image: parsing, validation and editing over a byte buffer. */
#include "cache_image.h"
#include <string.h>

namespace {
const size_t HeadSize = sizeof(CacheImageHead);
const size_t EntrySize = sizeof(PluginCacheEntry);
const size_t TailSize = sizeof(CacheImageTail);
const size_t NameSize = sizeof(PluginCacheEntry{}.name);

size_t EntryOffset(unsigned index) { return HeadSize + EntrySize * index; }

void SetEntryCount(uint8_t *data, unsigned count)
{
    CacheImageHead head = {(uint16_t)count};
    memcpy(data, &head, HeadSize);
}

CacheImageTail GetTail(const uint8_t *data, size_t length)
{
    CacheImageTail tail;
    memcpy(&tail, data + length - TailSize, TailSize);
    return tail;
}

char FoldCase(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

bool Terminated(const char (&name)[NameSize]) { return memchr(name, 0, NameSize) != nullptr; }

/* Two entries describe the same plug-in file. */
bool SamePlugin(const PluginCacheEntry &a, const PluginCacheEntry &b)
{
    return a.stamp == b.stamp && a.size == b.size && a.formatCount == b.formatCount;
}
}

size_t CacheImageLength(unsigned count) { return HeadSize + EntrySize * count + TailSize; }

uint16_t CacheChecksum(const uint8_t *data, size_t length)
{
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 < length; i += 2)
        sum ^= (uint16_t)(data[i] | (data[i + 1] << 8));
    return sum ^ 1;
}

unsigned CacheEntryCount(const uint8_t *data)
{
    CacheImageHead head;
    memcpy(&head, data, HeadSize);
    return head.count;
}

PluginCacheEntry GetCacheEntry(const uint8_t *data, unsigned index)
{
    PluginCacheEntry entry;
    memcpy(&entry, data + EntryOffset(index), EntrySize);
    return entry;
}

int CompareCacheNames(const char *a, const char *b)
{
    for (size_t i = 0; i < NameSize; i++) {
        char x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return (unsigned char)x < (unsigned char)y ? -1 : 1;
        if (!x) return 0;
    }
    return 0;
}

/******************************************************************
 *      CheckCacheImage
 *
 * The length is checked against the count before any entry is read; then the checksum;
 * then the entries, one plug-in (its format count of entries) at a time.
 */
bool CheckCacheImage(const uint8_t *data, size_t length)
{
    if (!data || length < CacheImageLength(0)) return false;
    unsigned count = CacheEntryCount(data);
    if (count > MaxCacheEntries || length != CacheImageLength(count)) return false;
    if (GetTail(data, length).checksum != CacheChecksum(data, length)) return false;

    PluginCacheEntry previous = {};
    for (unsigned i = 0; i < count;) {
        PluginCacheEntry first = GetCacheEntry(data, i);
        if (!Terminated(first.name) || !first.name[0]) return false;
        if (first.formatCount < 1 || (unsigned)first.formatCount > count - i) return false;
        if (i && CompareCacheNames(previous.name, first.name) >= 0) return false;
        for (unsigned j = 1; j < (unsigned)first.formatCount; j++) {
            PluginCacheEntry entry = GetCacheEntry(data, i + j);
            if (!Terminated(entry.name) || CompareCacheNames(entry.name, first.name) != 0 ||
                !SamePlugin(entry, first))
                return false;
        }
        previous = first;
        i += (unsigned)first.formatCount;
    }
    return true;
}

int FindCacheEntry(const uint8_t *data, const char *name)
{
    unsigned count = CacheEntryCount(data);
    for (unsigned i = 0; i < count; i++) {
        PluginCacheEntry entry = GetCacheEntry(data, i);
        if (CompareCacheNames(entry.name, name) == 0) return (int)i;
    }
    return -1;
}

void SetCacheFormatCount(uint8_t *data, const char *name, int formatCount)
{
    unsigned count = CacheEntryCount(data);
    for (unsigned i = 0; i < count; i++) {
        PluginCacheEntry entry = GetCacheEntry(data, i);
        if (CompareCacheNames(entry.name, name) != 0) continue;
        entry.formatCount = formatCount;
        memcpy(data + EntryOffset(i), &entry, EntrySize);
    }
}

size_t InitCacheImage(uint8_t *data)
{
    memset(data, 0, CacheImageLength(0));
    return CacheImageLength(0);
}

/******************************************************************
 *      RemoveCacheEntries
 */
size_t RemoveCacheEntries(uint8_t *data, size_t length, const char *name)
{
    unsigned count = CacheEntryCount(data), kept = 0;
    for (unsigned i = 0; i < count; i++) {
        PluginCacheEntry entry = GetCacheEntry(data, i);
        if (CompareCacheNames(entry.name, name) == 0) continue;
        if (kept != i) memcpy(data + EntryOffset(kept), &entry, EntrySize);
        kept++;
    }
    memmove(data + EntryOffset(kept), data + EntryOffset(count), TailSize);
    SetEntryCount(data, kept);
    return CacheImageLength(kept);
}

/******************************************************************
 *      InsertCacheEntry
 *
 * Keeps the entries sorted by name; an entry for a name already present goes after the
 * present ones, so a plug-in's formats stay in their order.
 */
size_t InsertCacheEntry(uint8_t *data, size_t length, const PluginCacheEntry &entry)
{
    unsigned count = CacheEntryCount(data), at = 0;
    while (at < count && CompareCacheNames(GetCacheEntry(data, at).name, entry.name) <= 0) at++;
    size_t from = EntryOffset(at);
    memmove(data + from + EntrySize, data + from, length - from);
    memcpy(data + from, &entry, EntrySize);
    SetEntryCount(data, count + 1);
    return length + EntrySize;
}

void SealCacheImage(uint8_t *data, size_t length)
{
    CacheImageTail tail = {0, 0};
    memcpy(data + length - TailSize, &tail, TailSize);
    tail.checksum = CacheChecksum(data, length);
    memcpy(data + length - TailSize, &tail, TailSize);
}
