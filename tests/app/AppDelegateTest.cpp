#include "app/AppDelegate.h"

#include "core/BridgeCoordinator.h"
#include "core/JsonFilePreferenceStore.h"
#include "ledger/CommandLedger.h"
#include "ledger/CommandLedgerError.h"
#include "ledger/CommandLedgerLockError.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "outputs/FakeMIDISystem.h"
#include "support/ManualExecutor.h"
#include "support/RecordingLogSink.h"
#include "support/TemporaryFolder.h"

#include <cerrno>
#include <deque>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <span>
#include <stdexcept>

namespace varnello {
namespace {

// Records what the application asked of its front end; answers the OSC dialog
// from a script.
class RecordingFrontEnd final : public StatusMenuFrontEnd {
public:
    void becomeBackgroundApplication() override { calls.push_back("background"); }
    void configureStatusItem() override { calls.push_back("statusItem"); }
    void showMenu(const TrayMenuModel& menu) override {
        calls.push_back("menu");
        menus.push_back(menu);
    }
    std::optional<OSCSettingsForm> runOSCSettingsDialog(const OSCSettingsForm& form) override {
        calls.push_back("dialog");
        shownForms.push_back(form);
        auto answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    void showError(const std::string& message) override {
        calls.push_back("error");
        errors.push_back(message);
    }
    void copyPlainText(const std::string& text) override {
        calls.push_back("copy");
        clipboard.push_back(text);
    }
    void terminate() override { calls.push_back("terminate"); }

    std::vector<std::string> calls;
    std::vector<TrayMenuModel> menus;
    std::deque<std::optional<OSCSettingsForm>> dialogAnswers;
    std::vector<OSCSettingsForm> shownForms;
    std::vector<std::string> errors;
    std::vector<std::string> clipboard;
};

class RecordingNotifier final : public DesktopNotifier {
public:
    void notify(const std::string& summary, const std::string& body) override {
        shown.push_back(summary + ": " + body);
    }
    std::vector<std::string> shown;
};

const BridgeIdentity identity{std::string(64, 'a').replace(0, 8, "0123abcd"), "Studio"};

class AppDelegateTest : public ::testing::Test {
protected:
    std::shared_ptr<AppDelegate> makeDelegate(AppDelegate::CoordinatorFactory factory) {
        auto makePreferences = [this] {
            calls().push_back("preferences");
            return std::make_shared<BridgePreferences>(std::make_unique<JsonFilePreferenceStore>(
                preferencesFile,
                [this](const std::string& message) { preferenceProblems.push_back(message); }));
        };
        return std::make_shared<AppDelegate>(Logger(logSink, "lifecycle"), frontEnd,
                                             makePreferences, std::move(factory), &notifier);
    }

    // A real coordinator over a real ledger in the temporary folder; its server
    // cannot be created here, so it reports a network error instead of listening.
    AppDelegate::CoordinatorFactory realCoordinator() {
        return [this](std::shared_ptr<BridgePreferences> preferences) {
            calls().push_back("coordinator");
            BridgeCoordinatorEnvironment environment;
            environment.logSink = logSink;
            environment.loadIdentity = [] { return identity; };
            environment.makeMIDISystem = [this] {
                return std::make_unique<test::FakeMIDISystem>(midiState);
            };
            environment.makeLedger = [this] {
                return std::make_unique<CommandLedger>(
                    ledgerFile, std::make_shared<PosixLedgerFileSystem>(),
                    CommandLedger::standardMaximumEntries, CommandLedger::standardTombstoneBitCount,
                    CommandLedger::standardTombstoneHashCount, ledgerMaximumInsertions);
            };
            environment.makeServerHost = []() -> std::unique_ptr<BridgeServerHost> {
                throw std::runtime_error("no network here");
            };
            return BridgeCoordinator::create(std::move(preferences), mainExecutor,
                                             std::move(environment));
        };
    }

    std::vector<std::string>& calls() { return frontEnd.calls; }

    std::vector<std::string> lifecycleLines() const {
        std::vector<std::string> lines;
        for (const LogRecord& record : logSink->records()) {
            if (record.category == "lifecycle") {
                lines.push_back(std::string(logLevelName(record.level)) + " " + record.text);
            }
        }
        return lines;
    }

