/* The search below a folder. */
#include "finder.h"
#include <algorithm>
#include <string.h>

namespace finder {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

bool MatchFrom(const char *name, const char *pattern)
{
    /* Iterative * matching with one back-tracking point. */
    const char *star = nullptr, *resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && Upper(*pattern) == Upper(*name))) {
            pattern++, name++;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') pattern++;
    return !*pattern;
}

void Trim(std::string &text)
{
    size_t start = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    text = start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

bool LessNoCase(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
}

void SearchFolder(const std::string &folder, const std::vector<std::string> &patterns,
                  bool subfolders, size_t limit, int depth, std::vector<std::string> &found)
{
    std::vector<std::string> files, folders;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(Join(folder, "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, "..")) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                folders.push_back(data.cFileName);
            continue;
        }
        for (const std::string &p : patterns)
            if (Matches(data.cFileName, p)) { files.push_back(data.cFileName); break; }
    } while (FindNextFileA(search, &data));
    FindClose(search);

    std::sort(files.begin(), files.end(), LessNoCase);
    for (const std::string &f : files) {
        if (found.size() >= limit) return;
        found.push_back(Join(folder, f));
    }
    if (!subfolders || depth >= 32) return;
    std::sort(folders.begin(), folders.end(), LessNoCase);
    for (const std::string &f : folders) {
        if (found.size() >= limit) return;
        SearchFolder(Join(folder, f), patterns, subfolders, limit, depth + 1, found);
    }
}

} // namespace

std::string Join(const std::string &folder, const std::string &name)
{
    if (folder.empty()) return name;
    if (folder.back() == '\\') return folder + name;
    return folder + "\\" + name;
}

std::string FullFolder(const std::string &path)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.empty() ? "." : path.c_str(), sizeof full, full, nullptr);
    std::string result = (n && n < sizeof full) ? full : path;
    if (result.size() > 3 && result.back() == '\\') result.pop_back();
    return result;
}

bool Matches(const char *name, const std::string &pattern)
{
    if (pattern == "*.*" || pattern == "*") return true;
    return MatchFrom(name, pattern.c_str());
}

Query MakeQuery(const char *text, const char *folder)
{
    Query query;
    std::string all = text ? text : "";
    std::string textFolder;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        std::string token = all.substr(start, end - start);
        Trim(token);
        size_t cut = token.find_last_of("\\/:");
        if (cut != std::string::npos) {
            if (textFolder.empty()) textFolder = token.substr(0, cut + 1);
            token = token.substr(cut + 1);
        }
        if (!token.empty()) query.patterns.push_back(token);
        start = end + 1;
    }
    if (query.patterns.empty()) query.patterns.push_back("*.*");
    std::string where = folder && *folder ? folder : textFolder;
    query.folder = FullFolder(where);
    return query;
}

std::vector<std::string> Search(const Query &query, bool subfolders, size_t limit)
{
    std::vector<std::string> found;
    if (limit) SearchFolder(query.folder, query.patterns, subfolders, limit, 0, found);
    return found;
}

} // namespace finder
