/*
 * discovery: what the format cache saves. A plug-in folder of 64 plug-ins; the time of
 * qfFileGetFileFmtNum in a fresh copy of the module without a cache (cold) and with a
 * valid one (warm), and for scale 64 bare CreateFileA + GetFileTime calls on the same
 * files, with the number of plug-in loads of each start. Medians of several runs.
 */
#include "harness.h"
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>
#include "bench.h"

using namespace q32test;

namespace {

using bench::Median;
using bench::Now;

const int Plugins = 64, ColdRuns = 7, WarmRuns = 31;

std::string PluginName(int i)
{
    char name[16];
    snprintf(name, sizeof name, "P%02d.FIO", i);
    return name;
}

struct Start {
    double ms;
    int loads;
};

/* One start of the module copy: load it, time the discovery, count the plug-in loads. */
Start TimedStart(ModuleCopy &module, const std::string &loadLog)
{
    DeleteFileA(loadLog.c_str());
    if (!module.Load()) {
        fprintf(stderr, "the module copy does not load\n");
        exit(1);
    }
    auto discover = Q32_EXPORT(module, qfFileGetFileFmtNum);
    double begin = Now();
    int formats = discover();
    double ms = (Now() - begin) * 1000;
    module.Unload();
    if (formats != 49) {
        fprintf(stderr, "discovery found %d formats, not 49\n", formats);
        exit(1);
    }
    return {ms, TotalLoads(loadLog)};
}

double BareFileTimes(const std::string &fio)
{
    double begin = Now();
    for (int i = 0; i < Plugins; i++) {
        HANDLE file = CreateFileA(Join(fio, PluginName(i)).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        FILETIME written;
        GetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }
    return (Now() - begin) * 1000;
}

} // namespace

int main()
{
    TempDir dir;
    std::string appData = dir / "appdata\\", fio = dir / "suite\\FIO", log = dir / "loads.log";
    ScopedEnv appDataEnv("Q32_APPDATA", appData);
    ScopedEnv osEnv("Q32_OSVERSION", "10");
    ScopedEnv noBoxes("Q32COMM_MB_LOG", dir / "boxes.log");
    CreateDirectoryA(appData.c_str(), nullptr);
    ModuleCopy module(dir / "suite", dir / "suite.ini");
    CreateDirectoryA(fio.c_str(), nullptr);
    for (int i = 0; i < Plugins; i++) {
        TestFormat format;
        format.code = "P" + std::to_string(i % 100);
        format.description = "Benchmark format";
        StagePlugin(fio, TestPlugin(PluginName(i), {format}), log);
    }
    std::string cache = appData + "Q32FILE.CFG";

    std::vector<double> cold, warm, bare;
    int coldLoads = 0, warmLoads = 0;
    for (int run = 0; run < ColdRuns; run++) {
        SetFileAttributesA(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(cache.c_str());
        Start start = TimedStart(module, log);
        cold.push_back(start.ms);
        coldLoads = std::max(coldLoads, start.loads);
    }
    for (int run = 0; run < WarmRuns; run++) {
        Start start = TimedStart(module, log);
        warm.push_back(start.ms);
        warmLoads = std::max(warmLoads, start.loads);
        bare.push_back(BareFileTimes(fio));
    }

    double c = Median(cold), w = Median(warm), b = Median(bare);
    printf("discovery of %d plug-ins (1 format each; the table keeps 49), medians\n", Plugins);
    printf("  cold start, no cache              %8.2f ms   plug-in loads %d  (%d runs)\n", c,
           coldLoads, ColdRuns);
    printf("  warm start, valid cache           %8.2f ms   plug-in loads %d  (%d runs)\n", w,
           warmLoads, WarmRuns);
    printf("  %d x CreateFileA + GetFileTime    %8.2f ms\n", Plugins, b);
    printf("  warm / bare                       %8.2f     (target at most 1.5)\n", w / b);
    printf("  cold / warm                       %8.1f\n", c / w);
    return 0;
}
