/*
 * q32file: the module from the command line, loaded as an application of the suite
 * loads it.
 *
 *   q32file about                          plug-in folder, ini file, OS class, last error
 *   q32file formats                        the registered formats as a table
 *   q32file info FILE...                   the detected format and the file's facts
 *   q32file convert IN OUT [--format CODE] [--frame N]
 *                                          read through one plug-in, write through another
 *                                          (--frame: frame N of an animation or pages, from 0)
 *   q32file frames FILE                    the frames of an animation or the pages of a file
 *   q32file preview IN OUT [--box N]       the preview of IN written as a BMP
 *
 * A failure prints what failed and why (the error the module recorded, or what the tool
 * found itself) and exits with 1 (2 for usage). "formats" also lists the plug-ins of
 * the plug-in folder that give no format, with the reason.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include "q32file.h"
#include "q32fio.h"
#include "q32comm.h"
#include "image.h"
#include "diagnose.h"

namespace {

/* Prints what failed and why: the error recorded in the slot, else why. Returns 1. */
int Failed(const std::string &what, const std::string &why = "the plug-in gave no reason")
{
    char text[C32_ERRTEXT_SIZE] = "";
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (id) fprintf(stderr, "q32file: %s: %s (error %u)\n", what.c_str(), text, id);
    else fprintf(stderr, "q32file: %s: %s\n", what.c_str(), why.c_str());
    return 1;
}

/* What discovery left in the slot (a plug-in that gave no format), told with a file
   that no plug-in recognises. */
std::string DiscoveryNote;

/* Discovers the formats, then empties the slot so that each failure shows its own error. */
void Discover()
{
    qfFileGetFileFmtNum();
    char text[C32_ERRTEXT_SIZE] = "";
    if (c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr))
        DiscoveryNote = std::string(" (") + text + " See q32file formats.)";
    c32ResetDLLErrInfo();
}

/* The detection of file failed. */
int Unrecognised(const char *file)
{
    return Failed(file, "no plug-in recognises this file" + DiscoveryNote);
}

/* Says that a picture is partial, with the error recorded for it. */
void Partial(const char *what)
{
    char text[C32_ERRTEXT_SIZE] = "";
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr);
    fprintf(stderr, "q32file: %s: partial picture: %s (error %u)\n", what, id ? text : "incomplete", id);
}

int About()
{
    char folder[MAX_PATH];
    int length = q32FileGetFIOPath(folder, sizeof folder);
    printf("plug-in folder   %s\n", length ? folder : "(none)");
    char ini[MAX_PATH];
    q32GetQuillIniFileName(ini, sizeof ini);
    printf("suite ini file   %s\n", ini);
    printf("OS class         %d\n", q32GetOsVersion());
    char text[C32_ERRTEXT_SIZE];
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr);
    printf("last error       %s\n", id ? text : "none");
    return 0;
}

/* A copy of format number's FormatInfo. */
bool InfoOf(int number, FormatInfo &info)
{
    HGLOBAL copy = qfFileGetFormatInfo(number);
    if (!copy) return false;
    memcpy(&info, GlobalLock(copy), sizeof info);
    GlobalUnlock(copy);
    GlobalFree(copy);
    return true;
}

std::string Signature(const BYTE *bytes, BYTE length)
{
    std::string text;
    for (BYTE i = 0; i < length && i < 4; i++)
        text += (bytes[i] >= 32 && bytes[i] < 127) ? (char)bytes[i] : '.';
    return text;
}

/* The file name of format number's plug-in. */
std::string PluginOf(int number)
{
    char path[MAX_PATH] = "";
    qfFileGetFullPath(number, path, sizeof path);
    return strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
}

/* The plug-ins of the folder that give no format, and why. */
void ListUnregistered()
{
    char folder[MAX_PATH] = "";
    if (!q32FileGetFIOPath(folder, sizeof folder)) return;
    std::string base = folder;
    if (base.back() != '\\') base += '\\';
    std::vector<UnregisteredPlugin> plugins = UnregisteredPlugins(base);
    if (plugins.empty()) return;
    printf("\nplug-ins that give no format:\n");
    for (const UnregisteredPlugin &p : plugins) printf("  %-13s %s\n", p.file.c_str(), p.reason.c_str());
}

int Formats()
{
    int count = qfFileGetFileFmtNum();
    if (!count) {
        Failed("discovery", "no format is registered");
        ListUnregistered();
        return 1;
    }
    printf("%3s  %-4s %-32s %-13s %-6s %-10s %s\n", "#", "code", "description", "plug-in",
           "writes", "signature", "extensions");
    for (int n = 1; n <= count; n++) {
        FormatInfo info;
        if (!InfoOf(n, info)) continue;
        char path[MAX_PATH] = "", extensions[132] = "";
        qfFileGetFullPath(n, path, sizeof path);
        qfFileGetFormatExt(n, extensions, 1);
        const char *plugin = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
        std::string signature = Signature(info.signature1, info.signatureLength1);
        if (info.signatureLength2) signature += " " + Signature(info.signature2, info.signatureLength2);
        printf("%3d  %-4s %-32.32s %-13s 0x%04X %-10s %s\n", n, info.code, info.description,
               plugin, info.typeCaps & Q32_CAP_ALL_RASTER, signature.c_str(), extensions);
    }
    ListUnregistered();
    return 0;
}

