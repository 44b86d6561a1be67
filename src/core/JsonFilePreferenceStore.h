#pragma once

#include "core/PreferenceStore.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>

namespace varnello {

// The preferences as one JSON object in a file, written atomically. Reads are
// served from memory and reload when the file on disk changed. A file that cannot
// be used (not JSON, not an object, unreadable, too large) reads as empty. A
// value of another JSON type is read as a person editing the file means it: a
// number as a boolean is false when 0, a text as a boolean is true when it is
// "true" or "yes" (any case) or starts with a digit 1 to 9, and a text of
// decimal digits (with an optional sign) is an integer; any other value of the
// wrong type reads as absent. Unusable files and values are reported once per
// version of the file. A write keeps every other key of the file; a damaged file is kept
// under a ".damaged" name before a new one takes its place, and a write that
// cannot keep it fails. Thread-safe.
class JsonFilePreferenceStore final : public PreferenceStore {
public:
    // Told, in English, what in the file could not be used, and where a damaged
    // file was kept. Called on the thread that reads or writes, outside any lock;
    // must be thread-safe.
    using ProblemHandler = std::function<void(const std::string& message)>;

    JsonFilePreferenceStore(std::filesystem::path file, ProblemHandler onProblem);

    // <config home>/TessaroBridge/preferences.json
    static std::filesystem::path defaultFile();

    std::vector<std::optional<PreferenceValue>>
    read(std::span<const PreferenceKey> keys) const override;
    std::optional<std::string> storedJson(std::string_view key) const override;
    void write(std::span<const std::pair<std::string_view, PreferenceValue>> values) override;

    const std::filesystem::path& file() const noexcept { return file_; }

private:
    // Tells one state of the file from another without reading it.
    struct FileVersion {
        int errorNumber = 0; // ENOENT when absent
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};

        bool operator==(const FileVersion& other) const noexcept;
    };

    struct Contents {
        FileVersion version;
        nlohmann::json object = nlohmann::json::object();
        std::string damage; // why the file could not be used; empty when it could
    };

    static FileVersion versionOf(int errorNumber, const struct stat& status) noexcept;
    FileVersion currentVersion() const noexcept;
    Contents load() const;
    // Reloads the cache when the file changed; adds what was wrong with the file to
    // `problems`. cacheMutex_ held.
    void refreshCache(std::vector<std::string>& problems) const;
    void keepDamagedFile() const;
    void report(const std::string& problem) const;

    std::filesystem::path file_;
    ProblemHandler onProblem_;
    mutable std::mutex cacheMutex_;
    mutable std::optional<Contents> cache_;
    mutable std::set<std::string, std::less<>> reportedKeys_;
    std::mutex writeMutex_;
};

} // namespace varnello
