#include "core/UserDirectories.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace varnello {
namespace {

std::filesystem::path absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

std::filesystem::path homeFolder() {
    if (auto home = absoluteVariable("HOME"); !home.empty()) {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

std::filesystem::path baseFolder(const char* variable, const char* belowHome) {
    if (auto folder = absoluteVariable(variable); !folder.empty()) {
        return folder;
    }
    auto home = homeFolder();
    return home.empty() ? home : home / belowHome;
}

} // namespace

std::filesystem::path userDataHome() {
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path userConfigHome() {
    return baseFolder("XDG_CONFIG_HOME", ".config");
}

} // namespace varnello
