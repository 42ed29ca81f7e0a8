/* Reading and writing through the plug-ins: the checks, the error places, the work file
   and what the target holds after a failed write. */
#include "sandbox.h"
#include "testfio.h"
#include <functional>
#include <string.h>

using namespace q32test;

namespace {

/* Gives rows of a constant 24-bit colour. */
LONG WINAPI Give(ImageRequest *, LONG, LONG, LONG count, LONG rows, void *rowData, DWORD,
                 LONG_PTR, LONG_PTR)
{
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) memset(list[i], 0x42, (size_t)count * 3);
    return 1;
}

ImageRequest Raster(DWORD types = Q32_TYPE_RGB, Rows *rows = nullptr)
{
    ImageRequest r = {};
    r.rasterWanted = 1;
    r.rasterTypes = types;
    r.context = rows;
    return r;
}

class ReadWrite : public ModuleSandbox {
protected:
    std::string picture = dir / "picture.tfa";
    Rows sink;

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        WriteFileBytes(picture, "ABCDEFGH");
        sink.dataType = Q32_TYPE_RGB, sink.bits = 24;
    }
    INT_PTR Read(HGLOBAL data, ImageRequest *request)
    {
        return Q32_EXPORT(module, qfFileRead)(data, request, Collect);
    }
    int Write(HGLOBAL data, ImageRequest *request)
    {
        return Q32_EXPORT(module, qfFileWrite)(data, request, Give);
    }
    /* A FileData for writing an 8 x 6 target in format code. */
    HGLOBAL Target(const std::string &target, const char *code)
    {
        HGLOBAL data = FileDataOf("");
        int number = FormatId(code);
        Edit(data, [&](FileData &f) {
            f.formatNumber = number;
            lstrcpynA(f.name, target.c_str(), sizeof f.name);
            f.raster.width = 8;
            f.raster.height = 6;
        });
        return data;
    }
};

TEST_F(ReadWrite, ReadDeliversTheImageAndFillsTheRequestSize)
{
    Stage("TFA", {{"Width", "8"}, {"Height", "6"}, {"Read", "blocks"}});
    Load();
    HGLOBAL data = FileDataOf(picture);
    ASSERT_NE(nullptr, data);
    ImageRequest request = Raster(Q32_TYPE_RGB, &sink);
    EXPECT_EQ(1, Read(data, &request));
    EXPECT_EQ(8, request.rasterWidth);
    EXPECT_EQ(6, request.rasterHeight);
    ASSERT_EQ(6u, sink.byY.size());
    for (LONG y = 0; y < 6; y++)
        for (LONG i = 0; i < 8 * 3; i++)
            ASSERT_EQ(TestPixelByte(i / 3, y, i % 3), (BYTE)sink.byY[y][i]) << y << " " << i;

    /* A request with an origin goes to the plug-in unchanged. */
    ImageRequest region = Raster(Q32_TYPE_RGB, &sink);
    region.rasterX = 2;
    region.rasterWidth = 3;
    region.rasterHeight = 2;
    ForgetCalls();
    EXPECT_EQ(1, Read(data, &region));
    EXPECT_EQ((std::vector<std::string>{"TFA.FIO read 0 3 2 0 0"}), Calls());
    Free(data);
}

