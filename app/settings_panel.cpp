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

namespace {

// Opens the modal colour dialog on the record's current colour, with the
// picker's own colour offered as the second custom colour. On OK the button
// shows the choice and true is returned; on cancel nothing changes.
bool chooseColour(QWidget* parent, QPushButton* button, const QString& title, const QColor& suggestion,
                  std::uint32_t current) {
    QColorDialog::setCustomColor(1, suggestion);
    const QColor chosen = QColorDialog::getColor(QColor(static_cast<QRgb>(current)), parent, title,
                                                 QColorDialog::ColorDialogOptions());
    if (!chosen.isValid()) return false;
    button->setStyleSheet(colourStyleSheet(chosen.rgb()));
    return true;
}

}  // namespace

void MainWindow::fillRegistrationPrefixes() {
    for (const char* prefix : vk61::REGISTRATION_PREFIXES) ui->comboBox_reg_prefix->addItem(QString::fromLatin1(prefix));
}

// ---- colour pickers ----

void MainWindow::onSkyColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_sky0, tr("Select Sky Color 0"), QColor(135, 206, 235),
                     model.value(14)))
        onSkyColor0Changed();
}

void MainWindow::onSkyColor1PickerClicked() {
    if (chooseColour(this, ui->color_picker_sky1, tr("Select Sky Color 1"), QColor(135, 206, 235),
                     model.value(15)))
        onSkyColor1Changed();
}

void MainWindow::onGroundColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_ground0, tr("Select Ground Color 0"), QColor(34, 139, 34),
                     model.value(16)))
        onGroundColor0Changed();
}

void MainWindow::onGroundColor1PickerClicked() {
    if (chooseColour(this, ui->color_picker_ground1, tr("Select Ground Color 1"), QColor(34, 139, 34),
                     model.value(17)))
        onGroundColor1Changed();
}

void MainWindow::onApproachIndiColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_app_indi, tr("Select Approach Indicator Color"), QColor(255, 255, 0),
                     model.value(18)))
        onApproachIndiColorChanged();
}

void MainWindow::onAirplaneColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_airplane, tr("Select Airplane Color"), QColor(255, 255, 255),
                     model.value(19)))
        onAirplaneColorChanged();
}

void MainWindow::onGreenArcColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_green, tr("Select Green Arc Color"), QColor(0, 255, 0),
                     model.value(20)))
        onGreenArcColorChanged();
}

void MainWindow::onYellowArcColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_yellow, tr("Select Yellow Arc Color"), QColor(255, 255, 0),
                     model.value(21)))
        onYellowArcColorChanged();
}

void MainWindow::onRedArcColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_red, tr("Select Red Arc Color"), QColor(255, 0, 0),
                     model.value(22)))
        onRedArcColorChanged();
}

void MainWindow::onGearIndiColorPickerClicked() {
    if (chooseColour(this, ui->color_picker_gear, tr("Select Gear Indicator Color"), QColor(255, 255, 255),
                     model.value(23)))
        onGearIndiColorChanged();
}

// ---- colours from the buttons' style sheets ----
// A style sheet that names no #rrggbb colour stores nothing.

void MainWindow::onSkyColor0Changed() {
    if (const auto colour = colourOfButton(ui->color_picker_sky0)) setConfigValue(14, *colour);
}
void MainWindow::onSkyColor1Changed() {
    if (const auto colour = colourOfButton(ui->color_picker_sky1)) setConfigValue(15, *colour);
}
void MainWindow::onGroundColor0Changed() {
    if (const auto colour = colourOfButton(ui->color_picker_ground0)) setConfigValue(16, *colour);
}
void MainWindow::onGroundColor1Changed() {
    if (const auto colour = colourOfButton(ui->color_picker_ground1)) setConfigValue(17, *colour);
}
void MainWindow::onApproachIndiColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_app_indi)) setConfigValue(18, *colour);
}
void MainWindow::onAirplaneColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_airplane)) setConfigValue(19, *colour);
}
void MainWindow::onGreenArcColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_green)) setConfigValue(20, *colour);
}
void MainWindow::onYellowArcColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_yellow)) setConfigValue(21, *colour);
}
void MainWindow::onRedArcColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_red)) setConfigValue(22, *colour);
}
void MainWindow::onGearIndiColorChanged() {
    if (const auto colour = colourOfButton(ui->color_picker_gear)) setConfigValue(23, *colour);
}

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
