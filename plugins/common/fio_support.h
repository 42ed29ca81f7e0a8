/*
 * What the shipped format plug-ins share: recording an error in the common library's
 * slot, the file being read (the caller's handle or one opened by name), whole reads and
 * writes in pieces, and a checked copy of a FileData block.
 */
#ifndef Q32_FIO_SUPPORT_H
#define Q32_FIO_SUPPORT_H

#include <windows.h>
#include <stdint.h>
#include <new>
#include <type_traits>
#include <vector>
#include "q32types.h"
#include "q32fio.h"
#include "fio_rows.h"
#include "fio_holders.h"

namespace fio {

/* Records error id at (pluginId, entry, place); its text names the file when a name is
   given. */
void RecordError(int pluginId, UINT id, int entry, int place, const char *name = nullptr);

/* The kit's error numbers, error places and entry offsets, by the plug-ins' names. */
inline namespace errors {
enum : UINT {
    ErrNoMemory = QF_ERR_NO_MEMORY, ErrOpen = QF_ERR_OPEN, ErrWrite = QF_ERR_WRITE,
    ErrDamaged = QF_ERR_DAMAGED, ErrTooLarge = QF_ERR_TOO_LARGE,
    ErrUnsupported = QF_ERR_UNSUPPORTED, ErrCannot = QF_ERR_CANNOT
};
enum Place : int {
    PlaceArguments = QF_PLACE_ARGUMENTS, PlaceOpen = QF_PLACE_OPEN, PlaceInput = QF_PLACE_INPUT,
    PlaceOutput = QF_PLACE_OUTPUT, PlaceMemory = QF_PLACE_MEMORY, PlaceChanged = QF_PLACE_CHANGED,
    PlaceType = QF_PLACE_TYPE, PlaceRegion = QF_PLACE_REGION, PlaceTypes = QF_PLACE_TYPES
};
enum Entry : int {
    EntryCommand = QF_ENTRY_COMMAND, EntryFileData = QF_ENTRY_GETFILEDATA,
    EntrySaveOptions = QF_ENTRY_SHOWDLGSAVEOPTION, EntryRead = QF_ENTRY_READ,
    EntryWrite = QF_ENTRY_WRITE, EntryOpenOptions = QF_ENTRY_SHOWDLGOPENOPTION,
    EntryProperty = QF_ENTRY_GETPROPERTY
};
} // namespace errors

/* Runs an entry's work; running out of memory inside it is recorded as error 1004 at
   (pluginId, entry, place), any other exception as 4026 there; both give failure. No
   exception leaves an entry. */
template <typename R, typename F>
R Guarded(int pluginId, int entry, int place, R failure, F work)
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        RecordError(pluginId, ErrNoMemory, entry, place);
    } catch (...) {
        RecordError(pluginId, ErrCannot, entry, place);
    }
    return failure;
}

/*
 * Size limits of the readers. An image is read only when its width and height fit a
 * LONG, one row of it (bits bits a pixel) takes at most MaxImageBytes bytes and so does
 * the whole image: 2 GB, the largest buffer whose size a 32-bit product can hold. A
 * larger declared size is refused with ErrTooLarge before anything is allocated for it.
 */
constexpr uint64_t MaxImageBytes = uint64_t(1) << 31;

inline bool ImageFits(uint64_t width, uint64_t height, uint64_t bits)
{
    if (width == 0 || height == 0 || bits == 0 || bits > 64) return false;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
    uint64_t row = (width * bits + 7) / 8;
    return row <= MaxImageBytes / height;
}

/* The file being read: the caller's handle, or one opened here by name and closed with
   this object. */
class Source {
public:
    bool Open(HANDLE given, const char *name);
    HANDLE get() const { return handle_; }

private:
    FileHandle owned_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/* Reads bytes at offset. With got, a read that meets the end of the file succeeds and
   got says how much came; without it the end is a failure. */
bool ReadAt(HANDLE file, uint64_t offset, void *buffer, uint64_t bytes, uint64_t *got = nullptr);
bool WriteAll(HANDLE file, const void *data, size_t bytes);
/* The file's size, 0 when it cannot be told. */
uint64_t FileSizeOf(HANDLE file);
/* The whole file; false when it cannot be read or is longer than limit bytes. */
bool ReadWhole(HANDLE file, std::vector<uint8_t> &bytes, uint64_t limit);

/* Output in pieces: what is put is gathered and written about 1 MB at a time. */
class Sink {
public:
    explicit Sink(HANDLE file) : file_(file) {}
    bool Put(const void *data, size_t bytes);
    bool Flush();
    uint64_t written() const { return written_; }

private:
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
};

/* The part of an image (width x height) that a request asks for (all of it for a size of
   0 x 0), cut at the image's edges; false when nothing is left. Part rows of packed
   one-bit pixels (bilevel) start at a byte; only a region with pixels in the image is
   widened, or one starting past the right edge would reach back into it. */
struct Region {
    int64_t left, top, right, bottom;
};
bool RequestedRegion(const ImageRequest &request, int64_t width, int64_t height, bool bilevel,
                     Region &region);

/* A copy of a FileData block with its name terminated; false for null or an undersized
   block. */
bool CopyFileData(HGLOBAL block, FileData &copy);

/* The start of a read entry, its failures recorded at (pluginId, EntryRead, place). */
class ReadStart {
public:
    /* Checks the arguments and copies the FileData (else 4026 at PlaceArguments), names
       the file by the FileData when the caller gives no name, and opens it (else 4004 at
       PlaceOpen). */
    bool Begin(int pluginId, HANDLE file, const char *name, HGLOBAL fileData,
               const ImageRequest *request, RowCallback callback);
    /* Once the file is known to match the FileData: the request's region of an image of
       width x height (else 4026 at PlaceRegion) and the delivery of rows stored as the
       FileData describes them (else 4026 at typesPlace); request and callback become the
       delivery's. */
    bool Plan(int pluginId, ImageRequest *&request, RowCallback &callback, int64_t width,
              int64_t height, int typesPlace = QF_PLACE_TYPES);

