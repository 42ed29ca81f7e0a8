/* The format queries and FilterAction through a loaded copy of the module. */
#include "sandbox.h"
#include <string.h>

using namespace q32test;
using ModuleRegistry = ModuleSandbox;

namespace {

TEST_F(ModuleRegistry, PerFormatQueriesAndTheirLimits)
{
    Stage({"TA.FIO", {Format("tif", "Tagged", 0x00040003, 77)}});
    Load();
    auto formatInfo = Q32_EXPORT(module, qfFileGetFormatInfo);
    HGLOBAL block = formatInfo(1);
    auto *info = static_cast<FormatInfo *>(GlobalLock(block));
    ASSERT_NE(nullptr, info);
    EXPECT_NE((void *)block, (void *)info) << "movable";
    EXPECT_STREQ("TIF", info->code);
    EXPECT_EQ(4, info->typeMaskHigh);
    EXPECT_EQ(77u, info->runtimeValue) << "registered from the plug-in itself";
    GlobalUnlock(block);
    GlobalFree(block);

    auto loadFio = Q32_EXPORT(module, qfFileLoadFIO);
    HMODULE plugin = loadFio(1);
    ASSERT_EQ(plugin, loadFio(1));
    FreeLibrary(plugin);
    EXPECT_EQ(plugin, GetModuleHandleA("TA.FIO")) << "one reference a call";
    FreeLibrary(plugin);
    EXPECT_EQ(nullptr, GetModuleHandleA("TA.FIO"));

    auto fullPath = Q32_EXPORT(module, qfFileGetFullPath);
    std::string expected = fio + "\\TA.FIO", untouched(expected.size() + 9, '\xcc');
    int size = (int)expected.size() + 1;
    std::string buffer = untouched;
    EXPECT_EQ(1, fullPath(1, &buffer[0], size));
    EXPECT_EQ(expected, buffer.c_str());
    for (int tooSmall : {size - 1, 0}) {
        buffer = untouched;
        EXPECT_EQ(0, fullPath(1, &buffer[0], tooSmall));
        ExpectError(4026, 12, 2);
        EXPECT_EQ(untouched, buffer);
    }
    for (int format : {0, -1, 2}) {
        EXPECT_EQ(nullptr, formatInfo(format));
        ExpectError(4026, 3, 1, std::to_string(format));
        EXPECT_EQ(nullptr, loadFio(format));
        ExpectError(4026, 28, 1, std::to_string(format));
        EXPECT_EQ(0, fullPath(format, &buffer[0], size));
        ExpectError(4026, 12, 1, std::to_string(format));
    }
}

TEST_F(ModuleRegistry, ExtensionListsAndFormatNumbers)
{
    Stage({"TA.FIO", {Format("XYZ", "Ex why zed"), Format("JPG", "Joint photographic"),
                      Format("ABC", "Letters"), Format("QQQ", "Queue")}});
    std::string longA(62, 'A'), longB(62, 'B');
    SetKey("XYZ_EXT", "JPE;");
    SetKey("QQQ_USER", "QU1;QU2;");
    SetKey("JPG_USER", "JFIF;");
    SetKey("ABC_EXT", (longA + ";").c_str());
    SetKey("ABC_USER", (longB + ";").c_str());
    Load();
    ASSERT_EQ(4, Q32_EXPORT(module, qfFileGetFileFmtNum)());   /* ABC, JPG, QQQ, XYZ */
    auto formatExt = Q32_EXPORT(module, qfFileGetFormatExt);
    const struct { int format, kind; std::string text; } lists[] = {
        {2, 1, "JPEG;JPE;JFIF;"}, {2, 2, "JPEG;JPE;"}, {2, 3, "JFIF;"},
        {2, 4, "JPG;JPEG;JPE;JFIF;"}, {2, 0, ""}, {2, 5, ""},
        {1, 4, "ABC;" + longA + ";" + longB + ";"},     /* fills the buffer */
    };
    for (const auto &c : lists) {
        std::string buffer(Q32_FORMAT_EXT_SIZE + 16, '\xcc');
        EXPECT_EQ(1, formatExt(c.format, &buffer[0], c.kind)) << c.kind;
        EXPECT_EQ(c.text, buffer.c_str()) << c.kind;
        size_t after = c.text.size() + 1;
        EXPECT_EQ(std::string(buffer.size() - after, '\xcc'), buffer.substr(after)) << c.kind;
    }
    char buffer[Q32_FORMAT_EXT_SIZE];
    for (int format : {0, 5}) {
        EXPECT_EQ(0, formatExt(format, buffer, 1));
        ExpectError(4026, 2, 1);
    }
    EXPECT_EQ(0, formatExt(1, nullptr, 1));
    ExpectError(4026, 2, 1, "null buffer");

    auto formatId = Q32_EXPORT(module, q32FileGetFormatID);
    const struct { const char *extension, *description; int format; } numbers[] = {
        {"jpe", nullptr, 2},          /* in JPG's list and XYZ's: the smaller code */
        {"xyz", nullptr, 4},          /* by code */
        {"qu2", nullptr, 3},          /* user list only */
        {"jpe", "ex WHY zed", 4},
        {nullptr, "joint PHOTOGRAPHIC", 2},
        {"abc", "Joint photographic", -1},
        {"JPE;", nullptr, -1},
    };
    for (const auto &c : numbers)
        EXPECT_EQ(c.format, formatId(c.extension, c.description))
            << (c.extension ? c.extension : "-") << " / " << (c.description ? c.description : "-");
    c32ResetDLLErrInfo();
    EXPECT_EQ(-1, formatId(nullptr, nullptr));
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
TEST_F(ModuleRegistry, FilterListsTheFormatsOfTheSelection)
{
    TestFormat bmp = Format("BMP", "Bitmap", 0x1), jpg = Format("JPG", "Joint", 0x2);
    bmp.flags = 0x11;
    bmp.flags2 = 0x22;
    jpg.openOptions = jpg.saveOptions = 1;
    Stage({"TA.FIO", {bmp, jpg}});
    Load();
    SetKey("BMP_EXT", nullptr);
    auto filter = Q32_EXPORT(module, FilterAction);

    HGLOBAL list = (HGLOBAL)filter(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS | FILTER_ALL_FILES);
    ASSERT_NE(nullptr, list);
    const char *area = (const char *)filter(list, FILTER_TEXT, 0);
    EXPECT_EQ((std::vector<std::string>{"All image files", "*.JPG;*.BMP;*.JPEG;*.JPE;*.*",
                                        "BMP (Bitmap)", "*.BMP", "JPG/JPEG/JPE (Joint)",
                                        "*.JPG;*.JPEG;*.JPE", "* (All files)", "*.*"}),
              Texts(area));
    auto *header = static_cast<FilterList *>(list);
    EXPECT_EQ(0, memcmp(header->magic, "FTR1", 4));
    EXPECT_EQ(4, filter(list, FILTER_COUNT, 0));
    const struct { WORD format, options; DWORD flags, mask; } entries[] = {
        {0, 0, 0, 0}, {1, 0, 0x00220011, 1}, {2, 3, 1, 2}, {0, 0, 0, 0},
    };
    for (int i = 0; i < 4; i++) {
        const FilterEntry &e = header->entries[i];
        EXPECT_EQ(entries[i].flags, e.formatFlags) << i;
        EXPECT_EQ(entries[i].mask, e.typeMask) << i;
        EXPECT_EQ(area + e.nameOffset, (const char *)filter(list, FILTER_NAME, i)) << i;
        EXPECT_EQ(entries[i].format, filter(list, FILTER_FORMAT, i)) << i;
        EXPECT_EQ(entries[i].options, filter(list, FILTER_OPTIONS, i)) << i;
    }
    EXPECT_EQ(2, filter(list, FILTER_INDEX_OF, 2));
    EXPECT_EQ(0, filter(list, FILTER_INDEX_OF, 3)) << "not listed";
    for (int action : {FILTER_FORMAT, FILTER_PATTERN, FILTER_NAME, FILTER_OPTIONS})
        for (DWORD index : {4u, 0xFFFFFFFFu})
            EXPECT_EQ(0, filter(list, action, index)) << action << " " << index;
    EXPECT_EQ(1, filter(list, FILTER_FREE, 0));

    const struct { DWORD selection; std::vector<std::string> texts; } cases[] = {
        {0x02, {"JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE"}},
        {0x04, {}},
        {0x84, {"* (All files)", "*.*"}},
    };
    for (const auto &c : cases) {
        list = (HGLOBAL)filter(nullptr, FILTER_BUILD, c.selection);
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(c.texts, Texts((const char *)filter(list, FILTER_TEXT, 0))) << c.selection;
        /* One slot a format and one the all-files entry, used or not: the text stands where
           a caller that counts them finds it (16 x (M + 1) in 32 bits); unused slots zero. */
        size_t slots = 2 + (c.selection & FILTER_ALL_FILES ? 1 : 0);
        header = static_cast<FilterList *>(list);
        ptrdiff_t textAt = header->text - (char *)list;
        EXPECT_EQ((ptrdiff_t)(sizeof(FilterList) + 16 * slots), textAt) << c.selection;
        const FilterEntry zero = {};
        for (size_t i = (size_t)header->count; i < slots; i++)
            EXPECT_EQ(0, memcmp(&zero, header->entries + i, sizeof zero)) << c.selection << i;
        filter(list, FILTER_FREE, 0);
    }
}

} // namespace
