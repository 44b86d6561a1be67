#include "QtTestApplication.h"
#include "app/BridgeWindow.h"
#include "app/OSCSettingsDialog.h"
#include "app/QtTrayFrontEnd.h"
#include "support/RecordingLogSink.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace varnello {
namespace {

class QtFrontEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::qtTestApplication(); }

    Logger logger{std::make_shared<RecordingLogSink>(), "lifecycle"};

    static QList<QLineEdit*> fields(const QDialog& dialog) {
        return dialog.findChildren<QLineEdit*>();
    }
    static QList<QPushButton*> buttons(const QDialog& dialog) {
        return dialog.findChildren<QPushButton*>();
    }
};

TEST_F(QtFrontEndTest, DialogShowsTheDestinationInALabelledGrid) {
    OSCSettingsDialog dialog(OSCSettingsForm{"mixer.example", "53000"});
    const auto lineEdits = fields(dialog);
    ASSERT_EQ(lineEdits.size(), 2);
    EXPECT_EQ(lineEdits[0]->text(), "mixer.example");
    EXPECT_EQ(lineEdits[0]->placeholderText(), "127.0.0.1");
    EXPECT_EQ(lineEdits[1]->text(), "53000");
    EXPECT_EQ(lineEdits[1]->placeholderText(), "9000");
    for (const QLineEdit* field : lineEdits) {
        EXPECT_EQ(field->minimumWidth(), 220);
        EXPECT_EQ(field->maximumWidth(), 220);
    }

    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_EQ(texts, (QStringList{"OSC Output",
                                  "Varnello Bridge sends argument-free OSC messages to this "
                                  "destination over UDP by default.",
                                  "Host", "UDP port"}));

    const auto* grid = dialog.findChild<QGridLayout*>();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->verticalSpacing(), 8);
    ASSERT_EQ(grid->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const auto* label = qobject_cast<QLabel*>(grid->itemAtPosition(row, 0)->widget());
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(grid->itemAtPosition(row, 0)->alignment() & Qt::AlignTrailing);
        EXPECT_EQ(grid->itemAtPosition(row, 1)->widget(), lineEdits[row]);
    }
}

TEST_F(QtFrontEndTest, SaveIsTheDefaultFirstButton) {
    OSCSettingsDialog dialog(OSCSettingsForm{"127.0.0.1", "9000"});
    const auto pushButtons = buttons(dialog);
    ASSERT_EQ(pushButtons.size(), 2);
    EXPECT_EQ(pushButtons[0]->text(), "Save");
    EXPECT_TRUE(pushButtons[0]->isDefault());
    EXPECT_EQ(pushButtons[1]->text(), "Cancel");
    EXPECT_FALSE(pushButtons[1]->isDefault());
}

TEST_F(QtFrontEndTest, DialogAnswersWithWhatWasTyped) {
    const struct {
        int button;
        int result;
    } cases[] = {{0, QDialog::Accepted}, {1, QDialog::Rejected}};
    for (const auto& c : cases) {
        OSCSettingsDialog dialog(OSCSettingsForm{"127.0.0.1", "9000"});
        fields(dialog)[0]->setText(QString::fromUtf8("  caf\u00e9.example "));
        fields(dialog)[1]->setText("8000x");
        QTimer::singleShot(0, buttons(dialog)[c.button], &QPushButton::click);
        EXPECT_EQ(dialog.exec(), c.result);
        EXPECT_EQ(dialog.form().hostText, "  caf\u00e9.example ");
        EXPECT_EQ(dialog.form().portText, "8000x");
    }
}

