/*
 * The cache file against damage: every single-bit flip and every truncation of a valid
 * multi-entry cache, and seeded random mutations of its structure with the checksum made
 * right again so that they reach the parser. Whatever the file holds, discovery must not
 * crash, the table must be what the plug-ins on disk declare, and the cache left behind
 * must be whole and cover every plug-in, so that the next start loads none.
 *
 * The random mutations touch the count, the entries' names, stamps, sizes and format
 * counts, the zero words, whole entries and the length; they leave the FormatInfo bytes
 * alone: a cache is trusted for what a plug-in declared as long as the plug-in's file is
 * unchanged, so altered declarations would be registered as they stand, by design.
 */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include <string.h>
#include <random>

using namespace q32test;

namespace {

const size_t MagicSize = 8, HeadSize = 2, EntrySize = 140, NamedPart = 28;

uint32_t DosStamp(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&data.ftLastWriteTime, &date, &time);
    return MAKELONG(time, date);
}

uint32_t FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.nFileSizeLow;
}

/* Makes the checksum of a cache file's data right again (when it has a place for one). */
std::string Resealed(std::string file)
{
    size_t length = file.size() > MagicSize ? file.size() - MagicSize : 0;
    if (length >= 6 && length % 2 == 0)
        SealCacheImage(reinterpret_cast<uint8_t *>(&file[MagicSize]), length);
    return file;
}

class CacheMutation : public RegistryFixture {
protected:
    struct OnDisk { std::string name; int formats; };
    const std::vector<OnDisk> plugins = {{"TA.FIO", 2}, {"TB.FIO", 1}};
    std::string good;
    std::vector<std::string> declared;
    int checked = 0;

    void SetUp() override
    {
        RegistryFixture::SetUp();
        Stage({"TA.FIO", {Format("AAA", "First", 1), Format("AAB", "Second", 2)}});
        Stage({"TB.FIO", {Format("BBB", "Third", 3)}});
        /* Distinct stamps: an entry renamed to another plug-in must not pass for it. */
        for (size_t i = 0; i < plugins.size(); i++)
            ShiftWriteTime(PluginPath(plugins[i].name), (int)(i + 1) * 86400);
        ASSERT_EQ(3, Start());
        good = ReadFileBytes(CachePath());
        ASSERT_EQ(MagicSize + CacheImageLength(3), good.size());
        declared = Declared();
    }

    /* Discovery again, as at a fresh start: an emptied table is discovered anew (the
       module is not attached again, to keep the thousands of rounds quick). */
    int Rediscover()
    {
        DeleteFileA(loads.c_str());
        c32ResetDLLErrInfo();
        Formats->count = 0;
        return qfFileGetFileFmtNum();
    }

    /* The cache file in place is whole and has a matching entry run for every plug-in. */
    bool CoversPlugins(const std::string &file)
    {
        if (file.size() < MagicSize || file.compare(0, MagicSize, "QFCACHE1") != 0) return false;
        const uint8_t *data = reinterpret_cast<const uint8_t *>(file.data()) + MagicSize;
        if (!CheckCacheImage(data, file.size() - MagicSize)) return false;
        for (const OnDisk &p : plugins) {
            int at = FindCacheEntry(data, p.name.c_str());
            if (at < 0) return false;
            PluginCacheEntry e = GetCacheEntry(data, (unsigned)at);
            if (e.stamp != DosStamp(PluginPath(p.name)) || e.size != FileSize(PluginPath(p.name)) ||
                e.formatCount != p.formats)
                return false;
        }
        return true;
    }

    /* One start over a cache file holding bytes. rejected: the file must have been
       refused (every plug-in loaded, the cache rebuilt to the good one). */
    void Check(const std::string &bytes, const std::string &what, bool rejected)
    {
        checked++;
        WriteCache(bytes);
        int count = Rediscover();
        if (count != 3 || Declared() != declared) {
            ADD_FAILURE() << what << ": table of " << count << " formats differs";
            return;
        }
        std::string after = ReadFileBytes(CachePath());
        if (rejected) {
            if (TotalLoads(loads) != 2) ADD_FAILURE() << what << ": not refused";
            if (after != good) ADD_FAILURE() << what << ": not rebuilt";
        } else if (!CoversPlugins(after)) {
            ADD_FAILURE() << what << ": the cache left behind does not cover the plug-ins";
        }
    }

