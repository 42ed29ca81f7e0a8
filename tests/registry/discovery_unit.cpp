/* Discovery, the format cache file, binding and the extension settings section, through
   fresh starts of the module's state. */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include "faults.h"
#include <string.h>

using namespace q32test;

namespace {

uint16_t U16(const std::string &b, size_t at) { uint16_t v; memcpy(&v, &b[at], 2); return v; }
uint32_t U32(const std::string &b, size_t at) { uint32_t v; memcpy(&v, &b[at], 4); return v; }

/* The stamp a cache entry holds for a file: its last write as DOS time and date. */
uint32_t DosStamp(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&data.ftLastWriteTime, &date, &time);
    return MAKELONG(time, date);
}

std::string EntryBytes(const std::string &b, unsigned i) { return b.substr(10 + 140 * i, 140); }

class Discovery : public RegistryFixture {
protected:
    /* ta.fio: BMP; TB.FIO (changed later): TIF with every field set, and JPG. */
    void StageTwo()
    {
        TestFormat tif = Format("tif", "Tagged", 0x00030005, 0x1234);
        tif.flags = 0x8001;
        tif.flags2 = 0x22;
        tif.openOptions = tif.saveOptions = 1;
        tif.signature1 = "4949";
        tif.signature2 = "4D4D2A00";
        Stage({"TB.FIO", {tif, Format("JPG", "Joint")}});
        Stage({"ta.fio", {Format("BMP", "Bitmap", 1, 7)}});
        ShiftWriteTime(PluginPath("TB.FIO"), 3 * 86400);
    }
};

