/* Discovery, the format cache file and binding, through fresh starts of the module's state. */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include "faults.h"
#include <string.h>

using namespace q32test;

namespace {

uint16_t U16(const std::string &b, size_t at) { uint16_t v; memcpy(&v, &b[at], 2); return v; }
uint32_t U32(const std::string &b, size_t at) { uint32_t v; memcpy(&v, &b[at], 4); return v; }

WIN32_FILE_ATTRIBUTE_DATA Attributes(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data;
}

/* The stamp a cache entry holds for a file: its last write as DOS time and date. */
uint32_t DosStamp(const std::string &path)
{
    FILETIME written = Attributes(path).ftLastWriteTime;
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&written, &date, &time);
    return MAKELONG(time, date);
}

std::string EntryBytes(const std::string &file, unsigned i)
{
    return file.substr(10 + 140 * i, 140);
}

class Discovery : public RegistryFixture {
protected:
    void StageTwo()
    {
        Stage({"TB.FIO", {Format("BMP", "Bitmap", 1, 7)}});
        Stage({"TA.FIO", {Format("tif", "Tagged", 1, 5), Format("PNG", "Portable", 1, 6)}});
    }
};

TEST_F(Discovery, ColdStartLoadsEachPluginOnceWarmStartNone)
{
    StageTwo();
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    SetCursor(cross);
    EXPECT_EQ(3, Start());
    std::vector<std::string> declared = {"BMP|Bitmap|TB.FIO|0", "PNG|Portable|TA.FIO|100",
                                         "TIF|Tagged|TA.FIO|0"};
    EXPECT_EQ(declared, Declared());
    EXPECT_EQ(6u, Record("PNG").info.runtimeValue);
    EXPECT_EQ(1, LoadsOf(loads, "TA.FIO"));
    EXPECT_EQ(1, LoadsOf(loads, "TB.FIO"));
    EXPECT_EQ(cross, GetCursor());
    EXPECT_EQ(0u, ReadError().id);
    EXPECT_TRUE(GetFileAttributesA(CachePath().c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
    EXPECT_EQ(3, qfFileGetFileFmtNum());
    EXPECT_EQ(2, TotalLoads(loads)) << "the second call does not look again";

    std::string bytes = ReadFileBytes(CachePath());
    FILETIME written = Attributes(CachePath()).ftLastWriteTime;
    Sleep(20);
    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, TotalLoads(loads));
    EXPECT_EQ(declared, Declared());
    EXPECT_EQ(0u, Record("PNG").info.runtimeValue) << "only a load supplies it";
    EXPECT_EQ(bytes, ReadFileBytes(CachePath()));
    FILETIME now = Attributes(CachePath()).ftLastWriteTime;
    EXPECT_EQ(0, CompareFileTime(&written, &now));
}

TEST_F(Discovery, WrittenCacheHoldsEveryField)
{
    TestFormat tif = Format("tif", "Tagged image", 0x00030005, 0x1234);
    tif.flags = 0x8001;
    tif.flags2 = 0x22;
    tif.openOptions = tif.saveOptions = 1;
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
    for (unsigned i = 0; i < 3; i++) {
        std::string e = EntryBytes(file, i), name = i ? "TB.FIO" : "ta.fio";
        EXPECT_EQ(name + std::string(14 - name.size(), '\0'), e.substr(0, 14)) << i;
        EXPECT_EQ(DosStamp(PluginPath(name)), U32(e, 14)) << i;
        EXPECT_EQ(0, U16(e, 18)) << i;
        EXPECT_EQ(Attributes(PluginPath(name)).nFileSizeLow, U32(e, 20)) << i;
        EXPECT_EQ(i ? 2u : 1u, U32(e, 24)) << i;
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
        << "as declared, code not upper-cased, run-time value 0";
    EXPECT_EQ("JPG", EntryBytes(file, 2).substr(28 + 28, 3));

    size_t tail = 10 + 140 * 3;
    EXPECT_EQ(0, U16(file, tail));
    uint16_t sum = 0;
    for (size_t at = 8; at < tail + 2; at += 2) sum ^= U16(file, at);
    EXPECT_EQ(sum ^ 1, U16(file, tail + 2));
}

TEST_F(Discovery, AChangedPluginAloneIsLoadedAndItsEntriesRewritten)
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

    /* TA grows a format: exactly two entries for it, TB's kept. */
    Stage({"TA.FIO", {Format("AAA", "First"), Format("AAB", "Second")}});
    ShiftWriteTime(PluginPath("TA.FIO"), 86400);
    EXPECT_EQ(3, Start());
    std::string file = ReadFileBytes(CachePath());
    ASSERT_EQ(after.size(), file.size());
    EXPECT_EQ("AAA", EntryBytes(file, 0).substr(56, 3));
    EXPECT_EQ("AAB", EntryBytes(file, 1).substr(56, 3));
    EXPECT_EQ(2u, U32(EntryBytes(file, 1), 24));
    EXPECT_EQ(EntryBytes(after, 2), EntryBytes(file, 2));
    EXPECT_EQ(3, Start());
    EXPECT_EQ(0, TotalLoads(loads));
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
    std::string countTooLarge = good, unterminated = good;
    countTooLarge[8] = 4;
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
    RecordedError e = ReadError();
    EXPECT_ERROR(4006, 1702, 27, 2);
    char text[256] = "";
    LoadStringA(ResourceModule, 4006, text, sizeof text);
    EXPECT_EQ(text, e.text);
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
        std::vector<std::string> codes;
        UINT error;
        int place;
    } cases[] = {
        {"no qfDLLGetFileFmtNum", {"TX.FIO", {Format("XXX", "x")}, {}, "tfnonum"}, {"GGG"}, 0, 0},
        {"declares 0 formats", {"TX.FIO", {Format("XXX", "x")}, 0}, {"GGG"}, 4025, 2},
        {"declares -3 formats", {"TX.FIO", {Format("XXX", "x")}, -3}, {"GGG"}, 4025, 2},
        {"second format lacks qfDLLGetFormatInfo",
         {"TX.FIO", {Format("XXX", "x"), Format("XXY", "y")}, {}, "tfsparse"}, {"GGG", "XXX"}, 4025,
         4},
        {"second format answers null",
         {"TX.FIO", {Format("XXX", "x"), nullInfo, Format("XXZ", "z")}}, {"GGG", "XXX"}, 0, 0},
    };
    for (const auto &c : cases) {
        Reset();
        Stage(c.plugin);
        Stage({"TG.FIO", {Format("GGG", "Good")}});
        for (int start = 0; start < 2; start++) {
            EXPECT_EQ((int)c.codes.size(), Start()) << c.what;
            for (size_t i = 0; i < c.codes.size(); i++)
                EXPECT_STREQ(c.codes[i].c_str(), Formats->records[i].info.code) << c.what;
            RecordedError e = ReadError();
            if (start == 1) {
                /* A plug-in with formats is cached with the ones it gave. */
                EXPECT_EQ(c.codes.size() > 1 ? 0 : 1, TotalLoads(loads)) << c.what;
            } else {
                EXPECT_EQ(c.error, e.id) << c.what;
                if (c.error) {
                    EXPECT_EQ(c.place, e.where3) << c.what;
                    EXPECT_NE(std::string::npos, e.text.find("TX.FIO")) << e.text;
                }
            }
        }
    }
}

