/*
 * A program that saves one image again and again through q32File.dll, for the interrupted
 * save test, which kills it at random moments.
 *
 *   save_child make A B [CODE]       writes the two contents once, to files A and B
 *   save_child loop TARGET E [CODE]  saves the two contents into TARGET alternately for
 *                                    ever, setting the named event E once the first save
 *                                    is done
 * CODE is the format (default BMP); the image is 24-bit colour where the format takes it,
 * else 8-bit grey, else one bit a pixel.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <vector>
#include "q32file.h"
#include "q32fio.h"

namespace {

const LONG Side = 384;

struct Picture {
    BYTE shade;
    DWORD type;
};

LONG WINAPI GiveRows(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                     DWORD, LONG_PTR, LONG_PTR)
{
    const Picture &picture = *static_cast<const Picture *>(request->context);
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++) {
        if (picture.type == Q32_TYPE_BILEVEL) {
            for (LONG p = 0; p < (count + 7) / 8; p++) list[i][p] = (BYTE)(picture.shade ^ (y + i));
            continue;
        }
        if (picture.type == Q32_TYPE_GREY8) {
            for (LONG p = 0; p < count; p++) list[i][p] = (BYTE)(picture.shade ^ (x + p) ^ (y + i));
            continue;
        }
        for (LONG p = 0; p < count; p++) {
            BYTE *pixel = list[i] + 3 * p;
            pixel[0] = picture.shade;
            pixel[1] = (BYTE)(x + p);
            pixel[2] = (BYTE)(y + i);
        }
    }
    return 1;
}

/* The richest of the three kinds that the format writes. */
bool TypeOf(int format, DWORD &type, DWORD &bits)
{
    HGLOBAL block = qfFileGetFormatInfo(format);
    if (!block) return false;
    const FormatInfo *info = static_cast<const FormatInfo *>(GlobalLock(block));
    WORD caps = info ? info->typeCaps : 0;
    GlobalUnlock(block);
    GlobalFree(block);
    if (caps & Q32_CAP_RGB) type = Q32_TYPE_RGB, bits = 24;
    else if (caps & Q32_CAP_GREY8) type = Q32_TYPE_GREY8, bits = 8;
    else if (caps & Q32_CAP_BILEVEL) type = Q32_TYPE_BILEVEL, bits = 1;
    else return false;
    return true;
}

bool Save(const char *target, const char *code, BYTE shade)
{
    int format = q32FileGetFormatID(code, nullptr);
    Picture picture = {shade, 0};
    DWORD bits = 0;
    if (format < 1 || !TypeOf(format, picture.type, bits)) return false;
    HGLOBAL data = qfFileGetFileData("", nullptr);
    if (!data) return false;
    FileData *facts = static_cast<FileData *>(GlobalLock(data));
    facts->formatNumber = format;
    lstrcpynA(facts->name, target, sizeof facts->name);
    facts->raster.bitsPerPixel = bits;
    facts->raster.width = Side;
    facts->raster.height = Side;
    facts->raster.dataType = picture.type;
    GlobalUnlock(data);

    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = picture.type;
    request.context = &picture;
    int result = qfFileWrite(data, &request, GiveRows);
    q32FileFreeFileData(data);
    return result == 1;
}

} // namespace

int main(int argc, char **argv)
{
    const char *code = argc == 5 ? argv[4] : "BMP";
    if ((argc == 4 || argc == 5) && !strcmp(argv[1], "make"))
        return Save(argv[2], code, 0x11) && Save(argv[3], code, 0xEE) ? 0 : 1;
    if ((argc == 4 || argc == 5) && !strcmp(argv[1], "loop")) {
        HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
        for (unsigned i = 0;; i++) {
            if (!Save(argv[2], code, (i & 1) ? 0xEE : 0x11)) return 1;
            if (i == 0 && started) SetEvent(started);
        }
    }
    return 2;
}
