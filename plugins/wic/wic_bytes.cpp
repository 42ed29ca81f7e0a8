/* Containers and pixel rows over byte buffers: no Windows calls. */
#include "wic_bytes.h"
#include <cstring>

namespace wic {

namespace {

uint16_t Le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint16_t Be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

/* Skips a chain of GIF data sub-blocks from at; the position after its terminator, or
   size + 1 when the chain is cut short. */
size_t SkipSubBlocks(const uint8_t *data, size_t size, size_t at)
{
    while (at < size) {
        uint8_t length = data[at];
        if (length == 0) return at + 1;
        at += 1 + size_t(length);
    }
    return size + 1;
}

const uint8_t LoopBlockName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};

bool IsLoopBlock(const uint8_t *data, size_t size, size_t at)
{
    /* 21 FF 0B "NETSCAPE2.0" 03 01 lo hi 00 */
    return at + 19 <= size && data[at + 2] == 11 && !memcmp(data + at + 3, LoopBlockName, 11) &&
           data[at + 14] == 3 && data[at + 15] == 1;
}

/* The header, screen descriptor and global colour table of a GIF stream: its length, or
   0 when the stream is not a GIF or ends inside them. */
size_t GifHeaderLength(const uint8_t *data, size_t size)
{
    if (size < 13 || memcmp(data, "GIF8", 4) != 0 || (data[4] != '7' && data[4] != '9') ||
        data[5] != 'a')
        return 0;
    size_t at = 13;
    if (data[10] & 0x80) at += 3u << ((data[10] & 7) + 1);
    return at <= size ? at : 0;
}

} // namespace

bool HasSignature(Container container, const uint8_t *h, size_t size, uint64_t fileSize)
{
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    switch (container) {
    case Container::Jpeg: {
        /* A marker after the start; other decoders pass a few stray bytes before it. */
        if (size < 3 || h[0] != 0xFF || h[1] != 0xD8) return false;
        for (size_t i = 2; i + 1 < size && i < 8; i++)
            if (h[i] == 0xFF && h[i + 1] >= 0xC0 && h[i + 1] != 0xFF) return true;
        return false;
    }
    case Container::Png:
        return size >= 8 && !memcmp(h, png, 8);
    case Container::Tiff:
        return size >= 4 && (!memcmp(h, "II*\0", 4) || !memcmp(h, "MM\0*", 4));
    case Container::Gif:
        return size >= 6 && (!memcmp(h, "GIF87a", 6) || !memcmp(h, "GIF89a", 6));
    case Container::Ico: {
        if (size < 6 || Le16(h) != 0 || Le16(h + 2) != 1) return false;
        unsigned count = Le16(h + 4);
        return count > 0 && fileSize >= 6 + 16ull * count;
    }
    }
    return false;
}

bool JpegHasEnd(const uint8_t *tail, size_t size)
{
    for (size_t i = 1; i < size; i++)
        if (tail[i - 1] == 0xFF && tail[i] == 0xD9) return true;
    return false;
}

std::vector<std::string> JpegComments(const uint8_t *data, size_t size)
{
    std::vector<std::string> comments;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return comments;
    size_t at = 2;
    while (at + 1 < size) {
        if (data[at] != 0xFF) break;
        uint8_t marker = data[at + 1];
        if (marker == 0xFF) { /* fill byte */
            at++;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break; /* end, or the first scan */
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == 0xD8) {
            at += 2;
            continue;
        }
        if (at + 4 > size) break;
        size_t length = Be16(data + at + 2);
        if (length < 2 || at + 2 + length > size) break;
        if (marker == 0xFE) comments.emplace_back(reinterpret_cast<const char *>(data + at + 4), length - 2);
        at += 2 + length;
    }
    return comments;
}

