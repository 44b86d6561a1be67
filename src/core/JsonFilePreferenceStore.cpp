#include "core/JsonFilePreferenceStore.h"

#include "core/BridgePreferencesError.h"
#include "core/DurableFile.h"
#include "core/UserDirectories.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <limits>
#include <string_view>
#include <unistd.h>

namespace varnello {
namespace {

// Three small keys; anything near this size is not a preferences file of ours.
constexpr std::size_t fileLimit = 1024 * 1024;

// Older damaged files are never overwritten; past this many, saving fails.
constexpr int maximumDamagedCopies = 100;

std::string inQuotes(const std::string& text) {
    return "\u2018" + text + "\u2019";
}

bool equalsIgnoringASCIICase(std::string_view text, std::string_view word) {
    return std::equal(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// A hand-edited file may say 0, 1, "yes" or "1" where a boolean belongs.
std::optional<bool> booleanReading(const nlohmann::json& value) {
    if (value.is_boolean()) {
        return value.get<bool>();
    }
    if (value.is_number_float()) {
        return value.get<double>() != 0.0;
    }
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>() != 0;
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>() != 0;
    }
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        return equalsIgnoringASCIICase(text, "true") || equalsIgnoringASCIICase(text, "yes") ||
               (!text.empty() && text.front() >= '1' && text.front() <= '9');
    }
    return std::nullopt;
}

// Digits with an optional sign and nothing else: "9001", "-1", "+9001".
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t number = 0;
    const auto end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::int64_t> integerReading(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= std::uint64_t{std::numeric_limits<std::int64_t>::max()}) {
            return static_cast<std::int64_t>(unsignedValue);
        }
    } else if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    } else if (value.is_string()) {
        return decimalInteger(value.get_ref<const std::string&>());
    }
    return std::nullopt;
}

// The value read as `type`, or nothing when it has no such reading.
std::optional<PreferenceValue> typedValue(const nlohmann::json& value, PreferenceType type) {
    switch (type) {
    case PreferenceType::boolean:
        if (const auto reading = booleanReading(value)) {
            return PreferenceValue(*reading);
        }
        break;
    case PreferenceType::integer:
        if (const auto reading = integerReading(value)) {
            return PreferenceValue(*reading);
        }
        break;
    case PreferenceType::text:
        if (value.is_string()) {
            return PreferenceValue(value.get<std::string>());
        }
        break;
    }
    return std::nullopt;
}

std::string_view typeName(PreferenceType type) {
    switch (type) {
    case PreferenceType::boolean:
        return "a boolean";
    case PreferenceType::integer:
        return "an integer";
    case PreferenceType::text:
        return "a text";
    }
    return {};
}

