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

/* The checks of each read and write, in order, each with its error and place (the slot
   holds a stale error before each); a plug-in without the operation's entry (tfsparse)
   is error 4026 too. No work file is left. Vector writes follow the capability. */
TEST_F(ReadWrite, ReadAndWriteErrorPlaces)
{
    Stage("TFA", {{"VectorPresent", "1"}, {"VectorWidth", "10"}, {"VectorHeight", "5"}});
    Stage("TFB", {{"Readable", "0"}});
    Stage("TFC", {{"FailAfter", "0"}});
    TestFormat format = Format("SPA", "sparse", Q32_CAP_ALL_RASTER);
    format.fileData = "accept";
    format.keys = {{"WritesVector", "1"}};
    StagePlugin(fio, TestPlugin("SPA.FIO", {format}, std::nullopt, "tfsparse"));
    Stage("NOV", {}, "accept", "", 0x80);
    Stage("VEC", {{"WritesVector", "1"}}, "accept", "", 0x80);
    Load();
    char tfb[8] = "TFB", tfc[8] = "TFC";
    WriteFileBytes(dir / "s.spa", "ABCDEFGH");
    HGLOBAL data = FileDataOf(picture), unreadable = FileDataOf(picture, tfb);
    HGLOBAL broken = FileDataOf(picture, tfc), out = Target(dir / "out.tfa", "TFA");
    HGLOBAL sparse = FileDataOf(dir / "s.spa"), sparseOut = Target(dir / "out.spa", "SPA");
    ASSERT_TRUE(data && unreadable && broken && out && sparse && sparseOut);
    ImageRequest none = {}, raster = Raster(Q32_TYPE_RGB, &sink), grey = Raster(Q32_TYPE_GREY8);
    ImageRequest palette = Raster(Q32_TYPE_PALETTE4), noType = Raster(0), bigger = Raster();
    ImageRequest vector = {}, vectorOut = Raster(), plain = Raster();
    vector.vectorWanted = vectorOut.vectorWanted = 1;
    vector.vectorWidth = 11, vector.vectorHeight = 5;
    bigger.rasterWidth = 9, bigger.rasterHeight = 6;
    using Change = std::function<void(FileData &)>;
    const Change nothing = [](FileData &) {};
    const std::string nowhere = dir / "nowhere\\out.tfa";
    enum { ReadOp = 9, WriteOp = 10, ReadVector = 20, WriteVector = 21 };
    const struct {
        const char *what; HGLOBAL h; Change change; ImageRequest *request; int operation;
        UINT id; int place;
    } cases[] = {
        {"read without FileData", nullptr, nothing, &none, ReadOp, 4026, 1},
        {"read of nothing", data, nothing, &none, ReadOp, 4026, 2},
        {"vector read larger than the vector", data, nothing, &vector, ReadOp, 4026, 6},
        {"vector read without vector data", data, [](FileData &f) { f.vectorPresent = 0; },
         &vector, ReadOp, 4026, 4},
        {"read of an unknown format", data, [](FileData &f) { f.formatNumber = 99; }, &raster,
         ReadOp, 4026, 3},
        {"read of an unreadable image", unreadable, nothing, &raster, ReadOp, 4019, 7},
        {"read that fails", broken, nothing, &raster, ReadOp, 4020, 14},
        {"write without FileData", nullptr, nothing, &raster, WriteOp, 4026, 1},
        {"write of nothing", out, nothing, &none, WriteOp, 4026, 2},
        {"grey write without grey", out, [](FileData &f) { f.writeKind = -1; }, &grey, WriteOp,
         4026, 3},
        {"palette write without palette", out, [](FileData &f) { f.writeKind = -2; }, &palette,
         WriteOp, 4026, 4},
        {"unknown write kind", out, [](FileData &f) { f.writeKind = 5; }, &noType, WriteOp, 4026,
         5},
        {"write without a format", out, [](FileData &f) { f.writeKind = 0, f.formatNumber = 0; },
         &raster, WriteOp, 4026, 7},
        {"vector write to a raster format", out, nothing, &vectorOut, WriteOp, 4026, 8},
        {"write larger than the image", out, nothing, &bigger, WriteOp, 4026, 10},
        {"work file that cannot be made", out,
         [&](FileData &f) { lstrcpynA(f.name, nowhere.c_str(), sizeof f.name); }, &raster,
         WriteOp, 4008, 12},
        {"write without the entry", sparseOut, nothing, &plain, WriteOp, 4026, 15},
        {"vector read without FileData", nullptr, nothing, nullptr, ReadVector, 4026, 1},
        {"vector read of an unreadable image", unreadable, nothing, nullptr, ReadVector, 4019, 3},
        {"vector read without the entry", sparse, nothing, nullptr, ReadVector, 4026, 8},
        {"vector write without the entry", sparseOut, nothing, nullptr, WriteVector, 4026, 7},
    };
    int tfa = FormatId("TFA");
    auto readVector = Q32_EXPORT(module, qfFileReadVector);
    auto writeVector = Q32_EXPORT(module, qfFileWriteVector);
    for (const auto &c : cases) {
        if (c.h) Edit(c.h, [&](FileData &f) {
            if (c.h == out) f.formatNumber = tfa;
            c.change(f);
        });
        c32SetDLLErrInfo("a stale error", 4020, 0, 1, 2, 3);
        INT_PTR result = c.operation == ReadOp    ? Read(c.h, c.request)
                         : c.operation == WriteOp ? Write(c.h, c.request)
                         : c.operation == ReadVector ? readVector(c.h, 0, 0, 0)
                                                     : writeVector(c.h, 0, 0, 0);
        EXPECT_EQ(0, result) << c.what;
        std::string text = ReadError().text;
        ExpectError(c.id, c.operation, c.place, c.what);
        if (c.id == 4019 || c.id == 4020) {
            EXPECT_NE(std::string::npos, text.find(picture)) << c.what << ": " << text;
        }
        EXPECT_FALSE(Exists(dir / "out.$$$")) << c.what;
    }
    EXPECT_EQ((DWORD)Q32_TYPE_VECTOR, Facts(unreadable).raster.dataType)
        << "the data type becomes vector even when the vector read fails";
    /* A file gone before its read. */
    DeleteFileA(picture.c_str());
    EXPECT_EQ(0, Read(broken, &raster));
    ExpectError(4004, 9, 11);
    for (HGLOBAL h : {data, unreadable, broken, out, sparse, sparseOut}) Free(h);

    /* Capability 0x80 refuses vector writing only for a format that does not declare it;
       one that declares it (and so is offered for vector images) is asked to write. */
    for (const char *code : {"NOV", "VEC"}) {
        HGLOBAL vectorTarget = Target(dir / (std::string("v.") + code), code);
        c32ResetDLLErrInfo();
        INT_PTR expected = code[0] == 'N' ? -1 : TESTFIO_ANSWER(0, 20);
        EXPECT_EQ(expected, writeVector(vectorTarget, 0, 0, 0)) << code;
        EXPECT_EQ(0u, ReadError().id) << code;
        EXPECT_FALSE(Exists(dir / "v.$$$")) << code;
        Free(vectorTarget);
    }
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

} // namespace
