/*
 * The real-world formats through the module (bmp.fio, tga.fio, wic.fio and wbmp.fio):
 * detection with the right, a wrong and no extension, reading, and the q32file tool
 * (the module's conversions across the formats are the corpus test's).
 */
#include "sandbox.h"
#include "wic_files.h"
#include <map>

using namespace q32test;
using wictest::Picture;

namespace {

std::vector<WICColor> Colours(unsigned seed)
{
    std::vector<WICColor> colours;
    for (unsigned i = 0; i < 256; i++)
        colours.push_back(0xFF000000u | ((i * 0x3A5F1Bu + seed * 0x1F2E3Du) & 0xFFFFFF));
    return colours;
}

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
        make("JPG", GUID_ContainerFormatJpeg, wictest::Smooth(bgr, 32, 24));
        make("PNG", GUID_ContainerFormatPng, wictest::Pattern(bgr, 32, 24, 1));
        make("TIF", GUID_ContainerFormatTiff,
             wictest::Pattern(GUID_WICPixelFormat8bppGray, 32, 24, 2));
        make("GIF", GUID_ContainerFormatGif,
             wictest::Pattern(GUID_WICPixelFormat8bppIndexed, 32, 24, 3, Colours(1)));
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
            DeleteFileA(path.c_str());
        }
}

/* From the suite's defaults, and TGA's own, which its plug-in enters into the ini file
   when it is registered (they count from the next start on); a user's list stays. */
TEST_F(Formats, TheirExtensionListsNameThem)
{
    ASSERT_GT(FormatId("TGA"), 0);
    char value[32] = "";
    GetPrivateProfileStringA("FIO_EXT", "TGA_EXT", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("VDA;ICB;VST;", value);
    module.Unload();
    Load();
    for (const char *extension : {"JPEG:JPG", "JPE:JPG", "TIFF:TIF", "WBMP:WBM", "VDA:TGA",
                                  "ICB:TGA", "VST:TGA"}) {
        SCOPED_TRACE(extension);
        std::string e = extension, code = e.substr(e.find(':') + 1);
        EXPECT_GT(FormatId(code.c_str()), 0);
        EXPECT_EQ(FormatId(code.c_str()), FormatId(e.substr(0, e.find(':')).c_str()));
    }
    WritePrivateProfileStringA("FIO_EXT", "TGA_EXT", "VDA;", ini.c_str());
    module.Unload();
    Load();
    EXPECT_EQ(-1, FormatId("ICB"));
    GetPrivateProfileStringA("FIO_EXT", "TGA_EXT", "", value, sizeof value, ini.c_str());
    EXPECT_STREQ("VDA;", value);
}

/* Runs the q32file tool with the test's environment: its exit code, and what it printed.
   The output goes through a file: services that Wine starts for the tool inherit its
   handles and outlive it, and would hold a pipe open. */
int RunTool(const std::string &arguments, std::string &output, const std::string &log,
            const std::string &tool = BinFolder() + "q32file.exe")
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = start.hStdError = file;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + tool + "\" " + arguments;
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &start, &process);
    CloseHandle(file);
    if (!started) return -1;
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    output = ReadFileBytes(log);
    return int(code);
}

std::string Quoted(const std::string &path) { return "\"" + path + "\""; }

TEST_F(Formats, TheToolConvertsAcrossFormatsAndListsFrames)
{
    wictest::Com com;
    Samples samples(dir);
    for (auto &[code, bytes] : samples.bytes) WriteFileBytes(dir / ("in." + code), bytes);
    std::vector<Picture> frames;
    const GUID &indexed = GUID_WICPixelFormat8bppIndexed;
    for (unsigned i = 0; i < 3; i++)
        frames.push_back(wictest::Pattern(indexed, 10, 6, 10 + i, Colours(i)));
    ASSERT_TRUE(wictest::Encode(dir / "anim.gif", GUID_ContainerFormatGif, frames));
    ScopedEnv toolIni("Q32_INI", dir / "tool.ini");
    std::string output, log = dir / "tool.log";
    /* Runs the tool on files of the test folder: "convert a b --frame 1" */
    auto tool = [&](const std::string &command, const std::string &from, const std::string &to,
                    const std::string &flags = "") {
        std::string arguments = command + " " + Quoted(dir / from);
        if (!to.empty()) arguments += " " + Quoted(dir / to);
        return RunTool(arguments + flags, output, log);
    };
    auto says = [&](const std::string &text) { return output.find(text) != std::string::npos; };

    ASSERT_EQ(0, tool("frames", "anim.gif", "")) << output;
    EXPECT_TRUE(says("GIF, 3 frames, screen 10 x 6")) << output;
    EXPECT_TRUE(says("frame 2: 10 x 6, 8 bits per pixel")) << output;
    EXPECT_FALSE(says("frame 3")) << output;
    ASSERT_EQ(0, tool("frames", "in.PNG", "")) << output;
    EXPECT_TRUE(says("PNG, 1 frame\r\n")) << output;

    ASSERT_EQ(0, tool("convert", "anim.gif", "frame1.png", " --frame 1")) << output;
    Picture got;
    ASSERT_TRUE(wictest::Decode(dir / "frame1.png", 0, GUID_WICPixelFormat8bppIndexed, got));
    EXPECT_EQ(frames[1].pixels, got.pixels);
    got.palette.resize(256);
    EXPECT_EQ(frames[1].palette, got.palette);
    EXPECT_EQ(1, tool("convert", "anim.gif", "none.png", " --frame 3"));
    EXPECT_TRUE(says("frame 3")) << output;

    /* A JPEG whose EXIF block says it is to be turned 90 degrees clockwise: reported, and
       converted upright (its top row is the stored left column, read from the bottom up). */
    std::string jpeg = samples.bytes["JPG"];
    std::string exif = "Exif" + std::string(2, '\0') + std::string("II*\0\x08\0\0\0\x01\0", 10) +
                       Le16(0x112) + Le16(3) + Le32(1) + Le32(6) + std::string(4, '\0');
    WriteFileBytes(dir / "turned.jpg", jpeg.substr(0, 2) + "\xFF\xE1" +
                                           char((exif.size() + 2) >> 8) + char(exif.size() + 2) +
                                           exif + jpeg.substr(2));
    ASSERT_EQ(0, tool("info", "turned.jpg", "")) << output;
    EXPECT_TRUE(says("orientation  6")) << output;
    ASSERT_EQ(0, tool("convert", "turned.jpg", "upright.bmp")) << output;
    HGLOBAL in = FileDataOf(dir / "turned.jpg"), out = FileDataOf(dir / "upright.bmp");
    ASSERT_TRUE(in && out);
    Rows stored, upright;
    ASSERT_EQ(1, ReadAll(in, stored));
    ASSERT_EQ(1, ReadAll(out, upright));
    const LONG W = Facts(in).raster.width, H = Facts(in).raster.height;
    EXPECT_EQ(H, Facts(out).raster.width);
    EXPECT_EQ(W, Facts(out).raster.height);
    std::string column;
    for (LONG y = H - 1; y >= 0; y--) column += stored.byY[y].substr(0, 3);
    EXPECT_EQ(column, upright.byY[0]);
    Free(in);
    Free(out);

    /* A format that is not written: refused, and nothing is left. */
    EXPECT_EQ(1, tool("convert", "in.PNG", "out2.ico"));
    EXPECT_FALSE(Exists(dir / "out2.ico"));
}