bool sameTime(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

bool JsonFilePreferenceStore::FileVersion::operator==(const FileVersion& other) const noexcept {
    return errorNumber == other.errorNumber && device == other.device && inode == other.inode &&
           size == other.size && sameTime(modified, other.modified) &&
           sameTime(changed, other.changed);
}

JsonFilePreferenceStore::JsonFilePreferenceStore(std::filesystem::path file,
                                                 ProblemHandler onProblem)
    : file_(std::move(file)), onProblem_(std::move(onProblem)) {}

std::filesystem::path JsonFilePreferenceStore::defaultFile() {
    const auto home = userConfigHome();
    return home.empty() ? home : home / bridgeFolderName / "preferences.json";
}

JsonFilePreferenceStore::FileVersion
JsonFilePreferenceStore::versionOf(int errorNumber, const struct stat& status) noexcept {
    if (errorNumber != 0) {
        return FileVersion{errorNumber};
    }
    return FileVersion{
        0, status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

JsonFilePreferenceStore::FileVersion JsonFilePreferenceStore::currentVersion() const noexcept {
    struct stat status {};
    const int errorNumber = ::stat(file_.c_str(), &status) == 0 ? 0 : errno;
    return versionOf(errorNumber, status);
}

JsonFilePreferenceStore::Contents JsonFilePreferenceStore::load() const {
    Contents contents;
    auto read = readSmallFile(file_, fileLimit);
    contents.version = versionOf(read.errorNumber, read.status);
    const auto name = inQuotes(file_.string());
    if (read.errorNumber == ENOENT) {
        return contents;
    }
    if (read.errorNumber == EFBIG) {
        contents.damage = "The preferences file " + name +
                          " is too large to be a preferences file; the defaults apply.";
        return contents;
    }
    if (read.errorNumber != 0) {
        contents.damage = "The preferences file " + name + " could not be read (error " +
                          std::to_string(read.errorNumber) + "); the defaults apply.";
        return contents;
    }
    auto parsed = nlohmann::json::parse(read.bytes, nullptr, false);
    if (parsed.is_discarded()) {
        contents.damage =
            "The preferences file " + name + " is not valid JSON; the defaults apply.";
    } else if (!parsed.is_object()) {
        contents.damage =
            "The preferences file " + name + " does not hold a JSON object; the defaults apply.";
    } else {
        contents.object = std::move(parsed);
    }
    return contents;
}

std::vector<std::optional<PreferenceValue>>
JsonFilePreferenceStore::read(std::span<const PreferenceKey> keys) const {
    std::vector<std::optional<PreferenceValue>> values;
    std::vector<std::string> problems;
    {
        std::lock_guard lock(cacheMutex_);
        refreshCache(problems);
        for (const auto& key : keys) {
            const auto found = cache_->object.find(std::string(key.name));
            if (found == cache_->object.end()) {
                values.emplace_back();
                continue;
            }
            values.push_back(typedValue(*found, key.type));
            if (!values.back() && reportedKeys_.emplace(key.name).second) {
                problems.push_back("The preference " + inQuotes(std::string(key.name)) + " in " +
                                   inQuotes(file_.string()) + " is not " +
                                   std::string(typeName(key.type)) + "; its default applies.");
            }
        }
    }
    for (const auto& problem : problems) {
        report(problem);
    }
    return values;
}

std::optional<std::string> JsonFilePreferenceStore::storedJson(std::string_view key) const {
    std::optional<std::string> text;
    std::vector<std::string> problems;
    {
        std::lock_guard lock(cacheMutex_);
        refreshCache(problems);
        const auto found = cache_->object.find(std::string(key));
        if (found != cache_->object.end()) {
            text = found->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        }
    }
    for (const auto& problem : problems) {
        report(problem);
    }
    return text;
}

void JsonFilePreferenceStore::refreshCache(std::vector<std::string>& problems) const {
    if (!cache_ || !(cache_->version == currentVersion())) {
        cache_ = load();
        reportedKeys_.clear();
        if (!cache_->damage.empty()) {
            problems.push_back(cache_->damage);
        }
    }
}

void JsonFilePreferenceStore::report(const std::string& problem) const {
    if (onProblem_) {
        onProblem_(problem);
    }
}

void JsonFilePreferenceStore::keepDamagedFile() const {
    for (int copy = 1; copy <= maximumDamagedCopies; ++copy) {
        auto kept = file_.string() + ".damaged";
        if (copy > 1) {
            kept += "-" + std::to_string(copy);
        }
        // A second name for the same bytes: the rename that follows only removes the first.
        if (::link(file_.c_str(), kept.c_str()) == 0) {
            report("The damaged preferences file was kept as " + inQuotes(kept) +
                   "; a new one takes its place.");
            return;
        }
        if (errno != EEXIST) {
            throw BridgePreferencesError::saveFailed(errno);
        }
    }
    throw BridgePreferencesError::saveFailed(EEXIST);
}

void JsonFilePreferenceStore::write(
    std::span<const std::pair<std::string_view, PreferenceValue>> values) {
    std::lock_guard writeLock(writeMutex_);
    // Start from the file as it is now, so keys written by anyone else survive.
    auto current = load();
    if (!current.damage.empty()) {
        keepDamagedFile();
    }
    auto object = std::move(current.object);
    for (const auto& [key, value] : values) {
        std::visit([&object, key = key](const auto& stored) { object[std::string(key)] = stored; },
                   value);
    }
    const auto bytes = object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (const int error = writeFileDurably(file_, bytes, ExistingFile::replace); error != 0) {
        throw BridgePreferencesError::saveFailed(error);
    }
    std::lock_guard cacheLock(cacheMutex_);
    cache_.reset();
}

} // namespace varnello