int Info(int argc, char **argv)
{
    int rc = 0;
    Discover();
    for (int i = 0; i < argc; i++) {
        char code[8] = "";
        c32ResetDLLErrInfo();
        HGLOBAL handle = qfFileGetFileData(argv[i], code);
        if (!handle) {
            rc = Unrecognised(argv[i]);
            continue;
        }
        FileData *data = static_cast<FileData *>(GlobalLock(handle));
        char type[64] = "", compression[64] = "", size[Q32_SIZE_TEXT_SIZE] = "",
             date[Q32_DATE_TEXT_SIZE] = "";
        q32FileGetImageTypeString(data->raster.dataType, type, sizeof type);
        q32FileGetCompressTypeString(data->compression, compression, sizeof compression);
        q32FileSizeToAscii((long)data->fileSize, size, -1);
        GetFileDateTimeToAscii(argv[i], date);
        WORD entries = 0;
        if (data->raster.palette) GetObjectA(data->raster.palette, sizeof entries, &entries);
        FormatInfo info = {};
        InfoOf(data->formatNumber, info);
        printf("%s\n", argv[i]);
        printf("  format       %s (%s), format number %ld\n", code, info.description,
               (long)data->formatNumber);
        printf("  image        %ld x %ld, %lu bits per pixel, %s\n", (long)data->raster.width,
               (long)data->raster.height, (unsigned long)data->raster.bitsPerPixel, type);
        printf("  palette      %u entries\n", entries);
        printf("  compression  %s\n", compression);
        if (data->raster.resolutionX)
            printf("  resolution   %lu x %lu dpi\n",
                   (unsigned long)((data->raster.resolutionX + 5000) / 10000),
                   (unsigned long)((data->raster.resolutionY + 5000) / 10000));
        printf("  file         %s, %s\n", size, date);
        printf("  readable     %s\n", data->readable ? "yes" : "no");
        if (int orientation = OrientationOf(handle)) {
            static const char *const shown[] = {"", "upright", "mirrored left to right", "turned 180 degrees",
                                                "mirrored top to bottom", "mirrored on its diagonal",
                                                "turned 90 degrees clockwise", "mirrored on its other diagonal",
                                                "turned 90 degrees anticlockwise"};
            printf("  orientation  %d: shown %s (conversions turn it so)\n", orientation, shown[orientation]);
        }
        GlobalUnlock(handle);
        q32FileFreeFileData(handle);
    }
    return rc;
}

/* The target format: --format CODE, else the output name's extension. */
int TargetFormat(const char *out, const char *code)
{
    if (code) return q32FileGetFormatID(code, nullptr);
    const char *dot = strrchr(out, '.');
    return dot ? q32FileGetFormatID(dot + 1, nullptr) : -1;
}

/* A FileData for writing image into out in format number. */
HGLOBAL NewTarget(const char *out, int number, const Image &image)
{
    HGLOBAL target = qfFileGetFileData("", nullptr);
    if (!target) return nullptr;
    FileData *data = static_cast<FileData *>(GlobalLock(target));
    data->formatNumber = number;
    lstrcpynA(data->name, out, sizeof data->name);
    DescribeImage(*data, image);
    GlobalUnlock(target);
    return target;
}

/* Makes a FileData describe frame index of its file (the plug-in's frame command
   without a request): 1 when the plug-in has that frame. */
bool ChooseFrame(HGLOBAL fileData, long index)
{
    return qfFileReadFrameIndex(fileData, 0, 0, index) == 1;
}

/* A write of image into out as format number failed: what the plug-in recorded and, when
   the format does not write the image's data type, which types it writes. */