/* The checks of a read and of a write, in order, each with its error and place. */
TEST_F(ReadWrite, ReadAndWriteErrorPlaces)
{
    Stage("TFA", {{"VectorPresent", "1"}, {"VectorWidth", "10"}, {"VectorHeight", "5"}});
    Stage("TFB", {{"Readable", "0"}});
    Stage("TFC", {{"FailAfter", "0"}});
    Load();
    char tfb[8] = "TFB", tfc[8] = "TFC";
    HGLOBAL data = FileDataOf(picture), unreadable = FileDataOf(picture, tfb);
    HGLOBAL broken = FileDataOf(picture, tfc), out = Target(dir / "out.tfa", "TFA");
    ASSERT_TRUE(data && unreadable && broken && out);
    ImageRequest none = {}, raster = Raster(Q32_TYPE_RGB, &sink), grey = Raster(Q32_TYPE_GREY8);
    ImageRequest palette = Raster(Q32_TYPE_PALETTE4), noType = Raster(0), bigger = Raster();
    ImageRequest vector = {}, vectorOut = Raster();
    vector.vectorWanted = vectorOut.vectorWanted = 1;
    vector.vectorWidth = 11, vector.vectorHeight = 5;
    bigger.rasterWidth = 9, bigger.rasterHeight = 6;
    using Change = std::function<void(FileData &)>;
    const Change nothing = [](FileData &) {};
    const std::string nowhere = dir / "nowhere\\out.tfa";
    const struct {
        const char *what; HGLOBAL h; Change change; ImageRequest *request; bool write;
        UINT id; int place;
    } cases[] = {
        {"read without FileData", nullptr, nothing, &none, false, 4026, 1},
        {"read of nothing", data, nothing, &none, false, 4026, 2},
        {"vector read larger than the vector", data, nothing, &vector, false, 4026, 6},
        {"vector read without vector data", data, [](FileData &f) { f.vectorPresent = 0; },
         &vector, false, 4026, 4},
        {"read of an unknown format", data, [](FileData &f) { f.formatNumber = 99; }, &raster,
         false, 4026, 3},
        {"read of an unreadable image", unreadable, nothing, &raster, false, 4019, 7},
        {"read that fails", broken, nothing, &raster, false, 4020, 14},
        {"write without FileData", nullptr, nothing, &raster, true, 4026, 1},
        {"write of nothing", out, nothing, &none, true, 4026, 2},
        {"grey write without grey", out, [](FileData &f) { f.writeKind = -1; }, &grey, true,
         4026, 3},
        {"palette write without palette", out, [](FileData &f) { f.writeKind = -2; }, &palette,
         true, 4026, 4},
        {"unknown write kind", out, [](FileData &f) { f.writeKind = 5; }, &noType, true, 4026, 5},
        {"write without a format", out, [](FileData &f) { f.writeKind = 0, f.formatNumber = 0; },
         &raster, true, 4026, 7},
        {"vector write to a raster format", out, nothing, &vectorOut, true, 4026, 8},
        {"write larger than the image", out, nothing, &bigger, true, 4026, 10},
        {"work file that cannot be made", out,
         [&](FileData &f) { lstrcpynA(f.name, nowhere.c_str(), sizeof f.name); }, &raster, true,
         4008, 12},
    };
    int tfa = FormatId("TFA");
    for (const auto &c : cases) {
        if (c.h) Edit(c.h, [&](FileData &f) {
            if (c.write) f.formatNumber = tfa;
            c.change(f);
        });
        c32ResetDLLErrInfo();
        INT_PTR result = c.write ? Write(c.h, c.request) : Read(c.h, c.request);
        EXPECT_EQ(0, result) << c.what;
        std::string text = ReadError().text;
        ExpectError(c.id, c.write ? 10 : 9, c.place, c.what);
        if (c.id == 4019 || c.id == 4020) {
            EXPECT_NE(std::string::npos, text.find(picture)) << c.what << ": " << text;
        }
    }
    /* A file gone before its read. */
    DeleteFileA(picture.c_str());
    EXPECT_EQ(0, Read(broken, &raster));
    ExpectError(4004, 9, 11);
    for (HGLOBAL h : {data, unreadable, broken, out}) Free(h);
}

/* Each operation fails in the test plug-in, which records each identifier a plug-in may
   record, with a null text, an unformatted text of its own, or nothing: what the module
   hands back names the file and holds no "%s". */
