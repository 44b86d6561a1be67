#include "core/LinuxHostNameSource.h"

#include "core/DurableFile.h"

#include <climits>
#include <string_view>
#include <unistd.h>

namespace varnello {
namespace {

constexpr std::size_t machineInfoLimit = 65536;
constexpr std::string_view prettyHostNameKey = "PRETTY_HOSTNAME=";

// Undoes the quoting that systemd and the shell use in environment-style files:
// single quotes keep everything, double quotes keep all but escaped " \ ` $, and a
// backslash outside quotes keeps the next character.
std::string unquoted(std::string_view value) {
    std::string result;
    char quote = 0;
    for (std::size_t index = 0; index < value.size(); ++index) {
        const char character = value[index];
        if (quote == '\'') {
            if (character == '\'') {
                quote = 0;
            } else {
                result.push_back(character);
            }
        } else if (character == '\\' && index + 1 < value.size()) {
            const char next = value[index + 1];
            if (quote == '"' && std::string_view("\"\\`$").find(next) == std::string_view::npos) {
                result.push_back(character);
            } else {
                result.push_back(next);
                ++index;
            }
        } else if (quote == '"' && character == '"') {
            quote = 0;
        } else if (quote == 0 && (character == '"' || character == '\'')) {
            quote = character;
        } else {
            result.push_back(character);
        }
    }
    return result;
}

} // namespace

LinuxHostNameSource::LinuxHostNameSource() : LinuxHostNameSource("/etc/machine-info") {}

LinuxHostNameSource::LinuxHostNameSource(std::filesystem::path machineInfoFile)
    : machineInfoFile_(std::move(machineInfoFile)) {}

std::optional<std::string> LinuxHostNameSource::localizedName() {
    const auto contents = readSmallFile(machineInfoFile_, machineInfoLimit);
    if (contents.errorNumber != 0) {
        return std::nullopt;
    }
    std::optional<std::string> name;
    std::string_view remaining = contents.bytes;
    while (!remaining.empty()) {
        const auto end = remaining.find('\n');
        auto line = remaining.substr(0, end);
        remaining = end == std::string_view::npos ? std::string_view{} : remaining.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.starts_with(prettyHostNameKey)) {
            // A later assignment wins, as when the file is sourced by a shell.
            name = unquoted(line.substr(prettyHostNameKey.size()));
        }
    }
    if (name && name->empty()) {
        return std::nullopt;
    }
    return name;
}

std::string LinuxHostNameSource::hostName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    return buffer;
}

} // namespace varnello
