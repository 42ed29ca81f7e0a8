/*
 * testfio: a format plug-in whose declarations are set per copy of the DLL, for the tests
 * and benchmarks of q32File.
 *
 * A copy NAME.fio reads NAME.ini beside it (by its long name) when it is loaded:
 *
 *   [plugin]
 *   Formats=2              what qfDLLGetFileFmtNum answers (default 1; 0 or less allowed)
 *   LoadLog=C:\t\loads.log each load appends the copy's file name and a line break
 *   [format0]              one section a format, format0 .. format3
 *   Code=BMP               default TF0, TF1, ...
 *   Description=Bitmap     default "Test format 0", ...
 *   Flags=1                FormatInfo.flags (numbers may be written 0x...)
 *   TypeMask=0x10001       low half -> typeCaps, high half -> typeMaskHigh
 *   Flags2=0  OpenOptions=0  SaveOptions=0  WritesVector=0  VectorType=-1
 *   RuntimeValue=0
 *   Signature1=424D        hex bytes, at most 4; Signature2 likewise
 *   InfoNull=1             qfDLLGetFormatInfo answers NULL
 *   FileData=accept        qfDLLGetFileData answers a new FileData block; or a number
 *                          (0: not mine, -1: failed, -2: cannot handle). Default 0.
 *                          Faulty answers: garbage (a value that is no memory handle),
 *                          small (a block of 16 bytes), freed (a block already freed)
 *   Unterminated=1         the code and the description fill their fields, no NUL
 *   FileDataError=0        with a numeric FileData answer: records this error first
 *   CallLog=C:\t\calls.log each call of +12, +15, +16, +17 and +10 appends a line, the
 *                          copy's name first
 *
 * The image an accepted file holds (FileData facts, and what +16 delivers):
 *   Width=8 Height=6 Bits=24 DataType=2 Palette=0 (grey ramp entries, up to 65535)
 *   EmptyPalette=1 (a palette of no entries instead) Readable=1
 *   VectorPresent=0 VectorWidth=0 VectorHeight=0 SizeMode=0
 *   ResolutionX=0 ResolutionY=0   dots per inch x 10000
 *   Read=rows              rows | blocks (Block=3 rows each) | parts (Part=5 pixels each)
 *                          | fill (FillValue=0x112233, then nothing) | outside (rows and
 *                          pixels beyond the image as well) | none
 *   FailAfter=-1           after that many rows: 4020 recorded, result 0
 *   ReadResult=1           the result of a read that delivered everything
 * Pixel bytes are TestPixelByte(x, y, sample) (16-bit samples: that byte high, 0x5A
 * low); one-bit pixels are set where (x + 2y) % 3 == 0.
 *   Pixel=0xFF1E140A       every pixel the same instead: sample s is byte s of the value
 *                          (at most four samples; 16-bit samples: the high byte)
 *   WriteResult=1          +17 pulls every row (top first) and writes them raw, then
 *   WriteFailAfter=-1      answers this; after that many rows: 4020 recorded, result 0
 *   Write=rows             rows | none (answers WriteResult having written nothing)
 *
 * The environment variable TESTFIO_ERROR changes what those failures record: "ID" that
 * identifier with the usual text, "ID:TEXT" with TEXT, "ID:" with a null text (the slot
 * then takes the common library's text), "none" nothing at all.
 *
 * Every other entry of format j (and +16, +17 called without a request or callback)
 * answers TESTFIO_ANSWER(j, offset), so a test can tell
 * which export it reached.
 */
#include <windows.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <type_traits>
#include <vector>
#include "q32fio.h"
#include "q32comm.h"
#include "testfio.h"

