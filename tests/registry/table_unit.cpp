/* AddFormatRecord: order, duplicates, the 49-record limit. */
#include <gtest/gtest.h>
#include "registry/registry.h"
#include <memory>
#include <string.h>
#include <string>
#include <vector>

namespace {

std::unique_ptr<FormatTable> EmptyTable()
{
    auto table = std::make_unique<FormatTable>();
    memset(table.get(), 0, sizeof(FormatTable));
    table->refCount = 1;
    table->capacity = TableCapacity;
    return table;
}

FormatRecord Record(const char *code, const char *description)
{
    FormatRecord r = {};
    strcpy(r.info.code, code);
    strcpy(r.info.description, description);
    return r;
}

std::vector<std::string> Lines(const FormatTable &table)
{
    std::vector<std::string> lines;
    for (LONG i = 0; i < table.count; i++)
        lines.push_back(std::string(table.records[i].info.code) + "|" +
                        table.records[i].info.description);
    return lines;
}

TEST(FormatTable, OrderByCodeIgnoringCaseDuplicatesDropped)
{
    auto table = EmptyTable();
    const char *added[][2] = {
        {"TIF", "Tagged"}, {"BMP", "Bitmap"}, {"BMP", "Bitmap"},   /* duplicate: dropped */
        {"BMP", "Other bitmap"}, {"Bmp", "Third"},                  /* equal codes: in order */
        {"BMP", "bitmap"},                                          /* description case counts */
        {"bmp", "Bitmap"},                                          /* code case counts too */
        {"AAA", "First"}, {"ZZZ", "Last"},
    };
    for (auto &a : added) AddFormatRecord(table.get(), Record(a[0], a[1]));
    EXPECT_EQ((std::vector<std::string>{"AAA|First", "BMP|Bitmap", "BMP|Other bitmap", "Bmp|Third",
                                        "BMP|bitmap", "bmp|Bitmap", "TIF|Tagged", "ZZZ|Last"}),
              Lines(*table));
}

TEST(FormatTable, TheFiftiethFormatIsRefused)
{
    auto table = EmptyTable();
    for (int i = 59; i >= 0; i--) {
        char code[4];
        snprintf(code, sizeof code, "F%02d", i);
        AddFormatRecord(table.get(), Record(code, "x"));
    }
    ASSERT_EQ(49, table->count);
    EXPECT_STREQ("F11", table->records[0].info.code) << "F59..F11 came first";
    EXPECT_STREQ("F59", table->records[48].info.code);
    EXPECT_EQ(0, table->records[49].info.code[0]);
    EXPECT_EQ(0, table->records[50].info.code[0]);
}

} // namespace
