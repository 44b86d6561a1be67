#include "StartUpTimer.h"

#include "BridgeLoadError.h"
#include "LedgerFloor.h"
#include "ledger/CommandLedger.h"
#include "ledger/PosixLedgerFileSystem.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <span>

namespace varnello::bench {

StartUpTimer::StartUpTimer(BridgeLaunch launch, RunLimit& limit)
    : launch_(std::move(launch)), limit_(limit) {}

void StartUpTimer::fillLedger(int commands, int batchSize) {
    try {
        CommandLedger ledger(launch_.ledgerFile(), std::make_shared<PosixLedgerFileSystem>(),
                             CommandLedger::standardMaximumEntries,
                             CommandLedger::standardTombstoneBitCount,
                             CommandLedger::standardTombstoneHashCount,
                             CommandLedger::standardTombstoneMaximumInsertions);
        std::vector<Uuid> ids;
        for (int n = 0; n < commands; ++n) {
            ids.push_back(Uuid::random());
        }
        const auto batch = static_cast<std::size_t>(std::max(batchSize, 1));
        for (std::size_t first = 0; first < ids.size(); first += batch) {
            const auto batchIDs =
                std::span(ids).subspan(first, std::min(batch, ids.size() - first));
            ledger.reserveAll(batchIDs);
            std::vector<CommandLedgerEntry> outcomes;
            for (const Uuid& id : batchIDs) {
                outcomes.push_back({id, CommandLedgerState::executed});
            }
            ledger.recordAll(outcomes);
        }
    } catch (const std::exception&) {
        throw BridgeLoadError(BridgeLoadError::Code::ledgerFill);
    }
}

StartUpFigures StartUpTimer::measure(int samples) {
    StartUpFigures figures;
    LedgerFloor files(launch_.ledgerFile());
    files.refresh();
    figures.entries = files.entries();
    figures.ledgerBytes = files.ledgerBytes();
    figures.tombstoneBytes = files.tombstoneBytes();
    for (int n = 0; n < samples; ++n) {
        const auto start = std::chrono::steady_clock::now();
        const auto bridge = launch_.start();
        limit_.watch(bridge->pid());
        awaitReady(*bridge);
        figures.milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        stopBridge(*bridge);
        limit_.watch(-1);
    }
    return figures;
}

} // namespace varnello::bench
