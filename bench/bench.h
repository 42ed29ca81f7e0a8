/* What the benchmarks share: a clock and the median of several runs. */
#ifndef Q32_BENCH_H
#define Q32_BENCH_H

#include <windows.h>
#include <algorithm>
#include <vector>

namespace bench {

/* Seconds on the performance counter. */
inline double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace bench

#endif
