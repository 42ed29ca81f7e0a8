/* FilterAction through a loaded copy of the module. */
#include "sandbox.h"
#include <string.h>
#include <vector>

using namespace q32test;
using ModuleRegistry = ModuleSandbox;

namespace {

/* The texts of a filter string, up to (not including) its final empty text. */
std::vector<std::string> Texts(const char *area)
{
    std::vector<std::string> texts;
    for (const char *p = area; *p; p += strlen(p) + 1) texts.push_back(p);
    return texts;
}

class Filters : public ModuleRegistry {
protected:
    decltype(&::FilterAction) filter = nullptr;

    /* BMP without lists (its fixed list removed after the attach wrote it) and JPG with
       its fixed list; JPG offers open and save options. */
    void LoadTwoFormats()
    {
        TestFormat bmp = Format("BMP", "Bitmap", 0x1), jpg = Format("JPG", "Joint", 0x2);
        bmp.flags = 0x11;
        bmp.flags2 = 0x22;
        jpg.openOptions = jpg.saveOptions = 1;
        Stage({"TA.FIO", {bmp, jpg}});
        Load();
        SetKey("BMP_EXT", nullptr);
        filter = Q32_EXPORT(module, FilterAction);
    }
    HGLOBAL Build(DWORD selection) { return (HGLOBAL)filter(nullptr, FILTER_BUILD, selection); }
};

TEST_F(Filters, AllFormatsListWithoutAndWithAllFiles)
{
    LoadTwoFormats();
    HGLOBAL list = Build(FILTER_ALL_FORMATS);
    ASSERT_NE(nullptr, list);
    const char *area = (const char *)filter(list, FILTER_TEXT, 0);
    EXPECT_EQ((std::vector<std::string>{"All image files", "*.JPG;*.BMP;*.JPEG;*.JPE",
                                        "BMP (Bitmap)", "*.BMP",
                                        "JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE"}),
              Texts(area));
    const char *end = area;
    for (int i = 0; i < 6; i++) end += strlen(end) + 1;
    EXPECT_EQ(0, *end) << "the filter string ends in an empty text";

    auto *header = static_cast<FilterList *>(list);
    EXPECT_EQ(0, memcmp(header->magic, "FTR1", 4));
    EXPECT_EQ(3, header->count);
    EXPECT_EQ(reinterpret_cast<FilterEntry *>(header + 1), header->entries);
    EXPECT_EQ(reinterpret_cast<char *>(header->entries + 3), header->text);
    EXPECT_EQ(area, header->text);
    const struct { WORD format, options; DWORD flags, mask; } entries[] = {
        {0, 0, 0, 0}, {1, 0, 0x00220011, 1}, {2, 3, 1, 2},
    };
    for (int i = 0; i < 3; i++) {
        const FilterEntry &e = header->entries[i];
        EXPECT_EQ(entries[i].format, e.format) << i;
        EXPECT_EQ(entries[i].options, e.optionFlags) << i;
        EXPECT_EQ(entries[i].flags, e.formatFlags) << i;
        EXPECT_EQ(entries[i].mask, e.typeMask) << i;
        EXPECT_EQ(area + e.nameOffset, (const char *)filter(list, FILTER_NAME, i)) << i;
        EXPECT_EQ(area + e.patternOffset, (const char *)filter(list, FILTER_PATTERN, i)) << i;
        EXPECT_EQ(entries[i].format, filter(list, FILTER_FORMAT, i)) << i;
        EXPECT_EQ(entries[i].options, filter(list, FILTER_OPTIONS, i)) << i;
    }
    EXPECT_STREQ("BMP (Bitmap)", (const char *)filter(list, FILTER_NAME, 1));
    EXPECT_EQ(1, filter(list, FILTER_FREE, 0));

    list = Build(FILTER_ALL_FORMATS | FILTER_ALL_FILES);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ((std::vector<std::string>{"All image files", "*.JPG;*.BMP;*.JPEG;*.JPE;*.*",
                                        "BMP (Bitmap)", "*.BMP",
                                        "JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE",
                                        "* (All files)", "*.*"}),
              Texts((const char *)filter(list, FILTER_TEXT, 0)));
    EXPECT_EQ(4, filter(list, FILTER_COUNT, 0));
    EXPECT_EQ(0, filter(list, FILTER_FORMAT, 3));
    EXPECT_EQ(2, filter(list, FILTER_INDEX_OF, 2));
    EXPECT_EQ(1, filter(list, FILTER_INDEX_OF, 1));
    EXPECT_EQ(0, filter(list, FILTER_INDEX_OF, 3)) << "not listed";
    EXPECT_EQ(0, filter(list, 10, 0));
    EXPECT_EQ(0, filter(list, 0, 0));
    for (int action : {FILTER_FORMAT, FILTER_PATTERN, FILTER_NAME, FILTER_OPTIONS})
        for (DWORD index : {4u, 1000u, 0xFFFFFFFFu})
            EXPECT_EQ(0, filter(list, action, index)) << action << " " << index;
    EXPECT_EQ(1, filter(list, FILTER_FREE, 0));
}

TEST_F(Filters, SelectionByTypeMask)
{
    LoadTwoFormats();
    const struct { DWORD selection; std::vector<std::string> texts; } cases[] = {
        {0x02, {"JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE"}},
        {0x03, {"BMP (Bitmap)", "*.BMP", "JPG/JPEG/JPE (Joint)", "*.JPG;*.JPEG;*.JPE"}},
        {0x04, {}},
        {0x84, {"* (All files)", "*.*"}},
    };
    for (const auto &c : cases) {
        HGLOBAL list = Build(c.selection);
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(c.texts, Texts((const char *)filter(list, FILTER_TEXT, 0))) << c.selection;
        EXPECT_EQ((INT_PTR)c.texts.size() / 2, filter(list, FILTER_COUNT, 0)) << c.selection;
        /* One slot a format and one the all-files entry, used or not: the text area stands
           where a caller that counts them finds it (16 x (M + 1) in 32 bits), and the
           unused slots are zero. */
        size_t slots = 2 + (c.selection & FILTER_ALL_FILES ? 1 : 0);
        auto *header = static_cast<FilterList *>(list);
        EXPECT_EQ((ptrdiff_t)(sizeof(FilterList) + 16 * slots), header->text - (char *)list)
            << c.selection;
        const FilterEntry zero = {};
        for (size_t i = (size_t)header->count; i < slots; i++)
            EXPECT_EQ(0, memcmp(&zero, header->entries + i, sizeof zero)) << c.selection << " " << i;
        filter(list, FILTER_FREE, 0);
    }
}

TEST_F(Filters, WithoutFormatsOnlyTheSpecialEntriesAndANullListAnswersZero)
{
    Load();
    filter = Q32_EXPORT(module, FilterAction);
    for (int action = 2; action <= 9; action++) EXPECT_EQ(0, filter(nullptr, action, 0)) << action;
    HGLOBAL list = Build(FILTER_ALL_FORMATS | FILTER_ALL_FILES);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(2, filter(list, FILTER_COUNT, 0));
    EXPECT_EQ(0, filter(list, FILTER_FORMAT, 0));
    EXPECT_EQ(0, filter(list, FILTER_FORMAT, 1));
    EXPECT_STREQ("* (All files)", (const char *)filter(list, FILTER_NAME, 1));
    filter(list, FILTER_FREE, 0);
}

} // namespace
