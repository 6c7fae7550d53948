// One frame a unit (or the bus) sends towards the host, tagged with what it is
// and what caused it, so that fault modes can pick it out.
#pragma once

#include "bus_frame.h"

#include <cstdint>

namespace sim {

enum class ReplyKind : std::uint8_t {
    Any,           // in a Fault: matches every kind
    WhoAmI,        // base 0x010, DLC 9
    ClientInfo,    // base 0x790, DLC 9, data[0] = UID
    Occupancy,     // base 0x790, DLC 9, data[0] = 'r'
    SettingReply,  // base 0x380, DLC 6
    SequencedAck,  // base 0x0E0, DLC 7 (setting write, store, erase block)
    PlainAck,      // base 0x0E0, DLC 4 (airport database open/close)
    FlashReply,    // base 0x0F0, DLC 7 (set address, write chunk, erase block)
    PrepareReply,  // base 0x730, DLC 5
};

struct Reply {
    ReplyKind kind = ReplyKind::Any;
    std::uint16_t command = 0;  // base of the host command that caused it; 0 when unasked
    std::uint8_t uid = 0;       // unit that sends it; 0 for the bus itself (occupancy)
    vk61::BusFrame frame;
    int index = -1;  // setting read or written, for setting replies and write acks
};

}  // namespace sim
