/*
 * The real-world formats through the module (bmp.fio, tga.fio, wic.fio and wbmp.fio):
 * detection with the right, a wrong and no extension, reading, and the q32file tool
 * (the conversions across the formats, frames and orientation are the corpus test's).
 */
#include "sandbox.h"
#include "wic_files.h"
#include <cstdlib>
#include <map>

using namespace q32test;
using wictest::Picture;

namespace {

/* Sample files of every format, made by the component directly or byte by byte. */
struct Samples {
    std::map<std::string, std::string> bytes; /* by code */

    explicit Samples(const TempDir &dir)
    {
        wictest::Com com;
        auto make = [&](const std::string &code, const GUID &container, const Picture &picture) {
            std::string path = dir / ("sample." + code);
            EXPECT_TRUE(wictest::Encode(path, container, {picture})) << code;
            bytes[code] = ReadFileBytes(path);
        };
        const GUID &bgr = GUID_WICPixelFormat24bppBGR;
        std::vector<WICColor> colours;
        for (unsigned i = 0; i < 256; i++)
            colours.push_back(0xFF000000u | (i * 0x3A5F1Bu & 0xFFFFFF));
        make("JPG", GUID_ContainerFormatJpeg, wictest::Smooth(bgr, 32, 24));
        make("PNG", GUID_ContainerFormatPng, wictest::Pattern(bgr, 32, 24, 1));
        make("TIF", GUID_ContainerFormatTiff,
             wictest::Pattern(GUID_WICPixelFormat8bppGray, 32, 24, 2));
        make("GIF", GUID_ContainerFormatGif,
             wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 32, 24, 3, colours));
        std::string png = bytes["PNG"];
        bytes["ICO"] = Le16(0) + Le16(1) + Le16(1) + "\x20\x18" + std::string(2, '\0') + Le16(1) +
                       Le16(32) + Le32(unsigned(png.size())) + Le32(22) + png;
        bytes["TGA"] = std::string("\0\0\2", 3) + std::string(9, '\0') + Le16(4) + Le16(2) +
                       "\x18\x20";
        for (int i = 0; i < 24; i++) bytes["TGA"] += char(i * 10);
        bytes["WBM"] = std::string("\0\0\x10\x02\xF0\x0F\x55\xAA", 8);
    }
};

class Formats : public ModuleSandbox {
protected:
    void SetUp() override
    {
        ModuleSandbox::SetUp();
        for (const char *plugin : {"bmp.fio", "wic.fio", "wbmp.fio", "tga.fio"}) StageBuilt(plugin);
        Load();
    }
};

TEST_F(Formats, EachFormatIsFoundWithTheRightAWrongAndNoExtension)
{
    Samples samples(dir);
    const struct { std::string code; std::vector<std::string> names; } cases[] = {
        {"JPG", {"a.jpg", "a.jpeg", "a.JPE", "a.png", "a.bmp", "a"}},
        {"PNG", {"a.png", "a.jpg", "a.gif", "a"}},
        {"TIF", {"a.tif", "a.tiff", "a.png", "a"}},
        {"GIF", {"a.gif", "a.tif", "a"}},
        {"ICO", {"a.ico", "a.wbmp", "a"}},
        {"TGA", {"a.tga", "a.vda", "a.png", "a.bmp", "a"}},
        {"WBM", {"a.wbm", "a.wbmp", "a.ico", "a.tga", "a"}},
    };
    for (const auto &c : cases)
        for (const std::string &name : c.names) {
            SCOPED_TRACE(c.code + " as " + name);
            std::string path = dir / name;
            WriteFileBytes(path, samples.bytes[c.code]);
            char hint[8] = "";
            HGLOBAL data = FileDataOf(path, hint);
            ASSERT_NE(nullptr, data) << ReadError().text;
            EXPECT_EQ(c.code, hint);
            FileData facts = Facts(data);
            EXPECT_EQ(FormatId(c.code.c_str()), facts.formatNumber);
            EXPECT_EQ(DWORD(samples.bytes[c.code].size()), facts.fileSize);
            Rows rows;
            EXPECT_EQ(1, ReadAll(data, rows)) << ReadError().text;
            EXPECT_EQ(size_t(facts.raster.height), rows.byY.size());
            Free(data);
        }
}

/* A copy of the tool beside the module copy uses its plug-in folder: the shipped plug-ins,
   one that imports a library that is not there, one that is no DLL at all. */
TEST_F(Formats, TheToolSaysWhatFailedAndWhy)
{
    std::string tool = Join(suite, "q32file.exe");
    ASSERT_TRUE(CopyFileA((BinFolder() + "q32file.exe").c_str(), tool.c_str(), FALSE));
    std::string needs = TestPluginFolder() + "tfneeds.fio";
    ASSERT_TRUE(CopyFileA(needs.c_str(), Join(fio, "needs.fio").c_str(), FALSE));
    WriteFileBytes(Join(fio, "junk.fio"), "no library at all");
    ScopedEnv toolIni("Q32_INI", dir / "tool.ini");
    std::string output, log = dir / "tool.log";
    /* Runs the tool on files of the test folder: its exit code. Its output goes through a
       file (services that Wine starts for it inherit its handles and would hold a pipe
       open); cmd drops the outer quotes. */
    auto run = [&](std::string arguments, std::vector<std::string> files = {}) {
        for (const std::string &name : files) arguments += " \"" + (dir / name) + "\"";
        std::string command = "\"\"" + tool + "\" " + arguments + " >\"" + log + "\" 2>&1\"";
        int code = std::system(command.c_str());
        output = ReadFileBytes(log);
        return code;
    };
    auto says = [&](const std::string &text) { return output.find(text) != std::string::npos; };

    ASSERT_EQ(0, run("formats")) << output;
    EXPECT_TRUE(says("needs.fio     it cannot be loaded: ")) << output;
    EXPECT_TRUE(says("It needs tfdep.dll, not found")) << output;
    EXPECT_TRUE(says("junk.fio      it is not a Windows DLL")) << output;
    EXPECT_FALSE(says("bmp.fio       it")) << output;

    /* A file that no plug-in recognises; one that is damaged; a write that fails. */
    WriteFileBytes(dir / "odd.xyz", std::string(64, 'Q'));
    EXPECT_EQ(1, run("info", {"odd.xyz"}));
    EXPECT_TRUE(says("odd.xyz: no plug-in recognises this file (A format plug-in cannot be "
                     "loaded.")) << output;
    std::string png = Samples(dir).bytes["PNG"];
    WriteFileBytes(dir / "cut.png", png.substr(0, png.size() * 2 / 3));
    EXPECT_EQ(1, run("convert", {"cut.png", "out.bmp"}));
    EXPECT_TRUE(says("cut.png is damaged or incomplete. (error 4020)")) << output;
    WriteFileBytes(dir / "in.png", png);
    EXPECT_EQ(1, run("convert", {"in.png", "no such folder\\out.wbmp"}));
    EXPECT_TRUE(says("write " + (dir / "no such folder\\out.wbmp") + " as WBM (wbmp.fio): "))
        << output;
    EXPECT_FALSE(says("the plug-in gave no reason")) << output;

    /* With its library beside it, the plug-in loads and its format is listed. */
    std::string dep = TestPluginFolder() + "tfdep.dll";
    ASSERT_TRUE(CopyFileA(dep.c_str(), Join(fio, "tfdep.dll").c_str(), FALSE));
    ASSERT_EQ(0, run("formats")) << output;
    EXPECT_TRUE(says("needs.fio  ")) << output;
    EXPECT_FALSE(says("needs.fio     it")) << output;
}

} // namespace
