#pragma once

#include <vector>

namespace varnello::bench {

// The median (the mean of the middle two for an even count), 99th percentile (nearest
// rank) and maximum of a set of figures; all 0 when empty.
struct Summary {
    double median = 0;
    double p99 = 0;
    double maximum = 0;
};

Summary summarise(std::vector<double> values);

inline double medianOf(std::vector<double> values) {
    return summarise(std::move(values)).median;
}

} // namespace varnello::bench
