#include "ledger/TombstoneFilter.h"

#include "ledger/CommandLedgerError.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace varnello {
namespace {

Uuid nilUuid() {
    return Uuid();
}

Uuid uuidOf(const char* text) {
    return *Uuid::parse(text);
}

TEST(TombstoneFilterTest, NilIdentifierPositionsMatchTheWorkedExample) {
    TombstoneFilter filter(8'388'608, 7, 250'000);
    EXPECT_EQ(filter.hashIndexes(nilUuid()),
              (std::vector<std::int64_t>{8'281'236, 1'110'455, 2'328'282, 3'546'109, 4'763'936,
                                         5'981'763, 7'199'590}));

    filter.insert(nilUuid());
    EXPECT_EQ(filter.bits()[1'035'154], 0x10);
    EXPECT_EQ(filter.insertionCount(), 1);
    EXPECT_TRUE(filter.contains(nilUuid()));
}

TEST(TombstoneFilterTest, PositionsFollowFromTheUpperCaseTextOnly) {
    const TombstoneFilter filter(8'388'608, 7, 250'000);
    const Uuid upper = uuidOf("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    const Uuid lower = uuidOf("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    EXPECT_EQ(filter.hashIndexes(upper), filter.hashIndexes(lower));

    // Position i is (h1 + i*h2) mod bitCount; a smaller filter takes the same digest.
    const TombstoneFilter small(8, 16, 8);
    for (std::int64_t index : small.hashIndexes(upper)) {
        EXPECT_GE(index, 0);
        EXPECT_LT(index, 8);
    }
    EXPECT_EQ(small.hashIndexes(upper).size(), 16U);
    const std::vector<std::int64_t> seven = filter.hashIndexes(upper);
    EXPECT_EQ(TombstoneFilter(8'388'608, 3, 10).hashIndexes(upper),
              std::vector<std::int64_t>(seven.begin(), seven.begin() + 3));
}

TEST(TombstoneFilterTest, NewFilterContainsNothingAndCountsDistinctInsertions) {
    TombstoneFilter filter(8192, 7, 100);
    const Uuid first = Uuid::random();
    const Uuid second = Uuid::random();
    EXPECT_FALSE(filter.contains(first));
    filter.insert(first);
    filter.insert(first);
    EXPECT_EQ(filter.insertionCount(), 1);
    EXPECT_TRUE(filter.contains(first));
    EXPECT_FALSE(filter.contains(second));
    filter.insert(second);
    EXPECT_EQ(filter.insertionCount(), 2);
    EXPECT_TRUE(filter.contains(second));
}

TEST(TombstoneFilterTest, FullFilterRefusesNewIdentifiersAndKeepsKnownOnes) {
    TombstoneFilter filter(8192, 7, 2);
    const Uuid a = Uuid::random();
    const Uuid b = Uuid::random();
    filter.insert(a);
    filter.insert(b);
    const TombstoneFilter before = filter;

    Uuid fresh = Uuid::random();
    while (filter.contains(fresh)) {
        fresh = Uuid::random();
    }
    try {
        filter.insert(fresh);
        FAIL() << "a full filter took a new identifier";
    } catch (const CommandLedgerError& error) {
        EXPECT_EQ(error, CommandLedgerError::saturated());
    }
    EXPECT_EQ(filter, before);
    filter.insert(a);
    EXPECT_EQ(filter, before);
    EXPECT_TRUE(filter.contains(b));
}

TEST(TombstoneFilterTest, CopiesNeverShareBits) {
    TombstoneFilter original(8192, 7, 100);
    TombstoneFilter copy = original;
    const Uuid id = Uuid::random();
    copy.insert(id);
    EXPECT_FALSE(original.contains(id));
    EXPECT_EQ(original.insertionCount(), 0);
    EXPECT_TRUE(copy.contains(id));
}

TEST(TombstoneFilterTest, ConstructionRefusesParametersOutOfRange) {
    const struct {
        std::int64_t bitCount, hashCount, maximumInsertions;
    } cases[] = {
        {0, 7, 1},   {12, 7, 1}, {67'108'872, 7, 1}, {-8, 7, 1},  {64, 0, 1},
        {64, 17, 1}, {64, 7, 0}, {64, 7, 65},        {64, 7, -1},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(TombstoneFilter(c.bitCount, c.hashCount, c.maximumInsertions),
                     std::invalid_argument)
            << c.bitCount << " " << c.hashCount << " " << c.maximumInsertions;
    }
    EXPECT_NO_THROW(TombstoneFilter(8, 1, 8));
    EXPECT_NO_THROW(TombstoneFilter(67'108'864, 16, 1));
}

TEST(TombstoneFilterTest, ValidateRefusesEveryFieldOutOfRange) {
    const std::vector<std::uint8_t> eight(8, 0);
    const struct {
        const char* what;
        TombstoneFilter filter;
    } cases[] = {
        {"bit count not a multiple of 8", TombstoneFilter::fromFields(60, 7, 10, 0, eight)},
        {"bit count zero", TombstoneFilter::fromFields(0, 7, 1, 0, {})},
        {"bit count too large",
         TombstoneFilter::fromFields(67'108'872, 7, 1, 0, std::vector<std::uint8_t>(8'388'609))},
        {"bits shorter than the count", TombstoneFilter::fromFields(64, 7, 10, 0, {0, 0})},
        {"bits longer than the count",
         TombstoneFilter::fromFields(64, 7, 10, 0, std::vector<std::uint8_t>(9))},
        {"no hashes", TombstoneFilter::fromFields(64, 0, 10, 0, eight)},
        {"too many hashes", TombstoneFilter::fromFields(64, 17, 10, 0, eight)},
        {"no insertions allowed", TombstoneFilter::fromFields(64, 7, 0, 0, eight)},
        {"more insertions than bits", TombstoneFilter::fromFields(64, 7, 65, 0, eight)},
        {"negative insertion count", TombstoneFilter::fromFields(64, 7, 10, -1, eight)},
        {"insertion count beyond maximum", TombstoneFilter::fromFields(64, 7, 10, 11, eight)},
    };
    for (const auto& c : cases) {
        try {
            c.filter.validate();
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const CommandLedgerError& error) {
            EXPECT_EQ(error, CommandLedgerError::unsupportedOrDamagedFormat()) << c.what;
        }
    }
    EXPECT_NO_THROW(TombstoneFilter::fromFields(64, 16, 64, 64, eight).validate());
}

} // namespace
} // namespace varnello
