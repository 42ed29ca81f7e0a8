/* Why a plug-in gave no format. The module records only its last failure, and nothing
   at all for some (a plug-in without qfDLLGetFileFmtNum), so the tool asks each plug-in
   file that no format names itself, the way discovery does. */
#include <windows.h>
#include <string.h>
#include <set>
#include "q32file.h"
#include "q32fio.h"
#include "diagnose.h"

namespace {

std::string Upper(std::string text)
{
    CharUpperBuffA(text.data(), (DWORD)text.size());
    return text;
}

/* The system's text of error code, without its line break. */
std::string SystemText(DWORD code)
{
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             text, sizeof text, nullptr);
    while (n && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) n--;
    text[n] = 0;
    return n ? std::string(text) : "system error " + std::to_string(code);
}

/* The machine type of a PE file and the names of the libraries it imports; false when
   the file is no PE image that can be read. */
bool ReadImports(const std::string &path, WORD &machine, std::vector<std::string> &imports)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr), got = 0;
    std::vector<BYTE> bytes(size != INVALID_FILE_SIZE && size < (64u << 20) ? size : 0);
    bool read = !bytes.empty() && ReadFile(file, bytes.data(), size, &got, nullptr) && got == size;
    CloseHandle(file);
    if (!read || size < sizeof(IMAGE_DOS_HEADER)) return false;

    auto at = [&](size_t offset, size_t length) { return offset <= size && length <= size - offset; };
    IMAGE_DOS_HEADER dos;
    memcpy(&dos, bytes.data(), sizeof dos);
    size_t nt = (size_t)(DWORD)dos.e_lfanew;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || !at(nt, 4 + sizeof(IMAGE_FILE_HEADER) + 2)) return false;
    if (memcmp(&bytes[nt], "PE\0\0", 4)) return false;
    IMAGE_FILE_HEADER header;
    memcpy(&header, &bytes[nt + 4], sizeof header);
    machine = header.Machine;
    size_t optional = nt + 4 + sizeof header;
    WORD magic;
    memcpy(&magic, &bytes[optional], 2);
    IMAGE_DATA_DIRECTORY directory;
    size_t directoryAt = optional + (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                         ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                         : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)) +
                         IMAGE_DIRECTORY_ENTRY_IMPORT * sizeof directory;
    if (!at(directoryAt, sizeof directory)) return false;
    memcpy(&directory, &bytes[directoryAt], sizeof directory);

    /* Relative addresses to file offsets, by the section table. */
    size_t sections = optional + header.SizeOfOptionalHeader;
    auto offsetOf = [&](DWORD rva, size_t &offset) {
        for (WORD i = 0; i < header.NumberOfSections; i++) {
            IMAGE_SECTION_HEADER s;
            if (!at(sections + i * sizeof s, sizeof s)) return false;
            memcpy(&s, &bytes[sections + i * sizeof s], sizeof s);
            DWORD span = s.Misc.VirtualSize > s.SizeOfRawData ? s.Misc.VirtualSize : s.SizeOfRawData;
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < span) {
                offset = (size_t)s.PointerToRawData + (rva - s.VirtualAddress);
                return offset < size;
            }
        }
        return false;
    };
    size_t descriptor;
    if (!directory.VirtualAddress || !offsetOf(directory.VirtualAddress, descriptor)) return true;
    for (;; descriptor += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d;
        if (!at(descriptor, sizeof d)) break;
        memcpy(&d, &bytes[descriptor], sizeof d);
        size_t name;
        if (!d.Name || !offsetOf(d.Name, name)) break;
        const char *text = reinterpret_cast<const char *>(&bytes[name]);
        imports.emplace_back(text, strnlen(text, size - name));
    }
    return true;
}

/* Libraries the plug-in imports that the loader cannot find: not in the plug-in folder
   (the current directory while it loads) nor on the system's search path. */
std::string MissingLibraries(const std::string &folder, const std::vector<std::string> &imports)
{
    std::string missing;
    for (const std::string &name : imports) {
        std::string upper = Upper(name);
        if (!upper.compare(0, 7, "API-MS-") || !upper.compare(0, 7, "EXT-MS-")) continue;
        if (GetModuleHandleA(name.c_str())) continue;
        if (GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES) continue;
        char found[MAX_PATH];
        if (SearchPathA(nullptr, name.c_str(), nullptr, sizeof found, found, nullptr)) continue;
        missing += (missing.empty() ? "" : ", ") + name;
    }
    return missing;
}

