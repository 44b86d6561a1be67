#include "support/Sha256.h"

#include <openssl/evp.h>
#include <stdexcept>

namespace varnello {

Sha256Digest sha256(std::span<const std::uint8_t> data) {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("SHA-256 is not available from OpenSSL");
    }
    return digest;
}

Sha256Digest sha256(std::string_view text) {
    return sha256(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

} // namespace varnello
