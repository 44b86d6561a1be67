// The cost of one reservation and one recorded outcome on a full standard ledger
// (2048 entries, 8 Mbit filter), beside the floor that the same bytes cost with plain
// POSIX calls (write a temporary file, fsync, rename, folder fsync) in the same folder,
// and the CPU work of each step of a save.

#include "ledger/CommandLedger.h"
#include "ledger/LedgerFile.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "ledger/TombstoneFile.h"
#include "support/Sha256.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace varnello {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int measuredOperations = 200;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::system_error(errno, std::generic_category(), what);
    }
}

class BenchFolder {
public:
    BenchFolder() {
        std::string pattern = "/tmp/varnello-ledger-bench-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        path_ = pattern;
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

std::vector<CommandLedgerEntry> fullEntries() {
    std::vector<CommandLedgerEntry> entries;
    for (std::int64_t i = 0; i < CommandLedger::standardMaximumEntries; ++i) {
        entries.push_back({Uuid::random(), CommandLedgerState::executed});
    }
    return entries;
}

TombstoneFilter filterOf(const std::vector<CommandLedgerEntry>& entries) {
    TombstoneFilter filter(CommandLedger::standardTombstoneBitCount,
                           CommandLedger::standardTombstoneHashCount,
                           CommandLedger::standardTombstoneMaximumInsertions);
    for (const auto& entry : entries) {
        filter.insert(entry.id);
    }
    return filter;
}

StoredLedgerPayload payloadOf(const std::vector<CommandLedgerEntry>& entries,
                              const TombstoneFilter& filter) {
    StoredLedgerPayload payload;
    payload.ledgerID = Uuid::random();
    payload.entries = entries;
    payload.minimumTombstoneInsertionCount = filter.insertionCount();
    return payload;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    check(static_cast<bool>(out), "write");
}

// A ledger holding 2048 entries, written directly rather than by 2048 reservations.
std::unique_ptr<CommandLedger> fullLedger(const std::filesystem::path& folder) {
    const auto entries = fullEntries();
    const TombstoneFilter filter = filterOf(entries);
    const StoredLedgerPayload payload = payloadOf(entries, filter);
    const auto tombstones = encodeTombstones(payload.ledgerID, filter);
    writeFile(folder / "command-ledger.tombstones-v1.bin",
              std::string(tombstones.begin(), tombstones.end()));
    writeFile(folder / "command-ledger.json", encodeStoredLedger(payload, ledgerChecksum(payload)));
    return std::make_unique<CommandLedger>(
        folder / "command-ledger.json", std::make_shared<PosixLedgerFileSystem>(),
        CommandLedger::standardMaximumEntries, CommandLedger::standardTombstoneBitCount,
        CommandLedger::standardTombstoneHashCount,
        CommandLedger::standardTombstoneMaximumInsertions);
}

// The least any durable replacement of a file of this size can cost here.
void plainReplace(const std::filesystem::path& folder, const char* name,
                  const std::vector<char>& bytes) {
    const std::filesystem::path target = folder / name;
    const std::filesystem::path temporary = folder / (std::string(".") + name + ".tmp");
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    check(file >= 0, "open");
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
        check(count > 0, "write");
        written += static_cast<std::size_t>(count);
    }
    check(::fsync(file) == 0, "fsync");
    check(::close(file) == 0, "close");
    check(::rename(temporary.c_str(), target.c_str()) == 0, "rename");
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(directory >= 0, "open folder");
    check(::fsync(directory) == 0, "fsync folder");
    ::close(directory);
}

// CPU time of this process, kernel work on its behalf included.
double cpuMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

struct Percentiles {
    double median;
    double p99;
};

Percentiles percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double fraction) {
        const auto rank = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
        return samples[std::max<std::size_t>(rank, 1) - 1];
    };
    return {at(0.5), at(0.99)};
}

// Each operation and its floor alternate, so both see the same disk conditions.
void report(benchmark::State& state, const std::vector<double>& operation,
            const std::vector<double>& floor, double operationCpu, double floorCpu) {
    state.counters["cpu_us"] = operationCpu / static_cast<double>(operation.size());
    state.counters["floor_cpu_us"] = floorCpu / static_cast<double>(floor.size());
    const Percentiles op = percentiles(operation);
    const Percentiles base = percentiles(floor);
    state.counters["median_us"] = op.median;
    state.counters["p99_us"] = op.p99;
    state.counters["floor_median_us"] = base.median;
    state.counters["floor_p99_us"] = base.p99;
    state.counters["ratio_median"] = op.median / base.median;
    state.counters["ratio_p99"] = op.p99 / base.p99;
}