bool ReadGifAnimation(const uint8_t *data, size_t size, GifAnimation &animation)
{
    animation = GifAnimation{};
    size_t at = GifHeaderLength(data, size);
    if (!at) return false;
    animation.screenWidth = Le16(data + 6);
    animation.screenHeight = Le16(data + 8);
    if (data[10] & 0x80) {
        const size_t entry = 13 + 3 * size_t(data[11]);
        if (entry + 3 <= at)
            animation.background = 0xFF000000u | uint32_t(data[entry]) << 16 | uint32_t(data[entry + 1]) << 8 |
                                   data[entry + 2];
    }
    uint16_t pendingDelay = 0;
    uint8_t pendingDisposal = 0;
    int16_t pendingTransparent = -1;
    while (at < size) {
        switch (data[at]) {
        case 0x3B:
            animation.complete = true;
            return true;
        case 0x21: {
            if (at + 2 > size) return true;
            uint8_t label = data[at + 1];
            if (label == 0xF9 && at + 8 <= size && data[at + 2] == 4) {
                pendingDelay = Le16(data + at + 4);
                pendingDisposal = uint8_t(data[at + 3] >> 2 & 7);
                pendingTransparent = (data[at + 3] & 1) ? int16_t(data[at + 6]) : int16_t(-1);
            }
            if (label == 0xFF && IsLoopBlock(data, size, at)) animation.loopCount = Le16(data + at + 16);
            size_t end = SkipSubBlocks(data, size, at + 2);
            if (end > size) return true;
            if (label == 0xFE) {
                std::string text;
                for (size_t p = at + 2; p < end - 1; p += 1 + data[p])
                    text.append(reinterpret_cast<const char *>(data + p + 1), data[p]);
                animation.comments.push_back(text);
            }
            at = end;
            break;
        }
        case 0x2C: {
            if (at + 10 > size) return true;
            size_t next = at + 10;
            if (data[at + 9] & 0x80) next += 3u << ((data[at + 9] & 7) + 1);
            next += 1; /* LZW minimum code size */
            if (next > size) return true;
            const size_t start = at;
            at = SkipSubBlocks(data, size, next);
            if (at > size) return true; /* the image is cut short */
            GifImage image;
            image.left = Le16(data + start + 1);
            image.top = Le16(data + start + 3);
            image.width = Le16(data + start + 5);
            image.height = Le16(data + start + 7);
            image.delay = pendingDelay;
            image.disposal = pendingDisposal;
            image.transparent = pendingTransparent;
            animation.images.push_back(image);
            pendingDelay = 0;
            pendingDisposal = 0;
            pendingTransparent = -1;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool WriteGifAnimation(const uint8_t *data, size_t size, int32_t loopCount,
                       const std::vector<uint16_t> &delays, std::vector<uint8_t> &out)
{
    out.clear();
    size_t at = GifHeaderLength(data, size);
    if (!at) return false;
    out.assign(data, data + at);
    if (loopCount >= 0) {
        uint16_t loops = loopCount > 0xFFFF ? 0xFFFF : uint16_t(loopCount);
        const uint8_t block[] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                                 3, 1, uint8_t(loops), uint8_t(loops >> 8), 0};
        out.insert(out.end(), block, block + sizeof block);
    }
    std::vector<uint8_t> control; /* the pending graphic control block */
    size_t image = 0;
    while (at < size) {
        switch (data[at]) {
        case 0x3B:
            out.push_back(0x3B);
            return true;
        case 0x21: {
            if (at + 2 > size) return false;
            size_t end = SkipSubBlocks(data, size, at + 2);
            if (end > size) return false;
            uint8_t label = data[at + 1];
            if (label == 0xF9 && end - at == 8 && data[at + 2] == 4)
                control.assign(data + at, data + end);
            else if (!(label == 0xFF && loopCount >= 0 && IsLoopBlock(data, size, at)))
                out.insert(out.end(), data + at, data + end);
            at = end;
            break;
        }
        case 0x2C: {
            if (at + 10 > size) return false;
            size_t next = at + 10;
            if (data[at + 9] & 0x80) next += 3u << ((data[at + 9] & 7) + 1);
            size_t end = next + 1 > size ? size + 1 : SkipSubBlocks(data, size, next + 1);
            if (end > size) return false;
            uint16_t delay = delays.empty() ? 0 : delays[image < delays.size() ? image : delays.size() - 1];
            if (control.empty()) control = {0x21, 0xF9, 4, 0, 0, 0, 0, 0};
            control[4] = uint8_t(delay);
            control[5] = uint8_t(delay >> 8);
            out.insert(out.end(), control.begin(), control.end());
            control.clear();
            out.insert(out.end(), data + at, data + end);
            image++;
            at = end;
            break;
        }
        default:
            return false;
        }
    }
    return false; /* no trailer */
}

bool GifFrameNeedsScreen(const GifAnimation &animation, size_t index)
{
    if (index >= animation.images.size()) return false;
    const GifImage &image = animation.images[index];
    const bool covers = image.left == 0 && image.top == 0 && image.width >= animation.screenWidth &&
                        image.height >= animation.screenHeight;
    /* The first frame over the whole screen is the frame itself; a later one may let
       what was drawn before show through its transparent pixels. */
    return !covers || (index > 0 && image.transparent >= 0);
}

/******************************************************************
 *      ComposeGifFrame
 *
 * Draws the frames up to index on a screen of the background colour, disposing of each
 * before the next as its control block says: 0 and 1 leave it, 2 clears its rectangle
 * to the background (transparent, as viewers show it), 3 restores what was under it
 * (the first frame, with nothing drawn before it, stays).
 */
void ComposeGifFrame(const GifAnimation &animation, size_t index,
                     const std::vector<std::vector<uint8_t>> &frames,
                     const std::vector<std::vector<uint32_t>> &colours, std::vector<uint32_t> &screen)
{
    const size_t W = animation.screenWidth, H = animation.screenHeight;
    screen.assign(W * H, animation.background);
    std::vector<uint32_t> saved;
    for (size_t i = 0; i <= index && i < animation.images.size() && i < frames.size(); i++) {
        const GifImage &image = animation.images[i];
        const size_t right = image.left + size_t(image.width) < W ? image.left + size_t(image.width) : W;
        const size_t bottom = image.top + size_t(image.height) < H ? image.top + size_t(image.height) : H;
        if (i > 0) {
            const GifImage &before = animation.images[i - 1];
            if (before.disposal == 2) {
                const size_t r = before.left + size_t(before.width) < W ? before.left + size_t(before.width) : W;
                const size_t b = before.top + size_t(before.height) < H ? before.top + size_t(before.height) : H;
                for (size_t y = before.top; y < b; y++)
                    for (size_t x = before.left; x < r; x++) screen[y * W + x] = 0;
            } else if (before.disposal == 3 && !saved.empty()) {
                screen = saved;
            }
        }
        /* The first frame has nothing before it to go back to: it stays. */
        if (image.disposal == 3 && i > 0) saved = screen;
        const std::vector<uint8_t> &pixels = frames[i];
        if (pixels.size() < size_t(image.width) * image.height || colours[i].size() < 256) continue;
        for (size_t y = image.top; y < bottom; y++) {
            const uint8_t *row = pixels.data() + (y - image.top) * image.width;
            for (size_t x = image.left; x < right; x++) {
                uint8_t p = row[x - image.left];
                if (p == image.transparent) continue;
                screen[y * W + x] = colours[i][p] | 0xFF000000u;
            }
        }
    }
}

namespace {

uint32_t Rd32(const uint8_t *p, bool little)
{
    return little ? uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24)
                  : uint32_t(uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

} // namespace

bool ReadTiffLayout(ByteSource &source, TiffLayout &layout)
{
    layout = TiffLayout{};
    uint8_t b[12];
    if (!source.Read(0, b, 8) || !(!memcmp(b, "II*\0", 4) || !memcmp(b, "MM\0*", 4))) return false;
    const bool little = b[0] == 'I';
    auto rd16 = [&](const uint8_t *p) { return little ? Le16(p) : Be16(p); };
    const uint64_t ifd = Rd32(b + 4, little);
    if (!source.Read(ifd, b, 2)) return false;
    const unsigned count = rd16(b);
    if (ifd + 2 + 12ull * count > source.Size()) return false;
    for (unsigned i = 0; i < count; i++) {
        const uint64_t entry = ifd + 2 + 12ull * i;
        if (!source.Read(entry, b, 12)) return false;
        const unsigned tag = rd16(b), type = rd16(b + 2);
        const uint32_t n = Rd32(b + 4, little);
        if (n == 0 || (type != 3 && type != 4)) continue;
        /* The first value: in the entry, or at its offset when it does not fit. */
        const size_t width = type == 3 ? 2 : 4;
        const uint8_t *value = b + 8;
        if (uint64_t(n) * width > 4) {
            if (!source.Read(Rd32(b + 8, little), b + 8, width)) return false;
        }
        const unsigned v = type == 3 ? rd16(value) : Rd32(value, little);
        switch (tag) {
        case 258: layout.bits = v; break;
        case 262: layout.photometric = v; break;
        case 277: layout.samples = v; break;
        case 284: layout.planar = v; break;
        case 339: layout.sampleFormat = v; break;
        default: break;
        }
    }
    return true;
}

bool ReadTiffLayout(const uint8_t *data, size_t size, TiffLayout &layout)
{
    MemorySource source(data, size);
    return ReadTiffLayout(source, layout);
}

bool IsUnhandledTiffVariant(const TiffLayout &layout)
{
    switch (layout.bits) {
    case 1: case 2: case 4: case 8: case 16: case 32: break;
    default: return true;
    }
    if (layout.sampleFormat < 1 || layout.sampleFormat > 3) return true;
    return layout.planar == 2 && layout.samples > 1;
}

namespace {

uint32_t Crc32(const uint8_t *p, size_t size)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

void PutBe32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data)
{
    PutBe32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

} // namespace

std::vector<uint8_t> StoredPng16(const std::vector<uint16_t> &samples)
{
    std::vector<uint8_t> raw = {0}; /* filter: none */
    for (uint16_t s : samples) raw.push_back(uint8_t(s >> 8)), raw.push_back(uint8_t(s));
    std::vector<uint8_t> z = {0x78, 0x01, 1, uint8_t(raw.size()), uint8_t(raw.size() >> 8),
                              uint8_t(~raw.size()), uint8_t(~raw.size() >> 8)};
    z.insert(z.end(), raw.begin(), raw.end());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    PutBe32(z, b << 16 | a);
    std::vector<uint8_t> header;
    PutBe32(header, uint32_t(samples.size()));
    PutBe32(header, 1);
    header.insert(header.end(), {16, 0, 0, 0, 0}); /* 16-bit grey */
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

unsigned InputBits(Shape shape, unsigned outputBits)
{
    switch (shape) {
    case Shape::Unpack1: case Shape::Expand1: return 1;
    case Shape::Unpack2: case Shape::Unpack2Grey: return 2;
    case Shape::Unpack4: return 4;
    case Shape::Pack4: case Shape::Grey4To8: case Shape::Expand8: return 8;
    case Shape::Drop4th: return 32;
    default: return outputBits;
    }
}

void ConvertRow(Shape shape, unsigned outputBits, const uint8_t *in, uint64_t first,
                uint64_t count, uint8_t *out, const uint32_t *palette)
{
    auto bits = [&](unsigned width, uint64_t x) {
        uint64_t bit = x * width;
        return unsigned(in[bit / 8] >> (8 - width - bit % 8)) & ((1u << width) - 1);
    };
    auto expand = [&](uint64_t i, unsigned index) {
        uint32_t c = palette ? palette[index & 0xFF] : 0;
        out[3 * i] = uint8_t(c), out[3 * i + 1] = uint8_t(c >> 8), out[3 * i + 2] = uint8_t(c >> 16);
    };
    switch (shape) {
    case Shape::Copy: {
        if (outputBits < 8) { /* packed: first is a multiple of 8 pixels */
            memcpy(out, in + first * outputBits / 8, size_t(PackedBytes(outputBits, count)));
            return;
        }
        size_t pixel = outputBits / 8;
        memcpy(out, in + first * pixel, size_t(count * pixel));
        return;
    }
    case Shape::Unpack1:
        for (uint64_t i = 0; i < count; i++) out[i] = uint8_t(bits(1, first + i));
        return;
    case Shape::Unpack2:
        for (uint64_t i = 0; i < count; i++) out[i] = uint8_t(bits(2, first + i));
        return;
    case Shape::Unpack2Grey:
        for (uint64_t i = 0; i < count; i++) out[i] = uint8_t(bits(2, first + i) * 5);
        return;
    case Shape::Unpack4:
        for (uint64_t i = 0; i < count; i++) out[i] = uint8_t(bits(4, first + i));
        return;
    case Shape::Pack4:
        memset(out, 0, size_t(PackedBytes(4, count)));
        for (uint64_t i = 0; i < count; i++)
            out[i / 2] |= uint8_t((in[first + i] & 15) << (i % 2 ? 0 : 4));
        return;
    case Shape::Grey4To8:
        for (uint64_t i = 0; i < count; i++) out[i] = uint8_t((in[first + i] & 15) * 17);
        return;
    case Shape::Drop4th:
        for (uint64_t i = 0; i < count; i++) memcpy(out + 3 * i, in + 4 * (first + i), 3);
        return;
    case Shape::SwapRB24: case Shape::SwapRB32: case Shape::SwapRB48: case Shape::SwapRB64:
    case Shape::SwapBytes16: case Shape::SwapRB48Bytes: case Shape::SwapRB64Bytes: {
        const size_t pixel = outputBits / 8, sample = pixel >= 6 ? 2 : 1;
        memcpy(out, in + first * pixel, size_t(count * pixel));
        const bool channels = shape != Shape::SwapBytes16;
        const bool bytes = shape == Shape::SwapBytes16 || shape == Shape::SwapRB48Bytes ||
                           shape == Shape::SwapRB64Bytes;
        for (uint64_t i = 0; i < count; i++) {
            uint8_t *p = out + i * pixel;
            if (channels)
                for (size_t b = 0; b < sample; b++) {
                    uint8_t t = p[b];
                    p[b] = p[2 * sample + b];
                    p[2 * sample + b] = t;
                }
            if (bytes)
                for (size_t b = 0; b + 1 < pixel; b += 2) {
                    uint8_t t = p[b];
                    p[b] = p[b + 1];
                    p[b + 1] = t;
                }
        }
        return;
    }
    case Shape::Expand8:
        for (uint64_t i = 0; i < count; i++) expand(i, in[first + i]);
        return;
    case Shape::Expand1:
        for (uint64_t i = 0; i < count; i++) expand(i, bits(1, first + i));
        return;
    }
}

} // namespace wic
