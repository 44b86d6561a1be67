#include "core/HostDisplayName.h"

#include "support/PrefixCharacters.h"
#include "support/UnicodeScalars.h"

namespace varnello {

std::string hostDisplayName(HostNameSource& names) {
    auto raw = names.localizedName();
    if (!raw) {
        raw = names.hostName();
    }
    const auto cleaned = removingControlScalars(replacingIllFormedUTF8(*raw));
    std::string name(trimmingWhiteSpace(cleaned));
    if (name.empty()) {
        return "Mac";
    }
    // Every character takes at least one byte, so the answer lies within the first
    // 80 characters; starting there keeps a very long name cheap.
    std::size_t count = maximumDisplayNameBytes;
    name = prefixCharacters(name, count);
    count = characterCount(name);
    while (name.size() > maximumDisplayNameBytes) {
        name = prefixCharacters(name, --count);
    }
    return name;
}

} // namespace varnello
