#pragma once

#include "ledger/LedgerFileSystem.h"

#include <memory>

namespace varnello {

// Another file system's reads, with every write refused (EROFS) and noted, a removal
// skipped and the lock granted without touching any file: a ledger loaded through it
// reads its files exactly as the bridge would and changes nothing, even beside a
// running bridge. Not thread-safe.
class ReadOnlyLedgerFileSystem final : public LedgerFileSystem {
public:
    explicit ReadOnlyLedgerFileSystem(std::shared_ptr<LedgerFileSystem> reads);

    // Whether loading tried to write (a legacy ledger is converted on load).
    bool writeRefused() const noexcept { return writeRefused_; }

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
    [[noreturn]] void refuse(const std::string& what);

    std::shared_ptr<LedgerFileSystem> reads_;
    bool writeRefused_ = false;
};

} // namespace varnello
