/* Headers of the plug-in's formats, read without Windows calls and without pixels. */
#include "wic_header.h"
#include <cstring>
#include <set>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif
#include <vector>

namespace wic {

bool MemorySource::Read(uint64_t offset, void *out, size_t n)
{
    if (offset > size_ || n > size_ - offset) return false;
    if (n) memcpy(out, data_ + offset, n);
    return true;
}

const uint8_t *MemorySource::View(uint64_t offset, size_t &count)
{
    count = offset < size_ ? size_t(size_ - offset) : 0;
    return count ? data_ + offset : nullptr;
}

namespace {

uint16_t Le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint16_t Be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t Le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t Be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

/* Segments, chunks or blocks walked before a file counts as damaged: far more than any
   writer makes, few enough to answer at once. */
constexpr unsigned MaxSteps = 1u << 20;

/* ---- JPEG ---- */

/* The EXIF orientation in an APP1 segment's TIFF structure (at, length bytes), or 0. */
uint8_t ExifOrientation(ByteSource &source, uint64_t at, uint64_t length)
{
    uint8_t head[8];
    if (length < 8 || !source.Read(at, head, 8)) return 0;
    bool big = head[0] == 'M' && head[1] == 'M';
    if (!big && !(head[0] == 'I' && head[1] == 'I')) return 0;
    auto u16 = [big](const uint8_t *p) { return big ? Be16(p) : Le16(p); };
    auto u32 = [big](const uint8_t *p) { return big ? Be32(p) : Le32(p); };
    if (u16(head + 2) != 42) return 0;
    uint64_t ifd = u32(head + 4);
    uint8_t countBytes[2];
    if (ifd + 2 > length || !source.Read(at + ifd, countBytes, 2)) return 0;
    unsigned count = u16(countBytes);
    for (unsigned i = 0; i < count; i++) {
        uint64_t entry = ifd + 2 + 12ull * i;
        uint8_t e[12];
        if (entry + 12 > length || !source.Read(at + entry, e, 12)) return 0;
        if (u16(e) == 0x0112 && u16(e + 2) == 3 && u32(e + 4) == 1) {
            unsigned value = u16(e + 8);
            return value >= 1 && value <= 8 ? uint8_t(value) : 0;
        }
    }
    return 0;
}

bool IsFrameMarker(uint8_t m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

/* Stray bytes between JPEG segments that are passed over. */
constexpr unsigned MaxStrayBytes = 16;

Verdict ReadJpeg(ByteSource &source, Header &header)
{
    const uint64_t size = source.Size();
    uint8_t b[16];
    if (!source.Read(0, b, 2) || b[0] != 0xFF || b[1] != 0xD8) return Verdict::Damaged;
    uint64_t at = 2;
    unsigned units = 0, densityX = 0, densityY = 0, stray = 0;
    for (unsigned steps = 0;; steps++) {
        if (steps > MaxSteps) return Verdict::Damaged;
        if (!source.Read(at, b, 2)) return Verdict::Truncated;
        if (b[0] != 0xFF) {
            /* A few stray bytes before a marker: the decoder passes them with a warning. */
            if (++stray > MaxStrayBytes) return Verdict::Damaged;
            at++;
            continue;
        }
        stray = 0;
        const uint8_t marker = b[1];
        if (marker == 0xFF) { /* fill byte */
            at++;
            continue;
        }
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA || marker == 0x00)
            return Verdict::Damaged; /* a scan or an end before the frame header */
        if (!source.Read(at, b, 2)) return Verdict::Truncated;
        const unsigned length = Be16(b);
        if (length < 2) return Verdict::Damaged;
        if (at + length > size) return Verdict::Truncated;
        const uint64_t data = at + 2, dataLength = length - 2;
        if (IsFrameMarker(marker)) {
            if (dataLength < 6 || !source.Read(data, b, 6)) return Verdict::Damaged;
            HeaderFrame frame;
            const unsigned precision = b[0], components = b[5];
            frame.height = Be16(b + 1);
            frame.width = Be16(b + 3);
            if (dataLength < 6 + 3ull * components || components == 0) return Verdict::Damaged;
            /* Height 0 (given later by a DNL segment) is not read by the decoder. */
            if (frame.width == 0 || frame.height == 0) return Verdict::Damaged;
            /* Baseline, extended, progressive, Huffman or arithmetic; 8-bit samples. */
            if (marker != 0xC0 && marker != 0xC1 && marker != 0xC2 && marker != 0xC9 && marker != 0xCA)
                return Verdict::Unsupported;
            if (precision != 8) return Verdict::Unsupported;
            switch (components) {
            case 1: frame.layout = Layout::Grey8; break;
            case 3: frame.layout = Layout::Rgb24; break;
            case 4: frame.layout = Layout::Cmyk32; break;
            default: return Verdict::Unsupported;
            }
            frame.packing = Packing::Jpeg;
            if (units == 1) frame.dpiX = densityX, frame.dpiY = densityY;
            else if (units == 2) frame.dpiX = densityX * 2.54, frame.dpiY = densityY * 2.54;
            header.frames.push_back(frame);
            header.screenWidth = frame.width;
            header.screenHeight = frame.height;
            return Verdict::Ok;
        }
        if (marker == 0xE0 && dataLength >= 12 && source.Read(data, b, 12) && !memcmp(b, "JFIF", 5)) {
            units = b[7];
            densityX = Be16(b + 8);
            densityY = Be16(b + 10);
        } else if (marker == 0xEE && dataLength >= 12 && source.Read(data, b, 12) && !memcmp(b, "Adobe", 5)) {
            header.adobe = true;
            header.adobeTransform = b[11];
        } else if (marker == 0xE1 && dataLength >= 14 && source.Read(data, b, 6) && !memcmp(b, "Exif\0\0", 6) &&
                   !header.orientation) {
            header.orientation = ExifOrientation(source, data + 6, dataLength - 6);
        }
        at += length;
    }
}

/* ---- PNG ---- */

/* CRC-32 of PNG chunks, eight bytes a step with tables. */
uint32_t Crc32Tables(uint32_t crc, const uint8_t *p, size_t n)
{
    static uint32_t table[8][256];
    static bool made = false;
    if (!made) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int t = 1; t < 8; t++) table[t][i] = table[0][table[t - 1][i] & 0xFF] ^ (table[t - 1][i] >> 8);
        made = true;
    }
    crc = ~crc;
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t low = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        crc = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^ table[4][low >> 24] ^
              table[3][p[4]] ^ table[2][p[5]] ^ table[1][p[6]] ^ table[0][p[7]];
    }
    while (n--) crc = table[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

#if defined(__x86_64__) || defined(__i386__)
bool HasCarrylessMultiply()
{
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (d & bit_SSE2);
}

#define WIC_CLMUL __attribute__((target("pclmul,sse2")))

WIC_CLMUL inline __m128i Load(const uint8_t *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }

/* x carried forward over the distance of k (two constants), added to next. */
WIC_CLMUL inline __m128i Fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

/* The same over 64-byte blocks (n a multiple of 16, at least 64) by carry-less
   multiplication: four lanes of 128 bits folded forward, then into one, reduced to 32
   bits (Barrett). crc is the running register, not inverted. */
WIC_CLMUL uint32_t FoldBlocks(uint32_t crc, const uint8_t *p, size_t n)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(crc))), x2 = Load(p + 16), x3 = Load(p + 32),
            x4 = Load(p + 48);
    for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
        x1 = Fold(x1, k1k2, Load(p));
        x2 = Fold(x2, k1k2, Load(p + 16));
        x3 = Fold(x3, k1k2, Load(p + 32));
        x4 = Fold(x4, k1k2, Load(p + 48));
    }
    x1 = Fold(Fold(Fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, k3k4, Load(p));
    /* 128 bits to 64, then to 32. */
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x1, t), 4)));
}
#endif

} // namespace

