/*
 * wic.fio: the format plug-in of the platform's imaging component: JPG, PNG, TIF (pages),
 * GIF (animation frames) and ICO (read only).
 *
 * Entries (ordinal base 100 x format index, see wic.def): +10 frame commands, +11 format
 * information, +12 file data, +15 save options, +16 read, +17 write, +18 open options,
 * +23 property block; qfDLLGetFileFmtNum by name. The formats share their code: each
 * entry of each format is a small export that calls it with the format's index, since
 * the run-time value that the module hands back is 0 for formats registered from its
 * cache. What the plug-in keeps in a FileData, its commands and its settings are in
 * wic_fio.h.
 */
#include "wic_private.h"
#include <new>
#include "fio_holders.h"

namespace wic {
INT_PTR GetFileData(int format, HANDLE file, const char *name, const char *iniPath);
LONG_PTR Read(int format, HANDLE file, const char *name, HGLOBAL fileData, ImageRequest *request,
              RowCallback callback);
LONG_PTR ReadFrame(int format, HGLOBAL fileData, ImageRequest *request, RowCallback callback,
                   LONG_PTR index);
}

using namespace wic;

namespace {

/* Runs an entry's work; running out of memory inside it is a recorded failure. */
template <typename R, typename F>
R Guarded(int entry, R failure, F work)
{
    return fio::Guarded(PluginId, entry, PlaceMemory, failure, work);
}

HGLOBAL FormatInfoOf(int format)
{
    const FormatDef &def = Formats[format];
    HGLOBAL block = GlobalAlloc(GHND, sizeof(FormatInfo));
    {
        fio::Locked<FormatInfo> info(block);
        if (!info) {
            if (block) GlobalFree(block);
            return nullptr;
        }
        info->flags = 1;
        info->typeCaps = def.caps;
        info->saveOptions = def.saveOptions;
        info->openOptions = def.openOptions;
        info->vectorType = -1;
        lstrcpynA(info->code, def.code, sizeof info->code);
        lstrcpynA(info->description, def.description, sizeof info->description);
        info->runtimeValue = DWORD(format) + 1;
        info->signatureLength1 = def.signatureLength1;
        memcpy(info->signature1, def.signature1, sizeof info->signature1);
        info->signatureLength2 = def.signatureLength2;
        memcpy(info->signature2, def.signature2, sizeof info->signature2);
    }
    return block;
}

LONG_PTR Command(int format, HGLOBAL fileData, int command, LPARAM value1, LPARAM value2, LPARAM value3)
{
    auto *request = reinterpret_cast<ImageRequest *>(value1);
    auto callback = reinterpret_cast<RowCallback>(value2);
    switch (command) {
    case QF_COMMAND_READFRAME:
        return ReadFrame(format, fileData, request, callback, value3);
    case QF_COMMAND_WRITEFRAME:
        return AppendFrame(format, fileData, request, callback);
    default:
        Record(ErrCannot, EntryCommand, PlaceArguments);
        return 0;
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" int WINAPI qfDLLGetFileFmtNum(void)
{
    return WIC_FORMATS;
}
FIO_CHECK_ENTRY(qfDLLGetFileFmtNum, qfDLLGetFileFmtNum);

/* The entries of one format. */
#define WIC_READ_ENTRIES(P, F)                                                                      \
    extern "C" INT_PTR WINAPI P##Command(HGLOBAL fileData, int command, LPARAM v1, LPARAM v2,       \
                                         LPARAM v3)                                                 \
    {                                                                                               \
        return Guarded<INT_PTR>(EntryCommand, 0, [&] { return Command(F, fileData, command, v1, v2, v3); }); \
    }                                                                                               \
    extern "C" HGLOBAL WINAPI P##GetFormatInfo(void)                                                \
    {                                                                                               \
        return Guarded<HGLOBAL>(0, nullptr, [&] { return FormatInfoOf(F); });                      \
    }                                                                                               \
    extern "C" INT_PTR WINAPI P##GetFileData(HANDLE file, const char *name, DWORD, const char *ini) \
    {                                                                                               \
        return Guarded<INT_PTR>(EntryFileData, -1, [&] { return GetFileData(F, file, name, ini); }); \
    }                                                                                               \
    extern "C" INT_PTR WINAPI P##Read(HANDLE file, const char *name, HGLOBAL fileData,             \
                                      ImageRequest *request, RowCallback callback, DWORD)           \
    {                                                                                               \
        return Guarded<INT_PTR>(EntryRead, 0,                                                       \
                                [&] { return Read(F, file, name, fileData, request, callback); });  \
    }                                                                                               \
    extern "C" INT_PTR WINAPI P##GetProperty(HGLOBAL fileData, HGLOBAL *property)                   \
    {                                                                                               \
        return Guarded<INT_PTR>(EntryProperty, 0, [&] { return GetProperty(F, fileData, property); }); \
    }                                                                                               \
    FIO_CHECK_ENTRY(P##Command, qfDLLCommand);                                                      \
    FIO_CHECK_ENTRY(P##GetFormatInfo, qfDLLGetFormatInfo);                                          \
    FIO_CHECK_ENTRY(P##GetFileData, qfDLLGetFileData);                                              \
    FIO_CHECK_ENTRY(P##Read, qfDLLRead);                                                            \
    FIO_CHECK_ENTRY(P##GetProperty, qfDLLGetProperty);

#define WIC_WRITE_ENTRIES(P, F)                                                                     \
    extern "C" int WINAPI P##Write(HANDLE file, HGLOBAL fileData, ImageRequest *request,            \
                                   RowCallback callback)                                            \
    {                                                                                               \
        return Guarded<int>(EntryWrite, 0,                                                          \
                                [&] { return WriteImage(F, file, fileData, request, callback); });  \
    }                                                                                               \
    extern "C" INT_PTR WINAPI P##ShowDlgSaveOption(LPARAM owner, LPARAM, HGLOBAL, const char *ini,  \
                                                   LPARAM)                                          \
    {                                                                                               \
        return Guarded<INT_PTR>(EntrySaveOptions, -1,                                               \
                                [&] { return ShowSaveOptions(F, HWND(owner), ini); });              \
    }                                                                                               \
    FIO_CHECK_ENTRY(P##Write, qfDLLWrite);                                                          \
    FIO_CHECK_ENTRY(P##ShowDlgSaveOption, qfDLLShowDlgSaveOption);

#define WIC_OPEN_OPTION_ENTRY(P, F)                                                                 \
    extern "C" INT_PTR WINAPI P##ShowDlgOpenOption(LPARAM owner, LPARAM, LPARAM, const char *ini,   \
                                                   LPARAM)                                          \
    {                                                                                               \
        return Guarded<INT_PTR>(EntryOpenOptions, -1,                                               \
                                [&] { return ShowOpenOptions(F, HWND(owner), ini); });              \
    }                                                                                               \
    FIO_CHECK_ENTRY(P##ShowDlgOpenOption, qfDLLShowDlgOpenOption);

WIC_READ_ENTRIES(Jpg, WIC_JPG)
WIC_WRITE_ENTRIES(Jpg, WIC_JPG)
WIC_READ_ENTRIES(Png, WIC_PNG)
WIC_WRITE_ENTRIES(Png, WIC_PNG)
WIC_READ_ENTRIES(Tif, WIC_TIF)
WIC_WRITE_ENTRIES(Tif, WIC_TIF)
WIC_OPEN_OPTION_ENTRY(Tif, WIC_TIF)
WIC_READ_ENTRIES(Gif, WIC_GIF)
WIC_WRITE_ENTRIES(Gif, WIC_GIF)
WIC_OPEN_OPTION_ENTRY(Gif, WIC_GIF)
WIC_READ_ENTRIES(Ico, WIC_ICO)
WIC_OPEN_OPTION_ENTRY(Ico, WIC_ICO)
