#include "harness.h"
#include <shlwapi.h>
#include <stdio.h>
#include <atomic>

namespace q32test {

std::string Join(const std::string &folder, const std::string &name)
{
    if (folder.empty()) return name;
    if (folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

std::string BinFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    PathRemoveFileSpecA(path); /* ...\tests */
    PathRemoveFileSpecA(path); /* build root */
    return Join(path, "bin\\");
}

namespace {
std::atomic<int> tempCounter;
}

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char name[64];
    snprintf(name, sizeof name, "q32t_%lu_%d", GetCurrentProcessId(), tempCounter++);
    path_ = Join(base, name);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Join(path, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = Join(path, name);
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFileBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(file, &bytes[0], (DWORD)bytes.size(), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : name_(name)
{
    char old[4096];
    DWORD n = GetEnvironmentVariableA(name, old, sizeof old);
    had_ = n > 0 && n < sizeof old;
    if (had_) old_ = old;
    SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr); }

RecordedError ReadError()
{
    RecordedError e;
    char text[C32_ERRTEXT_SIZE];
    e.id = c32GetDLLErrorInfo(text, nullptr, &e.zero, &e.where1, &e.where2, &e.where3);
    e.text = text;
    return e;
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::string bytes = ReadFileBytes(path), line;
    for (char c : bytes) {
        if (c == '\r') continue;
        if (c == '\n') { lines.push_back(line); line.clear(); }
        else line += c;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

ModuleCopy::ModuleCopy(const std::string &folder, const std::string &iniPath)
    : folder_(folder), iniPath_(iniPath)
{
    CreateDirectoryA(folder_.c_str(), nullptr);
    CopyFileA((BinFolder() + "q32File.dll").c_str(), Join(folder_, "q32File.dll").c_str(), FALSE);
}

ModuleCopy::~ModuleCopy() { Unload(); }

bool ModuleCopy::Load()
{
    Unload();
    iniEnv_ = new ScopedEnv("Q32_INI", iniPath_);
    module_ = LoadLibraryExA(Join(folder_, "q32File.dll").c_str(), nullptr,
                             LOAD_WITH_ALTERED_SEARCH_PATH);
    return module_ != nullptr;
}

void ModuleCopy::Unload()
{
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    delete iniEnv_;
    iniEnv_ = nullptr;
}

} // namespace q32test
