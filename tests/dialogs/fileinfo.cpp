/* Size, date, image type and compression texts through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"
#include "intl.h"
#include <math.h>
#include <string.h>
#include <string>

using namespace q32test;

namespace {

class FileInfo : public ::testing::Test {
public:
    TempDir dir;
    ModuleCopy module{dir / "suite", dir / "suite.ini"};
    HMODULE resources = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(module.Load());
        resources = LoadLibraryExA((BinFolder() + "DLGRC.DLL").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, resources);
    }
    void TearDown() override { FreeLibrary(resources); }

    std::string Unit(int index)
    {
        char text[32] = "";
        LoadStringA(resources, 31250 + index, text, sizeof text);
        return text;
    }

    /* q32FileSizeToAsciiEx into a poisoned buffer: nothing may be written beyond the
       text's terminator, and the text must fit Q32_SIZE_TEXT_SIZE. */
    std::string SizeText(double size, int unit)
    {
        std::string buffer(Q32_SIZE_TEXT_SIZE + 64, '\xcc');
        Q32_EXPORT(module, q32FileSizeToAsciiEx)(size, &buffer[0], unit);
        size_t length = strlen(buffer.c_str());
        EXPECT_LT(length, (size_t)Q32_SIZE_TEXT_SIZE) << "size " << size;
        for (size_t i = length + 1; i < buffer.size(); i++)
            if (buffer[i] != '\xcc') {
                ADD_FAILURE() << "byte " << i << " written for size " << size;
                break;
            }
        return buffer.c_str();
    }
};

struct SizeCase {
    double size;
    int unit;
    const char *dotComma;   /* sDecimal ".", sThousand "," (also the defaults) */
    const char *commaDot;   /* sDecimal ",", sThousand "." */
    int unitIndex;          /* 0 bytes .. 3 GB */
};

const double KB = 1024.0, MB = KB * KB, GB = MB * KB;

const SizeCase SizeCases[] = {
    {0, 4, "0", "0", 0},
    {1023, -1, "1,023", "1.023", 0},
    {1024, 7, "1", "1", 1},
    {1536, 4, "1.50", "1,50", 1},
    {10752, 4, "10.5", "10,5", 1},
    {102400, 4, "100", "100", 1},         /* exactly 100: one-decimal branch, digit 0 */
    {1048576, 4, "1", "1", 2},
    {1073741824, 4, "1", "1", 3},
    {1234567, 0, "1,234,567", "1.234.567", 0},
    {1536, 1, "1.50", "1,50", 1},
    {1073741824, 3, "1", "1", 3},
    {1048575, -1, "1,023", "1.023", 1},       /* 1023.999 KB: no rounding up, no decimals */
    {99.99, 0, "99.9", "99,9", 0},            /* fractions are cut */
    {5.999, 0, "5.99", "5,99", 0},
    {5.004, 0, "5", "5", 0},
    {5.05, 0, "5.04", "5,04", 0},             /* 5.05 is stored as 5.04999... */
    {100.75, 0, "100", "100", 0},             /* above 100: no decimals */
    {1000, 0, "1,000", "1.000", 0},
    {1048576.0 * 1000, -1, "1,000", "1.000", 2},
    {GB * 5000, -1, "5,000", "5.000", 3},
    {-1, 4, "-1", "-1", 0},
    {-123456, 0, "-123456", "-123456", 0},    /* only values above 100 get separators */
    {-0.5, 0, "0", "0", 0},
    /* Whole parts beyond 32 bits. */
    {GB * 5, 0, "5,368,709,120", "5.368.709.120", 0},
    {GB * 5, 1, "5,242,880", "5.242.880", 1},
    {-3e9, 0, "-3000000000", "-3000000000", 0},
    {GB * GB * 3, 3, "3,221,225,472", "3.221.225.472", 3},
    {9223372036854775808.0, 0, "9,223,372,036,854,775,808", "9.223.372.036.854.775.808", 0},
    {18446744073709549568.0, 0, "18,446,744,073,709,549,568", "18.446.744.073.709.549.568", 0},
    {18446744073709551616.0, 0, "?", "?", 0},
    {1e300, -1, "?", "?", 3},
    {NAN, 0, "?", "?", 0},
};

void CheckSizes(FileInfo &test, bool commaDecimal)
{
    for (const auto &c : SizeCases) {
        std::string expected =
            std::string(commaDecimal ? c.commaDot : c.dotComma) + test.Unit(c.unitIndex);
        EXPECT_EQ(expected, test.SizeText(c.size, c.unit)) << "size " << c.size << " unit " << c.unit;
    }
}

