// What the settings edits and the load share about the form: the colour
// buttons with their dialogs, the colour style
// sheets, and the values of the widgets that spell a setting together or in
// text (units, ICAO address, registration).
//
// GUI thread only, like the form itself.
#pragma once

#include <QCoreApplication>
#include <QRgb>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "config/display_units.h"
#include "config/registration.h"
#include "ui_mainwindow.h"

namespace vk61 {

struct ColourButton {
    QPushButton* Ui_MainWindow::*button;
    const char* title;  // of the colour dialog; translated in the "ColourButton" context
    QRgb suggestion;    // offered by the dialog as its second custom colour
};

// The ten colour buttons, in setting order.
inline constexpr std::array<ColourButton, 10> kColourButtons = {{
    {&Ui_MainWindow::color_picker_sky0, QT_TRANSLATE_NOOP("ColourButton", "Select Sky Color 0"), qRgb(135, 206, 235)},
    {&Ui_MainWindow::color_picker_sky1, QT_TRANSLATE_NOOP("ColourButton", "Select Sky Color 1"), qRgb(135, 206, 235)},
    {&Ui_MainWindow::color_picker_ground0, QT_TRANSLATE_NOOP("ColourButton", "Select Ground Color 0"),
     qRgb(34, 139, 34)},
    {&Ui_MainWindow::color_picker_ground1, QT_TRANSLATE_NOOP("ColourButton", "Select Ground Color 1"),
     qRgb(34, 139, 34)},
    {&Ui_MainWindow::color_picker_app_indi, QT_TRANSLATE_NOOP("ColourButton", "Select Approach Indicator Color"),
     qRgb(255, 255, 0)},
    {&Ui_MainWindow::color_picker_airplane, QT_TRANSLATE_NOOP("ColourButton", "Select Airplane Color"),
     qRgb(255, 255, 255)},
    {&Ui_MainWindow::color_picker_green, QT_TRANSLATE_NOOP("ColourButton", "Select Green Arc Color"), qRgb(0, 255, 0)},
    {&Ui_MainWindow::color_picker_yellow, QT_TRANSLATE_NOOP("ColourButton", "Select Yellow Arc Color"),
     qRgb(255, 255, 0)},
    {&Ui_MainWindow::color_picker_red, QT_TRANSLATE_NOOP("ColourButton", "Select Red Arc Color"), qRgb(255, 0, 0)},
    {&Ui_MainWindow::color_picker_gear, QT_TRANSLATE_NOOP("ColourButton", "Select Gear Indicator Color"),
     qRgb(255, 255, 255)},
}};

// The entry of a colour button of ui.
const ColourButton& colourButtonFor(const Ui_MainWindow& ui, const QPushButton* button);

// "background-color: #rrggbb;" for a colour word; alpha is not shown.
QString colourStyleSheet(std::uint32_t argb);

// The opaque colour a button's style sheet names, if it names one.
std::optional<std::uint32_t> colourOfButton(const QPushButton* button);

// The display units the four unit lists select.
vk61::DisplayUnits unitsOfForm(const Ui_MainWindow& ui);

// The ICAO address the address field spells: hexadecimal ("123" is
// 0x000123) unless it holds a non-hex character, then decimal; the low 24
// bits. 0 for an empty field or one that is no number of 32 bits.
std::uint32_t icaoAddressOfForm(const Ui_MainWindow& ui);

// The registration bytes the prefix list and the number field spell.
vk61::RegistrationBytes registrationOfForm(const Ui_MainWindow& ui);

}  // namespace vk61
