/*
 * pnm.fio - a complete, minimal q32File format plug-in: the binary portable anymaps.
 *
 *   P4  bitmap (PBM):  1 bit a pixel, 1 = black   <-> Q32_TYPE_BILEVEL (1 = white)
 *   P5  greymap (PGM): 8 bits a pixel             <-> Q32_TYPE_GREY8
 *   P6  pixmap (PPM):  R, G, B, 8 bits a sample   <-> Q32_TYPE_RGB (B, G, R in rows)
 *
 * One format, code "PNM", so the entries are the ordinals 11, 12, 16 and 17 (pnm.def);
 * qfDLLGetFileFmtNum is exported by name. Maximum sample values below 255 are scaled
 * to 0..255 on reading; the text variants P1 to P3 and 16-bit samples are recognised
 * and refused (QF_FILEDATA_UNSUPPORTED). It builds against the kit's public headers
 * and q32Comm.dll only: see docs/plugins.md.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <type_traits>
#include <vector>
#include "q32fio.h"
#include "q32comm.h"

namespace {

/* Failures are recorded at (PluginId, entry, place): the kit's error numbers (QF_ERR_*) and
   entry offsets (QF_ENTRY_*), places of the plug-in's own. */
constexpr int PluginId = 1795;
enum Place { PlaceArguments = 1, PlaceOpen, PlaceRead, PlaceHeader, PlaceShort, PlaceVariant,
             PlaceMemory, PlaceType, PlaceWrite, PlaceStopped, PlaceSize };

/* The largest side this plug-in takes: a larger one is refused as too large before
   anything is allocated. */
constexpr unsigned MaxSide = 1u << 16;

void Record(UINT id, int entry, int place, const char *name = nullptr)
{
    char text[C32_ERRTEXT_SIZE] = "", message[C32_ERRTEXT_SIZE] = "";
    if (name && c32GetString(id, text, sizeof text) > 0) {
        snprintf(message, sizeof message, text, name); /* the texts hold one %s */
        c32SetDLLErrInfo(message, id, 0, PluginId, entry, place);
    } else {
        c32SetDLLErrInfo(nullptr, id, 0, PluginId, entry, place);
    }
}

/* An open file: the caller's handle (not closed here), or one opened by name. */
struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool owned = false;
    File(HANDLE given, const char *name)
    {
        if (given && given != INVALID_HANDLE_VALUE) {
            handle = given;
        } else if (name && *name) {
            handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            owned = true;
        }
    }
    ~File() { if (owned && handle != INVALID_HANDLE_VALUE) CloseHandle(handle); }
    bool ok() const { return handle != INVALID_HANDLE_VALUE; }
    bool Seek(unsigned long long at)
    {
        LARGE_INTEGER to;
        to.QuadPart = (LONGLONG)at;
        return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
    }
    bool Read(void *buffer, DWORD bytes, DWORD *got)
    {
        return ReadFile(handle, buffer, bytes, got, nullptr) != 0;
    }
};

bool WriteAll(HANDLE file, const void *data, size_t bytes)
{
    const BYTE *p = static_cast<const BYTE *>(data);
    while (bytes) {
        DWORD put = 0, part = bytes > (1u << 20) ? (1u << 20) : (DWORD)bytes;
        if (!WriteFile(file, p, part, &put, nullptr) || put == 0) return false;
        p += put;
        bytes -= put;
    }
    return true;
}

struct Header {
    char kind = 0;              /* '4', '5' or '6' */
    unsigned width = 0, height = 0, maxValue = 1;
    unsigned long long dataOffset = 0;
    DWORD dataType() const { return kind == '4' ? Q32_TYPE_BILEVEL : kind == '5' ? Q32_TYPE_GREY8 : Q32_TYPE_RGB; }
    DWORD bits() const { return kind == '4' ? 1 : kind == '5' ? 8 : 24; }
    /* Bytes of one stored row. */
    size_t rowBytes() const { return kind == '4' ? (width + 7) / 8 : (size_t)width * (kind == '5' ? 1 : 3); }
};

enum class Parse { Ok, NotMine, Damaged, Variant, TooLarge };

/* The header: "P" and the kind, then width, height and (but for P4) the maximum value as
   decimal numbers separated by white space and '#' comments up to the line end, then one
   white-space byte. head holds the first bytes of the file. */
