// What may be stored: the one check that every path which sends settings to
// the units runs first (Update, both saves, the devices tab's options,
// `config set`, imports and restores), so that no front end can store what
// another refuses.
//
// A value read from the EFIS is kept as it is: only the settings that differ
// from what the EFIS holds are judged, so an odd value nobody touched never
// blocks a store of something else.
#pragma once

#include <QString>

#include <optional>

#include "config_record.h"
#include "settings_catalogue.h"

namespace vk61 {

// The most units that may terminate the bus at once: a third terminating
// resistor is an electrical fault on the aircraft.
inline constexpr int kMaxTerminations = 2;

struct RuleRefusal {
    const SettingEntry* entry = nullptr;  // the setting the rule refuses
    QString message;                      // "Setting \"termination_uids\": ..."
};

// Checks record as it is about to be stored, against baseline (what the EFIS
// holds; none when it holds nothing usable, and every setting is judged):
// each changed setting must lie within range, and the whole-record rules
// (at most two terminations, every default screen within the screen list)
// must hold for the changed settings. The first refusal in catalogue order,
// or none.
std::optional<RuleRefusal> check_store(const ConfigRecord& record, const ConfigRecord* baseline, ValueRange range);

// word folded into what index may hold by the record range and the
// whole-record rules: a finite correction, a 24-bit ICAO address, at most two
// terminations among the UIDs, screen codes within the list; any other
// setting keeps word as it is. For drawing values across the whole record
// range (the soak, tests).
std::uint32_t within_record_rules(unsigned index, std::uint32_t word);

}  // namespace vk61
