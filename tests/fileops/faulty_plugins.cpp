/*
 * Broken plug-ins driven through discovery, detection, reading, previews and writing,
 * round after round: no crash, every failure leaves an error in the shared slot, the
 * caller's buffers are never overrun, and a failed write leaves the target as it was
 * with no work file. Q32_ROUNDS sets the rounds (default 12; scripts/reliability: 100).
 */
#include "sandbox.h"
#include <cstring>

using namespace q32test;

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

/* Plug-in CODE.FIO, its test file fault.CODE, its qfDLLGetFileData answer and keys,
   whether a FileData comes back and whether the write succeeds. */
struct Faulty {
    const char *code, *fileData;
    Keys keys;
    bool detected, writes;
};

const Faulty Plugins[] = {
    {"GBG", "garbage", {}, false, false},
    {"SML", "small", {}, false, false},
    {"FRD", "freed", {}, false, false},
    {"ZER", "accept", {{"Width", "0"}, {"Height", "0"}}, true, false},
    {"NEG", "accept", {{"Width", "-5"}, {"Height", "-70000"}}, true, false},
    {"HUG", "accept", {{"Width", "65536"}, {"Height", "65536"}, {"Bits", "32"},
                       {"DataType", "1"}, {"FailAfter", "3"}, {"WriteFailAfter", "2"}},
     true, false},
    {"TAL", "accept", {{"Width", "1"}, {"Height", "0x7FFFFFFF"}, {"Bits", "8"}, {"DataType", "8"},
                       {"FailAfter", "5"}, {"WriteFailAfter", "4"}}, true, false},
    {"PL0", "accept", {{"Bits", "8"}, {"DataType", "4"}, {"EmptyPalette", "1"}}, true, true},
    {"P57", "accept", {{"Bits", "8"}, {"DataType", "4"}, {"Palette", "257"}}, true, true},
    {"P64", "accept", {{"Bits", "1"}, {"DataType", "0x40"}, {"Palette", "65535"}}, true, true},
    {"OUT", "accept", {{"Read", "outside"}, {"Width", "70"}, {"Height", "9"}}, true, true},
    {"NON", "accept", {{"Write", "none"}}, true, false},
    {"HLF", "accept", {{"WriteFailAfter", "3"}}, true, false},
    {"TWO", "accept", {{"WriteResult", "2"}}, true, false},
};

LONG WINAPI TakeRows(ImageRequest *, LONG, LONG, LONG, LONG, void *, DWORD, LONG_PTR, LONG_PTR)
{
    return 1;
}

/* Gives rows of a byte pattern; a row list holds one row of the plug-in's own size. */
LONG WINAPI GiveRows(ImageRequest *, LONG, LONG y, LONG count, LONG rows, void *list, DWORD,
                     LONG_PTR, LONG_PTR)
{
    BYTE *const *row = static_cast<BYTE *const *>(list);
    for (LONG i = 0; i < rows; i++)
        if (count > 0 && count < 4096) memset(row[i], 0x30 + ((y + i) & 7), (size_t)count / 8 + 1);
    return 1;
}

class FaultyPlugins : public ModuleSandbox {
protected:
    int reads = 0, writes = 0, failed = 0;

    void SetUp() override
    {
        ModuleSandbox::SetUp();
        /* Each file starts with its plug-in's signature: no other plug-in is asked. */
        for (const Faulty &f : Plugins) {
            char hex[7];
            snprintf(hex, sizeof hex, "%02X%02X%02X", f.code[0], f.code[1], f.code[2]);
            Stage(f.code, f.keys, f.fileData, hex);
            WriteFileBytes(dir / (std::string("fault.") + f.code), std::string(f.code) + " file");
        }
    }

    /* One round over every plug-in: detection, a read, a preview between guards and a
       write over a target; fails the test at the first broken promise. */
    void Round()
    {
        c32ResetDLLErrInfo();
        ASSERT_EQ((int)std::size(Plugins), Q32_EXPORT(module, qfFileGetFileFmtNum)());
        auto filters = Q32_EXPORT(module, FilterAction);
        HGLOBAL list = (HGLOBAL)filters(nullptr, FILTER_BUILD, FILTER_ALL_FORMATS);
        ASSERT_NE(nullptr, list);
        filters(list, FILTER_FREE, 0);

        for (const Faulty &f : Plugins) {
            SCOPED_TRACE(f.code);
            c32ResetDLLErrInfo();
            HGLOBAL data = FileDataOf(dir / (std::string("fault.") + f.code));
            ASSERT_EQ(f.detected, data != nullptr);
            ASSERT_TRUE(data || ReadError().id);
            if (!data) continue;
            ImageRequest request = {};
            request.rasterWanted = 1;
            request.rasterTypes = 0x7FFF;
            ImageRequest writeRequest = request;
            c32ResetDLLErrInfo();
            reads++;
            ASSERT_TRUE(Q32_EXPORT(module, qfFileRead)(data, &request, TakeRows) || ReadError().id);

            const int box = 48;
            struct {
                PreviewInfo info;
                DWORD guard[64];
            } info;
            std::vector<BYTE> pixels(box * box * 4 + 256, 0xA5);
            memset(&info, 0xC3, sizeof info);
            c32ResetDLLErrInfo();
            auto preview = Q32_EXPORT(module, qfFileGetPreviewMem);
            int made = preview(data, &info.info, 0, pixels.data(), box, box);
            for (DWORD g : info.guard) ASSERT_EQ(0xC3C3C3C3u, g);
            for (size_t i = box * box * 4; i < pixels.size(); i++) ASSERT_EQ(0xA5, pixels[i]);
            ASSERT_TRUE(made || ReadError().id);
            if (made) {
                ASSERT_LE(info.info.paletteCount, 256u);
                ASSERT_LE(info.info.width, (DWORD)box);
                ASSERT_LE(info.info.height, (DWORD)box);
            }

            const std::string target = dir / (std::string("target.") + f.code);
            const std::string old = "the target before the write";
            WriteFileBytes(target, old);
            Edit(data, [&](FileData &facts) { lstrcpynA(facts.name, target.c_str(), MAX_PATH); });
            c32ResetDLLErrInfo();
            int result = Q32_EXPORT(module, qfFileWrite)(data, &writeRequest, GiveRows);
            writes++;
            failed += result != 1;
            ASSERT_EQ(f.writes, result == 1) << result;
            ASSERT_FALSE(Exists(dir / "target.$$$"));
            ASSERT_EQ(result == 1, old != ReadFileBytes(target));
            ASSERT_TRUE(result != 0 || ReadError().id);
            Free(data);
        }
    }
};

TEST_F(FaultyPlugins, RoundAfterRoundWithoutACrashALostFileOrASilentFailure)
{
    const int rounds = CountFromEnv("Q32_ROUNDS", 12);
    for (int round = 0; round < rounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        /* Every tenth start loads the plug-ins; the others start from the cache. */
        if (round % 10 == 0) {
            std::string cache = dir / "appdata\\Q32FILE.CFG";
            SetFileAttributesA(cache.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(cache.c_str());
        }
        Load();
        Round();
        module.Unload();
        if (HasFatalFailure()) return;
    }
    /* scripts/reliability collects this line. */
    const int detections = rounds * (int)std::size(Plugins);
    printf("ROUNDS %d rounds of %zu broken plug-ins: %d discoveries, %d detections, %d reads, "
           "%d previews, %d writes (%d failed, every target unchanged)\n",
           rounds, std::size(Plugins), rounds, detections, reads, reads, writes, failed);
}

} // namespace
