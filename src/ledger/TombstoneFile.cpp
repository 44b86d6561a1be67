#include "ledger/TombstoneFile.h"

#include "ledger/CommandLedgerError.h"
#include "support/Sha256.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace varnello {

namespace {

constexpr std::array<std::uint8_t, 8> magic = {'T', 'S', 'C', 'L', 'T', 'B', '0', '1'};
constexpr std::uint32_t formatVersion = 1;
constexpr std::size_t headerSize = 84;
constexpr std::size_t digestSize = 32;
constexpr std::size_t identifierSize = 36;

// Fills a buffer of known size front to back.
class Writer {
public:
    explicit Writer(std::uint8_t* start) noexcept : next_(start) {}

    void bytes(const std::uint8_t* data, std::size_t count) noexcept {
        if (count > 0) {
            std::memcpy(next_, data, count);
            next_ += count;
        }
    }

    void bigEndian(std::uint64_t value, int byteCount) noexcept {
        for (int shift = (byteCount - 1) * 8; shift >= 0; shift -= 8) {
            *next_++ = static_cast<std::uint8_t>(value >> shift);
        }
    }

private:
    std::uint8_t* next_;
};

// Reads the body front to back; a read past its end is a damaged file.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> body) : body_(body) {}

    std::span<const std::uint8_t> take(std::size_t count) {
        if (count > remaining()) {
            throw CommandLedgerError::unsupportedOrDamagedFormat();
        }
        auto part = body_.subspan(offset_, count);
        offset_ += count;
        return part;
    }

    std::uint64_t bigEndian(std::size_t byteCount) {
        std::uint64_t value = 0;
        for (std::uint8_t byte : take(byteCount)) {
            value = (value << 8) | byte;
        }
        return value;
    }

    std::size_t remaining() const noexcept { return body_.size() - offset_; }

private:
    std::span<const std::uint8_t> body_;
    std::size_t offset_ = 0;
};

// The stored unsigned 64-bit field, as the signed count it stands for.
std::int64_t nonNegative(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(INT64_MAX)) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
    return static_cast<std::int64_t>(value);
}

} // namespace

std::vector<std::uint8_t> encodeTombstones(const StoredTombstones& stored) {
    return encodeTombstones(stored.ledgerID, stored.filter);
}

std::vector<std::uint8_t> encodeTombstones(const Uuid& ledgerID, const TombstoneFilter& filter) {
    std::vector<std::uint8_t> out;
    encodeTombstones(ledgerID, filter, out);
    return out;
}

void encodeTombstones(const Uuid& ledgerID, const TombstoneFilter& filter,
                      std::vector<std::uint8_t>& out) {
    filter.validate();
    const std::string identifier = ledgerID.text();

    const std::vector<std::uint8_t>& bits = filter.bits();
    out.resize(tombstoneFileOverhead + bits.size());
    Writer writer(out.data());
    writer.bytes(magic.data(), magic.size());
    writer.bigEndian(formatVersion, 4);
    writer.bytes(reinterpret_cast<const std::uint8_t*>(identifier.data()), identifier.size());
    writer.bigEndian(static_cast<std::uint64_t>(filter.bitCount()), 8);
    writer.bigEndian(static_cast<std::uint64_t>(filter.hashCount()), 4);
    writer.bigEndian(static_cast<std::uint64_t>(filter.maximumInsertions()), 8);
    writer.bigEndian(static_cast<std::uint64_t>(filter.insertionCount()), 8);
    writer.bigEndian(bits.size(), 8);
    writer.bytes(bits.data(), bits.size());
    const auto body = std::span<const std::uint8_t>(out).first(out.size() - digestSize);
    const Sha256Digest digest = sha256(body);
    writer.bytes(digest.data(), digest.size());
}

StoredTombstones decodeTombstones(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < headerSize + digestSize) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
    const auto body = bytes.first(bytes.size() - digestSize);
    const auto storedDigest = bytes.last(digestSize);
    const Sha256Digest digest = sha256(body);
    if (!std::equal(digest.begin(), digest.end(), storedDigest.begin())) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }

    Cursor cursor(body);
    const auto storedMagic = cursor.take(magic.size());
    if (!std::equal(magic.begin(), magic.end(), storedMagic.begin())) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
    if (cursor.bigEndian(4) != formatVersion) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
    const auto identifierBytes = cursor.take(identifierSize);
    // A text that parses as a UUID is ASCII, and so valid UTF-8.
    const std::optional<Uuid> ledgerID = Uuid::parse(std::string_view(
        reinterpret_cast<const char*>(identifierBytes.data()), identifierBytes.size()));
    if (!ledgerID) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }

    const std::uint64_t storedBitCount = cursor.bigEndian(8);
    const std::uint64_t storedHashCount = cursor.bigEndian(4);
    const std::uint64_t storedMaximumInsertions = cursor.bigEndian(8);
    const std::uint64_t storedInsertionCount = cursor.bigEndian(8);
    const std::uint64_t storedLength = cursor.bigEndian(8);

    const std::int64_t bitCount = nonNegative(storedBitCount);
    const std::int64_t maximumInsertions = nonNegative(storedMaximumInsertions);
    const std::int64_t insertionCount = nonNegative(storedInsertionCount);
    const std::int64_t length = nonNegative(storedLength);
    if (bitCount < 1 || bitCount > TombstoneFilter::largestBitCount || bitCount % 8 != 0 ||
        length != bitCount / 8 || cursor.remaining() != static_cast<std::size_t>(length)) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }

    const auto bits = cursor.take(static_cast<std::size_t>(length));
    TombstoneFilter filter = TombstoneFilter::fromFields(
        bitCount, static_cast<std::int64_t>(storedHashCount), maximumInsertions, insertionCount,
        std::vector<std::uint8_t>(bits.begin(), bits.end()));
    filter.validate();
    if (cursor.remaining() != 0) {
        throw CommandLedgerError::unsupportedOrDamagedFormat();
    }
    return StoredTombstones{*ledgerID, std::move(filter)};
}

} // namespace varnello
