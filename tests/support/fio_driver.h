/*
 * The plug-in test driver: a format plug-in (.fio) loaded as the module loads it and driven
 * through its ordinal entries by the kit's PFN_ types, rows by the row protocol (rows.h).
 */
#ifndef Q32_TEST_FIO_DRIVER_H
#define Q32_TEST_FIO_DRIVER_H

#include <gtest/gtest.h>
#include "harness.h"
#include "rows.h"
#include "q32fio.h"
#include "fio_holders.h"
#include <initializer_list>
#include <vector>

namespace q32test {

inline std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values) out += char(v);
    return out;
}

/* Little-endian bytes of a value. */
inline std::string Le(uint32_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; i++) out += char(value >> (8 * i));
    return out;
}

using fio::Locked;

/* What a FileData says of its raster image; palette as 0xRRGGBB. */
struct RasterFacts {
    DWORD width = 0, height = 0, bits = 0, dataType = 0, compression = 0, resolutionX = 0;
    std::vector<uint32_t> palette;
};

inline RasterFacts FactsOf(HGLOBAL fileData)
{
    RasterFacts f;
    auto *d = static_cast<FileData *>(GlobalLock(fileData));
    if (!d) return f;
    f.width = d->raster.width, f.height = d->raster.height, f.bits = d->raster.bitsPerPixel;
    f.dataType = d->raster.dataType, f.compression = d->compression, f.resolutionX = d->raster.resolutionX;
    PALETTEENTRY entries[256];
    UINT n = d->raster.palette ? GetPaletteEntries(d->raster.palette, 0, 256, entries) : 0;
    for (UINT i = 0; i < n; i++)
        f.palette.push_back(uint32_t(entries[i].peRed) << 16 | entries[i].peGreen << 8 | entries[i].peBlue);
    GlobalUnlock(fileData);
    return f;
}

/* A FileData to write from, as an application fills one (72 dpi; palette 0xRRGGBB). */
inline HGLOBAL NewFileData(DWORD dataType, DWORD bits, LONG width, LONG height,
                           const std::vector<uint32_t> &palette = {}, DWORD compression = 0,
                           const std::string &name = "")
{
    std::vector<BYTE> block(sizeof(LOGPALETTE) + palette.size() * sizeof(PALETTEENTRY));
    auto *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    *logical = {0x300, WORD(palette.size()), {}};
    for (size_t i = 0; i < palette.size(); i++)
        logical->palPalEntry[i] = {BYTE(palette[i] >> 16), BYTE(palette[i] >> 8), BYTE(palette[i]), 0};
    HGLOBAL fileData = GlobalAlloc(GHND, sizeof(FileData));
    auto *d = static_cast<FileData *>(GlobalLock(fileData));
    d->raster = {bits, width, height, 720000, 720000, dataType, palette.empty() ? nullptr : CreatePalette(logical)};
    d->compression = compression;
    lstrcpynA(d->name, name.c_str(), sizeof d->name);
    GlobalUnlock(fileData);
    return fileData;
}

/* Frees a FileData that a plug-in made, with its palette. */
inline void FreeFileData(HGLOBAL fileData)
{
    if (!fileData) return;
    if (auto *d = static_cast<FileData *>(GlobalLock(fileData))) {
        if (d->raster.palette) DeleteObject(d->raster.palette);
        GlobalUnlock(fileData);
    }
    GlobalFree(fileData);
}

class PluginDriver {
public:
    PluginDriver(const std::string &file, int id)
        : id(id), module_(LoadLibraryA((BinFolder() + "FIO\\" + file).c_str())) {}
    ~PluginDriver() { if (module_) FreeLibrary(module_); }
    PluginDriver(const PluginDriver &) = delete;
    PluginDriver &operator=(const PluginDriver &) = delete;
    HMODULE handle() const { return module_; }
    int id;                                    /* the plug-in's id in its error records */
    DWORD writeDisposition = CREATE_ALWAYS;    /* OPEN_ALWAYS: the plug-in must cut a longer file */

