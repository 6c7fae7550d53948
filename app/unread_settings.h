// How the window shows a setting the last load could not read: its widget
// is disabled and its tooltip says why, until a load reads it.
#pragma once

#include <QString>

#include <vector>

namespace vk61 {

struct SettingBinding;
class ConfigModel;

// "Not read from the EFIS ..." - the tooltip of such a widget.
QString notReadToolTip();

// Disables the form's widgets of the settings the model does not know, with
// notReadToolTip, and gives the others back their own state and tooltip.
void showUnreadSettings(const std::vector<SettingBinding>& bindings, const vk61::ConfigModel& model);

// While a bus exchange runs every settings widget is disabled; afterwards
// each shows again whether its setting is known.
void lockSettingsForm(const std::vector<SettingBinding>& bindings, const vk61::ConfigModel& model, bool locked);

}  // namespace vk61
