#include "server/BonjourAdvertisement.h"

#include "protocol/TessaroBridgeConstants.h"
#include "support/PrefixCharacters.h"

namespace varnello {

namespace {

constexpr std::string_view namePrefix = "Varnello Bridge \u2013 ";
constexpr std::size_t maximumNameBytes = 50;
constexpr std::size_t idCharacters = 8;

} // namespace

std::string bonjourServiceName(std::string_view displayName, std::string_view id) {
    std::string name(namePrefix);
    name += displayName;
    for (std::size_t characters = characterCount(name); name.size() > maximumNameBytes;) {
        name = prefixCharacters(name, --characters);
    }
    return name + " " + prefixCharacters(id, idCharacters);
}

DnsTxtRecord bonjourTxtRecord(std::string_view displayName, std::string_view id) {
    return {
        {"role", "bridge"},      {"protocol", std::to_string(supportedProtocolVersion)},
        {"id", std::string(id)}, {"name", std::string(displayName)},
        {"midi", "1"},           {"osc", "1"},
    };
}

} // namespace varnello