    FileData facts;
    const char *name = nullptr;
    Source source;
    Region region{};
    TypedDelivery delivery;
};

/* A GDI palette of count entries, each with red, green and blue; null on failure. */
template <typename Entry>
HPALETTE MakePalette(const Entry *entries, uint32_t count)
{
    std::vector<BYTE> block(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
    auto *palette = reinterpret_cast<LOGPALETTE *>(block.data());
    palette->palVersion = 0x300;
    palette->palNumEntries = WORD(count);
    for (uint32_t i = 0; i < count; i++)
        palette->palPalEntry[i] = PALETTEENTRY{entries[i].red, entries[i].green, entries[i].blue, 0};
    return CreatePalette(palette);
}

/* A new movable block (entry +11) with the FormatInfo that describe fills, or null. */
HGLOBAL NewFormatInfo(void (*describe)(FormatInfo &info));
/* What every shipped format says: it takes part in detection, writes the Q32_CAP_* caps,
   has no vector output, and its code and description. */
void DescribeFormat(FormatInfo &info, WORD caps, const char *code, const char *description);

} // namespace fio

/* The compiler checks an exported entry against the kit's type of entry kind. */
#define FIO_CHECK_ENTRY(function, kind)                                                     \
    static_assert(std::is_same_v<decltype(&function), PFN_##kind>, #function " is a " #kind)

/*
 * The exports of a plug-in of one format that reads and writes: qfDLLGetFileFmtNum (1),
 * +11 (describe fills the FormatInfo), +12, +16 and +17, which run getFileData(file,
 * name), read(start, request, callback) once a ReadStart has begun, and write(file,
 * fileData, request, callback) under Guarded, so that no exception leaves them. Each is checked against the
 * kit's entry type.
 */
#define FIO_ONE_FORMAT_ENTRIES(pluginId, describe, getFileData, read, write)                 \
    extern "C" int WINAPI qfDLLGetFileFmtNum(void) { return 1; }                            \
    extern "C" HGLOBAL WINAPI qfDLLGetFormatInfo(void) { return fio::NewFormatInfo(describe); } \
    extern "C" INT_PTR WINAPI qfDLLGetFileData(HANDLE file, const char *name, DWORD, const char *) \
    {                                                                                        \
        return fio::Guarded(pluginId, fio::EntryFileData, fio::PlaceMemory,                  \
                            INT_PTR(QF_FILEDATA_FAILED), [&] { return getFileData(file, name); }); \
    }                                                                                        \
    extern "C" INT_PTR WINAPI qfDLLRead(HANDLE file, const char *name, HGLOBAL fileData,    \
                                        ImageRequest *request, RowCallback callback, DWORD) \
    {                                                                                        \
        return fio::Guarded(pluginId, fio::EntryRead, fio::PlaceMemory, INT_PTR(0), [&] {   \
            fio::ReadStart start;                                                            \
            return start.Begin(pluginId, file, name, fileData, request, callback)            \
                       ? INT_PTR(read(start, request, callback)) : INT_PTR(0);               \
        });                                                                                  \
    }                                                                                        \
    extern "C" int WINAPI qfDLLWrite(HANDLE file, HGLOBAL fileData, ImageRequest *request,  \
                                     RowCallback callback)                                   \
    {                                                                                        \
        return fio::Guarded(pluginId, fio::EntryWrite, fio::PlaceMemory, 0,                  \
                            [&] { return write(file, fileData, request, callback); });       \
    }                                                                                        \
    FIO_CHECK_ENTRY(qfDLLGetFileFmtNum, qfDLLGetFileFmtNum);                                 \
    FIO_CHECK_ENTRY(qfDLLGetFormatInfo, qfDLLGetFormatInfo);                                 \
    FIO_CHECK_ENTRY(qfDLLGetFileData, qfDLLGetFileData);                                     \
    FIO_CHECK_ENTRY(qfDLLRead, qfDLLRead);                                                   \
    FIO_CHECK_ENTRY(qfDLLWrite, qfDLLWrite)


#endif