TEST_F(FileInfo, SizesWithDefaultSeparators)
{
    IntlValues intl;
    intl.Set("sDecimal", nullptr);
    intl.Set("sThousand", nullptr);
    CheckSizes(*this, false);
}

TEST_F(FileInfo, SizesWithUserSeparators)
{
    IntlValues intl;
    intl.Set("sDecimal", ".");
    intl.Set("sThousand", ",");
    CheckSizes(*this, false);
    /* Changed between calls: read afresh each time. */
    intl.Set("sDecimal", ",");
    intl.Set("sThousand", ".");
    CheckSizes(*this, true);
}

TEST_F(FileInfo, SeparatorEdgeValues)
{
    IntlValues intl;
    intl.Set("sDecimal", ",x");     /* only the first character counts */
    intl.Set("sThousand", "'y");
    EXPECT_EQ("1'234'567" + Unit(0), SizeText(1234567, 0));
    EXPECT_EQ("1,50" + Unit(1), SizeText(1536, 4));
    intl.Set("sThousand", "");      /* present but empty: no separator */
    intl.Set("sDecimal", "");       /* present but empty: the default point */
    EXPECT_EQ("1234567" + Unit(0), SizeText(1234567, 0));
    EXPECT_EQ("1.50" + Unit(1), SizeText(1536, 4));
}

TEST_F(FileInfo, LongSizeAsLongFormForwards)
{
    auto sizeToAscii = Q32_EXPORT(module, q32FileSizeToAscii);
    IntlValues intl;
    intl.Set("sDecimal", nullptr);
    intl.Set("sThousand", nullptr);
    const struct { long size; int unit; std::string expected; } cases[] = {
        {0, 4, "0" + Unit(0)},
        {1536, 4, "1.50" + Unit(1)},
        {2147483647L, 0, "2,147,483,647" + Unit(0)},
        {2147483647L, 4, "1.99" + Unit(3)},
        {-2147483647L - 1, 0, "-2147483648" + Unit(0)},
    };
    for (const auto &c : cases) {
        char text[Q32_SIZE_TEXT_SIZE];
        memset(text, 0xcc, sizeof text);
        sizeToAscii(c.size, text, c.unit);
        EXPECT_EQ(c.expected, text) << c.size;
    }
}

/* A file whose three times differ, so that only the last-write time can give the date. */
std::string MakeDatedFile(const std::string &path, const SYSTEMTIME &localWrite)
{
    WriteFileBytes(path, "x");
    FILETIME local, written, created, accessed;
    SystemTimeToFileTime(&localWrite, &local);
    LocalFileTimeToFileTime(&local, &written);
    SYSTEMTIME other = localWrite;
    other.wYear = 1999;
    SystemTimeToFileTime(&other, &created);
    other.wYear = 2005;
    SystemTimeToFileTime(&other, &accessed);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(SetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    return path;
}

TEST_F(FileInfo, DateAndTimeOfLastChange)
{
    SYSTEMTIME when = {};
    when.wYear = 2021; when.wMonth = 3; when.wDay = 4;
    when.wHour = 14; when.wMinute = 5; when.wSecond = 6;
    std::string file = MakeDatedFile(dir / "dated.txt", when);
    char date[255], time12[255], time24[255];
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &when, nullptr, time12, sizeof time12);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &when, nullptr, time24,
                   sizeof time24);
    ASSERT_NE(nullptr, strstr(date, "2021")) << date;
    ASSERT_NE(nullptr, strstr(time24, "14")) << time24;
    ASSERT_STRNE(time12, time24) << "the user locale already shows 24-hour times";

    auto dateText = Q32_EXPORT(module, GetFileDateTimeToAscii);
    IntlValues intl;
    const struct { const char *iTime; const char *time; } cases[] = {
        {nullptr, time12}, {"0", time12}, {"1", time24}, {"2", time24},
    };
    for (const auto &c : cases) {
        intl.Set("iTime", c.iTime);
        char text[Q32_DATE_TEXT_SIZE + 32];
        memset(text, 0xcc, sizeof text);
        int length = dateText(file.c_str(), text);
        EXPECT_EQ(std::string(date) + "  " + c.time, text) << "iTime " << (c.iTime ? c.iTime : "-");
        EXPECT_EQ((int)strlen(text), length);
        EXPECT_EQ('\xcc', text[length + 1]);
    }
}

