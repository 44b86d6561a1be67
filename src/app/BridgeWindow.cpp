#include "app/BridgeWindow.h"

#include "app/MenuText.h"
#include "app/OperatorText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace varnello {

namespace {

const char* const actionProperty = "varnelloMenuAction";

} // namespace

BridgeWindow::BridgeWindow(ActionHandler onAction)
    : onAction_(std::move(onAction)), layout_(new QVBoxLayout(this)) {
    setWindowTitle(QStringLiteral("Varnello Bridge"));
    setMinimumWidth(320);
}

void BridgeWindow::showModel(const TrayMenuModel& model) {
    if (entries_ != nullptr) {
        layout_->removeWidget(entries_);
        // A button of the old entries may still be delivering its click.
        entries_->hide();
        entries_->deleteLater();
    }
    entries_ = new QWidget(this);
    auto* layout = new QVBoxLayout(entries_);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const MenuEntry& entry : model) {
        addEntry(*layout, entry);
    }
    layout_->addWidget(entries_);
    adjustSize();
}

void BridgeWindow::addEntry(QVBoxLayout& layout, const MenuEntry& entry) {
    if (entry.kind == MenuEntry::Kind::separator) {
        auto* line = new QFrame(entries_);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        layout.addWidget(line);
        return;
    }
    if (entry.action == MenuAction::none) {
        auto* label = new QLabel(QString::fromStdString(entry.title), entries_);
        label->setTextFormat(Qt::PlainText);
        label->setEnabled(entry.enabled);
        // Greyed in a menu, but here these lines are what a person reads: the state,
        // a start-up error, the ledger's fill. Shown in the ordinary text colour.
        QPalette palette = label->palette();
        palette.setColor(QPalette::Disabled, QPalette::WindowText,
                         palette.color(QPalette::Active, QPalette::WindowText));
        label->setPalette(palette);
        layout.addWidget(label);
        return;
    }
    QAbstractButton* button = nullptr;
    if (entry.checkMark != MenuEntry::CheckMark::none) {
        auto* box = new QCheckBox(mnemonicFree(entry.title), entries_);
        box->setChecked(entry.checkMark == MenuEntry::CheckMark::on);
        button = box;
    } else {
        button = new QPushButton(mnemonicFree(entry.title), entries_);
    }
    button->setEnabled(entry.enabled);
    button->setProperty(actionProperty, static_cast<int>(entry.action));
    if (!entry.shortcut.empty()) {
        button->setShortcut(QKeySequence::fromString(QString::fromStdString(entry.shortcut),
                                                     QKeySequence::PortableText));
    }
    const MenuAction chosen = entry.action;
    QObject::connect(button, &QAbstractButton::clicked, this, [this, chosen] {
        // Queued: the action may replace these very widgets.
        QMetaObject::invokeMethod(
            this,
            [this, chosen] {
                if (onAction_) {
                    onAction_(chosen);
                }
            },
            Qt::QueuedConnection);
    });
    layout.addWidget(button);
}

TrayMenuModel BridgeWindow::renderedModel() const {
    TrayMenuModel model;
    if (entries_ == nullptr) {
        return model;
    }
    const QLayout* layout = entries_->layout();
    for (int i = 0; i < layout->count(); ++i) {
        const QWidget* widget = layout->itemAt(i)->widget();
        if (const auto* line = qobject_cast<const QFrame*>(widget);
            line != nullptr && line->frameShape() == QFrame::HLine &&
            qobject_cast<const QLabel*>(widget) == nullptr) {
            model.push_back(MenuEntry::separator());
            continue;
        }
        MenuEntry entry;
        entry.enabled = widget->isEnabled();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            entry.title = label->text().toStdString();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            entry.title = shownText(button->text());
            entry.action = static_cast<MenuAction>(button->property(actionProperty).toInt());
            entry.shortcut = button->shortcut().toString(QKeySequence::PortableText).toStdString();
            if (button->isCheckable()) {
                entry.checkMark =
                    button->isChecked() ? MenuEntry::CheckMark::on : MenuEntry::CheckMark::off;
            }
        }
        model.push_back(std::move(entry));
    }
    return model;
}

void BridgeWindow::present() {
    show();
    raise();
    activateWindow();
}

void BridgeWindow::closeEvent(QCloseEvent* event) {
    if (farewell_ == Farewell::due) {
        farewell_ = Farewell::told;
        QMessageBox::information(
            this, QStringLiteral("Varnello Bridge"),
            QString::fromUtf8(operatorText(OperatorText::windowClosedKeepsRunning).data(),
                              static_cast<qsizetype>(
                                  operatorText(OperatorText::windowClosedKeepsRunning).size())));
    }
    event->accept();
}

} // namespace varnello
