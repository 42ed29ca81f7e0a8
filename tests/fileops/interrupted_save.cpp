/* A process killed at random moments while it saves must never lose the target: it
   holds the old or the new content, whole, in every writable format. Q32_KILLS sets the
   kills per format (scripts/reliability runs over a thousand). */
#include <gtest/gtest.h>
#include "harness.h"
#include <random>
#include <string>

using namespace q32test;

namespace {

/* Runs save_child with arguments; the process handle, or null. */
HANDLE StartChild(const std::string &arguments)
{
    std::string command = "\"" + Join(TestFolder(), "save_child.exe") + "\" " + arguments;
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

DWORD Finish(HANDLE process)
{
    WaitForSingleObject(process, 60000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

class InterruptedSave : public ::testing::TestWithParam<const char *> {};

TEST_P(InterruptedSave, TargetIsAlwaysOldOrNew)
{
    const std::string code = GetParam();
    TempDir dir;
    std::string a = dir / ("a." + code), b = dir / ("b." + code), target = dir / ("target." + code);
    ASSERT_EQ(0u, Finish(StartChild("make \"" + a + "\" \"" + b + "\" " + code)));
    const std::string first = ReadFileBytes(a), second = ReadFileBytes(b);
    ASSERT_GT(first.size(), 0u);
    ASSERT_NE(first, second);
    CopyFileA(a.c_str(), target.c_str(), FALSE);

    std::mt19937 random(20261206);
    const int kills = CountFromEnv("Q32_KILLS", 6);
    int old = 0, fresh = 0;
    for (int i = 0; i < kills; i++) {
        std::string event = "q32_save_started_" + std::to_string(GetCurrentProcessId());
        HANDLE started = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        HANDLE child = StartChild("loop \"" + target + "\" " + event + " " + code);
        ASSERT_NE(nullptr, child);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 30000)) << "kill " << i;
        Sleep(random() % 40);
        TerminateProcess(child, 9);
        WaitForSingleObject(child, 10000);
        CloseHandle(child);
        CloseHandle(started);

        std::string now = ReadFileBytes(target);
        ASSERT_TRUE(Exists(target)) << "target lost at kill " << i;
        ASSERT_TRUE(now == first || now == second) << "target torn at kill " << i << ": "
                                                    << now.size() << " bytes";
        (now == first ? old : fresh)++;
    }
    /* scripts/reliability collects these lines. */
    printf("KILLS %s %d kills: %d times the first content, %d times the second, 0 lost or torn "
           "(%zu-byte file)\n", code.c_str(), kills, old, fresh, first.size());
}

INSTANTIATE_TEST_SUITE_P(Formats, InterruptedSave,
                         ::testing::Values("BMP", "WBM", "PNG", "JPG", "TIF", "GIF"),
                         [](const auto &info) { return std::string(info.param); });

} // namespace
