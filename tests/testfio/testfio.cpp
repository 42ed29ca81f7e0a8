/*
 * testfio: a format plug-in for the tests and benchmarks whose declarations are set per
 * copy: NAME.fio reads NAME.ini beside it (by its long name) when loaded. Keys, defaults:
 *
 * [plugin] Formats=1 (qfDLLGetFileFmtNum's answer), LoadLog= (a load appends the copy's
 *   name), CallLog= (+10, +12, +15, +16, +17 append a line).
 * [formatJ], J = 0..3: Code=TFJ Description="Test format J" Flags=1 TypeMask=1 (low half
 *   typeCaps, high half typeMaskHigh) Flags2=0 OpenOptions=0 SaveOptions=0 WritesVector=0
 *   RuntimeValue=0 Signature1= Signature2= (hex, at most 4 bytes) InfoNull=0 (+11 answers
 *   NULL) Unterminated=0 (code and description fill their fields). FileData=0: +12 answers
 *   accept (a new FileData), a number (after recording FileDataError, when set), or a
 *   faulty block: garbage, small (16 bytes), freed.
 * The accepted file's image: Width=8 Height=6 Bits=24 DataType=2 Palette=0 (grey ramp)
 *   EmptyPalette=0 Readable=1 VectorPresent=0 VectorWidth=0 VectorHeight=0 SizeMode=0
 *   ResolutionX=0 ResolutionY=0. +16 delivers it by Read=rows | blocks (Block=3 rows) |
 *   parts (Part=5 pixels) | fill (FillValue=0x112233) | outside (beyond the image too) |
 *   none, answering ReadResult=1; FailAfter=N rows: 4020 recorded, 0 answered. Pixels are
 *   TestPixelByte/TestPixelBit (16-bit samples: 0x5A low), or all Pixel=0xAABBGGRR.
 *   +17 pulls every row and writes it raw (Write=none: nothing), answering WriteResult=1;
 *   WriteFailAfter=N rows: 4020 recorded, 0 answered.
 * TESTFIO_ERROR changes what failures record: "ID", "ID:TEXT", "ID:" (null text) or
 * "none". Other entries answer TESTFIO_ANSWER(J, offset): a test sees which it reached.
 */
#include <windows.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <vector>
#include "q32fio.h"
#include "q32comm.h"
#include "testfio.h"