Parse ParseHeader(const BYTE *head, size_t size, Header &h)
{
    if (size < 2 || head[0] != 'P' || head[1] < '1' || head[1] > '6') return Parse::NotMine;
    h.kind = (char)head[1];
    size_t at = 2;
    unsigned values[3] = {0, 0, 1};
    int wanted = h.kind == '1' || h.kind == '4' ? 2 : 3;
    for (int i = 0; i < wanted; i++) {
        bool space = false;
        for (;;) {
            if (at >= size) return Parse::Damaged;
            if (head[at] == '#') {
                while (at < size && head[at] != '\n' && head[at] != '\r') at++;
                space = true;
            } else if (strchr(" \t\r\n\v\f", head[at])) {
                at++;
                space = true;
            } else {
                break;
            }
        }
        if (!space || head[at] < '0' || head[at] > '9') return i == 0 ? Parse::NotMine : Parse::Damaged;
        unsigned long long value = 0;
        while (at < size && head[at] >= '0' && head[at] <= '9') {
            value = value * 10 + (head[at++] - '0');
            if (value > 0xFFFFFFFFull) return Parse::Damaged;
        }
        values[i] = (unsigned)value;
    }
    if (at >= size || !strchr(" \t\r\n\v\f", head[at])) return Parse::Damaged;
    h.width = values[0], h.height = values[1], h.maxValue = values[2];
    h.dataOffset = at + 1;
    if (h.width == 0 || h.height == 0 || h.maxValue == 0 || h.maxValue > 65535) return Parse::Damaged;
    if (h.kind < '4' || h.maxValue > 255) return Parse::Variant;
    if (h.width > MaxSide || h.height > MaxSide) return Parse::TooLarge;
    return Parse::Ok;
}

/* Reads and checks the header of an open file, and that the rows lie within it. */
Parse ReadHeader(File &file, Header &h)
{
    BYTE head[512];
    DWORD got = 0;
    LARGE_INTEGER size;
    if (!file.Seek(0) || !file.Read(head, sizeof head, &got) || !GetFileSizeEx(file.handle, &size))
        return Parse::Damaged;
    Parse parse = ParseHeader(head, got, h);
    if (parse == Parse::Ok && h.dataOffset + (unsigned long long)h.rowBytes() * h.height > (unsigned long long)size.QuadPart)
        return Parse::Damaged;
    return parse;
}

/* A copy of the caller's FileData. */
bool CopyFileData(HGLOBAL block, FileData &copy)
{
    if (!block || GlobalSize(block) < sizeof(FileData)) return false;
    const FileData *data = static_cast<const FileData *>(GlobalLock(block));
    if (!data) return false;
    copy = *data;
    GlobalUnlock(block);
    copy.name[sizeof copy.name - 1] = 0;
    return true;
}

/* Stored row -> row of the row protocol. */
void ToRow(const Header &h, const BYTE *stored, BYTE *row, const BYTE scale[256])
{
    if (h.kind == '4') {
        for (size_t i = 0; i < h.rowBytes(); i++) row[i] = (BYTE)~stored[i]; /* 1 is black here */
        if (h.width % 8) row[h.rowBytes() - 1] &= (BYTE)(0xFF00 >> (h.width % 8));
    } else if (h.kind == '5') {
        for (unsigned x = 0; x < h.width; x++) row[x] = scale[stored[x]];
    } else {
        for (unsigned x = 0; x < h.width; x++) {
            row[3 * x + 0] = scale[stored[3 * x + 2]];
            row[3 * x + 1] = scale[stored[3 * x + 1]];
            row[3 * x + 2] = scale[stored[3 * x + 0]];
        }
    }
}

/* A row of the protocol (bilevel 1 white, grey, or colour B, G, R) as another type the
   caller takes (Q32ReadType): grey or colour, with alpha 255 for Q32_TYPE_BGRA. */
