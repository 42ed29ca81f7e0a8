/* Reading and writing through the plug-ins: the checks, the error places, the work file
   and what the target holds after a failed write. */
#include "sandbox.h"
#include "testfio.h"
#include "q32fio.h"
#include <functional>
#include <string.h>

using namespace q32test;

namespace {

/* Collects every row delivered into a width x height 24-bit image. */
struct Collected {
    LONG width, height;
    std::vector<BYTE> pixels;
};

LONG WINAPI CollectInto(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                    DWORD, LONG_PTR, LONG_PTR)
{
    Collected &c = *static_cast<Collected *>(request->context);
    const BYTE *const *list = static_cast<const BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++)
        if (y + i >= 0 && y + i < c.height && x >= 0 && x + count <= c.width)
            memcpy(&c.pixels[((size_t)(y + i) * c.width + x) * 3], list[i], (size_t)count * 3);
    return 1;
}

/* Gives rows of a constant 24-bit colour. */
LONG WINAPI Give(ImageRequest *request, LONG, LONG, LONG count, LONG rows, void *rowData, DWORD,
                 LONG_PTR, LONG_PTR)
{
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) memset(list[i], 0x42, (size_t)count * 3);
    return 1;
}

class ReadWrite : public ModuleSandbox {
protected:
    std::string picture = dir / "picture.tfa";

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        WriteFileBytes(picture, "ABCDEFGH");
    }
    INT_PTR Read(HGLOBAL data, ImageRequest *request, RowCallback callback = CollectInto)
    {
        return Q32_EXPORT(module, qfFileRead)(data, request, callback);
    }
    int Write(HGLOBAL data, ImageRequest *request)
    {
        return Q32_EXPORT(module, qfFileWrite)(data, request, Give);
    }
    /* A FileData for writing target in format code. */
    HGLOBAL Target(const std::string &target, const char *code, LONG width = 8, LONG height = 6)
    {
        HGLOBAL data = FileDataOf("");
        int number = FormatId(code);
        Edit(data, [&](FileData &f) {
            f.formatNumber = number;
            lstrcpynA(f.name, target.c_str(), sizeof f.name);
            f.raster.width = width;
            f.raster.height = height;
        });
        return data;
    }
};

ImageRequest Raster(DWORD types = Q32_TYPE_RGB)
{
    ImageRequest r = {};
    r.rasterWanted = 1;
    r.rasterTypes = types;
    return r;
}

