// What the settings slots, the load and the save share about the form: the
// colour buttons with their setting indices, the colour style sheets, and the
// registration as the two registration widgets give it.
//
// GUI thread only, like the form itself.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "config/registration.h"
#include "ui_mainwindow.h"

struct ColourButton {
    QPushButton* Ui_MainWindow::*button;
    unsigned index;
};

// In setting order (14-23), the order in which the form is collected.
inline constexpr std::array<ColourButton, 10> kColourButtons = {{
    {&Ui_MainWindow::color_picker_sky0, 14},
    {&Ui_MainWindow::color_picker_sky1, 15},
    {&Ui_MainWindow::color_picker_ground0, 16},
    {&Ui_MainWindow::color_picker_ground1, 17},
    {&Ui_MainWindow::color_picker_app_indi, 18},
    {&Ui_MainWindow::color_picker_airplane, 19},
    {&Ui_MainWindow::color_picker_green, 20},
    {&Ui_MainWindow::color_picker_yellow, 21},
    {&Ui_MainWindow::color_picker_red, 22},
    {&Ui_MainWindow::color_picker_gear, 23},
}};

// "background-color: #rrggbb;" for a colour word; alpha is not shown.
QString colourStyleSheet(std::uint32_t argb);

// The opaque colour a button's style sheet names, if it names one.
std::optional<std::uint32_t> colourOfButton(const QPushButton* button);

// The registration bytes the prefix list and the number field spell.
vk61::RegistrationBytes registrationOfForm(const Ui_MainWindow& ui);

// True when the two widgets show exactly what the form shows for bytes (see
// populateSettingsForm) and bytes hold a registration.
bool formShowsRegistration(const Ui_MainWindow& ui, const vk61::RegistrationBytes& bytes);