uint32_t Crc32(uint32_t crc, const uint8_t *p, size_t n)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool fast = HasCarrylessMultiply();
    if (fast && n >= 64) {
        const size_t blocks = n & ~size_t(15);
        crc = ~FoldBlocks(~crc, p, blocks);
        p += blocks;
        n -= blocks;
    }
#endif
    return Crc32Tables(crc, p, n);
}

namespace {

/* A small chunk's data (at most sizeof buffer), its checksum proved. */
bool ReadChunk(ByteSource &source, uint64_t at, const uint8_t type[4], uint32_t length, uint8_t *buffer)
{
    uint8_t crc[4];
    if (!source.Read(at + 8, buffer, length) || !source.Read(at + 8 + length, crc, 4)) return false;
    return Crc32(Crc32(0, type, 4), buffer, length) == Be32(crc);
}

Verdict ReadPng(ByteSource &source, Header &header)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    uint8_t b[768];
    if (!source.Read(0, b, 8) || memcmp(b, signature, 8)) return Verdict::Damaged;
    HeaderFrame frame;
    unsigned depth = 0, colourType = 0, paletteCount = 0;
    uint64_t paletteAt = 0;
    bool keyed = false, seenHeader = false;
    uint64_t at = 8;
    for (unsigned steps = 0;; steps++) {
        if (steps > MaxSteps) return Verdict::Damaged;
        uint8_t chunk[8];
        if (!source.Read(at, chunk, 8)) return Verdict::Truncated;
        const uint32_t length = Be32(chunk);
        const uint8_t *type = chunk + 4;
        if (length > 0x7FFFFFFFu) return Verdict::Damaged;
        for (int i = 0; i < 4; i++)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z'))) return Verdict::Damaged;
        const bool isHeader = !memcmp(type, "IHDR", 4);
        if (seenHeader == isHeader) return Verdict::Damaged; /* IHDR first, and once */
        if (!memcmp(type, "IDAT", 4)) break;
        if (!memcmp(type, "IEND", 4)) return Verdict::Damaged;
        if (at + 12 + length > source.Size()) return Verdict::Truncated;
        if (isHeader) {
            if (length != 13) return Verdict::Damaged;
            if (!ReadChunk(source, at, type, length, b)) return Verdict::Damaged;
            frame.width = Be32(b);
            frame.height = Be32(b + 4);
            depth = b[8];
            colourType = b[9];
            if (frame.width == 0 || frame.height == 0) return Verdict::Damaged;
            if (frame.width > MaxDimension || frame.height > MaxDimension) return Verdict::TooLarge;
            if (b[10] != 0 || b[11] != 0 || b[12] > 1) return Verdict::Damaged;
            bool valid = false;
            switch (colourType) {
            case 0: valid = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16; break;
            case 3: valid = depth == 1 || depth == 2 || depth == 4 || depth == 8; break;
            case 2: case 4: case 6: valid = depth == 8 || depth == 16; break;
            }
            if (!valid) return Verdict::Damaged;
            seenHeader = true;
        } else if (!memcmp(type, "PLTE", 4)) {
            if (length == 0 || length % 3 || length > 768 || paletteAt) return Verdict::Damaged;
            if (!ReadChunk(source, at, type, length, b)) return Verdict::Damaged;
            paletteAt = at + 8;
            paletteCount = length / 3;
        } else if (!memcmp(type, "tRNS", 4)) {
            /* The decoder takes a colour key of a grey or colour image, and alpha values
               for at most the palette's entries; other ones it ignores. */
            if ((colourType == 0 && length == 2) || (colourType == 2 && length == 6) ||
                (colourType == 3 && paletteAt && length >= 1 && length <= paletteCount))
                keyed = ReadChunk(source, at, type, length, b);
        } else if (!memcmp(type, "pHYs", 4) && length == 9) {
            if (ReadChunk(source, at, type, length, b) && b[8] == 1) {
                frame.dpiX = Be32(b) * 0.0254;
                frame.dpiY = Be32(b + 4) * 0.0254;
            }
        }
        at += 12 + uint64_t(length);
    }
    switch (colourType) {
    case 0:
        if (keyed && depth < 16) {
            /* A keyed grey image of few bits reaches the caller as palette indices. */
            frame.layout = depth == 1 ? Layout::Bilevel : depth == 8 ? Layout::Palette8 : Layout::Palette4;
            frame.paletteKind = PaletteKind::GreyRamp;
            frame.paletteCount = uint16_t(1u << depth);
            frame.transparent = true;
        } else if (keyed) {
            frame.layout = Layout::Bgra64;
        } else {
            frame.layout = depth == 1 ? Layout::BlackWhite : depth == 16 ? Layout::Grey16
                         : depth == 8 ? Layout::Grey8 : Layout::Grey4;
        }
        break;
    case 2:
        frame.layout = depth == 8 ? (keyed ? Layout::Bgra32 : Layout::Rgb24) : (keyed ? Layout::Bgra64 : Layout::Rgb48);
        break;
    case 3:
        if (!paletteAt) return Verdict::Damaged;
        frame.layout = depth == 1 ? Layout::Bilevel : depth == 8 ? Layout::Palette8 : Layout::Palette4;
        frame.paletteKind = PaletteKind::Rgb;
        frame.paletteAt = paletteAt;
        frame.paletteCount = uint16_t(paletteCount);
        frame.transparent = keyed;
        break;
    default: /* grey or colour with alpha */
        frame.layout = depth == 8 ? Layout::Bgra32 : Layout::Bgra64;
        break;
    }
    frame.packing = Packing::Deflate;
    header.frames.push_back(frame);
    header.screenWidth = frame.width;
    header.screenHeight = frame.height;
    return Verdict::Ok;
}

} // namespace

