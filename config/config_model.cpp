#include "config_model.h"

namespace vk61 {

bool is_device_option(int index) {
    return index == static_cast<int>(kIndexTerminationMask) ||
           (index >= static_cast<int>(kIndexDefaultScreenFirst) && index <= static_cast<int>(kIndexDefaultScreenLast));
}

ConfigModel::ConfigModel() = default;

bool ConfigModel::has_device_changes() const {
    for (const int index : state_.pending) {
        if (is_device_option(index)) return true;
    }
    return false;
}

std::vector<unsigned> ConfigModel::unknown_settings() const {
    std::vector<unsigned> unknown;
    for (unsigned index = 0; index < kSettingCount; ++index) {
        if (!state_.known.test(index)) unknown.push_back(index);
    }
    return unknown;
}

bool ConfigModel::edit(int index, std::uint32_t value) {
    if (index < 0 || !config_set_value(state_.record, static_cast<unsigned>(index), value)) return false;
    if (static_cast<unsigned>(index) < kSettingCount) state_.known.set(static_cast<unsigned>(index));
    state_.pending.insert(index);
    return true;
}

bool ConfigModel::collect(unsigned index, std::uint32_t collected) {
    if (!is_known(index)) return false;
    if (value(index) != collected) {
        config_set_value(state_.record, index, collected);
        state_.pending.insert(static_cast<int>(index));
    }
    return true;
}

void ConfigModel::begin_load() {
    before_load_ = state_;
    State fresh;
    fresh.unsettled = state_.unsettled;
    state_ = std::move(fresh);
}

void ConfigModel::load_header(unsigned index, std::uint32_t value) {
    switch (index) {
    case kIndexChecksum:
        state_.record.set_checksum(value);
        state_.device_checksum = value;
        break;
    case kIndexMagic: state_.record.set_magic(value); break;
    case kIndexMemoryVersion: state_.record.set_memory_version(value); break;
    case kIndexNumElements: state_.record.set_num_elements(value); break;
    default: break;
    }
}

bool ConfigModel::load_setting(unsigned index, std::uint32_t value) {
    if (index >= kSettingCount || !config_set_value(state_.record, index, value)) return false;
    state_.known.set(index);
    return true;
}

void ConfigModel::abandon_load() {
    if (!before_load_) return;
    state_ = std::move(*before_load_);
    before_load_.reset();
}

void ConfigModel::finish_load() {
    before_load_.reset();
    if (unknown_count() == 0) state_.confirmed = state_.record;
}

void ConfigModel::sent(int index) { state_.unsettled.insert(index); }

void ConfigModel::acknowledged_without_store(int index) { state_.pending.erase(index); }

bool ConfigModel::matches_stored_checksum() const {
    return state_.confirmed.has_value() && config_crc(*state_.confirmed) == state_.device_checksum;
}

std::set<int> ConfigModel::to_store() const {
    std::set<int> out = state_.pending;
    out.insert(state_.unsettled.begin(), state_.unsettled.end());
    return out;
}

std::uint32_t ConfigModel::prepare_store(std::uint32_t memory_version, std::uint32_t num_elements) {
    state_.record.set_memory_version(memory_version);
    state_.record.set_num_elements(num_elements);
    // With the checksum word 0 the record never counts as blank, so this is
    // always the plain CRC of the covered words.
    state_.record.set_checksum(0);
    state_.record.set_magic(ConfigRecord::kMagic);
    return config_crc(state_.record);
}

void ConfigModel::stored(std::uint32_t crc, std::set<int> stored_indices) {
    for (const int index : stored_indices) state_.pending.erase(index);
    state_.unsettled.clear();
    state_.record.set_checksum(crc);
    state_.device_checksum = crc;
    // Every pending edit went out before the store, so the record is what
    // the units now hold.
    if (state_.pending.empty() && unknown_count() == 0) state_.confirmed = state_.record;
}

}  // namespace vk61
