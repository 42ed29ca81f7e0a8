/* Test harness: temporary folders, environment overrides, the shared error slot, staged test
   plug-ins, and copies of q32File.dll loaded as an application would. */
#ifndef Q32_TEST_HARNESS_H
#define Q32_TEST_HARNESS_H

#include <windows.h>
#include <optional>
#include <string>
#include <vector>
#include "q32file.h"
#include "q32comm.h"

namespace q32test {

/* The build's bin folder, the running program's and the test plug-ins' ('\' ended but the
   program's); Join puts exactly one backslash between folder and name. */
std::string BinFolder();
std::string TestFolder();
std::string TestPluginFolder();
std::string Join(const std::string &folder, const std::string &name);

/* A fresh folder below %TEMP%, removed with everything in it at the end. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return Join(path_, name); }

private:
    std::string path_;
};

void RemoveTree(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
bool Exists(const std::string &path);
std::vector<std::string> ReadLines(const std::string &path);
void ShiftWriteTime(const std::string &path, int seconds);
/* A positive number from an environment variable (a test's count of rounds), or fallback. */
int CountFromEnv(const char *name, int fallback);

/* Sets an environment variable for the object's lifetime, then restores it. */
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_;
};

/* What the shared error slot holds. */
struct RecordedError {
    UINT id = 0;
    int zero = 0, where1 = 0, where2 = 0, where3 = 0;
    std::string text;
};
RecordedError ReadError();

/* A copy of q32File.dll in a folder of its own, loaded with iniPath as its ini file: each
   load is a fresh process-state of the module. */
class ModuleCopy {
public:
    ModuleCopy(const std::string &folder, const std::string &iniPath);
    ~ModuleCopy();
    ModuleCopy(const ModuleCopy &) = delete;
    bool Load(); /* runs its attach; false when the load failed */
    void Unload();
    HMODULE handle() const { return module_; }
    template <typename F>
    F *Get(const char *name) const { return reinterpret_cast<F *>(GetProcAddress(module_, name)); }

private:
    std::string folder_, iniPath_;
    std::optional<ScopedEnv> iniEnv_;
    HMODULE module_ = nullptr;
};

/* One format of a staged test plug-in copy (testfio.cpp tells the keys); empty texts keep
   the plug-in's defaults. */
struct TestFormat {
    std::string code, description;
    unsigned flags = 1;
    DWORD typeMask = 1;
    unsigned flags2 = 0;
    DWORD openOptions = 0, saveOptions = 0, runtimeValue = 0;
    std::string signature1, signature2;  /* hex bytes, e.g. "424D" */
    bool infoNull = false;
    std::string fileData = "0";
    std::vector<std::pair<std::string, std::string>> keys;  /* the image's and the rest */
};

/* A copy of a test plug-in build (testfio, tfnonum, tfsparse) and what it declares. */
struct TestPlugin {
    TestPlugin() = default;
    TestPlugin(std::string name, std::vector<TestFormat> formats,
               std::optional<int> formatCount = std::nullopt, std::string build = "testfio")
        : name(std::move(name)), formats(std::move(formats)), formatCount(formatCount),
          build(std::move(build)) {}

    std::string name;                    /* file name of the copy, e.g. "TA.FIO" */
    std::vector<TestFormat> formats;
    std::optional<int> formatCount;      /* qfDLLGetFileFmtNum; default formats.size() */
    std::string build = "testfio";
    std::string callLog;
};

/* Copies the plug-in build into folder as plugin.name, with NAME.ini beside it; each load
   of the copy appends its name to loadLog. LoadsOf counts the lines naming the copy. */
void StagePlugin(const std::string &folder, const TestPlugin &plugin,
                 const std::string &loadLog = "");
int LoadsOf(const std::string &loadLog, const std::string &name);
int TotalLoads(const std::string &loadLog);

/* Points a loaded module's import of dll's function (by name) at replacement; false when
   not imported. */
bool RedirectImport(HMODULE module, const char *dll, const char *function, const void *replacement);

/* ModuleCopy::Get with the export's own declared type. */
#define Q32_EXPORT(copy, name) ((copy).Get<decltype(::name)>(#name))

} // namespace q32test

#endif
