/*
 * The one module sandbox: a copy of q32File.dll in a folder of the test's own with its
 * ini file, plug-in folder (FIO\ beside the copy) of test plug-in copies whose loads and
 * calls are logged, an application-data folder, a pictures folder, a fixed
 * operating-system class, and message boxes logged instead of shown.
 */
#ifndef Q32_TEST_SANDBOX_H
#define Q32_TEST_SANDBOX_H

#include <gtest/gtest.h>
#include "harness.h"
#include "q32fio.h"
#include <string>
#include <vector>

namespace q32test {

class Sandbox {
public:
    q32test::TempDir dir;
    std::string suite = dir / "suite";
    std::string fio = dir / "suite\\FIO";
    std::string ini = dir / "suite.ini";
    std::string appData = dir / "appdata\\";
    std::string pictures = dir / "pictures";
    std::string loads = dir / "loads.log";
    std::string calls = dir / "calls.log";
    std::string boxes = dir / "boxes.log";
    q32test::ScopedEnv appDataEnv{"Q32_APPDATA", appData};
    q32test::ScopedEnv osEnv{"Q32_OSVERSION", "10"};
    q32test::ScopedEnv boxEnv{"Q32COMM_MB_LOG", boxes};
    q32test::ModuleCopy module{suite, ini};
    std::string describe = " test format"; /* a staged format's description: CODE + this */

    Sandbox()
    {
        for (const std::string &d : {suite, fio, appData, pictures}) CreateDirectoryA(d.c_str(), nullptr);
    }
    virtual ~Sandbox() = default;
    /* A test plug-in copy in FIO\, its loads logged. */
    void Stage(const q32test::TestPlugin &plugin) { q32test::StagePlugin(fio, plugin, loads); }
    /* A one-format copy CODE.FIO (described CODE + describe), its calls logged. */
    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys = {},
               std::string fileData = "accept", std::string signature = "", DWORD typeMask = 0x7F,
               DWORD openOptions = 0, DWORD saveOptions = 0)
    {
        q32test::TestFormat format;
        format.code = code;
        format.description = code + describe;
        format.fileData = fileData;
        format.signature1 = signature;
        format.typeMask = typeMask;
        format.openOptions = openOptions;
        format.saveOptions = saveOptions;
        format.keys = std::move(keys);
        q32test::TestPlugin plugin(code + ".FIO", {format});
        plugin.callLog = calls;
        q32test::StagePlugin(fio, plugin);
    }
    /* A copy of a plug-in of the build (e.g. "bmp.fio"). */
    void StageBuilt(const std::string &name)
    {
        CopyFileA((q32test::BinFolder() + "FIO\\" + name).c_str(), (fio + "\\" + name).c_str(), FALSE);
    }
    void SetKey(const char *key, const char *value) { WritePrivateProfileStringA("FIO_EXT", key, value, ini.c_str()); }
    /* Loads the copy; the first call of an export discovers. */
    void Load()
    {
        ASSERT_TRUE(module.Load());
        c32ResetDLLErrInfo();
    }
    /* The module's recorded error: (id, the module's 1702, where2, where3). */
    void ExpectError(UINT id, int where2, int where3, const std::string &what = "")
    {
        q32test::RecordedError e = q32test::ReadError();
        EXPECT_EQ(id, e.id) << what << e.text;
        EXPECT_EQ(1702, e.where1) << what;
        EXPECT_EQ(where2, e.where2) << what;
        EXPECT_EQ(where3, e.where3) << what;
        c32ResetDLLErrInfo();
    }
    std::vector<std::string> Calls() { return q32test::ReadLines(calls); }
    void ForgetCalls() { DeleteFileA(calls.c_str()); }

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
};

} // namespace q32test

/* The sandbox as a test fixture. */
class ModuleSandbox : public ::testing::Test, public q32test::Sandbox {};

inline q32test::TestFormat Format(const std::string &code, const std::string &description, DWORD typeMask = 1)
{
    q32test::TestFormat f;
    f.code = code;
    f.description = description;
    f.typeMask = typeMask;
    return f;
}

/* The recorded error is (id, where1, where2, where3). */
#define EXPECT_ERROR(stringId, w1, w2, w3)                                            \
    do {                                                                              \
        q32test::RecordedError e_ = q32test::ReadError();                             \
        EXPECT_EQ((UINT)(stringId), e_.id) << e_.text;                                \
        EXPECT_EQ((w1), e_.where1);                                                   \
        EXPECT_EQ((w2), e_.where2);                                                   \
        EXPECT_EQ((w3), e_.where3);                                                   \
    } while (0)

#endif
