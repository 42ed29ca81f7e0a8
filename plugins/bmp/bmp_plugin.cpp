/*
 * bmp.fio: the format plug-in of Windows and OS/2 bitmaps (one format, "BMP").
 *
 * Entries (ordinals of format 0): qfDLLGetFormatInfo +11, qfDLLGetFileData +12,
 * qfDLLRead +16, qfDLLWrite +17; qfDLLGetFileFmtNum by name. The bitmap itself is read
 * and written by the codec (bmp_codec.h); this file moves bytes between it, the file and
 * the caller's row callback, and records failures in the common library's error slot.
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
#include "bmp_codec.h"

using bmp::Kind;
using bmp::Layout;
using bmp::Result;
using fio::CopyFileData;
using fio::ReadAt;
using fio::Source;
using fio::WriteAll;

namespace {

/* Errors are recorded at (PluginId, entry offset, place); the place is the codec's
   Result number or one of the kit's. */
constexpr int PluginId = 1790;
using namespace fio::errors;

/* Reads and writes go in pieces of about this many bytes. */
constexpr uint64_t ChunkBytes = 1 << 20;

void Record(UINT id, int entry, int place, const char *name = nullptr)
{
    fio::RecordError(PluginId, id, entry, place, name);
}

void RecordResult(Result result, int entry, const char *name)
{
    Record(result == Result::TooLarge ? UINT(fio::ErrTooLarge) : bmp::IsUnsupported(result) ? UINT(ErrUnsupported) : UINT(ErrDamaged),
           entry, int(result), name);
}

/* Reads and checks the headers of the open file. */
Result ReadLayout(HANDLE file, Layout &layout, bool &inputFailed)
{
    inputFailed = false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        inputFailed = true;
        return Result::ShortHeader;
    }
    uint64_t fileSize = uint64_t(size.QuadPart);
    std::vector<uint8_t> head(size_t(fileSize < bmp::HeadBytes ? fileSize : bmp::HeadBytes));
    if (!head.empty() && !ReadAt(file, 0, head.data(), head.size())) {
        inputFailed = true;
        return Result::ShortHeader;
    }
    return bmp::ParseHeaders(head.data(), head.size(), fileSize, layout);
}

DWORD DataTypeOf(Kind kind)
{
    switch (kind) {
    case Kind::Bilevel: return Q32_TYPE_BILEVEL;
    case Kind::Index4: return Q32_TYPE_PALETTE4;
    case Kind::Grey4: return Q32_TYPE_GREY4;
    case Kind::Index8: return Q32_TYPE_PALETTE8;
    case Kind::Grey8: return Q32_TYPE_GREY8;
    case Kind::Rgb24: return Q32_TYPE_RGB;
    default: return Q32_TYPE_BGRA;
    }
}

DWORD CompressionOf(uint32_t compression)
{
    switch (compression) {
    case bmp::BiRle8: return Q32_COMPRESS_RLE8;
    case bmp::BiRle4: return Q32_COMPRESS_RLE4;
    case bmp::BiBitfields: case bmp::BiAlphaBitfields: return Q32_COMPRESS_BITFIELDS;
    default: return Q32_COMPRESS_NONE;
    }
}

