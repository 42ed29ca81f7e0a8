/*
 * Test harness: temporary folders, isolated ini files, environment overrides, the
 * shared error slot, and copies of q32File.dll loaded as a suite application would.
 */
#ifndef Q32_TEST_HARNESS_H
#define Q32_TEST_HARNESS_H

#include <windows.h>
#include <string>
#include <vector>
#include "q32file.h"
#include "q32comm.h"

namespace q32test {

/* The build's bin folder (the module, its siblings and FIO\), with a trailing '\'. */
std::string BinFolder();

/* Joins a folder and a name with exactly one backslash. */
std::string Join(const std::string &folder, const std::string &name);

/* A fresh folder below %TEMP%, removed with everything in it at the end. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return Join(path_, name); }

private:
    std::string path_;
};

void RemoveTree(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
bool Exists(const std::string &path);

/* Sets an environment variable for the object's lifetime, then restores it. */
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

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

/* Lines that a stand-in appended to a log file named by an environment variable. */
std::vector<std::string> ReadLines(const std::string &path);

/*
 * A copy of q32File.dll in a folder of its own, loaded with its own ini file. Every
 * instance is a fresh process-state of the module: discovery, caches and bound plug-ins
 * start empty. Sibling DLLs come from the bin folder.
 */
class ModuleCopy {
public:
    /* Stages q32File.dll into folder (created when missing); iniPath becomes the suite
       ini file for the module's lifetime. */
    ModuleCopy(const std::string &folder, const std::string &iniPath);
    ~ModuleCopy();
    ModuleCopy(const ModuleCopy &) = delete;
    ModuleCopy &operator=(const ModuleCopy &) = delete;

    /* Loads the copy (runs its attach). False when the load failed. */
    bool Load();
    /* Frees it (runs its detach). */
    void Unload();
    HMODULE handle() const { return module_; }

    /* The named export, cast to the type of the public declaration. */
    template <typename F>
    F *Get(const char *name) const { return reinterpret_cast<F *>(GetProcAddress(module_, name)); }

private:
    std::string folder_, iniPath_;
    ScopedEnv *iniEnv_ = nullptr;
    HMODULE module_ = nullptr;
};

/* ModuleCopy::Get with the export's own declared type. */
#define Q32_EXPORT(copy, name) ((copy).Get<decltype(::name)>(#name))

} // namespace q32test

#endif
