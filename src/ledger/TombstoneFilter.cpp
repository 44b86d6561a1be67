#include "ledger/TombstoneFilter.h"

#include "ledger/CommandLedgerError.h"
#include "support/Sha256.h"

#include <stdexcept>

namespace varnello {

namespace {

std::uint64_t bigEndian64(const std::uint8_t* bytes) noexcept {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

bool parametersInRange(std::int64_t bitCount, std::int64_t hashCount,
                       std::int64_t maximumInsertions) noexcept {
    return bitCount >= 1 && bitCount <= TombstoneFilter::largestBitCount && bitCount % 8 == 0 &&
           hashCount >= 1 && hashCount <= TombstoneFilter::largestHashCount &&
           maximumInsertions >= 1 && bitCount >= maximumInsertions;
}

// Calls visit(position) for each of the filter's positions of one identifier,
// stopping early when visit returns false. One digest serves every position.
template <typename Visit>
bool forEachIndex(const Uuid& commandID, std::int64_t bitCount, std::int64_t hashCount,
                  Visit visit) {
    const Sha256Digest digest = sha256(commandID.text());
    const std::uint64_t h1 = bigEndian64(digest.data());
    const std::uint64_t h2 = bigEndian64(digest.data() + 8) | 1U;
    const auto modulus = static_cast<std::uint64_t>(bitCount);
    std::uint64_t x = h1;
    for (std::int64_t i = 0; i < hashCount; ++i) {
        if (!visit(static_cast<std::int64_t>(x % modulus))) {
            return false;
        }
        x += h2; // wraps at 2^64 by the rules of unsigned arithmetic
    }
    return true;
}

} // namespace

TombstoneFilter::TombstoneFilter(std::int64_t bitCount, std::int64_t hashCount,
                                 std::int64_t maximumInsertions)
    : bitCount_(bitCount), hashCount_(hashCount), maximumInsertions_(maximumInsertions) {
    if (!parametersInRange(bitCount, hashCount, maximumInsertions)) {
        throw std::invalid_argument("tombstone filter parameters out of range");
    }
    bits_.assign(static_cast<std::size_t>(bitCount / 8), 0);
}

TombstoneFilter TombstoneFilter::fromFields(std::int64_t bitCount, std::int64_t hashCount,
                                            std::int64_t maximumInsertions,
                                            std::int64_t insertionCount,
                                            std::vector<std::uint8_t> bits) {
    TombstoneFilter filter;
    filter.bitCount_ = bitCount;
    filter.hashCount_ = hashCount;
    filter.maximumInsertions_ = maximumInsertions;
    filter.insertionCount_ = insertionCount;
    filter.bits_ = std::move(bits);
    return filter;
}

std::vector<std::int64_t> TombstoneFilter::hashIndexes(const Uuid& commandID) const {
    std::vector<std::int64_t> indexes;
    indexes.reserve(static_cast<std::size_t>(hashCount_));
    forEachIndex(commandID, bitCount_, hashCount_, [&](std::int64_t index) {
        indexes.push_back(index);
        return true;
    });
    return indexes;
}

bool TombstoneFilter::contains(const Uuid& commandID) const {
    return forEachIndex(commandID, bitCount_, hashCount_, [&](std::int64_t index) {
        return (bits_[static_cast<std::size_t>(index / 8)] & (1U << (index % 8))) != 0;
    });
}

void TombstoneFilter::insert(const Uuid& commandID) {
    if (contains(commandID)) {
        return;
    }
    if (insertionCount_ >= maximumInsertions_) {
        throw CommandLedgerError::saturated();
    }
    forEachIndex(commandID, bitCount_, hashCount_, [&](std::int64_t index) {
        bits_[static_cast<std::size_t>(index / 8)] |= static_cast<std::uint8_t>(1U << (index % 8));
        return true;
    });
    ++insertionCount_;
}

void TombstoneFilter::validate() const {
    if (!parametersInRange(bitCount_, hashCount_, maximumInsertions_) ||
        bits_.size() != static_cast<std::size_t>(bitCount_ / 8) || insertionCount_ < 0 ||
        insertionCount_ > maximumInsertions_) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
}

} // namespace varnello
