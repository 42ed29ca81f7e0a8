#include "harness.h"
#include <stdlib.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>

namespace q32test {

std::string Join(const std::string &folder, const std::string &name)
{
    if (folder.empty()) return name;
    if (folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

std::string TestFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    PathRemoveFileSpecA(path);
    return path;
}

namespace {
/* The build root: the parent of the running program's folder. */
std::string BuildFolder() { return TestFolder().substr(0, TestFolder().rfind('\\')); }

std::atomic<int> tempCounter;
}

std::string BinFolder() { return Join(BuildFolder(), "bin\\"); }
std::string TestPluginFolder() { return Join(BuildFolder(), "testplugins\\"); }

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
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
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

int CountFromEnv(const char *name, int fallback)
{
    char value[16] = "";
    GetEnvironmentVariableA(name, value, sizeof value);
    int count = atoi(value);
    return count > 0 ? count : fallback;
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::istringstream text(ReadFileBytes(path));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
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
    iniEnv_.emplace("Q32_INI", iniPath_);
    module_ = LoadLibraryExA(Join(folder_, "q32File.dll").c_str(), nullptr,
                             LOAD_WITH_ALTERED_SEARCH_PATH);
    return module_ != nullptr;
}

void ModuleCopy::Unload()
{
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    iniEnv_.reset();
}

void StagePlugin(const std::string &folder, const TestPlugin &plugin, const std::string &loadLog)
{
    std::string target = Join(folder, plugin.name);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    CopyFileA((TestPluginFolder() + plugin.build + ".fio").c_str(), target.c_str(), FALSE);

    std::string ini = Join(folder, plugin.name.substr(0, plugin.name.rfind('.')) + ".ini");
    int count = plugin.formatCount ? *plugin.formatCount : (int)plugin.formats.size();
    std::string text = "[plugin]\r\nFormats=" + std::to_string(count) + "\r\nLoadLog=" + loadLog +
                       "\r\nCallLog=" + plugin.callLog + "\r\n";
    for (size_t j = 0; j < plugin.formats.size(); j++) {
        const TestFormat &f = plugin.formats[j];
        std::vector<std::pair<std::string, std::string>> keys = {
            {"Flags", std::to_string(f.flags)}, {"TypeMask", std::to_string(f.typeMask)},
            {"Flags2", std::to_string(f.flags2)}, {"OpenOptions", std::to_string(f.openOptions)},
            {"SaveOptions", std::to_string(f.saveOptions)},
            {"RuntimeValue", std::to_string(f.runtimeValue)}, {"Signature1", f.signature1},
            {"Signature2", f.signature2}, {"InfoNull", f.infoNull ? "1" : "0"},
            {"FileData", f.fileData},
        };
        if (!f.code.empty()) keys.push_back({"Code", f.code});
        if (!f.description.empty()) keys.push_back({"Description", f.description});
        keys.insert(keys.end(), f.keys.begin(), f.keys.end());
        /* The plug-in takes a key's first line: the last one given comes first. */
        text += "[format" + std::to_string(j) + "]\r\n";
        for (auto key = keys.rbegin(); key != keys.rend(); key++)
            text += key->first + "=" + key->second + "\r\n";
    }
    WriteFileBytes(ini, text);
}

int LoadsOf(const std::string &loadLog, const std::string &name)
{
    std::vector<std::string> lines = ReadLines(loadLog);
    return (int)std::count(lines.begin(), lines.end(), name);
}

int TotalLoads(const std::string &loadLog) { return (int)ReadLines(loadLog).size(); }

bool RedirectImport(HMODULE module, const char *dll, const char *function, const void *replacement)
{
    auto base = reinterpret_cast<BYTE *>(module);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
    for (; dir.VirtualAddress && import->Name; import++) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + import->Name), dll)) continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(byName->Name), function)) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void *), old, &old);
            return true;
        }
    }
    return false;
}

void ShiftWriteTime(const std::string &path, int seconds)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ULARGE_INTEGER t = {};
    GetFileTime(file, nullptr, nullptr, reinterpret_cast<FILETIME *>(&t));
    t.QuadPart += (LONGLONG)seconds * 10000000;
    SetFileTime(file, nullptr, nullptr, reinterpret_cast<FILETIME *>(&t));
    CloseHandle(file);
}

} // namespace q32test
