#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

namespace mojitan::bench {

// Nanoseconds on the monotonic clock, which every process on the machine shares, so a time
// taken in one program can be compared with a time taken in another.
inline long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Summary {
    std::size_t n = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double min = 0;
    double mean = 0;
};

// The nearest-rank percentile: a value that was actually measured, never one interpolated
// between two samples. `sorted` must be sorted and not empty.
inline double percentile(const std::vector<double> &sorted, double p)
{
    const double rank = std::ceil(p / 100.0 * double(sorted.size()));
    const std::size_t i = rank < 1 ? 0 : std::size_t(rank) - 1;
    return sorted[std::min(i, sorted.size() - 1)];
}

inline Summary summarize(std::vector<double> values)
{
    Summary s;
    s.n = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.p50 = percentile(values, 50);
    s.p99 = percentile(values, 99);
    s.max = values.back();
    s.min = values.front();
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / double(values.size());
    return s;
}

// The median of a small set of runs; the middle one for an odd count.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace mojitan::bench
