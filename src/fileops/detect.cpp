/* Format detection: which plug-in recognises a file, and the FileData it describes. */
#include "fileops.h"
#include <mbstring.h>
#include <stdlib.h>
#include <string.h>
#include <memory>

namespace {

enum Pass { PassProbe = 0, PassHint = 1, PassExtension = 2, PassSignature = 3 };

/* The key passes look a key up; passes 3 and 0 walk the table. The tried flags make
   sure no format is asked twice in one detection. */
struct Detection {
    const char *name;
    BYTE head[4];
    int *tried = nullptr;   /* one flag per format, calloc'd */
    int count;
    INT_PTR result = 0;
    int found = 0;      /* format number of a success */
    bool stop = false;  /* a plug-in answered -2 */
};

bool IsKeyPass(int pass) { return pass == PassHint || pass == PassExtension; }

/* Asks format number; true when detection is over (success or -2). */
bool Ask(Detection &d, int number, int pass)
{
    FormatRecord &record = Record(number);
    INT_PTR answer = CallGetFileData(d.name, number, record);
    d.tried[number - 1] = 1;

    if (answer == -1) {
        RerecordPluginError(UnitFileOps.At(IsKeyPass(pass) ? 423 : 522), d.name);
        return false;
    }
    if (answer == -2) {
        RecordError(ResourceModule, UnitFileOps.At(IsKeyPass(pass) ? 428 : 527), TextVariantRefused);
        d.stop = true;
        return true;
    }
    if (answer == 0) return false;

    /* A FileData we cannot lock, or one smaller than a FileData, is not used. */
    HGLOBAL block = (HGLOBAL)answer;
    SIZE_T size = GlobalSize(block);
    if (size < sizeof(FileData)) {
        if (size) GlobalFree(block);
        RecordError(nullptr, OpGetFileData.At(3), ErrCannot);
        return false;
    }
    d.result = answer;
    d.found = number;
    return true;
}

bool Takes(const FormatRecord &record) { return record.info.flags != 0; }

/* The first untried format that the key names (code, extension list or user list) is
   asked; true when detection is over. */
bool KeyPass(Detection &d, const char *key, int pass)
{
    for (int n = 1; n <= d.count; n++) {
        const FormatRecord &record = Record(n);
        if (d.tried[n - 1] || !Takes(record)) continue;
        bool match = !_mbsicmp((const unsigned char *)key, (const unsigned char *)record.info.code) ||
                     (record.extensions[0] && strstr(record.extensions, key)) ||
                     (record.userExtensions[0] && strstr(record.userExtensions, key));
        if (match) return Ask(d, n, pass);
    }
    return false;
}

bool SignatureMatches(const BYTE *signature, BYTE length, const BYTE head[4])
{
    return memcmp(signature, head, length) == 0;
}

/* Pass 3 asks the formats whose signature matches the file's first bytes; pass 0 every
   format still untried. */
bool TablePass(Detection &d, int pass)
{
    for (int n = 1; n <= d.count; n++) {
        const FormatRecord &record = Record(n);
        if (d.tried[n - 1] || !Takes(record)) continue;
        if (pass == PassProbe) {
            if (Ask(d, n, pass)) return true;
            continue;
        }
        const FormatInfo &info = record.info;
        BYTE length1 = info.signatureLength1 > 4 ? 4 : info.signatureLength1;
        BYTE length2 = info.signatureLength2 > 4 ? 4 : info.signatureLength2;
        /* Either signature may match; a format is asked once at most. */
        bool asked = false;
        if (length1) {
            if (SignatureMatches(info.signature1, length1, d.head)) {
                asked = true;
                if (Ask(d, n, pass)) return true;
            } else {
                d.tried[n - 1] = 1;
            }
        }
        if (length2 && !asked) {
            if (SignatureMatches(info.signature2, length2, d.head)) {
                if (Ask(d, n, pass)) return true;
            } else {
                d.tried[n - 1] = 1;
            }
        }
    }
    return false;
}

/* The FileData of an empty name: format 1, 24 bits per pixel, 24-bit RGB. */
HGLOBAL EmptyFileData()
{
    HGLOBAL block = Sys.globalAlloc(GHND, sizeof(FileData));
    if (!block) {
        RecordError(nullptr, OpGetFileData.At(1), ErrNoMemory);
        return nullptr;
    }
    q32::Locked<FileData> data(block);
    if (!data) {
        GlobalFree(block);
        RecordError(nullptr, UnitFileOps.At(295), ErrNoMemory);
        return nullptr;
    }
    data->formatNumber = 1;
    data->raster.bitsPerPixel = 24;
    data->raster.dataType = Q32_TYPE_RGB;
    return block;
}

/* Reads the first four bytes; false (error recorded) when the file cannot be opened or
   is shorter than that. */
bool ReadHead(const char *name, BYTE head[4])
{
    q32::FileHandle file(OpenForRead(name));
    if (!file) {
        UINT id = GetLastError() == ERROR_SHARING_VIOLATION ? ErrInUse : ErrFileNotOpened;
        RecordError(nullptr, OpGetFileData.At(2), id, (ULONG_PTR)name);
        return false;
    }
    DWORD got = 0;
    if (GetFileSize(file.get(), nullptr) < 4 || !ReadFile(file.get(), head, 4, &got, nullptr) ||
        got < 4) {
        RecordError(nullptr, OpGetFileData.At(2), ErrNotImage, (ULONG_PTR)name);
        return false;
    }
    return true;
}

/* Stamps the format number, the name and the file size into the plug-in's FileData. */
void StampFileData(HGLOBAL block, int number, const char *name)
{
    q32::Locked<FileData> data(block);
    if (!data) return;
    data->formatNumber = number;
    CopyText(data->name, sizeof data->name, name);
    q32::FileHandle file(OpenForRead(name));
    if (file) data->fileSize = SetFilePointer(file.get(), 0, nullptr, FILE_END);
}

} // namespace

