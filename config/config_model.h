// The configuration as the tool knows it: the record, the checksum last read
// from or stored to the EFIS, the settings edited and not yet stored, and for
// every setting (0-39) whether its value is known - read from the EFIS or
// chosen by the user - or unknown, because its read got no answer.
//
// The rule this class exists for: an unknown setting is never sent to the
// units and never covered by a checksum the units are told to store. Its
// place in the record holds 0, which nobody read or chose.
//
// Plain data, no bus and no window; the window keeps one for its life and
// touches it on the GUI thread only.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "config_record.h"

namespace vk61 {

// The per-unit options of the devices tab: termination and default screens.
bool is_device_option(int index);

class ConfigModel {
public:
    ConfigModel();  // nothing read yet: every setting unknown, record all zero

    const ConfigRecord& record() const { return state_.record; }
    std::uint32_t value(unsigned index) const { return config_get_value(state_.record, index); }
    std::uint32_t device_checksum() const { return state_.device_checksum; }
    // Edited indices the units have not stored yet, ascending.
    const std::set<int>& pending() const { return state_.pending; }
    bool has_device_changes() const;

    // The record as last completely read from or stored to the EFIS, without
    // the edits made since; none while the last load left settings unknown.
    const std::optional<ConfigRecord>& confirmed() const { return state_.confirmed; }

    bool is_known(unsigned index) const { return index < kSettingCount && state_.known.test(index); }
    std::vector<unsigned> unknown_settings() const;
    unsigned unknown_count() const { return static_cast<unsigned>(kSettingCount - state_.known.count()); }

    // --- Edits ------------------------------------------------------------
    // The user chose value for index: stored, known and pending. False, and
    // nothing changes, for an index outside the table.
    bool edit(int index, std::uint32_t value);
    // Collecting the form: a known setting takes value and, if that changes
    // it, becomes pending. An unknown one is left alone, because its widget
    // shows no value of the unit. Returns whether the value was taken.
    bool collect(unsigned index, std::uint32_t collected);

    // --- Loading -----------------------------------------------------------
    // Remembers the current state, then starts from nothing: record zero,
    // nothing pending, every setting unknown (the indices sent since the last
    // store stay owed to the next one).
    void begin_load();
    // A header word as read (252 is also the device checksum). No checksum
    // is recomputed.
    void load_header(unsigned index, std::uint32_t value);
    // A setting as read: stored and known. False for an index outside 0-39.
    bool load_setting(unsigned index, std::uint32_t value);
    // The load ended early: back to the state before begin_load, so no half
    // read record is ever shown or sent.
    void abandon_load();
    // The load ran to the end (some settings may still be unknown).
    void finish_load();

    // --- Writing and storing -------------------------------------------------
    // index went out to the units. Until a store is confirmed the units may
    // disagree about it (some got the write, some not; a load reads only
    // one unit), so every store sends it again, even after a load.
    void sent(int index);
    // Update's rule: an acknowledged index is no longer pending; a failed one
    // stays pending, so the next Update or Save sends it again.
    void acknowledged_without_store(int index);
    // What a store must send first, ascending: the pending edits and every
    // index sent since the last confirmed store.
    std::set<int> to_store() const;
    // The header before a store: memory version and element count as the
    // EFIS reports them, checksum 0, magic. Returns the CRC to store.
    std::uint32_t prepare_store(std::uint32_t memory_version, std::uint32_t num_elements);
    // Whether the settings as last read match the checksum the EFIS stored.
    // When they do not, the EFIS holds working values that nobody stored
    // (written and never stored, or a store that failed half-way): a reboot
    // discards them, and any store now would store them too. False while
    // nothing complete was read.
    bool matches_stored_checksum() const;
    // The units stored crc and the primary unit reads it back: the stored
    // indices are no longer pending, nothing is unsettled, and crc is the
    // record's and the device's checksum.
    void stored(std::uint32_t crc, std::set<int> stored_indices);  // a copy: it may be pending()

private:
    struct State {
        ConfigRecord record;
        std::uint32_t device_checksum = 0;
        std::set<int> pending;
        std::set<int> unsettled;  // sent since the last confirmed store
        std::bitset<kSettingCount> known;
        std::optional<ConfigRecord> confirmed;
    };
    State state_;
    std::optional<State> before_load_;
};

}  // namespace vk61
