#include "setting_bindings.h"

#include <QAbstractSlider>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "config/config_model.h"
#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

namespace vk61 {

namespace {

// The property that keeps a widget's own tooltip while another one shows.
constexpr char kOwnToolTip[] = "vk61OwnToolTip";
constexpr char kOutsideRange[] = "outsideFormRange";

struct Row {
    std::string_view setting;
    Conversion conversion;
    std::array<const char*, 4> widgets;  // object names; unused places null
};

using C = Conversion;
// Every setting the form shows, in setting order.
constexpr Row kRows[] = {
    {"display_units",
     C::DisplayUnits,
     {"comboBox_airspeed", "comboBox_altitude", "comboBox_temp", "comboBox_pressure"}},
    {"v_min", C::Whole, {"spinBox_vmin"}},
    {"v_s0", C::Whole, {"spinBox_vs0"}},
    {"v_s1", C::Whole, {"spinBox_vs1"}},
    {"v_fe", C::Whole, {"spinBox_vfe"}},
    {"v_n0", C::Whole, {"spinBox_vn0"}},
    {"v_ne", C::Whole, {"spinBox_vne"}},
    {"v_ref", C::Whole, {"spinBox_vref"}},
    {"v_lo", C::Whole, {"spinBox_vlo"}},
    {"min_volt_warn", C::Volts, {"min_volt_warn_value"}},
    {"max_volt_warn", C::Volts, {"max_volt_warn_value"}},
    {"registration", C::Registration, {"comboBox_reg_prefix", "text_registration_num"}},
    {"sky_color_upper", C::Colour, {"color_picker_sky0"}},
    {"sky_color_lower", C::Colour, {"color_picker_sky1"}},
    {"ground_color_upper", C::Colour, {"color_picker_ground0"}},
    {"ground_color_lower", C::Colour, {"color_picker_ground1"}},
    {"approach_indicator_color", C::Colour, {"color_picker_app_indi"}},
    {"airplane_color", C::Colour, {"color_picker_airplane"}},
    {"green_arc_color", C::Colour, {"color_picker_green"}},
    {"yellow_arc_color", C::Colour, {"color_picker_yellow"}},
    {"red_arc_color", C::Colour, {"color_picker_red"}},
    {"gear_indicator_color", C::Colour, {"color_picker_gear"}},
    {"backlight_brightness", C::Whole, {"backlight_slider"}},
    {"roll_correction", C::Degrees, {"roll_corr_spinbox"}},
    {"pitch_correction", C::Degrees, {"pitch_corr_spinbox"}},
    {"min_volt_alert", C::Volts, {"min_volt_alert_value"}},
    {"max_volt_alert", C::Volts, {"max_volt_alert_value"}},
    {"text_bg_alpha", C::Whole, {"text_bg_alpha_slider"}},
    {"ownship_icao", C::IcaoAddress, {"text_icao"}},
    {"icao_random", C::IcaoRandom, {"radioButton_use_icao", "radioButton_rand_icao"}},
    {"emitter_category", C::ListPosition, {"comboBox_emitter_cat"}},
    {"map_view", C::ListPosition, {"comboBox_map_view"}},
};

bool ranged(Conversion conversion) {
    return conversion == C::Whole || conversion == C::Volts || conversion == C::Degrees ||
           conversion == C::ListPosition;
}

// The value in the widget's own terms (a count, volts, degrees, a position).
double shownNumber(const SettingBinding& binding, std::uint32_t value) {
    switch (binding.conversion) {
    case C::Volts: return value / 10.0;
    case C::Degrees: return vk61::float_from_setting(value);
    case C::ListPosition: return static_cast<std::int32_t>(value);
    default: return value;
    }
}

void markOutsideRange(QWidget* widget, bool outside, const SettingBinding& binding) {
    const QString own = ownToolTip(widget);
    widget->setProperty(kOutsideRange, outside);
    widget->setToolTip(outside ? outsideRangeToolTip(binding) : own);
}

// A spin box's or slider's range; other widgets have none.
void setWholeRange(QWidget* widget, int minimum, int maximum) {
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        spin->setRange(minimum, maximum);
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
        slider->setRange(minimum, maximum);
    }
}

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::vector<SettingBinding> settingBindings(const Ui_MainWindow& ui) {
    std::vector<SettingBinding> bindings;
    for (const Row& row : kRows) {
        SettingBinding binding{vk61::find_setting(row.setting), row.conversion, {}};
        if (binding.entry == nullptr) qFatal("no catalogue entry %s", std::string(row.setting).c_str());
        for (const char* name : row.widgets) {
            if (name == nullptr) continue;
            auto* widget = ui.centralwidget->findChild<QWidget*>(QString::fromLatin1(name));
            if (widget == nullptr) qFatal("no widget %s", name);
            binding.widgets.push_back(widget);
        }
        bindings.push_back(std::move(binding));
    }
    return bindings;
}

std::vector<std::uint32_t> widgetValues(const SettingBinding& binding, const Ui_MainWindow& ui,
                                        const vk61::ConfigModel& current) {
    QWidget* widget = binding.widgets.front();
    switch (binding.conversion) {
    case C::Whole:
        if (auto* spin = qobject_cast<QSpinBox*>(widget)) return {static_cast<std::uint32_t>(spin->value())};
        return {static_cast<std::uint32_t>(qobject_cast<QAbstractSlider*>(widget)->value())};
    case C::Volts: return {vk61::volts_to_tenths(qobject_cast<QDoubleSpinBox*>(widget)->value())};
    case C::Degrees: return {vk61::float_setting(qobject_cast<QDoubleSpinBox*>(widget)->value())};
    case C::ListPosition: return {static_cast<std::uint32_t>(qobject_cast<QComboBox*>(widget)->currentIndex())};
    case C::DisplayUnits: return {vk61::units_word(current.value(binding.entry->first_index), unitsOfForm(ui))};
    case C::Registration: {
        const auto words = vk61::registration_words(registrationOfForm(ui));
        return {words.begin(), words.end()};
    }
    case C::Colour:
        if (const auto colour = colourOfButton(qobject_cast<QPushButton*>(widget))) return {*colour};
        return {};
    case C::IcaoAddress: return {icaoAddressOfForm(ui)};
    case C::IcaoRandom: return {ui.radioButton_rand_icao->isChecked() ? 1u : 0u};
    }
    return {};
}

void applyEntryRanges(const std::vector<SettingBinding>& bindings) {
    for (const SettingBinding& binding : bindings) {
        const EntryRange range = entryRange(binding);
        QWidget* widget = binding.widgets.front();
        if (auto* number = qobject_cast<QDoubleSpinBox*>(widget)) {
            number->setRange(range.minimum, range.maximum);
        } else {
            setWholeRange(widget, static_cast<int>(range.minimum), static_cast<int>(range.maximum));
        }
    }
}

EntryRange entryRange(const SettingBinding& binding) {
    return {binding.entry->entry.minimum, binding.entry->entry.maximum};
}

bool withinEntryRange(const SettingBinding& binding, const vk61::ConfigModel& model) {
    return !ranged(binding.conversion) ||
           vk61::setting_range_violation(*binding.entry, model.record(), vk61::ValueRange::Entry).isEmpty();
}

QString outsideRangeToolTip(const SettingBinding& binding) {
    const EntryRange range = entryRange(binding);
    return QCoreApplication::translate("MainWindow",
                                       "Read from the EFIS as it is: this value is outside the form's range "
                                       "(%1 to %2) and is kept unless you change it.")
        .arg(range.minimum)
        .arg(range.maximum);
}

QString ownToolTip(QWidget* widget) {
    if (!widget->property(kOwnToolTip).isValid()) widget->setProperty(kOwnToolTip, widget->toolTip());
    return widget->property(kOwnToolTip).toString();
}

bool markedOutsideRange(const QWidget* widget) { return widget->property(kOutsideRange).toBool(); }

void showSetting(const SettingBinding& binding, const Ui_MainWindow& ui, const vk61::ConfigModel& model) {
    std::vector<QSignalBlocker> blockers;
    for (QWidget* widget : binding.widgets) blockers.emplace_back(widget);
    const unsigned first = binding.entry->first_index;
    const std::uint32_t value = model.value(first);
    QWidget* widget = binding.widgets.front();
    const bool outside = !withinEntryRange(binding, model);
    const EntryRange range = entryRange(binding);

    switch (binding.conversion) {
    case C::Whole: {
        // The range widens to take the value (an int shows up to INT_MAX).
        const int shown = static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max()));
        const int low = std::min(static_cast<int>(range.minimum), shown);
        const int high = std::max(static_cast<int>(range.maximum), shown);
        setWholeRange(widget, low, high);
        if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
            spin->setValue(shown);
        } else if (auto* slider = qobject_cast<QAbstractSlider*>(widget)) {
            slider->setValue(shown);
        }
        break;
    }
    case C::Volts:
    case C::Degrees: {
        auto* number = qobject_cast<QDoubleSpinBox*>(widget);
        // A pattern that is no number shows as no correction; it is kept.
        const double shown = std::isfinite(shownNumber(binding, value)) ? shownNumber(binding, value) : 0.0;
        number->setRange(std::min(range.minimum, shown), std::max(range.maximum, shown));
        number->setValue(shown);
        break;
    }
    case C::ListPosition: {
        auto* box = qobject_cast<QComboBox*>(widget);
        const auto position = static_cast<std::int32_t>(value);
        if (binding.entry->kind == vk61::SettingKind::EmitterCategory) {
            box->setCurrentIndex(std::clamp(position, 0, box->count() - 1));
        } else {
            box->setCurrentIndex(position >= 0 && position < box->count() ? position : 0);
        }
        break;
    }
    case C::DisplayUnits: {
        const vk61::DisplayUnits units = vk61::display_units_of(value);
        ui.comboBox_airspeed->setCurrentIndex(units.airspeed);
        ui.comboBox_altitude->setCurrentIndex(units.altitude);
        ui.comboBox_temp->setCurrentIndex(units.temperature);
        ui.comboBox_pressure->setCurrentIndex(units.pressure);
        break;
    }
    case C::Registration: {
        const vk61::RegistrationSplit registration = vk61::split_registration(vk61::registration_of(model.record()));
        if (!registration.blank) {
            qDebug() << "Created string:" << latin1(registration.text);
            qDebug() << "Found prefix:" << latin1(registration.found);
        }
        ui.comboBox_reg_prefix->setCurrentIndex(ui.comboBox_reg_prefix->findText(latin1(registration.prefix)));
        ui.text_registration_num->setPlainText(latin1(registration.number));
        break;
    }
    case C::Colour: qobject_cast<QPushButton*>(widget)->setStyleSheet(colourStyleSheet(value)); break;
    case C::IcaoAddress:
        ui.text_icao->setPlainText(QStringLiteral("%1").arg(value & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper());
        break;
    case C::IcaoRandom:
        if (value == 1) {
            ui.radioButton_rand_icao->setChecked(true);
        } else {
            ui.radioButton_use_icao->setChecked(true);
        }
        break;
    }
    if (ranged(binding.conversion)) markOutsideRange(widget, outside, binding);
}

}  // namespace vk61
