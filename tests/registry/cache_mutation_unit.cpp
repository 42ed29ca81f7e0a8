/*
 * The cache file against damage: every single-bit flip and every truncation (also with
 * the checksum made right again) of a valid multi-entry cache is refused, every plug-in
 * is loaded, the table is what the plug-ins on disk declare and the cache is rebuilt.
 * (Structural mutations of the parsed image are the cache fuzzer's.)
 */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include <string.h>

using namespace q32test;

namespace {

const size_t MagicSize = 8;

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
    std::string good;
    std::vector<std::string> declared;
    int checked = 0;

    void SetUp() override
    {
        RegistryFixture::SetUp();
        Stage({"TA.FIO", {Format("AAA", "First", 1, 1), Format("AAB", "Second", 1, 2)}});
        Stage({"TB.FIO", {Format("BBB", "Third", 1, 3)}});
        /* Distinct stamps: an entry renamed to another plug-in must not pass for it. */
        ShiftWriteTime(PluginPath("TA.FIO"), 86400);
        ShiftWriteTime(PluginPath("TB.FIO"), 2 * 86400);
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

    /* One start over a cache file holding bytes: the file must be refused (every plug-in
       loaded, the cache rebuilt to the good one). */
    void Check(const std::string &bytes, const std::string &what)
    {
        checked++;
        WriteCache(bytes);
        int count = Rediscover();
        if (count != 3 || Declared() != declared) {
            ADD_FAILURE() << what << ": table of " << count << " formats differs";
            return;
        }
        std::string after = ReadFileBytes(CachePath());
        if (TotalLoads(loads) != 2) ADD_FAILURE() << what << ": not refused";
        if (after != good) ADD_FAILURE() << what << ": not rebuilt";
    }
};

TEST_F(CacheMutation, EverySingleBitFlipIsRefusedAndRebuilt)
{
    for (size_t byte = 0; byte < good.size(); byte++) {
        for (int bit = 0; bit < 8; bit++) {
            std::string bytes = good;
            bytes[byte] ^= (char)(1 << bit);
            Check(bytes, "flip of bit " + std::to_string(bit) + " of byte " + std::to_string(byte));
            if (HasFailure()) return;
        }
    }
    EXPECT_EQ((int)good.size() * 8, checked);
}

TEST_F(CacheMutation, EveryTruncationIsRefusedAndRebuilt)
{
    for (size_t length = 0; length < good.size(); length++) {
        Check(good.substr(0, length), "cut to " + std::to_string(length) + " bytes");
        Check(Resealed(good.substr(0, length)), "cut to " + std::to_string(length) + " bytes, resealed");
        if (HasFailure()) return;
    }
}

} // namespace
