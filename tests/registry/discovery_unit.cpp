/* Discovery and the format cache file, through fresh starts of the module's state. */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include "faults.h"
#include <string.h>

using namespace q32test;

namespace {

uint16_t U16(const std::string &b, size_t at) { uint16_t v; memcpy(&v, &b[at], 2); return v; }
uint32_t U32(const std::string &b, size_t at) { uint32_t v; memcpy(&v, &b[at], 4); return v; }

FILETIME LastWrite(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

uint32_t FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.nFileSizeLow;
}

/* The stamp a cache entry holds for a file: its last write as DOS time and date. */
uint32_t DosStamp(const std::string &path)
{
    FILETIME written = LastWrite(path);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&written, &date, &time);
    return MAKELONG(time, date);
}

/* Entry i of a cache file's bytes. */
std::string EntryBytes(const std::string &file, unsigned i) { return file.substr(10 + 140 * i, 140); }

class Discovery : public RegistryFixture {
protected:
    void StageTwo()
    {
        Stage({"TB.FIO", {Format("BMP", "Bitmap", 1, 7)}});
        Stage({"TA.FIO", {Format("tif", "Tagged", 1, 5), Format("PNG", "Portable", 1, 6)}});
    }
};

TEST_F(Discovery, FromNothingLoadsEachPluginOnceAndWritesAHiddenCache)
{
    StageTwo();
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    SetCursor(cross);
    EXPECT_EQ(3, Start());
    EXPECT_EQ((std::vector<std::string>{"BMP|Bitmap|TB.FIO|0|7", "PNG|Portable|TA.FIO|100|6",
                                        "TIF|Tagged|TA.FIO|0|5"}),
              Table());
    EXPECT_EQ(1, LoadsOf(loads, "TA.FIO"));
    EXPECT_EQ(1, LoadsOf(loads, "TB.FIO"));
    EXPECT_EQ(cross, GetCursor());
    EXPECT_EQ(0u, ReadError().id);

    DWORD attributes = GetFileAttributesA(CachePath().c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));

    RemoveTree(fio);
    EXPECT_EQ(3, qfFileGetFileFmtNum()) << "the second call does not look again";
    EXPECT_EQ(2, TotalLoads(loads));
}

TEST_F(Discovery, WrittenCacheHoldsEveryField)
{
    TestFormat tif = Format("tif", "Tagged image", 1, 0x1234);
    tif.flags = 0x8001;
    tif.typeMask = 0x00030005;
    tif.flags2 = 0x22;
    tif.openOptions = 1;
    tif.saveOptions = 1;
    tif.signature1 = "4949";
    tif.signature2 = "4D4D2A00";
    Stage({"TB.FIO", {tif, Format("JPG", "Joint")}});
    Stage({"ta.fio", {Format("BMP", "Bitmap")}});
    ShiftWriteTime(PluginPath("TB.FIO"), 3 * 86400);
    ASSERT_EQ(3, Start());

    std::string file = ReadFileBytes(CachePath());
    ASSERT_EQ(8u + 6 + 140 * 3, file.size());
    EXPECT_EQ("QFCACHE1", file.substr(0, 8));
    EXPECT_EQ(3, U16(file, 8));
    const struct { const char *name; const char *onDisk; int32_t formats; } entries[] = {
        {"ta.fio", "ta.fio", 1}, {"TB.FIO", "TB.FIO", 2}, {"TB.FIO", "TB.FIO", 2},
    };
    for (unsigned i = 0; i < 3; i++) {
        std::string e = EntryBytes(file, i);
        std::string name(entries[i].name);
        EXPECT_EQ(name + std::string(14 - name.size(), '\0'), e.substr(0, 14)) << i;
        EXPECT_EQ(DosStamp(PluginPath(entries[i].onDisk)), U32(e, 14)) << i;
        EXPECT_EQ(0, U16(e, 18)) << i;
        EXPECT_EQ(FileSize(PluginPath(entries[i].onDisk)), U32(e, 20)) << i;
        EXPECT_EQ(entries[i].formats, (int32_t)U32(e, 24)) << i;
        EXPECT_EQ(0u, U32(e, 28 + 88)) << "run-time value " << i;
    }

    FormatInfo expected = {};
    expected.flags = 0x8001;
    expected.typeCaps = 5;
    expected.typeMaskHigh = 3;
    expected.flags2 = 0x22;
    expected.openOptions = expected.saveOptions = 1;
    expected.vectorType = -1;
    strcpy(expected.code, "tif");
    strcpy(expected.description, "Tagged image");
    expected.signatureLength1 = 2;
    memcpy(expected.signature1, "\x49\x49", 2);
    expected.signatureLength2 = 4;
    memcpy(expected.signature2, "\x4D\x4D\x2A\x00", 4);
    EXPECT_EQ(0, memcmp(&expected, &EntryBytes(file, 1)[28], sizeof expected))
        << "FormatInfo as declared, code not upper-cased, run-time value 0";
    EXPECT_EQ("JPG", EntryBytes(file, 2).substr(28 + 28, 3));

    size_t tail = 10 + 140 * 3;
    EXPECT_EQ(0, U16(file, tail));
    uint16_t sum = 0;
    for (size_t at = 8; at < tail + 2; at += 2) sum ^= U16(file, at);
    EXPECT_EQ(sum ^ 1, U16(file, tail + 2));
}