Verdict CheckPngStream(ByteSource &source)
{
    std::vector<uint8_t> piece;
    uint64_t at = 8;
    for (unsigned steps = 0;; steps++) {
        if (steps > MaxSteps) return Verdict::Damaged;
        uint8_t chunk[8];
        if (!source.Read(at, chunk, 8)) return Verdict::Truncated;
        const uint32_t length = Be32(chunk);
        if (length > 0x7FFFFFFFu) return Verdict::Damaged;
        if (at + 12 + length > source.Size()) return Verdict::Truncated;
        uint32_t crc = Crc32(0, chunk + 4, 4);
        for (uint64_t done = 0; done < length;) {
            const uint64_t left = length - done;
            size_t part = 0;
            const uint8_t *bytes = source.View(at + 8 + done, part);
            if (!bytes) {
                piece.resize(64 * 1024);
                part = left < piece.size() ? size_t(left) : piece.size();
                if (!source.Read(at + 8 + done, piece.data(), part)) return Verdict::Truncated;
                bytes = piece.data();
            } else if (part > left) {
                part = size_t(left);
            }
            crc = Crc32(crc, bytes, part);
            done += part;
        }
        uint8_t stored[4];
        if (!source.Read(at + 8 + length, stored, 4)) return Verdict::Truncated;
        if (crc != Be32(stored)) return Verdict::Damaged;
        if (!memcmp(chunk + 4, "IEND", 4)) return Verdict::Ok;
        at += 12 + uint64_t(length);
    }
}

