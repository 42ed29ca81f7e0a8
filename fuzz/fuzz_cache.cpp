/*
 * Native fuzz target of the format cache image (no Windows needed; scripts/fuzz builds
 * and runs it). Each input is the cache data after the magic. An image that passes
 * CheckCacheImage is then edited as discovery edits it, and every edit must leave an
 * image that passes again.
 *
 * Checksum-fixing mode (environment Q32_FUZZ_FIX_CHECKSUM=1): each mutant gets its count
 * set to fit its length and a right checksum before it is tried, so that mutations reach
 * the entry checks instead of dying at the checksum. The corpus then holds fixed inputs,
 * so a crash found in this mode reproduces without it.
 */
#include "cache_image.h"
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t maxSize);

namespace {

bool FixMode()
{
    static const bool fix = [] {
        const char *value = getenv("Q32_FUZZ_FIX_CHECKSUM");
        return value && *value == '1';
    }();
    return fix;
}

/* Count from the length (when it fits) and the checksum of what is there. */
void FixImage(uint8_t *data, size_t size)
{
    if (size < CacheImageLength(0) || size % 2) return;
    size_t entries = (size - CacheImageLength(0)) / sizeof(PluginCacheEntry);
    if (CacheImageLength(unsigned(entries)) == size && entries <= 0xFFFF) {
        data[0] = uint8_t(entries);
        data[1] = uint8_t(entries >> 8);
    }
    uint16_t sum = CacheChecksum(data, size);
    data[size - 2] = uint8_t(sum);
    data[size - 1] = uint8_t(sum >> 8);
}

void Require(bool condition)
{
    if (!condition) abort();
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t maxSize,
                                          unsigned int seed)
{
    (void)seed;
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (FixMode()) FixImage(data, size);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (!CheckCacheImage(input, size)) return 0;

    /* Room for one more entry, as discovery grows the image. */
    std::vector<uint8_t> image(input, input + size);
    image.resize(size + sizeof(PluginCacheEntry));
    const unsigned count = CacheEntryCount(image.data());
    Require(CacheImageLength(count) == size);

    for (unsigned i = 0; i < count; i++) {
        PluginCacheEntry entry = GetCacheEntry(image.data(), i);
        Require(memchr(entry.name, 0, sizeof entry.name) != nullptr);
        int found = FindCacheEntry(image.data(), entry.name);
        Require(found >= 0 && unsigned(found) <= i);
        Require(CompareCacheNames(GetCacheEntry(image.data(), unsigned(found)).name,
                                  entry.name) == 0);
    }

    /* A new plug-in of one format keeps the image sound. */
    size_t length = size;
    if (count < MaxCacheEntries) {
        PluginCacheEntry added = {};
        memcpy(added.name, "~FUZZ.FIO", 10);
        added.formatCount = 1;
        if (FindCacheEntry(image.data(), added.name) < 0) {
            length = InsertCacheEntry(image.data(), length, added);
            SealCacheImage(image.data(), length);
            Require(CheckCacheImage(image.data(), length));
            Require(FindCacheEntry(image.data(), added.name) >= 0);
        }
    }

    /* Removing the first plug-in keeps it sound too. */
    if (count) {
        PluginCacheEntry first = GetCacheEntry(image.data(), 0);
        length = RemoveCacheEntries(image.data(), length, first.name);
        SealCacheImage(image.data(), length);
        Require(CheckCacheImage(image.data(), length));
        Require(FindCacheEntry(image.data(), first.name) < 0);
    }
    return 0;
}
