// One table binds the settings form to the configuration: each row names a
// catalogue entry, the widget(s) that show it and the conversion between
// the widgets and its setting value(s). Connecting the form, showing the
// record in it, reading an edit out of it, marking settings not read and
// giving the widgets their ranges are all loops over this table.
//
// The termination and default-screen options are not on the form: the
// devices tab shows them. reserved_30 is shown nowhere.
//
// GUI thread only, like the form itself.
#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

#include "config/settings_catalogue.h"

class Ui_MainWindow;

namespace vk61 {

class ConfigModel;

enum class Conversion {
    Whole,         // spin box or slider: the number as it is
    Volts,         // double spin box in volts: tenths, truncated toward zero
    Degrees,       // double spin box in degrees: the float32 bit pattern
    ListPosition,  // combo box: the item's position
    DisplayUnits,  // the four unit lists: bits 0-8; bits 9-31 kept as loaded
    Registration,  // prefix list and number field: three words of characters
    Colour,        // colour button: its style sheet's colour, opaque
    IcaoAddress,   // text field: the 24-bit address it spells
    IcaoRandom,    // the two radio buttons: 1 when "Random ICAO #" is checked
};

struct SettingBinding {
    const vk61::SettingEntry* entry;
    Conversion conversion;
    std::vector<QWidget*> widgets;
};

// The rows for the form of ui, in setting order.
std::vector<SettingBinding> settingBindings(const Ui_MainWindow& ui);

// The setting value(s) the widgets spell, one per index of the entry; none
// when they spell no value (a colour button without a colour). current is
// the model, for what the widgets do not show (the units' bits 9-31).
std::vector<std::uint32_t> widgetValues(const SettingBinding& binding, const Ui_MainWindow& ui,
                                        const vk61::ConfigModel& current);

// Shows the model's value in the widgets, without emitting their change
// signals. A value the form's range does not hold is shown as it is where
// the widget can (its range widens to take it) and marked with
// outsideRangeToolTip; it is never clamped, so nothing the user did not
// touch changes.
void showSetting(const SettingBinding& binding, const Ui_MainWindow& ui, const vk61::ConfigModel& model);

// The range a person may enter for a ranged row, in the widget's terms
// (volts, degrees, a count, a list position), from the catalogue.
struct EntryRange {
    double minimum;
    double maximum;
};
EntryRange entryRange(const SettingBinding& binding);

// Gives every widget its entry range from the catalogue.
void applyEntryRanges(const std::vector<SettingBinding>& bindings);

// Whether the model's value lies within the entry range of a ranged row
// (always true for rows without a range), by config/'s own range check.
bool withinEntryRange(const SettingBinding& binding, const vk61::ConfigModel& model);

// "Read from the EFIS: ... outside the form's range ..." - the tooltip of
// a widget showing such a value.
QString outsideRangeToolTip(const SettingBinding& binding);

// The tooltip the form gave widget, kept while showSetting or the not-read
// marking shows another one.
QString ownToolTip(QWidget* widget);

// Whether showSetting last marked widget's value as outside the form's range.
bool markedOutsideRange(const QWidget* widget);

}  // namespace vk61
