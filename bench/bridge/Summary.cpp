#include "Summary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace varnello::bench {

Summary summarise(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    const std::size_t count = values.size();
    // The middle value, or the mean of the two middle ones: a slice has an even count.
    const double median =
        count % 2 == 1 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
    // Nearest rank: the least value that at least 99% of the values do not exceed.
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(count)));
    return {median, values[std::max<std::size_t>(rank, 1) - 1], values.back()};
}

} // namespace varnello::bench