TEST_F(ReadWrite, NoMessageKeepsAnUnfilledPlaceholder)
{
    Stage("TFA", {{"FailAfter", "0"}, {"WriteFailAfter", "0"}}, "accept", "41424344");
    Stage("TFD", {{"FileDataError", "4020"}}, "-1");
    Load();
    std::string probe = dir / "probe.tfd", target = dir / "out.tfa";
    WriteFileBytes(probe, "ZZZZZZZZ");
    HGLOBAL data = FileDataOf(picture), out = Target(target, "TFA");
    ASSERT_TRUE(data && out) << ReadError().text;
    BYTE pixels[16 * 16 * 4];
    static PreviewInfo info;
    const struct { const char *operation; const std::string *name; std::function<bool()> fails; }
    operations[] = {
        {"detection", &probe, [&] { return FileDataOf(probe) == nullptr; }},
        {"read", &picture, [&] {
             ImageRequest r = Raster(Q32_TYPE_RGB, &sink);
             return Read(data, &r) == 0;
         }},
        {"write", &target, [&] {
             ImageRequest r = Raster();
             return Write(out, &r) != 1;
         }},
        {"preview", &picture, [&] {
             return Q32_EXPORT(module, qfFileGetPreviewMem)(data, &info, 0, pixels, 16, 16) == 0;
         }},
    };
    std::vector<std::string> errors = {"none"};
    for (const char *id : {"1004", "4004", "4007", "4008", "4019", "4020", "4024", "4026",
                           "4027"}) {
        errors.push_back(std::string(id) + ":");
        errors.push_back(std::string(id) + ":the plug-in cannot use %s");
    }
    for (const auto &o : operations)
        for (const std::string &error : errors) {
            SCOPED_TRACE(std::string(o.operation) + " with " + error);
            ScopedEnv recorded("TESTFIO_ERROR", error);
            c32ResetDLLErrInfo();
            ASSERT_TRUE(o.fails());
            RecordedError e = ReadError();
            EXPECT_EQ(std::string::npos, e.text.find("%s")) << e.text;
            char table[C32_ERRTEXT_SIZE] = "";
            c32GetString(e.id, table, sizeof table);
            if (error.find("%s") != std::string::npos || strstr(table, "%s")) {
                EXPECT_NE(std::string::npos, e.text.find(*o.name)) << e.text;
            }
        }
    Free(out);
    Free(data);
}

/* A plug-in that writes by name (bit 12 of the capability word, not of flags2) is told
   the work file's name beside the target; the target's name and written size come back. */
TEST_F(ReadWrite, WorkFileNamesBesideTheTarget)
{
    Stage("TFA", {}, "accept", "", FI_WRITES_BY_NAME | Q32_CAP_ALL_RASTER);
    Load();
    CreateDirectoryA((dir / "dotted.folder").c_str(), nullptr);
    const struct { std::string target, work; } cases[] = {
        {dir / "B.BMP", dir / "B.$$$"},
        {dir / "noextension", dir / "noextension.$$$"},
        {dir / "dotted.folder\\name", dir / "dotted.folder\\name.$$$"},
        {dir / "two.dots.tfa", dir / "two.dots.$$$"},
    };
    for (const auto &c : cases) {
        ForgetCalls();
        HGLOBAL data = Target(c.target, "TFA");
        ImageRequest request = Raster();
        EXPECT_EQ(1, Write(data, &request)) << c.target;
        EXPECT_EQ((std::vector<std::string>{"TFA.FIO write 0 " + c.work}), Calls());
        EXPECT_TRUE(Exists(c.target));
        EXPECT_FALSE(Exists(c.work));
        EXPECT_EQ(c.target, Facts(data).name);
        EXPECT_EQ(8u * 6 * 3, Facts(data).fileSize);
        Free(data);
    }
}

/* A target held open by another program is refused before any work file exists; once
   free, a good write replaces it. */
