/* wic.fio: error recording, COM, the stream over a file handle, files and settings. */
#include "wic_private.h"
#include <shlwapi.h>
#include <new>
#include "q32comm.h"
#include "fio_holders.h"

namespace wic {

void Record(UINT id, int entry, int place, const char *name)
{
    fio::RecordError(PluginId, id, entry, place, name);
}

/******************************************************************
 *      ComScope
 *
 * S_OK and S_FALSE are balanced by CoUninitialize; RPC_E_CHANGED_MODE means the caller
 * runs COM in the other apartment model, which serves as it is.
 */
ComScope::ComScope()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    uninitialise_ = SUCCEEDED(hr);
    ok_ = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

ComScope::~ComScope()
{
    if (uninitialise_) CoUninitialize();
}

IWICImagingFactory *NewFactory(int entry)
{
    IWICImagingFactory *factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory)))) {
        Record(ErrNoMemory, entry, PlaceComponent);
        return nullptr;
    }
    return factory;
}

namespace {

/* IStream over a file handle that belongs to someone else. */
class HandleStream final : public IStream {
public:
    explicit HandleStream(HANDLE file) : file_(file) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(ISequentialStream) || iid == __uuidof(IStream)) {
            *out = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG refs = InterlockedDecrement(&refs_);
        if (!refs) delete this;
        return ULONG(refs);
    }

    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG bytes, ULONG *read) override
    {
        DWORD got = 0;
        BOOL ok = ReadFile(file_, buffer, bytes, &got, nullptr);
        if (read) *read = got;
        if (!ok) return STG_E_READFAULT;
        return got < bytes ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *data, ULONG bytes, ULONG *written) override
    {
        DWORD put = 0;
        BOOL ok = WriteFile(file_, data, bytes, &put, nullptr);
        if (written) *written = put;
        return ok && put == bytes ? S_OK : STG_E_WRITEFAULT;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override
    {
        static const DWORD methods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
        if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
        LARGE_INTEGER at;
        if (!SetFilePointerEx(file_, move, &at, methods[origin])) return STG_E_INVALIDPOINTER;
        if (position) position->QuadPart = ULONGLONG(at.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        LARGE_INTEGER here = {}, at;
        if (!SetFilePointerEx(file_, here, &here, FILE_CURRENT)) return STG_E_INVALIDFUNCTION;
        at.QuadPart = LONGLONG(size.QuadPart);
        bool ok = SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
        SetFilePointerEx(file_, here, nullptr, FILE_BEGIN);
        return ok ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override
    {
        if (!stat) return STG_E_INVALIDPOINTER;
        ZeroMemory(stat, sizeof *stat);
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size)) return STG_E_ACCESSDENIED;
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = ULONGLONG(size.QuadPart);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return E_NOTIMPL; }

private:
    HANDLE file_;
    LONG refs_ = 1;
};

} // namespace

IStream *NewHandleStream(HANDLE file)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return nullptr;
    return new (std::nothrow) HandleStream(file);
}

/* ---- Settings ---- */

namespace {

int ReadInt(const char *iniPath, const char *key, int fallback, int low, int high)
{
    int value = int(GetPrivateProfileIntA(WIC_INI_SECTION, key, fallback, iniPath));
    return value < low ? low : value > high ? high : value;
}

void WriteInt(const char *iniPath, const char *key, int value)
{
    char text[16];
    wsprintfA(text, "%d", value);
    WritePrivateProfileStringA(WIC_INI_SECTION, key, text, iniPath);
}

std::string FirstFrameKey(int format)
{
    return std::string(Formats[format].code) + WIC_KEY_FIRST_FRAME;
}

/* The keys that choose what opening a file of format shows: the icon image, the first
   frame. */
void ReadOpenKeys(const char *iniPath, int format, Settings &s)
{
    if (Formats[format].container == Container::Ico)
        s.icoLargest = ReadInt(iniPath, WIC_KEY_ICO_LARGEST, s.icoLargest, 0, 1);
    if (Formats[format].multiFrame)
        s.firstFrame[format] = ReadInt(iniPath, FirstFrameKey(format).c_str(), 0, 0, 0xFFFF);
}

} // namespace

std::string SuiteIni()
{
    char path[MAX_PATH] = "";
    q32GetQuillIniFileName(path, sizeof path);
    return path;
}

Settings ReadSettings(const char *iniPath)
{
    Settings s;
    if (!iniPath || !*iniPath) return s;
    s.jpegQuality = ReadInt(iniPath, WIC_KEY_JPEG_QUALITY, s.jpegQuality, 1, 100);
    s.pngInterlace = ReadInt(iniPath, WIC_KEY_PNG_INTERLACE, s.pngInterlace, 0, 1);
    s.tiffCompression = ReadInt(iniPath, WIC_KEY_TIFF_COMPRESS, s.tiffCompression, 0, WIC_TIFF_PACKBITS);
    s.gifLoops = ReadInt(iniPath, WIC_KEY_GIF_LOOPS, s.gifLoops, -1, 0xFFFF);
    s.gifDelay = ReadInt(iniPath, WIC_KEY_GIF_DELAY, s.gifDelay, 0, 0xFFFF);
    for (int f = 0; f < WIC_FORMATS; f++) ReadOpenKeys(iniPath, f, s);
    return s;
}

Settings ReadOpenSettings(const char *iniPath, int format)
{
    Settings s;
    if (iniPath && *iniPath) ReadOpenKeys(iniPath, format, s);
    return s;
}

void WriteSettings(const char *iniPath, int format, const Settings &s, bool save)
{
    if (save) {
        switch (Formats[format].container) {
        case Container::Jpeg: WriteInt(iniPath, WIC_KEY_JPEG_QUALITY, s.jpegQuality); break;
        case Container::Png: WriteInt(iniPath, WIC_KEY_PNG_INTERLACE, s.pngInterlace); break;
        case Container::Tiff: WriteInt(iniPath, WIC_KEY_TIFF_COMPRESS, s.tiffCompression); break;
        case Container::Gif:
            WriteInt(iniPath, WIC_KEY_GIF_LOOPS, s.gifLoops);
            WriteInt(iniPath, WIC_KEY_GIF_DELAY, s.gifDelay);
            break;
        default: break;
        }
        return;
    }
    if (Formats[format].container == Container::Ico) WriteInt(iniPath, WIC_KEY_ICO_LARGEST, s.icoLargest);
    if (Formats[format].multiFrame) WriteInt(iniPath, FirstFrameKey(format).c_str(), s.firstFrame[format]);
}

} // namespace wic