TEST_F(Discovery, ColdStartWritesEveryFieldWarmStartLoadsNothing)
{
    StageTwo();
    EXPECT_EQ(3, Start());
    std::vector<std::string> declared = {"BMP|Bitmap|ta.fio|0", "JPG|Joint|TB.FIO|100",
                                         "TIF|Tagged|TB.FIO|0"};
    EXPECT_EQ(declared, Declared());
    EXPECT_EQ(7u, Record("BMP").info.runtimeValue);
    EXPECT_EQ(1, LoadsOf(loads, "ta.fio"));
    EXPECT_EQ(1, LoadsOf(loads, "TB.FIO"));
    EXPECT_EQ(0u, ReadError().id);
    EXPECT_TRUE(GetFileAttributesA(CachePath().c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
    EXPECT_EQ(3, qfFileGetFileFmtNum());
    EXPECT_EQ(2, TotalLoads(loads)) << "the second call does not look again";

    std::string file = ReadFileBytes(CachePath());
    ASSERT_EQ(8u + 6 + 140 * 3, file.size());
    EXPECT_EQ("QFCACHE1", file.substr(0, 8));
    EXPECT_EQ(3, U16(file, 8));
    for (unsigned i = 0; i < 3; i++) {
        std::string e = EntryBytes(file, i), name = i ? "TB.FIO" : "ta.fio";
        EXPECT_EQ(name + std::string(14 - name.size(), '\0'), e.substr(0, 14)) << i;
        EXPECT_EQ(DosStamp(PluginPath(name)), U32(e, 14)) << i;
        EXPECT_EQ(0, U16(e, 18)) << i;
        EXPECT_EQ(ReadFileBytes(PluginPath(name)).size(), U32(e, 20)) << i;
        EXPECT_EQ(i ? 2u : 1u, U32(e, 24)) << i;
    }
    /* The FormatInfo as the plug-in declares it (code not upper-cased), run-time value 0. */
    FormatInfo expected = Record("TIF").info;
    strcpy(expected.code, "tif");
    expected.runtimeValue = 0;
    EXPECT_EQ(0, memcmp(&expected, &EntryBytes(file, 1)[28], sizeof expected));
    EXPECT_EQ("JPG", EntryBytes(file, 2).substr(28 + 28, 3));
    EXPECT_EQ(0, U16(file, 10 + 140 * 3));
    EXPECT_TRUE(CheckCacheImage(reinterpret_cast<uint8_t *>(&file[8]), file.size() - 8));

    ShiftWriteTime(CachePath(), -10 * 86400);
    uint32_t written = DosStamp(CachePath());
    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, TotalLoads(loads));
    EXPECT_EQ(declared, Declared());
    EXPECT_EQ(0u, Record("BMP").info.runtimeValue) << "only a load supplies it";
    EXPECT_EQ(written, DosStamp(CachePath())) << "not rewritten";
}

TEST_F(Discovery, AChangedPluginAloneIsLoadedADamagedCacheRebuilt)
{
    StageTwo();
    ASSERT_EQ(3, Start());
    std::string before = ReadFileBytes(CachePath());
    ShiftWriteTime(PluginPath("TB.FIO"), 86400);
    EXPECT_EQ(3, Start());
    EXPECT_EQ(1, TotalLoads(loads));
    EXPECT_EQ(1, LoadsOf(loads, "TB.FIO"));
    std::string after = ReadFileBytes(CachePath());
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(EntryBytes(before, 0), EntryBytes(after, 0)) << "ta's entry untouched";
    EXPECT_EQ(DosStamp(PluginPath("TB.FIO")), U32(EntryBytes(after, 2), 14));

    /* ta grows a format: exactly two entries for it, TB's kept. */
    Stage({"ta.fio", {Format("AAA", "First"), Format("AAB", "Second")}});
    ShiftWriteTime(PluginPath("ta.fio"), 86400);
    EXPECT_EQ(4, Start());
    std::string file = ReadFileBytes(CachePath());
    ASSERT_EQ(after.size() + 140, file.size());
    EXPECT_EQ("AAB", EntryBytes(file, 1).substr(56, 3));
    EXPECT_EQ(2u, U32(EntryBytes(file, 1), 24));
    EXPECT_EQ(after.substr(150, 280), file.substr(290, 280));
    EXPECT_EQ(4, Start());
    EXPECT_EQ(0, TotalLoads(loads));

    /* A damaged file is rebuilt whole, every plug-in loaded. */
    for (std::string damaged : {"QFCACHE2" + file.substr(8), file.substr(0, file.size() - 1)}) {
        SetFileAttributesA(CachePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(CachePath(), damaged);
        EXPECT_EQ(4, Start());
        EXPECT_EQ(2, TotalLoads(loads));
        EXPECT_EQ(file, ReadFileBytes(CachePath()));
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
        EXPECT_EQ(expected, Start()) << c.os;
        EXPECT_EQ(expected, Start()) << c.os;
        EXPECT_EQ(c.considered ? 1 : 0, TotalLoads(loads)) << c.os;

        std::string cache = (atoi(c.os) >= 6 ? appData : suite + "\\") + "Q32FILE.CFG";
        std::string file = ReadFileBytes(cache);
        ASSERT_EQ(8u + 6 + 140 * 2, file.size()) << c.os;
        EXPECT_EQ("xgffy.fio", EntryBytes(file, 1).substr(0, 9));
        SetFileAttributesA(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(cache.c_str());
    }
}

TEST_F(Discovery, EmptyFolderRecords4006AndTriesAgainNextTime)
{
    EXPECT_EQ(0, Start());
    EXPECT_ERROR(4006, 1702, 27, 2);
    Stage({"TA.FIO", {Format("AAA", "Late")}});
    EXPECT_EQ(1, qfFileGetFileFmtNum());
}

TEST_F(Discovery, PluginsWithoutUsableFormatsAreSkipped)
{
    TestFormat nullInfo = Format("NUL", "Answers null");
    nullInfo.infoNull = true;
    std::vector<TestFormat> x = {Format("XXX", "x")}, xy = {Format("XXX", "x"), Format("XXY", "y")};
    const struct { const char *what; TestPlugin plugin; size_t codes; UINT error; int place; }
    cases[] = {
        {"no qfDLLGetFileFmtNum", {"TX.FIO", x, {}, "tfnonum"}, 1, 0, 0},
        {"declares 0 formats", {"TX.FIO", x, 0}, 1, 4025, 2},
        {"declares -3 formats", {"TX.FIO", x, -3}, 1, 4025, 2},
        {"second format lacks qfDLLGetFormatInfo", {"TX.FIO", xy, {}, "tfsparse"}, 2, 4025, 4},
        {"second format answers null", {"TX.FIO", {x[0], nullInfo, Format("XXZ", "z")}}, 2, 0, 0},
    };
    for (const auto &c : cases) {
        Reset();
        Stage(c.plugin);
        Stage({"TG.FIO", {Format("GGG", "Good")}});
        std::vector<std::string> codes = {"GGG|Good|TG.FIO|0", "XXX|x|TX.FIO|0"};
        codes.resize(c.codes);
        EXPECT_EQ((int)c.codes, Start()) << c.what;
        EXPECT_EQ(codes, Declared()) << c.what;
        RecordedError e = ReadError();
        EXPECT_EQ(c.error, e.id) << c.what;
        if (c.error) {
            EXPECT_EQ(c.place, e.where3) << c.what;
            EXPECT_NE(std::string::npos, e.text.find("TX.FIO")) << e.text;
        }
        /* A plug-in with formats is cached with the ones it gave. */
        EXPECT_EQ((int)c.codes, Start()) << c.what;
        EXPECT_EQ(c.codes > 1 ? 0 : 1, TotalLoads(loads)) << c.what;
    }
}

TEST_F(Discovery, NoMemoryStopsTheScanAndWritesNothing)
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
            FailingCalls fail(Call::Alloc,
                              [&](int, SIZE_T bytes, const char *) { return bytes == c.failing; });
            EXPECT_EQ(c.registered, qfFileGetFileFmtNum()) << c.place;
        }
        EXPECT_ERROR(1004, 1702, 2, c.place);
        EXPECT_FALSE(Exists(CachePath()));
        EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
    }
    ASSERT_EQ(2, Start());
    {
        FailingCalls fail(Call::Alloc, 1);
        EXPECT_EQ(nullptr, qfFileGetFormatInfo(1));
    }
    EXPECT_ERROR(1004, 1702, 3, 2);
}

