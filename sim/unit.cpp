#include "unit.h"

#include <algorithm>

#include "chunk_length.h"
#include "default_config.h"

namespace sim {

// The protocol's numbers are written out here on purpose, not taken from the
// engine's table (comms/protocol.h): a simulated unit stands for hardware the
// engine's authors did not write, so each side keeps its own reading of the
// protocol and a misreading on one side shows up as a failure on the other.
namespace {
constexpr std::uint8_t kStatusDone = 1;
constexpr std::uint8_t kStatusRefused = 0;
constexpr std::uint8_t kOpSetAddress = 0xA1;
constexpr std::uint8_t kOpWrite = 0xAA;
constexpr std::uint8_t kOpErase = 0xBE;
}  // namespace

Unit::Unit(const UnitSpec& unit_spec) : spec_(unit_spec), ram_(default_config_image()), eeprom_(ram_) {}

void Unit::finish_reboot() {
    rebooting_ = false;
    ram_ = eeprom_;
    db_open_ = true;
    write_pointer_ = 0;
}

void Unit::forget_flash_history() {
    erased_once_.clear();
    furthest_write_ = 0;
    faults_.repeated_erases = 0;
    faults_.chunks_written_again = 0;
}

void Unit::handle(const vk61::BusFrame& f, std::vector<Reply>& out) {
    switch (f.base()) {
    case 0x010: on_whoami(f, out); break;
    case 0x370: on_setting_read(f, out); break;
    case 0x390: on_setting_write(f, out); break;
    case 0x3A0: on_store(f, out); break;
    case 0x420: on_write_chunk(f, out); break;
    case 0x430: on_erase(f, out); break;
    case 0x440: on_set_address(f, out); break;
    case 0x450: on_airport_db(f, out); break;
    case 0x730: on_prepare(f, out); break;
    case 0x790: on_client_info(f, out); break;
    default: break;  // not a command a unit answers
    }
}

Reply Unit::reply(ReplyKind kind, std::uint16_t command, std::uint32_t base, std::uint8_t dlc,
                  const std::uint8_t* payload, std::size_t len) const {
    return Reply{kind, command, spec_.uid, vk61::make_frame(0, base | spec_.uid, dlc, payload, len)};
}

Reply Unit::sequenced_ack(std::uint16_t command, std::uint16_t acked_id, std::uint8_t status,
                          std::uint32_t sequence) const {
    std::uint8_t p[7] = {spec_.uid};
    vk61::put_u16(p + 1, acked_id);
    p[3] = status;
    vk61::put_u24(p + 4, sequence);
    return reply(ReplyKind::SequencedAck, command, 0x0E0, 7, p, sizeof p);
}

Reply Unit::flash_reply(std::uint16_t command, std::uint8_t op, std::uint32_t address, std::uint8_t status) const {
    std::uint8_t p[7] = {spec_.uid, op};
    vk61::put_u32(p + 2, address);
    p[6] = status;
    return reply(ReplyKind::FlashReply, command, 0x0F0, 7, p, sizeof p);
}

void Unit::note_flash_change(std::uint32_t address) {
    if (!db_open_) return;
    if (faults_.open_db_writes == 0) faults_.first_open_db_address = address;
    ++faults_.open_db_writes;
}

void Unit::on_whoami(const vk61::BusFrame& f, std::vector<Reply>& out) const {
    if (f.payload_size() < 2 || f.data()[0] != 0xEF || f.data()[1] != 0x15) return;
    std::uint8_t p[12] = {};
    vk61::put_u32(p, spec_.device_id);
    vk61::put_u32(p + 4, spec_.firmware);
    p[8] = spec_.uid;
    out.push_back(reply(ReplyKind::WhoAmI, 0x010, 0x010, 9, p, sizeof p));
}

void Unit::on_client_info(const vk61::BusFrame& f, std::vector<Reply>& out) const {
    if (f.payload_size() < 2 || f.data()[0] != 's' || f.data()[1] != spec_.uid) return;
    std::uint8_t p[12] = {spec_.uid};
    vk61::put_u32(p + 1, spec_.device_id);
    vk61::put_u32(p + 5, spec_.firmware);
    out.push_back(reply(ReplyKind::ClientInfo, 0x790, 0x790, 9, p, sizeof p));
}

void Unit::on_setting_read(const vk61::BusFrame& f, std::vector<Reply>& out) const {
    if (f.uid_bits() != spec_.uid || f.payload_size() < 2 || f.data()[0] != 0x00) return;
    const std::uint8_t index = f.data()[1];
    const auto value = config_element(ram_, index);
    if (!value) return;  // a unit stays silent about indices it does not hold
    std::uint8_t p[6] = {spec_.uid, index};
    vk61::put_u32(p + 2, *value);
    Reply answer = reply(ReplyKind::SettingReply, 0x370, 0x380, 6, p, sizeof p);
    answer.index = index;
    out.push_back(answer);
}

void Unit::on_setting_write(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.payload_size() < 8) return;
    const std::uint8_t* d = f.data();
    const bool ok = set_config_element(ram_, d[0], vk61::get_u32(d + 1));
    Reply ack = sequenced_ack(0x390, static_cast<std::uint16_t>(f.identifier() & 0x7FFu),
                              ok ? kStatusDone : kStatusRefused, vk61::get_u24(d + 5));
    ack.index = d[0];
    out.push_back(ack);
}