void Widen(DWORD type, const BYTE *row, size_t first, size_t count, DWORD to, BYTE *out)
{
    const size_t size = to == Q32_TYPE_BGRA ? 4 : to == Q32_TYPE_RGB ? 3 : 1;
    for (size_t i = 0; i < count; i++) {
        const size_t x = first + i;
        BYTE b, g, r;
        if (type == Q32_TYPE_BILEVEL) b = g = r = (row[x / 8] >> (7 - x % 8) & 1) ? 255 : 0;
        else if (type == Q32_TYPE_GREY8) b = g = r = row[x];
        else b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
        BYTE *p = out + i * size;
        if (size == 1) {
            p[0] = b; /* grey from grey or bilevel only */
        } else {
            p[0] = b, p[1] = g, p[2] = r;
            if (size == 4) p[3] = 255;
        }
    }
}

/* Row of the row protocol -> stored row (the maximum value written is 255). */
void FromRow(const Header &h, const BYTE *row, BYTE *stored, bool oneIsWhite)
{
    if (h.kind == '4') {
        for (size_t i = 0; i < h.rowBytes(); i++) stored[i] = oneIsWhite ? (BYTE)~row[i] : row[i];
        if (h.width % 8) stored[h.rowBytes() - 1] &= (BYTE)(0xFF00 >> (h.width % 8));
    } else if (h.kind == '5') {
        memcpy(stored, row, h.width);
    } else {
        for (unsigned x = 0; x < h.width; x++) {
            stored[3 * x + 0] = row[3 * x + 2];
            stored[3 * x + 1] = row[3 * x + 1];
            stored[3 * x + 2] = row[3 * x + 0];
        }
    }
}

/******************************************************************
 *      GetFileData (+12)
 */
INT_PTR GetFileData(HANDLE handle, const char *name)
{
    File file(handle, name);
    if (!file.ok()) {
        Record(QF_ERR_OPEN, QF_ENTRY_GETFILEDATA, PlaceOpen, name);
        return QF_FILEDATA_FAILED;
    }
    Header h;
    switch (ReadHeader(file, h)) {
    case Parse::NotMine: return QF_FILEDATA_NOT_MINE;
    case Parse::Damaged:
        Record(QF_ERR_DAMAGED, QF_ENTRY_GETFILEDATA, PlaceHeader, name);
        return QF_FILEDATA_FAILED;
    case Parse::Variant:
        Record(QF_ERR_UNSUPPORTED, QF_ENTRY_GETFILEDATA, PlaceVariant, name);
        return QF_FILEDATA_UNSUPPORTED;
    case Parse::TooLarge:
        Record(QF_ERR_TOO_LARGE, QF_ENTRY_GETFILEDATA, PlaceSize, name);
        return QF_FILEDATA_FAILED;
    case Parse::Ok: break;
    }
    /* The module stamps the format number, name and size; the rest is the plug-in's. */
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FileData));
    FileData *data = block ? static_cast<FileData *>(GlobalLock(block)) : nullptr;
    if (!data) {
        if (block) GlobalFree(block);
        Record(QF_ERR_NO_MEMORY, QF_ENTRY_GETFILEDATA, PlaceMemory);
        return QF_FILEDATA_FAILED;
    }
    data->readable = 1;
    data->compression = Q32_COMPRESS_NONE;
    data->raster.bitsPerPixel = h.bits();
    data->raster.width = (LONG)h.width;
    data->raster.height = (LONG)h.height;
    data->raster.dataType = h.dataType();
    data->writeKind = Q32_WRITE_ANY;
    GlobalUnlock(block);
    return (INT_PTR)block;
}

/******************************************************************
 *      Read (+16)
 *
 * The request's region, cut at the image's edges, one whole row at a time (part rows
 * of a bitmap start at a byte).
 */