TEST_F(Discovery, OverlongNamesAndFieldsAreCut)
{
    TestFormat full = Format("UNT", "");
    full.keys = {{"Unterminated", "1"}};
    Stage({"TA.FIO", {full}});
    ASSERT_EQ(1, Start());
    const FormatInfo &info = Formats->records[0].info;
    EXPECT_EQ(sizeof info.code - 1, strnlen(info.code, sizeof info.code));
    EXPECT_EQ(sizeof info.description - 1, strnlen(info.description, sizeof info.description));

    /* A 15-character name is loaded but never cached, a 16-character one not loaded. */
    Stage({"PLUGINNAME1.FIO", {Format("LNG", "Fifteen characters")}});
    Stage({"PLUGINNAME12.FIO", {Format("TOO", "Sixteen characters")}});
    DeleteFileA(loads.c_str());
    CacheImage cache;
    bool dirty = false;
    ExtensionSettings settings;
    EXPECT_EQ(0, ScanPlugin("PLUGINNAME1.FIO", &cache, &dirty, settings));
    EXPECT_EQ(0, ScanPlugin("PLUGINNAME12.FIO", &cache, &dirty, settings));
    EXPECT_EQ(2, Formats->count);
    EXPECT_EQ(nullptr, cache.data);
    EXPECT_FALSE(dirty);
    EXPECT_EQ(std::vector<std::string>{"PLUGINNAME1.FIO"}, ReadLines(loads));
}