int WriteFailed(const char *out, int number, DWORD dataType)
{
    FormatInfo info = {};
    InfoOf(number, info);
    Failed(std::string("write ") + out + " as " + info.code + " (" + PluginOf(number) + ")");
    DWORD mask = info.typeCaps | ((DWORD)info.typeMaskHigh << 16);
    if (q32FileGetFCap(dataType) & mask) return 1;
    static const DWORD types[] = {Q32_TYPE_BILEVEL, Q32_TYPE_GREY4, Q32_TYPE_PALETTE4, Q32_TYPE_GREY8,
                                  Q32_TYPE_PALETTE8, Q32_TYPE_RGB,  Q32_TYPE_BGRA,     Q32_TYPE_GREY16,
                                  Q32_TYPE_RGB48,   Q32_TYPE_BGRA64};
    std::string takes;
    for (DWORD type : types) {
        char name[64] = "";
        if (!(q32FileGetFCap(type) & mask)) continue;
        q32FileGetImageTypeString(type, name, sizeof name);
        takes += (takes.empty() ? "" : ", ") + std::string(name);
    }
    char name[64] = "";
    q32FileGetImageTypeString(dataType, name, sizeof name);
    fprintf(stderr, "q32file: %s does not write %s images; it writes %s\n", info.code, name,
            takes.empty() ? "no image type" : takes.c_str());
    return 1;
}

int Convert(const char *in, const char *out, const char *code, const char *frame)
{
    Discover();
    HGLOBAL source = qfFileGetFileData(in, nullptr);
    if (!source) return Unrecognised(in);
    char *end = nullptr;
    long index = frame ? strtol(frame, &end, 10) : 0;
    if (frame && (end == frame || *end || index < 0)) {
        q32FileFreeFileData(source);
        fprintf(stderr, "q32file: --frame takes a frame number from 0\n");
        return 2;
    }
    c32ResetDLLErrInfo();
    if (frame && !ChooseFrame(source, index)) {
        q32FileFreeFileData(source);
        return Failed(std::string("frame ") + frame + " of " + in, "the plug-in has no such frame");
    }
    int number = TargetFormat(out, code);
    if (number < 1) {
        q32FileFreeFileData(source);
        fprintf(stderr, "q32file: no format writes %s\n", code ? code : out);
        return 1;
    }
    /* The rows in a type the target's writer takes; transparency kept as alpha where
       the target stores it. */
    Image image;
    bool dropped = false;
    c32ResetDLLErrInfo();
    INT_PTR read = ReadImageFor(source, number, image, dropped);
    const int orientation = OrientationOf(source);
    q32FileFreeFileData(source);
    if (read != 1 && read != Q32_READ_PARTIAL) return Failed(std::string("read ") + in);
    if (read == Q32_READ_PARTIAL) Partial(in);
    /* Written upright: the target keeps no orientation of its own. */
    Orient(image, orientation);

    HGLOBAL target = NewTarget(out, number, image);
    if (!target) return Failed("new file data");
    c32ResetDLLErrInfo();
    int written = WriteImage(target, image);
    q32FileFreeFileData(target);
    if (written != 1) return WriteFailed(out, number, image.dataType);
    printf("%s -> %s: %ld x %ld, %lu bits per pixel%s\n", in, out, (long)image.width,
           (long)image.height, (unsigned long)image.bitsPerPixel,
           read == Q32_READ_PARTIAL ? " (partial picture)" : "");
    if (dropped) {
        FormatInfo info = {};
        InfoOf(number, info);
        printf("note: %s cannot keep the transparency of %s; transparent pixels are opaque in %s\n",
               info.code, in, out);
    }
    return 0;
}

int Preview(const char *in, const char *out, int box)
{
    if (box < 1) return 2;
    Discover();
    HGLOBAL source = qfFileGetFileData(in, nullptr);
    if (!source) return Unrecognised(in);
    LONG width, height;
    {
        FileData *data = static_cast<FileData *>(GlobalLock(source));
        width = data->raster.width;
        height = data->raster.height;
        GlobalUnlock(source);
    }
    std::vector<BYTE> pixels((size_t)box * box * 4);
    static PreviewInfo info;
    /* A preview made while an error is recorded is of a picture that is not whole. */
    c32ResetDLLErrInfo();
    int made = qfFileGetPreviewMem(source, &info, 0, pixels.data(), box, box);
    q32FileFreeFileData(source);
    if (!made) return Failed(std::string("preview of ") + in);
    if (c32GetDLLErrorInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) Partial(in);

    Image image;
    image.width = info.width;
    image.height = info.height;
    image.bitsPerPixel = info.bytesPerPixel * 8;
    image.dataType = info.bytesPerPixel == 3 ? Q32_TYPE_RGB
                   : info.bytesPerPixel == 4 ? Q32_TYPE_BGRA
                   : info.paletteCount       ? Q32_TYPE_PALETTE8 : Q32_TYPE_GREY8;
    image.rowBytes = info.stride;
    image.pixels.assign(pixels.begin(), pixels.begin() + (size_t)info.stride * info.height);
    image.palette.assign(info.palette, info.palette + info.paletteCount);

    int number = q32FileGetFormatID("BMP", nullptr);
    HGLOBAL target = number > 0 ? NewTarget(out, number, image) : nullptr;
    c32ResetDLLErrInfo();
    int written = target ? WriteImage(target, image) : 0;
    if (target) q32FileFreeFileData(target);
    if (written != 1) return number > 0 ? WriteFailed(out, number, image.dataType)
                                        : Failed(std::string("write ") + out, "no format writes BMP");

    /* The reduction rule: the smallest whole step that fits the picture into the box. */
    LONG across = (width + box - 1) / box, down = (height + box - 1) / box;
    LONG step = (width <= box && height <= box) ? 1 : (across > down ? across : down);
    size_t held = (size_t)box * 8 + 4 + (size_t)info.stride * info.height;
    printf("%s: %ld x %ld, step %ld, preview %lu x %lu at %lu bytes per pixel, "
           "memory held %zu bytes\n", in, (long)width, (long)height, (long)step,
           (unsigned long)info.width, (unsigned long)info.height,
           (unsigned long)info.bytesPerPixel, held);
    return 0;
}

