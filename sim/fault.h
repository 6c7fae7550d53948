// Named fault modes of the simulated installation.
//
// A fault picks replies by kind, by the host command that caused them and by
// unit; it lets `skip` matching replies pass untouched, then acts on the next
// `times` of them (0 = on every one from then on). Only replies the kind can
// act on count as matching (a Nack never matches a setting reply). Several
// faults may act on one reply; they apply in the order they were added.
//
// Examples:
//   drop the next WHOAMI reply of UID 2:   {Drop, WhoAmI, 0, 2}
//   unit 3 answers nothing at all:         {Drop, Any, 0, 3, 0, 0}
//   NACK the 5th erase of UID 1:           {Nack, SequencedAck, 0x430, 1, 4}
//   NACK at write chunk 3 of UID 1:        {Nack, FlashReply, 0x420, 1, 2}
//   erase reply before its ack:            {Reorder, SequencedAck, 0x430}
//   refuse the prepare on UID 2:           {WrongAddress, PrepareReply, 0, 2, 0, 1, 0xFFFFFFFF}
//   pull the cable at the 10th host frame: {PullCable, Any, 0, 0, 9}
//   lose the 2nd and 3rd replies to reads of setting 14:
//                                          {Drop, SettingReply, 0x370, 0, 1, 2, 0, 14}
//   no unit receives the next write of setting 6:
//                                          {LoseHostFrame, Any, 0x390, 0, 0, 1, 0, 6}
//   UID 2 stuck after its 3rd chunk echo:  {StuckAddress, FlashReply, 0x420, 2, 3, 0}
#pragma once

#include "reply.h"

#include <cstdint>

namespace sim {

enum class FaultKind : std::uint8_t {
    Drop,            // the reply is not sent
    Delay,           // the reply goes out `value` ms later than it would
    Duplicate,       // the reply is sent twice
    Corrupt,         // data byte `value` is XORed with 0xFF (only if the payload holds it)
    Nack,            // status byte 0 (acks, flash replies)
    BadStatus,       // status byte = `value`, e.g. 7 (acks, flash replies)
    WrongIndex,      // setting reply names index `value`
    WrongUid,        // the reply names UID `value`, in its payload and identifier
    WrongSequence,   // sequenced ack carries sequence `value` (24 bits)
    ShortPayload,    // DLC code becomes `value` (e.g. 5 for a setting reply)
    WrongAddress,    // address field = `value` (flash replies, prepare replies)
    WrongOperation,  // operation byte = `value` (flash replies)
    Reorder,         // the reply goes out after the next reply of the same unit
                     // to the same host frame (erase: flash reply before the ack)
    PullCable,       // matches host frames, not replies: at the matching frame the
                     // bridge drops the host connection; that frame is lost. With
                     // `value` > 0 the cable is plugged back `value` ms later.
    LoseHostFrame,   // matches host frames, not replies: the matching frame is
                     // lost on the bus before unit `uid` (0 = every unit) gets it.
    StuckAddress,    // a unit that stops advancing: the address field repeats that
                     // of the last matching reply let through (flash replies,
                     // prepare replies). Give `skip` >= 1 so there is one to
                     // repeat; with none, the first acted-on reply keeps its own
                     // address and the later ones repeat it. Only the replies
                     // change: the unit's flash and write pointer go on as before.
};

struct Fault {
    FaultKind kind = FaultKind::Drop;
    ReplyKind reply = ReplyKind::Any;  // which replies (ignored by PullCable)
    std::uint16_t command = 0;         // host command base (0x430 ...), 0 = any; for PullCable the host frame's base
    std::uint8_t uid = 0;              // unit, 0 = any (ignored by PullCable)
    unsigned skip = 0;                 // matching replies (host frames) let through first
    unsigned times = 1;                // replies (frames) acted on; 0 = all from then on
    std::uint32_t value = 0;           // parameter of the kind, see above
    int index = -1;                    // setting index, -1 = any: setting replies and write
                                       // acknowledgements by their setting; for LoseHostFrame
                                       // the setting a read or write names
};

}  // namespace sim
