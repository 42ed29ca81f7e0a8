/* Size, date, image type and compression texts through a loaded copy of the module. */
#include <gtest/gtest.h>
#include "harness.h"
#include <math.h>
#include <algorithm>
#include <map>

using namespace q32test;

namespace {

/* Sets keys of the profile's "intl" section (null removes one); the destructor restores
   them. */
struct IntlValues {
    std::map<std::string, std::string> saved;  /* "\x01": absent */
    ~IntlValues()
    {
        for (const auto &[key, old] : saved)
            WriteProfileStringA("intl", key.c_str(), old == "\x01" ? nullptr : old.c_str());
    }
    void Set(const char *key, const char *value)
    {
        char old[256];
        GetProfileStringA("intl", key, "\x01", old, sizeof old);
        saved.insert({key, old});
        WriteProfileStringA("intl", key, value);
    }
};

class FileInfo : public ::testing::Test {
public:
    TempDir dir;
    ModuleCopy module{dir / "suite", dir / "suite.ini"};
    IntlValues intl;
    std::string units[4];

    void SetUp() override
    {
        ASSERT_TRUE(module.Load());
        HMODULE resources = LoadLibraryExA((BinFolder() + "DLGRC.DLL").c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, resources);
        for (int i = 0; i < 4; i++) {
            char text[32] = "";
            LoadStringA(resources, 31250 + i, text, sizeof text);
            units[i] = text;
        }
        FreeLibrary(resources);
    }
    /* Into a poisoned buffer: nothing written beyond the terminator, the text within
       Q32_SIZE_TEXT_SIZE. */
    std::string SizeText(double size, int unit)
    {
        std::string buffer(Q32_SIZE_TEXT_SIZE + 64, '\xcc');
        Q32_EXPORT(module, q32FileSizeToAsciiEx)(size, &buffer[0], unit);
        size_t length = strlen(buffer.c_str());
        EXPECT_LT(length, (size_t)Q32_SIZE_TEXT_SIZE) << size;
        EXPECT_EQ(std::string::npos, buffer.find_first_not_of('\xcc', length + 1)) << size;
        return buffer.c_str();
    }
};

const double KB = 1024.0, MB = KB * KB, GB = MB * KB;

/* size, unit, text with "." and "," (also the defaults), with "," and ".", unit index */
const struct {
    double size;
    int unit;
    const char *dotComma, *commaDot;
    int unitIndex;
} SizeCases[] = {
    {0, 4, "0", "0", 0},
    {1023, -1, "1,023", "1.023", 0},
    {1024, 7, "1", "1", 1},
    {1536, 4, "1.50", "1,50", 1},
    {102400, 4, "100", "100", 1},          /* exactly 100: the one-decimal branch, digit 0 */
    {1048575, -1, "1,023", "1.023", 1},    /* 1023.999 KB: no rounding up */
    {99.99, 0, "99.9", "99,9", 0},         /* fractions are cut */
    {5.004, 0, "5", "5", 0},
    {5.05, 0, "5.04", "5,04", 0},          /* stored as 5.04999... */
    {100.75, 0, "100", "100", 0},          /* above 100: no decimals */
    {GB * 5000, -1, "5,000", "5.000", 3},
    {-123456, 0, "-123456", "-123456", 0}, /* only values above 100 get separators */
    {-0.5, 0, "0", "0", 0},
    {GB * 5, 1, "5,242,880", "5.242.880", 1},  /* whole parts beyond 32 bits */
    {-3e9, 0, "-3000000000", "-3000000000", 0},
    {GB * GB * 3, 3, "3,221,225,472", "3.221.225.472", 3},
    {18446744073709549568.0, 0, "18,446,744,073,709,549,568", "18.446.744.073.709.549.568", 0},
    {18446744073709551616.0, 0, "?", "?", 0},
    {NAN, 0, "?", "?", 0},
};

TEST_F(FileInfo, SizesWithDefaultAndUserSeparators)
{
    /* Absent, then set, then changed between calls: read afresh each time. */
    const std::pair<const char *, const char *> separators[] = {
        {nullptr, nullptr}, {".", ","}, {",", "."}};
    for (auto [decimal, thousand] : separators) {
        intl.Set("sDecimal", decimal);
        intl.Set("sThousand", thousand);
        bool comma = decimal && *decimal == ',';
        for (const auto &c : SizeCases)
            EXPECT_EQ(std::string(comma ? c.commaDot : c.dotComma) + units[c.unitIndex],
                      SizeText(c.size, c.unit))
                << "size " << c.size << " unit " << c.unit;
    }
    intl.Set("sThousand", "");   /* present but empty: no separator */
    intl.Set("sDecimal", "");    /* present but empty: the default point */
    EXPECT_EQ("1234567" + units[0], SizeText(1234567, 0));
    EXPECT_EQ("1.50" + units[1], SizeText(1536, 4));

    /* The long form forwards. */
    char text[Q32_SIZE_TEXT_SIZE];
    Q32_EXPORT(module, q32FileSizeToAscii)(-2147483647L - 1, text, 4);
    EXPECT_EQ("-2147483648" + units[0], text);
}

TEST_F(FileInfo, DateAndTimeOfLastChange)
{
    /* Only the last write can give the date: creation and access are in another year. */
    SYSTEMTIME when = {2021, 3, 0, 4, 14, 5, 6, 0}, other = when;
    other.wYear = 1999;
    std::string file = dir / "dated.txt";
    WriteFileBytes(file, "x");
    FILETIME local, written, elsewhen;
    SystemTimeToFileTime(&when, &local);
    LocalFileTimeToFileTime(&local, &written);
    SystemTimeToFileTime(&other, &elsewhen);
    HANDLE handle = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_TRUE(SetFileTime(handle, &elsewhen, &elsewhen, &written));
    CloseHandle(handle);

    /* iTime, 24-hour, the short-date picture (null: the locale's own). One of 125
       characters (the longest Wine formats) makes the text longer than the buffer: cut. */
    std::string longPicture = "dddd";
    for (int i = 1; i < 14; i++) longPicture += " dddd";
    const struct { const char *iTime; bool h24; const char *picture; } rows[] = {
        {nullptr, false, nullptr}, {"0", false, nullptr}, {"2", true, nullptr},
        {"1", true, longPicture.c_str()}};
    char oldPicture[256] = "";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, oldPicture, sizeof oldPicture);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.iTime ? row.iTime : "-");
        intl.Set("iTime", row.iTime);
        const char *picture = row.picture ? row.picture : oldPicture;
        SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, picture);
        char date[255] = "", time[255] = "", text[Q32_DATE_TEXT_SIZE + 64];
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date);
        GetTimeFormatA(LOCALE_USER_DEFAULT, row.h24 ? TIME_FORCE24HOURFORMAT : 0, &when, nullptr,
                       time, sizeof time);
        std::string full = std::string(date) + "  " + time;
        EXPECT_EQ(row.picture != nullptr, full.size() >= Q32_DATE_TEXT_SIZE) << full;
        size_t kept = std::min(full.size(), (size_t)Q32_DATE_TEXT_SIZE - 1);
        memset(text, 0xcc, sizeof text);
        EXPECT_EQ((int)kept, Q32_EXPORT(module, GetFileDateTimeToAscii)(file.c_str(), text));
        EXPECT_EQ(full.substr(0, kept), text);
        EXPECT_EQ(std::string(63, '\xcc'), std::string(text + kept + 1, 63));
    }
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, oldPicture);
}

std::string CommonText(UINT id)
{
    char text[260] = "";
    c32GetString(id, text, sizeof text);
    return text;
}

TEST_F(FileInfo, ImageTypeAndCompressionNames)
{
    auto typeText = Q32_EXPORT(module, q32FileGetImageTypeString);
    char text[260], small[16];
    EXPECT_EQ(0, typeText(0x3, text, sizeof text)) << "a combination is unknown";
    EXPECT_EQ(CommonText(15118), text);
    memset(small, 0xcc, sizeof small);
    EXPECT_EQ(15110, typeText(2, small, 5)) << "cut to the given size";
    EXPECT_EQ(CommonText(15110).substr(0, 4), small);
    EXPECT_EQ('\xcc', small[5]);

    auto compressText = Q32_EXPORT(module, q32FileGetCompressTypeString);
    std::string unknown = CommonText(15620);
    ASSERT_FALSE(unknown.empty());
    for (unsigned code : {0u, 13u, 14u, 0xFFFFFFFFu}) {
        UINT id = code <= 13 ? 15600 + code : 0;
        EXPECT_EQ((int)id, compressText(code, text, sizeof text)) << code;
        EXPECT_EQ(id ? CommonText(id) : unknown, text) << code;
    }
}

} // namespace