TEST_F(Discovery, BindingTakesAFormatsOwnOrdinalsAndOneReference)
{
    Stage({"TA.FIO", {Format("AAA", "First"), Format("BBB", "Second")}});
    ASSERT_EQ(2, Start());
    DeleteFileA(loads.c_str());
    EXPECT_EQ(nullptr, FindEntry(2, QF_ENTRY_READ)) << "not bound yet";
    ASSERT_EQ(1, BindPlugin(2));
    EXPECT_EQ(1, BindPlugin(2)) << "bound already";
    HMODULE plugin = GetModuleHandleA("TA.FIO");
    EXPECT_EQ(plugin, Formats->records[1].module);
    for (int k : {10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 23, 25})
        EXPECT_EQ(GetProcAddress(plugin, MAKEINTRESOURCEA(100 + k)), FindEntry(2, k)) << k;
    /* +13 and +22 are exported but never found. */
    for (int k : {0, 9, 13, 21, 22, 24, 26, 111}) EXPECT_EQ(nullptr, FindEntry(2, k)) << k;
    EXPECT_EQ(nullptr, FindEntry(1, QF_ENTRY_READ)) << "formats bind alone";
    EXPECT_EQ(nullptr, FindEntry(3, QF_ENTRY_READ));
    EXPECT_EQ(1, BindPlugin(1));
    EXPECT_EQ(1, TotalLoads(loads));
    Stop();
    EXPECT_EQ(nullptr, GetModuleHandleA("TA.FIO")) << "one free a binding";

    /* A failed load: 4029 naming the file, the current folder kept; tried again later. */
    ASSERT_EQ(2, Start());
    std::string away = dir / "TA.AWAY";
    ASSERT_TRUE(MoveFileA(PluginPath("TA.FIO").c_str(), away.c_str()));
    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    EXPECT_EQ(0, BindPlugin(1));
    EXPECT_NE(std::string::npos, ReadError().text.find("TA.FIO: "));
    EXPECT_ERROR(4029, 1702, 15, 1);
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
    ASSERT_TRUE(MoveFileA(away.c_str(), PluginPath("TA.FIO").c_str()));
    EXPECT_EQ(1, BindPlugin(1));
}

/* Section FIO_EXT is read whole once a discovery; each key must come out of it as the
   profile function reads it from the file (through the module's 260-byte buffer). */
TEST_F(Discovery, ExtensionSectionReadsLikeTheProfileFunction)
{
    WriteFileBytes(ini, "[Other]\r\nA_EXT=wrong section\r\n[FIO_EXT]\r\n"
                        "SPC_EXT =  spaced ; value  \r\nQUO_EXT=\"quoted;\"\r\n"
                        "SQU_EXT='single;'\r\nHALF_EXT=\"half;\r\nMIX_EXT=\"mixed;'\r\n"
                        "low_ext=lower;key;\r\nEMP_EXT=\r\nDUP_EXT=first;\r\nDUP_EXT=second;\r\n"
                        ";COM_EXT=comment\r\nEQ_EXT==equals=;\r\n"
                        "LONG_EXT=" + std::string(300, 'L') + "\r\n[Later]\r\nB_EXT=x\r\n");
    Attach();
    ExtensionSettings settings;
    for (const char *key : {"SPC_EXT", "QUO_EXT", "SQU_EXT", "HALF_EXT", "MIX_EXT", "LOW_EXT",
                            "EMP_EXT", "DUP_EXT", "COM_EXT", "EQ_EXT", "LONG_EXT", "A_EXT", "B_EXT",
                            "NONE_EXT", "JPG_EXT"}) {
        char expected[260] = "", got[260] = "";
        DWORD n = GetPrivateProfileStringA("FIO_EXT", key, nullptr, expected, sizeof expected,
                                           ini.c_str());
        EXPECT_EQ((size_t)n, settings.Read(key, got, sizeof got)) << key;
        EXPECT_STREQ(expected, got) << key;
    }
}

} // namespace