void BM_Reserve(benchmark::State& state) {
    BenchFolder folder;
    auto ledger = fullLedger(folder.path());
    const std::vector<char> tombstoneBytes(std::filesystem::file_size(ledger->tombstoneFileURL()),
                                           't');
    const std::vector<char> ledgerBytes(std::filesystem::file_size(ledger->fileURL()), 'l');
    std::vector<double> operation;
    std::vector<double> floor;
    double operationCpu = 0;
    double floorCpu = 0;
    for (auto _ : state) {
        const Uuid id = Uuid::random();
        const double cpuStart = cpuMicroseconds();
        const auto start = Clock::now();
        const auto answer = ledger->reserve(id);
        const auto end = Clock::now();
        const double cpuEnd = cpuMicroseconds();
        if (answer) {
            state.SkipWithError("a random identifier was answered as known");
            break;
        }
        const auto floorStart = Clock::now();
        plainReplace(folder.path(), "floor-tombstones.bin", tombstoneBytes);
        plainReplace(folder.path(), "floor-ledger.json", ledgerBytes);
        const auto floorEnd = Clock::now();
        operationCpu += cpuEnd - cpuStart;
        floorCpu += cpuMicroseconds() - cpuEnd;
        operation.push_back(microseconds(end - start));
        floor.push_back(microseconds(floorEnd - floorStart));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    if (!operation.empty()) {
        report(state, operation, floor, operationCpu, floorCpu);
    }
}
BENCHMARK(BM_Reserve)
    ->Iterations(measuredOperations)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Record(benchmark::State& state) {
    BenchFolder folder;
    auto ledger = fullLedger(folder.path());
    const Uuid id = ledger->orderedEntries()[1024].id;
    const std::vector<char> ledgerBytes(std::filesystem::file_size(ledger->fileURL()), 'l');
    std::vector<double> operation;
    std::vector<double> floor;
    double operationCpu = 0;
    double floorCpu = 0;
    bool executed = false;
    for (auto _ : state) {
        executed = !executed;
        const double cpuStart = cpuMicroseconds();
        const auto start = Clock::now();
        ledger->record(id, executed ? CommandLedgerState::executed : CommandLedgerState::failed);
        const auto end = Clock::now();
        const double cpuEnd = cpuMicroseconds();
        plainReplace(folder.path(), "floor-ledger.json", ledgerBytes);
        const auto floorEnd = Clock::now();
        operationCpu += cpuEnd - cpuStart;
        floorCpu += cpuMicroseconds() - cpuEnd;
        operation.push_back(microseconds(end - start));
        floor.push_back(microseconds(floorEnd - end));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    report(state, operation, floor, operationCpu, floorCpu);
}
BENCHMARK(BM_Record)
    ->Iterations(measuredOperations)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The CPU steps of a save, one by one.

void BM_CpuFilterCopy(benchmark::State& state) {
    const TombstoneFilter filter = filterOf(fullEntries());
    for (auto _ : state) {
        TombstoneFilter copy = filter;
        benchmark::DoNotOptimize(copy.bits().data());
    }
}
BENCHMARK(BM_CpuFilterCopy)->Unit(benchmark::kMicrosecond);

void BM_CpuFilterInsert(benchmark::State& state) {
    TombstoneFilter filter = filterOf(fullEntries());
    std::vector<Uuid> ids(100'000);
    std::generate(ids.begin(), ids.end(), Uuid::random);
    std::size_t next = 0;
    for (auto _ : state) {
        filter.insert(ids[next++ % ids.size()]);
    }
}
BENCHMARK(BM_CpuFilterInsert)->Iterations(50'000)->Unit(benchmark::kMicrosecond);

void BM_CpuSha256OfTombstoneFile(benchmark::State& state) {
    const std::vector<std::uint8_t> body(
        static_cast<std::size_t>(CommandLedger::standardTombstoneBitCount / 8) + 84, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(sha256(std::span<const std::uint8_t>(body)));
    }
}
BENCHMARK(BM_CpuSha256OfTombstoneFile)->Unit(benchmark::kMicrosecond);

void BM_CpuTombstoneFileEncoding(benchmark::State& state) {
    const TombstoneFilter filter = filterOf(fullEntries());
    const Uuid ledgerID = Uuid::random();
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeTombstones(ledgerID, filter));
    }
}
BENCHMARK(BM_CpuTombstoneFileEncoding)->Unit(benchmark::kMicrosecond);

void BM_CpuLedgerCanonicalText(benchmark::State& state) {
    const auto entries = fullEntries();
    const StoredLedgerPayload payload = payloadOf(entries, filterOf(entries));
    for (auto _ : state) {
        benchmark::DoNotOptimize(canonicalLedgerPayloadText(payload));
    }
}
BENCHMARK(BM_CpuLedgerCanonicalText)->Unit(benchmark::kMicrosecond);

void BM_CpuLedgerChecksum(benchmark::State& state) {
    const auto entries = fullEntries();
    const StoredLedgerPayload payload = payloadOf(entries, filterOf(entries));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ledgerChecksum(payload));
    }
}
BENCHMARK(BM_CpuLedgerChecksum)->Unit(benchmark::kMicrosecond);

void BM_CpuLedgerFileText(benchmark::State& state) {
    const auto entries = fullEntries();
    const StoredLedgerPayload payload = payloadOf(entries, filterOf(entries));
    const std::string checksum = ledgerChecksum(payload);
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeStoredLedger(payload, checksum));
    }
}
BENCHMARK(BM_CpuLedgerFileText)->Unit(benchmark::kMicrosecond);

void BM_CpuEntryListCopy(benchmark::State& state) {
    const auto entries = fullEntries();
    for (auto _ : state) {
        std::vector<CommandLedgerEntry> copy = entries;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CpuEntryListCopy)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace varnello
