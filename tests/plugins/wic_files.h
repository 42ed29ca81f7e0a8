/* Files made and read by the imaging component directly, not through our plug-in; and by hand. */
#ifndef WIC_FILES_H
#define WIC_FILES_H

#include <windows.h>
#include <wincodec.h>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace wictest {

/* One frame: rows in the component's layout for format (stride = packed row bytes). */
struct Picture {
    GUID format = GUID_WICPixelFormat24bppBGR;
    UINT width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::vector<WICColor> palette;   /* for indexed formats */

    UINT Bits() const;
    UINT Stride() const { return (width * Bits() + 7) / 8; }
};

/* Pixels that change across the picture, with some runs, from a seed. */
Picture Pattern(const GUID &format, UINT width, UINT height, unsigned seed,
                std::vector<WICColor> palette = {});

/* A smooth picture (soft waves), for lossy encoders. */
Picture Smooth(const GUID &format, UINT width, UINT height);

/* Writes the frames into a file of container; false on any failure of the component. */
bool Encode(const std::string &path, const GUID &container, const std::vector<Picture> &frames);

/* Decodes frame index of a file into format (through a converter when needed). */
bool Decode(const std::string &path, UINT index, const GUID &format, Picture &picture,
            UINT *frameCount = nullptr);

/* Peak signal-to-noise ratio of two byte buffers of equal length, in dB. */
double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b);

/* A PNG chunk: length, type, data and CRC. */
std::string PngChunk(const std::string &type, const std::string &data);

/* A PNG of raw rows as PNG stores them, in stored deflate blocks; extra chunks before IDAT. */
std::string MakePng(UINT width, UINT height, int colourType, int bitDepth,
                    const std::vector<std::string> &rows, const std::string &extraChunks = "");

/* One image of a GIF: its place, disposal, transparent index (-1: none), indices below 4. */
struct GifFrame {
    UINT left, top, width, height;
    int disposal, transparent;
    std::string indices;
};

/* A GIF89a of a screen and a global table of four colours (0xRRGGBB), the frames LZW-coded
   without compression (a clear code before every index). */
std::string MakeGif(UINT screenWidth, UINT screenHeight, const uint32_t colours[4],
                    const std::vector<GifFrame> &frames);

/* Runs the component's calls of a test with COM started on the thread. */
class Com {
public:
    Com() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Com() { CoUninitialize(); }
};

} // namespace wictest

#endif
