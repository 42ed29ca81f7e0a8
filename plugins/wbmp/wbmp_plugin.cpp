/*
 * wbmp.fio: the format plug-in of wireless bitmaps (one format, "WBM"): one-bit images
 * read and written as packed rows of Q32_TYPE_BILEVEL, 0 black and 1 white, without a
 * palette.
 *
 * Entries (ordinals of format 0): qfDLLGetFormatInfo +11, qfDLLGetFileData +12,
 * qfDLLRead +16, qfDLLWrite +17; qfDLLGetFileFmtNum by name. The header is read and
 * written by the codec (wbmp_codec.h); this file moves rows between the file and the
 * caller's row callback and records failures in the common library's error slot.
 */
#include <windows.h>
#include <shlwapi.h>
#include <new>
#include <vector>
#include "q32types.h"
#include "q32fio.h"
#include "q32comm.h"
#include "fio_support.h"
#include "fio_rows.h"
#include "wbmp_codec.h"

using wbmp::Header;
using wbmp::Result;
using fio::CopyFileData;
using fio::ReadAt;
using fio::Source;
using fio::WriteAll;

namespace {

/* Errors are recorded at (PluginId, entry offset, place); the place is the codec's
   Result number or one of the kit's. */
constexpr int PluginId = 1792;
using namespace fio::errors;

/* Rows are read and written about this many bytes at a time. */
constexpr uint64_t ChunkBytes = 1 << 20;

void Record(UINT id, int entry, int place, const char *name = nullptr)
{
    fio::RecordError(PluginId, id, entry, place, name);
}

/* Reads and checks the header of the open file. */
Result ReadHeader(HANDLE file, Header &header, bool &inputFailed)
{
    inputFailed = false;
    LARGE_INTEGER size;
    uint8_t head[wbmp::HeadBytes];
    uint64_t got = 0;
    if (!GetFileSizeEx(file, &size) || !ReadAt(file, 0, head, sizeof head, &got)) {
        inputFailed = true;
        return Result::ShortHeader;
    }
    return wbmp::ParseHeader(head, size_t(got), uint64_t(size.QuadPart), header);
}

UINT ErrorOf(Result result)
{
    return result == Result::TooLarge ? UINT(fio::ErrTooLarge) : UINT(ErrDamaged);
}

/******************************************************************
 *      GetFileData
 */
INT_PTR GetFileData(HANDLE file, const char *name)
{
    Source source;
    if (!source.Open(file, name)) {
        Record(ErrOpen, EntryFileData, PlaceOpen, name);
        return -1;
    }
    Header header;
    bool inputFailed;
    Result result = ReadHeader(source.get(), header, inputFailed);
    if (inputFailed) {
        Record(ErrDamaged, EntryFileData, PlaceInput, name);
        return -1;
    }
    if (result == Result::NotWbmp) return 0;
    if (result != Result::Ok) {
        Record(ErrorOf(result), EntryFileData, int(result), name);
        return -1;
    }
    LARGE_INTEGER size;
    GetFileSizeEx(source.get(), &size);
    fio::GlobalHandle block(GlobalAlloc(GHND, sizeof(FileData)));
    fio::Locked<FileData> data(block.get());
    if (!data) {
        Record(ErrNoMemory, EntryFileData, PlaceMemory);
        return -1;
    }
    if (name) lstrcpynA(data->name, name, sizeof data->name);
    data->fileSize = size.QuadPart > 0xFFFFFFFF ? 0xFFFFFFFFu : DWORD(size.QuadPart);
    data->readable = 1;
    data->compression = Q32_COMPRESS_NONE;
    data->raster.bitsPerPixel = 1;
    data->raster.width = LONG(header.width);
    data->raster.height = LONG(header.height);
    data->raster.dataType = Q32_TYPE_BILEVEL;
    data->writeKind = Q32_WRITE_ANY;
    return INT_PTR(block.release());
}

/******************************************************************
 *      Read
 *
 * Rows are read a chunk at a time and handed over as blocks of rows straight from the
 * chunk: the stored rows are the row protocol's.
 */
INT_PTR Read(fio::ReadStart &start, ImageRequest *request, RowCallback callback)
{
    const FileData &facts = start.facts;
    const char *name = start.name;
    fio::Source &source = start.source;
    Header header;
    bool inputFailed;
    Result result = ReadHeader(source.get(), header, inputFailed);
    if (inputFailed || (result != Result::Ok && result != Result::NotWbmp)) {
        Record(inputFailed ? ErrDamaged : ErrorOf(result), EntryRead, inputFailed ? PlaceInput : int(result), name);
        return 0;
    }
    if (result != Result::Ok || facts.raster.width != LONG(header.width) ||
        facts.raster.height != LONG(header.height) || facts.raster.dataType != Q32_TYPE_BILEVEL) {
        Record(ErrDamaged, EntryRead, PlaceChanged, name);
        return 0;
    }
    /* Rows in a type the caller takes: black 0, white 1; part rows start at a byte. */
    if (!start.Plan(PluginId, request, callback, header.width, header.height)) return 0;
    const int64_t left = start.region.left, top = start.region.top;
    const int64_t right = start.region.right, bottom = start.region.bottom;
    const uint64_t stride = wbmp::RowBytes(header.width);
    const uint32_t count = uint32_t(right - left);
    int64_t chunkRows = int64_t(ChunkBytes / stride);
    if (chunkRows < 1) chunkRows = 1;
    if (chunkRows > bottom - top) chunkRows = bottom - top;
    std::vector<uint8_t> chunk(size_t(stride * uint64_t(chunkRows)));
    std::vector<void *> rows(static_cast<size_t>(chunkRows));
    for (int64_t y = top; y < bottom; y += chunkRows) {
        const int64_t n = bottom - y < chunkRows ? bottom - y : chunkRows;
        if (!ReadAt(source.get(), header.dataOffset + uint64_t(y) * stride, chunk.data(), stride * uint64_t(n))) {
            Record(ErrDamaged, EntryRead, PlaceInput, name);
            return 0;
        }
        for (int64_t i = 0; i < n; i++) {
            uint8_t *row = chunk.data() + size_t(i) * stride + size_t(left / 8);
            wbmp::ClearPadding(row, count);
            rows[size_t(i)] = row;
        }
        if (!callback(request, LONG(left), LONG(y), LONG(count), LONG(n), rows.data(), 0, 0, 0))
            return Q32_READ_STOPPED;
    }
    return 1;
}

/* Whether bit value b of the caller's rows is white: by the palette's brightness when
   the FileData has one, else 1 is white. */
void WhiteBits(HPALETTE palette, bool white[2])
{
    white[0] = false, white[1] = true;
    PALETTEENTRY entries[2];
    UINT n = palette ? GetPaletteEntries(palette, 0, 2, entries) : 0;
    for (UINT i = 0; i < n; i++)
        white[i] = entries[i].peRed * 299u + entries[i].peGreen * 587u + entries[i].peBlue * 114u >= 128000u;
}

/******************************************************************
 *      Write
 */
int Write(HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    FileData facts;
    if (!request || !callback || !file || file == INVALID_HANDLE_VALUE || !CopyFileData(fileData, facts)) {
        Record(ErrCannot, EntryWrite, PlaceArguments);
        return 0;
    }
    if (facts.raster.dataType != Q32_TYPE_BILEVEL || facts.raster.bitsPerPixel != 1) {
        Record(ErrCannot, EntryWrite, PlaceType);
        return 0;
    }
    int64_t width = request->rasterWidth, height = request->rasterHeight;
    if (width == 0 && height == 0) width = facts.raster.width, height = facts.raster.height;
    if (width <= 0 || height <= 0 || width > wbmp::MaxDimension || height > wbmp::MaxDimension) {
        Record(ErrCannot, EntryWrite, int(Result::TooLarge));
        return 0;
    }
    bool white[2];
    WhiteBits(facts.raster.palette, white);
    const uint8_t flip = white[0] == white[1] ? 0 : white[1] ? 0x00 : 0xFF;
    const bool constant = white[0] == white[1];

    LARGE_INTEGER start = {};
    std::vector<uint8_t> header = wbmp::BuildHeader(uint32_t(width), uint32_t(height));
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !WriteAll(file, header.data(), header.size())) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }
    const uint64_t stride = wbmp::RowBytes(uint32_t(width));
    int64_t chunkRows = int64_t(ChunkBytes / stride);
    if (chunkRows < 1) chunkRows = 1;
    if (chunkRows > height) chunkRows = height;
    std::vector<uint8_t> chunk(size_t(stride * uint64_t(chunkRows)));
    std::vector<void *> rows(static_cast<size_t>(chunkRows));
    for (int64_t y = 0; y < height; y += chunkRows) {
        const int64_t n = height - y < chunkRows ? height - y : chunkRows;
        for (int64_t i = 0; i < n; i++) rows[size_t(i)] = chunk.data() + size_t(i) * stride;
        if (!callback(request, request->rasterX, LONG(request->rasterY + y), LONG(width), LONG(n), rows.data(),
                      Q32_ROW_PULL, 0, 0))
            return Q32_WRITE_STOPPED;
        for (int64_t i = 0; i < n; i++) {
            uint8_t *row = chunk.data() + size_t(i) * stride;
            for (uint64_t b = 0; b < stride; b++) row[b] = constant ? (white[0] ? 0xFF : 0) : uint8_t(row[b] ^ flip);
            wbmp::ClearPadding(row, uint32_t(width));
        }
        if (!WriteAll(file, chunk.data(), size_t(stride * uint64_t(n)))) {
            Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
            return 0;
        }
    }
    return 1;
}

void Describe(FormatInfo &info)
{
    fio::DescribeFormat(info, Q32_CAP_BILEVEL, "WBM", "Wireless Bitmap");
    /* Type 0 and a fixed header of 0. */
    info.signatureLength1 = 2;
}

} // namespace

/* ---- Entries: no exception leaves them. ---- */

FIO_ONE_FORMAT_ENTRIES(PluginId, Describe, GetFileData, Read, Write);