    const MenuEntry& oscEntry() const { return frontEnd.menus.back().at(5); }

    std::optional<nlohmann::json> storedPreferences() const {
        if (!std::filesystem::exists(preferencesFile)) {
            return std::nullopt;
        }
        return nlohmann::json::parse(testing::readFile(preferencesFile));
    }

    testing::TemporaryFolder folder;
    std::filesystem::path preferencesFile =
        folder.path() / "config" / "TessaroBridge" / "preferences.json";
    std::filesystem::path ledgerFile = folder.path() / "data" / "command-ledger.json";
    std::shared_ptr<RecordingLogSink> logSink = std::make_shared<RecordingLogSink>();
    std::shared_ptr<test::FakeMIDIState> midiState = std::make_shared<test::FakeMIDIState>();
    std::int64_t ledgerMaximumInsertions = CommandLedger::standardTombstoneMaximumInsertions;
    ManualExecutor mainExecutor;
    RecordingFrontEnd frontEnd;
    RecordingNotifier notifier;
    std::vector<std::string> preferenceProblems;
};

TEST_F(AppDelegateTest, LaunchRunsInOrderAndShowsTheRunningMenu) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();

    ASSERT_GE(calls().size(), 5u);
    EXPECT_EQ(std::vector(calls().begin(), calls().begin() + 4),
              (std::vector<std::string>{"background", "statusItem", "preferences", "coordinator"}));
    EXPECT_EQ(calls().back(), "menu");
    const auto lines = lifecycleLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "info Varnello Bridge start");
    EXPECT_EQ(lines[1], "info Bridge-coordinator gereed: " + identity.id);
    ASSERT_NE(delegate->coordinator(), nullptr);
    EXPECT_EQ(frontEnd.menus.back(), delegate->menuModel());
    EXPECT_EQ(frontEnd.menus.back().size(), 11u);
    EXPECT_EQ(frontEnd.menus.back()[1].title, "Network error: no network here");
    EXPECT_EQ(frontEnd.menus.back()[2].title, "0 iPads connected");
}

TEST_F(AppDelegateTest, FailedStartUpShowsTheReducedMenuAndStaysAlive) {
    auto delegate =
        makeDelegate([](std::shared_ptr<BridgePreferences>) -> std::shared_ptr<BridgeCoordinator> {
            throw CommandLedgerLockError::alreadyInUse();
        });
    delegate->applicationDidFinishLaunching();

    const std::string reason(CommandLedgerLockError::alreadyInUse().what());
    EXPECT_EQ(
        frontEnd.menus.back(),
        (TrayMenuModel{
            MenuEntry::information("Varnello Bridge"),
            MenuEntry::information("Startup error: " + reason), MenuEntry::separator(),
            MenuEntry::command("Stop Varnello Bridge", MenuAction::quitApplication, "Ctrl+Q")}));
    EXPECT_EQ(lifecycleLines(),
              (std::vector<std::string>{"info Varnello Bridge start",
                                        "error Could not start Bridge: " + reason}));
    EXPECT_EQ(delegate->launchError(), reason);

    // The three bridge actions do nothing without a coordinator; quitting still works.
    const std::size_t before = calls().size();
    for (const MenuAction action :
         {MenuAction::toggleOSC, MenuAction::configureOSC, MenuAction::copyBridgeIdentifier}) {
        delegate->perform(action);
    }
    EXPECT_EQ(calls().size(), before);
    EXPECT_FALSE(storedPreferences().has_value());
    delegate->perform(MenuAction::quitApplication);
    EXPECT_EQ(calls().back(), "terminate");
    delegate->applicationWillTerminate();
}

TEST_F(AppDelegateTest, ToggleRemovesTheCheckMarkAndStoresFalse) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    EXPECT_EQ(oscEntry().title, "OSC to 127.0.0.1:9000");
    EXPECT_EQ(oscEntry().checkMark, MenuEntry::CheckMark::on);

    const std::size_t menusBefore = frontEnd.menus.size();
    delegate->perform(MenuAction::toggleOSC);
    EXPECT_GT(frontEnd.menus.size(), menusBefore);
    EXPECT_EQ(oscEntry().checkMark, MenuEntry::CheckMark::off);
    EXPECT_EQ((*storedPreferences())["oscForwardingEnabled"], false);

