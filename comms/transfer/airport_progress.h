// What the airport uploads keep of the units' confirmations: the blocks each
// unit reported erased and how far its write echoes reached. The database
// starts at address 0, so an echoed address is a file offset.
#pragma once

#include <algorithm>
#include <vector>

#include "transfer/airport_worker.h"
#include "flash/flash_types.h"

namespace vk61 {

// Adds what a flash operation confirmed to the units it names.
inline void take_confirmed(const FlashConfirmed& confirmed, std::vector<AirportUnitProgress>& units) {
    for (AirportUnitProgress& unit : units) {
        if (const auto erased = confirmed.erased.find(unit.uid); erased != confirmed.erased.end()) {
            unit.erased.insert(unit.erased.end(), erased->second.begin(), erased->second.end());
            std::sort(unit.erased.begin(), unit.erased.end());
            unit.erased.erase(std::unique(unit.erased.begin(), unit.erased.end()), unit.erased.end());
        }
        if (const auto written = confirmed.written_to.find(unit.uid); written != confirmed.written_to.end()) {
            unit.written = written->second;
        }
    }
}

// The blocks of the first `blocks` that the unit has not confirmed erased.
inline std::vector<std::uint16_t> blocks_to_erase(const AirportUnitProgress& unit, std::uint32_t blocks) {
    std::vector<std::uint16_t> out;
    for (std::uint32_t block = 0; block < blocks; ++block) {
        if (!std::binary_search(unit.erased.begin(), unit.erased.end(), static_cast<std::uint16_t>(block))) {
            out.push_back(static_cast<std::uint16_t>(block));
        }
    }
    return out;
}

}  // namespace vk61
