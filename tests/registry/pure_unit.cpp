/* The registry's functions over plain data: the cache image and the table's order. */
#include <gtest/gtest.h>
#include "registry/cache_image.h"
#include "registry/registry.h"
#include <string.h>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using Image = std::vector<uint8_t>;

PluginCacheEntry Entry(const char *name, int formatCount, const char *code, uint32_t stamp = 5)
{
    PluginCacheEntry e = {};
    strcpy(e.name, name);
    e.stamp = stamp;
    e.size = 4096;
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

/* Writes value at offset and makes the checksum right again. */
template <typename T>
void Poke(Image &image, size_t offset, T value)
{
    memcpy(image.data() + offset, &value, sizeof value);
    Reseal(image);
}

bool Valid(const Image &image) { return CheckCacheImage(image.data(), image.size()); }

size_t At(unsigned i) { return sizeof(CacheImageHead) + sizeof(PluginCacheEntry) * i; }

TEST(CacheImage, ChecksumIsXorOfWordsBeforeItThenOne)
{
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0xEE, 0xEE};
    EXPECT_EQ(0x0201 ^ 0x0403 ^ 1, CacheChecksum(data, sizeof data));
}

TEST(CacheImage, AcceptsWhatItBuildsRejectsEveryKindOfDamage)
{
    /* A: two formats, B: one, C: two (another stamp). */
    const Image good = Build({Entry("A.FIO", 2, "A1"), Entry("B.FIO", 1, "B1"),
                              Entry("A.FIO", 2, "A2"), Entry("C.FIO", 2, "C1", 7),
                              Entry("C.FIO", 2, "C2", 7)});
    EXPECT_EQ(6u + 140 * 5, good.size());
    EXPECT_TRUE(Valid(good));
    EXPECT_STREQ("A2", GetCacheEntry(good.data(), 1).info.code) << "sorted by name, in order";
    EXPECT_TRUE(Valid(Build({})));
    const struct { const char *what; std::function<void(Image &)> damage; } cases[] = {
        {"five bytes", [](Image &i) { i.resize(5); }},
        {"count one less than held", [](Image &i) { Poke<uint16_t>(i, 0, 4); }},
        {"cut inside the last entry", [](Image &i) { i.resize(i.size() - 70); Reseal(i); }},
        {"one entry more, count kept", [](Image &i) { i.insert(i.end() - 4, 140, 0); Reseal(i); }},
        {"last data word off by a bit", [](Image &i) { i[i.size() - 4] ^= 1; }},
        {"name without terminator", [](Image &i) { memset(&i[At(2)], 'X', 14); Reseal(i); }},
        {"empty name", [](Image &i) { Poke<char>(i, At(2), 0); }},
        {"format count -1", [](Image &i) { Poke<int32_t>(i, At(2) + 24, -1); }},
        {"names out of order", [](Image &i) { Poke<char>(i, At(2), '0'); }},
        {"entries disagree on the stamp", [](Image &i) { Poke<uint32_t>(i, At(1) + 14, 1); }},
        {"more entries than formats",
         [](Image &i) { Poke<int32_t>(i, At(0) + 24, 1); Poke<int32_t>(i, At(1) + 24, 1); }},
        {"one format claiming two", [](Image &i) { Poke<int32_t>(i, At(2) + 24, 2); }},
        {"an entry renamed past its plug-in", [](Image &i) { Poke<char>(i, At(1) + 4, 'X'); }},
        {"a plug-in under the name before it", [](Image &i) { Poke<char>(i, At(2), 'A'); }},
    };
    for (const auto &c : cases) {
        Image image = good;
        c.damage(image);
        EXPECT_FALSE(Valid(image)) << c.what;
    }
    EXPECT_FALSE(CheckCacheImage(nullptr, 6));

    std::vector<PluginCacheEntry> entries;
    for (unsigned i = 0; i <= MaxCacheEntries; i++) {
        char name[14];
        snprintf(name, sizeof name, "P%05u.FIO", i);
        entries.push_back(Entry(name, 1, "X"));
    }
    EXPECT_FALSE(Valid(Build(entries))) << "one past the cap";
    entries.pop_back();
    EXPECT_TRUE(Valid(Build(entries)));
}

FormatRecord Record(const char *code, const char *description)
{
    FormatRecord r = {};
    strcpy(r.info.code, code);
    strcpy(r.info.description, description);
    return r;
}

TEST(FormatTable, OrderByCodeIgnoringCaseDuplicatesDropped)
{
    auto table = std::make_unique<FormatTable>();
    table->capacity = TableCapacity;
    const char *added[][2] = {
        {"TIF", "Tagged"}, {"BMP", "Bitmap"}, {"BMP", "Bitmap"},   /* duplicate: dropped */
        {"BMP", "Other bitmap"}, {"Bmp", "Third"},                  /* equal codes: in order */
        {"BMP", "bitmap"}, {"bmp", "Bitmap"},                       /* case counts in both */
        {"AAA", "First"}, {"ZZZ", "Last"},
    };
    for (auto &a : added) AddFormatRecord(table.get(), Record(a[0], a[1]));
    std::string lines;
    for (const FormatRecord &r : std::span(table->records, table->count))
        lines += std::string(r.info.code) + "|" + r.info.description + " ";
    EXPECT_EQ("AAA|First BMP|Bitmap BMP|Other bitmap Bmp|Third BMP|bitmap bmp|Bitmap TIF|Tagged "
              "ZZZ|Last ", lines);
    for (int i = 0; i < 60; i++)
        AddFormatRecord(table.get(), Record(std::to_string(i).c_str(), "x"));
    EXPECT_EQ(49, table->count) << "the fiftieth format is refused";
    EXPECT_EQ(0, table->records[49].info.code[0]);
}

} // namespace
