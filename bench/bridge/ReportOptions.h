#pragma once

#include <optional>
#include <string>

namespace varnello::bench {

// The report's command line:
//   --bridge PATH   the program to measure (default: the varnello-bridge built beside it)
//   --slices N      command slices per round (default 80)
//   --quick         a short smoke run: 3 slices per round, fewer start-up samples
struct ReportOptions {
    std::string bridge;
    int slices = 80;
    int startUpSamples = 7;
    bool quick = false;

    // Nothing, after printing why and the usage to standard error, for a bad line.
    static std::optional<ReportOptions> parse(int argc, char** argv, std::string defaultBridge);
};

} // namespace varnello::bench