/* Pixels per metre as dots per inch x 10000. */
DWORD ResolutionOf(int32_t pelsPerMeter)
{
    if (pelsPerMeter <= 0) return 0;
    uint64_t value = uint64_t(pelsPerMeter) * 254;
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(value);
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
    Layout layout;
    bool inputFailed;
    Result result = ReadLayout(source.get(), layout, inputFailed);
    if (inputFailed) {
        Record(ErrDamaged, EntryFileData, PlaceInput, name);
        return -1;
    }
    if (result == Result::NotBitmap) return 0;
    if (result != Result::Ok) {
        RecordResult(result, EntryFileData, name);
        return -1;
    }

    LARGE_INTEGER size;
    GetFileSizeEx(source.get(), &size);
    HPALETTE palette = nullptr;
    if (layout.paletteEntries && !(palette = fio::MakePalette(layout.palette, layout.paletteEntries))) {
        Record(ErrNoMemory, EntryFileData, PlaceMemory);
        return -1;
    }
    fio::GlobalHandle block(GlobalAlloc(GHND, sizeof(FileData)));
    fio::Locked<FileData> data(block.get());
    if (!data) {
        if (palette) DeleteObject(palette);
        Record(ErrNoMemory, EntryFileData, PlaceMemory);
        return -1;
    }
    if (name) lstrcpynA(data->name, name, sizeof data->name);
    data->fileSize = size.QuadPart > 0xFFFFFFFF ? 0xFFFFFFFFu : DWORD(size.QuadPart);
    data->readable = 1;
    data->compression = CompressionOf(layout.compression);
    data->raster.bitsPerPixel = bmp::BitsPerPixel(layout.kind);
    data->raster.width = layout.width;
    data->raster.height = layout.height;
    data->raster.resolutionX = ResolutionOf(layout.xPelsPerMeter);
    data->raster.resolutionY = ResolutionOf(layout.yPelsPerMeter);
    data->raster.dataType = DataTypeOf(layout.kind);
    data->raster.palette = palette;
    data->writeKind = Q32_WRITE_ANY;
    return INT_PTR(block.release());
}

using fio::Region;

/* Hands one decoded whole row to the callback, cut to the region. 0: stop. */
LONG Deliver(RowCallback callback, ImageRequest *request, const Layout &layout,
             const Region &region, int64_t y, uint8_t *row)
{
    uint64_t skip = layout.kind == Kind::Bilevel ? uint64_t(region.left) / 8
                                                 : bmp::RowBytes(layout.kind, uint64_t(region.left));
    void *rows[1] = {row + skip};
    return callback(request, LONG(region.left), LONG(y), LONG(region.right - region.left), 1,
                    rows, 0, 0, 0);
}

/******************************************************************
 *      Read
 */
INT_PTR Read(fio::ReadStart &start, ImageRequest *request, RowCallback callback)
{
    const FileData &facts = start.facts;
    const char *name = start.name;
    Source &source = start.source;
    Layout layout;
    bool inputFailed;
    Result result = ReadLayout(source.get(), layout, inputFailed);
    if (inputFailed) {
        Record(ErrDamaged, EntryRead, PlaceInput, name);
        return 0;
    }
    if (result != Result::Ok) {
        RecordResult(result, EntryRead, name);
        return 0;
    }
    /* The caller sizes its rows by the FileData: the file must still match it. */
    if (facts.raster.width != layout.width || facts.raster.height != layout.height ||
        facts.raster.bitsPerPixel != bmp::BitsPerPixel(layout.kind) ||
        facts.raster.dataType != DataTypeOf(layout.kind)) {
        Record(ErrDamaged, EntryRead, PlaceChanged, name);
        return 0;
    }
    if (!start.Plan(PluginId, request, callback, layout.width, layout.height)) return 0;
    const Region &region = start.region;

    const uint64_t width = uint64_t(layout.width), height = uint64_t(layout.height);
    auto storedRow = [&](int64_t y) { return layout.topDown ? uint64_t(y) : height - 1 - uint64_t(y); };

    if (layout.compression == bmp::BiRle8 || layout.compression == bmp::BiRle4) {
        std::vector<uint8_t> stream(size_t(layout.dataSize));
        if (!ReadAt(source.get(), layout.dataOffset, stream.data(), stream.size())) {
            Record(ErrDamaged, EntryRead, PlaceInput, name);
            return 0;
        }
        std::vector<uint8_t> indices(size_t(width * height));
        result = bmp::DecodeRle(layout, stream.data(), stream.size(), indices.data());
        if (result != Result::Ok) {
            RecordResult(result, EntryRead, name);
            return 0;
        }
        for (int64_t y = region.top; y < region.bottom; y++)
            if (!Deliver(callback, request, layout, region, y, &indices[storedRow(y) * width]))
                return Q32_READ_STOPPED;
        return 1;
    }

    /* Uncompressed: a chunk of stored rows at a time, in the order the region needs. */
    const uint64_t stride = layout.stride;
    uint64_t chunkRows = stride < ChunkBytes ? ChunkBytes / stride : 1;
    if (chunkRows > uint64_t(region.bottom - region.top)) chunkRows = uint64_t(region.bottom - region.top);
    std::vector<uint8_t> chunk(size_t(stride * chunkRows));
    /* 24-bit rows are stored as they are delivered: handed on from the chunk as they
       stand, without a copy. */
    const bool asStored = layout.bitCount == 24;
    std::vector<uint8_t> row(asStored ? 0 : size_t(bmp::RowBytes(layout.kind, width)));
    for (int64_t y = region.top; y < region.bottom;) {
        uint64_t count = uint64_t(region.bottom - y);
        if (count > chunkRows) count = chunkRows;
        uint64_t first = layout.topDown ? storedRow(y) : storedRow(y + int64_t(count) - 1);
        if (!ReadAt(source.get(), layout.dataOffset + first * stride, chunk.data(), count * stride)) {
            Record(ErrDamaged, EntryRead, PlaceInput, name);
            return 0;
        }
        for (uint64_t i = 0; i < count; i++, y++) {
            uint8_t *stored = &chunk[size_t((storedRow(y) - first) * stride)];
            if (!asStored && (result = bmp::DecodeRow(layout, stored, row.data())) != Result::Ok) {
                RecordResult(result, EntryRead, name);
                return 0;
            }
            if (!Deliver(callback, request, layout, region, y, asStored ? stored : row.data()))
                return Q32_READ_STOPPED;
        }
    }
    return 1;
}