namespace {

/* One section of the ini file, read whole: "key=value" lines. */
class Section {
public:
    void Read(const char *ini, const char *name)
    {
        DWORD n = GetPrivateProfileSectionA(name, lines_, sizeof lines_, ini);
        lines_[n] = 0;
    }
    const char *Text(const char *key, const char *fallback) const
    {
        size_t length = strlen(key);
        for (const char *line = lines_; *line; line += strlen(line) + 1)
            if (!_strnicmp(line, key, length) && line[length] == '=') return line + length + 1;
        return fallback;
    }
    long Number(const char *key, long fallback) const
    {
        const char *value = Text(key, "");
        if (!*value) return fallback;
        return (long)(unsigned long)strtoll(value, nullptr, 0); /* "-1" and "0xFFFFFFFF" alike */
    }
    bool Is(const char *key, const char *fallback, const char *value) const
    {
        return !lstrcmpiA(Text(key, fallback), value);
    }

private:
    char lines_[4096] = "";
};

int FormatCount = 1;
Section Keys[TESTFIO_FORMATS];
char OwnName[MAX_PATH];
char CallLog[MAX_PATH];

/* "424D" -> bytes; answers how many (at most 4). */
uint8_t Signature(const char *hex, uint8_t (&bytes)[4])
{
    uint8_t n = 0;
    for (const char *p = hex; p[0] && p[1] && n < 4; p += 2) {
        char pair[3] = {p[0], p[1], 0};
        bytes[n++] = (uint8_t)strtoul(pair, nullptr, 16);
    }
    return n;
}

void CopyField(char *field, size_t size, const char *value)
{
    size_t n = strlen(value) < size ? strlen(value) : size - 1;
    memcpy(field, value, n);
    field[n] = 0;
}

HGLOBAL FormatInfoBlock(int j)
{
    const Section &keys = Keys[j];
    HGLOBAL block = keys.Number("InfoNull", 0) ? nullptr : GlobalAlloc(GHND, sizeof(FormatInfo));
    FormatInfo *data = block ? static_cast<FormatInfo *>(GlobalLock(block)) : nullptr;
    if (!data) return block;
    FormatInfo &info = *data;
    char fallback[64];
    wsprintfA(fallback, "TF%d", j);
    CopyField(info.code, sizeof info.code, keys.Text("Code", fallback));
    wsprintfA(fallback, "Test format %d", j);
    CopyField(info.description, sizeof info.description, keys.Text("Description", fallback));
    if (keys.Number("Unterminated", 0)) {
        memset(info.code, 'Q', sizeof info.code);
        memset(info.description, 'D', sizeof info.description);
    }
    info.flags = (uint16_t)keys.Number("Flags", 1);
    DWORD mask = (DWORD)keys.Number("TypeMask", 1);
    info.typeCaps = LOWORD(mask);
    info.typeMaskHigh = HIWORD(mask);
    info.flags2 = (uint16_t)keys.Number("Flags2", 0);
    info.openOptions = (uint32_t)keys.Number("OpenOptions", 0);
    info.saveOptions = (uint32_t)keys.Number("SaveOptions", 0);
    info.writesVector = (uint32_t)keys.Number("WritesVector", 0);
    info.vectorType = -1;
    info.runtimeValue = (uint32_t)keys.Number("RuntimeValue", 0);
    info.signatureLength1 = Signature(keys.Text("Signature1", ""), info.signature1);
    info.signatureLength2 = Signature(keys.Text("Signature2", ""), info.signature2);
    GlobalUnlock(block);
    return block;
}

/* Appends "NAME line" (or the copy's name alone) to a log file. */
void AppendLine(const char *log, const char *line)
{
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char text[MAX_PATH + 128];
    int n = wsprintfA(text, *line ? "%s %s\r\n" : "%s%s\r\n", OwnName, line);
    DWORD written;
    WriteFile(file, text, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

/* Appends the formatted line to the call log, when there is one. */
void LogCall(const char *format, ...)
{
    char line[MAX_PATH + 64];
    va_list args;
    va_start(args, format);
    wvsprintfA(line, format, args);
    va_end(args);
    if (CallLog[0]) AppendLine(CallLog, line);
}

/* NAME.fio -> NAME.ini beside it, by the copy's long name (it may be loaded by its
   short one). */
void LoadConfig(HINSTANCE self)
{
    char loaded[MAX_PATH], ini[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, loaded, sizeof loaded);
    if (n == 0 || n >= sizeof loaded) return;
    n = GetLongPathNameA(loaded, ini, sizeof ini);
    if (n == 0 || n >= sizeof ini) strcpy(ini, loaded);
    const char *name = strrchr(ini, '\\');
    strcpy(OwnName, name ? name + 1 : ini);
    char *dot = strrchr(ini, '.');
    if (!dot || strlen(ini) + 4 >= sizeof ini) return;
    strcpy(dot, ".ini");

    Section plugin;
    plugin.Read(ini, "plugin");
    FormatCount = (int)plugin.Number("Formats", 1);
    for (int j = 0; j < TESTFIO_FORMATS && j < FormatCount; j++) {
        char name[16];
        wsprintfA(name, "format%d", j);
        Keys[j].Read(ini, name);
    }
    CopyField(CallLog, sizeof CallLog, plugin.Text("CallLog", ""));
    const char *log = plugin.Text("LoadLog", "");
    if (*log) AppendLine(log, "");
}

HPALETTE GreyRamp(int entries, bool empty)
{
    if (empty) entries = 0;
    else if (entries <= 0 || entries > 0xFFFF) return nullptr;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + entries * sizeof(PALETTEENTRY));
    LOGPALETTE *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = (WORD)entries;
    for (int i = 0; i < entries; i++) {
        BYTE v = (BYTE)(entries > 1 ? (LONGLONG)i * 255 / (entries - 1) : 0);
        logical->palPalEntry[i] = {v, v, v, 0};
    }
    return CreatePalette(logical);
}

/* Records a failure of entry: id and text, or what TESTFIO_ERROR says instead. */
void RecordFailure(UINT id, const char *text, int entry)
{
    char value[512];
    DWORD n = GetEnvironmentVariableA("TESTFIO_ERROR", value, sizeof value);
    if (n && n < sizeof value) {
        if (!lstrcmpiA(value, "none")) return;
        const char *colon = strchr(value, ':');
        id = (UINT)strtoul(value, nullptr, 10);
        if (colon) text = colon[1] ? colon + 1 : nullptr;
    }
    c32SetDLLErrInfo(text, id, 0, 1799, entry, 1);
}

INT_PTR FileDataAnswer(int j, const char *name)
{
    const Section &keys = Keys[j];
    LogCall("getfiledata %d %s", j, name ? name : "");
    const char *answer = keys.Text("FileData", "0");
    if (!lstrcmpiA(answer, "garbage")) return (INT_PTR)0x5EADBEE0;
    if (!lstrcmpiA(answer, "small")) return (INT_PTR)GlobalAlloc(GHND, 16);
    if (!lstrcmpiA(answer, "freed")) {
        HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
        GlobalFree(block);
        return (INT_PTR)block;
    }
    if (lstrcmpiA(answer, "accept")) {
        if (UINT error = (UINT)keys.Number("FileDataError", 0))
            RecordFailure(error, "the test plug-in fails", 12);
        return strtol(answer, nullptr, 0);
    }

    HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
    FileData *data = block ? static_cast<FileData *>(GlobalLock(block)) : nullptr;
    if (!data) return 0;
    data->readable = (DWORD)keys.Number("Readable", 1);
    data->raster.bitsPerPixel = data->vector.bitsPerPixel = (DWORD)keys.Number("Bits", 24);
    data->raster.width = keys.Number("Width", 8);
    data->raster.height = keys.Number("Height", 6);
    data->raster.dataType = data->vector.dataType = (DWORD)keys.Number("DataType", 2);
    data->raster.palette = GreyRamp((int)keys.Number("Palette", 0), keys.Number("EmptyPalette", 0));
    data->raster.resolutionX = (DWORD)keys.Number("ResolutionX", 0);
    data->raster.resolutionY = (DWORD)keys.Number("ResolutionY", 0);
    data->vectorPresent = (DWORD)keys.Number("VectorPresent", 0);
    data->vector.width = keys.Number("VectorWidth", 0);
    data->vector.height = keys.Number("VectorHeight", 0);
    data->sizeMode = (WORD)keys.Number("SizeMode", 0);
    GlobalUnlock(block);
    return reinterpret_cast<INT_PTR>(block);
}

/* The test image, one row of count pixels from x in the row protocol's layout. */
void TestRow(const Section &keys, LONG x, LONG y, LONG count, BYTE *row)
{
    DWORD type = (DWORD)keys.Number("DataType", 2), bits = (DWORD)keys.Number("Bits", 24);
    if (type == Q32_TYPE_BILEVEL) {
        memset(row, 0, ((size_t)count + 7) / 8);
        for (LONG i = 0; i < count; i++)
            if (TestPixelBit(x + i, y)) row[i / 8] |= (BYTE)(0x80 >> (i % 8));
        return;
    }
    bool wide = type == Q32_TYPE_RGB48 || type == Q32_TYPE_GREY16 || type == Q32_TYPE_BGRA64;
    bool constant = *keys.Text("Pixel", "") != 0;
    DWORD pixel = (DWORD)keys.Number("Pixel", 0);
    LONG pixelBytes = (LONG)((bits + 7) / 8);
    LONG samples = wide ? pixelBytes / 2 : pixelBytes;
    for (LONG i = 0; i < count; i++)
        for (LONG s = 0; s < samples; s++) {
            BYTE value = constant ? (BYTE)(s < 4 ? pixel >> (8 * s) : 0)
                                  : TestPixelByte(x + i, y, s);
            if (wide) {
                row[(size_t)i * pixelBytes + 2 * s] = 0x5A;
                row[(size_t)i * pixelBytes + 2 * s + 1] = value;
            } else {
                row[(size_t)i * pixelBytes + s] = value;
            }
        }
}

/* Delivers rows y .. y + rows - 1, pixels x .. x + count - 1; false when told to stop. */
bool Deliver(const Section &keys, ImageRequest *request, RowCallback callback, LONG x, LONG y,
             LONG count, LONG rows)
{
    size_t bytes = Q32_ROW_BYTES((DWORD)keys.Number("DataType", 2), (DWORD)keys.Number("Bits", 24),
                                 count > 0 ? count : 1);
    std::vector<std::vector<BYTE>> buffers(rows, std::vector<BYTE>(bytes));
    std::vector<BYTE *> list(rows);
    for (LONG i = 0; i < rows; i++) {
        TestRow(keys, x, y + i, count, buffers[i].data());
        list[i] = buffers[i].data();
    }
    return callback(request, x, y, count, rows, list.data(), 0, 0, 0) != 0;
}

INT_PTR ReadImage(int j, ImageRequest *request, RowCallback callback)
{
    const Section &keys = Keys[j];
    LogCall("read %d %ld %ld %ld %ld", j, request ? request->rasterWidth : 0,
            request ? request->rasterHeight : 0, request ? request->vectorWidth : 0,
            request ? request->vectorHeight : 0);
    if (!request || !callback) return TESTFIO_ANSWER(j, 16); /* reached, nothing to read */
    INT_PTR result = keys.Number("ReadResult", 1);
    if (keys.Is("Read", "rows", "none")) return result;

    const LONG W = keys.Number("Width", 8), H = keys.Number("Height", 6);
    auto deliver = [&](LONG x, LONG y, LONG count, LONG rows) {
        return Deliver(keys, request, callback, x, y, count, rows);
    };
    if (keys.Is("Read", "rows", "fill")) {
        DWORD value = (DWORD)keys.Number("FillValue", 0x112233);
        return callback(request, 0, 0, W, 0, &value, Q32_ROW_FILL, 0, 0) ? result : 0;
    }
    if (keys.Is("Read", "rows", "outside")) {
        /* Rows above and below, parts beyond the right edge, more pixels than a row has. */
        if (!deliver(0, -2, W, 2)) return Q32_READ_STOPPED;
        for (LONG y = 0; y < H; y++)
            if (!deliver(0, y, W, 1) || !deliver(W > 8 ? W - 8 : 0, y, 3 * W + 16, 1))
                return Q32_READ_STOPPED;
        if (!deliver(0, H, W, 3) || !deliver(W + 40, 0, 8, 1)) return Q32_READ_STOPPED;
        return result;
    }
    int failAfter = (int)keys.Number("FailAfter", -1), delivered = 0;
    auto failed = [&] {
        if (failAfter < 0 || delivered < failAfter) return false;
        RecordFailure(4020, "the test image breaks off", 16);
        return true;
    };
    long block = keys.Number("Block", 3), part = keys.Number("Part", 5);
    LONG step = keys.Is("Read", "rows", "blocks") ? (block > 0 ? block : 1) : 1;
    bool parts = keys.Is("Read", "rows", "parts");
    if (keys.Number("DataType", 2) == Q32_TYPE_BILEVEL) part = 8;
    if (part < 1) part = 1;
    for (LONG y = 0; y < H; y += step) {
        if (failed()) return 0;
        LONG rows = H - y < step ? H - y : step;
        if (!parts && !deliver(0, y, W, rows)) return Q32_READ_STOPPED;
        for (LONG x = 0; parts && x < W; x += part)
            if (!deliver(x, y, W - x < part ? W - x : part, rows)) return Q32_READ_STOPPED;
        delivered += rows;
    }
    return failed() ? 0 : result;
}

/* Pulls every row, top first, and writes them raw to the file (or to the FileData's
   name when the module passes no handle). */
int WriteImage(int j, HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    const Section &keys = Keys[j];
    if (!request || !callback || !fileData) return TESTFIO_ANSWER(j, 17);
    FileData facts;
    {
        FileData *data = static_cast<FileData *>(GlobalLock(fileData));
        if (!data) return 0;
        facts = *data;
        GlobalUnlock(fileData);
    }
    LogCall("write %d %s", j, facts.name);
    bool own = !file;
    if (own) file = CreateFileA(facts.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || !file) return 0;

    int result = (int)keys.Number("WriteResult", 1);
    int failAfter = (int)keys.Number("WriteFailAfter", -1);
    LONG W = request->rasterWidth, H = keys.Is("Write", "rows", "none") ? 0 : request->rasterHeight;
    const ImageDescription &raster = facts.raster;
    std::vector<BYTE> row(Q32_ROW_BYTES(raster.dataType, raster.bitsPerPixel, W > 0 ? W : 1));
    BYTE *list[1] = {row.data()};
    for (LONG y = 0; y < H; y++) {
        if (failAfter >= 0 && y >= failAfter) {
            RecordFailure(4020, "the test write breaks off", 17);
            result = 0;
            break;
        }
        LONG x = request->rasterX;
        if (!callback(request, x, request->rasterY + y, W, 1, list, Q32_ROW_PULL, 0, 0)) {
            result = Q32_WRITE_STOPPED;
            break;
        }
        DWORD written;
        WriteFile(file, row.data(), (DWORD)row.size(), &written, nullptr);
    }
    if (own) CloseHandle(file);
    return result;
}

/* The save-option dialog: logs the format number the FileData carries. */
INT_PTR SaveOption(int j, HGLOBAL fileData)
{
    LONG format = 0;
    if (const FileData *data = fileData ? (const FileData *)GlobalLock(fileData) : nullptr) {
        format = data->formatNumber;
        GlobalUnlock(fileData);
    }
    LogCall("saveoption %d %ld", j, (long)format);
    return TESTFIO_ANSWER(j, 15);
}

INT_PTR Command(int j, HGLOBAL, int command, LPARAM a, LPARAM b, LPARAM index)
{
    LogCall("command %d %d %ld %ld %ld", j, command, (long)a, (long)b, (long)index);
    return TESTFIO_ANSWER(j, 10);
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) LoadConfig(instance);
    return TRUE;
}

#ifdef TESTFIO_NEEDS_LIBRARY
/* The tfneeds build imports this from tfdep.dll, which is never staged beside it. */
extern "C" __declspec(dllimport) int tfdep_present(void);
extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return tfdep_present() ? FormatCount : 0; }
#else
extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return FormatCount; }
#endif

