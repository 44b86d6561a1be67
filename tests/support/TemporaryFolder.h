#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace varnello::testing {

// A fresh folder under /tmp, removed with everything in it when the test ends,
// whatever permissions a test left on it. Throws std::system_error when it cannot
// be made.
class TemporaryFolder {
public:
    TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    const std::filesystem::path& path() const noexcept { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The names in a folder.
std::set<std::string> namesIn(const std::filesystem::path& folder);

// Throw std::runtime_error when the file cannot be read or written.
std::vector<std::uint8_t> readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// The file's bytes as text; empty when it cannot be read, for tests that wait for a
// file to appear.
std::string readFile(const std::filesystem::path& file);
// Creates the file's folder when missing; throws std::runtime_error on failure.
void writeFile(const std::filesystem::path& file, std::string_view text);

} // namespace varnello::testing