TEST_F(Discovery, WarmStartLoadsNothingAndLeavesTheCacheAlone)
{
    StageTwo();
    ASSERT_EQ(3, Start());
    std::vector<std::string> declared = Declared();
    std::string bytes = ReadFileBytes(CachePath());
    FILETIME written = LastWrite(CachePath());
    Sleep(20);

    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, TotalLoads(loads));
    EXPECT_EQ(declared, Declared());
    for (LONG i = 0; i < Formats->count; i++) EXPECT_EQ(0u, Formats->records[i].info.runtimeValue);
    EXPECT_EQ(bytes, ReadFileBytes(CachePath()));
    FILETIME now = LastWrite(CachePath());
    EXPECT_EQ(0, CompareFileTime(&written, &now));
}

TEST_F(Discovery, TouchingOnePluginLoadsItAloneAndRewritesItsEntries)
{
    StageTwo();
    ASSERT_EQ(3, Start());
    std::string before = ReadFileBytes(CachePath());
    ShiftWriteTime(PluginPath("TB.FIO"), 86400);

    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, LoadsOf(loads, "TA.FIO"));
    EXPECT_EQ(1, LoadsOf(loads, "TB.FIO"));
    std::string after = ReadFileBytes(CachePath());
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(before.substr(10, 280), after.substr(10, 280)) << "TA's entries untouched";
    EXPECT_EQ(DosStamp(PluginPath("TB.FIO")), U32(EntryBytes(after, 2), 14));
    EXPECT_NE(U32(EntryBytes(before, 2), 14), U32(EntryBytes(after, 2), 14));

    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, TotalLoads(loads));
}

TEST_F(Discovery, APluginThatGrowsAFormatGetsExactlyTwoEntries)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    Stage({"TB.FIO", {Format("BBB", "Neighbour")}});
    ASSERT_EQ(2, Start());
    std::string neighbour = EntryBytes(ReadFileBytes(CachePath()), 1);

    Stage({"TA.FIO", {Format("AAA", "First"), Format("AAB", "Second")}});
    ShiftWriteTime(PluginPath("TA.FIO"), 86400);
    EXPECT_EQ(3, Start());
    std::string file = ReadFileBytes(CachePath());
    ASSERT_EQ(8u + 6 + 140 * 3, file.size());
    EXPECT_EQ(3, U16(file, 8));
    EXPECT_EQ("AAA", EntryBytes(file, 0).substr(56, 3));
    EXPECT_EQ("AAB", EntryBytes(file, 1).substr(56, 3));
    EXPECT_EQ(2u, U32(EntryBytes(file, 0), 24));
    EXPECT_EQ(2u, U32(EntryBytes(file, 1), 24));
    EXPECT_EQ(neighbour, EntryBytes(file, 2));
}

TEST_F(Discovery, DamagedCachesAreRebuiltWithEveryPluginLoaded)
{
    StageTwo();
    ASSERT_EQ(3, Start());
    std::string good = ReadFileBytes(CachePath());
    std::vector<std::string> declared = Declared();

    auto resealed = [](std::string bytes) {
        SealCacheImage(reinterpret_cast<uint8_t *>(&bytes[8]), bytes.size() - 8);
        return bytes;
    };
    std::string countTooLarge = good;
    countTooLarge[8] = 4;
    std::string unterminated = good;
    memset(&unterminated[10], 'X', 14);
    const struct { const char *what; std::string bytes; } cases[] = {
        {"5 bytes", good.substr(0, 5)},
        {"wrong magic", "QFCACHE2" + good.substr(8)},
        {"magic only", good.substr(0, 8)},
        {"wrong checksum", good.substr(0, good.size() - 1) + char(good.back() ^ 1)},
        {"count too large", resealed(countTooLarge)},
        {"cut at an entry", resealed(good.substr(0, good.size() - 140))},
        {"name without terminator", resealed(unterminated)},
        {"count 0xFFFF, 6 data bytes", resealed(std::string("QFCACHE1\xFF\xFF\0\0\0\0", 14))},
    };
    for (const auto &c : cases) {
        WriteCache(c.bytes);
        EXPECT_EQ(3, Start()) << c.what;
        EXPECT_EQ(2, TotalLoads(loads)) << c.what;
        EXPECT_EQ(declared, Declared()) << c.what;
        EXPECT_EQ(good, ReadFileBytes(CachePath())) << c.what;
    }
}

