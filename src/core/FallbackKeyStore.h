#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnello {

// A per-user store for the one secret item that stands in for a missing machine
// ID. Status codes are 0 for success and negative errno values otherwise; two of
// them are answers the caller acts on rather than failures. Main thread.
class FallbackKeyStore {
public:
    static constexpr std::int32_t itemNotFound = -ENOENT;
    static constexpr std::int32_t duplicateItem = -EEXIST;

    struct FindResult {
        std::int32_t status = 0;
        std::string data; // the item's bytes when status is 0
    };

    virtual ~FallbackKeyStore() = default;

    // The stored item, or itemNotFound, or a failure status.
    virtual FindResult find() = 0;

    // Stores a new item: 0, or duplicateItem when one already exists (it is left
    // alone), or a failure status.
    virtual std::int32_t add(std::string_view data) = 0;
};

} // namespace varnello
