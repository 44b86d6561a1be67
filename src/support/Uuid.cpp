#include "support/Uuid.h"

#include <cstring>
#include <uuid/uuid.h>

namespace varnello {

Uuid Uuid::random() {
    uuid_t raw;
    uuid_generate_random(raw);
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) noexcept {
    // uuid_parse also takes the canonical form only, but needs a terminated string.
    if (text.size() != 36) {
        return std::nullopt;
    }
    char terminated[37];
    std::memcpy(terminated, text.data(), 36);
    terminated[36] = '\0';
    uuid_t raw;
    if (uuid_parse(terminated, raw) != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return Uuid(bytes);
}

std::string Uuid::text() const {
    uuid_t raw;
    std::memcpy(raw, bytes_.data(), bytes_.size());
    char out[37];
    uuid_unparse_upper(raw, out);
    return std::string(out, 36);
}

} // namespace varnello

std::size_t std::hash<varnello::Uuid>::operator()(const varnello::Uuid& uuid) const noexcept {
    // Random identifiers: any 8 of their bytes are already well spread.
    std::uint64_t value;
    std::memcpy(&value, uuid.bytes().data(), sizeof value);
    return static_cast<std::size_t>(value);
}
