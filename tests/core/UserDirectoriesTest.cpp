#include "ScopedEnvironment.h"
#include "core/FileFallbackKeyStore.h"
#include "core/JsonFilePreferenceStore.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

TEST(UserDirectories, FilesLiveInTheXDGBaseFolders) {
    struct Case {
        const char* home;
        const char* dataHome;
        const char* configHome;
        std::string keyFile;
        std::string preferencesFile;
    };
    const Case cases[] = {
        {"/home/ann", nullptr, nullptr, "/home/ann/.local/share/TessaroBridge/fallback-machine-id",
         "/home/ann/.config/TessaroBridge/preferences.json"},
        {"/home/ann", "/data", "/settings", "/data/TessaroBridge/fallback-machine-id",
         "/settings/TessaroBridge/preferences.json"},
        // Relative or empty values are not valid base folders and are ignored.
        {"/home/ann", "relative/data", "",
         "/home/ann/.local/share/TessaroBridge/fallback-machine-id",
         "/home/ann/.config/TessaroBridge/preferences.json"},
    };
    for (const auto& c : cases) {
        testing::ScopedEnvironment environment;
        environment.set("HOME", c.home);
        environment.set("XDG_DATA_HOME", c.dataHome);
        environment.set("XDG_CONFIG_HOME", c.configHome);
        EXPECT_EQ(FileFallbackKeyStore::defaultFile(), c.keyFile);
        EXPECT_EQ(JsonFilePreferenceStore::defaultFile(), c.preferencesFile);
    }
}

} // namespace
} // namespace varnello