namespace {

/* ---- GIF ---- */

/* Skips a chain of data sub-blocks from at; false when it is cut short. The lengths are
   followed in place where the source keeps the bytes. The walk ends early, with at past
   stop, once it passes stop. */
bool SkipSubBlocks(ByteSource &source, uint64_t &at, uint64_t stop = UINT64_MAX)
{
    for (;;) {
        if (at > stop) return true;
        size_t count = 0;
        if (const uint8_t *p = source.View(at, count)) {
            if (stop - at < count) count = size_t(stop - at) + 1;
            size_t i = 0;
            while (i < count && p[i]) i += 1 + size_t(p[i]);
            if (i < count) {
                at += i + 1;
                return true;
            }
            at += i;
            continue;
        }
        uint8_t length;
        if (!source.Read(at, &length, 1)) return false;
        at += 1 + uint64_t(length);
        if (length == 0) return true;
    }
}

Verdict ReadGif(ByteSource &source, Header &header, uint64_t limit)
{
    uint8_t b[16];
    if (!source.Read(0, b, 13) || memcmp(b, "GIF8", 4) || (b[4] != '7' && b[4] != '9') || b[5] != 'a')
        return Verdict::Damaged;
    header.screenWidth = Le16(b + 6);
    header.screenHeight = Le16(b + 8);
    const uint8_t aspect = b[12];
    uint64_t at = 13, globalAt = 0;
    uint16_t globalCount = 0;
    if (b[10] & 0x80) {
        globalAt = at;
        globalCount = uint16_t(2u << (b[10] & 7));
        at += 3u * globalCount;
    }
    const double dpiX = aspect ? 96.0 / ((aspect + 15.0) / 64.0) : 96.0;
    uint16_t delay = 0;
    uint8_t disposal = 0;
    int16_t transparent = -1;
    for (unsigned steps = 0;; steps++) {
        if (steps > MaxSteps) return Verdict::Damaged;
        if (at > limit && !header.frames.empty()) {
            header.counted = false;
            return Verdict::Ok;
        }
        uint8_t kind;
        if (!source.Read(at, &kind, 1)) return Verdict::Truncated;
        at++;
        if (kind == 0x3B) break;
        if (kind == 0x21) {
            uint8_t label;
            if (!source.Read(at, &label, 1)) return Verdict::Truncated;
            at++;
            uint8_t first[12];
            uint8_t firstLength = 0;
            if (!source.Read(at, &firstLength, 1)) return Verdict::Truncated;
            if (firstLength && firstLength <= sizeof first && !source.Read(at + 1, first, firstLength))
                return Verdict::Truncated;
            if (label == 0xF9 && firstLength >= 4) delay = Le16(first + 1);
            if (label == 0xF9 && firstLength == 4) {
                disposal = uint8_t(first[0] >> 2 & 7);
                transparent = (first[0] & 1) ? int16_t(first[3]) : int16_t(-1);
            }
            if (label == 0xFF && firstLength == 11 && !memcmp(first, "NETSCAPE2.0", 11)) {
                uint8_t loop[4];
                if (source.Read(at + 12, loop, 4) && loop[0] == 3 && loop[1] == 1)
                    header.loopCount = Le16(loop + 2);
            }
            if (!SkipSubBlocks(source, at)) return Verdict::Truncated;
            continue;
        }
        if (kind != 0x2C) return Verdict::Damaged;
        if (!source.Read(at, b, 9)) return Verdict::Truncated;
        at += 9;
        HeaderFrame frame;
        frame.left = Le16(b);
        frame.top = Le16(b + 2);
        frame.width = Le16(b + 4);
        frame.height = Le16(b + 6);
        frame.delay = delay;
        frame.disposal = disposal;
        frame.transparentIndex = transparent;
        delay = 0;
        disposal = 0;
        transparent = -1;
        if (frame.width == 0 || frame.height == 0) return Verdict::Damaged;
        if (b[8] & 0x80) {
            frame.paletteAt = at;
            frame.paletteCount = uint16_t(2u << (b[8] & 7));
            at += 3u * frame.paletteCount;
        } else if (globalAt) {
            frame.paletteAt = globalAt;
            frame.paletteCount = globalCount;
        }
        if (frame.paletteAt) frame.paletteKind = PaletteKind::Rgb;
        uint8_t codeSize;
        if (!source.Read(at, &codeSize, 1)) return Verdict::Truncated;
        if (codeSize < 1 || codeSize > 11) return Verdict::Damaged;
        at++;
        if (!SkipSubBlocks(source, at, limit)) return Verdict::Truncated;
        frame.layout = Layout::Palette8;
        frame.packing = Packing::Lzw;
        frame.dpiX = dpiX;
        frame.dpiY = 96.0;
        if (header.frames.size() >= MaxFrames) return Verdict::TooLarge;
        header.frames.push_back(frame);
    }
    /* The trailer's position is past the data read: a stream cut inside it is short. */
    if (at > source.Size()) return Verdict::Truncated;
    return header.frames.empty() ? Verdict::Damaged : Verdict::Ok;
}

/* ---- TIFF ---- */

struct TiffEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    uint64_t valueAt = 0;   /* where the values are: in the entry, or at its offset */
    bool present = false;
};