HANDLE OpenForRead(const char *name)
{
    return Sys.createFile(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

size_t FindExtensionStart(const char *name)
{
    const unsigned char *dot = _mbsrchr((const unsigned char *)name, '.');
    return dot ? (size_t)(dot - (const unsigned char *)name) + 1 : 0;
}

bool IsRiffPalette(const char *name)
{
    q32::FileHandle file(OpenForRead(name));
    if (!file) return false;
    BYTE head[20] = {};
    DWORD got = 0;
    ReadFile(file.get(), head, sizeof head, &got, nullptr);
    return got >= 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "PAL ", 4);
}

bool IsVideoStream(const char *name)
{
    q32::FileHandle file(OpenForRead(name));
    if (!file) return false;
    BYTE b[20480] = {};
    DWORD got = 0;
    ReadFile(file.get(), b, sizeof b, &got, nullptr);
    if (b[0] != 0)
        return got >= 15 && !memcmp(b, "RIFF", 4) && !memcmp(b + 8, "CDXAfmt", 7);
    if (got >= 4 && b[1] == 0x00 && b[2] == 0x01 && b[3] == 0xBA) return true;
    static const BYTE sequenceHeader[4] = {0x00, 0x00, 0x01, 0xB3};
    for (DWORD i = 0; i < 15000 && i + 4 <= got; i++)
        if (!memcmp(b + i, sequenceHeader, 4)) return true;
    return false;
}

INT_PTR CallGetFileData(const char *fileName, int number, FormatRecord &record)
{
    if (!BindPlugin(number)) return 0;
    auto entry = (PFN_qfDLLGetFileData)FindEntry(number, QF_ENTRY_GETFILEDATA);
    if (!entry) {
        RecordError(nullptr, UnitFileOps.At(211), ErrNoMemory);
        return 0;
    }
    if (record.info.flags & FI_OPENS_FILE)
        return entry(nullptr, fileName, record.info.runtimeValue, SuiteIniPath);

    q32::FileHandle file(OpenForRead(fileName));
    if (file) SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    return entry(file ? file.get() : nullptr, fileName, record.info.runtimeValue, SuiteIniPath);
}

void RerecordPluginError(ErrorSite site, const char *name)
{
    UINT id = ReadErrorRecord().id;
    if (id == ErrDamaged || id == ErrVariant) RecordError(nullptr, site, id, (ULONG_PTR)name);
    else NameInPluginError(name);
}

void NameInPluginError(const char *name)
{
    ErrorRecord record = ReadErrorRecord();
    const char *text = record.text;
    if (!strstr(text, "%s")) return;
    /* Copied by hand: the plug-in's text is no format to trust with wsprintf. */
    char filled[C32_ERRTEXT_SIZE];
    size_t at = 0;
    const size_t room = sizeof filled - 1;
    for (const char *p = text; *p && at < room;) {
        if (p[0] == '%' && p[1] == 's') {
            for (const char *n = name ? name : ""; *n && at < room;) filled[at++] = *n++;
            p += 2;
        } else {
            filled[at++] = *p++;
        }
    }
    filled[at] = 0;
    CopyText(record.text, sizeof record.text, filled);
    RestoreErrorRecord(record);
}

/******************************************************************
 *      qfFileGetFileData  (exported)
 *
 * Detects the format of fileName and returns the recognising plug-in's FileData, with
 * the format number, the name and the file size stamped in; 0 on failure. formatHint
 * (null, or a writable buffer of at least 8 bytes) names a format or extension to try
 * first and receives the detected format's code.
 */
extern "C" HGLOBAL Q32FILEAPI qfFileGetFileData(const char *fileName, char *formatHint)
{
    if (!FormatsDiscovered()) return nullptr;
    if (!fileName || !*fileName) return EmptyFileData();
    if (strlen(fileName) >= Q32_MAX_NAME) {
        RecordError(nullptr, OpGetFileData.At(1), ErrCannot);
        return nullptr;
    }
    char name[Q32_MAX_NAME];
    CopyText(name, sizeof name, fileName);

    Detection d{};
    d.name = name;
    if (!ReadHead(name, d.head)) return nullptr;
    d.count = Formats->count;
    d.tried = static_cast<int *>(calloc(d.count, sizeof(int)));
    if (!d.tried) {
        RecordError(nullptr, OpGetFileData.At(1), ErrNoMemory);
        return nullptr;
    }
    q32::ScopeExit freeFlags([&] { free(d.tried); });

    char hintKey[8] = "";
    bool over = false;
    if (formatHint && *formatHint) {
        CopyText(hintKey, sizeof hintKey, formatHint);
        CharUpperA(hintKey);
        over = KeyPass(d, hintKey, PassHint);
    }
    if (!over) {
        size_t start = FindExtensionStart(name);
        if (start != strlen(name)) {
            char key[8];
            CopyText(key, sizeof key, name + start);
            CharUpperA(key);
            qfdRemoveBlanks(key);
            if (!(hintKey[0] && !strcmp(key, hintKey))) over = KeyPass(d, key, PassExtension);
        }
    }
    if (!over && (IsRiffPalette(name) || IsVideoStream(name))) {
        RecordError(nullptr, OpGetFileData.At(2), ErrNotImage, (ULONG_PTR)name);
        return nullptr;
    }
    if (!over) over = TablePass(d, PassSignature) || TablePass(d, PassProbe);
    if (!d.found) return nullptr;

    if (formatHint) CopyText(formatHint, 4, Record(d.found).info.code);
    StampFileData((HGLOBAL)d.result, d.found, name);
    return (HGLOBAL)d.result;
}

/******************************************************************
 *      q32FileFreeFileData  (exported)
 *
 * Frees a FileData with its palettes and its property block. Null is ignored.
 */
extern "C" void Q32FILEAPI q32FileFreeFileData(HGLOBAL fileData)
{
    if (!fileData) return;
    HGLOBAL property = nullptr;
    {
        q32::Locked<FileData> data(fileData);
        if (data) {
            if (data->raster.palette) DeleteObject(data->raster.palette);
            if (data->vector.palette) DeleteObject(data->vector.palette);
            property = FileDataGetProperty(data.get());
        }
    }
    if (property) qfFileFreeProperty(fileData, property);
    GlobalFree(fileData);
}
