#include "app/OSCSettingsDialog.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace varnello {

namespace {

QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

OSCSettingsDialog::OSCSettingsDialog(const OSCSettingsForm& form)
    : hostField_(new QLineEdit(QString::fromStdString(form.hostText))),
      portField_(new QLineEdit(QString::fromStdString(form.portText))) {
    setWindowTitle(qText(OSCSettingsForm::messageText));

    auto* message = new QLabel(qText(OSCSettingsForm::messageText));
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto* informative = new QLabel(qText(OSCSettingsForm::informativeText));
    informative->setWordWrap(true);

    hostField_->setPlaceholderText(qText(OSCSettingsForm::hostPlaceholder));
    portField_->setPlaceholderText(qText(OSCSettingsForm::portPlaceholder));
    hostField_->setFixedWidth(OSCSettingsForm::fieldColumnWidth);
    portField_->setFixedWidth(OSCSettingsForm::fieldColumnWidth);

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(OSCSettingsForm::rowSpacing);
    grid->addWidget(new QLabel(qText(OSCSettingsForm::hostLabel)), 0, 0,
                    Qt::AlignTrailing | Qt::AlignVCenter);
    grid->addWidget(hostField_, 0, 1);
    grid->addWidget(new QLabel(qText(OSCSettingsForm::portLabel)), 1, 0,
                    Qt::AlignTrailing | Qt::AlignVCenter);
    grid->addWidget(portField_, 1, 1);
    grid->setColumnMinimumWidth(1, OSCSettingsForm::fieldColumnWidth);

    auto* save = new QPushButton(qText(OSCSettingsForm::saveButton));
    auto* cancel = new QPushButton(qText(OSCSettingsForm::cancelButton));
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

OSCSettingsForm OSCSettingsDialog::form() const {
    return OSCSettingsForm{hostField_->text().toStdString(), portField_->text().toStdString()};
}

} // namespace varnello
