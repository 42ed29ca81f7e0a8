/* Format queries: extension lists, FormatInfo copies, plug-in paths, lookups. */
#include "registry.h"
#include <string.h>

namespace {
/* Longest qfFileGetFormatExt answer: code, ';', two 63-character lists, terminator. */
const size_t FormatExtSize = 3 + 1 + 63 + 63 + 1;
static_assert(FormatExtSize == Q32_FORMAT_EXT_SIZE, "qfFileGetFormatExt answer size");

size_t Append(char *text, size_t used, size_t size, const char *part)
{
    return used + CopyText(text + used, size - used, part);
}
}

/******************************************************************
 *      SameTextNoCase
 *
 * Compares two counted texts as lstrcmpiA compares strings.
 */
bool SameTextNoCase(const char *a, size_t aLength, const char *b, size_t bLength)
{
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, (int)aLength, b,
                          (int)bLength) == CSTR_EQUAL;
}

/******************************************************************
 *      MatchExtensionList
 */
int MatchExtensionList(const char *extension, const char *list)
{
    size_t wanted = strlen(extension), length;
    const char *cursor = list;
    while (const char *token = NextToken(&cursor, ";", &length))
        if (SameTextNoCase(token, length, extension, wanted)) return 1;
    return 0;
}

/******************************************************************
 *      qfFileGetFormatExt  (exported)
 *
 * kind 1: extension list then user list; 2: extension list; 3: user list; 4: code, ';',
 * then both lists; any other kind: the empty text. buffer holds Q32_FORMAT_EXT_SIZE bytes.
 */
extern "C" int Q32FILEAPI qfFileGetFormatExt(int format, char *buffer, int kind)
{
    if (!FormatsDiscovered()) return 0;
    const FormatRecord *record = FormatByNumber(format);
    if (!record || !buffer) {
        RecordError(nullptr, OpGetFormatExt.At(1), ErrCannot);
        return 0;
    }
    char text[FormatExtSize];
    size_t used = 0;
    text[0] = 0;
    if (kind == 4) {
        used = Append(text, used, sizeof text, record->info.code);
        used = Append(text, used, sizeof text, ";");
    }
    if (kind == 1 || kind == 2 || kind == 4)
        used = Append(text, used, sizeof text, record->extensions);
    if (kind == 1 || kind == 3 || kind == 4)
        used = Append(text, used, sizeof text, record->userExtensions);
    memcpy(buffer, text, used + 1);
    return 1;
}

/******************************************************************
 *      qfFileGetFormatInfo  (exported)
 *
 * A new movable block with a copy of the format's FormatInfo (code in upper case), for
 * the caller to free.
 */
extern "C" HGLOBAL Q32FILEAPI qfFileGetFormatInfo(int format)
{
    if (!FormatsDiscovered()) return nullptr;
    const FormatRecord *record = FormatByNumber(format);
    if (!record) {
        RecordError(nullptr, OpGetFormatInfo.At(1), ErrCannot);
        return nullptr;
    }
    q32::GlobalHandle block(Sys.globalAlloc(GHND, sizeof(FormatInfo)));
    {
        q32::Locked<FormatInfo> info(block.get());
        if (!info) {
            RecordError(nullptr, OpGetFormatInfo.At(2), ErrNoMemory);
            return nullptr;
        }
        *info.get() = record->info;
    }
    return block.release();
}

/******************************************************************
 *      qfFileGetFullPath  (exported)
 *
 * DiscoveryFolder and the format's plug-in file name. When that and its terminator do not
 * fit in size bytes, the buffer is left untouched.
 */
extern "C" int Q32FILEAPI qfFileGetFullPath(int format, char *buffer, int size)
{
    if (!FormatsDiscovered()) return 0;
    const FormatRecord *record = FormatByNumber(format);
    if (!record) {
        RecordError(nullptr, OpGetFullPath.At(1), ErrCannot);
        return 0;
    }
    char path[sizeof DiscoveryFolder + sizeof record->pluginName];
    size_t length = Append(path, CopyText(path, sizeof path, DiscoveryFolder), sizeof path,
                           record->pluginName);
    if (!buffer || size <= 0 || length + 1 > (size_t)size) {
        RecordError(nullptr, OpGetFullPath.At(2), ErrCannot);
        return 0;
    }
    memcpy(buffer, path, length + 1);
    return 1;
}

/******************************************************************
 *      q32FileGetFormatID  (exported)
 *
 * The first format (in table order) that the extension (code, extension list or user
 * list) and the description both match, case ignored; a null argument matches every
 * format. -1 when none does.
 */
extern "C" int Q32FILEAPI q32FileGetFormatID(const char *extension, const char *description)
{
    if (!FormatsDiscovered()) return -1;
    if (!extension && !description) {
        RecordError(nullptr, OpGetFormatId.At(1), ErrCannot);
        return -1;
    }
    for (LONG i = 0; i < Formats->count; i++) {
        const FormatRecord &record = Formats->records[i];
        bool extensionMatches =
            !extension || lstrcmpiA(extension, record.info.code) == 0 ||
            (record.extensionCount && MatchExtensionList(extension, record.extensions)) ||
            (record.userCount && MatchExtensionList(extension, record.userExtensions));
        bool descriptionMatches = !description || lstrcmpiA(description, record.info.description) == 0;
        if (extensionMatches && descriptionMatches) return (int)i + 1;
    }
    return -1;
}