unsigned TiffTypeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

class TiffReader {
public:
    TiffReader(ByteSource &source, bool big) : source_(source), big_(big) {}
    uint16_t U16(const uint8_t *p) const { return big_ ? Be16(p) : Le16(p); }
    uint32_t U32(const uint8_t *p) const { return big_ ? Be32(p) : Le32(p); }

    /* Value index of a SHORT, LONG or BYTE entry; fallback when it has none. */
    bool Value(const TiffEntry &e, uint32_t index, uint32_t &value)
    {
        uint8_t b[4];
        if (!e.present || index >= e.count) return false;
        switch (e.type) {
        case 1: if (!source_.Read(e.valueAt + index, b, 1)) return false; value = b[0]; return true;
        case 3: if (!source_.Read(e.valueAt + 2ull * index, b, 2)) return false; value = U16(b); return true;
        case 4: if (!source_.Read(e.valueAt + 4ull * index, b, 4)) return false; value = U32(b); return true;
        default: return false;
        }
    }
    uint32_t ValueOr(const TiffEntry &e, uint32_t fallback)
    {
        uint32_t value;
        return Value(e, 0, value) ? value : fallback;
    }
    double Rational(const TiffEntry &e)
    {
        uint8_t b[8];
        if (!e.present || e.type != 5 || e.count < 1 || !source_.Read(e.valueAt, b, 8) || U32(b + 4) == 0) return 0;
        return double(U32(b)) / U32(b + 4);
    }

private:
    ByteSource &source_;
    bool big_;
};