    /* Offsets within the cache data (after the magic) that the random mutations touch. */
    std::vector<size_t> StructuralOffsets(size_t dataLength) const
    {
        std::vector<size_t> offsets = {0, 1, dataLength - 4, dataLength - 3};
        for (size_t at = HeadSize; at + EntrySize + 4 <= dataLength; at += EntrySize)
            for (size_t i = 0; i < NamedPart; i++) offsets.push_back(at + i);
        return offsets;
    }
};

TEST_F(CacheMutation, EverySingleBitFlipIsRefusedAndRebuilt)
{
    for (size_t byte = 0; byte < good.size(); byte++) {
        for (int bit = 0; bit < 8; bit++) {
            std::string bytes = good;
            bytes[byte] ^= (char)(1 << bit);
            Check(bytes, "flip of bit " + std::to_string(bit) + " of byte " + std::to_string(byte), true);
            if (HasFailure()) return;
        }
    }
    EXPECT_EQ((int)good.size() * 8, checked);
}

TEST_F(CacheMutation, EveryTruncationIsRefusedAndRebuilt)
{
    for (size_t length = 0; length < good.size(); length++) {
        Check(good.substr(0, length), "cut to " + std::to_string(length) + " bytes", true);
        Check(Resealed(good.substr(0, length)), "cut to " + std::to_string(length) + " bytes, resealed",
              true);
        if (HasFailure()) return;
    }
}

TEST_F(CacheMutation, RandomStructuralMutationsReachTheParserSafely)
{
    std::mt19937 random(20240611);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    const size_t dataLength = good.size() - MagicSize;
    const std::vector<size_t> offsets = StructuralOffsets(dataLength);

    for (int round = 0; round < 2000; round++) {
        std::string bytes = good;
        char *data = &bytes[MagicSize];
        std::string what = "round " + std::to_string(round) + ": ";
        switch (pick(6)) {
        case 0: /* a few structural bytes, random values */
            for (size_t n = 1 + pick(3); n; n--) data[offsets[pick(offsets.size())]] = (char)pick(256);
            what += "bytes";
            break;
        case 1: /* a structural byte nudged */
            data[offsets[pick(offsets.size())]] += pick(2) ? 1 : -1;
            what += "nudge";
            break;
        case 2: { /* the count */
            uint16_t count = (uint16_t)(pick(2) ? pick(9) : pick(65536));
            memcpy(data, &count, 2);
            what += "count " + std::to_string(count);
            break;
        }
        case 3: { /* an entry removed or doubled, count kept or made to match */
            size_t at = MagicSize + HeadSize + EntrySize * pick(3);
            std::string entry = bytes.substr(at, EntrySize);
            bool doubled = pick(2);
            if (doubled) bytes.insert(at, entry);
            else bytes.erase(at, EntrySize);
            if (pick(2)) {
                uint16_t count = (uint16_t)(doubled ? 4 : 2);
                memcpy(&bytes[MagicSize], &count, 2);
            }
            what += doubled ? "entry doubled" : "entry removed";
            break;
        }
        case 4: { /* a plug-in entry that is nowhere on disk, appended */
            std::string entry = bytes.substr(MagicSize + HeadSize, EntrySize);
            memcpy(&entry[0], "ZZ.FIO\0", 7);
            entry[pick(NamedPart)] = (char)pick(256);
            bytes.insert(bytes.size() - 4, entry);
            uint16_t count = 4;
            memcpy(&bytes[MagicSize], &count, 2);
            what += "stranger appended";
            break;
        }
        default: { /* another length */
            size_t length = pick(dataLength + 300);
            bytes.resize(MagicSize + length, (char)pick(256));
            what += "length " + std::to_string(length);
            break;
        }
        }
        Check(Resealed(bytes), what, false);
        if (round % 25 == 0) {
            EXPECT_EQ(3, Rediscover()) << what;
            EXPECT_EQ(0, TotalLoads(loads)) << what << ": the next start loaded plug-ins";
        }
        if (HasFailure()) return;
    }
}

} // namespace
