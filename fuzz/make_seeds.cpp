/*
 * Writes the seed corpora of the native fuzzers: make_seeds CACHE_DIR BMP_DIR TGA_DIR.
 * Cache seeds are sound images (empty, one plug-in, several plug-ins of several formats);
 * bitmap seeds are small files of every kind the codec writes, plain and run-length;
 * TGA seeds are colour files as the codec writes them and small mapped and grey ones.
 */
#include "bmp_codec.h"
#include "tga_codec.h"
#include "cache_image.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Save(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

/* An image of the plug-ins named, each with formats[i] formats. */
std::vector<uint8_t> CacheSeed(const std::vector<std::pair<const char *, int>> &plugins)
{
    std::vector<uint8_t> image(CacheImageLength(MaxCacheEntries));
    size_t length = InitCacheImage(image.data());
    for (const auto &[name, formats] : plugins)
        for (int j = 0; j < formats; j++) {
            PluginCacheEntry entry = {};
            snprintf(entry.name, sizeof entry.name, "%s", name);
            entry.stamp = 0x5A2B6C31u + unsigned(strlen(name));
            entry.size = 4096u * unsigned(formats);
            entry.formatCount = formats;
            entry.info.flags = 1;
            entry.info.typeCaps = 0x7F;
            entry.info.vectorType = -1;
            snprintf(entry.info.code, sizeof entry.info.code, "F%02d", j);
            snprintf(entry.info.description, sizeof entry.info.description, "%s format %d",
                     name, j);
            entry.info.signatureLength1 = 2;
            memcpy(entry.info.signature1, "BM", 2);
            length = InsertCacheEntry(image.data(), length, entry);
        }
    image.resize(length);
    SealCacheImage(image.data(), length);
    return image;
}

/* A width x height bitmap of kind with pixel values from a simple pattern. */
std::vector<uint8_t> BitmapSeed(bmp::Kind kind, int width, int height, uint32_t compression)
{
    bmp::Layout layout;
    layout.kind = kind;
    layout.width = width;
    layout.height = height;
    layout.compression = compression;
    if (kind == bmp::Kind::Index4 || kind == bmp::Kind::Index8) {
        layout.paletteEntries = kind == bmp::Kind::Index4 ? 16 : 256;
        for (unsigned i = 0; i < layout.paletteEntries; i++)
            layout.palette[i] = {uint8_t(i * 7), uint8_t(i * 3), uint8_t(255 - i)};
    }
    if (bmp::PlanWrite(layout) != bmp::Result::Ok) return {};
    const uint64_t rowBytes = bmp::RowBytes(kind, uint64_t(width));
    const unsigned levels = kind == bmp::Kind::Index4 || kind == bmp::Kind::Grey4 ? 16 : 256;
    std::vector<uint8_t> pixels, row(rowBytes), stored(layout.stride);
    for (int y = height - 1; y >= 0; y--) {
        for (uint64_t i = 0; i < rowBytes; i++) row[i] = uint8_t((i / 3 + unsigned(y)) % levels);
        if (layout.compression == bmp::BiRle8 || layout.compression == bmp::BiRle4) {
            bmp::EncodeRleRow(layout, row.data(), pixels);
        } else {
            bmp::EncodeRow(layout, row.data(), stored.data());
            pixels.insert(pixels.end(), stored.begin(), stored.end());
        }
    }
    if (layout.compression == bmp::BiRle8 || layout.compression == bmp::BiRle4)
        bmp::EncodeRleEnd(pixels);
    layout.dataSize = pixels.size();
    std::vector<uint8_t> file = bmp::BuildHeaders(layout);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

/* A width x height TGA as the codec writes it. */
std::vector<uint8_t> TgaSeed(tga::Kind kind, int width, int height, bool rle)
{
    tga::Layout layout;
    layout.kind = kind, layout.width = width, layout.height = height, layout.rle = rle;
    std::vector<uint8_t> file = tga::BuildHeader(layout);
    std::vector<uint8_t> row(tga::RowBytes(kind, uint64_t(width)));
    for (int y = 0; y < height; y++) {
        for (size_t i = 0; i < row.size(); i++) row[i] = uint8_t(i / 7 + unsigned(y));
        tga::EncodeRow(layout, row.data(), file);
    }
    std::vector<uint8_t> trailer = tga::BuildTrailer(layout, file.size());
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

/* A TGA of the header given, followed by body. */
std::vector<uint8_t> TgaFile(std::vector<uint8_t> header, const std::vector<uint8_t> &body)
{
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: make_seeds CACHE_DIR BMP_DIR TGA_DIR\n");
        return 2;
    }
    const std::string cache = argv[1], bitmaps = argv[2], targas = argv[3];
    int written = 0;
    const std::vector<std::vector<std::pair<const char *, int>>> caches = {
        {}, {{"BMP.FIO", 1}}, {{"A.FIO", 2}, {"wic.fio", 6}, {"Z~1.FIO", 1}},
        {{"GIF.FIO", 3}, {"gif2.fio", 1}, {"JPG.FIO", 1}, {"TESTFIO.FIO", 4}}};
    for (size_t i = 0; i < caches.size(); i++)
        written += Save(cache + "/seed" + std::to_string(i), CacheSeed(caches[i]));

    using bmp::Kind;
    const Kind kinds[] = {Kind::Bilevel, Kind::Index4, Kind::Grey4, Kind::Index8,
                          Kind::Grey8, Kind::Rgb24, Kind::Bgra32};
    for (Kind kind : kinds)
        for (uint32_t compression : {bmp::BiRgb, bmp::BiRle8, bmp::BiRle4})
            for (auto [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{17, 4}}) {
                std::vector<uint8_t> file = BitmapSeed(kind, w, h, compression);
                if (file.empty()) continue;
                std::string name = bitmaps + "/k" + std::to_string(int(kind)) + "c" +
                                   std::to_string(compression) + "_" + std::to_string(w) +
                                   "x" + std::to_string(h) + ".bmp";
                written += Save(name, file);
            }
    for (tga::Kind kind : {tga::Kind::Rgb24, tga::Kind::Bgra32})
        for (bool rle : {false, true})
            for (auto [w, h] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{140, 2}})
                written += Save(targas + "/k" + std::to_string(int(kind)) + (rle ? "rle_" : "_") + std::to_string(w) +
                                    "x" + std::to_string(h) + ".tga",
                                TgaSeed(kind, w, h, rle));
    /* Mapped (24-bit map from index 1, RLE), 5-5-5 colour, grey and alpha, right to left. */
    written += Save(targas + "/mapped.tga",
                    TgaFile({0, 1, 9, 1, 0, 2, 0, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0},
                            {1, 2, 3, 4, 5, 6, 0x81, 1, 0x03, 2, 1, 2, 2}));
    written += Save(targas + "/hicolour.tga",
                    TgaFile({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 16, 0x21},
                            {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0xFF}));
    written += Save(targas + "/greyalpha.tga",
                    TgaFile({0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 16, 0x38},
                            {0x80, 9, 0xFF, 0x01, 1, 2}));
    printf("%d seeds written\n", written);
    return 0;
}
