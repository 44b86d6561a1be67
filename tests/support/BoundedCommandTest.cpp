#include "support/BoundedCommand.h"

#include "support/DnsServiceBrowser.h"

#include <csignal>
#include <gtest/gtest.h>

namespace varnello::testing {
namespace {

using namespace std::chrono_literals;

TEST(BoundedCommandTest, StatusAndOutputOfAProgramThatEnds) {
    const struct {
        std::vector<std::string> command;
        std::optional<int> status;
        std::string output;
    } cases[] = {
        {{"sh", "-c", "printf 'one\\ntwo'"}, 0, "one\ntwo"},
        {{"sh", "-c", "echo partial; exit 3"}, 3, "partial\n"},
        {{"sh", "-c", "echo unseen >&2"}, 0, ""},
        {{"sh", "-c", "kill -TERM $$"}, std::nullopt, ""},
        {{"varnello-no-such-program"}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        const auto result = runBounded(c.command, 10s);
        EXPECT_EQ(result.status, c.status) << c.command.back();
        EXPECT_EQ(result.output, c.output) << c.command.back();
    }
}

// Regression: an avahi-browse that hung held its test until the suite's time-out.
TEST(BoundedCommandTest, AProgramPastItsLimitIsKilled) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = runBounded({"sh", "-c", "echo waiting; exec sleep 60"}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(result.status, std::nullopt);
    EXPECT_EQ(result.output, "waiting\n");
}

// A daemon keeps the output open; what its starter printed is enough.
TEST(BoundedCommandTest, OutputHeldByADaemonIsNotWaitedFor) {
    const auto started = std::chrono::steady_clock::now();
    const auto result = runBounded({"sh", "-c", "sleep 60 & echo $!"}, 30s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    ASSERT_EQ(result.status, 0);
    const pid_t daemon = std::stoi(result.output);
    EXPECT_EQ(::kill(daemon, SIGKILL), 0);
}

TEST(DnsServiceBrowserTest, ParsesResolvedServicesAndUndoesEscapes) {
    const std::string output =
        "+;lo;IPv4;Varnello\\032Bridge;_tessaro._tcp;local\n"
        "=;lo;IPv4;Varnello\\032Bridge\\032\\226\\128\\147\\032Podium;_tessaro._tcp;local;"
        "host.local;127.0.0.1;40123;\"name=Podium\\0591\" \"role=bridge\" \"empty=\" \"flag\"\n"
        "=;lo;IPv4;semi\\059colon\\.dot;_tessaro._tcp;local;host.local;127.0.0.1;1;\n"
        "=;lo;IPv4;bad port;_tessaro._tcp;local;host.local;127.0.0.1;70000;\n"
        "=;lo;IPv4;too few fields\n";
    const auto services = parseBrowsedServices(output);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].name, "Varnello Bridge \xE2\x80\x93 Podium");
    EXPECT_EQ(services[0].type, "_tessaro._tcp");
    EXPECT_EQ(services[0].port, 40123);
    EXPECT_EQ(services[0].txt,
              (std::map<std::string, std::string>{
                  {"name", "Podium;1"}, {"role", "bridge"}, {"empty", ""}, {"flag", ""}}));
    EXPECT_EQ(services[1].name, "semi;colon.dot");
    EXPECT_EQ(services[1].port, 1);
    EXPECT_TRUE(services[1].txt.empty());
    EXPECT_EQ(serviceNamed(services, "semi;colon.dot")->port, 1);
    EXPECT_FALSE(serviceNamed(services, "absent"));
}

} // namespace
} // namespace varnello::testing
