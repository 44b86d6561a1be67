#include "ReportOptions.h"

#include <cstdio>
#include <string_view>

namespace varnello::bench {

namespace {

constexpr int quickSlices = 3;
constexpr int quickStartUpSamples = 3;
constexpr int mostSlices = 1000;

std::optional<ReportOptions> usage(const char* problem) {
    std::fprintf(stderr,
                 "bridge_load_report: %s\nusage: bridge_load_report [--bridge PATH] "
                 "[--slices N (1 to %d)] [--quick]\n",
                 problem, mostSlices);
    return std::nullopt;
}

} // namespace

std::optional<ReportOptions> ReportOptions::parse(int argc, char** argv,
                                                  std::string defaultBridge) {
    ReportOptions options;
    options.bridge = std::move(defaultBridge);
    bool slicesGiven = false;
    for (int n = 1; n < argc; ++n) {
        const std::string_view argument = argv[n];
        if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--bridge" || argument == "--slices") {
            if (n + 1 >= argc) {
                return usage("an option lacks its value");
            }
            const std::string value = argv[++n];
            if (argument == "--bridge") {
                options.bridge = value;
                continue;
            }
            std::size_t used = 0;
            int slices = 0;
            try {
                slices = std::stoi(value, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != value.size() || slices < 1 || slices > mostSlices) {
                return usage("--slices takes a whole number from 1 to 1000");
            }
            options.slices = slices;
            slicesGiven = true;
        } else {
            return usage("unknown argument");
        }
    }
    if (options.quick) {
        options.startUpSamples = quickStartUpSamples;
        if (!slicesGiven) {
            options.slices = quickSlices;
        }
    }
    return options;
}

} // namespace varnello::bench
