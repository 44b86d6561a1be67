#pragma once

#include "app/OSCSettingsForm.h"

#include <QDialog>

class QLineEdit;

namespace varnello {

// The OSC settings dialog: "OSC Output", its explanation, the host and UDP port
// fields in a two-row grid, and "Save" (the default) beside "Cancel". Main
// thread only.
class OSCSettingsDialog final : public QDialog {
public:
    explicit OSCSettingsDialog(const OSCSettingsForm& form);

    // The fields' texts as they stand.
    OSCSettingsForm form() const;

private:
    QLineEdit* hostField_;
    QLineEdit* portField_;
};

} // namespace varnello
