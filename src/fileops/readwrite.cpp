/* Reading and writing raster images and vector data through the plug-ins. Writes go to
   a work file beside the target that replaces it in one step when the plug-in succeeds. */
#include "fileops.h"
#include <string.h>

namespace {

/* Capability bit 0x80 of a format that does not declare vector writing refuses it. */
enum { NoVectorWrite = Q32_CAP_VECTOR };

/* Calls the plug-in's read-kind entry with the file it expects: an open handle at the
   start of the file, or none when the plug-in opens files itself. */
template <typename Call>
INT_PTR WithReadHandle(q32::FileHandle &file, const FormatRecord &record, Call call)
{
    if (record.info.flags & FI_OPENS_FILE) {
        file.reset();
        return call(HANDLE(nullptr));
    }
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    return call(file.get());
}

/* The capability bit that says a vector type code can be written; 0 for a type code
   without one. */
WORD VectorTypeBit(LONG type)
{
    switch (type) {
    case Q32_TYPE_BILEVEL: return Q32_CAP_BILEVEL;
    case Q32_TYPE_GREY8: return Q32_CAP_GREY8;
    case Q32_TYPE_PALETTE8: return Q32_CAP_PALETTE8;
    case Q32_TYPE_GREY4: return Q32_CAP_GREY4;
    case Q32_TYPE_PALETTE4: return Q32_CAP_PALETTE4;
    case Q32_TYPE_RGB: return Q32_CAP_RGB;
    case Q32_TYPE_BGRA: return Q32_CAP_BGRA;
    default: return 0;
    }
}

/* The work file of target: in the name part, everything after the last '.' becomes
   "$$$" (or ".$$$" is appended). False when that name would not fit. */
bool MakeWorkName(const char *target, char work[Q32_MAX_NAME])
{
    char name[Q32_MAX_NAME], folder[Q32_MAX_NAME];
    qfdSplitPathname(target, name, folder);
    size_t nameStart = strlen(target) - strlen(name);
    size_t dot = FindExtensionStart(name);
    size_t keep = dot ? nameStart + dot : strlen(target);
    const char *suffix = dot ? "$$$" : ".$$$";
    if (keep + strlen(suffix) >= Q32_MAX_NAME) return false;
    memcpy(work, target, keep);
    strcpy(work + keep, suffix);
    return true;
}

/* Makes the finished work file the target in one replacing step (a rename over it), so
   that a process killed at any moment leaves the old file or the new one, whole. The
   target is never deleted first. (ReplaceFile is no such step everywhere: it may move
   the target aside before the work file takes its place.) On failure the target stays
   as it was and the work file is removed. */
bool CommitWorkFile(const char *work, const char *target)
{
    bool done = Sys.moveFileEx(work, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done) DeleteFileA(work);
    return done;
}

/* An existing target must be openable for writing before anything is written. */
bool TargetReplaceable(const char *target, DWORD share)
{
    if (!qfIsFileExist(target)) return true;
    q32::FileHandle file(Sys.createFile(target, GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return (bool)file;
}

DWORD SizeOfOpenFile(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_END); }

DWORD SizeOfFile(const char *name)
{
    q32::FileHandle file(Sys.createFile(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? SizeOfOpenFile(file.get()) : 0;
}

} // namespace

/******************************************************************
 *      qfFileRead  (exported)
 *
 * Reads the raster image (or vector data) that request asks for through the file's
 * plug-in, which delivers rows to callback. Result: the plug-in's (non-zero) result,
 * 0 on failure.
 */
extern "C" INT_PTR Q32FILEAPI qfFileRead(HGLOBAL fileData, ImageRequest *request,
                                         RowCallback callback)
{
    if (!FormatsDiscovered()) return 0;
    auto fail = [](int place, UINT id = ErrCannot, const char *name = nullptr) {
        RecordError(nullptr, OpRead.At(place), id, (ULONG_PTR)name);
        return (INT_PTR)0;
    };
    if (!fileData) return fail(1);
    if (!request || (!request->rasterWanted && !request->vectorWanted)) return fail(2);

    FileData facts;
    {
        q32::Locked<FileData> data(fileData);
        if (!data) return fail(1);
        facts = *data.get();
    }
    char name[Q32_MAX_NAME];
    CopyText(name, sizeof name, facts.name);
    qfdRemoveBlanks(name);

    int number = (int)facts.formatNumber;
    if (!IsFormatNumber(number)) return fail(3);
    if (request->vectorWanted && !facts.vectorPresent) return fail(4);
    if (request->rasterWanted && !request->rasterX && !request->rasterY &&
        !request->rasterWidth && !request->rasterHeight) {
        request->rasterWidth = facts.raster.width;
        request->rasterHeight = facts.raster.height;
    }
    if (request->vectorWanted && !request->vectorX && !request->vectorY) {
        if (!request->vectorWidth && !request->vectorHeight) {
            request->vectorWidth = facts.vector.width;
            request->vectorHeight = facts.vector.height;
        } else if (!facts.vectorSizeFree && (request->vectorWidth != facts.vector.width ||
                                              request->vectorHeight != facts.vector.height)) {
            return fail(6);
        }
    }
    if (request->rasterWanted && !facts.readable) return fail(7, ErrNotImage, name);

    q32::FileHandle file(OpenForRead(name));
    if (!file) return fail(11, ErrCannotOpen, name);

    FormatRecord &record = Record(number);
    if (!BindPlugin(number)) return 0;
    auto entry = (PFN_qfDLLRead)FindEntry(number, QF_ENTRY_READ);
    if (!entry) return fail(15);
    INT_PTR result = WithReadHandle(file, record, [&](HANDLE h) {
        return entry(h, name, fileData, request, callback, record.info.runtimeValue);
    });
    file.reset();
    if (!result) RerecordPluginError(OpRead.At(14), name);
    return result;
}

/******************************************************************
 *      qfFileWrite  (exported)
 *
 * Writes the image that request describes to the file the FileData names, through the
 * plug-in of its format, which pulls rows from callback. Result 1 on success; 0 or the
 * plug-in's other result on failure, with the target unchanged.
 */
extern "C" int Q32FILEAPI qfFileWrite(HGLOBAL fileData, ImageRequest *request,
                                      RowCallback callback)
{
    if (!FormatsDiscovered()) return 0;
    auto fail = [](int place, UINT id = ErrCannot, const char *name = nullptr) {
        RecordError(nullptr, OpWrite.At(place), id, (ULONG_PTR)name);
        return 0;
    };
    if (!fileData) return fail(1);
    if (!request || !request->rasterWanted) return fail(2);

    FileData facts;
    {
        q32::Locked<FileData> data(fileData);
        if (!data) return fail(1);
        facts = *data.get();
    }
    if (memchr(facts.name, 0, sizeof facts.name) == nullptr || !facts.name[0]) return fail(1);
    char target[Q32_MAX_NAME], work[Q32_MAX_NAME];
    CopyText(target, sizeof target, facts.name);
    CopyText(work, sizeof work, facts.name);

    DWORD mask = request->rasterTypes;
    const DWORD colour = Q32_TYPE_BGRA | Q32_TYPE_RGB | Q32_TYPE_PALETTE8;
    if (facts.writeKind == Q32_WRITE_COLOUR && !(mask & colour)) return fail(3);
    if (facts.writeKind == Q32_WRITE_GREY && !(mask & (colour | Q32_TYPE_GREY8))) return fail(4);
    if (facts.writeKind > 0 && !(mask & 0xFFFFFF)) return fail(5);

    if (!TargetReplaceable(target, FILE_SHARE_READ)) return fail(6, ErrNotReplaceable);
    int number = (int)facts.formatNumber;
    if (!IsFormatNumber(number)) return fail(7);
    FormatRecord &record = Record(number);
    const FormatInfo &info = record.info;

    if (request->vectorWanted) {
        if (!info.writesVector) return fail(8);
        if (info.vectorType != -1 && info.typeCaps != Q32_CAP_ALL_RASTER &&
            !(info.typeCaps & VectorTypeBit(info.vectorType)))
            return fail(9);
    }
    bool direct = false;
    if (!request->rasterX && !request->rasterY) {
        if (!request->rasterWidth && !request->rasterHeight) {
            request->rasterWidth = facts.raster.width;
            request->rasterHeight = facts.raster.height;
        } else if (request->rasterWidth != facts.raster.width ||
                   request->rasterHeight != facts.raster.height) {
            if (!facts.sizeFreeOnWrite) return fail(10);
            direct = true;
        }
    }
    if (request->vectorWanted && !request->vectorX && !request->vectorY) {
        if (!request->vectorWidth && !request->vectorHeight) {
            request->vectorWidth = facts.vector.width;
            request->vectorHeight = facts.vector.height;
        } else if (request->vectorWidth != facts.vector.width ||
                   request->vectorHeight != facts.vector.height) {
            if (!facts.sizeFreeOnWrite) return fail(11);
            direct = true;
        }
    }

    if (!direct && !MakeWorkName(target, work)) return fail(12, ErrCannotWrite, target);
    q32::FileHandle output(direct
        ? Sys.createFile(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
        : Sys.createFile(work, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
    if (!output) return fail(12, ErrCannotWrite, target);

    bool byName = info.typeCaps & FI_WRITES_BY_NAME;
    int result = 0;
    bool bound = BindPlugin(number) != 0;
    PFN_qfDLLWrite entry = bound ? (PFN_qfDLLWrite)FindEntry(number, QF_ENTRY_WRITE) : nullptr;
    if (bound && !entry) {
        output.reset();
        if (!direct) DeleteFileA(work);
        return fail(15);
    }
    if (entry) {
        if (byName) {
            if (!direct) {
                q32::Locked<FileData> data(fileData);
                if (data) CopyText(data->name, sizeof data->name, work);
            }
            output.reset();
        }
        result = (int)entry(output ? output.get() : nullptr, fileData, request, callback);
    }

    DWORD written = 0;
    {
        q32::Locked<FileData> data(fileData);
        if (result == 1)
            written = byName ? SizeOfFile(direct ? target : work) : SizeOfOpenFile(output.get());
        if (result == 1 && data && written) data->fileSize = written;
        if (output) FlushFileBuffers(output.get());
        output.reset();
        if (byName && !direct && data) CopyText(data->name, sizeof data->name, target);
    }
    if (result != 1) NameInPluginError(target);
    if (direct) return result;
    if (result != 1) {
        DeleteFileA(work);
        return result;
    }
    /* A success that wrote nothing is a plug-in fault: an empty file never replaces the
       target. */
    if (!written) {
        DeleteFileA(work);
        return fail(14, ErrCannotWrite, target);
    }
    if (!CommitWorkFile(work, target)) return fail(13, 4022);
    return 1;
}

/******************************************************************
 *      qfFileReadVector  (exported)
 *
 * Reads the file's vector data through its plug-in; arg2..arg4 are the plug-in's.
 * Result: the plug-in's result, 0 on failure.
 */
extern "C" INT_PTR Q32FILEAPI qfFileReadVector(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3,
                                               LONG_PTR arg4)
{
    if (!FormatsDiscovered()) return 0;
    auto fail = [](int place, UINT id = ErrCannot, const char *name = nullptr) {
        RecordError(nullptr, OpReadVector.At(place), id, (ULONG_PTR)name);
        return (INT_PTR)0;
    };
    if (!fileData) return fail(1);

    int number;
    DWORD readable;
    char name[Q32_MAX_NAME];
    {
        q32::Locked<FileData> data(fileData);
        if (!data) return fail(1);
        number = (int)data->formatNumber;
        readable = data->readable;
        data->raster.dataType = Q32_TYPE_VECTOR;
        CopyText(name, sizeof name, data->name);
    }
    qfdRemoveBlanks(name);
    if (!IsFormatNumber(number)) return fail(2);
    if (!readable) return fail(3, 4019, name);

    q32::FileHandle file(OpenForRead(name));
    if (!file) return fail(4, ErrCannotOpen, name);

    FormatRecord &record = Record(number);
    if (!BindPlugin(number)) return 0;
    auto entry = (PFN_qfDLLReadVector)FindEntry(number, QF_ENTRY_READVECTOR);
    if (!entry) return fail(8);
    INT_PTR result = WithReadHandle(file, record, [&](HANDLE h) {
        return entry(h, name, fileData, arg2, arg3, record.info.runtimeValue, arg4);
    });
    file.reset();
    if (!result) RerecordPluginError(OpReadVector.At(7), name);
    return result;
}

/******************************************************************
 *      qfFileWriteVector  (exported)
 *
 * Writes vector data through the plug-in into a work file that replaces the target on
 * success. Result 1 on success, -1 when the format does not write vector data, 0 or
 * the plug-in's other result on failure.
 */
extern "C" int Q32FILEAPI qfFileWriteVector(HGLOBAL fileData, LONG_PTR arg2, LONG_PTR arg3,
                                            LONG_PTR arg4)
{
    if (!FormatsDiscovered()) return 0;
    auto fail = [](int place, UINT id = ErrCannot, const char *name = nullptr) {
        RecordError(nullptr, OpWriteVector.At(place), id, (ULONG_PTR)name);
        return 0;
    };
    if (!fileData) return fail(1);

    char target[Q32_MAX_NAME], work[Q32_MAX_NAME];
    int number;
    {
        q32::Locked<FileData> data(fileData);
        if (!data || !memchr(data->name, 0, sizeof data->name) || !data->name[0]) return fail(1);
        CopyText(target, sizeof target, data->name);
        number = (int)data->formatNumber;
    }
    if (!TargetReplaceable(target, 0)) return fail(2, 4022);
    if (!IsFormatNumber(number)) return fail(3);
    /* Bit 0x80 is also the save dialog's "writes vector data": a format that declares
       vector writing is not refused by it. */
    const FormatInfo &info = Record(number).info;
    if ((info.typeCaps & NoVectorWrite) && !info.writesVector) return -1;

    if (!MakeWorkName(target, work)) return fail(4, ErrCannotWrite, target);
    q32::FileHandle output(Sys.createFile(work, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return fail(4, ErrCannotWrite, target);

    int result = 0;
    if (BindPlugin(number)) {
        auto entry = (PFN_qfDLLWriteVector)FindEntry(number, QF_ENTRY_WRITEVECTOR);
        if (!entry) {
            output.reset();
            DeleteFileA(work);
            return fail(7);
        }
        result = (int)entry(output.get(), fileData, arg2, arg3, arg4);
    }
    DWORD written = result == 1 ? SizeOfOpenFile(output.get()) : 0;
    if (written) {
        q32::Locked<FileData> data(fileData);
        if (data) data->fileSize = written;
    }
    FlushFileBuffers(output.get());
    output.reset();
    if (result != 1) {
        DeleteFileA(work);
        NameInPluginError(target);
        return result;
    }
    if (!written) {
        DeleteFileA(work);
        return fail(6, ErrCannotWrite, target);
    }
    if (!CommitWorkFile(work, target)) return fail(5, 4022);
    return 1;
}
