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
#include <vector>
#include "q32types.h"
#include "holders.h"

namespace fio {

/* Records error id at (pluginId, entry, place); its text names the file when a name is
   given. */
void RecordError(int pluginId, UINT id, int entry, int place, const char *name = nullptr);

/* Error identifiers of the common library that the plug-ins record. */
enum : UINT {
    ErrNoMemory = 1004,
    ErrDamaged = 4020,     /* damaged or incomplete */
    ErrTooLarge = 4021,    /* the image is too large to be read */
    ErrCannot = 4026       /* the operation cannot be done */
};

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
    q32::FileHandle owned_;
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

} // namespace fio

#endif