INT_PTR Read(HANDLE handle, const char *name, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    FileData facts;
    if (!request || !callback || !CopyFileData(fileData, facts)) {
        Record(QF_ERR_CANNOT, QF_ENTRY_READ, PlaceArguments);
        return 0;
    }
    if (!name || !*name) name = facts.name;
    File file(handle, name);
    if (!file.ok()) {
        Record(QF_ERR_OPEN, QF_ENTRY_READ, PlaceOpen, name);
        return 0;
    }
    Header h;
    Parse parse = ReadHeader(file, h);
    if (parse != Parse::Ok || (LONG)h.width != facts.raster.width || (LONG)h.height != facts.raster.height ||
        h.dataType() != facts.raster.dataType) {
        /* Not the file that the FileData describes any more. */
        Record(parse == Parse::Variant ? QF_ERR_UNSUPPORTED : parse == Parse::TooLarge ? QF_ERR_TOO_LARGE : QF_ERR_DAMAGED,
               QF_ENTRY_READ, PlaceHeader, name);
        return 0;
    }
    long long left = request->rasterX, top = request->rasterY;
    long long right = left + request->rasterWidth, bottom = top + request->rasterHeight;
    if (request->rasterWidth == 0 && request->rasterHeight == 0) right = h.width, bottom = h.height;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > h.width) right = h.width;
    if (bottom > h.height) bottom = h.height;
    if (left >= right || top >= bottom) {
        Record(QF_ERR_CANNOT, QF_ENTRY_READ, PlaceArguments);
        return 0;
    }
    /* A caller that takes only some types gets the rows in one of them. */
    DWORD to = h.dataType();
    if (request->rasterTypes & Q32_TYPES_ONLY) to = Q32ReadType(to, request->rasterTypes);
    if (!to) {
        Record(QF_ERR_CANNOT, QF_ENTRY_READ, PlaceArguments);
        return 0;
    }
    BYTE scale[256];
    for (unsigned v = 0; v < 256; v++) scale[v] = (BYTE)(v >= h.maxValue ? 255 : (v * 255 + h.maxValue / 2) / h.maxValue);
    if (h.kind == '4') left &= ~7LL;
    const size_t pixelOffset = h.kind == '4' ? (size_t)left / 8 : (size_t)left * (h.bits() / 8);
    std::vector<BYTE> stored(h.rowBytes()), row(h.rowBytes());
    std::vector<BYTE> widened(to == h.dataType() ? 0 : (size_t)(right - left) * (Q32TypeBits(to) / 8));
    void *rows[1] = {widened.empty() ? row.data() + pixelOffset : widened.data()};
    if (!file.Seek(h.dataOffset + (unsigned long long)top * h.rowBytes())) {
        Record(QF_ERR_DAMAGED, QF_ENTRY_READ, PlaceRead, name);
        return 0;
    }
    for (long long y = top; y < bottom; y++) {
        DWORD got = 0;
        if (!file.Read(stored.data(), (DWORD)stored.size(), &got) || got != stored.size()) {
            Record(QF_ERR_DAMAGED, QF_ENTRY_READ, PlaceShort, name);
            return 0;
        }
        ToRow(h, stored.data(), row.data(), scale);
        if (!widened.empty()) Widen(h.dataType(), row.data(), (size_t)left, (size_t)(right - left), to, widened.data());
        if (!callback(request, (LONG)left, (LONG)y, (LONG)(right - left), 1, rows, 0, 0, 0))
            return Q32_READ_STOPPED;
    }
    return 1;
}

/* Whether bit value 1 of the caller's bilevel rows is white: by the palette's brightness
   when the FileData has one (a bitmap's two entries may stand either way), else it is. */
bool OneIsWhite(HPALETTE palette)
{
    PALETTEENTRY e[2];
    if (!palette || GetPaletteEntries(palette, 0, 2, e) != 2) return true;
    auto light = [](const PALETTEENTRY &p) { return p.peRed * 299u + p.peGreen * 587u + p.peBlue * 114u; };
    return light(e[1]) >= light(e[0]);
}

/******************************************************************
 *      Write (+17)
 *
 * file is the module's work file, open for writing. The FileData's raster description
 * chooses the kind: bilevel P4, grey P5, 24-bit colour P6.
 */