namespace {

/* The image of an accepted file. */
struct ImageConfig {
    LONG width, height;
    DWORD bits, type;
    int paletteEntries;
    DWORD readable, vectorPresent;
    DWORD resolutionX, resolutionY;
    LONG vectorWidth, vectorHeight;
    WORD sizeMode;
    char read[16];
    int block, part, failAfter;
    DWORD fillValue;
    bool constant;         /* Pixel= given: every pixel is pixel */
    DWORD pixel;
    INT_PTR readResult;
    int writeResult, writeFailAfter;
    bool writeNothing, emptyPalette;
};

struct FormatConfig {
    FormatInfo info;
    bool infoNull;
    bool fileDataAccept;
    char fileDataFault[8];
    INT_PTR fileDataAnswer;
    UINT fileDataError;
    ImageConfig image;
};

struct PluginConfig {
    int formats = 1;
    FormatConfig format[TESTFIO_FORMATS];
};

PluginConfig Config;
char OwnName[MAX_PATH];
char CallLog[MAX_PATH];

/* ---- Reading the copy's ini file ---- */

/* One section of the ini file, read whole: "key=value" lines. */
class Section {
public:
    Section(const char *ini, const char *name)
    {
        DWORD n = GetPrivateProfileSectionA(name, lines_, sizeof lines_, ini);
        lines_[n] = 0;
    }
    /* The value of key, or fallback. */
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

private:
    char lines_[4096];
};

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

void ReadFormat(const char *ini, int j, FormatConfig &format)
{
    char name[16], fallback[64];
    wsprintfA(name, "format%d", j);
    Section section(ini, name);
    FormatInfo &info = format.info;
    info = FormatInfo{};

    wsprintfA(fallback, "TF%d", j);
    CopyField(info.code, sizeof info.code, section.Text("Code", fallback));
    wsprintfA(fallback, "Test format %d", j);
    CopyField(info.description, sizeof info.description, section.Text("Description", fallback));
    info.flags = (uint16_t)section.Number("Flags", 1);
    DWORD mask = (DWORD)section.Number("TypeMask", 1);
    info.typeCaps = LOWORD(mask);
    info.typeMaskHigh = HIWORD(mask);
    info.flags2 = (uint16_t)section.Number("Flags2", 0);
    info.openOptions = (uint32_t)section.Number("OpenOptions", 0);
    info.saveOptions = (uint32_t)section.Number("SaveOptions", 0);
    info.writesVector = (uint32_t)section.Number("WritesVector", 0);
    info.vectorType = (int32_t)section.Number("VectorType", -1);
    info.runtimeValue = (uint32_t)section.Number("RuntimeValue", 0);
    info.signatureLength1 = Signature(section.Text("Signature1", ""), info.signature1);
    info.signatureLength2 = Signature(section.Text("Signature2", ""), info.signature2);

    format.infoNull = section.Number("InfoNull", 0) != 0;
    const char *answer = section.Text("FileData", "0");
    format.fileDataAccept = lstrcmpiA(answer, "accept") == 0;
    format.fileDataAnswer = format.fileDataAccept ? 0 : strtol(answer, nullptr, 0);
    CopyField(format.fileDataFault, sizeof format.fileDataFault,
              isalpha((unsigned char)*answer) && !format.fileDataAccept ? answer : "");
    if (section.Number("Unterminated", 0)) {
        memset(info.code, 'Q', sizeof info.code);
        memset(info.description, 'D', sizeof info.description);
    }

    format.fileDataError = (UINT)section.Number("FileDataError", 0);

    ImageConfig &image = format.image;
    image.width = section.Number("Width", 8);
    image.height = section.Number("Height", 6);
    image.bits = (DWORD)section.Number("Bits", 24);
    image.type = (DWORD)section.Number("DataType", 2);
    image.paletteEntries = (int)section.Number("Palette", 0);
    image.readable = (DWORD)section.Number("Readable", 1);
    image.resolutionX = (DWORD)section.Number("ResolutionX", 0);
    image.resolutionY = (DWORD)section.Number("ResolutionY", 0);
    image.vectorPresent = (DWORD)section.Number("VectorPresent", 0);
    image.vectorWidth = section.Number("VectorWidth", 0);
    image.vectorHeight = section.Number("VectorHeight", 0);
    image.sizeMode = (WORD)section.Number("SizeMode", 0);
    CopyField(image.read, sizeof image.read, section.Text("Read", "rows"));
    image.block = (int)section.Number("Block", 3);
    image.part = (int)section.Number("Part", 5);
    image.failAfter = (int)section.Number("FailAfter", -1);
    image.fillValue = (DWORD)section.Number("FillValue", 0x112233);
    image.constant = *section.Text("Pixel", "") != 0;
    image.pixel = (DWORD)section.Number("Pixel", 0);
    image.readResult = section.Number("ReadResult", 1);
    image.writeResult = (int)section.Number("WriteResult", 1);
    image.writeFailAfter = (int)section.Number("WriteFailAfter", -1);
    image.writeNothing = lstrcmpiA(section.Text("Write", "rows"), "none") == 0;
    image.emptyPalette = section.Number("EmptyPalette", 0) != 0;
}

/* NAME.fio -> NAME.ini beside it, by the copy's long name (it may be loaded by its
   short one). */
bool IniPath(HINSTANCE self, char (&ini)[MAX_PATH])
{
    char loaded[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, loaded, sizeof loaded);
    if (n == 0 || n >= sizeof loaded) return false;
    n = GetLongPathNameA(loaded, ini, sizeof ini);
    if (n == 0 || n >= sizeof ini) strcpy(ini, loaded);
    const char *name = strrchr(ini, '\\');
    strcpy(OwnName, name ? name + 1 : ini);
    char *dot = strrchr(ini, '.');
    if (!dot || strlen(ini) + 4 >= sizeof ini) return false;
    strcpy(dot, ".ini");
    return true;
}

void AppendLoad(const char *log)
{
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[MAX_PATH + 2];
    int n = wsprintfA(line, "%s\r\n", OwnName);
    DWORD written;
    WriteFile(file, line, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

void LoadConfig(HINSTANCE self)
{
    char ini[MAX_PATH];
    if (!IniPath(self, ini)) return;
    Section plugin(ini, "plugin");
    Config.formats = (int)plugin.Number("Formats", 1);
    for (int j = 0; j < TESTFIO_FORMATS && j < Config.formats; j++)
        ReadFormat(ini, j, Config.format[j]);
    CopyField(CallLog, sizeof CallLog, plugin.Text("CallLog", ""));
    const char *log = plugin.Text("LoadLog", "");
    if (*log) AppendLoad(log);
}

/* ---- What the entries answer ---- */

HGLOBAL FormatInfoBlock(int j)
{
    if (Config.format[j].infoNull) return nullptr;
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FormatInfo));
    if (!block) return nullptr;
    memcpy(GlobalLock(block), &Config.format[j].info, sizeof(FormatInfo));
    GlobalUnlock(block);
    return block;
}

void LogCall(const char *line)
{
    if (!CallLog[0]) return;
    HANDLE file = CreateFileA(CallLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char text[MAX_PATH + 128];
    int n = wsprintfA(text, "%s %s\r\n", OwnName, line);
    DWORD written;
    WriteFile(file, text, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

HPALETTE GreyRamp(int entries, bool empty)
{
    if (empty) {
        LOGPALETTE none = {0x300, 0, {}};
        return CreatePalette(&none);
    }
    if (entries <= 0 || entries > 0xFFFF) return nullptr;
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
    const FormatConfig &format = Config.format[j];
    char line[MAX_PATH + 32];
    wsprintfA(line, "getfiledata %d %s", j, name ? name : "");
    LogCall(line);
    if (!lstrcmpiA(format.fileDataFault, "garbage")) return (INT_PTR)0x5EADBEE0;
    if (!lstrcmpiA(format.fileDataFault, "small")) return (INT_PTR)GlobalAlloc(GHND, 16);
    if (!lstrcmpiA(format.fileDataFault, "freed")) {
        HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
        GlobalFree(block);
        return (INT_PTR)block;
    }
    if (!format.fileDataAccept) {
        if (format.fileDataError)
            RecordFailure(format.fileDataError, "the test plug-in fails", 12);
        return format.fileDataAnswer;
    }

    HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
    FileData *data = block ? static_cast<FileData *>(GlobalLock(block)) : nullptr;
    if (!data) return 0;
    const ImageConfig &image = format.image;
    data->readable = image.readable;
    data->raster.bitsPerPixel = image.bits;
    data->raster.width = image.width;
    data->raster.height = image.height;
    data->raster.dataType = image.type;
    data->raster.palette = GreyRamp(image.paletteEntries, image.emptyPalette);
    data->raster.resolutionX = image.resolutionX;
    data->raster.resolutionY = image.resolutionY;
    data->vectorPresent = image.vectorPresent;
    data->vector.bitsPerPixel = image.bits;
    data->vector.width = image.vectorWidth;
    data->vector.height = image.vectorHeight;
    data->vector.dataType = image.type;
    data->sizeMode = image.sizeMode;
    GlobalUnlock(block);
    return reinterpret_cast<INT_PTR>(block);
}

/* The test image, one row of count pixels from x in the row protocol's layout. */
void TestRow(const ImageConfig &image, LONG x, LONG y, LONG count, BYTE *row)
{
    if (image.type == Q32_TYPE_BILEVEL) {
        memset(row, 0, ((size_t)count + 7) / 8);
        for (LONG i = 0; i < count; i++)
            if (TestPixelBit(x + i, y)) row[i / 8] |= (BYTE)(0x80 >> (i % 8));
        return;
    }
    bool wide = image.type == Q32_TYPE_RGB48 || image.type == Q32_TYPE_GREY16 ||
                image.type == Q32_TYPE_BGRA64;
    LONG pixelBytes = (LONG)((image.bits + 7) / 8);
    LONG samples = wide ? pixelBytes / 2 : pixelBytes;
    for (LONG i = 0; i < count; i++)
        for (LONG s = 0; s < samples; s++) {
            BYTE value = image.constant ? (BYTE)(s < 4 ? image.pixel >> (8 * s) : 0)
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
bool Deliver(const ImageConfig &image, ImageRequest *request, RowCallback callback, LONG x,
             LONG y, LONG count, LONG rows)
{
    size_t bytes = Q32_ROW_BYTES(image.type, image.bits, count > 0 ? count : 1);
    std::vector<std::vector<BYTE>> buffers(rows, std::vector<BYTE>(bytes));
    std::vector<BYTE *> list(rows);
    for (LONG i = 0; i < rows; i++) {
        TestRow(image, x, y + i, count, buffers[i].data());
        list[i] = buffers[i].data();
    }
    return callback(request, x, y, count, rows, list.data(), 0, 0, 0) != 0;
}

INT_PTR ReadImage(int j, ImageRequest *request, RowCallback callback)
{
    const ImageConfig &image = Config.format[j].image;
    char line[96];
    wsprintfA(line, "read %d %ld %ld %ld %ld", j, request ? request->rasterWidth : 0,
              request ? request->rasterHeight : 0, request ? request->vectorWidth : 0,
              request ? request->vectorHeight : 0);
    LogCall(line);
    if (!request || !callback) return TESTFIO_ANSWER(j, 16); /* reached, nothing to read */
    if (!strcmp(image.read, "none")) return image.readResult;

    const LONG W = image.width, H = image.height;
    int delivered = 0;
    auto failed = [&] {
        if (image.failAfter >= 0 && delivered >= image.failAfter) {
            RecordFailure(4020, "the test image breaks off", 16);
            return true;
        }
        return false;
    };
    if (!strcmp(image.read, "fill")) {
        DWORD value = image.fillValue;
        return callback(request, 0, 0, W, 0, &value, Q32_ROW_FILL, 0, 0) ? image.readResult : 0;
    }
    if (!strcmp(image.read, "outside")) {
        /* Rows above and below, parts beyond the right edge, more pixels than a row has. */
        if (!Deliver(image, request, callback, 0, -2, W, 2)) return Q32_READ_STOPPED;
        for (LONG y = 0; y < H; y++) {
            if (!Deliver(image, request, callback, 0, y, W, 1)) return Q32_READ_STOPPED;
            if (!Deliver(image, request, callback, W > 8 ? W - 8 : 0, y, 3 * W + 16, 1))
                return Q32_READ_STOPPED;
        }
        if (!Deliver(image, request, callback, 0, H, W, 3)) return Q32_READ_STOPPED;
        if (!Deliver(image, request, callback, W + 40, 0, 8, 1)) return Q32_READ_STOPPED;
        return image.readResult;
    }
    bool blocks = !strcmp(image.read, "blocks"), parts = !strcmp(image.read, "parts");
    LONG step = blocks ? (image.block > 0 ? image.block : 1) : 1;
    LONG part = image.type == Q32_TYPE_BILEVEL ? 8 : (image.part > 0 ? image.part : 1);
    for (LONG y = 0; y < H; y += step) {
        if (failed()) return 0;
        LONG rows = H - y < step ? H - y : step;
        if (parts) {
            for (LONG x = 0; x < W; x += part)
                if (!Deliver(image, request, callback, x, y, W - x < part ? W - x : part, rows))
                    return Q32_READ_STOPPED;
        } else if (!Deliver(image, request, callback, 0, y, W, rows)) {
            return Q32_READ_STOPPED;
        }
        delivered += rows;
    }
    if (failed()) return 0;
    return image.readResult;
}

/* Pulls every row, top first, and writes them raw to the file (or to the FileData's
   name when the module passes no handle). */
int WriteImage(int j, HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    const ImageConfig &config = Config.format[j].image;
    if (!request || !callback || !fileData) return TESTFIO_ANSWER(j, 17);
    FileData facts;
    {
        FileData *data = static_cast<FileData *>(GlobalLock(fileData));
        if (!data) return 0;
        facts = *data;
        GlobalUnlock(fileData);
    }
    char line[MAX_PATH + 32];
    wsprintfA(line, "write %d %s", j, facts.name);
    LogCall(line);
    bool own = !file;
    if (own) file = CreateFileA(facts.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || !file) return 0;

    int result = config.writeResult;
    if (config.writeNothing) {
        if (own) CloseHandle(file);
        return result;
    }
    LONG W = request->rasterWidth, H = request->rasterHeight;
    std::vector<BYTE> row(Q32_ROW_BYTES(facts.raster.dataType, facts.raster.bitsPerPixel, W > 0 ? W : 1));
    BYTE *list[1] = {row.data()};
    for (LONG y = 0; y < H; y++) {
        if (config.writeFailAfter >= 0 && y >= config.writeFailAfter) {
            RecordFailure(4020, "the test write breaks off", 17);
            result = 0;
            break;
        }
        if (!callback(request, request->rasterX, request->rasterY + y, W, 1, list, Q32_ROW_PULL, 0, 0)) {
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
    char line[64];
    wsprintfA(line, "saveoption %d %ld", j, (long)format);
    LogCall(line);
    return TESTFIO_ANSWER(j, 15);
}

INT_PTR Command(int j, HGLOBAL, int command, LPARAM a, LPARAM b, LPARAM index)
{
    char line[96];
    wsprintfA(line, "command %d %d %ld %ld %ld", j, command, (long)a, (long)b, (long)index);
    LogCall(line);
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
extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return tfdep_present() ? Config.formats : 0; }
#else
extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return Config.formats; }
#endif
static_assert(std::is_same_v<decltype(&qfDLLGetFileFmtNum), PFN_qfDLLGetFileFmtNum>);

/* The sixteen entries +10 .. +25 of format J, each with its SDK type. */
#define TESTFIO_FORMAT(J)                                                                   \
    extern "C" INT_PTR WINAPI TfEntry##J##_10(HGLOBAL f, int c, LPARAM a, LPARAM b, LPARAM i)\
    { return Command(J, f, c, a, b, i); }                                                    \
    extern "C" HGLOBAL WINAPI TfEntry##J##_11(void) { return FormatInfoBlock(J); }          \
    extern "C" INT_PTR WINAPI TfEntry##J##_12(HANDLE, const char *n, DWORD, const char *)    \
    { return FileDataAnswer(J, n); }                                                         \
    extern "C" INT_PTR WINAPI TfEntry##J##_13(LPARAM, LPARAM, LPARAM)                        \
    { return TESTFIO_ANSWER(J, 13); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_14(LPARAM, LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM) \
    { return TESTFIO_ANSWER(J, 14); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_15(LPARAM, LPARAM, HGLOBAL f, const char *, LPARAM) \
    { return SaveOption(J, f); }                                                             \
    extern "C" INT_PTR WINAPI TfEntry##J##_16(HANDLE, const char *, HGLOBAL, ImageRequest *r,\
                                              RowCallback c, DWORD)                          \
    { return ReadImage(J, r, c); }                                                           \
    extern "C" int WINAPI TfEntry##J##_17(HANDLE h, HGLOBAL f, ImageRequest *r, RowCallback c) \
    { return WriteImage(J, h, f, r, c); }                                                    \
    extern "C" INT_PTR WINAPI TfEntry##J##_18(LPARAM, LPARAM, LPARAM, const char *, LPARAM)  \
    { return TESTFIO_ANSWER(J, 18); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_19(HANDLE, const char *, HGLOBAL, LPARAM, LPARAM, \
                                              DWORD, LPARAM)                                 \
    { return TESTFIO_ANSWER(J, 19); }                                                        \
    extern "C" int WINAPI TfEntry##J##_20(HANDLE, HGLOBAL, LPARAM, LPARAM, LPARAM)           \
    { return TESTFIO_ANSWER(J, 20); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_21(void) { return TESTFIO_ANSWER(J, 21); }        \
    extern "C" INT_PTR WINAPI TfEntry##J##_22(HANDLE, HGLOBAL) { return TESTFIO_ANSWER(J, 22); } \
    extern "C" INT_PTR WINAPI TfEntry##J##_23(HGLOBAL, HGLOBAL *)                            \
    { return TESTFIO_ANSWER(J, 23); }                                                        \
    extern "C" INT_PTR WINAPI TfEntry##J##_24(void) { return TESTFIO_ANSWER(J, 24); }        \
    extern "C" INT_PTR WINAPI TfEntry##J##_25(LPARAM, HGLOBAL, LPARAM, LPARAM, LPARAM)       \
    { return TESTFIO_ANSWER(J, 25); }

TESTFIO_FORMAT(0)
TESTFIO_FORMAT(1)
TESTFIO_FORMAT(2)
TESTFIO_FORMAT(3)
static_assert(TESTFIO_FORMATS == 4, "one TESTFIO_FORMAT line a format");

/* The entries match the kit's types. */
static_assert(std::is_same_v<decltype(&TfEntry0_10), PFN_qfDLLCommand>);
static_assert(std::is_same_v<decltype(&TfEntry0_11), PFN_qfDLLGetFormatInfo>);
static_assert(std::is_same_v<decltype(&TfEntry0_12), PFN_qfDLLGetFileData>);
static_assert(std::is_same_v<decltype(&TfEntry0_13), PFN_qfDLLShowDlgFormatInfo>);
static_assert(std::is_same_v<decltype(&TfEntry0_14), PFN_qfDLLShowDlgFileData>);
static_assert(std::is_same_v<decltype(&TfEntry0_15), PFN_qfDLLShowDlgSaveOption>);
static_assert(std::is_same_v<decltype(&TfEntry0_16), PFN_qfDLLRead>);
static_assert(std::is_same_v<decltype(&TfEntry0_17), PFN_qfDLLWrite>);
static_assert(std::is_same_v<decltype(&TfEntry0_18), PFN_qfDLLShowDlgOpenOption>);
static_assert(std::is_same_v<decltype(&TfEntry0_19), PFN_qfDLLReadVector>);
static_assert(std::is_same_v<decltype(&TfEntry0_20), PFN_qfDLLWriteVector>);
static_assert(std::is_same_v<decltype(&TfEntry0_22), PFN_qfDLLGetPreviewImage>);
static_assert(std::is_same_v<decltype(&TfEntry0_23), PFN_qfDLLGetProperty>);
static_assert(std::is_same_v<decltype(&TfEntry0_25), PFN_qfDLLShowProperty>);
