/*
 * The n-th allocation, file open, file write or rename fails, for every n until the
 * operation gets through: no crash, an error for every failure, no handle or block left
 * behind, the target as it was and no work file left. The module's calls fail through
 * the Sys table; bmp.fio's writes through its import of WriteFile, redirected here (a
 * full disk); the module's C++ allocations through this program's operator new.
 */
#include "../registry/registry_fixture.h"
#include "faults.h"
#include <cstdlib>
#include <new>

using namespace q32test;

void *operator new(std::size_t bytes)
{
    if (FailingCalls::FailsNew()) throw std::bad_alloc();
    if (void *block = std::malloc(bytes ? bytes : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

LONG WINAPI GiveRows(ImageRequest *request, LONG, LONG y, LONG count, LONG rows, void *list,
                     DWORD, LONG_PTR, LONG_PTR)
{
    BYTE *const *row = static_cast<BYTE *const *>(list);
    int shade = request->context ? 0xEE : 0x11;
    for (LONG i = 0; i < rows; i++) memset(row[i], shade ^ (y + i), (size_t)count * 3);
    return 1;
}

DWORD Handles()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

class Faults : public RegistryFixture {
protected:
    std::string target = dir / "target.bmp";

    void SetUp() override
    {
        RegistryFixture::SetUp();
        StageBuilt("bmp.fio");
        ASSERT_GT(Start(), 0);
        ASSERT_EQ(1, Save(false)); /* binds bmp.fio */
    }
    /* Writes a 1000 x 700 bitmap to target through bmp.fio: qfFileWrite's answer. */
    int Save(bool second)
    {
        HGLOBAL data = qfFileGetFileData("", nullptr);
        if (!data) return -100;
        if (FileData *facts = static_cast<FileData *>(GlobalLock(data))) {
            facts->formatNumber = q32FileGetFormatID("BMP", nullptr);
            lstrcpynA(facts->name, target.c_str(), sizeof facts->name);
            facts->raster = {24, 1000, 700, 0, 0, Q32_TYPE_RGB, nullptr};
            GlobalUnlock(data);
        }
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = Q32_TYPE_RGB;
        request.context = second ? &request : nullptr;
        int result = qfFileWrite(data, &request, GiveRows);
        q32FileFreeFileData(data);
        return result;
    }
    /* For each kind, runs armed with the kind's n-th call failing, n = 1, 2, ... until
       it gets through; after sees each run's answer. No run leaves a block or handle. */
    void Sweep(const char *what, std::vector<Call> kinds, const std::function<bool()> &armed,
               const std::function<void(Call, bool)> &after)
    {
        int tried = 0;
        for (Call kind : kinds) {
            bool done = false;
            for (int n = 1; n <= 400 && !done; n++, tried++) {
                SCOPED_TRACE(std::to_string((int)kind) + " " + std::to_string(n));
                c32ResetDLLErrInfo();
                DeleteFileA((dir / "boxes.log").c_str());
                DWORD handles = Handles();
                try {
                    FailingCalls fail(kind, n);
                    done = armed();
                } catch (...) {
                    ADD_FAILURE() << "an exception left an export";
                }
                EXPECT_EQ(0, FailingCalls::LiveBlocks());
                EXPECT_EQ(handles, Handles());
                after(kind, done);
            }
            EXPECT_TRUE(done);
        }
        printf("FAULTS %s: %d runs, each with one failing call\n", what, tried);
    }
};

TEST_F(Faults, EveryFailingCallOfAWriteKeepsTheTargetAndLeavesNothingBehind)
{
    HMODULE plugin = GetModuleHandleA(PluginPath("bmp.fio").c_str());
    ASSERT_TRUE(RedirectImport(plugin, "kernel32.dll", "WriteFile",
                               (const void *)FailingCalls::WriteCall));
    std::string old = ReadFileBytes(target);
    const std::vector<Call> kinds = {Call::Alloc, Call::Create, Call::Write, Call::Move};
    Sweep("write", kinds, [&] { return Save(true) == 1; }, [&](Call, bool done) {
        EXPECT_FALSE(Exists(dir / "target.$$$"));
        if (done) {
            EXPECT_NE(old, ReadFileBytes(target));
            EXPECT_EQ(1, Save(false)); /* over the file: replaced */
            old = ReadFileBytes(target);
        } else {
            EXPECT_NE(0u, ReadError().id);
            EXPECT_EQ(old, ReadFileBytes(target));
        }
    });
}

/* A filter list, the refusal of a video stream (after the check that reads its head), and
   detection, a read and a preview of the bitmap: each failing call is an error or a box;
   a failing C++ allocation is error 1004, never an exception out of an export. */
TEST_F(Faults, EveryFailingCallOfDetectionReadAndPreviewIsAnError)
{
    std::string clip = dir / "clip.mpg";
    WriteFileBytes(clip, std::string("\0\0\1\xBA", 4) + std::string(100, 'v'));
    Sweep("detection, read and preview", {Call::Alloc, Call::Create, Call::New}, [&] {
        HGLOBAL list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS);
        if (!list) return false;
        FilterAction(list, FILTER_FREE, 0);
        q32FileFreeFileData(qfFileGetFileData(clip.c_str(), nullptr));
        char text[C32_ERRTEXT_SIZE]; /* no allocation while C++ allocations fail */
        int w[4];
        if (c32GetDLLErrorInfo(text, nullptr, &w[0], &w[1], &w[2], &w[3]) != 4019) return false;
        HGLOBAL data = qfFileGetFileData(target.c_str(), nullptr);
        if (!data) return false;
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = 7;
        bool done = qfFileRead(data, &request, [](ImageRequest *, LONG, LONG, LONG, LONG, void *,
                                                  DWORD, LONG_PTR, LONG_PTR) -> LONG { return 1; });
        static PreviewInfo info;
        static BYTE pixels[32 * 32 * 4];
        done = qfFileGetPreviewMem(data, &info, 0, pixels, 32, 32) == 1 && done;
        q32FileFreeFileData(data);
        return done;
    }, [&](Call kind, bool done) {
        if (done) return;
        if (kind == Call::New) {
            EXPECT_EQ(1004u, ReadError().id);
        } else {
            EXPECT_TRUE(ReadError().id || !ReadLines(dir / "boxes.log").empty());
        }
    });
}

} // namespace
