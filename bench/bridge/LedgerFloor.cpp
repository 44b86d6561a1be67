#include "LedgerFloor.h"

#include "BridgeLoadError.h"
#include "ledger/LedgerStorage.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <chrono>
#include <exception>

namespace varnello::bench {

std::vector<double> measureLedgerFloor(const std::filesystem::path& ledgerFile,
                                       const std::filesystem::path& tombstoneFile, int samples) {
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
    std::vector<double> milliseconds;
    for (int i = 0; i < samples; ++i) {
        const auto start = std::chrono::steady_clock::now();
        writeAtomically(fileSystem, tombstoneBytes, tombstoneProbe);
        writeAtomically(fileSystem, ledgerBytes, ledgerProbe);
        writeAtomically(fileSystem, ledgerBytes, ledgerProbe);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    fileSystem.remove(ledgerProbe);
    fileSystem.remove(tombstoneProbe);
    return milliseconds;
}

} // namespace varnello::bench
