/* Whole images for the row protocol: a read's rows collected, a write's supplied; calls noted. */
#ifndef Q32_TEST_ROWS_H
#define Q32_TEST_ROWS_H

#include <windows.h>
#include <string.h>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "q32types.h"

namespace q32test {

struct Rows {
    DWORD dataType = 0, bits = 0;
    std::map<LONG, std::string> byY;
    std::vector<LONG> ys, xs, counts, blocks; /* of each call */
    int stopAfter = -1;                       /* answer 0 at this call */
    int twice = 0;                            /* rows delivered more than once */

    /* Notes a call; false when it is the one to stop at. */
    bool Note(LONG x, LONG y, LONG count, LONG rows)
    {
        ys.push_back(y), xs.push_back(x), counts.push_back(count), blocks.push_back(rows);
        return (int)ys.size() != stopAfter;
    }
};

/* Read callback (context: Rows): keeps each row delivered; refuses fills and pulls. */
inline LONG WINAPI Collect(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                           DWORD flags, LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (flags || rows < 1) return 0;
    for (LONG i = 0; i < rows; i++) {
        r->twice += (int)r->byY.count(y + i);
        r->byY[y + i].assign(static_cast<char **>(rowData)[i], Q32_ROW_BYTES(r->dataType, r->bits, count));
    }
    return r->Note(x, y, count, rows);
}

/* Write callback (context: Rows): fills the plug-in's buffers from byY, whole rows only. */
inline LONG WINAPI Supply(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                          DWORD flags, LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (!(flags & Q32_ROW_PULL) || x != 0) return 0;
    for (LONG i = 0; i < rows; i++) {
        auto row = r->byY.find(y + i);
        if (row == r->byY.end() || row->second.size() != Q32_ROW_BYTES(r->dataType, r->bits, count)) return 0;
        memcpy(static_cast<char **>(rowData)[i], row->second.data(), row->second.size());
    }
    return r->Note(x, y, count, rows);
}

inline std::string Le16(unsigned v) { return std::string{char(v), char(v >> 8)}; }
inline std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
inline std::string Be32(uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

/* Rows with runs in them, values below limit; the padding bits of bilevel rows clear. */
inline std::map<LONG, std::string> RandomRows(DWORD dataType, DWORD bits, LONG width, LONG height, unsigned limit,
                                              unsigned seed)
{
    std::mt19937 random(seed);
    std::map<LONG, std::string> rows;
    size_t bytes = Q32_ROW_BYTES(dataType, bits, width);
    for (LONG y = 0; y < height; y++) {
        std::string row(bytes, '\0');
        for (size_t i = 0; i < bytes; i++) row[i] = char(i > 0 && random() % 2 ? row[i - 1] : char(random() % limit));
        if (dataType == Q32_TYPE_BILEVEL && width % 8) row.back() &= char(0xFF << (8 - width % 8));
        rows[y] = row;
    }
    return rows;
}

} // namespace q32test

#endif
