#pragma once

#include "ledger/LedgerFileSystem.h"

namespace varnello {

// The ledger's file system on POSIX calls: every descriptor close-on-exec, fsync for
// the full sync, folders synced through a read-only descriptor, flock for the lock.
// Thread-safe (it keeps no state).
class PosixLedgerFileSystem final : public LedgerFileSystem {
public:
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
};

} // namespace varnello
