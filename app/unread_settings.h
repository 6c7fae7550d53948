// How the window shows a setting the last load could not read: its widget
// is disabled and its tooltip says why, until a load reads it.
#pragma once

#include <QString>

class Ui_MainWindow;
namespace vk61 {
class ConfigModel;
}

// "Not read from the EFIS ..." - the tooltip of such a widget.
QString notReadToolTip();

// Disables the form's widgets of the settings the model does not know, with
// notReadToolTip, and gives the others back their own state and tooltip.
void showUnreadSettings(const Ui_MainWindow& ui, const vk61::ConfigModel& model);