TEST_F(ReadWrite, AHeldTargetIsRefusedAndLaterReplaced)
{
    Stage("OK", {});
    Load();
    std::string target = dir / "keep.img";
    const std::string old = "the old content of the file";
    WriteFileBytes(target, old);
    HGLOBAL data = Target(target, "OK");
    ImageRequest request = Raster();
    HANDLE holder = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ForgetCalls();
    EXPECT_EQ(0, Write(data, &request));
    EXPECT_ERROR(4022, 1702, 10, 6);
    EXPECT_FALSE(Exists(dir / "keep.$$$"));
    EXPECT_TRUE(Calls().empty());
    CloseHandle(holder);
    EXPECT_EQ(old, ReadFileBytes(target));
    EXPECT_EQ(1, Write(data, &request));
    EXPECT_EQ(std::string(8 * 6 * 3, '\x42'), ReadFileBytes(target));
    Free(data);
}

TEST_F(ReadWrite, VectorOperations)
{
    Stage("TFA", {{"VectorPresent", "1"}, {"VectorWidth", "4"}, {"VectorHeight", "4"}});
    Stage("NOV", {}, "accept", "", 0x80);
    Stage("VEC", {{"WritesVector", "1"}}, "accept", "", 0x80);
    Load();
    auto readVector = Q32_EXPORT(module, qfFileReadVector);
    HGLOBAL data = FileDataOf(picture);
    ASSERT_NE(nullptr, data);
    /* The data type becomes vector even when the read fails later. */
    Edit(data, [](FileData &f) { f.readable = 0; });
    EXPECT_EQ(0, readVector(data, 0, 0, 0));
    EXPECT_ERROR(4019, 1702, 20, 3);
    EXPECT_EQ((DWORD)Q32_TYPE_VECTOR, Facts(data).raster.dataType);
    EXPECT_EQ(0, readVector(nullptr, 0, 0, 0));
    EXPECT_ERROR(4026, 1702, 20, 1);
    Free(data);

    /* Capability 0x80 refuses vector writing only for a format that does not declare it;
       one that declares it (and so is offered for vector images) is asked to write. */
    for (const char *code : {"NOV", "VEC"}) {
        HGLOBAL out = Target(dir / (std::string("v.") + code), code);
        c32ResetDLLErrInfo();
        INT_PTR expected = code[0] == 'N' ? -1 : TESTFIO_ANSWER(0, 20);
        EXPECT_EQ(expected, Q32_EXPORT(module, qfFileWriteVector)(out, 0, 0, 0)) << code;
        EXPECT_EQ(0u, ReadError().id) << code;
        EXPECT_FALSE(Exists(dir / "v.$$$")) << code;
        Free(out);
    }
}

/* A plug-in without the operation's entry: 4026 at the operation's own place, never 0
   with an empty or stale slot, and no work file left behind. */
TEST_F(ReadWrite, AMissingEntryRecords4026)
{
    TestFormat format = Format("SPA", "sparse", Q32_CAP_ALL_RASTER);
    format.fileData = "accept";
    format.keys = {{"WritesVector", "1"}};
    StagePlugin(fio, TestPlugin("SPA.FIO", {format}, std::nullopt, "tfsparse"));
    Load();
    WriteFileBytes(dir / "s.spa", "ABCDEFGH");
    HGLOBAL data = FileDataOf(dir / "s.spa"), out = Target(dir / "out.spa", "SPA");
    ASSERT_TRUE(data && out);
    ImageRequest request = Raster();
    auto readVector = Q32_EXPORT(module, qfFileReadVector);
    auto writeVector = Q32_EXPORT(module, qfFileWriteVector);
    const struct { const char *what; std::function<INT_PTR()> call; int operation, place; }
    cases[] = {
        {"write", [&] { return (INT_PTR)Write(out, &request); }, 10, 15},
        {"read vector", [&] { return readVector(data, 0, 0, 0); }, 20, 8},
        {"write vector", [&] { return (INT_PTR)writeVector(out, 0, 0, 0); }, 21, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        c32SetDLLErrInfo("a stale error", 4020, 0, 1, 2, 3);
        EXPECT_EQ(0, c.call());
        EXPECT_ERROR(4026, 1702, c.operation, c.place);
        EXPECT_FALSE(Exists(dir / "out.$$$"));
    }
    Free(out);
    Free(data);
}

} // namespace
