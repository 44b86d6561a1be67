#pragma once

#include "ledger/PosixLedgerFileSystem.h"

#include <optional>
#include <vector>

namespace varnello::testing {

// The real POSIX file system, with a record of every call and the power to make one
// chosen call fail as the platform would.
class FaultInjectingFileSystem final : public LedgerFileSystem {
public:
    enum class Step {
        dataHomeDirectory,
        kind,
        createDirectory,
        createEmptyFile,
        openForWriting,
        writeAll,
        syncFile,
        closeFile,
        rename,
        remove,
        readFile,
        syncDirectory,
        directoryEntries,
        tryLockExclusive,
    };

    // dataHome stands in for $XDG_DATA_HOME when given.
    explicit FaultInjectingFileSystem(std::filesystem::path dataHome = {});

    // The occurrence-th call of step from now on fails with error (a failed write
    // first writes half of its bytes, as a full disk does).
    void failAt(Step step, int occurrence = 1, int error = EIO);
    bool faultPending() const noexcept { return fault_.has_value(); }
    const std::vector<Step>& calls() const noexcept { return calls_; }
    void clearCalls() {
        calls_.clear();
        renamedTo_.clear();
    }
    // The targets of successful renames, in order.
    const std::vector<std::filesystem::path>& renamedTo() const noexcept { return renamedTo_; }

    std::filesystem::path dataHomeDirectory() override;
    Kind kind(const std::filesystem::path& path) override;
    void createDirectory(const std::filesystem::path& path) override;
    bool createEmptyFile(const std::filesystem::path& path) noexcept override;
    int openForWriting(const std::filesystem::path& path) override;
    void writeAll(int descriptor, std::span<const std::uint8_t> bytes) override;
    void syncFile(int descriptor) override;
    void closeFile(int descriptor) override;
    void rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    void remove(const std::filesystem::path& path) noexcept override;
    std::vector<std::uint8_t> readFile(const std::filesystem::path& path) override;
    void syncDirectory(const std::filesystem::path& path) override;
    std::vector<std::string> directoryEntries(const std::filesystem::path& path) override;
    std::unique_ptr<LedgerFileLock> tryLockExclusive(const std::filesystem::path& path) override;

private:
    struct Fault {
        Step step;
        int remaining;
        int error;
    };

    // Records the call; the errno to fail it with when it is the chosen one.
    std::optional<int> enter(Step step) noexcept;
    void enterOrThrow(Step step);

    PosixLedgerFileSystem real_;
    std::filesystem::path dataHome_;
    std::optional<Fault> fault_;
    std::vector<Step> calls_;
    std::vector<std::filesystem::path> renamedTo_;
};

const char* stepName(FaultInjectingFileSystem::Step step);

} // namespace varnello::testing
