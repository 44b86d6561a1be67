#include "core/FileFallbackKeyStore.h"

#include "core/DurableFile.h"
#include "core/UserDirectories.h"

namespace varnello {
namespace {

// The item is a 36-character UUID; a far larger file is refused rather than read.
constexpr std::size_t itemLimit = 4096;

std::int32_t status(int errorNumber) {
    return -static_cast<std::int32_t>(errorNumber);
}

} // namespace

FileFallbackKeyStore::FileFallbackKeyStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path FileFallbackKeyStore::defaultFile() {
    const auto home = userDataHome();
    return home.empty() ? home : home / bridgeFolderName / "fallback-machine-id";
}

FallbackKeyStore::FindResult FileFallbackKeyStore::find() {
    auto contents = readSmallFile(file_, itemLimit);
    if (contents.errorNumber != 0) {
        return {status(contents.errorNumber), {}};
    }
    return {0, std::move(contents.bytes)};
}

std::int32_t FileFallbackKeyStore::add(std::string_view data) {
    return status(writeFileDurably(file_, data, ExistingFile::keep));
}

} // namespace varnello