Verdict ReadTiff(ByteSource &source, Header &header)
{
    const uint64_t size = source.Size();
    uint8_t b[12];
    if (!source.Read(0, b, 8)) return Verdict::Damaged;
    bool big = b[0] == 'M' && b[1] == 'M';
    if (!big && !(b[0] == 'I' && b[1] == 'I')) return Verdict::Damaged;
    header.bigEndian = big;
    TiffReader tiff(source, big);
    if (tiff.U16(b + 2) != 42) return Verdict::Unsupported; /* BigTIFF and others */
    uint64_t ifd = tiff.U32(b + 4);
    std::set<uint64_t> seen;
    uint64_t here = 0;
    enum { Width, Height, Bits, Compression, Photometric, Samples, Planar, ColourMap, Extra, SampleFormat,
           ResX, ResY, ResUnit, StripOffsets, StripCounts, TileOffsets, TileCounts, Orientation, Tags };
    static const uint16_t wanted[Tags] = {256, 257, 258, 259, 262, 277, 284, 320, 338, 339,
                                          282, 283, 296, 273, 279, 324, 325, 274};
    while (ifd != 0) {
        if (!seen.insert(ifd).second) return Verdict::Damaged; /* a loop */
        if (seen.size() > MaxFrames) return Verdict::TooLarge;
        here = ifd;
        if (!source.Read(ifd, b, 2)) return Verdict::Truncated;
        const unsigned count = tiff.U16(b);
        if (count == 0) return Verdict::Damaged;
        if (ifd + 2 + 12ull * count + 4 > size) return Verdict::Truncated;
        TiffEntry tags[Tags];
        for (unsigned i = 0; i < count; i++) {
            const uint64_t at = ifd + 2 + 12ull * i;
            if (!source.Read(at, b, 12)) return Verdict::Truncated;
            TiffEntry e;
            e.tag = tiff.U16(b);
            e.type = tiff.U16(b + 2);
            e.count = tiff.U32(b + 4);
            const unsigned unit = TiffTypeSize(e.type);
            if (unit == 0) continue; /* a type the decoder skips */
            const uint64_t bytes = uint64_t(e.count) * unit;
            e.valueAt = bytes <= 4 ? at + 8 : tiff.U32(b + 8);
            /* No count or offset is taken before it is known to lie inside the file. */
            if (e.valueAt + bytes > size) return Verdict::Damaged;
            e.present = true;
            for (int k = 0; k < Tags; k++)
                if (e.tag == wanted[k] && !tags[k].present) tags[k] = e;
        }
        HeaderFrame frame;
        uint32_t value = 0;
        if (!tiff.Value(tags[Width], 0, value)) return Verdict::Damaged;
        frame.width = value;
        if (!tiff.Value(tags[Height], 0, value)) return Verdict::Damaged;
        frame.height = value;
        if (frame.width == 0 || frame.height == 0) return Verdict::Damaged;
        if (frame.width > MaxDimension || frame.height > MaxDimension) return Verdict::TooLarge;
        const bool tiled = tags[TileOffsets].present;
        const TiffEntry &offsets = tiled ? tags[TileOffsets] : tags[StripOffsets];
        const TiffEntry &counts = tiled ? tags[TileCounts] : tags[StripCounts];
        if (!offsets.present || offsets.count == 0 || (counts.present && counts.count < offsets.count))
            return Verdict::Damaged;

        const uint32_t bits = tiff.ValueOr(tags[Bits], 1), samples = tiff.ValueOr(tags[Samples], 1);
        const uint32_t photometric = tiff.ValueOr(tags[Photometric], 0xFFFF);
        const uint32_t planar = tiff.ValueOr(tags[Planar], 1), format = tiff.ValueOr(tags[SampleFormat], 1);
        const uint32_t compression = tiff.ValueOr(tags[Compression], 1);
        if (samples == 0 || bits == 0 || bits > 64) return Verdict::Damaged;
        const bool plain = planar == 1 && format == 1 && compression != 6 && compression != 7;
        bool mixed = false;
        for (uint32_t s = 1; s < tags[Bits].count && s < samples; s++)
            if (tiff.Value(tags[Bits], s, value) && value != bits) mixed = true;
        if (plain && !mixed) {
            if ((photometric == 0 || photometric == 1) && samples == 1) {
                frame.layout = bits == 1 ? Layout::BlackWhite : bits == 4 ? Layout::Grey4 : bits == 8 ? Layout::Grey8
                             : bits == 16 ? Layout::Grey16 : Layout::Unknown;
            } else if (photometric == 2 && samples == 3) {
                frame.layout = bits == 8 ? Layout::Rgb24 : bits == 16 ? Layout::Rgb48 : Layout::Unknown;
            } else if (photometric == 2 && samples == 4 && bits == 8) {
                frame.layout = Layout::Bgra32;
            } else if (photometric == 5 && samples == 4 && bits == 8) {
                frame.layout = Layout::Cmyk32;
            } else if (photometric == 3 && samples == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
                frame.layout = bits == 1 ? Layout::Bilevel : bits == 8 ? Layout::Palette8 : Layout::Palette4;
            }
        }
        if (photometric == 3) {
            if (bits > 8 || tags[ColourMap].type != 3 || tags[ColourMap].count != 3u << bits) return Verdict::Damaged;
            frame.paletteKind = PaletteKind::TiffMap;
            frame.paletteAt = tags[ColourMap].valueAt;
            frame.paletteCount = uint16_t(1u << bits);
        }
        switch (compression) {
        case 2: frame.packing = Packing::Huffman; break;
        case 3: frame.packing = Packing::Ccitt3; break;
        case 4: frame.packing = Packing::Ccitt4; break;
        case 5: frame.packing = Packing::Lzw; break;
        case 6: case 7: frame.packing = Packing::Jpeg; break;
        case 8: case 32946: frame.packing = Packing::Deflate; break;
        case 32773: frame.packing = Packing::PackBits; break;
        default: frame.packing = Packing::None; break;
        }
        const uint32_t unit = tiff.ValueOr(tags[ResUnit], 2);
        const double scale = unit == 3 ? 2.54 : 1.0; /* centimetres, else inches */
        frame.dpiX = tiff.Rational(tags[ResX]) * scale;
        frame.dpiY = tiff.Rational(tags[ResY]) * scale;
        if (header.frames.empty()) {
            const uint32_t orientation = tiff.ValueOr(tags[Orientation], 0);
            header.orientation = orientation >= 1 && orientation <= 8 ? uint8_t(orientation) : 0;
        }
        header.frames.push_back(frame);
        uint8_t next[4];
        if (!source.Read(here + 2 + 12ull * count, next, 4)) return Verdict::Truncated;
        ifd = tiff.U32(next);
    }
    if (header.frames.empty()) return Verdict::Damaged;
    header.screenWidth = header.frames[0].width;
    header.screenHeight = header.frames[0].height;
    return Verdict::Ok;
}

