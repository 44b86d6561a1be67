#include "app/QtTrayFrontEnd.h"

#include "app/OSCSettingsDialog.h"
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
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logger_.error("The desktop offers no system tray: Varnello Bridge keeps serving without "
                      "its menu.");
    }
    trayIcon_->show();
}

void QtTrayFrontEnd::showMenu(const TrayMenuModel& model) {
    std::unique_ptr<QMenu, LaterDeleter> menu(new QMenu);
    for (const MenuEntry& entry : model) {
        if (entry.kind == MenuEntry::Kind::separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(entry.title));
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
                    &dispatcher_,
                    [this, chosen] {
                        if (actionHandler_) {
                            actionHandler_(chosen);
                        }
                    },
                    Qt::QueuedConnection);
            });
        }
    }
    if (trayIcon_) {
        trayIcon_->setContextMenu(menu.get());
    }
    menu_ = std::move(menu);
    if (printMenus_) {
        std::fprintf(stderr, "varnello-menu: %s\n",
                     describeTrayMenu(renderedModel(*menu_)).c_str());
        std::fflush(stderr);
    }
}

TrayMenuModel QtTrayFrontEnd::renderedModel(const QMenu& menu) {
    TrayMenuModel model;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            model.push_back(MenuEntry::separator());
            continue;
        }
        MenuEntry entry;
        entry.title = action->text().toStdString();
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