TEST_F(Discovery, SpecialPluginsOnlyOnSomeSystemsAndNeverCached)
{
    const struct { const char *os; bool considered; } cases[] = {
        {"1", false}, {"2", true}, {"5", true}, {"6", false}, {"7", true}, {"10", false},
    };
    for (const auto &c : cases) {
        Reset();
        ScopedEnv os("Q32_OSVERSION", c.os);
        Stage({"TA.FIO", {Format("AAA", "Plain")}});
        Stage({"XGFFX.FIO", {Format("GFX", "Special")}});
        Stage({"xgffy.fio", {Format("GFY", "Not special: case differs")}});
        int expected = c.considered ? 3 : 2;
        EXPECT_EQ(expected, Start()) << "OS " << c.os;
        EXPECT_EQ(c.considered ? 1 : 0, LoadsOf(loads, "XGFFX.FIO")) << "OS " << c.os;
        EXPECT_EQ(expected, Start()) << "OS " << c.os;
        EXPECT_EQ(c.considered ? 1 : 0, TotalLoads(loads)) << "OS " << c.os;

        std::string cacheFolder = atoi(c.os) >= 6 ? appData : suite + "\\";
        std::string file = ReadFileBytes(cacheFolder + "Q32FILE.CFG");
        ASSERT_EQ(8u + 6 + 140 * 2, file.size()) << "OS " << c.os;
        EXPECT_EQ("TA.FIO", EntryBytes(file, 0).substr(0, 6));
        EXPECT_EQ("xgffy.fio", EntryBytes(file, 1).substr(0, 9));
        SetFileAttributesA((cacheFolder + "Q32FILE.CFG").c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA((cacheFolder + "Q32FILE.CFG").c_str());
    }
}

TEST_F(Discovery, EmptyFolderRecords4006AndTriesAgainNextTime)
{
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    SetCursor(cross);
    EXPECT_EQ(0, Start());
    RecordedError e = ReadError();
    EXPECT_EQ(4006u, e.id);
    EXPECT_EQ(1702, e.where1);
    EXPECT_EQ(27, e.where2);
    EXPECT_EQ(2, e.where3);
    char text[256] = "";
    LoadStringA(ResourceModule, 4006, text, sizeof text);
    EXPECT_EQ(text, e.text);
    EXPECT_EQ(cross, GetCursor());

    Stage({"TA.FIO", {Format("AAA", "Late")}});
    EXPECT_EQ(1, qfFileGetFileFmtNum());
}

TEST_F(Discovery, PluginsWithoutUsableFormatsAreSkipped)
{
    TestFormat nullInfo = Format("NUL", "Answers null");
    nullInfo.infoNull = true;
    const struct {
        const char *what;
        TestPlugin plugin;
        std::vector<std::string> registered;
        UINT error;
        int place;
    } cases[] = {
        {"no qfDLLGetFileFmtNum", {"TX.FIO", {Format("XXX", "x")}, {}, "tfnonum"}, {}, 0, 0},
        {"declares 0 formats", {"TX.FIO", {Format("XXX", "x")}, 0}, {}, 4025, 2},
        {"declares -3 formats", {"TX.FIO", {Format("XXX", "x")}, -3}, {}, 4025, 2},
        {"second format lacks qfDLLGetFormatInfo",
         {"TX.FIO", {Format("XXX", "x"), Format("XXY", "y")}, {}, "tfsparse"}, {"XXX"}, 4025, 4},
        {"second format answers null",
         {"TX.FIO", {Format("XXX", "x"), nullInfo, Format("XXZ", "z")}}, {"XXX"}, 0, 0},
    };
    for (const auto &c : cases) {
        Reset();
        Stage(c.plugin);
        Stage({"TG.FIO", {Format("GGG", "Good")}});
        std::vector<std::string> codes = {"GGG"};
        codes.insert(codes.end(), c.registered.begin(), c.registered.end());
        for (int start = 0; start < 2; start++) {
            EXPECT_EQ((int)codes.size(), Start()) << c.what;
            for (size_t i = 0; i < codes.size(); i++)
                EXPECT_STREQ(codes[i].c_str(), Formats->records[i].info.code) << c.what;
            if (start == 0) {
                RecordedError e = ReadError();
                EXPECT_EQ(c.error, e.id) << c.what;
                if (c.error) {
                    EXPECT_EQ(c.place, e.where3) << c.what;
                    EXPECT_NE(std::string::npos, e.text.find("TX.FIO")) << c.what << ": " << e.text;
                }
            } else {
                EXPECT_EQ(0, LoadsOf(loads, "TG.FIO")) << c.what;
                EXPECT_EQ(c.registered.empty() ? 1 : 0, LoadsOf(loads, "TX.FIO"))
                    << c.what << ": a plug-in with formats is cached with the ones it gave";
            }
        }
    }
}

TEST_F(Discovery, FiftyTwoFormatsFillTheTableToFortyNine)
{
    for (int p = 0; p < 13; p++) {
        TestPlugin plugin;
        plugin.name = "P" + std::to_string(p) + ".FIO";
        for (int j = 0; j < 4; j++) {
            char code[4];
            snprintf(code, sizeof code, "%c%02d", 'A' + j, p);
            plugin.formats.push_back(Format(code, "Format"));
        }
        Stage(plugin);
    }
    EXPECT_EQ(49, Start());
    for (LONG i = 1; i < Formats->count; i++)
        EXPECT_LT(lstrcmpiA(Formats->records[i - 1].info.code, Formats->records[i].info.code), 0);
    EXPECT_EQ(0, Formats->records[49].info.code[0]) << "nothing beyond the 49th record";
    EXPECT_EQ(8u + 6 + 140 * 52, ReadFileBytes(CachePath()).size()) << "the cache keeps all";

    std::vector<std::string> declared = Declared();
    EXPECT_EQ(49, Start());
    EXPECT_EQ(0, TotalLoads(loads));
    EXPECT_EQ(declared, Declared());
}

TEST_F(Discovery, NoMemoryForTheCacheStopsTheScanAndWritesNothing)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    Stage({"TB.FIO", {Format("BBB", "Second")}});
    const struct { SIZE_T failing; int place; LONG registered; } cases[] = {
        {CacheImageLength(1), 5, 1},   /* the cache's first entry */
        {CacheImageLength(2), 6, 2},   /* its growth by the second */
    };
    for (const auto &c : cases) {
        Attach();
        {
            FailingCalls fail(Call::Alloc, [&](int, SIZE_T bytes, const char *) { return bytes == c.failing; });
            EXPECT_EQ(c.registered, qfFileGetFileFmtNum()) << c.place;
        }
        RecordedError e = ReadError();
        EXPECT_EQ(1004u, e.id);
        EXPECT_EQ(2, e.where2);
        EXPECT_EQ(c.place, e.where3);
        EXPECT_FALSE(Exists(CachePath()));
        EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
    }
}