/* The kind of rows a FileData describes for writing; false when a bitmap cannot hold it
   or its bits per pixel do not fit its data type (the rows' size depends on both). */
bool WriteKindOf(const ImageDescription &raster, Kind &kind)
{
    struct Choice { DWORD type; DWORD bits; Kind kind; };
    static const Choice kinds[] = {
        {Q32_TYPE_BILEVEL, 1, Kind::Bilevel}, {Q32_TYPE_PALETTE4, 4, Kind::Index4},
        {Q32_TYPE_GREY4, 4, Kind::Grey4},     {Q32_TYPE_COLOURS16, 8, Kind::Index4},
        {Q32_TYPE_PALETTE8, 8, Kind::Index8}, {Q32_TYPE_GREY8, 8, Kind::Grey8},
        {Q32_TYPE_RGB, 24, Kind::Rgb24},      {Q32_TYPE_BGRA, 32, Kind::Bgra32},
    };
    for (const Choice &e : kinds) {
        bool match = raster.dataType ? raster.dataType == e.type && raster.bitsPerPixel == e.bits
                                     : raster.bitsPerPixel == e.bits && e.type != Q32_TYPE_GREY4 &&
                                           e.type != Q32_TYPE_COLOURS16 && e.type != Q32_TYPE_GREY8;
        if (match) {
            kind = e.kind;
            return true;
        }
    }
    return false;
}

