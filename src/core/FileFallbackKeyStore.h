#pragma once

#include "core/FallbackKeyStore.h"

#include <filesystem>

namespace varnello {

// The item as a file of mode 0600 that appears complete or not at all, so a crash
// while creating it never leaves an empty item behind. Main thread.
class FileFallbackKeyStore final : public FallbackKeyStore {
public:
    explicit FileFallbackKeyStore(std::filesystem::path file);

    // <data home>/TessaroBridge/fallback-machine-id
    static std::filesystem::path defaultFile();

    FindResult find() override;
    std::int32_t add(std::string_view data) override;

    const std::filesystem::path& file() const noexcept { return file_; }

private:
    std::filesystem::path file_;
};

} // namespace varnello
