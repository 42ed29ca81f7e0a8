/*
 * Rows in the type a reader's caller takes: when a request carries Q32_TYPES_ONLY and
 * its mask lacks the type in which a plug-in delivers rows, the plug-in reads through a
 * TypedDelivery, which hands the caller each row (part row, fill) converted to the type
 * that Q32ReadType names. The conversions make no Windows calls.
 */
#ifndef Q32_FIO_ROWS_H
#define Q32_FIO_ROWS_H

#include <windows.h>
#include <stdint.h>
#include <vector>
#include "q32types.h"

namespace fio {

/* A palette for conversions: 256 entries 0xAARRGGBB; entries beyond the image's own are
   opaque black. */
struct Colours {
    uint32_t entry[256];
    Colours();
    /* From a GDI palette (opaque; NULL keeps all black). */
    explicit Colours(HPALETTE palette);
};

/* Converts count pixels of a row stored as (type, bits) into out, of type to (a type
   that Q32ReadType can name for it). A bilevel row starts at a byte. */
void ConvertPixels(DWORD type, DWORD bits, const uint8_t *in, uint64_t count, DWORD to,
                   uint8_t *out, const Colours &colours, bool bilevelPalette);

class TypedDelivery {
public:
    /* Rows stored as (type, bits) for request: false when the caller takes neither them
       nor anything they can become (the caller records 4026). palette: the image's. */
    bool Plan(ImageRequest *request, RowCallback callback, DWORD type, DWORD bits,
              const Colours &colours, bool hasPalette);
    /* What the reader hands its rows to: the caller's own request and callback when the
       rows go as they are. */
    ImageRequest *Request() { return converting_ ? &own_ : caller_; }
    RowCallback Callback() { return converting_ ? Forward : callback_; }
    DWORD Type() const { return to_; }

private:
    static LONG WINAPI Forward(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows,
                               void *rowData, DWORD flags, LONG_PTR reserved1, LONG_PTR reserved2);
    ImageRequest own_{};
    ImageRequest *caller_ = nullptr;
    RowCallback callback_ = nullptr;
    DWORD type_ = 0, bits_ = 0, to_ = 0;
    bool converting_ = false, palette_ = false;
    Colours colours_;
    std::vector<uint8_t> buffer_;
    std::vector<void *> rows_;
};

} // namespace fio

#endif
