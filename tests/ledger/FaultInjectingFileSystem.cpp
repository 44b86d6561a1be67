#include "ledger/FaultInjectingFileSystem.h"

#include <system_error>
#include <unistd.h>

namespace varnello::testing {

FaultInjectingFileSystem::FaultInjectingFileSystem(std::filesystem::path dataHome)
    : dataHome_(std::move(dataHome)) {}

void FaultInjectingFileSystem::failAt(Step step, int occurrence, int error) {
    fault_ = Fault{step, occurrence, error};
}

std::optional<int> FaultInjectingFileSystem::enter(Step step) noexcept {
    calls_.push_back(step);
    if (fault_ && fault_->step == step && --fault_->remaining == 0) {
        const int error = fault_->error;
        fault_.reset();
        return error;
    }
    return std::nullopt;
}

void FaultInjectingFileSystem::enterOrThrow(Step step) {
    if (const auto error = enter(step)) {
        throw std::system_error(*error, std::generic_category(), stepName(step));
    }
}

std::filesystem::path FaultInjectingFileSystem::dataHomeDirectory() {
    enterOrThrow(Step::dataHomeDirectory);
    return dataHome_.empty() ? real_.dataHomeDirectory() : dataHome_;
}

LedgerFileSystem::Kind FaultInjectingFileSystem::kind(const std::filesystem::path& path) {
    enterOrThrow(Step::kind);
    return real_.kind(path);
}

void FaultInjectingFileSystem::createDirectory(const std::filesystem::path& path) {
    enterOrThrow(Step::createDirectory);
    real_.createDirectory(path);
}

bool FaultInjectingFileSystem::createEmptyFile(const std::filesystem::path& path) noexcept {
    if (enter(Step::createEmptyFile)) {
        return false;
    }
    return real_.createEmptyFile(path);
}

int FaultInjectingFileSystem::openForWriting(const std::filesystem::path& path) {
    enterOrThrow(Step::openForWriting);
    return real_.openForWriting(path);
}

void FaultInjectingFileSystem::writeAll(int descriptor, std::span<const std::uint8_t> bytes) {
    if (const auto error = enter(Step::writeAll)) {
        real_.writeAll(descriptor, bytes.first(bytes.size() / 2));
        throw std::system_error(*error, std::generic_category(), "write");
    }
    real_.writeAll(descriptor, bytes);
}

void FaultInjectingFileSystem::syncFile(int descriptor) {
    enterOrThrow(Step::syncFile);
    real_.syncFile(descriptor);
}

void FaultInjectingFileSystem::closeFile(int descriptor) {
    if (const auto error = enter(Step::closeFile)) {
        ::close(descriptor); // a failed close still releases the descriptor
        throw std::system_error(*error, std::generic_category(), "close");
    }
    real_.closeFile(descriptor);
}

void FaultInjectingFileSystem::rename(const std::filesystem::path& from,
                                      const std::filesystem::path& to) {
    enterOrThrow(Step::rename);
    real_.rename(from, to);
    renamedTo_.push_back(to);
}

void FaultInjectingFileSystem::remove(const std::filesystem::path& path) noexcept {
    enter(Step::remove);
    real_.remove(path);
}

std::vector<std::uint8_t> FaultInjectingFileSystem::readFile(const std::filesystem::path& path) {
    enterOrThrow(Step::readFile);
    return real_.readFile(path);
}

void FaultInjectingFileSystem::syncDirectory(const std::filesystem::path& path) {
    enterOrThrow(Step::syncDirectory);
    real_.syncDirectory(path);
}

std::vector<std::string>
FaultInjectingFileSystem::directoryEntries(const std::filesystem::path& path) {
    enterOrThrow(Step::directoryEntries);
    return real_.directoryEntries(path);
}

std::unique_ptr<LedgerFileLock>
FaultInjectingFileSystem::tryLockExclusive(const std::filesystem::path& path) {
    enterOrThrow(Step::tryLockExclusive);
    return real_.tryLockExclusive(path);
}

const char* stepName(FaultInjectingFileSystem::Step step) {
    using Step = FaultInjectingFileSystem::Step;
    switch (step) {
    case Step::dataHomeDirectory:
        return "dataHomeDirectory";
    case Step::kind:
        return "kind";
    case Step::createDirectory:
        return "createDirectory";
    case Step::createEmptyFile:
        return "createEmptyFile";
    case Step::openForWriting:
        return "openForWriting";
    case Step::writeAll:
        return "writeAll";
    case Step::syncFile:
        return "syncFile";
    case Step::closeFile:
        return "closeFile";
    case Step::rename:
        return "rename";
    case Step::remove:
        return "remove";
    case Step::readFile:
        return "readFile";
    case Step::syncDirectory:
        return "syncDirectory";
    case Step::directoryEntries:
        return "directoryEntries";
    case Step::tryLockExclusive:
        return "tryLockExclusive";
    }
    return "?";
}

} // namespace varnello::testing