    delegate->perform(MenuAction::toggleOSC);
    EXPECT_EQ(oscEntry().checkMark, MenuEntry::CheckMark::on);
    EXPECT_EQ((*storedPreferences())["oscForwardingEnabled"], true);
}

TEST_F(AppDelegateTest, SavedDestinationShowsInTheMenuAtOnce) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    frontEnd.dialogAnswers.push_back(OSCSettingsForm{"10.0.0.7", "53000"});

    delegate->perform(MenuAction::configureOSC);

    ASSERT_EQ(frontEnd.shownForms.size(), 1u);
    EXPECT_EQ(frontEnd.shownForms[0].hostText, "127.0.0.1");
    EXPECT_EQ(frontEnd.shownForms[0].portText, "9000");
    // Nothing else ran in between: the new destination shows without another event.
    EXPECT_EQ(mainExecutor.pendingCount(), 0u);
    EXPECT_EQ(oscEntry().title, "OSC to 10.0.0.7:53000");
    const auto stored = *storedPreferences();
    EXPECT_EQ(stored["oscForwardingHost"], "10.0.0.7");
    EXPECT_EQ(stored["oscForwardingPort"], 53000);
}

TEST_F(AppDelegateTest, CancelStoresNothingEvenWhenFieldsChanged) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    const auto menus = frontEnd.menus.size();
    frontEnd.dialogAnswers.push_back(std::nullopt);

    delegate->perform(MenuAction::configureOSC);

    EXPECT_EQ(frontEnd.shownForms.size(), 1u);
    EXPECT_FALSE(storedPreferences().has_value());
    EXPECT_EQ(frontEnd.menus.size(), menus);
    EXPECT_TRUE(frontEnd.errors.empty());
}

TEST_F(AppDelegateTest, RefusedInputShowsTheErrorOnceAndStoresNothing) {
    const struct {
        OSCSettingsForm answer;
        const char* error;
    } cases[] = {
        {{"127.0.0.1", "nine thousand"}, "The UDP port must be between 1 and 65535."},
        {{"   ", "9000"}, "Enter a valid host name or IP address."},
    };
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    for (const auto& c : cases) {
        frontEnd.calls.clear();
        frontEnd.dialogAnswers.push_back(c.answer);
        delegate->perform(MenuAction::configureOSC);
        // One dialog, one alert, no second dialog and no menu change.
        EXPECT_EQ(calls(), (std::vector<std::string>{"dialog", "error"}));
        EXPECT_EQ(frontEnd.errors.back(), c.error);
    }
    EXPECT_FALSE(storedPreferences().has_value());
    EXPECT_EQ(oscEntry().title, "OSC to 127.0.0.1:9000");
}

// A preferences folder that cannot be written used to end the program with an
// uncaught exception from a menu item; the user now sees why nothing changed.
TEST_F(AppDelegateTest, PreferencesThatCannotBeSavedAreReportedNotFatal) {
    testing::writeFile(preferencesFile.parent_path(), "not a folder");
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    const std::string saveFailed = BridgePreferencesError::saveFailed(ENOTDIR).message();

    delegate->perform(MenuAction::toggleOSC);
    ASSERT_EQ(frontEnd.errors.size(), 1u);
    EXPECT_EQ(frontEnd.errors[0], saveFailed);
    EXPECT_EQ(oscEntry().checkMark, MenuEntry::CheckMark::on);

    frontEnd.dialogAnswers.push_back(OSCSettingsForm{"10.0.0.7", "53000"});
    delegate->perform(MenuAction::configureOSC);
    ASSERT_EQ(frontEnd.errors.size(), 2u);
    EXPECT_EQ(frontEnd.errors[1], saveFailed);
    EXPECT_EQ(oscEntry().title, "OSC to 127.0.0.1:9000");
}

TEST_F(AppDelegateTest, CopyPutsExactlyTheIdentifierOnTheClipboard) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    delegate->perform(MenuAction::copyBridgeIdentifier);
    ASSERT_EQ(frontEnd.clipboard.size(), 1u);
    EXPECT_EQ(frontEnd.clipboard[0], identity.id);
    EXPECT_EQ(frontEnd.clipboard[0].size(), 64u);
}

