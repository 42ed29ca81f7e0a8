/* The module sandbox: the suite's ini file, FIO\ of test plug-in copies whose loads and calls
   are logged, application-data and pictures folders, a fixed operating-system class and
   message boxes logged; with a copy of q32File.dll (Sandbox) or the code linked in (Folders). */
#ifndef Q32_TEST_SANDBOX_H
#define Q32_TEST_SANDBOX_H

#include <gtest/gtest.h>
#include "harness.h"
#include "rows.h"
#include "q32fio.h"
#include <string>
#include <tuple>
#include <vector>

namespace q32test {

/* The sandbox's folders and settings, for a copy of the module or its code linked in. */
class Folders {
public:
    TempDir dir;
    std::string suite = dir / "suite", fio = dir / "suite\\FIO", ini = dir / "suite.ini";
    std::string appData = dir / "appdata\\", pictures = dir / "pictures";
    std::string loads = dir / "loads.log", calls = dir / "calls.log", boxes = dir / "boxes.log";
    ScopedEnv appDataEnv{"Q32_APPDATA", appData}, osEnv{"Q32_OSVERSION", "10"}, boxEnv{"Q32COMM_MB_LOG", boxes};
    std::string describe = " test format"; /* a staged format's description: CODE + this */

    Folders()
    {
        for (const std::string &d : {suite, fio, appData, pictures}) CreateDirectoryA(d.c_str(), nullptr);
    }
    virtual ~Folders() = default;
    std::string PluginPath(const std::string &name) const { return Join(fio, name); }
    /* A test plug-in copy in FIO\, its loads logged. */
    void Stage(const TestPlugin &plugin) { StagePlugin(fio, plugin, loads); }
    /* A one-format copy CODE.FIO (described CODE + describe), its calls logged. */
    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys = {},
               std::string fileData = "accept", std::string signature = "", DWORD typeMask = 0x7F,
               DWORD openOptions = 0, DWORD saveOptions = 0)
    {
        TestPlugin plugin(code + ".FIO", {{code, code + describe, 1, typeMask, 0, openOptions,
                                           saveOptions, 0, signature, "", false, fileData, keys}});
        plugin.callLog = calls;
        StagePlugin(fio, plugin);
    }
    /* A copy of a plug-in of the build (e.g. "bmp.fio"). */
    void StageBuilt(const std::string &name)
    {
        CopyFileA((BinFolder() + "FIO\\" + name).c_str(), PluginPath(name).c_str(), FALSE);
    }
    void SetKey(const char *key, const char *value) { WritePrivateProfileStringA("FIO_EXT", key, value, ini.c_str()); }
    /* The module's recorded error is (id, 1702, where2, where3); the slot is emptied. */
    void ExpectError(UINT id, int where2, int where3, const std::string &what = "")
    {
        RecordedError e = ReadError();
        EXPECT_EQ(std::tie(id, where2, where3), std::tie(e.id, e.where2, e.where3))
            << what << e.text;
        EXPECT_EQ(1702, e.where1) << what;
        c32ResetDLLErrInfo();
    }
    std::vector<std::string> Calls() { return ReadLines(calls); }
    void ForgetCalls() { DeleteFileA(calls.c_str()); }
};

/* The module sandbox: a copy of the module in the suite folder, with the ini file. */
class Sandbox : public Folders {
public:
    ModuleCopy module{suite, ini};

    /* Loads the copy; the first call of an export discovers. */
    void Load()
    {
        ASSERT_TRUE(module.Load());
        c32ResetDLLErrInfo();
    }
    HGLOBAL FileDataOf(const std::string &name, char *hint = nullptr)
    {
        return Q32_EXPORT(module, qfFileGetFileData)(name.c_str(), hint);
    }
    void Free(HGLOBAL data) { Q32_EXPORT(module, q32FileFreeFileData)(data); }
    int FormatId(const char *code) { return Q32_EXPORT(module, q32FileGetFormatID)(code, nullptr); }
    /* Runs f on the locked FileData. */
    template <typename F>
    void Edit(HGLOBAL data, F f)
    {
        FileData *facts = static_cast<FileData *>(GlobalLock(data));
        ASSERT_NE(nullptr, facts);
        f(*facts);
        GlobalUnlock(data);
    }
    FileData Facts(HGLOBAL data)
    {
        FileData copy = {};
        Edit(data, [&](FileData &f) { copy = f; });
        return copy;
    }
    /* Reads the whole raster in the file's own type into rows: qfFileRead's answer. */
    INT_PTR ReadAll(HGLOBAL data, Rows &rows)
    {
        FileData facts = Facts(data);
        rows.dataType = facts.raster.dataType, rows.bits = facts.raster.bitsPerPixel;
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.rasterTypes = 0xFFFF;
        request.context = &rows;
        return Q32_EXPORT(module, qfFileRead)(data, &request, Collect);
    }
};

} // namespace q32test

/* The sandbox as a test fixture. */
class ModuleSandbox : public ::testing::Test, public q32test::Sandbox {};

/* A format with code and description and the test plug-in's other defaults. */
inline q32test::TestFormat Format(const std::string &code, const std::string &description,
                                  DWORD typeMask = 1, DWORD runtimeValue = 0)
{
    return {code, description, 1, typeMask, 0, 0, 0, runtimeValue, "", "", false, "0", {}};
}

/* The recorded error is (id, where1, where2, where3). */
#define EXPECT_ERROR(stringId, w1, w2, w3)                                                  \
    do {                                                                                    \
        q32test::RecordedError e_ = q32test::ReadError();                                   \
        EXPECT_EQ(std::make_tuple((UINT)(stringId), (w1), (w2), (w3)),                      \
                  std::make_tuple(e_.id, e_.where1, e_.where2, e_.where3)) << e_.text;      \
    } while (0)

#endif
