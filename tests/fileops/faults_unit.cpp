/*
 * The n-th allocation, file open, file write or rename fails, for every n until the
 * operation gets through: no crash, an error recorded for every failure, no handle or
 * memory block left behind, the target as it was and no work file left. The module's
 * own calls fail through the Sys table; the bitmap plug-in's writes fail through its
 * import of WriteFile, which the test redirects (a full disk). The module's C++
 * allocations fail through this program's operator new (it links the module's code).
 */
#include "../registry/registry_fixture.h"
#include "faults.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

using namespace q32test;

namespace {

struct Kind { Call kind; const char *name; };
const Kind Kinds[] = {
    {Call::Alloc, "allocation"}, {Call::Create, "CreateFile"}, {Call::Write, "WriteFile"}, {Call::Move, "MoveFileEx"}};

} // namespace

/* Every C++ allocation of this program, the module's code among it, can fail as well. */
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
    for (LONG i = 0; i < rows; i++) memset(row[i], (int)(request->context ? 0xEE : 0x11) ^ (y + i), (size_t)count * 3);
    return 1;
}

LONG WINAPI TakeRows(ImageRequest *, LONG, LONG, LONG, LONG, void *, DWORD, LONG_PTR, LONG_PTR)
{
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
    std::string work = dir / "target.$$$";

    void SetUp() override
    {
        RegistryFixture::SetUp();
        StageBuilt("bmp.fio");
    }

    /* Writes a 1000 x 700 bitmap to target through bmp.fio: the result of qfFileWrite. */
    int Save(bool second)
    {
        HGLOBAL data = qfFileGetFileData("", nullptr);
        if (!data) return -100;
        if (FileData *facts = static_cast<FileData *>(GlobalLock(data))) {
            facts->formatNumber = q32FileGetFormatID("BMP", nullptr);
            lstrcpynA(facts->name, target.c_str(), sizeof facts->name);
            facts->raster.bitsPerPixel = 24;
            facts->raster.width = 1000;
            facts->raster.height = 700;
            facts->raster.dataType = Q32_TYPE_RGB;
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
    /* An error in the shared slot, or a message box shown. */
    bool Reported() { return ReadError().id != 0 || !ReadLines(dir / "boxes.log").empty(); }

    /* Detects, reads and previews target: true when all three got through. */
    bool Open()
    {
        HGLOBAL data = qfFileGetFileData(target.c_str(), nullptr);
        if (!data) return false;
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = 7;
        bool read = qfFileRead(data, &request, TakeRows) != 0;
        if (!read) { EXPECT_NE(0u, ReadError().id); }
        static PreviewInfo info;
        static BYTE pixels[32 * 32 * 4];
        bool preview = qfFileGetPreviewMem(data, &info, 0, pixels, 32, 32) == 1;
        if (!preview) { EXPECT_TRUE(Reported()); }
        q32FileFreeFileData(data);
        return read && preview;
    }
    /* For each kind, runs armed with the kind's n-th call failing, n = 1, 2, ... until
       armed gets through (answers true); before runs ahead of each arming, after each
       run with its answer. No run leaves a block or a handle behind. */
    void Sweep(const char *what, std::vector<Kind> kinds, int limit, const std::function<void()> &before,
               const std::function<bool()> &armed, const std::function<void(bool)> &after)
    {
        int tried = 0;
        for (const Kind &kind : kinds) {
            bool done = false;
            for (int n = 1; n <= limit && !done; n++, tried++) {
                SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(n));
                before();
                c32ResetDLLErrInfo();
                DeleteFileA((dir / "boxes.log").c_str());
                DWORD handles = Handles();
                {
                    FailingCalls fail(kind.kind, n);
                    done = armed();
                }
                EXPECT_EQ(0, FailingCalls::LiveBlocks());
                EXPECT_EQ(handles, Handles());
                after(done);
            }
            EXPECT_TRUE(done);
        }
        printf("FAULTS %s: %d runs, each with one failing call\n", what, tried);
    }
};

TEST_F(Faults, EveryFailingCallOfAWriteKeepsTheTargetAndLeavesNothingBehind)
{
    ASSERT_GT(Start(), 0);
    ASSERT_EQ(1, Save(false)); /* binds bmp.fio, whose disk then fills at will */
    HMODULE plugin = GetModuleHandleA(PluginPath("bmp.fio").c_str());
    ASSERT_NE(nullptr, plugin);
    ASSERT_TRUE(RedirectImport(plugin, "kernel32.dll", "WriteFile", (const void *)FailingCalls::WriteCall));
    std::string old = ReadFileBytes(target);
    Sweep("write", {Kinds, Kinds + 4}, 400, [] {}, [&] { return Save(true) == 1; }, [&](bool done) {
        EXPECT_FALSE(Exists(work));
        if (done) {
            EXPECT_NE(old, ReadFileBytes(target));
            EXPECT_EQ(1, Save(false));
            old = ReadFileBytes(target);
        } else {
            EXPECT_NE(0u, ReadError().id);
            EXPECT_EQ(old, ReadFileBytes(target));
        }
    });
}

TEST_F(Faults, EveryFailingCallOfDetectionReadAndPreviewIsAnError)
{
    ASSERT_GT(Start(), 0);
    ASSERT_EQ(1, Save(false));
    Sweep("detection, read and preview", {Kinds[0], Kinds[1]}, 100, [] {}, [&] {
        bool done = Open();
        if (!done) { EXPECT_TRUE(Reported()); }
        return done;
    }, [](bool) {});
}

TEST_F(Faults, EveryFailingCallOfTheCacheWriteLeavesNoWorkFile)
{
    int formats = 0;
    Sweep("discovery and cache write", {Kinds, Kinds + 4}, 100, [&] {
        Reset();
        Stage(TestPlugin("TA.FIO", {Format("AAA", "First")}));
        Attach();
    }, [&] {
        formats = qfFileGetFileFmtNum();
        return Exists(CachePath());
    }, [&](bool done) {
        EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
        if (done) {
            /* A plug-in whose facts could not be read is cached as changed: the next
               start loads it once more, the one after loads nothing. */
            EXPECT_EQ(1, formats);
            EXPECT_EQ(1, Start());
            EXPECT_EQ(1, Start());
            EXPECT_EQ(0, TotalLoads(loads));
        }
    });
}

/* No C++ exception leaves an export: a failing C++ allocation is error 1004. */
TEST_F(Faults, NoExceptionLeavesAnExport)
{
    ASSERT_GT(Start(), 0);
    std::string clip = dir / "clip.mpg";
    WriteFileBytes(clip, std::string("\0\0\1\xBA", 4) + std::string(100, 'v'));
    /* Each call answers whether it got through; the test's own allocations stay outside
       the armed window. */
    const struct { const char *what; std::function<bool()> call; UINT through; } exports[] = {
        {"FilterAction", [] {
             HGLOBAL list = (HGLOBAL)FilterAction(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS);
             if (list) FilterAction(list, FILTER_FREE, 0);
             return list != nullptr;
         }, 0},
        /* A video stream is refused (4019) after the check that reads its head. */
        {"qfFileGetFileData", [&] {
             HGLOBAL data = qfFileGetFileData(clip.c_str(), nullptr);
             q32FileFreeFileData(data);
             return false;
         }, 4019},
    };
    for (const auto &e : exports) {
        bool done = false;
        for (int n = 1; n <= 200 && !done; n++) {
            SCOPED_TRACE(std::string(e.what) + " " + std::to_string(n));
            c32ResetDLLErrInfo();
            bool threw = false;
            int calls;
            {
                FailingCalls fail(Call::New, n);
                try {
                    done = e.call();
                } catch (...) {
                    threw = true;
                }
                calls = FailingCalls::Calls();
            }
            EXPECT_FALSE(threw);
            UINT id = ReadError().id;
            done = done || (e.through && id == e.through);
            if (!done) { EXPECT_EQ(1004u, id); }
            if (calls < n) break; /* no allocation failed: there is nothing more to try */
        }
        EXPECT_TRUE(done) << e.what;
    }
}

} // namespace