TEST_F(AppDelegateTest, SnapshotsRebuildTheMenuUntilTheDelegateIsGone) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    auto coordinator = delegate->coordinator();
    const std::size_t menus = frontEnd.menus.size();

    coordinator->publishSnapshot();
    EXPECT_EQ(frontEnd.menus.size(), menus + 1);

    delegate.reset();
    coordinator->publishSnapshot();
    EXPECT_EQ(frontEnd.menus.size(), menus + 1);
}

TEST_F(AppDelegateTest, QuitAsksTheFrontEndToEndTheEventLoop) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    delegate->perform(MenuAction::quitApplication);
    EXPECT_EQ(calls().back(), "terminate");
    delegate->applicationWillTerminate();
}

// Runs `count` new MIDI commands through the bridge and delivers what they publish.
void sendCommands(BridgeCoordinator& coordinator, ManualExecutor& mainExecutor, int count) {
    std::vector<TessaroBridgeCommand> commands;
    for (int i = 0; i < count; ++i) {
        commands.push_back(
            TessaroBridgeCommand{Uuid::random(), TessaroBridgePayload::midi({0x90, 60, 100})});
    }
    coordinator.handleCommands(commands);
    mainExecutor.runDue();
}

// The notifications about the ledger (the server of these tests fails as well).
std::vector<std::string> ledgerNotices(const RecordingNotifier& notifier) {
    std::vector<std::string> notices;
    for (const std::string& shown : notifier.shown) {
        if (shown.rfind("Varnello Bridge command ledger: ", 0) == 0) {
            notices.push_back(shown);
        }
    }
    return notices;
}

std::vector<std::string> titlesAfterMIDIPort(const TrayMenuModel& menu) {
    std::vector<std::string> titles;
    for (std::size_t i = 5; i < menu.size() && menu[i].action == MenuAction::none; ++i) {
        EXPECT_FALSE(menu[i].enabled) << menu[i].title;
        titles.push_back(menu[i].title);
    }
    return titles;
}

TEST_F(AppDelegateTest, LedgerFillShowsFromEightyPercentAndIsToldAtEachThreshold) {
    ledgerMaximumInsertions = 100;
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    BridgeCoordinator& coordinator = *delegate->coordinator();
    EXPECT_EQ(frontEnd.menus.back()[4].title, "MIDI port: Varnello Bridge");

    const std::string pointer =
        "To see the ledger\u2019s files and what can be done: varnello-bridge ledger status";
    const struct {
        int commands;
        std::vector<std::string> linesAfterMIDIPort;
        std::vector<std::string> newErrors;
    } steps[] = {
        {79, {}, {}},
        {1,
         {"Command ledger 80% full"},
         {"The command ledger is 80% full: at 100% every new command is refused."}},
        {9, {"Command ledger 89% full"}, {}},
        {1,
         {"Command ledger 90% full"},
         {"The command ledger is 90% full: at 100% every new command is refused."}},
        {6,
         {"Command ledger 96% full"},
         {"The command ledger is 96% full: at 100% every new command is refused."}},
        {3,
         {"Command ledger 99% full"},
         {"The command ledger is 99% full: at 100% every new command is refused."}},
        {1,
         {"Command ledger full: new commands are refused", pointer},
         {"The command ledger reached its safe capacity limit.", pointer}},
        // Refused commands change nothing, and nothing is told twice.
        {3, {"Command ledger full: new commands are refused", pointer}, {}},
    };
    std::size_t told = 0;
    for (const auto& step : steps) {
        const std::size_t linesBefore = logSink->records().size();
        sendCommands(coordinator, mainExecutor, step.commands);
        EXPECT_EQ(titlesAfterMIDIPort(frontEnd.menus.back()), step.linesAfterMIDIPort)
            << coordinator.ledgerFill().insertionCount;
        std::vector<std::string> errors;
        const std::vector<LogRecord> records = logSink->records();
        for (std::size_t i = linesBefore; i < records.size(); ++i) {
            if (records[i].level == LogLevel::error) {
                errors.push_back(records[i].text);
            }
        }
        EXPECT_EQ(errors, step.newErrors) << coordinator.ledgerFill().insertionCount;
        // One notification per threshold passed, with the log's text.
        const auto notices = ledgerNotices(notifier);
        if (!step.newErrors.empty()) {
            ASSERT_EQ(notices.size(), ++told);
            EXPECT_EQ(notices.back().rfind(
                          "Varnello Bridge command ledger: " + step.newErrors.front(), 0),
                      0u)
                << notices.back();
        }
        EXPECT_EQ(notices.size(), told);
    }
    EXPECT_EQ(coordinator.ledgerFill(), (LedgerFill{100, 100}));
    // The window shows the same: the menu model is its only source.
    EXPECT_EQ(frontEnd.menus.back(), delegate->menuModel());
}

