#include "LedgerReplay.h"

#include "ProcessCpuTime.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <algorithm>
#include <chrono>
#include <span>

namespace varnello::bench {

std::vector<double> LedgerReplayPhase::batchMilliseconds() const {
    std::vector<double> totals;
    for (std::size_t i = 0; i < reserveMilliseconds.size(); ++i) {
        totals.push_back(reserveMilliseconds[i] + recordMilliseconds[i]);
    }
    return totals;
}

LedgerReplay::LedgerReplay(const std::filesystem::path& folder)
    : ledger_(std::make_unique<CommandLedger>(
          folder / "TessaroBridge" / "command-ledger.json",
          std::make_shared<PosixLedgerFileSystem>(), CommandLedger::standardMaximumEntries,
          CommandLedger::standardTombstoneBitCount, CommandLedger::standardTombstoneHashCount,
          CommandLedger::standardTombstoneMaximumInsertions)) {}

LedgerReplayPhase LedgerReplay::run(LedgerReplayLoad load) {
    const auto [commands, batchSize] = load;
    LedgerReplayPhase phase;
    // Made beforehand: the bridge receives its identifiers, it does not make them.
    std::vector<Uuid> ids;
    for (int i = 0; i < commands; ++i) {
        ids.push_back(Uuid::random());
    }
    const auto batch = static_cast<std::size_t>(std::max(batchSize, 1));
    const ThreadCpu splitStart = callingThreadUserAndKernel();
    const std::int64_t cpuStart = callingThreadCpuNanoseconds();
    for (std::size_t first = 0; first < ids.size(); first += batch) {
        const auto start = std::chrono::steady_clock::now();
        const auto batchIDs = std::span(ids).subspan(first, std::min(batch, ids.size() - first));
        ledger_->reserveAll(batchIDs);
        const auto reserved = std::chrono::steady_clock::now();
        std::vector<CommandLedgerEntry> outcomes;
        for (const Uuid& id : batchIDs) {
            outcomes.push_back({id, CommandLedgerState::executed});
        }
        const auto recordStart = std::chrono::steady_clock::now();
        ledger_->recordAll(outcomes);
        const auto end = std::chrono::steady_clock::now();
        using Milliseconds = std::chrono::duration<double, std::milli>;
        phase.reserveMilliseconds.push_back(Milliseconds(reserved - start).count());
        phase.recordMilliseconds.push_back(Milliseconds(end - recordStart).count());
    }
    const std::int64_t cpuEnd = callingThreadCpuNanoseconds();
    const ThreadCpu splitEnd = callingThreadUserAndKernel();
    const auto perCommand = [&](std::int64_t nanoseconds) {
        return commands > 0 ? static_cast<double>(nanoseconds) / 1000.0 / commands : 0.0;
    };
    phase.cpuMicrosecondsPerCommand = perCommand(cpuEnd - cpuStart);
    phase.userMicrosecondsPerCommand =
        perCommand(splitEnd.userNanoseconds - splitStart.userNanoseconds);
    phase.kernelMicrosecondsPerCommand =
        perCommand(splitEnd.kernelNanoseconds - splitStart.kernelNanoseconds);
    return phase;
}

} // namespace varnello::bench
