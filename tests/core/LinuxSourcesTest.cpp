#include "core/LinuxHostNameSource.h"
#include "core/LinuxMachineIDSource.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

using testing::TemporaryFolder;

TEST(LinuxMachineIDSource, TakesTheFirstFileWithAnIdentifier) {
    struct Case {
        std::string name;
        std::optional<std::string> first;
        std::optional<std::string> second;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"first file", "aaa\n", "bbb\n", "aaa\n"},
        {"first missing", std::nullopt, "bbb\n", "bbb\n"},
        {"first only white space", " \n", "bbb", "bbb"},
        {"first empty", "", "bbb", "bbb"},
        {"none holds one", "\n", "", std::nullopt},
        {"both missing", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        TemporaryFolder folder;
        const auto first = folder.path() / "etc-machine-id";
        const auto second = folder.path() / "dbus-machine-id";
        if (c.first) {
            testing::writeFile(first, *c.first);
        }
        if (c.second) {
            testing::writeFile(second, *c.second);
        }
        LinuxMachineIDSource source({first, second});
        EXPECT_EQ(source.machineID(), c.expected) << c.name;
    }
}

TEST(LinuxHostNameSource, ReadsThePrettyHostNameWithShellQuoting) {
    struct Case {
        std::string name;
        std::optional<std::string> contents;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"double quotes", "PRETTY_HOSTNAME=\"Ann's Studio\"\n", "Ann's Studio"},
        {"bare word", "PRETTY_HOSTNAME=Studio\n", "Studio"},
        {"single quotes", "PRETTY_HOSTNAME='Stage \"Left\"'\n", "Stage \"Left\""},
        {"escapes in double quotes", "PRETTY_HOSTNAME=\"Say \\\"hi\\\" \\\\o/ \\n\"",
         "Say \"hi\" \\o/ \\n"},
        {"among other keys", "ICON_NAME=computer\n  PRETTY_HOSTNAME=\"Rack 2\"\nCHASSIS=desktop\n",
         "Rack 2"},
        {"the last assignment wins", "PRETTY_HOSTNAME=one\nPRETTY_HOSTNAME=two\n", "two"},
        {"no pretty name", "ICON_NAME=computer\n", std::nullopt},
        {"commented out", "# PRETTY_HOSTNAME=Studio\n", std::nullopt},
        {"empty value", "PRETTY_HOSTNAME=\n", std::nullopt},
        {"no file", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        TemporaryFolder folder;
        const auto file = folder.path() / "machine-info";
        if (c.contents) {
            testing::writeFile(file, *c.contents);
        }
        LinuxHostNameSource source(file);
        EXPECT_EQ(source.localizedName(), c.expected) << c.name;
    }
}

} // namespace
} // namespace varnello