TEST_F(FileInfo, DateOfFileThatCannotBeOpened)
{
    auto dateText = Q32_EXPORT(module, GetFileDateTimeToAscii);
    char text[Q32_DATE_TEXT_SIZE];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(0, dateText((dir / "missing.txt").c_str(), text));
    EXPECT_EQ('\0', text[0]);

    /* Held open without sharing by another handle. */
    std::string locked = dir / "locked.txt";
    WriteFileBytes(locked, "x");
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    memset(text, 'x', sizeof text);
    EXPECT_EQ(0, dateText(locked.c_str(), text));
    EXPECT_EQ('\0', text[0]);
    CloseHandle(holder);
    EXPECT_GT(dateText(locked.c_str(), text), 0);
}

TEST_F(FileInfo, LongDateTextIsCutToTheBuffer)
{
    /* A user short-date picture of 125 characters (the longest date Wine formats); with
       two spaces and the time the text exceeds Q32_DATE_TEXT_SIZE. */
    std::string picture = "dddd";
    for (int i = 1; i < 14; i++) picture += " dddd";
    LocalePicture shortDate(LOCALE_SSHORTDATE, picture);
    IntlValues intl;
    intl.Set("iTime", "1");
    SYSTEMTIME when = {};
    when.wYear = 2021; when.wMonth = 3; when.wDay = 4; when.wHour = 9;
    char date[255] = "", time[255] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &when, nullptr, time, sizeof time);
    std::string full = std::string(date) + "  " + time;
    ASSERT_GE(full.size(), (size_t)Q32_DATE_TEXT_SIZE) << "the locale picture is not used";

    std::string file = MakeDatedFile(dir / "dated.txt", when);
    char text[Q32_DATE_TEXT_SIZE + 64];
    memset(text, 0xcc, sizeof text);
    int length = Q32_EXPORT(module, GetFileDateTimeToAscii)(file.c_str(), text);
    EXPECT_EQ(Q32_DATE_TEXT_SIZE - 1, length);
    EXPECT_EQ(full.substr(0, Q32_DATE_TEXT_SIZE - 1), text);
    for (size_t i = Q32_DATE_TEXT_SIZE; i < sizeof text; i++)
        ASSERT_EQ('\xcc', text[i]) << "byte " << i;
}

std::string CommonText(UINT id)
{
    char text[260] = "";
    c32GetString(id, text, sizeof text);
    return text;
}

TEST_F(FileInfo, ImageTypeNames)
{
    auto typeText = Q32_EXPORT(module, q32FileGetImageTypeString);
    const struct { unsigned type; int id; } cases[] = {
        {0x1, 15113},  {0x2, 15110},   {0x4, 15107},    {0x8, 15106},    {0x10, 15109},
        {0x20, 15112}, {0x40, 15104},  {0x100, 15109},  {0x200, 15115},  {0x400, 15114},
        {0x800, 15116}, {0x1000, 15119}, {0x2000, 15120}, {0x4000, 15121},
        {0x80, 0}, {0, 0}, {0x3, 0}, {0x8000, 0}, {0x10000, 0}, {0xFFFFFFFFu, 0},
    };
    for (const auto &c : cases) {
        char text[260];
        memset(text, 0xcc, sizeof text);
        EXPECT_EQ(c.id, typeText(c.type, text, sizeof text)) << std::hex << c.type;
        std::string expected = CommonText(c.id ? c.id : 15118);
        EXPECT_FALSE(expected.empty()) << "no text for type " << std::hex << c.type;
        EXPECT_EQ(expected, text) << std::hex << c.type;
    }
    char a[64], b[64];
    typeText(16, a, sizeof a);
    typeText(256, b, sizeof b);
    EXPECT_STREQ(a, b);

    /* The name is cut to the given size. */
    char small[16];
    memset(small, 0xcc, sizeof small);
    EXPECT_EQ(15110, typeText(2, small, 5));
    EXPECT_EQ(CommonText(15110).substr(0, 4), small);
    EXPECT_EQ('\xcc', small[5]);
}

TEST_F(FileInfo, CompressionNames)
{
    auto compressText = Q32_EXPORT(module, q32FileGetCompressTypeString);
    std::string unknown = CommonText(15620);
    ASSERT_FALSE(unknown.empty());
    for (unsigned code = 0; code <= 13; code++) {
        char text[260] = "";
        EXPECT_EQ((int)(15600 + code), compressText(code, text, sizeof text)) << code;
        EXPECT_FALSE(CommonText(15600 + code).empty()) << code;
        EXPECT_EQ(CommonText(15600 + code), text) << code;
        EXPECT_NE(unknown, text) << code;
    }
    for (unsigned code : {14u, 20u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        char text[260] = "";
        EXPECT_EQ(0, compressText(code, text, sizeof text)) << code;
        EXPECT_EQ(unknown, text) << code;
    }
}

} // namespace
