/* Why a plug-in file of the plug-in folder gave the module no format. */
#ifndef Q32FILE_TOOL_DIAGNOSE_H
#define Q32FILE_TOOL_DIAGNOSE_H

#include <string>
#include <vector>

struct UnregisteredPlugin {
    std::string file;    /* its name in the plug-in folder */
    std::string reason;  /* why it gives no format */
};

/* The .fio files of folder (ending in a backslash) that none of the module's formats
   names, each with the reason found by asking the file as discovery does: loading it
   (and reading its imports for a library that is missing), its format count and its
   FormatInfo entries. */
std::vector<UnregisteredPlugin> UnregisteredPlugins(const std::string &folder);

#endif
