/*
 * What the imaging-component plug-in reads and writes of its formats by hand, over byte
 * buffers and without Windows calls: signatures, the
 * end and the comments of a JPEG stream, the animation blocks of a GIF stream, and the
 * pixel row conversions between the component's layouts and the row protocol's.
 */
#ifndef WIC_BYTES_H
#define WIC_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wic {

/* ---- Byte sources ---- */

/* Random access to a file's bytes. */
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    /* Copies n bytes at offset into out; false when they are not all there. */
    virtual bool Read(uint64_t offset, void *out, size_t n) = 0;
    /* The bytes from offset where they lie, for walks that need no copy: a pointer to
       count of them (at least 1), or null when the source keeps none there. */
    virtual const uint8_t *View(uint64_t offset, size_t &count)
    {
        (void)offset;
        count = 0;
        return nullptr;
    }
};

/* A ByteSource over bytes in memory. */
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void *out, size_t n) override;
    const uint8_t *View(uint64_t offset, size_t &count) override;

private:
    const uint8_t *data_;
    size_t size_;
};

/* ---- Containers ---- */

enum class Container { Jpeg, Png, Tiff, Gif, Ico };

/* Bytes of a file's start that the checks below look at. */
constexpr size_t HeadBytes = 32;

/* True when the first bytes of a file (head, size bytes, may be fewer than HeadBytes)
   are those of the container. */
bool HasSignature(Container container, const uint8_t *head, size_t size, uint64_t fileSize);

/* True when the last bytes of a JPEG file (tail, size bytes) hold its end-of-image
   marker: a stream cut short lacks it. */
bool JpegHasEnd(const uint8_t *tail, size_t size);

/* The comment segments of a JPEG stream's header (before the first scan). */
std::vector<std::string> JpegComments(const uint8_t *data, size_t size);

/* ---- GIF animation blocks ---- */

struct GifImage {
    uint16_t left = 0, top = 0;      /* place on the logical screen */
    uint16_t width = 0, height = 0;
    uint16_t delay = 0;              /* 1/100 s (0 without a control block) */
    uint8_t disposal = 0;            /* 0, 1 keep; 2 background; 3 previous */
    int16_t transparent = -1;        /* the transparent index, -1 for none */
};

struct GifAnimation {
    uint16_t screenWidth = 0, screenHeight = 0;
    int32_t loopCount = -1;          /* NETSCAPE2.0 loop count; -1: no loop block */
    uint32_t background = 0;         /* 0xFFRRGGBB of the global table's background
                                        entry; 0 (transparent) without a table */
    std::vector<GifImage> images;
    std::vector<std::string> comments;
    bool complete = false;           /* the stream ends with its trailer */
};

/* Walks the blocks of a GIF stream. False when it is not well formed up to where it
   ends (a stream cut short is reported by complete = false, not by false). */
bool ReadGifAnimation(const uint8_t *data, size_t size, GifAnimation &animation);

/* A copy of a GIF stream with a NETSCAPE2.0 loop block after its header (when
   loopCount >= 0, replacing any there) and a graphic control block before each image
   giving delays[i] (the last delay for images beyond the list; an image's own control
   block keeps its other fields). False when the stream is not well formed. */
bool WriteGifAnimation(const uint8_t *data, size_t size, int32_t loopCount,
                       const std::vector<uint16_t> &delays, std::vector<uint8_t> &out);

/* A PNG of one row of 16-bit grey samples, stored without compression: the reference
   by which the plug-in checks the platform's handling of 16-bit samples. */
std::vector<uint8_t> StoredPng16(const std::vector<uint16_t> &samples);

/* What a viewer shows for frame index of an animation: the screen (width x height,
   0xAARRGGBB; the background colour where no frame has drawn, transparent where a frame
   was cleared) after the frames up to index have been drawn and disposed of in turn. frames[i] are image i's palette indices (its own width x
   height) and colours[i] its palette (0xAARRGGBB, 256 entries). */
void ComposeGifFrame(const GifAnimation &animation, size_t index,
                     const std::vector<std::vector<uint8_t>> &frames,
                     const std::vector<std::vector<uint32_t>> &colours, std::vector<uint32_t> &screen);

/* True when frame index must be composed to look as a viewer shows it: it does not
   cover the screen, or earlier frames can show through or around it. */
bool GifFrameNeedsScreen(const GifAnimation &animation, size_t index);

/* ---- TIFF ---- */

/* What the first image of a TIFF stream declares, for telling a variant the decoder
   does not handle from a damaged file: the header, the first directory and the values
   it points to are read, nothing else. False when they are not readable. */
struct TiffLayout {
    unsigned samples = 1, bits = 1, sampleFormat = 1, planar = 1, photometric = 0;
};
bool ReadTiffLayout(ByteSource &source, TiffLayout &layout);
bool ReadTiffLayout(const uint8_t *data, size_t size, TiffLayout &layout);
/* True for a layout of a kind the platform's decoder does not read (sample sizes other
   than 1, 2, 4, 8, 16 and 32 bits, floating-point planes, ...). */
bool IsUnhandledTiffVariant(const TiffLayout &layout);

/* ---- Pixel rows ---- */

/* How a row changes between the component's layout and the row protocol's. */
enum class Shape {
    Copy,        /* same bytes */
    Unpack1,     /* 1-bit packed -> one byte a pixel (0 or 1) */
    Unpack2,     /* 2-bit packed -> one byte a pixel (0..3) */
    Unpack2Grey, /* 2-bit grey -> 4-bit grey levels, one byte a pixel (0, 5, 10, 15) */
    Unpack4,     /* 4-bit packed -> one byte a pixel (0..15) */
    Pack4,       /* one byte a pixel (0..15) -> 4-bit packed, leftmost in the high half */
    Grey4To8,    /* one byte a pixel 0..15 -> 0..255 */
    Drop4th,     /* 4-byte pixels -> their first three bytes */
    SwapRB24,    /* 3-byte pixels, first and third byte exchanged */
    SwapRB32,    /* 4-byte pixels, first and third byte exchanged */
    SwapRB48,    /* 3 x 16-bit pixels, first and third sample exchanged */
    SwapRB64,    /* 4 x 16-bit pixels, first and third sample exchanged */
    Expand8,     /* one byte a pixel, palette indices -> B, G, R */
    Expand1,     /* 1-bit packed palette indices -> B, G, R */
    SwapBytes16,   /* 16-bit samples, their two bytes exchanged */
    SwapRB48Bytes, /* SwapRB48, and the bytes of each sample exchanged */
    SwapRB64Bytes  /* SwapRB64, and the bytes of each sample exchanged */
};

/* Bits of one input pixel of a shape, for the bits per pixel of its output. */
unsigned InputBits(Shape shape, unsigned outputBits);

/* Converts count pixels starting at pixel first of the input row into out (which
   starts at its own first pixel). palette (B, G, R, unused; 256 entries) is read by
   the Expand shapes only. */
void ConvertRow(Shape shape, unsigned outputBits, const uint8_t *in, uint64_t first,
                uint64_t count, uint8_t *out, const uint32_t *palette = nullptr);

/* Bytes of count pixels of bits bits each, packed. */
inline uint64_t PackedBytes(unsigned bits, uint64_t count) { return (count * bits + 7) / 8; }

} // namespace wic

#endif
