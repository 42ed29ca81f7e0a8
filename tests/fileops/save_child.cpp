/*
 * A program that saves one BMP again and again through q32File.dll, for the interrupted
 * save test, which kills it at random moments.
 *
 *   save_child make A B       writes the two contents once, to files A and B
 *   save_child loop TARGET E  saves the two contents into TARGET alternately for ever,
 *                             setting the named event E once the first save is done
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <vector>
#include "q32file.h"

namespace {

const LONG Side = 384;

struct Picture {
    BYTE shade;
};

LONG WINAPI GiveRows(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                     DWORD flags, LONG_PTR, LONG_PTR)
{
    const Picture &picture = *static_cast<const Picture *>(request->context);
    BYTE *const *list = static_cast<BYTE *const *>(rowData);
    for (LONG i = 0; i < rows; i++)
        for (LONG p = 0; p < count; p++) {
            BYTE *pixel = list[i] + 3 * p;
            pixel[0] = picture.shade;
            pixel[1] = (BYTE)(x + p);
            pixel[2] = (BYTE)(y + i);
        }
    return 1;
}

bool Save(const char *target, BYTE shade)
{
    HGLOBAL data = qfFileGetFileData("", nullptr);
    if (!data) return false;
    FileData *facts = static_cast<FileData *>(GlobalLock(data));
    facts->formatNumber = q32FileGetFormatID("BMP", nullptr);
    lstrcpynA(facts->name, target, sizeof facts->name);
    facts->raster.bitsPerPixel = 24;
    facts->raster.width = Side;
    facts->raster.height = Side;
    facts->raster.dataType = Q32_TYPE_RGB;
    GlobalUnlock(data);

    Picture picture = {shade};
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = Q32_TYPE_RGB;
    request.context = &picture;
    int result = qfFileWrite(data, &request, GiveRows);
    q32FileFreeFileData(data);
    return result == 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && !strcmp(argv[1], "make"))
        return Save(argv[2], 0x11) && Save(argv[3], 0xEE) ? 0 : 1;
    if (argc == 4 && !strcmp(argv[1], "loop")) {
        HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
        for (unsigned i = 0;; i++) {
            if (!Save(argv[2], (i & 1) ? 0xEE : 0x11)) return 1;
            if (i == 0 && started) SetEvent(started);
        }
    }
    return 2;
}
