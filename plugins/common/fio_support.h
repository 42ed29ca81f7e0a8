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

/* Runs an entry's work; running out of memory inside it is recorded as error 1004 at
   (pluginId, entry, place) and gives failure. */
template <typename R, typename F>
R Guarded(int pluginId, int entry, int place, R failure, F work)
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        RecordError(pluginId, 1004, entry, place);
        return failure;
    }
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

/* A copy of a FileData block with its name terminated; false for null or an undersized
   block. */
bool CopyFileData(HGLOBAL block, FileData &copy);

} // namespace fio

#endif
