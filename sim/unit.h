// One unit on the simulated bus: identity, configuration in RAM and EEPROM,
// external NOR flash, firmware write address and airport-database state.
//
// Not thread-safe: the Installation owns its units and calls them under its
// state lock.
#pragma once

#include "bus_frame.h"
#include "config_image.h"
#include "nor_flash.h"
#include "reply.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct UnitSpec {
    std::uint8_t uid = 1;                          // 1-15
    std::uint32_t device_id = 0xC3010001u;         // type in bits 24-31, hw revision 16-23
    std::uint32_t firmware = 0x01040200u;          // major.minor.patch.rc from the top byte down
    std::uint32_t firmware_address = 0x00100000u;  // prepare reply; 0xFFFFFFFF refuses
};

// Faults the unit's flash has seen (it keeps working; a test reads these).
struct FlashFaults {
    std::size_t unerased_writes = 0;  // bytes programmed over unerased cells
    std::uint32_t first_unerased_address = 0;
    std::size_t open_db_writes = 0;  // writes and erases while the database was open
    std::uint32_t first_open_db_address = 0;
    // Work done twice: erases of a block this unit had erased before, and
    // chunks written below the furthest address an earlier chunk reached.
    std::size_t repeated_erases = 0;
    std::size_t chunks_written_again = 0;
};

class Unit {
public:
    explicit Unit(const UnitSpec& unit_spec);

    std::uint8_t uid() const { return spec_.uid; }
    std::uint32_t device_id() const { return spec_.device_id; }
    std::uint32_t firmware() const { return spec_.firmware; }

    std::uint32_t firmware_address() const { return spec_.firmware_address; }
    void set_firmware_address(std::uint32_t address) { spec_.firmware_address = address; }

    // Handles one host frame (reboot and occupancy are the bus's business) and
    // appends the unit's replies to out.
    void handle(const vk61::BusFrame& frame, std::vector<Reply>& out);

    // Reboot: silent from begin to finish; finish reloads RAM from EEPROM,
    // opens the airport database and resets the write pointer.
    void begin_reboot() { rebooting_ = true; }
    void finish_reboot();
    bool rebooting() const { return rebooting_; }

    ConfigImage& ram() { return ram_; }
    const ConfigImage& ram() const { return ram_; }
    ConfigImage& eeprom() { return eeprom_; }
    const ConfigImage& eeprom() const { return eeprom_; }
    NorFlash& flash() { return flash_; }
    const NorFlash& flash() const { return flash_; }

    std::uint32_t write_pointer() const { return write_pointer_; }
    bool db_open() const { return db_open_; }
    const FlashFaults& flash_faults() const { return faults_; }
    // Starts the record of work done twice anew: no block counts as erased
    // before, no chunk as written before, both counters 0. The other faults
    // and the flash itself stay.
    void forget_flash_history();

private:
    Reply reply(ReplyKind kind, std::uint16_t command, std::uint32_t base, std::uint8_t dlc,
                const std::uint8_t* payload, std::size_t len) const;
    Reply sequenced_ack(std::uint16_t command, std::uint16_t acked_id, std::uint8_t status,
                        std::uint32_t sequence) const;
    Reply flash_reply(std::uint16_t command, std::uint8_t op, std::uint32_t address, std::uint8_t status) const;
    void note_flash_change(std::uint32_t address);
    std::vector<bool> erased_once_;     // per block: erased at least once
    std::uint32_t furthest_write_ = 0;  // end of the furthest chunk written

    void on_whoami(const vk61::BusFrame& f, std::vector<Reply>& out) const;
    void on_client_info(const vk61::BusFrame& f, std::vector<Reply>& out) const;
    void on_setting_read(const vk61::BusFrame& f, std::vector<Reply>& out) const;
    void on_setting_write(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_store(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_write_chunk(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_erase(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_set_address(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_airport_db(const vk61::BusFrame& f, std::vector<Reply>& out);
    void on_prepare(const vk61::BusFrame& f, std::vector<Reply>& out) const;

    UnitSpec spec_;
    ConfigImage ram_;
    ConfigImage eeprom_;
    NorFlash flash_;
    std::uint32_t write_pointer_ = 0;
    bool db_open_ = true;
    bool rebooting_ = false;
    FlashFaults faults_;
};

}  // namespace sim
