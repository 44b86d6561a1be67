// The desktop is told when iPads can no longer reach the listener and when they can
// again: once each, through the coordinator's snapshots of a server on a fake
// transport.

#include "../core/BridgeCoordinatorTestSupport.h"
#include "app/AppDelegate.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

class SilentFrontEnd final : public StatusMenuFrontEnd {
public:
    void becomeBackgroundApplication() override {}
    void configureStatusItem() override {}
    void showMenu(const TrayMenuModel& menu) override { shown = menu; }
    std::optional<OSCSettingsForm> runOSCSettingsDialog(const OSCSettingsForm&) override {
        return std::nullopt;
    }
    void showError(const std::string&) override {}
    void copyPlainText(const std::string&) override {}
    void terminate() override {}

    TrayMenuModel shown;
};

class NotesNotifier final : public DesktopNotifier {
public:
    void notify(const std::string& summary, const std::string& body) override {
        notes.push_back(summary + ": " + body);
    }
    std::vector<std::string> notes;
};

class ListenerNoticeTest : public testing::CoordinatorFixture {
protected:
    std::shared_ptr<AppDelegate> launch() {
        auto delegate = std::make_shared<AppDelegate>(
            Logger(logSink, "lifecycle"), frontEnd, [this] { return preferences; },
            [this](std::shared_ptr<BridgePreferences>) { return makeCoordinator(); }, &notifier);
        delegate->applicationDidFinishLaunching();
        main.runDue();
        return delegate;
    }

    void listenerReports(TcpListener::State state) {
        auto listener = serverHost->transport.listeners.at(0);
        listener->boundPort = 40123;
        if (state == TcpListener::State::ready) {
            listener->report(state);
        } else {
            listener->report(state, TransportError(101, "Network is unreachable"));
        }
        main.runDue();
    }

    SilentFrontEnd frontEnd;
    NotesNotifier notifier;
};

TEST_F(ListenerNoticeTest, TroubleAndReturnAreToldOnceEach) {
    auto delegate = launch();
    listenerReports(TcpListener::State::ready);
    EXPECT_TRUE(notifier.notes.empty());

    const struct {
        TcpListener::State state;
        std::vector<std::string> notes;
    } steps[] = {
        {TcpListener::State::waiting,
         {"iPads cannot reach Varnello Bridge: Waiting for network: Network is unreachable"}},
        {TcpListener::State::waiting, {}},
        {TcpListener::State::ready,
         {"Varnello Bridge is reachable again: Beschikbaar via wifi (TCP 40123)"}},
        {TcpListener::State::ready, {}},
        {TcpListener::State::waiting,
         {"iPads cannot reach Varnello Bridge: Waiting for network: Network is unreachable"}},
    };
    for (const auto& step : steps) {
        notifier.notes.clear();
        listenerReports(step.state);
        EXPECT_EQ(notifier.notes, step.notes) << frontEnd.shown.at(1).title;
    }
    delegate->applicationWillTerminate();
}

} // namespace
} // namespace varnello
