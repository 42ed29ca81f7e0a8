/* The format registry driven directly: discovery, the format cache file, binding, the
   extension settings, the queries and FilterAction. */
#include "registry_fixture.h"
#include "registry/cache_image.h"
#include "faults.h"
#include <string.h>

using namespace q32test;

namespace {

class Registry : public RegistryFixture {
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


TEST_F(Registry, ColdStartWritesEveryFieldWarmStartLoadsNothing)
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

TEST_F(Registry, AChangedPluginAloneIsLoadedADamagedCacheRebuilt)
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
    EXPECT_EQ(after.substr(150, 280), file.substr(290, 280));

    /* A damaged file is rebuilt whole, every plug-in loaded. */
    for (std::string damaged : {"QFCACHE2" + file.substr(8), file.substr(0, file.size() - 1)}) {
        SetFileAttributesA(CachePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(CachePath(), damaged);
        EXPECT_EQ(4, Start());
        EXPECT_EQ(2, TotalLoads(loads));
        EXPECT_EQ(file, ReadFileBytes(CachePath()));
    }
}

TEST_F(Registry, PluginsWithoutUsableFormatsAreSkipped)
{
    TestFormat nullInfo = Format("NUL", "Answers null");
    nullInfo.infoNull = true;
    std::vector<TestFormat> x = {Format("XXX", "x")}, xy = {Format("XXX", "x"), Format("XXY", "y")};
    const struct { const char *what; TestPlugin plugin; size_t codes; UINT error; int place; }
    cases[] = {
        {"no qfDLLGetFileFmtNum", {"TX.FIO", x, {}, "tfnonum"}, 1, 0, 0},
        {"declares 0 formats", {"TX.FIO", x, 0}, 1, 4025, 2},
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
        EXPECT_EQ(std::make_pair(c.error, c.place), std::make_pair(e.id, e.where3)) << c.what;
        EXPECT_EQ(c.error != 0, e.text.find("TX.FIO") != std::string::npos) << e.text;
        /* A plug-in with formats is cached with the ones it gave. */
        EXPECT_EQ((int)c.codes, Start()) << c.what;
        EXPECT_EQ(c.codes > 1 ? 0 : 1, TotalLoads(loads)) << c.what;
    }
}

TEST_F(Registry, NoMemoryStopsTheScanAndWritesNothing)
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

TEST_F(Registry, UnterminatedFieldsAreCut)
{
    TestFormat full = Format("UNT", "");
    full.keys = {{"Unterminated", "1"}};
    Stage({"TA.FIO", {full}});
    ASSERT_EQ(1, Start());
    const FormatInfo &info = Formats->records[0].info;
    EXPECT_EQ(sizeof info.code - 1, strnlen(info.code, sizeof info.code));
    EXPECT_EQ(sizeof info.description - 1, strnlen(info.description, sizeof info.description));
}

TEST_F(Registry, BindingTakesAFormatsOwnOrdinalsAndOneReference)
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
    EXPECT_EQ(1, BindPlugin(1));
    EXPECT_EQ(1, TotalLoads(loads));
    Stop();
    EXPECT_EQ(nullptr, GetModuleHandleA("TA.FIO")) << "one free a binding";

