/*
 * Native fuzz target of the imaging-component plug-in's header readers (no Windows
 * needed; scripts/fuzz builds and runs it as the targets jpeg, png, gif, tiff and ico).
 * The container comes from the environment (Q32_FUZZ_CONTAINER: JPG, PNG, GIF, TIF or
 * ICO). Each input is a whole file: its headers are read, and a file that passes must
 * describe frames within the limits whose palettes can be read; a PNG stream is walked
 * to its end as a read walks it.
 *
 * PNG inputs get a right checksum on every whole chunk before they are tried, so that
 * mutations reach the chunk checks instead of dying at the checksum (the corpus then
 * holds fixed inputs: a crash reproduces through this target as it is).
 */
#include "wic_header.h"
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace wic;

namespace {

Container Chosen()
{
    static const Container container = [] {
        const char *value = getenv("Q32_FUZZ_CONTAINER");
        std::string code = value ? value : "JPG";
        if (code == "PNG") return Container::Png;
        if (code == "GIF") return Container::Gif;
        if (code == "TIF") return Container::Tiff;
        if (code == "ICO") return Container::Ico;
        return Container::Jpeg;
    }();
    return container;
}

uint32_t Crc(const uint8_t *p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    while (n--) {
        crc ^= *p++;
        for (int k = 0; k < 8; k++) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

void FixPngChecksums(std::vector<uint8_t> &bytes)
{
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        uint32_t length = uint32_t(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
        if (length > bytes.size() - at - 12) break;
        uint32_t crc = Crc(bytes.data() + at + 4, 4 + size_t(length));
        uint8_t *out = bytes.data() + at + 8 + length;
        out[0] = uint8_t(crc >> 24), out[1] = uint8_t(crc >> 16), out[2] = uint8_t(crc >> 8), out[3] = uint8_t(crc);
        at += 12 + size_t(length);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Container container = Chosen();
    std::vector<uint8_t> bytes(data, data + size);
    if (container == Container::Png) FixPngChecksums(bytes);
    MemorySource source(bytes.data(), bytes.size());
    Header header;
    Verdict verdict = ReadHeader(container, source, header);
    if (container == Container::Png) (void)CheckPngStream(source);
    if (verdict != Verdict::Ok) return 0;
    if (header.frames.empty() || header.frames.size() > MaxFrames) abort();
    for (const HeaderFrame &frame : header.frames) {
        if (frame.width == 0 || frame.height == 0 || frame.width > MaxDimension || frame.height > MaxDimension)
            abort();
        std::vector<uint32_t> colours;
        if (ReadPalette(source, header, frame, colours) && (colours.empty() || colours.size() > 256)) abort();
        const bool indexed = frame.layout == Layout::Bilevel || frame.layout == Layout::Palette4 ||
                             frame.layout == Layout::Palette8;
        /* An indexed PNG or TIFF frame is described only when its colours are there. */
        if (indexed && container != Container::Gif && colours.empty()) abort();
    }
    if (header.orientation > 8) abort();
    return 0;
}
