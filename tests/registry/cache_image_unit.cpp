/* The cache image functions over byte buffers: checks, checksum, editing. */
#include <gtest/gtest.h>
#include "registry/cache_image.h"
#include <string.h>
#include <functional>
#include <string>
#include <vector>

namespace {

using Image = std::vector<uint8_t>;

PluginCacheEntry Entry(const char *name, int formatCount, const char *code,
                       uint32_t stamp = 0x5A215C3E, uint32_t size = 4096)
{
    PluginCacheEntry e = {};
    strcpy(e.name, name);
    e.stamp = stamp;
    e.size = size;
    e.formatCount = formatCount;
    strcpy(e.info.code, code);
    return e;
}

Image Build(const std::vector<PluginCacheEntry> &entries)
{
    Image image(CacheImageLength((unsigned)entries.size()));
    size_t length = InitCacheImage(image.data());
    for (const auto &e : entries) length = InsertCacheEntry(image.data(), length, e);
    SealCacheImage(image.data(), length);
    return image;
}

void Reseal(Image &image) { SealCacheImage(image.data(), image.size()); }

/* A: two formats, B: one, C: two (another file). */
Image Valid()
{
    return Build({Entry("A.FIO", 2, "A1"), Entry("A.FIO", 2, "A2"), Entry("B.FIO", 1, "B1"),
                  Entry("C.FIO", 2, "C1", 7, 9), Entry("C.FIO", 2, "C2", 7, 9)});
}

size_t EntryAt(unsigned i) { return sizeof(CacheImageHead) + sizeof(PluginCacheEntry) * i; }

template <typename T>
void Poke(Image &image, size_t offset, T value) { memcpy(image.data() + offset, &value, sizeof value); }

TEST(CacheImage, ChecksumIsXorOfWordsBeforeItThenOne)
{
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0xEE, 0xEE};
    EXPECT_EQ(0x0201 ^ 0x0403 ^ 1, CacheChecksum(data, sizeof data));
    const uint8_t empty[] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(1, CacheChecksum(empty, sizeof empty));
}

TEST(CacheImage, AcceptsWhatItBuilds)
{
    Image image = Valid();
    EXPECT_EQ(6u + 140 * 5, image.size());
    EXPECT_TRUE(CheckCacheImage(image.data(), image.size()));
    Image empty = Build({});
    EXPECT_TRUE(CheckCacheImage(empty.data(), empty.size()));
}

TEST(CacheImage, RejectsEveryKindOfDamage)
{
    const struct {
        const char *what;
        std::function<void(Image &)> damage;
    } cases[] = {
        {"no bytes", [](Image &i) { i.clear(); }},
        {"five bytes", [](Image &i) { i.resize(5); }},
        {"count one more than held", [](Image &i) { Poke<uint16_t>(i, 0, 6); Reseal(i); }},
        {"count one less than held", [](Image &i) { Poke<uint16_t>(i, 0, 4); Reseal(i); }},
        {"count far beyond the data", [](Image &i) { Poke<uint16_t>(i, 0, 0xFFFF); Reseal(i); }},
        {"cut inside the last entry", [](Image &i) { i.resize(i.size() - 70); Reseal(i); }},
        {"one byte more", [](Image &i) { i.push_back(0); }},
        {"one entry more, count kept", [](Image &i) { i.insert(i.end() - 4, 140, 0); Reseal(i); }},
        {"checksum off by a bit", [](Image &i) { i.back() ^= 0x40; }},
        {"data off by a bit", [](Image &i) { i[EntryAt(2) + 40] ^= 1; }},
        {"name without terminator",
         [](Image &i) { memset(&i[EntryAt(2)], 'X', 14); Reseal(i); }},
        {"empty name", [](Image &i) { i[EntryAt(2)] = 0; Reseal(i); }},
        {"format count 0", [](Image &i) { Poke<int32_t>(i, EntryAt(2) + 24, 0); Reseal(i); }},
        {"format count -1", [](Image &i) { Poke<int32_t>(i, EntryAt(2) + 24, -1); Reseal(i); }},
        {"names out of order", [](Image &i) { i[EntryAt(2)] = '0'; Reseal(i); }},
        {"a plug-in's entries disagree on the stamp",
         [](Image &i) { Poke<uint32_t>(i, EntryAt(1) + 14, 1); Reseal(i); }},
        {"a plug-in's entries disagree on the size",
         [](Image &i) { Poke<uint32_t>(i, EntryAt(4) + 20, 1); Reseal(i); }},
        {"more entries than the plug-in's formats",
         [](Image &i) { Poke<int32_t>(i, EntryAt(0) + 24, 1); Poke<int32_t>(i, EntryAt(1) + 24, 1); Reseal(i); }},
        {"fewer entries than the plug-in's formats",
         [](Image &i) { Poke<int32_t>(i, EntryAt(3) + 24, 3); Poke<int32_t>(i, EntryAt(4) + 24, 3); Reseal(i); }},
        {"a single-format plug-in claiming two",
         [](Image &i) { Poke<int32_t>(i, EntryAt(2) + 24, 2); Reseal(i); }},
        {"one entry of a plug-in renamed past it",
         [](Image &i) { i[EntryAt(1) + 4] = 'X'; Reseal(i); }},
        {"a plug-in under the name of the one before it",
         [](Image &i) { i[EntryAt(2)] = 'A'; Reseal(i); }},
    };
    for (const auto &c : cases) {
        Image image = Valid();
        c.damage(image);
        EXPECT_FALSE(CheckCacheImage(image.data(), image.size())) << c.what;
    }
    EXPECT_FALSE(CheckCacheImage(nullptr, 6));
}

