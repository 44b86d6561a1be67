#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varnello::testing {

// One service that avahi-browse resolved.
struct BrowsedService {
    std::string name;
    std::string type;
    std::uint16_t port = 0;
    std::map<std::string, std::string> txt;
};

// The resolved services ("=" lines) of `avahi-browse -rpt`'s parsable output,
// its escapes undone ("\032" is a byte in decimal, "\." a dot).
std::vector<BrowsedService> parseBrowsedServices(const std::string& output);

// One run of `avahi-browse -rpt TYPE` under `limit`, killed by its pid when it
// overruns; nothing when it did not end well in time.
std::optional<std::vector<BrowsedService>>
browseOnce(const std::string& type, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Browses again and again, each run bounded, until the services of one run
// satisfy `done` or `within` has passed (a daemon that has just started may
// answer before it knows every service); the services of the last run.
std::vector<BrowsedService>
browseUntil(const std::string& type,
            const std::function<bool(const std::vector<BrowsedService>&)>& done,
            std::chrono::milliseconds within = std::chrono::seconds(20));

// The service named `name` among `services`; nothing when it is not there.
std::optional<BrowsedService> serviceNamed(const std::vector<BrowsedService>& services,
                                           const std::string& name);

} // namespace varnello::testing
