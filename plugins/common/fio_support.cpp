/* What the shipped format plug-ins share. */
#include "fio_support.h"
#include <shlwapi.h>
#include "q32comm.h"

namespace fio {

namespace {
/* Reads and writes go in pieces of at most this many bytes. */
constexpr uint64_t PieceBytes = 1 << 20;
}

void RecordError(int pluginId, UINT id, int entry, int place, const char *name)
{
    if (!name || !*name) {
        c32SetDLLErrInfo(nullptr, id, 0, pluginId, entry, place);
        return;
    }
    char text[C32_ERRTEXT_SIZE] = "";
    char formatted[C32_ERRTEXT_SIZE];
    c32GetString(id, text, sizeof text);
    wnsprintfA(formatted, sizeof formatted, text, name);
    c32SetDLLErrInfo(formatted, id, 0, pluginId, entry, place);
}

bool Source::Open(HANDLE given, const char *name)
{
    if (given && given != INVALID_HANDLE_VALUE) {
        handle_ = given;
        return true;
    }
    if (!name || !*name) return false;
    owned_.reset(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    handle_ = owned_.get();
    return bool(owned_);
}

bool ReadAt(HANDLE file, uint64_t offset, void *buffer, uint64_t bytes, uint64_t *got)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    if (got) *got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    auto *p = static_cast<BYTE *>(buffer);
    while (bytes) {
        DWORD part = bytes > PieceBytes ? DWORD(PieceBytes) : DWORD(bytes), read = 0;
        if (!ReadFile(file, p, part, &read, nullptr)) return false;
        if (read == 0) return got != nullptr;
        p += read;
        bytes -= read;
        if (got) *got += read;
    }
    return true;
}

bool WriteAll(HANDLE file, const void *data, size_t bytes)
{
    auto *p = static_cast<const BYTE *>(data);
    while (bytes) {
        DWORD part = bytes > PieceBytes ? DWORD(PieceBytes) : DWORD(bytes), put = 0;
        if (!WriteFile(file, p, part, &put, nullptr) || put == 0) return false;
        p += put;
        bytes -= put;
    }
    return true;
}

uint64_t FileSizeOf(HANDLE file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? uint64_t(size.QuadPart) : 0;
}

bool ReadWhole(HANDLE file, std::vector<uint8_t> &bytes, uint64_t limit)
{
    uint64_t size = FileSizeOf(file);
    if (size > limit) return false;
    bytes.resize(size_t(size));
    return bytes.empty() || ReadAt(file, 0, bytes.data(), bytes.size());
}

bool Sink::Put(const void *data, size_t bytes)
{
    auto *p = static_cast<const uint8_t *>(data);
    buffer_.insert(buffer_.end(), p, p + bytes);
    written_ += bytes;
    return buffer_.size() < PieceBytes || Flush();
}

bool Sink::Flush()
{
    bool ok = WriteAll(file_, buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool RequestedRegion(const ImageRequest &request, int64_t width, int64_t height, bool bilevel,
                     Region &region)
{
    int64_t wide = request.rasterWidth, high = request.rasterHeight;
    if (wide == 0 && high == 0) {
        wide = width - request.rasterX;
        high = height - request.rasterY;
    }
    region.left = request.rasterX > 0 ? request.rasterX : 0;
    region.top = request.rasterY > 0 ? request.rasterY : 0;
    region.right = int64_t(request.rasterX) + wide;
    region.bottom = int64_t(request.rasterY) + high;
    if (region.right > width) region.right = width;
    if (region.bottom > height) region.bottom = height;
    if (region.left >= region.right || region.top >= region.bottom) return false;
    if (bilevel) region.left &= ~int64_t(7);
    return true;
}

bool CopyFileData(HGLOBAL block, FileData &copy)
{
    if (!block || GlobalSize(block) < sizeof(FileData)) return false;
    fio::Locked<FileData> data(block);
    if (!data) return false;
    copy = *data.get();
    copy.name[sizeof copy.name - 1] = 0;
    return true;
}

bool ReadStart::Begin(int pluginId, HANDLE file, const char *given, HGLOBAL fileData,
                      const ImageRequest *request, RowCallback callback)
{
    if (!request || !callback || !CopyFileData(fileData, facts)) {
        RecordError(pluginId, ErrCannot, EntryRead, PlaceArguments);
        return false;
    }
    name = given && *given ? given : facts.name;
    if (!source.Open(file, name)) {
        RecordError(pluginId, ErrOpen, EntryRead, PlaceOpen, name);
        return false;
    }
    return true;
}

bool ReadStart::Plan(int pluginId, ImageRequest *&request, RowCallback &callback, int64_t width,
                     int64_t height, int typesPlace)
{
    const ImageDescription &raster = facts.raster;
    if (!RequestedRegion(*request, width, height, raster.dataType == Q32_TYPE_BILEVEL, region)) {
        RecordError(pluginId, ErrCannot, EntryRead, PlaceRegion);
        return false;
    }
    if (!delivery.Plan(request, callback, raster.dataType, raster.bitsPerPixel,
                       Colours(raster.palette), raster.palette != nullptr)) {
        RecordError(pluginId, ErrCannot, EntryRead, typesPlace);
        return false;
    }
    request = delivery.Request();
    callback = delivery.Callback();
    return true;
}

HGLOBAL NewFormatInfo(void (*describe)(FormatInfo &info))
{
    GlobalHandle block(GlobalAlloc(GHND, sizeof(FormatInfo)));
    {
        Locked<FormatInfo> info(block.get());
        if (!info) return nullptr;
        describe(*info.get());
    }
    return block.release();
}

void DescribeFormat(FormatInfo &info, WORD caps, const char *code, const char *description)
{
    info.flags = 1;
    info.typeCaps = caps;
    info.vectorType = -1;
    lstrcpynA(info.code, code, sizeof info.code);
    lstrcpynA(info.description, description, sizeof info.description);
}

} // namespace fio