TEST(CacheImage, CountIsCapped)
{
    std::vector<PluginCacheEntry> entries;
    for (unsigned i = 0; i <= MaxCacheEntries; i++) {
        char name[14];
        snprintf(name, sizeof name, "P%05u.FIO", i);
        entries.push_back(Entry(name, 1, "X"));
    }
    Image over = Build(entries);
    EXPECT_FALSE(CheckCacheImage(over.data(), over.size()));
    entries.pop_back();
    Image at = Build(entries);
    EXPECT_TRUE(CheckCacheImage(at.data(), at.size()));
}

TEST(CacheImage, InsertKeepsNamesSortedAndAPluginsFormatsInOrder)
{
    Image image = Build({Entry("TB.FIO", 1, "B"), Entry("ta.fio", 2, "A1"), Entry("TC.FIO", 1, "C"),
                         Entry("TA.FIO", 2, "A2")});
    ASSERT_TRUE(CheckCacheImage(image.data(), image.size()));
    const char *codes[] = {"A1", "A2", "B", "C"};
    for (unsigned i = 0; i < 4; i++) EXPECT_STREQ(codes[i], GetCacheEntry(image.data(), i).info.code);
}

TEST(CacheImage, RemoveTakesOnlyThatPluginsEntries)
{
    Image image = Valid();
    Image before = image;
    size_t length = RemoveCacheEntries(image.data(), image.size(), "a.fio");
    ASSERT_EQ(CacheImageLength(3), length);
    image.resize(length);
    Reseal(image);
    EXPECT_TRUE(CheckCacheImage(image.data(), image.size()));
    EXPECT_EQ(0, memcmp(&before[EntryAt(2)], &image[EntryAt(0)], 3 * 140));
}

TEST(CacheImage, LookupIgnoresCase)
{
    Image image = Valid();
    EXPECT_EQ(0, FindCacheEntry(image.data(), "a.fio"));
    EXPECT_EQ(2, FindCacheEntry(image.data(), "B.FIO"));
    EXPECT_EQ(-1, FindCacheEntry(image.data(), "D.FIO"));
    EXPECT_EQ(-1, FindCacheEntry(image.data(), "A.FI"));
}

TEST(CacheImage, AShortenedScanKeepsTheImageConsistent)
{
    /* C declared three formats, the scan stopped after two. */
    Image image = Build({Entry("B.FIO", 1, "B1"), Entry("C.FIO", 3, "C1"), Entry("C.FIO", 3, "C2")});
    EXPECT_FALSE(CheckCacheImage(image.data(), image.size()));
    SetCacheFormatCount(image.data(), "c.fio", 2);
    Reseal(image);
    EXPECT_TRUE(CheckCacheImage(image.data(), image.size()));
    EXPECT_EQ(1, GetCacheEntry(image.data(), 0).formatCount);
}

} // namespace
