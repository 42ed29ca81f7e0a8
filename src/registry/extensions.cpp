/* Extension settings: the lists of extensions of each format, section FIO_EXT. */
#include "registry.h"
#include <shlwapi.h>
#include <string.h>

namespace {
const char ExtensionSection[] = "FIO_EXT";
const char ListDelimiters[] = ";";
/* A section larger than this is read key by key. */
const DWORD MaxSectionBytes = 1 << 20;

/* The six fixed lists, rewritten at every start. */
const struct { const char *key, *value; } DefaultExtensions[] = {
    {"JPG_EXT", "JPEG;JPE;"}, {"BMP_EXT", "RLE;UPI;"}, {"TIF_EXT", "TIFF;"},
    {"PCT_EXT", "PICT;"},     {"WBM_EXT", "WBMP;"},    {"JPC_EXT", "J2K;"},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/* Trims blanks from [*begin, *end), then one pair of matching quotes, as the profile
   functions do for a single value. */
void TrimValue(const char **begin, const char **end)
{
    while (*begin < *end && IsBlank(**begin)) ++*begin;
    while (*end > *begin && IsBlank((*end)[-1])) --*end;
    if (*end - *begin >= 2 && (**begin == '"' || **begin == '\'') && (*end)[-1] == **begin) {
        ++*begin;
        --*end;
    }
}

/* True when the key part of a "key=value" line names key (case ignored). */
bool LineHasKey(const char *line, const char *equals, const char *key)
{
    const char *begin = line, *end = equals;
    while (begin < end && IsBlank(*begin)) begin++;
    while (end > begin && IsBlank(end[-1])) end--;
    return SameTextNoCase(begin, (size_t)(end - begin), key, strlen(key));
}

/* Copies value (from the ini file) into one of a record's 64-byte lists and answers the
   number of tokens of what the list holds. A value too long for the field is cut after
   its last ';' that fits, so that no piece of an extension becomes an extension. */
int StoreList(char (&list)[64], const char *value)
{
    memset(list, 0, sizeof list);
    size_t length = strlen(value);
    if (length >= sizeof list) {
        length = 0;
        for (size_t i = 0; i < sizeof list - 1; i++)
            if (value[i] == ';') length = i + 1;
    }
    memcpy(list, value, length);
    return CountTokens(list, ListDelimiters);
}

/* Reads key CODE+suffix into list; 1 when a value was read. A missing key leaves the list
   zero-filled and its count 0. */
int ReadList(const ExtensionSettings &settings, const char *code, const char *suffix,
             char (&list)[64], int &count)
{
    char key[16];
    wnsprintfA(key, sizeof key, "%s%s", code, suffix);
    char value[Q32_MAX_NAME];
    if (settings.Read(key, value, sizeof value)) {
        count = StoreList(list, value);
        return 1;
    }
    memset(list, 0, sizeof list);
    count = 0;
    return 0;
}
}

/******************************************************************
 *      ExtensionSettings
 *
 * Takes section FIO_EXT whole (GetPrivateProfileSectionA), growing the buffer until the
 * section fits. When it cannot be taken, Read asks the file for each key.
 */
ExtensionSettings::ExtensionSettings()
{
    for (DWORD size = 4096; size <= MaxSectionBytes; size *= 2) {
        block_.reset(Sys.globalAlloc(GMEM_FIXED, size));
        if (!block_) return;
        char *lines = static_cast<char *>(block_.get());
        DWORD n = GetPrivateProfileSectionA(ExtensionSection, lines, size, SuiteIniPath);
        if (n < size - 2) {
            lines[n] = 0;
            lines_ = lines;
            return;
        }
    }
    block_.reset();
}

size_t ExtensionSettings::Read(const char *key, char *value, size_t size) const
{
    if (!lines_)
        return GetPrivateProfileStringA(ExtensionSection, key, nullptr, value, (DWORD)size,
                                        SuiteIniPath);
    for (const char *line = lines_; *line; line += strlen(line) + 1) {
        const char *equals = strchr(line, '=');
        if (!equals || !LineHasKey(line, equals, key)) continue;
        const char *begin = equals + 1, *end = begin + strlen(begin);
        TrimValue(&begin, &end);
        size_t n = (size_t)(end - begin) < size ? (size_t)(end - begin) : size - 1;
        memcpy(value, begin, n);
        value[n] = 0;
        return n;
    }
    if (size) value[0] = 0;
    return 0;
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

/******************************************************************
 *      ReadExtensionSettings
 *
 * A list longer than the record's 63 characters is cut after its last whole extension
 * that fits; its token count is that of the list as the record holds it.
 */
int ReadExtensionSettings(const ExtensionSettings &settings, const char *code,
                          FormatRecord &record)
{
    int found = ReadList(settings, code, "_EXT", record.extensions, record.extensionCount);
    found |= ReadList(settings, code, "_USER", record.userExtensions, record.userCount);
    return found;
}

/******************************************************************
 *      ReloadUserExtensions
 *
 * Re-reads the user list of every format, under ModuleLock. The extension lists stay as
 * discovery read them.
 */
int ReloadUserExtensions()
{
    ModuleLockScope lock;
    if (!FormatsDiscovered()) return 0;

    ExtensionSettings settings;
    int found = 0;
    for (LONG i = 0; i < Formats->count; i++) {
        FormatRecord &record = Formats->records[i];
        char key[16];
        wnsprintfA(key, sizeof key, "%s%s", record.info.code, "_USER");
        char value[Q32_MAX_NAME];
        if (settings.Read(key, value, sizeof value)) {
            record.userCount = StoreList(record.userExtensions, value);
            found = 1;
        } else {
            record.userExtensions[0] = 0;
            record.userCount = 0;
        }
    }
    return found;
}

/******************************************************************
 *      CountTokens
 */
int CountTokens(const char *list, const char *delimiters)
{
    int count = 0;
    size_t length;
    while (NextToken(&list, delimiters, &length)) count++;
    return count;
}

/******************************************************************
 *      NextToken
 */
const char *NextToken(const char **cursor, const char *delimiters, size_t *length)
{
    const char *p = *cursor;
    if (!p) return nullptr;
    p += strspn(p, delimiters);
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    *length = strcspn(p, delimiters);
    *cursor = p + *length;
    return p;
}
