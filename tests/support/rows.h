/* Whole images as rows for the row protocol: a read's rows collected by row number, and
   a write's rows supplied from them. */
#ifndef Q32_TEST_ROWS_H
#define Q32_TEST_ROWS_H

#include <windows.h>
#include <map>
#include <string>
#include "q32types.h"

namespace q32test {

struct Rows {
    DWORD dataType = 0, bits = 0;
    std::map<LONG, std::string> byY;
};

/* Read callback (context: Rows): keeps each row delivered; refuses fills. */
inline LONG WINAPI Collect(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                           DWORD flags, LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (flags || rows < 1) return 0;
    for (LONG i = 0; i < rows; i++)
        r->byY[y + i].assign(static_cast<char **>(rowData)[i], Q32_ROW_BYTES(r->dataType, r->bits, count));
    return 1;
}

/* Write callback (context: Rows): fills the plug-in's buffers from byY. */
inline LONG WINAPI Supply(ImageRequest *request, LONG x, LONG y, LONG count, LONG rows, void *rowData,
                          DWORD flags, LONG_PTR, LONG_PTR)
{
    auto *r = static_cast<Rows *>(request->context);
    if (!(flags & Q32_ROW_PULL)) return 0;
    for (LONG i = 0; i < rows; i++) {
        const std::string &row = r->byY.at(y + i);
        memcpy(static_cast<char **>(rowData)[i], row.data(), row.size());
    }
    return 1;
}

} // namespace q32test

#endif
