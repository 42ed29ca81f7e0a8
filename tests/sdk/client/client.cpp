/* client IN OUT: detects IN, reads it, writes it to OUT in the same format and reads OUT
   back; prints the format, the size and whether the pixels came back unchanged. */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "q32file.h"
#include "q32comm.h"

static std::vector<std::string> Rows;

static LONG WINAPI Take(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *data, DWORD flags,
                        LONG_PTR, LONG_PTR)
{
    const FileData *facts = static_cast<const FileData *>(request->context);
    size_t bytes = Q32_ROW_BYTES(facts->raster.dataType, facts->raster.bitsPerPixel, count);
    for (LONG i = 0; i < rows; i++) Rows.at(y + i).assign(static_cast<char **>(data)[i], bytes);
    return 1;
}

static LONG WINAPI Give(ImageRequest *, LONG x, LONG y, LONG count, LONG rows, void *data, DWORD flags,
                        LONG_PTR, LONG_PTR)
{
    for (LONG i = 0; i < rows; i++) memcpy(static_cast<char **>(data)[i], Rows.at(y + i).data(), Rows[y + i].size());
    return 1;
}

static int Fail(const char *what)
{
    char text[C32_ERRTEXT_SIZE] = "";
    UINT id = c32GetDLLErrorInfo(text, nullptr, nullptr, nullptr, nullptr, nullptr);
    printf("%s failed: %u %s\n", what, id, text);
    return 1;
}

static bool Read(HGLOBAL data, FileData &facts)
{
    facts = *static_cast<FileData *>(GlobalLock(data));
    GlobalUnlock(data);
    Rows.assign(facts.raster.height, std::string());
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = 0xFFFF;
    request.context = &facts;
    return qfFileRead(data, &request, Take) == 1;
}

int main(int argc, char **argv)
{
    if (argc != 3) return 2;
    char code[8] = "";
    HGLOBAL in = qfFileGetFileData(argv[1], code);
    FileData facts;
    if (!in) return Fail("detection");
    if (!Read(in, facts)) return Fail("read");
    std::vector<std::string> original = Rows;
    char path[MAX_PATH] = "";
    qfFileGetFullPath(facts.formatNumber, path, sizeof path);
    printf("%s: %s %ld x %ld from %s\n", argv[1], code, (long)facts.raster.width, (long)facts.raster.height,
           strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path);

    FileData *out = static_cast<FileData *>(GlobalLock(in));
    lstrcpynA(out->name, argv[2], sizeof out->name);
    GlobalUnlock(in);
    ImageRequest request = {};
    request.rasterWanted = 1;
    request.rasterTypes = facts.raster.dataType;
    if (qfFileWrite(in, &request, Give) != 1) return Fail("write");
    q32FileFreeFileData(in);
    HGLOBAL back = qfFileGetFileData(argv[2], nullptr);
    if (!back || !Read(back, facts)) return Fail("read back");
    q32FileFreeFileData(back);
    printf("%s\n", Rows == original ? "same pixels" : "different pixels");
    return Rows == original ? 0 : 1;
}
