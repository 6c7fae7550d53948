// The settings part of the soak: loads, edits, Updates and both saves of the
// configuration against simulated units, with random lost reads, lost
// writes, lost acknowledgements and lost stores.
//
// The invariant, checked on every unit after every operation: its EEPROM
// holds a record whose stored checksum is the CRC of its contents, and every
// value in it was either there from the start, read by the tool or
// acknowledged by the units. A save that reports success leaves every unit
// holding exactly the tool's record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "config/config_model.h"
#include "soak_options.h"
#include "soak_random.h"
#include "soak_rig.h"

namespace soak {

class SettingsSoak {
public:
    SettingsSoak(const SoakOptions& options, std::FILE* out);

    // Runs options.settings_operations operations on a rig of its own and
    // prints a summary. True when every invariant held.
    bool run();

private:
    enum class Step { Load, Edit, Update, Save, SaveDevices };

    void run_operation(unsigned index);
    void plan_faults(std::string* described);
    void edit_some();
    // Records the values the model now holds as read or acknowledged.
    void note_model_values();
    bool check_units(bool saved, std::string* problem);

    const SoakOptions& options_;
    std::FILE* out_;
    SoakRandom random_;
    SoakRig rig_;
    vk61::ConfigModel model_;

    // Values any unit may hold in EEPROM for each setting, and the stored
    // checksums it may hold.
    std::map<unsigned, std::set<std::uint32_t>> allowed_;
    std::set<std::uint32_t> allowed_checksums_;

    unsigned breaches_ = 0;
    std::map<std::string, unsigned> outcomes_;
    unsigned faults_planned_ = 0;
};

}  // namespace soak
