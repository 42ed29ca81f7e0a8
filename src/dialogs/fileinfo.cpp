/* Display texts for file facts: sizes, dates, image data types and compression methods. */
#include "dialogs.h"
#include <math.h>
#include <stdio.h>
#include <string.h>

namespace {

enum {
    UnitTextBase = 31250,       /* bytes, KB, MB, GB in the resource module */
    UnitTextSize = 32,
    UnknownImageType = 15118,
    CompressTextBase = 15600,
    LastCompressCode = 13,
    UnknownCompression = 15620
};

/* Image data type codes and the common library's names for them. */
const struct {
    unsigned type;
    UINT textId;
} ImageTypeTexts[] = {
    {0x0001, 15113}, {0x0002, 15110}, {0x0004, 15107}, {0x0008, 15106},
    {0x0010, 15109}, {0x0020, 15112}, {0x0040, 15104}, {0x0100, 15109},
    {0x0200, 15115}, {0x0400, 15114}, {0x0800, 15116}, {0x1000, 15119},
    {0x2000, 15120}, {0x4000, 15121},
};

/* The first character of a one-character value of the profile's "intl" section, or
   fallback when the key is missing. A value that is present but empty gives 0. */
char IntlCharacter(const char *key, const char *fallback)
{
    char value[2] = "";
    GetProfileStringA("intl", key, fallback, value, sizeof value);
    return value[0];
}

/* Writes the decimal digits of magnitude, with a leading '-' when negative and the
   magnitude is not 0, into digits (at least 22 bytes). */
void FormatWhole(char *digits, bool negative, unsigned long long magnitude)
{
    snprintf(digits, 22, "%s%llu", negative && magnitude ? "-" : "", magnitude);
}

/* Copies the whole-number text into out with sep after every third digit counted from
   the right; a leading '-' counts as a digit. sep 0 inserts nothing. */
void InsertThousands(char *out, const char *digits, char sep)
{
    size_t length = strlen(digits);
    size_t r = length % 3 ? length % 3 : 3;
    for (const char *p = digits; *p; p++) {
        *out++ = *p;
        if (--r == 0 && p[1]) {
            if (sep) *out++ = sep;
            r = 3;
        }
    }
    *out = 0;
}

/* Writes the number part of a size text (at most 27 characters) for the scaled value v. */
void FormatSizeNumber(char *number, double v)
{
    const double limit = 18446744073709551616.0; /* 2^64 */
    if (!(fabs(v) < limit)) {                       /* no number, or beyond any size */
        strcpy(number, "?");
        return;
    }
    double wholePart = trunc(v);
    char digits[24];
    FormatWhole(digits, v < 0, (unsigned long long)fabs(wholePart));

    char decimal = IntlCharacter("sDecimal", ".");
    if (!decimal) decimal = '.';

    if (v > 100) {
        InsertThousands(number, digits, IntlCharacter("sThousand", ","));
        return;
    }
    strcpy(number, digits);
    if (v > 10) {
        int d = (int)((v - wholePart) * 10);
        if (d) sprintf(number, "%d%c%d", (int)wholePart, decimal, d);
    } else if (v > 0) {
        int d = (int)((v - wholePart) * 100);
        if (d) sprintf(number, "%d%c%02d", (int)wholePart, decimal, d);
    }
}

/* Appends src to dst (size bytes in all) as far as whole characters fit. */
void AppendWhole(char *dst, size_t size, const char *src)
{
    size_t used = strlen(dst);
    const char *p = src;
    while (*p) {
        const char *next = CharNextA(p);
        size_t n = (size_t)(next - p);
        if (used + n >= size) break;
        memcpy(dst + used, p, n);
        used += n;
        p = next;
    }
    dst[used] = 0;
}

} // namespace

/******************************************************************
 *      q32FileSizeToAsciiEx  (exported)
 *
 * Scales size by 1/1024 per unit step, writes the number with the user's separators and
 * appends the unit text of the resource module. text holds Q32_SIZE_TEXT_SIZE bytes.
 */
extern "C" void Q32FILEAPI q32FileSizeToAsciiEx(double size, char *text, int unit)
{
    if (!text) return;
    const double factor = 1.0 / 1024;
    double v = size;
    unsigned chosen = (unsigned)unit;
    if (chosen <= 3) {
        for (unsigned i = 0; i < chosen; i++) v *= factor;
    } else {
        chosen = 0;
        while (chosen < 3 && !(v < 1024)) {
            v *= factor;
            chosen++;
        }
    }

    char number[32];
    FormatSizeNumber(number, v);

    char unitText[UnitTextSize] = "";
    if (ResourceModule) LoadStringA(ResourceModule, UnitTextBase + chosen, unitText, sizeof unitText);

    CopyText(text, Q32_SIZE_TEXT_SIZE, number);
    AppendWhole(text, Q32_SIZE_TEXT_SIZE, unitText);
}

/******************************************************************
 *      q32FileSizeToAscii  (exported)
 */
extern "C" void Q32FILEAPI q32FileSizeToAscii(long size, char *text, int unit)
{
    q32FileSizeToAsciiEx((double)size, text, unit);
}

/******************************************************************
 *      GetFileDateTimeToAscii  (exported)
 *
 * The file's last-write time in local time: short date, two spaces, time (24-hour when
 * "iTime" is set). text holds Q32_DATE_TEXT_SIZE bytes. Returns the text's length.
 */
extern "C" int Q32FILEAPI GetFileDateTimeToAscii(const char *fileName, char *text)
{
    if (!text) return 0;
    text[0] = 0;
    if (!fileName) return 0;

    FILETIME written;
    {
        q32::FileHandle file(Sys.createFile(fileName, GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !GetFileTime(file.get(), nullptr, nullptr, &written)) return 0;
    }
    FILETIME local;
    SYSTEMTIME when;
    if (!FileTimeToLocalFileTime(&written, &local) || !FileTimeToSystemTime(&local, &when))
        return 0;

    char date[255] = "";
    if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date))
        date[0] = 0;
    DWORD flags = GetProfileIntA("intl", "iTime", 0) ? TIME_FORCE24HOURFORMAT : 0;
    char time[255] = "";
    if (!GetTimeFormatA(LOCALE_USER_DEFAULT, flags, &when, nullptr, time, sizeof time))
        time[0] = 0;

    AppendWhole(text, Q32_DATE_TEXT_SIZE, date);
    AppendWhole(text, Q32_DATE_TEXT_SIZE, "  ");
    AppendWhole(text, Q32_DATE_TEXT_SIZE, time);
    return (int)strlen(text);
}

/******************************************************************
 *      q32FileGetImageTypeString  (exported)
 */
extern "C" int Q32FILEAPI q32FileGetImageTypeString(unsigned type, char *text, int textSize)
{
    for (const auto &entry : ImageTypeTexts) {
        if (entry.type == type) {
            c32GetString(entry.textId, text, textSize);
            return (int)entry.textId;
        }
    }
    c32GetString(UnknownImageType, text, textSize);
    return 0;
}

/******************************************************************
 *      q32FileGetCompressTypeString  (exported)
 */
extern "C" int Q32FILEAPI q32FileGetCompressTypeString(unsigned code, char *text, int textSize)
{
    if (code > LastCompressCode) {
        c32GetString(UnknownCompression, text, textSize);
        return 0;
    }
    c32GetString(CompressTextBase + code, text, textSize);
    return (int)(CompressTextBase + code);
}
