/*
 * tga.fio: the format plug-in of Truevision Targa files (one format, "TGA").
 *
 * Entries (ordinals of format 0): qfDLLGetFormatInfo +11, qfDLLGetFileData +12,
 * qfDLLRead +16, qfDLLWrite +17; qfDLLGetFileFmtNum by name. The file itself is read and
 * written by the codec (tga_codec.h); this file moves bytes between it, the file and the
 * caller's row callback, and records failures in the common library's error slot.
 * TGA has no signature: the format is known by a plausible header (and the TGA 2.0
 * footer), so it is asked for files that claim its extensions and, last, in the probe.
 */
#include <windows.h>
#include <shlwapi.h>
#include <memory>
#include <new>
#include <vector>
#include "q32types.h"
#include "q32fio.h"
#include "q32comm.h"
#include "fio_support.h"
#include "fio_rows.h"
#include "tga_codec.h"

using fio::CopyFileData;
using fio::ReadAt;
using tga::Kind;
using tga::Layout;
using tga::Result;

namespace {

/* Errors are recorded at (PluginId, entry offset, place); the place is the codec's
   Result number or one of the kit's. */
constexpr int PluginId = 1793;
using namespace fio::errors;

/* Uncompressed rows are read about this many bytes at a time. */
constexpr uint64_t ChunkBytes = 1 << 20;

void Record(UINT id, int entry, int place, const char *name = nullptr)
{
    fio::RecordError(PluginId, id, entry, place, name);
}

void RecordResult(Result result, int entry, const char *name)
{
    UINT id = result == Result::TooLarge   ? UINT(fio::ErrTooLarge)
              : tga::IsUnsupported(result) ? ErrUnsupported
                                           : ErrDamaged;
    Record(id, entry, int(result), name);
}

/* The open file, for the codec. A read that fails is remembered: it is not damage. */
class FileSource : public tga::Source {
public:
    explicit FileSource(HANDLE file) : file_(file), size_(fio::FileSizeOf(file)) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void *buffer, size_t bytes) override
    {
        if (offset > size_ || bytes > size_ - offset) return false;
        if (ReadAt(file_, offset, buffer, bytes)) return true;
        failed = true;
        return false;
    }
    bool failed = false;

private:
    HANDLE file_;
    uint64_t size_;
};

DWORD DataTypeOf(Kind kind)
{
    switch (kind) {
    case Kind::Index8: return Q32_TYPE_PALETTE8;
    case Kind::Grey8: return Q32_TYPE_GREY8;
    case Kind::Rgb24: return Q32_TYPE_RGB;
    default: return Q32_TYPE_BGRA;
    }
}

/******************************************************************
 *      GetFileData
 */
