// Settings the last load could not read: their widgets are disabled, with a
// tooltip that says so, so that nothing the user does on the form can send
// or store a value nobody read. A loop over the form's binding table.
#include "unread_settings.h"

#include <QCoreApplication>
#include <QWidget>

#include "config/config_model.h"
#include "setting_bindings.h"

namespace vk61 {

namespace {

void showKnown(QWidget* widget, bool known, const SettingBinding& binding) {
    const QString own = ownToolTip(widget);
    widget->setEnabled(known);
    if (!known) {
        widget->setToolTip(notReadToolTip());
    } else if (markedOutsideRange(widget)) {
        widget->setToolTip(outsideRangeToolTip(binding));
    } else {
        widget->setToolTip(own);
    }
}

}  // namespace

QString notReadToolTip() {
    return QCoreApplication::translate("MainWindow",
                                       "Not read from the EFIS: this value is unknown and cannot be changed or "
                                       "saved. Press \"Load settings from EFIS\" to read it again.");
}

void lockSettingsForm(const std::vector<SettingBinding>& bindings, const vk61::ConfigModel& model, bool locked) {
    if (!locked) {
        showUnreadSettings(bindings, model);
        return;
    }
    for (const SettingBinding& binding : bindings) {
        for (QWidget* widget : binding.widgets) widget->setEnabled(false);
    }
}

void showUnreadSettings(const std::vector<SettingBinding>& bindings, const vk61::ConfigModel& model) {
    for (const SettingBinding& binding : bindings) {
        bool known = true;
        for (unsigned i = 0; i < binding.entry->index_count; ++i) {
            known = known && model.is_known(binding.entry->first_index + i);
        }
        for (QWidget* widget : binding.widgets) showKnown(widget, known, binding);
    }
}

}  // namespace vk61