/* One line of a frame: its size and pixels, and where the plug-in says, its place and
   delay. */
void PrintFrame(long index, HGLOBAL fileData)
{
    FileData *data = static_cast<FileData *>(GlobalLock(fileData));
    char type[64] = "";
    q32FileGetImageTypeString(data->raster.dataType, type, sizeof type);
    printf("  frame %ld: %ld x %ld, %lu bits per pixel, %s", index, (long)data->raster.width,
           (long)data->raster.height, (unsigned long)data->raster.bitsPerPixel, type);
    const QfFrameFacts *facts = QfFileDataFacts(data);
    if (facts && facts->animation)
        printf(", at (%ld, %ld), delay %lu.%02lu s%s", (long)facts->left, (long)facts->top,
               (unsigned long)(facts->delay / 100), (unsigned long)(facts->delay % 100),
               facts->composed ? ", as the screen shows it" : "");
    printf("\n");
    GlobalUnlock(fileData);
}

int Frames(const char *in)
{
    char code[8] = "";
    Discover();
    HGLOBAL source = qfFileGetFileData(in, code);
    if (!source) return Unrecognised(in);
    FileData *data = static_cast<FileData *>(GlobalLock(source));
    const QfFrameFacts *kept = QfFileDataFacts(data);
    QfFrameFacts facts = kept ? *kept : QfFrameFacts{};
    GlobalUnlock(source);
    /* Frames not counted at detection are counted when a frame is asked for. */
    if (kept && facts.frameCount == 0 && ChooseFrame(source, long(facts.frame))) {
        facts = *QfFileDataFacts(static_cast<FileData *>(GlobalLock(source)));
        GlobalUnlock(source);
    }
    /* A plug-in that keeps no count is asked frame by frame until it has no more. */
    long count = kept ? (long)facts.frameCount : -1;
    printf("%s: %s", in, code);
    if (count >= 0) printf(", %ld frame%s", count, count == 1 ? "" : "s");
    if (facts.animation) {
        printf(", screen %lu x %lu", (unsigned long)facts.screenWidth, (unsigned long)facts.screenHeight);
        if (facts.loopCount == 0) printf(", repeated endlessly");
        else if (facts.loopCount > 0) printf(", repeated %ld times", (long)facts.loopCount);
    }
    printf("\n");
    long index = 0;
    c32ResetDLLErrInfo();
    for (; count < 0 || index < count; index++) {
        if (!ChooseFrame(source, index)) {
            if (count >= 0) {
                q32FileFreeFileData(source);
                return Failed("frame " + std::to_string(index) + " of " + in);
            }
            break;
        }
        PrintFrame(index, source);
    }
    if (index == 0) PrintFrame(0, source); /* no frames of its own: the image */
    c32ResetDLLErrInfo();
    q32FileFreeFileData(source);
    return 0;
}

int Usage()
{
    fprintf(stderr, "usage: q32file about | formats | info FILE... | frames FILE |\n"
                    "       convert IN OUT [--format CODE] [--frame N] | preview IN OUT [--box N]\n");
    return 2;
}

/* The value after flag in argv, or null. */
const char *Option(int argc, char **argv, const char *flag)
{
    for (int i = 0; i + 1 < argc; i++)
        if (!strcmp(argv[i], flag)) return argv[i + 1];
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) return Usage();
    const char *command = argv[1];
    if (!strcmp(command, "about")) return About();
    if (!strcmp(command, "formats")) return Formats();
    if (!strcmp(command, "info") && argc > 2) return Info(argc - 2, argv + 2);
    if (!strcmp(command, "convert") && argc > 3)
        return Convert(argv[2], argv[3], Option(argc, argv, "--format"), Option(argc, argv, "--frame"));
    if (!strcmp(command, "frames") && argc == 3) return Frames(argv[2]);
    if (!strcmp(command, "preview") && argc > 3) {
        const char *box = Option(argc, argv, "--box");
        return Preview(argv[2], argv[3], box ? atoi(box) : 256);
    }
    return Usage();
}