INT_PTR GetFileData(HANDLE file, const char *name)
{
    fio::Source source;
    if (!source.Open(file, name)) {
        Record(ErrOpen, EntryFileData, PlaceOpen, name);
        return -1;
    }
    FileSource input(source.get());
    Layout layout;
    Result result = tga::ReadLayout(input, layout);
    if (input.failed) {
        Record(ErrDamaged, EntryFileData, PlaceInput, name);
        return -1;
    }
    if (result == Result::NotTga) return 0;
    if (result != Result::Ok) {
        RecordResult(result, EntryFileData, name);
        return -1;
    }

    HPALETTE palette = nullptr;
    if (layout.kind == Kind::Index8 && !(palette = fio::MakePalette(layout.palette, layout.paletteEntries))) {
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
    data->fileSize = input.Size() > 0xFFFFFFFF ? 0xFFFFFFFFu : DWORD(input.Size());
    data->readable = 1;
    data->compression = layout.rle ? Q32_COMPRESS_RLE : Q32_COMPRESS_NONE;
    data->raster.bitsPerPixel = tga::BitsPerPixel(layout.kind);
    data->raster.width = layout.width;
    data->raster.height = layout.height;
    data->raster.dataType = DataTypeOf(layout.kind);
    data->raster.palette = palette;
    data->writeKind = Q32_WRITE_ANY;
    return INT_PTR(block.release());
}

using fio::Region;

/* Decodes one stored row (or takes it as it stands) and hands it to the callback, cut to
   the region. 0: stop, -1: a bad pixel (recorded). */
int Deliver(RowCallback callback, ImageRequest *request, const Layout &layout, const Region &region,
            int64_t y, uint8_t *stored, uint8_t *row, const char *name)
{
    if (tga::RowsAsStored(layout)) {
        row = stored;
    } else {
        Result result = tga::DecodeRow(layout, stored, row);
        if (result != Result::Ok) {
            RecordResult(result, EntryRead, name);
            return -1;
        }
    }
    void *rows[1] = {row + tga::RowBytes(layout.kind, uint64_t(region.left))};
    return callback(request, LONG(region.left), LONG(y), LONG(region.right - region.left), 1, rows, 0, 0, 0)
               ? 1 : 0;
}

/******************************************************************
 *      Read
 */
INT_PTR Read(fio::ReadStart &start, ImageRequest *request, RowCallback callback)
{
    const FileData &facts = start.facts;
    const char *name = start.name;
    fio::Source &source = start.source;
    FileSource input(source.get());
    Layout layout;
    Result result = tga::ReadLayout(input, layout);
    if (input.failed) {
        Record(ErrDamaged, EntryRead, PlaceInput, name);
        return 0;
    }
    if (result != Result::Ok) {
        RecordResult(result == Result::NotTga ? Result::ShortHeader : result, EntryRead, name);
        return 0;
    }
    /* The caller sizes its rows by the FileData: the file must still match it. */
    if (facts.raster.width != layout.width || facts.raster.height != layout.height ||
        facts.raster.bitsPerPixel != tga::BitsPerPixel(layout.kind) ||
        facts.raster.dataType != DataTypeOf(layout.kind)) {
        Record(ErrDamaged, EntryRead, PlaceChanged, name);
        return 0;
    }
    if (!start.Plan(PluginId, request, callback, layout.width, layout.height)) return 0;
    const Region &region = start.region;

    const uint64_t height = uint64_t(layout.height), stride = tga::StoredRowBytes(layout);
    auto storedRow = [&](int64_t y) { return layout.topDown ? uint64_t(y) : height - 1 - uint64_t(y); };
    std::vector<uint8_t> row(size_t(tga::RowBytes(layout.kind, uint64_t(layout.width))));

    if (layout.rle) {
        /* The stream in pieces: whole packets decoded, the rest kept for the next piece.
           The pixels are filled whole before they are read: no need to clear them. */
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(stride * height)]);
        std::vector<uint8_t> piece(size_t(ChunkBytes) + tga::MaxPacketBytes);
        const uint64_t total = uint64_t(layout.width) * height, end = layout.dataOffset + layout.dataSize;
        uint64_t at = layout.dataOffset, done = 0;
        size_t kept = 0;
        while (done < total) {
            size_t want = size_t(piece.size() - kept < end - at ? piece.size() - kept : end - at);
            if (want && !ReadAt(source.get(), at, piece.data() + kept, want)) {
                Record(ErrDamaged, EntryRead, PlaceInput, name);
                return 0;
            }
            at += want;
            size_t have = kept + want, used = tga::DecodeRlePackets(layout, piece.data(), have, pixels.get(), done);
            if (used == 0 && want == 0) break;
            kept = have - used;
            memmove(piece.data(), piece.data() + used, kept);
        }
        if (done < total) {
            RecordResult(Result::ShortData, EntryRead, name);
            return 0;
        }
        for (int64_t y = region.top; y < region.bottom; y++) {
            int delivered = Deliver(callback, request, layout, region, y, &pixels[size_t(storedRow(y) * stride)],
                                    row.data(), name);
            if (delivered <= 0) return delivered < 0 ? 0 : Q32_READ_STOPPED;
        }
        return 1;
    }

    /* Uncompressed: a chunk of stored rows at a time, in the order the region needs. */
    uint64_t chunkRows = stride < ChunkBytes ? ChunkBytes / stride : 1;
    if (chunkRows > uint64_t(region.bottom - region.top)) chunkRows = uint64_t(region.bottom - region.top);
    std::vector<uint8_t> chunk(size_t(stride * chunkRows));
    for (int64_t y = region.top; y < region.bottom;) {
        uint64_t count = uint64_t(region.bottom - y);
        if (count > chunkRows) count = chunkRows;
        uint64_t first = layout.topDown ? storedRow(y) : storedRow(y + int64_t(count) - 1);
        if (!ReadAt(source.get(), layout.dataOffset + first * stride, chunk.data(), size_t(count * stride))) {
            Record(ErrDamaged, EntryRead, PlaceInput, name);
            return 0;
        }
        for (uint64_t i = 0; i < count; i++, y++) {
            int delivered = Deliver(callback, request, layout, region, y,
                                    &chunk[size_t((storedRow(y) - first) * stride)], row.data(), name);
            if (delivered <= 0) return delivered < 0 ? 0 : Q32_READ_STOPPED;
        }
    }
    return 1;
}

