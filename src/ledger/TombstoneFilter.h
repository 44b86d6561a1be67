#pragma once

#include "support/Uuid.h"

#include <cstdint>
#include <vector>

namespace varnello {

// A Bloom filter of every command identifier ever reserved in one ledger. A plain
// value: copies never share bits. Nothing is ever removed, and insertions stop at
// maximumInsertions, which bounds the false-positive rate. Not thread-safe; a value
// belongs to one caller at a time.
class TombstoneFilter {
public:
    static constexpr std::int64_t largestBitCount = std::int64_t{1} << 26;
    static constexpr std::int64_t largestHashCount = 16;

    // The parameters must satisfy the ranges that validate() checks; a violation is a
    // programming error (std::invalid_argument).
    TombstoneFilter(std::int64_t bitCount, std::int64_t hashCount, std::int64_t maximumInsertions);

    // The fields as read from a file, unchecked: call validate() before using it.
    static TombstoneFilter fromFields(std::int64_t bitCount, std::int64_t hashCount,
                                      std::int64_t maximumInsertions, std::int64_t insertionCount,
                                      std::vector<std::uint8_t> bits);

    std::int64_t bitCount() const noexcept { return bitCount_; }
    std::int64_t hashCount() const noexcept { return hashCount_; }
    std::int64_t maximumInsertions() const noexcept { return maximumInsertions_; }
    std::int64_t insertionCount() const noexcept { return insertionCount_; }
    const std::vector<std::uint8_t>& bits() const noexcept { return bits_; }

    // hashCount positions from one SHA-256 of the identifier's upper-case text, by
    // double hashing; positions may repeat.
    std::vector<std::int64_t> hashIndexes(const Uuid& commandID) const;
    bool contains(const Uuid& commandID) const;
    // Throws CommandLedgerError::saturated when a new identifier would pass the maximum.
    void insert(const Uuid& commandID);
    // Throws CommandLedgerError::unsupportedOrDamagedFormat when a field is out of range.
    void validate() const;

    friend bool operator==(const TombstoneFilter&, const TombstoneFilter&) = default;

private:
    TombstoneFilter() = default;

    std::int64_t bitCount_ = 0;
    std::int64_t hashCount_ = 0;
    std::int64_t maximumInsertions_ = 0;
    std::int64_t insertionCount_ = 0;
    std::vector<std::uint8_t> bits_;
};

} // namespace varnello