TEST_F(ReadWrite, ReadDeliversTheImageAndFillsTheRequestSize)
{
    Stage("TFA", {{"Width", "8"}, {"Height", "6"}, {"Read", "blocks"}});
    Load();
    HGLOBAL data = FileDataOf(picture);
    ASSERT_NE(nullptr, data);
    Collected image{8, 6, std::vector<BYTE>(8 * 6 * 3)};
    ImageRequest request = Raster();
    request.context = &image;
    EXPECT_EQ(1, Read(data, &request));
    EXPECT_EQ(8, request.rasterWidth);
    EXPECT_EQ(6, request.rasterHeight);
    for (LONG y = 0; y < 6; y++)
        for (LONG x = 0; x < 8; x++)
            for (LONG s = 0; s < 3; s++)
                ASSERT_EQ(TestPixelByte(x, y, s), image.pixels[(y * 8 + x) * 3 + s]);

    /* A request with an origin goes to the plug-in unchanged. */
    ImageRequest region = Raster();
    region.rasterX = 2;
    region.rasterWidth = 3;
    region.rasterHeight = 2;
    region.context = &image;
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
    auto read = Q32_EXPORT(module, qfFileRead);
    auto write = Q32_EXPORT(module, qfFileWrite);
    Collected sink{100, 100, std::vector<BYTE>(100 * 100 * 3)};
    char tfb[8] = "TFB", tfc[8] = "TFC";
    HGLOBAL data = FileDataOf(picture), unreadable = FileDataOf(picture, tfb), broken = FileDataOf(picture, tfc);
    HGLOBAL out = Target(dir / "out.tfa", "TFA");
    ASSERT_TRUE(data && unreadable && broken && out);
    ImageRequest none = {}, raster = Raster(), vector = {}, grey = Raster(Q32_TYPE_GREY8),
                 palette = Raster(Q32_TYPE_PALETTE4), noType = Raster(0), bigger = Raster(), vectorOut = Raster();
    raster.context = &sink;
    vector.vectorWanted = vectorOut.vectorWanted = 1;
    vector.vectorWidth = 11, vector.vectorHeight = 5;
    bigger.rasterWidth = 9, bigger.rasterHeight = 6;
    auto edit = [&](HGLOBAL h, std::function<void(FileData &)> f) { return [=, this] { Edit(h, f); }; };
    auto nothing = [] {};
    const struct {
        const char *what;
        std::function<void()> before;
        std::function<INT_PTR()> call;
        UINT id;
        int operation, place;
    } cases[] = {
        {"read without FileData", nothing, [&] { return read(nullptr, &none, CollectInto); }, 4026, 9, 1},
        {"read of nothing", nothing, [&] { return read(data, &none, CollectInto); }, 4026, 9, 2},
        {"vector read larger than the vector", nothing, [&] { return read(data, &vector, CollectInto); }, 4026, 9, 6},
        {"vector read without vector data", edit(data, [](FileData &f) { f.vectorPresent = 0; }),
         [&] { return read(data, &vector, CollectInto); }, 4026, 9, 4},
        {"read of an unknown format", edit(data, [](FileData &f) { f.formatNumber = 99; }),
         [&] { return read(data, &raster, CollectInto); }, 4026, 9, 3},
        {"read of an unreadable image", nothing, [&] { return read(unreadable, &raster, CollectInto); }, 4019, 9, 7},
        {"read that fails", nothing, [&] { return read(broken, &raster, CollectInto); }, 4020, 9, 14},
        {"read of a file gone", [&] { DeleteFileA(picture.c_str()); },
         [&] { return read(broken, &raster, CollectInto); }, 4004, 9, 11},
        {"write without FileData", nothing, [&] { return (INT_PTR)write(nullptr, &raster, Give); }, 4026, 10, 1},
        {"write of nothing", nothing, [&] { return (INT_PTR)write(out, &none, Give); }, 4026, 10, 2},
        {"grey write without grey", edit(out, [](FileData &f) { f.writeKind = -1; }),
         [&] { return (INT_PTR)write(out, &grey, Give); }, 4026, 10, 3},
        {"palette write without palette", edit(out, [](FileData &f) { f.writeKind = -2; }),
         [&] { return (INT_PTR)write(out, &palette, Give); }, 4026, 10, 4},
        {"unknown write kind", edit(out, [](FileData &f) { f.writeKind = 5; }),
         [&] { return (INT_PTR)write(out, &noType, Give); }, 4026, 10, 5},
        {"write without a format", edit(out, [](FileData &f) { f.writeKind = 0, f.formatNumber = 0; }),
         [&] { return (INT_PTR)write(out, &raster, Give); }, 4026, 10, 7},
        {"vector write to a raster format", edit(out, [&](FileData &f) { f.formatNumber = FormatId("TFA"); }),
         [&] { return (INT_PTR)write(out, &vectorOut, Give); }, 4026, 10, 8},
        {"write larger than the image", nothing, [&] { return (INT_PTR)write(out, &bigger, Give); }, 4026, 10, 10},
        {"work file that cannot be made",
         edit(out, [this](FileData &f) { lstrcpynA(f.name, (dir / "nowhere\\out.tfa").c_str(), 260); }),
         [&] { return (INT_PTR)write(out, &raster, Give); }, 4008, 10, 12},
    };
    for (const auto &c : cases) {
        c.before();
        c32ResetDLLErrInfo();
        EXPECT_EQ(0, c.call()) << c.what;
        std::string text = ReadError().text;
        ExpectError(c.id, c.operation, c.place, c.what);
        if (c.id == 4019 || c.id == 4020) {
            EXPECT_NE(std::string::npos, text.find(picture)) << c.what << ": " << text;
        }
    }
    for (HGLOBAL h : {data, unreadable, broken, out}) Free(h);
}

