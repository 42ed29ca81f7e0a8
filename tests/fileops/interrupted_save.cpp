/* A process killed at random moments while it saves must never lose the target: it
   holds the old or the new content, whole. */
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
    WaitForSingleObject(process, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

TEST(InterruptedSave, TargetIsAlwaysOldOrNew)
{
    TempDir dir;
    std::string a = dir / "a.bmp", b = dir / "b.bmp", target = dir / "target.bmp";
    ASSERT_EQ(0u, Finish(StartChild("make \"" + a + "\" \"" + b + "\"")));
    const std::string first = ReadFileBytes(a), second = ReadFileBytes(b);
    ASSERT_GT(first.size(), 400000u);
    ASSERT_EQ(first.size(), second.size());
    ASSERT_NE(first, second);
    CopyFileA(a.c_str(), target.c_str(), FALSE);

    std::mt19937 random(20261206);
    const int kills = 200;
    int old = 0, fresh = 0;
    for (int i = 0; i < kills; i++) {
        std::string event = "q32_save_started_" + std::to_string(GetCurrentProcessId());
        HANDLE started = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        HANDLE child = StartChild("loop \"" + target + "\" " + event);
        ASSERT_NE(nullptr, child);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started, 20000)) << "kill " << i;
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
    printf("%d kills: %d times the first content, %d times the second, 0 lost or torn\n",
           kills, old, fresh);
}

} // namespace
