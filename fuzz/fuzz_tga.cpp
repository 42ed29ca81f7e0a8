/*
 * Native fuzz target of the TGA codec (no Windows needed); scripts/fuzz builds it with
 * -fsanitize=fuzzer,address,undefined, makes its seeds and runs it (target tga).
 * Each input is a whole file: its layout is read, its pixels decoded, and what decodes
 * as colour is written again, plain and run-length, and read back, which must give the
 * same rows.
 */
#include "tga_codec.h"
#include <cstdlib>
#include <cstring>

using namespace tga;

namespace {

class Memory : public Source {
public:
    Memory(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void *buffer, size_t bytes) override
    {
        if (offset > size_ || bytes > size_ - offset) return false;
        memcpy(buffer, data_ + offset, bytes);
        return true;
    }

private:
    const uint8_t *data_;
    size_t size_;
};

/* Decodes every row of a file, in stored order, into rows. */
bool DecodeAll(const uint8_t *data, size_t size, Layout &layout, std::vector<std::vector<uint8_t>> &rows)
{
    Memory source(data, size);
    if (ReadLayout(source, layout) != Result::Ok) return false;
    const uint64_t height = uint64_t(layout.height), stride = StoredRowBytes(layout);
    if (uint64_t(layout.width) * height > (1u << 20)) return false;
    if (layout.dataOffset + layout.dataSize > size) abort(); /* the layout promised more than the file */
    std::vector<uint8_t> pixels(size_t(stride * height));
    const uint8_t *stored = data + layout.dataOffset;
    if (layout.rle) {
        if (DecodeRle(layout, stored, size_t(layout.dataSize), pixels.data()) != Result::Ok) return false;
        /* In pieces, as the plug-in reads it: the same pixels. */
        std::vector<uint8_t> again(pixels.size()), piece;
        const size_t pieceBytes = MaxPacketBytes + size % 61;
        uint64_t done = 0;
        size_t at = 0;
        while (at < layout.dataSize && done < uint64_t(layout.width) * height) {
            size_t take = size_t(layout.dataSize) - at < pieceBytes - piece.size() ? size_t(layout.dataSize) - at
                                                                                   : pieceBytes - piece.size();
            piece.insert(piece.end(), stored + at, stored + at + take);
            at += take;
            size_t used = DecodeRlePackets(layout, piece.data(), piece.size(), again.data(), done);
            piece.erase(piece.begin(), piece.begin() + used);
        }
        if (done != uint64_t(layout.width) * height || again != pixels) abort();
        stored = pixels.data();
    }
    rows.assign(height, std::vector<uint8_t>(RowBytes(layout.kind, uint64_t(layout.width))));
    for (uint64_t y = 0; y < height; y++)
        if (DecodeRow(layout, stored + y * stride, rows[y].data()) != Result::Ok) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Layout layout;
    std::vector<std::vector<uint8_t>> rows;
    if (!DecodeAll(data, size, layout, rows)) return 0;
    if (layout.kind != Kind::Rgb24 && layout.kind != Kind::Bgra32) return 0;

    for (bool rle : {false, true}) {
        Layout out;
        out.kind = layout.kind;
        out.width = layout.width;
        out.height = layout.height;
        out.rle = rle;
        std::vector<uint8_t> file = BuildHeader(out);
        /* Written top row first: the stored rows in delivered order. */
        for (uint64_t y = 0; y < rows.size(); y++)
            EncodeRow(out, rows[layout.topDown ? y : rows.size() - 1 - y].data(), file);
        std::vector<uint8_t> trailer = BuildTrailer(out, file.size());
        file.insert(file.end(), trailer.begin(), trailer.end());

        Layout again;
        std::vector<std::vector<uint8_t>> rowsAgain;
        if (!DecodeAll(file.data(), file.size(), again, rowsAgain)) abort();
        if (again.kind != layout.kind || !again.topDown) abort();
        for (uint64_t y = 0; y < rows.size(); y++)
            if (rowsAgain[y] != rows[layout.topDown ? y : rows.size() - 1 - y]) abort();
    }
    return 0;
}
