#include "ReportPrinter.h"

#include "Summary.h"

#include <algorithm>

namespace varnello::bench {

namespace {

constexpr double cueGoal = 1.15;
constexpr double acknowledgementGoal = 1.3;
constexpr double ownWorkGoalMicroseconds = 100;
constexpr double startUpGoalMilliseconds = 100;
constexpr std::size_t slicesPerLine = 20;

double mebibytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::vector<double> cueRatios(const RoundFigures& round) {
    std::vector<double> ratios;
    for (const auto& pair : round.pairs) {
        ratios.push_back(pair.cueRatio());
    }
    return ratios;
}

std::vector<double> acknowledgementRatios(const RoundFigures& round) {
    std::vector<double> ratios;
    for (const auto& pair : round.pairs) {
        ratios.push_back(pair.acknowledgementRatio());
    }
    return ratios;
}

double perCommandMicroseconds(double nanoseconds, const RoundFigures& round) {
    return round.commands.empty()
               ? 0
               : nanoseconds / 1000.0 / static_cast<double>(round.commands.size());
}

const char* verdict(bool met) {
    return met ? "met" : "NOT met";
}

} // namespace

ReportPrinter::ReportPrinter(const ReportFigures& figures, std::FILE* out)
    : figures_(figures), out_(out) {}

void ReportPrinter::print() {
    printMachine();
    printLatency();
    printSplit();
    printSlices();
    printOwnWork();
    printMemoryAndStartUp();
    printGoals();
}

const RoundFigures* ReportPrinter::round(int iPads) const {
    const auto found =
        std::find_if(figures_.rounds.begin(), figures_.rounds.end(),
                     [iPads](const RoundFigures& round) { return round.plan.iPads == iPads; });
    return found == figures_.rounds.end() ? nullptr : &*found;
}

double ReportPrinter::ownWorkMicroseconds() const {
    return perCommandMicroseconds(figures_.repeated.bridgeNanoseconds, figures_.repeated) +
           figures_.oscOutputMicroseconds;
}

void ReportPrinter::printMachine() {
    const auto& machine = figures_.machine;
    std::fprintf(out_,
                 "# Varnello Bridge load report\n\n"
                 "- date: %s; run took %.0f s\n"
                 "- machine: %u CPUs, %s; Linux %s\n"
                 "- data folder's file system: %s\n"
                 "- bridge: %s\n"
                 "- each round: a floor slice (%d floor samples), then command slices (%d "
                 "batches; a batch is one command from every iPad, sent together, and all "
                 "their answers and datagrams) each followed by a floor slice\n"
                 "- ledger at the end: %zu entries, ledger file %zu bytes, tombstone file %zu "
                 "bytes\n"
                 "- idle bridge: %zu periodic thread(s) at %.0f us/s left out of CPU figures; "
                 "the other threads' %.0f us/s subtracted\n\n",
                 machine.date.c_str(), figures_.seconds, machine.processors,
                 machine.cpuModel.c_str(), machine.kernel.c_str(), machine.fileSystem.c_str(),
                 figures_.bridge.c_str(), figures_.floorSamplesPerSlice, figures_.batchesPerSlice,
                 figures_.ledgerEntries, figures_.ledgerBytes, figures_.tombstoneBytes,
                 figures_.idle.periodicThreads.size(),
                 figures_.idle.periodicNanosecondsPerSecond / 1000.0,
                 figures_.idle.otherNanosecondsPerSecond / 1000.0);
}

void ReportPrinter::printLatency() {
    std::fprintf(out_,
                 "## Latency, ms\n\n"
                 "Cue: command sent to its OSC datagram received here. Ack: command sent to its "
                 "acknowledgement received. Reservation floor: the tombstone file's SHA-256 and "
                 "save plus the ledger file's checksum and save; ack floor: that plus one more "
                 "ledger file save with its checksum (the ledger's own writeAtomically, in this "
                 "process, on bytes of the ledger's current sizes). Ratios: the median over the "
                 "slices of (the slice's median latency / the median floor of the floor slices "
                 "on either side).\n\n"
                 "| iPads | commands | acks/s | cue median | cue p99 | cue max | ack median | "
                 "ack p99 | ack max | res. floor median | res. floor p99 | ack floor median | "
                 "ack floor p99 | cue / res. floor | ack / ack floor |\n"
                 "| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | "
                 "---: | ---: | ---: | ---: |\n");
    for (const auto& round : figures_.rounds) {
        const Summary cue = summarise(round.cue);
        const Summary acknowledgement = summarise(round.acknowledgement);
        const Summary reservation = summarise(round.reservationFloor);
        const Summary acknowledgementFloor = summarise(round.acknowledgementFloor);
        std::fprintf(out_,
                     "| %d | %zu | %.0f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | "
                     "%.2f | %.2f | %.2f | %.2f |\n",
                     round.plan.iPads, round.commands.size(), round.acknowledgementsPerSecond(),
                     cue.median, cue.p99, cue.maximum, acknowledgement.median, acknowledgement.p99,
                     acknowledgement.maximum, reservation.median, reservation.p99,
                     acknowledgementFloor.median, acknowledgementFloor.p99,
                     medianOf(cueRatios(round)), medianOf(acknowledgementRatios(round)));
    }
    const auto& repeated = figures_.repeated;
    const Summary acknowledgement = summarise(repeated.acknowledgement);
    std::fprintf(out_,
                 "| %d, repeated (all `duplicate`, no datagram) | %zu | %.0f | - | - | - | %.2f "
                 "| %.2f | %.2f | - | - | - | - | - | - |\n\n",
                 repeated.plan.iPads, repeated.commands.size(),
                 repeated.acknowledgementsPerSecond(), acknowledgement.median, acknowledgement.p99,
                 acknowledgement.maximum);
}

void ReportPrinter::printSplit() {
    const double ownWork = ownWorkMicroseconds();
    std::fprintf(
        out_,
        "## Where the time goes\n\n"
        "Medians in ms, but CPU per command in us. Above the floor: cue median less reservation "
        "floor median, "
        "ack median less ack floor median. The bridge's own work per batch is its own work per "
        "command (below) times the iPads; what remains above the floor besides it is waiting "
        "(the batch hold, thread wake-ups, the client's sending). Send spread: first to last "
        "send of a batch here. Bridge CPU: its threads over the command slices, ledger "
        "included; the ack floor's CPU is this process's, in one ack floor sample (digest, "
        "checksums, encoding, the saves' system calls), which the bridge cannot do without.\n\n"
        "| iPads | cue above floor | ack above floor | own work per batch | cue: remaining wait "
        "| send spread | bridge CPU per batch | ack floor CPU | bridge CPU per batch less ack "
        "floor CPU | bridge CPU us/cmd | server queue thread us/cmd | client CPU us/cmd | "
        "client share of a core |\n"
        "| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | "
        "---: |\n");
    for (const auto& round : figures_.rounds) {
        const double cueAbove = medianOf(round.cue) - medianOf(round.reservationFloor);
        const double acknowledgementAbove =
            medianOf(round.acknowledgement) - medianOf(round.acknowledgementFloor);
        const double ownPerBatch = ownWork * round.plan.iPads / 1000.0;
        const double bridgePerCommand = perCommandMicroseconds(round.bridgeNanoseconds, round);
        const double bridgePerBatch = bridgePerCommand * round.plan.iPads / 1000.0;
        const double floorCpu = medianOf(round.acknowledgementFloorCpu);
        std::fprintf(
            out_,
            "| %d | %.2f | %.2f | %.2f | %.2f | %.3f | %.2f | %.2f | %.2f | %.0f | %.0f | %.0f | "
            "%.0f%% |\n",
            round.plan.iPads, cueAbove, acknowledgementAbove, ownPerBatch, cueAbove - ownPerBatch,
            medianOf(round.sendSpread), bridgePerBatch, floorCpu, bridgePerBatch - floorCpu,
            bridgePerCommand, perCommandMicroseconds(round.queueThreadNanoseconds, round),
            perCommandMicroseconds(round.clientNanoseconds, round),
            100.0 * round.clientNanoseconds / 1e9 / round.commandSeconds);
    }
    const auto& repeated = figures_.repeated;
    std::fprintf(
        out_,
        "| %d, repeated | - | - | - | - | %.3f | - | - | - | %.0f | %.0f | %.0f | %.0f%% |\n\n",
        repeated.plan.iPads, medianOf(repeated.sendSpread),
        perCommandMicroseconds(repeated.bridgeNanoseconds, repeated),
        perCommandMicroseconds(repeated.queueThreadNanoseconds, repeated),
        perCommandMicroseconds(repeated.clientNanoseconds, repeated),
        100.0 * repeated.clientNanoseconds / 1e9 / repeated.commandSeconds);
}

void ReportPrinter::printSlices() {
    std::fprintf(
        out_, "## Slice pairs\n\nPer round, slice by slice: cue / reservation floor, "
              "then ack / ack floor, then the slice's reservation floor and its cue median above "
              "that floor (ms). A constant cost above the floor weighs more in the "
              "ratio when the disk is fast.\n\n");
    for (const auto& round : figures_.rounds) {
        const auto cue = cueRatios(round);
        const auto acknowledgement = acknowledgementRatios(round);
        const auto printRow = [&](const char* what, const std::vector<double>& values) {
            std::fprintf(out_, "    %2d iPads %-9s", round.plan.iPads, what);
            if (!values.empty()) {
                const auto [least, most] = std::minmax_element(values.begin(), values.end());
                std::fprintf(out_, " median %.2f, min %.2f, max %.2f:", medianOf(values), *least,
                             *most);
            }
            for (std::size_t n = 0; n < values.size(); ++n) {
                if (n % slicesPerLine == 0) {
                    std::fprintf(out_, "\n       ");
                }
                std::fprintf(out_, " %5.2f", values[n]);
            }
            std::fprintf(out_, "\n");
        };
        std::vector<double> floors;
        std::vector<double> above;
        for (const auto& pair : round.pairs) {
            floors.push_back(pair.reservationFloor);
            above.push_back(pair.cue - pair.reservationFloor);
        }
        printRow("cue", cue);
        printRow("ack", acknowledgement);
        printRow("floor ms", floors);
        printRow("above ms", above);
    }
    std::fprintf(out_, "\n");
}

void ReportPrinter::printOwnWork() {
    const auto& repeated = figures_.repeated;
    const double repeatedMicroseconds =
        perCommandMicroseconds(repeated.bridgeNanoseconds, repeated);
    std::fprintf(out_,
                 "## The bridge's own work per command\n\n"
                 "%.0f us on a repeated command (receive, decode, dispatch, ledger look-up, "
                 "encode, send; its CPU time over the repeated round) + %.0f us for one OSC "
                 "output (preferences read and OSCForwarder, measured in this process) = %.0f "
                 "us.\n\n",
                 repeatedMicroseconds, figures_.oscOutputMicroseconds, ownWorkMicroseconds());
}

void ReportPrinter::printMemoryAndStartUp() {
    const auto& hostile = figures_.hostile;
    std::fprintf(out_,
                 "## Resident memory, MiB\n\n"
                 "| when | VmRSS | VmHWM |\n| --- | ---: | ---: |\n"
                 "| idle after start | %.1f | %.1f |\n",
                 mebibytes(figures_.idleMemory.resident), mebibytes(figures_.idleMemory.peak));
    if (const auto* thirtyTwo = round(32)) {
        std::fprintf(out_, "| 32 iPads connected, after their last batch | %.1f | %.1f |\n",
                     mebibytes(thirtyTwo->memoryConnected.resident),
                     mebibytes(thirtyTwo->memoryConnected.peak));
    }
    std::fprintf(out_,
                 "| %d silent connections, %d stalled maximal frames, at the end of a flood of "
                 "%zu unread commands (%zu of their datagrams came) | %.1f | %.1f |\n"
                 "| a second after they all closed | %.1f | %.1f |\n\n",
                 hostile.silentConnections, hostile.stalledConnections, hostile.floodedCommands,
                 figures_.floodDatagrams, mebibytes(hostile.withPeers.resident),
                 mebibytes(hostile.withPeers.peak), mebibytes(hostile.afterClose.resident),
                 mebibytes(hostile.afterClose.peak));
    const auto& startUp = figures_.startUp;
    const Summary time = summarise(startUp.milliseconds);
    std::fprintf(out_,
                 "## Start-up on a full ledger\n\n"
                 "%zu entries (ledger file %zu bytes), tombstone file %zu bytes; spawn to the "
                 "ready line, %zu samples: median %.1f ms, max %.1f ms.\n\n",
                 startUp.entries, startUp.ledgerBytes, startUp.tombstoneBytes,
                 startUp.milliseconds.size(), time.median, time.maximum);
}

void ReportPrinter::printGoals() {
    std::fprintf(out_, "## Goals\n\n");
    if (const auto* one = round(1)) {
        const double ratio = medianOf(cueRatios(*one));
        std::fprintf(out_, "- 1 iPad, cue median <= %.2f x reservation floor: %.2f, %s\n", cueGoal,
                     ratio, verdict(ratio <= cueGoal));
        if (ratio > cueGoal) {
            std::fprintf(out_,
                         "  (%.2f ms above the floor; see the 1-iPad row of \"Where the "
                         "time goes\")\n",
                         medianOf(one->cue) - medianOf(one->reservationFloor));
        }
    }
    if (const auto* eight = round(8)) {
        const double ratio = medianOf(acknowledgementRatios(*eight));
        std::fprintf(out_, "- 8 iPads, ack median <= %.2f x ack floor: %.2f, %s\n",
                     acknowledgementGoal, ratio, verdict(ratio <= acknowledgementGoal));
        if (ratio > acknowledgementGoal) {
            std::fprintf(out_,
                         "  (%.2f ms above the floor; see the 8-iPad row of \"Where the "
                         "time goes\")\n",
                         medianOf(eight->acknowledgement) - medianOf(eight->acknowledgementFloor));
        }
    }
    const double ownWork = ownWorkMicroseconds();
    std::fprintf(out_, "- own work < %.0f us per command: %.0f us, %s\n", ownWorkGoalMicroseconds,
                 ownWork, verdict(ownWork < ownWorkGoalMicroseconds));
    const double startUp = medianOf(figures_.startUp.milliseconds);
    std::fprintf(out_, "- start-up on a full ledger < %.0f ms: median %.1f ms, %s\n",
                 startUpGoalMilliseconds, startUp, verdict(startUp < startUpGoalMilliseconds));
    std::fprintf(out_, "\nChecks passed: every acknowledgement named its command with the "
                       "expected status, every cue's datagram came exactly once and no other; "
                       "the bridge exited with status 0.\n");
}

} // namespace varnello::bench
