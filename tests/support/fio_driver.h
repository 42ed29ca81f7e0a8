/*
 * The one plug-in test driver: a format plug-in (.fio) loaded as the module loads it and
 * driven through its ordinal entries, typed by the kit's PFN_ declarations. Rows go
 * through the row protocol (rows.h), the FileData's facts and palette are read back, and
 * the error the plug-in recorded is checked.
 */
#ifndef Q32_TEST_FIO_DRIVER_H
#define Q32_TEST_FIO_DRIVER_H

#include <gtest/gtest.h>
#include "harness.h"
#include "rows.h"
#include "q32fio.h"
#include <vector>

namespace q32test {

/* What a FileData says of its raster image; palette as 0xRRGGBB. */
struct RasterFacts {
    DWORD width = 0, height = 0, bits = 0, dataType = 0, compression = 0;
    std::vector<uint32_t> palette;
};

inline RasterFacts FactsOf(HGLOBAL fileData)
{
    RasterFacts f;
    auto *d = static_cast<FileData *>(GlobalLock(fileData));
    if (!d) return f;
    f.width = d->raster.width, f.height = d->raster.height, f.bits = d->raster.bitsPerPixel;
    f.dataType = d->raster.dataType, f.compression = d->compression;
    PALETTEENTRY entries[256];
    UINT n = d->raster.palette ? GetPaletteEntries(d->raster.palette, 0, 256, entries) : 0;
    for (UINT i = 0; i < n; i++)
        f.palette.push_back(uint32_t(entries[i].peRed) << 16 | entries[i].peGreen << 8 | entries[i].peBlue);
    GlobalUnlock(fileData);
    return f;
}

/* A logical palette of 0xRRGGBB colours. */
inline HPALETTE MakePalette(const std::vector<uint32_t> &colours)
{
    std::vector<BYTE> block(sizeof(LOGPALETTE) + colours.size() * sizeof(PALETTEENTRY));
    auto *logical = reinterpret_cast<LOGPALETTE *>(block.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(colours.size());
    for (size_t i = 0; i < colours.size(); i++)
        logical->palPalEntry[i] = {BYTE(colours[i] >> 16), BYTE(colours[i] >> 8), BYTE(colours[i]), 0};
    return CreatePalette(logical);
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

/* The error the plug-in recorded: string id, plug-in id, entry, place, and a name its
   text holds. The slot is emptied. */
inline void ExpectPluginError(UINT id, int plugin, int entry, int place, const std::string &name = "")
{
    RecordedError e = ReadError();
    EXPECT_EQ(id, e.id) << e.text;
    EXPECT_EQ(plugin, e.where1);
    EXPECT_EQ(entry, e.where2);
    EXPECT_EQ(place, e.where3);
    if (!name.empty()) EXPECT_NE(std::string::npos, e.text.find(name)) << e.text;
    c32ResetDLLErrInfo();
}

class PluginDriver {
public:
    explicit PluginDriver(const std::string &file) : module_(LoadLibraryA((BinFolder() + "FIO\\" + file).c_str())) {}
    ~PluginDriver() { if (module_) FreeLibrary(module_); }
    PluginDriver(const PluginDriver &) = delete;
    PluginDriver &operator=(const PluginDriver &) = delete;
    HMODULE handle() const { return module_; }
    DWORD writeDisposition = CREATE_ALWAYS; /* OPEN_ALWAYS: the plug-in must cut a longer file */

    template <typename F>
    F Entry(int format, int offset) const
    {
        return reinterpret_cast<F>(GetProcAddress(module_, MAKEINTRESOURCEA(QF_ORDINAL(format, offset))));
    }
    /* The format's FormatInfo, copied; false when the entry answers none. */
    bool Info(int format, ::FormatInfo &info) const
    {
        auto entry = Entry<PFN_qfDLLGetFormatInfo>(format, QF_ENTRY_GETFORMATINFO);
        HGLOBAL block = entry ? entry() : nullptr;
        if (!block) return false;
        info = *static_cast<::FormatInfo *>(GlobalLock(block));
        GlobalUnlock(block);
        GlobalFree(block);
        return true;
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
    /* Writes the image that rows hold, as the FileData describes it, into a new file. */
    INT_PTR Write(int format, const std::string &path, HGLOBAL fileData, Rows &rows, ImageRequest request = {}) const
    {
        TypeOf(fileData, rows);
        request.rasterWanted = 1;
        request.context = &rows;
        HANDLE file = Open(path, GENERIC_WRITE, writeDisposition);
        INT_PTR result = Entry<PFN_qfDLLWrite>(format, QF_ENTRY_WRITE)(file, fileData, &request, Supply);
        Close(file);
        return result;
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

} // namespace q32test

#endif
