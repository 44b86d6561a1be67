#include "LedgerFloor.h"

#include "BridgeLoadError.h"
#include "ProcessCpuTime.h"
#include "ledger/CommandLedger.h"
#include "ledger/LedgerStorage.h"
#include "support/Sha256.h"

#include <chrono>
#include <exception>
#include <span>
#include <string>
#include <variant>

namespace varnello::bench {

namespace {

// The digest closes the tombstone file and covers everything before it.
constexpr std::size_t tombstoneDigestBytes = std::tuple_size_v<Sha256Digest>;

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

LedgerFloor::LedgerFloor(std::filesystem::path ledgerFile)
    : ledgerFile_(std::move(ledgerFile)),
      tombstoneFile_(CommandLedger::tombstoneFileFor(ledgerFile_)),
      ledgerProbe_(ledgerFile_.parent_path() / "floor-probe.json"),
      tombstoneProbe_(ledgerFile_.parent_path() / "floor-probe.bin") {}

LedgerFloor::~LedgerFloor() {
    std::error_code ignored;
    std::filesystem::remove(ledgerProbe_, ignored);
    std::filesystem::remove(tombstoneProbe_, ignored);
}

void LedgerFloor::refresh() {
    try {
        const auto ledgerBytes = fileSystem_.readFile(ledgerFile_);
        auto content = decodeLedgerFile(ledgerBytes, CommandLedger::standardMaximumEntries);
        const auto* stored = std::get_if<StoredLedger>(&content);
        tombstoneBytes_ = fileSystem_.readFile(tombstoneFile_);
        if (stored == nullptr || tombstoneBytes_.size() < tombstoneDigestBytes) {
            throw BridgeLoadError(BridgeLoadError::Code::ledgerFiles);
        }
        payload_ = stored->payload;
        ledgerBytes_ = ledgerBytes.size();
    } catch (const BridgeLoadError&) {
        throw;
    } catch (const std::exception&) {
        throw BridgeLoadError(BridgeLoadError::Code::ledgerFiles);
    }
}

LedgerFloorSample LedgerFloor::sample() {
    LedgerFloorSample sample;
    const std::int64_t cpuStart = callingThreadCpuNanoseconds();
    const auto start = std::chrono::steady_clock::now();
    const auto body = std::span<const std::uint8_t>(tombstoneBytes_)
                          .first(tombstoneBytes_.size() - tombstoneDigestBytes);
    volatile std::uint8_t keep = sha256(body)[0];
    static_cast<void>(keep);
    writeAtomically(fileSystem_, tombstoneBytes_, tombstoneProbe_);
    const auto saveLedger = [this] {
        const std::string checksum = ledgerChecksum(payload_);
        writeAtomically(fileSystem_, bytesOf(encodeStoredLedger(payload_, checksum)), ledgerProbe_);
    };
    saveLedger();
    sample.reservation = millisecondsSince(start);
    saveLedger();
    sample.acknowledgement = millisecondsSince(start);
    sample.acknowledgementCpu =
        static_cast<double>(callingThreadCpuNanoseconds() - cpuStart) / 1'000'000.0;
    return sample;
}

} // namespace varnello::bench
