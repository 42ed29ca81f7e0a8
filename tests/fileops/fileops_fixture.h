/*
 * A loaded copy of the module over a plug-in folder of the test's own: test plug-in
 * copies whose calls are logged, an ini file and an application-data folder.
 */
#ifndef Q32_FILEOPS_FIXTURE_H
#define Q32_FILEOPS_FIXTURE_H

#include <gtest/gtest.h>
#include "harness.h"
#include <string>
#include <vector>

class FileOpsFixture : public ::testing::Test {
protected:
    q32test::TempDir dir;
    std::string suite = dir / "suite";
    std::string fio = dir / "suite\\FIO";
    std::string calls = dir / "calls.log";
    std::string ini = dir / "suite.ini";
    q32test::ScopedEnv appData{"Q32_APPDATA", dir / "appdata\\"};
    q32test::ScopedEnv osClass{"Q32_OSVERSION", "10"};
    q32test::ScopedEnv boxes{"Q32COMM_MB_LOG", dir / "boxes.log"};
    q32test::ModuleCopy module{suite, ini};

    void SetUp() override
    {
        CreateDirectoryA((dir / "appdata").c_str(), nullptr);
        CreateDirectoryA(fio.c_str(), nullptr);
    }

    /* A one-format test plug-in copy CODE.FIO, its calls logged. */
    void Stage(const std::string &code, std::vector<std::pair<std::string, std::string>> keys = {},
               std::string fileData = "accept", std::string signature = "", DWORD typeMask = 0x7F)
    {
        q32test::TestFormat format;
        format.code = code;
        format.description = code + " test format";
        format.fileData = fileData;
        format.signature1 = signature;
        format.typeMask = typeMask;
        format.keys = std::move(keys);
        q32test::TestPlugin plugin(code + ".FIO", {format});
        plugin.callLog = calls;
        q32test::StagePlugin(fio, plugin);
    }
    void StageBmp()
    {
        CopyFileA((q32test::BinFolder() + "FIO\\bmp.fio").c_str(), (fio + "\\bmp.fio").c_str(), FALSE);
    }
    void Load()
    {
        ASSERT_TRUE(module.Load());
        c32ResetDLLErrInfo();
    }
    /* The logged calls, without the copies' names when bare. */
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

/* The recorded error is (id, where1, where2, where3). */
#define EXPECT_ERROR(stringId, w1, w2, w3)                                            \
    do {                                                                              \
        q32test::RecordedError e_ = q32test::ReadError();                             \
        EXPECT_EQ((UINT)(stringId), e_.id);                                           \
        EXPECT_EQ((w1), e_.where1);                                                   \
        EXPECT_EQ((w2), e_.where2);                                                   \
        EXPECT_EQ((w3), e_.where3);                                                   \
    } while (0)

#endif