/* The code's owner in the module's table, or "" when no format has that code. */
std::string OwnerOfCode(const char *code)
{
    int count = qfFileGetFileFmtNum();
    for (int n = 1; n <= count; n++) {
        HGLOBAL copy = qfFileGetFormatInfo(n);
        if (!copy) continue;
        FormatInfo info;
        memcpy(&info, GlobalLock(copy), sizeof info);
        GlobalUnlock(copy);
        GlobalFree(copy);
        if (lstrcmpiA(info.code, code)) continue;
        char path[MAX_PATH] = "";
        qfFileGetFullPath(n, path, sizeof path);
        const char *file = strrchr(path, '\\');
        return file ? file + 1 : path;
    }
    return "";
}

/* Asks a loaded plug-in for its formats as discovery does. */
std::string AskFormats(HMODULE plugin)
{
    auto formatCount = reinterpret_cast<PFN_qfDLLGetFileFmtNum>(GetProcAddress(plugin, QF_NAME_GETFILEFMTNUM));
    if (!formatCount) return "it does not export " QF_NAME_GETFILEFMTNUM;
    int n = formatCount();
    if (n <= 0) return "it declares no format (" QF_NAME_GETFILEFMTNUM " answers " + std::to_string(n) + ")";
    std::string codes;
    for (int j = 0; j < n; j++) {
        std::string format = "format " + std::to_string(j);
        auto formatInfo = reinterpret_cast<PFN_qfDLLGetFormatInfo>(
            GetProcAddress(plugin, MAKEINTRESOURCEA(QF_ORDINAL(j, QF_ENTRY_GETFORMATINFO))));
        if (!formatInfo)
            return format + " has no qfDLLGetFormatInfo entry (ordinal " +
                   std::to_string(QF_ORDINAL(j, QF_ENTRY_GETFORMATINFO)) + ")";
        HGLOBAL block = formatInfo();
        const void *bytes = block ? GlobalLock(block) : nullptr;
        if (!bytes) return format + ": qfDLLGetFormatInfo answers no FormatInfo";
        FormatInfo info = {};
        memcpy(&info, bytes, GlobalSize(block) < sizeof info ? GlobalSize(block) : sizeof info);
        GlobalUnlock(block);
        GlobalFree(block);
        info.code[sizeof info.code - 1] = 0;
        std::string owner = OwnerOfCode(info.code);
        codes += (codes.empty() ? "" : "; ") + std::string("code ") + info.code +
                 (owner.empty() ? " not registered" : " already taken by " + owner);
    }
    return "its formats are not in the table (at most 49 formats; " + codes + ")";
}

std::string Diagnose(const std::string &folder, const std::string &file)
{
    if (file.find("GFF") != std::string::npos) return "a GFF plug-in: considered on some systems only";
    std::string path = folder + file;
    WORD machine = 0;
    std::vector<std::string> imports;
    if (!ReadImports(path, machine, imports)) return "it is not a Windows DLL";
    WORD own = sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    if (machine != own)
        return std::string("it is built for ") + (machine == IMAGE_FILE_MACHINE_I386 ? "32-bit" : "another") +
               " Windows; this program is " + (own == IMAGE_FILE_MACHINE_AMD64 ? "64-bit" : "32-bit");

    /* Loaded as discovery loads it: with the plug-in folder as the current directory. */
    char saved[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(folder.c_str());
    HMODULE plugin = LoadLibraryA(file.c_str());
    DWORD error = GetLastError();
    if (n && n < sizeof saved) SetCurrentDirectoryA(saved);
    if (!plugin) {
        std::string reason = "it cannot be loaded: " + SystemText(error);
        std::string missing = MissingLibraries(folder, imports);
        if (!missing.empty()) reason += " It needs " + missing + ", not found beside it or on the system's path.";
        return reason;
    }
    std::string reason = AskFormats(plugin);
    FreeLibrary(plugin);
    return reason;
}

} // namespace

std::vector<UnregisteredPlugin> UnregisteredPlugins(const std::string &folder)
{
    std::set<std::string> named;
    int count = qfFileGetFileFmtNum();
    for (int n = 1; n <= count; n++) {
        char path[MAX_PATH] = "";
        if (!qfFileGetFullPath(n, path, sizeof path)) continue;
        const char *file = strrchr(path, '\\');
        named.insert(Upper(file ? file + 1 : path));
    }
    std::vector<UnregisteredPlugin> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*.fio").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (named.count(Upper(entry.cFileName)) || (entry.cAlternateFileName[0] && named.count(Upper(entry.cAlternateFileName))))
            continue;
        found.push_back({entry.cFileName, Diagnose(folder, entry.cFileName)});
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}
