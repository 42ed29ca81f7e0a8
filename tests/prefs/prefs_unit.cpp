/* The preference pages' helpers: limits in bytes, the page table, gamma text and the tree
   host's title text. */
#include <gtest/gtest.h>
#include "prefs/prefs.h"

namespace {

TEST(LimitToBytes, ValuesUpTo4095AreKeptAndTheDefaultBecomesMinusOne)
{
    /* The byte field is read without sign; 4096 MB and more would wrap in 32 bits. */
    const struct { int mb, defaultMb; LONG bytes; } cases[] = {
        {0, 500, 0}, {1, 500, 1 << 20}, {500, 500, -1}, {2047, 32767, 0x7FF00000},
        {2048, 32767, (LONG)0x80000000u}, {4095, 32767, (LONG)0xFFF00000u},
        {4096, 32767, -1}, {32767, 32767, -1}, {-5, 500, -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(LimitToBytes(c.mb, c.defaultMb), c.bytes) << c.mb;
        if (c.bytes != -1) {
            EXPECT_EQ(c.mb, LimitToMegabytes(c.bytes, c.defaultMb)) << c.mb;
        }
    }
    EXPECT_EQ(1234, LimitToMegabytes(-1, 1234));
}

TEST(AddPreferencePage, CutsTheTitleAndRefusesAnEleventhPageWithoutTouchingTheTable)
{
    TabbedHost host = {};
    ASSERT_TRUE(AddPreferencePage(host, nullptr, std::string(100, 'x').c_str(), 1, nullptr));
    EXPECT_EQ(std::string(63, 'x'), host.pages[0].title);
    for (int i = 1; i < MaxPreferencePages; i++)
        EXPECT_TRUE(AddPreferencePage(host, nullptr, "t", 0x10000 + 100 + i, nullptr));
    TabbedHost before = host;
    EXPECT_FALSE(AddPreferencePage(host, nullptr, "eleventh", 7, nullptr));
    EXPECT_EQ(0, memcmp(&before, &host, sizeof host));
    EXPECT_EQ(103u, host.pages[3].templateId);  /* low 16 bits */
}

TEST(ParseGamma, HundredthsAndErrors)
{
    const struct { const char *text; int value, error; } cases[] = {
        {"2.2", 220, 0}, {"1.805", 180, 0}, {"abc", 0, 1}, {"1.8x", 180, 1}, {"", 0, 0},
        {".5", 50, 0}, {"1.2.3", 123, 1}, {"-1", 100, 1},
    };
    for (const auto &c : cases) {
        int error = 0;
        EXPECT_EQ(ParseGamma(c.text, &error), c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(DoubleAmpersands, DoublesEveryAmpersandWithinTheBuffer)
{
    const struct { std::string text; size_t size; std::string result; } cases[] = {
        {"Files & folders", 64, "Files && folders"}, {"", 64, ""}, {"a&b", 3, "a"},
        {"a&b", 4, "a&&"}, {"a&b", 5, "a&&b"}, {"ab&", 4, "ab"},
        {std::string(63, '&'), 260, std::string(126, '&')},  /* the longest title */
    };
    for (const auto &c : cases) {
        char text[300] = "", guard[300];
        strcpy(text, c.text.c_str());
        memcpy(guard, text, sizeof text);
        DoubleAmpersands(text, c.size);
        EXPECT_EQ(c.result, text) << c.text << " in " << c.size;
        EXPECT_EQ(memcmp(text + c.size, guard + c.size, sizeof text - c.size), 0) << c.size;
    }
}

} // namespace