/* Output in pieces: rows are gathered and written about ChunkBytes at a time. */
class Sink {
public:
    explicit Sink(HANDLE file) : file_(file) {}
    bool Put(const uint8_t *data, size_t bytes)
    {
        buffer_.insert(buffer_.end(), data, data + bytes);
        written_ += bytes;
        return buffer_.size() < ChunkBytes || Flush();
    }
    bool Flush()
    {
        bool ok = WriteAll(file_, buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }
    uint64_t written() const { return written_; }

private:
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
};

/******************************************************************
 *      Write
 */
int Write(HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    FileData facts;
    if (!request || !callback || !file || file == INVALID_HANDLE_VALUE ||
        !CopyFileData(fileData, facts)) {
        Record(ErrCannot, EntryWrite, PlaceArguments);
        return 0;
    }
    Layout layout;
    if (!WriteKindOf(facts.raster, layout.kind)) {
        Record(ErrCannot, EntryWrite, PlaceType);
        return 0;
    }
    layout.width = request->rasterWidth;
    layout.height = request->rasterHeight;
    if (layout.width == 0 && layout.height == 0) {
        layout.width = facts.raster.width;
        layout.height = facts.raster.height;
    }
    if ((layout.kind == Kind::Bilevel || layout.kind == Kind::Index4 || layout.kind == Kind::Index8) &&
        facts.raster.palette) {
        PALETTEENTRY entries[256];
        UINT count = GetPaletteEntries(facts.raster.palette, 0, 256, entries);
        for (UINT i = 0; i < count && i < 256; i++)
            layout.palette[i] = bmp::Colour{entries[i].peRed, entries[i].peGreen, entries[i].peBlue};
        layout.paletteEntries = count > 256 ? 256 : count;
    }
    layout.xPelsPerMeter = LONG((uint64_t(facts.raster.resolutionX) + 127) / 254);
    layout.yPelsPerMeter = LONG((uint64_t(facts.raster.resolutionY) + 127) / 254);
    layout.compression = facts.compression == Q32_COMPRESS_RLE8   ? bmp::BiRle8
                         : facts.compression == Q32_COMPRESS_RLE4 ? bmp::BiRle4
                                                                  : bmp::BiRgb;
    Result result = bmp::PlanWrite(layout);
    if (result != Result::Ok) {
        Record(ErrCannot, EntryWrite, int(result));
        return 0;
    }
    const bool rle = layout.compression == bmp::BiRle8 || layout.compression == bmp::BiRle4;

    LARGE_INTEGER start = {};
    std::vector<uint8_t> headers = bmp::BuildHeaders(layout);
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !WriteAll(file, headers.data(), headers.size())) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }

    /* Rows are asked for in file order: bottom row first. */
    Sink sink(file);
    std::vector<uint8_t> row(size_t(bmp::RowBytes(layout.kind, uint64_t(layout.width))));
    std::vector<uint8_t> stored(rle ? 0 : size_t(layout.stride));
    std::vector<uint8_t> runs;
    for (int64_t y = int64_t(layout.height) - 1; y >= 0; y--) {
        void *rows[1] = {row.data()};
        if (!callback(request, request->rasterX, LONG(request->rasterY + y), layout.width, 1, rows,
                      Q32_ROW_PULL, 0, 0))
            return Q32_WRITE_STOPPED;
        result = bmp::CheckRow(layout, row.data());
        if (result != Result::Ok) {
            Record(ErrCannot, EntryWrite, int(result));
            return 0;
        }
        bool ok;
        if (rle) {
            runs.clear();
            bmp::EncodeRleRow(layout, row.data(), runs);
            if (y == 0) bmp::EncodeRleEnd(runs);
            ok = sink.Put(runs.data(), runs.size());
        } else {
            bmp::EncodeRow(layout, row.data(), stored.data());
            ok = sink.Put(stored.data(), stored.size());
        }
        if (!ok) {
            Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
            return 0;
        }
    }
    if (!sink.Flush()) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }
    if (rle) {
        /* Now that the data's size is known, the headers again. */
        layout.dataSize = sink.written();
        if (layout.dataOffset + layout.dataSize > 0xFFFFFFFFu) {
            Record(ErrCannot, EntryWrite, int(Result::TooLarge));
            return 0;
        }
        headers = bmp::BuildHeaders(layout);
        if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
            !WriteAll(file, headers.data(), headers.size())) {
            Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
            return 0;
        }
        LARGE_INTEGER end;
        end.QuadPart = LONGLONG(layout.dataOffset + layout.dataSize);
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    }
    /* Writing over a longer file leaves nothing of it behind. */
    if (!SetEndOfFile(file)) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }
    return 1;
}

void Describe(FormatInfo &info)
{
    fio::DescribeFormat(info, Q32_CAP_ALL_RASTER, "BMP", "Windows and OS/2 Bitmap");
    info.signatureLength1 = 2;
    info.signature1[0] = 'B';
    info.signature1[1] = 'M';
}

} // namespace

/* ---- Entries: no exception leaves them. ---- */

FIO_ONE_FORMAT_ENTRIES(PluginId, Describe, GetFileData, Read, Write);
