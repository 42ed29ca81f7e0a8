/* Filter lists for the common dialogs: FilterAction. */
#include "registry.h"
#include <string.h>
#include <new>
#include <string>
#include <vector>

HGLOBAL CachedFilterLists[2];

namespace {
const char FilterMagic[4] = {'F', 'T', 'R', '1'};
/* Strings of the resource module. */
const UINT AllFilesExtensionString = 31304, AllFilesLabelString = 31305,
           AllFormatsLabelString = 31307;
/* The patterns brought to the front of the all-formats pattern, in this order. */
const char *const LeadingPatterns[] = {"*.BMP", "*.GIF", "*.JPG", "*.PNG", "*.TIF", "*.QFO"};

/* The parts of a filter list while it is built. */
struct FilterParts {
    std::vector<FilterEntry> entries;
    std::string allFormats;     /* label, NUL, pattern (no NUL yet) */
    std::string allPattern;
    std::string formatText;     /* name, NUL, pattern, NUL of every other entry */
    std::vector<bool> inFormatText;
};

std::string LoadResourceText(UINT id, int size)
{
    std::string text(size, '\0');
    int n = ResourceModule ? LoadStringA(ResourceModule, id, &text[0], size) : 0;
    text.resize(n > 0 ? (size_t)n : 0);
    return text;
}

std::string Upper(std::string text)
{
    if (!text.empty()) CharUpperBuffA(&text[0], (DWORD)text.size());
    return text;
}

/* "*.EXT;" for every token of the format's extension and user lists. */
std::string PatternList(int format)
{
    char lists[Q32_FORMAT_EXT_SIZE] = "";
    qfFileGetFormatExt(format, lists, QF_EXT_BOTH);
    std::string patterns;
    const char *cursor = lists;
    size_t length;
    while (const char *token = NextToken(&cursor, ";", &length))
        patterns.append("*.").append(token, length).append(";");
    return patterns;
}

/* The pattern list as a name part: ';' and '*' removed, '.' turned into '/'. */
std::string SlashedExtensions(const std::string &patterns)
{
    std::string slashed;
    for (char c : patterns) {
        if (c == ';' || c == '*') continue;
        slashed += c == '.' ? '/' : c;
    }
    return slashed;
}

std::string WithoutFinalSemicolon(const std::string &text)
{
    return !text.empty() && text.back() == ';' ? text.substr(0, text.size() - 1) : text;
}

void AddEntry(FilterParts &parts, const std::string &name, const std::string &pattern,
              FilterEntry entry)
{
    entry.nameOffset = (WORD)parts.formatText.size();
    parts.formatText.append(name).push_back('\0');
    entry.patternOffset = (WORD)parts.formatText.size();
    parts.formatText.append(pattern).push_back('\0');
    parts.entries.push_back(entry);
    parts.inFormatText.push_back(true);
}

/* Adds format number format when the selection takes it; last says it is the table's
   last format. */
void AddFormat(FilterParts &parts, int format, DWORD selection, bool last)
{
    FormatInfo info;
    {
        q32::GlobalHandle copy(qfFileGetFormatInfo(format));
        q32::Locked<FormatInfo> locked(copy.get());
        if (!locked) return;
        info = *locked.get();
    }
    DWORD typeMask = info.typeCaps | ((DWORD)info.typeMaskHigh << 16);
    bool allFormats = selection & FILTER_ALL_FORMATS;
    if (!allFormats && !(typeMask & selection)) return;

    std::string code = Upper(info.code);
    std::string description = info.description;
    std::string patterns = PatternList(format);
    std::string name = code + SlashedExtensions(patterns) + " (" + description + ")";
    std::string pattern = "*." + code + (patterns.empty() ? "" : ";" + WithoutFinalSemicolon(patterns));

    FilterEntry entry = {};
    entry.format = (WORD)format;
    entry.optionFlags = (info.openOptions ? FILTER_OPEN_OPTIONS : 0) |
                        (info.saveOptions ? FILTER_SAVE_OPTIONS : 0);
    entry.formatFlags = info.flags | ((DWORD)info.flags2 << 16);
    entry.typeMask = typeMask;
    AddEntry(parts, name, pattern, entry);

    if (allFormats) {
        std::string own = "*." + code + (patterns.empty() ? ";" : ";" + patterns);
        parts.allPattern += last ? WithoutFinalSemicolon(own) : own;
    }
}

void AddAllFiles(FilterParts &parts, DWORD selection)
{
    std::string extension = LoadResourceText(AllFilesExtensionString, 4);
    std::string label = LoadResourceText(AllFilesLabelString, Q32_MAX_NAME);
    AddEntry(parts, Upper(extension) + " (" + label + ")", "*." + extension, FilterEntry{});
    if (selection & FILTER_ALL_FORMATS) parts.allPattern += ";*." + extension;
}

std::vector<std::string> SplitPatterns(const std::string &text)
{
    std::vector<std::string> patterns;
    size_t from = 0;
    for (;;) {
        size_t semicolon = text.find(';', from);
        patterns.push_back(text.substr(from, semicolon - from));
        if (semicolon == std::string::npos) return patterns;
        from = semicolon + 1;
    }
}

/* The parts of a filter list with slots entry slots (those beyond the entries in use stay
   zero, so the text area starts where a caller that counts the slots expects it), or
   null when memory ran out. */
HGLOBAL AssembleFilterList(const FilterParts &parts, size_t slots)
{
    if (slots < parts.entries.size()) slots = parts.entries.size();
    size_t textBytes = parts.allFormats.size() + parts.formatText.size() + 1;
    if (textBytes > 0x10000) return nullptr;
    size_t headerBytes = sizeof(FilterList) + slots * sizeof(FilterEntry);
    HGLOBAL block = Sys.globalAlloc(GPTR, headerBytes + textBytes);
    if (!block) return nullptr;

    FilterList *list = static_cast<FilterList *>(block);
    memcpy(list->magic, FilterMagic, sizeof FilterMagic);
    list->count = (LONG)parts.entries.size();
    list->entries = reinterpret_cast<FilterEntry *>(list + 1);
    list->text = reinterpret_cast<char *>(list->entries + slots);
    WORD shift = (WORD)parts.allFormats.size();
    for (size_t i = 0; i < parts.entries.size(); i++) {
        FilterEntry entry = parts.entries[i];
        if (parts.inFormatText[i]) {
            entry.nameOffset += shift;
            entry.patternOffset += shift;
        }
        list->entries[i] = entry;
    }
    memcpy(list->text, parts.allFormats.data(), parts.allFormats.size());
    memcpy(list->text + shift, parts.formatText.data(), parts.formatText.size());
    return block;
}

/* FILTER_BUILD: every format the selection takes, between the special entries it asks
   for. */
HGLOBAL BuildFilterList(DWORD selection)
{
    int formats = FormatsDiscovered() ? Formats->count : 0;
    bool allFormats = selection & FILTER_ALL_FORMATS;
    FilterParts parts;
    if (allFormats) {
        parts.entries.push_back(FilterEntry{});
        parts.inFormatText.push_back(false);
    }
    for (int format = 1; format <= formats; format++)
        AddFormat(parts, format, selection, format == formats);
    if (selection & FILTER_ALL_FILES) AddAllFiles(parts, selection);
    if (allFormats) {
        std::string label = LoadResourceText(AllFormatsLabelString, 24);
        BringPatternsForward(parts.allPattern);
        parts.entries[0].patternOffset = (WORD)(label.size() + 1);
        parts.allFormats = label + '\0' + parts.allPattern + '\0';
    }
    /* One slot a format of the table and one a special entry asked for, used or not. */
    size_t slots = (size_t)formats + (allFormats ? 1 : 0) + (selection & FILTER_ALL_FILES ? 1 : 0);
    return AssembleFilterList(parts, slots);
}

FilterList *CheckedList(HGLOBAL handle)
{
    FilterList *list = static_cast<FilterList *>(handle);
    if (!list || memcmp(list->magic, FilterMagic, sizeof FilterMagic) != 0) return nullptr;
    return list;
}

/* Actions 5 to 8 on entry index. */
INT_PTR EntryAction(const FilterList *list, int action, DWORD index)
{
    if (index >= (DWORD)list->count) return 0;
    const FilterEntry &entry = list->entries[index];
    switch (action) {
    case FILTER_FORMAT: return entry.format;
    case FILTER_PATTERN: return reinterpret_cast<INT_PTR>(list->text + entry.patternOffset);
    case FILTER_NAME: return reinterpret_cast<INT_PTR>(list->text + entry.nameOffset);
    default: return entry.optionFlags;
    }
}
}

