/*
 * TGA codec: the header, colour map, footer, extension area, pixels and run lengths of
 * Truevision Targa files, over byte buffers and a reading interface. It makes no
 * Windows calls, so it builds anywhere and can be fuzzed natively. Every size is
 * computed in 64 bits and every read is bounded by the buffer that holds it.
 */
#ifndef TGA_CODEC_H
#define TGA_CODEC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tga {

/* Stored image types. */
enum : uint8_t {
    TypeMapped = 1, TypeTrue = 2, TypeGrey = 3,
    TypeMappedRle = 9, TypeTrueRle = 10, TypeGreyRle = 11
};

constexpr size_t HeaderSize = 18;
constexpr size_t FooterSize = 26;
constexpr size_t ExtensionSize = 495;
/* The attributes type of the extension area. */
constexpr size_t ExtensionAttributes = 494;
/* The header, identification and the colour map entries that 8-bit indices reach. */
constexpr size_t HeadBytes = HeaderSize + 255 + 256 * 4;
/* The largest delivered image, in bytes. */
constexpr uint64_t MaxImageBytes = uint64_t(1) << 31;

/* The outcome of each step. The numbers are stable: they travel as the third number of
   the location of a recorded error. */
enum class Result : int {
    Ok = 0,
    NotTga = 1,             /* a header no writer makes: another format */
    /* damaged or truncated */
    ShortHeader = 2,        /* the file ends inside its identification or colour map */
    ShortData = 3,          /* the pixel data ends before the image does */
    BadIndex = 4,           /* an index beyond the colour map */
    /* variants this reader does not take */
    UnsupportedType = 20,   /* a type with a footer that this reader does not know */
    UnsupportedDepth = 21,  /* 16-bit colour map indices */
    TooLarge = 22,
};

/* True for the variants that this reader does not take (as opposed to damage). */
bool IsUnsupported(Result result);

/* What the rows of an image are delivered as (and taken as, when writing). */
enum class Kind {
    Index8,     /* colour map indices, one byte a pixel */
    Grey8,
    Rgb24,      /* B, G, R */
    Bgra32      /* B, G, R, A; straight (not premultiplied) */
};

enum class Alpha { None, Straight, Premultiplied };

unsigned BitsPerPixel(Kind kind);
/* Bytes of one delivered row of width pixels. */
uint64_t RowBytes(Kind kind, uint64_t width);

struct Colour {
    uint8_t blue, green, red, alpha;
};

/* Random access to the file being read. */
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    /* Exactly bytes bytes at offset; false when they are not all there. */
    virtual bool Read(uint64_t offset, void *buffer, size_t bytes) = 0;
};

/* One image: what the header, footer and extension area say, checked against the
   file's size. */
struct Layout {
    uint8_t type = TypeTrue;
    uint8_t depth = 24;           /* stored bits a pixel: 8, 15, 16, 24, 32 */
    uint8_t descriptor = 0;
    bool rle = false;
    bool topDown = false;         /* rows stored top row first */
    bool rightToLeft = false;     /* pixels stored right pixel first */
    int32_t width = 0, height = 0;
    unsigned pixelBytes = 3;      /* stored bytes a pixel */
    bool footer = false;          /* a TGA 2.0 footer closes the file */
    Alpha alpha = Alpha::None;
    uint32_t paletteEntries = 0;  /* the colour map as indexed by pixel values */
    Colour palette[256] = {};
    uint64_t dataOffset = 0;      /* file offset of the pixel data */
    uint64_t dataSize = 0;        /* bytes of pixel data to read (uncompressed: exact) */
    Kind kind = Kind::Rgb24;      /* the delivered rows */
};

/* True when the header (HeaderSize bytes) is one that a writer could have made: known
   type, depth and colour map, no interleave. */
bool IsPlausibleHeader(const uint8_t *h);

/* Reads the header, colour map, footer and extension area, and checks that the pixel
   data they describe can lie within the file. NotTga when the header is not plausible. */
Result ReadLayout(Source &source, Layout &layout);

/* Bytes of one stored row. */
inline uint64_t StoredRowBytes(const Layout &layout) { return uint64_t(layout.width) * layout.pixelBytes; }

/* Decodes run lengths into stored pixels: stored holds StoredRowBytes x height bytes, rows
   in stored order. Packets may cross rows; data after the last pixel is ignored.
   ShortData when the stream ends first. */
Result DecodeRle(const Layout &layout, const uint8_t *data, size_t size, uint8_t *stored);

/* The bytes of the longest packet: a stream read in pieces keeps at least this many
   unused bytes for the next piece. */
constexpr size_t MaxPacketBytes = 1 + 128 * 4;

/* Decodes the whole packets at the start of data (size bytes) into stored from pixel
   done on, as far as the image reaches; advances done and returns the bytes used. */
size_t DecodeRlePackets(const Layout &layout, const uint8_t *data, size_t size, uint8_t *stored, uint64_t &done);

/* A stored row as a delivered row (RowBytes(layout.kind, width) bytes): left to right,
   colours expanded, alpha straightened. BadIndex for an index beyond the colour map. */
Result DecodeRow(const Layout &layout, const uint8_t *stored, uint8_t *out);

/* True when DecodeRow would copy the stored row as it stands: such rows can be handed
   on without it. */
bool RowsAsStored(const Layout &layout);

/* ---- Writing: 24-bit rows (Rgb24) or 32-bit rows with alpha (Bgra32), top row first. */

/* The header for layout.kind, width, height and rle. */
std::vector<uint8_t> BuildHeader(const Layout &layout);

/* Appends one delivered row, as stored pixels or as run-length packets that stay within
   the row. */
void EncodeRow(const Layout &layout, const uint8_t *row, std::vector<uint8_t> &out);

/* What closes a file of dataEnd bytes so far: for 32-bit rows an extension area that
   declares the alpha channel, then the TGA 2.0 footer. */
std::vector<uint8_t> BuildTrailer(const Layout &layout, uint64_t dataEnd);

} // namespace tga

#endif
