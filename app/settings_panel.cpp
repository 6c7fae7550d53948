// The settings tab: each widget writes its field of the configuration
// record through setConfigValue when the user changes it. Nothing here talks
// to the bus.
#include <QColorDialog>
#include <QRegularExpression>

#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "main_window.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

void MainWindow::fillRegistrationPrefixes() {
    for (const char* prefix : vk61::REGISTRATION_PREFIXES) ui->comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
}

// ---- colours ----

// Opens the modal colour dialog on the record's current colour, with the
// picker's own colour offered as the second custom colour. On OK the button
// shows the choice and the setting takes it; on cancel nothing changes.
void MainWindow::pickColour(const ColourButton& colour) {
    QColorDialog::setCustomColor(1, QColor(colour.suggestion));
    const QColor chosen =
        QColorDialog::getColor(QColor(static_cast<QRgb>(model.value(colour.index))), this,
                               QCoreApplication::translate("ColourButton", colour.title), QColorDialog::ColorDialogOptions());
    if (!chosen.isValid()) return;
    (ui->*colour.button)->setStyleSheet(colourStyleSheet(chosen.rgb()));
    editColour(colour.index);
}

// A style sheet that names no #rrggbb colour stores nothing.
void MainWindow::editColour(unsigned index) {
    if (const auto colour = colourOfButton(ui->*colourButtonOf(index).button)) setConfigValue(static_cast<int>(index), *colour);
}

void MainWindow::onSkyColor0Changed() { editColour(14); }
void MainWindow::onSkyColor1Changed() { editColour(15); }
void MainWindow::onGroundColor0Changed() { editColour(16); }
void MainWindow::onGroundColor1Changed() { editColour(17); }
void MainWindow::onApproachIndiColorChanged() { editColour(18); }
void MainWindow::onAirplaneColorChanged() { editColour(19); }
void MainWindow::onGreenArcColorChanged() { editColour(20); }
void MainWindow::onYellowArcColorChanged() { editColour(21); }
void MainWindow::onRedArcColorChanged() { editColour(22); }
void MainWindow::onGearIndiColorChanged() { editColour(23); }

// ---- units, speeds, voltages ----

void MainWindow::onUnitsChanged() {
    const vk61::DisplayUnits selected{ui->comboBox_airspeed->currentIndex(), ui->comboBox_altitude->currentIndex(),
                                      ui->comboBox_temp->currentIndex(), ui->comboBox_pressure->currentIndex()};
    setConfigValue(0, vk61::units_word(model.value(0), selected));
}

void MainWindow::onVminChanged(int value) { setConfigValue(1, static_cast<std::uint32_t>(value)); }
void MainWindow::onVs0Changed(int value) { setConfigValue(2, static_cast<std::uint32_t>(value)); }
void MainWindow::onVs1Changed(int value) { setConfigValue(3, static_cast<std::uint32_t>(value)); }
void MainWindow::onVfeChanged(int value) { setConfigValue(4, static_cast<std::uint32_t>(value)); }
void MainWindow::onVn0Changed(int value) { setConfigValue(5, static_cast<std::uint32_t>(value)); }
void MainWindow::onVneChanged(int value) { setConfigValue(6, static_cast<std::uint32_t>(value)); }
void MainWindow::onVrefChanged(int value) { setConfigValue(7, static_cast<std::uint32_t>(value)); }
void MainWindow::onVloChanged(int value) { setConfigValue(8, static_cast<std::uint32_t>(value)); }

void MainWindow::onMinVoltChanged(double value) { setConfigValue(9, vk61::volts_to_tenths(value)); }
void MainWindow::onMaxVoltChanged(double value) { setConfigValue(10, vk61::volts_to_tenths(value)); }
void MainWindow::onMinVoltAlertChanged(double value) { setConfigValue(27, vk61::volts_to_tenths(value)); }
void MainWindow::onMaxVoltAlertChanged(double value) { setConfigValue(28, vk61::volts_to_tenths(value)); }

// ---- registration, display, attitude, identity, map ----

void MainWindow::onRegistrationChanged() {
    const auto words = vk61::registration_words(registrationOfForm(*ui));
    for (unsigned i = 0; i < words.size(); ++i) setConfigValue(static_cast<int>(vk61::kIndexRegistrationFirst + i), words[i]);
}

void MainWindow::onBacklightBrightnessChanged(int value) { setConfigValue(24, static_cast<std::uint32_t>(value)); }
void MainWindow::onTextBgAlphaChanged(int value) { setConfigValue(29, static_cast<std::uint32_t>(value)); }
void MainWindow::onRollCorrectionChanged(double value) { setConfigValue(25, vk61::float_setting(value)); }
void MainWindow::onPitchCorrectionChanged(double value) { setConfigValue(26, vk61::float_setting(value)); }
void MainWindow::onOwnshipIcaoChanged() { setConfigValue(31, parseIcaoAddress()); }
void MainWindow::onEmitterCatChanged(int index) { setConfigValue(33, static_cast<std::uint32_t>(index)); }
void MainWindow::onMapViewChanged(int index) { setConfigValue(35, static_cast<std::uint32_t>(index)); }

void MainWindow::onIcaoAddressTypeChanged() { setConfigValue(32, ui->radioButton_rand_icao->isChecked() ? 1u : 0u); }

std::uint32_t MainWindow::parseIcaoAddress() const {
    const QString text = ui->text_icao->toPlainText().trimmed();
    if (text.isEmpty()) return 0;
    // Digits alone count as hexadecimal: "123" is 0x000123.
    static const QRegularExpression hex_only(QStringLiteral("^[\\da-fA-F]+$"));
    bool ok = false;
    const qulonglong number = hex_only.match(text).hasMatch() ? text.toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
    if (!ok || number > 0xFFFFFFFFull) return 0;
    return static_cast<std::uint32_t>(number & 0xFFFFFFu);
}
