#pragma once

#include <cstdint>

namespace varnello {

// How far the ledger's tombstone filter has filled towards the limit past which every
// new command is refused. A plain value; thread-safe.
struct LedgerFill {
    std::int64_t insertionCount = 0;
    std::int64_t maximumInsertions = 0;

    // Whole percent, rounded down; 0 for a filter without room at all.
    int percent() const noexcept {
        if (maximumInsertions <= 0) {
            return 0;
        }
        if (insertionCount >= maximumInsertions) {
            return 100;
        }
        return static_cast<int>(insertionCount * 100 / maximumInsertions);
    }
    bool full() const noexcept {
        return maximumInsertions > 0 && insertionCount >= maximumInsertions;
    }

    friend bool operator==(const LedgerFill&, const LedgerFill&) = default;
};

} // namespace varnello
