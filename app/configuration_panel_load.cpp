// Loading the configuration from the primary unit into the record, checking
// it against the device's checksum, and showing the record in the form.
#include <QDebug>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <vector>

#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "configuration_panel.h"
#include "settings_form.h"
#include "ui_mainwindow.h"
#include "unread_settings.h"

namespace {

struct HeaderMessages {
    unsigned index;
    const char* debug_text;
    const char* status_text;
};

const HeaderMessages kHeaderMessages[] = {
    {vk61::kIndexChecksum, "Error reading checksum value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read checksum from device")},
    {vk61::kIndexMagic, "Error reading magic value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read magic number from device")},
    {vk61::kIndexMemoryVersion, "Error reading memory version value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read memory version from device")},
    {vk61::kIndexNumElements, "Error reading num_elements value",
     QT_TRANSLATE_NOOP("ConfigurationPanel", "Error: Failed to read num_elements from device")},
};

}  // namespace

// Blocks the GUI thread for 44 sequential reads (see ConfigExchange::load).
// A load that stops at a header word leaves the form, the table and the
// model as they were; settings that could not be read are shown as such.
bool ConfigurationPanel::load() {
    const LoadResult result = exchange().load();
    updateDeviceOptionsPending();
    switch (result.status) {
    case LoadStatus::NotConnected:
        showNotConnected();
        return false;
    case LoadStatus::HeaderUnread:
        for (const HeaderMessages& header : kHeaderMessages) {
            if (header.index != result.index) continue;
            qDebug() << header.debug_text;
            showStatus(tr(header.status_text));
        }
        return false;
    case LoadStatus::HeaderErased:
        qDebug() << "Header word" << result.index << "reads 0xFFFFFFFF: no stored configuration";
        showStatus(tr("Error: The EFIS holds no stored configuration"));
        return false;
    case LoadStatus::Loaded: break;
    }

    populateForm();
    emit loaded();

    // A load that could not read everything, or whose checksum does not
    // match, must not end on a success message.
    if (!result.unread.empty()) {
        showStatus(tr("Warning: %1 setting(s) could not be read and are marked as not read; "
                      "nothing can be saved until \"Load settings from EFIS\" reads them")
                       .arg(result.unread.size()));
        return false;
    }
    if (!result.crc_ok) {
        showStatus(tr("Warning: Configuration CRC verification failed"));
        return false;
    }
    showStatus(tr("Configuration successfully loaded from device"));
    return true;
}

void ConfigurationPanel::populateForm() {
    const QList<QObject*> quiet = {
        ui_.comboBox_airspeed,   ui_.comboBox_altitude,    ui_.comboBox_temp,         ui_.comboBox_pressure,
        ui_.spinBox_vmin,        ui_.spinBox_vs0,          ui_.spinBox_vs1,           ui_.spinBox_vfe,
        ui_.spinBox_vn0,         ui_.spinBox_vne,          ui_.spinBox_vref,          ui_.spinBox_vlo,
        ui_.min_volt_warn_value, ui_.max_volt_warn_value,  ui_.min_volt_alert_value,  ui_.max_volt_alert_value,
        ui_.text_registration_num, ui_.comboBox_reg_prefix, ui_.backlight_slider,     ui_.text_bg_alpha_slider,
        ui_.roll_corr_spinbox,   ui_.pitch_corr_spinbox,   ui_.comboBox_emitter_cat,  ui_.text_icao,
        ui_.radioButton_use_icao, ui_.radioButton_rand_icao, ui_.comboBox_map_view,
    };
    std::vector<QSignalBlocker> blockers;
    blockers.reserve(static_cast<std::size_t>(quiet.size()));
    for (QObject* widget : quiet) blockers.emplace_back(widget);

    auto value = [this](unsigned index) { return model_.value(index); };

    for (const ColourButton& colour : kColourButtons) (ui_.*colour.button)->setStyleSheet(colourStyleSheet(value(colour.index)));

    const vk61::DisplayUnits units = vk61::display_units_of(value(0));
    ui_.comboBox_airspeed->setCurrentIndex(units.airspeed);
    ui_.comboBox_altitude->setCurrentIndex(units.altitude);
    ui_.comboBox_temp->setCurrentIndex(units.temperature);
    ui_.comboBox_pressure->setCurrentIndex(units.pressure);

    // The spin boxes clamp to their ranges (Vne stops at 240).
    QSpinBox* const speeds[] = {ui_.spinBox_vmin, ui_.spinBox_vs0, ui_.spinBox_vs1,  ui_.spinBox_vfe,
                                ui_.spinBox_vn0,  ui_.spinBox_vne, ui_.spinBox_vref, ui_.spinBox_vlo};
    for (unsigned i = 0; i < std::size(speeds); ++i) speeds[i]->setValue(static_cast<int>(value(1 + i)));

    ui_.min_volt_warn_value->setValue(value(9) / 10.0);
    ui_.max_volt_warn_value->setValue(value(10) / 10.0);
    ui_.min_volt_alert_value->setValue(value(27) / 10.0);
    ui_.max_volt_alert_value->setValue(value(28) / 10.0);

    const vk61::RegistrationSplit registration = vk61::split_registration(vk61::registration_of(model_.record()));
    if (!registration.blank) {
        qDebug() << "Created string:" << QString::fromLatin1(registration.text.data(), static_cast<qsizetype>(registration.text.size()));
        qDebug() << "Found prefix:" << QString::fromLatin1(registration.found.data(), static_cast<qsizetype>(registration.found.size()));
    }
    ui_.comboBox_reg_prefix->setCurrentIndex(ui_.comboBox_reg_prefix->findText(
        QString::fromLatin1(registration.prefix.data(), static_cast<qsizetype>(registration.prefix.size()))));
    ui_.text_registration_num->setPlainText(
        QString::fromLatin1(registration.number.data(), static_cast<qsizetype>(registration.number.size())));

    ui_.backlight_slider->setValue(static_cast<int>(std::min<std::uint32_t>(value(24), 0x7FFFFFFFu)));
    ui_.text_bg_alpha_slider->setValue(std::min(static_cast<std::int32_t>(value(29)), 254));

    // A pattern that is no number at all shows as no correction rather than
    // as the spin box's minimum.
    auto correction = [](std::uint32_t bits) {
        const double degrees = vk61::float_from_setting(bits);
        return std::isfinite(degrees) ? degrees : 0.0;
    };
    ui_.roll_corr_spinbox->setValue(correction(value(25)));
    ui_.pitch_corr_spinbox->setValue(correction(value(26)));

    ui_.text_icao->setPlainText(QStringLiteral("%1").arg(value(31) & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper());

    const int last_category = ui_.comboBox_emitter_cat->count() - 1;
    ui_.comboBox_emitter_cat->setCurrentIndex(std::clamp(static_cast<std::int32_t>(value(33)), 0, last_category));

    if (value(32) == 1) {
        ui_.radioButton_rand_icao->setChecked(true);
    } else {
        ui_.radioButton_use_icao->setChecked(true);
    }

    const std::int32_t map_view = static_cast<std::int32_t>(value(35));
    ui_.comboBox_map_view->setCurrentIndex(map_view >= 0 && map_view < ui_.comboBox_map_view->count() ? map_view : 0);

    showUnreadSettings(ui_, model_);
}
