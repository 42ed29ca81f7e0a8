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

const struct { Call kind; const char *name; } Kinds[] = {
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

/* Points a loaded module's import of kernel32's function at replacement. */
bool RedirectImport(HMODULE module, const char *function, const void *replacement)
{
    auto base = reinterpret_cast<BYTE *>(module);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
    for (; dir.VirtualAddress && import->Name; import++) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + import->Name), "kernel32.dll")) continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(byName->Name), function)) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void *), old, &old);
            return true;
        }
    }
    return false;
}

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
        CopyFileA((BinFolder() + "FIO\\bmp.fio").c_str(), PluginPath("bmp.fio").c_str(), FALSE);
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
};

TEST_F(Faults, EveryFailingCallOfAWriteKeepsTheTargetAndLeavesNothingBehind)
{
    ASSERT_GT(Start(), 0);
    ASSERT_EQ(1, Save(false)); /* binds bmp.fio, whose disk then fills at will */
    HMODULE plugin = GetModuleHandleA(PluginPath("bmp.fio").c_str());
    ASSERT_NE(nullptr, plugin);
    ASSERT_TRUE(RedirectImport(plugin, "WriteFile", (const void *)FailingCalls::WriteCall));
    const std::string old = ReadFileBytes(target);
    int tried = 0;
    for (const auto &kind : Kinds) {
        bool done = false;
        for (int n = 1; n <= 400 && !done; n++, tried++) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(n));
            c32ResetDLLErrInfo();
            DWORD handles = Handles();
            int result;
            {
                FailingCalls fail(kind.kind, n);
                result = Save(true);
            }
            EXPECT_EQ(0, FailingCalls::LiveBlocks());
            EXPECT_EQ(handles, Handles());
            EXPECT_FALSE(Exists(work));
            done = result == 1;
            if (!done) {
                EXPECT_NE(0u, ReadError().id) << result;
                ASSERT_EQ(old, ReadFileBytes(target));
            }
        }
        EXPECT_TRUE(done);
        EXPECT_NE(old, ReadFileBytes(target));
        ASSERT_EQ(1, Save(false));
    }
    printf("FAULTS write: %d runs, each with one failing call\n", tried);
}

TEST_F(Faults, EveryFailingCallOfDetectionReadAndPreviewIsAnError)
{
    ASSERT_GT(Start(), 0);
    ASSERT_EQ(1, Save(false));
    int tried = 0;
    for (const auto &kind : {Kinds[0], Kinds[1]}) {
        bool done = false;
        for (int n = 1; n <= 100 && !done; n++, tried++) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(n));
            c32ResetDLLErrInfo();
            DeleteFileA((dir / "boxes.log").c_str());
            DWORD handles = Handles();
            {
                FailingCalls fail(kind.kind, n);
                done = Open();
                if (!done) { EXPECT_TRUE(Reported()); }
            }
            EXPECT_EQ(0, FailingCalls::LiveBlocks());
            EXPECT_EQ(handles, Handles());
        }
        EXPECT_TRUE(done);
    }
    printf("FAULTS detection, read and preview: %d runs, each with one failing call\n", tried);
}

TEST_F(Faults, EveryFailingCallOfTheCacheWriteLeavesNoWorkFile)
{
    int tried = 0;
    for (const auto &kind : Kinds) {
        bool done = false;
        for (int n = 1; n <= 100 && !done; n++, tried++) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(n));
            Reset();
            Stage(TestPlugin("TA.FIO", {Format("AAA", "First")}));
            Attach();
            DWORD handles = Handles();
            int formats;
            {
                FailingCalls fail(kind.kind, n);
                formats = qfFileGetFileFmtNum();
            }
            EXPECT_EQ(0, FailingCalls::LiveBlocks());
            EXPECT_EQ(handles, Handles());
            EXPECT_FALSE(Exists(appData + "Q32FILE.$$$"));
            done = Exists(CachePath());
            if (done) {
                /* A plug-in whose facts could not be read is cached as changed: the next
                   start loads it once more, the one after loads nothing. */
                EXPECT_EQ(1, formats);
                EXPECT_EQ(1, Start());
                EXPECT_EQ(1, Start());
                EXPECT_EQ(0, TotalLoads(loads));
            }
        }
        EXPECT_TRUE(done);
    }
    printf("FAULTS discovery and cache write: %d runs, each with one failing call\n", tried);
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