/* ---- ICO ---- */

Verdict ReadIco(ByteSource &source, Header &header)
{
    const uint64_t size = source.Size();
    uint8_t b[24];
    if (!source.Read(0, b, 6) || Le16(b) != 0 || Le16(b + 2) != 1) return Verdict::Damaged;
    const unsigned count = Le16(b + 4);
    if (count == 0) return Verdict::Damaged;
    if (6 + 16ull * count > size) return Verdict::Truncated;
    for (unsigned i = 0; i < count; i++) {
        if (!source.Read(6 + 16ull * i, b, 16)) return Verdict::Truncated;
        const uint64_t bytes = Le32(b + 8), offset = Le32(b + 12);
        if (offset + bytes > size) return Verdict::Truncated;
        if (bytes < 24 || !source.Read(offset, b, 24)) return Verdict::Damaged;
        HeaderFrame frame;
        static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        if (!memcmp(b, png, 8)) {
            if (memcmp(b + 12, "IHDR", 4)) return Verdict::Damaged;
            frame.width = Be32(b + 16);
            frame.height = Be32(b + 20);
        } else {
            const uint32_t headerSize = Le32(b);
            if (headerSize == 12) {
                frame.width = Le16(b + 4);
                frame.height = Le16(b + 6) / 2u;
            } else if (headerSize >= 40 && headerSize <= 124) {
                const int32_t w = int32_t(Le32(b + 4)), h = int32_t(Le32(b + 8));
                if (w <= 0 || h <= 0) return Verdict::Damaged;
                frame.width = uint32_t(w);
                frame.height = uint32_t(h) / 2u;
            } else {
                return Verdict::Damaged;
            }
        }
        if (frame.width == 0 || frame.height == 0) return Verdict::Damaged;
        if (frame.width > MaxDimension || frame.height > MaxDimension) return Verdict::TooLarge;
        frame.layout = Layout::Bgra32;
        header.frames.push_back(frame);
    }
    header.screenWidth = header.frames[0].width;
    header.screenHeight = header.frames[0].height;
    return Verdict::Ok;
}

} // namespace

