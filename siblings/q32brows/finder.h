/* Shared by the finder's files: the search below a folder. */
#ifndef Q32BROWS_FINDER_H
#define Q32BROWS_FINDER_H

#include <windows.h>
#include <string>
#include <vector>

namespace finder {

/* Where and what to search for, from the caller's text and folder. */
struct Query {
    std::string folder;                  /* full path, without a trailing backslash */
    std::vector<std::string> patterns;   /* never empty */
};

/* Splits text ("*.jpg;*.png", "C:\pics\a*.jpg", "") into patterns and, when the text has
   one, a folder part; folder (when not empty) wins over that part, and the current folder
   is used when there is neither. */
Query MakeQuery(const char *text, const char *folder);

/* Case-insensitive match of a file name with * and ? ("*.*" matches every name). */
bool Matches(const char *name, const std::string &pattern);

/* Full names of the matching files: a folder's files in name order, then its subfolders
   (when subfolders is true) in name order. At most limit names, 32 levels deep; links to
   folders are not followed. */
std::vector<std::string> Search(const Query &query, bool subfolders, size_t limit);

/* Joins a folder and a name with exactly one backslash. */
std::string Join(const std::string &folder, const std::string &name);

/* The full path of path (relative to the current folder), without a trailing backslash
   unless it is a drive's root. */
std::string FullFolder(const std::string &path);

} // namespace finder

#endif
