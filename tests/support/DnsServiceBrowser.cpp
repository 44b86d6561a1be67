#include "support/DnsServiceBrowser.h"

#include "support/BoundedCommand.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace varnello::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string unescaped(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            result += text[i];
        } else if (i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 3)));
            i += 3;
        } else {
            result += text[++i];
        }
    }
    return result;
}

// A ';' inside a name is escaped, so splitting at the others is exact.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> result;
    std::string field;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            field += line[i];
            field += line[++i];
        } else if (line[i] == ';') {
            result.push_back(field);
            field.clear();
        } else {
            field += line[i];
        }
    }
    result.push_back(field);
    return result;
}

// "key=value" "key=value" ...
std::map<std::string, std::string> txtEntries(const std::string& text) {
    std::map<std::string, std::string> entries;
    std::size_t position = 0;
    while ((position = text.find('"', position)) != std::string::npos) {
        auto end = position + 1;
        while (end < text.size() && text[end] != '"') {
            end += text[end] == '\\' ? 2 : 1;
        }
        if (end >= text.size()) {
            break;
        }
        const std::string entry = unescaped(text.substr(position + 1, end - position - 1));
        const auto equals = entry.find('=');
        entries[entry.substr(0, equals)] =
            equals == std::string::npos ? std::string() : entry.substr(equals + 1);
        position = end + 1;
    }
    return entries;
}

bool isPort(const std::string& text) {
    return !text.empty() && text.size() <= 5 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    }) && std::stoi(text) <= 65535;
}

} // namespace

std::vector<BrowsedService> parseBrowsedServices(const std::string& output) {
    std::vector<BrowsedService> services;
    std::size_t start = 0;
    while (start < output.size()) {
        auto end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        // =;interface;protocol;name;type;domain;host;address;port;txt
        const auto parts = fields(output.substr(start, end - start));
        start = end + 1;
        if (parts.size() < 10 || parts[0] != "=" || !isPort(parts[8])) {
            continue;
        }
        services.push_back(BrowsedService{unescaped(parts[3]), unescaped(parts[4]),
                                          static_cast<std::uint16_t>(std::stoi(parts[8])),
                                          txtEntries(parts[9])});
    }
    return services;
}

std::optional<std::vector<BrowsedService>> browseOnce(const std::string& type,
                                                      std::chrono::milliseconds limit) {
    const auto result = runBounded({"avahi-browse", "-rpt", type}, limit);
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseBrowsedServices(result.output);
}

std::vector<BrowsedService>
browseUntil(const std::string& type,
            const std::function<bool(const std::vector<BrowsedService>&)>& done,
            std::chrono::milliseconds within) {
    constexpr std::chrono::milliseconds pause{250};
    constexpr std::chrono::milliseconds runLimit{10000};
    const auto deadline = Clock::now() + within;
    std::vector<BrowsedService> last;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (auto services = browseOnce(type, std::clamp(left, pause, runLimit))) {
            last = std::move(*services);
            if (done(last)) {
                return last;
            }
        }
        if (Clock::now() + pause >= deadline) {
            return last;
        }
        std::this_thread::sleep_for(pause);
    }
}

std::optional<BrowsedService> serviceNamed(const std::vector<BrowsedService>& services,
                                           const std::string& name) {
    const auto found =
        std::find_if(services.begin(), services.end(),
                     [&name](const BrowsedService& service) { return service.name == name; });
    if (found == services.end()) {
        return std::nullopt;
    }
    return *found;
}

} // namespace varnello::testing
