/* The preference pages' helpers: drive kinds, limits in bytes, the page table, gamma text,
   the icon tint, the tree host's banner ramp and title text. */
#include <gtest/gtest.h>
#include "prefs/prefs.h"
#include "controls/tinted.h"

namespace {

TEST(DriveKindOfPath, ClassifiesByTheFirstCharacters)
{
    const struct { const char *path; int kind; } cases[] = {
        {nullptr, 0}, {"", 0}, {"\\\\", DRIVE_REMOTE}, {"\\single", 0}, {"C", 0}, {"C:", 1},
        {"C:x", 0}, {"Cx\\", 0}, {"c:\\windows", DRIVE_FIXED},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DriveKindOfPath(c.path), c.kind) << (c.path ? c.path : "(null)");
}

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
        {"3", 300, 0}, {".5", 50, 0}, {"1.2.3", 123, 1}, {"-1", 100, 1},
    };
    for (const auto &c : cases) {
        int error = 0;
        EXPECT_EQ(ParseGamma(c.text, &error), c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(ReplaceColour, OnlyExactMatchesInsideTheAreaChange)
{
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), 4, -3, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_TRUE(bitmap);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF blue = RGB(0, 0, 255), nearBlue = RGB(0, 0, 254), red = RGB(255, 0, 0);
    for (int i = 0; i < 12; i++) SetPixel(dc, i % 4, i / 4, i % 4 == 1 ? nearBlue : blue);
    ReplaceColour(dc, 3, 2, blue, red);  /* column 3 and row 2 lie outside */
    for (int i = 0; i < 12; i++) {
        int x = i % 4, y = i / 4;
        EXPECT_EQ(GetPixel(dc, x, y), x == 1 ? nearBlue : (x < 3 && y < 2) ? red : blue) << x << y;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST(FillGradient, RampsEachChannelRoundedAndStoresRedGreenBlue)
{
    BYTE row[3 * 4 + 1];
    memset(row, 0xEE, sizeof row);
    FillGradient(4, row, 0x00102030, 0x00FF8000);
    const BYTE expected[] = {0x30, 0x20, 0x10, 32, 64, 96, 16, 96, 175, 0x00, 0x80, 0xFF, 0xEE};
    EXPECT_EQ(memcmp(row, expected, sizeof row), 0);
    FillGradient(1, row, 0x00102030, 0x00FF8000);  /* no division by zero */
    EXPECT_EQ(memcmp(row, expected, 3), 0);
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
