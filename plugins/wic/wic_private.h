/*
 * What the files of wic.fio share: the format table, COM holders and the stream over a
 * file handle, error recording, settings, and the reading and writing steps that the
 * entries and the frame commands have in common.
 */
#ifndef WIC_PRIVATE_H
#define WIC_PRIVATE_H

#include <windows.h>
#include <wincodec.h>
#include <string>
#include <utility>
#include <vector>
#include "q32types.h"
#include "q32fio.h"
#include "wic_fio.h"
#include "wic_bytes.h"
#include "wic_header.h"
#include "fio_support.h"
#include "fio_rows.h"

namespace wic {

/* ---- Formats ---- */

struct FormatDef {
    const char *code;
    const char *description;
    Container container;
    const GUID *guid;        /* the component's container format */
    WORD caps;               /* Q32_CAP_* that the format stores as they are */
    BYTE signatureLength1, signature1[4];
    BYTE signatureLength2, signature2[4];
    bool saveOptions, openOptions;
    bool writable, multiFrame;
};
extern const FormatDef Formats[WIC_FORMATS];

/* ---- Errors: recorded at (PluginId, entry, place) ---- */

constexpr int PluginId = 1791;
using fio::EntryCommand, fio::EntryFileData, fio::EntrySaveOptions, fio::EntryRead, fio::EntryWrite,
    fio::EntryOpenOptions, fio::EntryProperty;
using fio::PlaceArguments, fio::PlaceOpen, fio::PlaceInput, fio::PlaceOutput, fio::PlaceMemory,
    fio::PlaceChanged, fio::PlaceType, fio::PlaceRegion;
/* The plug-in's own places. */
enum Place {
    PlaceComponent = 48,  /* the imaging component cannot be started */
    PlaceDecoder = 49,    /* the decoder refuses the file */
    PlaceFrame = 50,      /* no such frame */
    PlacePixels = 51,     /* the decoder fails on the pixels */
    PlacePixelFormat = 52,/* a pixel format that cannot be delivered */
    PlaceTruncated = 53,  /* the stream ends before its end mark */
    PlaceEncoder = 54,    /* the encoder refuses the image */
    PlaceBadPixel = 55,   /* an index beyond the palette, a grey level beyond 15 */
    PlaceNoFrames = 56,   /* frames appended to a format that has none */
    PlaceHeader = 57,     /* the file's headers are not well formed */
    PlaceSize = 58,       /* the image is larger than the plug-in reads */
    PlaceChecksum = 59,   /* a checksum of the stream is wrong */
    PlaceTypes = 60       /* the request takes no type that the rows can become (57 is the
                             header's here) */
};
using fio::ErrNoMemory, fio::ErrOpen, fio::ErrWrite, fio::ErrDamaged, fio::ErrTooLarge,
    fio::ErrUnsupported, fio::ErrCannot;

/* Records error id; its text names the file when a name is given. */
void Record(UINT id, int entry, int place, const char *name = nullptr);

/* ---- COM ---- */

using fio::Com;

/* COM on the calling thread for the scope: started when the caller has not started it
   (and then stopped again), used as it is when the caller runs another apartment. */
class ComScope {
public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope &) = delete;
    ComScope &operator=(const ComScope &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false, uninitialise_ = false;
};

/* The imaging factory, or null (error recorded at entry). */
IWICImagingFactory *NewFactory(int entry);

/* A stream over an open file handle (not closed by the stream), from its offset 0. */
IStream *NewHandleStream(HANDLE file);

/* ---- Files ---- */

using fio::CopyFileData;
using fio::FileSizeOf;
using fio::ReadAt;
using fio::ReadWhole;
using fio::Source;
using fio::WriteAll;

/* ---- Settings (suite ini file, section WIC) ---- */

struct Settings {
    int jpegQuality = 90;
    int pngInterlace = 0;
    int tiffCompression = WIC_TIFF_LZW;
    int gifLoops = 0;
    int gifDelay = 10;
    int icoLargest = 1;
    int firstFrame[WIC_FORMATS] = {};
};
Settings ReadSettings(const char *iniPath);
/* Only what opening a file of format needs: its first frame, the icon choice. */
Settings ReadOpenSettings(const char *iniPath, int format);
void WriteSettings(const char *iniPath, int format, const Settings &settings, bool save);
/* The suite ini file's path, from the common library. */
std::string SuiteIni();

/* ---- Reading ---- */

/* How the frames of a pixel format reach the row protocol. */
struct ReadPlan {
    GUID copyFormat;    /* what CopyPixels gives (the frame's own, or a conversion's) */
    bool convert;       /* through a format converter */
    Shape shape;        /* copied rows -> delivered rows */
    DWORD dataType;     /* Q32_TYPE_* */
    unsigned bits;      /* bits per delivered pixel */
    bool palette;       /* the frame's palette goes with it */
};
bool PlanRead(IWICImagingFactory *factory, const GUID &native, ReadPlan &plan);

/* One frame of an open file, described. */
struct Frame {
    Com<IWICBitmapFrameDecode> decode;
    UINT width = 0, height = 0;
    ReadPlan plan{};
    double dpiX = 0, dpiY = 0;
};

/* An open decoder of one of the plug-in's formats. */
struct Decoding {
    Com<IWICImagingFactory> factory;
    Com<IStream> stream;
    Com<IWICBitmapDecoder> decoder;
    UINT frameCount = 0;
};

/* Opens the decoder of format on file (error recorded at entry on failure). */
bool OpenDecoding(int format, HANDLE file, const char *name, int entry, Decoding &decoding);
/* Takes frame index of an open decoder (error recorded on failure). */
bool OpenFrame(Decoding &decoding, UINT index, const char *name, int entry, Frame &frame);

/* Delivers the region of a request from the frame that data describes (composed or
   its own rows) to the callback, in the type the request takes. */
LONG_PTR DeliverDescribed(int format, HANDLE file, const FileData &data, Decoding &decoding,
                          Frame &frame, ImageRequest *request, RowCallback callback,
                          const char *name, int entry);

/* ---- Writing ---- */

int WriteImage(int format, HANDLE file, HGLOBAL fileData, ImageRequest *request,
               RowCallback callback);
LONG_PTR AppendFrame(int format, HGLOBAL fileData, ImageRequest *request, RowCallback callback);

/* ---- Dialogs ---- */

extern HINSTANCE Instance;
INT_PTR ShowSaveOptions(int format, HWND owner, const char *iniPath);
INT_PTR ShowOpenOptions(int format, HWND owner, const char *iniPath);

/* ---- Properties ---- */

INT_PTR GetProperty(int format, HGLOBAL fileData, HGLOBAL *property);

} // namespace wic

#endif
