/* Row conversions: one-bit expansion and reduction, pixel subsampling, fills. */
#include "q32base.h"
#include <string.h>

namespace {

/* Eight expanded bytes for each value of a packed byte, top bit first. */
struct ExpandTable {
    BYTE bytes[256][8];
    constexpr ExpandTable(BYTE set) : bytes()
    {
        for (int v = 0; v < 256; v++)
            for (int bit = 0; bit < 8; bit++)
                bytes[v][bit] = (v & (0x80 >> bit)) ? set : 0;
    }
};
constexpr ExpandTable BlackWhite(255);
constexpr ExpandTable Indices(1);

void Expand(BYTE *dest, const BYTE *row, int count, const ExpandTable &table)
{
    if (!dest || !row || count <= 0) return;
    int whole = count / 8;
    for (int i = 0; i < whole; i++, dest += 8) memcpy(dest, table.bytes[row[i]], 8);
    int rest = count % 8;
    if (rest) memcpy(dest, table.bytes[row[whole]], rest);
}

template <int N>
void ReduceFixed(BYTE *dest, const BYTE *row, int kept, int stride)
{
    for (int i = 0; i < kept; i++, dest += N, row += stride) memcpy(dest, row, N);
}

} // namespace

extern "C" void B32API mem32BitToByte(BYTE *dest, const BYTE *row, int count)
{
    Expand(dest, row, count, BlackWhite);
}

extern "C" void B32API mem32BitToByteExt(BYTE *dest, const BYTE *row, int count)
{
    Expand(dest, row, count, Indices);
}

extern "C" void B32API mem32BitReduce(BYTE *dest, const BYTE *row, int count, int step)
{
    if (!dest || !row || count <= 0 || step < 1) return;
    int kept = (count + step - 1) / step;
    memset(dest, 0, (kept + 7) / 8);
    for (int i = 0, source = 0; i < kept; i++, source += step)
        if (row[source >> 3] & (0x80 >> (source & 7))) dest[i >> 3] |= (BYTE)(0x80 >> (i & 7));
}

extern "C" void B32API mem32Reduce(BYTE *dest, const BYTE *row, int count, int step,
                                   int bytesPerPixel, int)
{
    if (!dest || !row || count <= 0 || step < 1 || bytesPerPixel < 1) return;
    int kept = (count + step - 1) / step;
    int stride = step * bytesPerPixel;
    switch (bytesPerPixel) {
    case 1: ReduceFixed<1>(dest, row, kept, stride); break;
    case 2: ReduceFixed<2>(dest, row, kept, stride); break;
    case 3: ReduceFixed<3>(dest, row, kept, stride); break;
    case 4: ReduceFixed<4>(dest, row, kept, stride); break;
    default:
        for (int i = 0; i < kept; i++, dest += bytesPerPixel, row += stride)
            memcpy(dest, row, bytesPerPixel);
    }
}

extern "C" void B32API mem32ReduceExt(BYTE *dest, const BYTE *source, int count, int rows,
                                      int stepX, int stepY, int bytesPerPixel, int reserved)
{
    if (!dest || !source || count <= 0 || rows <= 0 || stepX < 1 || stepY < 1 || bytesPerPixel < 1)
        return;
    size_t sourceRow = (size_t)count * bytesPerPixel;
    size_t destRow = (size_t)((count + stepX - 1) / stepX) * bytesPerPixel;
    for (int r = 0; r < rows; r += stepY, dest += destRow)
        mem32Reduce(dest, source + r * sourceRow, count, stepX, bytesPerPixel, reserved);
}

extern "C" void B32API mem32Fill(BYTE *dest, DWORD pixel, int bytesPerPixel, int count)
{
    if (!dest || count <= 0 || bytesPerPixel < 1 || bytesPerPixel > 4) return;
    BYTE bytes[4];
    memcpy(bytes, &pixel, 4);
    if (bytesPerPixel == 1) { memset(dest, bytes[0], count); return; }
    for (int i = 0; i < count; i++, dest += bytesPerPixel) memcpy(dest, bytes, bytesPerPixel);
}