/******************************************************************
 *      BringPatternsForward
 *
 * Moves "*.BMP", "*.GIF", "*.JPG", "*.PNG", "*.TIF" and "*.QFO", in this order, to the
 * front of the part of the all-formats pattern not yet taken: a pattern found further on
 * moves to the front of that part, which then begins after it; a pattern found at its
 * front, or not found, changes nothing. Only whole patterns (between ';') count, so a
 * pattern at the very end moves too and the text keeps its form.
 */
void BringPatternsForward(std::string &allPattern)
{
    std::vector<std::string> patterns = SplitPatterns(allPattern);
    size_t start = 0;
    for (const char *leading : LeadingPatterns) {
        size_t at = start;
        while (at < patterns.size() && patterns[at] != leading) at++;
        if (at == patterns.size() || at == start) continue;
        std::string moved = patterns[at];
        patterns.erase(patterns.begin() + at);
        patterns.insert(patterns.begin() + start, moved);
        start++;
    }
    std::string joined;
    for (size_t i = 0; i < patterns.size(); i++) joined += (i ? ";" : "") + patterns[i];
    allPattern = joined;
}

/******************************************************************
 *      FilterAction  (exported)
 *
 * FILTER_BUILD makes a new filter list (NULL when memory runs out); the other actions
 * free or query one (see q32file.h).
 */
extern "C" INT_PTR Q32FILEAPI FilterAction(HGLOBAL handle, int action, DWORD argument)
{
    if (action == FILTER_BUILD)
        return ExceptionFree<INT_PTR>(0, UnitFilters.At(243), [&] {
            return reinterpret_cast<INT_PTR>(BuildFilterList(argument));
        });
    FilterList *list = CheckedList(handle);
    if (!list) return 0;
    switch (action) {
    case FILTER_FREE:
        memset(list->magic, 0, sizeof list->magic);
        GlobalFree(handle);
        return 1;
    case FILTER_TEXT: return reinterpret_cast<INT_PTR>(list->text);
    case FILTER_COUNT: return list->count;
    case FILTER_FORMAT:
    case FILTER_PATTERN:
    case FILTER_NAME:
    case FILTER_OPTIONS: return EntryAction(list, action, argument);
    case FILTER_INDEX_OF:
        for (LONG i = 0; i < list->count; i++)
            if (list->entries[i].format == argument) return i;
        return 0;
    default: return 0;
    }
}

/******************************************************************
 *      FreeCachedFilterLists
 */
void FreeCachedFilterLists()
{
    for (HGLOBAL &list : CachedFilterLists) {
        if (list) FilterAction(list, FILTER_FREE, 0);
        list = nullptr;
    }
}
