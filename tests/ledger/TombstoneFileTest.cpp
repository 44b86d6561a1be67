#include "ledger/TombstoneFile.h"

#include "ledger/CommandLedgerError.h"
#include "support/Sha256.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace varnello {
namespace {

// The fields of a tombstone file written by hand, so that each can be made wrong while
// the digest still matches.
struct RawTombstones {
    std::string magic = "TSCLTB01";
    std::uint64_t version = 1;
    std::string identifier = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    std::uint64_t bitCount = 64;
    std::uint64_t hashCount = 3;
    std::uint64_t maximumInsertions = 8;
    std::uint64_t insertionCount = 1;
    std::optional<std::uint64_t> length;
    std::vector<std::uint8_t> bits = {0x01, 0, 0x80, 0, 0, 0x04, 0, 0};
    std::vector<std::uint8_t> trailing;

    std::vector<std::uint8_t> body() const {
        std::vector<std::uint8_t> out(magic.begin(), magic.end());
        const auto put = [&](std::uint64_t value, int size) {
            for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) {
                out.push_back(static_cast<std::uint8_t>(value >> shift));
            }
        };
        put(version, 4);
        out.insert(out.end(), identifier.begin(), identifier.end());
        put(bitCount, 8);
        put(hashCount, 4);
        put(maximumInsertions, 8);
        put(insertionCount, 8);
        put(length.value_or(bits.size()), 8);
        out.insert(out.end(), bits.begin(), bits.end());
        out.insert(out.end(), trailing.begin(), trailing.end());
        return out;
    }

    std::vector<std::uint8_t> file() const {
        std::vector<std::uint8_t> out = body();
        const Sha256Digest digest = sha256(std::span<const std::uint8_t>(out));
        out.insert(out.end(), digest.begin(), digest.end());
        return out;
    }
};

void expectDamaged(const std::vector<std::uint8_t>& bytes, const std::string& what) {
    try {
        decodeTombstones(bytes);
        ADD_FAILURE() << what << ": accepted";
    } catch (const CommandLedgerError& error) {
        EXPECT_EQ(error, CommandLedgerError::unsupportedOrDamagedFormat()) << what;
    }
}