/* A copy of the tool beside the module copy uses its plug-in folder: the shipped
   plug-ins, one that imports a library that is not there, one that is no DLL at all. */
TEST_F(Formats, TheToolSaysWhatFailedAndWhy)
{
    std::string tool = Join(suite, "q32file.exe");
    ASSERT_TRUE(CopyFileA((BinFolder() + "q32file.exe").c_str(), tool.c_str(), FALSE));
    std::string needs = TestPluginFolder() + "tfneeds.fio";
    ASSERT_TRUE(CopyFileA(needs.c_str(), Join(fio, "needs.fio").c_str(), FALSE));
    WriteFileBytes(Join(fio, "junk.fio"), "no library at all");
    ScopedEnv toolIni("Q32_INI", dir / "tool.ini");
    std::string output, log = dir / "tool.log";
    auto run = [&](const std::string &command, const std::string &from = "",
                   const std::string &to = "") {
        std::string arguments = command;
        for (const std::string *name : {&from, &to})
            if (!name->empty()) arguments += " " + Quoted(dir / *name);
        return RunTool(arguments, output, log, tool);
    };
    auto says = [&](const std::string &text) { return output.find(text) != std::string::npos; };

    ASSERT_EQ(0, run("formats")) << output;
    EXPECT_TRUE(says("needs.fio     it cannot be loaded: ")) << output;
    EXPECT_TRUE(says("It needs tfdep.dll, not found")) << output;
    EXPECT_TRUE(says("junk.fio      it is not a Windows DLL")) << output;
    EXPECT_FALSE(says("bmp.fio       it")) << output;

    /* A file that no plug-in recognises; one that is damaged; a write that fails. */
    WriteFileBytes(dir / "odd.xyz", std::string(64, 'Q'));
    EXPECT_EQ(1, run("info", "odd.xyz"));
    EXPECT_TRUE(says("odd.xyz: no plug-in recognises this file (A format plug-in cannot be "
                     "loaded.")) << output;
    std::string png = Samples(dir).bytes["PNG"];
    WriteFileBytes(dir / "cut.png", png.substr(0, png.size() * 2 / 3));
    EXPECT_EQ(1, run("convert", "cut.png", "out.bmp"));
    EXPECT_TRUE(says("cut.png is damaged or incomplete. (error 4020)")) << output;
    WriteFileBytes(dir / "in.png", png);
    EXPECT_EQ(1, run("convert", "in.png", "no such folder\\out.wbmp"));
    EXPECT_TRUE(says("write " + (dir / "no such folder\\out.wbmp") + " as WBM (wbmp.fio): "))
        << output;
    EXPECT_FALSE(says("the plug-in gave no reason")) << output;
    /* A type the target does not store is reduced for it: colour to one bit for WBMP. */
    EXPECT_EQ(0, run("convert", "in.png", "out.wbmp")) << output;
    EXPECT_TRUE(says("1 bits per pixel")) << output;

    /* With its library beside it, the plug-in loads and its format is listed. */
    std::string dep = TestPluginFolder() + "tfdep.dll";
    ASSERT_TRUE(CopyFileA(dep.c_str(), Join(fio, "tfdep.dll").c_str(), FALSE));
    ASSERT_EQ(0, run("formats")) << output;
    EXPECT_TRUE(says("needs.fio  ")) << output;
    EXPECT_FALSE(says("needs.fio     it")) << output;
}

} // namespace
