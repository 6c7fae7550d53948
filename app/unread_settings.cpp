// Settings the last load could not read: their widgets are disabled, with a
// tooltip that says so, so that nothing the user does on the form can send
// or store a value nobody read.
#include "unread_settings.h"

#include <QCoreApplication>
#include <QVariant>
#include <QWidget>

#include <vector>

#include "config/config_model.h"
#include "ui_mainwindow.h"

namespace {

// The property that keeps a widget's own tooltip while the not-read one shows.
constexpr char kOwnToolTip[] = "vk61OwnToolTip";

struct SettingWidgets {
    unsigned first_index;
    unsigned last_index;  // a widget group may show several indices (registration)
    std::vector<QWidget*> widgets;
};

std::vector<SettingWidgets> settingWidgets(const Ui_MainWindow& ui) {
    return {
        {0, 0, {ui.comboBox_airspeed, ui.comboBox_altitude, ui.comboBox_temp, ui.comboBox_pressure}},
        {1, 1, {ui.spinBox_vmin}},
        {2, 2, {ui.spinBox_vs0}},
        {3, 3, {ui.spinBox_vs1}},
        {4, 4, {ui.spinBox_vfe}},
        {5, 5, {ui.spinBox_vn0}},
        {6, 6, {ui.spinBox_vne}},
        {7, 7, {ui.spinBox_vref}},
        {8, 8, {ui.spinBox_vlo}},
        {9, 9, {ui.min_volt_warn_value}},
        {10, 10, {ui.max_volt_warn_value}},
        {11, 13, {ui.comboBox_reg_prefix, ui.text_registration_num}},
        {14, 14, {ui.color_picker_sky0}},
        {15, 15, {ui.color_picker_sky1}},
        {16, 16, {ui.color_picker_ground0}},
        {17, 17, {ui.color_picker_ground1}},
        {18, 18, {ui.color_picker_app_indi}},
        {19, 19, {ui.color_picker_airplane}},
        {20, 20, {ui.color_picker_green}},
        {21, 21, {ui.color_picker_yellow}},
        {22, 22, {ui.color_picker_red}},
        {23, 23, {ui.color_picker_gear}},
        {24, 24, {ui.backlight_slider}},
        {25, 25, {ui.roll_corr_spinbox}},
        {26, 26, {ui.pitch_corr_spinbox}},
        {27, 27, {ui.min_volt_alert_value}},
        {28, 28, {ui.max_volt_alert_value}},
        {29, 29, {ui.text_bg_alpha_slider}},
        {31, 31, {ui.text_icao}},
        {32, 32, {ui.radioButton_use_icao, ui.radioButton_rand_icao}},
        {33, 33, {ui.comboBox_emitter_cat}},
        {35, 35, {ui.comboBox_map_view}},
    };
}

void showKnown(QWidget* widget, bool known) {
    if (!widget->property(kOwnToolTip).isValid()) widget->setProperty(kOwnToolTip, widget->toolTip());
    widget->setEnabled(known);
    widget->setToolTip(known ? widget->property(kOwnToolTip).toString() : notReadToolTip());
}

}  // namespace

QString notReadToolTip() {
    return QCoreApplication::translate("MainWindow",
                                       "Not read from the EFIS: this value is unknown and cannot be changed or "
                                       "saved. Press \"Load settings from EFIS\" to read it again.");
}

void showUnreadSettings(const Ui_MainWindow& ui, const vk61::ConfigModel& model) {
    for (const SettingWidgets& setting : settingWidgets(ui)) {
        bool known = true;
        for (unsigned index = setting.first_index; index <= setting.last_index; ++index) {
            known = known && model.is_known(index);
        }
        for (QWidget* widget : setting.widgets) showKnown(widget, known);
    }
}
