/*
 * Names at and past every limit, through every export that takes a name. Built with
 * stack protection and trapping undefined-behaviour checks over a copy of the
 * module's code built the same way: an overrun ends the program instead of passing.
 */
#include "../registry/registry_fixture.h"
#include <objbase.h>
#include <algorithm>
#include <cstring>

using namespace q32test;

namespace {

/* A buffer of size bytes with guard bytes after it that nothing may touch. */
struct Guarded {
    explicit Guarded(size_t size) : size(size), bytes(size + 64, '\x5C') {}
    char *get() { return bytes.data(); }
    bool intact() const
    {
        return std::all_of(bytes.begin() + size, bytes.end(), [](char c) { return c == '\x5C'; });
    }
    size_t size;
    std::string bytes;
};

/* An absolute path of exactly length characters below folder. */
std::string PathOfLength(const std::string &folder, size_t length)
{
    std::string path = folder + "\\";
    while (path.size() < length) path += path.size() % 40 == 39 ? '\\' : 'n';
    path.resize(length);
    if (path.back() == '\\') path.back() = 'x';
    return path;
}

/* The folders of path. */
void MakeFolders(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

LONG WINAPI GiveRows(ImageRequest *, LONG, LONG, LONG count, LONG rows, void *list, DWORD,
                     LONG_PTR, LONG_PTR)
{
    BYTE *const *row = static_cast<BYTE *const *>(list);
    for (LONG i = 0; i < rows; i++) memset(row[i], 0x42, (size_t)count * 3);
    return 1;
}

using LongNames = RegistryFixture;

TEST_F(LongNames, EveryExportTakingANameStaysInItsBuffers)
{
    StageBuilt("bmp.fio");
    ASSERT_GT(Start(), 0);
    CoInitialize(nullptr);
    for (size_t length : {255, 256, 259, 260, 261, 300}) {
        SCOPED_TRACE(length);
        const std::string name = PathOfLength(dir.path(), length);
        const bool fits = length < MAX_PATH;
        if (fits) {
            MakeFolders(name);
            WriteFileBytes(name, "BM not really a bitmap");
        }
        EXPECT_EQ(fits ? 1 : 0, qfIsFileExist(name.c_str()));

        /* Detection with a hint buffer as long as the name. */
        std::string hint(length, 'h');
        c32ResetDLLErrInfo();
        EXPECT_EQ(nullptr, qfFileGetFileData(name.c_str(), &hint[0]));
        EXPECT_NE(0u, ReadError().id);
        EXPECT_EQ(length, strlen(hint.c_str()));

        Guarded date(Q32_DATE_TEXT_SIZE);
        int dateLength = GetFileDateTimeToAscii(name.c_str(), date.get());
        EXPECT_TRUE(date.intact());
        EXPECT_EQ(fits, dateLength > 0);

        Guarded target(MAX_PATH), arguments(MAX_PATH), folder(MAX_PATH);
        int resolved = q32FileResolveLink(nullptr, name.c_str(), target.get(), arguments.get(),
                                          folder.get());
        EXPECT_TRUE(target.intact() && arguments.intact() && folder.intact());
        EXPECT_EQ(fits ? 1 : 0, resolved);

        EXPECT_EQ(-1, q32FileGetFormatID(name.c_str(), nullptr));
        EXPECT_EQ(-1, q32FileGetFormatID(nullptr, name.c_str()));

        /* A write to the name: refused when the name or its work name does not fit. */
        HGLOBAL data = qfFileGetFileData("", nullptr);
        ASSERT_NE(nullptr, data);
        FileData *facts = static_cast<FileData *>(GlobalLock(data));
        facts->formatNumber = q32FileGetFormatID("BMP", nullptr);
        memset(facts->name, 0, sizeof facts->name);
        memcpy(facts->name, name.c_str(), std::min(length, sizeof facts->name));
        facts->raster = {24, 4, 3, 0, 0, Q32_TYPE_RGB, nullptr};
        GlobalUnlock(data);
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = Q32_TYPE_RGB;
        c32ResetDLLErrInfo();
        int written = qfFileWrite(data, &request, GiveRows);
        EXPECT_EQ(length < 256 ? 1 : 0, written);
        if (written != 1) { EXPECT_NE(0u, ReadError().id); }
        EXPECT_NE(1, qfFileWriteVector(data, 0, 0, 0));
        q32FileFreeFileData(data);
    }
    CoUninitialize();
}

} // namespace
