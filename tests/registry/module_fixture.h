/*
 * A copy of q32File.dll with its own ini file, plug-in folder (FIO\ beside the copy) and
 * cache folder, for the tests that go through the exports.
 */
#ifndef Q32_MODULE_FIXTURE_H
#define Q32_MODULE_FIXTURE_H

#include <gtest/gtest.h>
#include "harness.h"
#include "q32fio.h"
#include <string>

class ModuleRegistry : public ::testing::Test {
protected:
    q32test::TempDir dir;
    std::string suite = dir / "suite";
    std::string fio = dir / "suite\\FIO";
    std::string ini = dir / "suite.ini";
    std::string appData = dir / "appdata\\";
    std::string loads = dir / "loads.log";
    q32test::ScopedEnv appDataEnv{"Q32_APPDATA", appData};
    q32test::ScopedEnv osEnv{"Q32_OSVERSION", "10"};
    q32test::ScopedEnv noBoxes{"Q32COMM_MB_LOG", dir / "boxes.log"};
    q32test::ModuleCopy module{suite, ini};

    void SetUp() override
    {
        CreateDirectoryA(fio.c_str(), nullptr);
        CreateDirectoryA(appData.c_str(), nullptr);
    }
    void Stage(const q32test::TestPlugin &plugin) { q32test::StagePlugin(fio, plugin, loads); }
    void SetKey(const char *key, const char *value)
    {
        WritePrivateProfileStringA("FIO_EXT", key, value, ini.c_str());
    }
    /* Loads the copy; the ini's FIO_EXT keys may still be changed before the first
       call, which discovers. */
    void Load()
    {
        ASSERT_TRUE(module.Load());
        c32ResetDLLErrInfo();
    }
    void ExpectError(UINT id, int where2, int where3, const std::string &what = "")
    {
        q32test::RecordedError e = q32test::ReadError();
        EXPECT_EQ(id, e.id) << what;
        EXPECT_EQ(1702, e.where1) << what;
        EXPECT_EQ(where2, e.where2) << what;
        EXPECT_EQ(where3, e.where3) << what;
        c32ResetDLLErrInfo();
    }
};

inline q32test::TestFormat Format(const std::string &code, const std::string &description,
                                  DWORD typeMask = 1)
{
    q32test::TestFormat f;
    f.code = code;
    f.description = description;
    f.typeMask = typeMask;
    return f;
}

#endif