TEST_F(QtFrontEndTest, RenderedMenuKeepsEveryEntry) {
    QtTrayFrontEnd tray(logger, false);
    EXPECT_EQ(tray.menu(), nullptr);
    for (const auto& model :
         {makeTrayMenuModel(
              RunningBridgeView{BridgeServerState::ready(40123), 2, {false, "10.0.0.9", 7000}, {}},
              std::nullopt),
          makeTrayMenuModel(RunningBridgeView{}, std::nullopt),
          makeTrayMenuModel(std::nullopt, "Another Varnello Bridge is already running.")}) {
        tray.showMenu(model);
        ASSERT_NE(tray.menu(), nullptr);
        EXPECT_EQ(QtTrayFrontEnd::renderedModel(*tray.menu()), model)
            << describeTrayMenu(QtTrayFrontEnd::renderedModel(*tray.menu()));
        for (const QAction* action : tray.menu()->actions()) {
            if (!action->shortcut().isEmpty()) {
                EXPECT_TRUE(action->isShortcutVisibleInContextMenu());
            }
        }
    }
    const auto quit = tray.menu()->actions().back()->shortcut();
    EXPECT_EQ(quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(QtFrontEndTest, ChosenItemReachesTheHandlerFromTheEventLoop) {
    QtTrayFrontEnd tray(logger, false);
    std::vector<MenuAction> chosen;
    tray.setActionHandler([&chosen](MenuAction action) { chosen.push_back(action); });
    tray.showMenu(makeTrayMenuModel(RunningBridgeView{}, std::nullopt));
    const auto actions = tray.menu()->actions();
    // The settings item, whose key equivalent is Ctrl+comma.
    ASSERT_EQ(actions[6]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    actions[6]->trigger();
    actions[5]->trigger();
    EXPECT_TRUE(chosen.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(chosen, (std::vector<MenuAction>{MenuAction::configureOSC, MenuAction::toggleOSC}));
    // Information lines do nothing.
    actions[0]->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(chosen.size(), 2u);
}

TEST_F(QtFrontEndTest, CopyPutsOnlyThePlainTextOnTheClipboard) {
    QtTrayFrontEnd tray(logger, false);
    const std::string id(64, 'f');
    QApplication::clipboard()->setText("something else");
    tray.copyPlainText(id);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text().toStdString(), id);
    EXPECT_EQ(QApplication::clipboard()->text().size(), 64);
}

// Host names, server states and errors hold "&": Qt must show it, not read it as
// the mark of a keyboard mnemonic.
TEST_F(QtFrontEndTest, AmpersandsShowAsGivenInTheMenuAndTheWindow) {
    const TrayMenuModel model =
        makeTrayMenuModel(RunningBridgeView{BridgeServerState::waiting("R&D && lights &"),
                                            1,
                                            {true, "mixer&lights.example", 9000},
                                            {}},
                          std::nullopt);
    QtTrayFrontEnd tray(logger, false);
    tray.showMenu(model);
    EXPECT_EQ(QtTrayFrontEnd::renderedModel(*tray.menu()), model);
    QStringList shown;
    for (const QAction* action : tray.menu()->actions()) {
        // What Qt draws of an item: its text without mnemonic marks.
        shown << action->iconText();
    }
    EXPECT_TRUE(shown.contains("Waiting for network: R&D && lights &"))
        << shown.join("|").toStdString();
    EXPECT_TRUE(shown.contains("OSC to mixer&lights.example:9000"))
        << shown.join("|").toStdString();

    BridgeWindow window([](MenuAction) {});
    window.showModel(model);
    EXPECT_EQ(window.renderedModel(), model);
    const auto* box = window.findChild<QCheckBox*>();
    ASSERT_NE(box, nullptr);
    // A button draws its text as a menu item does.
    EXPECT_EQ(box->text(), "OSC to mixer&&lights.example:9000");
    EXPECT_EQ(window.windowTitle(), "Varnello Bridge");
}

TEST_F(QtFrontEndTest, WindowRendersTheMenuModelAndPassesItsActions) {
    std::vector<MenuAction> chosen;
    BridgeWindow window([&chosen](MenuAction action) { chosen.push_back(action); });
    for (const auto& model :
         {makeTrayMenuModel(
              RunningBridgeView{
                  BridgeServerState::ready(40123), 2, {false, "10.0.0.9", 7000}, {90, 100}},
              std::nullopt),
          makeTrayMenuModel(std::nullopt, "The command ledger has an unknown or corrupted format.",
                            LaunchErrorKind::ledger)}) {
        window.showModel(model);
        EXPECT_EQ(window.renderedModel(), model) << describeTrayMenu(window.renderedModel());
    }
    window.showModel(makeTrayMenuModel(RunningBridgeView{}, std::nullopt));
    QCoreApplication::processEvents();
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        // The entries replaced earlier are hidden until they are deleted.
        if (!button->parentWidget()->isHidden()) {
            button->click();
        }
    }
    EXPECT_TRUE(chosen.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(chosen, (std::vector<MenuAction>{MenuAction::toggleOSC, MenuAction::configureOSC,
                                               MenuAction::copyBridgeIdentifier,
                                               MenuAction::quitApplication}));
}

TEST_F(QtFrontEndTest, ClosingTheWindowSaysOnceThatTheBridgeKeepsRunning) {
    BridgeWindow window([](MenuAction) {});
    window.showModel(makeTrayMenuModel(RunningBridgeView{}, std::nullopt));
    QStringList told;
    for (int round = 0; round < 2; ++round) {
        window.present();
        ASSERT_TRUE(window.isVisible());
        QTimer::singleShot(0, [&told] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                told << box->text();
                box->accept();
            }
        });
        EXPECT_TRUE(window.close());
        EXPECT_FALSE(window.isVisible());
    }
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Varnello Bridge keeps running")) << told[0].toStdString();
}

} // namespace
} // namespace varnello