TEST_F(AppDelegateTest, ALedgerAlreadyPastAThresholdIsToldOnceAtStart) {
    ledgerMaximumInsertions = 100;
    {
        auto delegate = makeDelegate(realCoordinator());
        delegate->applicationDidFinishLaunching();
        mainExecutor.runDue();
        sendCommands(*delegate->coordinator(), mainExecutor, 91);
        delegate->applicationWillTerminate();
    }
    notifier.shown.clear();
    logSink = std::make_shared<RecordingLogSink>();
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    EXPECT_EQ(titlesAfterMIDIPort(frontEnd.menus.back()),
              (std::vector<std::string>{"Command ledger 91% full"}));
    EXPECT_EQ(lifecycleLines(),
              (std::vector<std::string>{
                  "info Varnello Bridge start", "info Bridge-coordinator gereed: " + identity.id,
                  "error The command ledger is 91% full: at 100% every new command is refused."}));
    EXPECT_EQ(ledgerNotices(notifier).size(), 1u);
}

TEST_F(AppDelegateTest, LedgerStartUpErrorsPointToTheLedgerCommand) {
    const std::string pointer =
        "To see the ledger\u2019s files and what can be done: varnello-bridge ledger status";
    const struct {
        std::function<void()> fail;
        bool pointsToLedger;
    } cases[] = {
        {[] { throw CommandLedgerError::unsupportedOrDamagedFormat(); }, true},
        {[] { throw CommandLedgerError::legacyHistoryMayBeIncomplete(); }, true},
        {[] { throw CommandLedgerLockError::alreadyInUse(); }, false},
        {[] { throw std::runtime_error("CoreMIDI could not perform \u2018x\u2019 (-1)."); }, false},
    };
    for (const auto& c : cases) {
        frontEnd.menus.clear();
        notifier.shown.clear();
        logSink = std::make_shared<RecordingLogSink>();
        auto delegate = makeDelegate(
            [&c](std::shared_ptr<BridgePreferences>) -> std::shared_ptr<BridgeCoordinator> {
                c.fail();
                return nullptr;
            });
        delegate->applicationDidFinishLaunching();
        const std::string reason = *delegate->launchError();
        TrayMenuModel expected{MenuEntry::information("Varnello Bridge"),
                               MenuEntry::information("Startup error: " + reason)};
        std::vector<std::string> expectedLines{"info Varnello Bridge start",
                                               "error Could not start Bridge: " + reason};
        if (c.pointsToLedger) {
            expected.push_back(MenuEntry::information(pointer));
            expectedLines.push_back("error " + pointer);
        }
        expected.push_back(MenuEntry::separator());
        expected.push_back(
            MenuEntry::command("Stop Varnello Bridge", MenuAction::quitApplication, "Ctrl+Q"));
        EXPECT_EQ(frontEnd.menus.back(), expected) << reason;
        EXPECT_EQ(lifecycleLines(), expectedLines) << reason;
        ASSERT_EQ(notifier.shown.size(), 1u) << reason;
        EXPECT_EQ(notifier.shown.front(), "Varnello Bridge could not start: " + reason +
                                              (c.pointsToLedger ? "\n" + pointer : ""));
    }
}

TEST_F(AppDelegateTest, ListenerTroubleIsToldOnceAndItsReturnOnce) {
    auto delegate = makeDelegate(realCoordinator());
    delegate->applicationDidFinishLaunching();
    mainExecutor.runDue();
    // The server could not be created here: the listener failed at start.
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0],
              "iPads cannot reach Varnello Bridge: Network error: no network here");
    // Further snapshots of the same trouble say nothing more.
    delegate->coordinator()->publishSnapshot();
    mainExecutor.runDue();
    EXPECT_EQ(notifier.shown.size(), 1u);
}

} // namespace
} // namespace varnello
