#include "app/ReadyLine.h"

#include <charconv>
#include <system_error>

namespace varnello::testing {

std::uint16_t readyPort(std::string_view log) {
    const auto at = log.find(readyLineStart);
    if (at == std::string_view::npos) {
        return 0;
    }
    const std::string_view rest = log.substr(at + readyLineStart.size());
    unsigned port = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
    const bool closed = end != rest.data() + rest.size() && *end == ')';
    return error == std::errc{} && closed && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

} // namespace varnello::testing