    /* A failed load: 4029 naming the file; tried again later. */
    ASSERT_EQ(2, Start());
    std::string away = dir / "TA.AWAY";
    ASSERT_TRUE(MoveFileA(PluginPath("TA.FIO").c_str(), away.c_str()));
    EXPECT_EQ(0, BindPlugin(1));
    EXPECT_NE(std::string::npos, ReadError().text.find("TA.FIO: "));
    EXPECT_ERROR(4029, 1702, 15, 1);
    ASSERT_TRUE(MoveFileA(away.c_str(), PluginPath("TA.FIO").c_str()));
    EXPECT_EQ(1, BindPlugin(1));
}

/* Section FIO_EXT is read whole once a discovery; each key must come out of it as the
   profile function reads it from the file (through the module's 260-byte buffer). */
TEST_F(Registry, ExtensionSectionReadsLikeTheProfileFunction)
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

TEST_F(Registry, PerFormatQueriesAndTheirLimits)
{
    EXPECT_EQ(0, Start());
    EXPECT_ERROR(4006, 1702, 27, 2);
    Stage({"TA.FIO", {Format("tif", "Tagged", 0x00040003, 77)}});
    ASSERT_EQ(1, qfFileGetFileFmtNum()) << "an empty folder is looked at again";
    HGLOBAL block = qfFileGetFormatInfo(1);
    auto *info = static_cast<FormatInfo *>(GlobalLock(block));
    ASSERT_NE(nullptr, info);
    EXPECT_NE((void *)block, (void *)info) << "movable";
    EXPECT_STREQ("TIF", info->code);
    EXPECT_EQ(4, info->typeMaskHigh);
    EXPECT_EQ(77u, info->runtimeValue) << "registered from the plug-in itself";
    GlobalUnlock(block);
    GlobalFree(block);

    std::string expected = fio + "\\TA.FIO", untouched(expected.size() + 9, '\xcc');
    int size = (int)expected.size() + 1;
    std::string buffer = untouched;
    EXPECT_EQ(1, qfFileGetFullPath(1, &buffer[0], size));
    EXPECT_EQ(expected, buffer.c_str());
    buffer = untouched;
    EXPECT_EQ(0, qfFileGetFullPath(1, &buffer[0], size - 1));
    ExpectError(4026, 12, 2);
    EXPECT_EQ(untouched, buffer);
    EXPECT_EQ(nullptr, qfFileGetFormatInfo(2));
    ExpectError(4026, 3, 1);
    EXPECT_EQ(nullptr, qfFileLoadFIO(0));
    ExpectError(4026, 28, 1);
    EXPECT_EQ(0, qfFileGetFullPath(2, &buffer[0], size));
    ExpectError(4026, 12, 1);
}

TEST_F(Registry, ExtensionListsAndFormatNumbers)
{
    Stage({"TA.FIO", {Format("XYZ", "Ex why zed"), Format("JPG", "Joint photographic"),
                      Format("ABC", "Letters"), Format("QQQ", "Queue")}});
    Stage({"TB.FIO", {Format("DEF", "Cut")}});
    std::string longA(62, 'A'), longB(62, 'B'), cut;
    for (int i = 0; i < 16; i++) cut += "EX" + std::to_string(10 + i) + ";"; /* 80 chars */
    SetKey("JPG_EXT", "jpeg;jpe;"); /* a fixed list: written back at attach */
    SetKey("XYZ_EXT", "JPE;");
    SetKey("QQQ_USER", "Q1;;Q2");
    SetKey("JPG_USER", "JFIF;");
    SetKey("ABC_EXT", (longA + ";").c_str());
    SetKey("ABC_USER", (longB + ";").c_str());
    SetKey("DEF_EXT", cut.c_str());
    ASSERT_EQ(5, Start()); /* ABC, DEF, JPG, QQQ, XYZ */
    const struct { int format, kind; std::string text; } lists[] = {
        {3, 1, "JPEG;JPE;JFIF;"}, {3, 2, "JPEG;JPE;"}, {3, 3, "JFIF;"},
        {3, 4, "JPG;JPEG;JPE;JFIF;"}, {3, 5, ""}, {4, 2, ""},
        {1, 4, "ABC;" + longA + ";" + longB + ";"}, /* fills the buffer */
        {2, 2, cut.substr(0, 60)}, /* cut after the last whole extension in 63 characters */
    };
    for (const auto &c : lists) {
        std::string buffer(Q32_FORMAT_EXT_SIZE + 16, '\xcc');
        EXPECT_EQ(1, qfFileGetFormatExt(c.format, &buffer[0], c.kind)) << c.kind;
        size_t after = c.text.size() + 1;
        EXPECT_EQ(c.text + '\0' + std::string(buffer.size() - after, '\xcc'), buffer) << c.kind;
    }
    char buffer[Q32_FORMAT_EXT_SIZE];
    EXPECT_EQ(0, qfFileGetFormatExt(6, buffer, 1));
    ExpectError(4026, 2, 1);

    const struct { const char *extension, *description; int format; } numbers[] = {
        {"jpe", nullptr, 3}, /* in JPG's list and XYZ's: the smaller code */
        {"xyz", nullptr, 5}, /* by code */
        {"q2", nullptr, 4},  /* user list only */
        {"ex21", nullptr, 2},
        {"ex2", nullptr, -1}, /* the piece of EX22 the cut left out */
        {"jpe", "ex WHY zed", 5},
        {nullptr, "joint PHOTOGRAPHIC", 3},
        {"abc", "Joint photographic", -1},
        {"JPE;", nullptr, -1},
    };
    for (const auto &c : numbers)
        EXPECT_EQ(c.format, q32FileGetFormatID(c.extension, c.description))
            << (c.extension ? c.extension : "-") << " / " << (c.description ? c.description : "-");
    EXPECT_EQ(-1, q32FileGetFormatID(nullptr, nullptr));
    ExpectError(4026, 1, 1);
}

/* The texts of a filter string, up to its final empty text. */
std::vector<std::string> Texts(const char *area)
{
    std::vector<std::string> texts;
    for (const char *p = area; *p; p += strlen(p) + 1) texts.push_back(p);
    return texts;
}

/* BMP without lists (its fixed list removed after the attach wrote it) and JPG with its
   fixed list and open and save options. */
TEST_F(Registry, FilterListsTheFormatsOfTheSelection)
{
    TestFormat bmp = Format("BMP", "Bitmap", 0x1), jpg = Format("JPG", "Joint", 0x2);
    bmp.flags = 0x11;
    bmp.flags2 = 0x22;
    jpg.openOptions = jpg.saveOptions = 1;
    Stage({"TA.FIO", {bmp, jpg}});
    Attach();
    SetKey("BMP_EXT", nullptr);
    HGLOBAL list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD,
                                         FILTER_ALL_FORMATS | FILTER_ALL_FILES);
    ASSERT_NE(nullptr, list);
    const char *area = (const char *)FilterAction(list, FILTER_TEXT, 0);
    EXPECT_EQ((std::vector<std::string>{"All image files", "*.JPG;*.BMP;*.JPEG;*.JPE;*.*",
                                        "BMP (Bitmap)", "*.BMP", "JPG/JPEG/JPE (Joint)",
                                        "*.JPG;*.JPEG;*.JPE", "* (All files)", "*.*"}),
              Texts(area));
    auto *header = static_cast<FilterList *>(list);
    EXPECT_EQ(0, memcmp(header->magic, "FTR1", 4));
    EXPECT_EQ(4, FilterAction(list, FILTER_COUNT, 0));
    const struct { WORD format, options; DWORD flags, mask; } entries[] = {
        {0, 0, 0, 0}, {1, 0, 0x00220011, 1}, {2, 3, 1, 2}, {0, 0, 0, 0},
    };
    for (int i = 0; i < 4; i++) {
        const FilterEntry &e = header->entries[i];
        EXPECT_EQ(entries[i].flags, e.formatFlags) << i;
        EXPECT_EQ(entries[i].mask, e.typeMask) << i;
        EXPECT_EQ(area + e.nameOffset, (const char *)FilterAction(list, FILTER_NAME, i)) << i;
        EXPECT_EQ(entries[i].format, FilterAction(list, FILTER_FORMAT, i)) << i;
        EXPECT_EQ(entries[i].options, FilterAction(list, FILTER_OPTIONS, i)) << i;
    }
    EXPECT_EQ(2, FilterAction(list, FILTER_INDEX_OF, 2));
    EXPECT_EQ(0, FilterAction(list, FILTER_INDEX_OF, 3)) << "not listed";
    for (int action : {FILTER_FORMAT, FILTER_PATTERN, FILTER_NAME, FILTER_OPTIONS})
        EXPECT_EQ(0, FilterAction(list, action, 4)) << action;
    EXPECT_EQ(1, FilterAction(list, FILTER_FREE, 0));