TEST_F(Discovery, NamesLongerThanACacheEntryAreLoadedButNeverCached)
{
    Stage({"TA.FIO", {Format("AAA", "Short")}});
    ASSERT_EQ(1, Start());
    Stage({"PLUGINNAME1.FIO", {Format("LNG", "Fifteen characters")}});
    Stage({"PLUGINNAME12.FIO", {Format("TOO", "Sixteen characters")}});
    DeleteFileA(loads.c_str());

    CacheImage cache;
    bool dirty = false;
    ExtensionSettings settings;
    EXPECT_EQ(0, ScanPlugin("PLUGINNAME1.FIO", &cache, &dirty, settings));
    EXPECT_EQ(2, Formats->count);
    EXPECT_STREQ("PLUGINNAME1.FIO", Formats->records[1].pluginName);
    EXPECT_EQ(nullptr, cache.data);
    EXPECT_FALSE(dirty);
    EXPECT_EQ(0, ScanPlugin("PLUGINNAME12.FIO", &cache, &dirty, settings));
    EXPECT_EQ(2, Formats->count);
    EXPECT_EQ(1, TotalLoads(loads));
}

TEST_F(Discovery, FieldsAPluginLeavesUnterminatedEndInsideTheField)
{
    TestFormat full = Format("UNT", "");
    full.keys = {{"Unterminated", "1"}};
    Stage({"TA.FIO", {full}});
    ASSERT_EQ(1, Start());
    const FormatInfo &info = Formats->records[0].info;
    EXPECT_EQ(sizeof info.code - 1, strnlen(info.code, sizeof info.code));
    EXPECT_EQ(sizeof info.description - 1, strnlen(info.description, sizeof info.description));
}

TEST_F(Discovery, FormatInfoWithoutMemoryRecordsTheFailure)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    ASSERT_EQ(1, Start());
    {
        FailingCalls fail(Call::Alloc, 1);
        EXPECT_EQ(nullptr, qfFileGetFormatInfo(1));
    }
    RecordedError e = ReadError();
    EXPECT_EQ(1004u, e.id);
    EXPECT_EQ(3, e.where2);
    EXPECT_EQ(2, e.where3);
}

} // namespace
