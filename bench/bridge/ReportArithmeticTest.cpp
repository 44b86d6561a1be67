// The load report's own arithmetic and command line: what its figures and its runs
// rest on.

#include "ReportOptions.h"
#include "Summary.h"

#include <gtest/gtest.h>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace varnello::bench {
namespace {

TEST(Summary, MedianOfAnEvenCountIsTheMeanOfTheMiddleTwoAndP99IsTheNearestRank) {
    const Summary four = summarise({4, 1, 3, 2});
    EXPECT_DOUBLE_EQ(four.median, 2.5);
    EXPECT_DOUBLE_EQ(four.p99, 4);
    EXPECT_DOUBLE_EQ(four.maximum, 4);

    std::vector<double> hundred(100);
    std::iota(hundred.begin(), hundred.end(), 1.0);
    const Summary ranks = summarise(hundred);
    EXPECT_DOUBLE_EQ(ranks.median, 50.5);
    EXPECT_DOUBLE_EQ(ranks.p99, 99);
    EXPECT_DOUBLE_EQ(ranks.maximum, 100);

    EXPECT_DOUBLE_EQ(summarise({7}).p99, 7);
    EXPECT_DOUBLE_EQ(summarise({}).median, 0);
}

std::optional<ReportOptions> parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "bridge_load_report");
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    return ReportOptions::parse(static_cast<int>(argv.size()), argv.data(), "built-bridge");
}

TEST(ReportOptions, DefaultsQuickAndExplicitValues) {
    const auto defaults = parsed({});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->bridge, "built-bridge");
    EXPECT_EQ(defaults->slices, 80);
    EXPECT_EQ(defaults->startUpSamples, 7);

    const auto quick = parsed({"--quick"});
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->slices, 3);
    EXPECT_EQ(quick->startUpSamples, 3);

    const auto both = parsed({"--quick", "--slices", "5", "--bridge", "/tmp/variant"});
    ASSERT_TRUE(both);
    EXPECT_EQ(both->slices, 5) << "given slices win over --quick";
    EXPECT_EQ(both->bridge, "/tmp/variant");
}

TEST(ReportOptions, BadLinesAreRefused) {
    for (const auto& line : std::vector<std::vector<std::string>>{{"--slices", "0"},
                                                                  {"--slices", "1001"},
                                                                  {"--slices", "5x"},
                                                                  {"--slices"},
                                                                  {"--bridge"},
                                                                  {"--fast"}}) {
        EXPECT_FALSE(parsed(line)) << line.front();
    }
}

} // namespace
} // namespace varnello::bench
