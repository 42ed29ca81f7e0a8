/* Extension settings: the lists of extensions of each format, section FIO_EXT. */
#include "registry.h"
#include <string.h>

namespace {
const char ExtensionSection[] = "FIO_EXT";

/* The six fixed lists, rewritten at every start. */
const struct { const char *key, *value; } DefaultExtensions[] = {
    {"JPG_EXT", "JPEG;JPE;"}, {"BMP_EXT", "RLE;UPI;"}, {"TIF_EXT", "TIFF;"},
    {"PCT_EXT", "PICT;"},     {"WBM_EXT", "WBMP;"},    {"JPC_EXT", "J2K;"},
};
}

/******************************************************************
 *      WriteDefaultExtensions
 *
 * Writes each fixed list unless the ini file already holds exactly that text.
 */
void WriteDefaultExtensions()
{
    for (const auto &entry : DefaultExtensions) {
        char value[Q32_MAX_NAME];
        DWORD n = GetPrivateProfileStringA(ExtensionSection, entry.key, nullptr, value,
                                           sizeof value, SuiteIniPath);
        if (n == 0 || strcmp(value, entry.value) != 0)
            WritePrivateProfileStringA(ExtensionSection, entry.key, entry.value, SuiteIniPath);
    }
}
