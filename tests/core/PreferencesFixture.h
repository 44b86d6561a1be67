#pragma once

#include "support/TemporaryFolder.h"
#include "core/BridgePreferences.h"
#include "core/JsonFilePreferenceStore.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace varnello::testing {

// Preferences over a real file in a fresh folder, with the store's problem
// reports and the change notifications recorded.
class PreferencesFixture : public ::testing::Test {
protected:
    std::unique_ptr<BridgePreferences> makePreferences() {
        auto store =
            std::make_unique<JsonFilePreferenceStore>(file, [this](const std::string& message) {
                std::lock_guard lock(problemsMutex);
                problems_.push_back(message);
            });
        auto preferences = std::make_unique<BridgePreferences>(std::move(store));
        preferences->addObserver([this](const BridgePreferences::Notification& notification) {
            notifications.push_back(notification);
        });
        return preferences;
    }

    std::vector<std::string> recordedProblems() {
        std::lock_guard lock(problemsMutex);
        return problems_;
    }

    TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "config" / "TessaroBridge" / "preferences.json";
    std::vector<BridgePreferences::Notification> notifications;

private:
    std::mutex problemsMutex;
    std::vector<std::string> problems_;
};

inline std::ostream& operator<<(std::ostream& stream, const OSCForwardingConfiguration& c) {
    return stream << "{" << c.isEnabled << ", \"" << c.host << "\", " << c.port << "}";
}

} // namespace varnello::testing

namespace varnello {
using testing::operator<<;
}