Verdict ReadHeader(Container container, ByteSource &source, Header &header, uint64_t limit)
{
    header = Header{};
    Verdict verdict = Verdict::Unsupported;
    switch (container) {
    case Container::Jpeg: verdict = ReadJpeg(source, header); break;
    case Container::Png: verdict = ReadPng(source, header); break;
    case Container::Gif: verdict = ReadGif(source, header, limit); break;
    case Container::Tiff: verdict = ReadTiff(source, header); break;
    case Container::Ico: verdict = ReadIco(source, header); break;
    default: break;
    }
    if (verdict == Verdict::Ok && header.frames.empty()) verdict = Verdict::Damaged;
    return verdict;
}

bool ReadPalette(ByteSource &source, const Header &header, const HeaderFrame &frame,
                 std::vector<uint32_t> &colours)
{
    colours.clear();
    const unsigned count = frame.paletteCount;
    if (count == 0 || count > 256) return false;
    switch (frame.paletteKind) {
    case PaletteKind::Rgb: {
        uint8_t b[768];
        if (!source.Read(frame.paletteAt, b, 3u * count)) return false;
        for (unsigned i = 0; i < count; i++)
            colours.push_back(uint32_t(b[3 * i]) << 16 | uint32_t(b[3 * i + 1]) << 8 | b[3 * i + 2]);
        return true;
    }
    case PaletteKind::TiffMap: {
        uint8_t b[1536];
        if (!source.Read(frame.paletteAt, b, 6u * count)) return false;
        auto high = [&](unsigned i) { return header.bigEndian ? b[2 * i] : b[2 * i + 1]; };
        for (unsigned i = 0; i < count; i++)
            colours.push_back(uint32_t(high(i)) << 16 | uint32_t(high(count + i)) << 8 | high(2 * count + i));
        return true;
    }
    case PaletteKind::GreyRamp:
        for (unsigned i = 0; i < count; i++) {
            uint32_t v = count > 1 ? i * 255 / (count - 1) : 0;
            colours.push_back(v << 16 | v << 8 | v);
        }
        return true;
    default:
        return false;
    }
}

} // namespace wic