TEST_F(ReadWrite, NoMessageKeepsAnUnfilledPlaceholder)
{
    /* Each operation fails in the test plug-in, which records each identifier a plug-in
       may record, with a null text, with an unformatted text of its own, or nothing:
       what the module hands back names the file and holds no "%s". */
    Stage("TFA", {{"FailAfter", "0"}, {"WriteFailAfter", "0"}}, "accept", "41424344");
    Stage("TFD", {{"FileDataError", "4020"}}, "-1");
    Load();
    std::string probe = dir / "probe.tfd", target = dir / "out.tfa";
    WriteFileBytes(probe, "ZZZZZZZZ");
    HGLOBAL data = FileDataOf(picture);
    ASSERT_NE(nullptr, data) << ReadError().text;
    Collected sink{8, 6, std::vector<BYTE>(8 * 6 * 3)};
    BYTE pixels[16 * 16 * 4];
    static PreviewInfo info;

    const struct {
        const char *operation;
        const std::string *name;
        std::function<bool()> fails;
    } operations[] = {
        {"detection", &probe, [&] { return FileDataOf(probe) == nullptr; }},
        {"read", &picture, [&] {
             ImageRequest r = Raster();
             r.context = &sink;
             return Read(data, &r) == 0;
         }},
        {"write", &target, [&] {
             HGLOBAL out = Target(target, "TFA");
             ImageRequest r = Raster();
             bool failed = Write(out, &r) != 1;
             Free(out);
             return failed;
         }},
        {"preview", &picture, [&] {
             return Q32_EXPORT(module, qfFileGetPreviewMem)(data, &info, 0, pixels, 16, 16) == 0;
         }},
    };
    std::vector<std::string> errors = {"none"};
    for (const char *id : {"1004", "4004", "4007", "4008", "4019", "4020", "4024", "4026", "4027"}) {
        errors.push_back(std::string(id) + ":");
        errors.push_back(std::string(id) + ":the plug-in cannot use %s");
    }
    for (const auto &o : operations) {
        for (const std::string &error : errors) {
            SCOPED_TRACE(std::string(o.operation) + " with " + error);
            ScopedEnv recorded("TESTFIO_ERROR", error);
            c32ResetDLLErrInfo();
            ASSERT_TRUE(o.fails());
            RecordedError e = ReadError();
            EXPECT_EQ(std::string::npos, e.text.find("%s")) << e.text;
            char table[C32_ERRTEXT_SIZE] = "";
            c32GetString(e.id, table, sizeof table);
            if (error.find("%s") != std::string::npos || strstr(table, "%s"))
                EXPECT_NE(std::string::npos, e.text.find(*o.name)) << e.text;
        }
    }
    Free(data);
}

TEST_F(ReadWrite, WorkFileNamesBesideTheTarget)
{
    /* Bit 12 of the capability word (not of flags2): the plug-in writes by name, so it
       is told the work file's name. */
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
        FileData f = Facts(data);
        EXPECT_EQ(c.target, f.name);           /* the name is given back */
        EXPECT_EQ(8u * 6 * 3, f.fileSize);     /* and the written size recorded */
        Free(data);
    }
}

