/* qfFileLoadFIO and the format queries through a loaded copy of the module. */
#include "sandbox.h"
#include <string.h>

using namespace q32test;
using ModuleRegistry = ModuleSandbox;

namespace {

TEST_F(ModuleRegistry, LoadFIOHandsOutOneReferenceACall)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    Load();
    auto loadFio = Q32_EXPORT(module, qfFileLoadFIO);
    HMODULE first = loadFio(1), second = loadFio(1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, GetModuleHandleA("TA.FIO"));
    FreeLibrary(first);
    EXPECT_NE(nullptr, GetModuleHandleA("TA.FIO"));
    FreeLibrary(second);
    EXPECT_EQ(nullptr, GetModuleHandleA("TA.FIO"));

    for (int format : {0, -1, 2}) {
        EXPECT_EQ(nullptr, loadFio(format)) << format;
        ExpectError(4026, 28, 1, std::to_string(format));
    }
}

TEST_F(ModuleRegistry, QueriesFailWithoutPlugins)
{
    Load();
    char buffer[Q32_FORMAT_EXT_SIZE] = "x";
    EXPECT_EQ(nullptr, Q32_EXPORT(module, qfFileLoadFIO)(1));
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileGetFormatExt)(1, buffer, 1));
    EXPECT_EQ(nullptr, Q32_EXPORT(module, qfFileGetFormatInfo)(1));
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileGetFullPath)(1, buffer, sizeof buffer));
    EXPECT_EQ(-1, Q32_EXPORT(module, q32FileGetFormatID)("x", nullptr));
    EXPECT_EQ(4006u, ReadError().id);
    EXPECT_STREQ("x", buffer);
}

TEST_F(ModuleRegistry, FormatExtGivesEachKind)
{
    Stage({"TA.FIO", {Format("JPG", "Joint"), Format("ABC", "Letters")}});
    std::string longA(62, 'A'), longB(62, 'B');
    SetKey("JPG_USER", "JFIF;");
    SetKey("ABC_EXT", (longA + ";").c_str());
    SetKey("ABC_USER", (longB + ";").c_str());
    Load();
    auto formatExt = Q32_EXPORT(module, qfFileGetFormatExt);
    ASSERT_EQ(2, Q32_EXPORT(module, qfFileGetFileFmtNum)());
    const struct { int format, kind; std::string text; } cases[] = {
        {2, 1, "JPEG;JPE;JFIF;"}, {2, 2, "JPEG;JPE;"}, {2, 3, "JFIF;"},
        {2, 4, "JPG;JPEG;JPE;JFIF;"}, {2, 0, ""}, {2, 5, ""}, {2, -1, ""},
        {1, 4, "ABC;" + longA + ";" + longB + ";"},
    };
    for (const auto &c : cases) {
        std::string buffer(Q32_FORMAT_EXT_SIZE + 16, '\xcc');
        EXPECT_EQ(1, formatExt(c.format, &buffer[0], c.kind)) << c.kind;
        EXPECT_EQ(c.text, buffer.c_str()) << c.kind;
        for (size_t i = c.text.size() + 1; i < buffer.size(); i++)
            ASSERT_EQ('\xcc', buffer[i]) << "kind " << c.kind << " wrote byte " << i;
    }
    EXPECT_EQ(Q32_FORMAT_EXT_SIZE - 1, (int)cases[7].text.size()) << "the longest answer";

    char buffer[Q32_FORMAT_EXT_SIZE];
    for (int format : {0, 3}) {
        EXPECT_EQ(0, formatExt(format, buffer, 1));
        ExpectError(4026, 2, 1);
    }
    EXPECT_EQ(0, formatExt(1, nullptr, 1));
    ExpectError(4026, 2, 1, "null buffer");
}

