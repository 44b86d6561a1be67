#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace varnello {

// An exclusive hold on a ledger's lock file, released when destroyed.
class LedgerFileLock {
public:
    virtual ~LedgerFileLock() = default;
};

// Every file-system call the command ledger makes, so that tests can make any single
// step fail. Platform failures are std::system_error carrying errno. Not thread-safe
// unless an implementation says otherwise.
class LedgerFileSystem {
public:
    enum class Kind { missing, directory, other };

    virtual ~LedgerFileSystem() = default;

    // The user's data home ($XDG_DATA_HOME, else ~/.local/share); not created here.
    virtual std::filesystem::path dataHomeDirectory() = 0;
    // What is at a path, following symbolic links. Only a path that is certainly
    // absent is `missing`; any other failure to look is thrown.
    virtual Kind kind(const std::filesystem::path& path) = 0;
    // One folder, mode 0700, without its parents.
    virtual void createDirectory(const std::filesystem::path& path) = 0;
    // A new empty file, mode 0600; false when it could not be created.
    virtual bool createEmptyFile(const std::filesystem::path& path) noexcept = 0;
    virtual int openForWriting(const std::filesystem::path& path) = 0;
    virtual void writeAll(int descriptor, std::span<const std::uint8_t> bytes) = 0;
    // Data and metadata of one open file to stable storage.
    virtual void syncFile(int descriptor) = 0;
    // Releases the descriptor even when it reports a failure.
    virtual void closeFile(int descriptor) = 0;
    virtual void rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // The result is of no interest to the ledger.
    virtual void remove(const std::filesystem::path& path) noexcept = 0;
    virtual std::vector<std::uint8_t> readFile(const std::filesystem::path& path) = 0;
    // Flushes a folder's entries to stable storage.
    virtual void syncDirectory(const std::filesystem::path& path) = 0;
    // The names in a folder, without "." and "..".
    virtual std::vector<std::string> directoryEntries(const std::filesystem::path& path) = 0;
    // An exclusive hold on the lock file at path (created when missing), or nullptr
    // when another holder has it.
    virtual std::unique_ptr<LedgerFileLock> tryLockExclusive(const std::filesystem::path& path) = 0;
};

} // namespace varnello