    template <typename F>
    F Entry(int format, int offset) const
    {
        return reinterpret_cast<F>(GetProcAddress(module_, MAKEINTRESOURCEA(QF_ORDINAL(format, offset))));
    }
    /* The file-data entry as the module calls it: with the file open for reading, or
       with none (byName, a format that opens files itself). */
    INT_PTR FileData(int format, const std::string &path, const char *ini = "", bool byName = false) const
    {
        HANDLE file = byName ? nullptr : Open(path, GENERIC_READ, OPEN_EXISTING);
        INT_PTR result = Entry<PFN_qfDLLGetFileData>(format, QF_ENTRY_GETFILEDATA)(file, path.c_str(), 0, ini);
        Close(file);
        return result;
    }
    /* Reads the image into rows, whose type the FileData gives (or the type the request's
       mask asks for, with Q32_TYPES_ONLY), unless typed is false. */
    INT_PTR Read(int format, const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {},
                 bool byName = false, bool typed = true) const
    {
        if (typed) TypeOf(fileData, rows);
        if (typed && (request.rasterTypes & Q32_TYPES_ONLY)) {
            rows.dataType = Q32ReadType(rows.dataType, request.rasterTypes);
            rows.bits = Q32TypeBits(rows.dataType);
        }
        request.rasterWanted = 1;
        request.context = &rows;
        HANDLE file = byName ? nullptr : Open(path, GENERIC_READ, OPEN_EXISTING);
        INT_PTR result = Entry<PFN_qfDLLRead>(format, QF_ENTRY_READ)(file, path.c_str(), fileData, &request, Collect, 0);
        Close(file);
        return result;
    }
    /* Writes the image that rows hold, as the FileData describes it, into the file. */
    int Write(int format, const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {}) const
    {
        TypeOf(fileData, rows);
        request.rasterWanted = 1;
        request.context = &rows;
        HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, writeDisposition);
        int result = Entry<PFN_qfDLLWrite>(format, QF_ENTRY_WRITE)(file, fileData, &request, Supply);
        Close(file);
        return result;
    }
    /* A frame command with rows (or none: the frame is only chosen). */
    INT_PTR Command(int format, HGLOBAL fileData, int command, Rows *rows, LPARAM index,
                    RowCallback callback = Collect) const
    {
        ImageRequest request = {};
        request.rasterWanted = 1;
        request.context = rows;
        if (rows) TypeOf(fileData, *rows);
        return Entry<PFN_qfDLLCommand>(format, QF_ENTRY_COMMAND)(fileData, command, rows ? LPARAM(&request) : 0,
                                                                  LPARAM(callback), index);
    }
    /* The error the plug-in recorded (id, entry, place, a name its text holds); the slot emptied. */
    void ExpectError(UINT error, int entry, int place, const std::string &name = "") const
    {
        RecordedError e = ReadError();
        EXPECT_EQ(error, e.id) << e.text;
        EXPECT_EQ((std::vector<int>{id, entry, place}), (std::vector<int>{e.where1, e.where2, e.where3}));
        EXPECT_NE(std::string::npos, e.text.find(name)) << e.text;
        c32ResetDLLErrInfo();
    }
    static void TypeOf(HGLOBAL fileData, Rows &rows)
    {
        RasterFacts f = FactsOf(fileData);
        rows.dataType = f.dataType, rows.bits = f.bits;
    }