    const struct { DWORD selection; std::vector<std::string> texts; } cases[] = {
        {0x02, {"JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE"}},
        {0x84, {"* (All files)", "*.*"}},
    };
    for (const auto &c : cases) {
        list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, c.selection);
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(c.texts, Texts((const char *)FilterAction(list, FILTER_TEXT, 0)));
        /* One slot a format and one the all-files entry, used or not: the text stands where
           a caller that counts them finds it (16 x (M + 1) in 32 bits). */
        size_t slots = 2 + (c.selection & FILTER_ALL_FILES ? 1 : 0);
        header = static_cast<FilterList *>(list);
        EXPECT_EQ((ptrdiff_t)(sizeof(FilterList) + 16 * slots), header->text - (char *)list);
        FilterAction(list, FILTER_FREE, 0);
    }
}

/* q32FileGetFIOPath into a poisoned buffer: nothing beyond size is written, and the answer
   is the text's length. */
std::string FioPath(int size)
{
    std::string buffer(size + 32, '\xcc');
    int n = q32FileGetFIOPath(&buffer[0], size);
    EXPECT_EQ(std::string(32, '\xcc'), buffer.substr(size)) << "written past " << size;
    std::string text = buffer.c_str();
    EXPECT_EQ((size_t)n, text.size());
    return text;
}

TEST_F(Registry, FioFolderBesideTheModuleWinsThenTheIniValueAsWritten)
{
    Attach();
    std::string longValue = "C:\\" + std::string(400, 'p');
    WritePrivateProfileStringA("Library", "FIO3PATH", longValue.c_str(), ini.c_str());
    EXPECT_EQ(fio + "\\", FioPath(260));
    RemoveDirectoryA(fio.c_str());
    const struct { int size; size_t expected; } cases[] = {
        {1, 0}, {2, 1}, {259, 258}, {260, 259}, {261, 259}, {1000, 259},
    };
    for (const auto &c : cases)
        EXPECT_EQ(longValue.substr(0, c.expected), FioPath(c.size)) << "size " << c.size;
}

} // namespace