TEST_F(ReadWrite, FailedWritesLeaveTheTargetAsItWas)
{
    Stage("TWO", {{"WriteResult", "2"}});
    Stage("HLF", {{"WriteFailAfter", "3"}});
    Stage("OK", {});
    Load();
    std::string target = dir / "keep.img", work = dir / "keep.$$$";
    const std::string old = "the old content of the file";
    for (const char *code : {"TWO", "HLF"}) {
        WriteFileBytes(target, old);
        HGLOBAL data = Target(target, code);
        ImageRequest request = Raster();
        int result = Write(data, &request);
        EXPECT_EQ(strcmp(code, "TWO") ? 0 : 2, result) << code;
        EXPECT_EQ(old, ReadFileBytes(target)) << code;
        EXPECT_FALSE(Exists(work)) << code;
        Free(data);
    }

    /* A target that cannot be opened for writing (read-only where the file system
       enforces it, or held open by another program) is refused before any work file
       exists. */
    HGLOBAL data = Target(target, "OK");
    ImageRequest request = Raster();
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool readOnlyHolds = probe == INVALID_HANDLE_VALUE;
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    HANDLE holder = readOnlyHolds ? INVALID_HANDLE_VALUE
                                  : CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ForgetCalls();
    EXPECT_EQ(0, Write(data, &request));
    EXPECT_ERROR(4022, 1702, 10, 6);
    EXPECT_FALSE(Exists(work));
    EXPECT_TRUE(Calls().empty());
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(old, ReadFileBytes(target));

    /* A good write replaces it. */
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
    HGLOBAL data = FileDataOf(picture);
    ASSERT_NE(nullptr, data);
    /* The data type becomes vector even when the read fails later. */
    Edit(data, [](FileData &f) { f.readable = 0; });
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileReadVector)(data, 0, 0, 0));
    EXPECT_ERROR(4019, 1702, 20, 3);
    EXPECT_EQ((DWORD)Q32_TYPE_VECTOR, Facts(data).raster.dataType);
    EXPECT_EQ(0, Q32_EXPORT(module, qfFileReadVector)(nullptr, 0, 0, 0));
    EXPECT_ERROR(4026, 1702, 20, 1);

    /* Capability 0x80 refuses vector writing only for a format that does not declare it;
       one that declares it (and so is offered for vector images) is asked to write. */
    const struct { const char *code; INT_PTR result; } cases[] = {
        {"NOV", -1},
        {"VEC", TESTFIO_ANSWER(0, 20)},
    };
    for (const auto &c : cases) {
        std::string target = dir / (std::string("v.") + c.code);
        HGLOBAL out = Target(target, c.code);
        c32ResetDLLErrInfo();
        EXPECT_EQ(c.result, Q32_EXPORT(module, qfFileWriteVector)(out, 0, 0, 0)) << c.code;
        EXPECT_EQ(0u, ReadError().id) << c.code;
        EXPECT_FALSE(Exists(dir / "v.$$$")) << c.code;
        Free(out);
    }
    Free(data);
}

/* A plug-in without the operation's entry: 4026 at the operation's own place, never 0
   with an empty or stale slot, and no work file left behind. */
TEST_F(ReadWrite, AMissingEntryRecords4026)
{
    q32test::TestFormat format;
    format.code = "SPA";
    format.description = "sparse";
    format.fileData = "accept";
    format.typeMask = Q32_CAP_ALL_RASTER;
    format.keys = {{"WritesVector", "1"}};
    q32test::TestPlugin plugin("SPA.FIO", {format}, std::nullopt, "tfsparse");
    q32test::StagePlugin(fio, plugin);
    Load();
    std::string file = dir / "s.spa";
    WriteFileBytes(file, "ABCDEFGH");
    HGLOBAL data = FileDataOf(file);
    ASSERT_NE(nullptr, data);
    HGLOBAL out = Target(dir / "out.spa", "SPA");
    ImageRequest request = Raster();
    const struct { const char *what; std::function<INT_PTR()> call; int operation, place; } cases[] = {
        {"write", [&] { return (INT_PTR)Write(out, &request); }, 10, 15},
        {"read vector", [&] { return Q32_EXPORT(module, qfFileReadVector)(data, 0, 0, 0); }, 20, 8},
        {"write vector", [&] { return (INT_PTR)Q32_EXPORT(module, qfFileWriteVector)(out, 0, 0, 0); }, 21, 7},
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
