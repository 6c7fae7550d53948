// The settings form's edits: each widget writes its field of the
// configuration record through setValue when the user changes it. Nothing
// here talks to the bus.
#include "configuration_panel.h"

#include <QColorDialog>
#include <QDebug>
#include <QMainWindow>
#include <QStatusBar>

#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

ConfigurationPanel::ConfigurationPanel(QMainWindow* window, Ui_MainWindow& ui, const ConfigTimeouts& timeouts)
    : QObject(window), window_(window), ui_(ui), timeouts_(timeouts) {
    for (const char* prefix : vk61::REGISTRATION_PREFIXES) ui_.comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
}

void ConfigurationPanel::showStatus(const QString& text) { window_->statusBar()->showMessage(text); }

void ConfigurationPanel::showNotConnected() {
    qDebug() << "No communication interface connected";
    showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
}

bool ConfigurationPanel::setValue(int index, std::uint32_t value) {
    if (!model_.edit(index, value)) {
        qDebug() << "Error setting value for index" << index;
        return false;
    }
    updateDeviceOptionsPending();
    return true;
}

void ConfigurationPanel::updateDeviceOptionsPending() {
    // Only the per-unit options (termination, default screens) belong to
    // the devices tab's save.
    emit deviceOptionsPending(model_.has_device_changes());
}

ConfigExchange ConfigurationPanel::exchange() { return ConfigExchange(comms_, model_, timeouts_); }

// ---- colours ----

// The dialog opens on the record's current colour, with the picker's own
// colour offered as the second custom colour; cancel changes nothing.
void ConfigurationPanel::pickColour(const ColourButton& colour) {
    QColorDialog::setCustomColor(1, QColor(colour.suggestion));
    const QColor chosen =
        QColorDialog::getColor(QColor(static_cast<QRgb>(model_.value(colour.index))), window_,
                               QCoreApplication::translate("ColourButton", colour.title), QColorDialog::ColorDialogOptions());
    if (!chosen.isValid()) return;
    (ui_.*colour.button)->setStyleSheet(colourStyleSheet(chosen.rgb()));
    editColour(colour.index);
}

void ConfigurationPanel::editColour(unsigned index) {
    if (const auto colour = colourOfButton(ui_.*colourButtonOf(index).button)) setValue(static_cast<int>(index), *colour);
}

// ---- the other widgets ----

void ConfigurationPanel::editWhole(unsigned index, int value) {
    setValue(static_cast<int>(index), static_cast<std::uint32_t>(value));
}

void ConfigurationPanel::editVolts(unsigned index, double volts) {
    setValue(static_cast<int>(index), vk61::volts_to_tenths(volts));
}

void ConfigurationPanel::editDegrees(unsigned index, double degrees) {
    setValue(static_cast<int>(index), vk61::float_setting(degrees));
}

void ConfigurationPanel::editUnits() { setValue(0, vk61::units_word(model_.value(0), unitsOfForm(ui_))); }

void ConfigurationPanel::editRegistration() {
    const auto words = vk61::registration_words(registrationOfForm(ui_));
    for (unsigned i = 0; i < words.size(); ++i) setValue(static_cast<int>(vk61::kIndexRegistrationFirst + i), words[i]);
}

void ConfigurationPanel::editIcaoAddress() { setValue(31, icaoAddressOfForm(ui_)); }

void ConfigurationPanel::editIcaoAddressType() { setValue(32, ui_.radioButton_rand_icao->isChecked() ? 1u : 0u); }