private:
    static HANDLE Open(const std::string &path, DWORD access, DWORD disposition)
    {
        return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static void Close(HANDLE file)
    {
        if (file && file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    HMODULE module_;
};

/* A plug-in loaded once for the program. */
inline PluginDriver &Plugin(const std::string &file, int id)
{
    static std::map<std::string, PluginDriver *> loaded;
    PluginDriver *&driver = loaded[file];
    if (!driver) driver = new PluginDriver(file, id);
    return *driver;
}

/* A test of one format of a plug-in: a folder of its own, the error slot empty. */
class FioTest : public ::testing::Test {
protected:
    FioTest(const char *file, int id, int format = 0) : fio(Plugin(file, id)), format(format) {}
    void SetUp() override
    {
        ASSERT_NE(nullptr, fio.handle());
        c32ResetDLLErrInfo();
    }
    PluginDriver &fio;
    int format;
    TempDir dir;
    bool byName = false; /* the format opens its files itself */

    INT_PTR FileData(const std::string &path) { return fio.FileData(format, path, "", byName); }
    INT_PTR Read(const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {})
    {
        return fio.Read(format, path, fileData, rows, request, byName);
    }
    int Write(const std::string &path, HGLOBAL fileData, Rows &rows) { return fio.Write(format, path, fileData, rows); }

    INT_PTR taken = 0; /* what the FileData entry answered in the last Take */

    /* A file of bytes, read whole: the FileData entry's answer when it takes none, else
       the read's result; rows and facts hold what came. */
    INT_PTR Take(const std::string &bytes, Rows &rows, RasterFacts *facts = nullptr, ImageRequest request = {},
                 const std::string &name = "taken")
    {
        std::string path = dir / name;
        WriteFileBytes(path, bytes);
        INT_PTR data = taken = FileData(path);
        if (data <= 0) return data;
        if (facts) *facts = FactsOf(HGLOBAL(data));
        INT_PTR result = Read(path, HGLOBAL(data), rows, request);
        FreeFileData(HGLOBAL(data));
        return result;
    }

    /* A file the format refuses: at entry +12 (answer -1) or +16 (read 0), error id at
       place, its name in the text; id 0: not the format's (0, nothing recorded). */
    struct Refusal {
        const char *name;
        std::string bytes;
        int entry;
        UINT id;
        int place;
    };
    void ExpectRefused(const Refusal &r)
    {
        SCOPED_TRACE(r.name);
        c32ResetDLLErrInfo();
        Rows rows;
        INT_PTR result = Take(r.bytes, rows, nullptr, {}, "damaged");
        if (!r.id) {
            EXPECT_EQ(0, taken);
            EXPECT_EQ(0u, ReadError().id);
            return;
        }
        EXPECT_EQ(r.entry == QF_ENTRY_GETFILEDATA ? -1 : 0, r.entry == QF_ENTRY_GETFILEDATA ? taken : result);
        fio.ExpectError(r.id, r.entry, r.place, "damaged");
    }

    /* Cuts of a whole file (every step-th length, and all but its last byte): not the
       format's only below notMineBelow; else refused (4020 or 4024; partial for a stream
       found cut after its rows), or read as the whole file when only non-image bytes went. */
    void ExpectCutsRefused(const std::string &whole, size_t step, size_t notMineBelow)
    {
        Rows full;
        ASSERT_EQ(1, Take(whole, full));
        std::vector<size_t> lengths = {whole.size() - 1};
        for (size_t length = 0; length + 1 < whole.size(); length += step) lengths.push_back(length);
        for (size_t length : lengths) {
            SCOPED_TRACE(length);
            c32ResetDLLErrInfo();
            Rows rows;
            INT_PTR result = Take(whole.substr(0, length), rows, nullptr, {}, "damaged");
            if (taken == 0) {
                EXPECT_LT(length, notMineBelow) << "a cut file taken for another format's";
            } else if (result == 1) {
                EXPECT_EQ(full.byY, rows.byY) << "a cut file read as something else";
            } else {
                EXPECT_TRUE(result <= 0 || result == Q32_READ_PARTIAL) << result;
                RecordedError e = ReadError();
                EXPECT_TRUE(e.id == 4020 || e.id == 4024) << e.id << " " << e.text;
                EXPECT_NE(std::string::npos, e.text.find("damaged")) << e.text;
            }
        }
    }

    /* Writes source as fileData describes it and reads the file back unchanged. */
    void RoundTrip(const std::string &path, HGLOBAL fileData, Rows &source, Rows &back, RasterFacts *facts = nullptr)
    {
        ASSERT_EQ(1, Write(path, fileData, source)) << ReadError().text;
        INT_PTR data = FileData(path);
        ASSERT_GT(data, 0) << ReadError().text;
        if (facts) *facts = FactsOf(HGLOBAL(data));
        EXPECT_EQ(1, Read(path, HGLOBAL(data), back)) << ReadError().text;
        FreeFileData(HGLOBAL(data));
        EXPECT_EQ(source.byY, back.byY);
    }
};

} // namespace q32test

#endif