TEST_F(ModuleRegistry, FormatInfoIsAMovableCopyWithTheCodeUpperCased)
{
    TestFormat tif = Format("tif", "Tagged", 0x00040003);
    tif.flags = 0x8001;
    tif.runtimeValue = 77;
    tif.signature1 = "4949";
    Stage({"TA.FIO", {tif}});
    Load();
    HGLOBAL block = Q32_EXPORT(module, qfFileGetFormatInfo)(1);
    ASSERT_NE(nullptr, block);
    EXPECT_GE(GlobalSize(block), sizeof(FormatInfo));
    auto *info = static_cast<FormatInfo *>(GlobalLock(block));
    ASSERT_NE(nullptr, info);
    EXPECT_NE((void *)block, (void *)info) << "movable";
    EXPECT_STREQ("TIF", info->code);
    EXPECT_STREQ("Tagged", info->description);
    EXPECT_EQ(0x8001, info->flags);
    EXPECT_EQ(3, info->typeCaps);
    EXPECT_EQ(4, info->typeMaskHigh);
    EXPECT_EQ(77u, info->runtimeValue) << "registered from the plug-in itself";
    EXPECT_EQ(2, info->signatureLength1);
    GlobalUnlock(block);
    GlobalFree(block);

    for (int format : {0, 2}) {
        EXPECT_EQ(nullptr, Q32_EXPORT(module, qfFileGetFormatInfo)(format));
        ExpectError(4026, 3, 1);
    }
}

TEST_F(ModuleRegistry, FullPathNeedsRoomForItsTerminator)
{
    Stage({"TA.FIO", {Format("AAA", "First")}});
    Load();
    auto fullPath = Q32_EXPORT(module, qfFileGetFullPath);
    std::string expected = fio + "\\TA.FIO";
    int size = (int)expected.size() + 1;

    std::string buffer(size + 8, '\xcc');
    EXPECT_EQ(1, fullPath(1, &buffer[0], size));
    EXPECT_EQ(expected, buffer.c_str());

    std::string untouched(size + 8, '\xcc');
    buffer = untouched;
    EXPECT_EQ(0, fullPath(1, &buffer[0], size - 1));
    ExpectError(4026, 12, 2);
    EXPECT_EQ(untouched, buffer);
    EXPECT_EQ(0, fullPath(1, &buffer[0], 0));
    ExpectError(4026, 12, 2);
    EXPECT_EQ(0, fullPath(2, &buffer[0], size));
    ExpectError(4026, 12, 1);
}

TEST_F(ModuleRegistry, FormatIDMatchesCodeListsAndDescription)
{
    Stage({"TA.FIO", {Format("XYZ", "Ex why zed"), Format("JPG", "Joint photographic"),
                      Format("BMP", "Bitmap"), Format("QQQ", "Queue")}});
    SetKey("XYZ_EXT", "JPE;");
    SetKey("QQQ_USER", "QU1;QU2;");
    Load();
    auto formatId = Q32_EXPORT(module, q32FileGetFormatID);
    ASSERT_EQ(4, Q32_EXPORT(module, qfFileGetFileFmtNum)());   /* BMP, JPG, QQQ, XYZ */
    const struct { const char *extension, *description; int format; } cases[] = {
        {"jpe", nullptr, 2},          /* in JPG's list and XYZ's: the smaller code */
        {"JPEG", nullptr, 2},
        {"rle", nullptr, 1},
        {"xyz", nullptr, 4},          /* by code */
        {"qu2", nullptr, 3},          /* user list only */
        {"qqq", nullptr, 3},
        {"jpe", "ex WHY zed", 4},
        {nullptr, "joint PHOTOGRAPHIC", 2},
        {"bmp", "Joint photographic", -1},
        {"none", nullptr, -1},
        {"", nullptr, -1},
        {"JPE;", nullptr, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.format, formatId(c.extension, c.description))
            << (c.extension ? c.extension : "(null)") << " / "
            << (c.description ? c.description : "(null)");
    c32ResetDLLErrInfo();
    EXPECT_EQ(-1, formatId(nullptr, nullptr));
    ExpectError(4026, 1, 1);
}

} // namespace