void Unit::on_store(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.payload_size() < 7) return;
    const std::uint8_t* d = f.data();
    // The unit stores the checksum it is given; it does not check it.
    set_config_element(ram_, 252, vk61::get_u32(d));
    eeprom_ = ram_;
    out.push_back(
        sequenced_ack(0x3A0, static_cast<std::uint16_t>(f.identifier() & 0x7FFu), kStatusDone, vk61::get_u24(d + 4)));
}

void Unit::on_write_chunk(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.uid_bits() != 0 && f.uid_bits() != spec_.uid) return;
    const std::size_t len = chunk_length(f);
    if (len == 0) {
        out.push_back(flash_reply(0x420, kOpWrite, write_pointer_, kStatusRefused));
        return;
    }
    const auto result = flash_.program(write_pointer_, f.data(), len);
    if (!result.in_range) {
        out.push_back(flash_reply(0x420, kOpWrite, write_pointer_, kStatusRefused));
        return;
    }
    if (result.unerased > 0) {
        if (faults_.unerased_writes == 0) faults_.first_unerased_address = result.first_unerased;
        faults_.unerased_writes += result.unerased;
    }
    note_flash_change(write_pointer_);
    if (write_pointer_ < furthest_write_) ++faults_.chunks_written_again;
    write_pointer_ += static_cast<std::uint32_t>(len);
    furthest_write_ = std::max(furthest_write_, write_pointer_);
    out.push_back(flash_reply(0x420, kOpWrite, write_pointer_, kStatusDone));
}

void Unit::on_erase(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.uid_bits() != spec_.uid || f.payload_size() < 6) return;
    const std::uint8_t* d = f.data();
    const auto acked = static_cast<std::uint16_t>(f.identifier() & 0x7FFu);
    const std::uint32_t sequence = vk61::get_u24(d + 1);
    if (d[0] != kOpErase) {
        out.push_back(sequenced_ack(0x430, acked, kStatusRefused, sequence));
        return;
    }
    const std::uint32_t block = vk61::get_u16(d + 4);
    out.push_back(sequenced_ack(0x430, acked, kStatusDone, sequence));
    const bool erased = flash_.erase_block(block);
    if (erased) {
        note_flash_change(block << 16);
        if (erased_once_.size() <= block) erased_once_.resize(block + 1, false);
        if (erased_once_[block]) ++faults_.repeated_erases;
        erased_once_[block] = true;
    }
    out.push_back(flash_reply(0x430, kOpErase, block << 16, erased ? kStatusDone : kStatusRefused));
}

void Unit::on_set_address(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.uid_bits() != spec_.uid || f.payload_size() < 4) return;
    const std::uint32_t address = vk61::get_u32(f.data());
    const bool ok = address < flash_.size();
    if (ok) write_pointer_ = address;
    out.push_back(flash_reply(0x440, kOpSetAddress, address, ok ? kStatusDone : kStatusRefused));
}

void Unit::on_airport_db(const vk61::BusFrame& f, std::vector<Reply>& out) {
    if (f.uid_bits() != spec_.uid || f.payload_size() < 1) return;
    std::uint8_t status = kStatusDone;
    if (f.data()[0] == 0xDC) {
        db_open_ = false;
    } else if (f.data()[0] == 0xDA) {
        db_open_ = true;
    } else {
        status = kStatusRefused;
    }
    std::uint8_t p[4] = {spec_.uid};
    vk61::put_u16(p + 1, static_cast<std::uint16_t>(f.identifier() & 0x7FFu));
    p[3] = status;
    out.push_back(reply(ReplyKind::PlainAck, 0x450, 0x0E0, 4, p, sizeof p));
}

void Unit::on_prepare(const vk61::BusFrame& f, std::vector<Reply>& out) const {
    if (f.payload_size() < 2 || f.data()[0] != 0x24 || f.data()[1] != 0x67) return;
    std::uint8_t p[5] = {spec_.uid};
    vk61::put_u32(p + 1, spec_.firmware_address);
    out.push_back(reply(ReplyKind::PrepareReply, 0x730, 0x730, 5, p, sizeof p));
}

}  // namespace sim
