#include "app/QtTrayFrontEnd.h"

#include "app/MenuText.h"
#include "app/OSCSettingsDialog.h"
#include "app/OperatorText.h"
#include "app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QKeySequence>
#include <QMessageBox>
#include <cstdio>
#include <utility>

namespace varnello {

QtTrayFrontEnd::QtTrayFrontEnd(Logger logger, bool printMenus)
    : logger_(std::move(logger)), printMenus_(printMenus) {}

QtTrayFrontEnd::~QtTrayFrontEnd() = default;

void QtTrayFrontEnd::setActionHandler(ActionHandler handler) {
    actionHandler_ = std::move(handler);
}

void QtTrayFrontEnd::becomeBackgroundApplication() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtTrayFrontEnd::configureStatusItem() {
    trayIcon_ = std::make_unique<QSystemTrayIcon>(makeTrayIcon(QApplication::palette()));
    trayIcon_->setToolTip(QStringLiteral("Varnello Bridge"));
    // A left click opens the menu too, as a menu-bar item does.
    QObject::connect(trayIcon_.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu_) {
                             menu_->popup(QCursor::pos());
                         }
                     });
    // Shown even without a tray: Qt shows the icon when a tray appears later.
    trayIcon_->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logger_.error(std::string(operatorText(OperatorText::noTrayShowsWindow)));
        // Shown with its first entries, not empty before them.
        createWindow();
        windowState_ = WindowState::dueWithFirstModel;
    }
}

bool QtTrayFrontEnd::showWindow() {
    if (!window_) {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            return false;
        }
        createWindow();
    }
    windowState_ = WindowState::presented;
    window_->present();
    if (printMenus_ && menu_) {
        printRendered();
    }
    return true;
}

void QtTrayFrontEnd::createWindow() {
    window_ = std::make_unique<BridgeWindow>([this](MenuAction action) { dispatch(action); });
    window_->setWindowIcon(makeTrayIcon(QApplication::palette()));
    if (!model_.empty()) {
        window_->showModel(model_);
    }
}

void QtTrayFrontEnd::dispatch(MenuAction action) {
    if (actionHandler_) {
        actionHandler_(action);
    }
}

void QtTrayFrontEnd::showMenu(const TrayMenuModel& model) {
    std::unique_ptr<QMenu, LaterDeleter> menu(new QMenu);
    for (const MenuEntry& entry : model) {
        if (entry.kind == MenuEntry::Kind::separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(mnemonicFree(entry.title));
        action->setEnabled(entry.enabled);
        action->setData(static_cast<int>(entry.action));
        if (!entry.shortcut.empty()) {
            action->setShortcut(QKeySequence::fromString(QString::fromStdString(entry.shortcut),
                                                         QKeySequence::PortableText));
            action->setShortcutVisibleInContextMenu(true);
        }
        if (entry.checkMark != MenuEntry::CheckMark::none) {
            action->setCheckable(true);
            action->setChecked(entry.checkMark == MenuEntry::CheckMark::on);
        }
        if (entry.action != MenuAction::none) {
            const MenuAction chosen = entry.action;
            // Queued: the action may replace this very menu.
            QObject::connect(action, &QAction::triggered, action, [this, chosen] {
                QMetaObject::invokeMethod(
                    &dispatcher_, [this, chosen] { dispatch(chosen); }, Qt::QueuedConnection);
            });
        }
    }
    if (trayIcon_) {
        trayIcon_->setContextMenu(menu.get());
    }
    menu_ = std::move(menu);
    model_ = model;
    if (window_) {
        window_->showModel(model);
        if (windowState_ == WindowState::dueWithFirstModel) {
            windowState_ = WindowState::presented;
            window_->present();
        }
    }
    if (printMenus_) {
        printRendered();
    }
}

void QtTrayFrontEnd::printRendered() {
    std::fprintf(stderr, "varnello-menu: %s\n", describeTrayMenu(renderedModel(*menu_)).c_str());
    if (window_) {
        std::fprintf(stderr, "varnello-window: %s\n",
                     describeTrayMenu(window_->renderedModel()).c_str());
    }
    std::fflush(stderr);
}

TrayMenuModel QtTrayFrontEnd::renderedModel(const QMenu& menu) {
    TrayMenuModel model;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            model.push_back(MenuEntry::separator());
            continue;
        }
        MenuEntry entry;
        entry.title = shownText(action->text());
        entry.enabled = action->isEnabled();
        entry.action = static_cast<MenuAction>(action->data().toInt());
        entry.shortcut = action->shortcut().toString(QKeySequence::PortableText).toStdString();
        if (action->isCheckable()) {
            entry.checkMark =
                action->isChecked() ? MenuEntry::CheckMark::on : MenuEntry::CheckMark::off;
        }
        model.push_back(std::move(entry));
    }
    return model;
}

std::optional<OSCSettingsForm> QtTrayFrontEnd::runOSCSettingsDialog(const OSCSettingsForm& form) {
    OSCSettingsDialog dialog(form);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.form();
}

void QtTrayFrontEnd::showError(const std::string& message) {
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Varnello Bridge"),
                      QString::fromStdString(message), QMessageBox::Ok);
    alert.raise();
    alert.activateWindow();
    alert.exec();
}

void QtTrayFrontEnd::copyPlainText(const std::string& text) {
    QApplication::clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

void QtTrayFrontEnd::terminate() {
    QApplication::exit(0);
}

} // namespace varnello
