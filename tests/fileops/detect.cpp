/* Format detection: the order in which formats are asked, and the FileData. */
#include "sandbox.h"

using namespace q32test;

namespace {

class Detect : public ModuleSandbox {
protected:
    std::string File(const std::string &name, const std::string &bytes = "ABCDEFGH")
    {
        WriteFileBytes(dir / name, bytes);
        return dir / name;
    }
};

TEST_F(Detect, EmptyNamesAndNonImagesAskNoPlugin)
{
    Stage("TFA");
    Load();
    for (const char *name : {"", (const char *)nullptr}) {
        HGLOBAL data = Q32_EXPORT(module, qfFileGetFileData)(name, nullptr);
        ASSERT_NE(nullptr, data);
        EXPECT_EQ(sizeof(FileData), GlobalSize(data));
        FileData f = Facts(data);
        EXPECT_EQ(1, f.formatNumber);
        EXPECT_EQ(24u, f.raster.bitsPerPixel);
        EXPECT_EQ((DWORD)Q32_TYPE_RGB, f.raster.dataType);
        EXPECT_EQ(0u, f.fileSize);
        EXPECT_STREQ("", f.name);
        Free(data);
    }
    /* Files that cannot be images fail before any plug-in is asked. */
    for (int size = 0; size < 4; size++) {
        std::string name = File("short" + std::to_string(size) + ".tfa", std::string(size, 'x'));
        EXPECT_EQ(nullptr, FileDataOf(name));
        EXPECT_ERROR(4019, 1702, 4, 2);
        EXPECT_NE(std::string::npos, ReadError().text.find(name)) << ReadError().text;
    }
    EXPECT_EQ(nullptr, FileDataOf(dir / "missing.tfa"));
    EXPECT_ERROR(4027, 1702, 4, 2);
    std::string locked = File("locked.tfa");
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    EXPECT_EQ(nullptr, FileDataOf(locked));
    EXPECT_ERROR(4007, 1702, 4, 2);
    CloseHandle(holder);
    EXPECT_EQ(nullptr, FileDataOf(std::string(260, 'n')));
    EXPECT_ERROR(4026, 1702, 4, 1);
    EXPECT_TRUE(Calls().empty());
}

/* The order of the passes; what the FileData holds, and what freeing it releases. */
TEST_F(Detect, HintThenExtensionThenSignaturesThenProbes)
{
    Stage("HNT", {}, "0");
    Stage("EXT", {}, "0");
    Stage("SIG", {}, "0", "41424344");
    Stage("BAD", {}, "accept", "5A5A"); /* a signature that does not match: never asked */
    Stage("PRA", {}, "0");
    Stage("PRB", {{"Palette", "16"}});
    Stage("PRC", {});
    Load();
    std::string name = File("picture.ext");
    char hint[8] = "hnt";
    HGLOBAL data = FileDataOf(name, hint);
    ASSERT_NE(nullptr, data);
    EXPECT_STREQ("PRB", hint);
    std::vector<std::string> asked;
    for (const char *code : {"HNT", "EXT", "SIG", "PRA", "PRB"})
        asked.push_back(std::string(code) + ".FIO getfiledata 0 " + name);
    EXPECT_EQ(asked, Calls());
    FileData f = Facts(data);
    EXPECT_EQ(FormatId("PRB"), f.formatNumber);
    EXPECT_EQ(name, f.name);
    EXPECT_EQ(8u, f.fileSize);
    /* Freeing releases the palette and the property block. */
    ASSERT_NE(nullptr, f.raster.palette);
    HGLOBAL property = GlobalAlloc(GHND, sizeof(PropertyBlock));
    ASSERT_EQ(1, Q32_EXPORT(module, qfFileSetProperty)(data, property));
    Free(data);
    EXPECT_EQ(0, GetObjectType(f.raster.palette));
    EXPECT_EQ((UINT)GMEM_INVALID_HANDLE, GlobalFlags(property));
}

TEST_F(Detect, AnswerMinusTwoStopsWithItsOwnError)
{
    Stage("AAA", {}, "-2");
    Stage("ZZZ", {});
    Load();
    EXPECT_EQ(nullptr, FileDataOf(File("picture.aaa")));
    EXPECT_ERROR(5200, 703, 1702, 428);
    EXPECT_EQ(1u, Calls().size());
    ForgetCalls();
    char hint[8] = "ZZZ";
    std::string other = File("picture.xyz");
    HGLOBAL data = FileDataOf(other, hint); /* ZZZ answers first: AAA never asked */
    EXPECT_NE(nullptr, data);
    Free(data);
    EXPECT_EQ(1u, Calls().size());
    EXPECT_EQ(nullptr, FileDataOf(other)); /* in the probe the place differs */
    EXPECT_ERROR(5200, 703, 1702, 527);
}

TEST_F(Detect, PluginErrorsAreRecordedAgainWithTheName)
{
    Stage("AAA", {{"FileDataError", "4020"}}, "-1");
    Stage("BBB", {{"FileDataError", "4021"}}, "-1");
    Load();
    /* AAA (key pass) re-recorded at 423; BBB's 4021 (probe) is left as it was. */
    EXPECT_EQ(nullptr, FileDataOf(File("picture.aaa")));
    EXPECT_EQ(4021u, ReadError().id);
    EXPECT_EQ(1799, ReadError().where1);
    std::string second = File("picture.bbb");
    EXPECT_EQ(nullptr, FileDataOf(second)); /* BBB (key), then AAA in the probe: 522 */
    EXPECT_ERROR(4020, 703, 1702, 522);
    EXPECT_NE(std::string::npos, ReadError().text.find(second));
}

TEST_F(Detect, RiffPalettesAndVideoAreRefusedAfterTheKeyPasses)
{
    Stage("PAL", {}, "0");
    Stage("PRB", {});
    Load();
    std::string palette = File("colours.pal", std::string("RIFF\x10\0\0\0PAL data\0\0\0\0", 20));
    EXPECT_EQ(nullptr, FileDataOf(palette));
    EXPECT_ERROR(4019, 1702, 4, 2);
    EXPECT_EQ(1u, Calls().size()); /* PAL asked by extension; the probe never ran */
    std::string sequence(3000, '\x11');
    sequence[0] = 0;
    sequence.replace(2000, 4, std::string("\0\0\x01\xB3", 4));
    std::string cdxa = std::string("RIFF\0\0\0\0CDXAfmt ", 16) + std::string(16, 'x');
    for (const std::string &video : {std::string("\0\0\x01\xBA\x44\0\0\0", 8), sequence, cdxa}) {
        EXPECT_EQ(nullptr, FileDataOf(File("clip.bin", video)));
        EXPECT_ERROR(4019, 1702, 4, 2);
    }
    /* The same palette is an image when its format recognises it in the key pass. */
    module.Unload();
    Stage("PAL", {});
    Load();
    HGLOBAL data = FileDataOf(palette);
    EXPECT_NE(nullptr, data);
    Free(data);
}

} // namespace