int Write(HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    FileData facts;
    if (!request || !callback || !file || file == INVALID_HANDLE_VALUE || !CopyFileData(fileData, facts)) {
        Record(QF_ERR_CANNOT, QF_ENTRY_WRITE, PlaceArguments);
        return 0;
    }
    Header h;
    switch (facts.raster.dataType) {
    case Q32_TYPE_BILEVEL: h.kind = '4'; break;
    case Q32_TYPE_GREY8: h.kind = '5'; break;
    case Q32_TYPE_RGB: h.kind = '6'; break;
    default:
        Record(QF_ERR_CANNOT, QF_ENTRY_WRITE, PlaceType);
        return 0;
    }
    long long width = request->rasterWidth, height = request->rasterHeight;
    if (width == 0 && height == 0) width = facts.raster.width, height = facts.raster.height;
    if (facts.raster.bitsPerPixel != h.bits() || width <= 0 || height <= 0 || width > MaxSide || height > MaxSide) {
        Record(QF_ERR_CANNOT, QF_ENTRY_WRITE, PlaceType);
        return 0;
    }
    h.width = (unsigned)width, h.height = (unsigned)height, h.maxValue = 255;
    char text[64];
    int length = h.kind == '4' ? snprintf(text, sizeof text, "P4\n%u %u\n", h.width, h.height)
                               : snprintf(text, sizeof text, "P%c\n%u %u\n255\n", h.kind, h.width, h.height);
    if (!WriteAll(file, text, (size_t)length)) {
        Record(QF_ERR_WRITE, QF_ENTRY_WRITE, PlaceWrite, facts.name);
        return 0;
    }
    std::vector<BYTE> row(h.rowBytes()), stored(h.rowBytes());
    void *rows[1] = {row.data()};
    const bool oneIsWhite = OneIsWhite(facts.raster.palette);
    for (unsigned y = 0; y < h.height; y++) {
        if (!callback(request, request->rasterX, (LONG)(request->rasterY + y), (LONG)h.width, 1, rows,
                      Q32_ROW_PULL, 0, 0))
            return Q32_WRITE_STOPPED;
        FromRow(h, row.data(), stored.data(), oneIsWhite);
        if (!WriteAll(file, stored.data(), stored.size())) {
            Record(QF_ERR_WRITE, QF_ENTRY_WRITE, PlaceWrite, facts.name);
            return 0;
        }
    }
    return 1;
}

} // namespace

/* ---- The entries. No C++ exception may leave them: the caller is C. ---- */

extern "C" int WINAPI qfDLLGetFileFmtNum(void)
{
    return 1;
}

extern "C" HGLOBAL WINAPI qfDLLGetFormatInfo(void)
{
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FormatInfo));
    FormatInfo *info = block ? static_cast<FormatInfo *>(GlobalLock(block)) : nullptr;
    if (!info) {
        if (block) GlobalFree(block);
        return nullptr;
    }
    info->flags = 1;                                   /* takes part in detection */
    info->typeCaps = Q32_CAP_BILEVEL | Q32_CAP_GREY8 | Q32_CAP_RGB;
    info->vectorType = -1;
    lstrcpynA(info->code, "PNM", sizeof info->code);
    lstrcpynA(info->description, "Portable Anymap", sizeof info->description);
    info->signatureLength1 = 1;                        /* "P": the header says the rest */
    info->signature1[0] = 'P';
    GlobalUnlock(block);
    return block;
}

extern "C" INT_PTR WINAPI qfDLLGetFileData(HANDLE file, const char *name, DWORD runtimeValue, const char *iniPath)
{
    try {
        return GetFileData(file, name);
    } catch (...) {
        Record(QF_ERR_NO_MEMORY, QF_ENTRY_GETFILEDATA, PlaceMemory);
        return QF_FILEDATA_FAILED;
    }
}

extern "C" INT_PTR WINAPI qfDLLRead(HANDLE file, const char *name, HGLOBAL fileData, ImageRequest *request,
                                   RowCallback callback, DWORD runtimeValue)
{
    try {
        return Read(file, name, fileData, request, callback);
    } catch (...) {
        Record(QF_ERR_NO_MEMORY, QF_ENTRY_READ, PlaceMemory);
        return 0;
    }
}

extern "C" int WINAPI qfDLLWrite(HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    try {
        return Write(file, fileData, request, callback);
    } catch (...) {
        Record(QF_ERR_NO_MEMORY, QF_ENTRY_WRITE, PlaceMemory);
        return 0;
    }
}

/* The compiler checks the entries against the kit's entry types. */
static_assert(std::is_same_v<decltype(&qfDLLGetFileFmtNum), PFN_qfDLLGetFileFmtNum>);
static_assert(std::is_same_v<decltype(&qfDLLGetFormatInfo), PFN_qfDLLGetFormatInfo>);
static_assert(std::is_same_v<decltype(&qfDLLGetFileData), PFN_qfDLLGetFileData>);
static_assert(std::is_same_v<decltype(&qfDLLRead), PFN_qfDLLRead>);
static_assert(std::is_same_v<decltype(&qfDLLWrite), PFN_qfDLLWrite>);
