/*
 * mksamples FOLDER: writes the sample images of the demo, made here from formulas (no
 * image is taken from elsewhere): BMP files at 24, 8, 4 and 1 bits per pixel.
 */
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

/* A bottom-up Windows bitmap of width x height at bits per pixel; pixel(x, y) gives a
   palette index, or 0x00RRGGBB for 24 bits. */
template <typename Pixel>
bool WriteBmp(const std::string &path, LONG width, LONG height, WORD bits,
              const std::vector<RGBQUAD> &palette, Pixel pixel)
{
    DWORD stride = ((width * bits + 31) / 32) * 4;
    std::vector<BYTE> rows((size_t)stride * height, 0);
    for (LONG y = 0; y < height; y++) {
        BYTE *row = &rows[(size_t)(height - 1 - y) * stride];
        for (LONG x = 0; x < width; x++) {
            DWORD v = pixel(x, y);
            switch (bits) {
            case 24: row[3 * x] = (BYTE)v; row[3 * x + 1] = (BYTE)(v >> 8); row[3 * x + 2] = (BYTE)(v >> 16); break;
            case 8: row[x] = (BYTE)v; break;
            case 4: row[x / 2] |= (BYTE)((v & 15) << ((x & 1) ? 0 : 4)); break;
            case 1: if (v & 1) row[x / 8] |= (BYTE)(0x80 >> (x & 7)); break;
            }
        }
    }
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = bits;
    info.biSizeImage = (DWORD)rows.size();
    info.biXPelsPerMeter = info.biYPelsPerMeter = 3780; /* 96 dpi */
    info.biClrUsed = (DWORD)palette.size();
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = (DWORD)(sizeof file + sizeof info + palette.size() * sizeof(RGBQUAD));
    file.bfSize = file.bfOffBits + (DWORD)rows.size();

    FILE *out = fopen(path.c_str(), "wb");
    if (!out) return false;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    if (!palette.empty()) fwrite(palette.data(), sizeof(RGBQUAD), palette.size(), out);
    fwrite(rows.data(), 1, rows.size(), out);
    return fclose(out) == 0;
}

RGBQUAD Colour(int r, int g, int b) { return RGBQUAD{(BYTE)b, (BYTE)g, (BYTE)r, 0}; }

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mksamples FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    CreateDirectoryA(folder.c_str(), nullptr);
    auto at = [&](const char *name) { return folder + "\\" + name; };

    /* A sunset: a sky gradient, a sun, a sea with bands. */
    auto sunset = [](LONG x, LONG y) -> DWORD {
        LONG dx = x - 200, dy = y - 150;
        if (y < 170 && dx * dx + dy * dy < 45 * 45) return 0xFFE080;
        if (y < 170) return (DWORD)((255 - y / 2) << 16 | (90 + y / 2) << 8 | (150 - y / 2));
        return (DWORD)((20 + (y % 12)) << 16 | (60 + x / 8) << 8 | (120 + (y - 170)));
    };
    std::vector<RGBQUAD> rainbow;
    for (int i = 0; i < 256; i++) {
        int h = i * 6 / 256, f = (i * 6) % 256;
        int r[] = {255, 255 - f, 0, 0, f, 255}, g[] = {f, 255, 255, 255 - f, 0, 0},
            b[] = {0, 0, f, 255, 255, 255 - f};
        rainbow.push_back(Colour(r[h], g[h], b[h]));
    }
    std::vector<RGBQUAD> sixteen;
    for (int i = 0; i < 16; i++) sixteen.push_back(Colour(i * 17, 255 - i * 17, (i * 53) & 255));
    std::vector<RGBQUAD> mono = {Colour(0, 0, 0), Colour(255, 255, 255)};

    bool ok = WriteBmp(at("sunset.bmp"), 400, 300, 24, {}, sunset) &&
              WriteBmp(at("rainbow.bmp"), 256, 64, 8, rainbow,
                       [](LONG x, LONG y) -> DWORD { return (DWORD)((x + y / 4) & 255); }) &&
              WriteBmp(at("tiles.bmp"), 160, 120, 4, sixteen,
                       [](LONG x, LONG y) -> DWORD { return (DWORD)((x / 20 + y / 20) & 15); }) &&
              WriteBmp(at("checks.bmp"), 96, 96, 1, mono,
                       [](LONG x, LONG y) -> DWORD { return (DWORD)(((x / 12) ^ (y / 12)) & 1); });
    if (!ok) {
        fprintf(stderr, "mksamples: cannot write into %s\n", folder.c_str());
        return 1;
    }
    printf("samples written to %s\n", folder.c_str());
    return 0;
}
