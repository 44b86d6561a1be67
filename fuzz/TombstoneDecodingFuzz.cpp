// Decodes arbitrary bytes as a tombstone file. When the first byte is odd, the
// rest gets its SHA-256 appended, so that the fields behind the digest are reached
// too; otherwise the rest is decoded as it is. Checks that only the typed ledger
// error escapes and that a decoded value encodes to a file that decodes to it.

#include "ledger/CommandLedgerError.h"
#include "ledger/TombstoneFile.h"
#include "support/Sha256.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    std::vector<std::uint8_t> file(input.begin() + 1, input.end());
    if ((input[0] & 1U) != 0) {
        const varnello::Sha256Digest digest = varnello::sha256(std::span(std::as_const(file)));
        file.insert(file.end(), digest.begin(), digest.end());
    }
    std::optional<varnello::StoredTombstones> stored;
    try {
        stored = varnello::decodeTombstones(file);
    } catch (const varnello::CommandLedgerError& error) {
        if (error.code() != varnello::CommandLedgerError::Code::unsupportedOrDamagedFormat) {
            std::abort();
        }
        return 0;
    }
    // The identifier's text may differ in case, so values are compared, not bytes.
    const std::vector<std::uint8_t> encoded = varnello::encodeTombstones(*stored);
    if (encoded.size() != file.size() || !(varnello::decodeTombstones(encoded) == *stored)) {
        std::abort();
    }
    return 0;
}