TEST_F(Discovery, FiftyTwoFormatsFillTheTableToFortyNineTheCacheKeepsAll)
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
    EXPECT_EQ(8u + 6 + 140 * 52, ReadFileBytes(CachePath()).size());
    std::vector<std::string> declared = Declared();
    EXPECT_EQ(49, Start());
    EXPECT_EQ(0, TotalLoads(loads));
    EXPECT_EQ(declared, Declared());
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
    EXPECT_EQ(2, Formats->count);
    EXPECT_EQ(nullptr, cache.data);
    EXPECT_FALSE(dirty);
    EXPECT_EQ(0, ScanPlugin("PLUGINNAME12.FIO", &cache, &dirty, settings));
    EXPECT_EQ(2, Formats->count);
    EXPECT_EQ(1, TotalLoads(loads));
}

class Binding : public RegistryFixture {};

TEST_F(Binding, AFormatBindsItsOwnOrdinalsAndHoldsOneReference)
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
}

TEST_F(Binding, MissingExportsLeaveEmptySlots)
{
    TestFormat f = Format("SPA", "Sparse");
    f.fileData = "-2";
    Stage({"TS.FIO", {f}, {}, "tfsparse"});
    ASSERT_EQ(1, Start());
    ASSERT_EQ(1, BindPlugin(1));
    for (int k = 10; k <= 25; k++)
        EXPECT_EQ(k == 11 || k == 12 || k == 16 || k == 23, FindEntry(1, k) != nullptr) << k;
    auto fileData = reinterpret_cast<PFN_qfDLLGetFileData>(FindEntry(1, QF_ENTRY_GETFILEDATA));
    EXPECT_EQ(-2, fileData(nullptr, "x", 0, SuiteIniPath));
}

TEST_F(Binding, FailedLoadRecords4029KeepsTheDirectoryAndIsTriedAgain)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    ASSERT_EQ(1, Start());
    std::string hidden = dir / "TA.AWAY";
    ASSERT_TRUE(MoveFileA(PluginPath("TA.FIO").c_str(), hidden.c_str()));
    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    EXPECT_EQ(0, BindPlugin(1));
    /* The text names the plug-in file and the system's reason after it. */
    std::string text = ReadError().text;
    size_t named = text.find("TA.FIO: ");
    ASSERT_NE(std::string::npos, named) << text;
    EXPECT_LT(named + 8, text.size()) << text;
    EXPECT_ERROR(4029, 1702, 15, 1);
    EXPECT_EQ(nullptr, Formats->records[0].module);
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
    ASSERT_TRUE(MoveFileA(hidden.c_str(), PluginPath("TA.FIO").c_str()));
    EXPECT_EQ(1, BindPlugin(1));
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(before, after);
}

} // namespace
