#include "core/FallbackMachineID.h"

#include "core/BridgeIdentityError.h"
#include "support/UnicodeScalars.h"
#include "support/Uuid.h"

#include <algorithm>
#include <cctype>

namespace varnello {
namespace {

std::string lowerCaseRandomUUID() {
    auto text = Uuid::random().text();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::string fallbackMachineID(FallbackKeyStore& store) {
    for (int duplicates = 0;;) {
        auto found = store.find();
        if (found.status == 0) {
            if (found.data.empty() || !utf8Scalars(found.data)) {
                throw BridgeIdentityError::keychain(0);
            }
            return std::move(found.data);
        }
        if (found.status != FallbackKeyStore::itemNotFound) {
            throw BridgeIdentityError::keychain(found.status);
        }
        auto created = lowerCaseRandomUUID();
        const auto added = store.add(created);
        if (added == 0) {
            return created;
        }
        if (added != FallbackKeyStore::duplicateItem || ++duplicates >= maximumDuplicateAnswers) {
            throw BridgeIdentityError::keychain(added);
        }
    }
}

} // namespace varnello
