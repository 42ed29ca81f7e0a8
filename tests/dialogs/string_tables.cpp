/* The string tables of the common library and the resource module hold every text the
   module asks for, with the placeholders its callers format in and within the buffer
   sizes they load into. */
#include <gtest/gtest.h>
#include "harness.h"
#include <string.h>
#include <string>

using namespace q32test;

namespace {

/* The conversions of a printf format, one letter each ("%s and %d" gives "sd"). */
std::string Conversions(const std::string &format)
{
    std::string result;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] != '%') continue;
        size_t j = i + 1;
        while (j < format.size() && strchr("-+ #0123456789.l", format[j])) j++;
        if (j < format.size() && format[j] != '%') result += format[j];
        i = j;
    }
    return result;
}

struct TextCase {
    UINT id;
    const char *conversions;
    int maxLength;   /* the caller's buffer size minus one */
};

void CheckTable(const TextCase *cases, size_t count, bool common, HMODULE resources)
{
    for (size_t i = 0; i < count; i++) {
        const TextCase &c = cases[i];
        char text[1024] = "";
        int n = common ? c32GetString(c.id, text, sizeof text)
                       : LoadStringA(resources, c.id, text, sizeof text);
        EXPECT_GT(n, 0) << (common ? "common " : "resource ") << c.id << " is missing";
        EXPECT_EQ(c.conversions, Conversions(text)) << c.id << ": " << text;
        EXPECT_LE((int)strlen(text), c.maxLength) << c.id << ": " << text;
    }
}

const int Any = 1023;

const TextCase CommonTexts[] = {
    {1000, "", 259}, {1001, "", 63}, {1004, "", Any}, {4004, "s", Any}, {4007, "s", Any},
    {4008, "s", Any}, {4018, "", 259}, {4019, "s", Any}, {4020, "s", Any}, {4022, "", Any},
    {4024, "s", Any}, {4025, "", Any}, {4026, "", Any}, {4027, "s", Any}, {4029, "", Any},
    {5404, "", Any},
    {10001, "", 14}, {10002, "", 15}, {10003, "", 15}, {10004, "", 15}, {10005, "", 15},
    {10006, "", 15}, {10007, "", 15}, {10008, "", 15}, {10009, "", 15},
    {12002, "", 15}, {12003, "", 15}, {12004, "", 15}, {12005, "", 15}, {12008, "", 15},
    {12009, "", 15}, {12010, "", 15}, {12011, "", 15},
    {15104, "", 259}, {15106, "", 259}, {15107, "", 259}, {15109, "", 259}, {15110, "", 259},
    {15112, "", 259}, {15113, "", 259}, {15114, "", 259}, {15115, "", 259}, {15116, "", 259},
    {15118, "", 259}, {15119, "", 259}, {15120, "", 259}, {15121, "", 259},
    {15203, "d", 259},
    {15600, "", 259}, {15601, "", 259}, {15602, "", 259}, {15603, "", 259}, {15604, "", 259},
    {15605, "", 259}, {15606, "", 259}, {15607, "", 259}, {15608, "", 259}, {15609, "", 259},
    {15610, "", 259}, {15611, "", 259}, {15612, "", 259}, {15613, "", 259}, {15620, "", 259},
};

const TextCase ResourceTexts[] = {
    {3200, "", 259}, {4006, "", Any}, {5200, "", Any},
    {31214, "d", 259}, {31215, "d", 259}, {31240, "dd", 259}, {31241, "dd", 259},
    {31242, "d", 259},
    {31250, "", 31}, {31251, "", 31}, {31252, "", 31}, {31253, "", 31},
    {31260, "", 259}, {31261, "", 259}, {31262, "ss", 259}, {31263, "s", 259},
    {31300, "", 31}, {31301, "ssss", 259}, {31302, "s", 259}, {31303, "", 259},
    {31304, "", 3}, {31305, "", 259}, {31306, "d", 259}, {31307, "", 23}, {31308, "d", 259},
    {31309, "", 31},
    {31400, "d", 259}, {31401, "d", 259}, {31402, "", 259}, {31403, "s", 259},
    {31404, "s", 259}, {31405, "", 259}, {31406, "", 259}, {31408, "s", 259},
    {31409, "", 259}, {31410, "", 259}, {31411, "s", 259}, {31412, "s", 259},
    {31413, "", 259},
};

TEST(StringTables, CommonLibrary)
{
    CheckTable(CommonTexts, sizeof CommonTexts / sizeof CommonTexts[0], true, nullptr);
}

TEST(StringTables, ResourceModule)
{
    HMODULE resources = LoadLibraryExA((BinFolder() + "DLGRC.DLL").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, resources);
    CheckTable(ResourceTexts, sizeof ResourceTexts / sizeof ResourceTexts[0], false, resources);
    FreeLibrary(resources);
}

} // namespace
