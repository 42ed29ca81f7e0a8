/* A process killed at random moments while it saves must never lose the target: it
   holds the old or the new content, whole, in every writable format. The saving process
   is this program started again with "--save"; Q32_KILLS sets the kills per format
   (scripts/reliability runs over a thousand). */
#include <gtest/gtest.h>
#include "harness.h"
#include "q32fio.h"
#include <random>

using namespace q32test;

namespace {

/* Rows of a pattern in shade, for any of the three kinds. */
LONG WINAPI GiveRows(ImageRequest *request, LONG, LONG y, LONG count, LONG rows, void *rowData,
                     DWORD, LONG_PTR, LONG_PTR)
{
    BYTE shade = *static_cast<const BYTE *>(request->context);
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    DWORD type = request->rasterTypes; /* bilevel rows are packed whatever the bits */
    size_t bytes = Q32_ROW_BYTES(type, type == Q32_TYPE_RGB ? 24 : 8, count);
    for (LONG i = 0; i < rows; i++)
        for (size_t b = 0; b < bytes; b++) list[i][b] = (BYTE)(shade ^ (b + y + i));
    return 1;
}

/* Saves a 384 x 384 picture in shade to target in format code: 24-bit colour where the
   format takes it, else 8-bit grey, else one bit a pixel. */
bool Save(const char *target, const char *code, BYTE shade)
{
    int format = q32FileGetFormatID(code, nullptr);
    HGLOBAL info = format > 0 ? qfFileGetFormatInfo(format) : nullptr;
    if (!info) return false;
    WORD caps = static_cast<const FormatInfo *>(GlobalLock(info))->typeCaps;
    GlobalUnlock(info);
    GlobalFree(info);
    DWORD type = caps & Q32_CAP_RGB ? Q32_TYPE_RGB : caps & Q32_CAP_GREY8 ? Q32_TYPE_GREY8
                                                                          : Q32_TYPE_BILEVEL;
    HGLOBAL data = qfFileGetFileData("", nullptr);
    FileData *facts = static_cast<FileData *>(GlobalLock(data));
    facts->formatNumber = format;
    lstrcpynA(facts->name, target, sizeof facts->name);
    facts->raster = {type == Q32_TYPE_RGB ? 24u : type == Q32_TYPE_GREY8 ? 8u : 1u, 384, 384, 0,
                     0, type, nullptr};
    GlobalUnlock(data);
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = type;
    request.context = &shade;
    int result = qfFileWrite(data, &request, GiveRows);
    q32FileFreeFileData(data);
    return result == 1;
}

/* "--save TARGET E CODE" saves the two contents into TARGET alternately for ever, setting
   event E after the first. */
[[maybe_unused]] const bool Saver = [] {
    if (__argc != 5 || strcmp(__argv[1], "--save")) return false;
    HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, __argv[3]);
    for (unsigned i = 0;; i++) {
        if (!Save(__argv[2], __argv[4], (i & 1) ? 0xEE : 0x11)) ExitProcess(1);
        if (i == 0 && started) SetEvent(started);
    }
}();

/* Starts this program saving with arguments; the process handle, or null. */
HANDLE StartSaver(const std::string &arguments)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --save " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &si, &pi);
    if (!started) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

class InterruptedSave : public ::testing::TestWithParam<const char *> {};

TEST_P(InterruptedSave, TargetIsAlwaysOldOrNew)
{
    const std::string code = GetParam();
    TempDir dir;
    std::string a = dir / ("a." + code), b = dir / ("b." + code), target = dir / ("target." + code);
    ASSERT_TRUE(Save(a.c_str(), code.c_str(), 0x11) && Save(b.c_str(), code.c_str(), 0xEE));
    const std::string first = ReadFileBytes(a), second = ReadFileBytes(b);
    ASSERT_GT(first.size(), 0u);
    ASSERT_NE(first, second);
    CopyFileA(a.c_str(), target.c_str(), FALSE);

    std::mt19937 random(20261206);
    const int kills = CountFromEnv("Q32_KILLS", 6);
    int old = 0;
    for (int i = 0; i < kills; i++) {
        std::string event = "q32_save_started_" + std::to_string(GetCurrentProcessId());
        HANDLE started = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        HANDLE saver = StartSaver("\"" + target + "\" " + event + " " + code);
        ASSERT_NE(nullptr, saver);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 30000)) << "kill " << i;
        Sleep(random() % 40);
        TerminateProcess(saver, 9);
        WaitForSingleObject(saver, 10000);
        CloseHandle(saver);
        CloseHandle(started);
        std::string now = ReadFileBytes(target);
        ASSERT_TRUE(Exists(target)) << "target lost at kill " << i;
        ASSERT_TRUE(now == first || now == second) << "torn at kill " << i << ": " << now.size();
        old += now == first;
    }
    /* scripts/reliability collects these lines. */
    printf("KILLS %s %d kills: %d times the first content, %d times the second, 0 lost or torn "
           "(%zu-byte file)\n", code.c_str(), kills, old, kills - old, first.size());
}

INSTANTIATE_TEST_SUITE_P(Formats, InterruptedSave,
                         ::testing::Values("BMP", "WBM", "PNG", "JPG", "TIF", "GIF"),
                         [](const auto &info) { return std::string(info.param); });

} // namespace