/******************************************************************
 *      Write
 *
 * 24-bit colour, or 32-bit with its alpha declared in an extension area; run lengths
 * when the FileData's compression asks for them. Rows are asked for top row first.
 */
int Write(HANDLE file, HGLOBAL fileData, ImageRequest *request, RowCallback callback)
{
    FileData facts;
    if (!request || !callback || !file || file == INVALID_HANDLE_VALUE || !CopyFileData(fileData, facts)) {
        Record(ErrCannot, EntryWrite, PlaceArguments);
        return 0;
    }
    Layout layout;
    const ImageDescription &raster = facts.raster;
    if ((raster.dataType == Q32_TYPE_RGB || raster.dataType == 0) && raster.bitsPerPixel == 24) {
        layout.kind = Kind::Rgb24;
    } else if ((raster.dataType == Q32_TYPE_BGRA || raster.dataType == 0) && raster.bitsPerPixel == 32) {
        layout.kind = Kind::Bgra32;
    } else {
        Record(ErrCannot, EntryWrite, PlaceType);
        return 0;
    }
    int64_t width = request->rasterWidth, height = request->rasterHeight;
    if (width == 0 && height == 0) width = raster.width, height = raster.height;
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF ||
        tga::RowBytes(layout.kind, uint64_t(width)) * uint64_t(height) > tga::MaxImageBytes) {
        Record(ErrCannot, EntryWrite, int(Result::TooLarge));
        return 0;
    }
    layout.width = int32_t(width);
    layout.height = int32_t(height);
    layout.rle = facts.compression == Q32_COMPRESS_RLE;

    LARGE_INTEGER start = {};
    std::vector<uint8_t> header = tga::BuildHeader(layout);
    fio::Sink sink(file);
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !sink.Put(header.data(), header.size())) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }
    std::vector<uint8_t> row(size_t(tga::RowBytes(layout.kind, uint64_t(width)))), stored;
    for (int64_t y = 0; y < height; y++) {
        void *rows[1] = {row.data()};
        if (!callback(request, request->rasterX, LONG(request->rasterY + y), LONG(width), 1, rows, Q32_ROW_PULL, 0, 0))
            return Q32_WRITE_STOPPED;
        stored.clear();
        tga::EncodeRow(layout, row.data(), stored);
        if (!sink.Put(stored.data(), stored.size())) {
            Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
            return 0;
        }
    }
    std::vector<uint8_t> trailer = tga::BuildTrailer(layout, sink.written());
    /* Writing over a longer file leaves nothing of it behind. */
    if (!sink.Put(trailer.data(), trailer.size()) || !sink.Flush() || !SetEndOfFile(file)) {
        Record(ErrWrite, EntryWrite, PlaceOutput, facts.name);
        return 0;
    }
    return 1;
}

/* TGA's other extensions, entered into the suite's extension lists when the format is
   registered and the user has no list of it yet (they count from the next start). */
void OfferExtensions()
{
    char ini[MAX_PATH] = "", value[8];
    q32GetQuillIniFileName(ini, sizeof ini);
    if (*ini && !GetPrivateProfileStringA("FIO_EXT", "TGA_EXT", "", value, sizeof value, ini))
        WritePrivateProfileStringA("FIO_EXT", "TGA_EXT", "VDA;ICB;VST;", ini);
}

void Describe(FormatInfo &info)
{
    fio::DescribeFormat(info, Q32_CAP_RGB | Q32_CAP_BGRA, "TGA", "Truevision Targa");
    OfferExtensions();
}

} // namespace

/* ---- Entries: no exception leaves them. ---- */

FIO_ONE_FORMAT_ENTRIES(PluginId, Describe, GetFileData, Read, Write);
