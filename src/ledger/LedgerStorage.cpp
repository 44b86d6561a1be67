#include "ledger/LedgerStorage.h"

#include "ledger/CommandLedgerError.h"
#include "support/Uuid.h"

#include <optional>

namespace varnello {

namespace {

constexpr std::string_view temporarySuffix = ".tmp";
constexpr std::size_t uuidTextSize = 36;

// Closes the temporary file on a failed write or sync; that close's own error would
// only hide the first one.
class OpenFile {
public:
    OpenFile(LedgerFileSystem& fileSystem, int descriptor) noexcept
        : fileSystem_(fileSystem), descriptor_(descriptor) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (descriptor_ >= 0) {
            try {
                fileSystem_.closeFile(descriptor_);
            } catch (...) {
            }
        }
    }
    int get() const noexcept { return descriptor_; }
    void close() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        fileSystem_.closeFile(descriptor);
    }

private:
    LedgerFileSystem& fileSystem_;
    int descriptor_;
};

} // namespace

void ensureDirectory(LedgerFileSystem& fileSystem, const std::filesystem::path& folder) {
    switch (fileSystem.kind(folder)) {
    case LedgerFileSystem::Kind::directory:
        return;
    case LedgerFileSystem::Kind::other:
        throw CommandLedgerError::storageUnavailable();
    case LedgerFileSystem::Kind::missing:
        break;
    }
    const std::filesystem::path parent = folder.parent_path();
    if (parent == folder || parent.empty()) {
        throw CommandLedgerError::storageUnavailable();
    }
    ensureDirectory(fileSystem, parent);
    fileSystem.createDirectory(folder);
    syncDirectory(fileSystem, folder);
    syncDirectory(fileSystem, parent);
}

void syncDirectory(LedgerFileSystem& fileSystem, const std::filesystem::path& folder) {
    fileSystem.syncDirectory(folder);
}

std::filesystem::path temporaryPath(const std::filesystem::path& file) {
    std::string name = ".";
    name += file.filename().string();
    name += '.';
    name += Uuid::random().text();
    name += temporarySuffix;
    return file.parent_path() / name;
}

bool isTemporaryNameOf(std::string_view name, std::string_view fileName) {
    const std::size_t expectedSize =
        1 + fileName.size() + 1 + uuidTextSize + temporarySuffix.size();
    if (name.size() != expectedSize || name[0] != '.' ||
        name.substr(1, fileName.size()) != fileName || name[1 + fileName.size()] != '.' ||
        !name.ends_with(temporarySuffix)) {
        return false;
    }
    const std::string_view identifier = name.substr(2 + fileName.size(), uuidTextSize);
    const std::optional<Uuid> parsed = Uuid::parse(identifier);
    return parsed && parsed->text() == identifier;
}

void writeAtomically(LedgerFileSystem& fileSystem, std::span<const std::uint8_t> bytes,
                     const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    ensureDirectory(fileSystem, folder);
    const std::filesystem::path temporary = temporaryPath(file);
    if (!fileSystem.createEmptyFile(temporary)) {
        throw CommandLedgerError::storageUnavailable();
    }
    try {
        OpenFile handle(fileSystem, fileSystem.openForWriting(temporary));
        fileSystem.writeAll(handle.get(), bytes);
        fileSystem.syncFile(handle.get());
        handle.close();
        fileSystem.rename(temporary, file);
    } catch (...) {
        fileSystem.remove(temporary);
        throw;
    }
    // After the rename the temporary name is gone; only the folder entry remains to sync.
    syncDirectory(fileSystem, folder);
}

} // namespace varnello
