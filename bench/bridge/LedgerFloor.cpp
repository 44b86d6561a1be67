#include "LedgerFloor.h"

#include "BridgeLoadError.h"
#include "ledger/LedgerStorage.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <chrono>
#include <exception>

namespace varnello::bench {

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

std::vector<LedgerFloorSample> measureLedgerFloor(const std::filesystem::path& ledgerFile,
                                                  const std::filesystem::path& tombstoneFile,
                                                  int samples) {
    PosixLedgerFileSystem fileSystem;
    std::vector<std::uint8_t> ledgerBytes;
    std::vector<std::uint8_t> tombstoneBytes;
    try {
        ledgerBytes = fileSystem.readFile(ledgerFile);
        tombstoneBytes = fileSystem.readFile(tombstoneFile);
    } catch (const std::exception&) {
        throw BridgeLoadError(BridgeLoadError::Code::ledgerFiles);
    }
    const auto folder = ledgerFile.parent_path();
    const auto ledgerProbe = folder / "floor-probe.json";
    const auto tombstoneProbe = folder / "floor-probe.bin";
    std::vector<LedgerFloorSample> floor;
    for (int i = 0; i < samples; ++i) {
        LedgerFloorSample sample;
        auto start = std::chrono::steady_clock::now();
        writeAtomically(fileSystem, tombstoneBytes, tombstoneProbe);
        sample.tombstoneSave = millisecondsSince(start);
        start = std::chrono::steady_clock::now();
        writeAtomically(fileSystem, ledgerBytes, ledgerProbe);
        sample.reserveLedgerSave = millisecondsSince(start);
        start = std::chrono::steady_clock::now();
        writeAtomically(fileSystem, ledgerBytes, ledgerProbe);
        sample.recordLedgerSave = millisecondsSince(start);
        floor.push_back(sample);
    }
    fileSystem.remove(ledgerProbe);
    fileSystem.remove(tombstoneProbe);
    return floor;
}

} // namespace varnello::bench