StoredTombstones smallStoredTombstones() {
    TombstoneFilter filter(64, 3, 8);
    filter.insert(*Uuid::parse("11111111-2222-4333-8444-555555555555"));
    filter.insert(*Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"));
    return StoredTombstones{*Uuid::parse("6F9619FF-8B86-D011-B42D-00C04FC964FF"), filter};
}

TEST(TombstoneFileTest, EncodesTheDocumentedLayout) {
    const StoredTombstones stored = smallStoredTombstones();
    RawTombstones raw;
    raw.insertionCount = 2;
    raw.bits = stored.filter.bits();
    EXPECT_EQ(encodeTombstones(stored), raw.file());
    EXPECT_EQ(encodeTombstones(stored).size(), 116U + 8U);
}

TEST(TombstoneFileTest, DecodingAnEncodedFileGivesItBack) {
    const StoredTombstones small = smallStoredTombstones();
    EXPECT_EQ(decodeTombstones(encodeTombstones(small)), small);

    TombstoneFilter standard(8'388'608, 7, 250'000);
    for (int i = 0; i < 50; ++i) {
        standard.insert(Uuid::random());
    }
    const StoredTombstones large{Uuid::random(), standard};
    const std::vector<std::uint8_t> bytes = encodeTombstones(large);
    EXPECT_EQ(bytes.size(), 1'048'692U);
    EXPECT_EQ(decodeTombstones(bytes), large);
}

TEST(TombstoneFileTest, AcceptsTheIdentifierInLowerCase) {
    RawTombstones raw;
    raw.identifier = "6f9619ff-8b86-d011-b42d-00c04fc964ff";
    EXPECT_EQ(decodeTombstones(raw.file()).ledgerID,
              *Uuid::parse("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
}

TEST(TombstoneFileTest, EncodingRefusesAnInvalidFilter) {
    const StoredTombstones stored{
        Uuid::random(), TombstoneFilter::fromFields(64, 3, 8, 9, std::vector<std::uint8_t>(8))};
    try {
        encodeTombstones(stored);
        FAIL() << "an invalid filter was encoded";
    } catch (const CommandLedgerError& error) {
        EXPECT_EQ(error, CommandLedgerError::unsupportedOrDamagedFormat());
    }
}

TEST(TombstoneFileTest, EverySingleByteChangeIsRefused) {
    const std::vector<std::uint8_t> original = encodeTombstones(smallStoredTombstones());
    ASSERT_NO_THROW(decodeTombstones(original));
    for (std::size_t offset = 0; offset < original.size(); ++offset) {
        for (int value = 0; value < 256; ++value) {
            if (value == original[offset]) {
                continue;
            }
            std::vector<std::uint8_t> changed = original;
            changed[offset] = static_cast<std::uint8_t>(value);
            expectDamaged(changed,
                          "byte " + std::to_string(offset) + " set to " + std::to_string(value));
        }
    }
}

TEST(TombstoneFileTest, TruncatedOrExtendedFilesAreRefused) {
    const std::vector<std::uint8_t> original = encodeTombstones(smallStoredTombstones());
    for (std::size_t size = 0; size < original.size(); ++size) {
        expectDamaged(std::vector<std::uint8_t>(original.begin(), original.begin() + size),
                      "first " + std::to_string(size) + " bytes");
    }
    std::vector<std::uint8_t> extended = original;
    extended.push_back(0);
    expectDamaged(extended, "one byte appended");
    expectDamaged(std::vector<std::uint8_t>(115, 0), "115 zero bytes");
}

TEST(TombstoneFileTest, StructuralFaultsUnderAMatchingDigestAreRefused) {
    const struct {
        const char* what;
        std::function<void(RawTombstones&)> change;
    } cases[] = {
        {"magic differs", [](RawTombstones& r) { r.magic = "TSCLTB02"; }},
        {"version 2", [](RawTombstones& r) { r.version = 2; }},
        {"version 0", [](RawTombstones& r) { r.version = 0; }},
        {"identifier not a UUID",
         [](RawTombstones& r) { r.identifier = "6F9619FF-8B86-D011-B42D-00C04FC964FG"; }},
        {"identifier without hyphens",
         [](RawTombstones& r) { r.identifier = "6F9619FF08B860D0110B42D000C04FC964FF"; }},
        {"identifier not UTF-8",
         [](RawTombstones& r) { r.identifier = "6F9619FF-8B86-D011-B42D-00C04FC964\xC3\x28"; }},
        {"bit count 12",
         [](RawTombstones& r) {
             r.bitCount = 12;
             r.length = 1;
             r.bits.resize(1);
         }},
        {"bit count 0",
         [](RawTombstones& r) {
             r.bitCount = 0;
             r.bits.clear();
         }},
        {"bit count negative", [](RawTombstones& r) { r.bitCount = ~std::uint64_t{0} - 63; }},
        {"bit count above 2^26",
         [](RawTombstones& r) {
             r.bitCount = 67'108'872;
             r.bits.assign(8'388'609, 0);
         }},
        {"hash count 0", [](RawTombstones& r) { r.hashCount = 0; }},
        {"hash count 17", [](RawTombstones& r) { r.hashCount = 17; }},
        {"hash count beyond 32 bits as read", [](RawTombstones& r) { r.hashCount = 0xFFFFFFFF; }},
        {"length field differs from bitCount / 8", [](RawTombstones& r) { r.length = 7; }},
        {"length field negative", [](RawTombstones& r) { r.length = ~std::uint64_t{0}; }},
        {"bits shorter than the length field", [](RawTombstones& r) { r.bits.resize(7); }},
        {"bytes beyond the bit array", [](RawTombstones& r) { r.trailing = {0}; }},
        {"insertion count beyond maximum", [](RawTombstones& r) { r.insertionCount = 9; }},
        {"insertion count negative",
         [](RawTombstones& r) { r.insertionCount = ~std::uint64_t{0}; }},
        {"maximum insertions beyond bit count", [](RawTombstones& r) { r.maximumInsertions = 65; }},
        {"maximum insertions 0",
         [](RawTombstones& r) {
             r.maximumInsertions = 0;
             r.insertionCount = 0;
         }},
        {"maximum insertions negative",
         [](RawTombstones& r) { r.maximumInsertions = ~std::uint64_t{0}; }},
    };
    ASSERT_NO_THROW(decodeTombstones(RawTombstones().file()));
    for (const auto& c : cases) {
        RawTombstones raw;
        c.change(raw);
        expectDamaged(raw.file(), c.what);
    }
}

} // namespace
} // namespace varnello
