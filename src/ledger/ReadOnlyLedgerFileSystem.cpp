#include "ledger/ReadOnlyLedgerFileSystem.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace varnello {

namespace {

class NoHold final : public LedgerFileLock {};

} // namespace

ReadOnlyLedgerFileSystem::ReadOnlyLedgerFileSystem(std::shared_ptr<LedgerFileSystem> reads)
    : reads_(std::move(reads)) {}

void ReadOnlyLedgerFileSystem::refuse(const std::string& what) {
    writeRefused_ = true;
    throw std::system_error(EROFS, std::generic_category(), what);
}

std::filesystem::path ReadOnlyLedgerFileSystem::dataHomeDirectory() {
    return reads_->dataHomeDirectory();
}

LedgerFileSystem::Kind ReadOnlyLedgerFileSystem::kind(const std::filesystem::path& path) {
    return reads_->kind(path);
}

void ReadOnlyLedgerFileSystem::createDirectory(const std::filesystem::path& path) {
    refuse("mkdir " + path.string());
}

bool ReadOnlyLedgerFileSystem::createEmptyFile(const std::filesystem::path&) noexcept {
    writeRefused_ = true;
    return false;
}

int ReadOnlyLedgerFileSystem::openForWriting(const std::filesystem::path& path) {
    refuse("open " + path.string());
}

void ReadOnlyLedgerFileSystem::writeAll(int, std::span<const std::uint8_t>) {
    refuse("write");
}

void ReadOnlyLedgerFileSystem::syncFile(int) {
    refuse("fsync");
}

void ReadOnlyLedgerFileSystem::closeFile(int) {}

void ReadOnlyLedgerFileSystem::rename(const std::filesystem::path& from,
                                      const std::filesystem::path&) {
    refuse("rename " + from.string());
}

void ReadOnlyLedgerFileSystem::remove(const std::filesystem::path&) noexcept {}

std::vector<std::uint8_t> ReadOnlyLedgerFileSystem::readFile(const std::filesystem::path& path) {
    return reads_->readFile(path);
}

// Nothing was written that would need it.
void ReadOnlyLedgerFileSystem::syncDirectory(const std::filesystem::path&) {}

std::vector<std::string>
ReadOnlyLedgerFileSystem::directoryEntries(const std::filesystem::path& path) {
    return reads_->directoryEntries(path);
}

std::unique_ptr<LedgerFileLock>
ReadOnlyLedgerFileSystem::tryLockExclusive(const std::filesystem::path&) {
    return std::make_unique<NoHold>();
}

} // namespace varnello