/* An entry +K of format J of the SDK's type that answers TESTFIO_ANSWER(J, K). */
#define TESTFIO_PLAIN(J, K, R, ...) \
    extern "C" R WINAPI TfEntry##J##_##K(__VA_ARGS__) { return (R)TESTFIO_ANSWER(J, K); }

/* The sixteen entries +10 .. +25 of format J. */
#define TESTFIO_FORMAT(J)                                                                    \
    extern "C" INT_PTR WINAPI TfEntry##J##_10(HGLOBAL f, int c, LPARAM a, LPARAM b, LPARAM i) \
    { return Command(J, f, c, a, b, i); }                                                     \
    extern "C" HGLOBAL WINAPI TfEntry##J##_11(void) { return FormatInfoBlock(J); }           \
    extern "C" INT_PTR WINAPI TfEntry##J##_12(HANDLE, const char *n, DWORD, const char *)     \
    { return FileDataAnswer(J, n); }                                                          \
    extern "C" INT_PTR WINAPI TfEntry##J##_15(LPARAM, LPARAM, HGLOBAL f, const char *, LPARAM) \
    { return SaveOption(J, f); }                                                              \
    extern "C" INT_PTR WINAPI TfEntry##J##_16(HANDLE, const char *, HGLOBAL, ImageRequest *r, \
                                              RowCallback c, DWORD)                           \
    { return ReadImage(J, r, c); }                                                            \
    extern "C" int WINAPI TfEntry##J##_17(HANDLE h, HGLOBAL f, ImageRequest *r, RowCallback c) \
    { return WriteImage(J, h, f, r, c); }                                                     \
    TESTFIO_PLAIN(J, 13, INT_PTR, LPARAM, LPARAM, LPARAM)                                     \
    TESTFIO_PLAIN(J, 14, INT_PTR, LPARAM, LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM)            \
    TESTFIO_PLAIN(J, 18, INT_PTR, LPARAM, LPARAM, LPARAM, const char *, LPARAM)               \
    TESTFIO_PLAIN(J, 19, INT_PTR, HANDLE, const char *, HGLOBAL, LPARAM, LPARAM, DWORD, LPARAM) \
    TESTFIO_PLAIN(J, 20, int, HANDLE, HGLOBAL, LPARAM, LPARAM, LPARAM)                        \
    TESTFIO_PLAIN(J, 21, INT_PTR, void)                                                       \
    TESTFIO_PLAIN(J, 22, INT_PTR, HANDLE, HGLOBAL)                                            \
    TESTFIO_PLAIN(J, 23, INT_PTR, HGLOBAL, HGLOBAL *)                                         \
    TESTFIO_PLAIN(J, 24, INT_PTR, void)                                                       \
    TESTFIO_PLAIN(J, 25, INT_PTR, LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM)

TESTFIO_FORMAT(0)
TESTFIO_FORMAT(1)
TESTFIO_FORMAT(2)
TESTFIO_FORMAT(3)
static_assert(TESTFIO_FORMATS == 4, "one TESTFIO_FORMAT line a format");
