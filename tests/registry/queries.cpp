/* The format queries, FilterAction and the module's paths over a discovered table. */
#include "registry_fixture.h"
#include <string.h>

using namespace q32test;

namespace {

using Queries = RegistryFixture;

TEST_F(Queries, PerFormatQueriesAndTheirLimits)
{
    Stage({"TA.FIO", {Format("tif", "Tagged", 0x00040003, 77)}});
    ASSERT_EQ(1, Start());
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

TEST_F(Queries, ExtensionListsAndFormatNumbers)
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
TEST_F(Queries, FilterListsTheFormatsOfTheSelection)
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
           a caller that counts them finds it (16 x (M + 1) in 32 bits); unused slots zero. */
        size_t slots = 2 + (c.selection & FILTER_ALL_FILES ? 1 : 0);
        header = static_cast<FilterList *>(list);
        EXPECT_EQ((ptrdiff_t)(sizeof(FilterList) + 16 * slots), header->text - (char *)list);
        const FilterEntry zero = {};
        for (size_t i = (size_t)header->count; i < slots; i++)
            EXPECT_EQ(0, memcmp(&zero, header->entries + i, sizeof zero)) << c.selection << i;
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

TEST_F(Queries, FioFolderBesideTheModuleWinsThenTheIniValueAsWritten)
{
    Attach();
    EXPECT_EQ(fio + "\\", FioPath(260));
    WritePrivateProfileStringA("Library", "FIO3PATH", "C:\\elsewhere", ini.c_str());
    EXPECT_EQ(fio + "\\", FioPath(260));
    RemoveDirectoryA(fio.c_str());
    std::string longValue = "C:\\" + std::string(400, 'p');
    WritePrivateProfileStringA("Library", "FIO3PATH", longValue.c_str(), ini.c_str());
    const struct { int size; size_t expected; } cases[] = {
        {1, 0}, {2, 1}, {259, 258}, {260, 259}, {261, 259}, {1000, 259},
    };
    for (const auto &c : cases)
        EXPECT_EQ(longValue.substr(0, c.expected), FioPath(c.size)) << "size " << c.size;
}

} // namespace
